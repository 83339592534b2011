#include "app/mainloop.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/workfiles.h"
#include "media/zirkdll.h"
#include "platform/clock.h"
#include "scene/events.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"

namespace zirk {

TMainLoop::TMainLoop(TZirkBaseList* scene, TWorkFiles* workFiles)
    : scene_(scene), workFiles_(workFiles) {}

void TMainLoop::ResetClock() {
  last_ = platform::timeGetTime();
  clockStarted_ = true;
}

uint32_t TMainLoop::Idle() {
  const uint32_t now = platform::timeGetTime();
  if (!clockStarted_) {
    clockStarted_ = true;
    last_ = now;
    rateStart_ = now;
  }
  const uint32_t elapsed = now - last_;
  last_ = now;
  // A long gap (a stopped debugger, a suspended machine) is no game time.
  if (elapsed > kResetGap) return 0;

  SetTimes(elapsed, now);
  ++ticks_;
  Tick();

  if (now - rateStart_ >= kFrameRatePeriod) {
    frameRate_ = static_cast<double>(paints_ - ratePaints_) * 1000.0 / (now - rateStart_);
    ratePaints_ = paints_;
    rateStart_ = now;
  }
  if (!WaitForFrame) return 0;
  const uint32_t spent = platform::timeGetTime() - now;
  const double rest = FrameTime - spent;
  return std::max<uint32_t>(kMinimumWait, rest > 0 ? static_cast<uint32_t>(std::lround(rest)) : 0);
}

void TMainLoop::Tick() {
  if (!HasProject()) return;
  if (SkipCount > 0) {
    --SkipCount;
    return;
  }
  AgeWorkFiles(ElapsedTime());
  InputStep();
  RunScript();
  if (Closing()) return;
  TickObjects();
  const bool loaded = RunLoadSave();
  ++paintTicks_;
  if (loaded) return;
  if (paintTicks_ % static_cast<uint64_t>(std::max(PaintDivisor, 1)) == 0) {
    Paint();
    ++paints_;
  }
}

bool TMainLoop::HasProject() {
  return CurrentProject() != nullptr;
}

uint32_t TMainLoop::nominalInterval() {
  // Whole ms per tick whose sum keeps to the frame time: at 60 frames a
  // second the ticks take 17, 16, 17 ms, 1000 ms in every 60.
  nominalCarry_ += std::max(FrameTime, 0.0);
  const double whole = std::nearbyint(nominalCarry_);
  nominalCarry_ -= whole;
  return static_cast<uint32_t>(whole);
}

void TMainLoop::SetTimes(uint32_t elapsed, uint32_t now) {
  TGameTime& time = GameTime();
  time.ElapsedTime = elapsed;
  time.GameClock += elapsed;
  const uint32_t nominal = nominalInterval();
  if (scene_) {
    scene_->SetSceneClock(now);
    scene_->SetFrameInterval(nominal);
  }
}

void TMainLoop::AgeWorkFiles(uint32_t elapsed) {
  if (!workFiles_) return;
  workFiles_->Age(elapsed);
  workFiles_->DeleteQueued();
}

void TMainLoop::InputStep() {
  if (scene_) scene_->InputStep();
}

void LogScriptEvent(const TTimerData& event) {
  if (!ZirkLogWrite) return;
  // The time on the platform clock, the handler's label and the event id.
  char head[32], tail[16];
  std::snprintf(head, sizeof head, "%.8x : <Event>", platform::timeGetTime());
  std::snprintf(tail, sizeof tail, "(%d)", event.PropId);
  ZirkLogWrite((head + event.Label + tail).c_str());
}

void TMainLoop::RunScript() {
  // No script engine runs here: the queued events are taken off so that
  // objects waiting for theirs to finish see them done.
  if (scene_) TEventDrain(LogScriptEvent).Run(scene_->Events());
}

void TMainLoop::TickObjects() {
  if (scene_) scene_->TickObjects();
}

void TMainLoop::Paint() {
  if (scene_) scene_->Paint();
}

}  // namespace zirk
