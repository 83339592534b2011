#include "objects/button.h"

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {
constexpr int32_t kEnter = 13, kSpace = 32;
}

TZirkButton::TZirkButton(TZirkBaseList& scene) : TZirkImages(scene) {}

TZirkButton::~TZirkButton() {
  SetBackSurface(nullptr);
  SetMaskSurface(nullptr);
}

TZirkMotionBase* TZirkButton::GetMotion() {
  if (state_ >= kHover && state_ <= kClicked)
    return motions_[static_cast<size_t>(state_ - 1)].get();
  return TZirkImages::GetMotion();
}

// --- states -----------------------------------------------------------------------------------

void TZirkButton::switchState(int32_t v, bool force) {
  if (state_ == kClicked && !force) {
    pending_ = v;
    return;
  }
  if (v == state_ || v < kNormal || v > kClicked) return;
  if (v >= kHover && !motions_[static_cast<size_t>(v - 1)] && ImageList(v)->Count() == 0) return;
  state_ = v;
  if (v == kClicked) pending_ = kNormal;
  // The picture starts again from its first frame.
  SetIndex(-1);
  SetIndex(0);
  if (TZirkMotionBase* motion = GetMotion()) motion->Rewind();
  Invalidate();
}

void TZirkButton::setStateSource(int32_t state, const std::string& name) {
  const size_t k = static_cast<size_t>(state - 1);
  if (name == sources_[k]) return;
  sources_[k] = name;
  const bool shown = state_ == state;
  // The motion goes first, so selecting no frame reaches the picture.
  motions_[k].reset();
  if (shown) {
    SetIndex(-1);
    SetBackSurface(nullptr);
    SetMaskSurface(nullptr);
  }
  TZirkImageList* list = ImageList(state);
  list->Clear();
  if (HasExtension(name, ".dor")) {
    list->LoadImageFrames(name, false);
  } else if (HasExtension(name, ".zmt")) {
    if (const TMotionFactory& factory = MotionFactory()) motions_[k] = factory(*this, name);
  }
  if (shown && list->Count() > 0) SetIndex(0);
}

void TZirkButton::setSelected(bool selected) {
  if (selected == selected_) return;
  // Only a button of a group can be selected.
  if (selected && group_ == 0) return;
  selected_ = selected;
  switchState(selected ? kPressed : kNormal);
  if (TZirkObject* parent = GetParent()) parent->UpdateButtonGroup(this, !selected);
}

void TZirkButton::setAllowAllUp(bool allowAllUp) {
  TZirkObject* parent = GetParent();
  if (!parent) return;
  parent->SetGroupAllowAllUp(group_, allowAllUp);
  parent->UpdateButtonGroup(this);
}

void TZirkButton::SetDown(bool down) {
  selected_ = down;
  switchState(down ? kPressed : kNormal);
}

void TZirkButton::click() {
  QueueEvent(PR_ONNOTIFY);
  if (group_ != 0) {
    if (selected_ && !allowAllUp_) return;
    setSelected(!selected_);
    return;
  }
  switchState(kClicked);
  if (state_ != kClicked && GetPropInt(PR_AUTOSCRAP) != 0) press_ = -1;
}

// --- mouse and keys ---------------------------------------------------------------------------

bool TZirkButton::hitsSelf(int32_t x, int32_t y) {
  TZirkBase* screen = GetScreen();
  return screen && screen->HitTest({x, y}, kLeftClickMask) == this;
}

void TZirkButton::MouseMove(int32_t x, int32_t y) {
  if (press_ == 0) {
    if (!paused() && !selected_)
      switchState(kHover);
    else
      switchState(selected_ ? kPressed : kNormal);
    TZirkImages::MouseMove(x, y);
  } else if (press_ == 1) {
    switchState(selected_ || hitsSelf(x, y) ? kPressed : kNormal);
  }
}

void TZirkButton::MouseOut() {
  if (state_ != kClicked) switchState(selected_ ? kPressed : kNormal);
  TZirkImages::MouseOut();
}

void TZirkButton::LButtonDown(int32_t x, int32_t y) {
  const int32_t im = IgnoreMouse();
  if (im != IM_NONE && im != IM_RCLICK) {
    TZirkImages::LButtonDown(x, y);
    return;
  }
  TZirkBase* screen = GetScreen();
  if (!paused() && state_ != kClicked) {
    if (screen) screen->CaptureMouse(this);
    switchState(kPressed);
    press_ = 1;
  }
  if (screen) screen->LeftClickPending = false;
}

void TZirkButton::LButtonUp(int32_t x, int32_t y) {
  if (press_ == 1 && hitsSelf(x, y)) {
    click();
    if (press_ == -1) return;
  }
  press_ = 0;
  if (group_ == 0 && state_ != kClicked) switchState(kNormal);
}

void TZirkButton::KeyRepeat(int32_t vk) {
  if (firstKey(vk, {{kEnter}, {kSpace}}) != 0) click();
  TZirkImages::KeyRepeat(vk);
}

// --- ticking
// --------------------------------------------------------------------------------------

bool TZirkButton::stepFrames() {
  TZirkImageList* list = GetImageList();
  if (Index() < 0 || !list || list->Count() <= Index() || !GetVisible() || paused() ||
      GetPropInt(PR_ANIPAUSED) != 0)
    return false;
  const int32_t from = Index();
  restoreFrame(from, pixelmath::Saturate32(int64_t{DelayCounter()} - Scene().FrameInterval()));
  bool finished = false;
  while (DelayCounter() < 1) {
    if (Index() < list->Count() - 1) {
      stepIndex(Index() + 1);
      continue;
    }
    finished = state_ == kClicked;
    if (GetPropInt(PR_REPEAT) != 0) {
      restoreFrame(Index(), 0);
      stepIndex(0);
    }
    break;
  }
  // The frames stepped through are shown once, as the last of them.
  showStepped(from);
  return finished;
}

bool TZirkButton::Tick() {
  if (press_ == -1) return true;
  // The picture's size follows it; the motion is stepped here alone, so
  // the control's own motion does not move twice in one tick.
  if (GetSizeDirty()) {
    SetSizeDirty(false);
    Invalidate();
    UpdateDisplayWidth();
    UpdateDisplayHeight();
    Invalidate();
  }
  TZirkMotionBase* motion = GetMotion();
  const bool finished = motion ? motion->Step() : stepFrames();
  if (!finished) return false;
  if (GetPropInt(PR_AUTOSCRAP) != 0) return true;
  QueueEvent(PR_ONPLAYEND);
  switchState(pending_, true);
  return false;
}

// --- properties
// -------------------------------------------------------------------------------------

const TPropTable& TZirkButton::Properties() const {
  using P = TPropField<TZirkButton>;
  auto source = [](int32_t state) {
    return [state](TZirkButton& b) -> std::string& {
      return b.sources_[static_cast<size_t>(state - 1)];
    };
  };
  auto setSource = [](int32_t state) {
    return [state](TZirkButton& b, const std::string& name) { b.setStateSource(state, name); };
  };
  static const TPropTable table(
      TZirkImages::Properties(),
      {
          P(PR_HOVERSOURCE, source(kHover)).Set(setSource(kHover)),
          P(PR_PRESSEDSOURCE, source(kPressed)).Set(setSource(kPressed)),
          P(PR_CLICKEDSOURCE, source(kClicked)).Set(setSource(kClicked)),
          P(PR_GROUPINDEX, &TZirkButton::group_).Then([](TZirkButton& b) {
            if (TZirkObject* parent = b.GetParent()) parent->UpdateButtonGroup(&b);
          }),
          P(PR_SELECTED, &TZirkButton::selected_).Set(&TZirkButton::setSelected),
          P(PR_ALLOWALLUP, &TZirkButton::allowAllUp_).Set(&TZirkButton::setAllowAllUp),
          P(PR_REPEAT).Get([](TZirkButton& b) { return b.state_ != kClicked; }),
          P(PR_PAUSED).Set([](TZirkButton& b, const TCustomParam& value) {
            b.TZirkImages::Properties().Set(b, PR_PAUSED, value);
            if (!b.paused()) b.switchState(kNormal);
          }),
          P(PR_ONNOTIFY, &TZirkButton::onNotify_),
          P(PR_ONIDLE, &TZirkButton::onIdle_),
      });
  return table;
}

// --- save record
// ---------------------------------------------------------------------------------------

void TZirkButton::SaveToStream(TKwStream& stream) {
  TZirkImages::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(sources_[0]);
  out.Str(sources_[1]);
  out.Int(group_);
  out.Bool(selected_);
  out.Bool(allowAllUp_);
  out.Str(onNotify_);
  out.Str(onIdle_);
  out.Str(sources_[2]);
}

void TZirkButton::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkImages::LoadFromStream(stream, version);
  const int32_t kept = Index();
  TRecordReader in(stream, version, "saved button record");
  setStateSource(kHover, in.Str());
  setStateSource(kPressed, in.Str());
  group_ = in.Int();
  const bool selected = in.Bool();
  allowAllUp_ = in.Bool();
  onNotify_ = in.Str();
  if (in.Has(104)) {
    onIdle_ = in.Str();
    setStateSource(kClicked, in.Str());
  }
  setSelected(selected);
  press_ = 0;
  SetIndex(kept);
}

void RegisterZirkButton() {
  RegisterKind(LT_BUTTON,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkButton>(scene); });
}

}  // namespace zirk
