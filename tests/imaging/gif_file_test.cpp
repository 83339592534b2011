// The GIF file model: header, colour tables, extensions and their
// registries, the trailer, and what broken files do.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "gif_support.h"
#include "imaging/GIFImageLZW.h"
#include "imaging_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

using namespace std::string_literals;

const std::vector<uint32_t> kFour = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};

// A 2 x 2 file with the given bytes between the header and the frame.
GifBytes smallFile(const std::string& signature = "GIF89a", const GifBytes& before = {}) {
  return GifBuilder()
      .Header(2, 2, kFour, signature)
      .Raw(before)
      .Pixels(0, 0, 2, 2, {0, 1, 2, 3}, 2)
      .Trailer()
      .Bytes();
}

GifBytes bytesOf(const std::string& text) {
  return GifBytes(text.begin(), text.end());
}

bool contains(const GifBytes& haystack, const GifBytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

TEST(GifFile, SignatureIsCheckedUpperCasedAndTheVersionNotAtAll) {
  for (const char* signature : {"GIF89a", "GIF87a", "gif89a", "GiF12x"}) {
    SCOPED_TRACE(signature);
    TGIFImage image;
    LoadGif(image, smallFile(signature));
    EXPECT_EQ(image.Count(), 1);
    EXPECT_EQ(image.Images(0).Data(), (std::vector<uint8_t>{0, 1, 2, 3}));
  }
}

TEST(GifFile, BrokenFilesRaiseTheirErrors) {
  const GifBytes good = smallFile();
  auto header = [] { return GifBuilder().Header(2, 2, kFour); };
  struct Case {
    const char* name;
    GifBytes bytes;
    const char* error;
    std::vector<std::string> warnings;
  } cases[] = {
      {"signature GIX", smallFile("GIX89a"), "Invalid GIF signature", {}},
      {"signature PNG", smallFile("PNG89a"), "Invalid GIF signature", {}},
      {"cut in the header", GifBytes(good.begin(), good.begin() + 9), "Premature end of data", {}},
      {"cut in the colour table",
       GifBytes(good.begin(), good.begin() + 16),
       "Premature end of data",
       {}},
      {"no trailer", GifBytes(good.begin(), good.end() - 1), "Premature end of data", {}},
      {"bad loop extension",
       header().AppExt(11, "NETSCAPE2.0", {{2, 0, 0}}).Trailer().Bytes(),
       "Invalid GIF data",
       {}},
      {"short application block",
       header().AppExt(5, "ABCDE", {}).Trailer().Bytes(),
       "Unsupported Application Extension block size",
       {}},
      {"unknown extension label",
       header().Raw({'!', 0x33, 0}).Trailer().Bytes(),
       "Unknown extension type",
       {}},
      {"unknown block type",
       header().Byte(0x99).Trailer().Bytes(),
       "Invalid Image trailer",
       {"Unknown GIF block type"}},
      {"cut in a comment", header().Raw({'!', 0xFE, 9}).Bytes(), "Premature end of data", {}},
      {"wrong separator after a bad introducer ends the frame list",
       smallFile("GIF89a", GifBuilder().Gce(1, 5).Byte(0x99).Bytes()),
       "Invalid Image trailer",
       {"Invalid extension introducer", "Unknown GIF block type"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGIFImage image;
    std::vector<std::string> warnings;
    EXPECT_EQ(ErrorOf<GIFException>([&] { LoadGif(image, c.bytes, &warnings); }), c.error);
    EXPECT_EQ(warnings, c.warnings);
  }
}

TEST(GifFile, FrameOfZeroWidthTakesTheScreenSize) {
  TKwMemoryStream data;
  const std::vector<uint8_t> pixels(12, 1);
  EncodeGIFPixels(data, pixels.data(), 4, 3, false, 2);
  const GifBytes bytes =
      GifBuilder().Header(4, 3, kFour).Image(0, 0, 0, 3, 0, {}, data.Bytes()).Trailer().Bytes();
  TGIFImage image;
  std::vector<std::string> warnings;
  LoadGif(image, bytes, &warnings);
  ASSERT_EQ(image.Count(), 1);
  EXPECT_EQ(image.Images(0).Width, 4);
  EXPECT_EQ(image.Images(0).Height, 3);
  EXPECT_EQ(image.Images(0).Data(), pixels);
  EXPECT_EQ(warnings, (std::vector<std::string>{sGIFImageExceedsScreen}));
}

TEST(GifFile, ExtensionsSurviveALoadSaveCycleByteForByte) {
  GifBytes bytes = (GifBuilder()
                        .Header(2, 2, kFour)
                        .Loop(3)
                        .Comment({"first line", std::string(255, 'x')})
                        .AppExt(11, "ZIRKTEST1.0", {{1, 2, 3}, {4}, GifBytes(255, 7)})
                        .Gce(2, 7, 3)
                        .Pixels(0, 0, 2, 2, {0, 1, 2, 3}, 2)
                        .Comment({"after the last frame"})
                        .Trailer()
                        .Bytes());
  // A plain text block: grid, cells, colours, then its lines.
  bytes.insert(bytes.end() - 1, {'!', 0x01, 12, 1, 0, 2,   0,   30,  0,   40,  0,
                                 6,   8,    1,  0, 5, 'h', 'e', 'l', 'l', 'o', 0});
  TGIFImage image;
  LoadGif(image, bytes);
  ASSERT_EQ(image.Count(), 2);  // the trailing blocks make an empty frame
  EXPECT_TRUE(image.Images(1).Empty());
  auto* text = dynamic_cast<TGIFTextExtension*>(image.Images(1).Extensions()[1]);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->GridWidth, 30);
  EXPECT_EQ(text->CellHeight, 8);
  EXPECT_EQ(text->Text, (std::vector<std::string>{"hello"}));
  const TGIFExtensionList& ext = image.Images(0).Extensions();
  ASSERT_EQ(ext.Count(), 4);
  EXPECT_NE(dynamic_cast<TGIFAppExtNSLoop*>(ext[0]), nullptr);
  auto* comment = dynamic_cast<TGIFCommentExtension*>(ext[1]);
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(comment->Comment, (std::vector<std::string>{"first line", std::string(255, 'x')}));
  auto* unknown = dynamic_cast<TGIFUnknownAppExtension*>(ext[2]);
  ASSERT_NE(unknown, nullptr);
  EXPECT_EQ(unknown->IdentText(), "ZIRKTEST1.0");
  EXPECT_EQ(unknown->Blocks.size(), 3u);
  EXPECT_EQ(image.Images(0).GraphicControlExtension(), ext[3]);
  EXPECT_TRUE(image.Images(0).Transparent());
  EXPECT_EQ(SaveGif(image), bytes);
}

// Application blocks whose size field is not 11: what is read, and the
// block of 11 a save writes back, which reloads to the same extension.
TEST(GifFile, ApplicationBlocksOfOtherSizes) {
  struct Case {
    const char* name;
    std::string block, written;  // written: expected in the saved file, if given
    std::function<void(TGIFExtension*)> check;
  } cases[] = {
      {"size 10", "!\377\12ABCDEFGHIJ\3\1\2\3\0"s, "!\377\13ABCDEFGHIJ\3\3\1\2\3\0"s,
       [](TGIFExtension* e) { EXPECT_NE(dynamic_cast<TGIFUnknownAppExtension*>(e), nullptr); }},
      {"size 12 keeps its data", "!\377\14LONGIDENT10X\2\10\11\0"s,
       "!\377\13LONGIDENT10\2\10\11\0"s,
       [](TGIFExtension* e) {
         auto* app = dynamic_cast<TGIFApplicationExtension*>(e);
         ASSERT_NE(app, nullptr);
         EXPECT_EQ(app->IdentText(), "LONGIDENT10");
         ASSERT_EQ(app->Blocks.size(), 1u);
         EXPECT_EQ(app->Blocks[0].Data, (std::vector<uint8_t>{8, 9}));
       }},
      {"known identifier in a block of 14", "!\377\16NETSCAPE2.0\7\7\7\3\1\5\0\0"s, "",
       [](TGIFExtension* e) {
         auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(e);
         ASSERT_NE(loop, nullptr);
         EXPECT_EQ(loop->Loops, 5);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGIFImage image;
    LoadGif(image, smallFile("GIF89a", bytesOf(c.block)));
    ASSERT_EQ(image.Images(0).Extensions().Count(), 1);
    c.check(image.Images(0).Extensions()[0]);
    const GifBytes saved = SaveGif(image);
    if (!c.written.empty()) {
      EXPECT_TRUE(contains(saved, bytesOf(c.written)));
    }
    TGIFImage again;
    LoadGif(again, saved);
    EXPECT_EQ(again.Images(0).Data(), (std::vector<uint8_t>{0, 1, 2, 3}));
    if (c.written.empty()) c.check(again.Images(0).Extensions()[0]);
  }
}

TEST(GifFile, ScanLinesAndProgressOfALoad) {
  TGIFImage image;
  std::vector<std::string> progress;
  image.OnProgress = [&](TGraphic&, const TProgressInfo& info) {
    if (info.Stage != TProgressStage::psRunning) {
      progress.push_back(info.Msg + " " + std::to_string(info.PercentDone));
    }
    return false;
  };
  LoadGif(image, smallFile());
  EXPECT_EQ(progress, (std::vector<std::string>{"Loading... 0", "Loading... 100"}));
  EXPECT_EQ(image.Images(0).ScanLine(1)[1], 3);
  EXPECT_THROW(image.Images(0).ScanLine(2), EInvalidGraphicOperation);
  progress.clear();
  const GifBytes whole = smallFile();
  const GifBytes cut(whole.begin(), whole.end() - 1);
  EXPECT_THROW(LoadGif(image, cut), GIFException);
  EXPECT_EQ(progress, (std::vector<std::string>{"Loading... 0", "Loading... 0"}));
  TGIFImage empty;
  LoadGif(empty, GifBuilder().Header(2, 2, kFour).Comment({"x"}).Trailer().Bytes());
  ASSERT_EQ(empty.Count(), 1);
  EXPECT_EQ(ErrorOf<GIFException>([&] { empty.Images(0).ScanLine(0); }), "Image has no DIB");
}

TEST(GifFile, ColourTablesArePaddedToAPowerOfTwoAndSizedByThemselves) {
  TGIFImage image;
  TDIB big(3, 1, 8);
  for (int i = 0; i < 256; ++i) big.ColorTable()[size_t(i)] = {uint8_t(i), 0, 0, 0};
  big.UpdatePalette();
  big.SetRawPixel(2, 0, 200);
  image.Add(big);
  image.Header().ColorMap().ImportPalette({{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}});
  const GifBytes saved = SaveGif(image);
  // Global table of 3 entries: size field 1 (4 entries), the 4th zero,
  // however big the local table is.
  EXPECT_EQ(saved[10] & 0x87, 0x81);
  EXPECT_EQ(GifBytes(saved.begin() + 13, saved.begin() + 25),
            (GifBytes{3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0}));
  GiflibFile ref = GiflibDecode(saved);
  ASSERT_TRUE(ref.Ok);
  EXPECT_EQ(ref.GlobalColors.size(), 4u);
  EXPECT_EQ(ref.Frames[0].LocalColors.size(), 256u);
  EXPECT_EQ(ref.Frames[0].Pixels, (std::vector<uint8_t>{0, 0, 200}));
}

TEST(GifFile, InterlacedFrameWithALocalTableIsSavedInRowOrder) {
  std::vector<uint8_t> pixels(5 * 9);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i % 4);
  TKwMemoryStream data;
  EncodeGIFPixels(data, pixels.data(), 5, 9, true, 2);
  const GifBytes bytes =
      GifBuilder().Header(5, 9, {}).Image(0, 0, 5, 9, 0xC1, kFour, data.Bytes()).Trailer().Bytes();
  TGIFImage image;
  LoadGif(image, bytes);
  EXPECT_EQ(image.Images(0).Data(), pixels);
  GiflibFile ref = GiflibDecode(SaveGif(image));
  ASSERT_TRUE(ref.Ok);
  EXPECT_FALSE(ref.Frames[0].Interlaced);
  EXPECT_EQ(ref.Frames[0].Pixels, pixels);
}

// Colour indices outside a table warn: lookups give black, a transparent
// index becomes 0.
TEST(GifFile, ColourIndicesPastTheTableWarnAndStayInside) {
  TGIFImage image;
  std::vector<std::string> warnings;
  image.OnWarning = [&](TGIFImage&, int severity, const std::string& m) {
    EXPECT_EQ(severity, 1);
    warnings.push_back(m);
  };
  TGIFColorMap& map = image.Header().ColorMap();
  EXPECT_EQ(map.Add(0x112233), 0);
  EXPECT_EQ(map.Add(0x445566), 1);
  EXPECT_EQ(map.Add(0x112233), 0);
  EXPECT_EQ(map.IndexOf(0x999999), -1);
  EXPECT_EQ(map.Colors(1), 0x445566u);
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(map.Colors(200), 0u);
  EXPECT_EQ(map.Colors(-1), 0u);
  for (uint32_t c = 2; c < 256; ++c) map.Add(c);
  EXPECT_EQ(map.Count(), 256);
  EXPECT_EQ(map.BitsPerPixel(), 8);
  EXPECT_THROW(map.Add(0xABCDEF), GIFException);

  LoadGif(image, smallFile(), &warnings);
  TGIFSubImage& frame = image.Images(0);
  auto* gce = frame.Extensions().Add<TGIFGraphicControlExtension>();
  gce->SetTransparentColorIndex(3);
  EXPECT_EQ(gce->TransparentColorIndex(), 3);
  gce->SetTransparentColorIndex(4);
  EXPECT_EQ(gce->TransparentColorIndex(), 0);
  EXPECT_EQ(warnings, std::vector<std::string>(3, sGIFInvalidColorIndex));
  gce->SetTransparent(true);
  EXPECT_TRUE(frame.Transparent());
  frame.Extensions().Delete(0);
  EXPECT_EQ(frame.GraphicControlExtension(), nullptr);
  EXPECT_FALSE(frame.Transparent());
}

TEST(GifFile, OptimizeSortsByUseRemapsPixelsAndCutsUnusedLocalEntries) {
  TDIB source(4, 2, 8);
  for (int i = 0; i < 4; ++i) source.ColorTable()[size_t(i)] = {uint8_t(10 * i), 0, 0, 0};
  source.UpdatePalette();
  const uint8_t px[8] = {3, 3, 3, 1, 1, 3, 1, 0};
  for (int i = 0; i < 8; ++i) source.SetRawPixel(i % 4, i / 4, px[i]);
  TGIFImage image;
  TGIFSubImage& frame = image.Add(source);
  // Only the four colours of the source table; the rest of the 256 are cut.
  frame.ColorMap().Optimize();
  EXPECT_TRUE(frame.ColorMap().Optimized());
  EXPECT_EQ(frame.ColorMap().Count(), 3);
  EXPECT_EQ(frame.ColorMap().Colors(0), RGBColor(0, 0, 30));
  EXPECT_EQ(frame.ColorMap().Colors(1), RGBColor(0, 0, 10));
  EXPECT_EQ(frame.ColorMap().Colors(2), RGBColor(0, 0, 0));
  EXPECT_EQ(frame.Data(), (std::vector<uint8_t>{0, 0, 0, 1, 1, 0, 1, 2}));
  TGIFImage again;
  LoadGif(again, SaveGif(image));
  EXPECT_TRUE(again.Images(0).Packed & 0x20);
  EXPECT_EQ(again.Images(0).Data(), frame.Data());
}

struct Marker : TGIFUnknownAppExtension {
  static constexpr const char* kClassName = "Marker";
  using TGIFUnknownAppExtension::TGIFUnknownAppExtension;
};

TEST(GifFile, OptimizingTheGlobalTableKeepsEveryFramesColours) {
  const std::vector<uint32_t> colors = {0x000000, 0x111111, 0x222222, 0x333333,
                                        0x444444, 0x555555, 0x666666, 0x777777};
  TGIFImage image;
  LoadGif(image, GifBuilder()
                     .Header(4, 1, colors, "GIF89a", 6)
                     .Gce(1, 0, 5)
                     .Pixels(0, 0, 4, 1, {1, 2, 2, 5}, 3)
                     .Pixels(0, 0, 4, 1, {3, 3, 3, 2}, 3)
                     .Trailer()
                     .Bytes());
  auto shown = [&] {
    std::vector<uint32_t> result;
    for (int i = 0; i < image.Count(); ++i)
      for (uint8_t p : image.Images(i).Data())
        result.push_back(image.Header().ColorMap().Colors(p));
    result.push_back(image.Header().ColorMap().Colors(image.Header().BackgroundColorIndex));
    result.push_back(image.Header().ColorMap().Colors(
        image.Images(0).GraphicControlExtension()->TransparentColorIndex()));
    return result;
  };
  const std::vector<uint32_t> before = shown();
  image.Header().ColorMap().Optimize();
  EXPECT_EQ(shown(), before);
  // Two frames share the table, so nothing is cut; the most used come
  // first, equal counts in their old order.
  EXPECT_EQ(image.Header().ColorMap().Count(), 8);
  EXPECT_EQ(image.Header().ColorMap().Colors(0), 0x222222u);
  EXPECT_EQ(image.Header().ColorMap().Colors(1), 0x333333u);
  EXPECT_EQ(image.Images(1).Data(), (std::vector<uint8_t>{1, 1, 1, 0}));
  TGIFImage again;
  LoadGif(again, SaveGif(image));
  EXPECT_TRUE(again.Header().Packed & 0x08);
  EXPECT_EQ(again.Images(1).Data(), image.Images(1).Data());
}

TEST(GifFile, LaterRegistrationsOverrideEarlierOnes) {
  EXPECT_EQ(FindAppExtensionClass("NETSCAPE2.0"), &GIFExtensionClassOf<TGIFAppExtNSLoop>());
  EXPECT_EQ(FindAppExtensionClass("ZIRKMARK1.0"), nullptr);
  {
    // Taken back at the end, so the registry is as the test found it.
    struct Registration {
      Registration() { RegisterAppExtensionClass("ZIRKMARK1.0", GIFExtensionClassOf<Marker>()); }
      ~Registration() { UnregisterAppExtensionClass("ZIRKMARK1.0", GIFExtensionClassOf<Marker>()); }
    } registration;
    EXPECT_EQ(FindAppExtensionClass("ZIRKMARK1.0"), &GIFExtensionClassOf<Marker>());
    const GifBytes bytes =
        smallFile("GIF89a", GifBuilder().AppExt(11, "ZIRKMARK1.0", {{9}}).Bytes());
    TGIFImage image;
    LoadGif(image, bytes);
    EXPECT_NE(dynamic_cast<Marker*>(image.Images(0).Extensions()[0]), nullptr);
    EXPECT_EQ(SaveGif(image), bytes);
  }
  EXPECT_EQ(FindAppExtensionClass("ZIRKMARK1.0"), nullptr);
  UnregisterAppExtensionClass("NETSCAPE2.0", GIFExtensionClassOf<Marker>());
  EXPECT_EQ(FindAppExtensionClass("NETSCAPE2.0"), &GIFExtensionClassOf<TGIFAppExtNSLoop>());
}

TEST(GifFile, RequiredVersionFollowsTheFeaturesUsed) {
  TGIFImage image;
  EXPECT_EQ(image.RequiredVersion(), gvUnknown);
  EXPECT_THROW(SaveGif(image), GIFException);
  // Only Optimize sorts a table: a sort bit read from a file is not kept.
  GifBytes sorted = smallFile("GIF87a");
  sorted[10] |= 0x08;
  LoadGif(image, sorted);
  EXPECT_EQ(SaveGif(image), smallFile("GIF87a"));
  const GifBytes data(sorted.begin() + 35, sorted.end());  // image data, trailer
  LoadGif(image, GifBuilder().Header(2, 2, {}).Image(0, 0, 2, 2, 0xA1, kFour, data).Bytes());
  EXPECT_EQ(image.RequiredVersion(), gv87a);
  LoadGif(image, smallFile("GIF89a"));
  EXPECT_EQ(image.RequiredVersion(), gv87a);
  const GifBytes plain = SaveGif(image);
  EXPECT_EQ(std::string(plain.begin(), plain.begin() + 6), "GIF87a");
  image.Images(0).Extensions().Add<TGIFCommentExtension>()->Comment = {"hi"};
  EXPECT_EQ(image.RequiredVersion(), gv89a);
  const GifBytes saved = SaveGif(image);
  EXPECT_EQ(std::string(saved.begin(), saved.begin() + 6), "GIF89a");
}

}  // namespace
}  // namespace zirk::test
