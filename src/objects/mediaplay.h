#pragma once
// What sound and video objects share: the play state, the looping, pause,
// volume, balance and fade settings, the position to start from, and the
// operations on their media item that do not depend on its kind.

#include <cstdint>
#include <memory>
#include <string>

namespace zirk {

class TDMediaItem;
class TRecordReader;
class TRecordWriter;
class TZirkMixer;

// The play states of sound and video objects.
enum : int32_t { kPlaying = 0, kFadingIn = 1, kStopped = 2, kFadingOut = 3 };

// The level (hundredths of a decibel) of a volume 0..1000: a MIDI item
// spans the whole range, every other kind the upper half, silence at 0.
int32_t MediaItemLevel(const TDMediaItem* item, int32_t volume);
// Whether the project can read the source.
bool MediaSourceAvailable(const std::string& source);

class TMediaPlayback {
 public:
  virtual ~TMediaPlayback();

  // A new source lets go of the item of the old one.
  virtual void SetSource(const std::string& source) = 0;

 protected:
  TMediaPlayback();
  // The item the object drives, null when none.
  virtual TDMediaItem* playedItem() const = 0;

  int32_t level() const { return MediaItemLevel(playedItem(), volume_); }
  // A fade-in from silence to the level, over the fade time.
  void startFadeIn();
  // StartPlay's part on an existing item: from the beginning, faded in when
  // a fade time is set, else at once.
  void restartItem();
  // Repeat on rewinds an item at (or past) its end and plays it again.
  void setRepeat(bool repeat);
  void setBalance(int32_t balance);
  int32_t getIndex() const;

  // What a load reads before the object takes it.
  struct TLoadedSettings {
    std::string Source;
    bool Paused = false;
    int32_t FadeTime = 0;
    int32_t Position = 0;
  };
  // The two runs both save records hold: the source with the loop,
  // auto-scrap and pause flags; the volume, balance, fade time and position.
  void saveSourceRun(TRecordWriter& out) const;
  void saveLevelRun(TRecordWriter& out) const;
  void loadSourceRun(TRecordReader& in, TLoadedSettings& loaded);
  void loadLevelRun(TRecordReader& in, TLoadedSettings& loaded);
  // Takes the source, start position and pause flag of a load: a muted load
  // starts silent, a rewinding one from the beginning. The fade time stays
  // 0 until the object has restored its state.
  void takeLoaded(const TLoadedSettings& loaded);

  std::string source_;
  int32_t state_ = kStopped;
  bool repeat_ = false;
  bool paused_ = false;
  int32_t volume_ = 0;
  int32_t balance_ = 0;
  std::unique_ptr<TZirkMixer> fade_;
  int32_t fadeTime_ = 0;
  int32_t startPosition_ = 0;
  bool autoScrap_ = false;
  bool rewindOnLoad_ = false;
  bool muteOnLoad_ = false;
  // An end is acted on once; play, start, position, repeat and source
  // changes let the next one through.
  bool ended_ = false;
};

}  // namespace zirk
