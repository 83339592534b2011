#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace zirk::platform {

namespace {

class SteadyClock : public Clock {
 public:
  uint32_t Milliseconds() override {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<uint32_t>(ms.count());
  }
  void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

SteadyClock gSteadyClock;
std::atomic<Clock*> gClock{&gSteadyClock};

}  // namespace

uint32_t timeGetTime() { return gClock.load()->Milliseconds(); }
void Sleep(uint32_t ms) { gClock.load()->Sleep(ms); }
void SetClock(Clock* clock) { gClock.store(clock ? clock : &gSteadyClock); }

uint32_t ManualClock::Milliseconds() { return std::atomic_ref<uint32_t>(now_).load(); }
void ManualClock::Advance(uint32_t ms) { std::atomic_ref<uint32_t>(now_).fetch_add(ms); }

}  // namespace zirk::platform
