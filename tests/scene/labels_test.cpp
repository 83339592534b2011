// Labels drawn with IPA Gothic, whose half-width characters are exactly half
// as wide as its cell is high and full-width ones exactly as wide.

#include "scene/labels.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "base/records.h"
#include "base/vocab.h"
#include "support/inkbox.h"

namespace zirk {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF, kRed = 0x0000FF, kBlue = 0xFF0000;

void useTestFont(TKwLabelList& list, int32_t height = 16) {
  list.SetFontName("IPAGothic");
  list.SetFontSize(height);
  list.SetSmoothing(3);
}

TRect inkBox(const TCustomDIBX& s) {
  return test::InkBox(s, 0);
}

// A 32-bit surface of one colour that the list draws on.
std::unique_ptr<TDIBX> canvas(TKwLabelList& list, int32_t width, int32_t height,
                              uint32_t color = 0) {
  auto target = std::make_unique<TDIBX>(width, height, 32);
  target->FillRect(target->GetBoundsRect(), color);
  list.Target = target.get();
  return target;
}

int32_t countColor(const TCustomDIBX& s, uint32_t color) {
  int32_t n = 0;
  for (int32_t y = 0; y < s.Height(); ++y)
    for (int32_t x = 0; x < s.Width(); ++x) n += (s.GetPixel(x, y) & 0xFFFFFF) == color;
  return n;
}

TEST(LabelList, MeasuresTextBorderAndShadowInTheListsFont) {
  struct Case {
    std::string text;
    int32_t border, shadow, height;
    int32_t width, labelHeight;
  } cases[] = {
      {"AB", 0, 0, 16, 16, 16},
      {"AB", 2, 3, 16, 23, 23},
      {"\x8A\xBF\x8E\x9A", 0, 0, 16, 32, 16},  // two kanji
      {"\xB1\xB2\xB3", 0, 0, 16, 24, 16},      // three half-width kana
      {"", 1, 0, 20, 2, 22},                   // an empty row is one line high
      {"ab\r\nabcd\nx", 0, 0, 10, 20, 30},     // the widest of three lines
  };
  for (const Case& c : cases) {
    TKwLabelList list;
    useTestFont(list, c.height);
    list.SetBorderWidth(c.border);
    list.SetShadowWidth(c.shadow);
    list.AddLabel(c.text);
    list.Render();
    EXPECT_EQ(list.GetItem(0)->Width, c.width) << c.text;
    EXPECT_EQ(list.GetItem(0)->Height, c.labelHeight) << c.text;
    EXPECT_EQ(list.MaxWidth(), c.width);
  }
  TKwLabelList list;
  useTestFont(list);
  list.SetLineSpace(4);
  EXPECT_EQ(list.MeasureText("a\nbb\nc").Width, 16);
  EXPECT_EQ(list.MeasureText("a\nbb\nc").Lines, 3);
  list.AddLabel("a\nbb\nc");
  list.Render();
  EXPECT_EQ(list.GetItem(0)->Height, 3 * 16 + 2 * 4);
  EXPECT_EQ(list.GetItem(-1), nullptr);
  EXPECT_EQ(list.GetItem(1), nullptr);
}

TEST(LabelList, GlyphsDrawInsideTheLabelInTheirColour) {
  TKwLabelList list;
  useTestFont(list);
  list.SetFontColor(static_cast<int32_t>(kWhite));
  auto target = canvas(list, 80, 40);
  TKwLabelDIB* label = list.AddLabel("\x8A\xBF\xB1H");  // kanji, half-width kana, H
  list.DrawLabelClipped(*label, 10, 5);
  const TRect ink = inkBox(*target);
  EXPECT_TRUE(ink.Left >= 10 && ink.Right <= 10 + 32 && ink.Top >= 5 && ink.Bottom <= 5 + 16);
  EXPECT_GT(countColor(*target, kWhite), 30);
  // The H's two stems: full coverage in the last cell, none between them.
  int32_t stems = 0;
  for (int32_t x = 10 + 24; x < 10 + 32; ++x) stems += (target->GetPixel(x, 5 + 8) & 0xFF) == 255;
  EXPECT_GE(stems, 2);
}

TEST(LabelList, BorderAndShadowSurroundTheText) {
  TKwLabelList list;
  useTestFont(list, 24);
  list.SetSmoothing(0);  // two levels: every drawn pixel is one of the colours
  list.SetFontColor(static_cast<int32_t>(kWhite));
  list.SetBorderWidth(2);
  list.SetBorderColor(static_cast<int32_t>(kRed));
  list.SetShadowWidth(3);
  list.SetShadowColor(static_cast<int32_t>(kBlue));
  auto target = canvas(list, 60, 40);
  TKwLabelDIB* label = list.AddLabel("I");
  list.DrawLabelClipped(*label, 0, 0);
  EXPECT_EQ(label->Width, 12 + 4 + 3);
  EXPECT_EQ(label->Height, 24 + 4 + 3);
  const uint32_t red = uint32_t(target->ColorToPixel(kRed));
  const uint32_t blue = uint32_t(target->ColorToPixel(kBlue));
  int32_t drawn = countColor(*target, 0);
  for (uint32_t c : {kWhite, red, blue}) {
    EXPECT_GT(countColor(*target, c), 10) << std::hex << c;
    drawn += countColor(*target, c);
  }
  EXPECT_EQ(drawn, 60 * 40) << "every pixel is one of the colours";
  // The shadow lies right of and below the border, which lies round the text.
  const TRect ink = inkBox(*target);
  EXPECT_LE(ink.Right, label->Picture().Width());
  EXPECT_LE(ink.Bottom, label->Height);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 2; x < 60; ++x) {
      // Two pixels left of any text pixel is text or border, never shadow.
      const uint32_t left = target->GetPixel(x - 2, y) & 0xFFFFFF;
      const bool text = (target->GetPixel(x, y) & 0xFFFFFF) == kWhite;
      EXPECT_TRUE(!text || left == kWhite || left == red) << x << "," << y;
    }
}

TEST(LabelList, UnderlineAndStrikeOutRunTheLineLength) {
  const platform::TFontMetrics m =
      platform::Fonts().Metrics(platform::TFontSpec{"IPAGothic", 16, 0, 0});
  struct Case {
    uint8_t style;
    int32_t row;
    bool full;
  } cases[] = {
      {0, m.UnderlineTop, false},
      {FS_UNDERLINE, m.UnderlineTop, true},
      {FS_STRIKEOUT, m.StrikeOutTop, true},
      {FS_UNDERLINE | FS_STRIKEOUT, m.StrikeOutTop, true},
  };
  for (const Case& c : cases) {
    TKwLabelList list;
    useTestFont(list);
    list.SetSmoothing(0);
    list.SetFontStyle(c.style);
    TKwLabelDIB* label = list.AddLabel("a c");
    list.DrawLabelText(*label);
    int32_t covered = 0;
    for (int32_t x = 0; x < 24; ++x) covered += label->Mask().GetPixel(x, c.row) == 255;
    EXPECT_EQ(covered == 24, c.full) << int(c.style) << " " << covered;
  }
}

TEST(LabelList, LinesAlignInsideTheWidestLine) {
  // "I" is 8 wide, "IIII" 32: the short line starts 0, 12 or 24 pixels in.
  for (auto [align, start] : {std::pair<uint8_t, int32_t>{0, 0}, {1, 12}, {2, 24}}) {
    TKwLabelList list;
    useTestFont(list);
    list.SetHAlign(align);
    auto target = canvas(list, 40, 40);
    list.DrawLabelClipped(*list.AddLabel("I\r\nIIII"), 0, 0);
    TDIBX firstLine(40, 16, 32);
    firstLine.Draw(0, 0, *target, Rect(0, 0, 40, 16), false, false, false);
    const TRect ink = inkBox(firstLine);
    EXPECT_TRUE(ink.Left >= start && ink.Right <= start + 8) << int(align);
  }
}

TEST(LabelList, ARenderedLabelIsKeptUntilItsLookOrTextChanges) {
  TKwLabelList list;
  useTestFont(list);
  TKwLabelDIB* label = list.AddLabel("abc");
  list.DrawLabelText(*label);
  EXPECT_FALSE(label->Dirty);
  list.SetFontColor(0xFFFFFF);  // the colour it has
  list.SetFontSize(16);
  label->SetText("abc");
  EXPECT_FALSE(label->Dirty);
  // A new colour, a new text and a display-mode change each render anew.
  const std::function<void()> changes[] = {[&] { list.SetFontColor(0x00FF00); },
                                           [&] { label->SetText("abcd"); },
                                           [&] { list.InvalidateAll(); }};
  for (const auto& change : changes) {
    list.DrawLabelText(*label);
    change();
    EXPECT_TRUE(label->Dirty);
  }
}

TEST(LabelList, AlphaFollowsTheImageRule) {
  // The brightest channel drawn on grey 0x40.
  for (auto [alpha, brightest] :
       {std::pair{0, 0x40u}, {128, 0xA0u}, {255, 0xFFu}, {256 + 64, 0x40u + 63}}) {
    TKwLabelList list;
    useTestFont(list, 24);
    list.SetSmoothing(0);
    list.Alpha = alpha;
    auto target = canvas(list, 20, 30, 0x404040);
    list.DrawLabelClipped(*list.AddLabel("I"), 0, 0);
    uint32_t peak = 0;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 20; ++x) peak = std::max(peak, target->GetPixel(x, y) & 0xFF);
    EXPECT_EQ(peak, brightest) << alpha;
  }
}

TEST(LabelList, HugeValuesStayBounded) {
  TKwLabelList list;
  useTestFont(list, 1000000);  // drawn with the largest cell the fonts make
  list.SetBorderWidth(1000000);
  list.SetShadowWidth(-5);
  TKwLabelDIB* label = list.AddLabel(std::string(5000, 'W') + std::string(3, '\n'));
  list.DrawLabelText(*label);
  EXPECT_LE(int64_t{label->Picture().Width()} * label->Picture().Height(), int64_t{1} << 20);
  EXPECT_EQ(label->Picture().Width(), 8192);
  EXPECT_EQ(label->Width, 8192 + 2 * 16);  // the border is held to 16 pixels
  EXPECT_EQ(label->Mask().Height(), label->Picture().Height());
}

TEST(LabelList, GlyphsPastThePicturesEdgeAreNotDrawn) {
  // 700 different kanji on one line at the largest height: 716,800 pixels
  // of text, of which a picture 8192 wide and 128 high shows nine glyphs.
  std::string text;
  for (int lead = 0x89; text.size() < 1400; ++lead)
    for (int trail = 0x40; trail <= 0xFC && text.size() < 1400; ++trail)
      if (trail != 0x7F) text += {char(lead), char(trail)};
  TKwLabelList list;
  useTestFont(list, 1024);
  TKwLabelDIB* label = list.AddLabel(text);
  const size_t cached = platform::Fonts().CachedBytes();
  list.DrawLabelText(*label);
  EXPECT_EQ(label->Width, 8192);
  EXPECT_EQ(label->Picture().Width(), 8192);
  EXPECT_EQ(label->Picture().Height(), 128);
  // The first glyph and the eighth are drawn.
  const TRect ink = inkBox(label->Mask());
  EXPECT_TRUE(ink.Left < 1024 && ink.Right > 7 * 1024) << ink.Left << " " << ink.Right;
  // Nine masks of about a megabyte each, not 700.
  EXPECT_LT(platform::Fonts().CachedBytes(), cached + (size_t{16} << 20));
}

TEST(LabelList, SaveRecordRoundTrips) {
  TKwLabelList list;
  list.SetFontName("\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E");
  list.SetFontSize(20);
  list.SetFontStyle(FS_BOLD | FS_UNDERLINE);
  list.SetFontColor(0x123456);
  list.SetBorderWidth(2);
  list.SetBorderColor(0x111111);
  list.SetShadowWidth(1);
  list.SetShadowColor(0x222222);
  list.SetSmoothing(3);
  list.SetLineSpace(5);
  list.SetHAlign(1);
  list.Alpha = 300;
  list.AddLabel("one");
  list.AddLabel("\x93\xF1");
  TKwMemoryStream stream;
  list.SaveToStream(stream);
  stream.SetPosition(0);
  TKwLabelList back;
  back.LoadFromStream(stream, 134);
  // Every value comes back where it was: saved again, the bytes are the same.
  TKwMemoryStream again;
  back.SaveToStream(again);
  EXPECT_EQ(again.Bytes(), stream.Bytes());
  EXPECT_EQ(back.ShadowColor(), 0x222222);
  EXPECT_EQ(back.Alpha, 300);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.GetItem(1)->Text(), "\x93\xF1");
  // A label count beyond the record's bytes is a format error.
  TKwMemoryStream bad;
  TKwLabelList().SaveToStream(bad);
  bad.SetPosition(bad.Size() - 4);
  WriteStreamInt(bad, 1000000);
  bad.SetPosition(0);
  EXPECT_THROW(back.LoadFromStream(bad, 134), EFormatError);
}

}  // namespace
}  // namespace zirk
