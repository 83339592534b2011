// Hit tests, the event queue, mouse capture, the right-click walk and the
// key tables, driven the way the main window feeds the scene.

#include <gtest/gtest.h>

#include "scene/scene_fixture.h"

namespace zirk::test {
namespace {

using InputTest = SceneTest;

TEST_F(InputTest, HitTestsThroughNestedControlsByMouseTransparency) {
  // outer (0..200) holds inner (50..150) holding leaf (60..80).
  TestBox* outer = addBox(scene, nullptr, 0, 0, 200, 200, -1, "outer");
  TestBox* inner = addBox(scene, outer, 50, 50, 100, 100, -1, "inner");
  TestBox* leaf = addBox(scene, inner, 10, 10, 20, 20, -1, "leaf");
  TZirkBase* base = scene.GetBase(0);
  const TPoint onLeaf{65, 65}, onInner{120, 120}, onOuter{10, 10};

  struct Case {
    int32_t leafMode;
    TMouseMask mask;
    TZirkObject* expected;
  };
  const Case cases[] = {
      {IM_NONE, kLeftClickMask, leaf},    {IM_NONE, kRightClickMask, leaf},
      {IM_ALL, kLeftClickMask, inner},    {IM_ALL, kMouseMoveMask, inner},
      {IM_CLICK, kLeftClickMask, inner},  {IM_CLICK, kMouseMoveMask, leaf},
      {IM_LCLICK, kLeftClickMask, inner}, {IM_LCLICK, kRightClickMask, leaf},
      {IM_RCLICK, kLeftClickMask, leaf},  {IM_RCLICK, kRightClickMask, inner},
      {IM_ALL, kAllMouseMask, leaf},      {7, kAllMouseMask, inner},
      {-3, kAllMouseMask, inner},
  };
  for (const Case& c : cases) {
    leaf->SetPropInt(PR_IGNOREMOUSE, c.leafMode);
    EXPECT_EQ(base->HitTest(onLeaf, c.mask), c.expected)
        << "mode " << c.leafMode << " mask " << c.mask;
  }
  leaf->SetPropInt(PR_IGNOREMOUSE, IM_NONE);
  EXPECT_EQ(base->HitTest(onInner, kLeftClickMask), inner);
  EXPECT_EQ(base->HitTest(onOuter, kLeftClickMask), outer);
  EXPECT_EQ(base->HitTest({300, 300}, kLeftClickMask), nullptr);
  // A later sibling on top wins; hidden controls are passed through.
  TestBox* cover = addBox(scene, outer, 55, 55, 30, 30, -1, "cover");
  EXPECT_EQ(base->HitTest(onLeaf, kLeftClickMask), cover);
  cover->SetPropInt(PR_VISIBLE, 0);
  EXPECT_EQ(base->HitTest(onLeaf, kLeftClickMask), leaf);
  inner->SetPropInt(PR_VISIBLE, 0);
  EXPECT_EQ(base->HitTest(onLeaf, kLeftClickMask), outer);
}

TEST_F(InputTest, EventQueueNeverFoldsAndDropsOnlyPendingEvents) {
  TestBox* a = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* b = addBox(scene, nullptr, 0, 0, 1, 1);
  TTimerList& q = scene.Events();
  q.PostEvent(a, "*one", {"1"}, PR_ONNOTIFY);
  q.PostEvent(a, "*one", {"1"}, PR_ONNOTIFY);
  q.PostEvent(b, "*two", PR_ONPLAYEND);
  EXPECT_EQ(q.Count(), 3);
  EXPECT_EQ(q.FindEvent(a, PR_ONNOTIFY), 0);
  EXPECT_EQ(q.FindEvent(b, PR_ONPLAYEND), 2);
  EXPECT_EQ(q.FindEvent(b, PR_ONNOTIFY), -1);

  std::vector<std::string> run;
  TEventDrain drain([&](const TTimerData& d) {
    run.push_back(d.Label + ":" + d.Args[0]);
    if (run.size() == 1) {
      q.RemoveObjectEvents(a);  // the running one stays until it ends
      EXPECT_EQ(q.Count(), 2);
      q.PostEvent(b, "*three", {"x"}, PR_ONSELECT);
    }
  });
  EXPECT_EQ(drain.Run(q), 3);
  EXPECT_EQ(run, (std::vector<std::string>{"*one:1", "*two:", "*three:x"}));
  EXPECT_EQ(q.Count(), 0);

  // An object freed while its handler runs leaves a null source behind.
  q.PostEvent(a, "*gone", PR_ONNOTIFY);
  TEventDrain freeing([&](const TTimerData& d) {
    EXPECT_EQ(d.Object, a);
    a->Scrap();
    scene.FreeDeleted();
    ASSERT_EQ(q.Count(), 1);
    EXPECT_EQ(q.Items(0).Object, nullptr);
  });
  EXPECT_EQ(freeing.Run(q), 1);
  // A handler that always queues again cannot hang the drain.
  TEventDrain forever([&](const TTimerData&) { q.PostEvent(b, "*again", PR_ONNOTIFY); });
  q.PostEvent(b, "*again", PR_ONNOTIFY);
  EXPECT_EQ(forever.Run(q, 50), 50);
}

TEST_F(InputTest, MouseEventsReachObjectsWithLocalCoordinates) {
  TestBox* box = addBox(scene, nullptr, 100, 100, 50, 50, -1, "button");
  box->SetPropStr(PR_ONLBTNDOWN, "*down");
  box->SetPropStr(PR_ONLBTNUP, "*up");
  box->SetPropStr(PR_ONMOUSEMOVE, "*move");
  box->SetPropStr(PR_ONMOUSEOUT, "*out");
  auto labels = [&] {
    std::string s;
    for (int32_t i = 0; i < scene.Events().Count(); ++i) {
      const TTimerData& d = scene.Events().Items(i);
      s += d.Label;
      for (const auto& a : d.Args.Items()) s += "," + a;
      s += ";";
    }
    scene.Events().Clear();
    return s;
  };
  box->SetPropInt(PR_CURSOR, 5);
  scene.InputMouseMove(110, 120);
  frame();
  EXPECT_EQ(labels(), "*move,10,20;");
  EXPECT_EQ(scene.HoverCursor(), 5);
  scene.InputMouseMove(111, 120);
  scene.InputMouseMove(112, 121);  // moves within one tick: one event
  frame();
  EXPECT_EQ(labels(), "*move,12,21;");
  scene.InputMouseDown(TMouseButton::Left, 112, 121);
  frame();
  EXPECT_EQ(labels(), "*down,12,21;");
  scene.InputMouseUp(TMouseButton::Left, 113, 121);
  frame();
  EXPECT_EQ(labels(), "*move,13,21;*up,13,21;");
  // A click inside one tick reports each button at its own position.
  scene.InputMouseDown(TMouseButton::Left, 120, 121);
  scene.InputMouseUp(TMouseButton::Left, 121, 121);
  frame();
  EXPECT_EQ(labels(), "*move,21,21;*down,20,21;*up,21,21;");
  EXPECT_TRUE(scene.GetBase(0)->LeftClickPending) << "nobody took the press";
  scene.InputMouseMove(10, 10);
  frame();
  EXPECT_EQ(labels(), "*out;");
  EXPECT_EQ(scene.GetBase(0)->Hovered(), nullptr);
  EXPECT_EQ(scene.HoverCursor(), 0);
}

// Takes the press, then follows the mouse wherever it goes until release.
class Dragger : public TestBox {
 public:
  using TestBox::TestBox;
  void LButtonDown(int32_t, int32_t) override { GetScreen()->CaptureMouse(this); }
  void MouseMove(int32_t x, int32_t) override { moves.push_back(x); }
  void LButtonUp(int32_t x, int32_t) override { upAt = x; }
  void CaptureTick() override { ++captureTicks; }
  bool RightClickClose() override {
    ++closes;
    return takesClose;
  }
  std::vector<int32_t> moves;
  int32_t upAt = -1;
  int captureTicks = 0;
  int closes = 0;
  bool takesClose = false;
};

TEST_F(InputTest, CapturedControlGetsMovesTicksAndTheRelease) {
  auto* d = scene.Create<Dragger>(nullptr, "drag");
  d->SetBounds(0, 0, 10, 10);
  scene.InputMouseDown(TMouseButton::Left, 5, 5);
  frame();
  TZirkBase* base = scene.GetBase(0);
  EXPECT_EQ(base->Captured(), d);
  EXPECT_FALSE(base->LeftClickPending) << "the widget took the press";
  EXPECT_EQ(d->captureTicks, 1);
  scene.InputMouseMove(300, 5);
  frame();
  frame();
  EXPECT_EQ(d->moves.back(), 300) << "captured: moves arrive outside the control";
  EXPECT_EQ(d->captureTicks, 3);
  scene.InputMouseUp(TMouseButton::Left, 400, 5);
  frame();
  EXPECT_EQ(d->upAt, 400);
  EXPECT_EQ(base->Captured(), nullptr);
  // A captured control that is scrapped is forgotten at once.
  scene.InputMouseDown(TMouseButton::Left, 5, 5);
  frame();
  d->Scrap();
  EXPECT_EQ(base->Captured(), nullptr);
  scene.InputMouseUp(TMouseButton::Left, 5, 5);
  frame();
}

TEST_F(InputTest, RightClickNobodyTookClosesEligibleMenus) {
  // TestBox has no PR_RCLICKSCRAP slot, so give it one through a subclass.
  struct Menu : Dragger {
    using Dragger::Dragger;
    void GetProp(int id, TCustomParam& v) override {
      if (id == PR_RCLICKSCRAP) {
        v.SetInteger(rclick);
        return;
      }
      Dragger::GetProp(id, v);
    }
    int32_t rclick = 1;
  };
  struct Spec {
    const char* name;
    int32_t rclick, ignore;
    bool visible, paused;
    int32_t screen;
    int expectedCloses;
  };
  const Spec specs[] = {
      {"yes", 1, IM_NONE, true, false, 0, 1},     {"lclick", 1, IM_LCLICK, true, false, 0, 1},
      {"off", 0, IM_NONE, true, false, 0, 0},     {"rclick", 1, IM_RCLICK, true, false, 0, 0},
      {"hidden", 1, IM_NONE, false, false, 0, 0}, {"paused", 1, IM_NONE, true, true, 0, 0},
      {"other", 1, IM_NONE, true, false, 1, 0},
  };
  std::vector<Menu*> menus;
  for (const Spec& s : specs) {
    auto* m = scene.Create<Menu>(scene.GetBase(s.screen), s.name);
    m->SetBounds(500, 0, 10, 10);
    m->rclick = s.rclick;
    m->SetPropInt(PR_IGNOREMOUSE, s.ignore);
    m->SetPropInt(PR_VISIBLE, s.visible);
    m->paused = s.paused;
    scene.Menus().Add(m);
    scene.Menus().Add(m);
    menus.push_back(m);
  }
  EXPECT_EQ(scene.Menus().Count(), 7);
  scene.InputMouseDown(TMouseButton::Right, 50, 50);
  frame();
  for (size_t i = 0; i < menus.size(); ++i) {
    EXPECT_EQ(menus[i]->closes, specs[i].expectedCloses) << specs[i].name;
  }
  EXPECT_TRUE(scene.GetBase(0)->RightClickPending) << "no menu said it closed";

  // The first menu that closes ends the walk and takes the click.
  menus[0]->takesClose = true;
  scene.InputMouseDown(TMouseButton::Right, 50, 50);
  frame();
  EXPECT_EQ(menus[0]->closes, 2);
  EXPECT_EQ(menus[1]->closes, 1) << "the walk stopped before it";
  EXPECT_FALSE(scene.GetBase(0)->RightClickPending);
  menus[0]->Scrap();
  EXPECT_EQ(scene.Menus().Count(), 6) << "a scrapped menu leaves the list";
}

TEST_F(InputTest, KeyRepeatFollowsTheSceneClock) {
  TestBox* focus = addBox(scene, nullptr, 0, 0, 1, 1);
  focus->SetPropInt(PR_HANDLEKEY, 1);
  focus->SetPropStr(PR_ONKEYREPEAT, "*key");
  scene.SetFocusPending();
  scene.SetSceneClock(1000);
  scene.InputKeyDown(40);
  std::string pressed, repeated;
  for (int t = 0; t <= 460; t += 10) {
    scene.SetSceneClock(1000 + t);
    scene.InputStep();
    if (scene.KeyPressed(40)) pressed += std::to_string(t) + " ";
    if (scene.KeyRepeated(40)) repeated += std::to_string(t) + " ";
  }
  EXPECT_EQ(pressed, "0 ");
  EXPECT_EQ(repeated, "0 300 350 400 450 ");
  EXPECT_EQ(scene.Focused(), focus);
  EXPECT_EQ(focus->keyRepeats, 5);
  EXPECT_EQ(scene.Events().Count(), 5);
  EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONKEYREPEAT);

  // After a stall the repeat does not fire a burst.
  scene.SetSceneClock(scene.SceneClock() + 1000);
  scene.InputStep();
  EXPECT_TRUE(scene.KeyRepeated(40));
  scene.SetSceneClock(scene.SceneClock() + 10);
  scene.InputStep();
  EXPECT_FALSE(scene.KeyRepeated(40));
  // Released: nothing; a tap inside one tick still counts as a press.
  scene.InputKeyUp(40);
  scene.SetSceneClock(scene.SceneClock() + 300);
  scene.InputStep();
  EXPECT_FALSE(scene.KeyRepeated(40));
  scene.InputKeyDown(13);
  scene.InputKeyUp(13);
  scene.InputStep();
  EXPECT_TRUE(scene.KeyPressed(13));
  EXPECT_FALSE(scene.KeyDown(13));
  EXPECT_FALSE(scene.KeyPressed(999)) << "out-of-range keys read false";

  // Key calls carry the key: a press is a key-down and a repeat, a held
  // key repeats on.
  focus->keys.clear();
  scene.SetSceneClock(5000);
  scene.InputKeyDown(38);
  scene.InputKeyDown(13);
  scene.InputStep();
  EXPECT_EQ(focus->keys, "d13 r13 d38 r38 ");
  scene.InputKeyUp(13);
  focus->keys.clear();
  scene.SetSceneClock(5300);
  scene.InputStep();
  EXPECT_EQ(focus->keys, "r38 ");
  scene.InputKeyUp(38);

  // Pausing the focused control moves the focus on at the next step.
  TestBox* next = addBox(scene, nullptr, 0, 0, 1, 1);
  next->SetPropInt(PR_HANDLEKEY, 1);
  focus->paused = true;
  scene.InputStep();
  EXPECT_EQ(scene.Focused(), nullptr);
  scene.SetFocusPending();
  scene.InputStep();
  EXPECT_EQ(scene.Focused(), next);
}

TEST_F(InputTest, AHandlerThatMovesTheFocusEndsTheKeyDelivery) {
  // Enter hands the focus to the other control (a menu selecting closes).
  struct Passer : TestBox {
    using TestBox::TestBox;
    void KeyDown(int32_t vk) override {
      TestBox::KeyDown(vk);
      if (vk == 13 && next) Scene().SetFocus(next);
    }
    TZirkObject* next = nullptr;
  };
  auto* first = scene.Create<Passer>(nullptr, "first");
  TestBox* second = addBox(scene, nullptr, 0, 0, 1, 1);
  first->SetPropInt(PR_HANDLEKEY, 1);
  second->SetPropInt(PR_HANDLEKEY, 1);
  first->next = second;
  scene.SetFocus(first);
  scene.InputKeyDown(13);
  scene.InputKeyDown(40);
  scene.InputStep();
  EXPECT_EQ(first->keys, "d13 ");
  EXPECT_EQ(second->keys, "") << "keys of this tick are not handed on";
  EXPECT_EQ(scene.Focused(), second);
  scene.SetSceneClock(scene.SceneClock() + 300);
  scene.InputStep();
  EXPECT_EQ(second->keys, "r13 r40 ");
  // A focused control that is scrapped loses the focus at once.
  second->Scrap();
  EXPECT_EQ(scene.Focused(), nullptr);
  scene.SetSceneClock(scene.SceneClock() + 50);
  scene.InputStep();
  EXPECT_EQ(second->keys, "r13 r40 ");
}

TEST_F(InputTest, TheSceneTickQueuesIdleEventsOneAtATime) {
  TestBox* idle = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* silent = addBox(scene, nullptr, 0, 0, 1, 1);
  TestBox* paused = addBox(scene, nullptr, 0, 0, 1, 1);
  idle->idleLabel = "*idle";
  paused->idleLabel = "*paused";
  paused->paused = true;
  TestBox* ending = addBox(scene, nullptr, 0, 0, 1, 1);
  ending->idleLabel = "*ending";
  ending->onTick = [](TestBox&) { return true; };
  frame();
  frame();
  ASSERT_EQ(scene.Events().Count(), 1) << "one pending idle event, none for the others";
  EXPECT_EQ(scene.Events().Items(0).Object, idle);
  EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONIDLE);
  EXPECT_EQ(scene.Events().Items(0).Label, "*idle");
  EXPECT_EQ(TEventDrain().Run(scene.Events()), 1);
  frame();
  EXPECT_EQ(scene.Events().Count(), 1) << "queued again once the last one ran";
  EXPECT_EQ(silent->ticks, 3);
}

}  // namespace
}  // namespace zirk::test
