#pragma once
// The property motion: moves one numeric property of another scene object
// from its value at the start to a target value over a duration (linear or
// sine easing) and removes itself at the end. Any property id can be moved,
// through the generic property access. The object it moves is held by its
// serial number, so a freed object (or a new one at the same address) is
// never written.

#include <cstdint>
#include <string>

#include "scene/zobject.h"
#include "script/params.h"

namespace zirk {

class TZirkPropMotion : public TZirkComponent {
 public:
  static constexpr int32_t kNoProperty = 255;
  enum TEasing : int32_t { kLinear = 0, kSineIn = 1, kSineOut = 2 };

  using TZirkComponent::TZirkComponent;

  int32_t GetKind() const override { return LT_PROPMOTION; }
  const TPropTable& Properties() const override;

  // What the creating script command gives: the object's name, the PR_ id,
  // the value to reach, the duration in ms and the easing (other values
  // move linearly).
  void Setup(const std::string& targetName, int32_t propId, long double targetValue,
             int32_t duration, int32_t easing);

  // One step on the tick's elapsed time; true when the motion has ended.
  bool Tick() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

  int32_t Elapsed() const { return elapsed_; }

 private:
  // The value at the elapsed time; `last` is set when it is the target.
  long double valueAt(int32_t t, bool& last) const;
  TZirkObject* target() const;

  std::string targetName_;
  uint64_t targetSerial_ = 0;  // 0 until resolved
  int32_t propId_ = kNoProperty;
  long double targetValue_ = 0;
  long double startValue_ = 0;
  int32_t duration_ = 0;
  int32_t easing_ = kLinear;
  int32_t elapsed_ = 0;
  bool paused_ = false;
  TParamFloat value_;
};

void RegisterZirkPropMotion();

}  // namespace zirk
