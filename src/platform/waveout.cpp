#include "platform/waveout.h"

#include <cstring>

namespace zirk::platform {

AudioOutput& DefaultSoundOutput() {
  AudioDevice& device = ProcessAudioDevice();
  if (!device.IsOpen()) device.Open(AudioBackend::Sdl);
  return device;
}

WaveOutDevice::~WaveOutDevice() {
  Close();
}

uint32_t WaveOutDevice::Open(AudioOutput* output, int rate, int channels, int bits) {
  if (output == nullptr) return MMSYSERR_INVALHANDLE;
  // The device plays the blocks as they are: no conversion.
  if (rate != output->Rate() || channels != output->Channels() || bits != 16) {
    return WAVERR_BADFORMAT;
  }
  {
    std::lock_guard lock(lock_);
    if (output_ != nullptr) return MMSYSERR_ERROR;
    output_ = output;
  }
  output->Attach(this);
  return MMSYSERR_NOERROR;
}

void WaveOutDevice::Close() {
  AudioOutput* output = nullptr;
  {
    std::lock_guard lock(lock_);
    output = output_;
  }
  if (output == nullptr) return;
  // Fill takes lock_, so it must not be held while Detach waits for Fill.
  output->Detach(this);
  Reset();
  std::lock_guard lock(lock_);
  output_ = nullptr;
}

uint32_t WaveOutDevice::PrepareHeader(WaveHdr& header) {
  header.dwFlags.fetch_or(WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

uint32_t WaveOutDevice::UnprepareHeader(WaveHdr& header) {
  if (header.dwFlags.load() & WHDR_INQUEUE) return MMSYSERR_ERROR;
  header.dwFlags.fetch_and(~WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

uint32_t WaveOutDevice::Write(WaveHdr& header) {
  if ((header.dwFlags.load() & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  std::lock_guard lock(lock_);
  if (output_ == nullptr) return MMSYSERR_INVALHANDLE;
  header.dwFlags.fetch_and(~WHDR_DONE);
  header.dwFlags.fetch_or(WHDR_INQUEUE);
  if (header.lpData == nullptr || header.dwBufferLength == 0) {
    // Nothing to play: done at once.
    header.dwFlags.fetch_and(~WHDR_INQUEUE);
    header.dwFlags.fetch_or(WHDR_DONE);
    return MMSYSERR_NOERROR;
  }
  queue_.push_back(&header);
  return MMSYSERR_NOERROR;
}

void WaveOutDevice::Reset() {
  std::lock_guard lock(lock_);
  for (WaveHdr* header : queue_) {
    header->dwFlags.fetch_and(~WHDR_INQUEUE);
    header->dwFlags.fetch_or(WHDR_DONE);
  }
  queue_.clear();
  offset_ = 0;
}

size_t WaveOutDevice::QueuedCount() const {
  std::lock_guard lock(lock_);
  return queue_.size();
}

size_t WaveOutDevice::Fill(int16_t* out, size_t frames) {
  std::lock_guard lock(lock_);
  const size_t wanted = frames * kAudioBytesPerFrame;
  auto* dest = reinterpret_cast<uint8_t*>(out);
  size_t done = 0;
  while (done < wanted && !queue_.empty()) {
    WaveHdr* header = queue_.front();
    const size_t n = std::min<size_t>(wanted - done, header->dwBufferLength - offset_);
    std::memcpy(dest + done, header->lpData + offset_, n);
    done += n;
    offset_ += static_cast<uint32_t>(n);
    if (offset_ >= header->dwBufferLength) {
      queue_.pop_front();
      offset_ = 0;
      header->dwFlags.fetch_and(~WHDR_INQUEUE);
      header->dwFlags.fetch_or(WHDR_DONE);
    }
  }
  // A block ending inside a frame leaves that frame's tail silent.
  return (done + kAudioBytesPerFrame - 1) / kAudioBytesPerFrame;
}

}  // namespace zirk::platform
