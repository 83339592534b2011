#include "scene/input.h"

#include <algorithm>

#include "base/vocab.h"
#include "scene/zbase.h"
#include "scene/zscene.h"

namespace zirk {

namespace {
template <typename F>
void forSubtree(TZirkObject* object, F&& f) {
  f(object);
  for (int32_t i = 0; i < object->GetChildCount(); ++i) forSubtree(object->GetChild(i), f);
}
}  // namespace

// --- menu list ------------------------------------------------------------------

void TZirkList::Add(TZirkObject* object) {
  if (object && std::find(items_.begin(), items_.end(), object) == items_.end()) {
    items_.push_back(object);
  }
}

void TZirkList::Remove(const TZirkObject* object) {
  std::erase(items_, object);
}

// --- what the window hands over ----------------------------------------------------

void TSceneInput::MouseMove(int32_t x, int32_t y) {
  TPoint p{x, y};
  if (p == mouse_ && p == scene_.ActiveBase()->mouse_) return;
  mouse_ = p;
  mouseMoved_ = true;
}

void TSceneInput::MouseDown(TMouseButton button, int32_t x, int32_t y) {
  MouseMove(x, y);
  if (button == TMouseButton::Left) {
    leftDown_ = true;
    leftDownAt_ = {x, y};
  }
  if (button == TMouseButton::Right) {
    rightDown_ = true;
    rightDownAt_ = {x, y};
  }
}

void TSceneInput::MouseUp(TMouseButton button, int32_t x, int32_t y) {
  MouseMove(x, y);
  if (button == TMouseButton::Left) {
    leftUp_ = true;
    leftUpAt_ = {x, y};
  }
}

void TSceneInput::KeyDown(int32_t vk) {
  if (!inRange(vk)) return;
  if (!keyState_[static_cast<size_t>(vk)]) keyTapped_[static_cast<size_t>(vk)] = true;
  keyState_[static_cast<size_t>(vk)] = true;
}

void TSceneInput::KeyUp(int32_t vk) {
  if (inRange(vk)) keyState_[static_cast<size_t>(vk)] = false;
}

// --- focus ---------------------------------------------------------------------------

void TSceneInput::SetFocus(TZirkObject* object) {
  focused_ = object;
  focusPending_ = false;
}

void TSceneInput::SetFocusPending() {
  focused_ = nullptr;
  focusPending_ = true;
}

void TSceneInput::CheckFocusScreen() {
  if (focused_ && focused_->GetScreen() != scene_.ActiveBase()) SetFocusPending();
}

void TSceneInput::ForgetObject(const TZirkObject* object) {
  if (focused_ == object) focused_ = nullptr;
}

void TSceneInput::Reset() {
  focused_ = nullptr;
  focusPending_ = false;
}

bool TSceneInput::focusable(TZirkObject* object) {
  auto* control = dynamic_cast<TZirkControl*>(object);
  return control && control->HandleKey() && !object->IsScrapped() && object->IsShown() &&
         !object->InCabinet() && object->GetPropInt(PR_PAUSED) == 0 &&
         object->GetScreen() == scene_.ActiveBase();
}

void TSceneInput::focusFirstFocusable() {
  focusPending_ = false;
  TZirkBase* screen = scene_.ActiveBase();
  TZirkObject* found = nullptr;
  forSubtree(screen, [&](TZirkObject* o) {
    if (!found && o != screen && focusable(o)) found = o;
  });
  focused_ = found;
}

int32_t TSceneInput::HoverCursor() {
  TZirkBase* screen = scene_.ActiveBase();
  TZirkObject* object = screen->captured_ ? screen->captured_ : screen->hovered_;
  return object ? object->GetHoverCursor() : 0;
}

// --- the step ---------------------------------------------------------------------------

void TSceneInput::Step() {
  updateKeyTables();
  wheelThisTick_ = wheel_;
  wheel_ = 0;
  if (focused_ && !focusable(focused_)) focused_ = nullptr;
  if (focusPending_) focusFirstFocusable();
  deliverKeys();
  mouseStep(*scene_.ActiveBase());
}

void TSceneInput::updateKeyTables() {
  const uint32_t now = scene_.SceneClock();
  ++keyStep_;
  for (size_t vk = 0; vk < 256; ++vk) {
    bool pressed = keyTapped_[vk];
    bool repeated = pressed;
    if (pressed) {
      keyNextRepeat_[vk] = now + KeyRepeatDelay;
    } else if (keyState_[vk] && static_cast<int32_t>(now - keyNextRepeat_[vk]) >= 0) {
      repeated = true;
      keyNextRepeat_[vk] += KeyRepeatInterval;
      // After a stall the repeat resumes from now rather than firing a burst.
      if (static_cast<int32_t>(now - keyNextRepeat_[vk]) >= 0) {
        keyNextRepeat_[vk] = now + KeyRepeatInterval;
      }
    }
    keyPressed_[vk] = pressed;
    keyRepeated_[vk] = repeated;
    keyTapped_[vk] = false;
  }
}

void TSceneInput::deliverKeys() {
  for (int32_t vk = 0; vk < 256 && focused_; ++vk) {
    TZirkObject* target = focused_;
    if (keyPressed_[static_cast<size_t>(vk)]) target->KeyDown(vk);
    // A handler that moved the focus (a menu closing, a control scrapped)
    // ends the delivery: the rest of the keys are not its to have.
    if (focused_ != target) break;
    if (keyRepeated_[static_cast<size_t>(vk)]) target->KeyRepeat(vk);
  }
}

void TSceneInput::mouseStep(TZirkBase& screen) {
  bool moved = mouseMoved_;
  if (moved) screen.mouse_ = mouse_;
  TPoint p = screen.mouse_;
  mouseMoved_ = false;
  if (moved) {
    if (TZirkObject* captured = screen.captured_) {
      captured->MouseMove(p.X, p.Y);
    } else {
      TZirkObject* hit = screen.HitTest(p, kMouseMoveMask);
      if (hit != screen.hovered_) {
        TZirkObject* left = screen.hovered_;
        screen.hovered_ = hit;
        if (left) left->MouseOut();
      }
      if (hit && screen.hovered_ == hit) hit->MouseMove(p.X, p.Y);
    }
  }
  if (leftDown_) {
    leftDown_ = false;
    p = leftDownAt_;
    screen.LeftClickPending = true;
    if (TZirkObject* hit = screen.HitTest(p, kLeftClickMask)) hit->LButtonDown(p.X, p.Y);
  }
  if (leftUp_) {
    leftUp_ = false;
    p = leftUpAt_;
    if (screen.captured_ && screen.captureLeft_) {
      TZirkObject* captured = screen.captured_;
      screen.ReleaseCapture();
      captured->LButtonUp(p.X, p.Y);
    } else if (TZirkObject* hit = screen.HitTest(p, kLeftClickMask)) {
      hit->LButtonUp(p.X, p.Y);
    }
  }
  if (TZirkObject* captured = screen.captured_) captured->CaptureTick();
  if (rightDown_) {
    rightDown_ = false;
    p = rightDownAt_;
    screen.RightClickPending = true;
    if (TZirkObject* hit = screen.HitTest(p, kRightClickMask)) hit->RButtonDown(p.X, p.Y);
    if (screen.RightClickPending) rightClickWalk(screen);
  }
}

void TSceneInput::rightClickWalk(TZirkBase& screen) {
  // A menu closing may change the list: walk a copy and re-check each.
  TZirkList& list = scene_.Menus();
  std::vector<TZirkObject*> menus;
  menus.reserve(static_cast<size_t>(list.Count()));
  for (int32_t i = 0; i < list.Count(); ++i) menus.push_back(list.Items(i));
  for (TZirkObject* m : menus) {
    if (!scene_.Contains(m)) continue;
    int32_t im = m->GetPropInt(PR_IGNOREMOUSE);
    if (m->GetPropInt(PR_RCLICKSCRAP) == 0 || !m->GetVisible() || m->GetScreen() != &screen ||
        m->GetPropInt(PR_PAUSED) != 0 || (im != IM_NONE && im != IM_LCLICK)) {
      continue;
    }
    // One right click closes one menu.
    if (m->RightClickClose()) {
      screen.RightClickPending = false;
      return;
    }
  }
}

}  // namespace zirk
