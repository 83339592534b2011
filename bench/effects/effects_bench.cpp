// A 640 x 480 fire and an emitter keeping about 400 particles alive, each
// ticked and painted in a 640 x 480 scene as the main loop does it, alone
// and together. The peer of every figure is the frame budget at 60 frames
// a second: `frame_ms` is the mean time of one frame and `budget_share`
// that time over 16.7 ms (below 1 fits). `FireStep` is the simulation
// step alone, `particles` the mean count alive.
// `ZeroDelay/N` runs 600 ticks of an emitter spawning every 10 ms whose
// 1 x 1 picture has N frames of delay 0 (each shown for 1 ms): the frames
// stepped in a tick must cost no more than one frame change; N = 1 is the
// still picture it is compared with. The time is that of the 600 ticks.

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

#include "base/vrfiles.h"
#include "objects/dorvcache.h"
#include "objects/fire.h"
#include "objects/particle.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "support/picturewriter.h"
#include "support/tempdir.h"

namespace zirk {
namespace {

constexpr double kBudgetMs = 1000.0 / 60.0;
constexpr int32_t kW = 640, kH = 480;

// An 8 x 8 disc on a colour key.
test::TestFrame spark() {
  test::TestFrame f{8, 8};
  constexpr uint32_t kKey = 0xFF00FF;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int dx = 2 * x - 7, dy = 2 * y - 7;
      f.Colors.push_back(dx * dx + dy * dy <= 64 ? 0x60D0FF : kKey);
    }
  f.Transparent = static_cast<int32_t>(kKey);
  return f;
}

class Stage {
 public:
  Stage(bool fire, bool particles) : files_(folder_.path().string()) {
    TVrFileManager::SetGlobal(&files_);
    SetImageCache(&cache_);
    test::WritePicture(folder_ / "spark.dor", {spark()});
    files_.InvalidateCache();
    scene.SetColor(0x101010);
    GameTime().ElapsedTime = 16;
    if (fire) {
      auto* f = scene.Create<TZirkFire>(nullptr, "fire");
      f->Random().Seed(1);
      f->SetPropInt(PR_ORIGWIDTH, kW);
      f->SetPropInt(PR_ORIGHEIGHT, kH);
      f->SetPropInt(PR_ZOOMX, 256);
      f->SetPropInt(PR_ZOOMY, 256);
      f->SetPropInt(PR_POWER, 200);
      fire_ = f;
    }
    if (particles) {
      auto* e = scene.Create<TZirkParticle>(nullptr, "snow");
      e->Random().Seed(1);
      e->SetBounds(0, 0, kW, kH);
      e->SetPropStr(PR_SOURCE, "spark.dor");
      e->SetPropFloat(PR_PARAM1, 2.0L);  // falls 2 pixels a frame: 240 frames
      e->SetPropFloat(PR_PARAM2, 8.0L);
      e->SetPropFloat(PR_PARAM3, 24.0L);
      // One every 9.6 ms on average: 400 alive over 240 frames of 16 ms.
      e->SetParam(TZirkParticleParam{0, -4, kW, 0, 9, 2});
      e->SetPropInt(PR_INDEX, 5000);  // starts full
      e->SetPropInt(PR_PARTMOTION, PM_SNOW);
      emitter_ = e;
    }
    // The fire's first tick builds it; both settle before measuring.
    for (int i = 0; i < 30; ++i) Frame();
  }
  ~Stage() {
    scene.ClearObjects();
    SetImageCache(nullptr);
    TVrFileManager::SetGlobal(nullptr);
  }

  void Frame() {
    // The fire steps every 40 ms; frames of 40 ms make it step every one.
    GameTime().ElapsedTime = fire_ ? 40 : 16;
    scene.TickObjects();
    scene.Paint();
  }
  size_t Particles() const { return emitter_ ? emitter_->Particles().size() : 0; }
  TZirkFire* Fire() { return fire_; }

  TZirkBaseList scene{kW, kH};

 private:
  test::TempDir folder_;
  TVrFileManager files_;
  TDorvCollection cache_;
  TZirkFire* fire_ = nullptr;
  TZirkParticle* emitter_ = nullptr;
};

void report(benchmark::State& state, double seconds, double particles) {
  const double ms = seconds * 1000.0 / double(state.iterations());
  state.counters["frame_ms"] = ms;
  state.counters["budget_share"] = ms / kBudgetMs;
  if (particles > 0) state.counters["particles"] = particles / double(state.iterations());
}

void runFrames(benchmark::State& state, bool fire, bool particles) {
  Stage stage(fire, particles);
  double seconds = 0, alive = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    stage.Frame();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    alive += double(stage.Particles());
  }
  report(state, seconds, alive);
}

void Fire640x480(benchmark::State& state) {
  runFrames(state, true, false);
}
void Particles400(benchmark::State& state) {
  runFrames(state, false, true);
}
void FireAndParticles(benchmark::State& state) {
  runFrames(state, true, true);
}

void FireStep(benchmark::State& state) {
  Stage stage(true, false);
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    stage.Fire()->Step();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  report(state, seconds, 0);
}

// An emitter in a 640 x 480 scene spawning a snow particle every 10 ms,
// each falling 2 pixels a frame, with a picture of `frames` 1 x 1 frames
// of delay 0.
void ZeroDelay(benchmark::State& state) {
  test::TempDir folder;
  TVrFileManager files(folder.path().string());
  TVrFileManager::SetGlobal(&files);
  TDorvCollection cache;
  SetImageCache(&cache);
  std::vector<test::TestFrame> frames(size_t(state.range(0)));
  for (size_t k = 0; k < frames.size(); ++k) {
    frames[k].Fill = 0x10 * uint32_t(k);
    frames[k].Delay = 0;
  }
  test::WritePicture(folder / "dots.dor", frames);
  files.InvalidateCache();
  double seconds = 0, alive = 0;
  for (auto _ : state) {
    TZirkBaseList scene{kW, kH};
    auto* e = scene.Create<TZirkParticle>(nullptr, "dots");
    e->Random().Seed(1);
    e->SetBounds(0, 0, kW, kH);
    e->SetPropStr(PR_SOURCE, "dots.dor");
    e->SetPropFloat(PR_PARAM1, 2.0L);
    e->SetParam(TZirkParticleParam{0, 0, kW, 0, 10, 0});
    e->SetPropInt(PR_PARTMOTION, PM_SNOW);
    GameTime().ElapsedTime = 16;
    const auto t0 = std::chrono::steady_clock::now();
    for (int tick = 0; tick < 600; ++tick) {
      scene.TickObjects();
      scene.Paint();
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    alive += double(e->Particles().size());
    scene.ClearObjects();
  }
  SetImageCache(nullptr);
  TVrFileManager::SetGlobal(nullptr);
  state.counters["ticks_s"] = seconds / double(state.iterations());
  state.counters["particles"] = alive / double(state.iterations());
}

BENCHMARK(Fire640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(Particles400)->Unit(benchmark::kMillisecond);
BENCHMARK(FireAndParticles)->Unit(benchmark::kMillisecond);
BENCHMARK(FireStep)->Unit(benchmark::kMillisecond);
BENCHMARK(ZeroDelay)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zirk
