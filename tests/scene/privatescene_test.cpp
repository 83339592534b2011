// A private screen pair (a cinema's) inside the global scene: its events,
// its clocks, and what its host reads of its painting.

#include <gtest/gtest.h>

#include "scene/scene_fixture.h"

namespace zirk::test {
namespace {

class PrivateSceneTest : public SceneTest {
 protected:
  uint32_t pairPixel(int32_t x, int32_t y) {
    return pair.PresentedSurface()->GetPixel(x, y) & 0xFFFFFF;
  }
  uint32_t px(int32_t color) {
    return static_cast<uint32_t>(pair.GetBase(0)->BackSurface()->ColorToPixel(color)) & 0xFFFFFF;
  }

  TZirkBaseList pair{scene, 320, 240};
};

TEST_F(PrivateSceneTest, EventsOfThePairReachTheHostQueue) {
  TestBox* box = addBox(pair, nullptr, 10, 10, 20, 20);
  box->SetPropStr(PR_ONLBTNDOWN, "*down");
  box->idleLabel = "*idle";
  box->LButtonDown(15, 16);
  pair.TickObjects();
  pair.TickObjects();
  const TTimerList& q = scene.Events();
  ASSERT_EQ(q.Count(), 2);
  EXPECT_EQ(q.Items(0).Object, box);
  EXPECT_EQ(q.Items(0).Label, "*down");
  EXPECT_EQ(q.Items(0).Args.Items(), (std::vector<std::string>{"5", "6"}));
  EXPECT_EQ(q.Items(1).PropId, PR_ONIDLE) << "one idle event while it is pending";

  pair.FreeObject(box);
  EXPECT_EQ(q.Count(), 0) << "a freed object's pending events go";

  // A pair inside a pair still posts to the outermost queue.
  TZirkBaseList inner(pair, 16, 16);
  TestBox* deep = addBox(inner, nullptr, 0, 0, 1, 1);
  deep->SetPropStr(PR_ONMOUSEOUT, "*out");
  deep->MouseOut();
  EXPECT_EQ(q.Count(), 1);
}

TEST_F(PrivateSceneTest, ThePairReadsTheGlobalClocks) {
  scene.SetSceneClock(0xFFFFFFF0u);
  scene.SetFrameInterval(17);
  TZirkBaseList inner(pair, 8, 8);
  // Its own settings do not bend them.
  pair.SetSceneClock(5);
  pair.SetFrameInterval(5);
  for (TZirkBaseList* p : {&pair, &inner}) {
    EXPECT_EQ(p->SceneClock(), 0xFFFFFFF0u);
    EXPECT_EQ(p->FrameInterval(), 17u);
  }
}

TEST_F(PrivateSceneTest, TheHostReadsWhatThePairPaintedUntilItTakesThem) {
  const int32_t red = 0x0000FF, blue = 0xFF0000;
  TestBox* box = addBox(pair, nullptr, 10, 10, 20, 20, red);
  EXPECT_TRUE(pair.PaintedRects().empty()) << "nothing before the pair paints";
  pair.Paint();
  EXPECT_EQ(pair.PaintedRects(), (std::vector<TRect>{Rect(0, 0, 320, 240)}));
  EXPECT_EQ(pairPixel(15, 15), px(red));
  pair.ClearPaintedRects();

  // A move paints where the box was and where it is; a rectangle the host
  // adds (its own screen's change) is painted with them.
  box->SetBounds(100, 50, 20, 20);
  pair.ActiveBase()->InvalidateRect(Rect(200, 200, 210, 210));
  // The other screen's painting is not the host's to copy.
  addBox(pair, pair.GetBase(1), 0, 0, 5, 5, blue);
  pair.Paint();
  EXPECT_EQ(pair.PaintedRects(), (std::vector<TRect>{Rect(10, 10, 30, 30), Rect(100, 50, 120, 70),
                                                     Rect(200, 200, 210, 210)}));
  EXPECT_EQ(pairPixel(105, 55), px(red));
  EXPECT_EQ(pairPixel(15, 15), 0u);
  // Not taken yet: the next paint's rectangles join them.
  box->SetPropInt(PR_COLOR, blue);
  pair.Paint();
  EXPECT_EQ(pair.PaintedRects().size(), 4u);
  EXPECT_EQ(pair.PaintedRects().back(), Rect(100, 50, 120, 70));
  pair.ClearPaintedRects();
  pair.Paint();
  EXPECT_TRUE(pair.PaintedRects().empty());

  // Many small changes the host has not taken fold into one rectangle.
  for (int32_t i = 0; i < 40; ++i) {
    pair.ActiveBase()->InvalidateRect(Rect(i * 5, 0, i * 5 + 2, 2));
    pair.Paint();
  }
  ASSERT_EQ(pair.PaintedRects().size(), 8u) << "33 fold into one, 7 follow";
  EXPECT_EQ(pair.PaintedRects().front(), Rect(0, 0, 162, 2));
}

TEST_F(PrivateSceneTest, ThePairRendersItsTransitionForTheHost) {
  const int32_t red = 0x0000FF, green = 0x00FF00;
  pair.GetBase(0)->SetPropInt(PR_COLOR, red);
  pair.GetBase(1)->SetPropInt(PR_COLOR, green);
  pair.Paint();
  pair.ClearPaintedRects();
  // A 6-tick cross-fade driven by nobody: it runs on the global time.
  ASSERT_NE(pair.FlipScreensWithWipe(0, 1, 1, false, 0, 6), nullptr);
  bool blended = false;
  int ticks = 0;
  while (pair.WipeRunning() && ticks < 100) {
    GameTime().ElapsedTime = 10;
    pair.TickObjects();
    pair.Paint();
    ++ticks;
    EXPECT_EQ(pair.PaintedRects(), (std::vector<TRect>{Rect(0, 0, 320, 240)}))
        << "the whole picture changes while the transition runs";
    uint32_t p = pairPixel(160, 120);
    blended = blended || (p != px(red) && p != px(green));
    pair.ClearPaintedRects();
  }
  EXPECT_TRUE(blended);
  EXPECT_EQ(pair.ActiveIndex, 1);
  EXPECT_EQ(pair.PresentedSurface(), pair.GetBase(1)->BackSurface());
  EXPECT_EQ(pairPixel(160, 120), px(green));
}

TEST_F(PrivateSceneTest, APairLeavesTheProgramWideCacheToTheMainScene) {
  std::vector<std::string> log;
  FakeCache cache(log);
  SetImageCache(&cache);
  struct Surfaces : TestBox {
    Surfaces(TZirkBaseList& scene, std::vector<std::string>& log) : TestBox(scene), log_(log) {}
    void ReleaseSurfaces() override { log_.push_back("object release"); }
    void RestoreSurfaces() override { log_.push_back("object restore"); }
    std::vector<std::string>& log_;
  };
  pair.Create<Surfaces>(nullptr, "", log);
  pair.ReleaseSurfaces();
  pair.RestoreSurfaces();
  EXPECT_EQ(log, (std::vector<std::string>{"object release", "object restore"}));
  log.clear();
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  EXPECT_EQ(log, (std::vector<std::string>{"release", "rebuild"}));
  SetImageCache(nullptr);
}

}  // namespace
}  // namespace zirk::test
