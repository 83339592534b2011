#pragma once
// The MIDI player: the file model's events sent to a midiOut device by a
// 10 ms timer thread, with repeat, seeking by tick, time or bar/beat,
// controller scaling (the MIDI item's volume) and the list of output devices.
//
// Every operation that changes playback first pauses the timer and waits
// until no tick is running, so ticks and operations never overlap. Long
// messages complete synchronously on this platform, so nothing ever waits
// for a device's "done".

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/MidiV.h"
#include "platform/audio.h"
#include "platform/midiout.h"

namespace zirk {

// A periodic timer on a thread of its own. Disabled, the thread sleeps until
// it is enabled again; paused, it keeps time but runs no tick.
class TMMTimer {
 public:
  using Handler = std::function<void()>;

  // Without a thread nothing ticks until a caller runs Tick.
  TMMTimer(Handler handler, bool useThread);
  ~TMMTimer();
  TMMTimer(const TMMTimer&) = delete;
  TMMTimer& operator=(const TMMTimer&) = delete;

  uint32_t Interval() const;
  void SetInterval(uint32_t ms);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  // Pauses nest; Pause returns once no tick is running.
  void Pause();
  void Resume();
  // What an interval's end does: runs the handler when enabled and not paused.
  void Tick();

 private:
  void run();

  Handler handler_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  uint32_t interval_ = 100;
  bool enabled_ = false;
  int paused_ = 0;
  bool idle_ = true;
  bool terminated_ = false;
  std::thread thread_;
};

struct TMidiDevice {
  int32_t ManufacturerId = 0;
  int32_t ProductId = 0;
  std::string DriverVersion;  // "%2.2d.%2.2d"
  std::string Name;
  int32_t Technology = 0;
  int32_t Voices = 0;
  int32_t Notes = 0;
  int32_t ChannelMask = 0;
  uint32_t Support = 0;
};
using TMidiDevices = std::vector<TMidiDevice>;

// Opens output device `index` (negative: the mapper) into `port`; an error
// code of the midiOut family, 0 on success.
using TMidiPortOpener =
    std::function<uint32_t(std::unique_ptr<platform::MidiOutPort>& port, int32_t index)>;

class TMidiPlayV : public TMidiV {
 public:
  static constexpr uint32_t kTimerInterval = 10;
  // A stalled timer catches up at most this much per tick.
  static constexpr uint32_t kMaxTickStep = 1000;
  // At most this many messages go out in one tick. No music comes near it
  // (a General MIDI file sets up every channel at once with a few hundred),
  // so it spreads only a hostile file over the next ticks. A tick holds the
  // player lock, which the position and end queries of the main thread wait
  // for, and every message waits for the synthesizer. Meta events send
  // nothing and are not counted.
  static constexpr size_t kMaxMessagesPerTick = 4096;

  // Without the timer thread a caller drives playback with Timer().Tick().
  explicit TMidiPlayV(bool useTimerThread = true);
  ~TMidiPlayV() override;  // closes the device

  // Stops, reads the file and rewinds to its first event; always false.
  bool LoadFromStream(TKwStream& stream) override;

  // A device fresh from opening knows nothing of the sequence: the next Seek
  // sends everything but the notes again from the first event.
  bool OpenDevice(int32_t index);
  void CloseDevice();
  bool DeviceOpen() const { return deviceOpen_; }
  const std::string& LastError() const { return lastError_; }
  // Off, the player keeps its timing but no device is opened.
  bool UseDevice = true;

  // Moves to a tick (when tick >= 1), a time in ms (beat -1) or bar `time`
  // and beat `beat`, and plays from there.
  void Seek(int64_t tick, int64_t time, int32_t beat);
  void Stop();
  bool IsPlaying() const { return timer_->Enabled(); }
  int64_t GetPosition();
  void SetPosition(int64_t ms);
  bool GetRepeat();
  void SetRepeat(bool repeat);
  // Past the last event of a sequence that does not repeat.
  bool IsEnd();
  void SendGMReset();
  void SetControllerScale(int32_t controller, int32_t percent);

  const TMidiDevices& Devices() const { return devices_; }
  int32_t Tempo();  // beats per minute
  int32_t CurrentIndex();
  const TMidiMsgEvent* CurrentEvent();
  TMMTimer& Timer() { return *timer_; }

  // Where devices come from; the platform's midiOut by default, the
  // synthesizer rendering into SetAudioOutput's output.
  void SetPortOpener(TMidiPortOpener opener) { opener_ = std::move(opener); }
  void SetAudioOutput(platform::AudioOutput* output) { output_ = output; }

  // After each tick that sent something, on the timer's thread; it must not
  // call back into the player.
  std::function<void(const std::vector<const TMidiMsgEvent*>&)> OnMidiEvents;

 private:
  void timerTick();
  void sendEvent(const TMidiMsgEvent& event);
  void sendController(int channel, int controller);
  void allNotesOff();
  int32_t indexByTick(int64_t tick) const;
  int32_t indexByTime(int64_t time) const;
  int32_t indexByBeat(int64_t bar, int32_t beat) const;

  std::recursive_mutex lock_;
  std::unique_ptr<platform::MidiOutPort> port_;
  bool deviceOpen_ = false;
  bool replayFromStart_ = false;
  std::string lastError_;
  int32_t index_ = 0;
  const TMidiMsgEvent* current_ = nullptr;
  int64_t position_ = 0;
  int32_t tempo_ = 120;
  bool repeat_ = false;
  uint32_t lastTickTime_ = 0;
  std::array<std::array<int32_t, 128>, 16> raw_{};
  std::array<std::array<int32_t, 128>, 16> scale_{};
  TMidiDevices devices_;
  TMidiPortOpener opener_;
  platform::AudioOutput* output_ = nullptr;
  std::unique_ptr<TMMTimer> timer_;
};

}  // namespace zirk
