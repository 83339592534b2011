#include "platform/cdaudio.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zirk::platform {

namespace {

// Posted by the sound device's thread to the opening thread when the ring ran
// dry after the reader finished; wParam is the play's serial.
constexpr uint32_t kPlayEndMessage = WM_USER + 0x3B9;

constexpr uint32_t kChunkSectors = 8;       // one read: about 0.1 s
constexpr uint64_t kRingFrames = 75 * 588;  // one second of sound
constexpr auto kSpaceWait = std::chrono::milliseconds(5);

uint16_t nextDeviceId() {
  // MCI device ids are 16-bit and never 0.
  static std::atomic<uint32_t> next{0};
  uint32_t id;
  do id = (next.fetch_add(1) + 1) & 0xFFFF;
  while (id == 0);
  return static_cast<uint16_t>(id);
}

int16_t scaled(int16_t sample, uint32_t gain) {
  if (gain >= kMixerVolumeMax) return sample;
  return static_cast<int16_t>(int64_t{sample} * gain / kMixerVolumeMax);
}

}  // namespace

// The reader thread and the ring it fills; the sound device plays the ring.
struct CdAudioDevice::Playback final : AudioSource {
  Playback(CdMedium& medium, MixerDevices* mixer, HWND window)
      : medium(medium), mixer(mixer), window(window), ring(kRingFrames * 2) {
    thread = std::thread([this] { Run(); });
  }
  ~Playback() override {
    {
      std::lock_guard lock(mutex);
      quit = true;
    }
    cv.notify_all();
    thread.join();
  }

  // Both only while the source is detached, so Fill is not running.
  void Start(int32_t from, int32_t end, uint64_t playSerial) {
    std::lock_guard lock(mutex);
    next = from;
    this->end = end;
    serial = playSerial;
    written.store(0);
    consumed.store(0);
    finished.store(false);
    endPosted = false;
    hasJob = true;
    cv.notify_all();
  }
  void Cancel() {
    std::unique_lock lock(mutex);
    cancel = true;
    cv.notify_all();
    cv.wait(lock, [this] { return !busy; });
    hasJob = false;
    cancel = false;
  }

  size_t Fill(int16_t* out, size_t frames) override {
    const uint64_t read = consumed.load(std::memory_order_relaxed);
    const bool done = finished.load(std::memory_order_acquire);
    const uint64_t available = written.load(std::memory_order_acquire) - read;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(available, frames));
    const StereoGain gain =
        mixer ? mixer->Gain(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC) : StereoGain{};
    for (size_t i = 0; i < n; ++i) {
      const size_t at = static_cast<size_t>((read + i) % kRingFrames) * 2;
      out[2 * i] = scaled(ring[at], gain.left);
      out[2 * i + 1] = scaled(ring[at + 1], gain.right);
    }
    consumed.store(read + n, std::memory_order_release);
    if (done && n == available && !endPosted) {
      endPosted = true;
      PostMessage(window, kPlayEndMessage, serial);
    }
    return n;
  }

  void Run() {
    std::vector<uint8_t> sectors(kChunkSectors * kCdSectorBytes);
    std::unique_lock lock(mutex);
    for (;;) {
      cv.wait(lock, [this] { return quit || (hasJob && !cancel && !busy); });
      if (quit) return;
      busy = true;
      bool failed = false;
      while (!cancel && !quit && !failed && next < end) {
        const uint64_t free = kRingFrames - (written.load() - consumed.load());
        if (free < kChunkSectors * kCdFramesPerSector) {
          cv.wait_for(lock, kSpaceWait);
          continue;
        }
        const uint32_t count = static_cast<uint32_t>(std::min<int64_t>(kChunkSectors, end - next));
        const int32_t at = next;
        lock.unlock();
        uint32_t good = count;
        if (!medium.ReadAudio(at, count, sectors.data())) {
          // Play what comes before the first sector that cannot be read.
          good = 0;
          while (good < count && medium.ReadAudio(at + static_cast<int32_t>(good), 1,
                                                  sectors.data() + good * kCdSectorBytes))
            ++good;
          failed = true;
        }
        Push(sectors.data(), good);
        lock.lock();
        next += static_cast<int32_t>(good);
      }
      finished.store(true, std::memory_order_release);
      hasJob = false;
      busy = false;
      cv.notify_all();
    }
  }

  // Audio sectors hold little-endian 16-bit samples, left first.
  void Push(const uint8_t* bytes, uint32_t count) {
    const uint64_t base = written.load(std::memory_order_relaxed);
    const uint64_t frames = uint64_t{count} * kCdFramesPerSector;
    for (uint64_t i = 0; i < frames; ++i) {
      const size_t at = static_cast<size_t>((base + i) % kRingFrames) * 2;
      const uint8_t* p = bytes + i * 4;
      ring[at] = static_cast<int16_t>(p[0] | p[1] << 8);
      ring[at + 1] = static_cast<int16_t>(p[2] | p[3] << 8);
    }
    written.store(base + frames, std::memory_order_release);
  }

  CdMedium& medium;
  MixerDevices* mixer;
  HWND window;
  std::vector<int16_t> ring;
  std::atomic<uint64_t> written{0};   // frames the reader put in the ring
  std::atomic<uint64_t> consumed{0};  // frames the sound device took
  std::atomic<bool> finished{false};
  bool endPosted = false;  // sound device thread only
  uint64_t serial = 0;

  std::mutex mutex;
  std::condition_variable cv;
  bool hasJob = false;
  bool busy = false;
  bool cancel = false;
  bool quit = false;
  int32_t next = 0;
  int32_t end = 0;
  std::thread thread;
};

std::unique_ptr<CdAudioDevice> CdAudioDevice::Open(const std::string& element, CdAudioOutput output,
                                                   uint32_t& error) {
  error = 0;
  std::unique_ptr<CdMedium> medium = OpenCdMedium(element, error);
  if (!medium) {
    if (error == 0) error = MCIERR_INVALID_DEVICE_NAME;
    return nullptr;
  }
  return Open(std::move(medium), output);
}

std::unique_ptr<CdAudioDevice> CdAudioDevice::Open(std::unique_ptr<CdMedium> medium,
                                                   CdAudioOutput output) {
  if (!medium) return nullptr;
  return std::unique_ptr<CdAudioDevice>(new CdAudioDevice(std::move(medium), output));
}

CdAudioDevice::CdAudioDevice(std::unique_ptr<CdMedium> medium, CdAudioOutput output)
    : id_(nextDeviceId()),
      medium_(std::move(medium)),
      audio_(output.audio ? output.audio : &ProcessAudioDevice()),
      mixer_(output.mixer ? output.mixer : &ProcessMixerDevices()) {
  window_ = AllocateHWnd([this](const Message& m) -> LRESULT {
    if (m.msg == kPlayEndMessage) OnEnd(m.wParam);
    return 0;
  });
  playback_ = std::make_unique<Playback>(*medium_, mixer_, window_);
  present_ = medium_->Refresh();
}

CdAudioDevice::~CdAudioDevice() {
  notify_ = 0;
  Halt(0);
  playback_.reset();
  DeallocateHWnd(window_);
}

const CdTrack* CdAudioDevice::FindTrack(uint32_t number) const {
  for (const auto& track : medium_->Tracks())
    if (static_cast<uint32_t>(track.number) == number) return &track;
  return nullptr;
}

bool CdAudioDevice::ToSector(uint32_t tmsf, int32_t& lsn) const {
  const CdTrack* track = FindTrack(MCI_TMSF_TRACK(tmsf));
  if (!track) return false;
  const int32_t offset = static_cast<int32_t>((MCI_TMSF_MINUTE(tmsf) * 60 + MCI_TMSF_SECOND(tmsf)) *
                                                  kCdSectorsPerSecond +
                                              MCI_TMSF_FRAME(tmsf));
  // The track's exclusive end is a valid position: it is where a play "to"
  // the track's length stops.
  if (MCI_TMSF_SECOND(tmsf) >= 60 || MCI_TMSF_FRAME(tmsf) >= kCdSectorsPerSecond ||
      offset > track->Length())
    return false;
  lsn = track->start + offset;
  return true;
}

uint32_t CdAudioDevice::ToTmsf(int32_t lsn) const {
  const auto& tracks = medium_->Tracks();
  if (tracks.empty()) return 0;
  const CdTrack* owner = &tracks.front();
  for (const auto& track : tracks)
    if (track.start <= lsn) owner = &track;
  const int32_t offset = std::max(0, lsn - owner->start);
  return MCI_MAKE_TMSF(static_cast<uint32_t>(owner->number),
                       static_cast<uint32_t>(offset / (kCdSectorsPerSecond * 60)),
                       static_cast<uint32_t>(offset / kCdSectorsPerSecond % 60),
                       static_cast<uint32_t>(offset % kCdSectorsPerSecond));
}

void CdAudioDevice::Halt(WPARAM notifyResult) {
  if (playing_) {
    audio_->Detach(playback_.get());
    playback_->Cancel();
    stopLsn_ = std::min<int32_t>(
        startLsn_ + static_cast<int32_t>(playback_->consumed.load() / kCdFramesPerSector),
        std::max(startLsn_, endLsn_ - 1));
    playing_ = false;
  }
  ++serial_;  // an end still queued belongs to a play that is over
  if (notify_ != 0) {
    PostMessage(notify_, MM_MCINOTIFY, notifyResult, id_);
    notify_ = 0;
  }
}

void CdAudioDevice::OnEnd(uint64_t serial) {
  if (serial != serial_ || !playing_) return;
  const HWND notify = notify_;
  notify_ = 0;
  Halt(0);
  if (notify != 0) SendMessage(notify, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, id_);
}

uint32_t CdAudioDevice::Mode() {
  if (present_ && medium_->Gone()) {
    Halt(MCI_NOTIFY_ABORTED);
    present_ = false;
  }
  if (!present_) return MCI_MODE_NOT_READY;
  return playing_ ? MCI_MODE_PLAY : MCI_MODE_STOP;
}

bool CdAudioDevice::MediaPresent() {
  if (playing_) {
    if (!medium_->Gone()) return present_;
    Halt(MCI_NOTIFY_ABORTED);
  }
  const bool was = present_;
  present_ = medium_->Refresh();
  if (present_ != was)
    stopLsn_ = present_ && !medium_->Tracks().empty() ? medium_->Tracks().front().start : 0;
  return present_;
}

uint32_t CdAudioDevice::TrackCount(uint32_t& count) {
  count = 0;
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  count = static_cast<uint32_t>(medium_->Tracks().size());
  return 0;
}

uint32_t CdAudioDevice::TrackLength(uint32_t track, uint32_t& msf) {
  msf = 0;
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  const CdTrack* t = FindTrack(track);
  if (!t) return MCIERR_OUTOFRANGE;
  const int32_t length = std::max(0, t->Length());
  msf = MCI_MAKE_MSF(static_cast<uint32_t>(length / (kCdSectorsPerSecond * 60)),
                     static_cast<uint32_t>(length / kCdSectorsPerSecond % 60),
                     static_cast<uint32_t>(length % kCdSectorsPerSecond));
  return 0;
}

uint32_t CdAudioDevice::TrackIsAudio(uint32_t track, bool& audio) {
  audio = false;
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  const CdTrack* t = FindTrack(track);
  if (!t) return MCIERR_OUTOFRANGE;
  audio = t->audio;
  return 0;
}

uint32_t CdAudioDevice::Position(uint32_t& tmsf) {
  tmsf = 0;
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  int32_t lsn = stopLsn_;
  if (playing_) {
    // The sector being heard; at the very end the last one, so that a
    // finished track never reads as the start of the next.
    lsn = startLsn_ + static_cast<int32_t>(playback_->consumed.load() / kCdFramesPerSector);
    lsn = std::min(lsn, std::max(startLsn_, endLsn_ - 1));
  }
  tmsf = ToTmsf(lsn);
  return 0;
}

uint32_t CdAudioDevice::Play(uint32_t from, uint32_t to, HWND notify) {
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  int32_t first = 0;
  if (!ToSector(from, first)) return MCIERR_OUTOFRANGE;
  const auto& tracks = medium_->Tracks();
  // Sound runs from the starting track through the audio tracks after it; a
  // data track is never played as sound.
  auto at = std::find_if(tracks.begin(), tracks.end(),
                         [first](const CdTrack& t) { return t.start <= first && first <= t.last; });
  if (at == tracks.end()) {
    at = std::find_if(tracks.begin(), tracks.end(),
                      [from](const CdTrack& t) { return t.number == int(MCI_TMSF_TRACK(from)); });
  }
  if (at == tracks.end() || !at->audio) return MCIERR_HARDWARE;
  int32_t audioEnd = at->last + 1;
  for (auto it = at + 1; it != tracks.end() && it->audio; ++it) audioEnd = it->last + 1;
  int32_t last = audioEnd;
  if (to != 0) {
    if (!ToSector(to, last)) return MCIERR_OUTOFRANGE;
    if (last < first) return MCIERR_OUTOFRANGE;
    last = std::min(last, audioEnd);
  }
  last = std::max(last, first);

  Halt(MCI_NOTIFY_SUPERSEDED);
  startLsn_ = first;
  endLsn_ = last;
  stopLsn_ = first;
  notify_ = notify;
  playing_ = true;
  playback_->Start(first, last, serial_);
  if (!audio_->IsOpen()) audio_->Open();
  audio_->Attach(playback_.get());
  return 0;
}

uint32_t CdAudioDevice::Stop() {
  Halt(MCI_NOTIFY_ABORTED);
  return present_ ? 0 : MCIERR_DEVICE_NOT_READY;
}

uint32_t CdAudioDevice::Seek(uint32_t to) {
  if (!present_) return MCIERR_DEVICE_NOT_READY;
  int32_t lsn = 0;
  if (!ToSector(to, lsn)) return MCIERR_OUTOFRANGE;
  Halt(MCI_NOTIFY_ABORTED);
  stopLsn_ = lsn;
  return 0;
}

bool CdAudioDevice::ReadDone() const {
  return playback_->finished.load();
}

size_t CdAudioDevice::Buffered() const {
  return static_cast<size_t>(playback_->written.load() - playback_->consumed.load());
}

}  // namespace zirk::platform
