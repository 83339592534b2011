#pragma once
// The preview menu: a graphical menu read from a preview-menu file. Each
// entry is an animated picture (or motion) object with pictures for its
// normal, hovered, leaving, clicked and disabled states and an optional
// companion picture beside it. The menu follows the mouse and the arrow
// keys, plays the click animations, reports hover, selection and the end of
// a click to the script, and keeps every picture it may show in the image
// cache while it lives.

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "objects/contsels.h"
#include "objects/dorvcache.h"
#include "objects/images.h"
#include "scene/zcontrol.h"

namespace zirk {

class TZirkPrevMenu;

// One entry or companion of a preview menu: a multi-frame image whose new
// source starts from a plain picture, and which tells its menu when a
// non-repeating animation has played to its end.
class TZirkPrevImages : public TZirkImages {
 public:
  using TZirkImages::TZirkImages;
  const TPropTable& Properties() const override;
  void SetSource(const std::string& source);
  bool Tick() override;

 private:
  TZirkPrevMenu* menu();
};

class TZirkPrevMenu : public TZirkControl {
 public:
  explicit TZirkPrevMenu(TZirkBaseList& scene);
  ~TZirkPrevMenu() override;

  int32_t GetKind() const override { return LT_PREVMENU; }
  const TPropTable& Properties() const override;

  void SetSource(const std::string& name);
  int32_t EntryCount() const { return static_cast<int32_t>(entries_.size()); }
  // The entry of that name (case-sensitive), -1 when none.
  int32_t IndexOfEntry(const std::string& name) const;
  // Entry operations of the script; outside the entries reads give false
  // and writes do nothing.
  bool GetEntryEnabled(int32_t index) const;
  void SetEntryEnabled(int32_t index, bool enabled);
  bool GetEntryShown(int32_t index) const;
  void SetEntryShown(int32_t index, bool shown);
  // The entry's and its companion's picture objects (nullptr when none).
  TZirkPrevImages* EntryImage(int32_t index) const;
  TZirkPrevImages* Companion(int32_t index) const;
  int32_t Hovered() const { return hovered_; }
  int32_t Busy() const { return busy_; }
  // The names held in the image cache for the menu, case folded.
  const std::vector<std::string>& Preloaded() const { return preloadNames_; }

  // Hovers an entry (-1 none), as the mouse and the keys do.
  void SetHover(int32_t index);
  // Clicks the hovered entry.
  void Click();
  // A non-repeating animation of an entry or companion played to its end.
  void AnimationEnded(TZirkPrevImages& image);

  // The entries animate themselves; the menu's tick has nothing to do (a
  // motion's end would otherwise pass for the end of a click).
  bool Tick() override { return false; }
  TZirkObject* HitTest(TPoint point, TMouseMask mask) override;
  void LButtonDown(int32_t x, int32_t y) override;
  void LButtonUp(int32_t x, int32_t y) override;
  void RButtonDown(int32_t x, int32_t y) override;
  void MouseMove(int32_t x, int32_t y) override;
  void MouseOut() override;
  void KeyRepeat(int32_t vk) override;
  int32_t GetHoverCursor() override;
  void ChildRemoved(TZirkObject* child) override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  struct TEntry {
    TZirkPrevImages* Image = nullptr;
    TZirkPrevImages* Companion = nullptr;
    TContSelButton Record;
    bool Enabled = true, Shown = true;
    // Click animations under way on the entry and on its companion.
    bool Clicking = false, CompanionClicking = false;
    explicit TEntry(const TContSelButton& record) : Record(record) {}
  };

  void clearEntries();
  void loadPrevMenuFile(const std::string& name);
  void preload(const std::string& name, std::set<std::string>& motions);
  // The picture of the entry's resting state: normal or disabled, none
  // while hidden.
  std::string restingPicture(const TEntry& e) const;
  void showCompanion(int32_t index, const std::string& name, bool repeat, int32_t priority);
  TZirkPrevImages* makeCompanion(int32_t index);
  // One click animation less; the last one finishes the click.
  void animationDone(bool& flag);
  void finish();
  TArrayString eventArgs(int32_t index) const;
  TEntry* entry(int32_t index);
  const TEntry* entry(int32_t index) const;

  std::string source_;
  std::vector<std::unique_ptr<TEntry>> entries_;
  std::vector<std::string> preloadNames_;
  std::vector<TDorvLease> preloads_;
  int32_t hovered_ = -1;
  int32_t pressed_ = -1;
  int32_t busy_ = 0;
  bool paused_ = false, autoScrap_ = false, rClickScrap_ = false;
  std::string onSelect_, onMapIn_, onMapOut_, onIdle_, onPlayEnd_;
};

void RegisterZirkPrevMenu();

}  // namespace zirk
