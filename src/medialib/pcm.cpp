#include "medialib/pcm.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zirk::medialib {

namespace {
constexpr int64_t kChunkFrames = 4096;
}

int64_t ConvertedFrames(int64_t frames, int rate) {
  if (rate <= 0 || frames <= 0) return 0;
  return frames * kOutputRate / rate;  // frames < 2^40, rate < 2^20: no overflow
}

int32_t FramesToMs(int64_t frames, int rate) {
  if (rate <= 0 || frames <= 0) return 0;
  int64_t ms = (frames * 1000 + rate / 2) / rate;
  return static_cast<int32_t>(std::min<int64_t>(ms, std::numeric_limits<int32_t>::max()));
}

bool IsMixerFormat(const PcmFormat& f) {
  return (f.rate == 44100 || f.rate == 22050) && (f.channels == 1 || f.channels == 2) &&
         (f.bits == 8 || f.bits == 16);
}

RateConverter::RateConverter(std::unique_ptr<PcmSource> source) : source_(std::move(source)) {
  format_ = {kOutputRate, source_->Format().channels, 16};
  frames_ = ConvertedFrames(source_->Frames(), source_->Format().rate);
}

int RateConverter::Sample(int64_t frame, int channel) const {
  return window_[static_cast<size_t>((frame - windowStart_) * format_.channels + channel)];
}

bool RateConverter::Fill(int64_t needed) {
  const int channels = format_.channels;
  const int64_t have = windowStart_ + static_cast<int64_t>(window_.size()) / channels;
  if (needed < have) return true;
  // Keep only the last frame: interpolation looks one frame back at most.
  if (!window_.empty()) {
    int64_t keepFrom = have - 1;
    window_.erase(window_.begin(), window_.end() - channels);
    windowStart_ = keepFrom;
  }
  const PcmFormat& in = source_->Format();
  const int64_t want = std::max<int64_t>(kChunkFrames, needed - have + 1);
  raw_.resize(static_cast<size_t>(want * in.BlockAlign()));
  int64_t got = source_->ReadFrames(raw_.data(), want);
  if (got <= 0) return false;
  const size_t base = window_.size();
  window_.resize(base + static_cast<size_t>(got * channels));
  if (in.bits == 16) {
    std::memcpy(window_.data() + base, raw_.data(), static_cast<size_t>(got * channels * 2));
  } else {
    for (int64_t i = 0; i < got * channels; ++i)
      window_[base + static_cast<size_t>(i)] = static_cast<int16_t>((raw_[i] - 128) * 256);
  }
  return needed < windowStart_ + static_cast<int64_t>(window_.size()) / channels || Fill(needed);
}

int64_t RateConverter::ReadFrames(void* out, int64_t frames) {
  // The caller's buffer may sit at any byte: samples are stored bytewise.
  auto* dst = static_cast<uint8_t*>(out);
  const int64_t rate = source_->Format().rate;
  const int channels = format_.channels;
  const int64_t last = source_->Frames() - 1;
  int64_t done = 0;
  frames = std::min(frames, frames_ - position_);
  while (done < frames) {
    const int64_t num = position_ * rate;
    const int64_t i = num / kOutputRate;
    const int64_t frac = num % kOutputRate;
    const int64_t next = std::max(i, std::min(i + 1, last));
    // A source that ends before the length it claimed still gives its last
    // frame, uninterpolated.
    const bool interpolate = frac && Fill(next);
    if (!interpolate && !Fill(i)) break;
    for (int c = 0; c < channels; ++c) {
      int a = Sample(i, c);
      if (interpolate) {
        int b = Sample(next, c);
        a += static_cast<int>(((b - a) * frac + (b >= a ? kOutputRate / 2 : -kOutputRate / 2)) /
                              kOutputRate);
      }
      const int16_t v = static_cast<int16_t>(a);
      std::memcpy(dst, &v, sizeof v);
      dst += sizeof v;
    }
    ++position_;
    ++done;
  }
  return done;
}

bool RateConverter::SeekFrame(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, frames_);
  const int64_t sourceFrame = frame * source_->Format().rate / kOutputRate;
  window_.clear();
  windowStart_ = sourceFrame;
  position_ = frame;
  return source_->SeekFrame(std::min(sourceFrame, source_->Frames()));
}

std::unique_ptr<PcmSource> ToOutputRate(std::unique_ptr<PcmSource> source) {
  if (!source) return nullptr;
  const PcmFormat& f = source->Format();
  if (f.rate == kOutputRate && f.bits == 16) return source;
  return std::make_unique<RateConverter>(std::move(source));
}

PcmDecoder::PcmDecoder(std::unique_ptr<PcmSource> source) {
  lengthMs_ = FramesToMs(source->Frames(), source->Format().rate);
  if (source->Native() && IsMixerFormat(source->Format()))
    source_ = std::move(source);
  else
    source_ = std::make_unique<RateConverter>(std::move(source));
  align_ = source_->Format().BlockAlign();
  const int64_t bytes = source_->Frames() * align_;
  const int64_t cap = std::numeric_limits<int32_t>::max() / align_ * align_;
  size_ = static_cast<int32_t>(std::min(bytes, cap));
  carry_.resize(static_cast<size_t>(align_));
}

ZirkPcmFormat PcmDecoder::Format() const {
  const PcmFormat& f = source_->Format();
  ZirkPcmFormat r{};
  r.formatTag = 1;
  r.channels = static_cast<uint16_t>(f.channels);
  r.samplesPerSec = static_cast<uint32_t>(f.rate);
  r.blockAlign = static_cast<uint16_t>(align_);
  r.avgBytesPerSec = static_cast<uint32_t>(f.rate * align_);
  r.bitsPerSample = static_cast<uint16_t>(f.bits);
  return r;
}

bool PcmDecoder::LoadCarry(int64_t frame) {
  if (carryFrame_ == frame) return true;
  carryFrame_ = -1;
  if (source_->ReadFrames(carry_.data(), 1) != 1) return false;
  carryFrame_ = frame;
  return true;
}

int32_t PcmDecoder::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  count = std::min(count, size_ - position_);
  int32_t done = 0;
  while (done < count) {
    const int64_t frame = position_ / align_;
    const int32_t offset = position_ % align_;
    if (offset == 0 && count - done >= align_ && carryFrame_ != frame) {
      int64_t got = source_->ReadFrames(out + done, (count - done) / align_);
      if (got <= 0) break;
      carryFrame_ = -1;
      done += static_cast<int32_t>(got) * align_;
      position_ += static_cast<int32_t>(got) * align_;
      continue;
    }
    // A partial frame: the whole frame is decoded once and handed out in parts.
    if (!LoadCarry(frame)) break;
    int32_t n = std::min(align_ - offset, count - done);
    std::memcpy(out + done, carry_.data() + offset, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

int32_t PcmDecoder::SetPosition(int32_t position) {
  position = std::clamp(position, 0, size_);
  const int64_t frame = position / align_;
  carryFrame_ = -1;
  if (!source_->SeekFrame(frame)) return position_;
  position_ = position;
  if (position % align_ != 0) LoadCarry(frame);
  return position_;
}

}  // namespace zirk::medialib
