#pragma once
// Builds layered image files byte by byte, independently of the reader, so
// tests (and the film and demo builders) can make files of every version,
// layout and defect. Integers are little-endian; every field is written as
// given, so a test can put any value anywhere.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zirk::test {

using Bytes = std::vector<uint8_t>;

// zlib stream of the bytes (default level).
Bytes Deflate(const Bytes& data);

// The deck generator of the format written out plainly: deal 0..n-1, then
// x := 5x + c and take the card at x mod (cards left), n times.
std::vector<int32_t> DealOrder(int32_t n, uint32_t increment);

// Bytes of one unpadded pixel row, and of one stored row (4-byte aligned).
int32_t PackedRowBytes(int32_t width, int32_t bitCount);
int32_t StoredRowBytes(int32_t width, int32_t bitCount);

// A plane body of plain rows from unpadded rows (top first): each row is
// padded to the stored row length; with an increment, stored row i holds
// image row DealOrder(height, increment)[i].
Bytes PlainRowsBody(const std::vector<Bytes>& rows, int32_t width, int32_t bitCount,
                    uint32_t scrambleIncrement = 0);

struct TileEntry {
  int32_t Kind = -1;  // -1 stored, -2 repeat of an earlier tile, >= 0 a frame
  int32_t Value = 0;
};

// A tiled plane body: the table (scrambled with the increment when not 0)
// and the data of the stored tiles, cut from the unpadded image rows.
Bytes TiledBody(const std::vector<Bytes>& rows, int32_t width, int32_t height, int32_t bitCount,
                int32_t tileWidth, int32_t tileHeight, const std::vector<TileEntry>& table,
                uint32_t scrambleIncrement = 0);

struct DorvLayerRecord {
  bool Visible = true;
  int32_t Transparent = -1;
  int32_t Opacity = 255;
  uint8_t UseAlpha = 0;  // written from record version 101
  std::string Name = "Layer";
  Bytes Pixels;                // the stored pixel data
  std::optional<Bytes> Alpha;  // the stored alpha data; none = size 0 (from version 100)
  // Overrides of the stored sizes, for damaged files.
  std::optional<int32_t> PixelSizeField;
  std::optional<int32_t> AlphaSizeField;
};

struct DorvRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};

struct DorvFrameRecord {
  std::string Name = "Frame1";
  int32_t Transparent = -1;
  int32_t Delay = 100;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitCount = 24;
  // 0x00RRGGBB entries; written at 8 bits or less, padded with zeros to
  // 2^bit count entries.
  std::vector<uint32_t> Palette;
  std::vector<DorvLayerRecord> Layers;
  std::optional<int32_t> LayerCountField;
  // Written from record version 104; a count field overrides the length.
  std::vector<DorvRect> Rects1, Rects2;
  std::optional<int32_t> Rects1CountField, Rects2CountField;
};

struct DorvHeaderRecord {
  int32_t Version = 106;
  int32_t Width = 0, Height = 0, BitCount = 0;
  std::optional<int32_t> FrameCount;  // default: the number of frames
  uint8_t Flag = 1, Scramble = 0, Compression = 0, Reserved1 = 0;
  int32_t Background = 0;
  int32_t TileWidth = 0, TileHeight = 0;
  uint8_t PlainFirstLayer = 0, Quality = 0;
};

struct DorvFile {
  // 0 writes no tag; else "Dorv" and three digits.
  int32_t TagVersion = 106;
  std::optional<std::string> RawTag;  // replaces the tag as given
  // Below 103: frame count (default: the number of frames), a skipped byte,
  // and at 102 the background.
  std::optional<int32_t> LegacyFrameCount;
  int32_t LegacyBackground = 0;
  // From 103: the header length (default 40) and the record; a length above
  // 40 is followed by that many filler bytes; below 40 the record is cut.
  std::optional<int32_t> HeaderLength;
  DorvHeaderRecord Header;
  std::vector<DorvFrameRecord> Frames;

  // The record version the frame and layer records follow.
  int32_t RecordVersion() const { return TagVersion >= 103 ? Header.Version : TagVersion; }
};

Bytes BuildDorv(const DorvFile& file);

}  // namespace zirk::test
