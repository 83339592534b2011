#include "media/midiman.h"

#include <algorithm>

#include "base/rangestreams.h"
#include "base/vrfiles.h"
#include "media/MidiPlayV.h"

namespace zirk {

namespace {

// The whole file: an absolute name from the file system, any other through
// the game's files. Empty when it cannot be read or is larger than a MIDI
// file may be.
void readMidiFile(const std::string& name, TKwMemoryStream& memory) {
  try {
    std::unique_ptr<TKwStream> source;
    if (IsAbsoluteMediaName(name)) {
      std::string path = name;
      std::replace(path.begin(), path.end(), '\\', '/');
      source = std::make_unique<TFileRangeStream>(path, 0, 0);
    } else if (TVrFileManager* files = TVrFileManager::Global()) {
      source = files->OpenMediaStream(name);
    }
    if (source) ReadMidiFile(*source, name, memory);
  } catch (const std::exception&) {
    memory.Clear();
  }
}

// A length past what an item's milliseconds hold stays at the largest one.
int32_t lengthOf(const TMidiV& model) {
  return static_cast<int32_t>(std::min<int64_t>(model.TotalLength(), INT32_MAX));
}

}  // namespace

TMidiItem::TMidiItem(TMidiManager& manager, const std::string& name)
    : TDMediaItem(manager), owner_(manager), name_(name) {}

TMidiItem::~TMidiItem() {
  if (!isCurrent()) return;
  if (TMidiPlayV* player = owner_.player_.get()) {
    if (player->IsPlaying()) player->Stop();
    player->CloseDevice();
  }
  owner_.current_ = nullptr;
}

bool TMidiItem::isCurrent() const {
  return owner_.current_ == this;
}

bool TMidiItem::load(TMidiPlayV& player) {
  TKwMemoryStream memory;
  readMidiFile(name_, memory);
  if (memory.Size() == 0) return false;
  if (player.IsPlaying()) player.Stop();
  owner_.current_ = this;
  memory.SetPosition(0);
  player.LoadFromStream(memory);
  player.SetRepeat(repeat_);
  length_.Set(lengthOf(player));
  return true;
}

void TMidiItem::Play() {
  TMidiPlayV* player = playDeferred() ? nullptr : owner_.GetPlayer();
  const bool loads = player && !isCurrent();
  if (player && (!loads || load(*player))) {
    // A new piece starts from a reset device, so nothing the last one set
    // carries over; a resumed piece keeps what it set up.
    if (!player->DeviceOpen())
      owner_.openPort();
    else if (loads)
      player->SendGMReset();
    owner_.current_ = this;
    player->Seek(0, savedMs_, -1);
    SetVol(GetVol());
  }
  paused_ = false;
}

void TMidiItem::Pause() {
  ResumeFlag = false;
  if (isCurrent()) {
    if (TMidiPlayV* player = owner_.GetPlayer()) {
      savedMs_ = static_cast<int32_t>(player->GetPosition());
      player->Stop();
    }
  }
  paused_ = true;
}

bool TMidiItem::IsPlaying() {
  // The player keeps its timer running past the last event; the piece has
  // ended all the same, as a sound or a CD track that ended has.
  TMidiPlayV* player = isCurrent() ? owner_.GetPlayer() : nullptr;
  return player && player->IsPlaying() && !player->IsEnd();
}

bool TMidiItem::CheckEnd() {
  TMidiPlayV* player = isCurrent() ? owner_.GetPlayer() : nullptr;
  return player && player->IsEnd();
}

int32_t TMidiItem::GetPosition() {
  TMidiPlayV* player = isCurrent() ? owner_.GetPlayer() : nullptr;
  return player ? static_cast<int32_t>(player->GetPosition()) : 0;
}

void TMidiItem::SetPosition(int32_t ms) {
  TMidiPlayV* player = isCurrent() && !paused_ ? owner_.GetPlayer() : nullptr;
  if (player) {
    player->Seek(0, std::max(ms, 0), -1);
  } else {
    savedMs_ = std::max(ms, 0);
  }
}

int32_t TMidiItem::GetLen() {
  // The file model alone knows the length: no device, no timer.
  return length_.Get([this]() -> std::optional<int32_t> {
    TKwMemoryStream memory;
    readMidiFile(name_, memory);
    if (memory.Size() == 0) return std::nullopt;
    TMidiV model;
    memory.SetPosition(0);
    model.LoadFromStream(memory);
    return lengthOf(model);
  });
}

void TMidiItem::SetAutoRepeat(bool on) {
  repeat_ = on;
  if (TMidiPlayV* player = isCurrent() ? owner_.GetPlayer() : nullptr) player->SetRepeat(on);
}

void TMidiItem::SetVol(int32_t level) {
  volume_ = std::clamp(level, -10000, 0);
  if (TMidiPlayV* player = isCurrent() ? owner_.GetPlayer() : nullptr)
    player->SetControllerScale(7, volume_ / 100 + 100);
}

// --- TMidiManager --------------------------------------------------------

TMidiManager::TMidiManager(const TMediaConfig& config) : config_(config) {
  player_ = config.MakeMidiPlayer ? config.MakeMidiPlayer() : std::make_unique<TMidiPlayV>();
  ports_.push_back(kMapperName);
  for (const TMidiDevice& device : player_->Devices()) ports_.push_back(device.Name);
}

TMidiManager::~TMidiManager() {
  Clear();
  if (player_->DeviceOpen()) player_->CloseDevice();
  player_.reset();
}

TMidiItem* TMidiManager::Add(const std::string& name) {
  return append(std::make_unique<TMidiItem>(*this, name));
}

std::string TMidiManager::GetPortName(int32_t index) const {
  if (index < 0 || index >= GetPortCount()) return kMapperName;
  return ports_[static_cast<size_t>(index)];
}

void TMidiManager::SetPortName(const std::string& name) {
  const auto it = std::find(ports_.begin(), ports_.end(), name);
  portIndex_ = it == ports_.end() ? 0 : static_cast<int32_t>(it - ports_.begin());
}

void TMidiManager::SetPortIndex(int32_t index) {
  portIndex_ = std::min(GetPortCount() - 1, std::max(0, index));
  TMidiPlayV* player = GetPlayer();
  if (!player || !player->IsPlaying()) return;
  const int64_t position = player->GetPosition();
  player->Stop();
  player->CloseDevice();
  openPort();
  player->Seek(0, position, -1);
}

TMidiPlayV* TMidiManager::GetPlayer() {
  if (config_.MainFormAlive && !config_.MainFormAlive()) return nullptr;
  return player_.get();
}

void TMidiManager::openPort() {
  // A device fresh from opening starts from General MIDI; on an open one
  // only a piece that loads resets it (TMidiItem::Play).
  player_->OpenDevice(portIndex_ - 1);
  player_->SendGMReset();
}

void TMidiManager::CloseDevice() {
  closedWhilePlaying_ = player_->IsPlaying();
  closedAt_ = player_->GetPosition();
  if (closedWhilePlaying_) player_->Stop();
  if (player_->DeviceOpen()) player_->CloseDevice();
}

void TMidiManager::ReopenDevice() {
  if (!current_) return;
  openPort();
  if (closedWhilePlaying_) player_->Seek(0, closedAt_, -1);
  closedWhilePlaying_ = false;
}

}  // namespace zirk
