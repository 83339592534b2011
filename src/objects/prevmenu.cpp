#include "objects/prevmenu.h"

#include <algorithm>

#include "base/records.h"
#include "base/sjis.h"
#include "base/vrfiles.h"
#include "objects/frms.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

constexpr int32_t VK_RETURN = 13, VK_SPACE = 32;
constexpr int32_t VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40;

// The largest menu file read: a menu is a screen's worth of entries, each
// a name, a cursor and a dozen picture names, so thousands of them fit.
constexpr int64_t kPrevMenuFileCap = int64_t{1} << 22;

}  // namespace

// --- entries ----------------------------------------------------------------------------

const TPropTable& TZirkPrevImages::Properties() const {
  using P = TPropField<TZirkPrevImages>;
  static const TPropTable table(TZirkImages::Properties(),
                                {
                                    P(PR_SOURCE).Set(&TZirkPrevImages::SetSource),
                                });
  return table;
}

void TZirkPrevImages::SetSource(const std::string& source) {
  if (source != Source()) {
    // A new state's picture starts plain, whatever a motion left behind.
    SetPropInt(PR_ALPHA, 255);
    SetPropInt(PR_ANGLE, 0);
    SetPropInt(PR_ZOOMX, 256);
    SetPropInt(PR_ZOOMY, 256);
    SetPropInt(PR_FLIPH, 0);
    SetPropInt(PR_FLIPV, 0);
    SetPropInt(PR_CLIPWIDTH, 0);
    SetPropInt(PR_CLIPHEIGHT, 0);
  }
  TZirkImages::SetSource(source);
}

TZirkPrevMenu* TZirkPrevImages::menu() {
  return dynamic_cast<TZirkPrevMenu*>(GetParent());
}

bool TZirkPrevImages::Tick() {
  if (TZirkImages::Tick()) return true;
  if (IsScrapped() || GetPropInt(PR_REPEAT) != 0) return false;
  if (GetPropInt(PR_INDEX) < GetPropInt(PR_COUNT) - 1) return false;
  TZirkMotionBase* motion = GetMotion();
  if (motion ? !motion->Finished() : DelayCounter() > 0) return false;
  if (TZirkPrevMenu* m = menu()) m->AnimationEnded(*this);
  return false;
}

// --- the menu ---------------------------------------------------------------------------

TZirkPrevMenu::TZirkPrevMenu(TZirkBaseList& scene) : TZirkControl(scene) {}

// The entry objects are children, freed by the scene before the menu; the
// preloaded pictures go back to the cache with the leases.
TZirkPrevMenu::~TZirkPrevMenu() = default;

const TPropTable& TZirkPrevMenu::Properties() const {
  using P = TPropField<TZirkPrevMenu>;
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkPrevMenu::source_).Set(&TZirkPrevMenu::SetSource),
          P(PR_PAUSED, &TZirkPrevMenu::paused_),
          P(PR_COUNT).Get(&TZirkPrevMenu::EntryCount).ReadOnly(),
          P(PR_TEXT)
              .Get([](TZirkPrevMenu& o) {
                std::string text;
                for (int32_t i = 0; i < o.EntryCount(); ++i)
                  text += (i > 0 ? "\r\n" : "") + o.entry(i)->Record.Name;
                return text;
              })
              .ReadOnly(),
          P(PR_AUTOSCRAP, &TZirkPrevMenu::autoScrap_),
          P(PR_RCLICKSCRAP, &TZirkPrevMenu::rClickScrap_),
          P(PR_ONSELECT, &TZirkPrevMenu::onSelect_),
          P(PR_ONMAPIN, &TZirkPrevMenu::onMapIn_),
          P(PR_ONMAPOUT, &TZirkPrevMenu::onMapOut_),
          P(PR_ONIDLE, &TZirkPrevMenu::onIdle_),
          P(PR_ONPLAYEND, &TZirkPrevMenu::onPlayEnd_),
      });
  return table;
}

TZirkPrevMenu::TEntry* TZirkPrevMenu::entry(int32_t index) {
  return index >= 0 && index < EntryCount() ? entries_[static_cast<size_t>(index)].get() : nullptr;
}

const TZirkPrevMenu::TEntry* TZirkPrevMenu::entry(int32_t index) const {
  return index >= 0 && index < EntryCount() ? entries_[static_cast<size_t>(index)].get() : nullptr;
}

TZirkPrevImages* TZirkPrevMenu::EntryImage(int32_t index) const {
  const TEntry* e = entry(index);
  return e ? e->Image : nullptr;
}

TZirkPrevImages* TZirkPrevMenu::Companion(int32_t index) const {
  const TEntry* e = entry(index);
  return e ? e->Companion : nullptr;
}

int32_t TZirkPrevMenu::IndexOfEntry(const std::string& name) const {
  for (int32_t i = 0; i < EntryCount(); ++i)
    if (entries_[static_cast<size_t>(i)]->Record.Name == name) return i;
  return -1;
}

void TZirkPrevMenu::ChildRemoved(TZirkObject* child) {
  for (auto& e : entries_) {
    if (e->Image == child) e->Image = nullptr;
    if (e->Companion == child) e->Companion = nullptr;
  }
}

void TZirkPrevMenu::clearEntries() {
  std::vector<std::unique_ptr<TEntry>> entries = std::move(entries_);
  entries_.clear();
  for (auto& e : entries) {
    for (TZirkPrevImages* image : {e->Companion, e->Image})
      if (image && Scene().Contains(image)) Scene().FreeObject(image);
  }
  preloads_.clear();
  preloadNames_.clear();
  hovered_ = -1;
  pressed_ = -1;
  busy_ = 0;
}

void TZirkPrevMenu::SetSource(const std::string& name) {
  if (name == source_) return;
  source_ = name;
  clearEntries();
  if (!GameFileAvailable(name)) {
    SetBounds(Left(), Top(), 0, 0);
    return;
  }
  loadPrevMenuFile(name);
}

void TZirkPrevMenu::loadPrevMenuFile(const std::string& name) {
  TContSelList list;
  // A file that cannot be read raises before any entry is made.
  ReadGameFile(name, kPrevMenuFileCap, [&](TKwMemoryStream& stream) {
    ReadPrevMenu(list, stream, TVrFileManager::ExtractFolder(name));
  });
  SetBounds(Left(), Top(), list.Width, list.Height);
  const std::string prefix = std::string(1, kHiddenNameChar) + GetName() + kHiddenNameChar;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TContSelButton& record = list.Button(i);
    entries_.push_back(std::make_unique<TEntry>(record));
    TEntry& e = *entries_.back();
    e.Image = Scene().Create<TZirkPrevImages>(this, Scene().MakeUniqueName(prefix));
    e.Image->SetPropInt(PR_LEFT, record.X);
    e.Image->SetPropInt(PR_TOP, record.Y);
    e.Image->SetSource(record.Pictures[psNormal]);
    e.Image->SetPropInt(PR_CAPTUREMASK, record.CaptureMask);
    e.Image->SetPropStr(PR_CURSOR, record.Cursor);
  }
  std::set<std::string> motions;
  for (auto& e : entries_) {
    for (TPrevMenuSlot slot :
         {psNormal, psHover, psLeave, psClick, psDisabled, psHoverCompanion, psLeaveCompanion,
          psClickCompanion, psDisabledHoverCompanion, psDisabledLeaveCompanion})
      preload(e->Record.Pictures[slot], motions);
  }
}

void TZirkPrevMenu::preload(const std::string& name, std::set<std::string>& motions) {
  if (name.empty()) return;
  const std::string key = SjisFoldCase(name);
  if (std::find(preloadNames_.begin(), preloadNames_.end(), key) != preloadNames_.end()) return;
  if (!HasExtension(name, ".zmt")) {
    preloadNames_.push_back(key);
    try {
      preloads_.emplace_back(name, false, false);
    } catch (const std::exception&) {
      // A picture that cannot be loaded now shows as missing later.
    }
    return;
  }
  // Motions can name each other (or themselves); each is opened once.
  if (!motions.insert(key).second) return;
  TFilmManager film;
  film.SkipAfterLoad = true;
  std::vector<std::string> files;
  try {
    film.LoadFilm(name);
    film.CollectFiles(files);
  } catch (const std::exception&) {
    return;
  }
  for (const std::string& file : files) preload(file, motions);
}

// --- states -----------------------------------------------------------------------------

std::string TZirkPrevMenu::restingPicture(const TEntry& e) const {
  if (!e.Shown) return std::string();
  return e.Record.Pictures[e.Enabled ? psNormal : psDisabled];
}

bool TZirkPrevMenu::GetEntryEnabled(int32_t index) const {
  const TEntry* e = entry(index);
  return e && e->Enabled;
}

void TZirkPrevMenu::SetEntryEnabled(int32_t index, bool enabled) {
  TEntry* e = entry(index);
  if (!e || e->Enabled == enabled) return;
  e->Enabled = enabled;
  if (e->Image) e->Image->SetSource(e->Record.Pictures[enabled ? psNormal : psDisabled]);
}

bool TZirkPrevMenu::GetEntryShown(int32_t index) const {
  const TEntry* e = entry(index);
  return e && e->Shown;
}

void TZirkPrevMenu::SetEntryShown(int32_t index, bool shown) {
  TEntry* e = entry(index);
  if (!e || e->Shown == shown) return;
  e->Shown = shown;
  if (e->Image) {
    e->Image->SetPropInt(PR_VISIBLE, shown);
    e->Image->SetSource(restingPicture(*e));
  }
  // A hidden entry's click animation is over: waiting for its end would
  // keep the menu busy for good.
  if (!shown && e->Clicking) animationDone(e->Clicking);
}

TArrayString TZirkPrevMenu::eventArgs(int32_t index) const {
  const TEntry* e = entry(index);
  return {e ? e->Record.Name : std::string(), std::to_string(index)};
}

TZirkPrevImages* TZirkPrevMenu::makeCompanion(int32_t index) {
  TEntry& e = *entry(index);
  if (!e.Companion) {
    const std::string prefix = std::string(1, kHiddenNameChar) + GetName() + kHiddenNameChar;
    e.Companion = Scene().Create<TZirkPrevImages>(this, Scene().MakeUniqueName(prefix));
    e.Companion->SetPropInt(PR_LEFT, e.Record.CompanionX);
    e.Companion->SetPropInt(PR_TOP, e.Record.CompanionY);
  }
  return e.Companion;
}

void TZirkPrevMenu::showCompanion(int32_t index, const std::string& name, bool repeat,
                                  int32_t priority) {
  TEntry* e = entry(index);
  if (!e) return;
  if (name.empty()) {
    if (TZirkPrevImages* c = e->Companion) {
      e->Companion = nullptr;
      e->CompanionClicking = false;
      Scene().FreeObject(c);
    }
    return;
  }
  TZirkPrevImages* c = makeCompanion(index);
  c->SetPropInt(PR_PRIORITY, priority);
  c->SetSource(name);
  c->SetPropInt(PR_REPEAT, repeat);
}

void TZirkPrevMenu::SetHover(int32_t index) {
  if (index == hovered_ || busy_ > 0) return;
  if (TEntry* e = entry(hovered_)) {
    const auto& p = e->Record.Pictures;
    const TPrevMenuSlot leave = e->Enabled ? psLeave : psDisabledLeave;
    const TPrevMenuSlot rest = e->Enabled ? psNormal : psDisabled;
    const bool once = !p[leave].empty();
    if (e->Image) {
      e->Image->SetSource(once ? p[leave] : p[rest]);
      e->Image->SetPropInt(PR_REPEAT, !once);
    }
    showCompanion(hovered_, p[e->Enabled ? psLeaveCompanion : psDisabledLeaveCompanion], false, 0);
    // Each change is told, so a script following the hovered entry sees
    // every step.
    QueueEvent(PR_ONMAPOUT, eventArgs(hovered_));
  }
  hovered_ = index;
  if (TEntry* e = entry(hovered_)) {
    const auto& p = e->Record.Pictures;
    const TPrevMenuSlot hover = e->Enabled ? psHover : psDisabledHover;
    const TPrevMenuSlot rest = e->Enabled ? psNormal : psDisabled;
    if (e->Image) {
      e->Image->SetSource(p[hover].empty() ? p[rest] : p[hover]);
      e->Image->SetPropInt(PR_REPEAT, 1);
    }
    showCompanion(hovered_, p[e->Enabled ? psHoverCompanion : psDisabledHoverCompanion], true, 1);
    QueueEvent(PR_ONMAPIN, eventArgs(hovered_));
  }
}

void TZirkPrevMenu::Click() {
  TEntry* e = entry(hovered_);
  if (!e) return;
  const auto& p = e->Record.Pictures;
  // An animation started again counts once.
  if (!p[psClick].empty() && e->Image) {
    e->Image->SetSource(std::string());
    e->Image->SetSource(p[psClick]);
    e->Image->SetPropInt(PR_REPEAT, 0);
    if (!e->Clicking) ++busy_;
    e->Clicking = true;
  }
  if (!p[psClickCompanion].empty()) {
    TZirkPrevImages* c = makeCompanion(hovered_);
    c->SetPropInt(PR_PRIORITY, 2);
    c->SetSource(p[psClickCompanion]);
    c->SetPropInt(PR_REPEAT, 0);
    if (!e->CompanionClicking) ++busy_;
    e->CompanionClicking = true;
  }
  LastPrevMenuSelection() = {e->Record.Name, hovered_};
  QueueEventOnce(PR_ONSELECT, eventArgs(hovered_));
  if (busy_ == 0) finish();
}

void TZirkPrevMenu::AnimationEnded(TZirkPrevImages& image) {
  for (auto& e : entries_) {
    if (e->Image == &image) {
      image.SetSource(restingPicture(*e));
      image.SetPropInt(PR_REPEAT, 1);
      if (e->Clicking) animationDone(e->Clicking);
      return;
    }
    if (e->Companion == &image) {
      e->Companion = nullptr;
      image.Scrap();
      if (e->CompanionClicking) animationDone(e->CompanionClicking);
      return;
    }
  }
}

void TZirkPrevMenu::animationDone(bool& flag) {
  flag = false;
  if (busy_ > 0 && --busy_ == 0) finish();
}

void TZirkPrevMenu::finish() {
  if (autoScrap_)
    Scrap();
  else
    QueueEvent(PR_ONPLAYEND, eventArgs(hovered_));
}

// --- input ------------------------------------------------------------------------------

TZirkObject* TZirkPrevMenu::HitTest(TPoint point, TMouseMask mask) {
  if (!GetVisible() || IsScrapped() || !GetScreenRect().Contains(point)) return nullptr;
  const int32_t im = IgnoreMouse();
  auto isEntry = [this](const TZirkObject* o) {
    return std::any_of(entries_.begin(), entries_.end(),
                       [o](const auto& e) { return e->Image == o; });
  };
  if (im >= 0 && im < 32 && (mask & (1u << im))) {
    for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
      TZirkObject* child = GetChild(i);
      if (isEntry(child) && child->HitTest(point, mask)) return this;
    }
  }
  for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
    TZirkObject* child = GetChild(i);
    if (isEntry(child)) continue;
    if (TZirkObject* hit = child->HitTest(point, mask)) return hit;
  }
  return nullptr;
}

void TZirkPrevMenu::MouseMove(int32_t x, int32_t y) {
  int32_t hit = -1;
  for (int32_t i = 0; i < EntryCount() && hit < 0; ++i) {
    TZirkPrevImages* image = EntryImage(i);
    if (image && image->HitTest({x, y}, kAllMouseMask)) hit = i;
  }
  SetHover(hit);
  TZirkControl::MouseMove(x, y);
}

void TZirkPrevMenu::MouseOut() {
  SetHover(-1);
  TZirkControl::MouseOut();
}

void TZirkPrevMenu::LButtonDown(int32_t x, int32_t y) {
  pressed_ = hovered_;
  TZirkControl::LButtonDown(x, y);
}

void TZirkPrevMenu::LButtonUp(int32_t x, int32_t y) {
  if (pressed_ >= 0 && pressed_ == hovered_ && busy_ == 0 && !IsBusy() && GetEntryEnabled(hovered_))
    Click();
  TZirkControl::LButtonUp(x, y);
}

void TZirkPrevMenu::RButtonDown(int32_t x, int32_t y) {
  if (rClickScrap_) Scrap();
  TZirkControl::RButtonDown(x, y);
}

void TZirkPrevMenu::KeyRepeat(int32_t vk) {
  std::vector<int32_t> cycle;
  for (int32_t i = 0; i < EntryCount(); ++i)
    if (TZirkPrevImages* image = EntryImage(i); image && image->GetVisible()) cycle.push_back(i);
  if (cycle.empty()) return;
  const int32_t n = static_cast<int32_t>(cycle.size());
  const auto at = std::find(cycle.begin(), cycle.end(), hovered_);
  const int32_t cur = at == cycle.end() ? -1 : static_cast<int32_t>(at - cycle.begin());
  const bool clicks = GetEntryEnabled(hovered_) && !IsBusy();
  const int32_t key = firstKey(vk, {{VK_LEFT},
                                    {VK_UP},
                                    {VK_RIGHT},
                                    {VK_DOWN},
                                    {VK_SPACE, true, clicks},
                                    {VK_RETURN, true, clicks}});
  if (key == VK_LEFT || key == VK_UP)
    SetHover(cycle[static_cast<size_t>(cur < 1 ? n - 1 : cur - 1)]);
  else if (key == VK_RIGHT || key == VK_DOWN)
    SetHover(cycle[static_cast<size_t>(cur < 0 ? 0 : (cur + 1) % n)]);
  else if (key != 0)
    Click();
  TZirkControl::KeyRepeat(vk);
}

int32_t TZirkPrevMenu::GetHoverCursor() {
  if (TZirkPrevImages* image = EntryImage(hovered_)) return image->GetPropInt(PR_CURSOR);
  return TZirkControl::GetHoverCursor();
}

// --- save record ------------------------------------------------------------------------

void TZirkPrevMenu::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  out.Bool(autoScrap_);
  out.Bool(rClickScrap_);
  out.Bool(paused_);
  for (const std::string* label : {&onMapIn_, &onMapOut_, &onIdle_, &onSelect_, &onPlayEnd_})
    out.Str(*label);
  for (bool enabled : {true, false}) {
    out.Int(EntryCount());
    for (const auto& e : entries_) out.Bool(enabled ? e->Enabled : e->Shown);
  }
}

void TZirkPrevMenu::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved preview menu record");
  SetSource(in.Str());
  autoScrap_ = in.Bool();
  rClickScrap_ = in.Bool();
  paused_ = in.Bool();
  for (std::string* label : {&onMapIn_, &onMapOut_, &onIdle_, &onSelect_, &onPlayEnd_})
    *label = in.Str();
  for (int32_t since : {127, 132}) {
    if (!in.Has(since)) continue;
    const int32_t n = in.Count(1);
    for (int32_t i = 0; i < n; ++i) {
      const bool flag = in.Bool();
      if (i >= EntryCount()) continue;
      if (since == 127)
        SetEntryEnabled(i, flag);
      else
        SetEntryShown(i, flag);
    }
  }
}

void RegisterZirkPrevMenu() {
  RegisterKind(LT_PREVMENU,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkPrevMenu>(scene); });
}

}  // namespace zirk
