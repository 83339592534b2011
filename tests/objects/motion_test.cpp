#include <gtest/gtest.h>

#include "film_support.h"
#include "objects/images.h"
#include "objects/motion.h"
#include "objects/tile.h"
#include "picture_fixture.h"
#include "scene/runtime.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;

// Motions of one image track moving from x = 0 to x = 30 over 4 ticks.
class MotionTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    RegisterZirkMotion();
    writeSolid("red.dor", 10, 10, kRed);
    // One film tick per frame.
    scene.SetFrameInterval(17);
  }
  void TearDown() override {
    SetMotionFactory({});
    ScenePictureTest::TearDown();
  }
  void writeMotion(const std::string& name, bool relative, int32_t loopStart = 0) {
    FilmFile m;
    m.kind = "ZirkMotion";
    m.relative = relative;
    m.loopStart = loopStart;
    FilmTrack t;
    t.source = "red.dor";
    t.length = 4;
    t.positionTo = {30, 0};
    m.tracks = {t};
    writeFile(dir / name, WriteFilmFile(m));
  }
  TZirkImages* mover(const std::string& motion) {
    auto* o = scene.Create<TZirkImages>(nullptr, "mover");
    o->SetPropInt(PR_LEFT, 100);
    o->SetPropInt(PR_TOP, 50);
    o->SetPropStr(PR_ONPLAYEND, "*end");
    o->SetPropStr(PR_SOURCE, motion);
    return o;
  }
  int32_t endEvents() {
    int32_t n = 0;
    for (int32_t k = 0; k < scene.Events().Count(); ++k)
      n += scene.Events().Items(k).PropId == PR_ONPLAYEND;
    return n;
  }
};

TEST_F(MotionTest, PlaysOnceAndEndsWithOnePlayEnd) {
  writeMotion("walk.zmt", false);
  TZirkImages* o = mover("walk.zmt");
  ASSERT_NE(o->GetMotion(), nullptr);
  EXPECT_EQ(o->GetPropInt(PR_COUNT), 4);
  const int32_t xs[] = {0, 10, 20, 30, 30, 30};
  // The end comes with the first time past the last tick.
  const int32_t ended[] = {0, 0, 0, 0, 1, 1};
  for (size_t k = 0; k < std::size(xs); ++k) {
    frame();
    EXPECT_EQ(o->MotionX(), xs[k]) << k;
    EXPECT_EQ(endEvents(), ended[k]) << k;
    EXPECT_EQ(screenColor(xs[k] + 1, 1), kRed) << k;
  }
  EXPECT_TRUE(o->GetMotion()->Finished());
  EXPECT_FALSE(o->GetPropInt(PR_PLAYING));
  // Repeat turned on rewinds an ended motion.
  o->SetPropInt(PR_REPEAT, 1);
  EXPECT_EQ(o->GetMotion()->GetState(), TZirkMotion::kRewound);
  frame();
  EXPECT_EQ(o->MotionX(), 0);
  EXPECT_TRUE(o->GetPropInt(PR_PLAYING));
}

TEST_F(MotionTest, StepsByTheNominalIntervalOfTheGlobalSceneNotTheMeasuredTime) {
  // In a private screen pair, with a tick measured at a whole second.
  writeMotion("walk.zmt", false);
  TZirkBaseList pair(scene, 320, 240);
  auto* o = pair.Create<TZirkImages>(nullptr, "mover");
  o->SetPropStr(PR_SOURCE, "walk.zmt");
  GameTime().ElapsedTime = 1000;
  std::vector<int32_t> xs;
  for (int k = 0; k < 4; ++k) {
    pair.TickObjects();
    xs.push_back(o->MotionX());
  }
  GameTime().ElapsedTime = 0;
  EXPECT_EQ(xs, (std::vector<int32_t>{0, 10, 20, 30}));
}

TEST_F(MotionTest, RepeatContinuesAtTheLoopStart) {
  writeMotion("loop.zmt", false, 2);
  TZirkImages* o = mover("loop.zmt");
  o->SetPropInt(PR_REPEAT, 1);
  // Ticks 0..3, then (tick mod 4) + 2 with the clock wound back to it, so
  // every pass plays ticks 2 and 3 without holding the last one.
  const int32_t frames[] = {0, 1, 2, 3, 2, 3, 2, 3, 2, 3};
  for (size_t k = 0; k < std::size(frames); ++k) {
    frame();
    EXPECT_EQ(o->GetPropInt(PR_INDEX), frames[k]) << k;
  }
  EXPECT_EQ(endEvents(), 0);
}

TEST_F(MotionTest, RelativeMotionsFollowTheirTarget) {
  writeMotion("rel.zmt", true);
  TZirkImages* o = mover("rel.zmt");
  frame();
  EXPECT_EQ(o->MotionX(), 100);
  EXPECT_EQ(o->MotionY(), 50);
  frame();
  EXPECT_EQ(o->MotionX(), 110);
  o->SetPropInt(PR_LEFT, 200);
  frame();
  EXPECT_EQ(o->MotionX(), 220);
  EXPECT_EQ(screenColor(221, 51), kRed);
}

TEST_F(MotionTest, PausesIndexAndMissingFiles) {
  writeMotion("walk.zmt", false);
  TZirkImages* o = mover("walk.zmt");
  frame();
  o->SetPropInt(PR_ANIPAUSED, 1);
  frame();
  frame();
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 0);
  o->SetPropInt(PR_ANIPAUSED, 0);
  // The index setter moves the motion's clock.
  o->SetPropInt(PR_INDEX, 2);
  EXPECT_EQ(o->GetMotion()->GetTime(), 33);
  frame();
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 3);
  EXPECT_EQ(o->MotionX(), 30);

  auto* missing = scene.Create<TZirkImages>(nullptr, "missing");
  missing->SetPropStr(PR_SOURCE, "nothing.zmt");
  EXPECT_EQ(missing->GetMotion(), nullptr);
  writeFile(dir / "bad.zmt", std::string("ZirkMotion108\x01\x02"));
  missing->SetPropStr(PR_SOURCE, "bad.zmt");
  EXPECT_EQ(missing->GetMotion(), nullptr);
}

TEST_F(MotionTest, TileTracksDriveATileThroughItsMotion) {
  FilmFile m;
  m.kind = "ZirkMotion";
  FilmTrack t;
  t.type = 5;
  t.source = "red.dor";
  t.length = 3;
  t.priority = 2;
  t.positionFrom = {0, 0};
  t.positionTo = {20, 10};
  t.widthFrom = 30;
  t.widthTo = 50;
  t.heightFrom = t.heightTo = 10;
  t.scrollXTo = 6;
  t.distanceX = 12;
  m.tracks = {t};
  writeFile(dir / "slide.zmt", WriteFilmFile(m));
  auto* tile = scene.Create<TZirkTile>(nullptr, "tile");
  tile->SetPriority(5);
  tile->SetPropStr(PR_SOURCE, "slide.zmt");
  ASSERT_NE(tile->GetMotion(), nullptr);
  struct Step {
    int32_t x, y, width, scroll;
  };
  const Step steps[] = {{0, 0, 30, 0}, {10, 5, 40, 3}, {20, 10, 50, 6}};
  for (const Step& s : steps) {
    frame();
    EXPECT_EQ(tile->MotionX(), s.x);
    EXPECT_EQ(tile->MotionY(), s.y);
    EXPECT_EQ(tile->GetDrawLeft(), s.x);
    EXPECT_EQ(tile->Width(), s.width);
    EXPECT_EQ(tile->Height(), 10);
    EXPECT_EQ(tile->GetPropInt(PR_SCROLLX), s.scroll);
  }
  EXPECT_EQ(tile->GetPriority(), 7);  // the motion's base priority plus the track's
  EXPECT_EQ(tile->DistanceX(), 12);
  // Copies 12 pixels apart, scrolled by 6: 14..23 (cut at 20), 26..35, ...
  EXPECT_EQ(screenColor(20, 15), kRed);
  EXPECT_EQ(screenColor(25, 15), kBackground);
  EXPECT_EQ(screenColor(27, 15), kRed);
  EXPECT_EQ(screenColor(69, 19), kRed);
  EXPECT_EQ(screenColor(19, 15), kBackground);
  EXPECT_EQ(screenColor(70, 15), kBackground);
}

TEST_F(MotionTest, ReloadingAShorterMotionForgetsTheOldLength) {
  TZirkMotion motion(*scene.Create<TZirkImages>(nullptr, "target"));
  FilmFile longer;
  longer.kind = "ZirkMotion";
  longer.tracks = {wipeTrack(0, 90)};
  FilmFile shorter = longer;
  shorter.tracks = {wipeTrack(0, 9)};
  writeFile(dir / "long.zmt", WriteFilmFile(longer));
  writeFile(dir / "short.zmt", WriteFilmFile(shorter));
  motion.LoadMotion("long.zmt");
  EXPECT_EQ(motion.GetLength(), 90);
  motion.LoadMotion("short.zmt");
  EXPECT_EQ(motion.GetLength(), 9);
  EXPECT_EQ(motion.Film().Kind, 1);
}

}  // namespace
}  // namespace zirk::test
