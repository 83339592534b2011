#pragma once
// Particles (LT_PARTICLE): an emitter that spawns small pictures as its
// children at a rate and moves each by one of four patterns (snow, star,
// fluff, twister) or by a motion file, until it leaves the emitter or its
// motion ends. Time runs in frames of 16 ms. Film particle tracks drive an
// emitter through its properties and its parameter record.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "objects/effectrandom.h"
#include "objects/imagelist.h"
#include "objects/images.h"
#include "objects/motion.h"
#include "scene/zcontrol.h"
#include "script/parser.h"

namespace zirk {

class TZirkParticle;
class TZirkParticleImages;

// Where and how often a film track has the emitter spawn: each value is
// its minimum plus a random part below its range.
struct TZirkParticleParam {
  int32_t XMin = 0, YMin = 0;
  int32_t XRange = 0, YRange = 0;
  int32_t IntervalMin = 0, IntervalRange = 0;
  bool operator==(const TZirkParticleParam&) const = default;
};

// One motion file played on many particles, each at its own age.
class TZirkMotionParticle : public TZirkMotion {
 public:
  using TZirkMotion::TZirkMotion;
  // Shows the film at `time` ms on the owner; true when the particle is
  // done: its motion ended, or it left its emitter the way its mode leaves.
  bool StepOwner(TZirkControl& owner, int32_t time);
};

// One particle. Never saved (its name starts with chr(1)); its pictures are
// its emitter's.
class TZirkParticleImages : public TZirkCustomImages {
 public:
  TZirkParticleImages(TZirkBaseList& scene, TZirkParticle& emitter);
  ~TZirkParticleImages() override;

  const TPropTable& Properties() const override;
  TZirkImageList* GetImageList() override;
  TZirkMotionBase* GetMotion() override;

  uint8_t Mode() const { return mode_; }
  bool Dead() const { return dead_; }
  int32_t Age() const { return age_; }
  // Sets the particle off from its position and its emitter's parameters.
  void ParticleInit();
  // Moves the particle n frames on.
  void ParticleStep(int32_t n);
  // Whether the particle has left its emitter the way its mode leaves.
  bool LeftEmitter();
  // The emitter lets go of the particle (it moved away or the emitter goes).
  void Orphan();

  bool Tick() override;

 protected:
  bool repeats() override { return true; }

 private:
  friend class TZirkParticle;
  // The edges of the drawn picture inside the emitter.
  int32_t drawLeft();
  int32_t drawTop();
  int32_t parentWidth();
  int32_t parentHeight();

  TZirkParticle* emitter_;
  TZirkMotionParticle* motion_ = nullptr;
  uint8_t mode_ = PM_NONE;
  long double p1_ = 0, p2_ = 0, p3_ = 0;
  double accX_ = 0, accY_ = 0, a_ = 0, b_ = 0, angle_ = 0, speed_ = 0;
  int32_t centreX_ = 0, centreY_ = 0;
  int32_t age_ = 0;
  double edgeDistance_ = 0;
  bool dead_ = false;
};

class TZirkParticle : public TZirkControl {
 public:
  // Milliseconds of one simulation frame.
  static constexpr int32_t kFrameMs = 16;
  // Phases.
  static constexpr int32_t kRestart = 0, kEmitting = 1, kDraining = 2;
  // Most particles one Advance spawns: more than the 3 s the longest tick
  // lasts holds at the shortest interval.
  static constexpr int32_t kMaxSpawns = 2048;
  // This emitter's cap on one Advance's spawns (at most kMaxSpawns).
  int32_t MaxSpawns = kMaxSpawns;
  // Most particles one emitter keeps alive: particles that never leave
  // (a pattern that stands still) would otherwise pile up with every
  // spawn, and each costs a step (a twister's a re-placing among its
  // siblings) every frame.
  static constexpr size_t kMaxParticles = 2048;
  // What one living particle holds, as measured: its scene object, its
  // name and its places in the scene's lists.
  static constexpr int64_t kParticleBytes = 4096;

  explicit TZirkParticle(TZirkBaseList& scene);
  ~TZirkParticle() override;

  int32_t GetKind() const override { return LT_PARTICLE; }
  const TPropTable& Properties() const override;

  // The expressions giving each spawn's x, y and interval while no
  // parameter record is set (the creating command fills them).
  TZirkParser& XExpression() { return exprX_; }
  TZirkParser& YExpression() { return exprY_; }
  TZirkParser& IntervalExpression() { return exprInterval_; }

  // The parameter record a film track writes; nullptr until one is set.
  const TZirkParticleParam* Param() const { return param_.get(); }
  void SetParam(const TZirkParticleParam& param);
  void ClearParam() { param_.reset(); }
  // The budget of the film that drives the emitter (nullptr: none). Its
  // living particles are charged to it, and a particle it cannot hold is
  // not spawned: a film may have any number of emitters.
  void SetBudget(TFilmBudget* budget);

  const std::string& Source() const { return source_; }
  void SetSource(const std::string& source);
  uint8_t Mode() const { return mode_; }
  void SetMode(uint8_t mode);
  // P1..P3 by index 0..2; other indexes read 0 and write nothing.
  long double GetParam(int32_t index) const;
  void SetParam(int32_t index, long double value);
  int32_t Alpha() const { return alpha_; }
  int32_t Phase() const { return phase_; }
  int32_t TimeStore() const { return timeStore_; }
  int32_t SpawnCountdown() const { return countdown_; }
  int32_t Duration() const { return duration_; }
  TZirkImageList& ImageList() { return list_; }
  TZirkMotionParticle* ParticleMotion() { return motion_.get(); }
  // The living particles, oldest first.
  const std::vector<TZirkParticleImages*>& Particles() const { return particles_; }
  TEffectRandom& Random() { return random_; }

  // Moves every particle n frames on, spawning when asked.
  void Advance(int32_t n, bool spawning);

  bool Tick() override;
  void ChildRemoved(TZirkObject* child) override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  void spawn(int32_t& left);
  // Charges the living particles to the budget, when there is one.
  void chargeParticles();
  // Frees every particle now and forgets the pictures and the motion.
  void dropParticles();

  int32_t phase_ = kRestart;
  TZirkParser exprX_, exprY_, exprInterval_;
  std::unique_ptr<TZirkParticleParam> param_;
  std::string source_;
  TZirkImageList list_;
  std::vector<TZirkParticleImages*> particles_;
  uint8_t mode_ = PM_NONE;
  long double p_[3] = {0, 0, 0};
  int32_t alpha_ = 255;
  int32_t countdown_ = 0;
  int32_t timeStore_ = 0;
  int32_t preRoll_ = 0;
  std::string onIdle_;
  bool paused_ = false;
  int32_t duration_ = 0;
  std::unique_ptr<TZirkMotionParticle> motion_;
  TEffectRandom random_;
  TFilmBudget* budget_ = nullptr;
  TFilmCharge charge_;
};

// Registers LT_PARTICLE with the scene's kind factory.
void RegisterZirkParticle();

}  // namespace zirk
