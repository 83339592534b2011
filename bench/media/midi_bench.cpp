// The first second of a MIDI file whose notes all start at once, played on
// the synthesizer into a manual sound device: 100 timer steps of 10 ms, each
// followed by 10 ms of rendering. A step holds the player's lock, so the
// longest step is how long the main thread may wait for the position: the
// cost of as many messages as one step sends at most.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "media/MidiPlayV.h"
#include "platform/audio.h"
#include "platform/clock.h"

namespace {

std::vector<uint8_t> notesAtOnce(int64_t notes) {
  std::vector<uint8_t> track = {0x00, 0x90, 60, 100};
  for (int64_t i = 1; i < notes; ++i) track.insert(track.end(), {0x00, uint8_t(36 + i % 60), 100});
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0,  0,   0,   6,   0,
                               0,   0,   1,   0,   96, 'M', 'T', 'r', 'k'};
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(track.size() >> shift));
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

void DenseMidiFirstSecond(benchmark::State& state) {
  namespace platform = zirk::platform;
  if (platform::DefaultSoundFont().empty()) return state.SkipWithError("no GM soundfont");
  platform::ManualClock clock(0);
  platform::SetClock(&clock);
  platform::AudioDevice device;  // outlives the synthesizer that renders into it
  device.Open(platform::AudioBackend::Manual);
  zirk::TMidiPlayV player(false);
  player.SetAudioOutput(&device);
  zirk::TKwMemoryStream stream(notesAtOnce(state.range(0)));
  player.LoadFromStream(stream);
  if (!player.OpenDevice(platform::MIDI_MAPPER)) return state.SkipWithError("no synthesizer");
  std::vector<int16_t> buffer(441 * 2);
  double longest = 0;
  for (auto _ : state) {
    player.Seek(0, 0, -1);
    for (int step = 0; step < 100; ++step) {
      clock.Advance(10);
      const auto start = std::chrono::steady_clock::now();
      player.Timer().Tick();
      const std::chrono::duration<double, std::milli> took =
          std::chrono::steady_clock::now() - start;
      longest = std::max(longest, took.count());
      device.Render(buffer.data(), 441);
    }
  }
  state.counters["longest_step_ms"] = longest;
  player.CloseDevice();
  platform::SetClock(nullptr);
}
BENCHMARK(DenseMidiFirstSecond)
    ->Name("DenseMidiFirstSecond/notes")
    ->Arg(100000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
