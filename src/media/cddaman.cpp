#include "media/cddaman.h"

#include <algorithm>
#include <cctype>

#include "media/AMixer.h"
#include "media/Cdp.h"
#include "platform/registry.h"
#include "script/project.h"

namespace zirk {

namespace {

int32_t trackOf(const std::string& name) {
  if (name.size() <= 3) return -1;
  const std::string digits = name.substr(3);
  if (!std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; }) ||
      digits.size() > 9)
    return -1;
  return std::stoi(digits);
}

constexpr int32_t kModePlaying = 0;
constexpr int32_t kModeStopped = 1;
constexpr int32_t kModePaused = 2;

}  // namespace

TCddaItem::TCddaItem(TCddaManager& manager, const std::string& name)
    : TDMediaItem(manager), owner_(manager), name_(name), track_(trackOf(name)) {}

TCddaItem::~TCddaItem() {
  if (!isCurrent()) return;
  TCDP& player = owner_.Player();
  const int32_t mode = player.Mode();
  if (mode == kModePlaying || mode == kModePaused) player.Stop();
  player.Close();
  owner_.current_ = nullptr;
}

bool TCddaItem::isCurrent() const {
  return owner_.current_ == this;
}

void TCddaItem::makeCurrent() {
  if (track_ < 0) return;
  TCDP& player = owner_.Player();
  const int32_t mode = player.Mode();
  if (mode == kModePlaying || mode == kModePaused) player.Stop();
  owner_.current_ = this;
  if (!owner_.DeviceOpen()) {
    if (player.Drives().empty()) return;
    owner_.openDrive();
    if (!owner_.DeviceOpen()) return;
  }
  if (track_ > player.TrackCount()) {
    owner_.current_ = nullptr;
    return;
  }
  player.SetRepeatPlay(repeat_);
  player.PlayList() = {std::to_string(track_)};
  length_.Set(player.TrackLength(track_) * 1000);
}

void TCddaItem::Play() {
  if (playDeferred()) return;
  if (!isCurrent()) makeCurrent();
  if (!isCurrent() || !owner_.DeviceOpen()) return;
  TCDP& player = owner_.Player();
  player.PlayIndex(0);
  if (savedSeconds_ > 0) player.PlayTrackAt(track_, savedSeconds_);
  SetVol(GetVol());
  paused_ = false;
}

void TCddaItem::Pause() {
  ResumeFlag = false;
  if (isCurrent() && owner_.Player().Mode() == kModePlaying) {
    savedSeconds_ = std::max(0, owner_.Player().PositionSeconds() - 1);
    owner_.Player().Stop();
  }
  paused_ = true;
}

bool TCddaItem::IsPlaying() {
  return isCurrent() && owner_.Player().Mode() == kModePlaying;
}

bool TCddaItem::CheckEnd() {
  // Pausing stops the drive: a paused track has not ended, it goes on from
  // where it was when it plays again.
  return isCurrent() && !paused_ && owner_.Player().Mode() == kModeStopped;
}

int32_t TCddaItem::GetPosition() {
  if (isCurrent() && owner_.DeviceOpen()) return owner_.Player().PositionSeconds() * 1000;
  return 0;
}

void TCddaItem::SetPosition(int32_t ms) {
  if (isCurrent() && owner_.DeviceOpen() && !paused_) {
    owner_.Player().PlayTrackAt(track_, std::max(ms, 0) / 1000);
  } else {
    savedSeconds_ = std::max(0, ms / 1000);
  }
}

int32_t TCddaItem::GetLen() {
  if (track_ < 0) return 0;
  return length_.Get([this]() -> std::optional<int32_t> {
    TCDP& player = owner_.Player();
    if (!owner_.DeviceOpen() && !player.Drives().empty()) owner_.openDrive();
    if (!owner_.DeviceOpen() || track_ > player.TrackCount()) return std::nullopt;
    return player.TrackLength(track_) * 1000;
  });
}

void TCddaItem::SetAutoRepeat(bool on) {
  repeat_ = on;
  if (isCurrent() && owner_.DeviceOpen()) owner_.Player().SetRepeatPlay(on);
}

void TCddaItem::SetVol(int32_t level) {
  volume_ = level;
  if (isCurrent() && owner_.DeviceOpen()) owner_.applyVolume(level);
}

// --- TCddaManager --------------------------------------------------------

TCddaManager::TCddaManager(const TMediaConfig& config) {
  player_ = config.MakeCdPlayer ? config.MakeCdPlayer() : std::make_unique<TCDP>();
  mixer_ =
      std::make_unique<TAudioMixer>(config.Mixer ? config.Mixer : &platform::ProcessMixerDevices());
  player_->OnCDInsert = [this](TCDP& player) {
    if (current_ && current_->Track() >= 0) player.PlayList() = {std::to_string(current_->Track())};
  };
}

TCddaManager::~TCddaManager() {
  RestoreMixerVolume();
  // The items stop the player they may hold before it goes.
  Clear();
  player_.reset();
}

TCddaItem* TCddaManager::Add(const std::string& name) {
  return append(std::make_unique<TCddaItem>(*this, name));
}

bool TCddaManager::DeviceOpen() const {
  return player_->DeviceId() != 0;
}

void TCddaManager::openDrive() {
  if (DeviceOpen()) return;
  if (driveIndex_ >= 0) {
    player_->OpenDrive(driveIndex_);
    return;
  }
  if (driveIndex_ == -2) return;
  driveIndex_ = -2;
  int32_t wanted = -1;
  const TProject* project = CurrentProject();
  if (project && !project->RegistryKey().empty()) {
    std::string drive =
        platform::RegReadString("Software\\" + project->RegistryKey(), "CDDrive").value_or("");
    if (drive.size() == 1) drive += ":";
    if (!drive.empty()) {
      const auto& drives = player_->Drives();
      const auto it = std::find(drives.begin(), drives.end(), drive);
      wanted = it == drives.end() ? -1 : static_cast<int32_t>(it - drives.begin());
    }
  }
  const int32_t count = static_cast<int32_t>(player_->Drives().size());
  for (int32_t i = 0; i < count; ++i) {
    if (wanted >= 0 && i != wanted) continue;
    player_->OpenDrive(i);
    if (DeviceOpen() && player_->TrackCount() >= 1) {
      driveIndex_ = i;
      findCdLine();
      return;
    }
    if (DeviceOpen()) player_->Close();
  }
}

void TCddaManager::findCdLine() {
  for (int32_t m = 0; m < mixer_->NumDevs(); ++m) {
    mixer_->SetMixerId(m);
    const TMixerDestinations& destinations = mixer_->Destinations();
    for (size_t d = 0; d < destinations.size(); ++d) {
      const auto& connections = destinations[d].Connections;
      for (size_t c = 0; c < connections.size(); ++c) {
        if (connections[c].Data.dwComponentType !=
            platform::MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC)
          continue;
        destination_ = static_cast<int32_t>(d);
        connection_ = static_cast<int32_t>(c);
        SaveMixerVolume();
        return;
      }
    }
  }
}

void TCddaManager::applyVolume(int32_t level) {
  if (!LineFound()) return;
  const int64_t factor = static_cast<int64_t>(std::max(level, -5000)) + 5000;
  mixer_->SetVolume(destination_, connection_, static_cast<int32_t>(factor * savedLeft_ / 5000),
                    static_cast<int32_t>(factor * savedRight_ / 5000), savedMute_);
}

void TCddaManager::SaveMixerVolume() {
  if (!LineFound()) return;
  bool stereo = false, volumeDisabled = false, muteDisabled = false, extra = false;
  mixer_->GetVolume(destination_, connection_, savedLeft_, savedRight_, savedMute_, stereo,
                    volumeDisabled, muteDisabled, extra);
}

void TCddaManager::RestoreMixerVolume() {
  if (!LineFound()) return;
  mixer_->SetVolume(destination_, connection_, savedLeft_, savedRight_, savedMute_);
}

}  // namespace zirk
