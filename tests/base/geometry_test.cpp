#include "base/geometry.h"

#include <gtest/gtest.h>

#include <limits>

#include "base/lists.h"
#include "base/utils.h"

namespace zirk {
namespace {

TEST(Geometry, OverlapNeedsACommonInteriorPoint) {
  const TRect clip = Rect(0, 0, 100, 50);
  const std::pair<TRect, bool> cases[] = {
      {Rect(10, 10, 20, 20), true},    // inside
      {Rect(-10, -10, 1, 1), true},    // one shared pixel
      {Rect(100, 0, 120, 50), false},  // touches the right edge only
      {Rect(0, 50, 100, 60), false},   // touches the bottom edge only
      {Rect(-5, -5, 0, 0), false},     // touches the corner
      {Rect(20, 20, 20, 30), false},   // empty (no width)
      {Rect(30, 30, 10, 10), false},   // inverted
      {Rect(-1000, -1000, 1000, 1000), true},
  };
  for (const auto& [r, expect] : cases) {
    EXPECT_EQ(RectsOverlap(clip, r), expect) << r.Left << "," << r.Top;
    EXPECT_EQ(RectsOverlap(r, clip), expect);
    TRect common;
    EXPECT_EQ(IntersectRect(common, clip, r), expect);
    if (!expect) {
      EXPECT_EQ(common, TRect{});
    }
  }
  TRect common;
  IntersectRect(common, clip, Rect(90, -5, 130, 10));
  EXPECT_EQ(common, Rect(90, 0, 100, 10));
}

TEST(Geometry, UnionOffsetAndSaturation) {
  EXPECT_EQ(UnionRect(Rect(0, 0, 10, 10), Rect(5, -5, 20, 3)), Rect(0, -5, 20, 10));
  EXPECT_EQ(UnionRect(Rect(3, 3, 3, 9), Rect(1, 1, 2, 2)), Rect(1, 1, 2, 2));
  EXPECT_EQ(OffsetRect(Rect(1, 2, 3, 4), 10, -10), Rect(11, -8, 13, -6));
  EXPECT_EQ(Bounds(5, 6, 10, 20), Rect(5, 6, 15, 26));
  EXPECT_TRUE(Rect(0, 0, 2, 2).Contains({1, 1}));
  EXPECT_FALSE(Rect(0, 0, 2, 2).Contains({2, 1}));

  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  TRect huge = Rect(kMin, kMin, kMax, kMax);
  EXPECT_EQ(huge.Width(), kMax);
  EXPECT_EQ(Bounds(kMax - 1, 0, 100, 1).Right, kMax);
  EXPECT_EQ(OffsetRect(Rect(kMax - 5, 0, kMax, 1), 10, 0).Left, kMax);
}

TEST(Utils, ScaleColorScalesEachChannel) {
  const struct {
    int32_t color, factor, expect;
  } cases[] = {
      {0x00FFFFFF, 256, 0x00FFFFFF},  // alpha 512: unchanged
      {0x00FFFFFF, 0, 0},
      {0x00FF8040, 128, 0x007F4020},
      {0x00FFFFFF, 44, 0x002B2B2B},  // alpha 300: 255 x 44 / 256 = 43
      {0x00112233, 255, 0x00102132},
      {static_cast<int32_t>(0xFF102030), 256, 0x00102030},  // the top byte is not a channel
      {0x00FFFFFF, 1000, 0x00FFFFFF},                       // held to 256
      {0x00FFFFFF, -3, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ScaleColor(c.color, c.factor), c.expect) << c.factor;
}

struct Counted {
  explicit Counted(int* live) : live(live) { ++*live; }
  ~Counted() { --*live; }
  int* live;
};

class CountingList : public TObjList<Counted> {
 public:
  void Clear() override {
    ++clears;
    TObjList<Counted>::Clear();
  }
  int clears = 0;
};

TEST(Lists, ObjListOwnsItsItems) {
  int live = 0;
  {
    CountingList list;
    Counted* a = list.Add(std::make_unique<Counted>(&live));
    Counted* b = list.Add(std::make_unique<Counted>(&live));
    Counted* c = list.Insert(0, std::make_unique<Counted>(&live));
    EXPECT_EQ(live, 3);
    EXPECT_EQ(list.IndexOf(c), 0);
    EXPECT_EQ(list.Remove(a), 1);
    EXPECT_EQ(live, 2);
    std::unique_ptr<Counted> kept = list.Extract(b);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(live, 2);
    EXPECT_EQ(list.Items(5), nullptr);
    TObjList<Counted>& base = list;
    base.Clear();  // the override runs through the base
    EXPECT_EQ(list.clears, 1);
    EXPECT_EQ(live, 1);
    list.Add(std::make_unique<Counted>(&live));
  }
  EXPECT_EQ(live, 0);
}

}  // namespace
}  // namespace zirk
