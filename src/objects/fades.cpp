#include "objects/fades.h"

#include "media/mediaman.h"
#include "media/midiman.h"
#include "scene/runtime.h"

namespace zirk {

void TZirkMixer::begin(int32_t startLevel) {
  startLevel_ = startLevel;
  startTime_ = GameClock();
  started_ = true;
}

uint32_t TZirkMixer::elapsed() const {
  return GameClock() - startTime_;
}

bool TZirkMixer::timeUp() const {
  // Compared in 64 bits: a negative duration is done at once, not a wait
  // of four billion milliseconds.
  return static_cast<int64_t>(elapsed()) >= static_cast<int64_t>(duration_);
}

int32_t TZirkMixer::currentLevel() const {
  if (timeUp()) return targetLevel_;
  const int64_t t = elapsed();
  const int64_t span = static_cast<int64_t>(targetLevel_) - startLevel_;
  if (dynamic_cast<TMidiItem*>(item_) != nullptr)
    return static_cast<int32_t>(startLevel_ + t * span / duration_);
  const int64_t half = span / 2;
  if (startLevel_ <= targetLevel_)
    return static_cast<int32_t>(startLevel_ + half + t * half / duration_);
  return static_cast<int32_t>(startLevel_ + t * half / duration_);
}

void TZirkMixerFadein::start() {
  item_->SetVol(-10000);
  item_->Play();
  begin(-10000);
}

bool TZirkMixerFadein::Step() {
  if (!started()) {
    start();
    return false;
  }
  const bool done = timeUp();
  item_->SetVol(done ? targetLevel_ : currentLevel());
  return done;
}

void TZirkMixerFadeout::start() {
  targetLevel_ = -10000;
  begin(item_->GetVol());
}

bool TZirkMixerFadeout::Step() {
  if (!started()) {
    start();
    return false;
  }
  const bool done = timeUp();
  if (!done) item_->SetVol(currentLevel());
  return done;
}

}  // namespace zirk
