#pragma once
// The software wave mixer, used when DirectSound is off: any number of PCM
// voices mixed into one 44100 Hz, stereo, 16-bit stream that a feeder thread
// hands to the wave output in blocks of SoundDelayTime milliseconds. At most
// two blocks are queued, so what is heard lags the mix by up to two blocks;
// voice positions and ends account for that.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/streams.h"
#include "media/dxsounds.h"
#include "platform/audio.h"
#include "platform/waveout.h"

namespace zirk {

class TWavOut;
struct TWavPrimary;

// One voice: a PCM stream (not owned) in one of the eight formats the mixer
// expands to its output format.
class TWavBuffer {
 public:
  TWavBuffer(TWavOut& owner, TKwStream* stream, const TWaveFormatEx& format);
  ~TWavBuffer();
  TWavBuffer(const TWavBuffer&) = delete;
  TWavBuffer& operator=(const TWavBuffer&) = delete;

  // Starts mixing from the stored position (Play after Stop continues).
  void Play();
  void Stop();
  // True once an ended voice's last mixed block has been heard.
  bool IsEnd();
  // The audible position in bytes of the source.
  int64_t GetPosition();
  void SetPosition(int64_t bytes);
  void SetVolume(int32_t volume);  // 256 = unity
  int32_t GetVolume();
  bool GetLoop() const { return loop_.load(); }
  void SetLoop(bool loop) { loop_.store(loop); }

  const TWaveFormatEx& Format() const { return format_; }
  bool Started() const { return started_; }
  bool Stopped() const { return stopped_; }
  bool Ended() const { return ended_; }

 private:
  friend class TWavOut;
  // Mixes the next block's worth of the source into `block`; false when
  // nothing was mixed. Runs under the mixer's lock.
  bool mixInto(int16_t* block, size_t samples);
  // Reads up to `wanted` source bytes from the stored position, wrapping
  // looping voices; the count read.
  size_t readSource(size_t wanted);

  TWavOut& owner_;
  TWaveFormatEx format_;
  TKwStream* stream_;
  std::vector<uint8_t> source_;  // raw bytes of one block
  std::vector<int16_t> work_;    // the block expanded to the output format
  int64_t position_ = 0;
  int32_t volume_ = 256;
  bool started_ = false;
  bool stopped_ = false;
  bool ended_ = false;
  std::atomic<bool> loop_{false};
  uint32_t lastMixTime_ = 0;
};

// A pool entry: a block buffer with its header, reused from Open to Close.
struct TMemData {
  platform::WaveHdr header;
  std::vector<uint8_t> data;
  TWavPrimary* user = nullptr;
};

// A block handed (or about to be handed) to the wave output.
struct TWavPrimary {
  TMemData* entry = nullptr;
  bool prepared = false;
  bool queued = false;
};

class TWavOut {
 public:
  static constexpr int32_t kOutputRate = 44100;
  static constexpr int32_t kOutputChannels = 2;
  static constexpr int32_t kOutputBytesPerSecond = 176400;
  static constexpr size_t kPoolMinimum = 4;
  static constexpr size_t kMaxQueued = 2;

  // `soundDelayTime` is the block length in ms (the "DelayTime" setting);
  // the feeder thread ends when `terminated` turns true. Without an output
  // the process-wide sound device plays the mix.
  TWavOut(int32_t soundDelayTime, const std::atomic<bool>& terminated,
          platform::AudioOutput* output = nullptr);
  ~TWavOut();  // closes, then frees the voices
  TWavOut(const TWavOut&) = delete;
  TWavOut& operator=(const TWavOut&) = delete;

  // False when already open or when the wave output cannot be opened.
  bool Open();
  // Returns after every queued block is done; frees all voices.
  void Close();
  bool IsOpen() const { return device_.IsOpen(); }

  TWavBuffer* Add(TKwStream* stream, const TWaveFormatEx& format);
  void Remove(TWavBuffer* voice);

  // Without the feeder thread (set before Open) nothing mixes until a
  // caller runs Refill: tests drive the mixer step by step.
  void SetUseThread(bool use) { useThread_ = use; }
  // Retires done blocks and queues new ones up to two.
  void Refill();
  // Mixes every playing voice into one block of BlockSize bytes; false when
  // no voice was mixed.
  bool MixBlock(uint8_t* block);

  int32_t SoundDelayTime() const { return soundDelayTime_; }
  size_t BlockSize() const { return blockSize_; }
  const TWaveFormatEx& OutputFormat() const { return format_; }
  size_t VoiceCount();
  size_t ActiveCount();
  size_t QueuedCount();
  size_t PoolCount();
  platform::WaveOutDevice& Device() { return device_; }

 private:
  friend class TWavBuffer;
  void feed();
  TWavPrimary* makeBlock();
  void deleteBlock(size_t index);
  void stopThread();

  const int32_t soundDelayTime_;
  const size_t blockSize_;
  const std::atomic<bool>& terminated_;
  platform::AudioOutput* output_;
  TWaveFormatEx format_;
  platform::WaveOutDevice device_;
  std::recursive_mutex lock_;
  std::vector<std::unique_ptr<TWavBuffer>> voices_;
  std::vector<TWavBuffer*> active_;
  std::vector<std::unique_ptr<TWavPrimary>> blocks_;  // queued-block list
  std::vector<std::unique_ptr<TMemData>> pool_;
  bool useThread_ = true;
  std::thread thread_;
  std::mutex wakeLock_;
  std::condition_variable wake_;
  bool stopRequested_ = false;
};

}  // namespace zirk
