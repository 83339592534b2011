#pragma once
// Helpers of the GIF tests: a byte-level file builder, an LZW code packer
// for hand-made code streams, giflib's own decode as the reference, and
// the reference files of tests/data/gif (index dumps and PNG screens).

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/GIFImage.h"
#include "png_support.h"

namespace zirk::test {

using GifBytes = std::vector<uint8_t>;

// Builds a GIF file block by block.
class GifBuilder {
 public:
  // "GIF89a" screen descriptor; colors are 0x00BBGGRR, padded to 2^n.
  GifBuilder& Header(int width, int height, const std::vector<uint32_t>& globalColors,
                     const std::string& signature = "GIF89a", uint8_t background = 0);
  GifBuilder& Gce(int disposal, int delay, int transparentIndex = -1);
  GifBuilder& Comment(const std::vector<std::string>& lines);
  // Application extension with the given block size byte and identifier
  // bytes, then the sub-blocks and a terminator.
  GifBuilder& AppExt(uint8_t blockSize, const std::string& ident,
                     const std::vector<GifBytes>& blocks);
  GifBuilder& Loop(uint16_t count);
  // Descriptor (packed byte as given, local table appended when non-empty
  // and the packed byte's bit 7 is set), then raw image data bytes.
  GifBuilder& Image(int left, int top, int width, int height, uint8_t packed,
                    const std::vector<uint32_t>& localColors, const GifBytes& imageData);
  // Descriptor and pixels encoded by the player's own encoder.
  GifBuilder& Pixels(int left, int top, int width, int height, const std::vector<uint8_t>& pixels,
                     int bits, bool interlaced = false);
  GifBuilder& Byte(uint8_t b) { return Raw({b}); }
  GifBuilder& Raw(const GifBytes& bytes);
  GifBuilder& Trailer() { return Byte(';'); }
  const GifBytes& Bytes() const { return bytes_; }

 private:
  void colors(const std::vector<uint32_t>& table);
  GifBytes bytes_;
};

// A square screen of the given size with 1 x 1 frames along its diagonal
// (disposals 1, 2, 3 in turn): a file of a few hundred bytes.
GifBytes GifTinyFramesOnAHugeScreen(int size, int frames);

// Packs codes of the given widths LSB first into data sub-blocks of at
// most 255 bytes with a zero terminator, after the minimum code size byte.
GifBytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codesAndWidths,
                   bool terminator = true);

// giflib's decode of a whole file (DGifSlurp).
struct GiflibFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlaced = false;
  std::vector<uint8_t> Pixels;  // display order
  std::vector<uint32_t> LocalColors;
};
struct GiflibFile {
  bool Ok = false;
  int Width = 0, Height = 0;
  std::vector<uint32_t> GlobalColors;
  std::vector<GiflibFrame> Frames;
};
GiflibFile GiflibDecode(const GifBytes& file);

// Loads bytes into a picture, collecting the warnings.
void LoadGif(TGIFImage& image, const GifBytes& bytes, std::vector<std::string>* warnings = nullptr);
GifBytes SaveGif(TGIFImage& image);

// A binary PGM (P5); returns false when it cannot be read.
bool ReadPgm(const std::string& path, int& width, int& height, std::vector<uint8_t>& pixels);
// The reference screen after frame n of a file of the animation suite
// (-1: a still picture).
Rgba SuiteFrame(const std::string& name, int frame);
// Pixels that differ from the reference: any colour or alpha but 255 where
// it is opaque, alpha but 0 where it is clear; -1 when the sizes differ.
int WrongPixels(const Rgba& expected, const Rgba& got);

}  // namespace zirk::test
