#include "objects/trackssound.h"

#include <algorithm>
#include <cstdlib>

#include "objects/sound.h"
#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk {

TSoundFrameList::TSoundFrameList(TFilmManager& film) : TCustomFrameList(film) {
  Frames.push_back(std::make_unique<TBoxFrame>(*this));
}

TSoundFrameList::~TSoundFrameList() {
  ReleaseTarget();
}

TZirkBaseList* TSoundFrameList::soundScene() const {
  // Sounds live in the global scene; a film without one plays into its owner.
  if (TZirkBaseList* global = ScreenList()) return global;
  return Film().Owner;
}

TZirkSound* TSoundFrameList::ownSound() const {
  if (soundSerial_ == 0 || !soundScene_) return nullptr;
  // A script may have scrapped the object: look it up again.
  return dynamic_cast<TZirkSound*>(soundScene_->FindBySerial(soundSerial_));
}

TZirkObject* TSoundFrameList::GetTarget() const {
  return ownSound();
}

void TSoundFrameList::ReleaseTarget() {
  TZirkSound* sound = ownSound();
  soundSerial_ = 0;
  if (!sound) return;
  // Stopped, it lets go of its media at once rather than when the scene
  // next takes out what was scrapped.
  sound->SetActive(kStopped);
  sound->Scrap();
}

TSoundFrameList* TSoundFrameList::parentSound() const {
  return dynamic_cast<TSoundFrameList*>(Parent);
}

const TSoundFrameList* TSoundFrameList::rootTrack() const {
  // The film indexes each chain's first track once a pass, so asking costs
  // nothing per track; outside a pass it walks up without recursing.
  const auto* root = dynamic_cast<const TSoundFrameList*>(Film().KindRoot(this));
  return root ? root : this;
}

int64_t TSoundFrameList::chainEnd() const {
  return Film().KindChainEnd(this);
}

TZirkSound* TSoundFrameList::RootSound() {
  if (!parentSound()) return ownSound();
  // Only the chain's first track holds a sound.
  ReleaseTarget();
  return rootTrack()->ownSound();
}

int32_t TSoundFrameList::fromParent(int32_t TSoundFrameList::*to, int32_t own) const {
  if (!Parent) return own;
  const TSoundFrameList* parent = parentSound();
  return parent ? parent->*to : 0;
}

int32_t TSoundFrameList::GetVolumeFrom() const {
  return fromParent(&TSoundFrameList::VolumeTo, VolumeFrom);
}

int32_t TSoundFrameList::GetBalanceFrom() const {
  return fromParent(&TSoundFrameList::BalanceTo, BalanceFrom);
}

std::string TSoundFrameList::GetSource() const {
  return rootTrack()->fileName_;
}

void TSoundFrameList::SetSource(const std::string& name) {
  if (name == fileName_) return;
  fileName_ = name;
  ReleaseTarget();
}

void TSoundFrameList::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (TZirkSound* sound = ownSound()) sound->SetPropInt(PR_PAUSED, paused);
}

void TSoundFrameList::PlayingStopped() {
  if (TZirkSound* sound = ownSound()) sound->SetPropInt(PR_PAUSED, 1);
}

bool TSoundFrameList::RepeatRule(TZirkSound& sound) {
  const int64_t trackMs = static_cast<int64_t>(int64_t{Length} * 1000 / 60);
  if (trackMs > sound.GetPropInt(PR_COUNT)) return true;
  const int64_t start = TrackStart(), end = start + Length;
  const int32_t loop = Film().LoopStart, length = Film().Length;
  return end >= length && start <= loop && end > loop && loop >= 1 && loop < length - 1;
}

bool TSoundFrameList::soundWanted(int64_t time, int64_t end) const {
  return time >= int64_t{Start} - kOpenAhead && time < end;
}

void TSoundFrameList::keepSoundFor(int64_t time, int64_t end) {
  if (soundWanted(time, end))
    EnsureSound();
  else
    ReleaseTarget();
}

void TSoundFrameList::OwnerRefreshed() {
  // Between passes the chain is not indexed: the track's own span stands
  // for it, and the next tick lets go of what lies outside the chain.
  if (!Parent && soundWanted(Film().Time, int64_t{Start} + Length)) EnsureSound();
}

void TSoundFrameList::EnsureSound() {
  if (Parent || ownSound()) return;
  TZirkBaseList* scene = soundScene();
  if (!scene || fileName_.empty()) return;
  std::string prefix(1, kHiddenNameChar);
  if (Film().Host) prefix += Film().Host->GetName() + kHiddenNameChar;
  auto* sound = scene->Create<TZirkSound>(nullptr, scene->MakeUniqueName(prefix));
  soundScene_ = scene;
  soundSerial_ = sound->Serial();
  sound->SetPropStr(PR_SOURCE, fileName_);
  sound->SetPropInt(PR_VOLUME,
                    static_cast<int32_t>(int64_t{VolumeFrom} * Film().VolumeScale / 1000));
  sound->SetPropInt(PR_BALANCE, BalanceFrom);
  sound->SetPropInt(PR_PAUSED, 1);
  sound->SetActive(kPlaying);
  // The rule reads the sound's length: asked of the paused sound's own
  // item, not of one opened from the file again just for it.
  sound->SetPropInt(PR_REPEAT, RepeatRule(*sound));
}

bool TSoundFrameList::Apply(int32_t time) {
  if (!Parent) keepSoundFor(time, chainEnd());
  if (time < lastTime_ && Film().Playing) {
    // The film went back: the sound waits for the next step to restart.
    if (TZirkSound* sound = ownSound()) sound->SetPropInt(PR_PAUSED, 1);
  }
  lastTime_ = time;
  const int32_t start = TrackStart();
  // Wide arithmetic: a damaged film may give a track a negative length.
  const int64_t end = std::min<int64_t>(int64_t{start} + Length, int64_t{Film().Length} - 1);
  TZirkSound* root = RootSound();
  if (start <= time && time < end) {
    if (!root) return true;
    const int32_t i = time - start;
    const int32_t volume = InterpolateInt(VolumeEasing, GetVolumeFrom(), i, VolumeTo);
    const int32_t balance = InterpolateInt(BalanceEasing, GetBalanceFrom(), i, BalanceTo);
    root->SetPropInt(PR_VOLUME, static_cast<int32_t>(int64_t{Film().VolumeScale} * volume / 1000));
    root->SetPropInt(PR_BALANCE, balance);
    if (!Film().Playing) {
      root->SetPropInt(PR_PAUSED, 1);
    } else if (!root->GetPropInt(PR_PAUSED) && root->GetActive() != kStopped) {
      int64_t expected = (int64_t{time} - rootTrack()->TrackStart()) * 1000 / 60;
      // A looping sound's position runs round its length: measured against
      // the film's unwrapped time, every tick after its first pass would
      // seek it past its end and it would stutter at its start.
      const int32_t length = root->GetPropInt(PR_COUNT);
      if (root->GetPropInt(PR_REPEAT) && length > 0) expected %= length;
      if (std::llabs(root->GetPropInt(PR_INDEX) - expected) >= kSeekTolerance)
        root->SetPropInt(PR_INDEX, static_cast<int32_t>(expected));
    } else {
      root->StartPlay();
    }
    return true;
  }
  if (root) {
    // Outside its own span a track leaves the sound to the chain: it falls
    // silent only outside the whole chain, which may branch into several
    // sound tracks and carry tracks of other kinds.
    const TSoundFrameList* first = rootTrack();
    const int64_t until = std::min<int64_t>(first->chainEnd(), int64_t{Film().Length} - 1);
    if (!(first->TrackStart() <= time && time < until)) root->SetPropInt(PR_PAUSED, 1);
  }
  return false;
}

void TSoundFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomFrameList::SaveToStream(out);
  out.Str(fileName_.empty() ? fileName_ : MakeRelativePath(fileName_, out.Folder()));
  out.Int(GetVolumeFrom());
  out.Int(VolumeTo);
  out.Int(GetBalanceFrom());
  out.Int(BalanceTo);
  out.Byte(VolumeEasing);
  out.Byte(BalanceEasing);
}

void TSoundFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomFrameList::LoadFromStream(in);
  const std::string name = in.Str();
  SetSource(name.empty() ? name : ResolveRelativePath(name, in.Folder()));
  VolumeFrom = in.Int();
  VolumeTo = in.Int();
  BalanceFrom = in.Int();
  BalanceTo = in.Int();
  VolumeEasing = in.Byte();
  BalanceEasing = in.Byte();
  if (!in.Has(108)) {
    // Older films stored levels in hundredths of a decibel.
    VolumeFrom = VolumeFrom / 10 + 1000;
    VolumeTo = VolumeTo / 10 + 1000;
  }
}

void TSoundFrameList::Reload() {
  const int32_t length = Length;
  const std::string name = fileName_;
  SetSource({});
  SetSource(name);
  Length = length;
}

void TSoundFrameList::CollectFiles(std::vector<std::string>& files) const {
  addUnique(files, fileName_);
}

void RegisterSoundTracks() {
  RegisterTrackKind(ttSound, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TSoundFrameList>(film);
  });
}

}  // namespace zirk
