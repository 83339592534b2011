#include "objects/particle.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/params.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;
constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kSpeedLimit = 2147483647.0;

// To the nearest integer (halves to even), saturated; NaN gives 0.
int32_t nearest(double v) {
  if (std::isnan(v)) return 0;
  return Saturate32(int64_t(std::clamp(std::nearbyint(v), -9.0e18, 9.0e18)));
}
// Toward zero, saturated; NaN gives 0.
int32_t trunc32(double v) {
  if (std::isnan(v)) return 0;
  return Saturate32(int64_t(std::clamp(std::trunc(v), -9.0e18, 9.0e18)));
}
int32_t plus(int32_t a, int64_t b) {
  return Saturate32(a + b);
}

}  // namespace

// --- the motion shared by the particles ---------------------------------------------------

bool TZirkMotionParticle::StepOwner(TZirkControl& owner, int32_t time) {
  SetTarget(owner);
  TFilmManager& film = Film();
  if (time == 0) film.BasePriority = owner.GetPriority();
  film.BasePoint = film.Relative ? TPoint{owner.Left(), owner.Top()} : TPoint{};
  const int32_t length = film.GetLength();
  int32_t frame = MsToFilmTicks(time);
  bool finished = false;
  if (frame >= length) {
    frame = length - 1;
    finished = true;
  }
  if (frame >= 0) film.SetFilmTime(frame);
  SetTime(time);
  if (finished) return true;
  if (auto* particle = dynamic_cast<TZirkParticleImages*>(&owner)) return particle->LeftEmitter();
  return false;
}

// --- one particle -------------------------------------------------------------------------

TZirkParticleImages::TZirkParticleImages(TZirkBaseList& scene, TZirkParticle& emitter)
    : TZirkCustomImages(scene), emitter_(&emitter) {}

TZirkParticleImages::~TZirkParticleImages() = default;

TZirkImageList* TZirkParticleImages::GetImageList() {
  return emitter_ ? &emitter_->ImageList() : nullptr;
}

TZirkMotionBase* TZirkParticleImages::GetMotion() {
  return motion_;
}

void TZirkParticleImages::Orphan() {
  // The pictures and the motion belong to the emitter.
  SetBackSurface(nullptr);
  SetMaskSurface(nullptr);
  setIndexField(-1);
  emitter_ = nullptr;
  motion_ = nullptr;
  dead_ = true;
}

int32_t TZirkParticleImages::drawLeft() {
  return Saturate32(int64_t(GetDrawLeft()) - parentOrigin().X);
}
int32_t TZirkParticleImages::drawTop() {
  return Saturate32(int64_t(GetDrawTop()) - parentOrigin().Y);
}
int32_t TZirkParticleImages::parentWidth() {
  return GetParent() ? GetParent()->GetPropInt(PR_WIDTH) : 0;
}
int32_t TZirkParticleImages::parentHeight() {
  return GetParent() ? GetParent()->GetPropInt(PR_HEIGHT) : 0;
}

void TZirkParticleImages::ParticleInit() {
  if (!emitter_) return;
  TEffectRandom& random = emitter_->Random();
  SetPropInt(PR_OFFSETX, Width() / 2);
  SetPropInt(PR_OFFSETY, Height() / 2);
  switch (mode_) {
    case PM_SNOW:
      centreX_ = Left();
      centreY_ = Top();
      a_ = 0;
      b_ = random.Real() * 0.02 + 0.02;
      if (p1_ <= 0) p1_ = 0.1L;
      if (p2_ < p3_) a_ = random.Real() * double(p3_ - p2_);
      break;
    case PM_STAR: {
      centreX_ = Left();
      centreY_ = Top();
      angle_ = random.Real() * kTwoPi;
      speed_ = double(p1_) + 0.1;
      SetPropInt(PR_LEFT, plus(nearest(std::cos(angle_) * speed_), centreX_));
      SetPropInt(PR_TOP, plus(nearest(std::sin(angle_) * speed_), centreY_));
      const double pw = parentWidth(), ph = parentHeight();
      const double edgeX = centreX_ >= pw / 2 ? 0 : pw;
      const double edgeY = centreY_ >= ph / 2 ? 0 : ph;
      edgeDistance_ = std::hypot(std::abs(edgeY - centreY_), std::abs(edgeX - centreX_));
      p3_ = random.Real() * p3_ * 0.3L + p3_ * 0.7L;
      break;
    }
    case PM_FLUFF:
      p2_ = random.Real() * (p3_ - p2_) + p2_;
      accX_ = Left();
      centreY_ = Top();
      break;
    case PM_TWISTER:
      centreX_ = Left();
      accY_ = Top();
      a_ = random.Real() * double(p2_ / 2 * 0.05L) + double(p2_ / 2 * 0.95L);
      speed_ = random.Real() * double(p3_ * 0.5L) + double(p3_ * 0.5L);
      break;
    default:
      break;
  }
}

void TZirkParticleImages::ParticleStep(int32_t n) {
  age_ = Saturate32(int64_t(age_) + int64_t(TZirkParticle::kFrameMs) * n);
  const double p1 = double(p1_), p2 = double(p2_), p3 = double(p3_);
  switch (mode_) {
    case PM_SNOW: {
      angle_ += n * b_;
      SetPropInt(PR_LEFT, plus(nearest(std::sin(angle_) * (p2 + a_)), centreX_));
      accY_ += n * p1;
      if (accY_ >= 1.0) {
        const int32_t whole = trunc32(accY_);
        SetPropInt(PR_TOP, plus(Top(), whole));
        accY_ -= whole;
      }
      if (!dead_) dead_ = parentHeight() <= drawTop();
      break;
    }
    case PM_STAR:
      if (n > 1) speed_ *= std::pow(p2, n - 1);
      if (speed_ > kSpeedLimit || speed_ < -kSpeedLimit) {
        dead_ = true;
        break;
      }
      SetPropInt(PR_LEFT, plus(nearest(std::cos(angle_) * speed_), centreX_));
      SetPropInt(PR_TOP, plus(nearest(std::sin(angle_) * speed_), centreY_));
      speed_ *= p2;
      if (!dead_) dead_ = edgeDistance_ <= speed_;
      angle_ += p3;
      break;
    case PM_FLUFF:
      accX_ += n * p2;
      SetPropInt(PR_LEFT, trunc32(accX_));
      accY_ += n;
      SetPropInt(PR_TOP, plus(centreY_, -int64_t(trunc32(p1 * accY_ * accY_))));
      if (!dead_) dead_ = LeftEmitter();
      break;
    case PM_TWISTER: {
      angle_ += n * speed_;
      if (angle_ >= kTwoPi) angle_ -= kTwoPi;
      const double s = std::abs(std::cos(angle_ / 2)) * 0.5 + 0.5;
      const int32_t zoom = nearest(s * 256);
      SetPropInt(PR_ZOOMX, zoom);
      SetPropInt(PR_ZOOMY, zoom);
      SetPropInt(PR_LEFT, plus(trunc32(std::sin(angle_) * a_ * s), centreX_));
      accY_ -= p1;
      SetPropInt(PR_TOP, trunc32(accY_));
      // Particles turned toward the viewer draw in front.
      SetPriority(nearest((s - 0.5) / 0.5 * 2000 - 1000));
      if (!dead_) dead_ = LeftEmitter();
      break;
    }
    default:
      dead_ = true;
      break;
  }
}

bool TZirkParticleImages::LeftEmitter() {
  const int64_t bottom = int64_t(drawTop()) + Height();
  switch (mode_) {
    case PM_SNOW:
      return parentHeight() <= drawTop();
    case PM_FLUFF:
      if (p2_ >= 0) return parentWidth() <= drawLeft() || bottom < 0;
      return int64_t(drawLeft()) + Width() < 0 || bottom < 0;
    case PM_TWISTER:
      return bottom < 0;
    default:
      return false;
  }
}

bool TZirkParticleImages::Tick() {
  if (!dead_) dead_ = motion_ ? motion_->StepOwner(*this, age_) : TZirkCustomImages::Tick();
  // The scene frees a dead particle, and its emitter lets go of it then.
  return dead_;
}

const TPropTable& TZirkParticleImages::Properties() const {
  using P = TPropField<TZirkParticleImages>;
  static const TPropTable table(TZirkCustomImages::Properties(),
                                {
                                    P(PR_REPEAT).Get([](TZirkParticleImages&) { return true; }),
                                    P(PR_PARTMOTION, &TZirkParticleImages::mode_),
                                });
  return table;
}

// --- the emitter ----------------------------------------------------------------------------

TZirkParticle::TZirkParticle(TZirkBaseList& scene)
    : TZirkControl(scene), random_(uint32_t(Serial())) {}

TZirkParticle::~TZirkParticle() {
  // Particles freed after the emitter (outside the scene's bottom-up
  // freeing) must not reach its pictures or motion.
  for (TZirkParticleImages* p : particles_) p->Orphan();
}

void TZirkParticle::SetParam(const TZirkParticleParam& param) {
  if (param_)
    *param_ = param;
  else
    param_ = std::make_unique<TZirkParticleParam>(param);
}

void TZirkParticle::SetBudget(TFilmBudget* budget) {
  if (budget == budget_) return;
  charge_.Release();
  budget_ = budget;
  chargeParticles();
}

void TZirkParticle::chargeParticles() {
  if (budget_) charge_.Take(*budget_, int64_t(particles_.size()) * kParticleBytes);
}

long double TZirkParticle::GetParam(int32_t index) const {
  return index >= 0 && index < 3 ? p_[index] : 0;
}

void TZirkParticle::SetParam(int32_t index, long double value) {
  if (index >= 0 && index < 3) p_[index] = value;
}

void TZirkParticle::SetMode(uint8_t mode) {
  if (mode == mode_) return;
  mode_ = mode;
  phase_ = kRestart;
}

void TZirkParticle::dropParticles() {
  // Freeing a particle takes it off the list (ChildRemoved), and the scene
  // keeps a tick in progress on the object after the ones removed.
  const std::vector<TZirkParticleImages*> living = particles_;
  for (TZirkParticleImages* p : living) Scene().FreeObject(p);
  for (TZirkParticleImages* p : particles_) p->Orphan();
  particles_.clear();
  chargeParticles();
  list_.Clear();
  motion_.reset();
}

void TZirkParticle::SetSource(const std::string& source) {
  if (source == source_) return;
  source_ = source;
  dropParticles();
  if (HasExtension(source, ".dor")) {
    list_.LoadImageFrames(source, false);
  } else if (HasExtension(source, ".zmt")) {
    motion_ = std::make_unique<TZirkMotionParticle>(*this);
    try {
      motion_->LoadMotion(source);
    } catch (const Exception&) {
      // A motion that cannot be read moves nothing.
      motion_.reset();
    }
  }
  phase_ = kRestart;
}

void TZirkParticle::ChildRemoved(TZirkObject* child) {
  auto it = std::find(particles_.begin(), particles_.end(), child);
  if (it == particles_.end()) return;
  TZirkParticleImages* p = *it;
  particles_.erase(it);
  chargeParticles();
  p->Orphan();
}

void TZirkParticle::spawn(int32_t& left) {
  int32_t x = 0, y = 0, interval = 16;
  if (param_) {
    x = plus(random_.Int(param_->XRange), param_->XMin);
    y = plus(random_.Int(param_->YRange), param_->YMin);
    interval = plus(random_.Int(param_->IntervalRange), param_->IntervalMin);
  } else {
    interval = exprInterval_.ExecuteExpression().value_or(16);
    x = exprX_.ExecuteExpression().value_or(0);
    y = exprY_.ExecuteExpression().value_or(0);
  }
  if (interval < 3) interval = 2;
  countdown_ = plus(countdown_, interval);
  left = plus(left, -int64_t(interval));

  const std::string mark(1, kHiddenNameChar);
  auto* p = Scene().Create<TZirkParticleImages>(
      this, Scene().MakeUniqueName(mark + GetName() + mark), *this);
  p->motion_ = motion_.get();
  p->SetPropInt(PR_IGNOREMOUSE, IM_ALL);
  particles_.push_back(p);
  chargeParticles();
  p->mode_ = mode_;
  p->SetPropInt(PR_LEFT, x);
  p->SetPropInt(PR_TOP, y);
  p->SetPropInt(PR_ALPHA, alpha_);
  p->p1_ = p_[0];
  p->p2_ = p_[1];
  p->p3_ = p_[2];
  if (list_.Count() > 0) p->SetPropInt(PR_INDEX, 0);
  p->ParticleInit();
  // It catches up with the part of the frames that passed since it was due.
  if (left > 0) p->ParticleStep(left / kFrameMs);
}

void TZirkParticle::Advance(int32_t n, bool spawning) {
  int32_t left = 0;
  if (spawning) {
    countdown_ = plus(countdown_, -int64_t(kFrameMs) * n);
    left = Saturate32(int64_t(kFrameMs) * n);
  }
  if (n > 0) {
    for (size_t k = particles_.size(); k-- > 0;) particles_[k]->ParticleStep(n);
  }
  if (!spawning || mode_ == PM_NONE) return;
  for (int32_t spawned = 0; countdown_ < 1; ++spawned) {
    // A pre-roll or tick far longer than any particle lives would make
    // more particles than a scene can hold, and so would particles that
    // stay: the backlog is dropped.
    if (spawned >= std::min(MaxSpawns, kMaxSpawns) || particles_.size() >= kMaxParticles ||
        (budget_ && budget_->Left() < kParticleBytes)) {
      countdown_ = 1;
      break;
    }
    spawn(left);
  }
}

bool TZirkParticle::Tick() {
  const bool done = TZirkControl::Tick();
  if (GetPropInt(PR_ANIPAUSED) != 0) return done;
  const int32_t elapsed = Saturate32(ElapsedTime());
  switch (phase_) {
    case kRestart: {
      phase_ = kEmitting;
      countdown_ = 0;
      const int32_t preRoll = std::max(preRoll_, 0);
      Advance(preRoll / kFrameMs, true);
      timeStore_ = preRoll % kFrameMs;
      break;
    }
    case kEmitting:
      timeStore_ = plus(timeStore_, elapsed);
      Advance(timeStore_ / kFrameMs, true);
      timeStore_ %= kFrameMs;
      if (duration_ > 0) {
        duration_ = plus(duration_, -int64_t(elapsed));
        if (duration_ < 1) phase_ = kDraining;
      }
      break;
    default:
      if (particles_.empty()) return true;
      timeStore_ = plus(timeStore_, elapsed);
      Advance(timeStore_ / kFrameMs, false);
      // What was turned into frames is spent, as while emitting.
      timeStore_ %= kFrameMs;
      break;
  }
  return done;
}

void TZirkParticle::ReleaseSurfaces() {
  list_.ReleaseImageSurfaces();
  TZirkControl::ReleaseSurfaces();
}

void TZirkParticle::RestoreSurfaces() {
  list_.RebuildImageSurfaces();
  TZirkControl::RestoreSurfaces();
}

const TPropTable& TZirkParticle::Properties() const {
  using P = TPropField<TZirkParticle>;
  auto param = [](int id, int32_t index) {
    return P(id)
        .Get([index](TZirkParticle& e, TCustomParam& v) { v.SetFloat(e.GetParam(index)); })
        .Set([index](TZirkParticle& e, const TCustomParam& v) { e.SetParam(index, v.AsFloat()); });
  };
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkParticle::source_).Set(&TZirkParticle::SetSource),
          P(PR_ALPHA, &TZirkParticle::alpha_, TPropChange::Redraw),
          P(PR_PAUSED, &TZirkParticle::paused_),
          P(PR_INDEX, &TZirkParticle::preRoll_),
          P(PR_PARTMOTION, &TZirkParticle::mode_).Set(&TZirkParticle::SetMode),
          param(PR_PARAM1, 0),
          param(PR_PARAM2, 1),
          param(PR_PARAM3, 2),
          P(PR_ONIDLE, &TZirkParticle::onIdle_),
          P(PR_DURATION, &TZirkParticle::duration_),
          P(PR_PLAYING).Get([](TZirkParticle& e) {
            TZirkMotionBase* own = e.GetMotion();
            return !e.paused_ && e.GetPropInt(PR_ANIPAUSED) == 0 && (!own || !own->Finished());
          }),
      });
  return table;
}

void TZirkParticle::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  exprX_.SaveToStream(stream);
  exprY_.SaveToStream(stream);
  exprInterval_.SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  out.Byte(mode_);
  for (long double p : p_) {
    uint8_t bytes[10];
    EncodeExtended(p, bytes);
    out.Bytes(bytes, 10);
  }
  out.Int(alpha_);
  out.Int(preRoll_);
  out.Str(onIdle_);
  out.Bool(paused_);
  out.Int(duration_);
}

void TZirkParticle::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  exprX_.LoadFromStream(stream);
  exprY_.LoadFromStream(stream);
  exprInterval_.LoadFromStream(stream);
  TRecordReader in(stream, version, "saved particle record");
  const std::string source = in.Str();
  const uint8_t mode = in.Byte();
  long double p[3];
  for (long double& v : p) v = DecodeExtended(in.Bytes(10).data());
  const int32_t alpha = in.Int();
  if (in.Has(104)) {
    preRoll_ = in.Int();
    onIdle_ = in.Str();
    paused_ = in.Bool();
    duration_ = in.Int();
  }
  SetSource(source);
  mode_ = mode;
  std::copy(std::begin(p), std::end(p), p_);
  alpha_ = alpha;
  phase_ = kRestart;
}

void RegisterZirkParticle() {
  RegisterKind(LT_PARTICLE,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkParticle>(scene); });
}

}  // namespace zirk
