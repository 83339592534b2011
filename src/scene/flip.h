#pragma once
// A running screen transition: the effect object and the picture it blends
// from the active screen to the other one, which becomes active when the
// transition ends. Its clock is kept in ms so frames of any interval move
// it; the effect sees whole film ticks.

#include <cstdint>
#include <functional>
#include <memory>

namespace zirk {

class TCustomWipe;
class TCustomDIBX;

// Transitions that need more than the cross-fade (the mask transition of
// the picture layer) come from this factory when one is installed.
using TSceneWipeFactory = std::function<std::unique_ptr<TCustomWipe>(int32_t kind)>;
void SetWipeFactory(TSceneWipeFactory factory);

class TSceneTransition {
 public:
  // Film ticks are 1/60 s.
  static double TicksToMs(int32_t ticks) { return ticks * (1000.0 / 60.0); }

  TSceneTransition(std::unique_ptr<TCustomWipe> wipe, int32_t wipeId, int32_t width,
                   int32_t height);
  ~TSceneTransition();

  TCustomWipe* Wipe() const { return wipe_.get(); }
  int32_t WipeId() const { return wipeId_; }
  void SetTicks(int32_t elapsed, int32_t length);
  void AdvanceMs(uint32_t ms);
  bool Done() const;
  // Set when a flip gave the time in this tick, so the frame step skips it.
  bool TimeGiven = false;
  // Set once a caller keeps giving the time (a film): the transition then
  // never moves or ends by itself.
  bool Driven = false;

  // Blends `from` into `to` at the current time into Picture().
  void Render(const TCustomDIBX& from, const TCustomDIBX& to);
  TCustomDIBX& Picture() { return *picture_; }

 private:
  std::unique_ptr<TCustomWipe> wipe_;
  std::unique_ptr<TCustomDIBX> picture_;
  int32_t wipeId_;
  double elapsedMs_ = 0;
};

}  // namespace zirk
