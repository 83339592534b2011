#pragma once
// Decoded sound as frames: the common shape of the Ogg, WAVE and FFmpeg
// decoders, the conversion to 44100 Hz, and the byte view the software mixer
// reads through the PCM decoder entries.

#include <cstdint>
#include <memory>
#include <vector>

#include "medialib/zirk.h"

namespace zirk::medialib {

constexpr int kOutputRate = 44100;
// Longer sounds (over a year at 44100 Hz) are refused: a damaged header must
// not make the frame arithmetic overflow.
constexpr int64_t kMaxFrames = int64_t{1} << 40;
// No game ships sound at a rate outside these; past them a few bytes could
// claim hours of sound, or gigabytes of it once converted, so such a sound,
// or any part of one, is refused.
constexpr int kMinSoundRate = 4000;
constexpr int kMaxSoundRate = 384000;
inline bool SoundRateAllowed(int64_t rate) {
  return rate >= kMinSoundRate && rate <= kMaxSoundRate;
}

// 8-bit samples are unsigned (silence 128), 16-bit signed little-endian.
struct PcmFormat {
  int rate = 0;
  int channels = 0;  // 1 or 2 once decoded
  int bits = 0;      // 8 or 16
  int BlockAlign() const { return channels * bits / 8; }
};

class PcmSource {
 public:
  virtual ~PcmSource() = default;
  const PcmFormat& Format() const { return format_; }
  // Total frames; reads end there.
  int64_t Frames() const { return frames_; }
  // True when the data itself are 8/16-bit PCM with at most two channels,
  // as opposed to decoded from another depth, float or more channels.
  bool Native() const { return native_; }
  // Reads up to `frames` whole frames; 0 at the end or on a damaged stream.
  virtual int64_t ReadFrames(void* out, int64_t frames) = 0;
  virtual bool SeekFrame(int64_t frame) = 0;

 protected:
  PcmFormat format_;
  int64_t frames_ = 0;
  bool native_ = true;
};

// The frame count after conversion from `rate` to 44100 Hz.
int64_t ConvertedFrames(int64_t frames, int rate);

// Makes 16-bit frames at 44100 Hz from any 8/16-bit source with the same
// channel count. Output frame k is the source at k*rate/44100 frames,
// interpolated linearly, so lengths and positions are exact integers.
class RateConverter final : public PcmSource {
 public:
  explicit RateConverter(std::unique_ptr<PcmSource> source);
  int64_t ReadFrames(void* out, int64_t frames) override;
  bool SeekFrame(int64_t frame) override;

 private:
  bool Fill(int64_t needed);  // makes source frames up to `needed` present in window_
  int Sample(int64_t frame, int channel) const;

  std::unique_ptr<PcmSource> source_;
  int64_t position_ = 0;         // output frame
  int64_t windowStart_ = 0;      // source frame of window_[0]
  std::vector<int16_t> window_;  // decoded source frames, 16-bit
  std::vector<uint8_t> raw_;
};

// True when the software mixer plays the format as it is.
bool IsMixerFormat(const PcmFormat& format);

// Makes a source of 16-bit 44100 Hz frames (returns `source` when it already is).
std::unique_ptr<PcmSource> ToOutputRate(std::unique_ptr<PcmSource> source);

// Opens the decoder for a sound stream: Ogg Vorbis, or WAVE (own reader for
// 8/16-bit PCM, FFmpeg for the rest). Null when the data is not a sound.
class ByteSource;
std::unique_ptr<PcmSource> OpenSound(std::unique_ptr<ByteSource> bytes, bool isOgg);

// The byte view of a sound behind the PCM decoder entries: the mixer's own
// format when it takes the source's, else 44100 Hz 16-bit.
class PcmDecoder {
 public:
  explicit PcmDecoder(std::unique_ptr<PcmSource> source);
  ZirkPcmFormat Format() const;
  int32_t Read(void* buffer, int32_t count);
  int32_t Position() const { return position_; }
  int32_t SetPosition(int32_t position);
  int32_t Size() const { return size_; }
  int32_t LengthMs() const { return lengthMs_; }

 private:
  bool LoadCarry(int64_t frame);

  std::unique_ptr<PcmSource> source_;
  int32_t align_;
  int32_t size_;
  int32_t lengthMs_;
  int32_t position_ = 0;
  int64_t carryFrame_ = -1;  // frame held in carry_; the source stands after it
  std::vector<uint8_t> carry_;
};

// Milliseconds of `frames` at `rate`, rounded to nearest.
int32_t FramesToMs(int64_t frames, int rate);

}  // namespace zirk::medialib
