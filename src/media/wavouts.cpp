#include "media/wavouts.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/clock.h"

namespace zirk {

namespace {

// Expands whole source frames to output frames: 8-bit samples become
// (b - 128) * 256, a mono sample feeds both sides, and at half rate every
// frame is written twice. Returns the output sample count.
template <int Bits, int Channels, int Repeat>
size_t expand(const uint8_t* src, size_t bytes, int16_t* out) {
  constexpr size_t kSampleBytes = Bits / 8;
  constexpr size_t kFrameBytes = kSampleBytes * Channels;
  const size_t frames = bytes / kFrameBytes;
  auto sample = [](const uint8_t* p) -> int16_t {
    if constexpr (Bits == 8) {
      return static_cast<int16_t>((p[0] - 128) * 256);
    } else {
      return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    }
  };
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* frame = src + f * kFrameBytes;
    const int16_t left = sample(frame);
    const int16_t right = Channels == 2 ? sample(frame + kSampleBytes) : left;
    for (int r = 0; r < Repeat; ++r) {
      *out++ = left;
      *out++ = right;
    }
  }
  return frames * Repeat * 2;
}

struct Expansion {
  int channels;
  uint32_t rate;
  int bits;
  size_t factor;  // output bytes per source byte
  size_t frameBytes;
  size_t (*run)(const uint8_t*, size_t, int16_t*);
};

constexpr Expansion kExpansions[] = {
    {2, 44100, 16, 1, 4, expand<16, 2, 1>}, {1, 44100, 16, 2, 2, expand<16, 1, 1>},
    {2, 22050, 16, 2, 4, expand<16, 2, 2>}, {2, 44100, 8, 2, 2, expand<8, 2, 1>},
    {1, 44100, 8, 4, 1, expand<8, 1, 1>},   {2, 22050, 8, 4, 2, expand<8, 2, 2>},
    {1, 22050, 16, 4, 2, expand<16, 1, 2>}, {1, 22050, 8, 8, 1, expand<8, 1, 2>},
};

const Expansion* expansionFor(const TWaveFormatEx& format) {
  for (const Expansion& e : kExpansions) {
    if (e.channels == format.nChannels && e.rate == format.nSamplesPerSec &&
        e.bits == format.wBitsPerSample) {
      return &e;
    }
  }
  return nullptr;
}

void applyVolume(int16_t* samples, size_t count, int32_t volume) {
  if (volume >= 255) return;
  const int32_t gain = std::max(volume, 0);
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>((samples[i] * gain) >> 8);
  }
}

void addSaturated(int16_t* block, const int16_t* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const int32_t sum = int32_t{block[i]} + samples[i];
    block[i] = static_cast<int16_t>(std::clamp<int32_t>(sum, std::numeric_limits<int16_t>::min(),
                                                        std::numeric_limits<int16_t>::max()));
  }
}

size_t blockSizeFor(int32_t soundDelayTime) {
  const int64_t bytes =
      int64_t{std::max(soundDelayTime, 0)} * TWavOut::kOutputBytesPerSecond / 1000;
  // Whole output frames only.
  return static_cast<size_t>(std::max<int64_t>(4, bytes & ~int64_t{3}));
}

}  // namespace

// ---------------------------------------------------------------- TWavBuffer

TWavBuffer::TWavBuffer(TWavOut& owner, TKwStream* stream, const TWaveFormatEx& format)
    : owner_(owner), format_(format), stream_(stream) {
  work_.resize(owner.BlockSize() / 2);
}

TWavBuffer::~TWavBuffer() {
  std::lock_guard lock(owner_.lock_);
  auto& active = owner_.active_;
  active.erase(std::remove(active.begin(), active.end(), this), active.end());
}

void TWavBuffer::Play() {
  if (!owner_.IsOpen()) return;
  std::lock_guard lock(owner_.lock_);
  started_ = true;
  stopped_ = false;
  ended_ = false;
  auto& active = owner_.active_;
  if (std::find(active.begin(), active.end(), this) == active.end()) active.push_back(this);
}

void TWavBuffer::Stop() {
  if (!owner_.IsOpen()) return;
  std::lock_guard lock(owner_.lock_);
  stopped_ = true;
  auto& active = owner_.active_;
  active.erase(std::remove(active.begin(), active.end(), this), active.end());
}

bool TWavBuffer::IsEnd() {
  if (!owner_.IsOpen()) return true;
  std::lock_guard lock(owner_.lock_);
  if (!ended_) return false;
  const uint32_t since = platform::timeGetTime() - lastMixTime_;
  return since > static_cast<uint32_t>(2 * owner_.soundDelayTime_ + 10);
}

void TWavBuffer::SetPosition(int64_t bytes) {
  std::lock_guard lock(owner_.lock_);
  position_ = std::max<int64_t>(bytes, 0);
}

void TWavBuffer::SetVolume(int32_t volume) {
  std::lock_guard lock(owner_.lock_);
  volume_ = volume;
}

int32_t TWavBuffer::GetVolume() {
  std::lock_guard lock(owner_.lock_);
  return volume_;
}

int64_t TWavBuffer::GetPosition() {
  std::lock_guard lock(owner_.lock_);
  const int64_t elapsed =
      std::max<int64_t>(0, static_cast<int32_t>(platform::timeGetTime() - lastMixTime_));
  const int64_t delay = owner_.soundDelayTime_;
  if (elapsed > 2 * delay) return position_;
  // The stored position runs one block ahead of what is heard.
  const double bytesPerMs = static_cast<double>(format_.wBitsPerSample) * format_.nChannels *
                            format_.nSamplesPerSec / 8000.0;
  const auto ahead = static_cast<int64_t>(std::nearbyint(static_cast<double>(delay) * bytesPerMs));
  const auto played =
      static_cast<int64_t>(std::nearbyint(static_cast<double>(elapsed) * bytesPerMs));
  int64_t size = 0;
  try {
    size = stream_ != nullptr ? stream_->Size() : 0;
  } catch (const Exception&) {
    size = position_;
  }
  return std::clamp<int64_t>(position_ - ahead + played, 0, std::max<int64_t>(size, 0));
}

size_t TWavBuffer::readSource(size_t wanted) {
  size_t got = 0;
  bool emptyRead = false;
  try {
    const int64_t size = stream_->Size();
    stream_->Seek(position_, SeekOrigin::Begin);
    bool wrapped = false;  // wrapped with nothing read since
    while (got < wanted) {
      int64_t n = 0;
      if (stream_->Position() < size) {
        n = stream_->Read(source_.data() + got, static_cast<int64_t>(wanted - got));
      }
      if (n > 0) {
        got += static_cast<size_t>(n);
        wrapped = false;
        continue;
      }
      // The end, by the size or by a read that gave nothing: a looping
      // voice goes on from the start, once.
      if (loop_.load() && !wrapped) {
        stream_->Seek(0, SeekOrigin::Begin);
        wrapped = true;
        continue;
      }
      emptyRead = true;
      break;
    }
    position_ = stream_->Position();
    ended_ = emptyRead || (!loop_.load() && size <= position_);
  } catch (const Exception&) {
    // A stream that fails ends its voice.
    ended_ = true;
  }
  return got;
}

bool TWavBuffer::mixInto(int16_t* block, size_t samples) {
  if (stream_ == nullptr || ended_ || stopped_ || !started_ || !owner_.IsOpen()) return false;
  try {
    if (stream_->Size() <= 0) return false;
  } catch (const Exception&) {
    return false;
  }
  const uint32_t now = platform::timeGetTime();
  const Expansion* expansion = expansionFor(format_);
  if (expansion == nullptr) {
    // Nothing would ever be heard of it; it ends rather than stay silent for ever.
    ended_ = true;
    lastMixTime_ = now;
    return false;
  }
  const size_t wanted =
      owner_.blockSize_ / expansion->factor / expansion->frameBytes * expansion->frameBytes;
  if (source_.size() < wanted) source_.resize(wanted);
  const size_t got = readSource(wanted);
  if (got == 0) return false;
  const size_t count = std::min(expansion->run(source_.data(), got, work_.data()), samples);
  applyVolume(work_.data(), count, volume_);
  addSaturated(block, work_.data(), count);
  lastMixTime_ = now;
  return true;
}

// ------------------------------------------------------------------- TWavOut

TWavOut::TWavOut(int32_t soundDelayTime, const std::atomic<bool>& terminated,
                 platform::AudioOutput* output)
    : soundDelayTime_(soundDelayTime),
      blockSize_(blockSizeFor(soundDelayTime)),
      terminated_(terminated),
      output_(output) {
  MakePcmWaveFormat(format_, kOutputRate, 16, kOutputChannels);
}

TWavOut::~TWavOut() {
  Close();
  std::lock_guard lock(lock_);
  voices_.clear();
}

bool TWavOut::Open() {
  if (IsOpen()) return false;
  platform::AudioOutput* output = output_ != nullptr ? output_ : &platform::DefaultSoundOutput();
  if (device_.Open(output, static_cast<int>(format_.nSamplesPerSec), format_.nChannels,
                   format_.wBitsPerSample) != platform::MMSYSERR_NOERROR) {
    return false;
  }
  {
    std::lock_guard lock(lock_);
    while (pool_.size() < kPoolMinimum) {
      auto entry = std::make_unique<TMemData>();
      entry->data.resize(blockSize_);
      pool_.push_back(std::move(entry));
    }
  }
  if (useThread_) {
    stopRequested_ = false;
    thread_ = std::thread([this] { feed(); });
  }
  return true;
}

void TWavOut::stopThread() {
  {
    std::lock_guard wl(wakeLock_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TWavOut::Close() {
  if (!IsOpen()) return;
  // The feeder ends first, so no block is queued behind the reset.
  stopThread();
  {
    std::lock_guard lock(lock_);
    device_.Reset();
    voices_.clear();
    active_.clear();
    // After the reset every queued block is done; a block never queued was
    // never handed over.
    for (size_t i = blocks_.size(); i-- > 0;) deleteBlock(i);
  }
  device_.Close();
}

TWavBuffer* TWavOut::Add(TKwStream* stream, const TWaveFormatEx& format) {
  std::lock_guard lock(lock_);
  voices_.push_back(std::make_unique<TWavBuffer>(*this, stream, format));
  return voices_.back().get();
}

void TWavOut::Remove(TWavBuffer* voice) {
  std::lock_guard lock(lock_);
  auto it = std::find_if(voices_.begin(), voices_.end(),
                         [voice](const auto& v) { return v.get() == voice; });
  if (it != voices_.end()) voices_.erase(it);
}

void TWavOut::feed() {
  const auto period = std::chrono::milliseconds(std::max(1, soundDelayTime_ / 4));
  while (!terminated_.load()) {
    {
      std::unique_lock wl(wakeLock_);
      if (wake_.wait_for(wl, period, [this] { return stopRequested_; })) break;
    }
    Refill();
  }
}

TWavPrimary* TWavOut::makeBlock() {
  TMemData* entry = nullptr;
  for (auto& e : pool_) {
    if (e->user == nullptr) {
      entry = e.get();
      break;
    }
  }
  if (entry == nullptr) {
    pool_.push_back(std::make_unique<TMemData>());
    entry = pool_.back().get();
    entry->data.resize(blockSize_);
  }
  auto block = std::make_unique<TWavPrimary>();
  block->entry = entry;
  entry->user = block.get();
  entry->header.Clear();
  entry->header.lpData = entry->data.data();
  entry->header.dwBufferLength = static_cast<uint32_t>(blockSize_);
  entry->header.dwLoops = 1;
  block->prepared = device_.PrepareHeader(entry->header) == platform::MMSYSERR_NOERROR;
  blocks_.push_back(std::move(block));
  return blocks_.back().get();
}

void TWavOut::deleteBlock(size_t index) {
  TWavPrimary& block = *blocks_[index];
  if (block.prepared) device_.UnprepareHeader(block.entry->header);
  block.entry->user = nullptr;
  blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TWavOut::Refill() {
  std::lock_guard lock(lock_);
  for (size_t i = blocks_.size(); i-- > 0;) {
    if (blocks_[i]->entry->header.dwFlags.load() & platform::WHDR_DONE) deleteBlock(i);
  }
  for (int pass = 0; pass < 2; ++pass) {
    if (!IsOpen() || blocks_.size() >= kMaxQueued || active_.empty()) break;
    TWavPrimary* block = makeBlock();
    if (!MixBlock(block->entry->data.data())) {
      // A voice with nothing yet may have something on the second try.
      deleteBlock(blocks_.size() - 1);
      continue;
    }
    block->queued = true;
    if (block->prepared && (block->entry->header.dwFlags.load() & platform::WHDR_PREPARED)) {
      device_.Write(block->entry->header);
    }
  }
}

bool TWavOut::MixBlock(uint8_t* block) {
  std::lock_guard lock(lock_);
  std::memset(block, 0, blockSize_);
  if (active_.empty()) return false;
  auto* samples = reinterpret_cast<int16_t*>(block);
  bool mixed = false;
  // List order, so the same voices always sum the same way.
  for (auto& voice : voices_) {
    if (voice->mixInto(samples, blockSize_ / 2)) mixed = true;
  }
  return mixed;
}

size_t TWavOut::VoiceCount() {
  std::lock_guard lock(lock_);
  return voices_.size();
}

size_t TWavOut::ActiveCount() {
  std::lock_guard lock(lock_);
  return active_.size();
}

size_t TWavOut::QueuedCount() {
  std::lock_guard lock(lock_);
  return blocks_.size();
}

size_t TWavOut::PoolCount() {
  std::lock_guard lock(lock_);
  return pool_.size();
}

}  // namespace zirk
