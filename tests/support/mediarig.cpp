#include "support/mediarig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "media/Cdp.h"
#include "media/MidiPlayV.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media/wavouts.h"
#include "media/zirkdll.h"

namespace zirk::test {

MediaRig::MediaRig(MediaRigOptions options) {
  platform::SetClock(&clock);
  EXPECT_EQ(device.Open(platform::AudioBackend::Manual), platform::AudioBackend::Manual);
  EXPECT_EQ(LoadMediaDll(ZIRK_MEDIALIB_DIR), TMediaDllStatus::mdsOk);
  files_ = std::make_unique<TVrFileManager>(options.GameFolder.string());
  TVrFileManager::SetGlobal(files_.get());
  sound_ = std::make_unique<TDXSound>(&form_);
  sound_->AutoInitialize = false;
  sound_->Driver = [this] { return MakeDeviceDirectSound(device, platform::AudioBackend::Manual); };
  // As the window does at start-up with DirectSound on.
  if (options.UseDirectSound) sound_->Initialize();

  TMediaInitParams params;
  params.MainWindowHandle = &window_;
  params.MainPanelHandle = &panel_;
  TMediaConfig& config = params.Config;
  config.UseDirectSound = options.UseDirectSound;
  config.SoundDelayTime = 100;
  config.Terminated = &terminated_;
  config.WaveOutput = &device;
  config.WaveThread = false;
  config.SoundComponent = [this] { return sound_.get(); };
  config.MakeMidiPlayer = [this] {
    auto player = std::make_unique<TMidiPlayV>(false);
    player->SetPortOpener([this](std::unique_ptr<platform::MidiOutPort>& port, int32_t index) {
      openedPorts.push_back(index);
      port = std::make_unique<platform::RecordingMidiPort>(midiLog);
      return platform::MMSYSERR_NOERROR;
    });
    return player;
  };
  config.Mixer = options.Mixer;
  config.MakeCdPlayer = [drives = options.CdDrives, this] {
    return std::make_unique<TCDP>(drives, platform::CdAudioOutput{&device, nullptr}, false);
  };
  MediaInit(params);
  // No library thread: every service step is the test's.
  zirkOggmanSetUseThread(0);
}

MediaRig::~MediaRig() {
  MediaFinal();
  sound_.reset();
  FinalDll();
  if (TVrFileManager::Global() == files_.get()) TVrFileManager::SetGlobal(nullptr);
  platform::SetClock(nullptr);
}

void MediaRig::Run(uint32_t ms) {
  std::vector<int16_t> buffer(441 * 2);
  for (uint32_t done = 0; done < ms; done += 10) {
    clock.Advance(10);
    if (MidiMan) {
      if (TMidiPlayV* player = MidiMan->GetPlayer()) player->Timer().Tick();
    }
    if (OggMan && OggMan->WavOut().IsOpen()) OggMan->WavOut().Refill();
    zirkOggmanUpdate();
    device.Render(buffer.data(), 441);
    for (int16_t s : buffer) peak_ = std::max(peak_, std::abs(static_cast<int>(s)));
  }
}

}  // namespace zirk::test
