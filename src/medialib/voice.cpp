#include "medialib/voice.h"

#include <algorithm>
#include <cmath>

#include "medialib/locked.h"

namespace zirk::medialib {

namespace {
constexpr int32_t kSilentLevel = -10000;
constexpr int32_t kMaxPan = 10000;

int16_t Scale(int16_t sample, float gain) {
  if (gain == 1.0f) return sample;
  long v = std::lrint(static_cast<float>(sample) * gain);
  return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
}
}  // namespace

float LevelGain(int32_t level) {
  if (level <= kSilentLevel) return 0.0f;
  if (level >= 0) return 1.0f;
  return static_cast<float>(std::pow(10.0, level / 2000.0));
}

Voice::Voice(std::unique_ptr<PcmSource> source)
    : source_(std::move(source)),
      ring_(kRingFrames * 2),
      ringPos_(kRingFrames),
      frames_(source_->Frames()),
      lengthMs_(FramesToMs(source_->Frames(), source_->Format().rate)) {}

Voice::~Voice() {
  Detach();
}

void Voice::AttachTo(platform::AudioOutput* output) {
  if (output_ == output) return;
  if (output_) output_->Detach(this);
  output_ = output;
  if (output_) output_->Attach(this);
}

bool Voice::IsDetached() const {
  std::lock_guard lock(sourceMutex_);
  return detached_;
}

void Voice::Reattach(platform::AudioOutput* output) {
  if (output_ && !IsDetached()) AttachTo(output);
}

void Voice::Detach() {
  AttachTo(nullptr);
  std::lock_guard lock(sourceMutex_);
  detached_ = true;
  // Released here, on the caller's thread: the player frees the stream next.
  source_.reset();
}

void Voice::Play(platform::AudioOutput* output) {
  if (IsDetached()) return;
  bool rewind;
  {
    std::lock_guard lock(mutex_);
    rewind = ended_ || (position_ >= frames_ && !loop_);
  }
  if (rewind) Seek(0);
  {
    std::lock_guard lock(mutex_);
    playing_ = true;
    paused_ = false;
    ended_ = false;
  }
  Service();  // the first pull finds sound ready
  AttachTo(output);
}

void Voice::Pause() {
  std::lock_guard lock(mutex_);
  paused_ = true;
}

bool Voice::IsPlaying() const {
  std::lock_guard lock(mutex_);
  return playing_ && !paused_ && !ended_;
}

bool Voice::IsPaused() const {
  return ReadLocked(mutex_, paused_);
}

bool Voice::IsEnd() const {
  return ReadLocked(mutex_, ended_);
}

int32_t Voice::PositionMs() const {
  std::lock_guard lock(mutex_);
  return FramesToMs(position_, kOutputRate);
}

int64_t Voice::PositionFrames() const {
  return ReadLocked(mutex_, heard_);
}

void Voice::Seek(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, frames_);
  std::lock_guard sourceLock(sourceMutex_);
  if (source_ && source_->SeekFrame(frame)) sourcePosition_ = frame;
  std::lock_guard lock(mutex_);
  ringHead_ = 0;
  ringCount_ = 0;
  position_ = sourcePosition_;
  heard_ = 0;
  ended_ = false;
  sourceDone_ = false;
}

void Voice::SetPositionMs(int32_t ms) {
  Seek(static_cast<int64_t>(std::max(ms, 0)) * kOutputRate / 1000);
  if (IsPlaying()) Service();
}

int32_t Voice::Level() const {
  return ReadLocked(mutex_, level_);
}

void Voice::SetLevel(int32_t level) {
  std::lock_guard lock(mutex_);
  level_ = level;
  UpdateGains();
}

int32_t Voice::Pan() const {
  return ReadLocked(mutex_, pan_);
}

void Voice::SetPan(int32_t pan) {
  std::lock_guard lock(mutex_);
  pan_ = std::clamp(pan, -kMaxPan, kMaxPan);
  UpdateGains();
}

void Voice::UpdateGains() {
  // A pan lowers one side by pan/100 dB; at the far end that side is silent.
  const int32_t level = std::min(level_, 0);
  gainLeft_ = LevelGain(pan_ > 0 ? level - pan_ : level);
  gainRight_ = LevelGain(pan_ < 0 ? level + pan_ : level);
}

bool Voice::Loop() const {
  return ReadLocked(mutex_, loop_);
}

void Voice::SetLoop(bool loop) {
  std::lock_guard lock(mutex_);
  loop_ = loop;
  // Turned on after the decoder finished but before the last frame was
  // heard: the decoder wraps and the sound goes on without a gap.
  if (loop && sourceDone_ && !ended_) sourceDone_ = false;
}

void Voice::Service() {
  std::lock_guard sourceLock(sourceMutex_);
  if (detached_ || !source_) return;
  const int channels = source_->Format().channels;
  scratch_.resize(static_cast<size_t>(kChunkFrames * channels));
  bool wrapped = false;
  for (;;) {
    bool loop;
    int64_t room;
    {
      std::lock_guard lock(mutex_);
      if (sourceDone_ || ended_) return;
      room = static_cast<int64_t>(kRingFrames - ringCount_);
      loop = loop_;
    }
    if (room < kChunkFrames / 2) return;
    const int64_t n = source_->ReadFrames(scratch_.data(), std::min(room, kChunkFrames));
    if (n <= 0) {
      // Looping: back to the start; a second empty read means nothing to play.
      if (loop && !wrapped && source_->SeekFrame(0)) {
        sourcePosition_ = 0;
        wrapped = true;
        continue;
      }
      std::lock_guard lock(mutex_);
      sourceDone_ = true;
      if (ringCount_ == 0 && playing_) {
        ended_ = true;
        playing_ = false;
      }
      return;
    }
    wrapped = false;
    std::lock_guard lock(mutex_);
    for (int64_t i = 0; i < n; ++i) {
      const size_t slot = (ringHead_ + ringCount_) % kRingFrames;
      const int16_t left = scratch_[static_cast<size_t>(i * channels)];
      const int16_t right = scratch_[static_cast<size_t>(i * channels + channels - 1)];
      ring_[slot * 2] = left;
      ring_[slot * 2 + 1] = right;
      ringPos_[slot] = sourcePosition_ + i;
      ++ringCount_;
    }
    sourcePosition_ += n;
  }
}

size_t Voice::Fill(int16_t* out, size_t frames) {
  std::lock_guard lock(mutex_);
  if (!playing_ || paused_ || ended_) return 0;
  const size_t n = std::min(frames, ringCount_);
  for (size_t i = 0; i < n; ++i) {
    const size_t slot = (ringHead_ + i) % kRingFrames;
    out[i * 2] = Scale(ring_[slot * 2], gainLeft_);
    out[i * 2 + 1] = Scale(ring_[slot * 2 + 1], gainRight_);
  }
  if (n > 0) {
    position_ = ringPos_[(ringHead_ + n - 1) % kRingFrames] + 1;
    ringHead_ = (ringHead_ + n) % kRingFrames;
    ringCount_ -= n;
    heard_ += static_cast<int64_t>(n);
  }
  if (ringCount_ == 0 && sourceDone_) {
    ended_ = true;
    playing_ = false;
  }
  return n;
}

}  // namespace zirk::medialib
