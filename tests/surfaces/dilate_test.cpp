// The border pen: the fast row-by-row growth must equal the pen's definition.

#include "surfaces/dilate.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zirk {
namespace {

struct Plane {
  int32_t width, height;
  std::vector<uint8_t> bytes;
  Plane(int32_t w, int32_t h) : width(w), height(h), bytes(size_t(w) * h) {}
  platform::PixelBuffer Buffer() {
    platform::PixelBuffer b;
    b.bits = bytes.data();
    b.pitch = width;
    b.width = width;
    b.height = height;
    b.bitCount = 8;
    return b;
  }
  uint8_t At(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return bytes[size_t(y) * width + x];
  }
};

TEST(Dilate, EqualsTheHighestCoverageUnderARoundPen) {
  std::mt19937 random(7);
  struct Case {
    int32_t width, height, radius;
    int sparseness;  // one pixel in this many carries coverage
  } cases[] = {{1, 1, 0, 1},    {1, 9, 3, 2},    {9, 1, 3, 2},      {23, 17, 1, 20},
               {23, 17, 2, 30}, {40, 31, 5, 60}, {64, 48, 16, 400}, {5, 5, 16, 10},
               {67, 9, 2, 1},   {90, 12, 3, 150}};
  for (const Case& c : cases) {
    Plane src(c.width, c.height), dst(c.width, c.height);
    for (auto& v : src.bytes)
      v = random() % c.sparseness == 0 ? uint8_t(random() % 256) : uint8_t{0};
    std::fill(dst.bytes.begin(), dst.bytes.end(), uint8_t{99});  // stale picture
    DilateCoverage(src.Buffer(), dst.Buffer(), c.radius);
    const int32_t r = c.radius;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) {
        uint8_t want = 0;
        for (int32_t dy = -r; dy <= r; ++dy)
          for (int32_t dx = -r; dx <= r; ++dx)
            if (dx * dx + dy * dy <= r * (r + 1)) want = std::max(want, src.At(x + dx, y + dy));
        ASSERT_EQ(dst.At(x, y), want)
            << c.width << "x" << c.height << " r" << r << " at " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace zirk
