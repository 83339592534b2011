#pragma once
// Volume fades: one fade moves the level of one media item over a number of
// milliseconds of the game clock, so a fade stands still while the program
// is inactive. The owner (a sound or video object) steps it once per tick
// and frees it when Step reports that it is done.
//
// Apart from MIDI, levels move over half of the range only: a fade-in
// starts at the midpoint between silence and its target, a fade-out falls
// to the midpoint and its owner then drops the item.

#include <cstdint>

namespace zirk {

class TDMediaItem;

class TZirkMixer {
 public:
  TZirkMixer(TDMediaItem& item, int32_t duration, int32_t targetLevel)
      : item_(&item), targetLevel_(targetLevel), duration_(duration) {}
  virtual ~TZirkMixer() = default;
  TZirkMixer(const TZirkMixer&) = delete;
  TZirkMixer& operator=(const TZirkMixer&) = delete;

  // One step at the game clock; true when the fade is done.
  virtual bool Step() { return false; }
  virtual bool FadesOut() const { return false; }
  TDMediaItem& Item() const { return *item_; }
  int32_t TargetLevel() const { return targetLevel_; }
  void SetTargetLevel(int32_t level) { targetLevel_ = level; }

 protected:
  // The first step: the start level and time.
  virtual void start() = 0;
  bool started() const { return started_; }
  void begin(int32_t startLevel);
  // The level at the game clock now, and whether the time is up.
  int32_t currentLevel() const;
  bool timeUp() const;

  TDMediaItem* item_;
  int32_t startLevel_ = 0;
  int32_t targetLevel_;

 private:
  uint32_t elapsed() const;

  int32_t duration_;
  uint32_t startTime_ = 0;
  bool started_ = false;
};

// Starts the item from silence and raises it to the target level.
class TZirkMixerFadein : public TZirkMixer {
 public:
  TZirkMixerFadein(TDMediaItem& item, int32_t targetLevel, int32_t duration)
      : TZirkMixer(item, duration, targetLevel) {}
  bool Step() override;

 protected:
  void start() override;
};

// Lowers the item from its level towards silence; when done the level stays
// where the last step put it.
class TZirkMixerFadeout : public TZirkMixer {
 public:
  TZirkMixerFadeout(TDMediaItem& item, int32_t duration) : TZirkMixer(item, duration, -10000) {}
  bool Step() override;
  bool FadesOut() const override { return true; }

 protected:
  void start() override;
};

}  // namespace zirk
