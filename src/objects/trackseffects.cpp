#include "objects/trackseffects.h"

#include <cmath>

#include "base/exceptions.h"
#include "objects/fire.h"
#include "objects/images.h"
#include "objects/particle.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// A zoom factor in 1/256, toward zero and saturated.
int32_t zoomUnits(double zoom) {
  const double v = std::trunc(zoom * 256);
  if (std::isnan(v)) return 0;
  return Saturate32(int64_t(std::clamp(v, -9.0e18, 9.0e18)));
}

template <class Track>
void writeRect(TRecordWriter& out, const Track& t) {
  out.Point(t.GetPositionFrom());
  out.Point(t.PositionTo);
  out.Byte(t.PositionXEasing);
  out.Byte(t.PositionYEasing);
  out.Int(t.GetWidthFrom());
  out.Int(t.GetHeightFrom());
  out.Int(t.WidthTo);
  out.Int(t.HeightTo);
  WriteClipKeys(out, t);
}

template <class Track>
void readRect(TRecordReader& in, Track& t) {
  t.SetPositionFrom(in.Point());
  t.PositionTo = in.Point();
  t.PositionXEasing = in.Byte();
  t.PositionYEasing = in.Byte();
  t.SetWidthFrom(in.Int());
  t.SetHeightFrom(in.Int());
  t.WidthTo = in.Int();
  t.HeightTo = in.Int();
  ReadClipKeys(in, t);
}

}  // namespace

// --- chains of effect tracks ----------------------------------------------------------

TEffectFrameList::~TEffectFrameList() {
  ReleaseTarget();
}

TEffectFrameList* TEffectFrameList::RootTrack() {
  auto* root = dynamic_cast<TEffectFrameList*>(Film().KindRoot(this));
  return root ? root : this;
}

const TEffectFrameList* TEffectFrameList::RootTrack() const {
  return const_cast<TEffectFrameList*>(this)->RootTrack();
}

TZirkObject* TEffectFrameList::GetTarget() const {
  if (Film().MotionMode) return Film().MotionTarget;
  return RootTrack()->own_.Get(Film());
}

void TEffectFrameList::ReleaseTarget() {
  charge_.Release();
  TZirkObject* t = own_.Take(Film());
  if (!t) return;
  releaseOwn(*t);
  t->Invalidate();
  t->Scrap();
}

void TEffectFrameList::place(TZirkObject& object) const {
  if (TZirkObject* parent = placementParent(); parent && parent != object.GetParent())
    object.SetParent(parent);
  if (object.GetPriority() != Priority) object.SetPriority(Priority);
}

bool TEffectFrameList::Apply(int32_t time) {
  const bool motion = Film().MotionMode;
  TEffectFrameList* root = RootTrack();
  const int64_t start = TrackStart(), end = start + Length;
  if (!Active(time)) {
    // The last track of a chain ends the object, unless the time is back
    // inside the chain.
    if (!motion && !ChainedTrack() && !(time >= root->TrackStart() && time < end))
      root->ReleaseTarget();
    return false;
  }
  if (!motion) {
    if (root != this) ReleaseTarget();
    if (!root->own_.GetOrCreate(Film(), [root](TZirkBaseList& scene, const std::string& name) {
          return root->createTarget(scene, name);
        }))
      return false;
  }
  updateTarget(static_cast<int32_t>(int64_t(time) - start));
  return true;
}

void TEffectFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomFrameList::SaveToStream(out);
  saveOwnFields(out);
}

void TEffectFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomFrameList::LoadFromStream(in);
  loadOwnFields(in);
}

// --- particle tracks ------------------------------------------------------------------

TParticleFrameList::TParticleFrameList(TFilmManager& film) : TEffectFrameList(film) {
  SetWidthFrom(film.Width);
  SetHeightFrom(film.Height);
  WidthTo = film.Width;
  HeightTo = film.Height;
}

TParticleFrameList::~TParticleFrameList() {
  // While this class is whole, so the emitter gives its record back first.
  ReleaseTarget();
}

int32_t TParticleFrameList::GetAlphaFrom() const {
  return Parent ? Parent->GetAlphaTo() : AlphaFrom;
}
int32_t TParticleFrameList::GetIntervalFrom() const {
  return from(&TParticleFrameList::IntervalTo, IntervalFrom, 0);
}
int32_t TParticleFrameList::GetSpreadFrom() const {
  return from(&TParticleFrameList::SpreadTo, SpreadFrom, 0);
}
int32_t TParticleFrameList::GetValue1From() const {
  return from(&TParticleFrameList::Value1To, Value1From, 0);
}
int32_t TParticleFrameList::GetValue2From() const {
  return from(&TParticleFrameList::Value2To, Value2From, 0);
}
int32_t TParticleFrameList::GetRange1From() const {
  return from(&TParticleFrameList::Range1To, Range1From, 0);
}
int32_t TParticleFrameList::GetRange2From() const {
  return from(&TParticleFrameList::Range2To, Range2From, 0);
}
double TParticleFrameList::GetParam1From() const {
  return from(&TParticleFrameList::Param1To, Param1From, 1.0);
}
double TParticleFrameList::GetParam2From() const {
  return from(&TParticleFrameList::Param2To, Param2From, 1.0);
}
double TParticleFrameList::GetParam3From() const {
  return from(&TParticleFrameList::Param3To, Param3From, 1.0);
}

void TParticleFrameList::SetSource(const std::string& source) {
  if (source == source_) return;
  source_ = source;
  RootTrack()->ReleaseTarget();
}

void TParticleFrameList::CollectFiles(std::vector<std::string>& files) const {
  if (source_.empty() || std::find(files.begin(), files.end(), source_) != files.end()) return;
  files.push_back(source_);
  // Only a name new to the list is followed, so motions naming each other
  // end.
  if (!HasExtension(source_, ".zmt")) return;
  TFilmManager motion;
  motion.SkipAfterLoad = true;
  try {
    motion.LoadFilm(source_);
  } catch (const Exception&) {
    return;
  }
  motion.CollectFiles(files);
}

TZirkObject* TParticleFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  return scene.Create<TZirkParticle>(Film().Host, name);
}

void TParticleFrameList::releaseOwn(TZirkObject& object) {
  if (auto* e = dynamic_cast<TZirkParticle*>(&object)) {
    e->ClearParam();
    e->SetBudget(nullptr);
  }
}

void TParticleFrameList::updateTarget(int32_t i) {
  auto* t = dynamic_cast<TZirkControl*>(GetTarget());
  if (!t) return;
  const TRectFrame r = RectAt(i);
  const int32_t spread = InterpolateInt(MT_NORMAL, GetSpreadFrom(), i, SpreadTo);
  const int32_t centre = InterpolateInt(MT_NORMAL, GetIntervalFrom(), i, IntervalTo);
  const int32_t interval = Saturate32(int64_t(centre) - spread / 2);
  const int32_t value1 = InterpolateInt(Value1Easing, GetValue1From(), i, Value1To);
  const int32_t value2 = InterpolateInt(Value2Easing, GetValue2From(), i, Value2To);
  const int32_t range1 = InterpolateInt(MT_NORMAL, GetRange1From(), i, Range1To);
  const int32_t range2 = InterpolateInt(MT_NORMAL, GetRange2From(), i, Range2To);
  const double params[3] = {InterpolateFloat(MT_NORMAL, i, GetParam1From(), Param1To),
                            InterpolateFloat(MT_NORMAL, i, GetParam2From(), Param2To),
                            InterpolateFloat(MT_NORMAL, i, GetParam3From(), Param3To)};
  passRect(*t, r);
  t->SetPropInt(PR_ALPHA, alphaAt(i, GetAlphaFrom(), AlphaTo));
  if (auto* e = dynamic_cast<TZirkParticle*>(t); e && !Film().MotionMode) {
    e->SetPropStr(PR_SOURCE, source_);
    // No film gives a negative time between spawns: a damaged track
    // emits nothing, rather than a particle every 2 ms for ever.
    e->SetPropInt(PR_PARTMOTION, centre < 0 ? PM_NONE : PartMotion);
    e->SetPropInt(PR_INDEX, Index);
    e->SetPropFloat(PR_PARAM1, params[0]);
    e->SetPropFloat(PR_PARAM2, params[1]);
    e->SetPropFloat(PR_PARAM3, params[2]);
    e->SetParam(TZirkParticleParam{value1, value2, range1, range2, interval, spread});
    e->SetBudget(&Film().Budget);
  }
  SetClipProps(*t, r.Clip);
}

void TParticleFrameList::saveOwnFields(TFilmRecordWriter& out) {
  out.Str(MakeRelativePath(source_, out.Folder()));
  out.Byte(PartMotion);
  out.Int(Index);
  out.Int(GetIntervalFrom());
  out.Int(IntervalTo);
  out.Int(GetSpreadFrom());
  out.Int(SpreadTo);
  out.Int(GetValue1From());
  out.Int(GetValue2From());
  out.Int(Value1To);
  out.Int(Value2To);
  out.Int(GetRange1From());
  out.Int(GetRange2From());
  out.Int(Range1To);
  out.Int(Range2To);
  out.Byte(Value1Easing);
  out.Byte(Value2Easing);
  for (double v : {GetParam1From(), GetParam2From(), GetParam3From(), Param1To, Param2To, Param3To})
    out.Double(v);
  writeRect(out, *this);
  out.Int(GetAlphaFrom());
  out.Int(AlphaTo);
}

void TParticleFrameList::loadOwnFields(TFilmRecordReader& in) {
  source_ = ResolveRelativePath(in.Str(), in.Folder());
  PartMotion = in.Byte();
  Index = in.Int();
  IntervalFrom = in.Int();
  IntervalTo = in.Int();
  SpreadFrom = in.Int();
  SpreadTo = in.Int();
  Value1From = in.Int();
  Value2From = in.Int();
  Value1To = in.Int();
  Value2To = in.Int();
  Range1From = in.Int();
  Range2From = in.Int();
  Range1To = in.Int();
  Range2To = in.Int();
  Value1Easing = in.Byte();
  Value2Easing = in.Byte();
  for (double* v : {&Param1From, &Param2From, &Param3From, &Param1To, &Param2To, &Param3To})
    *v = in.Double(0);
  readRect(in, *this);
  AlphaFrom = in.Int();
  AlphaTo = in.Int();
}

// --- fire tracks ----------------------------------------------------------------------

TFireFrameList::TFireFrameList(TFilmManager& film) : TEffectFrameList(film) {
  SetWidthFrom(film.Width / 4);
  SetHeightFrom(30);
  WidthTo = film.Width / 4;
  HeightTo = 30;
}

TZirkObject* TFireFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  return scene.Create<TZirkFire>(Film().Host, name);
}

void TFireFrameList::updateTarget(int32_t i) {
  auto* t = dynamic_cast<TZirkControl*>(GetTarget());
  if (!t) return;
  const TRectFrame r = RectAt(i);
  const int32_t zoomX =
      InterpolateInt(ZoomXEasing, zoomUnits(GetZoomXFrom()), i, zoomUnits(ZoomXTo));
  const int32_t zoomY =
      InterpolateInt(ZoomYEasing, zoomUnits(GetZoomYFrom()), i, zoomUnits(ZoomYTo));
  if (Film().MotionMode) {
    const int32_t priority = Saturate32(int64_t(Film().BasePriority) + Priority);
    if (t->GetPriority() != priority) t->SetPriority(priority);
    t->SetMotionX(r.X);
    t->SetMotionY(r.Y);
  } else {
    place(*t);
    t->SetPropInt(PR_LEFT, r.X);
    t->SetPropInt(PR_TOP, r.Y);
  }
  t->SetPropInt(PR_ORIGWIDTH, r.Width);
  t->SetPropInt(PR_ORIGHEIGHT, r.Height);
  if (auto* fire = dynamic_cast<TZirkFire*>(t); fire && !Film().MotionMode) {
    // The cells come out of the film's budget; a fire it cannot hold whole
    // is simulated smaller.
    TFilmCharge& charge = rootCharge();
    const int64_t wanted = TZirkFire::SimulationBytes(r.Width, r.Height, TZirkFire::kMaxCells);
    charge.Take(Film().Budget, fire->FitSimulation(charge.Take(Film().Budget, wanted)));
  }
  t->SetPropInt(PR_ZOOMX, zoomX);
  t->SetPropInt(PR_ZOOMY, zoomY);
  t->SetPropInt(PR_POWER, Power);
  SetClipProps(*t, r.Clip);
}

void TFireFrameList::saveOwnFields(TFilmRecordWriter& out) {
  writeRect(out, *this);
  for (double v : {GetZoomXFrom(), GetZoomYFrom(), ZoomXTo, ZoomYTo}) out.Double(v);
  out.Byte(ZoomXEasing);
  out.Byte(ZoomYEasing);
  out.Int(Power);
}

void TFireFrameList::loadOwnFields(TFilmRecordReader& in) {
  readRect(in, *this);
  for (double* v : {&ZoomXFrom, &ZoomYFrom, &ZoomXTo, &ZoomYTo}) *v = in.Double(4.0);
  ZoomXEasing = in.Byte();
  ZoomYEasing = in.Byte();
  Power = in.Int();
}

void RegisterEffectTracks() {
  RegisterTrackKind(ttParticle, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TParticleFrameList>(film);
  });
  RegisterTrackKind(ttFire, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TFireFrameList>(film);
  });
}

}  // namespace zirk
