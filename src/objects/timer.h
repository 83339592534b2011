#pragma once
// The timer: fires PR_ONNOTIFY every period of the game clock (the idle
// loop's running ms, which stands still while the game is inactive). It
// draws nothing. A late tick does not lose firings: the schedule keeps its
// phase and fires again on the following ticks until it has caught up,
// one event at a time.

#include <cstdint>
#include <string>

#include "scene/zobject.h"

namespace zirk {

class TZirkTimer : public TZirkComponent {
 public:
  using TZirkComponent::TZirkComponent;

  int32_t GetKind() const override { return LT_TIMER; }
  const TPropTable& Properties() const override;

  // Drops this timer's pending events and starts the period from now.
  void Restart();
  bool Tick() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  std::string onNotify_;
  int32_t period_ = 0;  // ms; negative never fires, 0 fires every tick
  bool paused_ = false;
  bool autoScrap_ = false;
  uint32_t lastTime_ = 0;
  bool fired_ = false;
};

void RegisterZirkTimer();

}  // namespace zirk
