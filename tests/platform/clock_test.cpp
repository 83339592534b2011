#include "platform/clock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zirk::platform {
namespace {

// Restores the real clock even when an assertion leaves the test early.
struct ClockGuard {
  explicit ClockGuard(Clock* c) { SetClock(c); }
  ~ClockGuard() { SetClock(nullptr); }
};

TEST(Clock, ManualClockDrivesTheProcessClock) {
  ManualClock manual(1000);
  ClockGuard guard(&manual);
  EXPECT_EQ(timeGetTime(), 1000u);
  Sleep(250);  // advances instead of sleeping
  EXPECT_EQ(timeGetTime(), 1250u);
  manual.Advance(5);
  EXPECT_EQ(timeGetTime(), 1255u);
}

TEST(Clock, ManualClockWrapsLikeTimeGetTime) {
  struct Case {
    uint32_t start, advance, expected;
  } cases[] = {
      {0xFFFFFFF0u, 0x20u, 0x10u},
      {0xFFFFFFFFu, 1u, 0u},
      {0u, 0u, 0u},
  };
  for (auto c : cases) {
    ManualClock clock(c.start);
    clock.Advance(c.advance);
    EXPECT_EQ(clock.Milliseconds(), c.expected) << c.start << " + " << c.advance;
    // Elapsed time computed by unsigned subtraction survives the wrap.
    EXPECT_EQ(clock.Milliseconds() - c.start, c.advance);
  }
}

TEST(Clock, ManualClockAdvancesFromSeveralThreads) {
  ManualClock clock;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) clock.Advance(1);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(clock.Milliseconds(), 40000u);
}

TEST(Clock, RealClockIsBackAfterRemovingTheManualOne) {
  {
    ManualClock manual(7);
    ClockGuard guard(&manual);
    EXPECT_EQ(timeGetTime(), 7u);
  }
  uint32_t before = timeGetTime();
  Sleep(20);
  uint32_t elapsed = timeGetTime() - before;
  EXPECT_GE(elapsed, 20u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace zirk::platform
