#include "media/Cdp.h"

#include <atomic>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zirk {

using namespace platform;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);

// MCI modes as the player reports them.
int32_t modeNumber(uint32_t mode) {
  switch (mode) {
    case MCI_MODE_PLAY:
      return 0;
    case MCI_MODE_STOP:
      return 1;
    case MCI_MODE_SEEK:
      return 3;
    case MCI_MODE_OPEN:
      return 5;
    default:
      return 4;
  }
}

}  // namespace

// Posts WM_TIMER to the player's window every 200 ms, never queueing a second
// one while the first is still waiting (as a window timer behaves).
class TCDP::Ticker {
 public:
  explicit Ticker(HWND window) : window_(window) {
    thread_ = std::thread([this] {
      std::unique_lock lock(mutex_);
      while (!cv_.wait_for(lock, kPollInterval, [this] { return quit_; }))
        if (!pending_.exchange(true)) PostMessage(window_, WM_TIMER);
    });
  }
  ~Ticker() {
    {
      std::lock_guard lock(mutex_);
      quit_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Delivered() { pending_ = false; }

 private:
  HWND window_;
  std::atomic<bool> pending_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool quit_ = false;
  std::thread thread_;
};

TCDP::TCDP() : TCDP(CdDriveList(), CdAudioOutput{}, true) {}

TCDP::TCDP(std::vector<std::string> drives, CdAudioOutput output, bool ownTimer)
    : drives_(std::move(drives)), output_(output) {
  window_ = AllocateHWnd([this](const Message& m) { return WndProc(m); });
  if (ownTimer) ticker_ = std::make_unique<Ticker>(window_);
}

TCDP::~TCDP() {
  ticker_.reset();
  device_.reset();
  DeallocateHWnd(window_);
}

void TCDP::Fire(const TNotifyEvent& event) {
  if (event) event(*this);
}

LRESULT TCDP::WndProc(const Message& message) {
  if (message.msg == WM_TIMER) {
    if (ticker_) ticker_->Delivered();
    if (timerEnabled_) Timer();
  } else if (message.msg == MM_MCINOTIFY) {
    Notified(message.wParam);
  }
  return 0;
}

void TCDP::OpenDrive(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= drives_.size()) return;
  if (device_) Close();
  device_ = CdAudioDevice::Open(drives_[static_cast<size_t>(index)], output_, error_);
  if (!device_) return;
  deviceId_ = device_->Id();
  timerEnabled_ = true;
}

void TCDP::Close() {
  if (!device_) return;
  device_.reset();
  deviceId_ = 0;
  error_ = 0;
  timerEnabled_ = false;
}

int32_t TCDP::Mode() {
  if (!device_) return 4;
  if (paused_) return 2;
  return modeNumber(device_->Mode());
}

bool TCDP::MediaPresent() {
  return device_ && device_->MediaPresent();
}

int32_t TCDP::TrackCount() {
  if (!device_) return 0;
  uint32_t count = 0;
  error_ = device_->TrackCount(count);
  return error_ ? 0 : static_cast<int32_t>(count);
}

int32_t TCDP::TrackLength(int32_t track) {
  if (!device_ || track < 0) return 0;
  uint32_t msf = 0;
  error_ = device_->TrackLength(static_cast<uint32_t>(track), msf);
  if (error_) return 0;
  return static_cast<int32_t>(MCI_MSF_MINUTE(msf) * 60 + MCI_MSF_SECOND(msf));
}

uint32_t TCDP::Position() {
  if (!device_) return 0;
  uint32_t tmsf = 0;
  error_ = device_->Position(tmsf);
  return error_ ? 0 : tmsf;
}

int32_t TCDP::PositionSeconds() {
  const uint32_t tmsf = Position();
  return static_cast<int32_t>(MCI_TMSF_MINUTE(tmsf) * 60 + MCI_TMSF_SECOND(tmsf));
}

int32_t TCDP::EntryTrack(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= playList_.size()) return 0;
  const std::string& text = playList_[static_cast<size_t>(index)];
  int32_t track = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), track);
  if (ec != std::errc() || end != text.data() + text.size() || track < 0 || track > 255) return 0;
  return track;
}

void TCDP::SetCurrentTrack(int32_t track) {
  if (track == currentTrack_) return;
  currentTrack_ = track;
  Fire(OnSongChange);
}

void TCDP::PlayIndex(int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= playList_.size()) return;
  index_ = index;
  const int32_t track = EntryTrack(index);
  if (track > 0) PlayFrom(MCI_MAKE_TMSF(static_cast<uint32_t>(track), 0, 0, 0));
  paused_ = false;
}

void TCDP::PlayFrom(uint32_t position) {
  if (!device_) return;
  if (position == 0) position = Position();
  if (position == 0) return;  // no disc to say where
  SetCurrentTrack(static_cast<int32_t>(MCI_TMSF_TRACK(position)));

  int32_t runLast = EntryTrack(index_);
  for (int32_t i = index_ + 1; static_cast<size_t>(i) < playList_.size(); ++i) {
    if (EntryTrack(i) != runLast + 1) break;
    runLast = EntryTrack(i);
  }
  runContinues_ = runLast != currentTrack_;

  // To the track's true end: its length counted to the frame, not the
  // "length - 1 second" that would cut the end of every looping track.
  uint32_t length = 0;
  error_ = device_->TrackLength(static_cast<uint32_t>(currentTrack_), length);
  if (error_) return;
  const uint32_t to = MCI_MAKE_TMSF(static_cast<uint32_t>(currentTrack_), MCI_MSF_MINUTE(length),
                                    MCI_MSF_SECOND(length), MCI_MSF_FRAME(length));
  error_ = device_->Play(position, to, window_);
}

void TCDP::PlayTrackAt(int32_t track, int32_t seconds) {
  if (!device_ || track < 0 || seconds < 0) return;
  PlayFrom(MCI_MAKE_TMSF(static_cast<uint32_t>(track), static_cast<uint32_t>(seconds / 60),
                         static_cast<uint32_t>(seconds % 60), 0));
}

void TCDP::Stop() {
  if (!device_) return;
  error_ = device_->Stop();
  paused_ = false;
}

void TCDP::Seek(uint32_t position) {
  if (!device_) return;
  error_ = device_->Seek(position);
  if (!error_) SetCurrentTrack(static_cast<int32_t>(MCI_TMSF_TRACK(position)));
}

void TCDP::SetShufflePlay(bool value) {
  if (!device_) return;
  shufflePlay_ = value;
  if (discPresent_ && !value) FillPlayList();
}

void TCDP::SetNotifyAt(int32_t seconds) {
  notifyAt_ = seconds;
  notifyDone_ = false;
}

void TCDP::FillPlayList() {
  playList_.clear();
  const int32_t count = TrackCount();
  for (int32_t t = 1; t <= count; ++t) playList_.push_back(std::to_string(t));
}

void TCDP::Notified(WPARAM result) {
  if (result != MCI_NOTIFY_SUCCESSFUL) return;
  if (static_cast<size_t>(index_) + 1 < playList_.size()) {
    PlayIndex(index_ + 1);
    return;
  }
  index_ = 0;
  const int32_t first = EntryTrack(0);
  if (first <= 0) return;
  Seek(MCI_MAKE_TMSF(static_cast<uint32_t>(first), 0, 0, 0));
  if (repeatPlay_) PlayFrom(0);
}

void TCDP::Timer() {
  if (inTimer_ || !device_) return;
  inTimer_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{inTimer_};
  ++pollCount_;
  if (!discPresent_) {
    currentTrack_ = 1;
    if (pollCount_ % 6 == 0 && MediaPresent()) {
      discPresent_ = true;
      index_ = 0;
      FillPlayList();
      Fire(OnCDInsert);
    }
  } else if (!MediaPresent()) {
    discPresent_ = false;
    playList_.clear();
    Fire(OnCDExit);
  } else if (Mode() == 0) {
    const uint32_t position = Position();
    const int32_t track = static_cast<int32_t>(MCI_TMSF_TRACK(position));
    if (runContinues_ && track != currentTrack_ && EntryTrack(index_ + 1) == currentTrack_ + 1) {
      ++index_;
      currentTrack_ = track;
      Fire(OnSongChange);
    }
    const int32_t played =
        static_cast<int32_t>(MCI_TMSF_MINUTE(position) * 60 + MCI_TMSF_SECOND(position));
    if (introPlay_ && played > introTime_)
      PostMessage(window_, MM_MCINOTIFY, MCI_NOTIFY_SUCCESSFUL, deviceId_);
    if (notifyAt_ > 0 && !notifyDone_ && played >= notifyAt_) {
      notifyDone_ = true;
      Fire(OnTime);
    }
  }
}

}  // namespace zirk
