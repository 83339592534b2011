#include "scene/zobject.h"

#include <algorithm>
#include <atomic>

#include "base/records.h"
#include "base/vocab.h"
#include "scene/capabilities.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/dibx.h"

namespace zirk {

namespace {
std::atomic<uint64_t> gSerial{0};
}

TZirkObject::TZirkObject(TZirkBaseList& scene) : scene_(&scene), serial_(++gSerial) {
  order_ = scene.nextOrder();
}

TZirkObject::~TZirkObject() {
  // Children normally went first (the scene frees trees bottom-up); this
  // covers objects freed outside the scene's care.
  while (!children_.empty()) {
    std::unique_ptr<TZirkObject> child = std::move(children_.back());
    children_.pop_back();
    child->parent_ = nullptr;
    child.reset();
  }
  scene_->objectDestroyed(this);
}

// --- properties -------------------------------------------------------------

const TPropTable& TZirkObject::Properties() const {
  using P = TPropField<TZirkObject>;
  static const TPropTable table({
      P(PR_NAME, &TZirkObject::name_).Set(&TZirkObject::SetName),
      P(PR_PARENT)
          .Get([](TZirkObject& o) { return o.parent_ ? o.parent_->GetName() : std::string(); })
          .Set([](TZirkObject& o, const std::string& name) {
            if (TZirkObject* parent = o.scene_->FindComponentByName(name)) o.SetParent(parent);
          }),
      P(PR_PRIORITY, &TZirkObject::priority_).Set([](TZirkObject& o, int32_t priority) {
        if (priority != o.priority_) o.SetPriority(priority);
      }),
      P(PR_COMPOTYPE).Get(&TZirkObject::GetKind),
  });
  return table;
}

void TZirkObject::GetProp(int id, TCustomParam& value) {
  Properties().Get(*this, id, value);
}

void TZirkObject::SetProp(int id, const TCustomParam& value) {
  Properties().Set(*this, id, value);
}

int32_t TZirkObject::GetPropInt(int id) {
  TParamInteger p;
  GetProp(id, p);
  return p.AsInteger();
}
std::string TZirkObject::GetPropStr(int id) {
  TParamString p;
  GetProp(id, p);
  return p.AsString();
}
long double TZirkObject::GetPropFloat(int id) {
  TParamFloat p;
  GetProp(id, p);
  return p.AsFloat();
}
void TZirkObject::SetPropInt(int id, int32_t value) {
  SetProp(id, TParamInteger(value));
}
void TZirkObject::SetPropStr(int id, const std::string& value) {
  SetProp(id, TParamString(value));
}
void TZirkObject::SetPropFloat(int id, long double value) {
  SetProp(id, TParamFloat(value));
}

// --- naming and tree ----------------------------------------------------------

void TZirkObject::SetName(const std::string& name) {
  if (name == name_) return;
  if (scrapped_) return;  // a scrapped object keeps no name
  scene_->registerName(this, name);
}

bool TZirkObject::SetParent(TZirkObject* parent) {
  if (!parent_) return false;  // a screen, or an object already taken out
  if (!parent) parent = scene_->ActiveBase();
  if (parent == parent_) return true;
  if (parent == this || IsAncestorOf(parent) || &parent->Scene() != scene_ || scrapped_ ||
      parent->IsScrapped()) {
    return false;
  }
  bool wasInCabinet = InCabinet();
  InvalidateTree();
  scene_->reparent(this, parent);
  parent->PlaceChild(this);
  InvalidateTree();
  bool nowInCabinet = InCabinet();
  if (!wasInCabinet && nowInCabinet) CabinetPause();
  if (wasInCabinet && !nowInCabinet) CabinetResume();
  return true;
}

TZirkObject* TZirkObject::GetChild(int32_t index) const {
  return index >= 0 && index < GetChildCount() ? children_[static_cast<size_t>(index)].get()
                                               : nullptr;
}

int32_t TZirkObject::IndexOfChild(const TZirkObject* child) const {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (children_[i].get() == child) return static_cast<int32_t>(i);
  }
  return -1;
}

bool TZirkObject::IsAncestorOf(const TZirkObject* other) const {
  for (const TZirkObject* p = other ? other->parent_ : nullptr; p; p = p->parent_) {
    if (p == this) return true;
  }
  return false;
}

namespace {

bool drawsBefore(const std::unique_ptr<TZirkObject>& a, const std::unique_ptr<TZirkObject>& b) {
  if (a->GetPriority() != b->GetPriority()) return a->GetPriority() < b->GetPriority();
  return a->GetOrder() < b->GetOrder();
}

}  // namespace

void TZirkObject::SortChildren() {
  std::stable_sort(children_.begin(), children_.end(), drawsBefore);
}

void TZirkObject::InsertChild(std::unique_ptr<TZirkObject> child) {
  const auto at = std::upper_bound(children_.begin(), children_.end(), child, drawsBefore);
  children_.insert(at, std::move(child));
}

void TZirkObject::PlaceChild(const TZirkObject* child) {
  const auto at = std::find_if(children_.begin(), children_.end(),
                               [child](const auto& c) { return c.get() == child; });
  if (at == children_.end()) return;
  const auto index = at - children_.begin();
  std::unique_ptr<TZirkObject> moving = std::move(*at);
  children_.erase(at);
  // Among children it ties with, its old index keeps its place, as in a
  // stable sort of the whole list.
  const auto [low, high] =
      std::equal_range(children_.begin(), children_.end(), moving, drawsBefore);
  const auto place =
      children_.begin() + std::clamp(index, low - children_.begin(), high - children_.begin());
  children_.insert(place, std::move(moving));
}

void TZirkObject::SetPriority(int32_t priority) {
  priority_ = priority;
  order_ = scene_->nextOrder();
  if (parent_) parent_->PlaceChild(this);
  InvalidateTree();
}

void TZirkObject::SetOrder(int32_t order) {
  if (order == order_) return;
  order_ = order;
  if (parent_) parent_->PlaceChild(this);
  InvalidateTree();
}

TZirkBase* TZirkObject::GetScreen() {
  return parent_ ? parent_->GetScreen() : nullptr;
}

TCustomDIBX* TZirkObject::GetDrawSurface() {
  return parent_ ? parent_->GetDrawSurface() : nullptr;
}

void TZirkObject::Scrap() {
  if (scrapped_) return;
  scene_->scrap(this);
}

bool TZirkObject::InCabinet() const {
  for (const TZirkObject* p = parent_; p; p = p->parent_) {
    if (p->GetKind() == LT_CABINET) return true;
  }
  return false;
}

void TZirkObject::ReleaseSurfaces() {}
void TZirkObject::RestoreSurfaces() {}

bool TZirkObject::IsShown() {
  for (TZirkObject* o = this; o; o = o->parent_) {
    if (!o->GetVisible()) return false;
  }
  return true;
}

bool TZirkObject::GetContainerClip(TRect& r) {
  return parent_ ? parent_->GetContainerClip(r) : !r.IsEmpty();
}

void TZirkObject::InvalidateTree() {
  Invalidate();
  for (const auto& child : children_) child->InvalidateTree();
}

void TZirkObject::Paint() {
  if (!GetVisible() || scrapped_) return;
  TCustomDIBX* target = GetDrawSurface();
  if (!target) return;
  TRect saved = target->GetClipRect();
  TZirkBase* screen = GetScreen();
  // The screen judges by screen coordinates, so only what it draws itself.
  if (screen && target == screen->BackSurface() && screen->SkipsPaint(this, saved)) return;
  TRect own = OwnScreenClip();
  if (own.IsEmpty()) {
    Draw();
    return;
  }
  TRect clip;
  if (!IntersectRect(clip, saved, own)) return;
  target->SetClipRect(clip);
  Draw();
  target->SetClipRect(saved);
}

// --- input --------------------------------------------------------------------

TArrayString TZirkObject::localPoint(int32_t x, int32_t y) {
  return {std::to_string(int64_t{x} - GetDrawLeft()), std::to_string(int64_t{y} - GetDrawTop())};
}

void TZirkObject::LButtonDown(int32_t x, int32_t y) {
  QueueEvent(PR_ONLBTNDOWN, localPoint(x, y));
}

void TZirkObject::LButtonUp(int32_t x, int32_t y) {
  QueueEvent(PR_ONLBTNUP, localPoint(x, y));
}

void TZirkObject::RButtonDown(int32_t, int32_t) {}

void TZirkObject::MouseMove(int32_t x, int32_t y) {
  QueueEventOnce(PR_ONMOUSEMOVE, localPoint(x, y));
}

void TZirkObject::MouseOut() {
  QueueEvent(PR_ONMOUSEOUT);
}

void TZirkObject::QueueEvent(int32_t propId, const TArrayString& args) {
  std::string label = GetPropStr(propId);
  if (!label.empty()) scene_->Events().PostEvent(this, label, args, propId);
}

void TZirkObject::QueueEventOnce(int32_t propId, const TArrayString& args) {
  std::string label = GetPropStr(propId);
  if (label.empty() || scene_->Events().FindEvent(this, propId) >= 0) return;
  scene_->Events().PostEvent(this, label, args, propId);
}

// --- button groups ---------------------------------------------------------------

void TZirkObject::UpdateButtonGroup(TZirkObject* button, bool setUp) {
  if (!button || button->parent_ != this) return;
  int32_t group = button->GetPropInt(PR_GROUPINDEX);
  if (group == 0) return;
  auto selectedIn = [&](TZirkObject* other) {
    return other != button && other->GetPropInt(PR_GROUPINDEX) == group &&
           other->GetPropInt(PR_SELECTED) != 0;
  };
  if (button->GetPropInt(PR_SELECTED) == 0) {
    if (!setUp || button->GetPropInt(PR_ALLOWALLUP) != 0) return;
    for (const auto& child : children_) {
      if (selectedIn(child.get())) return;
    }
    if (IGroupButton* b = As<IGroupButton>(button)) b->SetDown(true);
    return;
  }
  // SetDown may change the tree only through lazy scraps, so indices hold.
  for (int32_t i = 0; i < GetChildCount(); ++i) {
    TZirkObject* other = GetChild(i);
    if (!selectedIn(other)) continue;
    if (IGroupButton* b = As<IGroupButton>(other)) b->SetDown(false);
  }
}

void TZirkObject::SetGroupAllowAllUp(int32_t groupIndex, bool allowAllUp) {
  if (groupIndex == 0) return;
  for (int32_t i = 0; i < GetChildCount(); ++i) {
    TZirkObject* child = GetChild(i);
    IGroupButton* b = As<IGroupButton>(child);
    if (b && child->GetPropInt(PR_GROUPINDEX) == groupIndex) b->SetAllowAllUp(allowAllUp);
  }
}

// --- save record ------------------------------------------------------------------

void TZirkObject::SaveToStream(TKwStream& stream) {
  TRecordWriter out(stream);
  out.Str(name_);
  out.Int(priority_);
  out.Int(order_);
  out.Int(tag_);
}

void TZirkObject::LoadFromStream(TKwStream& stream, int32_t version) {
  TRecordReader in(stream, version);
  std::string name = in.Str();
  int32_t priority = in.Int();
  int32_t order = in.From(104, order_);
  tag_ = in.From(120, tag_);
  if (!name.empty()) SetName(name);
  priority_ = priority;
  order_ = order;
  if (parent_) parent_->SortChildren();
}

}  // namespace zirk
