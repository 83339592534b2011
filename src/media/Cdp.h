#pragma once
// The CD audio player: plays audio-CD tracks through the MCI CD stand-in
// (platform/cdaudio.h) with a play list of track numbers, notices discs going
// in and out by polling every 200 ms, runs on through consecutive tracks,
// repeats the play list and reports track changes.
//
// The poll runs from WM_TIMER messages on the thread that made the player
// (its own ticker posts them while a drive is open); tests leave the ticker
// off and call Timer() themselves. End-of-play notifications arrive as
// MM_MCINOTIFY on the same thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/cdaudio.h"
#include "platform/messages.h"

namespace zirk {

class TCDP {
 public:
  using TNotifyEvent = std::function<void(TCDP&)>;

  // The machine's drives, the process's sound device and mixer, own ticker.
  TCDP();
  // Given drive elements (device paths or ".cue" images) and output; with
  // `ownTimer` false nothing polls unless Timer() is called.
  TCDP(std::vector<std::string> drives, platform::CdAudioOutput output, bool ownTimer);
  ~TCDP();
  TCDP(const TCDP&) = delete;
  TCDP& operator=(const TCDP&) = delete;

  // Opens the drive at that index of the drive list (closing one already
  // open); a failure leaves the device id 0.
  void OpenDrive(int32_t index);
  void Close();

  // 0 playing, 1 stopped, 2 paused, 3 seeking, 4 not ready or no device,
  // 5 door open.
  int32_t Mode();
  bool MediaPresent();
  int32_t TrackCount();
  int32_t TrackLength(int32_t track);  // seconds
  uint32_t Position();                 // TMSF
  int32_t PositionSeconds();           // within the current track

  void PlayIndex(int32_t index);
  // Plays from a TMSF position (0 = the current one) to the end of its track.
  void PlayFrom(uint32_t position);
  void PlayTrackAt(int32_t track, int32_t seconds);
  void Stop();
  void Seek(uint32_t position);

  // The poll timer's work; also what tests call.
  void Timer();

  bool ShufflePlay() const { return shufflePlay_; }
  void SetShufflePlay(bool value);
  int32_t NotifyAt() const { return notifyAt_; }
  void SetNotifyAt(int32_t seconds);
  bool RepeatPlay() const { return repeatPlay_; }
  void SetRepeatPlay(bool value) { repeatPlay_ = value; }
  bool IntroPlay() const { return introPlay_; }
  void SetIntroPlay(bool value) { introPlay_ = value; }
  int32_t IntroTime() const { return introTime_; }
  void SetIntroTime(int32_t seconds) { introTime_ = seconds; }
  const std::string& TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(std::string format) { timeFormat_ = std::move(format); }

  uint16_t DeviceId() const { return deviceId_; }
  uint32_t LastError() const { return error_; }
  const std::vector<std::string>& Drives() const { return drives_; }
  std::vector<std::string>& PlayList() { return playList_; }
  int32_t PlayIndexNow() const { return index_; }
  int32_t CurrentTrack() const { return currentTrack_; }
  bool DiscPresent() const { return discPresent_; }
  bool Paused() const { return paused_; }
  bool TimerEnabled() const { return timerEnabled_; }
  platform::HWND Handle() const { return window_; }
  platform::CdAudioDevice* Device() const { return device_.get(); }

  TNotifyEvent OnCDInsert;
  TNotifyEvent OnCDExit;
  TNotifyEvent OnSongChange;
  TNotifyEvent OnTime;

 private:
  class Ticker;

  platform::LRESULT WndProc(const platform::Message& message);
  void Notified(platform::WPARAM result);
  int32_t EntryTrack(int32_t index) const;
  void SetCurrentTrack(int32_t track);
  void FillPlayList();
  void Fire(const TNotifyEvent& event);

  std::vector<std::string> drives_;
  platform::CdAudioOutput output_;
  std::unique_ptr<platform::CdAudioDevice> device_;
  uint16_t deviceId_ = 0;
  uint32_t error_ = 0;

  std::vector<std::string> playList_;
  int32_t index_ = 0;
  int32_t currentTrack_ = 1;
  bool discPresent_ = false;
  bool paused_ = false;
  bool repeatPlay_ = false;
  bool introPlay_ = false;
  bool shufflePlay_ = false;
  bool runContinues_ = false;
  bool notifyDone_ = false;
  bool inTimer_ = false;
  uint32_t pollCount_ = 0;
  int32_t notifyAt_ = 0;
  int32_t introTime_ = 10;
  std::string timeFormat_ = "%.2d:%.2d";

  platform::HWND window_ = 0;
  bool timerEnabled_ = false;
  std::unique_ptr<Ticker> ticker_;
};

}  // namespace zirk
