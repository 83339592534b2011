#include "surfaces/dibsfc.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace zirk {

namespace {

struct SurfaceLoaders {
  std::mutex lock;
  std::vector<std::pair<std::string, TSurfaceStreamLoader>> entries;
};

SurfaceLoaders& surfaceLoaders() {
  static SurfaceLoaders loaders;
  return loaders;
}

void greyTable(TDIB& plane) {
  for (int i = 0; i < 256; ++i) {
    auto v = static_cast<uint8_t>(i);
    plane.ColorTable()[i] = TRGBQuad{v, v, v, 0};
  }
}

}  // namespace

void RegisterSurfaceLoader(const std::string& signature, TSurfaceStreamLoader loader) {
  SurfaceLoaders& l = surfaceLoaders();
  std::lock_guard guard(l.lock);
  l.entries.emplace_back(signature, std::move(loader));
}

TDIBSurface::TDIBSurface() = default;
TDIBSurface::~TDIBSurface() = default;

void TDIBSurface::SetAlphaPlane(std::unique_ptr<TDIBSurface> plane) {
  alpha_ = std::move(plane);
}

void TDIBSurface::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* surface = dynamic_cast<const TDIBSurface*>(&source)) {
    std::unique_ptr<TDIBSurface> alpha;
    if (surface->alpha_) {
      alpha = std::make_unique<TDIBSurface>();
      alpha->Assign(*surface->alpha_);
    }
    TDIB::Assign(source);
    alpha_ = std::move(alpha);
    return;
  }
  if (dynamic_cast<const TDIB*>(&source)) {
    TDIB::Assign(source);
    alpha_.reset();
    return;
  }
  TDIB bitmap;
  if (!source.AssignTo(bitmap)) {
    throw EConvertError("Cannot assign a " + source.ClassName() + " to a " + ClassName());
  }
  TDIB::Assign(bitmap);
  alpha_.reset();
}

void TDIBSurface::LoadFromStream(TKwStream& stream) {
  const int64_t start = stream.Position();
  uint8_t head[16] = {};
  int64_t got = stream.Read(head, sizeof head);
  stream.SetPosition(start);

  TSurfaceStreamLoader chosen;
  {
    SurfaceLoaders& l = surfaceLoaders();
    std::lock_guard guard(l.lock);
    for (const auto& [signature, loader] : l.entries) {
      if (!signature.empty() && static_cast<int64_t>(signature.size()) <= got &&
          std::memcmp(head, signature.data(), signature.size()) == 0) {
        chosen = loader;
        break;
      }
    }
  }
  if (chosen) {
    chosen(*this, stream);
    return;
  }
  TDIB::LoadFromStream(stream);
  alpha_.reset();
}

void EnsureAlphaPlane(TDIBSurface& surface) {
  TDIBSurface* plane = surface.AlphaPlane();
  if (!plane) {
    auto created = std::make_unique<TDIBSurface>();
    greyTable(*created);
    created->SetSize(surface.Width(), surface.Height(), 8);
    surface.SetAlphaPlane(std::move(created));
    return;
  }
  if (plane->BitCount() != 8) {
    greyTable(*plane);
    plane->SetSize(surface.Width(), surface.Height(), 8);
    return;
  }
  if (surface.Width() == 0 || surface.Height() == 0) {
    plane->SetSize(0, 0, 8);
    return;
  }
  if (plane->GetEmpty()) {
    plane->SetSize(surface.Width(), surface.Height(), 8);
    return;
  }
  plane->SetWidth(surface.Width());
  plane->SetHeight(surface.Height());
}

void SurfaceOpaqueAlpha(TDIBSurface& surface) {
  TDIBSurface* plane = surface.AlphaPlane();
  if (!plane || plane->GetEmpty()) return;
  std::memset(plane->GetBits(), 255, static_cast<size_t>(plane->SizeImage()));
}

void SurfaceSetAlpha(TDIBSurface& surface, const TDIB& image8) {
  if (image8.BitCount() != 8) {
    throw EInvalidGraphicOperation("An alpha plane takes an 8-bit image, not " +
                                   std::to_string(image8.BitCount()) + " bits");
  }
  EnsureAlphaPlane(surface);
  TDIBSurface& plane = *surface.AlphaPlane();
  std::memset(plane.GetBits(), 0, static_cast<size_t>(plane.SizeImage()));
  int w = std::min(plane.Width(), image8.Width());
  int h = std::min(plane.Height(), image8.Height());
  for (int y = 0; y < h; ++y) std::memcpy(plane.ScanLine(y), image8.ScanLine(y), w);
}

int SurfaceBitCount(const TDIB& surface) {
  return surface.Is555() ? 15 : surface.BitCount();
}

uint32_t SurfaceColorToPixel(const TDIB& surface, int r, int g, int b) {
  return surface.ColorToPixel(RGBColor(r, g, b));
}

void SurfaceDrawWhole(TDIB& dest, int x, int y, const TDIB& source) {
  int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
  int sx1 = std::min(source.Width(), dest.Width() - x);
  int sy1 = std::min(source.Height(), dest.Height() - y);
  if (sx0 >= sx1 || sy0 >= sy1) return;
  if (dest.SameLayout(source) && dest.BitCount() >= 8) {
    int bpp = dest.BitCount() / 8;
    for (int sy = sy0; sy < sy1; ++sy) {
      std::memcpy(dest.ScanLine(sy + y) + static_cast<size_t>(sx0 + x) * bpp,
                  source.ScanLine(sy) + static_cast<size_t>(sx0) * bpp,
                  static_cast<size_t>(sx1 - sx0) * bpp);
    }
    return;
  }
  const bool raw = dest.SameLayout(source);
  std::unordered_map<uint32_t, uint32_t> cache;
  for (int sy = sy0; sy < sy1; ++sy) {
    for (int sx = sx0; sx < sx1; ++sx) {
      uint32_t p = source.GetRawPixel(sx, sy);
      if (!raw) {
        auto it = cache.find(p);
        if (it == cache.end()) {
          if (cache.size() >= 65536) cache.clear();
          it = cache.emplace(p, dest.ColorToPixel(source.PixelToColor(p))).first;
        }
        p = it->second;
      }
      dest.SetRawPixel(sx + x, sy + y, p);
    }
  }
}

void SurfaceAssignTo(const TDIBSurface& surface, TGraphic& picture) {
  TDIB bitmap;
  bitmap.Assign(static_cast<const TDIB&>(surface));
  picture.Assign(bitmap);
}

}  // namespace zirk
