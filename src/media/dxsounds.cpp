#include "media/dxsounds.h"

#include <algorithm>
#include <cstring>

namespace zirk {

namespace {

std::string formatText(const char* pattern, const std::string& arg) {
  std::string text = pattern;
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

// The record a format query may answer: at least the 16 bytes of a PCM format,
// at most a full extended format with its largest extra block.
constexpr uint32_t kMinFormatRecord = 16;
constexpr uint32_t kMaxFormatRecord = sizeof(TWaveFormatEx) + 0xFFFF;

// The primary buffer of the sound device: its format is the device's.
class DevicePrimaryBuffer : public IDirectSoundBuffer {
 public:
  explicit DevicePrimaryBuffer(platform::AudioOutput& output) : output_(output) {}
  HRESULT GetCaps(TDSBCaps& caps) override {
    if (caps.dwSize != sizeof(TDSBCaps)) return DSERR_INVALIDPARAM;
    caps.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCSOFTWARE;
    caps.dwBufferBytes = static_cast<uint32_t>(output_.Rate() / 10 * platform::kAudioBytesPerFrame);
    return DS_OK;
  }
  HRESULT GetFormat(void* format, uint32_t size, uint32_t* written) override {
    TWaveFormatEx record;
    MakePcmWaveFormat(record, output_.Rate(), 16, output_.Channels());
    if (format == nullptr) {
      if (written == nullptr) return DSERR_INVALIDPARAM;
      *written = sizeof(record);
      return DS_OK;
    }
    if (size < sizeof(record)) return DSERR_INVALIDPARAM;
    std::memcpy(format, &record, sizeof(record));
    if (written != nullptr) *written = sizeof(record);
    return DS_OK;
  }
  // The device mixes in one fixed format and converts whatever it is fed, so
  // any PCM format is accepted and the format read back stays the device's.
  HRESULT SetFormat(const TWaveFormatEx& format) override {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels == 0) return DSERR_INVALIDPARAM;
    return DS_OK;
  }

 private:
  platform::AudioOutput& output_;
};

class DeviceDirectSound : public IDirectSound {
 public:
  explicit DeviceDirectSound(platform::AudioDevice& device) : device_(device) {
    restoreId_ = device_.AddRestoreHandler([this] {
      if (lost_) lost_();
    });
  }
  ~DeviceDirectSound() override { device_.RemoveRestoreHandler(restoreId_); }

  HRESULT CreateSoundBuffer(const TDSBufferDesc& desc,
                            std::shared_ptr<IDirectSoundBuffer>& buffer) override {
    buffer.reset();
    // Only the primary buffer exists here; players are sources of the device.
    if ((desc.dwFlags & DSBCAPS_PRIMARYBUFFER) == 0) return DSERR_UNSUPPORTED;
    buffer = std::make_shared<DevicePrimaryBuffer>(device_);
    return DS_OK;
  }
  HRESULT SetCooperativeLevel(platform::HWND, uint32_t level) override {
    return level == DSSCL_NORMAL || level == DSSCL_EXCLUSIVE || level == 2 || level == 4
               ? DS_OK
               : DSERR_INVALIDPARAM;
  }
  platform::AudioOutput* Output() override { return &device_; }
  void SetLostHandler(std::function<void()> handler) override { lost_ = std::move(handler); }

 private:
  platform::AudioDevice& device_;
  int restoreId_ = 0;
  std::function<void()> lost_;
};

}  // namespace

void MakePcmWaveFormat(TWaveFormatEx& format, int32_t samplesPerSec, int32_t bitsPerSample,
                       int32_t channels) {
  format = TWaveFormatEx{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<uint16_t>(channels);
  format.nSamplesPerSec = static_cast<uint32_t>(samplesPerSec);
  format.wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
  format.nBlockAlign = static_cast<uint16_t>(bitsPerSample / 8 * channels);
  format.nAvgBytesPerSec = static_cast<uint32_t>(format.nBlockAlign) * format.nSamplesPerSec;
  format.cbSize = 0;
}

std::shared_ptr<IDirectSound> MakeDeviceDirectSound(platform::AudioDevice& device,
                                                    platform::AudioBackend backend) {
  if (device.Open(backend) == platform::AudioBackend::None) return nullptr;
  return std::make_shared<DeviceDirectSound>(device);
}

TDirectSoundDriver DefaultDirectSoundDriver() {
  return [] {
    return MakeDeviceDirectSound(platform::ProcessAudioDevice(), platform::AudioBackend::Sdl);
  };
}

// ---- TDirectSound

TDirectSound::TDirectSound(const TDirectSoundDriver& driver) {
  if (driver) interface_ = driver();
  if (!interface_) throw EDirectSoundError(formatText("%s を初期化できません", "DirectSound"));
  interface_->SetLostHandler([this] { runRestore(); });
}

TDirectSound::~TDirectSound() {
  if (interface_) interface_->SetLostHandler(nullptr);
  while (!buffers_.empty()) buffers_.pop_back();  // last first
}

IDirectSound& TDirectSound::IDSound() {
  if (!interface_) throw EDirectSoundError(formatText("%s は作成されていません", "IDirectSound"));
  return *interface_;
}

IDirectSound* TDirectSound::GetIDirectSound(TDirectSound* self) {
  return self != nullptr ? self->interface_.get() : nullptr;
}

TDirectSoundBuffer& TDirectSound::NewBuffer() {
  buffers_.push_back(std::make_unique<TDirectSoundBuffer>(*this));
  return *buffers_.back();
}

void TDirectSound::FreeBuffer(TDirectSoundBuffer* buffer) {
  auto it = std::find_if(buffers_.begin(), buffers_.end(),
                         [buffer](const auto& b) { return b.get() == buffer; });
  if (it == buffers_.end()) return;
  auto owned = std::move(*it);
  buffers_.erase(it);
}

void TDirectSound::CheckBuffer(TDirectSoundBuffer& buffer) {
  if (buffer.DXResult() != DSERR_BUFFERLOST) return;
  runRestore();
}

void TDirectSound::runRestore() {
  if (restoring_) return;
  restoring_ = true;
  struct Clear {
    bool& flag;
    ~Clear() { flag = false; }
  } clear{restoring_};
  Restore();
}

// ---- TDirectSoundBuffer

TDirectSoundBuffer::~TDirectSoundBuffer() {
  SetBufferInterface(nullptr);
}

IDirectSoundBuffer& TDirectSoundBuffer::IBuffer() {
  if (!interface_) {
    throw EDirectSoundBufferError(formatText("%s は作成されていません", "IDirectSoundBuffer"));
  }
  return *interface_;
}

IDirectSoundBuffer* TDirectSoundBuffer::GetIDirectSoundBuffer(TDirectSoundBuffer* self) {
  return self != nullptr ? self->interface_.get() : nullptr;
}

void TDirectSoundBuffer::SetBufferInterface(std::shared_ptr<IDirectSoundBuffer> buffer) {
  if (buffer == interface_) return;
  interface_ = std::move(buffer);
  format_.clear();
  caps_ = TDSBCaps{};
  if (!interface_) return;
  caps_.dwSize = sizeof(TDSBCaps);
  interface_->GetCaps(caps_);
  readFormat();
}

void TDirectSoundBuffer::readFormat() {
  format_.clear();
  uint32_t size = 0;
  if (interface_->GetFormat(nullptr, 0, &size) != DS_OK) return;
  // The size comes from the buffer object; an absurd one is not allocated.
  if (size < kMinFormatRecord || size > kMaxFormatRecord) return;
  std::vector<uint8_t> record(size);
  if (interface_->GetFormat(record.data(), size, nullptr) != DS_OK) return;
  format_ = std::move(record);
}

bool TDirectSoundBuffer::CreateBuffer(const TDSBufferDesc& desc) {
  SetBufferInterface(nullptr);
  std::shared_ptr<IDirectSoundBuffer> created;
  const HRESULT result = owner_.IDSound().CreateSoundBuffer(desc, created);
  owner_.SetDXResult(result);
  SetDXResultQuiet(result);
  if (result != DS_OK || !created) return false;
  SetBufferInterface(std::move(created));
  return true;
}

void TDirectSoundBuffer::SetFormat(const TWaveFormatEx& format) {
  SetDXResult(IBuffer().SetFormat(format));
  if (interface_) readFormat();
}

TWaveFormatEx TDirectSoundBuffer::Format() const {
  TWaveFormatEx result;
  std::memcpy(&result, format_.data(), std::min(format_.size(), sizeof(result)));
  return result;
}

// ---- TDXSoundDirectSound

TDXSoundDirectSound::TDXSoundDirectSound(const TDirectSoundDriver& driver,
                                         TCustomDXSound& component)
    : TDirectSound(driver), component_(component) {}

void TDXSoundDirectSound::Restore() {
  TDirectSound::Restore();
  component_.Restore();
}

// ---- TCustomDXSound

TCustomDXSound::TCustomDXSound(TDXComponent* owner)
    : TDXComponent(owner), Driver(DefaultDirectSoundDriver()) {}

TCustomDXSound::~TCustomDXSound() {
  Finalize();
  notify(TDXSoundNotifyType::dsntDestroying);
}

void TCustomDXSound::SetOptions(TDXSoundOptions options) {
  options_ = options;
}

platform::AudioOutput* TCustomDXSound::Output() const {
  IDirectSound* sound = TDirectSound::GetIDirectSound(dsound_.get());
  return sound != nullptr ? sound->Output() : nullptr;
}

int TCustomDXSound::RegisterNotifyEvent(NotifyProc proc) {
  const int id = nextNotify_++;
  notifies_.emplace_back(id, std::move(proc));
  return id;
}

void TCustomDXSound::UnRegisterNotifyEvent(int id) {
  std::erase_if(notifies_, [id](const auto& e) { return e.first == id; });
}

void TCustomDXSound::notify(TDXSoundNotifyType type) {
  auto copy = notifies_;
  for (auto& [id, proc] : copy) {
    if (proc) proc(type);
  }
}

void TCustomDXSound::Initialize() {
  Finalize();
  TDXComponent* owner = Owner();
  while (owner != nullptr && owner->AsForm() == nullptr) owner = owner->Owner();
  if (owner == nullptr) throw EDXSoundError("フォームが見つかりません");
  form_ = owner->AsForm();

  notify(TDXSoundNotifyType::dsntInitializing);
  if (OnInitializing) OnInitializing(*this);

  dsound_ = std::make_unique<TDXSoundDirectSound>(Driver, *this);
  primary_ = &dsound_->NewBuffer();
  TDSBufferDesc desc;
  desc.dwSize = 20;
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCSOFTWARE;
  if (!primary_->CreateBuffer(desc)) {
    throw EDXSoundError(formatText("%s を作成できません", "プライマリバッファ"));
  }

  initialized_ = true;
  attachSubclass();
  setCooperativeLevel();

  notify(TDXSoundNotifyType::dsntInitialize);
  if (OnInitialize) OnInitialize(*this);
  Restore();
}

void TCustomDXSound::Finalize() {
  if (initialized_) {
    if (form_ != nullptr && subclass_ != 0) form_->RemoveSubclass(subclass_);
    subclass_ = 0;
    initialized_ = false;
    if (OnFinalize) OnFinalize(*this);
    notify(TDXSoundNotifyType::dsntFinalize);
  }
  SetOptions(options_);
  // Also after a failed Initialize: nothing half-built is kept.
  if (dsound_ && primary_ != nullptr) dsound_->FreeBuffer(primary_);
  primary_ = nullptr;
  dsound_.reset();
}

void TCustomDXSound::Restore() {
  notify(TDXSoundNotifyType::dsntRestore);
  if (OnRestore) OnRestore(*this);
}

void TCustomDXSound::Loaded() {
  if (AutoInitialize) Initialize();
}

void TCustomDXSound::attachSubclass() {
  if (form_ == nullptr || subclass_ != 0) return;
  subclass_ = form_->AddSubclass([this](const platform::Message& message) {
    // The form's window was re-created: the level belongs to the old handle.
    if (message.msg == WM_CREATE && initialized_) setCooperativeLevel();
  });
}

void TCustomDXSound::setCooperativeLevel() {
  if (!dsound_ || form_ == nullptr) return;
  level_ =
      (options_ & DXSoundOption(TDXSoundOption::soExclusive)) != 0 ? DSSCL_EXCLUSIVE : DSSCL_NORMAL;
  dsound_->SetDXResult(dsound_->IDSound().SetCooperativeLevel(form_->Handle(), level_));
}

}  // namespace zirk
