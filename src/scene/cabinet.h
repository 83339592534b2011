#pragma once
// A cabinet keeps objects off stage: its descendants are neither ticked nor
// drawn nor hit, and an object entering or leaving one is told so (a video
// pauses and resumes its item).

#include "scene/zcontrol.h"

namespace zirk {

class TZirkCabinet : public TZirkControl {
 public:
  explicit TZirkCabinet(TZirkBaseList& scene);
  int32_t GetKind() const override;
  bool GetVisible() override { return false; }
  void Draw() override {}
  TZirkObject* HitTest(TPoint, TMouseMask) override { return nullptr; }
  void Invalidate() override {}
};

}  // namespace zirk
