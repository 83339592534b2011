#include "objects/menu.h"

#include <gtest/gtest.h>

#include "control_fixture.h"
#include "script/saveversion.h"
#include "script/sysvars.h"

namespace zirk::test {
namespace {

using Vs = std::vector<std::string>;
constexpr int32_t kTick = -1;

// Three rows "A", "B", "C" of 8 x 16 at (100, 50): the open menu is 8 x 48.
class MenuTest : public ControlTest {
 protected:
  TZirkMenu* make(int32_t delay = 100) {
    auto* m = scene.Create<TZirkMenu>(nullptr, "");
    const std::pair<int, int32_t> numbers[] = {
        {PR_LEFT, 100},   {PR_TOP, 50},      {PR_ALPHA, 255},  {PR_FONTHEIGHT, 16},
        {PR_ROWCOUNT, 3}, {PR_DELAY, delay}, {PR_HANDLEKEY, 1}};
    for (auto [id, v] : numbers) m->SetPropInt(id, v);
    const std::pair<int, const char*> texts[] = {
        {PR_FONTNAME, "IPAGothic"}, {PR_TEXT, "A\r\nB\r\nC"},  {PR_ONOPENING, "opening"},
        {PR_ONOPENED, "opened"},    {PR_ONCLOSING, "closing"}, {PR_ONCLOSED, "closed"},
        {PR_ONSELECT, "sel"}};
    for (auto [id, v] : texts) m->SetPropStr(id, v);
    frame();
    return m;
  }
  void at(uint32_t ms) {
    scene.SetSceneClock(ms);
    scene.InputStep();
    frame();
  }
  void rightClick(int32_t x, int32_t y) {
    scene.InputMouseDown(TMouseButton::Right, x, y);
    scene.InputStep();
  }
  void click(int32_t x, int32_t y) {
    press(x, y);
    release(x, y);
  }
};

TEST_F(MenuTest, OpensAndClosesOverItsDelay) {
  TZirkMenu* m = make();
  EXPECT_EQ(m->Height(), 0) << "a hidden menu keeps no height through its layout";
  EXPECT_EQ(m->Width(), 8);
  m->SetActive(TZirkMenu::kOpened);
  struct Step {
    uint32_t ms;
    int32_t height, phase;
    Vs events;
  } steps[] = {
      {1000, 0, 101, {"opening"}}, {1000, 0, 102, {}},           {1050, 24, 102, {}},
      {1100, 48, 0, {"opened"}},   {2000, -3, 201, {"closing"}}, {2025, 36, 201, {}},
      {2100, 36, 302, {"closed"}},
  };
  for (const Step& s : steps) {
    if (s.height == -3) m->SetActive(TZirkMenu::kClosed);
    at(s.ms);
    if (s.height >= 0) {
      EXPECT_EQ(m->Height(), s.height) << s.ms;
    }
    EXPECT_EQ(m->MenuPhase(), s.phase) << s.ms;
    EXPECT_EQ(m->GetPropInt(PR_ORIGHEIGHT), 48) << s.ms;
    if (s.phase != 302) {
      EXPECT_EQ(takeEvents(), s.events) << s.ms;
    }
  }
  at(2200);
  EXPECT_TRUE(scene.Contains(m)) << "the close events are still queued";
  EXPECT_EQ(takeEvents(), (Vs{"closed"}));
  at(2300);
  EXPECT_FALSE(scene.Contains(m));

  TZirkMenu* quick = make(0);
  quick->SetActive(TZirkMenu::kOpened);
  at(3000);
  at(3000);
  at(3000);
  EXPECT_EQ(quick->Height(), 48);
  EXPECT_EQ(takeEvents(), (Vs{"opening", "opened"}));
  // A menu shown at once shrinks from the height it shows.
  quick->SetPropInt(PR_DELAY, 100);
  quick->SetActive(TZirkMenu::kShown);
  quick->SetActive(TZirkMenu::kClosed);
  at(4000);
  at(4050);
  EXPECT_EQ(quick->Height(), 24);
}

TEST_F(MenuTest, SetActiveComparesShownWithOpenedAndHiddenWithClosed) {
  struct Case {
    std::vector<int32_t> calls;
    int32_t active, phase, height;
    Vs events;
  } cases[] = {
      {{0}, 0, 0, 48, {"opening", "opened"}},
      {{0, 1}, 0, 0, 48, {"opening", "opened"}},
      {{1, kTick, kTick, 1}, 1, 100, 0, {"opening"}},
      {{3}, 2, 0, 0, {}},
      {{0, 2}, 2, 0, 0, {"opening", "opened", "closing", "closed"}},
      {{0, 2, 3}, 2, 0, 0, {"opening", "opened", "closing", "closed"}},
  };
  for (const Case& c : cases) {
    TZirkMenu* m = make();
    takeEvents();
    for (int32_t call : c.calls) call == kTick ? frame() : m->SetActive(call);
    EXPECT_EQ(m->GetActive(), c.active) << c.calls.size();
    EXPECT_EQ(m->MenuPhase(), c.phase) << c.calls.size();
    EXPECT_EQ(m->Height(), c.height) << c.calls.size();
    EXPECT_EQ(takeEvents(), c.events) << c.calls.size();
    EXPECT_EQ(scene.Focused() == m, c.active != 2) << "the shown menu takes the focus";
    scene.FreeObject(m);
  }
}

TEST_F(MenuTest, ASelectionWithAutoScrapClosesOnceTheEventsRan) {
  TZirkMenu* m = make();
  m->SetPropInt(PR_AUTOSCRAP, 1);
  m->SetActive(TZirkMenu::kShown);
  takeEvents();
  click(104, 70);
  frame();
  frame();
  frame();
  EXPECT_TRUE(scene.Contains(m));
  EXPECT_EQ(takeEvents(), (Vs{"sel:B,1", "closing", "closed"}));
  EXPECT_TRUE(m->IsBusy());
  click(104, 90);
  key(13);
  EXPECT_EQ(takeEvents(), Vs{}) << "a closing menu selects nothing";
  frame();
  EXPECT_FALSE(scene.Contains(m));
}

TEST_F(MenuTest, RightClicksAndEscapeCloseOnlyWithRightClickScrapKeysSelect) {
  struct Case {
    bool scrap, shown, onMenu, escape;
    int32_t phase;
    bool busy;
  } cases[] = {
      {true, true, true, false, 200, false}, {true, true, false, false, 10, true},
      {true, true, false, true, 10, false},  {true, false, false, false, 0, false},
      {false, true, true, false, 0, false},  {false, true, false, true, 0, false},
  };
  for (const Case& c : cases) {
    TZirkMenu* m = make();
    m->SetPropInt(PR_RCLICKSCRAP, c.scrap ? 1 : 0);
    if (c.shown) m->SetActive(TZirkMenu::kShown);
    SystemVariables().SelIndex = 7;
    if (c.escape)
      key(27);
    else
      rightClick(c.onMenu ? 104 : 300, 70);
    EXPECT_EQ(m->MenuPhase(), c.phase) << c.scrap << c.shown << c.onMenu << c.escape;
    EXPECT_EQ(SystemVariables().SelIndex, c.phase == 200 ? -1 : 7);
    // A hidden menu is left as it was: shown later, it still selects.
    EXPECT_EQ(m->IsBusy(), c.busy);
    scene.FreeObject(m);
  }
  TZirkMenu* m = make();
  m->SetPropInt(PR_RCLICKSCRAP, 1);
  rightClick(300, 70);
  scene.SetFocus(m);
  key(40);
  EXPECT_EQ(m->HoveredRow(), -1) << "a hidden menu ignores keys";
  m->SetActive(TZirkMenu::kShown);
  takeEvents();
  for (int32_t vk : {40, 40, 13}) key(vk);
  EXPECT_EQ(takeEvents(), (Vs{"sel:B,1"}));
  scene.InputKeyDown(13);
  key(40);
  EXPECT_EQ(takeEvents(), (Vs{"sel:B,1"})) << "in one tick the menu's key and the list's act";
  EXPECT_EQ(m->HoveredRow(), 2);
}

TEST_F(MenuTest, SaveRecordRestartsTheAnimationUnderWay) {
  TZirkMenu* m = make();
  m->SetPropInt(PR_HOVERCOLOR, 0x123456);
  m->SetPropInt(PR_RCLICKSCRAP, 1);
  m->SetActive(TZirkMenu::kOpened);
  for (uint32_t ms : {1000, 1000, 1050}) at(ms);
  ASSERT_EQ(m->Height(), 24);
  const std::vector<uint8_t> bytes = record(*m);
  scene.FreeObject(m);
  scene.SetSceneClock(5000);
  auto* loaded = load<TZirkMenu>(bytes, SaveVersion);
  EXPECT_EQ(loaded->GetActive(), TZirkMenu::kOpened);
  EXPECT_EQ(loaded->MenuPhase(), TZirkMenu::kOpening);
  EXPECT_EQ(loaded->GetPropInt(PR_HOVERCOLOR), 0x123456);
  EXPECT_EQ(loaded->GetPropInt(PR_RCLICKSCRAP), 1);
  EXPECT_EQ(loaded->GetPropStr(PR_ONCLOSED), "closed");
  EXPECT_EQ(loaded->GetPropInt(PR_ORIGHEIGHT), 48);
  const std::pair<uint32_t, int32_t> steps[] = {{5000, 0}, {5050, 24}, {5100, 48}};
  for (auto [ms, height] : steps) {
    at(ms);
    EXPECT_EQ(loaded->Height(), height) << ms;
  }
}

}  // namespace
}  // namespace zirk::test
