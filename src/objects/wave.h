#pragma once
// The wave (LT_WAVE): a container whose children ripple sideways. It draws
// nothing itself; its children draw through a distortion surface that
// shifts every line of the screen by PR_AMP x sin(2 pi (phase / 256 +
// line / PR_WAVELEN)), the phase moving 256 units per PR_DELAY ms.

#include <cstdint>
#include <string>

#include "scene/zcontrol.h"
#include "surfaces/wave.h"

namespace zirk {

class TZirkWave : public TZirkControl {
 public:
  // Most lines with an offset of their own; lines below stay straight.
  static constexpr int32_t kMaxLines = 1 << 15;

  explicit TZirkWave(TZirkBaseList& scene);
  ~TZirkWave() override;

  int32_t GetKind() const override { return LT_WAVE; }
  const TPropTable& Properties() const override;

  int32_t Amplitude() const { return amplitude_; }
  int32_t WaveLength() const { return waveLength_; }
  int32_t Period() const { return period_; }
  int32_t Phase() const { return phase_; }
  int32_t TimeRemainder() const { return remainder_; }
  const TDIBXWave& Distortion() const { return wave_; }

  // The distortion surface while the amplitude is not 0, else the screen's.
  TCustomDIBX* GetDrawSurface() override;
  bool Tick() override;
  // The wave's rectangle, widened by the largest shift its lines had or
  // have, so nothing a child drew shifted is left behind.
  void Invalidate() override;
  void ChildInvalidated(TRect& r) override;
  void Draw() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  // The distortion surface follows the wave's place and size.
  void followGeometry();
  int32_t reach() const;

  TDIBXWave wave_;
  int32_t amplitude_ = 10;
  int32_t waveLength_ = 200;
  int32_t phase_ = 0;
  int32_t remainder_ = 0;
  int32_t period_ = 2000;
  // The largest shift drawn since the last invalidation.
  int32_t drawnReach_ = 0;
  std::string onIdle_;
  bool paused_ = false;
};

// Registers LT_WAVE with the scene's kind factory.
void RegisterZirkWave();

}  // namespace zirk
