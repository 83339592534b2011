#pragma once
// The idle-driven main loop. Every idle event measures the time since the
// previous one on the platform clock (a gap over 3000 ms only resets the
// clock), sets the times the scene reads (the measured ElapsedTime and
// GameClock, the scene clock, the nominal frame interval), and runs one
// tick: input, the event drain, object ticks, painting on every n-th tick.
// It then answers how long to wait on the message queue for the rest of the
// frame.
//
// The steps are virtual so that the player reaches its game through them and
// a test can watch their order; the defaults act on the given scene.

#include <cstdint>

namespace zirk {

class TZirkBaseList;
class TWorkFiles;
struct TTimerData;

// With the log library bound, writes the line of an event the script step
// runs: "%.8x : <Event>%s(%d)" with the platform clock, the handler's label
// and the event id.
void LogScriptEvent(const TTimerData& event);

class TMainLoop {
 public:
  static constexpr uint32_t kResetGap = 3000;         // ms
  static constexpr uint32_t kFrameRatePeriod = 2000;  // ms
  static constexpr uint32_t kMinimumWait = 2;         // ms
  // The private message that runs one tick directly.
  static constexpr uint32_t kTickMessage = 0x6B0;

  explicit TMainLoop(TZirkBaseList* scene = nullptr, TWorkFiles* workFiles = nullptr);
  virtual ~TMainLoop() = default;
  TMainLoop(const TMainLoop&) = delete;
  TMainLoop& operator=(const TMainLoop&) = delete;

  // --- settings ---------------------------------------------------------
  // Paint on every n-th tick (the frame-skip divisor); below 1 counts as 1.
  int32_t PaintDivisor = 1;
  // The frame time the loop waits out, in ms; the scene's frame interval is
  // this nominal time, whatever a tick really took (ElapsedTime).
  double FrameTime = 1000.0 / 60.0;
  // Whether the game asks the loop to wait for the rest of the frame.
  bool WaitForFrame = true;
  // Ticks still to be skipped: each idle event counts one down instead.
  int32_t SkipCount = 0;

  // One idle event. Returns the ms to wait on the message queue before the
  // next one (0: go on at once).
  uint32_t Idle();
  // One tick without the timing steps (the private tick message).
  void Tick();
  // Forgets the time since the last idle event, so time spent inactive
  // counts nowhere.
  void ResetClock();

  // Ticks run from idle events (the 3000 ms resets are no ticks).
  uint64_t TickCount() const { return ticks_; }
  uint64_t PaintCount() const { return paints_; }
  // Paints per second over the last full 2000 ms period; 0 before one ends.
  double FrameRate() const { return frameRate_; }

 protected:
  // The steps, in the order a tick runs them.
  virtual bool HasProject();
  virtual void SetTimes(uint32_t elapsed, uint32_t now);
  virtual void AgeWorkFiles(uint32_t elapsed);
  virtual void InputStep();
  virtual void RunScript();
  virtual bool Closing() { return false; }
  virtual void TickObjects();
  // A game load or save a script asked for; true when a load ran, which
  // skips this tick's paint.
  virtual bool RunLoadSave() { return false; }
  virtual void Paint();

  TZirkBaseList* scene() const { return scene_; }

 private:
  // The nominal ms of the coming tick.
  uint32_t nominalInterval();

  TZirkBaseList* scene_;
  TWorkFiles* workFiles_;
  bool clockStarted_ = false;
  uint32_t last_ = 0;
  uint32_t rateStart_ = 0;
  uint64_t ratePaints_ = 0;
  uint64_t ticks_ = 0;
  uint64_t paintTicks_ = 0;
  uint64_t paints_ = 0;
  double frameRate_ = 0;
  double nominalCarry_ = 0;
};

}  // namespace zirk
