#include "medialib/library.h"

#include <chrono>

namespace zirk::medialib {

namespace {
constexpr auto kServicePeriod = std::chrono::milliseconds(10);
std::unique_ptr<Library> theLibrary;
}  // namespace

Library* TheLibrary() {
  return theLibrary.get();
}

void CreateLibrary(void* const* sharedOutputSlot) {
  theLibrary.reset();
  theLibrary = std::make_unique<Library>(sharedOutputSlot);
}

void DestroyLibrary() {
  theLibrary.reset();
}

Library::Library(void* const* sharedOutputSlot)
    : slot_(sharedOutputSlot), streamer_([this](std::stop_token stop) { Run(stop); }) {}

Library::~Library() {
  streamer_.request_stop();
  wake_.notify_all();
  if (streamer_.joinable()) streamer_.join();
  for (auto& voice : oggItems.Clear()) voice->Detach();
  for (auto& voice : wmpItems.Clear()) voice->Detach();
  for (auto& video : videos.Clear()) video->Detach();
  decoders.Clear();
}

platform::AudioOutput* Library::Output() {
  void* device = slot_ ? *slot_ : nullptr;
  return device ? static_cast<platform::AudioOutput*>(device) : &null_;
}

void Library::Update() {
  for (auto& voice : oggItems.All()) voice->Service();
  for (auto& voice : wmpItems.All()) voice->Service();
  for (auto& video : videos.All()) video->Service();
}

void Library::Suspend() {
  for (auto& video : videos.All()) {
    if (video->IsPlaying()) {
      video->Pause();
      suspended_.push_back(video);
    }
  }
}

void Library::Resume() {
  std::vector<std::weak_ptr<VideoItem>> paused;
  paused.swap(suspended_);
  for (auto& weak : paused)
    if (auto video = weak.lock()) video->Play(Output());
}

void Library::Run(std::stop_token stop) {
  std::unique_lock lock(wakeMutex_);
  while (!stop.stop_requested()) {
    wake_.wait_for(lock, stop, kServicePeriod, [] { return false; });
    if (stop.stop_requested()) break;
    lock.unlock();
    if (useThread_) Update();
    lock.lock();
  }
}

}  // namespace zirk::medialib
