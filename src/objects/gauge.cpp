#include "objects/gauge.h"

#include <algorithm>
#include <cmath>

#include "base/records.h"
#include "objects/strips.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

int32_t truncated(double v) {
  return static_cast<int32_t>(std::clamp(std::trunc(v), double(INT32_MIN), double(INT32_MAX)));
}

int32_t nearest(double v) {
  return static_cast<int32_t>(std::clamp(std::nearbyint(v), double(INT32_MIN), double(INT32_MAX)));
}

}  // namespace

TZirkGauge::TZirkGauge(TZirkBaseList& scene) : TZirkControl(scene) {}

TZirkGauge::~TZirkGauge() = default;

int32_t TZirkGauge::Value() const {
  return BoundedValue(value_, min_, max_);
}

void TZirkGauge::setSource(const std::string& name) {
  if (name == source_) return;
  Invalidate();
  source_ = name;
  LeaseStrip(image_, name, [this] { resize(); });
}

void TZirkGauge::resize() {
  sizeX_ = image_ ? image_->Width / 2 : 0;
  sizeY_ = image_ ? image_->Height : 0;
  if (barSize_ > 0) (vertical() ? sizeY_ : sizeX_) = barSize_;
  SetPropInt(PR_WIDTH, sizeX_);
  SetPropInt(PR_HEIGHT, sizeY_);
}

void TZirkGauge::rangeChanged() {
  lost_ = 0;
  shown_ = Value();
}

void TZirkGauge::setValue(int32_t value) {
  if (value == value_) return;
  const int32_t before = Value();
  value_ = value;
  const int32_t after = Value();
  if (before <= after) {
    lost_ = 0;
    accumulator_ = shown_;
    phase_ = kGrowing;
  } else {
    shown_ = after;
    lost_ = Saturate32(int64_t{before} - after);
    accumulator_ = lost_;
    holdCountdown_ = hold_;
    phase_ = kLosing;
  }
  Invalidate();
}

void TZirkGauge::setShown(int32_t shown) {
  if (shown == shown_) return;
  shown_ = shown;
  Invalidate();
}

void TZirkGauge::finish() {
  shown_ = Value();
  lost_ = 0;
  phase_ = kStill;
  Invalidate();
}

double TZirkGauge::sweepStep() const {
  const int64_t range = int64_t{max_} - min_;
  if (sweep_ <= 0 || range <= 0) return 0;
  return double(range) / sweep_ * Scene().FrameInterval();
}

bool TZirkGauge::Tick() {
  const bool done = TZirkControl::Tick();
  const double step = sweepStep();
  if (phase_ == kLosing) {
    if (holdCountdown_ >= 1) {
      holdCountdown_ = Saturate32(int64_t{holdCountdown_} - Scene().FrameInterval());
    } else if (step > 0) {
      accumulator_ -= step;
      const int32_t lost = truncated(accumulator_);
      if (lost != lost_) {
        lost_ = lost;
        Invalidate();
      }
      if (lost_ < 1) finish();
      Invalidate();
    } else {
      finish();
    }
  } else if (phase_ == kGrowing) {
    if (step > 0) {
      accumulator_ += step;
      setShown(truncated(accumulator_));
      if (Value() <= shown_) finish();
      Invalidate();
    } else {
      finish();
    }
  }
  return done;
}

void TZirkGauge::Draw() {
  if (Width() == 0 || Height() == 0 || !image_) return;
  TCustomDIBX* target = GetDrawSurface();
  if (!target || !image_->Frame(0) || !RectsOverlap(GetScreenRect(), target->GetClipRect())) return;
  const int32_t cw = image_->Width / 2, h = image_->Height;
  if (cw >= 1 && h >= 1) {
    const int64_t length = vertical() ? sizeY_ : sizeX_;
    const double range = double(int64_t{max_} - min_);
    const int64_t bar = range > 0 ? nearest(double(length) * (double(shown_) - min_) / range) : 0;
    const int64_t lost = range > 0 ? nearest(double(length) * lost_ / range) : 0;
    const TPoint drawPos = GetDrawPos();
    const int64_t left = drawPos.X, top = drawPos.Y;
    auto tile = [&](int64_t x, int64_t y, int64_t w, int64_t hh, int32_t cell, int64_t offsetX,
                    int64_t offsetY, bool flipH, bool flipV) {
      const TRect dest = Bounds(Saturate32(x), Saturate32(y), Saturate32(w), Saturate32(hh));
      TileStripCell(image_, 2, cell, *target, dest, Saturate32(offsetX), Saturate32(offsetY), flipH,
                    flipV, alpha_);
    };
    if (!vertical()) {
      // A reversed bar grows from the right end, mirrored.
      const int64_t x = reverse_ ? left + length - bar : left;
      tile(x, top, bar, h, 0, 0, 0, reverse_, false);
      tile(reverse_ ? x - lost : x + bar, top, lost, h, 1, bar, 0, reverse_, false);
    } else {
      // Both parts keep the pattern anchored where the bar starts.
      const int64_t barOffset = h - bar % h, lostOffset = h - (bar + lost) % h;
      if (reverse_) {
        tile(left, top, cw, bar, 0, 0, barOffset, false, true);
        tile(left, top + bar, cw, lost, 1, 0, lostOffset, false, true);
      } else {
        tile(left, top + length - bar, cw, bar, 0, 0, barOffset, false, false);
        tile(left, top + length - bar - lost, cw, lost, 1, 0, lostOffset, false, false);
      }
    }
  }
  TZirkControl::Draw();
}

const TPropTable& TZirkGauge::Properties() const {
  using P = TPropField<TZirkGauge>;
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkGauge::source_).Set(&TZirkGauge::setSource),
          P(PR_MIN, &TZirkGauge::min_, TPropChange::Redraw).Then(&TZirkGauge::rangeChanged),
          P(PR_MAX, &TZirkGauge::max_, TPropChange::Redraw).Then(&TZirkGauge::rangeChanged),
          P(PR_VALUE, &TZirkGauge::value_).Get(&TZirkGauge::Value).Set(&TZirkGauge::setValue),
          P(PR_ALPHA, &TZirkGauge::alpha_, TPropChange::Redraw),
          P(PR_REVERSE, &TZirkGauge::reverse_, TPropChange::Redraw),
          P(PR_ORIENTATION, &TZirkGauge::orientation_).Then(&TZirkGauge::resize),
          P(PR_BARSIZE, &TZirkGauge::barSize_).Then(&TZirkGauge::resize),
          P(PR_PAUSED, &TZirkGauge::paused_),
          P(PR_DELAY, &TZirkGauge::sweep_),
          P(PR_DURATION, &TZirkGauge::hold_),
          P(PR_ONIDLE, &TZirkGauge::onIdle_),
          P(PR_PLAYING).Get([](TZirkGauge& g) { return g.phase_ != kStill; }),
      });
  return table;
}

void TZirkGauge::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  for (int32_t v : {min_, max_, value_, alpha_}) out.Int(v);
  out.Bool(paused_);
  out.Byte(orientation_);
  out.Int(sweep_);
  out.Int(hold_);
  out.Bool(reverse_);
  out.Str(onIdle_);
  out.Int(barSize_);
}

void TZirkGauge::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved gauge record");
  setSource(in.Str());
  for (int32_t* v : {&min_, &max_, &value_, &alpha_}) *v = in.Int();
  paused_ = in.Bool();
  orientation_ = in.Byte();
  sweep_ = in.Int();
  hold_ = in.Int();
  reverse_ = in.Bool();
  onIdle_ = in.From(125, onIdle_);
  if (in.Has(128)) SetPropInt(PR_BARSIZE, in.Int());
  // A loaded gauge shows its value without animation.
  shown_ = Value();
  lost_ = 0;
  phase_ = kStill;
  InvalidateTree();
}

void RegisterZirkGauge() {
  RegisterKind(LT_GAUGE, [](TZirkBaseList& scene) { return std::make_unique<TZirkGauge>(scene); });
}

}  // namespace zirk
