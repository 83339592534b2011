#include "surfaces/dilate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace zirk {

namespace {

// Half-width of the pen's row at vertical distance d from its centre.
int32_t penHalfWidth(int32_t radius, int32_t d) {
  const int64_t limit = int64_t{radius} * (radius + 1) - int64_t{d} * d;
  auto w = static_cast<int64_t>(std::sqrt(static_cast<double>(limit)));
  while (w * w > limit) --w;
  while ((w + 1) * (w + 1) <= limit) ++w;
  return static_cast<int32_t>(w);
}

inline uint8_t max2(uint8_t a, uint8_t b) {
  return a > b ? a : b;
}

// Eight lanes at once in plain 64-bit arithmetic: these loops run some fifty
// times per pixel of a bordered caption, and a word step is one load and one
// memory check where bytes would be eight in any build.
inline uint64_t maxLanes(uint64_t a, uint64_t b) {
  constexpr uint64_t kHigh = 0x8080808080808080u, kLow = 0x7F7F7F7F7F7F7F7Fu;
  // A lane's top bit: its low seven bits of a are >= those of b (no lane
  // borrows from the next: each difference is at least 1).
  const uint64_t low = (a | kHigh) - (b & kLow);
  const uint64_t ge = ((a & ~b) | (~(a ^ b) & low)) & kHigh;
  const uint64_t pick = (ge >> 7) * 0xFF;
  return (a & pick) | (b & ~pick);
}

inline uint64_t load(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void store(uint8_t* p, uint64_t v) {
  std::memcpy(p, &v, sizeof v);
}

void maxInto(uint8_t* dst, const uint8_t* src, int32_t n) {
  int32_t x = 0;
  for (; x + 8 <= n; x += 8) store(dst + x, maxLanes(load(dst + x), load(src + x)));
  for (; x < n; ++x) dst[x] = max2(dst[x], src[x]);
}

// out[x] := max(in[x - 1], in[x], in[x + 1]): one more pixel of half-width.
void widenRow(const uint8_t* in, uint8_t* out, int32_t n) {
  if (n == 1) {
    out[0] = in[0];
    return;
  }
  out[0] = max2(in[0], in[1]);
  int32_t x = 1;
  for (; x + 9 <= n; x += 8)
    store(out + x, maxLanes(maxLanes(load(in + x - 1), load(in + x)), load(in + x + 1)));
  for (; x + 1 < n; ++x) out[x] = max2(max2(in[x - 1], in[x]), in[x + 1]);
  out[n - 1] = max2(in[n - 2], in[n - 1]);
}

}  // namespace

void DilateCoverage(const platform::PixelBuffer& src, const platform::PixelBuffer& dst,
                    int32_t radius) {
  const int32_t w = std::min(src.width, dst.width), h = std::min(src.height, dst.height);
  if (src.empty() || dst.empty() || w <= 0 || h <= 0) return;
  for (int32_t y = 0; y < h; ++y) std::memset(dst.row(y), 0, static_cast<size_t>(w));
  const int32_t r = std::max(radius, 0);

  // Rows of the pen sorted by half-width: distance d is used at halfWidth[d].
  std::vector<int32_t> halfWidth(static_cast<size_t>(r) + 1);
  for (int32_t d = 0; d <= r; ++d) halfWidth[static_cast<size_t>(d)] = penHalfWidth(r, d);

  // Each source row is widened step by step; at each half-width it is merged
  // into the output rows at the distances whose pen row is that wide. Only
  // the span the row's coverage can reach is touched: blank rows (the gaps
  // between lines) cost one scan, and outside the span every value is 0, so
  // the span's ends may stand for the picture's.
  std::vector<uint8_t> a(static_cast<size_t>(w)), b(static_cast<size_t>(w));
  for (int32_t sy = 0; sy < h; ++sy) {
    const uint8_t* row = src.row(sy);
    int32_t first = 0, last = w - 1;
    while (first < w && row[first] == 0) ++first;
    if (first == w) continue;
    while (row[last] == 0) --last;
    const int32_t left = std::max(0, first - r);
    const int32_t n = std::min(w - 1, last + r) - left + 1;
    std::memcpy(a.data(), row + left, static_cast<size_t>(n));
    int32_t width = 0;
    for (int32_t d = r; d >= 0; --d) {
      const int32_t want = halfWidth[static_cast<size_t>(d)];
      for (; width < want && width < n; ++width) {
        widenRow(a.data(), b.data(), n);
        a.swap(b);
      }
      if (sy - d >= 0) maxInto(dst.row(sy - d) + left, a.data(), n);
      if (d > 0 && sy + d < h) maxInto(dst.row(sy + d) + left, a.data(), n);
    }
  }
}

}  // namespace zirk
