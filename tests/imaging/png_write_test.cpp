// The PNG writer: what libpng reads back from every mode, the chunks it
// writes and their order, IDAT splitting, filter choice and the failures.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "imaging/KwPNG.h"
#include "imaging_support.h"
#include "png_support.h"

namespace zirk::test {
namespace {

Bytes write(TKwPNGWriteStream& writer, TDIB& source) {
  TKwMemoryStream out;
  writer.Write(source, out);
  return out.Bytes();
}

std::vector<std::string> typesOf(const Bytes& file) {
  std::vector<std::string> types;
  for (const PngChunk& c : ChunksOf(file)) types.push_back(c.type);
  return types;
}

const PngChunk* findChunk(const std::vector<PngChunk>& chunks, const std::string& type) {
  for (const PngChunk& c : chunks) {
    if (c.type == type) return &c;
  }
  return nullptr;
}

int luminance(uint32_t c) {
  return ColorR(c) * 77 + ColorG(c) * 150 + ColorB(c) * 29;
}

// What a viewer should see of the source written in the given mode.
Rgba expectedOf(const TDIB& source, const TDIB* mask, bool grey) {
  const int bits = source.BitCount();
  const bool alpha = mask && bits >= 8 && (grey || bits > 8);
  Rgba out = RgbaOfBitmap(source, alpha ? mask : nullptr);
  if (!grey) return out;
  const bool invert = bits == 1 && luminance(QuadToColor(source.ColorTable()[0])) >
                                       luminance(QuadToColor(source.ColorTable()[1]));
  for (int y = 0; y < source.Height(); ++y) {
    for (int x = 0; x < source.Width(); ++x) {
      uint8_t* p = &out.pixels[(size_t(y) * source.Width() + x) * 4];
      const uint32_t c = RGBColor(p[0], p[1], p[2]);
      int v = luminance(c) >> 8;
      if (bits == 4) v = (luminance(c) >> 12) * 17;
      if (bits == 1) v = (source.GetRawPixel(x, y) ^ (invert ? 1 : 0)) * 255;
      p[0] = p[1] = p[2] = static_cast<uint8_t>(v);
    }
  }
  return out;
}

TEST(PngWrite, EveryModeReadsBackThroughLibpngAndTheReader) {
  // Every bit count, mask or not, grey or not, interlaced or not, and filter mode.
  for (int mode = 0; mode < 7 * 2 * 2 * 2 * 7; ++mode) {
    const int bits = std::array{1, 4, 8, 15, 16, 24, 32}[mode / 56];
    const bool withMask = mode / 28 % 2, grey = mode / 14 % 2, interlaced = mode / 7 % 2;
    const int filterMode = mode % 7;
    SCOPED_TRACE(testing::Message() << bits << " bits, mask " << withMask << ", grey " << grey
                                    << ", interlaced " << interlaced << ", filter " << filterMode);
    const uint32_t seed = uint32_t(bits * 1000 + filterMode * 10 + withMask * 2 + grey);
    TDIB source(37, 23, bits);
    FillRandom(source, seed);
    TDIB mask(37, 23, 8);
    FillRandom(mask, seed + 1);
    TKwPNGWriteStream writer;
    writer.GrayScale = grey;
    writer.Interlaced = interlaced;
    writer.FilterMode = filterMode;
    writer.WriteCurrentTime = false;
    if (withMask) writer.Mask = &mask;
    const Bytes file = write(writer, source);
    const Rgba expected = expectedOf(source, withMask ? &mask : nullptr, grey);
    EXPECT_EQ(LibpngDecode(file), expected);
    TKwPNG back;
    TKwMemoryStream stream(file);
    back.LoadFromStream(stream);
    EXPECT_EQ(RgbaOfPicture(back), expected);
  }
}

// Palette with alpha: indices stored as grey + alpha, the palette beside
// them and the private chunk saying so; only a reader that honours the flag
// sees the palette.
TEST(PngWrite, PaletteAlphaModeStoresIndicesAsGreyWithAlpha) {
  TDIB source(7, 5, 8);
  FillRandom(source, 41);
  TDIB mask(7, 5, 8);
  FillRandom(mask, 42);
  TKwPNGWriteStream writer;
  writer.PaletteAlphaMode = true;
  writer.Mask = &mask;
  const Bytes file = write(writer, source);
  const auto chunks = ChunksOf(file);
  EXPECT_EQ(chunks[0].data[9], 4);
  EXPECT_EQ(findChunk(chunks, "kwNG")->data[5], 1);
  ASSERT_NE(findChunk(chunks, "PLTE"), nullptr);
  const Rgba viaLibpng = LibpngDecode(file);
  EXPECT_EQ(viaLibpng.pixels[0], source.GetRawPixel(0, 0));

  TKwPNGReadStream reader;
  reader.PaletteAlphaFlagHonoured = true;
  TDIB image, readMask;
  reader.MaskTarget = &readMask;
  TKwMemoryStream stream(file);
  reader.Read(&image, stream, 0);
  EXPECT_EQ(RgbaOfBitmap(image, &readMask), RgbaOfBitmap(source, &mask));
}

TEST(PngWrite, ColourTypeFollowsBitmapMaskAndGreyMode) {
  const struct {
    const char* name;
    int bits;
    int maskWidth, maskBits;
    bool grey;
    int depth, colorType;
  } cases[] = {
      {"8-bit with a mask stays a palette image", 8, 5, 8, false, 8, 3},
      {"24-bit with a mask", 24, 5, 8, false, 8, 6},
      {"mask of another size is ignored", 24, 4, 8, false, 8, 2},
      {"mask that is not 8-bit is ignored", 24, 5, 4, false, 8, 2},
      {"32-bit without a mask drops its fourth byte", 32, 0, 8, false, 8, 2},
      {"15-bit", 15, 0, 8, false, 8, 2},
      {"4-bit", 4, 0, 8, false, 4, 3},
      {"grey 4-bit", 4, 5, 8, true, 4, 0},
      {"grey 8-bit with a mask", 8, 5, 8, true, 8, 4},
      {"grey 24-bit", 24, 0, 8, true, 8, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TDIB source(5, 3, c.bits);
    FillRandom(source, 7);
    TDIB mask;
    if (c.maskWidth > 0) mask.SetSize(c.maskWidth, 3, c.maskBits);
    TKwPNGWriteStream writer;
    writer.GrayScale = c.grey;
    writer.Mask = &mask;
    const Bytes file = write(writer, source);
    const Bytes ihdr = ChunksOf(file).front().data;
    EXPECT_EQ(ihdr[8], c.depth);
    EXPECT_EQ(ihdr[9], c.colorType);
  }
}

TEST(PngWrite, ChunksComeInTheirOrderWithTheirContents) {
  TDIB source(4, 4, 8);
  FillRandom(source, 3);
  source.ColorTable()[5] = {1, 2, 3, 0};
  const TKwPNGTime time{2024, 2, 29, 12, 30, 59};
  const TKwPNGChromaticity chroma{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
  const TKwPNGGifControl gif{0, 1, 0, 0};
  TKwPNGWriteStream writer;
  writer.WriteCurrentTime = false;
  writer.ChunkTime = &time;
  writer.Chromaticity = &chroma;
  writer.GifControl = &gif;
  writer.Comment = "a note";
  writer.Gamma = 0.45455;
  writer.SignificantBits = 0x050505;
  writer.BackgroundColor = 0x01000007;
  writer.TransparentColor = int32_t(RGBColor(3, 2, 1));
  writer.PhysUnit = 2;
  writer.PixelsPerUnitX = 72;
  writer.PixelsPerUnitY = 96;
  writer.PaletteCount = 16;
  const Bytes file = write(writer, source);
  EXPECT_EQ(typesOf(file), (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tEXt", "kwNG", "gIFg",
                                                     "gAMA", "cHRM", "sBIT", "PLTE", "bKGD", "tRNS",
                                                     "pHYs", "IDAT", "IEND"}));
  const auto chunks = ChunksOf(file);
  EXPECT_EQ(chunks[1].data, (Bytes{0x07, 0xE8, 2, 29, 12, 30, 59}));
  EXPECT_EQ(std::string(chunks[2].data.begin(), chunks[2].data.end()),
            std::string("Comment\0a note", 14));
  EXPECT_EQ(std::string(chunks[3].data.begin(), chunks[3].data.end()),
            std::string("Software\0KwPNG ver 3.4", 22));
  EXPECT_EQ(chunks[4].data, (Bytes{'K', 'W', 'N', '3', 0, 0, 0, 0}));
  EXPECT_EQ(chunks[6].data, (Bytes{0, 0, 0xB1, 0x8F}));  // 45455
  EXPECT_EQ(chunks[8].data, (Bytes{5, 5, 5}));
  EXPECT_EQ(chunks[9].data.size(), 16u * 3);
  EXPECT_EQ(chunks[10].data, (Bytes{7}));
  // The key colour is entry 5's: the table ends with its 0.
  EXPECT_EQ(chunks[11].data, (Bytes{255, 255, 255, 255, 255, 0}));
  // 72 and 96 dots per inch in pixels per metre.
  EXPECT_EQ(chunks[12].data, (Bytes{0, 0, 0x0B, 0x12, 0, 0, 0x0E, 0xC3, 1}));
}

TEST(PngWrite, OptionalChunksAreLeftOutWhenTheirValuesAreUnusable) {
  TDIB source(4, 4, 24);
  FillRandom(source, 4);
  const TKwPNGTime badTime{2024, 13, 1, 0, 0, 0};
  const struct {
    const char* name;
    std::function<void(TKwPNGWriteStream&)> setup;
    const char* absent;
  } cases[] = {
      {"empty comment", [](TKwPNGWriteStream&) {}, "-"},
      {"month 13",
       [&](TKwPNGWriteStream& w) {
         w.WriteCurrentTime = false;
         w.ChunkTime = &badTime;
       },
       "tIME"},
      {"no time record", [](TKwPNGWriteStream& w) { w.WriteCurrentTime = false; }, "tIME"},
      {"gamma 0", [](TKwPNGWriteStream& w) { w.Gamma = 0; }, "gAMA"},
      {"unit 3",
       [](TKwPNGWriteStream& w) {
         w.PhysUnit = 3;
         w.PixelsPerUnitX = w.PixelsPerUnitY = 100;
       },
       "pHYs"},
      {"grey: no sBIT",
       [](TKwPNGWriteStream& w) {
         w.GrayScale = true;
         w.SignificantBits = 0x080808;
       },
       "sBIT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TKwPNGWriteStream writer;
    c.setup(writer);
    const Bytes file = write(writer, source);
    for (const PngChunk& chunk : ChunksOf(file)) {
      EXPECT_NE(chunk.type, c.absent);
      if (chunk.type == "tEXt") {
        EXPECT_NE(chunk.data[0], 'C');
      }
    }
  }
}

TEST(PngWrite, DotsPerInchBecomePixelsPerMetre) {
  const struct {
    int32_t dpi;
    uint32_t perMetre;
  } cases[] = {{1, 39}, {72, 2834}, {96, 3779}, {2147483647, 2147483647}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    TDIB source(1, 1, 24);
    TKwPNGWriteStream writer;
    writer.PhysUnit = 2;
    writer.PixelsPerUnitX = writer.PixelsPerUnitY = c.dpi;
    const Bytes pHYs = findChunk(ChunksOf(write(writer, source)), "pHYs")->data;
    const uint32_t x = uint32_t(pHYs[0]) << 24 | pHYs[1] << 16 | pHYs[2] << 8 | pHYs[3];
    EXPECT_EQ(x, c.perMetre);
    EXPECT_EQ(pHYs[8], 1);
  }
}

TEST(PngWrite, ImageDataIsSplitIntoFullChunks) {
  TDIB source(120, 90, 24);
  FillRandom(source, 11);
  auto idatSizes = [&](int idatSize) {
    TKwPNGWriteStream writer;
    writer.IdatSize = idatSize;
    std::vector<size_t> sizes;
    for (const PngChunk& c : ChunksOf(write(writer, source))) {
      if (c.type == "IDAT") sizes.push_back(c.data.size());
    }
    return sizes;
  };
  const std::vector<size_t> one = idatSizes(100000);
  ASSERT_EQ(one.size(), 1u);
  const size_t total = one[0];
  const std::vector<size_t> split = idatSizes(1000);
  EXPECT_EQ(split.size(), (total + 999) / 1000);
  for (size_t i = 0; i + 1 < split.size(); ++i) EXPECT_EQ(split[i], 1000u);
  // A size dividing the data exactly leaves no empty chunk at the end.
  size_t divisor = 0;
  for (size_t d = 256; d <= total / 2 && !divisor; ++d) {
    if (total % d == 0) divisor = d;
  }
  ASSERT_NE(divisor, 0u) << total;
  const std::vector<size_t> exact = idatSizes(int(divisor));
  EXPECT_EQ(exact, std::vector<size_t>(total / divisor, divisor));
}

TEST(PngWrite, IdatSizeOutsideItsRangeIsRefusedBeforeWriting) {
  for (int size : {255, 100001}) {
    TKwPNG png;
    png.Bitmap().SetSize(2, 2, 24);
    png.IdatSize = size;
    TKwMemoryStream out;
    EXPECT_EQ(ErrorOf<EKwPNG>([&] { png.SaveToStream(out); }),
              "Write PNG Param: Err IDAT Size(min:256  max:100000)");
    EXPECT_EQ(out.Size(), 0);
  }
}

TEST(PngWrite, FilterModesChooseTheRowFilters) {
  auto filterBytes = [](TDIB& source, int mode) {
    TKwPNGWriteStream writer;
    writer.FilterMode = mode;
    const Bytes data = ImageDataOf(write(writer, source));
    const size_t row = data.size() / size_t(source.Height());
    std::vector<int> types;
    for (size_t i = 0; i < data.size(); i += row) types.push_back(data[i]);
    return types;
  };
  TDIB gradient(64, 8, 24);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 64; ++x) gradient.SetRawPixel(x, y, uint32_t(x * 3 + y) * 0x010203u);
  }
  for (int mode = 1; mode <= 6; ++mode) {
    const int expected = mode >= 2 && mode <= 5 ? mode - 1 : 0;
    EXPECT_EQ(filterBytes(gradient, mode), std::vector<int>(8, expected)) << mode;
  }
  // Adaptive: a gradient is filtered; rows of few byte values are not;
  // 4-bit rows never are.
  for (int type : filterBytes(gradient, 0)) EXPECT_NE(type, 0);
  TDIB flat(64, 8, 24);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 64; ++x) flat.SetRawPixel(x, y, (x % 2) ? 0x102030u : 0x405060u);
  }
  EXPECT_EQ(filterBytes(flat, 0), std::vector<int>(8, 0));
  TDIB nibbles(64, 8, 4);
  FillRandom(nibbles, 5);
  EXPECT_EQ(filterBytes(nibbles, 0), std::vector<int>(8, 0));
}

TEST(PngWrite, RowScoreRules) {
  Bytes ninetyOne(91, 1);
  for (uint8_t v = 2; v <= 10; ++v) ninetyOne.push_back(v);
  const struct {
    const char* name;
    Bytes row;
    int bitsPerPixel;
    int score;
  } cases[] = {
      {"eight values", {0, 1, 2, 3, 4, 5, 6, 7, 0, 1}, 8, -1},
      {"one value fills 91 of 100 bytes", ninetyOne, 8, -1},
      // n 10, d 10, top three 1 + 1 + 1: 10/1.5/10*1000 + 3/10*1000.
      {"ten values", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 8, 967},
      {"ten values below 8 bits", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 4, 1200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RowScore(c.row.data(), c.row.size(), c.bitsPerPixel), c.score);
  }
}

// A write stopped by its progress raises; the file has no image data.
TEST(PngWrite, StoppedWriteRaises) {
  struct StopInImage : TKwPNGWriteStream {
    int Progress(int percent) override { return percent > 40 ? 1 : 0; }
  };
  TDIB source(64, 64, 24);
  FillRandom(source, 9);
  StopInImage writer;
  TKwMemoryStream out;
  EXPECT_EQ(ErrorOf<EKwPNG>([&] { writer.Write(source, out); }), "Write Image (PNG): Stopped");
  const std::vector<std::string> types = typesOf(out.Bytes());
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), "IHDR");
  EXPECT_EQ(std::count(types.begin(), types.end(), "IEND"), 0);
}

// Rows handed to the hooks: encoded on writing, decoded on reading.
TEST(PngWrite, RowHooksRoundTrip) {
  auto xorRow = [](uint8_t* row, int length, int index, const std::string& key) {
    for (int i = 0; i < length; ++i) row[i] ^= uint8_t(key[size_t(i) % key.size()] + index);
  };
  TKwPNG png;
  png.Bitmap().SetSize(20, 10, 24);
  FillRandom(png.Bitmap(), 12);
  png.RowKey = "key";
  png.OnEncodeRow = xorRow;
  png.FilterMode = 5;
  TKwMemoryStream out;
  png.SaveToStream(out);
  EXPECT_EQ(findChunk(ChunksOf(out.Bytes()), "kwNG")->data[4], 1);
  EXPECT_NE(LibpngDecode(out.Bytes()), RgbaOfBitmap(png.Bitmap()));

  TKwPNG back;
  std::string askedKey;
  back.OnRowKey = [&](std::string& key) {
    askedKey = key;
    key = "key";
  };
  back.OnDecodeRow = xorRow;
  out.SetPosition(0);
  back.LoadFromStream(out);
  EXPECT_EQ(askedKey, "");
  EXPECT_EQ(RgbaOfPicture(back), RgbaOfBitmap(png.Bitmap()));
}

}  // namespace
}  // namespace zirk::test
