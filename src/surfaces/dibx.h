#pragma once
// Drawing surfaces: TCustomDIBX is what scene objects draw on and draw
// from, TDIBX keeps its pixels in a TDIBSurface (32-bit display surfaces,
// 8-bit masks, 15/16/24 bits when asked), TDxDIBX is the same memory
// surface under the name the hardware-surface code paths use.
//
// Every drawing operation is a thin front end: it describes the work once
// (TBlitDesc) and hands it to Execute, which clips it and runs the shared
// kernels. A surface that forwards its drawing elsewhere (TDIBXWave)
// overrides ExecuteClipped alone.
//
// Opacity and level conventions of the image objects: an opacity is
// 0..255 (255 a plain copy), an additive level 0..255; "alpha" parameters
// take the image range 0..511 (below 255 blended, 255 opaque, above 255
// additive with level alpha - 256). With a mask surface the colour key is
// not used.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/geometry.h"
#include "platform/gdi.h"
#include "surfaces/dibsfc.h"
#include "surfaces/kernels.h"

namespace zirk {

class TCustomDIBX {
 public:
  TCustomDIBX() = default;
  virtual ~TCustomDIBX() = default;
  TCustomDIBX(const TCustomDIBX&) = delete;
  TCustomDIBX& operator=(const TCustomDIBX&) = delete;

  // ---- Size and pixel access ----
  // Bit count 15 is 5-5-5 in 16-bit storage. Sizes below 0 count as 0.
  virtual void SetSize(int32_t width, int32_t height, int32_t bitCount) = 0;
  // Size 0 x 0 at the same bit count.
  void Clear() { SetSize(0, 0, BitCount()); }
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual int32_t BitCount() const = 0;  // 15 for 5-5-5
  virtual int32_t StorageBitCount() const = 0;
  bool IsEmpty() const { return Width() <= 0 || Height() <= 0; }
  TRect GetBoundsRect() const { return Rect(0, 0, Width(), Height()); }

  // The rows as the kernels and device contexts see them (empty when the
  // surface holds no pixels of its own).
  virtual platform::PixelBuffer Pixels() const { return {}; }
  // Address of pixel (x, y); nullptr outside the surface.
  uint8_t* Lock(int32_t x, int32_t y);
  void Unlock() {}
  int32_t Pitch() const { return Pixels().pitch; }
  // A device context onto the pixels, valid until the size changes.
  platform::HDC GetDC();
  void ReleaseDC() {}
  // Memory surfaces hold nothing to release before a display-mode change.
  virtual void ReleaseSurface() {}
  virtual void ToMemoryImage() {}

  // Raw pixel values; reads outside give 0, writes outside are ignored.
  uint32_t GetPixel(int32_t x, int32_t y) const;
  void SetPixel(int32_t x, int32_t y, uint32_t value);
  // The pixel value of a 0x00BBGGRR colour on this surface, through the same
  // channel packing the surface's pixels use; -1 stays -1.
  virtual int32_t ColorToPixel(int32_t color) const;

  // Source pixels equal to the key are not drawn; -1 = none.
  int32_t ColorKey() const { return colorKey_; }
  void SetColorKey(int32_t key) { colorKey_ = key; }

  // Raw copy when sizes, row steps and classes match, else a plain draw at
  // (0, 0). Never resizes this surface.
  void CopyFrom(const TCustomDIBX& source);

  // ---- Clip rectangle: every drawing operation stays inside it ----
  // The whole surface until a clip is set, following later size changes.
  TRect GetClipRect() const { return clipSet_ ? clip_ : GetBoundsRect(); }
  // Clamped to the bounds.
  virtual void SetClipRect(const TRect& r);
  void ResetClipRect() { clipSet_ = false; }

  // The layered frame's two rectangle lists; the first is the
  // draw-rectangle list (when not empty an image is drawn only inside it).
  std::vector<TRect> Rects1;
  std::vector<TRect> Rects2;

  // The most work one spaced tiling may do on this surface, counted as its
  // visible pixels plus 16 for each visible line (a line costs a blit
  // set-up on a wave): a hundred layers of a 640x480 screen. Copies past it
  // are not drawn, nor are those past an eighth of it in number.
  int64_t SpacedTileBudget = int64_t(1) << 25;

  // ---- One-to-one draws of a source rectangle at (x, y) ----
  bool Draw(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
            bool flipV, bool useKey);
  bool DrawMasked(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                  bool flipV, const TCustomDIBX& mask);
  bool DrawAlpha(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                 bool flipV, bool useKey, int32_t opacity);
  bool DrawAlphaMasked(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                       bool flipH, bool flipV, const TCustomDIBX& mask, int32_t opacity);
  bool DrawAdd(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
               bool flipV, bool useKey, int32_t level);
  bool DrawAddMasked(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                     bool flipV, const TCustomDIBX& mask, int32_t level);
  // 8-bit source whose values above its colour key add table[value] (a
  // destination pixel value) scaled by opacity / 256. The mode value is
  // accepted for the callers' sake; the table draw has one behaviour.
  bool DrawAddTable(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                    bool flipV, const uint32_t* table, int32_t opacity, int32_t mode);
  bool StretchDrawAddTable(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                           bool flipH, bool flipV, const uint32_t* table, int32_t opacity,
                           int32_t mode);

  // ---- Image draws: the image objects' alpha (0..511), through the mask when
  // one is given, else through the source's colour key when it has one ----
  // One blit of the source rectangle at (x, y).
  bool DrawImage(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                 bool flipV, const TCustomDIBX* mask, int32_t alpha);
  bool StretchDrawImage(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                        bool flipV, const TCustomDIBX* mask, int32_t alpha);
  // Copies of the zoomed source rectangle repeated over dest, the pattern
  // scrolled by (scrollX, scrollY) source pixels; flips mirror the area.
  bool TileDrawImage(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, int32_t zoomX,
                     int32_t zoomY, bool flipH, bool flipV, const TCustomDIBX* mask, int32_t alpha,
                     int32_t scrollX, int32_t scrollY);

  // ---- Rotated and zoomed: the anchor pixel (in the flipped picture) lands on (x, y) ----
  bool DrawRotateZoom(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                      int32_t anchorX, int32_t anchorY, int32_t zoomX, int32_t zoomY, int32_t angle,
                      bool flipH, bool flipV, bool useKey, int32_t alpha);
  bool DrawRotateZoomAlpha(int32_t x, int32_t y, const TCustomDIBX& src, const TRect& srcRect,
                           int32_t anchorX, int32_t anchorY, int32_t zoomX, int32_t zoomY,
                           int32_t angle, bool flipH, bool flipV, const TCustomDIBX& mask,
                           int32_t alpha);

  // ---- Stretched into a destination rectangle ----
  bool StretchDraw(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                   bool flipV, bool useKey, int32_t opacity);
  bool StretchDrawMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                         bool flipH, bool flipV, const TCustomDIBX& mask, int32_t opacity);
  // Additive (level 0..255), as the image objects call it above opacity 255.
  bool StretchDrawAlpha(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, bool flipH,
                        bool flipV, bool useKey, int32_t level);
  bool StretchDrawAddMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                            bool flipH, bool flipV, const TCustomDIBX& mask, int32_t level);

  // ---- Tiles: the pattern's top-left corner sits at dest's corner + offset ----
  bool TileDraw(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, int32_t offsetX,
                int32_t offsetY, bool flipH, bool flipV, bool useKey);
  bool TileDrawAlpha(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                     int32_t offsetX, int32_t offsetY, bool flipH, bool flipV, bool useKey,
                     int32_t opacity);
  bool TileDrawAdd(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, int32_t offsetX,
                   int32_t offsetY, bool flipH, bool flipV, bool useKey, int32_t level);
  bool TileDrawMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                      int32_t offsetX, int32_t offsetY, bool flipH, bool flipV,
                      const TCustomDIBX& mask);
  bool TileDrawAlphaMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                           int32_t offsetX, int32_t offsetY, bool flipH, bool flipV,
                           const TCustomDIBX& mask, int32_t opacity);
  bool TileDrawAddMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                         int32_t offsetX, int32_t offsetY, bool flipH, bool flipV,
                         const TCustomDIBX& mask, int32_t level);

  // ---- Scrolled tiles: scrolling by +s moves the pattern s pixels up/left ----
  // Copies spaced stepX / stepY source pixels apart (copies closer than the
  // picture overlap, later ones on top), each zoomed.
  bool TileDrawOffset(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                      int32_t stepX, int32_t stepY, int32_t zoomX, int32_t zoomY, bool flipH,
                      bool flipV, bool useKey, int32_t alpha, int32_t scrollX, int32_t scrollY);
  bool TileDrawOffsetMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                            int32_t stepX, int32_t stepY, int32_t zoomX, int32_t zoomY, bool flipH,
                            bool flipV, const TCustomDIBX& mask, int32_t alpha, int32_t scrollX,
                            int32_t scrollY);
  bool TileDrawZoom(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect, int32_t zoomX,
                    int32_t zoomY, bool flipH, bool flipV, bool useKey, int32_t alpha,
                    int32_t scrollX, int32_t scrollY);
  bool TileDrawZoomMasked(const TRect& dest, const TCustomDIBX& src, const TRect& srcRect,
                          int32_t zoomX, int32_t zoomY, bool flipH, bool flipV,
                          const TCustomDIBX& mask, int32_t alpha, int32_t scrollX, int32_t scrollY);
  // The whole source, opaque, unzoomed, without key or mask.
  bool TileDrawFast(const TRect& dest, const TCustomDIBX& src, bool flipH, bool flipV,
                    int32_t scrollX, int32_t scrollY);

  // ---- Fills with a pixel value ----
  bool FillRect(const TRect& r, uint32_t pixel);
  bool FillRectAdd(const TRect& r, uint32_t pixel);
  bool FillRectSub(const TRect& r, uint32_t pixel);
  bool FillRectAlpha(const TRect& r, uint32_t pixel, int32_t alpha);
  // The pixel value through an 8-bit coverage mask whose top-left corner
  // lands on (x, y): each level of the mask is an opacity, scaled by
  // `opacity` (0..255).
  bool FillMasked(int32_t x, int32_t y, const platform::PixelBuffer& mask, uint32_t pixel,
                  int32_t opacity = 255);
  // Four edge bars of the given thickness inside r, never overlapping.
  bool FrameRect(const TRect& r, int32_t thickness, uint32_t pixel);
  bool FrameRectAlpha(const TRect& r, int32_t thickness, uint32_t pixel, int32_t alpha);
  bool FrameRectAdd(const TRect& r, int32_t thickness, uint32_t pixel);

  // ---- The single entry of every operation above ----
  bool Execute(const TBlitDesc& desc) { return ExecuteClipped(desc, GetClipRect()); }
  // Runs the description inside clip (and this surface's own clip).
  virtual bool ExecuteClipped(const TBlitDesc& desc, const TRect& clip);
  // The draw positions whose pixels can land inside clip: clip itself,
  // unless the surface moves its draws on (the wave shifts its lines).
  virtual TRect ReachingRect(const TRect& clip) const { return clip; }

 protected:
  TRect clip_;
  bool clipSet_ = false;

 private:
  template <class Fill>
  bool frame(const TRect& r, int32_t thickness, Fill fill);

  int32_t colorKey_ = -1;
  std::unique_ptr<platform::DeviceContext> dc_;
};

class TDIBX : public TCustomDIBX {
 public:
  // 1 x 1 at the display depth.
  TDIBX();
  TDIBX(int32_t width, int32_t height, int32_t bitCount);

  void SetSize(int32_t width, int32_t height, int32_t bitCount) override;
  int32_t Width() const override { return dib_.Width(); }
  int32_t Height() const override { return dib_.Height(); }
  int32_t BitCount() const override { return SurfaceBitCount(dib_); }
  int32_t StorageBitCount() const override { return dib_.BitCount(); }
  platform::PixelBuffer Pixels() const override;
  int32_t ColorToPixel(int32_t color) const override;

  // The pixels, for the writers of layered frames.
  TDIBSurface& DIB() { return dib_; }
  const TDIBSurface& DIB() const { return dib_; }

 private:
  TDIBSurface dib_;
  // The colour table as the device contexts read it (0x00RRGGBB).
  mutable TConvertedPalette palette_;
};

// The hardware-surface name of the same memory surface: display surfaces
// of this system always live in memory.
class TDxDIBX : public TDIBX {
 public:
  using TDIBX::TDIBX;
};

// A display surface as the image code makes them: TDxDIBX when a screen
// manager exists without memory surfaces, else TDIBX; 1 x 1 at the display
// depth.
std::unique_ptr<TCustomDIBX> MakeDisplayDIBX();

}  // namespace zirk
