#include "objects/propmotion.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/props.h"

namespace zirk {

namespace {

bool validPropId(int32_t id) {
  return id >= 0 && id < kPropertyCount;
}

}  // namespace

const TPropTable& TZirkPropMotion::Properties() const {
  using P = TPropField<TZirkPropMotion>;
  static const TPropTable table(TZirkComponent::Properties(),
                                {
                                    P(PR_PAUSED, &TZirkPropMotion::paused_),
                                });
  return table;
}

void TZirkPropMotion::Setup(const std::string& targetName, int32_t propId, long double targetValue,
                            int32_t duration, int32_t easing) {
  targetName_ = targetName;
  targetSerial_ = 0;
  propId_ = validPropId(propId) ? propId : kNoProperty;
  targetValue_ = targetValue;
  duration_ = duration;
  easing_ = easing;
  elapsed_ = 0;
}

TZirkObject* TZirkPropMotion::target() const {
  TZirkObject* object = Scene().FindBySerial(targetSerial_);
  return object && Scene().Contains(object) ? object : nullptr;
}

long double TZirkPropMotion::valueAt(int32_t t, bool& last) const {
  last = false;
  if (t == 0 && duration_ > 1) return startValue_;
  const long double d = duration_;
  if (t >= int64_t{duration_} - 1) {
    last = true;
    return targetValue_;
  }
  const long double delta = targetValue_ - startValue_;
  constexpr long double kQuarter = std::numbers::pi_v<long double> / 2;
  switch (easing_) {
    case kSineIn:
      return targetValue_ - std::sin((d - t - 1) * kQuarter / d) * delta;
    case kSineOut:
      return startValue_ + std::sin(t * kQuarter / d) * delta;
    default:
      return startValue_ + delta * t / d;
  }
}

bool TZirkPropMotion::Tick() {
  if (paused_) return false;
  TZirkObject* object = nullptr;
  try {
    if (targetSerial_ != 0) {
      object = target();
      if (!object) return true;
    } else {
      object = Scene().FindComponentByName(targetName_);
      if (!object || !validPropId(propId_)) return true;
      TParamFloat start;
      GetObjectProp(start, *object, propId_);
      startValue_ = start.AsFloat();
      targetSerial_ = object->Serial();
    }
    bool last = false;
    value_.SetFloat(valueAt(elapsed_, last));
    SetObjectProp(*object, propId_, value_);
    if (last) return true;
  } catch (const std::exception&) {
    // A property the object refuses (read-only, out of range) cannot move;
    // the motion ends instead of failing every tick of the scene.
    return true;
  }
  elapsed_ = static_cast<int32_t>(std::min<int64_t>(int64_t{elapsed_} + ElapsedTime(), INT32_MAX));
  return false;
}

void TZirkPropMotion::SaveToStream(TKwStream& stream) {
  TZirkComponent::SaveToStream(stream);
  TRecordWriter out(stream);
  // A motion not started yet keeps the name it was given, so it still finds
  // its object after a load.
  std::string name = targetName_;
  if (targetSerial_ != 0) {
    TZirkObject* object = target();
    name = object ? object->GetName() : std::string();
  }
  out.Str(name);
  out.Int(propId_);
  uint8_t bytes[10];
  EncodeExtended(targetValue_, bytes);
  out.Bytes(bytes, 10);
  out.Int(duration_);
  out.Int(easing_);
  EncodeExtended(startValue_, bytes);
  out.Bytes(bytes, 10);
  out.Int(elapsed_);
  out.Bool(paused_);
}

void TZirkPropMotion::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkComponent::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved property motion record");
  targetName_ = in.Str();
  targetSerial_ = 0;
  // An id the record cannot hold ends the motion at its first tick instead
  // of moving whatever property its low byte would name.
  const int32_t id = in.Int();
  propId_ = validPropId(id) ? id : kNoProperty;
  targetValue_ = DecodeExtended(in.Bytes(10).data());
  duration_ = in.Int();
  easing_ = in.Int();
  startValue_ = DecodeExtended(in.Bytes(10).data());
  elapsed_ = std::max(in.Int(), 0);
  paused_ = in.From(126, false);
}

void RegisterZirkPropMotion() {
  RegisterKind(LT_PROPMOTION,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkPropMotion>(scene); });
}

}  // namespace zirk
