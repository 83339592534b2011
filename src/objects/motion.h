#pragma once
// A control's motion: a motion file played on the control itself. Its
// tracks move the control through its motion offset instead of creating
// objects; the control's tick steps it, and its end is the control's
// play-end event.

#include <cstdint>
#include <memory>
#include <string>

#include "base/geometry.h"
#include "objects/frms.h"
#include "scene/motion.h"

namespace zirk {

class TZirkControl;

class TZirkMotion : public TZirkMotionBase {
 public:
  // State byte values.
  static constexpr uint8_t kPlaying = 0;
  static constexpr uint8_t kEnded = 1;
  static constexpr uint8_t kRewound = 2;

  explicit TZirkMotion(TZirkControl& target);
  ~TZirkMotion() override;

  void SetTarget(TZirkControl& target);
  // Loads the motion file and rewinds.
  void LoadMotion(const std::string& fileName);
  TFilmManager& Film() { return film_; }

  // TZirkMotionBase.
  bool Step() override;
  void Rewind() override;
  int32_t GetLength() override { return film_.GetLength(); }
  uint8_t GetState() override { return state_; }
  int32_t GetFrameCounter() override { return frame_; }
  int32_t GetTime() override { return time_; }
  void SetTime(int32_t ms) override { time_ = ms; }
  bool Finished() override { return finished_; }
  void Reapply() override;

 private:
  // Base point and priority as the film starts again from the target.
  void takeBase();

  TFilmManager film_;
  TZirkControl* target_;
  int32_t time_ = 0;   // ms
  int32_t frame_ = 0;  // film ticks
  uint8_t state_ = kRewound;
  bool finished_ = false;
  TPoint lastPosition_;
};

// Makes the scene's StartMotion play motion files through TZirkMotion. A
// motion file that cannot be read gives the control no motion.
void RegisterZirkMotion();

}  // namespace zirk
