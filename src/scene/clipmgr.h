#pragma once
// The redraw clip manager: while a screen is painted, objects report the
// rectangles they cover; what lies fully under an opaque rectangle need not
// be drawn. Each reporting object opens one clip record.

#include <memory>
#include <vector>

#include "base/geometry.h"

namespace zirk {

class TClipData {
 public:
  void AddOpaqueRect(const TRect& r) { opaque_.push_back(r); }
  void AddDrawRect(const TRect& r) { draw_.push_back(r); }
  const std::vector<TRect>& OpaqueRects() const { return opaque_; }
  const std::vector<TRect>& DrawRects() const { return draw_; }

 private:
  std::vector<TRect> opaque_;
  std::vector<TRect> draw_;
};

class TClipManager {
 public:
  TClipData& NewClipData();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TClipData& Items(int32_t index) { return *items_.at(static_cast<size_t>(index)); }
  void Clear() { items_.clear(); }
  // True when r lies wholly inside one opaque rectangle of a record from
  // index `first` on.
  bool CoveredFrom(int32_t first, const TRect& r) const;

 private:
  std::vector<std::unique_ptr<TClipData>> items_;
};

// The program-wide clip manager, created by ZirkInitialize (nullptr outside).
TClipManager* ClipManager();
void SetClipManager(TClipManager* manager);

}  // namespace zirk
