#include "objects/scrollbar.h"

#include <algorithm>

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

using pixelmath::Saturate32;

// The thumb travels inside the track.
int64_t TZirkScrollbar::travel() const {
  const TCells& c = cells();
  return Vertical() ? int64_t{c.TrackH} - c.ThumbH : int64_t{c.TrackW} - c.ThumbW;
}

TRect TZirkScrollbar::GetThumbRect() {
  const TCells& c = cells();
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y;
  if (Vertical())
    return box(left + (int64_t{Width()} - c.ThumbW) / 2, top + c.ButtonH + int64_t{thumbPos()},
               c.ThumbW, c.ThumbH);
  return box(left + c.ButtonW + int64_t{thumbPos()}, top + (int64_t{Height()} - c.ThumbH) / 2,
             c.ThumbW, c.ThumbH);
}

int32_t TZirkScrollbar::thumbGrab(int32_t x, int32_t y) {
  const TRect r = GetThumbRect();
  return Vertical() ? Saturate32(int64_t{y} - r.Top) : Saturate32(int64_t{x} - r.Left);
}

std::optional<int32_t> TZirkScrollbar::dragValue(int32_t x, int32_t y) {
  const TRect t = GetTrackRect();
  const int64_t pixel = Vertical() ? int64_t{y} - t.Top - grab() : int64_t{x} - t.Left - grab();
  return valueAt(pixel, travel());
}

void TZirkScrollbar::trackPressed(int32_t x, int32_t y) {
  if (!trackHit(x, y)) return;
  setTrackHeld(true);
  setHoldCountdown(static_cast<int32_t>(TZirkBaseList::KeyRepeatDelay));
  const TRect thumb = GetThumbRect();
  const bool toEnd = Vertical() ? thumb.Top < y : thumb.Left < x;
  setDragMode(toEnd ? kPageToEnd : kPageToStart);
  takePress();
  setValueNotify(int64_t{Value()} + (toEnd ? largeChange_ : -int64_t{largeChange_}));
}

bool TZirkScrollbar::thumbReached(int32_t x, int32_t y) {
  const TRect t = GetThumbRect();
  if (DragMode() == kPageToStart) return Vertical() ? t.Top <= y : t.Left <= x;
  return Vertical() ? t.Bottom > y : t.Right > x;
}

void TZirkScrollbar::pageTick() {
  if (!holdElapsed()) return;
  TZirkBase* screen = GetScreen();
  const TPoint p = screen ? screen->MousePos() : TPoint{-1, -1};
  bool moved = false;
  if (trackHit(p.X, p.Y) && !thumbReached(p.X, p.Y)) {
    const bool toEnd = DragMode() == kPageToEnd;
    setValueNotify(int64_t{Value()} + (toEnd ? largeChange_ : -int64_t{largeChange_}));
    moved = true;
  }
  setTrackHeld(moved);
}

void TZirkScrollbar::DrawSlider() {
  const TDorvLease& image = trackImage();
  if (!image || image->Height < 1) return;
  const TCells& c = cells();
  const int32_t cw = image->Width / 2, h = image->Height;
  const int64_t length = Vertical() ? c.TrackH : c.TrackW;
  // While paging the track splits at the thumb's middle, the paged side in
  // the second cell; otherwise the whole track shows the first.
  const bool paging = (DragMode() == kPageToStart || DragMode() == kPageToEnd) && TrackHeld();
  int64_t split = length;
  int32_t first = 0;
  if (paging) {
    split = std::min<int64_t>(int64_t{thumbPos()} + (Vertical() ? c.ThumbH : c.ThumbW) / 2, length);
    first = DragMode() == kPageToStart ? 1 : 0;
  }
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y;
  const int32_t offset = Saturate32(split);
  if (Vertical()) {
    const int64_t x = left + (int64_t{Width()} - c.TrackW) / 2, y0 = top + c.ButtonH;
    if (split > 0) tileTrack(box(x, y0, cw, split), first, 0, 0);
    if (length - split > 0) tileTrack(box(x, y0 + split, cw, length - split), 1 - first, 0, offset);
  } else {
    const int64_t x0 = left + c.ButtonW, y = top + (int64_t{Height()} - c.TrackH) / 2;
    if (split > 0) tileTrack(box(x0, y, split, h), first, 0, 0);
    if (length - split > 0) tileTrack(box(x0 + split, y, length - split, h), 1 - first, offset, 0);
  }
  drawThumbAndButtons();
}

const TPropTable& TZirkScrollbar::Properties() const {
  using P = TPropField<TZirkScrollbar>;
  static const TPropTable table(TZirkSlider::Properties(),
                                {P(PR_LARGECHANGE, &TZirkScrollbar::largeChange_)});
  return table;
}

void TZirkScrollbar::SaveToStream(TKwStream& stream) {
  TZirkSlider::SaveToStream(stream);
  TRecordWriter(stream).Int(largeChange_);
}

void TZirkScrollbar::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkSlider::LoadFromStream(stream, version);
  largeChange_ = TRecordReader(stream, version, "saved scroll bar record").Int();
}

void RegisterZirkScrollbar() {
  RegisterKind(LT_SCROLLBAR,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkScrollbar>(scene); });
}

}  // namespace zirk
