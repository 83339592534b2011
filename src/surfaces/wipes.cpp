#include "surfaces/wipes.h"

#include "base/vocab.h"

namespace zirk {

void TCustomWipe::SetParam(int32_t index, int32_t value) {
  if (index == 0 || index == 1) params_[index] = value;
}

int32_t TCustomWipe::GetParam(int32_t index) const {
  return (index == 0 || index == 1) ? params_[index] : 0;
}

void TCrossFadeWipe::Compose(TCustomDIBX& dest, const TCustomDIBX& oldScreen,
                             const TCustomDIBX& newScreen) {
  const int32_t level = Level();
  if (level >= 255) {
    if (&dest != &newScreen) dest.CopyFrom(newScreen);
    return;
  }
  if (&dest == &newScreen) {
    // Blending in place over the new screen: the old one fades out.
    dest.DrawAlpha(0, 0, oldScreen, oldScreen.GetBoundsRect(), false, false, false, 255 - level);
    return;
  }
  if (&dest != &oldScreen) dest.CopyFrom(oldScreen);
  dest.DrawAlpha(0, 0, newScreen, newScreen.GetBoundsRect(), false, false, false, level);
}

std::unique_ptr<TCustomWipe> CreateWipe(int32_t kind, int32_t lengthTicks, int32_t elapsedTicks,
                                        const TWipeFactory& special) {
  if (kind <= WP_NONE || kind >= kTransitionCount) return nullptr;
  std::unique_ptr<TCustomWipe> wipe;
  if (special) wipe = special(kind);
  if (!wipe) wipe = std::make_unique<TCrossFadeWipe>(kind);
  wipe->SetLength(lengthTicks);
  wipe->SetElapsed(elapsedTicks);
  return wipe;
}

}  // namespace zirk
