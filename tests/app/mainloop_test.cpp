#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/mainloop.h"
#include "app/workfiles.h"
#include "platform/clock.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

// A loop whose steps write their names into a log.
class RecordingLoop : public TMainLoop {
 public:
  using TMainLoop::TMainLoop;
  std::vector<std::string> log;
  bool project = true, closing = false, loads = false;
  uint32_t workTime = 0;  // ms a tick spends in its object step

 protected:
  bool HasProject() override {
    log.push_back("project");
    return project;
  }
  void AgeWorkFiles(uint32_t) override { log.push_back("age"); }
  void InputStep() override { log.push_back("input"); }
  void RunScript() override { log.push_back("script"); }
  bool Closing() override { return closing; }
  void TickObjects() override {
    log.push_back("tick");
    if (workTime) clock_->Advance(workTime);
  }
  bool RunLoadSave() override {
    log.push_back("loadsave");
    return loads;
  }
  void Paint() override { log.push_back("paint"); }

 public:
  platform::ManualClock* clock_ = nullptr;
};

class MainLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClock(&clock);
    GameTime() = {};
    loop.clock_ = &clock;
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    GameTime() = {};
  }
  // An idle event after `ms` more of the clock.
  uint32_t idleAfter(uint32_t ms) {
    clock.Advance(ms);
    return loop.Idle();
  }
  int count(const std::string& step) {
    return static_cast<int>(std::count(loop.log.begin(), loop.log.end(), step));
  }

  platform::ManualClock clock{1000};
  RecordingLoop loop;
};

TEST_F(MainLoopTest, ATickRunsItsStepsInOrder) {
  loop.Idle();
  EXPECT_EQ(loop.log, (std::vector<std::string>{"project", "age", "input", "script", "tick",
                                                "loadsave", "paint"}));
  struct Case {
    const char* what;
    bool project, closing, loads;
    std::vector<std::string> steps;
  } cases[] = {
      {"no project", false, false, false, {"project"}},
      {"closing", true, true, false, {"project", "age", "input", "script"}},
      {"a load skips the paint",
       true,
       false,
       true,
       {"project", "age", "input", "script", "tick", "loadsave"}},
  };
  for (const Case& c : cases) {
    loop.log.clear();
    loop.project = c.project;
    loop.closing = c.closing;
    loop.loads = c.loads;
    idleAfter(16);
    EXPECT_EQ(loop.log, c.steps) << c.what;
  }
}

TEST_F(MainLoopTest, TimesOfEachTickAndTheResetAfterALongGap) {
  TZirkBaseList scene;
  RecordingLoop sceneLoop(&scene);
  sceneLoop.Idle();
  EXPECT_EQ(ElapsedTime(), 0u);
  struct Step {
    uint32_t advance;
    bool ticks;
    uint32_t elapsed, gameClock;
  } steps[] = {
      {16, true, 16, 16},       {17, true, 17, 33},
      {3000, true, 3000, 3033}, {3001, false, 3000, 3033},  // only resets the clock
      {20, true, 20, 3053},     {0, true, 0, 3053},
  };
  uint64_t ticks = sceneLoop.TickCount();
  for (const Step& s : steps) {
    clock.Advance(s.advance);
    sceneLoop.Idle();
    if (s.ticks) ++ticks;
    EXPECT_EQ(sceneLoop.TickCount(), ticks) << s.advance;
    EXPECT_EQ(ElapsedTime(), s.elapsed) << s.advance;
    EXPECT_EQ(GameClock(), s.gameClock) << s.advance;
    if (s.ticks) {
      EXPECT_EQ(scene.SceneClock(), clock.Milliseconds());
    }
  }
}

TEST_F(MainLoopTest, FrameIntervalIsNominalWhateverATickMeasured) {
  // Measured times far from the frame time: ElapsedTime follows them, the
  // frame interval keeps to the frame time in whole ms.
  struct Case {
    double frameTime;
    std::vector<uint32_t> measured, nominal;
  } cases[] = {
      {1000.0 / 60, {5, 40, 16, 100, 17, 3}, {16, 17, 17, 16, 17, 17}},
      {1000.0 / 30, {33, 33, 33, 60, 1, 2}, {34, 33, 33, 34, 33, 33}},
      {20, {16, 16}, {20, 20}},
  };
  for (const Case& c : cases) {
    TZirkBaseList scene;
    RecordingLoop sceneLoop(&scene);
    sceneLoop.FrameTime = c.frameTime;
    sceneLoop.Idle();  // starts the clock: a tick of 0 ms measured
    std::vector<uint32_t> nominal;
    for (uint32_t ms : c.measured) {
      clock.Advance(ms);
      sceneLoop.Idle();
      EXPECT_EQ(ElapsedTime(), ms);
      nominal.push_back(scene.FrameInterval());
    }
    EXPECT_EQ(nominal, c.nominal) << c.frameTime;
  }
  // Sixty nominal ticks at 60 frames a second make one second.
  TZirkBaseList scene;
  RecordingLoop sceneLoop(&scene);
  uint32_t sum = 0;
  for (int i = 0; i < 60; ++i) {
    clock.Advance(25);
    sceneLoop.Idle();
    sum += scene.FrameInterval();
  }
  EXPECT_EQ(sum, 1000u);
}

TEST_F(MainLoopTest, SkipCounterCountsTicksDownInsteadOfRunningThem) {
  loop.SkipCount = 2;
  for (int i = 0; i < 3; ++i) idleAfter(16);
  EXPECT_EQ(loop.SkipCount, 0);
  EXPECT_EQ(count("project"), 3);
  EXPECT_EQ(count("input"), 1);
  // Game time still runs through skipped ticks (the first idle event
  // only starts the clock).
  EXPECT_EQ(GameClock(), 32u);
}

TEST_F(MainLoopTest, PaintsOnEveryNthTick) {
  for (int32_t divisor : {1, 2, 3, 0}) {
    RecordingLoop l;
    l.PaintDivisor = divisor;
    for (int i = 0; i < 12; ++i) {
      clock.Advance(16);
      l.Idle();
    }
    const int expected = 12 / std::max(divisor, 1);
    EXPECT_EQ(l.PaintCount(), static_cast<uint64_t>(expected)) << divisor;
    EXPECT_EQ(std::count(l.log.begin(), l.log.end(), "paint"), expected) << divisor;
    EXPECT_EQ(l.TickCount(), 12u);
  }
}

TEST_F(MainLoopTest, WaitsForTheRestOfTheFrameAtLeastTwoMilliseconds) {
  struct Case {
    uint32_t work;
    bool wait;
    uint32_t expected;
  } cases[] = {{0, true, 17}, {5, true, 12}, {14, true, 3}, {15, true, 2},
               {16, true, 2}, {40, true, 2}, {0, false, 0}, {40, false, 0}};
  for (const Case& c : cases) {
    loop.workTime = c.work;
    loop.WaitForFrame = c.wait;
    EXPECT_EQ(idleAfter(16), c.expected) << c.work << " " << c.wait;
  }
  loop.workTime = 0;
  loop.WaitForFrame = true;
  loop.FrameTime = 1000.0 / 30;
  EXPECT_EQ(idleAfter(16), 33u);
}

TEST_F(MainLoopTest, FrameRateIsFiguredEveryTwoSeconds) {
  loop.Idle();
  EXPECT_EQ(loop.FrameRate(), 0.0);
  // 50 frames of 20 ms: 1000 ms, no figure yet.
  for (int i = 0; i < 50; ++i) idleAfter(20);
  EXPECT_EQ(loop.FrameRate(), 0.0);
  for (int i = 0; i < 50; ++i) idleAfter(20);
  EXPECT_DOUBLE_EQ(loop.FrameRate(), 50.5);  // 101 paints in 2000 ms
  // Painting every second tick halves it over the next period.
  loop.PaintDivisor = 2;
  for (int i = 0; i < 100; ++i) idleAfter(20);
  EXPECT_DOUBLE_EQ(loop.FrameRate(), 25.0);
}

TEST_F(MainLoopTest, TheTickMessageRunsATickWithoutTheTimingSteps) {
  loop.Idle();
  idleAfter(16);
  loop.log.clear();
  clock.Advance(500);
  loop.Tick();
  EXPECT_EQ(count("paint"), 1);
  EXPECT_EQ(loop.TickCount(), 2u);
  EXPECT_EQ(ElapsedTime(), 16u);
  EXPECT_EQ(GameClock(), 16u);
}

TEST_F(MainLoopTest, ResetClockDropsTheTimeSinceTheLastIdleEvent) {
  loop.Idle();
  idleAfter(16);
  clock.Advance(2000);
  loop.ResetClock();
  idleAfter(16);
  EXPECT_EQ(ElapsedTime(), 16u);
  EXPECT_EQ(GameClock(), 32u);
}

TEST_F(MainLoopTest, DefaultStepsRunTheSceneAndNeedAProject) {
  TZirkBaseList scene;
  int presents = 0;
  scene.SetPresenter([&](TCustomDIBX&, const std::vector<TRect>&) { ++presents; });
  scene.RedrawAll();
  TMainLoop plain(&scene);
  SetCurrentProject(nullptr);
  plain.Idle();
  EXPECT_EQ(presents, 0);
  TProject project;
  SetCurrentProject(&project);
  scene.InputKeyDown(13);
  clock.Advance(16);
  plain.Idle();
  EXPECT_EQ(presents, 1);
  EXPECT_TRUE(scene.KeyPressed(13));
  SetCurrentProject(nullptr);
}

TEST(WorkFiles, ReleasedFilesAgeAndQueuedOnesGoOnTheNextTick) {
  TempDir dir;
  const auto a = dir / "a.tmp", b = dir / "b.tmp", c = dir / "c.tmp", d = dir / "d.tmp";
  for (const auto& f : {a, b, c, d}) writeFile(f, "x");
  {
    TWorkFiles files;
    files.Release(a, 100);
    files.Release(b, 300);
    files.Release(c, 100);
    EXPECT_TRUE(files.Reuse(c));
    EXPECT_FALSE(files.Reuse(c));
    files.Age(60);
    EXPECT_TRUE(std::filesystem::exists(a));
    files.Age(40);
    EXPECT_FALSE(std::filesystem::exists(a));
    EXPECT_TRUE(std::filesystem::exists(b));
    EXPECT_EQ(files.ReleasedCount(), 1u);
    // Releasing again starts its time over.
    files.Release(b, 300);
    files.Age(250);
    EXPECT_TRUE(std::filesystem::exists(b));
    files.QueueDelete(d);
    files.QueueDelete(d);
    EXPECT_EQ(files.QueuedCount(), 1u);
    files.DeleteQueued();
    EXPECT_FALSE(std::filesystem::exists(d));
    EXPECT_TRUE(std::filesystem::exists(c));
  }
  // Whatever was still waiting goes at exit.
  EXPECT_FALSE(std::filesystem::exists(b));
  EXPECT_TRUE(std::filesystem::exists(c));
}

}  // namespace
}  // namespace zirk::test
