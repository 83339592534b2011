#pragma once
// The PNG reader and writer under the PNG picture. The reader turns a PNG
// into a bitmap of 1, 4, 8, 16 (5-6-5) or 24 bits plus, for alpha, an 8-bit
// mask holding 255 - alpha; the writer does the reverse. Neither applies
// gamma or colour correction; 16-bit samples keep their high byte.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imaging/KwStream.h"
#include "imaging/KwZLIB.h"
#include "surfaces/dib.h"
#include "surfaces/graphics.h"

namespace zirk {

class EKwPNG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// The PNG limits of this reader: each side at most what a bitmap may have,
// and at most this many pixels.
inline constexpr int64_t kKwPNGMaxPixels = int64_t{1} << 26;

// tIME: year, month, day, hour, minute, second.
struct TKwPNGTime {
  uint16_t Year = 0;
  uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  bool operator==(const TKwPNGTime&) const = default;
};
using TKwPNGChromaticity = std::array<int32_t, 8>;
using TKwPNGGifControl = std::array<uint8_t, 4>;

// Row hooks: the key may be changed by OnRowKey; OnDecodeRow / OnEncodeRow
// get the row bytes, their count, the row index and the key.
using TKwRowKeyEvent = std::function<void(std::string& key)>;
using TKwRowEvent =
    std::function<void(uint8_t* row, int length, int rowIndex, const std::string& key)>;

class TKwCustomGraphicReadStream : public TKwCustomReadStream {
 public:
  // Reports through the target bitmap's OnProgress and always continues.
  int Progress(int percent) override;
  // Reads from the source's position; length 0 means up to its end. Without
  // a target only the chunks are parsed.
  virtual void Read(TDIB* target, TKwStream& source, int64_t length) = 0;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Entries of the file's palette (PLTE, or the grey ramp); the palette
  // itself always has 256 entries, zero past the count.
  int PaletteCount() const { return paletteCount_; }
  const std::array<TRGBQuad, 256>& Palette() const { return palette_; }
  int32_t PixelsPerUnitX() const { return ppuX_; }
  int32_t PixelsPerUnitY() const { return ppuY_; }
  int PhysUnit() const { return unit_; }

 protected:
  // Clears the target and gives it the size, bit count and palette.
  virtual void SetupTarget();

  TDIB* target_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  int bitmapBits_ = 0;
  int colorBits_ = 0;
  std::array<TRGBQuad, 256> palette_{};
  int paletteCount_ = 0;
  int32_t ppuX_ = 0, ppuY_ = 0;
  int unit_ = 0;
};

class TKwPNGReadStream : public TKwCustomGraphicReadStream {
 public:
  TKwPNGReadStream();
  ~TKwPNGReadStream() override;

  void Read(TDIB* target, TKwStream& source, int64_t length) override;

  // Settings.
  bool CheckSignature = true;
  // Honour the private chunk's "palette stored as grey + alpha" flag.
  bool PaletteAlphaFlagHonoured = false;
  // RGB with sBIT 5,5,5 or 5,6,5 (8- or 16-bit samples; an alpha byte
  // does not count) becomes a 16-bit bitmap of the 5-5-5 or 5-6-5 layout.
  bool Allow16BitTarget = false;
  // Receives 255 - alpha when the file has alpha.
  TDIB* MaskTarget = nullptr;
  TKwPNGTime* ChunkTime = nullptr;
  TKwPNGChromaticity* Chromaticity = nullptr;
  TKwPNGGifControl* GifControl = nullptr;
  std::string RowKey;
  TKwRowKeyEvent OnRowKey;
  TKwRowEvent OnDecodeRow;

  // Results.
  bool HasAlpha() const { return hasAlphaChannel_ || paletteAlpha_; }
  bool HasAlphaChannel() const { return hasAlphaChannel_; }
  bool IsGray() const { return isGray_; }
  bool Interlaced() const { return interlace_ != 0; }
  int BitDepth() const { return bitDepth_; }
  int32_t TransparentColor() const { return transparentColor_; }
  int32_t BackgroundColor() const { return backgroundColor_; }
  double Gamma() const { return gamma_; }
  int32_t SignificantBits() const { return sBit_; }
  const std::string& Comment() const { return comment_; }
  // The image was cut short (the data ended, a progress handler stopped the
  // read, or there was no image data): what was decoded stays.
  bool Truncated() const { return truncated_; }

 protected:
  void SetupTarget() override;

 private:
  void reset();
  // Reads inside the current chunk, counting down what is left of it.
  uint8_t chunkByte();
  uint16_t chunkWord();
  uint32_t chunkLong();
  void chunkBlock(void* dest, int64_t count);
  void readChunks();
  void readIHDR(uint32_t length);
  void readPLTE(uint32_t length);
  void readTRNS(uint32_t length);
  void readBKGD(uint32_t length);
  void readSBIT(uint32_t length);
  void readTEXT(uint32_t length);
  void readKWNG(uint32_t length);
  // A grey or RGB sample value of tRNS or bKGD as a colour.
  int32_t readSampleColor(uint32_t length, bool paletteIndex);
  void startImage();
  void readImage();
  size_t refill(uint8_t* dest, size_t max);
  void chooseConverter();
  void buildPaletteMask();

  // Chunk state.
  bool seenIHDR_ = false, seenIDAT_ = false, seenIEND_ = false, seenPLTE_ = false,
       seenKWNG_ = false;
  bool imageDone_ = false;
  int64_t chunkLeft_ = 0;
  uint32_t chunkType_ = 0;
  // From IHDR.
  int depth_ = 0;
  int colorType_ = 0;
  int interlace_ = 0;
  bool hasAlphaChannel_ = false;
  bool isGray_ = false;
  bool paletteAlpha_ = false;
  bool paletteWithAlphaFile_ = false;
  bool rowsEncoded_ = false;
  bool alphaFromTable_ = false;
  int bitDepth_ = 0;
  int pngBitsPerPixel_ = 0;
  std::array<uint8_t, 256> alphaTable_{};
  int32_t transparentColor_ = -1;
  int32_t backgroundColor_ = -1;
  double gamma_ = 0;
  int32_t sBit_ = 0;
  std::string comment_;
  bool truncated_ = false;
  std::string key_;
  TDIB* maskTarget_ = nullptr;

  TKwInflater inflater_;
  std::vector<uint8_t> rowStorage_;
  using Converter = void (*)(const uint8_t* src, uint8_t* dest, uint8_t* mask, int count);
  Converter convert_ = nullptr;
};

class TKwCustomGraphicWriteStream : public TKwCustomWriteStream {
 public:
  // Reports through the source bitmap's OnProgress and continues.
  int Progress(int percent) override;
  virtual void Write(TDIB& source, TKwStream& dest) = 0;

 protected:
  TDIB* source_ = nullptr;
};

class TKwPNGWriteStream : public TKwCustomGraphicWriteStream {
 public:
  TKwPNGWriteStream();
  ~TKwPNGWriteStream() override;

  // Raises EKwPNG for bad settings before writing anything, for a deflate
  // failure, and when a progress handler stopped the write (what was
  // written before stays in the destination).
  void Write(TDIB& source, TKwStream& dest) override;

  bool WriteSignature = true;
  int IdatSize = 32768;
  int CompressionLevel = -1;
  int FilterMode = 1;
  bool Interlaced = false;
  bool GrayScale = false;
  bool PaletteAlphaMode = false;
  int32_t BackgroundColor = -1;
  int32_t TransparentColor = -1;
  std::string Comment;
  double Gamma = 0;
  int32_t SignificantBits = 0;
  int PhysUnit = 0;
  int32_t PixelsPerUnitX = 0, PixelsPerUnitY = 0;
  bool WriteCurrentTime = true;
  const TKwPNGTime* ChunkTime = nullptr;
  const TKwPNGChromaticity* Chromaticity = nullptr;
  const TKwPNGGifControl* GifControl = nullptr;
  // 8-bit mask written as alpha (255 - mask) when usable.
  const TDIB* Mask = nullptr;
  // Entries of the source palette that count; -1 takes the bitmap's table.
  int PaletteCount = -1;
  std::string RowKey;
  TKwRowEvent OnEncodeRow;

 private:
  void writeChunk(const char* type, const uint8_t* data, size_t size);
  void writeHeader();
  void writeTime();
  void writeText(const std::string& keyword, const std::string& text);
  void writePrivate();
  void writeSmallChunks();
  void writePalette();
  void writeBackgroundAndTransparency();
  // The three 16-bit samples or grey level of a colour as chunk bytes.
  std::vector<uint8_t> colorSample(int32_t color, bool forTransparency);
  void buildGreyMap();
  void writeImage();
  void convertRow(int y, int startX, int step, int count, uint8_t* out);

  // Per write.
  int sourceBits_ = 24;
  int outputBits_ = 24;
  bool maskUsed_ = false;
  bool paletteWithAlpha_ = false;
  bool alphaWritten_ = false;
  bool greyWritten_ = false;
  int pngDepth_ = 8;
  int pngColorType_ = 2;
  int pngBitsPerPixel_ = 24;
  bool greyInvert_ = false;
  std::array<uint8_t, 256> greyMap_{};
  const TRGBQuad* paletteEntries_ = nullptr;
  int paletteCount_ = 0;
  TKwRowFilter filter_;
};

}  // namespace zirk
