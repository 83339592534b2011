#include "objects/sound.h"

#include <algorithm>

#include "base/records.h"
#include "media/cddaman.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "objects/fades.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

bool isCdSource(const std::string& source) {
  return source.compare(0, 3, "CD_") == 0;
}

}  // namespace

TDMediaManager* SoundManagerFor(const std::string& source) {
  const std::string ext = MediaExtension(source);
  if (ext == ".mid" || ext == ".sgt") return MidiMan;
  if (ext == ".wma" || ext == ".asf" || ext == ".wmv") return WmpMan;
  if (ext == ".ogg" || ext == ".wav") return OggMan;
  if (isCdSource(source)) return CddaMan;
  return nullptr;
}

TDMediaItem* AddSoundItem(TDMediaManager& manager, const std::string& source) {
  try {
    if (&manager == MidiMan) return MidiMan->Add(source);
    if (&manager == WmpMan) return WmpMan->Add(source);
    if (&manager == OggMan) return OggMan->Add(source);
    if (&manager == CddaMan) return CddaMan->Add(source);
  } catch (const std::exception&) {
    // A source the manager cannot open leaves the object silent.
  }
  return nullptr;
}

TZirkSound::TZirkSound(TZirkBaseList& scene) : TZirkComponent(scene) {}

TZirkSound::~TZirkSound() {
  fade_.reset();
  if (item_) {
    item_->SetVol(-10000);
    removeItem();
  }
}

const TPropTable& TZirkSound::Properties() const {
  using P = TPropField<TZirkSound>;
  static const TPropTable table(
      TZirkComponent::Properties(),
      {
          P(PR_SOURCE, &TZirkSound::source_).Set(&TZirkSound::SetSource),
          P(PR_DELAY, &TZirkSound::fadeTime_),
          P(PR_PAUSED, &TZirkSound::paused_).Set(&TZirkSound::setPaused),
          P(PR_VOLUME, &TZirkSound::volume_).Set(&TZirkSound::setVolume),
          P(PR_REPEAT, &TZirkSound::repeat_).Set(&TZirkSound::setRepeat),
          P(PR_BALANCE, &TZirkSound::balance_).Set(&TZirkSound::setBalance),
          P(PR_ONPLAYEND, &TZirkSound::endLabel_),
          P(PR_INDEX).Get(&TZirkSound::getIndex).Set(&TZirkSound::setIndex),
          P(PR_COUNT).Get(&TZirkSound::GetLength).ReadOnly(),
          P(PR_AUTOSCRAP, &TZirkSound::autoScrap_),
          P(PR_ANIPAUSED).Set(&TZirkSound::setHeld).WriteOnly(),
          P(PR_PLAYING).Get(&TZirkSound::getPlaying).ReadOnly(),
          P(PR_REWINDONLOAD, &TZirkSound::rewindOnLoad_),
          P(PR_MUTEONLOAD, &TZirkSound::muteOnLoad_),
      });
  return table;
}

void TZirkSound::removeItem() {
  TDMediaItem* item = item_;
  item_ = nullptr;
  // A fade never outlives the item it moves.
  if (fade_ && &fade_->Item() == item) fade_.reset();
  item->Manager().Remove(item);
}

void TZirkSound::SetSource(const std::string& source) {
  if (source == source_) return;
  if (item_) removeItem();
  fade_.reset();
  source_ = source;
  state_ = kStopped;
  paused_ = false;
  startPosition_ = 0;
  ended_ = false;
}

void TZirkSound::makeItem() {
  if (!MediaSourceAvailable(source_) && !isCdSource(source_)) {
    if (autoScrap_) Scrap();
    return;
  }
  TDMediaManager* manager = SoundManagerFor(source_);
  if (!manager) return;
  item_ = AddSoundItem(*manager, source_);
  if (!item_) return;
  item_->SetPan(balance_);
  if (startPosition_ > 0) item_->SetPosition(startPosition_);
}

void TZirkSound::SetActive(int32_t state) {
  fade_.reset();
  ended_ = false;
  state_ = state;
  if (state_ == kFadingIn && fadeTime_ < 1) state_ = kPlaying;
  if (state_ == kStopped) {
    if (!item_) return;
    removeItem();
    startPosition_ = 0;
    Scrap();
    return;
  }
  if (state_ == kPlaying || state_ == kFadingIn) {
    if (item_) return;
    makeItem();
  }
  switch (state_) {
    case kPlaying:
      if (!item_) return;
      item_->SetAutoRepeat(repeat_);
      item_->SetVol(level());
      if (paused_)
        item_->Pause();
      else
        item_->Play();
      if (startPosition_ > 0) item_->SetPosition(startPosition_);
      break;
    case kFadingIn:
      if (!item_) return;
      item_->SetAutoRepeat(repeat_);
      if (!paused_) startFadeIn();
      break;
    case kFadingOut:
      if (!item_) {
        Scrap();
        return;
      }
      fade_ = std::make_unique<TZirkMixerFadeout>(*item_, fadeTime_);
      startPosition_ = 0;
      if (!GetName().empty()) {
        // The name is free at once for a new sound while this one fades.
        const std::string scrapName = "SCRAP_" + GetName();
        SetPropStr(PR_NAME, Scene().FindComponentByName(scrapName)
                                ? Scene().MakeUniqueName(scrapName)
                                : scrapName);
      }
      break;
    default:
      break;
  }
}

void TZirkSound::StartPlay() {
  startPosition_ = 0;
  paused_ = false;
  ended_ = false;
  SetActive(kFadingIn);
  if (item_) restartItem();
}

void TZirkSound::applyPause() {
  if (!item_) return;
  if (!paused_ && !held_) {
    if (state_ != kFadingIn) {
      item_->SetVol(level());
      item_->Play();
    } else {
      fade_.reset();
      startFadeIn();
    }
  } else {
    item_->Pause();
    item_->SetVol(-10000);
  }
}

void TZirkSound::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  applyPause();
}

void TZirkSound::setHeld(bool held) {
  if (held == held_) return;
  held_ = held;
  applyPause();
}

void TZirkSound::setVolume(int32_t volume) {
  if (volume == volume_) return;
  volume_ = volume;
  if (item_) item_->SetVol(level());
}

void TZirkSound::setIndex(int32_t index) {
  startPosition_ = index;
  if (!item_) return;
  item_->SetPosition(index);
  ended_ = false;
  if (!paused_ && !item_->IsPlaying()) item_->Play();
}

bool TZirkSound::getPlaying() {
  return item_ && item_->IsPlaying();
}

int32_t TZirkSound::GetLength() {
  if (item_) return item_->GetLen();
  if (!MediaSourceAvailable(source_)) return 0;
  TDMediaManager* manager = SoundManagerFor(source_);
  TDMediaItem* temporary = manager ? AddSoundItem(*manager, source_) : nullptr;
  if (!temporary) return 0;
  const int32_t length = temporary->GetLen();
  manager->Remove(temporary);
  return length;
}

bool TZirkSound::Tick() {
  bool result = false;
  // An end is acted on once: the latch goes with play, start, index,
  // repeat and source changes.
  if (item_ && !ended_ && item_->CheckEnd()) {
    item_->EndReached(0);
    if (repeat_) {
      item_->SetPosition(0);
    } else {
      ended_ = true;
      if (autoScrap_)
        result = true;
      else
        QueueEvent(PR_ONPLAYEND);
    }
  }
  if (fade_ && fade_->Step()) {
    if (fade_->FadesOut()) result = true;
    fade_.reset();
  }
  return result;
}

void TZirkSound::SaveToStream(TKwStream& stream) {
  TZirkComponent::SaveToStream(stream);
  TRecordWriter out(stream);
  saveSourceRun(out);
  out.Bool(held_);
  out.Bool(ended_);
  saveLevelRun(out);
  // A short one-shot sound is not started again by a load.
  const bool oneShot =
      !repeat_ && (state_ == kPlaying || state_ == kFadingIn) && GetLength() < 3000;
  out.Byte(static_cast<uint8_t>(oneShot ? kStopped : state_));
  out.Str(endLabel_);
  out.Bool(rewindOnLoad_);
  out.Bool(muteOnLoad_);
}

void TZirkSound::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkComponent::LoadFromStream(stream, version);
  TRecordReader in(stream, version);
  TLoadedSettings loaded;
  loadSourceRun(in, loaded);
  const bool held = in.Bool();
  const bool ended = in.Bool();
  loadLevelRun(in, loaded);
  const int32_t state = in.Byte();
  endLabel_ = in.Str();
  rewindOnLoad_ = in.From(108, false);
  muteOnLoad_ = in.From(129, false);

  takeLoaded(loaded);
  held_ = held;
  ended_ = ended;
  if (state == kFadingOut) {
    SetActive(kPlaying);
    ended_ = ended;
  }
  fadeTime_ = loaded.FadeTime;
  if (ended)
    state_ = state;
  else
    SetActive(state);
  if (paused_ || held_) applyPause();
}

void RegisterZirkSound() {
  RegisterKind(LT_SOUND, [](TZirkBaseList& scene) { return std::make_unique<TZirkSound>(scene); });
}

}  // namespace zirk
