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
// `ReadChain/N` reads a film of a chain of N box tracks: linear, it too
// costs ten times as much at 10 N.
// `AtTheCap/0` ticks a film of the largest size (7680 x 4320) with 10
// translucent full-screen tiles and 10 emitters that spawn as fast as they
// may; `AtTheCap/1` adds a full-screen image, caption, box, fire and wipe.
// `peak_MB` is the process's peak resident size: run a case alone
// (--benchmark_filter) to read it for that case. `Emitters/N` ticks N full
// emitters in a 640 x 480 film: the film's budget holds their particles.
// `Captions/N` ticks 60 captions of the same 6,580 kanji at N heights: the
// film's budget holds some of them and refuses the rest; `outlines` counts
// the glyph outlines loaded per tick once the first tick is past.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "objects/dorvcache.h"
#include "objects/frms.h"
#include "objects/sound.h"
#include "objects/tracks.h"
#include "platform/fonts.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "support/filmwriter.h"
#include "support/picturewriter.h"
#include "support/sjistext.h"
#include "support/tempdir.h"

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

void registerTracks() {
  static const bool registered = (RegisterFilmTracks(), true);
  (void)registered;
}

// A scene playing one film read from memory.
struct Stage {
  TZirkBaseList scene;
  TFilmManager film;  // after the scene: it goes first and takes its objects along
  int32_t time = 0;

  explicit Stage(const test::FilmFile& file) : scene(file.width, file.height) {
    registerTracks();
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

void ReadChain(benchmark::State& state) {
  test::FilmFile file;
  for (int32_t k = 0; k < state.range(0); ++k) file.tracks.push_back(onePixelBox(k, k - 1, 0, 1));
  const std::string bytes = test::WriteFilmFile(file);
  registerTracks();
  for (auto _ : state) {
    TKwMemoryStream stream(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    TFilmManager film;
    film.ReadFilm(stream, "chain.zcn");
    benchmark::DoNotOptimize(film.Length);
  }
  state.counters["file_MB"] = double(bytes.size()) / 1e6;
}

// A film of `tiles` translucent tiles and `emitters` full emitters over
// the whole of a scene of its size, with a full-screen image, caption,
// box, fire and wipe as well when `allKinds`; its pictures in a folder of
// their own.
void playFullScreen(benchmark::State& state, int32_t width, int32_t height, int tiles, int emitters,
                    bool allKinds) {
  test::TempDir folder;
  TVrFileManager files(folder.path().string());
  TDorvCollection cache;
  TVrFileManager::SetGlobal(&files);
  SetImageCache(&cache);
  test::WritePicture(folder / "cell.dor", {test::TestFrame{64, 64, {}, 0x3080C0}});
  test::WritePicture(folder / "screen.dor", {test::TestFrame{width, height, {}, 0x203040}});
  files.InvalidateCache();
  GameTime().ElapsedTime = 16;

  test::FilmFile file{.width = width, .height = height};
  auto fullScreen = [&](uint8_t type) {
    test::FilmTrack t;
    t.type = type;
    t.length = kTicks;
    t.widthFrom = t.widthTo = width;
    t.heightFrom = t.heightTo = height;
    t.alphaFrom = t.alphaTo = 128;
    return t;
  };
  for (int k = 0; k < tiles; ++k) {
    test::FilmTrack tile = fullScreen(5);
    tile.source = "cell.dor";
    tile.scrollXTo = 64;
    file.tracks.push_back(tile);
  }
  for (int k = 0; k < emitters; ++k) {
    test::FilmTrack stars = fullScreen(6);
    stars.source = "cell.dor";
    stars.partMotion = 2;  // stars
    stars.intervalFrom = stars.intervalTo = 0;
    stars.param2From = stars.param2To = 1.0;
    stars.index = 5000;  // a pre-roll that fills the emitter at once
    file.tracks.push_back(stars);
  }
  if (allKinds) {
    test::FilmTrack image = fullScreen(0);
    image.source = "screen.dor";
    test::FilmTrack caption = fullScreen(1);
    caption.text = std::string(200, 'A');
    caption.fontHeight = 300;
    test::FilmTrack box = fullScreen(2);
    box.colorFrom = box.colorTo = 0x808080;
    test::FilmTrack wipe = test::FilmTrack{.type = 3, .length = kTicks, .start = kTicks / 2};
    file.tracks.insert(file.tracks.end(), {image, caption, box, fullScreen(7), wipe});
  }
  {
    Stage stage(file);
    // The emitters fill up before the ticks are measured.
    for (int k = 0; k < 10; ++k) stage.tick();
    for (auto _ : state) stage.tick();
    state.counters["objects"] = stage.scene.ObjectCount();
    state.counters["budget_left_MB"] = double(stage.film.Budget.Left()) / double(1 << 20);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
  SetImageCache(nullptr);
  TVrFileManager::SetGlobal(nullptr);
  GameTime() = {};
}

void AtTheCap(benchmark::State& state) {
  playFullScreen(state, kMaxFilmSide, int32_t(kMaxFilmPixels / kMaxFilmSide), 10, 10,
                 state.range(0) == 1);
}

void Emitters(benchmark::State& state) {
  playFullScreen(state, kW, kH, 0, int(state.range(0)), false);
}

void Captions(benchmark::State& state) {
  test::FilmFile file;
  const std::string text = test::KanjiText(6580);
  for (int32_t k = 0; k < 60; ++k) {
    test::FilmTrack t{.type = 1, .length = kTicks};
    t.text = text;
    t.fontName = "IPAGothic";
    t.fontHeight = 100 + k % int32_t(state.range(0));
    file.tracks.push_back(t);
  }
  Stage stage(file);
  stage.tick();
  const uint64_t before = platform::Fonts().OutlinesLoaded();
  for (auto _ : state) stage.tick();
  state.counters["objects"] = stage.scene.ObjectCount();
  state.counters["outlines"] = benchmark::Counter(
      double(platform::Fonts().OutlinesLoaded() - before), benchmark::Counter::kAvgIterations);
}

BENCHMARK(Boxes)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(Chain)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(SoundChain)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(LaterSounds)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadChain)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(Emitters)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(Captions)->Arg(1)->Arg(60)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(AtTheCap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
}  // namespace zirk
