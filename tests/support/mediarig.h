#pragma once
// The media managers as the player makes them, over the real media library,
// a manual sound device, a manual clock, a recording MIDI port and, when
// asked, a CD image: nothing runs on its own, Run() moves everything on.

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "media/dxclass.h"
#include "media/dxsounds.h"
#include "media/mediaman.h"
#include "platform/audio.h"
#include "platform/clock.h"
#include "platform/midiout.h"
#include "platform/mixerdev.h"
#include "support/testdata.h"

namespace zirk {
class TWavOut;
}

namespace zirk::test {

struct MediaRigOptions {
  bool UseDirectSound = true;
  // CD drives (".cue" images).
  std::vector<std::string> CdDrives;
  // The game folder the managers read from.
  std::filesystem::path GameFolder = dataPath("");
  // The mixer the CD line is found in; null for the process's.
  platform::MixerDevices* Mixer = nullptr;
};

class MediaRig {
 public:
  explicit MediaRig(MediaRigOptions options = {});
  ~MediaRig();
  MediaRig(const MediaRig&) = delete;
  MediaRig& operator=(const MediaRig&) = delete;

  // Moves the clock, the library, the wave mixer, the MIDI player and the
  // sound device on by `ms` in 10 ms steps. The peak sample heard is kept.
  void Run(uint32_t ms);
  int Peak() const { return peak_; }

  platform::ManualClock clock{1000};
  platform::AudioDevice device;
  std::shared_ptr<platform::MidiRecording> midiLog = std::make_shared<platform::MidiRecording>();
  // The MIDI ports the recording opener was asked for.
  std::vector<int32_t> openedPorts;

 private:
  TDXForm form_;
  std::unique_ptr<TDXSound> sound_;
  std::unique_ptr<TVrFileManager> files_;
  std::atomic<bool> terminated_{false};
  uintptr_t window_ = 0, panel_ = 0;
  int peak_ = 0;
};

}  // namespace zirk::test
