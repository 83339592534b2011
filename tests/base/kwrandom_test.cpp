#include "base/kwrandom.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace zirk {
namespace {

std::vector<int32_t> drawAll(uint32_t increment, int32_t n) {
  TKwRandom r(increment);
  r.KwRandomDeal(n);
  std::vector<int32_t> out;
  for (int32_t i = 0; i < n; ++i) out.push_back(r.KwRandomDraw());
  return out;
}

TEST(KwRandom, KnownSequences) {
  struct Case {
    uint32_t increment;
    int32_t n;
    std::vector<int32_t> expect;
  };
  const Case cases[] = {
      {0, 6, {0, 1, 2, 3, 4, 5}},
      {1, 4, {1, 0, 3, 2}},
      // x = 3, 18, 93, 468: indices 3 mod 5, 18 mod 4, 93 mod 3, 468 mod 2, 0
      {3, 5, {3, 2, 0, 1, 4}},
      // 5x + c wraps at 32 bits: x = 0xFFFFFFFF (index 0 of 3), 0xFFFFFFFA (0 of 2)
      {0xFFFFFFFFu, 3, {0, 1, 2}},
      // without the 32-bit wrap-around this would be 4, 2, 0, 1, 3
      {0x9E3779B9u, 5, {4, 2, 3, 0, 1}},
  };
  for (const Case& c : cases) EXPECT_EQ(drawAll(c.increment, c.n), c.expect) << c.increment;
}

TEST(KwRandom, EveryDrawIsAPermutation) {
  for (uint32_t inc : {7u, 0x12345678u, 0x9E3779B9u}) {
    std::vector<int32_t> d = drawAll(inc, 1000);
    std::sort(d.begin(), d.end());
    for (int32_t i = 0; i < 1000; ++i) ASSERT_EQ(d[static_cast<size_t>(i)], i) << inc;
  }
}

TEST(KwRandom, DealRestartsTheDeckButNotTheState) {
  TKwRandom r(1);
  r.KwRandomDeal(4);
  EXPECT_EQ(r.KwRandomDraw(), 1);  // x = 1
  r.KwRandomDeal(4);
  EXPECT_EQ(r.DeckCount(), 4);
  EXPECT_EQ(r.KwRandomDraw(), 2);  // x = 6, 6 mod 4
  r.KwRandomDeal(0);
  EXPECT_EQ(r.KwRandomDraw(), -1);
  r.KwRandomDeal(-5);
  EXPECT_EQ(r.DeckCount(), 0);
  r.KwRandomDeal(1);
  EXPECT_EQ(r.KwRandomDraw(), 0);
}

}  // namespace
}  // namespace zirk
