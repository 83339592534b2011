#include "medialib/nulloutput.h"

#include <algorithm>

namespace zirk::medialib {

namespace {
constexpr auto kPeriod = std::chrono::milliseconds(10);
constexpr uint64_t kMaxBlock = 4096;
}  // namespace

NullOutput::~NullOutput() {
  if (thread_.joinable()) {
    thread_.request_stop();
    wake_.notify_all();
    thread_.join();
  }
}

void NullOutput::Attach(platform::AudioSource* source) {
  std::lock_guard lock(mutex_);
  if (std::find(sources_.begin(), sources_.end(), source) == sources_.end())
    sources_.push_back(source);
  if (!thread_.joinable()) {
    start_ = std::chrono::steady_clock::now();
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
  }
}

void NullOutput::Detach(platform::AudioSource* source) {
  std::lock_guard lock(mutex_);  // waits for a pull in progress
  std::erase(sources_, source);
}

uint64_t NullOutput::FramesPlayed() const {
  std::lock_guard lock(mutex_);
  return played_;
}

void NullOutput::Run(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    wake_.wait_for(lock, stop, kPeriod, [] { return false; });
    if (stop.stop_requested()) break;
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const uint64_t due = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() *
        platform::kAudioRate / 1000000);
    while (played_ < due) {
      const uint64_t n = std::min(due - played_, kMaxBlock);
      scratch_.resize(static_cast<size_t>(n * 2));
      for (platform::AudioSource* source : sources_) source->Fill(scratch_.data(), n);
      played_ += n;
    }
  }
}

}  // namespace zirk::medialib
