#pragma once
// The sound object: one piece of music, a voice or a sound effect. It draws
// nothing; its source name chooses the media manager (by extension, or "CD_"
// and a track number), and it drives the item that manager makes: play,
// pause, loop, volume, balance, fades, and the end reported to the script.
//
// Play states: 0 playing, 1 playing with a fade-in, 2 stopped, 3 fading out
// (the object renames itself and goes when the fade is done).

#include <cstdint>
#include <memory>
#include <string>

#include "objects/mediaplay.h"
#include "scene/capabilities.h"
#include "scene/zobject.h"

namespace zirk {

class TDMediaItem;
class TDMediaManager;

class TZirkSound : public TZirkComponent,
                   public TMediaPlayback,
                   public IActivatable,
                   public IPlayable {
 public:
  explicit TZirkSound(TZirkBaseList& scene);
  ~TZirkSound() override;

  int32_t GetKind() const override { return LT_SOUND; }
  const TPropTable& Properties() const override;

  // SetActive: 0 play, 1 fade in, 2 stop (the object goes), 3 fade out.
  int32_t GetActive() override { return state_; }
  void SetActive(int32_t state) override;
  // Starts over from the beginning (with a fade-in when a fade time is set).
  void StartPlay() override;

  bool Tick() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

  void SetSource(const std::string& source) override;
  const std::string& Source() const { return source_; }
  TDMediaItem* Item() const { return item_; }
  TZirkMixer* Fade() const { return fade_.get(); }
  bool Ended() const { return ended_; }
  // The length in ms, made from a temporary item when there is none.
  int32_t GetLength();

 protected:
  TDMediaItem* playedItem() const override { return item_; }

 private:
  void applyPause();
  void removeItem();
  void makeItem();
  void setPaused(bool paused);
  void setHeld(bool held);
  void setVolume(int32_t volume);
  void setIndex(int32_t index);
  bool getPlaying();

  TDMediaItem* item_ = nullptr;
  bool held_ = false;
  std::string endLabel_;
};

// The manager a sound source plays through (by extension; "CD_" and a
// track number for CD audio), or null when there is none.
TDMediaManager* SoundManagerFor(const std::string& source);
// A new item of that manager, null when it cannot be made.
TDMediaItem* AddSoundItem(TDMediaManager& manager, const std::string& source);

void RegisterZirkSound();

}  // namespace zirk
