// The MIDI file model and the player over it: any input loads or loads
// nothing, and playing, seeking and repeating over what was loaded stay in
// bounds and end.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "media/MidiPlayV.h"
#include "platform/clock.h"
#include "platform/midiout.h"

namespace {

// One player for the run: making one lists the output devices, which asks
// the sound system and costs more than playing a small file. Loading a file
// stops the player and rewinds it; the device is opened and closed per input.
struct Stage {
  zirk::platform::ManualClock clock{0};
  std::shared_ptr<zirk::platform::MidiRecording> log =
      std::make_shared<zirk::platform::MidiRecording>();
  std::unique_ptr<zirk::TMidiPlayV> player;
  Stage() {
    zirk::platform::SetClock(&clock);
    player = std::make_unique<zirk::TMidiPlayV>(false);
    // Beats are made up to the end of the longest track whatever the file
    // holds; a few thousand take every path a million do.
    player->BeatLimit = 4096;
    player->SetPortOpener([log = log](std::unique_ptr<zirk::platform::MidiOutPort>& port, int32_t) {
      port = std::make_unique<zirk::platform::RecordingMidiPort>(log);
      return zirk::platform::MMSYSERR_NOERROR;
    });
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Stage stage;
  zirk::platform::ManualClock& clock = stage.clock;
  {
    zirk::TMidiPlayV& player = *stage.player;
    stage.log->Clear();
    zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
    player.LoadFromStream(stream);
    size_t textBytes = 0;
    for (const auto& event : player.Events()) textBytes += event.Text().size();
    player.OpenDevice(zirk::platform::MIDI_MAPPER);
    player.SetRepeat(size % 2 == 0);
    player.Seek(0, 0, -1);
    for (int step = 0; step < 40; ++step) {
      clock.Advance(step % 7 == 0 ? 5000 : 70);
      player.Timer().Tick();
    }
    player.Seek(0, 1, 1);
    player.Seek(player.LongestTick() / 2 + 1, 0, -1);
    player.Seek(0, player.TotalLength() / 3, -1);
    player.SetControllerScale(7, 150);
    player.SendGMReset();
    player.Timer().Tick();
    player.CloseDevice();
    if (textBytes == 1) return 1;  // keeps the text formatting from being optimised away
  }
  return 0;
}
