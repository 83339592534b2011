#include <gtest/gtest.h>

#include <fstream>

#include "control_fixture.h"
#include "objects/scrollbar.h"
#include "objects/slider.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kBeyond = 0x000080, kUpTo = 0x008000;
constexpr uint32_t kThumb[3] = {0x0000F0, 0x00F000, 0xF00000};
constexpr uint32_t kButton[6] = {0x101010, 0x202020, 0x303030, 0x505050, 0x606060, 0x707070};

using Vs = std::vector<std::string>;

class SliderTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    writeStrip("vtrack.dor", 10, 100, {kBeyond, kUpTo});
    writeStrip("htrack.dor", 10, 6, {kBeyond, kUpTo});
    writeStrip("thumb.dor", 12, 8, {kThumb[0], kThumb[1], kThumb[2]});
    writeStrip("bigthumb.dor", 12, 20, {kThumb[0], kThumb[1], kThumb[2]});
    writeStrip("hthumb.dor", 4, 10, {kThumb[0], kThumb[1], kThumb[2]});
    writeStrip("buttons.dor", 12, 10, {kButton, kButton + 6});
    writeStrip("hbuttons.dor", 5, 8, {kButton, kButton + 6});
  }

  template <class T = TZirkSlider>
  T* make(bool vertical, const std::string& thumb = "thumb.dor") {
    auto* s = scene.Create<T>(nullptr, "s");
    s->SetPropInt(PR_LEFT, 100);
    s->SetPropInt(PR_TOP, 50);
    s->SetPropInt(PR_ALPHA, 255);
    s->SetPropInt(PR_ORIENTATION, vertical ? 1 : 0);
    s->SetPropStr(PR_SOURCE, vertical ? "vtrack.dor" : "htrack.dor");
    s->SetPropStr(PR_THUMBSOURCE, vertical ? thumb : "hthumb.dor");
    s->SetPropStr(PR_BUTTONSOURCE, vertical ? "buttons.dor" : "hbuttons.dor");
    if (!vertical) s->SetPropInt(PR_BARSIZE, 40);
    s->SetPropInt(PR_MAX, 100);
    s->SetPropInt(PR_SMALLCHANGE, 5);
    s->SetPropStr(PR_ONNOTIFY, "*n");
    s->SetPropStr(PR_ONHOLD, "*h");
    s->SetPropStr(PR_ONRELEASE, "*r");
    return s;
  }
  void clickAt(int32_t x, int32_t y) {
    press(x, y);
    release(x, y);
  }
};

// A vertical slider at (100, 50): buttons 12 x 10 at the ends, a thumb of
// 12 x 8 and a track of 10 x 100 at (101, 64).
TEST_F(SliderTest, SizesItselfFromItsStrips) {
  TZirkSlider* v = make(true);
  EXPECT_EQ(v->Width(), 12);
  EXPECT_EQ(v->Height(), 128);
  EXPECT_EQ(v->GetTrackRect(), Bounds(101, 64, 10, 100));
  EXPECT_EQ(v->GetThumbRect(), Bounds(100, 160, 12, 8)) << "the minimum sits at the bottom";
  EXPECT_EQ(v->GetButtonRect(1), Bounds(100, 168, 12, 10));
  v->SetPropInt(PR_VALUE, 150);
  EXPECT_EQ(v->GetPropInt(PR_VALUE), 100);
  EXPECT_EQ(v->GetThumbRect().Top, 60);
  v->SetPropInt(PR_BARSIZE, 60);
  EXPECT_EQ(v->Height(), 88);
  scene.FreeObject(v);

  TZirkScrollbar* bar = make<TZirkScrollbar>(true, "bigthumb.dor");
  EXPECT_EQ(bar->Height(), 120) << "the thumb moves inside the track";
  EXPECT_EQ(bar->GetTrackRect(), Bounds(101, 60, 10, 100));
  bar->SetPropInt(PR_VALUE, 50);
  EXPECT_EQ(bar->GetThumbRect(), Bounds(100, 100, 12, 20));
}

TEST_F(SliderTest, AStripThatFailsToLoadLeavesTheSizeOfWhatIsHeld) {
  TZirkSlider* s = make(true);
  s->SetPropInt(PR_VALUE, 40);
  std::ofstream(dir.path() / "broken.dor") << "not a picture";
  EXPECT_ANY_THROW(s->SetPropStr(PR_SOURCE, "broken.dor"));
  EXPECT_EQ(s->Width(), 0);
  EXPECT_EQ(s->Height(), 0) << "no track, no size";
  s->SetPropStr(PR_SOURCE, "vtrack.dor");
  EXPECT_EQ(s->Height(), 128);
  EXPECT_EQ(s->GetThumbRect().Top, 120);
}

TEST_F(SliderTest, TrackClickJumpsThereAndDragsOn) {
  TZirkSlider* s = make(true);
  press(103, 64);  // the top pixel of the track
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 99) << "the top pixel is one short of the end";
  EXPECT_EQ(s->DragMode(), TZirkSlider::kThumbDrag);
  EXPECT_EQ(s->ThumbState(), 2);
  EXPECT_EQ(takeEvents(), (Vs{"*h", "*n:99"}));
  move(103, 114);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 49);
  EXPECT_EQ(takeEvents(), (Vs{"*n:49"}));
  release(103, 114);
  EXPECT_EQ(takeEvents(), (Vs{"*r"}));
  EXPECT_EQ(s->DragMode(), TZirkSlider::kIdle);

  // The thumb (value 49: top 111, centre 115) is grabbed where it is held.
  move(105, 113);
  EXPECT_EQ(s->ThumbState(), 1);
  press(105, 113);
  EXPECT_EQ(takeEvents(), (Vs{"*h"}));
  move(105, 103);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 58);
  move(105, 0);
  move(105, 400);
  EXPECT_EQ(takeEvents(), (Vs{"*n:58", "*n:100", "*n:0"}));
  release(105, 400);
  EXPECT_EQ(takeEvents(), (Vs{"*r"}));
}

TEST_F(SliderTest, HeldStepButtonRepeatsWhileTheMouseStaysOnIt) {
  TZirkSlider* s = make(true);
  s->SetPropInt(PR_VALUE, 50);
  move(105, 55);
  EXPECT_EQ(s->ButtonState(0), 1);
  press(105, 55);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 55) << "the top button of a vertical slider adds";
  EXPECT_EQ(s->ButtonState(0), 2);
  // 10 ms ticks: the press tick counts; the next step after 300 ms, then
  // every 50 ms.
  std::vector<int32_t> steppedAt;
  for (int32_t tick = 2; tick <= 39; ++tick) {
    int32_t before = s->GetPropInt(PR_VALUE);
    idle();
    if (s->GetPropInt(PR_VALUE) != before) steppedAt.push_back(tick);
  }
  EXPECT_EQ(steppedAt, (std::vector<int32_t>{30, 35}));
  move(105, 90);  // off the button: stepping pauses, unpressed
  idle(10);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 65);
  EXPECT_EQ(s->ButtonState(0), 0);
  move(105, 55);
  idle(5);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 70);
  release(105, 55);
  EXPECT_EQ(s->ButtonState(0), 1);
  takeEvents();

  press(105, 170);  // the bottom button subtracts
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 65);
  release(105, 170);
}

TEST_F(SliderTest, ArrowKeysStepWithinTheRange) {
  struct Case {
    bool scrollbar, vertical;
    int32_t vk, start, expected;
  };
  const Case cases[] = {
      {false, true, 38, 50, 55},   {false, true, 40, 50, 45},  {false, true, 39, 50, 50},
      {false, false, 39, 50, 55},  {false, false, 37, 50, 45}, {false, true, 38, 98, 100},
      {false, true, 38, 100, 100}, {false, true, 40, 0, 0},    {true, true, 40, 50, 55},
      {true, true, 38, 50, 45},    {true, false, 39, 50, 55},
  };
  for (const Case& c : cases) {
    TZirkSlider* s = c.scrollbar ? make<TZirkScrollbar>(c.vertical) : make(c.vertical);
    s->SetPropInt(PR_VALUE, c.start);
    s->SetPropInt(PR_HANDLEKEY, 1);
    scene.SetFocus(s);
    key(c.vk);
    EXPECT_EQ(s->GetPropInt(PR_VALUE), c.expected) << c.vk << " from " << c.start;
    Vs expected;
    if (c.expected != c.start) expected.push_back("*n:" + std::to_string(c.expected));
    EXPECT_EQ(takeEvents(), expected) << c.vk << " from " << c.start;
    scene.FreeObject(s);
  }
}

TEST_F(SliderTest, OfBothArrowKeysOnlyTheOneWhoseRuleHeldFirstActs) {
  for (auto [scrollbar, vertical, start, expected] :
       {std::tuple{false, false, 100, 95}, {false, true, 97, 100}, {true, true, 100, 95}}) {
    TZirkSlider* s = scrollbar ? make<TZirkScrollbar>(vertical) : make(vertical);
    s->SetPropInt(PR_VALUE, start);
    scene.InputKeyDown(vertical ? 38 : 37);
    key(vertical ? 40 : 39, s);
    scene.InputKeyUp(vertical ? 38 : 37);
    EXPECT_EQ(takeEvents(), Vs{"*n:" + std::to_string(expected)}) << scrollbar << vertical;
    scene.FreeObject(s);
  }
}

TEST_F(SliderTest, NothingLightsOrMovesWithoutARange) {
  TZirkSlider* s = make(true);
  s->SetPropInt(PR_MAX, 0);
  EXPECT_EQ(s->ThumbPosition(), 0);
  for (TPoint p : {TPoint{105, 163}, TPoint{105, 55}, TPoint{105, 100}}) {
    move(p.X, p.Y);
    EXPECT_EQ(s->ThumbState() + s->ButtonState(0), 0);
    press(p.X, p.Y);
    release(p.X, p.Y);
  }
  EXPECT_EQ(takeEvents(), Vs{});

  // Paused: nothing lights, yet a press on the track still moves and drags.
  s->SetPropInt(PR_MAX, 100);
  s->SetPropInt(PR_PAUSED, 1);
  move(105, 161);
  EXPECT_EQ(s->ThumbState(), 0);
  press(105, 161);
  EXPECT_EQ(s->DragMode(), TZirkSlider::kThumbDrag);
  EXPECT_EQ(takeEvents(), (Vs{"*h", "*n:2"}));
}

TEST_F(SliderTest, MasksNarrowTheHits) {
  // Opaque: the thumb cells' right halves, the track's lower half, the
  // first button's three cells only.
  writeStrip("mthumb.dor", 12, 8, {kThumb[0], kThumb[1], kThumb[2]},
             [](int32_t x, int32_t) { return x % 12 < 6 ? 0 : 255; });
  writeStrip("mtrack.dor", 10, 100, {kBeyond, kUpTo},
             [](int32_t, int32_t y) { return y < 50 ? 0 : 255; });
  writeStrip("mbuttons.dor", 12, 10, {kButton, kButton + 6},
             [](int32_t x, int32_t) { return x < 36 ? 255 : 0; });
  TZirkSlider* s = make(true);
  s->SetPropStr(PR_SOURCE, "mtrack.dor");
  s->SetPropStr(PR_THUMBSOURCE, "mthumb.dor");
  s->SetPropStr(PR_BUTTONSOURCE, "mbuttons.dor");
  struct Case {
    bool captureMask;
    TPoint at;
    int32_t thumb, first, second;
  };
  const Case cases[] = {
      {false, {103, 163}, 1, 0, 0}, {true, {102, 163}, 0, 0, 0}, {true, {108, 163}, 1, 0, 0},
      {true, {105, 55}, 0, 1, 0},   {true, {105, 172}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    s->SetPropInt(PR_CAPTUREMASK, c.captureMask ? 1 : 0);
    move(c.at.X, c.at.Y);
    EXPECT_EQ(s->ThumbState(), c.thumb) << c.at.X << "," << c.at.Y;
    EXPECT_EQ(s->ButtonState(0), c.first) << c.at.X << "," << c.at.Y;
    EXPECT_EQ(s->ButtonState(1), c.second) << c.at.X << "," << c.at.Y;
  }
  clickAt(103, 70);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 0) << "the track's clear part is no track";
  clickAt(103, 120);
  EXPECT_EQ(s->GetPropInt(PR_VALUE), 43);
}

TEST_F(SliderTest, DrawsEachPartInTheCellOfItsState) {
  // Horizontal at (100, 50): buttons 5 x 8, thumb 4 x 10, track 40 x 6 at
  // (107, 52); value 25 puts the thumb at x 115.
  TZirkSlider* s = make(false);
  s->SetPropInt(PR_VALUE, 25);
  frame();
  struct Probe {
    int32_t x;
    uint32_t color;
  };
  auto check = [&](const char* what, std::initializer_list<Probe> probes) {
    for (const Probe& p : probes) EXPECT_EQ(screenColor(p.x, 53), p.color) << what << " x " << p.x;
  };
  check("idle", {{108, kUpTo},
                 {114, kUpTo},
                 {119, kBeyond},
                 {146, kBeyond},
                 {147, kBackground},
                 {116, kThumb[0]},
                 {102, kButton[0]},
                 {151, kButton[3]}});
  move(116, 55);
  frame();
  check("thumb hovered", {{116, kThumb[1]}});
  press(116, 55);
  frame();
  check("thumb pressed", {{116, kThumb[2]}});
  release(116, 55);
  move(151, 55);
  frame();
  check("second button hovered", {{116, kThumb[0]}, {151, kButton[4]}});
  press(151, 55);
  frame();
  check("second button pressed", {{151, kButton[5]}, {102, kButton[0]}});
  release(151, 55);

  // Without a track picture neither the thumb nor the buttons show.
  s->SetPropStr(PR_SOURCE, "");
  frame();
  check("no track", {{116, kBackground}, {102, kBackground}, {151, kBackground}});
}

TEST_F(SliderTest, VerticalTrackPatternRunsFromTheBottomEnd) {
  // Cells of 10 x 4 whose last row differs; the track (y 64..163) tiles
  // them so that the last row lies on the bottom end, across both parts.
  constexpr uint32_t kRow[2] = {0x202080, 0x208020}, kLast[2] = {0x4040F0, 0x40F040};
  TestFrame pattern{20, 4};
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 20; ++x)
      pattern.Colors.push_back(y == 3 ? kLast[x / 10] : kRow[x / 10]);
  }
  writePicture("ptrack.dor", {pattern});
  TZirkSlider* s = make(true);
  s->SetPropStr(PR_SOURCE, "ptrack.dor");
  s->SetPropInt(PR_BARSIZE, 100);
  s->SetPropInt(PR_VALUE, 25);  // thumb over y 135..142
  frame();
  struct Probe {
    int32_t y;
    uint32_t color;
  };
  for (const Probe& p : {Probe{163, kLast[1]}, Probe{162, kRow[1]}, Probe{143, kLast[1]},
                         Probe{134, kRow[0]}, Probe{131, kLast[0]}, Probe{64, kRow[0]}})
    EXPECT_EQ(screenColor(105, p.y), p.color) << p.y;
}

TEST_F(SliderTest, ScrollbarPagesTowardTheMouseWhileHeld) {
  // Track (101, 60) 10 x 100, thumb 12 x 20 travelling 80 pixels.
  TZirkScrollbar* bar = make<TZirkScrollbar>(true, "bigthumb.dor");
  bar->SetPropInt(PR_LARGECHANGE, 30);
  press(105, 150);
  EXPECT_EQ(bar->GetPropInt(PR_VALUE), 30);
  EXPECT_EQ(bar->DragMode(), TZirkSlider::kPageToEnd);
  EXPECT_EQ(takeEvents(), (Vs{"*n:30"})) << "paging is no drag: no hold event";
  frame();
  EXPECT_EQ(screenColor(102, 155), kUpTo) << "the paged part while paging";
  EXPECT_EQ(screenColor(102, 65), kBeyond);
  idle(28);
  EXPECT_EQ(bar->GetPropInt(PR_VALUE), 30);
  idle(1);
  EXPECT_EQ(bar->GetPropInt(PR_VALUE), 60);
  idle(5);
  EXPECT_EQ(bar->GetPropInt(PR_VALUE), 90);
  EXPECT_TRUE(bar->TrackHeld());
  idle(15);  // the thumb (132..151) has reached the mouse
  EXPECT_EQ(bar->GetPropInt(PR_VALUE), 90);
  EXPECT_FALSE(bar->TrackHeld());
  frame();
  EXPECT_EQ(screenColor(102, 155), kBeyond);
  release(105, 150);
  EXPECT_EQ(takeEvents(), (Vs{"*n:60", "*n:90"}));

  bar->SetPropInt(PR_LARGECHANGE, 0);
  press(105, 65);
  release(105, 65);
  EXPECT_EQ(takeEvents(), Vs{}) << "no large change: track presses change nothing";
}

TEST_F(SliderTest, ScrollbarDragKeepsTheValueWhenTheThumbCannotTravel) {
  struct Case {
    int32_t thumbHeight;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {20, {"*h", "*n:35", "*n:0", "*r"}}, {100, {"*h", "*r"}}, {120, {"*h", "*r"}}};
  for (const Case& c : cases) {
    const std::string name = "thumb" + std::to_string(c.thumbHeight) + ".dor";
    writeStrip(name, 12, c.thumbHeight, {kThumb[0], kThumb[1], kThumb[2]});
    TZirkScrollbar* bar = make<TZirkScrollbar>(true, name);
    bar->SetPropInt(PR_VALUE, 10);
    const TRect thumb = bar->GetThumbRect();
    move(105, thumb.Top + 1);
    press(105, thumb.Top + 1);
    move(105, thumb.Top + 21);
    move(105, 0);
    release(105, 0);
    EXPECT_EQ(takeEvents(), c.events) << c.thumbHeight;
    EXPECT_GE(bar->GetPropInt(PR_VALUE), 0);
    scene.FreeObject(bar);
  }
}

TEST_F(SliderTest, SaveRecordKeepsTheRawValueAndItsVersionGates) {
  TZirkScrollbar* s = make<TZirkScrollbar>(false);
  s->SetPropInt(PR_MAX, 80);
  s->SetPropInt(PR_VALUE, 150);
  s->SetPropInt(PR_CAPTUREMASK, 1);
  s->SetPropInt(PR_LARGECHANGE, 7);
  s->SetPropStr(PR_ONIDLE, "*i");
  const std::vector<uint8_t> current = record(*s);
  scene.FreeObject(s);

  struct Gate {
    int32_t version;
    size_t cut;  // trailing bytes of the slider record the version lacks
    bool captureMask;
    int32_t width;
  };
  for (const Gate& g :
       {Gate{SaveVersion, 0, true, 50}, Gate{127, 4, true, 20}, Gate{118, 5, false, 20}}) {
    std::vector<uint8_t> bytes = g.version < 120 ? withoutTag(current) : current;
    // The large change follows the slider record.
    bytes.erase(bytes.end() - 4 - static_cast<ptrdiff_t>(g.cut), bytes.end() - 4);
    auto* loaded = load<TZirkScrollbar>(bytes, g.version);
    EXPECT_EQ(loaded->GetPropInt(PR_VALUE), 80) << g.version;
    loaded->SetPropInt(PR_MAX, 200);
    EXPECT_EQ(loaded->GetPropInt(PR_VALUE), 150) << "saved as set";
    EXPECT_EQ(loaded->GetPropInt(PR_CAPTUREMASK), g.captureMask ? 1 : 0) << g.version;
    EXPECT_EQ(loaded->Width(), g.width) << g.version;
    EXPECT_EQ(loaded->GetPropInt(PR_LARGECHANGE), 7);
    EXPECT_EQ(loaded->GetPropStr(PR_ONIDLE), "*i");
    EXPECT_EQ(loaded->GetPropStr(PR_THUMBSOURCE), "hthumb.dor");
    scene.FreeObject(loaded);
  }
}

}  // namespace
}  // namespace zirk::test
