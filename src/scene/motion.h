#pragma once
// The motion a control can run on itself (a motion file played on the
// control). The scene model only steps it; the film layer supplies the
// implementation through the factory below.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zirk {

class TZirkControl;

class TZirkMotionBase {
 public:
  virtual ~TZirkMotionBase() = default;
  // One tick; true only on the step that reaches the end.
  virtual bool Step() = 0;
  // Time 0, state 2; the next step applies the first frame again.
  virtual void Rewind() = 0;
  virtual int32_t GetLength() = 0;  // film ticks
  virtual uint8_t GetState() = 0;   // 0 playing
  virtual int32_t GetFrameCounter() = 0;
  virtual int32_t GetTime() = 0;  // ms
  virtual void SetTime(int32_t ms) = 0;
  virtual bool Finished() = 0;
  // Applies the current frame again (after surfaces were rebuilt).
  virtual void Reapply() {}
};

// Makes the motion of a control from a motion file; nullptr when it cannot.
using TMotionFactory =
    std::function<std::unique_ptr<TZirkMotionBase>(TZirkControl& target, const std::string& file)>;

// Installed by the film layer at start-up; empty until then.
void SetMotionFactory(TMotionFactory factory);
const TMotionFactory& MotionFactory();

}  // namespace zirk
