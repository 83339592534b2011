#include "scene/clipmgr.h"

namespace zirk {

namespace {
TClipManager* gClipManager = nullptr;
}

TClipManager* ClipManager() {
  return gClipManager;
}
void SetClipManager(TClipManager* manager) {
  gClipManager = manager;
}

TClipData& TClipManager::NewClipData() {
  items_.push_back(std::make_unique<TClipData>());
  return *items_.back();
}

bool TClipManager::CoveredFrom(int32_t first, const TRect& r) const {
  for (size_t i = first < 0 ? 0 : static_cast<size_t>(first); i < items_.size(); ++i) {
    for (const TRect& o : items_[i]->OpaqueRects()) {
      if (r.Left >= o.Left && r.Top >= o.Top && r.Right <= o.Right && r.Bottom <= o.Bottom) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace zirk
