// MIDI: a dense file played on the synthesizer, and a MIDI item's length.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "media/MidiPlayV.h"
#include "media/midiman.h"
#include "platform/audio.h"
#include "platform/clock.h"

namespace {

// The track ends `endTick` ticks after the notes.
std::vector<uint8_t> notesAtOnce(int64_t notes, uint8_t endTick = 0) {
  std::vector<uint8_t> track = {0x00, 0x90, 60, 100};
  for (int64_t i = 1; i < notes; ++i) track.insert(track.end(), {0x00, uint8_t(36 + i % 60), 100});
  track.insert(track.end(), {endTick, 0xFF, 0x2F, 0x00});
  std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0,  0,   0,   6,   0,
                               0,   0,   1,   0,   96, 'M', 'T', 'r', 'k'};
  for (int shift = 24; shift >= 0; shift -= 8) file.push_back(uint8_t(track.size() >> shift));
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

// The first second of a MIDI file whose notes all start at once, played on
// the synthesizer into a manual sound device: 100 timer steps of 10 ms, each
// followed by 10 ms of rendering. A step holds the player's lock, so the
// longest step is how long the main thread may wait for the position: the
// cost of as many messages as one step sends at most.
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

// The length of a piece of 100,000 notes at once (0 ms) and of the same
// piece ending a tick later, asked as a film's sound track asks on every tick.
void MidiItemLength(benchmark::State& state) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("zirk-bench-" + std::to_string(::getpid()) + ".mid");
  {
    const auto bytes = notesAtOnce(100000, static_cast<uint8_t>(state.range(0)));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  zirk::TMediaConfig config;
  config.MakeMidiPlayer = [] { return std::make_unique<zirk::TMidiPlayV>(false); };
  zirk::TMidiManager manager(config);
  zirk::TMidiItem* item = manager.Add(path.string());
  for (auto _ : state) benchmark::DoNotOptimize(item->GetLen());
  std::filesystem::remove(path);
}
BENCHMARK(MidiItemLength)
    ->Name("MidiItemLength/end_tick")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
