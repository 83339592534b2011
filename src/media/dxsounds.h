#pragma once
// The sound component and its wrappers. On Linux the DirectSound object is
// the process-wide sound device (platform/audio.h): the component opens it on
// Initialize and hands its AudioOutput to the media library; Finalize drops
// the wrappers but never closes the device, so a second Initialize keeps
// every source that is playing. A removed device ("buffer lost") is reopened
// by the device and reaches the component as one restore.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "media/dxclass.h"
#include "platform/audio.h"

namespace zirk {

class EDirectSoundError : public Exception {
 public:
  using Exception::Exception;
};
class EDirectSoundBufferError : public EDirectSoundError {
 public:
  using EDirectSoundError::EDirectSoundError;
};
class EDXSoundError : public Exception {
 public:
  using Exception::Exception;
};

#pragma pack(push, 1)
struct TWaveFormatEx {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

constexpr uint16_t WAVE_FORMAT_PCM = 1;

void MakePcmWaveFormat(TWaveFormatEx& format, int32_t samplesPerSec, int32_t bitsPerSample,
                       int32_t channels);

struct TDSBCaps {
  uint32_t dwSize = 0;
  uint32_t dwFlags = 0;
  uint32_t dwBufferBytes = 0;
  uint32_t dwUnlockTransferRate = 0;
  uint32_t dwPlayCpuOverhead = 0;
};
static_assert(sizeof(TDSBCaps) == 20);

constexpr uint32_t DSBCAPS_PRIMARYBUFFER = 0x1;
constexpr uint32_t DSBCAPS_LOCSOFTWARE = 0x8;

struct TDSBufferDesc {
  uint32_t dwSize = 0;
  uint32_t dwFlags = 0;
  uint32_t dwBufferBytes = 0;
  uint32_t dwReserved = 0;
  const TWaveFormatEx* lpwfxFormat = nullptr;
};

constexpr uint32_t DSSCL_NORMAL = 1;
constexpr uint32_t DSSCL_EXCLUSIVE = 3;

// The buffer interface: the primary buffer over the sound device, or a test
// double. GetFormat answers the record size through `written` when `format`
// is null, as its Windows counterpart does.
class IDirectSoundBuffer {
 public:
  virtual ~IDirectSoundBuffer() = default;
  virtual HRESULT GetCaps(TDSBCaps& caps) = 0;
  virtual HRESULT GetFormat(void* format, uint32_t size, uint32_t* written) = 0;
  virtual HRESULT SetFormat(const TWaveFormatEx& format) = 0;
};

// The sound object interface.
class IDirectSound {
 public:
  virtual ~IDirectSound() = default;
  virtual HRESULT CreateSoundBuffer(const TDSBufferDesc& desc,
                                    std::shared_ptr<IDirectSoundBuffer>& buffer) = 0;
  virtual HRESULT SetCooperativeLevel(platform::HWND window, uint32_t level) = 0;
  // What the media library and the players mix into; null for none.
  virtual platform::AudioOutput* Output() = 0;
  // Called once per restore of the underlying output (after it was reopened).
  virtual void SetLostHandler(std::function<void()> handler) = 0;
};

// Makes the sound object; null when no sound object can be made.
using TDirectSoundDriver = std::function<std::shared_ptr<IDirectSound>()>;

// The sound object over a sound device (opened on first use, never closed
// here), with the device's fixed format as the primary buffer's.
std::shared_ptr<IDirectSound> MakeDeviceDirectSound(platform::AudioDevice& device,
                                                    platform::AudioBackend backend);
// The default driver: the process-wide device over SDL2.
TDirectSoundDriver DefaultDirectSoundDriver();

class TDirectSoundBuffer;

class TDirectSound : public TDirectX {
 public:
  // Raises EDirectSoundError "DirectSound を初期化できません" when the driver
  // makes no sound object.
  explicit TDirectSound(const TDirectSoundDriver& driver);
  ~TDirectSound() override;  // frees the buffers still listed, last first

  // Checking form: raises "IDirectSound は作成されていません" without one.
  IDirectSound& IDSound();
  // Plain form: null for a null object.
  static IDirectSound* GetIDirectSound(TDirectSound* self);

  // Buffers belong to their sound object's list from creation to FreeBuffer.
  TDirectSoundBuffer& NewBuffer();
  void FreeBuffer(TDirectSoundBuffer* buffer);
  size_t BufferCount() const { return buffers_.size(); }

  // Runs Restore once for a buffer whose last result is DSERR_BUFFERLOST;
  // nothing while a restore runs.
  void CheckBuffer(TDirectSoundBuffer& buffer);
  bool Restoring() const { return restoring_; }

 protected:
  virtual void Restore() {}

 private:
  void runRestore();

  std::shared_ptr<IDirectSound> interface_;
  std::vector<std::unique_ptr<TDirectSoundBuffer>> buffers_;
  bool restoring_ = false;
};

class TDirectSoundBuffer : public TDirectX {
 public:
  explicit TDirectSoundBuffer(TDirectSound& owner) : owner_(owner) {}
  ~TDirectSoundBuffer() override;

  TDirectSound& DSound() const { return owner_; }
  // Checking form: raises "IDirectSoundBuffer は作成されていません" without one.
  IDirectSoundBuffer& IBuffer();
  static IDirectSoundBuffer* GetIDirectSoundBuffer(TDirectSoundBuffer* self);

  void SetBufferInterface(std::shared_ptr<IDirectSoundBuffer> buffer);
  bool CreateBuffer(const TDSBufferDesc& desc);
  void SetFormat(const TWaveFormatEx& format);

  // The format record as last read (empty when none).
  const std::vector<uint8_t>& FormatRecord() const { return format_; }
  TWaveFormatEx Format() const;
  const TDSBCaps& Caps() const { return caps_; }

 protected:
  void Check() override { owner_.CheckBuffer(*this); }

 private:
  void readFormat();

  TDirectSound& owner_;
  std::shared_ptr<IDirectSoundBuffer> interface_;
  std::vector<uint8_t> format_;
  TDSBCaps caps_;
};

enum class TDXSoundOption { soGlobalFocus, soStickyFocus, soExclusive };
using TDXSoundOptions = uint32_t;  // bit (1 << option)
constexpr TDXSoundOptions DXSoundOption(TDXSoundOption o) {
  return 1u << static_cast<int>(o);
}

enum class TDXSoundNotifyType {
  dsntDestroying,
  dsntInitializing,
  dsntInitialize,
  dsntFinalize,
  dsntRestore
};

class TCustomDXSound;

class TDXSoundDirectSound : public TDirectSound {
 public:
  TDXSoundDirectSound(const TDirectSoundDriver& driver, TCustomDXSound& component);

 protected:
  void Restore() override;

 private:
  TCustomDXSound& component_;
};

class TCustomDXSound : public TDXComponent {
 public:
  explicit TCustomDXSound(TDXComponent* owner);
  ~TCustomDXSound() override;

  void Initialize();
  void Finalize();
  // Runs on the component's own restore: tells the list, fires OnRestore.
  void Restore();
  // Run-time load from a form: initialises when AutoInitialize is set.
  void Loaded();

  bool AutoInitialize = true;
  TDXSoundOptions Options() const { return options_; }
  void SetOptions(TDXSoundOptions options);
  // Where the sound object comes from; the process-wide device by default.
  TDirectSoundDriver Driver;

  bool Initialized() const { return initialized_; }
  TDXForm* Form() const { return form_; }
  TDirectSound* DSound() const { return dsound_.get(); }
  TDirectSoundBuffer* Primary() const { return primary_; }
  // What the media library receives in its SharedDirectSound slot.
  platform::AudioOutput* Output() const;
  uint32_t CooperativeLevel() const { return level_; }

  using NotifyProc = std::function<void(TDXSoundNotifyType)>;
  int RegisterNotifyEvent(NotifyProc proc);
  void UnRegisterNotifyEvent(int id);

  std::function<void(TCustomDXSound&)> OnInitializing;
  std::function<void(TCustomDXSound&)> OnInitialize;
  std::function<void(TCustomDXSound&)> OnFinalize;
  std::function<void(TCustomDXSound&)> OnRestore;

 private:
  void notify(TDXSoundNotifyType type);
  void attachSubclass();
  void setCooperativeLevel();

  TDXSoundOptions options_ = 0;
  TDXForm* form_ = nullptr;
  std::unique_ptr<TDXSoundDirectSound> dsound_;
  TDirectSoundBuffer* primary_ = nullptr;  // owned by dsound_'s buffer list
  bool initialized_ = false;
  int subclass_ = 0;
  uint32_t level_ = 0;
  std::vector<std::pair<int, NotifyProc>> notifies_;
  int nextNotify_ = 1;
};

// The component placed on the main window.
class TDXSound : public TCustomDXSound {
 public:
  using TCustomDXSound::TCustomDXSound;
};

}  // namespace zirk
