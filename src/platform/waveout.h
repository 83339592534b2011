#pragma once
// Stand-in for the waveOut services: a wave output is a source of the sound
// device that plays the blocks written to it in order. A block is done when
// the device has pulled its last byte; Reset marks every queued block done at
// once, so a caller that waits for its blocks never waits on a device that
// does not pull. Between blocks (an underrun) the output is silent.

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/audio.h"

namespace zirk::platform {

// Result codes shared by the wave and MIDI outputs.
constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_ERROR = 1;
constexpr uint32_t MMSYSERR_BADDEVICEID = 2;
constexpr uint32_t MMSYSERR_NOTENABLED = 3;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_NODRIVER = 6;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint32_t WAVERR_BADFORMAT = 32;
constexpr uint32_t WAVERR_UNPREPARED = 34;

// A block handed to the device. Flags change on the device's thread, so they
// are read atomically.
struct WaveHdr {
  uint8_t* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  std::atomic<uint32_t> dwFlags{0};
  uint32_t dwLoops = 0;

  void Clear() {
    lpData = nullptr;
    dwBufferLength = 0;
    dwFlags.store(0);
    dwLoops = 0;
  }
};

// The process-wide sound device, opened when it is not yet: the output of
// players that nobody handed another one.
AudioOutput& DefaultSoundOutput();

class WaveOutDevice final : public AudioSource {
 public:
  WaveOutDevice() = default;
  ~WaveOutDevice() override;  // closes
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  // PCM of the output's own rate and channel count at 16 bits, else
  // WAVERR_BADFORMAT; MMSYSERR_INVALHANDLE without an output.
  uint32_t Open(AudioOutput* output, int rate, int channels, int bits);
  // Detaches from the output; blocks still queued are marked done.
  void Close();
  bool IsOpen() const { return output_ != nullptr; }

  uint32_t PrepareHeader(WaveHdr& header);
  uint32_t UnprepareHeader(WaveHdr& header);
  // Queues a prepared block behind the others.
  uint32_t Write(WaveHdr& header);
  // Stops playing and marks every queued block done.
  void Reset();
  size_t QueuedCount() const;

  size_t Fill(int16_t* out, size_t frames) override;

 private:
  mutable std::mutex lock_;
  AudioOutput* output_ = nullptr;
  std::deque<WaveHdr*> queue_;
  uint32_t offset_ = 0;  // bytes of the front block already played
};

}  // namespace zirk::platform
