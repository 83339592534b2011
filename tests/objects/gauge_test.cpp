#include <gtest/gtest.h>

#include <fstream>

#include "control_fixture.h"
#include "objects/gauge.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kBar = 0x00C000, kLost = 0x0000C0;

class GaugeTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    writeStrip("hgauge.dor", 10, 4, {kBar, kLost});
    writeStrip("vgauge.dor", 4, 10, {kBar, kLost});
  }
  // A 0..100 gauge at (100, 50), 200 pixels long (100 when vertical),
  // showing `from` still.
  TZirkGauge* make(bool vertical, int32_t from = 0) {
    auto* g = scene.Create<TZirkGauge>(nullptr, "g");
    g->SetPropInt(PR_LEFT, 100);
    g->SetPropInt(PR_TOP, 50);
    g->SetPropInt(PR_ALPHA, 255);
    g->SetPropInt(PR_ORIENTATION, vertical ? 1 : 0);
    g->SetPropStr(PR_SOURCE, vertical ? "vgauge.dor" : "hgauge.dor");
    g->SetPropInt(PR_BARSIZE, vertical ? 100 : 200);
    g->SetPropInt(PR_MAX, 100);
    g->SetPropInt(PR_VALUE, from);
    frame();  // no sweep time: shown at once
    EXPECT_EQ(g->ShownValue(), from);
    return g;
  }
};

TEST_F(GaugeTest, FallLeavesALostPartThatWaitsAndShrinks) {
  TZirkGauge* g = make(false, 80);
  g->SetPropInt(PR_DELAY, 1000);    // 0.1 units per ms: 1 per 10 ms tick
  g->SetPropInt(PR_DURATION, 100);  // 10 ticks
  g->SetPropInt(PR_VALUE, 50);
  EXPECT_EQ(g->ShownValue(), 50);
  EXPECT_EQ(g->LostAmount(), 30);
  frame();
  // Bar 100 pixels, lost part 60.
  EXPECT_EQ(screenColor(199, 51), kBar);
  EXPECT_EQ(screenColor(200, 51), kLost);
  EXPECT_EQ(screenColor(259, 51), kLost);
  EXPECT_EQ(screenColor(260, 51), kBackground);
  struct Step {
    int32_t tick, lost;
  };
  int32_t tick = 1;
  for (const Step& s : {Step{10, 30}, Step{11, 29}, Step{20, 20}, Step{39, 1}}) {
    for (; tick < s.tick; ++tick) frame();
    EXPECT_EQ(g->LostAmount(), s.lost) << s.tick;
    EXPECT_EQ(g->GetPropInt(PR_PLAYING), 1) << s.tick;
  }
  frame();
  EXPECT_EQ(g->LostAmount(), 0);
  EXPECT_EQ(g->GetPropInt(PR_PLAYING), 0);
  EXPECT_EQ(screenColor(200, 51), kBackground);
}

TEST_F(GaugeTest, RiseGrowsFromWhatIsShown) {
  TZirkGauge* g = make(false, 50);
  g->SetPropInt(PR_DELAY, 1000);
  g->SetPropInt(PR_DURATION, 10000);
  g->SetPropInt(PR_VALUE, 30);
  frame();
  EXPECT_EQ(g->LostAmount(), 20);
  // A rise while the lost part waits drops it at once.
  g->SetPropInt(PR_VALUE, 60);
  EXPECT_EQ(g->LostAmount(), 0);
  frame();
  EXPECT_EQ(g->ShownValue(), 31);
  EXPECT_EQ(g->GetPropInt(PR_PLAYING), 1);
  for (int32_t i = 0; i < 28; ++i) frame();
  EXPECT_EQ(g->ShownValue(), 59);
  frame();
  EXPECT_EQ(g->ShownValue(), 60);
  EXPECT_EQ(g->GetPropInt(PR_PLAYING), 0);

  // Without a sweep time a rise shows in full on the next tick, and a lost
  // part goes at once when its wait is over.
  g->SetPropInt(PR_DELAY, 0);
  g->SetPropInt(PR_DURATION, 30);
  g->SetPropInt(PR_VALUE, 90);
  frame();
  EXPECT_EQ(g->ShownValue(), 90);
  g->SetPropInt(PR_VALUE, 10);
  for (int32_t i = 0; i < 3; ++i) frame();
  EXPECT_EQ(g->LostAmount(), 80);
  frame();
  EXPECT_EQ(g->LostAmount(), 0);
}

TEST_F(GaugeTest, BarAndLostPartLieByOrientationAndReverse) {
  struct Probe {
    int32_t x, y;
    uint32_t color;
  };
  struct Case {
    bool vertical, reverse;
    std::vector<Probe> probes;
  };
  // Value 30 after 60: bar 30% of the length, lost part 30% beyond it.
  const Case cases[] = {
      {false,
       false,
       {{100, 51, kBar},
        {159, 51, kBar},
        {160, 51, kLost},
        {219, 51, kLost},
        {220, 51, kBackground}}},
      {false,
       true,
       {{299, 51, kBar},
        {240, 51, kBar},
        {239, 51, kLost},
        {180, 51, kLost},
        {179, 51, kBackground}}},
      {true,
       false,
       {{101, 149, kBar},
        {101, 120, kBar},
        {101, 119, kLost},
        {101, 90, kLost},
        {101, 89, kBackground}}},
      {true,
       true,
       {{101, 50, kBar},
        {101, 79, kBar},
        {101, 80, kLost},
        {101, 109, kLost},
        {101, 110, kBackground}}},
  };
  for (const Case& c : cases) {
    TZirkGauge* g = make(c.vertical, 60);
    g->SetPropInt(PR_REVERSE, c.reverse ? 1 : 0);
    g->SetPropInt(PR_DURATION, 10000);
    g->SetPropInt(PR_VALUE, 30);
    frame();
    for (const Probe& p : c.probes)
      EXPECT_EQ(screenColor(p.x, p.y), p.color)
          << c.vertical << c.reverse << " " << p.x << "," << p.y;
    scene.FreeObject(g);
    frame();
  }

  TZirkGauge* g = make(false);
  g->SetPropInt(PR_MIN, 10);
  g->SetPropInt(PR_MAX, 20);
  g->SetPropInt(PR_VALUE, 15);
  frame();
  EXPECT_EQ(screenColor(199, 51), kBar) << "half the length";
  EXPECT_EQ(screenColor(200, 51), kBackground);
}

TEST_F(GaugeTest, AStripThatFailsToLoadLeavesTheSizeOfWhatIsHeld) {
  TZirkGauge* g = make(false, 50);
  std::ofstream(dir.path() / "broken.dor") << "not a picture";
  EXPECT_ANY_THROW(g->SetPropStr(PR_SOURCE, "broken.dor"));
  EXPECT_EQ(g->Width(), 200) << "the bar size holds";
  EXPECT_EQ(g->Height(), 0);
  frame();
  EXPECT_EQ(screenColor(100, 51), kBackground);
}

TEST_F(GaugeTest, LoadedGaugeShowsItsValueStill) {
  TZirkGauge* g = make(false, 70);
  g->SetPropInt(PR_DELAY, 1000);
  g->SetPropInt(PR_DURATION, 500);
  g->SetPropStr(PR_ONIDLE, "*i");
  g->SetPropInt(PR_VALUE, 20);
  const std::vector<uint8_t> current = record(*g);
  scene.FreeObject(g);
  struct Gate {
    int32_t version;
    size_t cut;
    const char* idle;
    int32_t width;
  };
  for (const Gate& gate :
       {Gate{SaveVersion, 0, "*i", 200}, Gate{127, 4, "*i", 10}, Gate{124, 4 + 4 + 2, "", 10}}) {
    std::vector<uint8_t> bytes = current;
    bytes.resize(bytes.size() - gate.cut);
    auto* loaded = load<TZirkGauge>(bytes, gate.version);
    EXPECT_EQ(loaded->GetPropStr(PR_ONIDLE), gate.idle) << gate.version;
    EXPECT_EQ(loaded->Width(), gate.width) << gate.version;
    EXPECT_EQ(loaded->ShownValue(), 20);
    EXPECT_EQ(loaded->LostAmount(), 0);
    EXPECT_EQ(loaded->GetPropInt(PR_PLAYING), 0);
    EXPECT_EQ(loaded->GetPropInt(PR_DURATION), 500);
    scene.FreeObject(loaded);
  }
}

}  // namespace
}  // namespace zirk::test
