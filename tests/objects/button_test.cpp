#include <gtest/gtest.h>

#include "control_fixture.h"
#include "film_support.h"
#include "objects/button.h"
#include "objects/motion.h"
#include "script/parser.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kNormal = 0x000080, kHover = 0x008000, kPressed = 0x800000;
constexpr uint32_t kClicked1 = 0x0000F0, kClicked2 = 0x00F000;

using Vs = std::vector<std::string>;

class ButtonTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    RegisterZirkMotion();
    writeSolid("normal.dor", 10, 10, kNormal);
    writeSolid("hover.dor", 10, 10, kHover);
    writeSolid("pressed.dor", 10, 10, kPressed);
    writePicture("clicked.dor", {TestFrame{10, 10, {}, kClicked1, -1, 50},
                                 TestFrame{10, 10, {}, kClicked2, -1, 50}});
  }
  void TearDown() override {
    SetMotionFactory({});
    ControlTest::TearDown();
  }
  // A button at (100 + 20 i, 50).
  TZirkButton* make(int32_t i = 0, bool hover = true, bool clicked = true) {
    auto* b = scene.Create<TZirkButton>(nullptr, "b" + std::to_string(i));
    b->SetPropInt(PR_LEFT, 100 + 20 * i);
    b->SetPropInt(PR_TOP, 50);
    b->SetPropStr(PR_SOURCE, "normal.dor");
    if (hover) b->SetPropStr(PR_HOVERSOURCE, "hover.dor");
    b->SetPropStr(PR_PRESSEDSOURCE, "pressed.dor");
    if (clicked) b->SetPropStr(PR_CLICKEDSOURCE, "clicked.dor");
    b->SetPropStr(PR_ONNOTIFY, "*n" + std::to_string(i));
    b->SetPropStr(PR_ONPLAYEND, "*end");
    return b;
  }
  void clickAt(int32_t x, int32_t y) {
    press(x, y);
    release(x, y);
  }
  // Ticks until the button leaves the clicked state; the ticks taken.
  int32_t playClicked(TZirkButton* b) {
    for (int32_t n = 1; n <= 100; ++n) {
      frame();
      if (!scene.Contains(b) || b->State() != TZirkButton::kClicked) return n;
    }
    return -1;
  }
};

TEST_F(ButtonTest, MouseShowsEachStatesPicture) {
  TZirkButton* b = make();
  frame();
  EXPECT_EQ(screenColor(105, 55), kNormal);
  move(105, 55);
  frame();
  EXPECT_EQ(screenColor(105, 55), kHover);
  press(105, 55);
  frame();
  EXPECT_EQ(screenColor(105, 55), kPressed);
  EXPECT_EQ(takeEvents(), Vs{}) << "the press queues no button-down event";
  move(300, 300);  // dragged off: shown up
  EXPECT_EQ(b->State(), TZirkButton::kNormal);
  move(105, 55);  // and back on
  EXPECT_EQ(b->State(), TZirkButton::kPressed);
  release(105, 55);
  EXPECT_EQ(takeEvents(), (Vs{"*n0"}));
  frame();
  EXPECT_EQ(screenColor(105, 55), kClicked1);
  // The clicked picture plays once; a hover asked for meanwhile follows.
  move(106, 56);
  EXPECT_EQ(b->State(), TZirkButton::kClicked);
  EXPECT_GT(playClicked(b), 5);
  EXPECT_EQ(b->State(), TZirkButton::kHover);
  EXPECT_EQ(takeEvents(), (Vs{"*end"}));

  // Pressed, dragged off and released there: no click.
  press(105, 55);
  release(300, 300);
  EXPECT_EQ(takeEvents(), Vs{});
  EXPECT_EQ(b->State(), TZirkButton::kNormal);

  // Paused: the mouse neither lights nor presses it.
  b->SetPropInt(PR_PAUSED, 1);
  move(106, 55);
  press(106, 55);
  EXPECT_EQ(b->PressState(), 0);
  release(106, 55);
  EXPECT_EQ(b->State(), TZirkButton::kNormal);
  EXPECT_EQ(takeEvents(), Vs{});

  // Without a hover picture entering keeps the normal one.
  TZirkButton* plain = make(1, false);
  move(125, 55);
  EXPECT_EQ(plain->State(), TZirkButton::kNormal);
}

TEST_F(ButtonTest, GroupedButtonsActAsRadioButtons) {
  std::vector<TZirkButton*> b;
  for (int32_t i = 0; i < 3; ++i) {
    b.push_back(make(i));
    b.back()->SetPropInt(PR_GROUPINDEX, 1);
  }
  auto states = [&] {
    std::string s;
    for (TZirkButton* x : b)
      s += std::to_string(x->GetPropInt(PR_SELECTED)) + std::to_string(x->State());
    return s;
  };
  clickAt(105, 55);
  EXPECT_EQ(states(), "120000");
  move(300, 300);
  clickAt(125, 55);
  move(300, 300);
  EXPECT_EQ(states(), "001200") << "the parent sets the others up";
  frame();
  EXPECT_EQ(screenColor(125, 55), kPressed);
  EXPECT_EQ(screenColor(105, 55), kNormal);
  clickAt(125, 55);
  move(300, 300);
  EXPECT_EQ(states(), "001200") << "a selected radio button stays down";
  b[1]->SetPropInt(PR_SELECTED, 0);
  EXPECT_EQ(states(), "001200") << "the group keeps one button down";
  EXPECT_EQ(takeEvents(), (Vs{"*n0", "*n1", "*n1"}));

  b[2]->SetPropInt(PR_ALLOWALLUP, 1);
  for (TZirkButton* x : b) EXPECT_EQ(x->GetPropInt(PR_ALLOWALLUP), 1);
  clickAt(125, 55);
  move(300, 300);
  EXPECT_EQ(states(), "000000") << "all up allowed: it comes up";

  TZirkButton* loose = make(3);
  loose->SetPropInt(PR_SELECTED, 1);
  EXPECT_EQ(loose->GetPropInt(PR_SELECTED), 0) << "no group, no selection";
}

TEST_F(ButtonTest, AutoScrapAfterTheClickedPictureOrAtOnce) {
  for (bool clicked : {true, false}) {
    TZirkButton* b = make(0, true, clicked);
    b->SetPropInt(PR_AUTOSCRAP, 1);
    clickAt(105, 55);
    EXPECT_EQ(takeEvents(), (Vs{"*n0"})) << clicked;
    EXPECT_EQ(playClicked(b), clicked ? 10 : 1) << clicked;
    EXPECT_FALSE(scene.Contains(b)) << clicked;
  }
}

TEST_F(ButtonTest, EnterOrSpaceClicksOnce) {
  TZirkButton* b = make(0, true, false);
  b->SetPropInt(PR_HANDLEKEY, 1);
  scene.SetFocus(b);
  key(13);
  key(32);
  scene.InputKeyDown(13);
  scene.InputKeyDown(32);
  idle();
  EXPECT_EQ(takeEvents(), (Vs{"*n0", "*n0", "*n0"}));
}

TEST_F(ButtonTest, OwnMotionStepsOncePerTick) {
  FilmFile m;
  m.kind = "ZirkMotion";
  FilmTrack t;
  t.source = "normal.dor";
  t.length = 100;
  t.positionTo = {30, 0};
  m.tracks = {t};
  writeFile(dir / "walk.zmt", WriteFilmFile(m));
  TZirkButton* b = make();
  b->SetPropStr(PR_SOURCE, "walk.zmt");
  ASSERT_NE(b->GetMotion(), nullptr);
  for (int32_t i = 0; i < 5; ++i) frame();
  // The first step shows time 0.
  TZirkMotionBase* own = b->GetMotion();
  EXPECT_EQ(own->GetTime(), 4 * 10);

  // A motion is a state's picture too; only the shown state's one moves.
  b->SetPropStr(PR_HOVERSOURCE, "walk.zmt");
  b->MouseMove(0, 0);
  ASSERT_EQ(b->State(), TZirkButton::kHover);
  TZirkMotionBase* hover = b->GetMotion();
  EXPECT_NE(hover, own);
  frame();
  frame();
  EXPECT_EQ(hover->GetTime(), 10);
  EXPECT_EQ(own->GetTime(), 4 * 10);
}

TEST_F(ButtonTest, FramesSteppedInATickAreShownOnce) {
  // Six frames of delay 0, each shown for 1 ms: a tick of 2 ms moves two
  // frames on, and the picture of a state repeats.
  std::vector<TestFrame> frames(6);
  for (size_t k = 0; k < frames.size(); ++k)
    frames[k] = TestFrame{10, 10, {}, 0x20 * uint32_t(k + 1), -1, 0};
  writePicture("six.dor", frames);
  auto* host = scene.Create<CountingParent<TZirkControl>>(nullptr, "host");
  host->SetBounds(0, 0, 640, 480);
  auto* b = scene.Create<TZirkButton>(host, "b");
  b->SetPropStr(PR_SOURCE, "six.dor");
  scene.SetFrameInterval(2);
  for (int32_t index : {2, 4, 0, 2}) {
    host->Invalidations = 0;
    frame();
    EXPECT_EQ(b->Index(), index);
    EXPECT_EQ(host->Invalidations, 1) << index;
    EXPECT_EQ(screenColor(5, 5), 0x20 * uint32_t(index + 1));
  }
}

TEST_F(ButtonTest, SaveRecordKeepsTheSelectionAndItsVersionGate) {
  TZirkButton* b = make();
  b->SetPropInt(PR_GROUPINDEX, 2);
  b->SetPropInt(PR_SELECTED, 1);
  b->SetPropStr(PR_ONIDLE, "*i");
  const std::vector<uint8_t> current = record(*b);
  scene.FreeObject(b);

  auto* loaded = load<TZirkButton>(current, SaveVersion);
  EXPECT_EQ(loaded->GetPropInt(PR_SELECTED), 1);
  EXPECT_EQ(loaded->State(), TZirkButton::kPressed);
  EXPECT_EQ(loaded->GetPropInt(PR_GROUPINDEX), 2);
  EXPECT_EQ(loaded->GetPropStr(PR_HOVERSOURCE), "hover.dor");
  EXPECT_EQ(loaded->GetPropStr(PR_CLICKEDSOURCE), "clicked.dor");
  EXPECT_EQ(loaded->GetPropStr(PR_ONIDLE), "*i");
  EXPECT_EQ(loaded->GetPropStr(PR_ONNOTIFY), "*n0");
  frame();
  EXPECT_EQ(screenColor(105, 55), kPressed);
  scene.FreeObject(loaded);

  // As written before 104: the base record without order and tag, no
  // zoom y in the picture record, no idle label in the images record, and
  // the button's record ending after its notify label.
  TKwMemoryStream parser;
  TZirkParser().SaveToStream(parser);
  std::vector<uint8_t> old = current;
  old.resize(old.size() - (4 + 2) - (4 + 11));
  const size_t buttonTail = (4 + 9) + (4 + 11) + 4 + 1 + 1 + (4 + 3);
  const size_t imagesIdle = old.size() - buttonTail - 4;
  old.erase(old.begin() + ptrdiff_t(imagesIdle), old.begin() + ptrdiff_t(imagesIdle + 4));
  const size_t imagesHead = 1 + 1 + (4 + 10) + (4 + 4);
  const size_t zoomY = imagesIdle - imagesHead - (13 + size_t(parser.Size())) - 4;
  old.erase(old.begin() + ptrdiff_t(zoomY), old.begin() + ptrdiff_t(zoomY + 4));
  old.erase(old.begin() + 10, old.begin() + 18);
  auto* early = load<TZirkButton>(old, 103);
  EXPECT_EQ(early->GetPropInt(PR_SELECTED), 1);
  EXPECT_EQ(early->GetPropStr(PR_HOVERSOURCE), "hover.dor");
  EXPECT_EQ(early->GetPropStr(PR_CLICKEDSOURCE), "");
  EXPECT_EQ(early->GetPropStr(PR_ONIDLE), "");
  EXPECT_EQ(early->GetPropStr(PR_ONNOTIFY), "*n0");
}

}  // namespace
}  // namespace zirk::test
