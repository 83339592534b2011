#include "platform/audio.h"

#include <SDL2/SDL.h>
#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/messages.h"

namespace zirk::platform {

namespace {

// Posted to the opening thread when SDL reports that our device went away;
// the reopen must not run on SDL's own audio thread.
constexpr uint32_t kMsgAudioLost = WM_USER + 0x1A0;

// Frames mixed per step of the null backend: about 10 ms.
constexpr size_t kNullChunk = 441;

// ALSA writes its own lines to stderr for every device it cannot open
// ("ALSA lib pcm.c: ... Unknown PCM default"); the device's reason and the
// player's one notice say it instead.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

const char* AudioBackendName(AudioBackend backend) {
  switch (backend) {
    case AudioBackend::None:
      return "none";
    case AudioBackend::Sdl:
      return "sdl";
    case AudioBackend::Manual:
      return "manual";
    case AudioBackend::Null:
      return "null";
  }
  return "?";
}

struct AudioDevice::Impl {
  explicit Impl(AudioDevice& owner) : device(owner) {}

  AudioDevice& device;

  // The source list. Recursive so that a source may attach or detach from
  // inside its own Fill, which runs with the lock held.
  mutable std::recursive_mutex mixLock;
  std::vector<AudioSource*> sources;
  bool mixing = false;        // Render is walking `sources`
  bool compactAfter = false;  // a source was detached during the walk
  std::vector<int32_t> accum;
  std::vector<int16_t> scratch;

  mutable std::mutex stateLock;
  std::string lastError;
  std::function<void(const std::string&)> noDeviceNotice;
  bool noticeGiven = false;

  // Restore handlers, in the order they were added.
  std::vector<std::pair<int, std::function<void()>>> restoreHandlers;
  int nextHandlerId = 1;
  bool restoring = false;

  // SDL backend.
  // Read by the event watch on whichever thread pushes SDL events.
  std::atomic<SDL_AudioDeviceID> sdlDevice{0};
  bool sdlInit = false;
  std::atomic<HWND> lostWindow{0};
  // One removal can be reported more than once; one reopen answers them all.
  std::atomic<bool> lostPending{false};
  bool eventWatch = false;

  // Null backend.
  std::thread nullThread;
  std::mutex nullLock;
  std::condition_variable nullWake;
  bool nullStop = false;

  void setError(std::string text) {
    std::lock_guard lock(stateLock);
    lastError = std::move(text);
  }

  static void SDLCALL sdlCallback(void* user, Uint8* stream, int len) {
    auto* self = static_cast<Impl*>(user);
    self->device.Render(reinterpret_cast<int16_t*>(stream),
                        static_cast<size_t>(len) / kAudioBytesPerFrame);
  }

  // Runs on whichever thread pushed the event (SDL's audio thread for a
  // removal), so it only hands the news to the opening thread.
  static int SDLCALL sdlEventWatch(void* user, SDL_Event* event) {
    auto* self = static_cast<Impl*>(user);
    if (event->type == SDL_AUDIODEVICEREMOVED && !event->adevice.iscapture &&
        event->adevice.which == self->sdlDevice.load()) {
      const HWND window = self->lostWindow.load();
      if (window != 0 && !self->lostPending.exchange(true)) PostMessage(window, kMsgAudioLost);
    }
    return 1;
  }

  // Starts the null backend in place of a device that cannot be had.
  void fallBackToNull() {
    startNull();
    std::function<void(const std::string&)> notice;
    std::string reason;
    {
      std::lock_guard lock(stateLock);
      if (noticeGiven || !noDeviceNotice) return;
      noticeGiven = true;
      notice = noDeviceNotice;
      reason = lastError;
    }
    notice(reason);
  }

  bool openSdl() {
    snd_lib_error_set_handler(&quietAlsa);
    if (!sdlInit) {
      if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
        setError(SDL_GetError());
        return false;
      }
      sdlInit = true;
    }
    SDL_AudioSpec want{};
    want.freq = kAudioRate;
    want.format = AUDIO_S16SYS;
    want.channels = kAudioChannels;
    want.samples = 1024;
    want.callback = &Impl::sdlCallback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No format changes allowed: SDL converts, so the sources always see the
    // one format the device promises.
    const SDL_AudioDeviceID opened = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (opened == 0) {
      setError(SDL_GetError());
      return false;
    }
    sdlDevice.store(opened);
    if (!eventWatch) {
      SDL_AddEventWatch(&Impl::sdlEventWatch, this);
      eventWatch = true;
    }
    if (lostWindow.load() == 0) {
      lostWindow = AllocateHWnd([this](const Message& m) -> LRESULT {
        if (m.msg == kMsgAudioLost) device.Lost();
        return 0;
      });
    }
    SDL_PauseAudioDevice(opened, 0);
    return true;
  }

  void closeSdlDevice() {
    if (const SDL_AudioDeviceID open = sdlDevice.exchange(0); open != 0) {
      SDL_CloseAudioDevice(open);  // waits for a running callback
    }
  }

  void closeSdl() {
    closeSdlDevice();
    if (eventWatch) {
      SDL_DelEventWatch(&Impl::sdlEventWatch, this);
      eventWatch = false;
    }
    if (const HWND window = lostWindow.exchange(0); window != 0) {
      DeallocateHWnd(window);
    }
    if (sdlInit) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
      sdlInit = false;
    }
  }

  void startNull() {
    {
      std::lock_guard lock(nullLock);
      nullStop = false;
    }
    nullThread = std::thread([this] { nullLoop(); });
  }

  void stopNull() {
    if (!nullThread.joinable()) return;
    {
      std::lock_guard lock(nullLock);
      nullStop = true;
    }
    nullWake.notify_all();
    nullThread.join();
  }

  // Consumes exactly as many frames as real time asks for, so that sounds end
  // and fades run on time without a sound card.
  void nullLoop() {
    using clock = std::chrono::steady_clock;
    std::vector<int16_t> buffer(kNullChunk * kAudioChannels);
    const auto start = clock::now();
    uint64_t consumed = 0;
    std::unique_lock lock(nullLock);
    while (!nullStop) {
      nullWake.wait_for(lock, std::chrono::milliseconds(10));
      if (nullStop) break;
      lock.unlock();
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start).count();
      const uint64_t due = static_cast<uint64_t>(elapsed) * kAudioRate / 1000000;
      // After a long stall (a suspended process) do not race to catch up
      // more than a quarter second.
      if (due > consumed + kAudioRate / 4) consumed = due - kAudioRate / 4;
      while (consumed < due) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(due - consumed, kNullChunk));
        device.Render(buffer.data(), n);
        consumed += n;
      }
      lock.lock();
    }
  }
};

AudioDevice::AudioDevice() : impl_(std::make_unique<Impl>(*this)) {
  // Touch the window table now so that it is built before, and so destroyed
  // after, a process-wide device whose Close deallocates its window at exit.
  IsWindow(~HWND{0});
}

AudioDevice::~AudioDevice() {
  Close();
}

AudioBackend AudioDevice::Open(AudioBackend wanted) {
  if (IsOpen()) return Backend();
  AudioBackend used = wanted;
  switch (wanted) {
    case AudioBackend::None:
      return AudioBackend::None;
    case AudioBackend::Manual:
      break;
    case AudioBackend::Sdl:
      if (impl_->openSdl()) break;
      impl_->closeSdl();
      used = AudioBackend::Null;
      impl_->fallBackToNull();
      break;
    case AudioBackend::Null:
      impl_->startNull();
      break;
  }
  backend_.store(used);
  return used;
}

void AudioDevice::Close() {
  const AudioBackend was = backend_.exchange(AudioBackend::None);
  if (was == AudioBackend::Sdl) impl_->closeSdl();
  if (was == AudioBackend::Null) impl_->stopNull();
}

std::string AudioDevice::LastError() const {
  std::lock_guard lock(impl_->stateLock);
  return impl_->lastError;
}

void AudioDevice::Lost() {
  if (impl_->restoring) return;
  impl_->restoring = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{impl_->restoring};

  impl_->lostPending.store(false);
  if (Backend() == AudioBackend::Sdl) {
    impl_->closeSdlDevice();
    if (!impl_->openSdl()) {
      // The default device is gone for good: keep time running without it.
      impl_->closeSdl();
      backend_.store(AudioBackend::Null);
      impl_->fallBackToNull();
    }
  }
  // Handlers may add or remove handlers; run over a copy.
  auto handlers = impl_->restoreHandlers;
  for (auto& [id, handler] : handlers) {
    if (handler) handler();
  }
}

void AudioDevice::SetNoDeviceNotice(std::function<void(const std::string& reason)> notice) {
  std::lock_guard lock(impl_->stateLock);
  impl_->noDeviceNotice = std::move(notice);
}

int AudioDevice::AddRestoreHandler(std::function<void()> handler) {
  const int id = impl_->nextHandlerId++;
  impl_->restoreHandlers.emplace_back(id, std::move(handler));
  return id;
}

void AudioDevice::RemoveRestoreHandler(int id) {
  auto& list = impl_->restoreHandlers;
  list.erase(
      std::remove_if(list.begin(), list.end(), [id](const auto& e) { return e.first == id; }),
      list.end());
}

void AudioDevice::Attach(AudioSource* source) {
  if (source == nullptr) return;
  std::lock_guard lock(impl_->mixLock);
  auto& list = impl_->sources;
  if (std::find(list.begin(), list.end(), source) == list.end()) list.push_back(source);
}

void AudioDevice::Detach(AudioSource* source) {
  if (source == nullptr) return;
  // Taking the mix lock waits for a Render in progress on another thread.
  std::lock_guard lock(impl_->mixLock);
  auto& list = impl_->sources;
  auto it = std::find(list.begin(), list.end(), source);
  if (it == list.end()) return;
  if (impl_->mixing) {
    // Detached from inside a Fill: the walk is still using the list.
    *it = nullptr;
    impl_->compactAfter = true;
  } else {
    list.erase(it);
  }
}

size_t AudioDevice::SourceCount() const {
  std::lock_guard lock(impl_->mixLock);
  return static_cast<size_t>(
      std::count_if(impl_->sources.begin(), impl_->sources.end(), [](auto* s) { return s; }));
}

void AudioDevice::Render(int16_t* out, size_t frames) {
  const size_t samples = frames * kAudioChannels;
  std::lock_guard lock(impl_->mixLock);
  if (impl_->mixing) {
    // A Fill asked for a nested render; give it silence rather than recurse.
    std::fill(out, out + samples, int16_t{0});
    return;
  }
  impl_->mixing = true;
  auto& accum = impl_->accum;
  auto& scratch = impl_->scratch;
  if (accum.size() < samples) accum.resize(samples);
  if (scratch.size() < samples) scratch.resize(samples);
  std::fill(accum.begin(), accum.begin() + samples, 0);
  // Index walk: a Fill may attach further sources (push_back) or detach any.
  for (size_t i = 0; i < impl_->sources.size(); ++i) {
    AudioSource* source = impl_->sources[i];
    if (source == nullptr) continue;
    std::fill(scratch.begin(), scratch.begin() + samples, int16_t{0});
    const size_t written = std::min(source->Fill(scratch.data(), frames), frames);
    for (size_t k = 0; k < written * kAudioChannels; ++k) accum[k] += scratch[k];
  }
  for (size_t k = 0; k < samples; ++k) {
    out[k] = static_cast<int16_t>(std::clamp<int32_t>(accum[k], std::numeric_limits<int16_t>::min(),
                                                      std::numeric_limits<int16_t>::max()));
  }
  if (impl_->compactAfter) {
    auto& list = impl_->sources;
    list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
    impl_->compactAfter = false;
  }
  impl_->mixing = false;
  played_.fetch_add(frames);
}

AudioDevice& ProcessAudioDevice() {
  static AudioDevice device;
  return device;
}

}  // namespace zirk::platform
