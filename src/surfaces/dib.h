#pragma once
// TDIB: a device-independent bitmap kept in memory. 1, 4 and 8 bits per
// pixel index a 256-entry colour table; 16 bits hold 5-5-5 or 5-6-5 pixels
// (the layout says which); 24 bits are B, G, R bytes and 32 bits are
// 0x00RRGGBB words. Rows are 4-byte aligned and stored top row first; the
// row step is signed so callers never assume the direction.
//
// Wherever a bit count is given, 15 is accepted and means 16 bits with the
// 5-5-5 layout (16 means 5-6-5); row and plane sizes use the storage bits.

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "surfaces/graphics.h"
#include "surfaces/pixelformat.h"

namespace zirk {

using TDIBColorTable = std::array<TRGBQuad, 256>;

inline uint32_t QuadToColor(const TRGBQuad& q) {
  return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
}
inline TRGBQuad ColorToQuad(uint32_t c) {
  return {ColorB(c), ColorG(c), ColorR(c), 0};
}

// Pictures beyond these limits are refused before anything is allocated.
inline constexpr int kMaxDIBDimension = 32767;
inline constexpr int64_t kMaxDIBBytes = int64_t{256} << 20;

// GDI's value for a pixel read outside the picture.
inline constexpr uint32_t CLR_INVALID = 0xFFFFFFFF;

// Bytes of one 4-byte aligned row; raises EOutOfResources beyond the limits.
int DIBRowBytes(int width, int bitCount);
// 1, 4, 8, 16, 24 or 32 for a requested bit count (15 gives 16); raises
// EInvalidGraphicOperation for any other value.
int DIBStorageBitCount(int bitCount);

// Index of the entry nearest to a 0x00BBGGRR colour: smallest sum of the
// absolute channel differences, the first such entry on a tie, 0 when
// count is 0.
int NearestPaletteIndex(const TRGBQuad* entries, int count, uint32_t color);

class TDIB;

// Pixel reads of a bitmap as GDI gives them: a 0x00BBGGRR colour, or
// CLR_INVALID outside the picture.
class TDIBCanvas {
 public:
  explicit TDIBCanvas(const TDIB& dib) : dib_(&dib) {}
  uint32_t GetPixel(int x, int y) const;

 private:
  const TDIB* dib_;
};

class TDIB : public TGraphic {
 public:
  TDIB();
  TDIB(int width, int height, int bitCount);
  ~TDIB() override;

  std::string ClassName() const override { return "TDIB"; }

  int Width() const { return width_; }
  int Height() const { return height_; }
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  bool GetEmpty() const override { return width_ == 0 || height_ == 0; }
  // Change one dimension keeping the bit count and the pixels that remain.
  void SetWidth(int value) override;
  void SetHeight(int value) override;

  // Storage bits per pixel: 1, 4, 8, 16, 24 or 32.
  int BitCount() const { return bitCount_; }
  int RowBytes() const { return rowBytes_; }
  // Signed distance in bytes from row y to row y + 1.
  int RowStep() const { return rowBytes_; }
  int64_t SizeImage() const { return static_cast<int64_t>(rowBytes_) * height_; }

  // Layout of 16-, 24- and 32-bit pixels. SetSize and SetBitCount choose
  // it from the bit count. SetPixelFormat switches a 16-bit picture between
  // 5-5-5 and 5-6-5; any other layout, or any layout at another bit count,
  // is ignored, because callers set 8-8-8 ahead of sizing a picture to 8
  // bits and a picture's storage cannot take a layout it has no bits for.
  const TDIBPixelFormat& PixelFormat() const { return format_; }
  void SetPixelFormat(const TDIBPixelFormat& format);
  bool Is555() const { return bitCount_ == 16 && format_ == kPixelFormat555; }

  // New picture of zeroed pixels; the colour table is kept. A size of 0 in
  // either direction gives an empty picture that keeps the other size.
  void SetSize(int width, int height, int bitCount);
  // Converts the pixels. Going to 8 bits or less keeps the colour table when
  // it holds every colour used, else takes the used colours when they fit,
  // else a fixed spread of colours; each pixel becomes the nearest entry.
  void SetBitCount(int bitCount);
  void Clear();

  // Entries used at 1/4/8 bits: 2, 16, 256; 0 above.
  int ColorTableSize() const;
  TDIBColorTable& ColorTable() { return colorTable_; }
  const TDIBColorTable& ColorTable() const { return colorTable_; }
  // To be called after the colour table was written.
  void UpdatePalette();
  // Memory-only already; kept so that callers can say when they are done.
  void ToMemoryImage() {}
  // The used part of the colour table; setting writes up to 256 entries.
  std::vector<TRGBQuad> GetPalette() const override;
  void SetPalette(const std::vector<TRGBQuad>& entries) override;

  TDIBCanvas GetCanvas() const { return TDIBCanvas(*this); }

  // Row y with row 0 on top; y outside the picture raises
  // EInvalidGraphicOperation.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // The top row (nullptr for an empty picture).
  uint8_t* GetBits() { return pixels_.empty() ? nullptr : pixels_.data(); }
  const uint8_t* GetBitsReadOnly() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  // Raw pixel values; no checks beyond a debug assertion.
  uint32_t GetRawPixel(int x, int y) const;
  void SetRawPixel(int x, int y, uint32_t value);

  // A raw value as a 0x00BBGGRR colour (colour table, or the layout through
  // the one channel expansion), and a colour as the nearest value.
  uint32_t PixelToColor(uint32_t pixel) const;
  uint32_t ColorToPixel(uint32_t color) const;

  // Picture-level transparency (colour 0x00BBGGRR, -1 when none).
  int32_t TransparentColor() const { return transparentColor_; }
  void SetTransparentColor(int32_t color) { transparentColor_ = color; }

  // BMP input: a file (BITMAPFILEHEADER "BM" + info header) or a packed DIB
  // (info header first). BI_RGB at 1/4/8/16/24/32 bits, BI_BITFIELDS at 16
  // and 32 bits, top-down and bottom-up rows. Raises EInvalidGraphic for
  // anything malformed and leaves the picture untouched then.
  void LoadFromStream(TKwStream& stream) override;
  // BMP output: a file with BITMAPFILEHEADER and BITMAPINFOHEADER, rows
  // bottom-up; 5-5-5 is written as BI_RGB, 5-6-5 as BI_BITFIELDS.
  void SaveToStream(TKwStream& stream) override;
  // The same without the file header (the clipboard's CF_DIB).
  void LoadFromDIBStream(TKwStream& stream);
  void SaveToDIBStream(TKwStream& stream) const;

  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;
  // Nearest-pixel stretch into the canvas rectangle, colours converted.
  void Draw(TDIB& canvas, const TRect& rect) override;

  void SaveToClipboardFormat(TClipboard& clipboard) override;
  void LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) override;

  bool SameLayout(const TDIB& other) const;

 protected:
  // Takes the pixels, layout, table and size of other (same class family).
  void copyPixelsFrom(const TDIB& other);

 private:
  void reallocate(int width, int height, int storageBits, const TDIBPixelFormat& format);
  void readBitmap(TKwStream& stream, bool withFileHeader);
  void writeBitmap(TKwStream& stream, bool withFileHeader) const;
  // Copies the part of old that fits, with its colour table.
  void copyOverlapFrom(const TDIB& old);

  int width_ = 0;
  int height_ = 0;
  int bitCount_ = 8;
  int rowBytes_ = 0;
  TDIBPixelFormat format_ = kPixelFormat888;
  std::vector<uint8_t> pixels_;
  TDIBColorTable colorTable_{};
  int32_t transparentColor_ = -1;
};

// Turns raw pixels of one bitmap into raw pixels of another through their
// colours: a table for palette sources, remembered nearest-entry searches
// for palette targets, plain arithmetic between the other layouts.
class TDIBPixelConverter {
 public:
  TDIBPixelConverter(const TDIB& source, TDIB& target);
  uint32_t operator()(uint32_t raw);
  // Converts count pixels from (sx, sy) of the source to (dx, dy) of the
  // target; the caller has clipped both.
  void Span(int sx, int sy, int dx, int dy, int count);

 private:
  const TDIB& source_;
  TDIB& target_;
  bool identity_;
  std::vector<uint32_t> table_;  // by source index, for palette sources
  std::unordered_map<uint32_t, uint32_t> searched_;
};

inline uint8_t* DIBScanLine(TDIB& dib, int y) {
  return dib.ScanLine(y);
}
inline const uint8_t* DIBScanLine(const TDIB& dib, int y) {
  return dib.ScanLine(y);
}
// Raw pixel value at (x, y); 0 outside the picture, where writes are ignored.
uint32_t DIBGetPixel(const TDIB& dib, int x, int y);
void DIBSetPixel(TDIB& dib, int x, int y, uint32_t value);

}  // namespace zirk
