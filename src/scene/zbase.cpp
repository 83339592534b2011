#include "scene/zbase.h"

#include "scene/zscene.h"
#include "surfaces/dibx.h"
#include "surfaces/screenman.h"

namespace zirk {

namespace {
// Past this many separate rectangles one covering rectangle paints faster.
constexpr size_t kMaxDirtyRects = 32;

int64_t area(const TRect& r) {
  return int64_t{r.Width()} * r.Height();
}
}  // namespace

TZirkBase::TZirkBase(TZirkBaseList& scene, int32_t index) : TZirkControl(scene), index_(index) {
  back_ = std::make_unique<TDIBX>(scene.Width(), scene.Height(), ScreenSurfaceDepth());
  StoreSize(scene.Width(), scene.Height());
}

TZirkBase::~TZirkBase() = default;

void TZirkBase::Resize(int32_t width, int32_t height) {
  StoreSize(width, height);
  if (back_) {
    back_->SetSize(width, height, ScreenSurfaceDepth());
    back_->ResetClipRect();
  }
  dirty_.clear();
  Invalidate();
}

bool TZirkBase::GetContainerClip(TRect& r) {
  return IntersectRect(r, r, GetScreenRect());
}

void TZirkBase::InvalidateRect(const TRect& rect) {
  TRect r;
  if (!IntersectRect(r, rect, GetScreenRect())) return;
  // A listed rectangle that overlaps r, or whose common bounds with r hold
  // no more pixels than the two apart, is painted as one with it: no pixel
  // is painted twice, a picture moving by a few pixels repaints one
  // rectangle, and a busy screen few large ones (each rectangle costs every
  // object reaching it a draw of its own). A joined rectangle may now join
  // others.
  for (auto it = dirty_.begin(); it != dirty_.end();) {
    const TRect joined = UnionRect(r, *it);
    if (RectsOverlap(r, *it) || area(joined) <= area(r) + area(*it)) {
      r = joined;
      dirty_.erase(it);
      it = dirty_.begin();
    } else {
      ++it;
    }
  }
  dirty_.push_back(r);
  if (dirty_.size() > kMaxDirtyRects) {
    TRect all = dirty_.front();
    for (const TRect& d : dirty_) all = UnionRect(all, d);
    dirty_.assign(1, all);
  }
}

std::vector<TRect> TZirkBase::PaintDirty() {
  std::vector<TRect> painted;
  painted.swap(dirty_);
  if (painted.empty() || !back_ || back_->IsEmpty()) return painted;
  TRect saved = back_->GetClipRect();
  uint32_t fill = Color() < 0 ? 0 : static_cast<uint32_t>(back_->ColorToPixel(Color()));
  // Drawing changes no object, so what the objects cover holds for every
  // rectangle of this paint.
  clips_.Clear();
  covers_.clear();
  for (int32_t i = 0; i < GetChildCount(); ++i) collectCovers(GetChild(i));
  for (const TRect& r : painted) {
    back_->SetClipRect(r);
    // Under a picture that covers the whole rectangle the colour would not show.
    if (!clips_.CoveredFrom(0, r)) back_->FillRect(r, fill);
    TZirkControl::Draw();
  }
  clips_.Clear();
  covers_.clear();
  back_->SetClipRect(saved);
  // Objects drawing must not queue more dirt; any that did belongs to the
  // next paint.
  return painted;
}

TRect TZirkBase::collectCovers(TZirkObject* object) {
  if (!object->GetVisible() || object->IsScrapped()) return {};
  object->CollectClipRects(clips_);
  TRect bounds = object->GetScreenRect();
  for (int32_t i = 0; i < object->GetChildCount(); ++i) {
    bounds = UnionRect(bounds, collectCovers(object->GetChild(i)));
  }
  covers_[object] = {clips_.Count(), bounds};
  return bounds;
}

bool TZirkBase::SkipsPaint(const TZirkObject* object, const TRect& clip) const {
  auto it = covers_.find(object);
  if (it == covers_.end()) return false;
  TRect visible;
  // Neither the object nor any of its children reaches the rectangle.
  if (!IntersectRect(visible, it->second.bounds, clip)) return true;
  return clips_.CoveredFrom(it->second.laterRecords, visible);
}

TZirkObject* TZirkBase::HitTest(TPoint point, TMouseMask mask) {
  if (!GetScreenRect().Contains(point)) return nullptr;
  for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
    if (TZirkObject* hit = GetChild(i)->HitTest(point, mask)) return hit;
  }
  return nullptr;
}

void TZirkBase::CaptureMouse(TZirkObject* control, bool leftButton) {
  captured_ = control;
  captureLeft_ = leftButton;
  if (leftButton) LeftClickPending = false;
}

void TZirkBase::ReleaseCapture() {
  captured_ = nullptr;
  captureLeft_ = false;
}

void TZirkBase::ForgetObject(const TZirkObject* object) {
  if (captured_ == object) ReleaseCapture();
  if (hovered_ == object) hovered_ = nullptr;
}

void TZirkBase::releaseSurface() {
  if (back_) back_->ReleaseSurface();
}

void TZirkBase::restoreSurface() {
  if (back_) back_->ToMemoryImage();
  Invalidate();
}

}  // namespace zirk
