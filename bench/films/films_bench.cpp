// The tick of a film with many tracks, as the main loop runs it: the film
// set to the tick, the scene ticked and painted. `Boxes/N` plays N
// one-pixel box tracks side by side, `Chain/N` one chain of N box tracks
// where each continues its parent. Each is measured at N and 10 N: a tick
// linear in the tracks costs about ten times as much at 10 N, while
// lookups that scan every track for every track made it a hundred. The
// time is that of one tick. `SoundChain/N` is a chain of N sound tracks,
// which play on the sound of the chain's first track; `LaterSounds/N`
// plays the first five seconds of N sound tracks that start after them,
// and counts the sound objects open meanwhile (each holds its file open
// and decoding once the media play it).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "objects/frms.h"
#include "objects/sound.h"
#include "objects/tracks.h"
#include "scene/zscene.h"
#include "support/filmwriter.h"

namespace zirk {
namespace {

constexpr int32_t kW = 640, kH = 480;
constexpr int32_t kTicks = 120;

test::FilmTrack onePixelBox(int32_t index, int32_t parent, int32_t start, int32_t length) {
  test::FilmTrack t;
  t.type = 2;
  t.parent = parent;
  t.start = start;
  t.length = length;
  t.positionFrom = t.positionTo = {index % kW, index / kW % kH};
  t.widthFrom = t.widthTo = t.heightFrom = t.heightTo = 1;
  t.colorFrom = t.colorTo = 0x00FF00;
  return t;
}

// A scene playing one film read from memory.
struct Stage {
  TZirkBaseList scene{kW, kH};
  TFilmManager film;  // after the scene: it goes first and takes its objects along
  int32_t time = 0;

  explicit Stage(const test::FilmFile& file) {
    static const bool registered = (RegisterFilmTracks(), true);
    (void)registered;
    scene.SetPresenter([](TCustomDIBX&, const std::vector<TRect>&) {});
    const std::string bytes = test::WriteFilmFile(file);
    TKwMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    film.Owner = &scene;
    film.ReadFilm(stream, "many.zcn");
  }
  void tick() {
    film.SetFilmTime(time);
    time = (time + 1) % film.Length;
    scene.TickObjects();
    scene.Paint();
  }
};

void run(benchmark::State& state, const test::FilmFile& file) {
  Stage stage(file);
  for (auto _ : state) stage.tick();
  state.counters["objects"] = stage.scene.ObjectCount();
}

void Boxes(benchmark::State& state) {
  test::FilmFile file;
  for (int32_t k = 0; k < state.range(0); ++k) file.tracks.push_back(onePixelBox(k, -1, 0, kTicks));
  run(state, file);
}

void Chain(benchmark::State& state) {
  test::FilmFile file;
  for (int32_t k = 0; k < state.range(0); ++k) file.tracks.push_back(onePixelBox(k, k - 1, 0, 1));
  run(state, file);
}

void SoundChain(benchmark::State& state) {
  test::FilmFile file;
  for (int32_t k = 0; k < state.range(0); ++k) {
    test::FilmTrack t = test::SoundTrack({"music.ogg"}, 0, 1);
    t.parent = k - 1;
    file.tracks.push_back(t);
  }
  run(state, file);
}

void LaterSounds(benchmark::State& state) {
  test::FilmFile file;
  for (int32_t k = 0; k < state.range(0); ++k)
    file.tracks.push_back(test::SoundTrack({"music.ogg"}, 600, 60));
  Stage stage(file);
  int32_t time = 0;
  for (auto _ : state) {
    stage.film.SetFilmTime(time);
    time = (time + 1) % 300;
    stage.scene.TickObjects();
  }
  int32_t sounds = 0;
  for (TZirkObject* o : stage.scene.Objects()) sounds += dynamic_cast<TZirkSound*>(o) != nullptr;
  state.counters["sounds"] = sounds;
}

BENCHMARK(Boxes)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(Chain)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(SoundChain)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(LaterSounds)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zirk
