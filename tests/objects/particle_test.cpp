#include <gtest/gtest.h>

#include <cmath>

#include "film_support.h"
#include "objects/particle.h"
#include "picture_fixture.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;

// Particles of a 4 x 4 picture in a 200 x 100 emitter at the screen's
// corner; the clock is whatever each tick is given.
class ParticleTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    RegisterZirkMotion();
    writeSolid("dot.dor", 4, 4, kRed);
  }
  void TearDown() override {
    GameTime().ElapsedTime = 0;
    SetMotionFactory({});
    ScenePictureTest::TearDown();
  }
  template <class Emitter = TZirkParticle>
  Emitter* emitter(uint8_t mode, long double p1, long double p2, long double p3,
                   TZirkParticleParam param, const std::string& name = "em") {
    auto* e = scene.Create<Emitter>(nullptr, name);
    e->Random().Seed(11);
    e->SetBounds(0, 0, 200, 100);
    e->SetPropStr(PR_SOURCE, "dot.dor");
    e->SetPropFloat(PR_PARAM1, p1);
    e->SetPropFloat(PR_PARAM2, p2);
    e->SetPropFloat(PR_PARAM3, p3);
    e->SetParam(param);
    e->SetPropInt(PR_PARTMOTION, mode);
    return e;
  }
  void tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    frame();
  }
  // One particle at (100, 50), the next one due after 100 s.
  static TZirkParticleParam single() { return {100, 50, 0, 0, 100000, 0}; }
};

TEST(EffectRandom, EmptyRangesGiveZeroAndSeedsReplay) {
  TEffectRandom a(5), b(5);
  for (int32_t k : {0, -1, -2147483647 - 1}) EXPECT_EQ(a.Int(k), 0) << k;
  for (int i = 0; i < 100; ++i) {
    const int32_t v = a.Int(9);
    ASSERT_EQ(v, b.Int(9));
    ASSERT_TRUE(v >= 0 && v < 9);
    const double r = a.Real();
    ASSERT_EQ(r, b.Real());
    ASSERT_TRUE(r >= 0 && r < 1);
  }
}

TEST_F(ParticleTest, PreRollModeChangesAndIntervals) {
  TZirkParticle* e = emitter(PM_NONE, 0, 0, 0, {100, 50, 0, 0, 100, 0});
  e->SetPropInt(PR_INDEX, 1000);
  tick(16);
  EXPECT_TRUE(e->Particles().empty()) << "no mode, no particles";
  // A mode restarts the emitter: 62 frames of pre-roll at once, 8 ms kept,
  // a particle every 100 ms caught up with its share of them.
  e->SetPropInt(PR_PARTMOTION, PM_STAR);
  EXPECT_EQ(e->Phase(), TZirkParticle::kRestart);
  tick(16);
  EXPECT_EQ(e->TimeStore(), 8);
  std::vector<int32_t> ages;
  for (TZirkParticleImages* p : e->Particles()) ages.push_back(p->Age());
  EXPECT_EQ(ages, (std::vector<int32_t>{880, 784, 688, 592, 480, 384, 288, 192, 80, 0}));

  // An interval of 0 is 2 ms; a range of 0 or less adds nothing random.
  TZirkParticle* dense = emitter(PM_STAR, 0, 1.0, 0, {30, 40, -5, 0, 0, 0}, "dense");
  tick(16);
  EXPECT_EQ(dense->Particles().size(), 1u);
  tick(16);
  EXPECT_EQ(dense->Particles().size(), 9u);
  for (TZirkParticleImages* p : dense->Particles()) {
    EXPECT_EQ(p->GetPropInt(PR_IGNOREMOUSE), IM_ALL);
    EXPECT_EQ(p->GetName().front(), kHiddenNameChar);
  }
  // A pre-roll of 100 s at the shortest interval spawns what a scene can
  // hold, and drops the rest.
  TZirkParticle* flood = emitter(PM_STAR, 0, 1.0, 0, {0, 0, 0, 0, 0, 0}, "flood");
  flood->SetPropInt(PR_INDEX, 100000);
  tick(0);
  EXPECT_EQ(flood->Particles().size(), size_t(TZirkParticle::kMaxSpawns));
  EXPECT_EQ(flood->SpawnCountdown(), 1);
  scene.FreeObject(flood);
  // An emitter's own lower cap drops the backlog sooner.
  TZirkParticle* capped = emitter(PM_STAR, 0, 1.0, 0, {0, 0, 0, 0, 0, 0}, "capped");
  capped->MaxSpawns = 40;
  capped->SetPropInt(PR_INDEX, 100000);
  tick(0);
  EXPECT_EQ(capped->Particles().size(), 40u);
  scene.FreeObject(capped);

  // Without a record the expressions decide; empty ones give every 16 ms
  // at the corner.
  dense->ClearParam();
  const size_t before = dense->Particles().size();
  tick(32);
  EXPECT_EQ(dense->Particles().size(), before + 2);
  EXPECT_EQ(dense->Particles().back()->Left(), 0);
}

TEST_F(ParticleTest, EachModeMovesItsParticleUntilItLeaves) {
  struct Case {
    const char* what;
    uint8_t mode;
    long double p1, p2, p3;
    int32_t deathTick;  // the tick (16 ms each) whose step kills it
    // Checked at tick `at`, the one before death: position.
    int32_t at, left, top;
  };
  const Case cases[] = {
      // Falls 2 a frame from y 50; gone once its top edge passes 100.
      {"snow", PM_SNOW, 2, 0, 0, 26, 25, 100, 100},
      // Rises as 0.5 t^2 while drifting 1 a frame to the right.
      {"fluff", PM_FLUFF, 0.5L, 1, 1, 11, 10, 110, 0},
  };
  for (const Case& c : cases) {
    TZirkParticle* e = emitter(c.mode, c.p1, c.p2, c.p3, single());
    tick(16);  // spawns
    ASSERT_EQ(e->Particles().size(), 1u) << c.what;
    TZirkParticleImages* p = e->Particles().front();
    for (int32_t k = 1; k <= c.at; ++k) tick(16);
    ASSERT_EQ(e->Particles().size(), 1u) << c.what;
    EXPECT_EQ(p->Left(), c.left) << c.what;
    EXPECT_EQ(p->Top(), c.top) << c.what;
    tick(16);
    EXPECT_TRUE(e->Particles().empty()) << c.what;
    EXPECT_EQ(scene.ObjectCount(), 1) << c.what << ": the particle is freed";
    scene.FreeObject(e);
  }
}

TEST_F(ParticleTest, StarGrowsFivePercentAFrameUntilPastTheFarthestCorner) {
  // Radius 0.1 at the start, times 1.05 each frame; from (100, 50) the
  // corner (0, 0) is 111.8 away, reached after 144 frames.
  TZirkParticle* e = emitter(PM_STAR, 0, 1.05L, 0, single());
  tick(16);
  TZirkParticleImages* p = e->Particles().front();
  for (int32_t k = 1; k <= 143; ++k) {
    tick(16);
    ASSERT_EQ(e->Particles().size(), 1u) << k;
    const double radius = std::hypot(p->Left() - 100, p->Top() - 50);
    ASSERT_NEAR(radius, 0.1 * std::pow(1.05, k - 1), 1.0) << k;
  }
  tick(16);
  EXPECT_TRUE(e->Particles().empty());
}

TEST_F(ParticleTest, TwisterTurnsScalesAndRises) {
  TZirkParticle* e = emitter(PM_TWISTER, 5, 20, 1.2L, single());
  tick(16);
  TZirkParticleImages* p = e->Particles().front();
  int32_t ticks = 0;
  bool front = false, back = false;
  while (!e->Particles().empty() && ticks < 100) {
    tick(16);
    ++ticks;
    if (e->Particles().empty()) break;
    EXPECT_EQ(p->Top(), 50 - 5 * ticks);
    EXPECT_LE(std::abs(p->Left() - 100), 20);
    EXPECT_TRUE(p->ZoomX() >= 128 && p->ZoomX() <= 256);
    EXPECT_EQ(p->ZoomY(), p->ZoomX());
    EXPECT_TRUE(p->GetPriority() >= -1000 && p->GetPriority() <= 1000);
    front = front || p->GetPriority() > 500;
    back = back || p->GetPriority() < -500;
  }
  EXPECT_TRUE(front && back);
  // Above the emitter's top once 50 - 5t plus its picture is below 0.
  EXPECT_TRUE(ticks >= 10 && ticks <= 12) << ticks;
}

TEST_F(ParticleTest, FramesSteppedInATickInvalidateTheParticleOnce) {
  // Ten frames of delay 0, each shown for 1 ms: a tick of 3 ms moves three
  // frames on, and wraps to frame 0 past the last.
  std::vector<TestFrame> frames(10);
  for (size_t k = 0; k < frames.size(); ++k) frames[k] = TestFrame{4, 4, {}, uint32_t(k), -1, 0};
  writePicture("ten.dor", frames);
  // A star of constant radius 0.1 stays where it is born.
  auto* e = emitter<CountingParent<TZirkParticle>>(PM_STAR, 0, 1, 0, single());
  e->SetPropStr(PR_SOURCE, "ten.dor");
  tick(16);
  ASSERT_EQ(e->Particles().size(), 1u);
  TZirkParticleImages* p = e->Particles().front();
  for (int32_t index : {3, 6, 9, 0, 3}) {
    e->Invalidations = 0;
    tick(3);
    EXPECT_EQ(p->Index(), index);
    EXPECT_EQ(e->Invalidations, 1) << index;
  }
}

TEST_F(ParticleTest, SeededEmitterReplaysItsParticles) {
  auto run = [&] {
    TZirkParticle* e = emitter(PM_STAR, 1, 1.02L, 0.01L, {100, 50, 10, 10, 40, 20});
    uint32_t sum = 0;
    for (int k = 0; k < 120; ++k) {
      tick(16);
      for (TZirkParticleImages* p : e->Particles())
        sum = sum * 31 + uint32_t(p->Left()) * 7 + uint32_t(p->Top());
    }
    scene.FreeObject(e);
    return sum;
  };
  const uint32_t first = run();
  EXPECT_EQ(run(), first);
  EXPECT_EQ(first, 1235548384u);
}

TEST_F(ParticleTest, DurationEndsSpawningAndTheEmitterLeavesWithItsLastParticle) {
  TZirkParticle* e = emitter(PM_SNOW, 4, 0, 0, {100, 0, 0, 0, 100, 0});
  e->SetPropInt(PR_DURATION, 3000);
  const uint64_t serial = e->Serial();
  int32_t ms = 0;
  while (scene.FindBySerial(serial) && ms < 10000) {
    tick(16);
    ms += 16;
    // The first tick starts the emitter; the next 188 spend the 3000 ms.
    if (ms == 3008) {
      EXPECT_EQ(e->Phase(), TZirkParticle::kEmitting);
    } else if (ms == 3024) {
      EXPECT_EQ(e->Phase(), TZirkParticle::kDraining);
    }
  }
  // The last particle, spawned before 3 s, falls 4 a frame through 100.
  EXPECT_TRUE(ms > 3024 && ms <= 3024 + 30 * 16) << ms;
  EXPECT_EQ(scene.ObjectCount(), 0);
}

// Changes an emitter's source from its own tick, which the scene runs after
// the emitter's particles.
class SourceChanger : public TZirkControl {
 public:
  SourceChanger(TZirkBaseList& scene, TZirkParticle* e) : TZirkControl(scene), emitter_(e) {}
  bool Tick() override {
    if (emitter_) emitter_->SetPropStr(PR_SOURCE, "other.dor");
    emitter_ = nullptr;
    return false;
  }

 private:
  TZirkParticle* emitter_;
};

class TickCounter : public TZirkControl {
 public:
  using TZirkControl::TZirkControl;
  bool Tick() override {
    ++Ticks;
    return false;
  }
  int32_t Ticks = 0;
};

TEST_F(ParticleTest, ChangingTheSourceRemovesEveryParticleMidTick) {
  writeSolid("other.dor", 2, 2, kRed);
  TZirkParticle* e = emitter(PM_SNOW, 0.1L, 0, 0, {0, 0, 200, 100, 4, 0});
  tick(16);
  tick(16);
  ASSERT_GT(e->Particles().size(), 2u);
  scene.Create<SourceChanger>(nullptr, "", e);
  auto* counter = scene.Create<TickCounter>(nullptr, "");
  tick(16);
  EXPECT_EQ(counter->Ticks, 1);
  EXPECT_TRUE(e->Particles().empty());
  EXPECT_EQ(scene.ObjectCount(), 3);
  EXPECT_EQ(e->Phase(), TZirkParticle::kRestart);
  tick(16);
  EXPECT_EQ(counter->Ticks, 2);
  EXPECT_FALSE(e->Particles().empty());
}

TEST_F(ParticleTest, MotionParticlesEndWithTheirMotion) {
  FilmFile m;
  m.kind = "ZirkMotion";
  m.relative = true;
  FilmTrack t;
  t.source = "dot.dor";
  t.length = 10;  // film ticks of 1/60 s
  t.positionTo = {20, 0};
  m.tracks = {t};
  writeFile(dir / "spark.zmt", WriteFilmFile(m));
  ASSERT_TRUE(kFilmTracksRegistered);
  TZirkParticle* e = emitter(PM_SNOW, 0.01L, 0, 0, single());
  e->SetPropStr(PR_SOURCE, "spark.zmt");
  ASSERT_NE(e->ParticleMotion(), nullptr);
  tick(16);
  ASSERT_EQ(e->Particles().size(), 1u);
  TZirkParticleImages* p = e->Particles().front();
  EXPECT_EQ(p->GetMotion(), e->ParticleMotion());
  EXPECT_EQ(p->GetPropInt(PR_WIDTH), 4);
  // Its age reaches the motion's end (10 film ticks) after 10 frames.
  for (int32_t k = 1; k < 10; ++k) {
    tick(16);
    ASSERT_EQ(e->Particles().size(), 1u) << k;
  }
  EXPECT_GT(p->GetDrawLeft(), 100);
  tick(16);
  EXPECT_TRUE(e->Particles().empty());
}

TEST_F(ParticleTest, SaveRecordKeepsTheEmitterNotItsParticles) {
  TZirkParticle* e = emitter(PM_FLUFF, 0.25L, -1.5L, 3, single());
  e->SetPropInt(PR_ALPHA, 128);
  e->SetPropInt(PR_INDEX, 200);
  e->SetPropInt(PR_DURATION, 5000);
  e->SetPropStr(PR_ONIDLE, "*idle");
  tick(16);
  ASSERT_FALSE(e->Particles().empty());
  TKwMemoryStream saved;
  e->SaveToStream(saved);
  scene.FreeObject(e);
  EXPECT_EQ(scene.ObjectCount(), 0);
  saved.SetPosition(0);
  auto* copy = scene.Create<TZirkParticle>(nullptr, "");
  copy->LoadFromStream(saved, SaveVersion);
  EXPECT_EQ(saved.Remaining(), 0);
  EXPECT_EQ(copy->Source(), "dot.dor");
  EXPECT_EQ(copy->Mode(), PM_FLUFF);
  EXPECT_EQ(copy->GetParam(0), 0.25L);
  EXPECT_EQ(copy->GetParam(1), -1.5L);
  EXPECT_EQ(copy->GetParam(2), 3.0L);
  EXPECT_EQ(copy->GetParam(3), 0.0L);
  EXPECT_EQ(copy->Alpha(), 128);
  EXPECT_EQ(copy->GetPropInt(PR_INDEX), 200);
  EXPECT_EQ(copy->GetPropInt(PR_DURATION), 5000);
  EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
  EXPECT_TRUE(copy->Particles().empty());
  EXPECT_EQ(copy->Param(), nullptr);
  EXPECT_EQ(scene.ObjectCount(), 1);
}

}  // namespace
}  // namespace zirk::test
