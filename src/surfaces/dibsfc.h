#pragma once
// TDIBSurface: a bitmap with an optional 8-bit alpha plane of the same size
// (itself a surface, absent when null), and the helpers the layered-image
// code and the drawing surfaces use on it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/geometry.h"
#include "platform/gdi.h"
#include "surfaces/dib.h"

namespace zirk {

class TDIBSurface : public TDIB {
 public:
  TDIBSurface();
  ~TDIBSurface() override;

  std::string ClassName() const override { return "TDIBSurface"; }

  TDIBSurface* AlphaPlane() { return alpha_.get(); }
  const TDIBSurface* AlphaPlane() const { return alpha_.get(); }
  bool HasAlphaPlane() const { return alpha_ != nullptr; }
  void SetAlphaPlane(std::unique_ptr<TDIBSurface> plane);
  void FreeAlphaPlane() { alpha_.reset(); }

  // From a surface: pixels and a copy of its alpha plane. From a bitmap:
  // pixels, no alpha plane. From any other picture: through its AssignTo a
  // bitmap.
  void Assign(const TGraphic& source) override;
  // Data starting with a registered signature goes to that format's loader
  // (the imaging layer registers its formats); anything else is read as
  // BMP/DIB. The alpha plane is dropped unless the loader makes one.
  void LoadFromStream(TKwStream& stream) override;

 private:
  std::unique_ptr<TDIBSurface> alpha_;
};

// A loader for stream data beginning with a given signature. It reads from
// the stream's position into the surface and raises on failure. Registering
// a signature again replaces its loader.
using TSurfaceStreamLoader = std::function<void(TDIBSurface& surface, TKwStream& stream)>;
void RegisterSurfaceLoader(const std::string& signature, TSurfaceStreamLoader loader);

// Creates the 8-bit alpha plane at the surface size (contents zero), or
// resizes an existing one.
void EnsureAlphaPlane(TDIBSurface& surface);
// Fills the alpha plane with 255 when there is one.
void SurfaceOpaqueAlpha(TDIBSurface& surface);
// Creates the alpha plane and copies the 8-bit image's rows into it (the
// overlapping part when the sizes differ; the rest stays 0).
void SurfaceSetAlpha(TDIBSurface& surface, const TDIB& image8);
// The bit count, 15 for 16 bits with the 5-5-5 layout.
int SurfaceBitCount(const TDIB& surface);
// Pixel value for the surface: nearest palette index at 8 bits or less,
// 5-5-5 or 5-6-5 packing at 15/16 bits, 0xRRGGBB above.
uint32_t SurfaceColorToPixel(const TDIB& surface, int r, int g, int b);
// Copies the whole source to (x, y), clipped to the destination; pixels of
// another layout are converted through their colours.
void SurfaceDrawWhole(TDIB& dest, int x, int y, const TDIB& source);
// Gives the surface's pixels to another picture class through a temporary
// bitmap.
void SurfaceAssignTo(const TDIBSurface& surface, TGraphic& picture);

// Rect(0, 0, Width, Height).
TRect SurfaceBoundsRect(const TDIB& surface);
// Fills the rectangle, clipped to the surface, with a raw pixel value.
void SurfaceFillRect(TDIB& surface, const TRect& rect, uint32_t pixel);
// Keeps only the rectangle (clipped to the surface), alpha plane included.
void SurfaceCrop(TDIBSurface& surface, const TRect& rect);
// The bounding rectangle of the pixels that differ from the raw value, or
// (0, 0, 1, 1) when none does; unless that is the whole surface, the surface
// is cropped to it.
TRect SurfaceTrim(TDIBSurface& surface, uint32_t pixel);
// Draws the source rectangle at (x, y) with opacity 0..255, skipping source
// pixels whose raw value equals transparent (-1: none). Opacity 255 or more
// is a plain copy that still skips transparent pixels; 0 or less draws
// nothing. Channels blend as out = round((s * a + d * (255 - a)) / 255).
void SurfaceBlendDraw(TDIB& dest, int x, int y, const TDIB& source, const TRect& sourceRect,
                      int64_t transparent, int opacity);
// Draws the source rectangle at (x, y) through the source's alpha plane: each
// pixel blends with opacity round(alpha * level / 255). A source without an
// alpha plane counts as opaque.
void SurfaceAlphaDraw(TDIB& dest, int x, int y, const TDIBSurface& source, const TRect& sourceRect,
                      int level);

// A view of the bitmap's rows for the device-context stand-ins; palette
// receives the colour table as 0x00RRGGBB entries and must outlive the view.
platform::PixelBuffer DIBPixelBuffer(const TDIB& dib, std::array<uint32_t, 256>& palette);
// The converted colour table a surface keeps between views: a surface is
// viewed for every draw from or onto it, its table rarely changes.
struct TConvertedPalette {
  std::array<uint32_t, 256> entries{};
  TDIBColorTable from{};
  int size = -1;
};
platform::PixelBuffer DIBPixelBuffer(const TDIB& dib, TConvertedPalette& palette);
// StretchDIBits of the source rectangle into the destination rectangle of
// the device context, SRCCOPY.
void SurfaceDrawToDC(const TDIB& surface, platform::HDC dc, const TRect& destRect,
                     const TRect& sourceRect);

}  // namespace zirk
