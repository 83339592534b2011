#pragma once
// Stand-in for the system mixer API. The player never changes the user's
// system volume: the mixer it sees is virtual, and its lines scale only the
// player's own sound sources (the CD voice reads the gain of the CD-audio
// line). The standard set has one device with one destination and one
// source line of type MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC with a stereo
// volume (0..65535, starting at 65535) and a mute (starting off). Tests build
// other sets (mono or uniform controls, failing opens) from descriptions.
//
// Calls return the Windows mixer functions' result numbers (the MMSYSERR_
// ones under names of their own, as the MIDI port defines those too). Line ids,
// control ids and handles are the mixer's own numbers; all calls are
// thread-safe (the CD voice asks for its gain on the sound device's thread).

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace zirk::platform {

using MMRESULT = uint32_t;
using HMIXER = uint32_t;  // 0 is no mixer

constexpr MMRESULT kMixerNoError = 0;
constexpr MMRESULT kMixerError = 1;
constexpr MMRESULT kMixerBadDeviceId = 2;
constexpr MMRESULT kMixerInvalidHandle = 5;
constexpr MMRESULT kMixerInvalidParam = 11;
constexpr MMRESULT MIXERR_INVALLINE = 1024;
constexpr MMRESULT MIXERR_INVALCONTROL = 1025;

constexpr uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;

constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
constexpr uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
constexpr uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
constexpr uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

constexpr uint32_t kMixerVolumeMax = 65535;

struct MIXERCAPS {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;
  std::string szPname;
  uint32_t fdwSupport = 0;
  uint32_t cDestinations = 0;
};

struct MIXERLINE {
  uint32_t dwDestination = 0;
  uint32_t dwSource = 0;
  uint32_t dwLineID = 0;
  uint32_t fdwLine = 0;
  uint32_t dwComponentType = 0;
  uint32_t cChannels = 0;
  uint32_t cConnections = 0;
  uint32_t cControls = 0;
  std::string szShortName;
  std::string szName;
};

struct MIXERCONTROL {
  uint32_t dwControlID = 0;
  uint32_t dwControlType = 0;
  uint32_t fdwControl = 0;
  uint32_t cMultipleItems = 0;
  std::string szShortName;
  std::string szName;
  uint32_t dwMinimum = 0;
  uint32_t dwMaximum = 0;
  uint32_t cSteps = 0;
};

// Descriptions a mixer set is built from. Ids are given by the set.
struct MixerControlDesc {
  uint32_t type = MIXERCONTROL_CONTROLTYPE_VOLUME;
  uint32_t flags = 0;
  std::string name;
  std::vector<uint32_t> values;  // one per channel (one for a uniform control)
};

struct MixerLineDesc {
  uint32_t componentType = 0;
  uint32_t channels = 2;
  std::string name;
  std::vector<MixerControlDesc> controls;
  std::vector<MixerLineDesc> sources;  // only on destinations
};

struct MixerDeviceDesc {
  MIXERCAPS caps;  // cDestinations is filled from the list
  std::vector<MixerLineDesc> destinations;
  int failingOpens = 0;  // the next opens of this device that fail
};

struct StereoGain {
  uint32_t left = kMixerVolumeMax;  // 0..65535
  uint32_t right = kMixerVolumeMax;
};

class MixerDevices {
 public:
  explicit MixerDevices(std::vector<MixerDeviceDesc> devices);
  MixerDevices(const MixerDevices&) = delete;
  MixerDevices& operator=(const MixerDevices&) = delete;

  // One device, one destination, the CD-audio line.
  static std::vector<MixerDeviceDesc> Standard();

  uint32_t GetNumDevs() const;
  MMRESULT GetDevCaps(uint32_t device, MIXERCAPS& caps) const;
  // A callback window receives MM_MIXM_CONTROL_CHANGE (wParam the handle,
  // lParam the control id) whenever any opener changes a control.
  MMRESULT Open(HMIXER& mixer, uint32_t device, HWND callback);
  MMRESULT Close(HMIXER mixer);

  MMRESULT GetDestinationLine(HMIXER mixer, uint32_t destination, MIXERLINE& line) const;
  MMRESULT GetSourceLine(HMIXER mixer, uint32_t destination, uint32_t source,
                         MIXERLINE& line) const;
  MMRESULT GetLineControls(HMIXER mixer, uint32_t lineId,
                           std::vector<MIXERCONTROL>& controls) const;
  // Unsigned details: `channels` values, 1 for a uniform control; asking a
  // uniform control for more gives its one value on every channel.
  MMRESULT GetControlDetails(HMIXER mixer, uint32_t controlId, uint32_t channels,
                             std::vector<uint32_t>& values) const;
  // One value sets every channel; values above the control's maximum are
  // clamped.
  MMRESULT SetControlDetails(HMIXER mixer, uint32_t controlId, const std::vector<uint32_t>& values);

  // The scale of the player's sources of this component type: the volume of
  // the first line of that type (0..65535 per channel), 0 when it is muted,
  // full when there is no such line.
  StereoGain Gain(uint32_t componentType) const;

 private:
  struct Control {
    MIXERCONTROL info;
    std::vector<uint32_t> values;
  };
  struct Line {
    MIXERLINE info;
    std::vector<Control> controls;
  };
  struct Device {
    MIXERCAPS caps;
    std::vector<Line> destinations;
    std::vector<std::vector<Line>> sources;  // per destination
    int failingOpens = 0;
  };
  struct Opened {
    HMIXER handle;
    uint32_t device;
    HWND callback;
  };

  const Opened* FindOpen(HMIXER mixer) const;
  const Device* DeviceOf(HMIXER mixer) const;
  const Line* FindLine(const Device& device, uint32_t lineId) const;
  // Const or not, as the device given.
  template <typename DeviceT>
  static auto FindControl(DeviceT& device, uint32_t controlId)
      -> decltype(&device.destinations[0].controls[0]);

  mutable std::mutex mutex_;
  std::vector<Device> devices_;
  std::vector<Opened> opened_;
  HMIXER nextHandle_ = 1;
};

// The mixer set of the program: made on first use.
MixerDevices& ProcessMixerDevices();

}  // namespace zirk::platform
