#pragma once
// MIDI music as media items. The items share the manager's one MIDI player;
// the current item holds it, the others keep their position until they
// play. The manager also keeps the list of output ports the script chooses
// from (entry 0 the MIDI mapper).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/mediaman.h"

namespace zirk {

class TMidiItem : public TDMediaItem {
 public:
  TMidiItem(TMidiManager& manager, const std::string& name);
  ~TMidiItem() override;

  // Each piece loops by its own flag, handed to the player when it loads.
  bool GetAutoRepeat() override { return repeat_; }
  void SetAutoRepeat(bool on) override;
  int32_t GetVol() override { return volume_; }
  // Levels outside -10000..0 are taken as the nearer end.
  void SetVol(int32_t level) override;
  int32_t GetPosition() override;
  void SetPosition(int32_t ms) override;
  int32_t GetLen() override;
  bool CheckEnd() override;
  bool IsPlaying() override;
  bool IsPaused() override { return paused_; }
  void Play() override;
  void Pause() override;

  const std::string& Name() const { return name_; }

 private:
  bool isCurrent() const;
  // Reads the file into the player; false when it reads as empty.
  bool load(TMidiPlayV& player);

  TMidiManager& owner_;
  std::string name_;
  int32_t savedMs_ = 0;
  bool paused_ = false;
  int32_t volume_ = 0;
  TLearntLength length_;
  bool repeat_ = false;
};

class TMidiManager : public TDMediaManager {
 public:
  static constexpr const char* kMapperName = "MIDIマッパー";

  explicit TMidiManager(const TMediaConfig& config);
  ~TMidiManager() override;

  TMidiItem* Add(const std::string& name);

  int32_t GetPortCount() const { return static_cast<int32_t>(ports_.size()); }
  // The mapper's name outside the list.
  std::string GetPortName(int32_t index) const;
  // Selects the port of that name, the mapper when there is none.
  void SetPortName(const std::string& name);
  std::string GetCurrentPortName() const { return GetPortName(portIndex_); }
  int32_t PortIndex() const { return portIndex_; }
  // Selects a port (clamped to the list); a playing piece moves to it and
  // goes on where it was.
  void SetPortIndex(int32_t index);
  // The player, or null while the program has no main form.
  TMidiPlayV* GetPlayer();
  TMidiItem* CurrentItem() const { return current_; }

  // Around the full-screen switch: the device is closed (remembering
  // whether it played and where) and opened again.
  void CloseDevice();
  void ReopenDevice();

 private:
  friend class TMidiItem;
  // Opens the selected port and resets it to General MIDI.
  void openPort();

  TMediaConfig config_;
  std::unique_ptr<TMidiPlayV> player_;
  std::vector<std::string> ports_;
  int32_t portIndex_ = 0;
  TMidiItem* current_ = nullptr;
  bool closedWhilePlaying_ = false;
  int64_t closedAt_ = 0;
};

}  // namespace zirk
