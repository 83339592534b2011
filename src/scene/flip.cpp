#include "scene/flip.h"

#include <cmath>

#include "scene/runtime.h"
#include "scene/zscene.h"
#include "surfaces/dibx.h"
#include "surfaces/screenman.h"
#include "surfaces/wipes.h"

namespace zirk {

namespace {
TSceneWipeFactory& wipeFactory() {
  static TSceneWipeFactory factory;
  return factory;
}
}  // namespace

void SetWipeFactory(TSceneWipeFactory factory) {
  wipeFactory() = std::move(factory);
}

TSceneTransition::TSceneTransition(std::unique_ptr<TCustomWipe> wipe, int32_t wipeId, int32_t width,
                                   int32_t height)
    : wipe_(std::move(wipe)),
      picture_(std::make_unique<TDIBX>(width, height, ScreenSurfaceDepth())),
      wipeId_(wipeId) {
  elapsedMs_ = TicksToMs(wipe_->Elapsed());
}

TSceneTransition::~TSceneTransition() = default;

void TSceneTransition::SetTicks(int32_t elapsed, int32_t length) {
  wipe_->SetLength(length);
  wipe_->SetElapsed(elapsed);
  elapsedMs_ = TicksToMs(wipe_->Elapsed());
}

void TSceneTransition::AdvanceMs(uint32_t ms) {
  elapsedMs_ += ms;
  double ticks = std::nearbyint(elapsedMs_ / (1000.0 / 60.0));
  wipe_->SetElapsed(ticks >= wipe_->Length() ? wipe_->Length() : static_cast<int32_t>(ticks));
}

bool TSceneTransition::Done() const {
  return wipe_->Finished();
}

void TSceneTransition::Render(const TCustomDIBX& from, const TCustomDIBX& to) {
  wipe_->Compose(*picture_, from, to);
}

TCustomWipe* TZirkBaseList::CurrentWipe() const {
  return transition_ ? transition_->Wipe() : nullptr;
}

TCustomWipe* TZirkBaseList::FlipScreensWithWipe(int32_t index, int32_t wipeId, uint8_t flag,
                                                bool restart, int32_t elapsed, int32_t length) {
  index = index == 1 ? 1 : 0;
  FlipFlag = flag;
  bool sameScreen = index == ActiveIndex;
  bool sameWipe = wipeId == 0 ? !transition_ : (transition_ && transition_->WipeId() == wipeId);
  if (sameScreen && sameWipe && !restart) {
    // Films call this every tick: only the transition's clock moves, and
    // nothing new is handed back to be prepared again.
    if (transition_) {
      transition_->SetTicks(elapsed, length);
      transition_->TimeGiven = true;
      transition_->Driven = true;
    }
    return nullptr;
  }
  ActiveIndex = index;
  RedrawAll();
  transition_.reset();
  TCustomWipe* created = nullptr;
  if (wipeId != 0) {
    std::unique_ptr<TCustomWipe> wipe = CreateWipe(wipeId, length, elapsed, wipeFactory());
    if (wipe) {
      wipe->SetFlag(flag);
      transition_ = std::make_unique<TSceneTransition>(std::move(wipe), wipeId, width_, height_);
      transition_->TimeGiven = true;
      created = transition_->Wipe();
    }
  }
  // The focus stays only on a control of the screen now shown.
  input_.CheckFocusScreen();
  return created;
}

void TZirkBaseList::advanceWipe() {
  if (!transition_) return;
  bool given = transition_->TimeGiven;
  transition_->TimeGiven = false;
  if (transition_->Driven || given) return;
  // A transition is an effect on screen: it runs on the measured time.
  transition_->AdvanceMs(ElapsedTime());
  if (!transition_->Done()) return;
  // The transition has shown all of the other screen: that one is now active.
  transition_.reset();
  ActiveIndex = 1 - ActiveIndex;
  presentAll_ = true;
  input_.CheckFocusScreen();
}

void TZirkBaseList::renderWipe() {
  if (!transition_) return;
  transition_->Render(*ActiveBase()->BackSurface(), *GetBase(1 - ActiveIndex)->BackSurface());
}

}  // namespace zirk
