#include "surfaces/dibsfc.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "surfaces/kernels.h"
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

// The layouts the kernels read in place as colours: 5-5-5, 5-6-5 and
// 8-8-8 at 24 and 32 bits. They read 8-bit pixels as levels, which is
// right for a copy between pictures of one colour table and nothing else.
bool kernelColours(const TDIB& dib) {
  switch (dib.BitCount()) {
    case 16:
      return dib.PixelFormat() == kPixelFormat555 || dib.PixelFormat() == kPixelFormat565;
    case 24:
    case 32:
      return dib.PixelFormat() == kPixelFormat888;
    default:
      return false;
  }
}

uint32_t colorToRGB(uint32_t c) {
  return (uint32_t{ColorR(c)} << 16) | (uint32_t{ColorG(c)} << 8) | ColorB(c);
}
uint32_t rgbToColor(uint32_t v) {
  return RGBColor(static_cast<int>(v >> 16), static_cast<int>(v >> 8), static_cast<int>(v));
}

platform::PixelBuffer pixelsOf(std::vector<uint32_t>& v, int w, int h) {
  platform::PixelBuffer b;
  b.bits = reinterpret_cast<uint8_t*>(v.data());
  b.pitch = 4 * w;
  b.width = w;
  b.height = h;
  b.bitCount = 32;
  return b;
}

// One blit of the helpers through the kernels: the source rectangle at
// (x, y) with opacity level (1..255), skipping source pixels of the raw
// value key (-1: none) or weighing each by the alpha plane when given.
void blitDIB(TDIB& dest, int x, int y, const TDIB& source, const TRect& sourceRect, int64_t key,
             const TDIB* alpha, uint32_t level) {
  TRect src;
  if (!IntersectRect(src, sourceRect, SurfaceBoundsRect(source))) return;
  const int64_t dx = int64_t{x} + (src.Left - sourceRect.Left);
  const int64_t dy = int64_t{y} + (src.Top - sourceRect.Top);
  TBlitDesc d;
  d.Shape = TBlitShape::Direct;
  // A weighed copy is a full-opacity blend.
  d.Op = level >= 255 && !alpha ? TBlitOp::Copy : TBlitOp::Blend;
  d.Level = static_cast<int32_t>(level);
  std::array<uint32_t, 256> destTable{}, sourceTable{}, alphaTable{};
  const bool sameTable = dest.BitCount() == 8 && dest.SameLayout(source);
  if ((kernelColours(dest) && kernelColours(source)) || (d.Op == TBlitOp::Copy && sameTable)) {
    d.Source = DIBPixelBuffer(source, sourceTable);
    d.SourceRect = src;
    d.Dest = Rect(pixelmath::Saturate32(dx), pixelmath::Saturate32(dy), pixelmath::Saturate32(dx),
                  pixelmath::Saturate32(dy));
    d.Key = key;
    if (alpha) d.Mask = DIBPixelBuffer(*alpha, alphaTable);
    RunBlit(DIBPixelBuffer(dest, destTable), SurfaceBoundsRect(dest), d);
    return;
  }
  // Any other layout goes through 32-bit copies of the two areas: colours
  // for a blend or a change of layout, raw values for a copy within one
  // layout; the key and the alpha plane become one mask.
  TRect place;
  const TRect at =
      Rect(pixelmath::Saturate32(dx), pixelmath::Saturate32(dy),
           pixelmath::Saturate32(dx + src.Width()), pixelmath::Saturate32(dy + src.Height()));
  if (!IntersectRect(place, at, SurfaceBoundsRect(dest))) return;
  const int w = place.Width(), h = place.Height();
  const int sx0 = src.Left + static_cast<int>(place.Left - dx);
  const int sy0 = src.Top + static_cast<int>(place.Top - dy);
  const bool raw = d.Op == TBlitOp::Copy && dest.SameLayout(source);
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint32_t> from(n), to(n), before;
  std::vector<uint8_t> weight;
  if (key >= 0 || alpha) weight.resize(n);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i);
      const uint32_t s = source.GetRawPixel(sx0 + i, sy0 + j);
      const uint32_t t = dest.GetRawPixel(place.Left + i, place.Top + j);
      from[k] = raw ? s : colorToRGB(source.PixelToColor(s));
      to[k] = raw ? t : colorToRGB(dest.PixelToColor(t));
      if (!weight.empty()) {
        weight[k] =
            static_cast<int64_t>(s) == key
                ? 0
                : (alpha ? static_cast<uint8_t>(alpha->GetRawPixel(sx0 + i, sy0 + j)) : 255);
      }
    }
  }
  before = to;
  d.Source = pixelsOf(from, w, h);
  d.SourceRect = Rect(0, 0, w, h);
  d.Dest = Rect(0, 0, 0, 0);
  if (!weight.empty()) {
    d.Mask.bits = weight.data();
    d.Mask.pitch = w;
    d.Mask.width = w;
    d.Mask.height = h;
    d.Mask.bitCount = 8;
  }
  RunBlit(pixelsOf(to, w, h), Rect(0, 0, w, h), d);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(w) + static_cast<size_t>(i);
      if (to[k] == before[k]) continue;
      dest.SetRawPixel(place.Left + i, place.Top + j,
                       raw ? to[k] : dest.ColorToPixel(rgbToColor(to[k])));
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
  blitDIB(dest, x, y, source, sourceRect, transparent, nullptr,
          static_cast<uint32_t>(std::min(opacity, 255)));
}

void SurfaceAlphaDraw(TDIB& dest, int x, int y, const TDIBSurface& source, const TRect& sourceRect,
                      int level) {
  if (level <= 0) return;
  const TDIBSurface* alpha = source.AlphaPlane();
  // A plane of another size does not say which pixel it weighs.
  if (alpha && (alpha->Width() != source.Width() || alpha->Height() != source.Height() ||
                alpha->BitCount() != 8))
    alpha = nullptr;
  blitDIB(dest, x, y, source, sourceRect, -1, alpha, static_cast<uint32_t>(std::min(level, 255)));
}

namespace {

platform::PixelBuffer rowsOf(const TDIB& dib) {
  platform::PixelBuffer buffer;
  if (dib.GetEmpty()) return buffer;
  buffer.bits = const_cast<uint8_t*>(dib.GetBitsReadOnly());
  buffer.pitch = dib.RowStep();
  buffer.width = dib.Width();
  buffer.height = dib.Height();
  buffer.bitCount = SurfaceBitCount(dib);
  return buffer;
}

void convertTable(const TDIB& dib, std::array<uint32_t, 256>& palette) {
  const int size = dib.ColorTableSize();
  const TRGBQuad* table = dib.ColorTable().data();
  for (int i = 0; i < size; ++i)
    palette[size_t(i)] =
        (uint32_t{table[i].rgbRed} << 16) | (uint32_t{table[i].rgbGreen} << 8) | table[i].rgbBlue;
}

}  // namespace

platform::PixelBuffer DIBPixelBuffer(const TDIB& dib, std::array<uint32_t, 256>& palette) {
  platform::PixelBuffer buffer = rowsOf(dib);
  if (!buffer.empty() && dib.BitCount() <= 8) {
    convertTable(dib, palette);
    buffer.palette = palette.data();
    buffer.paletteSize = dib.ColorTableSize();
  }
  return buffer;
}

platform::PixelBuffer DIBPixelBuffer(const TDIB& dib, TConvertedPalette& palette) {
  platform::PixelBuffer buffer = rowsOf(dib);
  if (!buffer.empty() && dib.BitCount() <= 8) {
    const int size = dib.ColorTableSize();
    const size_t bytes = sizeof(TRGBQuad) * size_t(size);
    if (size != palette.size || std::memcmp(palette.from.data(), dib.ColorTable().data(), bytes)) {
      convertTable(dib, palette.entries);
      std::memcpy(palette.from.data(), dib.ColorTable().data(), bytes);
      palette.size = size;
    }
    buffer.palette = palette.entries.data();
    buffer.paletteSize = size;
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
