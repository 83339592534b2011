#include "media/AMixer.h"

#include <algorithm>

namespace zirk {

using namespace platform;

namespace {

uint32_t channelsOf(const MIXERCONTROL& control, const MIXERLINE& line) {
  if (control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) return 1;
  return std::max<uint32_t>(1, line.cChannels);
}

uint32_t detailValue(int32_t value, const MIXERCONTROL& control) {
  return static_cast<uint32_t>(std::clamp<int64_t>(value, 0, control.dwMaximum));
}

}  // namespace

TAudioMixer::TAudioMixer(MixerDevices* devices)
    : devices_(devices ? devices : &ProcessMixerDevices()) {
  window_ = AllocateHWnd([this](const Message& m) { return WndProc(m); });
  numDevs_ = static_cast<int32_t>(devices_->GetNumDevs());
  if (numDevs_ > 0) SetMixerId(0);
}

TAudioMixer::~TAudioMixer() {
  CloseMixer();
  DeallocateHWnd(window_);
}

LRESULT TAudioMixer::WndProc(const Message& message) {
  if (message.msg == MM_MIXM_LINE_CHANGE) {
    if (OnLineChange)
      OnLineChange(*this, static_cast<HMIXER>(message.wParam),
                   static_cast<uint32_t>(message.lParam));
  } else if (message.msg == MM_MIXM_CONTROL_CHANGE) {
    if (OnControlChange)
      OnControlChange(*this, static_cast<HMIXER>(message.wParam),
                      static_cast<uint32_t>(message.lParam));
  }
  return 0;
}

void TAudioMixer::CloseMixer() {
  if (handle_ != 0) devices_->Close(handle_);
  handle_ = 0;
  destinations_.clear();
}

void TAudioMixer::SetMixerId(int32_t index) {
  if (index < 0 || index >= numDevs_) return;
  CloseMixer();
  const uint32_t device = static_cast<uint32_t>(index);
  if (devices_->Open(handle_, device, window_) != kMixerNoError &&
      devices_->Open(handle_, device, window_) != kMixerNoError &&
      devices_->Open(handle_, device, 0) != kMixerNoError) {
    handle_ = 0;
    mixerId_ = -1;
    return;
  }
  mixerId_ = index;
  MIXERCAPS caps;
  devices_->GetDevCaps(device, caps);
  manufacturer_ = caps.wMid == 1 ? "Microsoft" : std::to_string(caps.wMid) + " = Unknown";
  productId_ = caps.wPid;
  driverVersion_ = caps.vDriverVersion;
  productName_ = caps.szPname;
  ReadLines();
}

void TAudioMixer::ReadLines() {
  MIXERCAPS caps;
  devices_->GetDevCaps(static_cast<uint32_t>(mixerId_), caps);
  for (uint32_t d = 0; d < caps.cDestinations; ++d) {
    TMixerDestination destination;
    if (devices_->GetDestinationLine(handle_, d, destination.Data) != kMixerNoError) continue;
    devices_->GetLineControls(handle_, destination.Data.dwLineID, destination.Controls.List());
    for (uint32_t s = 0; s < destination.Data.cConnections; ++s) {
      TMixerConnection connection;
      if (devices_->GetSourceLine(handle_, d, s, connection.Data) != kMixerNoError) continue;
      devices_->GetLineControls(handle_, connection.Data.dwLineID, connection.Controls.List());
      destination.Connections.push_back(std::move(connection));
    }
    destinations_.push_back(std::move(destination));
  }
}

TAudioMixer::LineRef TAudioMixer::FindLine(int32_t destination, int32_t connection) const {
  if (destination < 0 || static_cast<size_t>(destination) >= destinations_.size()) return {};
  const TMixerDestination& dest = destinations_[static_cast<size_t>(destination)];
  if (connection == -1) return {&dest.Data, &dest.Controls};
  if (connection < 0 || static_cast<size_t>(connection) >= dest.Connections.size()) return {};
  const TMixerConnection& conn = dest.Connections[static_cast<size_t>(connection)];
  return {&conn.Data, &conn.Controls};
}

bool TAudioMixer::GetVolume(int32_t destination, int32_t connection, int32_t& left, int32_t& right,
                            int32_t& mute, bool& stereo, bool& volumeDisabled, bool& muteDisabled,
                            bool& extra) {
  left = right = mute = -1;
  volumeDisabled = muteDisabled = true;
  stereo = extra = false;
  const LineRef ref = FindLine(destination, connection);
  if (!ref.line || ref.controls->Count() == 0) return false;
  bool volumeFound = false;
  bool muteFound = false;
  std::vector<uint32_t> values;
  for (const MIXERCONTROL& control : ref.controls->List()) {
    if (volumeFound && muteFound) break;
    const uint32_t channels = channelsOf(control, *ref.line);
    if (!volumeFound && control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME &&
        !(control.fdwControl & MIXERCONTROL_CONTROLF_DISABLED)) {
      if (devices_->GetControlDetails(handle_, control.dwControlID, channels, values) !=
          kMixerNoError)
        continue;
      volumeFound = true;
      left = static_cast<int32_t>(values[0]);
      stereo = channels >= 2;
      right = stereo ? static_cast<int32_t>(values[1]) : left;
      volumeDisabled = false;
    } else if (!muteFound && control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE) {
      if (devices_->GetControlDetails(handle_, control.dwControlID, channels, values) !=
          kMixerNoError)
        continue;
      muteFound = true;
      mute = values[0] ? 1 : 0;
      muteDisabled = (control.fdwControl & MIXERCONTROL_CONTROLF_DISABLED) != 0;
    }
  }
  return true;
}

bool TAudioMixer::SetVolume(int32_t destination, int32_t connection, int32_t left, int32_t right,
                            int32_t mute) {
  const LineRef ref = FindLine(destination, connection);
  if (!ref.line || ref.controls->Count() == 0) return false;
  if (right == -1) right = left;
  bool volumeDone = left == -1;
  bool muteDone = mute == -1;
  bool ok = true;
  for (const MIXERCONTROL& control : ref.controls->List()) {
    if (volumeDone && muteDone) break;
    const uint32_t channels = channelsOf(control, *ref.line);
    if (!volumeDone && control.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME &&
        !(control.fdwControl & MIXERCONTROL_CONTROLF_DISABLED)) {
      volumeDone = true;
      std::vector<uint32_t> values(channels, detailValue(right, control));
      values[0] = detailValue(left, control);
      ok = devices_->SetControlDetails(handle_, control.dwControlID, values) == kMixerNoError && ok;
    } else if (!muteDone && control.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE) {
      muteDone = true;
      const std::vector<uint32_t> values(channels, mute ? 1u : 0u);
      ok = devices_->SetControlDetails(handle_, control.dwControlID, values) == kMixerNoError && ok;
    }
  }
  return ok;
}

}  // namespace zirk
