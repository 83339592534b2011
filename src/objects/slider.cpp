#include "objects/slider.h"

#include <algorithm>
#include <cmath>

#include "base/records.h"
#include "objects/strips.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

const TDorvItemFrame* firstFrame(const TDorvLease& image) {
  return image ? image->Frame(0) : nullptr;
}

}  // namespace

TZirkSlider::TZirkSlider(TZirkBaseList& scene) : TZirkControl(scene) {}

// Script values are arbitrary: rectangles are summed in 64 bits.
TRect TZirkSlider::box(int64_t x, int64_t y, int64_t w, int64_t h) {
  return Bounds(Saturate32(x), Saturate32(y), Saturate32(w), Saturate32(h));
}

TZirkSlider::~TZirkSlider() {
  Invalidate();
}

int32_t TZirkSlider::Value() const {
  return BoundedValue(value_, min_, max_);
}

// --- strips and size ------------------------------------------------------------------

void TZirkSlider::setStrip(TStrip strip, const std::string& name) {
  std::string& field = strip == kTrack ? source_ : strip == kThumb ? thumbSource_ : buttonSource_;
  TDorvLease& image = strip == kTrack ? track_ : strip == kThumb ? thumb_ : buttons_;
  if (name == field) return;
  Invalidate();
  field = name;
  // The size follows what is held, even when the new picture failed.
  LeaseStrip(image, name, [this] {
    recomputeTrack();
    Resize();
  });
}

void TZirkSlider::recomputeTrack() {
  auto cell = [](const TDorvLease& image, int32_t cells, int32_t& w, int32_t& h) {
    w = image ? image->Width / cells : 0;
    h = image ? image->Height : 0;
  };
  cell(track_, 2, cells_.TrackW, cells_.TrackH);
  cell(thumb_, 3, cells_.ThumbW, cells_.ThumbH);
  cell(buttons_, 6, cells_.ButtonW, cells_.ButtonH);
  if (barSize_ > 0) (Vertical() ? cells_.TrackH : cells_.TrackW) = barSize_;
}

void TZirkSlider::Resize() {
  const TCells& c = cells_;
  int64_t w = 0, h = 0;
  if (c.TrackW >= 1 && c.TrackH >= 1) {
    if (Vertical()) {
      w = std::max({c.TrackW, c.ThumbW, c.ButtonW});
      h = int64_t{c.TrackH} + thumbOverhang() + 2 * int64_t{c.ButtonH};
    } else {
      w = int64_t{c.TrackW} + thumbOverhang() + 2 * int64_t{c.ButtonW};
      h = std::max({c.TrackH, c.ThumbH, c.ButtonH});
    }
  }
  SetPropInt(PR_WIDTH, Saturate32(w));
  SetPropInt(PR_HEIGHT, Saturate32(h));
  UpdateThumb();
}

void TZirkSlider::setThumbPos(int32_t position) {
  if (position == thumbPos_) return;
  thumbPos_ = position;
  Invalidate();
}

void TZirkSlider::UpdateThumb() {
  const int64_t range = int64_t{max_} - min_;
  if (range <= 0) {
    setThumbPos(0);
    return;
  }
  const double p = double(int64_t{Value()} - min_) / double(range) * double(travel());
  setThumbPos(Saturate32(static_cast<int64_t>(std::nearbyint(p))));
}

// --- geometry ---------------------------------------------------------------------------

TRect TZirkSlider::GetTrackRect() {
  const TCells& c = cells_;
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y;
  const int64_t start = int64_t{Vertical() ? c.ButtonH : c.ButtonW} + thumbOverhang() / 2;
  if (Vertical())
    return box(left + (int64_t{Width()} - c.TrackW) / 2, top + start, c.TrackW, c.TrackH);
  return box(left + start, top + (int64_t{Height()} - c.TrackH) / 2, c.TrackW, c.TrackH);
}

TRect TZirkSlider::GetThumbRect() {
  const TCells& c = cells_;
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y;
  if (Vertical())
    return box(left + (int64_t{Width()} - c.ThumbW) / 2,
               top + c.ButtonH + int64_t{c.TrackH} - thumbPos_, c.ThumbW, c.ThumbH);
  return box(left + c.ButtonW + int64_t{thumbPos_}, top + (int64_t{Height()} - c.ThumbH) / 2,
             c.ThumbW, c.ThumbH);
}

TRect TZirkSlider::GetButtonRect(int32_t index) {
  const TCells& c = cells_;
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y;
  const bool second = index != 0;
  if (Vertical())
    return box(left + (int64_t{Width()} - c.ButtonW) / 2, second ? top + Height() - c.ButtonH : top,
               c.ButtonW, c.ButtonH);
  return box(second ? left + Width() - c.ButtonW : left, top + (int64_t{Height()} - c.ButtonH) / 2,
             c.ButtonW, c.ButtonH);
}

// --- hit tests ----------------------------------------------------------------------------

bool TZirkSlider::maskAt(const TDorvLease& image, int32_t x, int32_t y) {
  const TDorvItemFrame* frame = firstFrame(image);
  if (!frame || !frame->MaskSurface) return true;
  return frame->MaskSurface->GetPixel(x, y) >= 128;
}

bool TZirkSlider::thumbHit(int32_t x, int32_t y) {
  const TRect r = GetThumbRect();
  if (!r.Contains({x, y})) return false;
  return !captureMask_ || maskAt(thumb_, x - r.Left, y - r.Top);
}

bool TZirkSlider::trackHit(int32_t x, int32_t y) {
  const TRect r = GetTrackRect();
  return r.Contains({x, y}) && maskAt(track_, x - r.Left, y - r.Top);
}

bool TZirkSlider::buttonHit(int32_t index, int32_t x, int32_t y) {
  const TRect r = GetButtonRect(index);
  if (!r.Contains({x, y})) return false;
  const int64_t cell = int64_t{index} * 3 * cells_.ButtonW;
  return maskAt(buttons_, Saturate32(int64_t{x} - r.Left + cell), y - r.Top);
}

// --- values ---------------------------------------------------------------------------------

std::optional<int32_t> TZirkSlider::valueAt(int64_t pixel, int64_t span) const {
  // A thumb without room to travel has no value under the mouse.
  if (span <= 0) return std::nullopt;
  const double v =
      double(min_) + std::nearbyint(double(int64_t{max_} - min_) / double(span) * double(pixel));
  const int32_t low = std::min(min_, max_);
  return static_cast<int32_t>(std::clamp(v, double(low), double(std::max(min_, max_))));
}

void TZirkSlider::setValueNotify(int64_t v) {
  const int32_t bounded = BoundedValue(v, min_, max_);
  if (bounded == Value()) return;
  SetPropInt(PR_VALUE, bounded);
  QueueEvent(PR_ONNOTIFY, {std::to_string(bounded)});
}

void TZirkSlider::setState(int32_t& state, int32_t value) {
  if (state == value) return;
  state = value;
  Invalidate();
}

void TZirkSlider::updateLitStates(int32_t x, int32_t y) {
  const bool live = int64_t{max_} - min_ > 0 && IgnoreMouse() != IM_ALL && !paused_;
  setState(thumbState_, live && thumbHit(x, y) ? 1 : 0);
  for (int32_t i = 0; i < 2; ++i)
    setState(buttonState_[static_cast<size_t>(i)], live && buttonHit(i, x, y) ? 1 : 0);
}

// --- mouse ----------------------------------------------------------------------------------

void TZirkSlider::takePress() {
  if (TZirkBase* screen = GetScreen()) screen->CaptureMouse(this);
}

int32_t TZirkSlider::thumbGrab(int32_t x, int32_t y) {
  const TRect r = GetThumbRect();
  return Vertical() ? Saturate32(int64_t{y} - (int64_t{r.Top} + cells_.ThumbH / 2))
                    : Saturate32(int64_t{x} - (int64_t{r.Left} + cells_.ThumbW / 2));
}

std::optional<int32_t> TZirkSlider::dragValue(int32_t x, int32_t y) {
  const TRect t = GetTrackRect();
  // The value grows upward, and the top pixel is one short of the end.
  if (Vertical())
    return valueAt(int64_t{cells_.TrackH} - 1 - (int64_t{y} - t.Top - grab_), travel());
  return valueAt(int64_t{x} - t.Left - grab_, travel());
}

void TZirkSlider::trackPressed(int32_t x, int32_t y) {
  if (!trackHit(x, y)) return;
  QueueEvent(PR_ONHOLD);
  setState(thumbState_, 2);
  dragMode_ = kThumbDrag;
  grab_ = 0;
  takePress();
  if (std::optional<int32_t> v = dragValue(x, y)) setValueNotify(*v);
}

void TZirkSlider::LButtonDown(int32_t x, int32_t y) {
  TZirkControl::LButtonDown(x, y);
  const int32_t im = IgnoreMouse();
  if (dragMode_ != kIdle || (im != IM_NONE && im != IM_RCLICK) || int64_t{max_} - min_ < 1) return;
  if (thumbState_ == 1) {
    QueueEvent(PR_ONHOLD);
    grab_ = thumbGrab(x, y);
    setState(thumbState_, 2);
    dragMode_ = kThumbDrag;
    takePress();
    return;
  }
  if (buttonState_[0] != 1 && buttonState_[1] != 1) {
    trackPressed(x, y);
    return;
  }
  const int32_t i = buttonState_[0] == 1 ? 0 : 1;
  setState(buttonState_[static_cast<size_t>(i)], 2);
  holdCountdown_ = static_cast<int32_t>(TZirkBaseList::KeyRepeatDelay);
  dragMode_ = kFirstButton + i;
  takePress();
  setValueNotify(int64_t{Value()} + buttonStep(i));
}

int64_t TZirkSlider::buttonStep(int32_t index) {
  // With the value growing upward the first (top) button adds.
  const bool adds = (index == 0) == IsValueUpward();
  return adds ? int64_t{smallChange_} : -int64_t{smallChange_};
}

void TZirkSlider::MouseMove(int32_t x, int32_t y) {
  if (dragMode_ == kIdle) {
    updateLitStates(x, y);
  } else if (dragMode_ == kThumbDrag) {
    if (std::optional<int32_t> v = dragValue(x, y)) setValueNotify(*v);
  }
  TZirkControl::MouseMove(x, y);
}

void TZirkSlider::MouseOut() {
  if (dragMode_ == kIdle) {
    setState(thumbState_, 0);
    setState(buttonState_[0], 0);
    setState(buttonState_[1], 0);
  }
  TZirkControl::MouseOut();
}

void TZirkSlider::LButtonUp(int32_t x, int32_t y) {
  TZirkControl::LButtonUp(x, y);
  if (dragMode_ < kThumbDrag || dragMode_ > kPageToEnd) return;
  if (dragMode_ == kThumbDrag) QueueEvent(PR_ONRELEASE);
  updateLitStates(x, y);
  setTrackHeld(false);
  dragMode_ = kIdle;
}

void TZirkSlider::setTrackHeld(bool held) {
  if (held == trackHeld_) return;
  trackHeld_ = held;
  Invalidate();
}

bool TZirkSlider::holdElapsed() {
  holdCountdown_ = Saturate32(int64_t{holdCountdown_} - Scene().FrameInterval());
  if (holdCountdown_ >= 1) return false;
  holdCountdown_ += static_cast<int32_t>(TZirkBaseList::KeyRepeatInterval);
  return true;
}

void TZirkSlider::CaptureTick() {
  if (dragMode_ == kPageToStart || dragMode_ == kPageToEnd) {
    pageTick();
    return;
  }
  if (dragMode_ != kFirstButton && dragMode_ != kSecondButton) return;
  if (!holdElapsed()) return;
  const int32_t i = dragMode_ - kFirstButton;
  TZirkBase* screen = GetScreen();
  const TPoint p = screen ? screen->MousePos() : TPoint{-1, -1};
  int32_t& state = buttonState_[static_cast<size_t>(i)];
  setState(state, buttonHit(i, p.X, p.Y) ? 2 : 0);
  if (state == 2) setValueNotify(int64_t{Value()} + buttonStep(i));
}

// --- keys -------------------------------------------------------------------------------------

void TZirkSlider::KeyRepeat(int32_t vk) {
  const int32_t up = increaseKey(), down = decreaseKey();
  const int32_t key = firstKey(vk, {{up, false, Value() < max_}, {down, false, Value() > min_}});
  if (key == up)
    setValueNotify(int64_t{Value()} + smallChange_);
  else if (key == down)
    setValueNotify(int64_t{Value()} - smallChange_);
  TZirkControl::KeyRepeat(vk);
}

// --- drawing ------------------------------------------------------------------------------------

void TZirkSlider::Draw() {
  if (Width() == 0 || Height() == 0) return;
  TCustomDIBX* target = GetDrawSurface();
  if (!target || !RectsOverlap(GetScreenRect(), target->GetClipRect())) return;
  DrawSlider();
  TZirkControl::Draw();
}

void TZirkSlider::tileTrack(const TRect& dest, int32_t cell, int32_t offsetX, int32_t offsetY) {
  if (TCustomDIBX* target = GetDrawSurface())
    TileStripCell(track_, 2, cell, *target, dest, offsetX, offsetY, false, false, alpha_);
}

void TZirkSlider::DrawSlider() {
  if (!track_ || track_->Height < 1) return;
  const TCells& c = cells_;
  const int32_t cw = track_->Width / 2, h = track_->Height;
  const TPoint drawPos = GetDrawPos();
  const int64_t left = drawPos.X, top = drawPos.Y, pos = thumbPos_;
  if (Vertical()) {
    // Both parts keep the pattern anchored at the bottom end of the track.
    const int64_t x = left + (int64_t{Width()} - c.TrackW) / 2;
    const int64_t y0 = top + c.ButtonH + c.ThumbH / 2;
    if (pos > 0) tileTrack(box(x, y0 + c.TrackH - pos, cw, pos), 1, 0, h - thumbPos_ % h);
    if (c.TrackH - pos > 0) tileTrack(box(x, y0, cw, c.TrackH - pos), 0, 0, h - c.TrackH % h);
  } else {
    const int64_t x0 = left + c.ButtonW + c.ThumbW / 2;
    const int64_t y = top + (int64_t{Height()} - c.TrackH) / 2;
    if (pos > 0) tileTrack(box(x0, y, pos, c.TrackH), 1, 0, 0);
    if (c.TrackW - pos > 0) tileTrack(box(x0 + pos, y, c.TrackW - pos, c.TrackH), 0, thumbPos_, 0);
  }
  drawThumbAndButtons();
}

void TZirkSlider::drawThumbAndButtons() {
  TCustomDIBX* target = GetDrawSurface();
  if (!target) return;
  const TCells& c = cells_;
  const TDorvItemFrame* thumb = firstFrame(thumb_);
  if (thumb && c.ThumbW >= 1 && c.ThumbH >= 1 && int64_t{max_} - min_ >= 1) {
    const TRect r = GetThumbRect();
    DrawDorvFrame(*thumb, *target, r.Left, r.Top,
                  Bounds(thumbState_ * c.ThumbW, 0, c.ThumbW, c.ThumbH), false, false, alpha_);
  }
  const TDorvItemFrame* buttons = firstFrame(buttons_);
  if (!buttons || c.ButtonW < 1 || c.ButtonH < 1) return;
  for (int32_t i = 0; i < 2; ++i) {
    const TRect r = GetButtonRect(i);
    const int32_t cell = 3 * i + buttonState_[static_cast<size_t>(i)];
    DrawDorvFrame(*buttons, *target, r.Left, r.Top,
                  Bounds(cell * c.ButtonW, 0, c.ButtonW, c.ButtonH), false, false, alpha_);
  }
}

// --- properties -------------------------------------------------------------------------------

const TPropTable& TZirkSlider::Properties() const {
  using P = TPropField<TZirkSlider>;
  auto strip = [](TStrip which) {
    return [which](TZirkSlider& s, const std::string& name) { s.setStrip(which, name); };
  };
  auto reshape = [](TZirkSlider& s) {
    s.recomputeTrack();
    s.Resize();
  };
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkSlider::source_).Set(strip(kTrack)),
          P(PR_THUMBSOURCE, &TZirkSlider::thumbSource_).Set(strip(kThumb)),
          P(PR_BUTTONSOURCE, &TZirkSlider::buttonSource_).Set(strip(kButtons)),
          P(PR_MIN, &TZirkSlider::min_).Then(&TZirkSlider::UpdateThumb),
          P(PR_MAX, &TZirkSlider::max_).Then(&TZirkSlider::UpdateThumb),
          P(PR_VALUE, &TZirkSlider::value_)
              .Get(&TZirkSlider::Value)
              .Then(&TZirkSlider::UpdateThumb),
          P(PR_ALPHA, &TZirkSlider::alpha_, TPropChange::Redraw),
          P(PR_PAUSED, &TZirkSlider::paused_),
          P(PR_ORIENTATION, &TZirkSlider::orientation_).Then(reshape),
          P(PR_BARSIZE, &TZirkSlider::barSize_).Then(reshape),
          P(PR_SMALLCHANGE, &TZirkSlider::smallChange_),
          P(PR_CAPTUREMASK, &TZirkSlider::captureMask_),
          P(PR_ONNOTIFY, &TZirkSlider::onNotify_),
          P(PR_ONHOLD, &TZirkSlider::onHold_),
          P(PR_ONRELEASE, &TZirkSlider::onRelease_),
          P(PR_ONIDLE, &TZirkSlider::onIdle_),
      });
  return table;
}

// --- save record -------------------------------------------------------------------------------

void TZirkSlider::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  for (const std::string* s : {&source_, &thumbSource_, &buttonSource_}) out.Str(*s);
  for (int32_t v : {min_, max_, value_, smallChange_, alpha_}) out.Int(v);
  out.Bool(paused_);
  out.Byte(orientation_);
  for (const std::string* s : {&onNotify_, &onHold_, &onRelease_, &onIdle_}) out.Str(*s);
  out.Bool(captureMask_);
  out.Int(barSize_);
}

void TZirkSlider::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved slider record");
  for (TStrip strip : {kTrack, kThumb, kButtons}) setStrip(strip, in.Str());
  for (int32_t* v : {&min_, &max_, &value_, &smallChange_, &alpha_}) *v = in.Int();
  paused_ = in.Bool();
  orientation_ = in.Byte();
  for (std::string* s : {&onNotify_, &onHold_, &onRelease_, &onIdle_}) *s = in.Str();
  captureMask_ = in.From<bool>(119, captureMask_);
  if (in.Has(128)) SetPropInt(PR_BARSIZE, in.Int());
  recomputeTrack();
  Resize();
}

void RegisterZirkSlider() {
  RegisterKind(LT_SLIDER,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkSlider>(scene); });
}

}  // namespace zirk
