#include "objects/motion.h"

#include <algorithm>
#include <cmath>

#include "base/vocab.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"

namespace zirk {

TZirkMotion::TZirkMotion(TZirkControl& target) : target_(&target) {
  film_.MotionMode = true;
  film_.Owner = &target.Scene();
  SetTarget(target);
}

TZirkMotion::~TZirkMotion() = default;

void TZirkMotion::SetTarget(TZirkControl& target) {
  target_ = &target;
  film_.MotionTarget = &target;
}

void TZirkMotion::LoadMotion(const std::string& fileName) {
  film_.LoadFilm(fileName);
  Rewind();
}

void TZirkMotion::takeBase() {
  lastPosition_ = {target_->Left(), target_->Top()};
  film_.BasePoint = film_.Relative ? lastPosition_ : TPoint{};
  film_.BasePriority = target_->GetPriority();
}

void TZirkMotion::Rewind() {
  time_ = 0;
  frame_ = 0;
  state_ = kRewound;
  finished_ = false;
  takeBase();
}

bool TZirkMotion::Step() {
  TPoint position{target_->Left(), target_->Top()};
  bool moved = position != lastPosition_;
  lastPosition_ = position;
  if (moved && film_.Relative) film_.BasePoint = position;
  if (state_ == kEnded) {
    if (moved) film_.SetFilmTime(frame_);
    return false;
  }
  // The first step after a load or rewind shows time 0; later ones move on.
  bool fresh = state_ == kRewound;
  state_ = kPlaying;
  if (!fresh && target_->GetPropInt(PR_ANIPAUSED) == 0)
    time_ = static_cast<int32_t>(
        std::min<int64_t>(int64_t(time_) + target_->Scene().FrameInterval(), INT32_MAX));
  int32_t t = MsToFilmTicks(time_);
  int32_t length = film_.GetLength();
  bool reachedEnd = false;
  if (length <= 0) {
    t = 0;
    reachedEnd = true;
  } else if (t >= length) {
    if (target_->GetPropInt(PR_REPEAT) != 0) {
      t = static_cast<int32_t>(
          std::clamp<int64_t>(int64_t(t % length) + film_.LoopStart, 0, length - 1));
      // The clock goes back with the film, so the next pass starts at the
      // loop start instead of holding the last tick.
      time_ = static_cast<int32_t>(std::nearbyint(t * kFilmTickMs));
    } else {
      t = length - 1;
      reachedEnd = true;
    }
  }
  if (fresh || moved || t != frame_) {
    frame_ = t;
    if (length > 0) film_.SetFilmTime(t);
  }
  if (!reachedEnd) return false;
  state_ = kEnded;
  finished_ = true;
  return true;
}

void TZirkMotion::Reapply() {
  if (film_.GetLength() > 0) film_.SetFilmTime(frame_);
}

void RegisterZirkMotion() {
  SetMotionFactory(
      [](TZirkControl& target, const std::string& file) -> std::unique_ptr<TZirkMotionBase> {
        auto motion = std::make_unique<TZirkMotion>(target);
        try {
          motion->LoadMotion(file);
        } catch (const Exception&) {
          return nullptr;
        }
        return motion;
      });
}

}  // namespace zirk
