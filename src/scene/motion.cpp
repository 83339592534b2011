#include "scene/motion.h"

namespace zirk {

namespace {
TMotionFactory& factorySlot() {
  static TMotionFactory factory;
  return factory;
}
}  // namespace

void SetMotionFactory(TMotionFactory factory) {
  factorySlot() = std::move(factory);
}
const TMotionFactory& MotionFactory() {
  return factorySlot();
}

}  // namespace zirk
