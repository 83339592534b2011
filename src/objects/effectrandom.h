#pragma once
// The random numbers of the fire and particle effects: a Mersenne twister
// turned into integers and reals by fixed arithmetic (not the standard
// distributions, whose algorithms differ between libraries), so a seeded
// effect replays the same way everywhere. Effects seed it with their
// object's serial number, so a game played the same way looks the same.

#include <cstdint>
#include <random>

namespace zirk {

class TEffectRandom {
 public:
  explicit TEffectRandom(uint32_t seed) : engine_(seed) {}

  void Seed(uint32_t seed) { engine_.seed(seed); }
  // Uniform 0..k-1; a range that is empty (k <= 0) gives 0.
  int32_t Int(int32_t k) {
    if (k <= 0) return 0;
    return static_cast<int32_t>((uint64_t(engine_()) * uint32_t(k)) >> 32);
  }
  // Uniform in [0, 1), 53 bits.
  double Real() {
    const uint64_t hi = engine_() >> 5, lo = engine_() >> 6;
    return double((hi << 26) | lo) * (1.0 / 9007199254740992.0);
  }

 private:
  std::mt19937 engine_;
};

}  // namespace zirk
