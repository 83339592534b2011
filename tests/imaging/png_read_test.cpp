// The PNG reader on files built byte by byte: what it accepts, skips,
// rejects and produces, and the chunk values it hands to the picture.

#include <gtest/gtest.h>

#include <zlib.h>

#include <memory>
#include <random>

#include "imaging/KwPNG.h"
#include "imaging/KwZLIB.h"
#include "imaging_support.h"
#include "png_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

std::unique_ptr<TKwPNG> load(const Bytes& data, bool allow16 = false) {
  auto png = std::make_unique<TKwPNG>();
  png->Allow16BitTarget = allow16;
  TKwMemoryStream stream(data);
  png->LoadFromStream(stream);
  return png;
}

Bytes be16(int v) {
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Four palette pixels 0, 1, 2, 3 over a four-entry palette.
Bytes paletteFile(const Bytes& trns) {
  std::vector<std::pair<std::string, Bytes>> extra = {
      {"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120}}};
  if (!trns.empty()) extra.push_back({"tRNS", trns});
  return SimplePng(4, {{0, 1, 2, 3}}, 8, 3, extra);
}

// Every filter type on RGB and RGBA rows of widths that leave each
// remainder of the four-pixel steps, with values that make Paeth ties
// likely: the picture libpng decodes.
TEST(PngRead, EveryFilterOnColourRowsOfAnyWidth) {
  std::mt19937 random(5);
  for (int colorType : {2, 6}) {
    const int bpp = colorType == 6 ? 4 : 3;
    for (int width : {1, 2, 3, 4, 5, 7, 9, 17}) {
      SCOPED_TRACE(testing::Message() << "type " << colorType << ", width " << width);
      const size_t rowBytes = size_t(width * bpp);
      Bytes filtered, previous(rowBytes, 0);
      for (int type = 0; type <= 4; ++type) {
        for (int repeat = 0; repeat < 2; ++repeat) {
          Bytes row(rowBytes);
          for (uint8_t& b : row) b = uint8_t(random() % 4 * 85);
          Bytes out(rowBytes + 1);
          FilterRow(type, row.data(), previous.data(), rowBytes, bpp, out.data());
          filtered.insert(filtered.end(), out.begin(), out.end());
          previous = row;
        }
      }
      PngBuilder b;
      b.Ihdr(uint32_t(width), 10, 8, colorType).Idat(filtered).End();
      EXPECT_EQ(RgbaOfPicture(*load(b.bytes())), LibpngDecode(b.bytes()));
    }
  }
}

TEST(PngRead, HeaderAndImageFailuresRaiseTheirTexts) {
  const Bytes row = {0, 0, 0, 0};
  auto header = [](uint32_t w, uint32_t h, int depth, int type, int compression, int filter,
                   int interlace) {
    return cat({be32(w),
                be32(h),
                {static_cast<uint8_t>(depth), static_cast<uint8_t>(type),
                 static_cast<uint8_t>(compression), static_cast<uint8_t>(filter),
                 static_cast<uint8_t>(interlace)}});
  };
  auto withHeader = [&](const Bytes& ihdr) {
    return PngBuilder().Chunk("IHDR", ihdr).Idat(Unfiltered({row})).End().bytes();
  };
  const struct {
    const char* name;
    Bytes file;
    const char* message;
  } cases[] = {
      {"signature", Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0},
       "PNG LoadStream: Not PNG Format"},
      {"two headers",
       PngBuilder().Ihdr(4, 1, 8, 0).Ihdr(4, 1, 8, 0).Idat(Unfiltered({row})).End().bytes(),
       "Read Header(PNG): appear two IHDR"},
      {"colour type 5", withHeader(header(4, 1, 8, 5, 0, 0, 0)),
       "Read Header(PNG): Error ColorType"},
      {"compression 2", withHeader(header(4, 1, 8, 0, 2, 0, 0)),
       "Read Header(PNG): not support Compression"},
      {"filter method 2", withHeader(header(4, 1, 8, 0, 0, 2, 0)),
       "Read Header(PNG): not supprt Filter"},
      {"interlace 2", withHeader(header(4, 1, 8, 0, 0, 0, 2)),
       "Read Header(PNG): not interlace type"},
      {"grey depth 3", withHeader(header(4, 1, 3, 0, 0, 0, 0)), "Read Header(PNG): Error Bitdepth"},
      {"grey+alpha depth 4", withHeader(header(4, 1, 4, 4, 0, 0, 0)),
       "Read Header(PNG): not Use AlphaChannel"},
      {"grey depth 0 with a key",
       PngBuilder().Ihdr(4, 1, 0, 0).Chunk("tRNS", {0, 1}).Idat(Unfiltered({row})).End().bytes(),
       "Read Header(PNG): Error Bitdepth"},
      {"RGB depth 4", withHeader(header(4, 1, 4, 2, 0, 0, 0)), "Read Header(PNG): Error BitDepth"},
      {"palette depth 16", withHeader(header(4, 1, 16, 3, 0, 0, 0)),
       "Read Header(PNG): Error BitDepth"},
      {"width 0", withHeader(header(0, 1, 8, 0, 0, 0, 0)), "Read Header(PNG): Error Size"},
      {"height 2^31", withHeader(header(4, 0x80000000u, 8, 0, 0, 0, 0)),
       "Read Header(PNG): Error Size"},
      {"too many pixels", withHeader(header(30000, 30000, 8, 0, 0, 0, 0)),
       "Read Header(PNG): Error Size"},
      {"image data before the header",
       PngBuilder().Idat(Unfiltered({row})).Ihdr(4, 1, 8, 0).End().bytes(),
       "Read Header(PNG): not found IHDR"},
      {"header of the wrong length is passed over",
       PngBuilder()
           .Chunk("IHDR", cat({header(4, 1, 8, 0, 0, 0, 0), {0}}))
           .Idat(Unfiltered({row}))
           .End()
           .bytes(),
       "Read Header(PNG): not found IHDR"},
      {"filter type 5", PngBuilder().Ihdr(4, 1, 8, 0).Idat({5, 0, 0, 0, 0}).End().bytes(),
       "Read Image (PNG): Read Error"},
      {"damaged zlib data",
       PngBuilder().Ihdr(4, 1, 8, 0).Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF}).End().bytes(),
       "Read Image (PNG): Read Error"},
      {"image data ends before the last row",
       PngBuilder().Ihdr(4, 2, 8, 0).Idat(Unfiltered({row})).End().bytes(),
       "Read Image (PNG): Read Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf<EKwPNG>([&] { load(c.file); }), c.message);
  }
}

TEST(PngRead, BitmapLayoutFollowsColourTypeAndDepth) {
  struct Case {
    const char* name;
    int depth, colorType;
    Bytes row;
    int bitmapBits;
    int paletteCount;
    bool hasAlpha;
  };
  const Case cases[] = {
      {"grey 1", 1, 0, {0xA0}, 1, 2, false},
      {"grey 2 becomes 4-bit", 2, 0, {0x1B}, 4, 4, false},
      {"grey 4", 4, 0, {0x12, 0x34}, 4, 16, false},
      {"grey 8", 8, 0, {1, 2, 3, 4}, 8, 256, false},
      {"grey 16 keeps the high byte", 16, 0, {1, 9, 2, 9, 3, 9, 4, 9}, 8, 256, false},
      {"grey+alpha 8 gets the grey palette", 8, 4, {1, 255, 2, 128, 3, 0, 4, 1}, 8, 256, true},
      {"grey+alpha 16", 16, 4, {1, 0, 255, 0, 2, 0, 128, 0, 3, 0, 0, 0, 4, 0, 1, 0}, 8, 256, true},
      {"RGB 8", 8, 2, Bytes(12, 7), 24, -1, false},
      {"RGBA 16", 16, 6, Bytes(32, 7), 24, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto png = load(SimplePng(4, {c.row}, c.depth, c.colorType));
    EXPECT_EQ(png->Image().BitCount(), c.bitmapBits);
    EXPECT_EQ(png->HasAlpha, c.hasAlpha);
    EXPECT_EQ(png->GrayScale, c.colorType == 0 || c.colorType == 4);
    if (c.paletteCount >= 0) {
      EXPECT_EQ(png->GetPalette().size(), size_t(c.paletteCount));
    }
    if (c.hasAlpha) {
      EXPECT_EQ(png->Mask().BitCount(), 8);
    }
  }
  // 2-bit grey: the values 0..3 are the indices of the ramp 0, 85, 170, 255.
  auto two = load(SimplePng(4, {{0x1B}}, 2, 0));
  EXPECT_EQ(two->Image().ScanLine(0)[0], 0x01);
  EXPECT_EQ(two->Image().ScanLine(0)[1], 0x23);
  EXPECT_EQ(two->GetPalette()[2], (TRGBQuad{170, 170, 170, 0}));
}

TEST(PngRead, PaletteTransparencyGivesAColourOrAMaskAndShortPalettesStayDefined) {
  // One fully transparent entry: a transparent colour naming it, no mask.
  auto single = load(paletteFile({255, 255, 0}));
  EXPECT_EQ(single->TransparentColor(), 0x01000002);
  EXPECT_FALSE(single->HasAlpha);
  EXPECT_TRUE(single->GetTransparent());
  EXPECT_EQ(single->Image().TransparentColor(), int32_t(RGBColor(70, 80, 90)));
  // Two transparent entries, or a partial alpha: a mask and no colour.
  for (const Bytes& trns : {Bytes{0, 255, 0}, Bytes{255, 128}}) {
    auto masked = load(paletteFile(trns));
    EXPECT_EQ(masked->TransparentColor(), -1);
    EXPECT_TRUE(masked->HasAlpha);
    ASSERT_EQ(masked->Mask().Width(), 4);
    for (int x = 0; x < 4; ++x) {
      const int alpha = x < int(trns.size()) ? trns[x] : 255;
      EXPECT_EQ(masked->Mask().ScanLine(0)[x], 255 - alpha) << x;
    }
  }
  // Indices past a short palette read defined colours.
  auto png = load(SimplePng(3, {{0, 1, 200}}, 8, 3, {{"PLTE", {1, 2, 3, 4, 5, 6}}}));
  EXPECT_EQ(png->GetPalette().size(), 2u);
  EXPECT_EQ(png->Image().GetCanvas().GetPixel(2, 0), 0u);
  EXPECT_EQ(png->Image().GetCanvas().GetPixel(1, 0), RGBColor(4, 5, 6));
}

TEST(PngRead, GreyKeyAndBackgroundAtLowDepthsMatchTheirPaletteEntries) {
  const struct {
    int depth;
    Bytes row;
    int sample;
    uint8_t grey;
  } cases[] = {{1, {0x40}, 1, 255}, {2, {0x1B}, 2, 170}, {4, {0x12, 0x34}, 3, 51}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    auto png = load(
        SimplePng(4, {c.row}, c.depth, 0, {{"tRNS", be16(c.sample)}, {"bKGD", be16(c.sample)}}));
    EXPECT_EQ(png->TransparentColor(), int32_t(RGBColor(c.grey, c.grey, c.grey)));
    EXPECT_EQ(png->BackgroundColor, int32_t(RGBColor(c.grey, c.grey, c.grey)));
    const Rgba rgba = RgbaOfPicture(*png);
    int transparent = 0;
    for (int x = 0; x < 4; ++x) transparent += rgba.pixels[x * 4 + 3] == 0;
    EXPECT_EQ(transparent, 1);
  }
}

TEST(PngRead, SixteenBitTargetFollowsSignificantBits) {
  const Bytes rgb8 = {0xF8, 0xFC, 0xF8, 0x08, 0x04, 0x08};
  const Bytes rgb16 = {0xF8, 0, 0xFC, 0, 0xF8, 0, 0x08, 0, 0x04, 0, 0x08, 0};
  const Bytes rgba8 = {0xF8, 0xFC, 0xF8, 255, 0x08, 0x04, 0x08, 0};
  const struct {
    const char* name;
    Bytes row;
    int depth, colorType;
    Bytes sbit;
    bool allow;
    int bits, bitDepth;
  } cases[] = {
      {"16-bit 5,6,5 allowed", rgb16, 16, 2, {5, 6, 5}, true, 16, 16},
      {"16-bit 5,6,5 not allowed", rgb16, 16, 2, {5, 6, 5}, false, 24, 48},
      {"8-bit 5,5,5 allowed", rgb8, 8, 2, {5, 5, 5}, true, 16, 15},
      {"8-bit 5,6,6", rgb8, 8, 2, {5, 6, 6}, true, 24, 24},
      {"RGBA 5,6,5 with an alpha byte", rgba8, 8, 6, {5, 6, 5, 8}, true, 16, 16},
      {"no sBIT", rgb8, 8, 2, {}, true, 24, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::pair<std::string, Bytes>> extra;
    if (!c.sbit.empty()) extra.push_back({"sBIT", c.sbit});
    auto png = load(SimplePng(2, {c.row}, c.depth, c.colorType, extra), c.allow);
    EXPECT_EQ(png->Image().BitCount(), c.bits);
    EXPECT_EQ(png->BitDepth, c.bitDepth);
    // 5-6-5 keeps the top bits and widens them again.
    const uint32_t light = c.bits == 16 ? RGBColor(0xFF, 0xFF, 0xFF) : RGBColor(0xF8, 0xFC, 0xF8);
    EXPECT_EQ(png->Image().GetCanvas().GetPixel(0, 0), light);
    // 5-5-5 drops green's sixth bit.
    const uint32_t dark = c.bitDepth == 15 ? RGBColor(8, 0, 8) : RGBColor(8, 4, 8);
    EXPECT_EQ(png->Image().GetCanvas().GetPixel(1, 0), dark);
    EXPECT_EQ(png->Image().Is555(), c.bitDepth == 15);
    if (c.colorType == 6) {
      EXPECT_EQ(png->Mask().ScanLine(0)[1], 255);
    }
  }
}

TEST(PngRead, ChunkValuesReachThePicture) {
  TKwPNG png;
  png.Chromaticity = {};
  const Bytes file =
      PngBuilder()
          .Ihdr(1, 1, 8, 2)
          .Chunk("tIME", {0x07, 0xE9, 12, 24, 23, 59, 60})
          .Chunk("tEXt", cat({Bytes{'C', 'o', 'm', 'm', 'e', 'n', 't', 0}, {'h', 'i'}}))
          .Chunk("tEXt", cat({Bytes{'T', 'i', 't', 'l', 'e', 0}, {'x'}}))
          .Chunk("tEXt", cat({Bytes{'C', 'o', 'm', 'm', 'e', 'n', 't', 0}, {'y', 'o'}}))
          .Chunk("gAMA", be32(100000))
          .Chunk("cHRM", cat({be32(31270), be32(32900), be32(1), be32(2), be32(3), be32(4), be32(5),
                              be32(6)}))
          .Chunk("gIFg", {1, 0, 10, 0})
          .Chunk("sBIT", {4, 5, 6})
          .Chunk("bKGD", cat({be16(0x1234), be16(0x56), be16(0x78)}))
          .Chunk("pHYs", cat({be32(2835), be32(1417), {1}}))
          .Idat(Unfiltered({{1, 2, 3}}))
          .End()
          .bytes();
  TKwMemoryStream stream(file);
  png.LoadFromStream(stream);
  EXPECT_EQ(png.ChunkTime, (TKwPNGTime{2025, 12, 24, 23, 59, 60}));
  // Each text is followed by a line break, and a second one is put in front
  // of every text after the first.
  EXPECT_EQ(png.Comment, "hi\r\n\r\nyo\r\n");
  EXPECT_DOUBLE_EQ(png.Gamma, 1.0);
  EXPECT_EQ(png.Chromaticity, (TKwPNGChromaticity{31270, 32900, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(png.GifControl, (TKwPNGGifControl{1, 0, 10, 0}));
  EXPECT_EQ(png.SignificantBits, 0x060504);
  // 8-bit samples are the low bytes of the 16-bit fields.
  EXPECT_EQ(png.BackgroundColor, int32_t(RGBColor(0x34, 0x56, 0x78)));
  EXPECT_EQ(png.PhysUnit, 1);
  EXPECT_EQ(png.PixelsPerUnitX, 2835);
  EXPECT_EQ(png.PixelsPerUnitY, 1417);
  EXPECT_EQ(png.BitDepth, 24);
}

// Zero-length chunks, unknown chunks of any kind, wrong CRCs and chunks of
// the wrong size are passed over without losing the rest of the file.
TEST(PngRead, ChunksItCannotUseArePassedOver) {
  const Bytes rows = Unfiltered({{1, 2, 3, 4}, {5, 6, 7, 8}});
  const Bytes z = Deflate(rows);
  const Bytes half1(z.begin(), z.begin() + long(z.size() / 2)),
      half2(z.begin() + long(z.size() / 2), z.end());
  const Bytes file = PngBuilder()
                         .Ihdr(4, 2, 8, 0)
                         .Chunk("tEXt", {})
                         .Chunk("ABCD", {1, 2, 3})
                         .Chunk("zzZz", {9}, true)
                         .Chunk("gAMA", {0, 1, 2})
                         .Chunk("tRNS", {0, 1, 0, 1})
                         .Chunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't'})
                         .Chunk("pHYs", cat({be32(10), be32(20), {0}}))
                         .Chunk("IDAT", half1, true)
                         .Chunk("IDAT", {})
                         .Chunk("IDAT", half2)
                         .End()
                         .bytes();
  auto png = load(file);
  EXPECT_FALSE(png->Truncated());
  EXPECT_EQ(png->PixelsPerUnitX, 10);
  EXPECT_EQ(png->Comment, "");
  EXPECT_EQ(png->TransparentColor(), -1);
  EXPECT_DOUBLE_EQ(png->Gamma, 0);
  EXPECT_EQ(png->Image().ScanLine(1)[3], 8);
}

TEST(PngRead, CutShortFilesKeepWhatWasDecoded) {
  std::vector<Bytes> rows;
  for (int y = 0; y < 64; ++y) rows.push_back(Bytes(64, static_cast<uint8_t>(y)));
  Bytes file = SimplePng(64, rows, 8, 0, {{"tRNS", be16(5)}});
  // The IDAT stops in the middle of the data.
  file.resize(file.size() - 12 - 40);
  auto png = load(file);
  EXPECT_TRUE(png->Truncated());
  EXPECT_EQ(png->GetWidth(), 64);
  EXPECT_EQ(png->Image().ScanLine(0)[0], 0);
  EXPECT_EQ(png->Image().ScanLine(1)[10], 1);
  // No transparency is applied to a cut-short picture.
  EXPECT_FALSE(png->GetTransparent());

  // Without image data the old picture does not survive.
  TKwPNG reused;
  TKwMemoryStream first(SimplePng(4, {{1, 2, 3, 4}}, 8, 0));
  reused.LoadFromStream(first);
  ASSERT_FALSE(reused.GetEmpty());
  TKwMemoryStream headerOnly(PngBuilder().Ihdr(4, 1, 8, 0).End().bytes());
  reused.LoadFromStream(headerOnly);
  EXPECT_TRUE(reused.GetEmpty());
  EXPECT_TRUE(reused.Truncated());
}

TEST(PngRead, MacBinaryHeaderAndTrailingData) {
  const Bytes png = SimplePng(4, {{1, 2, 3, 4}}, 8, 0);
  Bytes mac(128, 1);
  mac[0] = 0;
  mac[74] = 0;
  mac.insert(mac.end(), png.begin(), png.end());
  EXPECT_EQ(load(mac)->Image().ScanLine(0)[3], 4);
  TKwPNG strict;
  strict.SkipMacBinary = false;
  TKwMemoryStream stream(mac);
  EXPECT_THROW(strict.LoadFromStream(stream), EKwPNG);

  // Data after IEND stays for the next reader, from memory and from a
  // buffered stream alike.
  Bytes withTail = png;
  withTail.insert(withTail.end(), {'t', 'a', 'i', 'l'});
  TKwMemoryStream memory(withTail);
  TKwPNG a;
  a.LoadFromStream(memory);
  EXPECT_EQ(memory.Position(), int64_t(png.size()));
  PlainStream plain(withTail);
  TKwPNG b;
  b.LoadFromStream(plain);
  EXPECT_EQ(plain.Position(), int64_t(png.size()));
}

// Image data far larger than the read buffer, from a stream that is not in
// memory: the block reads go straight to the source.
TEST(PngRead, LargeStoredImageThroughABufferedStream) {
  std::vector<Bytes> rows;
  uint32_t seed = 1;
  for (int y = 0; y < 300; ++y) {
    Bytes row(900);
    for (uint8_t& b : row) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    rows.push_back(row);
  }
  PngBuilder builder;
  builder.Ihdr(300, 300, 8, 2);
  // Level 0: stored blocks, so the chunk is as large as the pixels.
  Bytes raw = Unfiltered(rows), z(compressBound(raw.size()));
  uLongf zSize = z.size();
  ASSERT_EQ(compress2(z.data(), &zSize, raw.data(), raw.size(), 0), Z_OK);
  z.resize(zSize);
  const Bytes file = builder.Chunk("IDAT", z).End().bytes();
  PlainStream plain(file);
  TKwPNG png;
  png.LoadFromStream(plain);
  EXPECT_FALSE(png.Truncated());
  EXPECT_EQ(RgbaOfPicture(png), LibpngDecode(file));
}

// Progress runs from start to end; a reader whose progress asks to stop
// ends the read with what it has.
TEST(PngRead, ProgressRunsFromStartToEndOrStopsTheRead) {
  const Bytes file = SimplePng(64, std::vector<Bytes>(64, Bytes(64, 3)), 8, 0);
  TKwPNG png;
  std::vector<std::pair<TProgressStage, int>> calls;
  png.OnProgress = [&](TGraphic&, const TProgressInfo& info) {
    calls.push_back({info.Stage, info.PercentDone});
    return false;
  };
  TKwMemoryStream stream(file);
  png.LoadFromStream(stream);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front(), std::make_pair(TProgressStage::psStarting, 0));
  EXPECT_EQ(calls.back(), std::make_pair(TProgressStage::psEnding, 100));
  for (size_t i = 1; i < calls.size(); ++i) EXPECT_GT(calls[i].second, calls[i - 1].second);
  // The image's own handler is back afterwards.
  EXPECT_FALSE(png.Image().OnProgress);

  struct StopAtHalf : TKwPNGReadStream {
    int Progress(int percent) override { return percent >= 50 ? 1 : 0; }
  };
  StopAtHalf reader;
  TDIB image;
  stream.SetPosition(0);
  reader.Read(&image, stream, 0);
  EXPECT_TRUE(reader.Stopped());
  EXPECT_TRUE(reader.Truncated());
  EXPECT_EQ(image.Height(), 64);
}

}  // namespace
}  // namespace zirk::test
