#pragma once
// TKwPNG: the PNG picture. It owns an image bitmap and an 8-bit mask bitmap
// (255 - alpha), either of which an outside bitmap can stand in for, and
// keeps the PNG's chunk values so that a load followed by a save keeps them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/KwPNGStream.h"
#include "surfaces/dib.h"
#include "surfaces/graphics.h"

namespace zirk {

class TKwPNG : public TGraphic {
 public:
  TKwPNG();
  ~TKwPNG() override;

  std::string ClassName() const override { return "TKwPNG"; }

  // The own bitmaps, and the outside ones used instead while set (not
  // owned). Setting the outside mask to nullptr or to the outside image
  // clears it.
  TDIB& Bitmap() { return *bitmap_; }
  const TDIB& Bitmap() const { return *bitmap_; }
  TDIB& AlphaBitmap() { return *alphaBitmap_; }
  const TDIB& AlphaBitmap() const { return *alphaBitmap_; }
  TDIB* ExternalBitmap() const { return external_; }
  void SetExternalBitmap(TDIB* bitmap);
  TDIB* ExternalAlphaBitmap() const { return externalAlpha_; }
  void SetExternalAlphaBitmap(TDIB* bitmap);
  // The current image and mask.
  TDIB& Image() { return external_ ? *external_ : *bitmap_; }
  const TDIB& Image() const { return external_ ? *external_ : *bitmap_; }
  TDIB& Mask() { return externalAlpha_ ? *externalAlpha_ : *alphaBitmap_; }
  const TDIB& Mask() const { return externalAlpha_ ? *externalAlpha_ : *alphaBitmap_; }

  // Values of the last load, written by a save.
  bool HasAlpha = false;
  int32_t BitDepth = 0;
  bool GrayScale = false;
  bool Interlaced = false;
  int32_t BackgroundColor = -1;
  std::string Comment;
  double Gamma = 0.45455;
  // R, G, B, alpha from the least significant byte.
  int32_t SignificantBits = 0;
  int PhysUnit = 0;
  int32_t PixelsPerUnitX = 0;
  int32_t PixelsPerUnitY = 0;
  TKwPNGTime ChunkTime;
  TKwPNGChromaticity Chromaticity{};
  TKwPNGGifControl GifControl{};

  // Writer settings.
  int IdatSize = 32768;
  int CompressionLevel = -1;
  int FilterMode = 1;
  bool WriteCurrentTime = true;
  // Reader settings.
  bool SkipMacBinary = true;
  bool Allow16BitTarget = false;

  std::string RowKey;
  TKwRowKeyEvent OnRowKey;
  TKwRowEvent OnDecodeRow;
  TKwRowEvent OnEncodeRow;

  // A colour 0x00BBGGRR or 0x01000000 + palette index; -1 for none.
  int32_t TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(int32_t color);

  // The last load was cut short (or found no image data); what was decoded
  // is in the image.
  bool Truncated() const { return truncated_; }

  int GetWidth() const override { return Image().Width(); }
  int GetHeight() const override { return Image().Height(); }
  bool GetEmpty() const override { return Image().GetEmpty(); }
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  void SetTransparent(bool value) override;
  // The file's palette entries after a load (PLTE count), else the image's.
  std::vector<TRGBQuad> GetPalette() const override;
  void SetPalette(const std::vector<TRGBQuad>& entries) override;

  // Reads one PNG from the position to the stream's end; the stream is
  // left just after the data used.
  void LoadFromStream(TKwStream& stream) override;
  void SaveToStream(TKwStream& stream) override;
  // Form data: the own bitmaps, writer defaults for the compression.
  void ReadData(TKwStream& stream);
  void WriteData(TKwStream& stream);

  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;
  // Stretches the image into the rectangle; the mask takes no part.
  void Draw(TDIB& canvas, const TRect& rect) override;

  void SaveToClipboardFormat(TClipboard& clipboard) override;
  void LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) override;

 private:
  void synchronize();
  void setupWriter(TKwPNGWriteStream& writer, bool formData);

  std::unique_ptr<TDIB> bitmap_;
  std::unique_ptr<TDIB> alphaBitmap_;
  TDIB* external_ = nullptr;
  TDIB* externalAlpha_ = nullptr;
  int32_t transparentColor_ = -1;
  bool truncated_ = false;
  // Entries of the loaded file's palette; -1 when the image's table counts.
  int paletteCount_ = -1;
  bool synchronizing_ = false;
};

class TDIBSurface;

// A PNG read into a drawing surface: the image, the mask as the alpha plane
// (alpha = 255 - mask) and the transparent colour. Pictures the writer made
// from 15- and 16-bit bitmaps come back at 16 bits.
void LoadPNGSurface(TDIBSurface& surface, TKwStream& stream);
// LoadPNGSurface that also returns the transparent colour as the file gives
// it: 0x01000000 + index for a palette entry, whose colour another entry may
// share; -1 for none. `truncated`, when given, tells whether the image data
// ended before the last row.
int32_t ReadPNGSurface(TDIBSurface& surface, TKwStream& stream, bool* truncated = nullptr);
// A surface written as PNG: its alpha plane as alpha, and as the key the
// given colour (0x00BBGGRR, or 0x01000000 + index for a palette entry), or
// the surface's own when it is -1.
void SavePNGSurface(const TDIBSurface& surface, TKwStream& stream, int32_t transparentColor = -1);

// Registers "PNG" / "PNG Format" with the picture formats and PNG data with
// the surfaces' load by signature; the unregistering removes the format.
void RegisterKwPNG();
void UnregisterKwPNG();

}  // namespace zirk
