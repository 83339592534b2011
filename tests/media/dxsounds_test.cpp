#include "media/dxsounds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace zirk {
namespace {

using platform::AudioBackend;
using platform::AudioDevice;

// A buffer whose answers a test sets; it logs its own release.
class FakeBuffer : public IDirectSoundBuffer {
 public:
  FakeBuffer(std::vector<std::string>* log, std::string name) : log_(log), name_(std::move(name)) {}
  ~FakeBuffer() override {
    if (log_ != nullptr) log_->push_back("release " + name_);
  }
  HRESULT GetCaps(TDSBCaps& caps) override {
    caps.dwFlags = 0x8;
    return DS_OK;
  }
  HRESULT GetFormat(void* format, uint32_t size, uint32_t* written) override {
    ++formatReads;
    if (format == nullptr) {
      *written = formatSize;
      return sizeQueryResult;
    }
    TWaveFormatEx record;
    MakePcmWaveFormat(record, 22050, 8, 1);
    std::memcpy(format, &record, std::min<size_t>(size, sizeof(record)));
    return DS_OK;
  }
  HRESULT SetFormat(const TWaveFormatEx&) override {
    if (onSetFormat) onSetFormat();
    return setFormatResult;
  }
  uint32_t formatSize = sizeof(TWaveFormatEx);
  HRESULT sizeQueryResult = DS_OK;
  HRESULT setFormatResult = DS_OK;
  std::function<void()> onSetFormat;
  int formatReads = 0;

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

class FakeSound : public IDirectSound {
 public:
  HRESULT CreateSoundBuffer(const TDSBufferDesc& desc,
                            std::shared_ptr<IDirectSoundBuffer>& buffer) override {
    descs.push_back(desc);
    if (createResult != DS_OK) return createResult;
    buffer = nextBuffer ? nextBuffer : std::make_shared<FakeBuffer>(nullptr, "primary");
    return DS_OK;
  }
  HRESULT SetCooperativeLevel(platform::HWND window, uint32_t level) override {
    levels.emplace_back(window, level);
    return DS_OK;
  }
  platform::AudioOutput* Output() override { return nullptr; }
  void SetLostHandler(std::function<void()> handler) override { lost = std::move(handler); }

  HRESULT createResult = DS_OK;
  std::shared_ptr<IDirectSoundBuffer> nextBuffer;
  std::vector<TDSBufferDesc> descs;
  std::vector<std::pair<platform::HWND, uint32_t>> levels;
  std::function<void()> lost;
};

TEST(DXSounds, MakePcmWaveFormatAndIntHelpers) {
  struct Case {
    int32_t rate, bits, channels;
    uint16_t align;
    uint32_t avg;
  };
  for (const Case& c : {Case{22050, 8, 1, 1, 22050}, Case{48000, 24, 2, 6, 288000}}) {
    TWaveFormatEx f;
    f.cbSize = 77;
    MakePcmWaveFormat(f, c.rate, c.bits, c.channels);
    EXPECT_EQ(std::tie(f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.wBitsPerSample, f.nBlockAlign,
                       f.nAvgBytesPerSec, f.cbSize),
              std::make_tuple(1, c.channels, c.rate, c.bits, c.align, c.avg, 0));
  }
  // The main window's "DelayTime" bounds.
  EXPECT_EQ(IntMin(IntMax(700, 100), 500), 500);
  EXPECT_EQ(IntMin(IntMax(-3, 100), 500), 100);
}

// A form owning a panel owning the component: the component finds the form
// through the chain, as on the main window.
struct Rig {
  // Declared before the component, which fires OnFinalize when destroyed.
  AudioDevice device;
  std::vector<std::string> events;
  TDXForm form;
  TDXComponent panel{&form};
  TDXSound sound{&panel};

  Rig() {
    sound.Driver = [this] { return MakeDeviceDirectSound(device, AudioBackend::Manual); };
    sound.OnInitializing = [this](TCustomDXSound&) { events.push_back("initializing"); };
    sound.OnInitialize = [this](TCustomDXSound& s) {
      events.push_back("initialize");
      TWaveFormatEx f;
      MakePcmWaveFormat(f, 44100, 16, 2);
      s.Primary()->SetFormat(f);
    };
    sound.OnFinalize = [this](TCustomDXSound&) { events.push_back("finalize"); };
    sound.OnRestore = [this](TCustomDXSound&) { events.push_back("restore"); };
  }
};

TEST(DXSounds, InitializeOpensTheDeviceAndFiresItsEvents) {
  std::vector<TDXSoundNotifyType> notes;
  Rig rig;
  rig.form.SetHandle(11);
  rig.sound.SetOptions(DXSoundOption(TDXSoundOption::soGlobalFocus) |
                       DXSoundOption(TDXSoundOption::soExclusive));
  rig.sound.RegisterNotifyEvent([&](TDXSoundNotifyType t) { notes.push_back(t); });
  rig.sound.Initialize();
  EXPECT_TRUE(rig.sound.Initialized());
  EXPECT_EQ(rig.sound.Form(), &rig.form);
  EXPECT_EQ(rig.events, (std::vector<std::string>{"initializing", "initialize", "restore"}));
  EXPECT_EQ(notes, (std::vector<TDXSoundNotifyType>{TDXSoundNotifyType::dsntInitializing,
                                                    TDXSoundNotifyType::dsntInitialize,
                                                    TDXSoundNotifyType::dsntRestore}));
  EXPECT_EQ(rig.sound.CooperativeLevel(), DSSCL_EXCLUSIVE);
  EXPECT_TRUE(rig.device.IsOpen());
  EXPECT_EQ(rig.sound.Output(), &rig.device);
  const TWaveFormatEx f = rig.sound.Primary()->Format();
  EXPECT_EQ(std::tie(f.nSamplesPerSec, f.wBitsPerSample, f.nChannels),
            std::make_tuple(44100, 16, 2));
  EXPECT_EQ(rig.sound.Primary()->Caps().dwFlags, DSBCAPS_PRIMARYBUFFER | DSBCAPS_LOCSOFTWARE);

  rig.sound.SetOptions(0);
  rig.sound.Initialize();
  EXPECT_EQ(rig.sound.CooperativeLevel(), DSSCL_NORMAL);
}

TEST(DXSounds, SecondInitializeFinalizesFirstButKeepsTheDeviceAndSources) {
  Rig rig;
  rig.sound.Initialize();
  struct Tone : platform::AudioSource {
    size_t Fill(int16_t* out, size_t frames) override {
      std::fill(out, out + frames * 2, int16_t{100});
      return frames;
    }
  } tone;
  rig.sound.Output()->Attach(&tone);
  rig.events.clear();
  rig.sound.Initialize();
  EXPECT_EQ(rig.events,
            (std::vector<std::string>{"finalize", "initializing", "initialize", "restore"}));
  EXPECT_EQ(rig.device.SourceCount(), 1u);
  int16_t out[4] = {};
  rig.device.Render(out, 2);
  EXPECT_EQ(out[0], 100);
  rig.device.Detach(&tone);
}

TEST(DXSounds, InitializeFailures) {
  struct Case {
    const char* name;
    bool withForm;
    bool driverMakesNothing;
    HRESULT createResult;
    const char* message;
  };
  const Case cases[] = {
      {"no form in the owner chain", false, false, DS_OK, "フォームが見つかりません"},
      {"no sound object", true, true, DS_OK, "DirectSound を初期化できません"},
      {"no primary buffer", true, false, DSERR_INVALIDPARAM, "プライマリバッファ を作成できません"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDXForm form;
    TDXComponent loose;
    TDXSound sound(c.withForm ? static_cast<TDXComponent*>(&form) : &loose);
    auto fake = std::make_shared<FakeSound>();
    fake->createResult = c.createResult;
    sound.Driver = [&]() -> std::shared_ptr<IDirectSound> {
      if (c.driverMakesNothing) return nullptr;
      return fake;
    };
    try {
      sound.Initialize();
      ADD_FAILURE() << "no exception";
    } catch (const EDirectSoundError& e) {
      EXPECT_STREQ(e.what(), c.message);
    } catch (const EDXSoundError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_FALSE(sound.Initialized());
    // Nothing half-built survives the next Finalize.
    sound.Finalize();
    EXPECT_EQ(sound.DSound(), nullptr);
  }
}

TEST(DXSounds, RecreatedWindowGetsTheCooperativeLevelAgain) {
  TDXForm form;
  form.SetHandle(5);
  TDXSound sound(&form);
  auto fake = std::make_shared<FakeSound>();
  sound.Driver = [&] { return fake; };
  sound.Initialize();
  form.SetHandle(6);  // full-screen switch re-created the window
  ASSERT_EQ(fake->levels.size(), 2u);
  EXPECT_EQ(fake->levels[0].first, 5u);
  EXPECT_EQ(fake->levels[1].first, 6u);
  EXPECT_EQ(fake->descs.at(0).dwSize, 20u);
  EXPECT_EQ(fake->descs.at(0).dwFlags, 9u);
  sound.Finalize();
  form.SetHandle(7);  // no subclass any more
  EXPECT_EQ(fake->levels.size(), 2u);
}

TEST(DXSounds, LostBufferRestoresOnceAndNeverNests) {
  TDXForm form;
  TDXSound sound(&form);
  auto fake = std::make_shared<FakeSound>();
  auto buffer = std::make_shared<FakeBuffer>(nullptr, "primary");
  fake->nextBuffer = buffer;
  sound.Driver = [&] { return fake; };
  int restores = 0;
  sound.Initialize();
  sound.OnRestore = [&](TCustomDXSound& s) {
    ++restores;
    // A second loss reported from within the restore starts nothing.
    TWaveFormatEx f;
    MakePcmWaveFormat(f, 44100, 16, 2);
    s.Primary()->SetFormat(f);
    fake->lost();
  };
  buffer->setFormatResult = DSERR_BUFFERLOST;
  TWaveFormatEx f;
  MakePcmWaveFormat(f, 44100, 16, 2);
  sound.Primary()->SetFormat(f);
  EXPECT_EQ(restores, 1);
  EXPECT_EQ(sound.Primary()->DXResult(), DSERR_BUFFERLOST);
  // Another error result restores nothing.
  buffer->setFormatResult = DSERR_INVALIDPARAM;
  sound.Primary()->SetFormat(f);
  EXPECT_EQ(restores, 1);
}

TEST(DXSounds, DeviceLossReachesTheComponentOnce) {
  Rig rig;
  rig.sound.Initialize();
  rig.events.clear();
  rig.device.Lost();
  EXPECT_EQ(rig.events, std::vector<std::string>{"restore"});
  rig.sound.Finalize();
  rig.events.clear();
  rig.device.Lost();
  EXPECT_TRUE(rig.events.empty()) << "a finalised component hears nothing";
}

TEST(DXSounds, BufferListAndInterfaceBookkeeping) {
  std::vector<std::string> log;
  auto fake = std::make_shared<FakeSound>();
  {
    TDirectSound ds([&] { return fake; });
    auto& a = ds.NewBuffer();
    auto& b = ds.NewBuffer();
    auto& c = ds.NewBuffer();
    a.SetBufferInterface(std::make_shared<FakeBuffer>(&log, "a"));
    b.SetBufferInterface(std::make_shared<FakeBuffer>(&log, "b"));
    c.SetBufferInterface(std::make_shared<FakeBuffer>(&log, "c"));
    ds.FreeBuffer(&b);
    EXPECT_EQ(log, std::vector<std::string>{"release b"});
    EXPECT_EQ(ds.BufferCount(), 2u);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"release b", "release c", "release a"}));

  TDirectSound ds([&] { return fake; });
  auto& buf = ds.NewBuffer();
  EXPECT_EQ(TDirectSoundBuffer::GetIDirectSoundBuffer(&buf), nullptr);
  EXPECT_EQ(TDirectSoundBuffer::GetIDirectSoundBuffer(nullptr), nullptr);
  EXPECT_EQ(TDirectSound::GetIDirectSound(nullptr), nullptr);
  EXPECT_EQ(TDirectSound::GetIDirectSound(&ds), fake.get());
  try {
    buf.IBuffer();
    ADD_FAILURE();
  } catch (const EDirectSoundBufferError& e) {
    EXPECT_STREQ(e.what(), "IDirectSoundBuffer は作成されていません");
  }
  auto iface = std::make_shared<FakeBuffer>(nullptr, "x");
  buf.SetBufferInterface(iface);
  EXPECT_EQ(buf.FormatRecord().size(), sizeof(TWaveFormatEx));
  EXPECT_EQ(buf.Format().nSamplesPerSec, 22050u);
  const int reads = iface->formatReads;
  buf.SetBufferInterface(iface);  // the one already held: nothing changes
  EXPECT_EQ(iface->formatReads, reads);
  EXPECT_EQ(buf.FormatRecord().size(), sizeof(TWaveFormatEx));

  // A size query that fails, or answers a size no format has, keeps no record.
  for (auto [result, size] :
       {std::pair{DSERR_INVALIDPARAM, 18u}, std::pair{DS_OK, 3u}, std::pair{DS_OK, 0x7FFFFFFFu}}) {
    auto odd = std::make_shared<FakeBuffer>(nullptr, "odd");
    odd->sizeQueryResult = result;
    odd->formatSize = size;
    buf.SetBufferInterface(odd);
    EXPECT_TRUE(buf.FormatRecord().empty()) << size;
  }

  // A failed CreateBuffer leaves neither interface nor format.
  fake->createResult = DSERR_INVALIDPARAM;
  TDSBufferDesc desc;
  desc.dwFlags = 9;
  EXPECT_FALSE(buf.CreateBuffer(desc));
  EXPECT_EQ(TDirectSoundBuffer::GetIDirectSoundBuffer(&buf), nullptr);
  EXPECT_TRUE(buf.FormatRecord().empty());
  EXPECT_EQ(buf.DXResult(), DSERR_INVALIDPARAM);
  EXPECT_EQ(ds.DXResult(), DSERR_INVALIDPARAM);
}

}  // namespace
}  // namespace zirk
