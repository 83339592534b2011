#include <gtest/gtest.h>

#include "control_fixture.h"
#include "objects/listbox.h"
#include "objects/menu.h"
#include "script/saveversion.h"
#include "script/sysvars.h"

namespace zirk::test {
namespace {

constexpr uint32_t kScroll[7] = {0x000010, 0x000020, 0x000030, 0x000040,
                                 0x000050, 0x000060, 0x000070};
constexpr uint32_t kCheck[2] = {0x00A000, 0x00B000};
constexpr uint32_t kFrame = 0x0000C0, kFill = 0x303000, kHover = 0x600060;

using Vs = std::vector<std::string>;

std::string rowsText(int32_t n) {
  std::string text;
  for (int32_t i = 0; i < n; ++i) text += (i ? "\r\nR" : "R") + std::to_string(i);
  return text;
}

// Rows of "R0".."R9" (16 x 16 each) at (100, 50), four visible, 4 apart,
// margins 2, a frame of 1, a scroll strip of 10 x 12 cells and check signs
// of 6 x 6: the widget is 38 x 82; rows start at y 53 (hit bands 20 high
// from y 51), the scroll column is x 127..136, the up button y 51..62, the
// down button y 119..130 and the thumb 63 + 44 x top / 6.
class ListBoxTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    writeStrip(
        "scroll.dor", 10, 12,
        {kScroll[0], kScroll[1], kScroll[2], kScroll[3], kScroll[4], kScroll[5], kScroll[6]});
    writeStrip("check.dor", 6, 6, {kCheck[0], kCheck[1]});
  }

  template <class T = TZirkCustomListBox>
  T* make(int32_t rows = 10) {
    auto* b = scene.Create<T>(nullptr, "");
    const std::pair<int, int32_t> numbers[] = {
        {PR_LEFT, 100},      {PR_TOP, 50},      {PR_ALPHA, 255},          {PR_FONTHEIGHT, 16},
        {PR_ROWCOUNT, 4},    {PR_LINESPACE, 4}, {PR_MARGINX, 2},          {PR_MARGINY, 2},
        {PR_BORDERWIDTH, 1}, {PR_HANDLEKEY, 1}, {PR_BORDERCOLOR, kFrame}, {PR_COLOR, kFill}};
    for (auto [id, v] : numbers) b->SetPropInt(id, v);
    const std::pair<int, std::string> texts[] = {{PR_FONTNAME, "IPAGothic"},
                                                 {PR_SCROLLSOURCE, "scroll.dor"},
                                                 {PR_CHECKSOURCE, "check.dor"},
                                                 {PR_TEXT, rowsText(rows)},
                                                 {PR_ONMAPIN, "in"},
                                                 {PR_ONMAPOUT, "out"},
                                                 {PR_ONSELECT, "sel"}};
    for (const auto& [id, v] : texts) b->SetPropStr(id, v);
    frame();
    takeEvents();
    return b;
  }
  void at(uint32_t ms) {
    scene.SetSceneClock(ms);
    scene.InputStep();
  }
};

TEST_F(ListBoxTest, TextBecomesRowsAndTheRowsSizeTheWidget) {
  TZirkCustomListBox* b = make();
  EXPECT_EQ(b->GetScreenRect(), Bounds(100, 50, 38, 82));
  struct Case {
    std::string text;
    Vs rows;
    int32_t height;
  } cases[] = {
      {"", {}, 6},
      {"\r\n\r\n\r\n", {}, 6},
      {"\x01\tA\r\nB\rC\nD\r\n\x02", {"A", "B", "C", "D"}, 82},
      {"A\r\n\r\nB", {"A", "", "B"}, 62},
  };
  for (const Case& c : cases) {
    b->SetRowChecked(0, true);
    b->SetPropStr(PR_TEXT, c.text);
    frame();
    ASSERT_EQ(b->Count(), int32_t(c.rows.size())) << c.text;
    for (int32_t i = 0; i < b->Count(); ++i) EXPECT_EQ(b->RowText(i), c.rows[size_t(i)]);
    EXPECT_FALSE(b->GetRowChecked(0)) << "new rows start unchecked";
    EXPECT_EQ(b->Height(), c.height) << c.text;
  }
  b->SetPropStr(PR_TEXT, "\r\nA\r\n");
  EXPECT_EQ(b->GetPropStr(PR_TEXT), "A") << "kept as its rows read";
  // Check signs outside the rows read false and set nothing.
  b->SetPropStr(PR_TEXT, "A\r\nB");
  for (int32_t row : {-1, 1, 2, 1000}) b->SetRowChecked(row, true);
  for (int32_t row : {-1, 0, 1, 2}) EXPECT_EQ(As<IRowChecks>(b)->GetRowChecked(row), row == 1);
  struct Top {
    int32_t rows, value, top;
  } tops[] = {{3, 5, 0}, {10, 9, 6}, {10, -3, 0}, {10, 2, 2}};
  for (const Top& t : tops) {
    b->SetPropStr(PR_TEXT, rowsText(t.rows));
    b->SetPropInt(PR_TOPINDEX, t.value);
    EXPECT_EQ(b->TopIndex(), t.top) << t.rows << " rows, " << t.value;
  }
}

TEST_F(ListBoxTest, HoverAndClickSelectRows) {
  TZirkCustomListBox* b = make();
  move(110, 60);
  EXPECT_EQ(takeEvents(), (Vs{"in:R0,-1"}));
  move(110, 75);
  EXPECT_EQ(takeEvents(), (Vs{"in:R1,-1"})) << "moving between rows only maps in";
  move(300, 300);
  EXPECT_EQ(takeEvents(), (Vs{"out:R1,-1"}));
  EXPECT_EQ(b->HoveredRow(), -1);

  press(110, 95);
  release(110, 95);
  EXPECT_EQ(takeEvents(), (Vs{"in:R2,-1", "sel:R2,2"}));
  EXPECT_EQ(b->GetPropInt(PR_INDEX), 2);
  EXPECT_EQ(SystemVariables().SelStr, "R2");
  EXPECT_EQ(SystemVariables().SelIndex, 2);

  press(130, 125);  // the down button
  release(110, 60);
  EXPECT_EQ(takeEvents(), (Vs{"out:R2,2"})) << "a press on the scroll bar never selects";
  EXPECT_EQ(b->MousePart(), TZirkCustomListBox::kNoPart);
}

TEST_F(ListBoxTest, KeysMoveTheHoverScrollItIntoViewAndRepeat) {
  TZirkCustomListBox* b = make();
  scene.SetFocus(b);
  struct Step {
    int32_t vk, hovered, top;
  } steps[] = {{40, 0, 0}, {34, 4, 1}, {34, 8, 5}, {40, 9, 6}, {40, 9, 6},
               {33, 5, 5}, {33, 1, 1}, {38, 0, 0}, {38, 0, 0}, {37, 0, 0}};
  for (const Step& s : steps) {
    key(s.vk);
    EXPECT_EQ(b->HoveredRow(), s.hovered) << s.vk;
    EXPECT_EQ(b->TopIndex(), s.top) << s.vk;
  }
  for (int32_t vk : {38, 33}) {
    TZirkCustomListBox* fresh = make();
    scene.SetFocus(fresh);
    key(vk);
    EXPECT_EQ(fresh->HoveredRow(), 9) << "from no row, " << vk << " goes to the last";
    EXPECT_EQ(fresh->TopIndex(), 6);
  }
  // An empty list has no row to hover, whatever the key.
  TZirkCustomListBox* empty = make(0);
  scene.SetFocus(empty);
  for (int32_t vk : {40, 34, 38, 33}) {
    key(vk);
    EXPECT_EQ(empty->HoveredRow(), -1) << vk;
  }
  EXPECT_EQ(takeEvents(), Vs{});
  // A held key repeats on the scene clock.
  TZirkCustomListBox* held = make();
  scene.SetFocus(held);
  scene.InputKeyDown(40);
  const std::pair<uint32_t, int32_t> repeats[] = {{1000, 0}, {1100, 0}, {1299, 0}, {1300, 1},
                                                  {1350, 2}, {1390, 2}, {1400, 3}};
  for (auto [ms, row] : repeats) {
    at(ms);
    EXPECT_EQ(held->HoveredRow(), row) << ms;
  }
  scene.InputKeyUp(40);
  at(1500);
  EXPECT_EQ(held->HoveredRow(), 3);
  held->SetPropStr(PR_TEXT, rowsText(3));
  EXPECT_EQ(held->HoveredRow(), -1) << "a row the new text lacks";
}

TEST_F(ListBoxTest, ScrollButtonHoldsRepeatAndStopOffTheButton) {
  TZirkCustomListBox* b = make();
  scene.SetSceneClock(1000);
  press(130, 125);
  EXPECT_EQ(b->TopIndex(), 1) << "at once";
  EXPECT_TRUE(b->ButtonHeld());
  struct Step {
    uint32_t ms;
    int32_t x, top;
    bool held;
  } steps[] = {{1299, 130, 1, true},  {1300, 130, 2, true}, {1350, 130, 3, true},
               {1400, 110, 3, false}, {1450, 130, 4, true}, {1500, 130, 5, true},
               {1550, 130, 6, true},  {1600, 130, 6, true}};
  for (const Step& s : steps) {
    scene.InputMouseMove(s.x, 125);
    at(s.ms);
    EXPECT_EQ(b->TopIndex(), s.top) << s.ms;
    EXPECT_EQ(b->ButtonHeld(), s.held) << s.ms;
  }
  release(130, 125);
  EXPECT_FALSE(b->ButtonHeld());
}

TEST_F(ListBoxTest, TrackPagesAndTheThumbDrags) {
  TZirkCustomListBox* b = make();
  press(130, 100);  // below the thumb
  release(130, 100);
  EXPECT_EQ(b->TopIndex(), 4);
  EXPECT_EQ(b->ThumbTop(), 63 + 44 * 4 / 6);
  press(130, 70);  // above it
  release(130, 70);
  EXPECT_EQ(b->TopIndex(), 0);

  press(130, 65);  // on the thumb, 4 above its centre
  const std::pair<int32_t, int32_t> drags[] = {{100, 5}, {200, 6}, {0, 0}, {85, 3}};
  for (auto [y, top] : drags) {
    move(130, y);
    EXPECT_EQ(b->TopIndex(), top) << y;
  }
  release(130, 80);
}

TEST_F(ListBoxTest, AThumbWithoutRoomToTravelKeepsTheTopIndex) {
  TZirkCustomListBox* b = make();
  b->SetPropInt(PR_ROWCOUNT, 1);  // 22 high: the track is shorter than three cells
  frame();
  b->SetPropInt(PR_TOPINDEX, 3);
  const int32_t thumb = b->ThumbTop();
  press(130, thumb);
  EXPECT_EQ(b->MousePart(), TZirkCustomListBox::kThumb);
  move(130, thumb + 30);
  EXPECT_EQ(b->TopIndex(), 3);
  release(130, thumb + 30);
}

// A menu shown at once draws like its list box, with the hover colour.
TEST_F(ListBoxTest, DrawsFrameStripsHoverAndChecks) {
  TZirkMenu* m = make<TZirkMenu>();
  m->SetPropInt(PR_HOVERCOLOR, kHover);
  m->SetActive(TZirkMenu::kShown);
  m->SetRowChecked(1, true);
  m->SetRowChecked(2, true);
  move(104, 75);  // row 1
  frame();
  struct Probe {
    int32_t x, y;
    uint32_t color;
    const char* what;
  } probes[] = {
      {100, 50, kFrame, "frame"},
      {103, 125, kFill, "background"},
      {130, 55, kScroll[0], "up button"},
      {130, 125, kScroll[2], "down button"},
      {130, 65, kScroll[6], "thumb"},
      {130, 100, kScroll[4], "track below"},
      {103, 72, kHover, "hover row"},
      {103, 60, kFill, "row 0"},
      {105, 80, kCheck[1], "hovered check"},
      {105, 100, kCheck[0], "check"},
  };
  for (const Probe& p : probes) EXPECT_EQ(screenColor(p.x, p.y), p.color) << p.what;

  press(130, 125);  // holds the down button: the top moves to 1
  frame();
  EXPECT_EQ(screenColor(130, 125), kScroll[3]);
  EXPECT_EQ(screenColor(130, 65), kScroll[4]) << "track above";
  EXPECT_EQ(screenColor(130, 72), kScroll[6]);
  release(130, 125);

  m->SetPropInt(PR_ALPHA, 256 + 128);  // additive: the fill scaled to a half
  frame();
  EXPECT_EQ(screenColor(103, 125), kBackground + 0x181800);
  m->SetPropInt(PR_ALPHA, 0);
  frame();
  EXPECT_EQ(screenColor(100, 50), kBackground);
  EXPECT_EQ(screenColor(130, 65), kBackground);
}

TEST_F(ListBoxTest, BorderImagesAlignAndTheLowerTrackContinuesItsPattern) {
  // Bottom centre: 10 x 4 of two halves; the track cell: rows 0..5 dark, 6..11 light.
  TestFrame bottom{10, 4};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 10; ++x) bottom.Colors.push_back(x < 5 ? 0x0000A0u : 0x00A0A0u);
  writePicture("bottom.dor", {bottom});
  TestFrame strip{70, 12};
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 70; ++x)
      strip.Colors.push_back(x / 10 == 4 ? (y < 6 ? 0x101010u : 0xE0E0E0u) : kScroll[x / 10]);
  writePicture("track.dor", {strip});

  TZirkCustomListBox* b = make();
  b->SetPropStr(PR_BORDERSOURCEB, "bottom.dor");
  b->SetPropInt(PR_BORDERHALIGNB, 1);
  b->SetPropStr(PR_SCROLLSOURCE, "track.dor");
  b->SetPropInt(PR_TOPINDEX, 1);
  frame();  // 86 high now, the bottom row 4 high
  // A 36-pixel cell centres the 10-pixel picture: the tiles start at -3.
  ASSERT_EQ(b->CellRect(7), Bounds(101, 131, 36, 4));
  const uint32_t a = 0x0000A0, z = 0x00A0A0;
  const uint32_t row[] = {a, a, z, z, z, z, z, a, a, a};
  for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(screenColor(101 + x, 132), row[x]) << x;
  // The thumb covers y 70..81 of a track from 63: below it the pattern
  // goes on at row (82 - 63) mod 12 = 7.
  ASSERT_EQ(b->ThumbTop(), 70);
  const std::pair<int32_t, uint32_t> track[] = {
      {63, 0x101010}, {69, 0xE0E0E0}, {82, 0xE0E0E0}, {86, 0xE0E0E0}, {87, 0x101010}};
  for (auto [y, color] : track) EXPECT_EQ(screenColor(130, y), color) << y;
}

TEST_F(ListBoxTest, SaveRecordKeepsChecksAndItsVersionGates) {
  TZirkCustomListBox* b = make(3);
  b->SetRowChecked(0, true);
  b->SetRowChecked(2, true);
  b->SetPropInt(PR_TOPINDEX, 0);
  b->SetPropStr(PR_ONMAPIN, "m");
  b->SetPropStr(PR_ONMAPOUT, "o");
  b->SetPropStr(PR_ONSELECT, "");
  b->SetPropStr(PR_ONIDLE, "i");
  const std::vector<uint8_t> current = record(*b);
  scene.FreeObject(b);
  auto check = [&](TZirkCustomListBox* l, int32_t version) {
    EXPECT_EQ(l->Count(), 3) << version;
    EXPECT_EQ(l->GetPropStr(PR_ONIDLE), version >= 131 ? "i" : "") << version;
    EXPECT_EQ(l->GetPropStr(PR_ONMAPOUT), version >= 134 ? "o" : "") << version;
    for (int32_t row = 0; row < 3; ++row) EXPECT_EQ(l->GetRowChecked(row), row != 1) << version;
    EXPECT_EQ(l->GetPropStr(PR_SCROLLSOURCE), "scroll.dor");
    EXPECT_EQ(l->GetPropInt(PR_BORDERCOLOR), int32_t(kFrame));
    scene.FreeObject(l);
  };
  check(load<TZirkCustomListBox>(current, SaveVersion), SaveVersion);
  // The tail after the top index: h-align, 3 checks, select label,
  // paused, index, menu phase, idle, map-in and map-out labels.
  std::vector<uint8_t> v133 = current;
  v133.resize(v133.size() - 2 * 5);
  check(load<TZirkCustomListBox>(v133, 133), 133);
  std::vector<uint8_t> v130 = v133;
  v130.resize(v130.size() - 5);
  check(load<TZirkCustomListBox>(v130, 130), 130);
  // Before 104 a byte follows the top index, and the base record has
  // neither order nor tag.
  std::vector<uint8_t> v103 = withoutTag(v130);
  v103.erase(v103.begin() + 8, v103.begin() + 12);
  v103.insert(v103.end() - (1 + 3 + 4 + 1 + 4 + 4), 0x5A);
  check(load<TZirkCustomListBox>(v103, 103), 103);
}

}  // namespace
}  // namespace zirk::test
