#pragma once
// Helpers of the PNG tests: a byte-level PNG builder, pictures as RGBA, and
// the independent decoders the reader is checked against (the reference
// PAM files and libpng).

#include <cstdint>
#include <string>
#include <vector>

#include "imaging/KwPNG.h"
#include "support/dorvbuilder.h"

namespace zirk::test {

// Builds a PNG chunk by chunk; CRCs are right unless asked otherwise.
class PngBuilder {
 public:
  PngBuilder();
  PngBuilder& Chunk(const std::string& type, const Bytes& data, bool badCrc = false);
  PngBuilder& Ihdr(uint32_t width, uint32_t height, int depth, int colorType, int interlace = 0);
  // One IDAT of the zlib form of the given rows (each row with its filter
  // byte already in front).
  PngBuilder& Idat(const Bytes& filteredRows);
  PngBuilder& End();
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

// Rows with filter byte 0 in front of each.
Bytes Unfiltered(const std::vector<Bytes>& rows);
// A complete grey or palette file of one row per entry of `rows`.
Bytes SimplePng(int width, const std::vector<Bytes>& rows, int depth, int colorType,
                const std::vector<std::pair<std::string, Bytes>>& extra = {});

struct PngChunk {
  std::string type;
  Bytes data;
};
// The chunks after the signature, in file order.
std::vector<PngChunk> ChunksOf(const Bytes& file);
// The inflated content of all IDAT chunks.
Bytes ImageDataOf(const Bytes& file);

struct Rgba {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // R, G, B, A
  bool operator==(const Rgba&) const = default;
};

// The picture as a viewer shows it: the image's colours, alpha from the
// mask (255 - mask) or 0 where the transparent colour matches.
Rgba RgbaOfPicture(const TKwPNG& png);
// A bitmap's colours with alpha 255, or 255 - mask when a mask is given.
Rgba RgbaOfBitmap(const TDIB& image, const TDIB* mask = nullptr);
// A PAM RGB_ALPHA file, 16-bit samples reduced to their high byte.
Rgba ReadPam(const std::string& path);
// libpng with 16-bit samples stripped to the high byte, everything
// expanded to RGBA; raises std::runtime_error with libpng's message.
Rgba LibpngDecode(const Bytes& data);

// The tRNS key of a grey or RGB file as the reader compares it (8-bit
// samples; 16-bit samples keep the high byte; low grey depths scaled);
// false when the file has none.
bool TrnsKey(const Bytes& data, uint8_t rgb[3]);
// Alpha 0 where the colour equals the key, else 255.
void ApplyKey(Rgba& image, const uint8_t rgb[3]);

}  // namespace zirk::test
