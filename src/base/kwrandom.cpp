#include "base/kwrandom.h"

#include <cstddef>

namespace zirk {

void TKwRandom::KwRandomDeal(int32_t n) {
  deck_.clear();
  if (n <= 0) return;
  deck_.reserve(static_cast<std::size_t>(n));
  for (int32_t i = 0; i < n; ++i) deck_.push_back(i);
}

int32_t TKwRandom::KwRandomDraw() {
  if (deck_.empty()) return -1;
  x_ = 5u * x_ + c_;
  std::size_t index = x_ % static_cast<uint32_t>(deck_.size());
  int32_t card = deck_[index];
  deck_.erase(deck_.begin() + static_cast<std::ptrdiff_t>(index));
  return card;
}

}  // namespace zirk
