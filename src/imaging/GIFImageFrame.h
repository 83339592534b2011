#pragma once
// A frame of a GIF file: its image descriptor, local colour table,
// extensions and pixels (one colour index per byte, rows from the top), and
// what it makes of them for display: an 8-bit bitmap with the frame's
// palette and, for a transparent frame, a 1-bit mask.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/GIFImageItems.h"

namespace zirk {

class TGIFSubImage : public TGIFItem {
 public:
  explicit TGIFSubImage(TGIFImage& image);
  ~TGIFSubImage() override;

  // The image descriptor as stored.
  uint16_t Left = 0;
  uint16_t Top = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t Packed = 0;

  bool Interlaced() const { return Packed & 0x40; }
  void SetInterlaced(bool value) { Packed = uint8_t(value ? Packed | 0x40 : Packed & ~0x40); }
  TRect BoundsRect() const { return Bounds(Left, Top, Width, Height); }

  TGIFLocalColorMap& ColorMap() { return colorMap_; }
  const TGIFLocalColorMap& ColorMap() const { return colorMap_; }
  // The local map when it has entries, else the global one.
  const TGIFColorMap& ActiveColorMap() const;
  TGIFExtensionList& Extensions() { return extensions_; }
  const TGIFExtensionList& Extensions() const { return extensions_; }
  // The first graphic control extension made for this frame.
  TGIFGraphicControlExtension* GraphicControlExtension() const { return gce_; }
  bool Transparent() const { return transparent_; }

  std::vector<uint8_t>& Data() { return data_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  // No pixel data, or a zero width or height.
  bool Empty() const { return data_.empty() || Width == 0 || Height == 0; }
  // Pixels of one row; "Image has no DIB" before there are pixels.
  uint8_t* ScanLine(int row);
  // Zeroed pixel data of Width x Height; EOutOfResources beyond the limit.
  void AllocateData();

  void Clear();
  TGIFVersion RequiredVersion() const override;
  // Extensions, descriptor (rebuilt packed byte), local map, image data.
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream) override;
  void SaveToFile(const std::string& hostPath);

  // A copy of another frame through its saved bytes.
  void Assign(const TGIFSubImage& source);
  // Takes the pixels of a bitmap: 1, 4 and 8 bits keep their colour table
  // as the local map; deeper bitmaps get an exact palette when they have at
  // most 256 colours, else the 6x6x6 colour cube. An empty bitmap only
  // clears the frame.
  void Assign(const TDIB& source);
  // Gives dest the display bitmap.
  void AssignTo(TDIB& dest);

  // The display bitmap, rebuilt when out of date (and the mask with it).
  const TDIB& MakeBitmap();
  // The 1-bit mask (bit set where the pixel is the transparent index);
  // nullptr unless the frame is transparent and the bitmap was made.
  const TDIB* Mask() const { return mask_.get(); }
  // The colour table the display bitmap uses.
  std::vector<TRGBQuad> Palette() const;
  // Drops the display bitmap, mask and palette (after pixels or maps change).
  void Changed();

  // Called by the graphic control extension as it comes and goes.
  void AttachGraphicControl(TGIFGraphicControlExtension* gce);
  void DetachGraphicControl(TGIFGraphicControlExtension* gce);
  void SetTransparentFlag(bool value) { transparent_ = value; }

 private:
  void buildBitmap();
  void buildMask();

  TGIFLocalColorMap colorMap_;
  TGIFExtensionList extensions_;
  TGIFGraphicControlExtension* gce_ = nullptr;
  bool transparent_ = false;
  std::vector<uint8_t> data_;
  std::unique_ptr<TDIB> bitmap_;
  std::unique_ptr<TDIB> mask_;
};

// The fixed 216-colour palette: entry r x 36 + g x 6 + b, levels of 51.
std::vector<TRGBQuad> GIFWebPalette();
// Maps indices through a palette onto the 6x6x6 cube with Floyd-Steinberg
// error diffusion (10 fractional bits, serpentine rows); pixels equal to
// skipIndex (-1: none) take their nearest cube entry without diffusion.
void GIFDitherToWebPalette(const uint8_t* indices, int width, int height,
                           const std::vector<TRGBQuad>& palette, int skipIndex, TDIB& target8);

// Where the frame lands in a rectangle that shows the logical screen: its
// position and size scaled from the screen (rounded), or the whole
// rectangle when the screen is empty.
TRect GIFFrameRect(const TGIFSubImage& frame, const TRect& rect);
// Draws the frame into the rectangle of the canvas: its position and size
// are scaled from the logical screen into the rectangle (from its own
// bounds when the screen is empty); with transparent set, pixels under the
// mask are left as they are.
void DrawFrame(TGIFSubImage& frame, TDIB& canvas, const TRect& rect, bool transparent);

}  // namespace zirk
