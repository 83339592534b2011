// Reading layered images built byte by byte: version gates, scrambled rows,
// tiled planes with references, JPEG planes, and damaged input.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "base/kwrandom.h"
#include "imaging/dorvs.h"
#include "imaging/jpeg.h"
#include "imaging_support.h"

namespace zirk {
namespace {

using test::Bytes;
using test::Deflate;
using test::DorvFile;
using test::DorvFrameRecord;
using test::DorvHeaderRecord;
using test::DorvLayerRecord;
using test::PlainRowsBody;
using test::TileEntry;

// One 24-bit row from 0xRRGGBB pixel values.
Bytes row24(std::initializer_list<uint32_t> pixels) {
  Bytes row;
  for (uint32_t p : pixels) {
    row.push_back(uint8_t(p));
    row.push_back(uint8_t(p >> 8));
    row.push_back(uint8_t(p >> 16));
  }
  return row;
}

// A file of one frame of one layer (more frames repeat it).
DorvFile fileOf(DorvFrameRecord frame, DorvLayerRecord layer, DorvHeaderRecord header = {},
                int frames = 1) {
  frame.Layers = {layer};
  return DorvFile{.Header = header, .Frames = std::vector<DorvFrameRecord>(size_t(frames), frame)};
}

std::unique_ptr<TDorvFrameList> load(const DorvFile& file, int32_t code = 0) {
  auto list = std::make_unique<TDorvFrameList>(code);
  test::LoadBytes(*list, test::BuildDorv(file));
  return list;
}

void expectPixels(const TDIB& image, const TDIB& expected) {
  ASSERT_EQ(image.Width(), expected.Width());
  ASSERT_EQ(image.Height(), expected.Height());
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      ASSERT_EQ(image.GetRawPixel(x, y), expected.GetRawPixel(x, y)) << "at " << x << "," << y;
    }
  }
}

TEST(DorvRead, VersionGates) {
  constexpr uint32_t kKey = 0xFF0000, kC1 = 0x00FF00, kC2 = 0x0000FF;
  constexpr int32_t kBackground = 0x563412;  // pixel 0x123456
  struct Gate {
    int32_t version;
    uint32_t x0, x1;
    int32_t background;
    bool rects;
  };
  // Layer 0 keys out its first pixel; layer 1 (from version 100) carries an
  // alpha plane that hides its first pixel.
  const Gate gates[] = {
      {0, 0, kC1, 0, false},                     // untagged: no background, no alpha
      {100, kC2, kC2, 0, false},                 // alpha read, no use-alpha: copied whole
      {101, 0, kC2, 0, false},                   // drawn through its alpha plane
      {102, 0x123456, kC2, kBackground, false},  // background from the header
      {103, 0x123456, kC2, kBackground, false},  // plain-first-layer ignored
      {104, 0x123456, kC2, kBackground, true},   // rectangle lists
      {105, kKey, kC2, kBackground, true},       // plain-first-layer honoured
      {106, kKey, kC2, kBackground, true},
  };
  for (const Gate& g : gates) {
    SCOPED_TRACE(g.version);
    DorvFrameRecord frame{.Delay = 40, .Width = 2, .Height = 1, .Rects1 = {{0, 0, 1, 1}}};
    frame.Layers = {{.Transparent = int32_t(kKey),
                     .Pixels = Deflate(PlainRowsBody({row24({kKey, kC1})}, 2, 24))}};
    if (g.version >= 100) {
      frame.Layers.push_back({.UseAlpha = 1,
                              .Pixels = Deflate(PlainRowsBody({row24({kC2, kC2})}, 2, 24)),
                              .Alpha = Deflate(PlainRowsBody({{0, 255}}, 2, 8))});
    }
    DorvFile file{.TagVersion = g.version,
                  .LegacyBackground = kBackground,
                  .Header = {.Version = g.version, .Background = kBackground, .PlainFirstLayer = 1},
                  .Frames = {frame, frame}};
    TDorvFrameList list;
    test::LoadBytes(list, test::BuildDorv(file));
    EXPECT_EQ(list.Version, g.version);
    EXPECT_EQ(list.Background, g.background);
    ASSERT_EQ(list.Count(), 2);
    const TDorvFrame& f = *list.GetFrame(1);
    EXPECT_EQ(f.Delay, 40);
    EXPECT_EQ(f.Count(), 0) << "layers are dropped after the load";
    EXPECT_FALSE(f.HasAlpha());
    EXPECT_EQ(f.Image.GetRawPixel(0, 0), g.x0);
    EXPECT_EQ(f.Image.GetRawPixel(1, 0), g.x1);
    EXPECT_EQ(f.Rects1.size(), g.rects ? 1u : 0u);
  }
}

TEST(DorvRead, FirstLayerAlphaBecomesTheFramesAndTransparentColour) {
  // The planes hold a row more than the picture, which is not read.
  const auto list = load(fileOf({.Transparent = 2,
                                 .Width = 3,
                                 .Height = 1,
                                 .BitCount = 8,
                                 .Palette = {0x000000, 0x102030, 0xAABBCC}},
                                {.UseAlpha = 1,
                                 .Pixels = Deflate(PlainRowsBody({{0, 1, 2}, {5, 5, 5}}, 3, 8)),
                                 .Alpha = Deflate(PlainRowsBody({{9, 8, 7}, {5, 5, 5}}, 3, 8))}));
  const TDorvFrame& f = *list->GetFrame(0);
  EXPECT_EQ(f.TransparentValue, 2);
  EXPECT_EQ(f.TransparentColor, 0xCCBBAA);
  ASSERT_TRUE(f.HasAlpha());
  EXPECT_EQ(f.Image.AlphaPlane()->GetRawPixel(0, 0), 9u);
  EXPECT_EQ(f.Image.AlphaPlane()->GetRawPixel(2, 0), 7u);
  EXPECT_EQ(f.Image.GetRawPixel(1, 0), 1u);
}

TEST(DorvRead, PermutationMatchesTheDeckGenerator) {
  EXPECT_EQ(DorvPermutation(4, 1), (std::vector<int32_t>{1, 0, 3, 2}));
  EXPECT_TRUE(DorvPermutation(0, 5).empty());
  for (auto [n, c] : {std::pair{1, 7u}, {13, 1u}, {600, 0xDEADBEEFu}, {257, 0u}, {1000, 3u}}) {
    std::vector<int32_t> expected = test::DealOrder(n, c);
    EXPECT_EQ(DorvPermutation(n, c), expected) << n << " " << c;
    TKwRandom deck(c);
    deck.KwRandomDeal(n);
    for (int32_t i = 0; i < n; ++i) ASSERT_EQ(deck.KwRandomDraw(), expected[size_t(i)]);
  }
}

TEST(DorvRead, ScrambledRowsNeedTheIdentificationCode) {
  const int32_t w = 5, h = 7, code = 1234;
  const auto rows = test::RandomRows(w, h, 8, 1);
  for (uint8_t kind : {uint8_t(0), uint8_t(1), uint8_t(3)}) {
    Bytes pixels = PlainRowsBody(rows, w, 8, code);
    if (kind == 0) pixels = Deflate(pixels);
    const Bytes bytes =
        test::BuildDorv(fileOf({.Width = w, .Height = h, .BitCount = 8}, {.Pixels = pixels},
                               {.Scramble = 1, .Compression = kind}));
    TDorvFrameList keyed(code), plain(0);
    test::LoadBytes(keyed, bytes);
    test::LoadBytes(plain, bytes);
    EXPECT_EQ(test::RowsOf(keyed.GetFrame(0)->Image), rows) << int(kind);
    EXPECT_NE(test::RowsOf(plain.GetFrame(0)->Image), rows) << int(kind);
  }
}

// Tiled planes of every bit count with narrow last columns and rows, a
// repeated tile, a scrambled table, and a second frame whose tiles refer to
// the first frame's layer (pixels and alpha plane).
TEST(DorvRead, TiledPlanes) {
  struct Case {
    int32_t bits, width, height, tileWidth, tileHeight;
    uint32_t code;
  };
  const Case cases[] = {
      {1, 45, 10, 16, 4, 0}, {4, 11, 9, 4, 4, 77}, {8, 10, 7, 3, 3, 0}, {15, 7, 5, 3, 2, 5},
      {16, 8, 5, 3, 2, 0},   {24, 13, 6, 5, 4, 9}, {32, 9, 9, 2, 4, 0}, {24, 4, 4, 8, 8, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const int32_t across = (c.width + c.tileWidth - 1) / c.tileWidth;
    const int32_t down = (c.height + c.tileHeight - 1) / c.tileHeight;
    const int32_t tiles = across * down;
    const int32_t columnBytes = (c.tileWidth * (c.bits == 15 ? 16 : c.bits) + 7) / 8;

    // Frame 0: every tile stored except tile 1, a repeat of tile 0.
    auto rows0 = test::RandomRows(c.width, c.height, c.bits, 10 + c.bits);
    std::vector<TileEntry> table0(static_cast<size_t>(tiles));
    if (across >= 3) {
      table0[1] = {-2, 0};
      for (int32_t r = 0; r < c.tileHeight; ++r) {
        std::memcpy(rows0[size_t(r)].data() + columnBytes, rows0[size_t(r)].data(),
                    size_t(columnBytes));
      }
    }
    auto alpha0 = test::RandomRows(c.width, c.height, 8, 20 + c.bits);
    std::vector<TileEntry> alphaTable(static_cast<size_t>(tiles));

    // Frame 1: tile 0 of both planes comes from frame 0, layer 0.
    auto rows1 = test::RandomRows(c.width, c.height, c.bits, 30 + c.bits);
    std::vector<TileEntry> table1(static_cast<size_t>(tiles));
    table1[0] = {0, 0};
    const int32_t firstBytes =
        (std::min(c.tileWidth, c.width) * (c.bits == 15 ? 16 : c.bits) + 7) / 8;
    for (int32_t r = 0; r < std::min(c.tileHeight, c.height); ++r) {
      std::memcpy(rows1[size_t(r)].data(), rows0[size_t(r)].data(), size_t(firstBytes));
    }
    std::vector<TileEntry> alphaTable1(static_cast<size_t>(tiles));
    for (auto& e : alphaTable1) e = {0, 0};

    DorvFrameRecord frame{.Width = c.width, .Height = c.height, .BitCount = c.bits};
    for (int i = 0; i < 256; ++i) frame.Palette.push_back(uint32_t(i) * 0x010101);
    auto tiled = [&](const std::vector<Bytes>& rows, int bits, const std::vector<TileEntry>& t) {
      return test::TiledBody(rows, c.width, c.height, bits, c.tileWidth, c.tileHeight, t, c.code);
    };
    frame.Layers = {{.UseAlpha = 1,
                     .Pixels = tiled(rows0, c.bits, table0),
                     .Alpha = tiled(alpha0, 8, alphaTable)}};
    DorvFrameRecord second = frame;
    second.Layers[0].Pixels = tiled(rows1, c.bits, table1);
    second.Layers[0].Alpha = tiled(alpha0, 8, alphaTable1);
    const DorvFile file{.Header = {.Scramble = c.code != 0,
                                   .Compression = 1,
                                   .TileWidth = c.tileWidth,
                                   .TileHeight = c.tileHeight},
                        .Frames = {frame, second}};
    TDorvFrameList list(int32_t(c.code));
    test::LoadBytes(list, test::BuildDorv(file));
    ASSERT_EQ(list.Count(), 2);
    for (int f = 0; f < 2; ++f) {
      const TDorvFrame& got = *list.GetFrame(f);
      TDIB expected;
      expected.ColorTable() = got.Image.ColorTable();
      expected.SetSize(c.width, c.height, c.bits);
      test::SetRows(expected, f == 0 ? rows0 : rows1);
      expectPixels(got.Image, expected);
      TDIB expectedAlpha(c.width, c.height, 8);
      test::SetRows(expectedAlpha, alpha0);
      ASSERT_TRUE(got.HasAlpha());
      expectPixels(*got.Image.AlphaPlane(), expectedAlpha);
    }
  }
}

Bytes smoothPicture24(int w, int h, TDIB& image) {
  image.SetSize(w, h, 24);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.SetRawPixel(x, y, RGBColor(x * 6, y * 9, (x + y) * 3));
  }
  return JpegEncode(image, 80);
}

TEST(DorvRead, JpegPlanesEqualLibjpegsOwnDecode) {
  TDIB source;
  const Bytes jpeg = smoothPicture24(37, 21, source);
  int w = 0, h = 0;
  const std::vector<Bytes> reference = test::ReferenceJpegDecode(jpeg, w, h);
  ASSERT_EQ(w, 37);
  const auto alphaRows = test::RandomRows(37, 21, 8, 3);
  for (int bits : {24, 32, 16}) {
    // Scrambling never applies to kind 2.
    const Bytes bytes = test::BuildDorv(
        fileOf({.Width = 37, .Height = 21, .BitCount = bits},
               {.UseAlpha = 1, .Pixels = jpeg, .Alpha = Deflate(PlainRowsBody(alphaRows, 37, 8))},
               {.Scramble = 1, .Compression = 2}));
    TDorvFrameList inPlace(99), copied(99);
    test::LoadBytes(inPlace, bytes);
    test::PlainStream plain(bytes);
    LoadDorvStream(copied, plain, false);
    for (const TDorvFrameList* list : {&inPlace, &copied}) {
      const TDIBSurface& image = list->GetFrame(0)->Image;
      ASSERT_EQ(image.BitCount(), bits);
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const uint8_t* p = &reference[size_t(y)][size_t(x) * 3];
          ASSERT_EQ(image.GetRawPixel(x, y), image.ColorToPixel(RGBColor(p[2], p[1], p[0])))
              << bits << " bits at " << x << "," << y;
        }
      }
      EXPECT_EQ(test::RowsOf(*image.AlphaPlane()), alphaRows);
    }
  }
}

// A JPEG layer that composing would copy whole decodes into the frame's
// picture; what the frame shows is the same whichever layers come around it.
TEST(DorvRead, JpegLayersWithoutAlphaComposeAsCopies) {
  TDIB first, second;
  const Bytes jpeg1 = smoothPicture24(9, 5, first);
  Bytes jpeg2 = JpegEncode(first, 10);  // another picture of the same size
  int w = 0, h = 0;
  const std::vector<Bytes> ref1 = test::ReferenceJpegDecode(jpeg1, w, h);
  const std::vector<Bytes> ref2 = test::ReferenceJpegDecode(jpeg2, w, h);
  const DorvLayerRecord plain1{.Pixels = jpeg1}, plain2{.Pixels = jpeg2};
  const DorvLayerRecord hidden{.Visible = false, .Pixels = jpeg2};
  const DorvLayerRecord keyed{.Transparent = 0x123456, .Pixels = jpeg2};
  struct Case {
    const char* name;
    std::vector<DorvLayerRecord> layers;
    uint8_t plainFirst;
    const std::vector<Bytes>* expected;
  };
  for (const Case& c : std::vector<Case>{{"one layer", {plain1}, 0, &ref1},
                                         {"after an invisible one", {hidden, plain1}, 0, &ref1},
                                         {"covered by a second", {plain1, plain2}, 0, &ref2},
                                         {"keyed but plain first", {keyed}, 1, &ref2}}) {
    SCOPED_TRACE(c.name);
    DorvFile file = fileOf({.Width = 9, .Height = 5, .BitCount = 24}, {},
                           {.Compression = 2, .PlainFirstLayer = c.plainFirst});
    file.Frames[0].Layers = c.layers;
    const Bytes bytes = test::BuildDorv(file);
    TDorvFrameList inPlace, copied;
    test::LoadBytes(inPlace, bytes);
    test::PlainStream plain(bytes);
    LoadDorvStream(copied, plain, false);
    for (const TDorvFrameList* list : {&inPlace, &copied}) {
      const TDIBSurface& image = list->GetFrame(0)->Image;
      EXPECT_FALSE(image.HasAlphaPlane());
      EXPECT_EQ(test::RowsOf(image), *c.expected);
    }
  }
}

TEST(DorvRead, FirstFrameOnlyStopsAfterTheFirstRecord) {
  DorvFile file =
      fileOf({.Width = 2, .Height = 2},
             {.Pixels = Deflate(PlainRowsBody(test::RandomRows(2, 2, 24, 4), 2, 24))}, {}, 1);
  file.Header.FrameCount = 3;
  const size_t oneFrame = test::BuildDorv(file).size();
  file.Frames.resize(3, file.Frames[0]);
  TKwMemoryStream stream(test::BuildDorv(file));
  TDorvFrameList list;
  LoadDorvStream(list, stream, true);
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(stream.Position(), int64_t(oneFrame));
}

// A valid two-frame file with everything a reader must walk through.
Bytes richFile(uint8_t kind) {
  DorvLayerRecord layer{.UseAlpha = 1,
                        .Pixels = PlainRowsBody(test::RandomRows(6, 3, 24, 5), 6, 24),
                        .Alpha = PlainRowsBody(test::RandomRows(6, 3, 8, 6), 6, 8)};
  if (kind == 0) {
    layer.Pixels = Deflate(layer.Pixels);
    layer.Alpha = Deflate(*layer.Alpha);
  }
  DorvFrameRecord frame{.Width = 6, .Height = 3, .Rects1 = {{0, 0, 2, 2}}};
  frame.Layers = {layer, layer};
  return test::BuildDorv({.Header = {.Compression = kind}, .Frames = {frame, frame}});
}

TEST(DorvRead, DamagedFilesFailCleanly) {
  auto simple = [](auto edit) {
    DorvFile file = fileOf({.Width = 4, .Height = 4, .BitCount = 8},
                           {.Pixels = PlainRowsBody(test::RandomRows(4, 4, 8, 7), 4, 8)},
                           {.Compression = 1}, 2);
    edit(file);
    return test::BuildDorv(file);
  };
  // Frame 1 of 2 x 2 tiles of the given table, in its pixels or its alpha plane.
  auto tiled = [&](std::vector<TileEntry> second, bool alphaInFirst = true) {
    return simple([&](DorvFile& f) {
      f.Header.TileWidth = f.Header.TileHeight = 2;
      auto body = [](const std::vector<TileEntry>& table) {
        return test::TiledBody(test::RandomRows(4, 4, 8, 8), 4, 4, 8, 2, 2, table);
      };
      for (auto& fr : f.Frames) fr.Layers[0].Pixels = body(std::vector<TileEntry>(4));
      if (alphaInFirst) f.Frames[0].Layers[0].Alpha = body(std::vector<TileEntry>(4));
      f.Frames[1].Layers[0].Pixels = body(second);
      if (!alphaInFirst) f.Frames[1].Layers[0].Alpha = body(second);
    });
  };
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D, 'I', 'H', 'D',
                     'R',  0,   0,   0,   1,    0,    0,    0,    1, 8, 2, 0,    0,   0};
  struct Case {
    const char* what;
    Bytes bytes;
  };
  const Case cases[] = {
      {"a PNG read as an untagged file", png},
      {"a file of zeros", Bytes(64, 0)},
      {"version digits that are no number", Bytes{'D', 'o', 'r', 'v', '1', 'x', '3'}},
      {"negative header length", simple([](DorvFile& f) { f.HeaderLength = -1; })},
      {"header length beyond the data",
       [&] {
         Bytes b = simple([](DorvFile&) {});
         b[10] = 0x40;  // the length field after the tag: 0x40000028
         return b;
       }()},
      {"frame count beyond the data", simple([](DorvFile& f) { f.Header.FrameCount = 1 << 28; })},
      {"negative frame count", simple([](DorvFile& f) { f.Header.FrameCount = -1; })},
      {"layer count beyond the data",
       simple([](DorvFile& f) { f.Frames[0].LayerCountField = 1 << 28; })},
      {"bit count 7", simple([](DorvFile& f) { f.Frames[0].BitCount = 7; })},
      {"negative width", simple([](DorvFile& f) { f.Frames[0].Width = -4; })},
      {"huge picture", simple([](DorvFile& f) { f.Frames[0].Width = f.Frames[0].Height = 30000; })},
      {"pixel size beyond the data",
       simple([](DorvFile& f) { f.Frames[1].Layers[0].PixelSizeField = 1 << 20; })},
      {"negative pixel size",
       simple([](DorvFile& f) { f.Frames[1].Layers[0].PixelSizeField = -5; })},
      {"plane shorter than its picture",
       simple([](DorvFile& f) { f.Frames[0].Layers[0].Pixels.resize(10); })},
      {"damaged zlib data", simple([](DorvFile& f) {
         f.Header.Compression = 0;
         for (auto& fr : f.Frames) fr.Layers[0].Pixels = Bytes(20, 0x55);
       })},
      {"frame records past the bound", simple([](DorvFile& f) { f.Frames.resize(60000); })},
      {"layer records past the bound", simple([](DorvFile& f) {
         f.Frames.push_back({.Layers = std::vector<DorvLayerRecord>(60000)});
       })},
      {"rectangle count beyond the data",
       simple([](DorvFile& f) { f.Frames[0].Rects2CountField = 1 << 26; })},
      {"JPEG plane of another size", simple([](DorvFile& f) {
         TDIB small;
         f.Header.Compression = 2;
         for (auto& fr : f.Frames) fr.Layers[0].Pixels = smoothPicture24(3, 4, small);
       })},
      {"JPEG plane that is no JPEG", simple([](DorvFile& f) { f.Header.Compression = 2; })},
      {"tile repeating a later tile", tiled({{-1, 0}, {-2, 3}, {-1, 0}, {-1, 0}})},
      {"tile repeating itself", tiled({{-1, 0}, {-2, 1}, {-1, 0}, {-1, 0}})},
      {"tile of a frame not yet read", tiled({{-1, 0}, {5, 0}, {-1, 0}, {-1, 0}})},
      {"tile of a layer that does not exist", tiled({{-1, 0}, {0, 3}, {-1, 0}, {-1, 0}})},
      {"tile of the layer being read", tiled({{-1, 0}, {1, 0}, {-1, 0}, {-1, 0}})},
      {"alpha tile of a layer without alpha plane", tiled({{0, 0}, {0, 0}, {0, 0}, {0, 0}}, false)},
      {"unknown tile kind", tiled({{-1, 0}, {-7, 0}, {-1, 0}, {-1, 0}})},
      {"tile table beyond the plane",
       simple([](DorvFile& f) { f.Header.TileWidth = f.Header.TileHeight = 1; })},
      {"tile of a frame of another size", simple([](DorvFile& f) {
         f.Header.TileWidth = f.Header.TileHeight = 2;
         f.Frames[0].Width = 2;
         f.Frames[0].Layers[0].Pixels =
             test::TiledBody(test::RandomRows(2, 4, 8, 1), 2, 4, 8, 2, 2, {{}, {}});
         f.Frames[1].Layers[0].Pixels =
             test::TiledBody(test::RandomRows(4, 4, 8, 1), 4, 4, 8, 2, 2, {{0, 0}, {}, {}, {}});
       })},
  };
  for (const Case& c : cases) {
    TDorvFrameList list;
    list.MaxLoadBytes = 64 << 20;
    list.AddFrame();
    EXPECT_THROW(test::LoadBytes(list, c.bytes), Exception) << c.what;
    EXPECT_EQ(list.Count(), 0) << c.what;
  }
  // Read without a tag, a picture of another kind is named for what it is.
  const std::pair<std::string, const char*> kinds[] = {{"\x89PNG\r\n\x1A\n", "PNG"},
                                                       {"GIF89a", "GIF"},
                                                       {"GIF87a", "GIF"},
                                                       {"\xFF\xD8\xFF\xE0", "JPEG"},
                                                       {"BM", "BMP"}};
  for (const auto& [head, kind] : kinds) {
    Bytes bytes(64, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    TDorvFrameList other;
    EXPECT_EQ(test::ErrorOf<EDorvError>([&] { test::LoadBytes(other, bytes); }),
              std::string("Not a layered image but a ") + kind + " picture");
  }
  // A longer header is read up to its 40 bytes and the rest skipped.
  TDorvFrameList list;
  test::LoadBytes(list, simple([](DorvFile& f) { f.HeaderLength = 52; }));
  EXPECT_EQ(list.Count(), 2);
}

TEST(DorvRead, SmallStreamsCannotClaimTheTiledBound) {
  // 1 x 1 tiles of a 4000 x 4000 picture could need 128 MB of tile table;
  // a few bytes of zlib data must fail on what they hold, not on memory.
  const DorvFile file =
      fileOf({.Width = 4000, .Height = 4000, .BitCount = 8}, {.Pixels = Deflate(Bytes(8, 0xFF))},
             {.TileWidth = 1, .TileHeight = 1});
  TDorvFrameList list;
  list.MaxLoadBytes = 40 << 20;
  EXPECT_EQ(test::ErrorOf<EDorvError>([&] { test::LoadBytes(list, test::BuildDorv(file)); }),
            "Tile table beyond the layer data");
}

TEST(DorvRead, TruncatedAndCorruptedFilesNeverCrash) {
  for (uint8_t kind : {uint8_t(0), uint8_t(1)}) {
    const Bytes full = richFile(kind);
    {
      TDorvFrameList list;
      test::LoadBytes(list, full);
      ASSERT_EQ(list.Count(), 2);
    }
    for (size_t n = 0; n < full.size(); ++n) {
      TDorvFrameList list;
      const Bytes prefix(full.begin(), full.begin() + std::ptrdiff_t(n));
      EXPECT_THROW(test::LoadBytes(list, prefix), Exception) << "prefix " << n;
    }
    std::mt19937 rng(kind);
    for (int round = 0; round < 500; ++round) {
      Bytes damaged = full;
      for (int i = 0; i < 1 + round % 4; ++i) damaged[rng() % damaged.size()] = uint8_t(rng());
      TDorvFrameList list;
      list.MaxLoadBytes = 16 << 20;
      try {
        test::LoadBytes(list, damaged);
      } catch (const Exception&) {
        EXPECT_EQ(list.Count(), 0);
      }
    }
  }
}

}  // namespace
}  // namespace zirk
