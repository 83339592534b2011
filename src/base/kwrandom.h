#pragma once
// The deterministic generator behind the row and tile permutations of the
// layered image format: a linear congruence x := 5x + c drawing cards from a
// deck. The same increment must always give the same permutation, so the
// arithmetic is fixed at 32 bits with wrap-around.

#include <cstdint>
#include <vector>

namespace zirk {

class TKwRandom {
 public:
  explicit TKwRandom(uint32_t increment) : c_(increment) {}

  // Empties the deck and fills it with 0..n-1 (nothing for n <= 0).
  void KwRandomDeal(int32_t n);
  // Advances x, removes the deck entry at x mod (deck count) and returns it.
  // An empty deck has nothing to give: -1, and x stays as it was.
  int32_t KwRandomDraw();
  int32_t DeckCount() const { return static_cast<int32_t>(deck_.size()); }

 private:
  uint32_t c_;
  uint32_t x_ = 0;
  std::vector<int32_t> deck_;
};

}  // namespace zirk
