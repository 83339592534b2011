// The timer on an injected game clock: its firing schedule, auto scrap,
// restarts and its save record.

#include "objects/timer.h"

#include <gtest/gtest.h>

#include "base/records.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

class TimerTest : public ::testing::Test {
 protected:
  void TearDown() override { GameTime() = {}; }

  TZirkTimer* timer(int32_t period, const std::string& label = "*tick") {
    TZirkTimer* t = scene.Create<TZirkTimer>(nullptr, "timer");
    t->SetPropStr(PR_ONNOTIFY, label);
    t->SetPropInt(PR_DELAY, period);
    return t;
  }
  // A tick at the given game clock; how many events are queued afterwards.
  int32_t tickAt(uint32_t clock) {
    GameTime().GameClock = clock;
    scene.TickObjects();
    return scene.Events().Count();
  }
  void handle() { scene.Events().Clear(); }

  TZirkBaseList scene;
};

TEST_F(TimerTest, FiresOnTheGameClockKeepingItsPhase) {
  struct Step {
    uint32_t clock;
    bool handleFirst;
    int32_t queued;
  };
  struct Case {
    int32_t period;
    std::vector<Step> steps;
  } cases[] = {
      // Every tick once the last event left.
      {0, {{0, false, 1}, {16, false, 1}, {32, true, 1}, {48, true, 1}}},
      {-1, {{0, false, 0}, {100000, false, 0}}},  // never
      // Catching up after a stall, one event at a time.
      {1000,
       {{999, false, 0},
        {1000, false, 1},
        {4500, false, 1},  // behind: the schedule moves, no second event
        {4516, true, 1},   // 3000
        {4532, true, 1},   // 4000
        {4548, true, 0},   // caught up: 5000 lies ahead
        {5000, false, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.period);
    GameTime().GameClock = 0;
    TZirkTimer* t = timer(c.period);
    for (const Step& s : c.steps) {
      if (s.handleFirst) handle();
      EXPECT_EQ(tickAt(s.clock), s.queued) << "at " << s.clock;
    }
    if (scene.Events().Count() > 0) {
      const TTimerData& e = scene.Events().Items(0);
      EXPECT_TRUE(e.Label == "*tick" && e.PropId == PR_ONNOTIFY && e.Object == t);
    }
    scene.FreeObject(t);
  }
}

TEST_F(TimerTest, AutoScrapFiresOnceAndGoesWhenItsEventWasHandled) {
  TZirkTimer* t = timer(100);
  t->SetPropInt(PR_AUTOSCRAP, 1);
  EXPECT_EQ(tickAt(100), 1);
  EXPECT_EQ(tickAt(200), 1) << "still pending: the timer waits";
  EXPECT_TRUE(scene.Contains(t));
  handle();
  EXPECT_EQ(tickAt(300), 0) << "no second firing";
  EXPECT_EQ(scene.FindComponentByName("timer"), nullptr);
}

TEST_F(TimerTest, ChangingLabelPeriodOrPauseDropsPendingEventsAndRestarts) {
  for (int change = 0; change < 3; ++change) {
    SCOPED_TRACE(change);
    GameTime().GameClock = 0;
    TZirkTimer* t = timer(100);
    EXPECT_EQ(tickAt(100), 1);
    GameTime().GameClock = 150;
    if (change == 0) t->SetPropStr(PR_ONNOTIFY, "*other");
    if (change == 1) t->SetPropInt(PR_DELAY, 100);  // the same period
    if (change == 2) {
      t->SetPropInt(PR_PAUSED, 1);
      t->SetPropInt(PR_PAUSED, 0);
    }
    EXPECT_EQ(scene.Events().Count(), 0);
    EXPECT_EQ(tickAt(249), 0) << "the period counts from the change";
    EXPECT_EQ(tickAt(250), 1);
    handle();
    scene.FreeObject(t);
  }
  // A paused timer is not ticked by the scene.
  timer(10)->SetPropInt(PR_PAUSED, 1);
  EXPECT_EQ(tickAt(1000), 0);
}

TEST_F(TimerTest, SaveRecordAtEachVersion) {
  TZirkTimer* t = timer(250, "*note");
  t->SetPropInt(PR_AUTOSCRAP, 1);
  EXPECT_EQ(tickAt(250), 1);
  TKwMemoryStream s;
  t->SaveToStream(s);
  scene.FreeObject(t);
  handle();
  // From before auto scrap was saved.
  TKwMemoryStream old;
  TRecordWriter w(old);
  w.Str("old");
  w.Int(0);  // priority; order and tag came later
  w.Str("*note");
  w.Int(250);
  w.Bool(false);
  for (int32_t version : {SaveVersion, 103}) {
    SCOPED_TRACE(version);
    TKwMemoryStream& in = version == 103 ? old : s;
    in.SetPosition(0);
    GameTime().GameClock = 10000;
    auto* copy = scene.Create<TZirkTimer>(nullptr, "");
    copy->LoadFromStream(in, version);
    EXPECT_EQ(in.Remaining(), 0);
    EXPECT_EQ(copy->GetPropStr(PR_ONNOTIFY), "*note");
    EXPECT_EQ(copy->GetPropInt(PR_DELAY), 250);
    if (version == SaveVersion) {
      EXPECT_EQ(tickAt(10000), 0) << "fired and auto scrap: it goes without firing again";
      EXPECT_EQ(scene.FindComponentByName("timer"), nullptr);
      continue;
    }
    EXPECT_EQ(copy->GetPropInt(PR_AUTOSCRAP), 0);
    EXPECT_EQ(tickAt(10249), 0) << "the period starts afresh after a load";
    EXPECT_EQ(tickAt(10250), 1);
  }
  // A truncated record raises the format error.
  TKwMemoryStream cut(std::vector<uint8_t>{5, 0, 0, 0, 'a', 'b'});
  EXPECT_THROW(scene.Create<TZirkTimer>(nullptr, "")->LoadFromStream(cut, SaveVersion),
               EFormatError);
}

}  // namespace
}  // namespace zirk::test
