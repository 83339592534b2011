#pragma once
// A playing sound: a decoder feeding a ring of 44100 Hz stereo frames that
// the sound device pulls. Decoding (Service) runs on the library's streaming
// thread or in zirkOggmanUpdate; the device's pull (Fill) only copies from
// the ring, so it never waits for a stream.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "medialib/pcm.h"
#include "platform/audio.h"

namespace zirk::medialib {

// Gain of a level in hundredths of a decibel: 10^(level/2000); -10000 or
// less is silence.
float LevelGain(int32_t level);

class Voice final : public platform::AudioSource {
 public:
  // `source` delivers 44100 Hz 16-bit frames with 1 or 2 channels; length and
  // positions are taken from it.
  explicit Voice(std::unique_ptr<PcmSource> source);
  ~Voice() override;

  // Starts, or continues after Pause; an item that played to its end starts
  // again from the beginning.
  void Play(platform::AudioOutput* output);
  void Pause();
  bool IsPlaying() const;
  bool IsPaused() const;
  bool IsEnd() const;
  int32_t LengthMs() const { return lengthMs_; }
  int32_t PositionMs() const;
  void SetPositionMs(int32_t ms);
  int32_t Level() const;
  void SetLevel(int32_t level);
  int32_t Pan() const;
  void SetPan(int32_t pan);
  bool Loop() const;
  void SetLoop(bool loop);
  // Frames heard since the last SetPosition, counted across loops: the clock
  // a movie's pictures follow.
  int64_t PositionFrames() const;

  // Moves to another output (the player may hand over a new device).
  void Reattach(platform::AudioOutput* output);
  // Stops all use of the decoder and the stream; synchronous.
  void Detach();

  // Decodes until the ring is full or the sound ends.
  void Service();

  size_t Fill(int16_t* out, size_t frames) override;

 private:
  void AttachTo(platform::AudioOutput* output);
  bool IsDetached() const;
  void UpdateGains();  // under mutex_
  void Seek(int64_t frame);

  static constexpr size_t kRingFrames = 16384;  // about 370 ms
  static constexpr int64_t kChunkFrames = 2048;

  // Lock order: sourceMutex_ before mutex_. Fill takes only mutex_.
  mutable std::mutex sourceMutex_;
  std::unique_ptr<PcmSource> source_;
  int64_t sourcePosition_ = 0;  // next frame the decoder delivers
  bool detached_ = false;
  std::vector<int16_t> scratch_;

  mutable std::mutex mutex_;
  std::vector<int16_t> ring_;     // stereo frames
  std::vector<int64_t> ringPos_;  // source frame of each ring frame
  size_t ringHead_ = 0;           // first frame to hand out
  size_t ringCount_ = 0;
  bool playing_ = false;
  bool paused_ = false;
  bool ended_ = false;
  bool sourceDone_ = false;  // the decoder delivered the last frame
  bool loop_ = false;
  int32_t level_ = 0;
  int32_t pan_ = 0;
  float gainLeft_ = 1.0f;
  float gainRight_ = 1.0f;
  int64_t position_ = 0;  // next frame to be heard
  int64_t heard_ = 0;     // frames heard since the last seek

  platform::AudioOutput* output_ = nullptr;  // touched on the control thread only
  const int64_t frames_;
  const int32_t lengthMs_;
};

}  // namespace zirk::medialib
