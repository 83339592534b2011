#pragma once
// The system mixer component: opens one mixer device, lists its destination
// lines, each destination's source connections and every line's controls,
// and reads and writes the volume and mute of a line. It runs over the
// virtual mixer (platform/mixerdev.h), so the user's system volume is never
// touched; the CD-audio line scales the CD voice.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/messages.h"
#include "platform/mixerdev.h"

namespace zirk {

class TMixerControls {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const platform::MIXERCONTROL& Items(int32_t index) const {
    return items_.at(static_cast<size_t>(index));
  }
  std::vector<platform::MIXERCONTROL>& List() { return items_; }
  const std::vector<platform::MIXERCONTROL>& List() const { return items_; }

 private:
  std::vector<platform::MIXERCONTROL> items_;
};

struct TMixerConnection {
  platform::MIXERLINE Data;
  TMixerControls Controls;
};

struct TMixerDestination {
  platform::MIXERLINE Data;
  std::vector<TMixerConnection> Connections;
  TMixerControls Controls;
};

using TMixerDestinations = std::vector<TMixerDestination>;

class TAudioMixer {
 public:
  using TLineChangeEvent = std::function<void(TAudioMixer&, platform::HMIXER, uint32_t lineId)>;
  using TControlChangeEvent =
      std::function<void(TAudioMixer&, platform::HMIXER, uint32_t controlId)>;

  // Counts the devices and selects device 0 when there is one.
  explicit TAudioMixer(platform::MixerDevices* devices = nullptr);
  ~TAudioMixer();
  TAudioMixer(const TAudioMixer&) = delete;
  TAudioMixer& operator=(const TAudioMixer&) = delete;

  int32_t NumDevs() const { return numDevs_; }
  int32_t MixerId() const { return mixerId_; }
  // An index outside 0..count-1 changes nothing.
  void SetMixerId(int32_t index);

  const std::string& Manufacturer() const { return manufacturer_; }
  uint16_t ProductId() const { return productId_; }
  uint32_t DriverVersion() const { return driverVersion_; }
  const std::string& ProductName() const { return productName_; }

  const TMixerDestinations& Destinations() const { return destinations_; }

  // Connection -1 is the destination line itself. Result: the line exists and
  // has controls; the outputs keep their initial values for what is missing.
  bool GetVolume(int32_t destination, int32_t connection, int32_t& left, int32_t& right,
                 int32_t& mute, bool& stereo, bool& volumeDisabled, bool& muteDisabled,
                 bool& extra);
  // Left -1 leaves the volume, Mute -1 the mute alone; Right -1 takes Left.
  bool SetVolume(int32_t destination, int32_t connection, int32_t left, int32_t right,
                 int32_t mute);

  TLineChangeEvent OnLineChange;
  TControlChangeEvent OnControlChange;

 private:
  struct LineRef {
    const platform::MIXERLINE* line = nullptr;
    const TMixerControls* controls = nullptr;
  };
  LineRef FindLine(int32_t destination, int32_t connection) const;
  void CloseMixer();
  void ReadLines();
  platform::LRESULT WndProc(const platform::Message& message);

  platform::MixerDevices* devices_;
  int32_t numDevs_ = 0;
  int32_t mixerId_ = -1;
  platform::HMIXER handle_ = 0;
  std::string manufacturer_;
  uint16_t productId_ = 0;
  uint32_t driverVersion_ = 0;
  std::string productName_;
  TMixerDestinations destinations_;
  platform::HWND window_ = 0;
};

}  // namespace zirk
