#include "scene/zscene.h"

#include <algorithm>

#include "base/records.h"
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

// Past this many rectangles kept for a host one covering rectangle serves.
constexpr size_t kMaxPaintedRects = 32;

template <typename F>
void forSubtree(TZirkObject* object, F&& f) {
  f(object);
  for (int32_t i = 0; i < object->GetChildCount(); ++i) forSubtree(object->GetChild(i), f);
}
}  // namespace

void SetMediaEnabledHook(std::function<void(bool)> hook) {
  mediaHook() = std::move(hook);
}

// --- construction -------------------------------------------------------------------

TZirkBaseList::TZirkBaseList(int32_t width, int32_t height) : width_(width), height_(height) {
  for (int32_t i = 0; i < 2; ++i) {
    bases_[static_cast<size_t>(i)] = std::make_unique<TZirkBase>(*this, i);
    registerName(bases_[static_cast<size_t>(i)].get(), "BASE" + std::to_string(i));
    bases_[static_cast<size_t>(i)]->Invalidate();
  }
}

TZirkBaseList::TZirkBaseList(TZirkBaseList& host, int32_t width, int32_t height)
    : TZirkBaseList(width, height) {
  host_ = &host;
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
    const std::string key = nameKey(object->name_);
    auto it = names_.find(key);
    if (it != names_.end() && it->second == object) forgetName(key);
  }
  object->name_.clear();
}

TZirkObject* TZirkBaseList::FindComponentByName(const std::string& name) const {
  if (name.empty()) return nullptr;
  auto it = names_.find(nameKey(name));
  return it == names_.end() ? nullptr : it->second;
}

std::string TZirkBaseList::MakeUniqueName(const std::string& prefix) const {
  int64_t& n = firstFree_[nameKey(prefix)];
  for (;; ++n) {
    std::string name = prefix + std::to_string(n);
    if (!FindComponentByName(name)) return name;
  }
}

void TZirkBaseList::forgetName(const std::string& key) {
  names_.erase(key);
  // Every way the key ends in a number (as generated: no leading zeros) may
  // be a prefix's number.
  int64_t n = 0, scale = 1;
  for (size_t at = key.size(); at > 0 && key.size() - at < 18; --at) {
    const char digit = key[at - 1];
    if (digit < '0' || digit > '9') break;
    n += (digit - '0') * scale;
    scale *= 10;
    if (digit == '0' && at < key.size()) continue;  // a leading zero
    const auto it = firstFree_.find(key.substr(0, at - 1));
    if (it != firstFree_.end() && n < it->second) it->second = n;
  }
}

bool TZirkBaseList::Contains(const TZirkObject* object) const {
  return object && std::find(objects_.begin(), objects_.end(), object) != objects_.end();
}

TZirkObject* TZirkBaseList::FindBySerial(uint64_t serial) const {
  const auto it = bySerial_.find(serial);
  return it == bySerial_.end() ? nullptr : it->second;
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
  parent->InsertChild(std::move(object));
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
  if (bySerial_.emplace(object->Serial(), object).second) objects_.push_back(object);
}

void TZirkBaseList::removeFromTickList(TZirkObject* object) {
  const auto indexed = bySerial_.find(object->Serial());
  if (indexed == bySerial_.end() || indexed->second != object) return;
  bySerial_.erase(indexed);
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
    input_.ForgetObject(o);
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
  const std::string key = nameKey(object->name_);
  auto it = names_.find(key);
  if (!object->name_.empty() && it != names_.end() && it->second == object) forgetName(key);
  removeFromTickList(object);
  Events().ForgetObject(object);
  input_.ForgetObject(object);
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
  input_.Reset();
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
    if (done) {
      FreeObject(object);
    } else if (!object->IsScrapped()) {
      // Idle events do not pile up while the script is busy elsewhere.
      object->QueueEventOnce(PR_ONIDLE);
    }
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
    painted_.assign(1, Rect(0, 0, width_, height_));
  } else if (presentAll_) {
    presentAll_ = false;
    painted_.assign(1, Rect(0, 0, width_, height_));
  } else {
    // Rectangles a host has not taken yet stay with the new ones.
    auto& active = painted[static_cast<size_t>(std::clamp(ActiveIndex, 0, 1))];
    painted_.insert(painted_.end(), active.begin(), active.end());
    if (painted_.size() > kMaxPaintedRects) {
      TRect all = painted_.front();
      for (const TRect& r : painted_) all = UnionRect(all, r);
      painted_.assign(1, all);
    }
  }
  if (presenter_ && !painted_.empty()) presenter_(*PresentedSurface(), painted_);
  // The main scene hands its changes to the presenter; a private pair keeps
  // them for its host.
  if (presenter_) painted_.clear();
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
  // The cache is the program's: the main scene alone releases and rebuilds
  // it, around the surfaces of every object, private pairs' included.
  if (TImageCacheServices* cache = ImageCache(); cache && !host_) cache->ReleaseSurfaces();
}

void TZirkBaseList::RestoreSurfaces() {
  if (TImageCacheServices* cache = ImageCache(); cache && !host_) cache->RebuildSurfaces(true);
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

// --- save record --------------------------------------------------------------------------------

void TZirkBaseList::SaveToStream(TKwStream& stream) {
  TRecordWriter out(stream);
  out.Int(ActiveIndex);
  for (auto& base : bases_) {
    out.Int(base->Color());
    SaveChildren(*base, stream);
  }
}

void TZirkBaseList::LoadFromStream(TKwStream& stream, int32_t version) {
  ClearObjects();
  transition_.reset();
  painted_.clear();
  try {
    TRecordReader in(stream, version);
    ActiveIndex = std::clamp(in.Int(), 0, 1);
    for (auto& base : bases_) {
      base->SetPropInt(PR_COLOR, in.Int());
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
