#pragma once
// Media items and their managers. Every sound, piece of music or movie the
// game plays is an item made and owned by the manager of its kind; scene
// objects make items with Add, drive them through the item operations and
// give them back with Remove. The window pauses and resumes all playing
// items when it loses or regains the focus, and the scene's sound switch
// turns managers off and on.
//
// Levels are hundredths of a decibel: 0 full, -10000 silent. Positions and
// lengths are milliseconds for every kind.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zirk {

class TDMediaManager;
class TCustomDXSound;
class TCDP;
class TMidiPlayV;
class TVideoManager;
class TWmpManager;
class TOggManager;
class TCddaManager;
class TMidiManager;
namespace platform {
class AudioOutput;
class MixerDevices;
}  // namespace platform

class TDMediaItem {
 public:
  explicit TDMediaItem(TDMediaManager& manager) : manager_(manager) {}
  virtual ~TDMediaItem() = default;
  TDMediaItem(const TDMediaItem&) = delete;
  TDMediaItem& operator=(const TDMediaItem&) = delete;

  virtual bool GetAutoRepeat() { return false; }
  virtual void SetAutoRepeat(bool) {}
  virtual int32_t GetPan() { return 0; }
  virtual int32_t GetVol() { return 0; }
  virtual void SetPan(int32_t) {}
  virtual void SetVol(int32_t) {}
  virtual int32_t GetPosition() { return 0; }
  virtual void SetPosition(int32_t) {}
  virtual int32_t GetLen() { return 0; }
  // True when the item has reached its end.
  virtual bool CheckEnd() { return false; }
  virtual void EndReached(int32_t) {}
  virtual bool IsPlaying() { return false; }
  virtual bool IsPaused() { return false; }
  virtual void Play() {}
  virtual void Pause() {}

  TDMediaManager& Manager() const { return manager_; }
  // Set by SuspendAll for the items it paused (and by Play on a disabled
  // manager); ResumeAll plays these. Every item's Pause clears it: a sound
  // the script pauses while sound is off stays paused when sound comes back.
  bool ResumeFlag = false;

 protected:
  // Play's first step for the kinds the sound switch silences: true while
  // the manager is off, and the item then starts when it is switched on.
  bool playDeferred();

 private:
  TDMediaManager& manager_;
};

// The length of an item that reads it from its source (a MIDI file, a CD
// track) the first time it is asked, and keeps it, 0 too. An ask that cannot
// read the source learns nothing and answers 0; a later ask reads again, but
// not within a second of the last try, so that a source that stays missing
// costs no read or drive open on every tick of a film.
class TLearntLength {
 public:
  // `read` answers the source's length in ms, or nothing when it cannot be
  // read.
  template <class Read>
  int32_t Get(Read&& read) {
    if (!known_ && mayTryNow()) known_ = read();
    return known_.value_or(0);
  }
  // A length learnt on the way, as when the item loads to play.
  void Set(int32_t ms) { known_ = ms; }

 private:
  // False within a second of the last try; true marks a new try.
  bool mayTryNow();

  std::optional<int32_t> known_;
  std::optional<uint32_t> triedAt_;
};

// A manager owns its items, in the order they were added.
class TDMediaManager {
 public:
  // A manager without the enabled switch (the video manager) always counts
  // as enabled.
  explicit TDMediaManager(bool switchable = true) : switchable_(switchable) {}
  virtual ~TDMediaManager();
  TDMediaManager(const TDMediaManager&) = delete;
  TDMediaManager& operator=(const TDMediaManager&) = delete;

  // Frees the item when it is one of this manager's; otherwise nothing.
  void Remove(TDMediaItem* item);
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TDMediaItem* Items(int32_t index) const;
  bool Contains(const TDMediaItem* item) const;

  // Pauses every item that plays (and has not ended), remembering them.
  void SuspendAll();
  // Plays the remembered items again.
  void ResumeAll();
  // Off: suspends first; on: resumes after. An item asked to play while off
  // starts when the manager is switched on again.
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  bool Suspended() const { return suspended_; }

 protected:
  // Takes a newly made item into the list and answers it.
  template <class T>
  T* append(std::unique_ptr<T> item) {
    T* raw = item.get();
    items_.push_back(std::move(item));
    return raw;
  }

 private:
  std::vector<std::unique_ptr<TDMediaItem>> items_;
  bool switchable_;
  bool enabled_ = true;
  bool suspended_ = false;
};

// What the managers take from the program around them. Empty parts mean
// "none": no sound component, no main form, the process's own devices.
struct TMediaConfig {
  // The DirectSound setting: on, Ogg and WAVE sounds play through the media
  // library; off, through the software wave mixer.
  bool UseDirectSound = true;
  int32_t SoundDelayTime = 500;
  // The wave mixer's feeder ends when this turns true.
  const std::atomic<bool>* Terminated = nullptr;
  // The wave mixer's output; null for the process-wide sound device.
  platform::AudioOutput* WaveOutput = nullptr;
  // Whether the wave mixer runs its own feeder thread (tests refill by hand).
  bool WaveThread = true;
  // The main window's sound component, initialised on the first library
  // sound; null when there is none.
  std::function<TCustomDXSound*()> SoundComponent;
  // False while the program has no main form or it is being destroyed:
  // then there is no MIDI player to drive.
  std::function<bool()> MainFormAlive;
  // The MIDI player the manager drives (and the one a length query uses);
  // by default one with its timer thread over the platform's devices.
  std::function<std::unique_ptr<TMidiPlayV>()> MakeMidiPlayer;
  // The CD player, by default over the machine's drives.
  std::function<std::unique_ptr<TCDP>()> MakeCdPlayer;
  // The mixer the CD line is searched in; null for the process's mixer.
  platform::MixerDevices* Mixer = nullptr;
};

// The managers, each null until MediaInit and again after MediaFinal.
inline TVideoManager* VideoMan = nullptr;
inline TWmpManager* WmpMan = nullptr;
inline TOggManager* OggMan = nullptr;
inline TCddaManager* CddaMan = nullptr;
inline TMidiManager* MidiMan = nullptr;
// The slot whose address the media library keeps: the sound output its
// players mix into (a platform::AudioOutput*), null until filled.
inline void* SharedDirectSound = nullptr;

struct TMediaInitParams {
  // The addresses of the main window's and the main panel's handle
  // variables, which the media library keeps.
  const void* MainWindowHandle = nullptr;
  const void* MainPanelHandle = nullptr;
  // With both at least 1 (and no screen manager yet) a screen manager is
  // made, and freed by MediaFinal.
  int32_t ScreenWidth = 0;
  int32_t ScreenHeight = 0;
  TMediaConfig Config;
};

// Starts the media library and makes the five managers in order, each step
// announced to the trace routine.
void MediaInit(const TMediaInitParams& params);
// Frees the managers in order and finalises the library.
void MediaFinal();
// Around the full-screen switch: the library's video players.
void SuspendVideoPlayback();
void ResumeVideoPlayback();

// Whether a name is absolute: it begins with a path delimiter or has ":" as
// its second character.
bool IsAbsoluteMediaName(const std::string& name);
// The lower-cased extension of a name: from the last "." after the last
// "\", "/" or ":" (empty when there is none).
std::string MediaExtension(const std::string& name);

}  // namespace zirk
