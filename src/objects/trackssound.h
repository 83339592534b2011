#pragma once
// Sound tracks play a sound file through a sound object in step with the
// film: volume and balance follow the timeline, playback follows pausing,
// rewinding and seeking of the film. A chain of sound tracks plays one
// sound object, made by the chain's first track; the later ones move only
// its volume and balance. A sound holds its file open and decoding, so it
// is made shortly before its chain starts and let go once the chain ends:
// a film holds only the sounds near its time, however many tracks it has.

#include <cstdint>
#include <string>

#include "objects/tracks.h"

namespace zirk {

class TZirkSound;

class TSoundFrameList : public TCustomFrameList {
 public:
  // A film and its sound more than this far apart are brought together.
  static constexpr int32_t kSeekTolerance = 3000;  // ms
  // How long before its chain starts a sound is made, so its file is open
  // and ready when the film reaches it.
  static constexpr int32_t kOpenAhead = 30;  // ticks

  explicit TSoundFrameList(TFilmManager& film);
  ~TSoundFrameList() override;
  TTrackType GetType() const override { return ttSound; }
  int32_t FrameIndexAt(int32_t) const override { return 0; }

  // A chained track reports its root's file.
  std::string GetSource() const override;
  void SetSource(const std::string& name) override;
  bool GetPaused() const override { return paused_; }
  void SetPaused(bool paused) override;

  int32_t VolumeFrom = 1000, VolumeTo = 1000;  // per mille
  int32_t BalanceFrom = 0, BalanceTo = 0;
  uint8_t VolumeEasing = 0, BalanceEasing = 0;
  // A chained track starts where its parent ends, so the chain plays on
  // without a jump at the joint; a parent of another kind has no level (0).
  int32_t GetVolumeFrom() const;
  int32_t GetBalanceFrom() const;

  void ReleaseTarget() override;
  TZirkObject* GetTarget() const override;
  bool Apply(int32_t time) override;
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;
  void Reload() override;
  void CollectFiles(std::vector<std::string>& files) const override;
  void OwnerRefreshed() override;
  void PlayingStopped() override;

  // Makes the chain's sound object when the chain has none yet.
  void EnsureSound();
  // The sound object the chain plays; a chained track lets go of its own.
  TZirkSound* RootSound();
  // Whether the sound loops: when the track outlasts the sound, or when the
  // film loops back into the track.
  bool RepeatRule(TZirkSound& sound);

 private:
  const TSoundFrameList* rootTrack() const;
  // Where the chain that starts at this track ends: at the end of the last
  // sound track to end of those chained to it, however they branch.
  int64_t chainEnd() const;
  // Whether a chain starting at this track and ending at `end` wants its
  // sound at `time`: within its span or shortly before it.
  bool soundWanted(int64_t time, int64_t end) const;
  // A chain's first track: makes the sound when it is wanted, and lets it
  // go elsewhere.
  void keepSoundFor(int64_t time, int64_t end);
  TSoundFrameList* parentSound() const;
  // A start value: the parent's end value `to` when chained, else `own`.
  int32_t fromParent(int32_t TSoundFrameList::*to, int32_t own) const;
  TZirkSound* ownSound() const;
  TZirkBaseList* soundScene() const;

  std::string fileName_;
  bool paused_ = false;
  int32_t lastTime_ = 0;
  uint64_t soundSerial_ = 0;
  TZirkBaseList* soundScene_ = nullptr;
};

// Registers the sound (4) track kind.
void RegisterSoundTracks();

}  // namespace zirk
