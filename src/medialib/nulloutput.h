#pragma once
// The output used while the player has handed over no sound device: it pulls
// its sources at real-time pace and discards the sound, so that sounds end
// and movies keep their clock as they would on a device.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio.h"

namespace zirk::medialib {

class NullOutput final : public platform::AudioOutput {
 public:
  NullOutput() = default;
  ~NullOutput() override;
  NullOutput(const NullOutput&) = delete;
  NullOutput& operator=(const NullOutput&) = delete;

  void Attach(platform::AudioSource* source) override;
  void Detach(platform::AudioSource* source) override;
  int Rate() const override { return platform::kAudioRate; }
  int Channels() const override { return platform::kAudioChannels; }
  uint64_t FramesPlayed() const override;

 private:
  void Run(std::stop_token stop);

  mutable std::mutex mutex_;
  std::condition_variable_any wake_;
  std::vector<platform::AudioSource*> sources_;
  std::vector<int16_t> scratch_;
  uint64_t played_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::jthread thread_;  // started by the first Attach
};

}  // namespace zirk::medialib
