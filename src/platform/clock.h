#pragma once
// Millisecond clock of the main loop and the players. Time is an input: a
// test installs a manual clock and advances it instead of sleeping.

#include <cstdint>

namespace zirk::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t Milliseconds() = 0;  // wraps after 49.7 days, as timeGetTime
  virtual void Sleep(uint32_t ms) = 0;
};

// Monotonic milliseconds of the current clock.
uint32_t timeGetTime();
void Sleep(uint32_t ms);

// Installs a clock for the whole process (nullptr restores the real one).
// The caller keeps ownership and removes it before destroying it.
void SetClock(Clock* clock);

// A clock that moves only when told; Sleep advances it.
class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t start = 0) : now_(start) {}
  uint32_t Milliseconds() override;
  void Sleep(uint32_t ms) override { Advance(ms); }
  void Advance(uint32_t ms);

 private:
  uint32_t now_;  // accessed atomically
};

// A manual clock that is the process clock while it exists.
class ScopedManualClock : public ManualClock {
 public:
  explicit ScopedManualClock(uint32_t start = 0) : ManualClock(start) { SetClock(this); }
  ~ScopedManualClock() override { SetClock(nullptr); }
  ScopedManualClock(const ScopedManualClock&) = delete;
  ScopedManualClock& operator=(const ScopedManualClock&) = delete;
};

}  // namespace zirk::platform
