#include "platform/mixerdev.h"

#include <algorithm>

namespace zirk::platform {

namespace {

// Line ids as the Windows mixer numbers them: a destination carries its index
// in the low word with 0xFFFF above, a source its index above the
// destination's.
uint32_t destinationLineId(uint32_t destination) {
  return 0xFFFF0000u | destination;
}
uint32_t sourceLineId(uint32_t destination, uint32_t source) {
  return (source << 16) | destination;
}

MIXERCONTROL controlInfo(const MixerControlDesc& desc, uint32_t id) {
  MIXERCONTROL control;
  control.dwControlID = id;
  control.dwControlType = desc.type;
  control.fdwControl = desc.flags;
  control.szName = desc.name;
  control.szShortName = desc.name.substr(0, 16);
  if (desc.type == MIXERCONTROL_CONTROLTYPE_MUTE) {
    control.dwMaximum = 1;
    control.cSteps = 2;
  } else {
    control.dwMaximum = kMixerVolumeMax;
    control.cSteps = kMixerVolumeMax + 1;
  }
  return control;
}

}  // namespace

MixerDevices::MixerDevices(std::vector<MixerDeviceDesc> devices) {
  for (auto& desc : devices) {
    Device device;
    device.caps = desc.caps;
    device.caps.cDestinations = static_cast<uint32_t>(desc.destinations.size());
    device.failingOpens = desc.failingOpens;
    device.sources.resize(desc.destinations.size());
    uint32_t nextControl = 1;
    auto makeLine = [&nextControl](const MixerLineDesc& lineDesc, MIXERLINE info) {
      Line line;
      info.dwComponentType = lineDesc.componentType;
      info.cChannels = lineDesc.channels;
      info.cControls = static_cast<uint32_t>(lineDesc.controls.size());
      info.szName = lineDesc.name;
      info.szShortName = lineDesc.name.substr(0, 16);
      line.info = info;
      for (const auto& controlDesc : lineDesc.controls) {
        Control control{controlInfo(controlDesc, nextControl++), controlDesc.values};
        // A control always answers for every channel it has.
        const size_t channels =
            (controlDesc.flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max(1u, info.cChannels);
        const uint32_t fill = control.values.empty() ? 0 : control.values.back();
        control.values.resize(channels, fill);
        line.controls.push_back(std::move(control));
      }
      return line;
    };
    for (uint32_t d = 0; d < desc.destinations.size(); ++d) {
      const MixerLineDesc& destDesc = desc.destinations[d];
      MIXERLINE info;
      info.dwDestination = d;
      info.dwLineID = destinationLineId(d);
      info.cConnections = static_cast<uint32_t>(destDesc.sources.size());
      device.destinations.push_back(makeLine(destDesc, info));
      for (uint32_t s = 0; s < destDesc.sources.size(); ++s) {
        MIXERLINE sourceInfo;
        sourceInfo.dwDestination = d;
        sourceInfo.dwSource = s;
        sourceInfo.dwLineID = sourceLineId(d, s);
        device.sources[d].push_back(makeLine(destDesc.sources[s], sourceInfo));
      }
    }
    devices_.push_back(std::move(device));
  }
}

std::vector<MixerDeviceDesc> MixerDevices::Standard() {
  MixerDeviceDesc device;
  device.caps.wMid = 0xFFFF;  // MM_UNMAPPED: no hardware maker
  device.caps.wPid = 0xFFFF;
  device.caps.vDriverVersion = 0x0100;
  device.caps.szPname = "ZirkPlayer Mixer";
  MixerLineDesc cd;
  cd.componentType = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
  cd.channels = 2;
  cd.name = "CD Audio";
  cd.controls = {
      {MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "CD Volume", {kMixerVolumeMax, kMixerVolumeMax}},
      {MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "CD Mute", {0}}};
  MixerLineDesc speakers;
  speakers.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
  speakers.channels = 2;
  speakers.name = "Speakers";
  speakers.sources.push_back(std::move(cd));
  device.destinations.push_back(std::move(speakers));
  std::vector<MixerDeviceDesc> devices;
  devices.push_back(std::move(device));
  return devices;
}

uint32_t MixerDevices::GetNumDevs() const {
  std::lock_guard lock(mutex_);
  return static_cast<uint32_t>(devices_.size());
}

MMRESULT MixerDevices::GetDevCaps(uint32_t device, MIXERCAPS& caps) const {
  std::lock_guard lock(mutex_);
  if (device >= devices_.size()) return kMixerBadDeviceId;
  caps = devices_[device].caps;
  return kMixerNoError;
}

MMRESULT MixerDevices::Open(HMIXER& mixer, uint32_t device, HWND callback) {
  std::lock_guard lock(mutex_);
  mixer = 0;
  if (device >= devices_.size()) return kMixerBadDeviceId;
  if (devices_[device].failingOpens > 0) {
    --devices_[device].failingOpens;
    return kMixerError;
  }
  mixer = nextHandle_++;
  opened_.push_back({mixer, device, callback});
  return kMixerNoError;
}

MMRESULT MixerDevices::Close(HMIXER mixer) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(opened_.begin(), opened_.end(),
                         [mixer](const Opened& o) { return o.handle == mixer; });
  if (it == opened_.end()) return kMixerInvalidHandle;
  opened_.erase(it);
  return kMixerNoError;
}

const MixerDevices::Opened* MixerDevices::FindOpen(HMIXER mixer) const {
  for (const auto& o : opened_)
    if (o.handle == mixer) return &o;
  return nullptr;
}

const MixerDevices::Device* MixerDevices::DeviceOf(HMIXER mixer) const {
  const Opened* open = FindOpen(mixer);
  return open ? &devices_[open->device] : nullptr;
}

const MixerDevices::Line* MixerDevices::FindLine(const Device& device, uint32_t lineId) const {
  for (const auto& line : device.destinations)
    if (line.info.dwLineID == lineId) return &line;
  for (const auto& sources : device.sources)
    for (const auto& line : sources)
      if (line.info.dwLineID == lineId) return &line;
  return nullptr;
}

template <typename DeviceT>
auto MixerDevices::FindControl(DeviceT& device, uint32_t controlId)
    -> decltype(&device.destinations[0].controls[0]) {
  for (auto& line : device.destinations)
    for (auto& control : line.controls)
      if (control.info.dwControlID == controlId) return &control;
  for (auto& sources : device.sources)
    for (auto& line : sources)
      for (auto& control : line.controls)
        if (control.info.dwControlID == controlId) return &control;
  return nullptr;
}

MMRESULT MixerDevices::GetDestinationLine(HMIXER mixer, uint32_t destination,
                                          MIXERLINE& line) const {
  std::lock_guard lock(mutex_);
  const Device* device = DeviceOf(mixer);
  if (!device) return kMixerInvalidHandle;
  if (destination >= device->destinations.size()) return MIXERR_INVALLINE;
  line = device->destinations[destination].info;
  return kMixerNoError;
}

MMRESULT MixerDevices::GetSourceLine(HMIXER mixer, uint32_t destination, uint32_t source,
                                     MIXERLINE& line) const {
  std::lock_guard lock(mutex_);
  const Device* device = DeviceOf(mixer);
  if (!device) return kMixerInvalidHandle;
  if (destination >= device->sources.size() || source >= device->sources[destination].size())
    return MIXERR_INVALLINE;
  line = device->sources[destination][source].info;
  return kMixerNoError;
}

MMRESULT MixerDevices::GetLineControls(HMIXER mixer, uint32_t lineId,
                                       std::vector<MIXERCONTROL>& controls) const {
  std::lock_guard lock(mutex_);
  const Device* device = DeviceOf(mixer);
  if (!device) return kMixerInvalidHandle;
  const Line* line = FindLine(*device, lineId);
  if (!line) return MIXERR_INVALLINE;
  controls.clear();
  for (const auto& control : line->controls) controls.push_back(control.info);
  return kMixerNoError;
}

MMRESULT MixerDevices::GetControlDetails(HMIXER mixer, uint32_t controlId, uint32_t channels,
                                         std::vector<uint32_t>& values) const {
  std::lock_guard lock(mutex_);
  const Device* device = DeviceOf(mixer);
  if (!device) return kMixerInvalidHandle;
  if (channels == 0) return kMixerInvalidParam;
  const Control* control = FindControl(*device, controlId);
  if (!control) return MIXERR_INVALCONTROL;
  if (channels > control->values.size() && control->values.size() != 1) return kMixerInvalidParam;
  values.resize(channels);
  for (uint32_t c = 0; c < channels; ++c)
    values[c] = control->values[std::min<size_t>(c, control->values.size() - 1)];
  return kMixerNoError;
}

MMRESULT MixerDevices::SetControlDetails(HMIXER mixer, uint32_t controlId,
                                         const std::vector<uint32_t>& values) {
  std::vector<std::pair<HWND, HMIXER>> notify;
  {
    std::lock_guard lock(mutex_);
    const Opened* open = FindOpen(mixer);
    if (!open) return kMixerInvalidHandle;
    const uint32_t device = open->device;
    Control* control = FindControl(devices_[device], controlId);
    if (!control) return MIXERR_INVALCONTROL;
    if (values.empty() || (values.size() != 1 && values.size() != control->values.size()))
      return kMixerInvalidParam;
    for (size_t c = 0; c < control->values.size(); ++c)
      control->values[c] =
          std::min(values[std::min(c, values.size() - 1)], control->info.dwMaximum);
    for (const auto& o : opened_)
      if (o.device == device && o.callback != 0) notify.emplace_back(o.callback, o.handle);
  }
  for (const auto& [wnd, handle] : notify)
    PostMessage(wnd, MM_MIXM_CONTROL_CHANGE, handle, static_cast<LPARAM>(controlId));
  return kMixerNoError;
}

StereoGain MixerDevices::Gain(uint32_t componentType) const {
  std::lock_guard lock(mutex_);
  for (const auto& device : devices_)
    for (const auto& sources : device.sources)
      for (const auto& line : sources) {
        if (line.info.dwComponentType != componentType) continue;
        StereoGain gain;
        bool volumeSeen = false;
        for (const auto& control : line.controls) {
          if (control.info.dwControlType == MIXERCONTROL_CONTROLTYPE_MUTE && control.values[0])
            return {0, 0};
          if (control.info.dwControlType == MIXERCONTROL_CONTROLTYPE_VOLUME && !volumeSeen) {
            volumeSeen = true;
            gain.left = control.values[0];
            gain.right = control.values.size() > 1 ? control.values[1] : control.values[0];
          }
        }
        return gain;
      }
  return {};
}

MixerDevices& ProcessMixerDevices() {
  static MixerDevices mixer(MixerDevices::Standard());
  return mixer;
}

}  // namespace zirk::platform
