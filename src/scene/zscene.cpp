#include "scene/zscene.h"

#include <algorithm>

#include "base/sjis.h"
#include "base/vocab.h"
#include "scene/factory.h"
#include "scene/flip.h"
#include "scene/proptable.h"
#include "script/imagecache.h"
#include "surfaces/dibx.h"

namespace zirk {

namespace {
std::function<void(bool)>& mediaHook() {
  static std::function<void(bool)> hook;
  return hook;
}

template <typename F>
void forSubtree(TZirkObject* object, F&& f) {
  f(object);
  for (int32_t i = 0; i < object->GetChildCount(); ++i) forSubtree(object->GetChild(i), f);
}
}  // namespace

void SetMediaEnabledHook(std::function<void(bool)> hook) {
  mediaHook() = std::move(hook);
}

// --- menu list ------------------------------------------------------------------

void TZirkList::Add(TZirkObject* object) {
  if (object && std::find(items_.begin(), items_.end(), object) == items_.end()) {
    items_.push_back(object);
  }
}

void TZirkList::Remove(const TZirkObject* object) {
  std::erase(items_, object);
}

// --- construction -------------------------------------------------------------------

TZirkBaseList::TZirkBaseList(int32_t width, int32_t height) : width_(width), height_(height) {
  for (int32_t i = 0; i < 2; ++i) {
    bases_[static_cast<size_t>(i)] = std::make_unique<TZirkBase>(*this, i);
    registerName(bases_[static_cast<size_t>(i)].get(), "BASE" + std::to_string(i));
    bases_[static_cast<size_t>(i)]->Invalidate();
  }
}

TZirkBaseList::~TZirkBaseList() {
  transition_.reset();
  ClearObjects();
  for (auto& base : bases_) base.reset();
}

std::string TZirkBaseList::nameKey(const std::string& name) {
  return SjisFoldCase(name);
}

TZirkBase* TZirkBaseList::GetBase(int32_t index) const {
  return index >= 0 && index < 2 ? bases_[static_cast<size_t>(index)].get() : nullptr;
}

// --- names ----------------------------------------------------------------------------

void TZirkBaseList::registerName(TZirkObject* object, const std::string& name) {
  if (name.empty()) {
    unregisterName(object);
    return;
  }
  std::string key = nameKey(name);
  auto it = names_.find(key);
  if (it != names_.end() && it->second != object) {
    throw EZirkObjectError("オブジェクト名が重複しています: " + name);
  }
  unregisterName(object);
  object->name_ = name;
  names_[key] = object;
}

void TZirkBaseList::unregisterName(TZirkObject* object) {
  if (!object->name_.empty()) {
    auto it = names_.find(nameKey(object->name_));
    if (it != names_.end() && it->second == object) names_.erase(it);
  }
  object->name_.clear();
}

TZirkObject* TZirkBaseList::FindComponentByName(const std::string& name) const {
  if (name.empty()) return nullptr;
  auto it = names_.find(nameKey(name));
  return it == names_.end() ? nullptr : it->second;
}

std::string TZirkBaseList::MakeUniqueName(const std::string& prefix) const {
  for (int64_t n = 0;; ++n) {
    std::string name = prefix + std::to_string(n);
    if (!FindComponentByName(name)) return name;
  }
}

bool TZirkBaseList::Contains(const TZirkObject* object) const {
  return object && std::find(objects_.begin(), objects_.end(), object) != objects_.end();
}

TZirkObject* TZirkBaseList::FindBySerial(uint64_t serial) const {
  for (TZirkObject* o : objects_) {
    if (o->Serial() == serial) return o;
  }
  return nullptr;
}

// --- object life cycle ----------------------------------------------------------------

void TZirkBaseList::adopt(std::unique_ptr<TZirkObject> object, TZirkObject* parent,
                          const std::string& name) {
  if (!parent) parent = ActiveBase();
  if (&parent->Scene() != this || parent->IsScrapped()) {
    throw EZirkObjectError("parent object belongs to another scene");
  }
  std::string finalName = name.empty() ? MakeUniqueName("object") : name;
  if (FindComponentByName(finalName)) {
    throw EZirkObjectError("オブジェクト名が重複しています: " + finalName);
  }
  TZirkObject* raw = object.get();
  raw->parent_ = parent;
  parent->children_.push_back(std::move(object));
  parent->SortChildren();
  forSubtree(raw, [&](TZirkObject* o) { addToTickList(o); });
  registerName(raw, finalName);
  raw->Invalidate();
  raw->AfterCreate();
}

TZirkObject* TZirkBaseList::Adopt(std::unique_ptr<TZirkObject> object, TZirkObject* parent,
                                  const std::string& name) {
  TZirkObject* raw = object.get();
  if (!raw) return nullptr;
  if (&raw->Scene() != this) throw EZirkObjectError("object belongs to another scene");
  adopt(std::move(object), parent, name);
  return raw;
}

TZirkObject* TZirkBaseList::CreateKind(int32_t kind, TZirkObject* parent, const std::string& name) {
  std::unique_ptr<TZirkObject> object = CreateObjectOfKind(kind, *this);
  if (!object) return nullptr;
  return Adopt(std::move(object), parent, name);
}

void TZirkBaseList::addToTickList(TZirkObject* object) {
  if (std::find(objects_.begin(), objects_.end(), object) == objects_.end()) {
    objects_.push_back(object);
  }
}

void TZirkBaseList::removeFromTickList(TZirkObject* object) {
  auto it = std::find(objects_.begin(), objects_.end(), object);
  if (it == objects_.end()) return;
  int32_t index = static_cast<int32_t>(it - objects_.begin());
  objects_.erase(it);
  // Keeps the tick loop on the object that follows the removed one.
  if (index <= TickIndex) --TickIndex;
}

std::unique_ptr<TZirkObject> TZirkBaseList::detach(TZirkObject* object) {
  TZirkObject* parent = object->parent_;
  if (!parent) return nullptr;
  auto& siblings = parent->children_;
  auto it = std::find_if(siblings.begin(), siblings.end(),
                         [&](const auto& p) { return p.get() == object; });
  if (it == siblings.end()) return nullptr;
  std::unique_ptr<TZirkObject> owned = std::move(*it);
  siblings.erase(it);
  object->parent_ = nullptr;
  parent->ChildRemoved(object);
  return owned;
}

void TZirkBaseList::reparent(TZirkObject* object, TZirkObject* parent) {
  std::unique_ptr<TZirkObject> owned = detach(object);
  if (!owned) return;
  object->parent_ = parent;
  parent->children_.push_back(std::move(owned));
}

std::unique_ptr<TZirkObject> TZirkBaseList::takeOut(TZirkObject* object) {
  // Its picture goes while it can still say where it is.
  object->InvalidateTree();
  forSubtree(object, [&](TZirkObject* o) {
    o->scrapped_ = true;
    removeFromTickList(o);
    unregisterName(o);
    if (focused_ == o) focused_ = nullptr;
    menus_.Remove(o);
    for (auto& base : bases_) base->ForgetObject(o);
  });
  return detach(object);
}

void TZirkBaseList::scrap(TZirkObject* object) {
  if (object->scrapped_ || !object->parent_) return;
  std::unique_ptr<TZirkObject> owned = takeOut(object);
  if (owned) deleted_.push_back(std::move(owned));
}

void TZirkBaseList::destroyTree(std::unique_ptr<TZirkObject> object) {
  // Children go first, while their parent is still whole.
  while (!object->children_.empty()) {
    std::unique_ptr<TZirkObject> child = std::move(object->children_.back());
    object->children_.pop_back();
    object->ChildRemoved(child.get());
    destroyTree(std::move(child));
  }
  object.reset();
}

void TZirkBaseList::objectDestroyed(TZirkObject* object) {
  auto it = names_.find(nameKey(object->name_));
  if (!object->name_.empty() && it != names_.end() && it->second == object) names_.erase(it);
  removeFromTickList(object);
  events_.ForgetObject(object);
  if (focused_ == object) focused_ = nullptr;
  menus_.Remove(object);
  for (auto& base : bases_) {
    if (base) base->ForgetObject(object);
  }
}

void TZirkBaseList::FreeObject(TZirkObject* object) {
  if (!object || object->IsScrapped() || !object->parent_ || &object->Scene() != this) return;
  destroyTree(takeOut(object));
}

int32_t TZirkBaseList::IndexOfObject(const TZirkObject* object) const {
  auto it = std::find(objects_.begin(), objects_.end(), object);
  return it == objects_.end() ? -1 : static_cast<int32_t>(it - objects_.begin());
}

void TZirkBaseList::FreeDeleted() {
  // A destructor may scrap further objects; those are freed in this pass too.
  while (!deleted_.empty()) {
    std::unique_ptr<TZirkObject> object = std::move(deleted_.back());
    deleted_.pop_back();
    destroyTree(std::move(object));
  }
}

void TZirkBaseList::ClearObjects() {
  for (auto& base : bases_) {
    if (!base) continue;
    while (base->GetChildCount() > 0) {
      TZirkObject* child = base->GetChild(base->GetChildCount() - 1);
      forSubtree(child, [&](TZirkObject* o) { o->scrapped_ = true; });
      destroyTree(detach(child));
    }
    base->Invalidate();
  }
  FreeDeleted();
  focused_ = nullptr;
  focusPending_ = false;
}

// --- ticking ------------------------------------------------------------------------------

void TZirkBaseList::TickObjects() {
  for (TickIndex = 0; TickIndex < ObjectCount(); ++TickIndex) {
    TZirkObject* object = objects_[static_cast<size_t>(TickIndex)];
    if (object->IsScrapped() || object->InCabinet()) continue;
    if (object->GetPropInt(PR_PAUSED) != 0) continue;
    bool done = object->Tick();
    // The object may have scrapped itself: then it waits on the deleted
    // list, and FreeObject passes it over.
    if (done) FreeObject(object);
  }
  TickIndex = 0;
  FreeDeleted();
  advanceWipe();
}

// --- painting -------------------------------------------------------------------------------

void TZirkBaseList::RedrawAll() {
  for (auto& base : bases_) base->Invalidate();
}

TCustomDIBX* TZirkBaseList::PresentedSurface() {
  if (transition_) return &transition_->Picture();
  return ActiveBase()->BackSurface();
}

void TZirkBaseList::Paint() {
  std::array<std::vector<TRect>, 2> painted;
  for (size_t i = 0; i < 2; ++i) painted[i] = bases_[i]->PaintDirty();
  if (transition_) {
    renderWipe();
    if (presenter_) presenter_(transition_->Picture(), {Rect(0, 0, width_, height_)});
    return;
  }
  if (presentAll_) {
    presentAll_ = false;
    if (presenter_) presenter_(*ActiveBase()->BackSurface(), {Rect(0, 0, width_, height_)});
    return;
  }
  const auto& changed = painted[static_cast<size_t>(std::clamp(ActiveIndex, 0, 1))];
  if (presenter_ && !changed.empty()) presenter_(*ActiveBase()->BackSurface(), changed);
}

void TZirkBaseList::SetWidth(int32_t width) {
  if (width == width_ || width < 0) return;
  width_ = width;
  for (auto& base : bases_) base->Resize(width_, height_);
}

void TZirkBaseList::SetHeight(int32_t height) {
  if (height == height_ || height < 0) return;
  height_ = height;
  for (auto& base : bases_) base->Resize(width_, height_);
}

void TZirkBaseList::SetColor(int32_t color) {
  color_ = color;
  for (auto& base : bases_) base->SetPropInt(PR_COLOR, color);
}

namespace {
const TPropTable& sceneProperties() {
  using P = TPropField<TZirkBaseList>;
  static const TPropTable table({
      P(PR_WIDTH).Get(&TZirkBaseList::Width).Set(&TZirkBaseList::SetWidth),
      P(PR_HEIGHT).Get(&TZirkBaseList::Height).Set(&TZirkBaseList::SetHeight),
      P(PR_COLOR).Get(&TZirkBaseList::Color).Set(&TZirkBaseList::SetColor),
  });
  return table;
}
}  // namespace

void TZirkBaseList::GetProp(int id, TCustomParam& value) {
  sceneProperties().Get(*this, id, value);
}

void TZirkBaseList::SetProp(int id, const TCustomParam& value) {
  sceneProperties().Set(*this, id, value);
}

// --- surfaces and media ----------------------------------------------------------------------

void TZirkBaseList::ReleaseSurfaces() {
  std::vector<TZirkObject*> all = objects_;
  for (TZirkObject* o : all) o->ReleaseSurfaces();
  for (auto& base : bases_) base->releaseSurface();
  if (TImageCacheServices* cache = ImageCache()) cache->ReleaseSurfaces();
}

void TZirkBaseList::RestoreSurfaces() {
  if (TImageCacheServices* cache = ImageCache()) cache->RebuildSurfaces(true);
  for (auto& base : bases_) base->restoreSurface();
  std::vector<TZirkObject*> all = objects_;
  for (TZirkObject* o : all) {
    if (Contains(o)) o->RestoreSurfaces();
  }
  RedrawAll();
}

void TZirkBaseList::SetMediaEnabled(bool enabled) {
  if (enabled == mediaEnabled_) return;
  mediaEnabled_ = enabled;
  if (mediaHook()) mediaHook()(enabled);
}

// --- focus and input ---------------------------------------------------------------------------

void TZirkBaseList::SetFocus(TZirkObject* object) {
  focused_ = object;
  focusPending_ = false;
}

void TZirkBaseList::SetFocusPending() {
  focused_ = nullptr;
  focusPending_ = true;
}

bool TZirkBaseList::focusable(TZirkObject* object) {
  auto* control = dynamic_cast<TZirkControl*>(object);
  return control && control->HandleKey() && !object->IsScrapped() && object->IsShown() &&
         !object->InCabinet() && object->GetPropInt(PR_PAUSED) == 0 &&
         object->GetScreen() == ActiveBase();
}

void TZirkBaseList::focusFirstFocusable() {
  focusPending_ = false;
  TZirkObject* found = nullptr;
  forSubtree(ActiveBase(), [&](TZirkObject* o) {
    if (!found && o != ActiveBase() && focusable(o)) found = o;
  });
  focused_ = found;
}

void TZirkBaseList::InputMouseMove(int32_t x, int32_t y) {
  TPoint p{x, y};
  if (p == mouse_ && p == ActiveBase()->mouse_) return;
  mouse_ = p;
  mouseMoved_ = true;
}

void TZirkBaseList::InputMouseDown(TMouseButton button, int32_t x, int32_t y) {
  InputMouseMove(x, y);
  if (button == TMouseButton::Left) {
    leftDown_ = true;
    leftDownAt_ = {x, y};
  }
  if (button == TMouseButton::Right) {
    rightDown_ = true;
    rightDownAt_ = {x, y};
  }
}

void TZirkBaseList::InputMouseUp(TMouseButton button, int32_t x, int32_t y) {
  InputMouseMove(x, y);
  if (button == TMouseButton::Left) {
    leftUp_ = true;
    leftUpAt_ = {x, y};
  }
}

void TZirkBaseList::InputKeyDown(int32_t vk) {
  if (!inRange(vk)) return;
  if (!keyState_[static_cast<size_t>(vk)]) keyTapped_[static_cast<size_t>(vk)] = true;
  keyState_[static_cast<size_t>(vk)] = true;
}

void TZirkBaseList::InputKeyUp(int32_t vk) {
  if (inRange(vk)) keyState_[static_cast<size_t>(vk)] = false;
}

int32_t TZirkBaseList::HoverCursor() {
  TZirkBase* screen = ActiveBase();
  TZirkObject* object = screen->captured_ ? screen->captured_ : screen->hovered_;
  return object ? object->GetHoverCursor() : 0;
}

void TZirkBaseList::InputStep() {
  bool anyRepeat = false;
  for (size_t vk = 0; vk < 256; ++vk) {
    bool pressed = keyTapped_[vk];
    bool repeated = pressed;
    if (pressed) {
      keyNextRepeat_[vk] = SceneClock + KeyRepeatDelay;
    } else if (keyState_[vk] && static_cast<int32_t>(SceneClock - keyNextRepeat_[vk]) >= 0) {
      repeated = true;
      keyNextRepeat_[vk] += KeyRepeatInterval;
      // After a stall the repeat resumes from now rather than firing a burst.
      if (static_cast<int32_t>(SceneClock - keyNextRepeat_[vk]) >= 0) {
        keyNextRepeat_[vk] = SceneClock + KeyRepeatInterval;
      }
    }
    keyPressed_[vk] = pressed;
    keyRepeated_[vk] = repeated;
    keyTapped_[vk] = false;
    anyRepeat = anyRepeat || repeated;
  }
  wheelThisTick_ = wheel_;
  wheel_ = 0;

  if (focused_ && !focusable(focused_)) focused_ = nullptr;
  if (focusPending_) focusFirstFocusable();
  if (anyRepeat && focused_) focused_->KeyRepeat();
  mouseStep(*ActiveBase());
}

void TZirkBaseList::mouseStep(TZirkBase& screen) {
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
    if (screen.RightClickPending) {
      // A menu closing may change the list: walk a copy and re-check.
      std::vector<TZirkObject*> menus;
      for (int32_t i = 0; i < menus_.Count(); ++i) menus.push_back(menus_.Items(i));
      for (TZirkObject* m : menus) {
        if (!Contains(m)) continue;
        int32_t im = m->GetPropInt(PR_IGNOREMOUSE);
        if (m->GetPropInt(PR_RCLICKSCRAP) != 0 && m->GetVisible() && m->GetScreen() == &screen &&
            m->GetPropInt(PR_PAUSED) == 0 && (im == IM_NONE || im == IM_LCLICK)) {
          m->RightClickClose();
        }
      }
    }
  }
}

// --- save record --------------------------------------------------------------------------------

void TZirkBaseList::SaveToStream(TKwStream& stream) {
  WriteStreamInt(stream, ActiveIndex);
  for (auto& base : bases_) {
    WriteStreamInt(stream, base->Color());
    SaveChildren(*base, stream);
  }
}

void TZirkBaseList::LoadFromStream(TKwStream& stream, int32_t version) {
  ClearObjects();
  transition_.reset();
  try {
    int32_t active = ReadStreamInt(stream);
    ActiveIndex = std::clamp(active, 0, 1);
    for (auto& base : bases_) {
      base->SetPropInt(PR_COLOR, ReadStreamInt(stream));
      LoadChildren(*base, stream, version);
    }
  } catch (...) {
    // No half-loaded scene is left behind.
    ClearObjects();
    throw;
  }
  RedrawAll();
}

}  // namespace zirk
