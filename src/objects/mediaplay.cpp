#include "objects/mediaplay.h"

#include <algorithm>

#include "base/records.h"
#include "media/midiman.h"
#include "objects/fades.h"
#include "script/project.h"

namespace zirk {

int32_t MediaItemLevel(const TDMediaItem* item, int32_t volume) {
  const int64_t v = volume;
  if (dynamic_cast<const TMidiItem*>(item) != nullptr)
    return static_cast<int32_t>(std::clamp<int64_t>(v * 10 - 10000, -10000, 0));
  const int64_t level = v * 5 - 5000;
  if (level <= -5000) return -10000;
  return static_cast<int32_t>(std::min<int64_t>(level, 0));
}

bool MediaSourceAvailable(const std::string& source) {
  const TProject* project = CurrentProject();
  return project && project->FileAvailable(source);
}

TMediaPlayback::TMediaPlayback() = default;
TMediaPlayback::~TMediaPlayback() = default;

void TMediaPlayback::startFadeIn() {
  fade_ = std::make_unique<TZirkMixerFadein>(*playedItem(), level(), fadeTime_);
}

void TMediaPlayback::restartItem() {
  TDMediaItem* item = playedItem();
  fade_.reset();
  if (fadeTime_ > 0) {
    item->Pause();
    item->SetVol(-10000);
    item->SetPosition(0);
    startFadeIn();
  } else {
    item->SetVol(level());
    item->SetPosition(0);
    // Asked after the rewind, which starts some kinds (CD, MIDI) itself. A
    // fresh item is neither playing nor paused: it starts here too.
    if (!item->IsPlaying() || item->IsPaused()) item->Play();
  }
}

void TMediaPlayback::setRepeat(bool repeat) {
  repeat_ = repeat;
  TDMediaItem* item = playedItem();
  if (!item) return;
  item->SetAutoRepeat(repeat);
  // An ended item stands still at its end, and a movie's last picture may
  // come before its stated length: rewinding alone would not start it again.
  if (repeat && !paused_ && (ended_ || item->GetPosition() >= item->GetLen() - 1)) {
    item->SetPosition(0);
    ended_ = false;
    if (!item->IsPlaying()) item->Play();
  }
}

void TMediaPlayback::setBalance(int32_t balance) {
  balance = std::clamp(balance, -10000, 10000);
  if (balance == balance_) return;
  balance_ = balance;
  if (TDMediaItem* item = playedItem()) item->SetPan(balance_);
}

int32_t TMediaPlayback::getIndex() const {
  TDMediaItem* item = playedItem();
  return item ? item->GetPosition() : 0;
}

void TMediaPlayback::saveSourceRun(TRecordWriter& out) const {
  out.Str(source_);
  out.Bool(repeat_);
  out.Bool(autoScrap_);
  out.Bool(paused_);
}

void TMediaPlayback::saveLevelRun(TRecordWriter& out) const {
  out.Int(volume_);
  out.Int(balance_);
  out.Int(fadeTime_);
  out.Int(getIndex());
}

void TMediaPlayback::loadSourceRun(TRecordReader& in, TLoadedSettings& loaded) {
  loaded.Source = in.Str();
  repeat_ = in.Bool();
  autoScrap_ = in.Bool();
  loaded.Paused = in.Bool();
}

void TMediaPlayback::loadLevelRun(TRecordReader& in, TLoadedSettings& loaded) {
  volume_ = in.Int();
  balance_ = std::clamp(in.Int(), -10000, 10000);
  loaded.FadeTime = in.Int();
  loaded.Position = in.Int();
}

void TMediaPlayback::takeLoaded(const TLoadedSettings& loaded) {
  fadeTime_ = 0;
  if (muteOnLoad_) volume_ = 0;
  SetSource(loaded.Source);
  startPosition_ = rewindOnLoad_ ? 0 : loaded.Position;
  paused_ = loaded.Paused;
}

}  // namespace zirk
