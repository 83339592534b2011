// Eight voices of 16-bit stereo PCM at 44100 Hz summed into one second of
// output: through the wave mixer (stream reads, volume, saturating add, in
// blocks of 500 ms) and through SDL_MixAudioFormat over the same samples
// already in memory. At unity gain both must give the same bytes.

#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "media/wavouts.h"
#include "platform/audio.h"

namespace {

constexpr int kVoices = 8;
constexpr size_t kSecondBytes = 176400;
constexpr int32_t kDelay = 500;

// One second per voice: louder voices so that the sum saturates often.
const std::vector<std::vector<uint8_t>>& voiceData() {
  static const std::vector<std::vector<uint8_t>> data = [] {
    std::vector<std::vector<uint8_t>> voices;
    for (int v = 0; v < kVoices; ++v) {
      std::vector<int16_t> samples(kSecondBytes / 2);
      for (size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i / 2) / 44100.0;
        samples[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * (220 + 110 * v) * t));
      }
      std::vector<uint8_t> bytes(kSecondBytes);
      std::memcpy(bytes.data(), samples.data(), kSecondBytes);
      voices.push_back(std::move(bytes));
    }
    return voices;
  }();
  return data;
}

struct Mixer {
  zirk::platform::AudioDevice device;
  std::atomic<bool> terminated{false};
  std::unique_ptr<zirk::TWavOut> out;
  std::vector<std::unique_ptr<zirk::TKwMemoryStream>> streams;

  explicit Mixer(int32_t volume) {
    device.Open(zirk::platform::AudioBackend::Manual);
    out = std::make_unique<zirk::TWavOut>(kDelay, terminated, &device);
    out->SetUseThread(false);
    out->Open();
    zirk::TWaveFormatEx format;
    zirk::MakePcmWaveFormat(format, 44100, 16, 2);
    for (const auto& bytes : voiceData()) {
      streams.push_back(std::make_unique<zirk::TKwMemoryStream>(bytes));
      zirk::TWavBuffer* voice = out->Add(streams.back().get(), format);
      voice->SetLoop(true);
      voice->SetVolume(volume);
      voice->Play();
    }
  }

  // One second of output in blocks.
  void second(uint8_t* dest) {
    const size_t block = out->BlockSize();
    for (size_t at = 0; at + block <= kSecondBytes; at += block) out->MixBlock(dest + at);
  }
};

void sdlSecond(uint8_t* dest, int volume) {
  std::memset(dest, 0, kSecondBytes);
  for (const auto& bytes : voiceData()) {
    SDL_MixAudioFormat(dest, bytes.data(), AUDIO_S16LSB, kSecondBytes, volume);
  }
}

void mixZirk(benchmark::State& state, int32_t volume) {
  Mixer mixer(volume);
  std::vector<uint8_t> output(kSecondBytes);
  for (auto _ : state) {
    mixer.second(output.data());
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kVoices * kSecondBytes);
  if (volume >= 255) {
    // The oracle: the mixer's sum at unity equals SDL's at full volume.
    Mixer fresh(volume);
    std::vector<uint8_t> ours(kSecondBytes), theirs(kSecondBytes);
    fresh.second(ours.data());
    sdlSecond(theirs.data(), SDL_MIX_MAXVOLUME);
    state.counters["identical_to_sdl"] = ours == theirs ? 1 : 0;
  }
}

void mixSdl(benchmark::State& state, int volume) {
  std::vector<uint8_t> output(kSecondBytes);
  for (auto _ : state) {
    sdlSecond(output.data(), volume);
    benchmark::DoNotOptimize(output.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kVoices * kSecondBytes);
}

void Mix8Voices_zirk(benchmark::State& state) {
  mixZirk(state, 256);
}
void Mix8Voices_sdl(benchmark::State& state) {
  mixSdl(state, SDL_MIX_MAXVOLUME);
}
void Mix8VoicesHalfVolume_zirk(benchmark::State& state) {
  mixZirk(state, 128);
}
void Mix8VoicesHalfVolume_sdl(benchmark::State& state) {
  mixSdl(state, SDL_MIX_MAXVOLUME / 2);
}

}  // namespace

BENCHMARK(Mix8Voices_zirk)->Name("Mix8Voices/zirk")->Unit(benchmark::kMicrosecond);
BENCHMARK(Mix8Voices_sdl)->Name("Mix8Voices/sdl")->Unit(benchmark::kMicrosecond);
BENCHMARK(Mix8VoicesHalfVolume_zirk)
    ->Name("Mix8VoicesHalfVolume/zirk")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(Mix8VoicesHalfVolume_sdl)
    ->Name("Mix8VoicesHalfVolume/sdl")
    ->Unit(benchmark::kMicrosecond);
