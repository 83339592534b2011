#include "scene/cabinet.h"

#include "base/vocab.h"

namespace zirk {

TZirkCabinet::TZirkCabinet(TZirkBaseList& scene) : TZirkControl(scene) {}

int32_t TZirkCabinet::GetKind() const {
  return LT_CABINET;
}

}  // namespace zirk
