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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::platform::ManualClock clock(0);
  zirk::platform::SetClock(&clock);
  {
    auto log = std::make_shared<zirk::platform::MidiRecording>();
    zirk::TMidiPlayV player(false);
    player.SetPortOpener([log](std::unique_ptr<zirk::platform::MidiOutPort>& port, int32_t) {
      port = std::make_unique<zirk::platform::RecordingMidiPort>(log);
      return zirk::platform::MMSYSERR_NOERROR;
    });
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
  zirk::platform::SetClock(nullptr);
  return 0;
}
