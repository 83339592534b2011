#include "surfaces/dibsfc.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "surfaces/pixelmath.h"

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
  for (auto& entry : l.entries) {
    if (entry.first == signature) {
      entry.second = std::move(loader);
      return;
    }
  }
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
  if (plane->BitCount() != 8 || plane->GetEmpty()) {
    greyTable(*plane);
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
  // An empty surface has an empty plane with no pixel memory at all.
  if (plane.SizeImage() == 0) return;
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
  TDIBPixelConverter convert(source, dest);
  for (int sy = sy0; sy < sy1; ++sy) convert.Span(sx0, sy, sx0 + x, sy + y, sx1 - sx0);
}

void SurfaceAssignTo(const TDIBSurface& surface, TGraphic& picture) {
  TDIB bitmap;
  bitmap.Assign(static_cast<const TDIB&>(surface));
  picture.Assign(bitmap);
}

}  // namespace zirk

namespace zirk {

namespace {

// Source rectangle clipped to the source, and the placement at (x, y)
// clipped to the destination; false when nothing is left.
struct BlitArea {
  int sx = 0, sy = 0, dx = 0, dy = 0, w = 0, h = 0;
};

bool clipBlit(const TDIB& dest, int x, int y, const TDIB& source, const TRect& sourceRect,
              BlitArea& area) {
  TRect src;
  if (!IntersectRect(src, sourceRect, SurfaceBoundsRect(source))) return false;
  int64_t dx = int64_t{x} + (src.Left - sourceRect.Left);
  int64_t dy = int64_t{y} + (src.Top - sourceRect.Top);
  int64_t w = src.Right - src.Left, h = src.Bottom - src.Top;
  int64_t sx = src.Left, sy = src.Top;
  if (dx < 0) {
    sx -= dx;
    w += dx;
    dx = 0;
  }
  if (dy < 0) {
    sy -= dy;
    h += dy;
    dy = 0;
  }
  w = std::min<int64_t>(w, dest.Width() - dx);
  h = std::min<int64_t>(h, dest.Height() - dy);
  if (w <= 0 || h <= 0) return false;
  area = {static_cast<int>(sx), static_cast<int>(sy), static_cast<int>(dx),
          static_cast<int>(dy), static_cast<int>(w),  static_cast<int>(h)};
  return true;
}

uint32_t blendColors(uint32_t s, uint32_t d, uint32_t a) {
  return RGBColor(static_cast<int>(pixelmath::BlendChannel(ColorR(s), ColorR(d), a)),
                  static_cast<int>(pixelmath::BlendChannel(ColorG(s), ColorG(d), a)),
                  static_cast<int>(pixelmath::BlendChannel(ColorB(s), ColorB(d), a)));
}

// The one loop behind the blend and alpha draws: opacityAt gives the
// opacity of each source pixel (0 skips it).
template <class OpacityAt>
void blendArea(TDIB& dest, const TDIB& source, const BlitArea& area, OpacityAt opacityAt) {
  const bool sameLayout = dest.SameLayout(source);
  const bool direct32 = sameLayout && dest.BitCount() == 32;
  const bool direct24 = sameLayout && dest.BitCount() == 24;
  for (int row = 0; row < area.h; ++row) {
    const int sy = area.sy + row, dy = area.dy + row;
    if (direct32) {
      const uint8_t* srow = source.ScanLine(sy) + static_cast<size_t>(area.sx) * 4;
      uint8_t* drow = dest.ScanLine(dy) + static_cast<size_t>(area.dx) * 4;
      for (int i = 0; i < area.w; ++i) {
        uint32_t a = opacityAt(area.sx + i, sy);
        if (a == 0) continue;
        uint32_t s, d;
        std::memcpy(&s, srow + 4 * i, 4);
        std::memcpy(&d, drow + 4 * i, 4);
        uint32_t out = a >= 255 ? s : pixelmath::Blend32(s & 0xFFFFFF, d & 0xFFFFFF, a);
        std::memcpy(drow + 4 * i, &out, 4);
      }
      continue;
    }
    if (direct24) {
      const uint8_t* srow = source.ScanLine(sy) + static_cast<size_t>(area.sx) * 3;
      uint8_t* drow = dest.ScanLine(dy) + static_cast<size_t>(area.dx) * 3;
      for (int i = 0; i < area.w; ++i) {
        uint32_t a = opacityAt(area.sx + i, sy);
        if (a == 0) continue;
        for (int c = 0; c < 3; ++c) {
          drow[3 * i + c] = static_cast<uint8_t>(
              a >= 255 ? srow[3 * i + c]
                       : pixelmath::BlendChannel(srow[3 * i + c], drow[3 * i + c], a));
        }
      }
      continue;
    }
    for (int i = 0; i < area.w; ++i) {
      const int sx = area.sx + i, dx = area.dx + i;
      uint32_t a = opacityAt(sx, sy);
      if (a == 0) continue;
      uint32_t sraw = source.GetRawPixel(sx, sy);
      if (a >= 255 && sameLayout) {
        dest.SetRawPixel(dx, dy, sraw);
        continue;
      }
      uint32_t s = source.PixelToColor(sraw);
      uint32_t out = a >= 255 ? s : blendColors(s, dest.PixelToColor(dest.GetRawPixel(dx, dy)), a);
      dest.SetRawPixel(dx, dy, dest.ColorToPixel(out));
    }
  }
}

}  // namespace

TRect SurfaceBoundsRect(const TDIB& surface) {
  return Rect(0, 0, surface.Width(), surface.Height());
}

void SurfaceFillRect(TDIB& surface, const TRect& rect, uint32_t pixel) {
  TRect r;
  if (!IntersectRect(r, rect, SurfaceBoundsRect(surface))) return;
  for (int y = r.Top; y < r.Bottom; ++y) {
    if (surface.BitCount() == 8) {
      std::memset(surface.ScanLine(y) + r.Left, static_cast<uint8_t>(pixel), r.Right - r.Left);
      continue;
    }
    for (int x = r.Left; x < r.Right; ++x) surface.SetRawPixel(x, y, pixel);
  }
}

void SurfaceCrop(TDIBSurface& surface, const TRect& rect) {
  TRect r;
  IntersectRect(r, rect, SurfaceBoundsRect(surface));
  TDIBSurface cropped;
  cropped.ColorTable() = surface.ColorTable();
  cropped.SetSize(r.Right - r.Left, r.Bottom - r.Top, SurfaceBitCount(surface));
  SurfaceDrawWhole(cropped, -r.Left, -r.Top, surface);
  if (const TDIBSurface* alpha = surface.AlphaPlane()) {
    auto plane = std::make_unique<TDIBSurface>();
    plane->ColorTable() = alpha->ColorTable();
    plane->SetSize(cropped.Width(), cropped.Height(), SurfaceBitCount(*alpha));
    SurfaceDrawWhole(*plane, -r.Left, -r.Top, *alpha);
    cropped.SetAlphaPlane(std::move(plane));
  }
  surface.Assign(cropped);
}

TRect SurfaceTrim(TDIBSurface& surface, uint32_t pixel) {
  const int w = surface.Width(), h = surface.Height();
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y) {
    int first = -1, last = -1;
    for (int x = 0; x < w; ++x) {
      if (surface.GetRawPixel(x, y) != pixel) {
        if (first < 0) first = x;
        last = x;
      }
    }
    if (first < 0) continue;
    left = std::min(left, first);
    right = std::max(right, last);
    top = std::min(top, y);
    bottom = y;
  }
  TRect result = right < 0 ? Rect(0, 0, 1, 1) : Rect(left, top, right + 1, bottom + 1);
  if (!(result == SurfaceBoundsRect(surface))) SurfaceCrop(surface, result);
  return result;
}

void SurfaceBlendDraw(TDIB& dest, int x, int y, const TDIB& source, const TRect& sourceRect,
                      int64_t transparent, int opacity) {
  if (opacity <= 0) return;
  BlitArea area;
  if (!clipBlit(dest, x, y, source, sourceRect, area)) return;
  const uint32_t a = static_cast<uint32_t>(std::min(opacity, 255));
  if (transparent < 0) {
    blendArea(dest, source, area, [a](int, int) { return a; });
    return;
  }
  const uint32_t key = static_cast<uint32_t>(transparent);
  blendArea(dest, source, area,
            [&](int sx, int sy) { return source.GetRawPixel(sx, sy) == key ? 0u : a; });
}

void SurfaceAlphaDraw(TDIB& dest, int x, int y, const TDIBSurface& source, const TRect& sourceRect,
                      int level) {
  if (level <= 0) return;
  BlitArea area;
  if (!clipBlit(dest, x, y, source, sourceRect, area)) return;
  const uint32_t l = static_cast<uint32_t>(std::min(level, 255));
  const TDIBSurface* alpha = source.AlphaPlane();
  if (!alpha || alpha->Width() != source.Width() || alpha->Height() != source.Height()) {
    blendArea(dest, source, area, [l](int, int) { return l; });
    return;
  }
  blendArea(dest, source, area,
            [&](int sx, int sy) { return pixelmath::MaskedOpacity(alpha->ScanLine(sy)[sx], l); });
}

platform::PixelBuffer DIBPixelBuffer(const TDIB& dib, std::array<uint32_t, 256>& palette) {
  platform::PixelBuffer buffer;
  if (dib.GetEmpty()) return buffer;
  buffer.bits = const_cast<uint8_t*>(dib.GetBitsReadOnly());
  buffer.pitch = dib.RowStep();
  buffer.width = dib.Width();
  buffer.height = dib.Height();
  buffer.bitCount = SurfaceBitCount(dib);
  if (dib.BitCount() <= 8) {
    for (int i = 0; i < dib.ColorTableSize(); ++i) {
      const TRGBQuad& q = dib.ColorTable()[i];
      palette[i] = (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
    }
    buffer.palette = palette.data();
    buffer.paletteSize = dib.ColorTableSize();
  }
  return buffer;
}

void SurfaceDrawToDC(const TDIB& surface, platform::HDC dc, const TRect& destRect,
                     const TRect& sourceRect) {
  std::array<uint32_t, 256> palette{};
  platform::PixelBuffer buffer = DIBPixelBuffer(surface, palette);
  if (buffer.empty() || !dc) return;
  platform::StretchDIBits(dc, destRect.Left, destRect.Top, destRect.Width(), destRect.Height(),
                          sourceRect.Left, sourceRect.Top, sourceRect.Width(), sourceRect.Height(),
                          buffer, platform::SRCCOPY);
}

}  // namespace zirk
