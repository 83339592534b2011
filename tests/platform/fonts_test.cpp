#include "platform/fonts.h"

#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "support/testdata.h"

namespace zirk::platform {
namespace {

// IPA Gothic: every cell is as high as asked, half-width characters half as
// wide as full-width ones.
TFontSpec ipa(int32_t height, uint8_t style = 0, int32_t smoothing = 3) {
  return TFontSpec{"IPAGothic", height, style, smoothing};
}

// A bitmap font of one character (a box for 'A'), which fontconfig knows
// by its family name but which has no outlines to draw.
constexpr const char* kBitmapFont =
    "STARTFONT 2.1\nFONT -zirk-ZirkBitmapOnly-medium-r-normal--8-80-75-75-c-80-iso10646-1\n"
    "SIZE 8 75 75\nFONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 4\nFAMILY_NAME \"ZirkBitmapOnly\"\n"
    "FONT_ASCENT 8\nFONT_DESCENT 0\nCHARSET_REGISTRY \"ISO10646\"\nENDPROPERTIES\nCHARS 1\n"
    "STARTCHAR A\nENCODING 65\nSWIDTH 1000 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\n"
    "FF\n81\n81\n81\n81\n81\n81\nFF\nENDCHAR\nENDFONT\n";

TEST(Fonts, FaceNamesNotInstalledFallBackToTheJapaneseFace) {
  test::TempDir dir;
  test::writeFile(dir / "bitmap.bdf", kBitmapFont);
  ASSERT_TRUE(FcConfigAppFontAddFile(
      nullptr, reinterpret_cast<const FcChar8*>((dir / "bitmap.bdf").c_str())));
  const std::string gothic = Fonts().FaceFile("IPAGothic");
  ASSERT_NE(std::filesystem::canonical(gothic).string().find("ipag"), std::string::npos) << gothic;
  const std::string proportional = Fonts().FaceFile("IPAPGothic");
  ASSERT_NE(proportional, gothic);
  struct Case {
    const char* face;
    const std::string& file;
  } cases[] = {
      {"", gothic},
      {"No Such Face 123", gothic},
      {"ＭＳ ゴシック", gothic},
      {"MS Mincho", gothic},
      {"ＭＳ Ｐゴシック", proportional},
      {"MS UI Gothic", proportional},
      {"ZirkBitmapOnly", gothic},  // installed, but with nothing to draw
  };
  for (const Case& c : cases) EXPECT_EQ(Fonts().FaceFile(c.face), c.file) << c.face;
  EXPECT_GT(Fonts().Glyph(TFontSpec{"ZirkBitmapOnly", 16}, U'A')->Width, 0);
}

// A fontconfig configuration offering the faces of `folders` alone.
std::string fontsConf(const test::TempDir& dir, const std::string& folders) {
  test::writeFile(dir / "fonts.conf", "<fontconfig><cachedir>" + dir.path().string() +
                                          "</cachedir>" + folders + "</fontconfig>");
  return (dir / "fonts.conf").string();
}

TEST(Fonts, WithoutTheJapaneseFaceTextIsDrawnInTheBestFaceThereIs) {
  const std::filesystem::path dejavu = "/usr/share/fonts/truetype/dejavu";
  if (!std::filesystem::is_directory(dejavu)) GTEST_SKIP() << "no DejaVu fonts";
  test::TempDir dir;
  struct Case {
    std::string folders, file, said;
  } cases[] = {
      {"<dir>" + dejavu.string() + "</dir>", dejavu.string(), ""},
      {"", "", "zirkplayer: no font to draw text with\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    TFontService fonts(fontsConf(dir, c.folders));
    const std::string file = fonts.FaceFile("ＭＳ ゴシック");
    const int32_t width = fonts.Glyph(TFontSpec{"", 16}, U'Z')->Width;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.said) << c.folders;
    EXPECT_EQ(file.substr(0, c.file.size()), c.file) << c.folders;
    EXPECT_EQ(width > 0, !c.file.empty()) << c.folders;
  }
}

TEST(Fonts, CellHeightIsTheHeightAskedFor) {
  for (int32_t h : {8, 12, 16, 24, 40}) {
    const TFontMetrics m = Fonts().Metrics(ipa(h));
    EXPECT_EQ(m.Height, h);
    EXPECT_TRUE(m.Ascent > h / 2 && m.Ascent <= h) << m.Ascent;
    // The underline lies under the baseline and inside the cell; strike-out above it.
    EXPECT_TRUE(m.UnderlineTop >= m.Ascent - 1 && m.UnderlineTop + m.UnderlineHeight <= h);
    EXPECT_LT(m.StrikeOutTop, m.Ascent);
  }
  // A height of 0 or less still makes a cell of one pixel.
  EXPECT_EQ(Fonts().Metrics(ipa(0)).Height, 1);
}

TEST(Fonts, GlyphsAdvanceByTheirWidthAndStayInTheirCell) {
  for (auto [code, advance] :
       {std::pair{U'A', 8}, {U'g', 8}, {U'漢', 16}, {U'ｱ', 8}, {U'あ', 16}}) {
    auto g = Fonts().Glyph(ipa(16), code);
    SCOPED_TRACE(uint32_t(code));
    EXPECT_EQ(g->Advance, advance);
    ASSERT_GT(g->Width, 0);
    EXPECT_TRUE(g->Left >= 0 && g->Left + g->Width <= advance + 1) << g->Left;
    EXPECT_TRUE(g->Top >= 0 && g->Top + g->Height <= 16) << g->Top;
    EXPECT_EQ(g->Levels.size(), size_t(g->Width) * size_t(g->Height));
  }
  // A space moves the pen without ink.
  auto space = Fonts().Glyph(ipa(16), U' ');
  EXPECT_EQ(space->Advance, 8);
  EXPECT_TRUE(space->Mask().empty());
  // 'g' reaches below the baseline, 'A' does not.
  const int32_t base = Fonts().Metrics(ipa(16)).Ascent;
  auto bottom = [](char32_t c) {
    auto g = Fonts().Glyph(ipa(16), c);
    return g->Top + g->Height;
  };
  EXPECT_LE(bottom(U'A'), base + 1);
  EXPECT_GT(bottom(U'g'), base);
}

TEST(Fonts, SmoothingLevelsGiveTheirNumberOfGreySteps) {
  for (auto [smoothing, levels] : {std::pair<int32_t, size_t>{0, 2}, {1, 5}, {2, 17}, {3, 65}}) {
    std::set<uint8_t> seen;
    for (char32_t ch : std::u32string(U"漢字のテストABCxyz")) {
      auto g = Fonts().Glyph(ipa(24, 0, smoothing), ch);
      seen.insert(g->Levels.begin(), g->Levels.end());
    }
    EXPECT_LE(seen.size(), levels) << smoothing;
    EXPECT_TRUE(seen.count(0) && seen.count(255)) << smoothing;
    std::set<uint8_t> steps;
    for (size_t k = 0; k < levels; ++k) steps.insert(uint8_t(k * 255 / (levels - 1)));
    for (uint8_t v : seen) EXPECT_TRUE(steps.count(v)) << smoothing << " " << int(v);
  }
}

TEST(Fonts, BoldWidensAndItalicLeans) {
  auto plain = Fonts().Glyph(ipa(16), U'I');
  auto bold = Fonts().Glyph(ipa(16, kFontBold), U'I');
  auto italic = Fonts().Glyph(ipa(16, kFontItalic), U'I');
  EXPECT_EQ(bold->Advance, plain->Advance + 1);
  EXPECT_GT(bold->Width, plain->Width);
  EXPECT_EQ(italic->Advance, plain->Advance);
  EXPECT_GT(italic->Width, plain->Width);
}

TEST(Fonts, MeasuringGivesTheDrawnAdvanceAndBoundsTheInk) {
  const std::u32string text = U"AgW fj|漢あｱ ";
  for (const TFontSpec& spec :
       {ipa(16), ipa(16, kFontBold | kFontItalic, 0), ipa(7, kFontItalic, 0), ipa(40, 0, 1),
        TFontSpec{"DejaVu Serif", 13, kFontItalic, 0}}) {
    const std::vector<TGlyphMetrics> metrics = Fonts().Measure(spec, text);
    ASSERT_EQ(metrics.size(), text.size());
    for (size_t k = 0; k < text.size(); ++k) {
      auto g = Fonts().Glyph(spec, text[k]);
      SCOPED_TRACE(testing::Message() << spec.Height << " " << uint32_t(text[k]));
      EXPECT_EQ(metrics[k].Advance, g->Advance);
      if (g->Width > 0) {
        EXPECT_LE(g->Left + g->Width, metrics[k].InkRight);
      }
    }
  }
}

TEST(Fonts, GlyphMasksAreCachedUpToABudgetOfBytes) {
  // 120 kanji at the largest height draw about 100 MB of masks; the cache
  // keeps about 64 MB.
  for (char32_t c = U'一'; c < U'一' + 120; ++c) Fonts().Glyph(ipa(1024, 0, 0), c);
  EXPECT_LT(Fonts().CachedBytes(), size_t{70} << 20);
}

TEST(Fonts, GlyphMetricsPastTheirBudgetMakeRoomInsteadOfStartingAgain) {
  // A machine without fonts measures without outlines; 70,000 (height,
  // character) pairs are more than the metrics cache holds.
  test::TempDir dir;
  testing::internal::CaptureStderr();
  TFontService fonts(fontsConf(dir, ""));
  std::u32string text;
  for (char32_t c = U'一'; c < U'一' + 7000; ++c) text += c;
  size_t most = 0;
  for (int32_t height = 1; height <= 10; ++height) {
    fonts.Measure(TFontSpec{"", height}, text);
    most = std::max(most, fonts.CachedBytes());
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(fonts.CachedBytes(), most);
}

TEST(Fonts, ShiftJisDecodesThroughCodePage932) {
  struct Case {
    std::string sjis;
    std::u32string text;
  } cases[] = {
      {"abc", U"abc"},
      {"\x8A\xBF\x8E\x9A", U"漢字"},
      {"\xB1\xB2\xDF", U"ｱｲﾟ"},      // half-width kana are single bytes
      {"\x81\x60", U"～"},           // the code page's own wave dash
      {"a\x81", U"a?"},              // a character cut off
      {"\xA0x", U"?x"},              // a byte the code page leaves empty
      {"\x87\x40\x82\xA0", U"①あ"},  // NEC special characters
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeCP932(c.sjis), c.text) << c.sjis;
}

}  // namespace
}  // namespace zirk::platform
