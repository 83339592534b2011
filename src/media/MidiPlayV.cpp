#include "media/MidiPlayV.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/clock.h"

namespace zirk {

namespace {

constexpr uint8_t kGMSystemOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
constexpr int kAllNotesOff = 123;
constexpr int kVolumeController = 7;

// Holds the timer paused for a scope.
class PausedTimer {
 public:
  explicit PausedTimer(TMMTimer& timer) : timer_(timer) { timer_.Pause(); }
  ~PausedTimer() { timer_.Resume(); }
  PausedTimer(const PausedTimer&) = delete;
  PausedTimer& operator=(const PausedTimer&) = delete;

 private:
  TMMTimer& timer_;
};

}  // namespace

// ------------------------------------------------------------------ TMMTimer

TMMTimer::TMMTimer(Handler handler, bool useThread) : handler_(std::move(handler)) {
  if (useThread) thread_ = std::thread([this] { run(); });
}

TMMTimer::~TMMTimer() {
  {
    std::lock_guard lock(lock_);
    terminated_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint32_t TMMTimer::Interval() const {
  std::lock_guard lock(lock_);
  return interval_;
}

void TMMTimer::SetInterval(uint32_t ms) {
  std::lock_guard lock(lock_);
  interval_ = std::max<uint32_t>(ms, 1);
}

bool TMMTimer::Enabled() const {
  std::lock_guard lock(lock_);
  return enabled_;
}

void TMMTimer::SetEnabled(bool enabled) {
  {
    std::lock_guard lock(lock_);
    enabled_ = enabled;
  }
  changed_.notify_all();
}

void TMMTimer::Pause() {
  std::unique_lock lock(lock_);
  ++paused_;
  changed_.wait(lock, [this] { return idle_; });
}

void TMMTimer::Resume() {
  std::lock_guard lock(lock_);
  if (paused_ > 0) --paused_;
}

void TMMTimer::Tick() {
  {
    std::lock_guard lock(lock_);
    if (!enabled_ || terminated_ || paused_ > 0) return;
    idle_ = false;
  }
  handler_();
  {
    std::lock_guard lock(lock_);
    idle_ = true;
  }
  changed_.notify_all();
}

void TMMTimer::run() {
  std::unique_lock lock(lock_);
  while (!terminated_) {
    // Disabled: suspended until enabled or ended.
    changed_.wait(lock, [this] { return terminated_ || enabled_; });
    if (terminated_) break;
    const auto interval = std::chrono::milliseconds(interval_);
    // Only the end of the timer wakes the wait early.
    if (changed_.wait_for(lock, interval, [this] { return terminated_; })) break;
    if (!enabled_ || paused_ > 0) continue;
    idle_ = false;
    lock.unlock();
    handler_();
    lock.lock();
    idle_ = true;
    changed_.notify_all();
  }
}

// ---------------------------------------------------------------- TMidiPlayV

TMidiPlayV::TMidiPlayV(bool useTimerThread) {
  for (auto& channel : scale_) channel.fill(100);
  opener_ = [this](std::unique_ptr<platform::MidiOutPort>& port, int32_t index) {
    return platform::midiOutOpen(port, index, output_);
  };
  const uint32_t count = platform::midiOutGetNumDevs();
  for (uint32_t i = 0; i < count; ++i) {
    platform::MidiOutCaps caps;
    if (!platform::midiOutGetDevCaps(i, caps)) continue;
    TMidiDevice device;
    device.ManufacturerId = caps.wMid;
    device.ProductId = caps.wPid;
    char version[16];
    std::snprintf(version, sizeof version, "%2.2d.%2.2d", (caps.vDriverVersion >> 8) & 0xFF,
                  caps.vDriverVersion & 0xFF);
    device.DriverVersion = version;
    device.Name = caps.szPname.substr(0, 32);
    device.Technology = caps.wTechnology;
    device.Voices = caps.wVoices;
    device.Notes = caps.wNotes;
    device.ChannelMask = caps.wChannelMask;
    device.Support = caps.dwSupport;
    devices_.push_back(std::move(device));
  }
  timer_ = std::make_unique<TMMTimer>([this] { timerTick(); }, useTimerThread);
  timer_->SetInterval(kTimerInterval);
}

TMidiPlayV::~TMidiPlayV() {
  CloseDevice();
  timer_.reset();  // the thread ends before the state it reads goes
}

bool TMidiPlayV::LoadFromStream(TKwStream& stream) {
  PausedTimer paused(*timer_);
  Stop();
  std::lock_guard lock(lock_);
  const bool result = TMidiV::LoadFromStream(stream);
  index_ = 0;
  current_ = Events().empty() ? nullptr : &Events().front();
  // A new sequence starts at its beginning, not where the last one stopped.
  position_ = 0;
  for (auto& channel : raw_) channel[kVolumeController] = 127;
  return result;
}

bool TMidiPlayV::OpenDevice(int32_t index) {
  if (!UseDevice) return true;
  std::lock_guard lock(lock_);
  if (deviceOpen_) return true;
  std::unique_ptr<platform::MidiOutPort> port;
  const uint32_t error = opener_(port, index < 0 ? platform::MIDI_MAPPER : index);
  if (error != platform::MMSYSERR_NOERROR || port == nullptr) {
    lastError_ = platform::midiOutGetErrorText(error != 0 ? error : platform::MMSYSERR_ERROR);
    return false;
  }
  port_ = std::move(port);
  deviceOpen_ = true;
  replayFromStart_ = true;
  return true;
}

void TMidiPlayV::CloseDevice() {
  if (!deviceOpen_) return;
  Stop();
  PausedTimer paused(*timer_);
  timer_->SetEnabled(false);
  std::lock_guard lock(lock_);
  port_->Reset();
  port_.reset();
  deviceOpen_ = false;
}

void TMidiPlayV::Stop() {
  if (!timer_->Enabled()) return;
  PausedTimer paused(*timer_);
  timer_->SetEnabled(false);
  std::lock_guard lock(lock_);
  allNotesOff();
}

int64_t TMidiPlayV::GetPosition() {
  std::lock_guard lock(lock_);
  return position_;
}

void TMidiPlayV::SetPosition(int64_t ms) {
  std::lock_guard lock(lock_);
  position_ = ms;
}

bool TMidiPlayV::GetRepeat() {
  std::lock_guard lock(lock_);
  return repeat_;
}

void TMidiPlayV::SetRepeat(bool repeat) {
  std::lock_guard lock(lock_);
  repeat_ = repeat;
}

bool TMidiPlayV::IsEnd() {
  std::lock_guard lock(lock_);
  return !repeat_ && index_ >= static_cast<int32_t>(Events().size()) - 1;
}

int32_t TMidiPlayV::Tempo() {
  std::lock_guard lock(lock_);
  return tempo_;
}

int32_t TMidiPlayV::CurrentIndex() {
  std::lock_guard lock(lock_);
  return index_;
}

const TMidiMsgEvent* TMidiPlayV::CurrentEvent() {
  std::lock_guard lock(lock_);
  return current_;
}

void TMidiPlayV::SendGMReset() {
  PausedTimer paused(*timer_);
  std::lock_guard lock(lock_);
  if (port_ != nullptr) port_->LongMsg(kGMSystemOn, sizeof kGMSystemOn);
}

void TMidiPlayV::SetControllerScale(int32_t controller, int32_t percent) {
  if (controller < 0 || controller > 127) return;
  PausedTimer paused(*timer_);
  std::lock_guard lock(lock_);
  for (auto& channel : scale_) channel[static_cast<size_t>(controller)] = percent;
  if (timer_->Enabled()) {
    for (int channel = 0; channel < 16; ++channel) sendController(channel, controller);
  }
}

void TMidiPlayV::sendController(int channel, int controller) {
  const int64_t raw = raw_[static_cast<size_t>(channel)][static_cast<size_t>(controller)];
  const int64_t percent = scale_[static_cast<size_t>(channel)][static_cast<size_t>(controller)];
  // A scale above 100 % (or below 0) must not push the value out of a data
  // byte's range, where it would corrupt the message.
  const auto value = static_cast<uint32_t>(std::clamp<int64_t>(raw * percent / 100, 0, 127));
  if (port_ != nullptr) {
    port_->ShortMsg((0xB0u | static_cast<uint32_t>(channel)) |
                    (static_cast<uint32_t>(controller) << 8) | (value << 16));
  }
}

void TMidiPlayV::sendEvent(const TMidiMsgEvent& event) {
  if (event.kind == kMidiKindControlChange && event.data.size() >= 3) {
    const int channel = event.data[0] & 0x0F;
    const int controller = event.data[1] & 0x7F;
    raw_[static_cast<size_t>(channel)][static_cast<size_t>(controller)] = event.data[2];
    sendController(channel, controller);
  } else if (event.type == kMidiTypeShort) {
    if (port_ != nullptr) port_->ShortMsg(event.Packed());
  } else if (event.type == kMidiTypeSysEx) {
    if (port_ != nullptr) port_->LongMsg(event.data.data(), event.data.size());
  } else if (event.kind == kMidiKindTempo) {
    const int32_t value = TempoValue(event);
    if (value > 0) tempo_ = 60000000 / value;
  }
  current_ = &event;
}

void TMidiPlayV::allNotesOff() {
  if (port_ == nullptr) return;
  for (uint32_t channel = 0; channel < 16; ++channel) {
    port_->ShortMsg(0xB0u + channel + (kAllNotesOff << 8));
  }
}

void TMidiPlayV::timerTick() {
  std::vector<const TMidiMsgEvent*> sent;
  {
    std::lock_guard lock(lock_);
    const auto& events = Events();
    const auto count = static_cast<int32_t>(events.size());
    if (index_ >= count) return;
    const uint32_t now = platform::timeGetTime();
    position_ += std::min(kMaxTickStep, now - lastTickTime_);
    lastTickTime_ = now;
    size_t messages = 0;
    while (index_ < count && events[static_cast<size_t>(index_)].time < position_) {
      const TMidiMsgEvent& event = events[static_cast<size_t>(index_)];
      const bool message = event.type != kMidiTypeMeta;
      if (message && messages == kMaxMessagesPerTick) break;
      messages += message;
      if (index_ < count - 1) {
        sendEvent(event);
        sent.push_back(&event);
        ++index_;
        continue;
      }
      // The last event: in format 1 a note-off may sort behind the longest
      // track's end, so a channel message here still goes out.
      if (event.type == kMidiTypeShort) {
        sendEvent(event);
        sent.push_back(&event);
      }
      if (!repeat_) {
        index_ = count;
        break;
      }
      allNotesOff();
      index_ = 0;
      position_ = events[0].time;
    }
  }
  if (!sent.empty() && OnMidiEvents) OnMidiEvents(sent);
}

int32_t TMidiPlayV::indexByTick(int64_t tick) const {
  const auto& events = Events();
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].tick == tick) return static_cast<int32_t>(i);
    if (events[i].tick > tick) return i == 0 ? 0 : static_cast<int32_t>(i - 1);
  }
  return 0;
}

int32_t TMidiPlayV::indexByTime(int64_t time) const {
  const auto& events = Events();
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].time == time) return static_cast<int32_t>(i);
    if (events[i].time > time) return i == 0 ? 0 : static_cast<int32_t>(i - 1);
  }
  return 0;
}

int32_t TMidiPlayV::indexByBeat(int64_t bar, int32_t beat) const {
  // The beat itself, or the last beat before it when the bar has fewer.
  int64_t tick = 0;
  for (const TVibrant& v : Vibrants()) {
    if (v.bar > bar || (v.bar == bar && v.beat > beat)) break;
    tick = v.tick;
  }
  return indexByTick(tick);
}

void TMidiPlayV::Seek(int64_t tick, int64_t time, int32_t beat) {
  PausedTimer paused(*timer_);
  timer_->SetEnabled(false);
  {
    std::lock_guard lock(lock_);
    const int32_t target = tick >= 1    ? indexByTick(tick)
                           : beat == -1 ? indexByTime(time)
                                        : indexByBeat(time, beat);
    // At the first event nothing has been sent that a reset could have lost.
    const bool fromStart = replayFromStart_ && index_ > 0;
    replayFromStart_ = false;
    if (target != index_ || fromStart) {
      allNotesOff();
      if (target < index_ || fromStart) {
        index_ = 0;
        position_ = 0;
      }
      // Everything but the notes between here and the target is sent again,
      // so programs, controllers and tempo are as they would be there.
      const auto& events = Events();
      for (; index_ < target; ++index_) {
        const TMidiMsgEvent& event = events[static_cast<size_t>(index_)];
        position_ = event.time;
        if (event.kind == kMidiKindNoteOn || event.kind == kMidiKindNoteOff) continue;
        sendEvent(event);
        if (event.kind == kMidiKindGSReset) platform::Sleep(10);  // the synthesizer resets
      }
    }
    lastTickTime_ = platform::timeGetTime();
  }
  timer_->SetEnabled(true);
}

}  // namespace zirk
