#pragma once
// What sound and video objects share: the play state, the looping, pause,
// volume, balance and fade settings, the position to start from, and the
// operations on their media item that do not depend on its kind.

#include <cstdint>
#include <memory>
#include <string>

namespace zirk {

class TDMediaItem;
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

 protected:
  TMediaPlayback();
  // The item the object drives, null when none.
  virtual TDMediaItem* playedItem() const = 0;

  int32_t level() const { return MediaItemLevel(playedItem(), volume_); }
  // A fade-in from silence to the level, over the fade time.
  void startFadeIn();
  // StartPlay's part on an existing item: from the beginning, faded in when
  // a fade time is set; `replay` says whether Play is needed at once.
  void restartItem(bool replay);
  // Repeat on rewinds an item at (or past) its end and plays it again.
  void setRepeat(bool repeat);
  void setBalance(int32_t balance);
  int32_t getIndex() const;

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
