#pragma once
// CD audio tracks as media items. Items named "CD_" and a track number
// share the manager's one CD player; only the current item drives it, the
// others answer from their own saved fields. The drive is found on first
// use (the drive the game's registry key names, else the first with a disc
// holding tracks), and with it the mixer line that sets the CD's volume.

#include <cstdint>
#include <memory>
#include <string>

#include "media/mediaman.h"

namespace zirk {

class TAudioMixer;

class TCddaItem : public TDMediaItem {
 public:
  TCddaItem(TCddaManager& manager, const std::string& name);
  ~TCddaItem() override;

  bool GetAutoRepeat() override { return repeat_; }
  void SetAutoRepeat(bool on) override;
  int32_t GetVol() override { return volume_; }
  void SetVol(int32_t level) override;
  int32_t GetPosition() override;
  void SetPosition(int32_t ms) override;
  int32_t GetLen() override;
  bool CheckEnd() override;
  bool IsPlaying() override;
  bool IsPaused() override { return paused_; }
  void Play() override;
  void Pause() override;

  // The track number after "CD_", -1 when it is not a number.
  int32_t Track() const { return track_; }
  const std::string& Name() const { return name_; }

 private:
  bool isCurrent() const;
  void makeCurrent();

  TCddaManager& owner_;
  std::string name_;
  int32_t track_;
  int32_t savedSeconds_ = 0;
  bool paused_ = false;
  int32_t volume_ = 0;
  TLearntLength length_;
  bool repeat_ = false;
};

class TCddaManager : public TDMediaManager {
 public:
  explicit TCddaManager(const TMediaConfig& config);
  ~TCddaManager() override;

  TCddaItem* Add(const std::string& name);
  // The CD line's volume read into the saved values (window activation)
  // and written back (deactivation, destruction); nothing without a line.
  void SaveMixerVolume();
  void RestoreMixerVolume();

  TCDP& Player() { return *player_; }
  TAudioMixer& Mixer() { return *mixer_; }
  TCddaItem* CurrentItem() const { return current_; }
  // -1 not yet searched, -2 searched without finding one, else the index.
  int32_t DriveIndex() const { return driveIndex_; }
  bool LineFound() const { return destination_ >= 0; }
  bool DeviceOpen() const;

 private:
  friend class TCddaItem;
  // Opens the drive while none is open.
  void openDrive();
  void findCdLine();
  void applyVolume(int32_t level);

  std::unique_ptr<TCDP> player_;
  std::unique_ptr<TAudioMixer> mixer_;
  TCddaItem* current_ = nullptr;
  int32_t destination_ = -1;
  int32_t connection_ = -1;
  int32_t savedLeft_ = 0, savedRight_ = 0, savedMute_ = 0;
  int32_t driveIndex_ = -1;
};

}  // namespace zirk
