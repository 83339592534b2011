// The property motion on an injected tick time: its easings, its end, the
// object it moves going away, and its save record.

#include "objects/propmotion.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/records.h"
#include "scene/runtime.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"
#include "script/params.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

// Records the values written to PR_LEFT as they arrive.
class Recorder : public TZirkControl {
 public:
  using TZirkControl::TZirkControl;
  void SetProp(int id, const TCustomParam& v) override {
    if (id == PR_LEFT) written.push_back(static_cast<double>(v.AsFloat()));
    TZirkControl::SetProp(id, v);
  }
  std::vector<double> written;
};

class PropMotionTest : public ::testing::Test {
 protected:
  void TearDown() override { GameTime() = {}; }

  Recorder* recorder() { return scene.Create<Recorder>(nullptr, "target"); }
  TZirkPropMotion* motion(int32_t propId, long double to, int32_t duration, int32_t easing = 0,
                          const std::string& target = "target") {
    auto* m = scene.Create<TZirkPropMotion>(nullptr, "motion");
    m->Setup(target, propId, to, duration, easing);
    return m;
  }
  // A tick of `ms`; true while the motion is still there.
  bool tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    scene.TickObjects();
    return scene.FindComponentByName("motion") != nullptr;
  }

  TZirkBaseList scene;
};

TEST_F(PropMotionTest, EasingsFromStartToTarget) {
  const double q = std::acos(-1.0) / 2;
  struct Case {
    int32_t easing, duration;
    std::vector<double> expected;  // at t = 0, 250, 500, 1000; the last one ends it
  } cases[] = {
      {0, 1000, {0, 25, 50, 100}},
      {1,
       1000,
       {0, 100 - std::sin(749 * q / 1000) * 100, 100 - std::sin(499 * q / 1000) * 100, 100}},
      {2, 1000, {0, std::sin(250 * q / 1000) * 100, std::sin(500 * q / 1000) * 100, 100}},
      {7, 1000, {0, 25, 50, 100}},  // unknown easings move linearly
      // Short durations apply the target at once.
      {0, 1, {100}},
      {0, 0, {100}},
      {0, -5, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.easing << " " << c.duration);
    Recorder* r = recorder();
    motion(PR_LEFT, 100, c.duration, c.easing);
    size_t ticks = 0;
    for (uint32_t ms : {250, 250, 500, 16})
      EXPECT_EQ(tick(ms), ++ticks < c.expected.size()) << ticks;
    ASSERT_EQ(r->written.size(), c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i)
      EXPECT_NEAR(r->written[i], c.expected[i], 1e-9) << i;
    scene.FreeObject(r);
  }
}

TEST_F(PropMotionTest, EndsWithoutWritingWhenItsTargetCannotBeMoved) {
  // No object of that name, a property id outside the vocabulary, and a
  // property that refuses writes.
  for (auto [propId, target] :
       {std::pair{PR_LEFT, "nobody"}, {200, "target"}, {PR_APPEARX, "target"}}) {
    SCOPED_TRACE(propId);
    Recorder* r = recorder();
    motion(propId, 100, 1000, 0, target);
    EXPECT_FALSE(tick(16));
    EXPECT_TRUE(r->written.empty());
    scene.FreeObject(r);
  }
}

TEST_F(PropMotionTest, AFreedTargetEndsTheMotionEvenWhenItsNameComesBack) {
  Recorder* r = recorder();
  motion(PR_LEFT, 100, 1000);
  EXPECT_TRUE(tick(100));
  scene.FreeObject(r);
  // Another object under the same name is not the one the motion moved.
  Recorder* other = recorder();
  EXPECT_FALSE(tick(100));
  EXPECT_TRUE(other->written.empty());
}

TEST_F(PropMotionTest, SaveRecordAtEachVersion) {
  Recorder* r = recorder();
  TZirkPropMotion* m = motion(PR_LEFT, 100, 1000);
  EXPECT_TRUE(tick(300));
  EXPECT_TRUE(tick(100));  // 400 ms in after this tick
  m->SetPropInt(PR_PAUSED, 1);
  TKwMemoryStream s;
  m->SaveToStream(s);
  scene.FreeObject(m);

  // Before paused was saved; and a record whose id no byte could hold.
  auto oldRecord = [](int32_t propId) {
    auto out = std::make_unique<TKwMemoryStream>();
    TRecordWriter w(*out);
    w.Str("");
    w.Int(0);
    w.Int(0);
    w.Int(0);
    w.Str("target");
    w.Int(propId);
    WriteStreamExtended(*out, 100);
    w.Int(1000);
    w.Int(0);
    WriteStreamExtended(*out, 0);
    w.Int(400);
    return out;
  };
  auto v125 = oldRecord(PR_LEFT);
  auto bad = oldRecord(256 + PR_LEFT);
  struct Case {
    TKwMemoryStream* stream;
    int32_t version;
    bool paused, endsAtOnce;
  } cases[] = {{&s, SaveVersion, true, false},
               {v125.get(), 125, false, false},
               {bad.get(), 125, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    r->SetPropInt(PR_LEFT, 40);
    r->written.clear();
    c.stream->SetPosition(0);
    auto* copy = scene.Create<TZirkPropMotion>(nullptr, "motion");
    copy->LoadFromStream(*c.stream, c.version);
    EXPECT_EQ(c.stream->Remaining(), 0);
    EXPECT_EQ(copy->GetPropInt(PR_PAUSED), c.paused);
    EXPECT_EQ(copy->Elapsed(), 400);
    if (c.endsAtOnce) {
      EXPECT_FALSE(tick(100));
      EXPECT_TRUE(r->written.empty());
      continue;
    }
    if (c.paused) {
      EXPECT_TRUE(tick(100));
      EXPECT_TRUE(r->written.empty());
      copy->SetPropInt(PR_PAUSED, 0);
    }
    EXPECT_TRUE(tick(100));
    ASSERT_EQ(r->written.size(), 1u);
    EXPECT_NEAR(r->written[0], 40 + 60 * 0.4, 1e-9) << "start read anew from the object";
    scene.FreeObject(copy);
  }
  TKwMemoryStream early;  // saved before its first tick
  motion(PR_LEFT, 100, 1000)->SaveToStream(early);
  scene.FreeObject(scene.FindComponentByName("motion"));
  early.SetPosition(0);
  scene.Create<TZirkPropMotion>(nullptr, "motion")->LoadFromStream(early, SaveVersion);
  r->written.clear();
  EXPECT_TRUE(tick(16));
  EXPECT_EQ(r->written, std::vector<double>{40}) << "it still knows what to move";
}

}  // namespace
}  // namespace zirk::test
