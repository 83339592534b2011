#include "surfaces/dibx.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "surfaces/pixelmath.h"
#include "surfaces/screenman.h"

namespace zirk {

namespace {

TBlitDesc directDesc(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                     bool flipV) {
  TBlitDesc d;
  d.Shape = TBlitShape::Direct;
  d.Source = src.Pixels();
  d.SourceRect = srcRect;
  d.Dest = Rect(x, y, x, y);
  d.FlipH = flipH;
  d.FlipV = flipV;
  return d;
}

TBlitDesc stretchDesc(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                      bool flipV) {
  TBlitDesc d = directDesc(0, 0, src, srcRect, flipH, flipV);
  d.Shape = TBlitShape::Stretch;
  d.Dest = dest;
  return d;
}

// Pattern with its top-left corner at (originX, originY), one copy per
// source rectangle, zoomed.
TBlitDesc tileDesc(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, int64_t originX,
                   int64_t originY, int32_t zoomX, int32_t zoomY, bool flipH, bool flipV) {
  TBlitDesc d = directDesc(0, 0, src, srcRect, flipH, flipV);
  d.Shape = TBlitShape::Tile;
  d.Dest = dest;
  d.OriginX = originX;
  d.OriginY = originY;
  d.ZoomX = zoomX;
  d.ZoomY = zoomY;
  d.StepX = srcRect.Width();
  d.StepY = srcRect.Height();
  return d;
}

// Scrolling by +s moves the pattern s pixels up / left.
TBlitDesc scrolledTileDesc(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                           int32_t zoomX, int32_t zoomY, bool flipH, bool flipV, int32_t scrollX,
                           int32_t scrollY) {
  return tileDesc(dest, src, srcRect, int64_t(dest.Left) - scrollX, int64_t(dest.Top) - scrollY,
                  zoomX, zoomY, flipH, flipV);
}

void useKey(TBlitDesc& d, const TCustomDIBX& src, bool on) {
  d.Key = on ? src.ColorKey() : -1;
}
void useMask(TBlitDesc& d, const TCustomDIBX& mask) {
  d.Mask = mask.Pixels();
}

// Added through a table, with the source's colour key always on.
void useAddTable(TBlitDesc& d, const TCustomDIBX& src, const uint32_t* table, int32_t opacity) {
  d.Op = TBlitOp::AddTable;
  d.Table = table;
  d.Key = src.ColorKey();
  d.Level = std::clamp(opacity, 0, 255);
}

// Opacity 0..255: 255 copies, 0 draws nothing.
bool setOpacity(TBlitDesc& d, int32_t opacity) {
  if (opacity <= 0) return false;
  if (opacity >= 255) {
    // A mask still weighs every pixel, so a masked copy is a full-opacity blend.
    d.Op = d.Mask.empty() ? TBlitOp::Copy : TBlitOp::Blend;
    d.Level = 255;
  } else {
    d.Op = TBlitOp::Blend;
    d.Level = opacity;
  }
  return true;
}

void setLevel(TBlitDesc& d, int32_t level) {
  d.Op = TBlitOp::Add;
  d.Level = std::clamp(level, 0, 255);
}

// The image objects' alpha: below 255 blended, 255 opaque, above additive.
bool setImageAlpha(TBlitDesc& d, int32_t alpha) {
  if (alpha <= 255) return setOpacity(d, alpha);
  setLevel(d, alpha - 256);
  return true;
}

// An image draw weighs its pixels by the mask when it has one, else skips
// the source's colour key.
void useKeyOrMask(TBlitDesc& d, const TCustomDIBX& src, const TCustomDIBX* mask) {
  if (mask) {
    useMask(d, *mask);
  } else {
    useKey(d, src, src.ColorKey() != -1);
  }
}

}  // namespace

// ---- Pixel access ------------------------------------------------------

uint8_t* TCustomDIBX::Lock(int32_t x, int32_t y) {
  const platform::PixelBuffer b = Pixels();
  if (b.empty() || x < 0 || y < 0 || x >= b.width || y >= b.height) return nullptr;
  return b.row(y) + int64_t(x) * (b.bitCount == 15 ? 2 : b.bitCount / 8);
}

platform::HDC TCustomDIBX::GetDC() {
  const platform::PixelBuffer b = Pixels();
  if (dc_) {
    dc_->Retarget(b);
  } else {
    dc_ = std::make_unique<platform::DeviceContext>(b);
  }
  return dc_.get();
}

uint32_t TCustomDIBX::GetPixel(int32_t x, int32_t y) const {
  const platform::PixelBuffer b = Pixels();
  if (b.empty() || x < 0 || y < 0 || x >= b.width || y >= b.height) return 0;
  return platform::ReadPixelValue(b, x, y);
}

void TCustomDIBX::SetPixel(int32_t x, int32_t y, uint32_t value) {
  const platform::PixelBuffer b = Pixels();
  if (b.empty() || x < 0 || y < 0 || x >= b.width || y >= b.height) return;
  platform::WritePixelValue(b, x, y, value);
}

int32_t TCustomDIBX::ColorToPixel(int32_t color) const {
  if (color < 0) return -1;
  const platform::PixelBuffer b = Pixels();
  if (b.empty()) {
    // No pixels to ask: the display layout.
    return int32_t((ColorR(uint32_t(color)) << 16) | (ColorG(uint32_t(color)) << 8) |
                   ColorB(uint32_t(color)));
  }
  return int32_t(platform::ColorToPixelValue(b, uint32_t(color)));
}

void TCustomDIBX::CopyFrom(const TCustomDIBX& source) {
  const platform::PixelBuffer s = source.Pixels(), d = Pixels();
  if (typeid(*this) == typeid(source) && !s.empty() && !d.empty() && s.width == d.width &&
      s.height == d.height && s.pitch == d.pitch && s.bitCount == d.bitCount) {
    const size_t rowBytes = size_t(std::abs(s.pitch));
    for (int32_t y = 0; y < s.height; ++y) std::memcpy(d.row(y), s.row(y), rowBytes);
    return;
  }
  TBlitDesc desc = directDesc(0, 0, source, source.GetBoundsRect(), false, false);
  desc.Op = TBlitOp::Copy;
  ExecuteClipped(desc, GetBoundsRect());
}

void TCustomDIBX::SetClipRect(const TRect& r) {
  TRect c;
  IntersectRect(c, r, GetBoundsRect());
  clip_ = c;
  clipSet_ = true;
}

bool TCustomDIBX::ExecuteClipped(const TBlitDesc& desc, const TRect& clip) {
  TRect c;
  if (!IntersectRect(c, clip, GetClipRect())) return false;
  return RunBlit(Pixels(), c, desc);
}

// ---- One-to-one draws --------------------------------------------------

bool TCustomDIBX::Draw(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                       bool flipH, bool flipV, bool key) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  return Execute(d);
}

bool TCustomDIBX::DrawMasked(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                             bool flipH, bool flipV, const TCustomDIBX& mask) {
  return DrawAlphaMasked(x, y, src, srcRect, flipH, flipV, mask, 255);
}

bool TCustomDIBX::DrawAlpha(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                            bool flipH, bool flipV, bool key, int32_t opacity) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::DrawAlphaMasked(int32_t x, int32_t y, const TCustomDIBX& src,
                                  const TRect& srcRect, bool flipH, bool flipV,
                                  const TCustomDIBX& mask, int32_t opacity) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useMask(d, mask);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::DrawAdd(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                          bool flipH, bool flipV, bool key, int32_t level) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  setLevel(d, level);
  return Execute(d);
}

bool TCustomDIBX::DrawAddMasked(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                                bool flipH, bool flipV, const TCustomDIBX& mask, int32_t level) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useMask(d, mask);
  setLevel(d, level);
  return Execute(d);
}

bool TCustomDIBX::DrawAddTable(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                               bool flipH, bool flipV, const uint32_t* table, int32_t opacity,
                               int32_t /*mode*/) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useAddTable(d, src, table, opacity);
  return Execute(d);
}

bool TCustomDIBX::StretchDrawAddTable(const TRect& dest, const TCustomDIBX& src,
                                      const TRect& srcRect, bool flipH, bool flipV,
                                      const uint32_t* table, int32_t opacity, int32_t /*mode*/) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useAddTable(d, src, table, opacity);
  return Execute(d);
}

// ---- Image draws -----------------------------------------------------------

bool TCustomDIBX::DrawImage(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                            bool flipH, bool flipV, const TCustomDIBX* mask, int32_t alpha) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  useKeyOrMask(d, src, mask);
  return setImageAlpha(d, alpha) && Execute(d);
}

bool TCustomDIBX::StretchDrawImage(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                   bool flipH, bool flipV, const TCustomDIBX* mask, int32_t alpha) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useKeyOrMask(d, src, mask);
  return setImageAlpha(d, alpha) && Execute(d);
}

// ---- Rotation ------------------------------------------------------------

bool TCustomDIBX::DrawRotateZoom(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                                 int32_t anchorX, int32_t anchorY, int32_t zoomX, int32_t zoomY,
                                 int32_t angle, bool flipH, bool flipV, bool key, int32_t alpha) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  d.Shape = TBlitShape::RotateZoom;
  d.AnchorX = anchorX, d.AnchorY = anchorY, d.ZoomX = zoomX, d.ZoomY = zoomY, d.Angle = angle;
  useKey(d, src, key);
  return setImageAlpha(d, alpha) && Execute(d);
}

bool TCustomDIBX::DrawRotateZoomAlpha(int32_t x, int32_t y, const TCustomDIBX& src,
                                      const TRect& srcRect, int32_t anchorX, int32_t anchorY,
                                      int32_t zoomX, int32_t zoomY, int32_t angle, bool flipH,
                                      bool flipV, const TCustomDIBX& mask, int32_t alpha) {
  TBlitDesc d = directDesc(x, y, src, srcRect, flipH, flipV);
  d.Shape = TBlitShape::RotateZoom;
  d.AnchorX = anchorX, d.AnchorY = anchorY, d.ZoomX = zoomX, d.ZoomY = zoomY, d.Angle = angle;
  useMask(d, mask);
  return setImageAlpha(d, alpha) && Execute(d);
}

// ---- Stretch -------------------------------------------------------------

bool TCustomDIBX::StretchDraw(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                              bool flipH, bool flipV, bool key, int32_t opacity) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::StretchDrawMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                    bool flipH, bool flipV, const TCustomDIBX& mask,
                                    int32_t opacity) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useMask(d, mask);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::StretchDrawAlpha(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                   bool flipH, bool flipV, bool key, int32_t level) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  setLevel(d, level);
  return Execute(d);
}

bool TCustomDIBX::StretchDrawAddMasked(const TRect& dest, const TCustomDIBX& src,
                                       const TRect& srcRect, bool flipH, bool flipV,
                                       const TCustomDIBX& mask, int32_t level) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useMask(d, mask);
  setLevel(d, level);
  return Execute(d);
}

// ---- Tiles ---------------------------------------------------------------

bool TCustomDIBX::TileDraw(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                           int32_t offsetX, int32_t offsetY, bool flipH, bool flipV, bool key) {
  return TileDrawAlpha(dest, src, srcRect, offsetX, offsetY, flipH, flipV, key, 255);
}

bool TCustomDIBX::TileDrawAlpha(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                int32_t offsetX, int32_t offsetY, bool flipH, bool flipV, bool key,
                                int32_t opacity) {
  TBlitDesc d = tileDesc(dest, src, srcRect, int64_t(dest.Left) + offsetX,
                         int64_t(dest.Top) + offsetY, 256, 256, flipH, flipV);
  useKey(d, src, key);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::TileDrawAdd(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                              int32_t offsetX, int32_t offsetY, bool flipH, bool flipV, bool key,
                              int32_t level) {
  TBlitDesc d = tileDesc(dest, src, srcRect, int64_t(dest.Left) + offsetX,
                         int64_t(dest.Top) + offsetY, 256, 256, flipH, flipV);
  useKey(d, src, key);
  setLevel(d, level);
  return Execute(d);
}

bool TCustomDIBX::TileDrawMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                 int32_t offsetX, int32_t offsetY, bool flipH, bool flipV,
                                 const TCustomDIBX& mask) {
  return TileDrawAlphaMasked(dest, src, srcRect, offsetX, offsetY, flipH, flipV, mask, 255);
}

bool TCustomDIBX::TileDrawAlphaMasked(const TRect& dest, const TCustomDIBX& src,
                                      const TRect& srcRect, int32_t offsetX, int32_t offsetY,
                                      bool flipH, bool flipV, const TCustomDIBX& mask,
                                      int32_t opacity) {
  TBlitDesc d = tileDesc(dest, src, srcRect, int64_t(dest.Left) + offsetX,
                         int64_t(dest.Top) + offsetY, 256, 256, flipH, flipV);
  useMask(d, mask);
  return setOpacity(d, opacity) && Execute(d);
}

bool TCustomDIBX::TileDrawAddMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                    int32_t offsetX, int32_t offsetY, bool flipH, bool flipV,
                                    const TCustomDIBX& mask, int32_t level) {
  TBlitDesc d = tileDesc(dest, src, srcRect, int64_t(dest.Left) + offsetX,
                         int64_t(dest.Top) + offsetY, 256, 256, flipH, flipV);
  useMask(d, mask);
  setLevel(d, level);
  return Execute(d);
}

namespace {

// One axis of a spaced tiling: copy k spans
// [origin + floor(k*step*zoom/256), origin + floor((k*step + size)*zoom/256)).
struct SpacedAxis {
  int64_t origin, step, size, zoom;

  int64_t start(int64_t k) const { return at(__int128(k) * step); }
  int64_t end(int64_t k) const { return at(__int128(k) * step + size); }
  // 128-bit: a huge step times a huge zoom does not fit 64 bits; positions
  // that far out are only ever clipped away.
  int64_t at(__int128 src) const {
    __int128 p = src * zoom;
    p = (p >= 0 ? p : p - 255) / 256 + origin;
    constexpr int64_t kFar = int64_t(1) << 62;
    return int64_t(std::clamp<__int128>(p, -kFar, kFar));
  }
  // The first copy that ends after pixel x.
  int64_t firstEndingAfter(int64_t x) const {
    // end(k) > x  <=>  (k*step + size)*zoom >= 256*(x - origin + 1)
    return ceilDiv(ceilDiv(256 * (x - origin + 1), zoom) - size, step);
  }
  // From copy k on, the first that covers a pixel; at a small zoom most
  // copies are empty, and this skips them a pixel at a time, not one by one.
  int64_t firstCovering(int64_t k, int64_t limit) const {
    while (end(k) <= start(k) && start(k) < limit) k = std::max(k + 1, firstEndingAfter(start(k)));
    return k;
  }
  static int64_t ceilDiv(int64_t a, int64_t b) { return -pixelmath::FloorDiv(-a, b); }
};

// Copies of a zoomed picture spaced step source pixels apart may overlap,
// so they are drawn one by one, row by row, later copies on top. Each copy
// is a stretch of the source rectangle onto its zoomed place; a mirrored
// tiling mirrors the places inside the area and flips each copy. Only the
// copies that reach `visible` (within the area) are visited: a huge tile at
// a tiny zoom has billions of copies, of which the screen shows a few.
template <class DrawOne>
bool drawSpacedCopies(const TRect& area, const TRect& visible, const TRect& srcRect, int32_t stepX,
                      int32_t stepY, int32_t zoomX, int32_t zoomY, bool flipH, bool flipV,
                      int32_t scrollX, int32_t scrollY, int64_t maxWork, DrawOne drawOne) {
  if (area.IsEmpty() || srcRect.IsEmpty() || zoomX <= 0 || zoomY <= 0) return false;
  const SpacedAxis ax{int64_t(area.Left) - scrollX, std::max<int64_t>(stepX, 1), srcRect.Width(),
                      zoomX};
  const SpacedAxis ay{int64_t(area.Top) - scrollY, std::max<int64_t>(stepY, 1), srcRect.Height(),
                      zoomY};
  // The visible span in unmirrored places.
  const int64_t mirrorX = int64_t(area.Left) + area.Right,
                mirrorY = int64_t(area.Top) + area.Bottom;
  const int64_t loX = flipH ? mirrorX - visible.Right : visible.Left;
  const int64_t hiX = flipH ? mirrorX - visible.Left : visible.Right;
  const int64_t loY = flipV ? mirrorY - visible.Bottom : visible.Top;
  const int64_t hiY = flipV ? mirrorY - visible.Top : visible.Bottom;
  bool drawn = false;
  // Copies overlapping without end (a tiny step under a huge zoom, or a
  // one-pixel picture at a tiny zoom) could ask for billions of copies, or
  // draw the same pixels billions of times: the target's budget ends them.
  // Copies (and rows of them) visited but not seen cost an eighth of a
  // unit each.
  const int64_t maxCopies = maxWork / 8;
  constexpr int64_t kMaxSide = int64_t(1) << 31, kLineWork = 16;
  int64_t copies = 0, work = 0;
  for (int64_t ky = ay.firstEndingAfter(loY);; ++ky) {
    ky = ay.firstCovering(ky, hiY);
    const int64_t top = ay.start(ky);
    if (top >= hiY) break;
    const int64_t bottom = ay.end(ky);
    // A row of copies none of which reaches the visible span still costs
    // its visit: tall copies at a tiny step make billions of such rows.
    if (++copies > maxCopies) return drawn;
    for (int64_t kx = ax.firstEndingAfter(loX);; ++kx) {
      kx = ax.firstCovering(kx, hiX);
      const int64_t left = ax.start(kx);
      if (left >= hiX) break;
      const int64_t right = ax.end(kx);
      using pixelmath::Saturate32;
      int64_t l = left, r = right, t = top, b = bottom;
      if (flipH) l = mirrorX - right, r = mirrorX - left;
      if (flipV) t = mirrorY - bottom, b = mirrorY - top;
      const TRect place{Saturate32(l), Saturate32(t), Saturate32(r), Saturate32(b)};
      drawn = drawOne(place) || drawn;
      const int64_t seenW =
          std::min<int64_t>(r, visible.Right) - std::max<int64_t>(l, visible.Left);
      const int64_t seenH =
          std::min<int64_t>(b, visible.Bottom) - std::max<int64_t>(t, visible.Top);
      if (seenW > 0 && seenH > 0)
        work += (std::min(seenW, kMaxSide) + kLineWork) * std::min(seenH, kMaxSide);
      if (++copies > maxCopies || work > maxWork) return drawn;
    }
  }
  return drawn;
}

// Each copy a stretch of the prepared blit onto its place.
bool drawSpaced(TCustomDIBX& target, TBlitDesc& d, const TRect& dest, const TRect& srcRect,
                int32_t stepX, int32_t stepY, int32_t zoomX, int32_t zoomY, bool flipH, bool flipV,
                int32_t scrollX, int32_t scrollY) {
  TRect c, reach;
  if (!IntersectRect(c, target.GetClipRect(), dest)) return false;
  // Copies are visited only where they can land: inside the clip, and, on a
  // wave, on lines its target shows.
  if (!IntersectRect(reach, target.ReachingRect(c), c)) return false;
  return drawSpacedCopies(dest, reach, srcRect, stepX, stepY, zoomX, zoomY, flipH, flipV, scrollX,
                          scrollY, target.SpacedTileBudget, [&](const TRect& place) {
                            d.Dest = place;
                            return target.ExecuteClipped(d, c);
                          });
}

}  // namespace

bool TCustomDIBX::TileDrawOffset(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                 int32_t stepX, int32_t stepY, int32_t zoomX, int32_t zoomY,
                                 bool flipH, bool flipV, bool key, int32_t alpha, int32_t scrollX,
                                 int32_t scrollY) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useKey(d, src, key);
  return setImageAlpha(d, alpha) && drawSpaced(*this, d, dest, srcRect, stepX, stepY, zoomX, zoomY,
                                               flipH, flipV, scrollX, scrollY);
}

bool TCustomDIBX::TileDrawOffsetMasked(const TRect& dest, const TCustomDIBX& src,
                                       const TRect& srcRect, int32_t stepX, int32_t stepY,
                                       int32_t zoomX, int32_t zoomY, bool flipH, bool flipV,
                                       const TCustomDIBX& mask, int32_t alpha, int32_t scrollX,
                                       int32_t scrollY) {
  TBlitDesc d = stretchDesc(dest, src, srcRect, flipH, flipV);
  useMask(d, mask);
  return setImageAlpha(d, alpha) && drawSpaced(*this, d, dest, srcRect, stepX, stepY, zoomX, zoomY,
                                               flipH, flipV, scrollX, scrollY);
}

bool TCustomDIBX::TileDrawZoom(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                               int32_t zoomX, int32_t zoomY, bool flipH, bool flipV, bool key,
                               int32_t alpha, int32_t scrollX, int32_t scrollY) {
  TBlitDesc d = scrolledTileDesc(dest, src, srcRect, zoomX, zoomY, flipH, flipV, scrollX, scrollY);
  useKey(d, src, key);
  return setImageAlpha(d, alpha) && Execute(d);
}

bool TCustomDIBX::TileDrawZoomMasked(const TRect& dest, const TCustomDIBX& src,
                                     const TRect& srcRect, int32_t zoomX, int32_t zoomY, bool flipH,
                                     bool flipV, const TCustomDIBX& mask, int32_t alpha,
                                     int32_t scrollX, int32_t scrollY) {
  TBlitDesc d = scrolledTileDesc(dest, src, srcRect, zoomX, zoomY, flipH, flipV, scrollX, scrollY);
  useMask(d, mask);
  return setImageAlpha(d, alpha) && Execute(d);
}

bool TCustomDIBX::TileDrawImage(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                                int32_t zoomX, int32_t zoomY, bool flipH, bool flipV,
                                const TCustomDIBX* mask, int32_t alpha, int32_t scrollX,
                                int32_t scrollY) {
  TBlitDesc d = scrolledTileDesc(dest, src, srcRect, zoomX, zoomY, flipH, flipV, scrollX, scrollY);
  useKeyOrMask(d, src, mask);
  return setImageAlpha(d, alpha) && Execute(d);
}

bool TCustomDIBX::TileDrawFast(const TRect& dest, const TCustomDIBX& src, bool flipH, bool flipV,
                               int32_t scrollX, int32_t scrollY) {
  TBlitDesc d =
      scrolledTileDesc(dest, src, src.GetBoundsRect(), 256, 256, flipH, flipV, scrollX, scrollY);
  d.Op = TBlitOp::Copy;
  return Execute(d);
}

// ---- Fills ---------------------------------------------------------------

namespace {
TBlitDesc fillDesc(const TRect& r, uint32_t pixel, TBlitOp op) {
  TBlitDesc d;
  d.Shape = TBlitShape::Fill;
  d.Op = op;
  d.Dest = r;
  d.Value = pixel;
  return d;
}
}  // namespace

bool TCustomDIBX::FillRect(const TRect& r, uint32_t pixel) {
  return Execute(fillDesc(r, pixel, TBlitOp::Copy));
}
bool TCustomDIBX::FillRectAdd(const TRect& r, uint32_t pixel) {
  return Execute(fillDesc(r, pixel, TBlitOp::FillAdd));
}
bool TCustomDIBX::FillRectSub(const TRect& r, uint32_t pixel) {
  return Execute(fillDesc(r, pixel, TBlitOp::FillSub));
}
bool TCustomDIBX::FillRectAlpha(const TRect& r, uint32_t pixel, int32_t alpha) {
  TBlitDesc d = fillDesc(r, pixel, TBlitOp::Blend);
  if (alpha <= 0) return false;
  if (alpha >= 255) d.Op = TBlitOp::Copy;
  d.Level = std::min(alpha, 255);
  return Execute(d);
}

bool TCustomDIBX::FillMasked(int32_t x, int32_t y, const platform::PixelBuffer& mask,
                             uint32_t pixel, int32_t opacity) {
  if (mask.empty() || opacity <= 0) return false;
  TBlitDesc d = fillDesc(Bounds(x, y, mask.width, mask.height), pixel,
                         opacity >= 255 ? TBlitOp::Copy : TBlitOp::Blend);
  d.Mask = mask;
  d.Level = std::min(opacity, 255);
  return Execute(d);
}

template <class Fill>
bool TCustomDIBX::frame(const TRect& r, int32_t thickness, Fill fill) {
  if (r.IsEmpty() || thickness <= 0) return false;
  const int32_t t = thickness;
  const int32_t topEnd = int32_t(std::min<int64_t>(int64_t(r.Top) + t, r.Bottom));
  const int32_t bottomStart = int32_t(std::max<int64_t>(int64_t(r.Bottom) - t, topEnd));
  const int32_t leftEnd = int32_t(std::min<int64_t>(int64_t(r.Left) + t, r.Right));
  const int32_t rightStart = int32_t(std::max<int64_t>(int64_t(r.Right) - t, leftEnd));
  bool any = fill(Rect(r.Left, r.Top, r.Right, topEnd));
  any = fill(Rect(r.Left, bottomStart, r.Right, r.Bottom)) || any;
  any = fill(Rect(r.Left, topEnd, leftEnd, bottomStart)) || any;
  any = fill(Rect(rightStart, topEnd, r.Right, bottomStart)) || any;
  return any;
}

bool TCustomDIBX::FrameRect(const TRect& r, int32_t thickness, uint32_t pixel) {
  return frame(r, thickness, [&](const TRect& bar) { return FillRect(bar, pixel); });
}
bool TCustomDIBX::FrameRectAlpha(const TRect& r, int32_t thickness, uint32_t pixel, int32_t alpha) {
  return frame(r, thickness, [&](const TRect& bar) { return FillRectAlpha(bar, pixel, alpha); });
}
bool TCustomDIBX::FrameRectAdd(const TRect& r, int32_t thickness, uint32_t pixel) {
  return frame(r, thickness, [&](const TRect& bar) { return FillRectAdd(bar, pixel); });
}

// ---- TDIBX -----------------------------------------------------------------

TDIBX::TDIBX() : TDIBX(1, 1, ScreenSurfaceDepth()) {}

TDIBX::TDIBX(int32_t width, int32_t height, int32_t bitCount) {
  SetSize(width, height, bitCount);
}

void TDIBX::SetSize(int32_t width, int32_t height, int32_t bitCount) {
  if (bitCount <= 8) {
    // Mask and heat surfaces: index = level.
    for (int i = 0; i < 256; ++i) {
      dib_.ColorTable()[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
  }
  dib_.SetSize(std::max(width, 0), std::max(height, 0), bitCount);
  if (bitCount <= 8) dib_.UpdatePalette();
  ResetClipRect();
}

platform::PixelBuffer TDIBX::Pixels() const {
  return DIBPixelBuffer(dib_, palette_);
}

int32_t TDIBX::ColorToPixel(int32_t color) const {
  if (color < 0) return -1;
  return int32_t(SurfaceColorToPixel(dib_, ColorR(uint32_t(color)), ColorG(uint32_t(color)),
                                     ColorB(uint32_t(color))));
}

std::unique_ptr<TCustomDIBX> MakeDisplayDIBX() {
  if (!ScreenUsesMemorySurfaces()) return std::make_unique<TDxDIBX>();
  return std::make_unique<TDIBX>();
}

}  // namespace zirk
