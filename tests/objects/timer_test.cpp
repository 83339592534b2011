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
  // A tick at the given game clock; returns how many of the timer's events
  // are queued afterwards.
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
    const char* what;
    int32_t period;
    std::vector<Step> steps;
  } cases[] = {
      {"period 0 fires every tick once the last event left",
       0,
       {{0, false, 1}, {16, false, 1}, {32, true, 1}, {48, true, 1}}},
      {"period -1 never fires", -1, {{0, false, 0}, {100000, false, 0}}},
      {"period 1000 catches up after a stall, one event at a time",
       1000,
       {{999, false, 0},
        {1000, false, 1},
        {4500, false, 1},  // behind: the schedule moves, no second event
        {4516, true, 1},   // 3000
        {4532, true, 1},   // 4000
        {4548, true, 0},   // caught up: 5000 lies ahead
        {5000, false, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GameTime().GameClock = 0;
    TZirkTimer* t = timer(c.period);
    for (const Step& s : c.steps) {
      if (s.handleFirst) handle();
      EXPECT_EQ(tickAt(s.clock), s.queued) << "at " << s.clock;
    }
    if (scene.Events().Count() > 0) {
      EXPECT_EQ(scene.Events().Items(0).Label, "*tick");
      EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONNOTIFY);
      EXPECT_EQ(scene.Events().Items(0).Object, t);
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
  struct Case {
    const char* what;
    std::function<void(TZirkTimer&)> change;
  } cases[] = {
      {"label", [](TZirkTimer& t) { t.SetPropStr(PR_ONNOTIFY, "*other"); }},
      {"the same period", [](TZirkTimer& t) { t.SetPropInt(PR_DELAY, 100); }},
      {"pause and resume",
       [](TZirkTimer& t) {
         t.SetPropInt(PR_PAUSED, 1);
         t.SetPropInt(PR_PAUSED, 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GameTime().GameClock = 0;
    TZirkTimer* t = timer(100);
    EXPECT_EQ(tickAt(100), 1);
    GameTime().GameClock = 150;
    c.change(*t);
    EXPECT_EQ(scene.Events().Count(), 0);
    EXPECT_EQ(tickAt(249), 0) << "the period counts from the change";
    EXPECT_EQ(tickAt(250), 1);
    handle();
    scene.FreeObject(t);
  }
  // A paused timer is not ticked by the scene.
  TZirkTimer* t = timer(10);
  t->SetPropInt(PR_PAUSED, 1);
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

  // The current record, and one from before auto scrap was saved.
  TKwMemoryStream old;
  TRecordWriter w(old);
  w.Str("old");
  w.Int(0);  // priority; order and tag came later
  w.Str("*note");
  w.Int(250);
  w.Bool(false);
  struct Case {
    TKwMemoryStream* stream;
    int32_t version;
    bool autoScrap, firedBefore;
  } cases[] = {{&s, SaveVersion, true, true}, {&old, 103, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    c.stream->SetPosition(0);
    GameTime().GameClock = 10000;
    auto* copy = scene.Create<TZirkTimer>(nullptr, "");
    copy->LoadFromStream(*c.stream, c.version);
    EXPECT_EQ(c.stream->Remaining(), 0);
    EXPECT_EQ(copy->GetPropStr(PR_ONNOTIFY), "*note");
    EXPECT_EQ(copy->GetPropInt(PR_DELAY), 250);
    EXPECT_EQ(copy->GetPropInt(PR_AUTOSCRAP), c.autoScrap);
    if (c.firedBefore) {
      EXPECT_EQ(tickAt(10000), 0) << "fired and auto scrap: it goes without firing again";
      EXPECT_EQ(scene.FindComponentByName("timer"), nullptr);
    } else {
      EXPECT_EQ(tickAt(10249), 0) << "the period starts afresh after a load";
      EXPECT_EQ(tickAt(10250), 1);
      scene.FreeObject(copy);
      handle();
    }
  }
  // A truncated record raises the format error.
  TKwMemoryStream cut;
  cut.WriteBuffer("\x05\0\0\0ab", 6);
  cut.SetPosition(0);
  auto* broken = scene.Create<TZirkTimer>(nullptr, "");
  EXPECT_THROW(broken->LoadFromStream(cut, SaveVersion), EFormatError);
}

}  // namespace
}  // namespace zirk::test
