// Frame pixels and the LZW codec: every test picture decodes to its
// reference indices, the encoder's files decode identically through
// giflib, and corrupt code streams stop cleanly.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

#include "gif_support.h"
#include "imaging/GIFImageLZW.h"
#include "imaging_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

std::vector<TGIFSubImage*> nonEmptyFrames(TGIFImage& image) {
  std::vector<TGIFSubImage*> frames;
  for (int i = 0; i < image.Count(); ++i) {
    if (!image.Images(i).Empty()) frames.push_back(&image.Images(i));
  }
  return frames;
}

TEST(GifDecode, EveryTestImageDecodesToItsReferenceIndicesAndFields) {
  std::map<std::string, std::unique_ptr<TGIFImage>> loaded;
  std::map<std::string, std::vector<std::string>> warnings;
  const auto rows = ReadTsv(dataPath("gif/index.tsv"));
  ASSERT_GT(rows.size(), 100u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 21u);
    const std::string& file = row[0];
    SCOPED_TRACE(file + " frame " + row[9]);
    auto& image = loaded[file];
    if (!image) {
      image = std::make_unique<TGIFImage>();
      LoadGif(*image, readFile(dataPath("gif/" + file)), &warnings[file]);
      EXPECT_EQ(image->GetWidth(), std::stoi(row[2]));
      EXPECT_EQ(image->GetHeight(), std::stoi(row[3]));
      EXPECT_EQ(image->Header().ColorMap().Count(), row[4] == "yes" ? std::stoi(row[5]) : 0);
      EXPECT_EQ(image->Header().BackgroundColorIndex, std::stoi(row[6]));
      // The loop count of an animation is read from its first frame's blocks.
      const TGIFAppExtNSLoop* loop = nullptr;
      for (const auto& e : image->Images(0).Extensions()) {
        if (!loop) loop = dynamic_cast<const TGIFAppExtNSLoop*>(e.get());
      }
      EXPECT_EQ(loop ? std::to_string(loop->Loops) : "-", row[8]);
    }
    auto frames = nonEmptyFrames(*image);
    ASSERT_EQ(int(frames.size()), std::stoi(row[7]));
    TGIFSubImage& f = *frames[size_t(std::stoi(row[9]))];
    EXPECT_EQ(f.Left, std::stoi(row[10]));
    EXPECT_EQ(f.Top, std::stoi(row[11]));
    EXPECT_EQ(f.Width, std::stoi(row[12]));
    EXPECT_EQ(f.Height, std::stoi(row[13]));
    EXPECT_EQ(f.Interlaced(), row[14] == "yes");
    EXPECT_EQ(f.ColorMap().Count(), std::stoi(row[15]));
    const TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
    if (row[18] == "-") {
      EXPECT_EQ(gce, nullptr);
    } else {
      ASSERT_NE(gce, nullptr);
      EXPECT_EQ(gce->Disposal(), std::stoi(row[18]));
      EXPECT_EQ(gce->Delay, std::stoi(row[19]));
      EXPECT_EQ(f.Transparent(), row[17] != "-");
      if (row[17] != "-") {
        EXPECT_EQ(gce->TransparentColorIndex(), std::stoi(row[17]));
      }
    }
    int w = 0, h = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(ReadPgm(dataPath("gif/" + row[20]).string(), w, h, expected));
    ASSERT_EQ(f.Data().size(), expected.size());
    EXPECT_TRUE(f.Data() == expected);
  }
  for (const auto& [file, list] : warnings) {
    EXPECT_TRUE(list.empty()) << file << ": " << (list.empty() ? "" : list.front());
  }
}

TEST(GifDecode, InterlacedRowOrderTakesFourPasses) {
  struct Case {
    int height;
    std::vector<int> rows;
  } cases[] = {
      {1, {0}},
      {2, {0, 1}},
      {5, {0, 4, 2, 1, 3}},
      {10, {0, 8, 4, 2, 6, 1, 3, 5, 7, 9}},
  };
  for (const Case& c : cases) {
    std::vector<int> rows;
    for (int r = 0; r < c.height; ++r) rows.push_back(GIFInterlacedRow(r, c.height));
    EXPECT_EQ(rows, c.rows) << "height " << c.height;
  }
}

// Decodes hand-made image data for a frame of the given size.
struct Decoded {
  std::vector<uint8_t> pixels;
  std::vector<std::string> warnings;
  int64_t position = 0;
};

Decoded decode(const GifBytes& data, int width, int height, bool interlaced = false) {
  Decoded d;
  d.pixels.assign(size_t(width) * size_t(height), 0);
  TKwMemoryStream stream(data);
  DecodeGIFPixels(stream, d.pixels.data(), width, height, interlaced,
                  [&d](const std::string& m) { d.warnings.push_back(m); });
  d.position = stream.Position();
  return d;
}

// giflib's decode of image data as the only frame of a file; empty when it
// fails.
std::vector<uint8_t> giflibPixels(const GifBytes& data, int width, int height) {
  GiflibFile ref = GiflibDecode(GifBuilder()
                                    .Header(width, height, std::vector<uint32_t>(256, 0))
                                    .Image(0, 0, width, height, 0, {}, data)
                                    .Trailer()
                                    .Bytes());
  return ref.Ok && ref.Frames.size() == 1 ? ref.Frames[0].Pixels : std::vector<uint8_t>();
}

TEST(GifDecode, CorruptAndShortCodeStreamsStopWithAWarning) {
  struct Case {
    const char* name;
    GifBytes data;
    std::vector<uint8_t> pixels;
    std::vector<std::string> warnings;
    int width = 2, height = 2;
    bool interlaced = false;
  } cases[] = {
      {"well formed",
       PackCodes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}),
       {1, 2, 3, 0},
       {}},
      {"no clear code first", PackCodes(2, {{1, 3}, {1, 3}, {6, 3}, {5, 4}}), {1, 1, 1, 1}, {}},
      {"minimum code size 0", PackCodes(0, {{1, 1}}), {0, 0, 0, 0}, {sGIFPrematureEnd}},
      {"minimum code size 12", PackCodes(12, {{4096, 13}}), {0, 0, 0, 0}, {sGIFPrematureEnd}},
      {"code past the next free",
       PackCodes(2, {{4, 3}, {1, 3}, {7, 3}, {5, 3}}),
       {1, 0, 0, 0},
       {sGIFPrematureEnd}},
      {"first code not a colour", PackCodes(2, {{4, 3}, {6, 3}}), {0, 0, 0, 0}, {sGIFPrematureEnd}},
      {"data ends before the pixels",
       PackCodes(2, {{4, 3}, {3, 3}}),
       {3, 0, 0, 0},
       {"Decoder bit buffer under-run"}},
      {"no end code after the pixels",
       PackCodes(2, {{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 4}}),
       {1, 1, 1, 1},
       {}},
      {"string longer than the frame",
       PackCodes(2, {{4, 3}, {2, 3}, {6, 3}, {7, 3}, {5, 4}}),
       {2, 2, 2, 2},
       {}},
      {"data cut by the end of the stream keeps the pixels read",
       [] {
         GifBytes data = PackCodes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {0, 4}, {5, 4}}, false);
         data[1] = 200;  // a block size past the end
         return data;
       }(),
       {1, 2, 3, 0},
       {sGIFPrematureEnd}},
      {"interlaced frame of height one fills its only row",
       PackCodes(2, {{4, 3}, {1, 3}, {2, 3}, {3, 3}, {5, 4}}),
       {1, 2, 3},
       {},
       3,
       1,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = decode(c.data, c.width, c.height, c.interlaced);
    EXPECT_EQ(d.pixels, c.pixels);
    ASSERT_GE(d.warnings.size(), c.warnings.size());
    for (size_t i = 0; i < c.warnings.size(); ++i) EXPECT_EQ(d.warnings[i], c.warnings[i]);
    if (c.warnings.empty()) {
      EXPECT_TRUE(d.warnings.empty() || d.warnings[0] == "Decoder bit buffer under-run");
    }
    // Whatever happened, the stream is left after the data's terminator.
    EXPECT_EQ(d.position, int64_t(c.data.size()));
  }
}

TEST(GifDecode, CodesAfterAFullTableDecodeWithTheTableFrozen) {
  // Code 0 again and again grows the table by one entry per code; past
  // 4096 entries the width stays 12 bits and nothing more is added.
  std::vector<std::pair<int, int>> codes{{4, 3}, {0, 3}};
  int width = 3, next = 6;
  int total = 1;
  for (int i = 1; i < 5000; ++i) {
    const int code = i < 4500 ? 0 : (i % 2 ? 1 : 4095);
    total += code == 4095 ? 2 : 1;  // every added entry is "0 0"
    codes.emplace_back(code, width);
    if (next < 4096) {
      ++next;
      if (next == (1 << width) && width < 12) ++width;
    }
  }
  codes.emplace_back(5, width);
  const GifBytes data = PackCodes(2, codes);
  Decoded d = decode(data, total, 1);
  EXPECT_TRUE(d.warnings.empty());

  EXPECT_TRUE(giflibPixels(data, total, 1) == d.pixels);
}

// --- encoder ---

struct RoundTrip {
  const char* name;
  int width, height, colors;
  bool interlaced, globalMap;
};

TEST(GifEncode, FilesOfTheEncoderDecodeIdenticallyThroughGiflib) {
  const RoundTrip cases[] = {
      {"2 colours", 37, 23, 2, false, false},
      {"256-colour noise", 300, 200, 256, false, false},
      {"1x1", 1, 1, 2, false, false},
      {"interlaced, global map", 64, 61, 16, true, true},
      {"5 colours, global map", 17, 9, 5, false, true},
  };
  std::mt19937 random(7);
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    TDIB source(c.width, c.height, 8);
    for (int i = 0; i < c.colors; ++i) {
      source.ColorTable()[size_t(i)] = {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3), 0};
    }
    source.UpdatePalette();
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) source.SetRawPixel(x, y, random() % unsigned(c.colors));

    TGIFImage image;
    TGIFSubImage& frame = image.Add(source);
    if (c.globalMap) {
      std::vector<TRGBQuad> entries(source.ColorTable().begin(),
                                    source.ColorTable().begin() + c.colors);
      image.Header().ColorMap().ImportPalette(entries);
      frame.ColorMap().Clear();
    }
    frame.SetInterlaced(c.interlaced);
    const std::vector<uint8_t> pixels = frame.Data();
    const GifBytes bytes = SaveGif(image);

    GiflibFile ref = GiflibDecode(bytes);
    ASSERT_TRUE(ref.Ok);
    ASSERT_EQ(ref.Frames.size(), 1u);
    EXPECT_EQ(ref.Frames[0].Interlaced, c.interlaced);
    EXPECT_TRUE(ref.Frames[0].Pixels == pixels);
    const auto& colors = c.globalMap ? ref.GlobalColors : ref.Frames[0].LocalColors;
    for (int i = 0; i < c.colors; ++i) {
      EXPECT_EQ(colors[size_t(i)], QuadToColor(source.ColorTable()[size_t(i)])) << i;
    }

    TGIFImage again;
    std::vector<std::string> warnings;
    LoadGif(again, bytes, &warnings);
    EXPECT_TRUE(warnings.empty());
    ASSERT_EQ(again.Count(), 1);
    EXPECT_TRUE(again.Images(0).Data() == pixels);
  }
}

// Walks the data sub-blocks of image data; returns their sizes.
std::vector<int> subBlockSizes(const GifBytes& data) {
  std::vector<int> sizes;
  for (size_t at = 1; at < data.size() && data[at] != 0; at += data[at] + 1u) {
    sizes.push_back(data[at]);
  }
  return sizes;
}

TEST(GifEncode, CodeSizeSubBlocksAndClearCodes) {
  struct Case {
    const char* name;
    int width, height, bits, modulo;
    int minCodeSize;
  } cases[] = {
      {"2 colours use code size 2", 40, 40, 1, 2, 2},
      {"noise at 8 bits", 512, 512, 8, 256, 8},
      {"values past the table raise the code size", 20, 20, 2, 32, 5},
  };
  std::mt19937 random(11);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> pixels(size_t(c.width) * size_t(c.height));
    for (uint8_t& p : pixels) p = uint8_t(random() % unsigned(c.modulo));
    TKwMemoryStream out;
    EncodeGIFPixels(out, pixels.data(), c.width, c.height, false, c.bits);
    const GifBytes data = out.Bytes();
    EXPECT_EQ(data[0], c.minCodeSize);
    const std::vector<int> sizes = subBlockSizes(data);
    ASSERT_FALSE(sizes.empty());
    for (size_t i = 0; i + 1 < sizes.size(); ++i)
      EXPECT_EQ(sizes[i], 254) << "only the last is short";
    EXPECT_LE(sizes.back(), 254);
    Decoded d = decode(data, c.width, c.height);
    EXPECT_TRUE(d.warnings.empty());
    EXPECT_TRUE(d.pixels == pixels);
    EXPECT_TRUE(giflibPixels(data, c.width, c.height) == pixels);
  }
}

TEST(GifEncode, GiflibEncodedTestPicturesSurviveOurRoundTrip) {
  for (const char* file : {"giflib/solid2.gif", "giflib/fire.gif", "giflib/welcome2.gif",
                           "giflib/treescap-interlaced.gif", "gif-test-suite/animated_loop.gif"}) {
    SCOPED_TRACE(file);
    TGIFImage image;
    LoadGif(image, readFile(dataPath(std::string("gif/") + file)));
    const GifBytes bytes = SaveGif(image);
    GiflibFile ref = GiflibDecode(bytes);
    ASSERT_TRUE(ref.Ok);
    auto frames = nonEmptyFrames(image);
    ASSERT_EQ(ref.Frames.size(), frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_TRUE(ref.Frames[i].Pixels == frames[i]->Data()) << "frame " << i;
    }
  }
}

}  // namespace
}  // namespace zirk::test
