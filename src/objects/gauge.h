#pragma once
// The gauge (LT_GAUGE): a life or progress bar tiled from an image of two
// cells, the bar and the part being lost. A rise grows the bar toward the
// new value at a fixed speed; a fall drops the bar at once while the lost
// part stays in the second cell, waits, and then shrinks away. It takes no
// input and sizes itself from its image.

#include <cstdint>
#include <string>

#include "objects/dorvcache.h"
#include "scene/zcontrol.h"

namespace zirk {

class TZirkGauge : public TZirkControl {
 public:
  // What the animation is doing.
  enum TPhase : int32_t { kStill = 0, kLosing = 100, kGrowing = 200 };

  explicit TZirkGauge(TZirkBaseList& scene);
  ~TZirkGauge() override;

  int32_t GetKind() const override { return LT_GAUGE; }
  const TPropTable& Properties() const override;

  // PR_VALUE as read: bounded by PR_MIN and PR_MAX.
  int32_t Value() const;
  int32_t ShownValue() const { return shown_; }
  int32_t LostAmount() const { return lost_; }
  int32_t Phase() const { return phase_; }

  bool Tick() override;
  void Draw() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  bool vertical() const { return orientation_ != 0; }
  void setSource(const std::string& name);
  void setValue(int32_t value);
  // The size from the image and the bar size, given to PR_WIDTH/PR_HEIGHT.
  void resize();
  void rangeChanged();
  void finish();
  // A tick's share of the range at the sweep speed; 0 when there is none.
  double sweepStep() const;
  void setShown(int32_t shown);

  std::string source_;
  int32_t min_ = 0, max_ = 0, value_ = 0;
  int32_t alpha_ = 0;
  bool paused_ = false;
  uint8_t orientation_ = 0;
  int32_t sweep_ = 0;  // ms across the whole range
  int32_t hold_ = 0;   // ms the lost part waits
  TDorvLease image_;
  int32_t sizeX_ = 0, sizeY_ = 0;
  int32_t shown_ = 0;
  int32_t lost_ = 0;
  int32_t phase_ = kStill;
  double accumulator_ = 0;
  int32_t holdCountdown_ = 0;
  bool reverse_ = false;
  std::string onIdle_;
  int32_t barSize_ = 0;
};

// Registers LT_GAUGE with the scene's kind factory.
void RegisterZirkGauge();

}  // namespace zirk
