#include "objects/wave.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zbase.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// Phases run through 255 values, not 256.
constexpr int64_t kPhaseCycle = 255;

int32_t magnitude(int32_t v) {
  return v == INT32_MIN ? INT32_MAX : std::abs(v);
}

TRect widened(const TRect& r, int32_t by) {
  return {Saturate32(int64_t(r.Left) - by), r.Top, Saturate32(int64_t(r.Right) + by), r.Bottom};
}

}  // namespace

TZirkWave::TZirkWave(TZirkBaseList& scene) : TZirkControl(scene) {}

TZirkWave::~TZirkWave() = default;

TCustomDIBX* TZirkWave::GetDrawSurface() {
  if (amplitude_ == 0) return TZirkControl::GetDrawSurface();
  if (TZirkBase* screen = GetScreen()) wave_.Target = screen->BackSurface();
  return wave_.Target ? &wave_ : nullptr;
}

void TZirkWave::followGeometry() {
  wave_.LeftOrigin = GetDrawLeft();
  wave_.TopOrigin = GetDrawTop();
  // Lines past any screen stay straight rather than cost an offset each.
  const int32_t lines = std::clamp(Height(), 0, kMaxLines);
  if (wave_.Height() != lines || wave_.Width() != std::max(Width(), 0))
    wave_.SetSize(Width(), lines, 0);
}

int32_t TZirkWave::reach() const {
  return std::max(magnitude(amplitude_), drawnReach_);
}

bool TZirkWave::Tick() {
  TZirkBase* screen = GetScreen();
  wave_.Target = screen ? screen->BackSurface() : nullptr;
  const bool done = TZirkControl::Tick();
  followGeometry();
  if (GetPropInt(PR_ANIPAUSED) != 0) return done;
  const int64_t t = int64_t(ElapsedTime()) * 256 + remainder_;
  const int64_t steps = t / period_;
  remainder_ = static_cast<int32_t>(t % period_);
  if (steps == 0) return done;
  phase_ = static_cast<int32_t>(((phase_ - steps) % kPhaseCycle + kPhaseCycle) % kPhaseCycle);
  const double step = 2 * std::numbers::pi / waveLength_;
  double angle = double(int64_t(waveLength_) * phase_) / 256 * step;
  bool changed = false;
  for (int32_t& offset : wave_.Offsets) {
    const int32_t v = Saturate32(int64_t(std::nearbyint(amplitude_ * std::sin(angle))));
    changed = changed || v != offset;
    offset = v;
    angle += step;
  }
  if (changed) Invalidate();
  return done;
}

void TZirkWave::Invalidate() {
  invalidateScreenRect(widened(GetScreenRect(), reach()));
  drawnReach_ = magnitude(amplitude_);
}

void TZirkWave::ChildInvalidated(TRect& r) {
  r = widened(r, reach());
}

void TZirkWave::Draw() {
  drawnReach_ = std::max(drawnReach_, magnitude(amplitude_));
  if (TZirkBase* screen = GetScreen()) {
    wave_.Target = screen->BackSurface();
    // The screen's bounds, kept narrowed to the wave's own clip when the
    // paint set one.
    TRect clip;
    if (wave_.Target && IntersectRect(clip, wave_.GetClipRect(), wave_.Target->GetBoundsRect()))
      wave_.SetClipRect(clip);
    else
      return;
  }
  TZirkControl::Draw();
}

const TPropTable& TZirkWave::Properties() const {
  using P = TPropField<TZirkWave>;
  // Position and size reach the distortion surface after the control's own
  // setter.
  auto geometry = [](int id) {
    return P(id).Set([id](TZirkWave& w, const TCustomParam& v) {
      w.TZirkControl::Properties().Set(w, id, v);
      w.followGeometry();
    });
  };
  static const TPropTable table(TZirkControl::Properties(),
                                {
                                    geometry(PR_LEFT),
                                    geometry(PR_TOP),
                                    geometry(PR_WIDTH),
                                    geometry(PR_HEIGHT),
                                    P(PR_DELAY, &TZirkWave::period_).Clamp(1, INT32_MAX),
                                    P(PR_PAUSED, &TZirkWave::paused_),
                                    P(PR_AMP, &TZirkWave::amplitude_),
                                    P(PR_WAVELEN, &TZirkWave::waveLength_).Clamp(1, INT32_MAX),
                                    P(PR_ONIDLE, &TZirkWave::onIdle_),
                                    P(PR_PLAYING).Get([](TZirkWave& w) {
                                      return !w.paused_ && w.GetPropInt(PR_ANIPAUSED) == 0;
                                    }),
                                });
  return table;
}

void TZirkWave::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(amplitude_);
  out.Int(waveLength_);
  out.Int(period_);
  out.Str(onIdle_);
  out.Bool(paused_);
}

void TZirkWave::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved wave record");
  amplitude_ = in.Int();
  // Both divide the phase arithmetic: a damaged 0 counts as 1.
  waveLength_ = std::max(in.Int(), 1);
  period_ = std::max(in.Int(), 1);
  followGeometry();
  if (in.Has(104)) {
    onIdle_ = in.Str();
    paused_ = in.Bool();
  }
  phase_ = 0;
  remainder_ = 0;
}

void RegisterZirkWave() {
  RegisterKind(LT_WAVE, [](TZirkBaseList& scene) { return std::make_unique<TZirkWave>(scene); });
}

}  // namespace zirk
