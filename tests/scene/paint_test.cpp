// Painting dirty rectangles, presenting them, the screen flip with a
// transition, surface release, and the program-wide runtime.

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "scene/builtins.h"
#include "scene/capabilities.h"
#include "scene/clipmgr.h"
#include "scene/runtime.h"
#include "scene/scene_fixture.h"
#include "script/imagecache.h"
#include "script/sysvars.h"
#include "surfaces/wipes.h"

namespace zirk::test {
namespace {

class PaintTest : public SceneTest {
 protected:
  void SetUp() override {
    SceneTest::SetUp();
    scene.SetPresenter([this](TCustomDIBX& picture, const std::vector<TRect>& changed) {
      presentedTo = &picture;
      lastChanged = changed;
      ++presents;
    });
  }
  uint32_t px(int32_t color) {
    return static_cast<uint32_t>(scene.GetBase(0)->BackSurface()->ColorToPixel(color)) & 0xFFFFFF;
  }
  static bool covers(const std::vector<TRect>& rects, const TRect& r) {
    for (const TRect& c : rects) {
      if (c.Left <= r.Left && c.Top <= r.Top && c.Right >= r.Right && c.Bottom >= r.Bottom) {
        return true;
      }
    }
    return false;
  }

  TCustomDIBX* presentedTo = nullptr;
  std::vector<TRect> lastChanged;
  int presents = 0;
};

TEST_F(PaintTest, SolidControlsPaintAndAMoveLeavesNoTrail) {
  const int32_t red = 0x0000FF, blue = 0xFF0000, grey = 0x808080;
  scene.SetColor(grey);
  TestBox* a = addBox(scene, nullptr, 10, 10, 40, 30, red, "a");
  TestBox* b = addBox(scene, nullptr, 30, 20, 40, 30, blue, "b");  // on top of a
  frame();
  EXPECT_EQ(presents, 1);
  EXPECT_EQ(presentedTo, scene.GetBase(0)->BackSurface());
  struct Probe {
    int32_t x, y;
    int32_t color;
  };
  for (const Probe& p :
       {Probe{5, 5, grey}, Probe{10, 10, red}, Probe{49, 19, red}, Probe{30, 20, blue},
        Probe{69, 49, blue}, Probe{70, 50, grey}, Probe{639, 479, grey}}) {
    EXPECT_EQ(pixel(p.x, p.y), px(p.color)) << p.x << "," << p.y;
  }

  // Nothing changed: nothing painted or presented.
  frame();
  EXPECT_EQ(presents, 1);

  a->SetPropInt(PR_LEFT, 200);
  const auto& dirty = scene.GetBase(0)->DirtyRects();
  EXPECT_TRUE(covers(dirty, Bounds(10, 10, 40, 30))) << "old place";
  EXPECT_TRUE(covers(dirty, Bounds(200, 10, 40, 30))) << "new place";
  frame();
  EXPECT_EQ(presents, 2);
  EXPECT_TRUE(covers(lastChanged, Bounds(10, 10, 40, 30)));
  EXPECT_EQ(pixel(15, 15), px(grey)) << "no trail where a was";
  EXPECT_EQ(pixel(35, 25), px(blue)) << "b is repainted where a left it";
  EXPECT_EQ(pixel(200, 10), px(red));
  EXPECT_EQ(pixel(239, 39), px(red));

  // A hidden control disappears; a clip rectangle cuts what is drawn.
  b->SetPropInt(PR_VISIBLE, 0);
  a->SetPropInt(PR_CLIPLEFT, 220);
  a->SetPropInt(PR_CLIPTOP, 0);
  a->SetPropInt(PR_CLIPWIDTH, 100);
  a->SetPropInt(PR_CLIPHEIGHT, 100);
  frame();
  EXPECT_EQ(pixel(35, 25), px(grey));
  EXPECT_EQ(pixel(210, 20), px(grey)) << "clipped away";
  EXPECT_EQ(pixel(225, 20), px(red));
}

TEST_F(PaintTest, ChildrenMoveWithTheirParentWithoutTrails) {
  TestBox* parent = addBox(scene, nullptr, 0, 0, 10, 10, 0x00FF00, "p");
  addBox(scene, parent, 100, 100, 10, 10, 0x0000FF, "c");  // outside the parent
  frame();
  EXPECT_EQ(pixel(105, 105), px(0x0000FF));
  parent->SetBounds(50, 0, 10, 10);
  frame();
  EXPECT_EQ(pixel(105, 105), 0u);
  EXPECT_EQ(pixel(155, 105), px(0x0000FF));
  parent->Scrap();
  frame();
  EXPECT_EQ(pixel(155, 105), 0u);

  // An object whose tick asks to go leaves no picture behind either.
  TestBox* once = addBox(scene, nullptr, 300, 300, 10, 10, 0x0000FF, "once");
  TestBox* kid = addBox(scene, once, 50, 0, 10, 10, 0x0000FF, "kid");
  frame();
  EXPECT_EQ(pixel(355, 305), px(0x0000FF));
  kid->onTick = [](TestBox&) { return false; };
  once->onTick = [](TestBox&) { return true; };
  frame();
  EXPECT_EQ(pixel(305, 305), 0u);
  EXPECT_EQ(pixel(355, 305), 0u);
}

// Reports its bounds as covered opaquely, as the box does at full opacity,
// and counts how often it is drawn.
class OpaqueBox : public TestBox {
 public:
  using TestBox::TestBox;
  void CollectClipRects(TClipManager& clips) override {
    if (!opaque || Color() < 0) return;
    TClipData& data = clips.NewClipData();
    data.AddOpaqueRect(GetBoundsRect());
    data.AddDrawRect(GetBoundsRect());
  }
  void Draw() override {
    ++draws;
    TestBox::Draw();
  }
  bool opaque = true;
  int draws = 0;
};

TEST_F(PaintTest, WhatLiesWhollyUnderALaterOpaqueControlIsNotDrawn) {
  auto box = [&](TZirkObject* parent, int32_t l, int32_t t, int32_t w, int32_t h, int32_t c) {
    auto* b = scene.Create<OpaqueBox>(parent, "");
    b->SetBounds(l, t, w, h);
    b->SetPropInt(PR_COLOR, c);
    return b;
  };
  OpaqueBox* under = box(nullptr, 10, 10, 20, 20, 0x0000FF);
  OpaqueBox* partly = box(nullptr, 90, 10, 20, 20, 0x0000FF);
  OpaqueBox* withKid = box(nullptr, 10, 10, 20, 20, 0x0000FF);
  OpaqueBox* kid = box(withKid, 200, 0, 5, 5, 0x00FF00);  // outside the cover
  OpaqueBox* self = box(nullptr, 300, 10, 20, 20, 0x0000FF);
  OpaqueBox* selfKid = box(self, 0, 0, 40, 40, 0xFF0000);  // its own child covers it
  OpaqueBox* cover = box(nullptr, 0, 0, 100, 100, 0x808080);
  frame();
  EXPECT_EQ(under->draws, 0);
  EXPECT_EQ(partly->draws, 1);
  EXPECT_EQ(withKid->draws, 1) << "a child outside the cover keeps its parent drawn";
  EXPECT_EQ(kid->draws, 1);
  EXPECT_EQ(self->draws, 1);
  EXPECT_EQ(selfKid->draws, 1);
  EXPECT_EQ(cover->draws, 1);
  EXPECT_EQ(pixel(15, 15), px(0x808080));
  EXPECT_EQ(pixel(105, 15), px(0x0000FF));
  EXPECT_EQ(pixel(305, 15), px(0xFF0000));
  // A cover that stops being opaque lets the picture under it through.
  cover->opaque = false;
  cover->SetPropInt(PR_COLOR, -1);
  frame();
  EXPECT_EQ(under->draws, 0) << "withKid, drawn later on the same place, covers it";
  EXPECT_EQ(withKid->draws, 2);
  EXPECT_EQ(pixel(15, 15), px(0x0000FF));
  withKid->opaque = false;
  withKid->Invalidate();
  frame();
  EXPECT_EQ(under->draws, 1);
}

TEST_F(PaintTest, TheScreenColourIsNotFilledUnderAnOpaqueCover) {
  // Reports opaque cover but paints nothing, so what stays under it shows
  // whether the screen colour was filled there.
  class Claims : public OpaqueBox {
   public:
    using OpaqueBox::OpaqueBox;
    void Draw() override { ++draws; }
  };
  scene.SetColor(0x0000FF);
  TestBox* green = addBox(scene, nullptr, 0, 0, 100, 100, 0x00FF00);
  frame();
  green->SetPropInt(PR_VISIBLE, 0);
  auto* cover = scene.Create<Claims>(nullptr, "");
  cover->SetBounds(0, 0, 100, 100);
  cover->SetPropInt(PR_COLOR, 0);
  frame();
  EXPECT_EQ(cover->draws, 1);
  EXPECT_EQ(pixel(50, 50), px(0x00FF00)) << "not filled under the cover";
  cover->SetBounds(0, 0, 50, 100);
  frame();
  EXPECT_EQ(pixel(75, 50), px(0x0000FF)) << "filled where the cover left";
}

TEST_F(PaintTest, DirtyRectanglesJoinWhenTheyOverlapOrTheirBoundsCostNoMorePixels) {
  struct Case {
    const char* what;
    std::vector<TRect> invalidated;
    std::vector<TRect> listed;
  };
  const Case cases[] = {
      {"a picture moved by a few pixels",
       {Rect(10, 10, 74, 74), Rect(14, 12, 78, 76)},
       {Rect(10, 10, 78, 76)}},
      {"a diagonal move invalidates in two steps",
       {Rect(10, 10, 74, 74), Rect(14, 10, 78, 74), Rect(14, 12, 78, 76)},
       {Rect(10, 10, 78, 76)}},
      {"one inside another", {Rect(0, 0, 100, 100), Rect(10, 10, 20, 20)}, {Rect(0, 0, 100, 100)}},
      {"apart",
       {Rect(0, 0, 10, 10), Rect(100, 100, 110, 110)},
       {Rect(0, 0, 10, 10), Rect(100, 100, 110, 110)}},
      {"a cross overlaps", {Rect(0, 45, 100, 55), Rect(45, 0, 55, 100)}, {Rect(0, 0, 100, 100)}},
      {"side by side", {Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)}, {Rect(0, 0, 20, 10)}},
      {"a gap costs more",
       {Rect(0, 0, 10, 10), Rect(0, 11, 10, 21)},
       {Rect(0, 0, 10, 10), Rect(0, 11, 10, 21)}},
      {"a join reaches a third",
       {Rect(0, 0, 10, 10), Rect(20, 0, 30, 10), Rect(8, 0, 22, 10)},
       {Rect(0, 0, 30, 10)}},
      {"cut to the screen", {Rect(600, 400, 700, 500)}, {Rect(600, 400, 640, 480)}},
  };
  TZirkBase& screen = *scene.GetBase(0);
  auto sorted = [](std::vector<TRect> v) {
    std::sort(v.begin(), v.end(), [](const TRect& a, const TRect& b) {
      return std::tie(a.Left, a.Top, a.Right, a.Bottom) <
             std::tie(b.Left, b.Top, b.Right, b.Bottom);
    });
    return v;
  };
  for (const Case& c : cases) {
    screen.ClearDirtyRects();
    for (const TRect& r : c.invalidated) screen.InvalidateRect(r);
    EXPECT_EQ(sorted(screen.DirtyRects()), sorted(c.listed)) << c.what;
  }
}

TEST_F(PaintTest, ARectangleRepaintsOnlyTheObjectsReachingIt) {
  auto box = [&](TZirkObject* parent, int32_t l, int32_t t, int32_t c) {
    auto* b = scene.Create<OpaqueBox>(parent, "");
    b->opaque = false;
    b->SetBounds(l, t, 20, 20);
    b->SetPropInt(PR_COLOR, c);
    return b;
  };
  OpaqueBox* mover = box(nullptr, 10, 10, 0x0000FF);
  OpaqueBox* far = box(nullptr, 300, 300, 0x00FF00);
  OpaqueBox* farParent = box(nullptr, 400, 10, 0x00FF00);
  OpaqueBox* kidNearby = box(farParent, -380, 30, 0xFF0000);  // at (20, 40)
  // Draws into a picture of its own size, whose coordinates are not the screen's.
  class Private : public OpaqueBox {
   public:
    using OpaqueBox::OpaqueBox;
    TCustomDIBX* GetDrawSurface() override { return &own; }
    TDIBX own{20, 20, 32};
  };
  auto* aside = scene.Create<Private>(nullptr, "");
  aside->SetBounds(500, 400, 20, 20);
  frame();
  mover->SetPropInt(PR_TOP, 25);
  frame();
  EXPECT_EQ(mover->draws, 2);
  EXPECT_EQ(far->draws, 1);
  EXPECT_EQ(farParent->draws, 2) << "its child reaches the rectangle";
  EXPECT_EQ(kidNearby->draws, 2);
  EXPECT_EQ(aside->draws, 2) << "the screen does not judge another surface";
  EXPECT_EQ(pixel(15, 15), 0u);
  EXPECT_EQ(pixel(15, 30), px(0x0000FF));
  EXPECT_EQ(pixel(25, 42), px(0xFF0000)) << "the child is drawn over the mover";
}

TEST_F(PaintTest, FlipWithATransitionReachesTheNewScreenAfterItsLength) {
  const int32_t red = 0x0000FF, green = 0x00FF00;
  scene.GetBase(0)->SetPropInt(PR_COLOR, red);
  scene.GetBase(1)->SetPropInt(PR_COLOR, green);
  frame();
  EXPECT_EQ(presented(320, 240), px(red));

  // A transition from the active screen to the other one, 6 ticks = 100 ms.
  TCustomWipe* wipe = scene.FlipScreensWithWipe(0, 1, 1, false, 0, 6);
  ASSERT_NE(wipe, nullptr);
  EXPECT_EQ(scene.FlipFlag, 1);
  EXPECT_EQ(scene.ActiveIndex, 0);
  int frames = 0;
  bool blended = false;
  while (scene.WipeRunning() && frames < 100) {
    frame(10);
    ++frames;
    uint32_t p = presented(320, 240);
    blended = blended || (p != px(red) && p != px(green));
  }
  EXPECT_EQ(frames, 11) << "time 0 is shown first, then 10 frames of 10 ms";
  EXPECT_TRUE(blended) << "the picture passes through a blend";
  EXPECT_EQ(scene.ActiveIndex, 1);
  EXPECT_EQ(presented(320, 240), px(green));
  EXPECT_EQ(presentedTo, scene.GetBase(1)->BackSurface());
  EXPECT_EQ(lastChanged, (std::vector<TRect>{Rect(0, 0, 640, 480)}));

  // A film drives the time itself: repeated calls return nothing new, the
  // transition waits for the film, and the film's next flip ends it.
  ASSERT_NE(scene.FlipScreensWithWipe(1, 5, 0, true, 0, 4), nullptr);
  for (int32_t t = 1; t < 4; ++t) {
    EXPECT_EQ(scene.FlipScreensWithWipe(1, 5, 0, false, t, 4), nullptr);
    frame();
  }
  for (int i = 0; i < 5; ++i) frame();
  EXPECT_TRUE(scene.WipeRunning()) << "a film-driven transition does not end by itself";
  EXPECT_EQ(scene.CurrentWipe()->Elapsed(), 3);
  EXPECT_EQ(scene.FlipScreensWithWipe(0, 0, 0, true, 0, 0), nullptr);
  EXPECT_FALSE(scene.WipeRunning());
  frame();
  EXPECT_EQ(presented(320, 240), px(red));
}

TEST_F(PaintTest, ATransitionRunsOnTheMeasuredTimeNotTheNominal) {
  // 6 film ticks = 100 ms; ticks of 10 ms measured against a nominal 1000.
  ASSERT_NE(scene.FlipScreensWithWipe(0, 1, 0, false, 0, 6), nullptr);
  int frames = 0;
  while (scene.WipeRunning() && frames < 100) {
    scene.SetFrameInterval(1000);
    GameTime().ElapsedTime = 10;
    scene.TickObjects();
    scene.Paint();
    ++frames;
  }
  EXPECT_EQ(frames, 11) << "time 0 first, then 10 ticks of 10 ms";
}

// An object that hands a picture back to the cache when it is freed.
class CacheUser : public TestBox, public IRowChecks {
 public:
  CacheUser(TZirkBaseList& scene, std::vector<std::string>& log) : TestBox(scene), log_(log) {}
  ~CacheUser() override { log_.push_back(ImageCache() ? "released to cache" : "cache gone"); }
  void ReleaseSurfaces() override { log_.push_back("object release"); }
  void RestoreSurfaces() override { log_.push_back("object restore"); }
  bool GetRowChecked(int32_t row) override { return row == 2; }
  void SetRowChecked(int32_t, bool) override {}

 private:
  std::vector<std::string>& log_;
};

TEST(Runtime, InitialisesAndFreesTheProgramWideObjectsInASoundOrder) {
  std::vector<std::string> log;
  SetImageCacheFactory([&] {
    log.push_back("cache made");
    return std::make_unique<FakeCache>(log);
  });
  SetTextRuntimeHooks([&] { log.push_back("text made"); }, [&] { log.push_back("text freed"); });
  ZirkInitialize();
  ASSERT_NE(ScreenList(), nullptr);
  ASSERT_NE(ImageCache(), nullptr);
  ASSERT_NE(ClipManager(), nullptr);
  EXPECT_THROW(ZirkInitialize(), EZirkObjectError);
  EXPECT_EQ(ScreenList()->Width(), 640);
  ScreenList()->Create<CacheUser>(nullptr, "list", log);

  ScreenList()->ReleaseSurfaces();
  ScreenList()->RestoreSurfaces();
  SetImageCacheMode(true);
  EXPECT_TRUE(SystemVariables().CGDither);
  PurgeWrittenImage("shot.dor");
  EXPECT_TRUE(GetRowChecked("list", 2));
  EXPECT_FALSE(GetRowChecked("list", 1));
  EXPECT_FALSE(GetRowChecked("nobody", 2));
  SetRowChecked("nobody", 1, true);  // no fault

  ZirkFinalize();
  EXPECT_EQ(ScreenList(), nullptr);
  EXPECT_EQ(ImageCache(), nullptr);
  const std::vector<std::string> expected = {"text made",  "cache made",     "object release",
                                             "release",    "rebuild",        "object restore",
                                             "dither on",  "purge shot.dor", "released to cache",
                                             "text freed", "cache freed"};
  EXPECT_EQ(log, expected);
  ZirkFinalize();  // twice is harmless
  SetImageCacheFactory({});
  SetTextRuntimeHooks({}, {});
  SystemVariables().CGDither = false;
}

TEST(Runtime, MediaSwitchCallsTheHookOnChangesOnly) {
  std::vector<bool> calls;
  SetMediaEnabledHook([&](bool on) { calls.push_back(on); });
  TZirkBaseList scene;
  scene.SetMediaEnabled(true);
  scene.SetMediaEnabled(false);
  scene.SetMediaEnabled(false);
  scene.SetMediaEnabled(true);
  SetMediaEnabledHook({});
  EXPECT_EQ(calls, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace zirk::test
