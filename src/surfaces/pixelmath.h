#pragma once
// The arithmetic of every drawing operation, written down once. All blits,
// fills, stretches, tiles and rotations of the drawing surfaces reach the
// pixels through these functions; the golden tests pin them.
//
// Channels are 8 bits. Pixels are handled as 0x00RRGGBB (or with a byte on
// top that blends like a fourth channel).
//
// - Opacity blend, a in 0..255: out = round((s * a + d * (255 - a)) / 255),
//   halves rounded up; a = 255 gives s exactly, a = 0 gives d.
// - Mask and opacity: the effective opacity is round(m * a / 255), so a mask
//   value of 255 passes the opacity unchanged and 0 draws nothing.
// - Additive draw, level in 0..255: out = min(255, d + floor(s * level / 256)).
//   A mask scales the level as it scales an opacity.
// - Additive and subtractive fills: out = min(255, d + s), max(0, d - s).
// - Table draw: the table entry is added like an additive draw, with the
//   opacity as the level.
// - Nearest-pixel sampling: destination pixel i of n that shows m source
//   pixels takes source pixel floor((2i + 1) * m / (2n)), the one under its
//   centre; rotation samples floor(u + 1/2) of the exact inverse position.

#include <algorithm>
#include <cstdint>

namespace zirk::pixelmath {

// round(x / 255) with halves up, exact for 0 <= x <= 255 * 255 + 127.
constexpr uint32_t Div255(uint32_t x) {
  x += 128;
  return (x + (x >> 8)) >> 8;
}

constexpr uint32_t BlendChannel(uint32_t s, uint32_t d, uint32_t a) {
  return Div255(s * a + d * (255 - a));
}
constexpr uint32_t MaskedOpacity(uint32_t mask, uint32_t opacity) {
  return Div255(mask * opacity);
}
constexpr uint32_t AddChannel(uint32_t d, uint32_t s, uint32_t level) {
  return std::min<uint32_t>(255, d + ((s * level) >> 8));
}
constexpr uint32_t SatAddChannel(uint32_t d, uint32_t s) {
  return std::min<uint32_t>(255, d + s);
}
constexpr uint32_t SubChannel(uint32_t d, uint32_t s) {
  return d > s ? d - s : 0;
}

// The same on four packed channels at once (two 16-bit lanes per word).
constexpr uint32_t Blend32(uint32_t s, uint32_t d, uint32_t a) {
  const uint32_t na = 255 - a;
  uint32_t rb = (s & 0x00FF00FFu) * a + (d & 0x00FF00FFu) * na + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((s >> 8) & 0x00FF00FFu) * a + ((d >> 8) & 0x00FF00FFu) * na + 0x00800080u;
  ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
  return rb | ag;
}

// Lane-wise min(255, x + y) for words holding two 8-bit values in 16-bit lanes.
constexpr uint32_t SatAddLanes(uint32_t x, uint32_t y) {
  uint32_t sum = x + y;
  const uint32_t carry = sum & 0x01000100u;
  sum |= carry - (carry >> 8);
  return sum & 0x00FF00FFu;
}

// The packed forms below treat all four bytes alike, as Blend32 does; the
// top byte of display pixels is 0 and stays 0.
constexpr uint32_t SatAdd32(uint32_t d, uint32_t s) {
  const uint32_t rb = SatAddLanes(d & 0x00FF00FFu, s & 0x00FF00FFu);
  const uint32_t ag = SatAddLanes((d >> 8) & 0x00FF00FFu, (s >> 8) & 0x00FF00FFu);
  return rb | (ag << 8);
}

// floor(channel * level / 256) on every byte.
constexpr uint32_t Scale32(uint32_t s, uint32_t level) {
  const uint32_t rb = (((s & 0x00FF00FFu) * level) >> 8) & 0x00FF00FFu;
  const uint32_t ag = (((s >> 8) & 0x00FF00FFu) * level) & 0xFF00FF00u;
  return rb | ag;
}

constexpr uint32_t Add32(uint32_t d, uint32_t s, uint32_t level) {
  return SatAdd32(d, Scale32(s, level));
}

constexpr uint32_t Sub32(uint32_t d, uint32_t s) {
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    out |= SubChannel((d >> shift) & 0xFF, (s >> shift) & 0xFF) << shift;
  }
  return out;
}

// Source index for destination index i of n showing m source pixels.
constexpr int32_t NearestSample(int64_t i, int64_t n, int64_t m) {
  // 128-bit: a destination far outside the surface times a long source
  // does not fit 64 bits.
  return int32_t((__int128(2 * i + 1) * m) / (2 * __int128(n)));
}

constexpr int32_t Saturate32(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Floor division and a remainder that is never negative (divisor > 0).
constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && a < 0) ? q - 1 : q;
}
constexpr int64_t PosMod(int64_t a, int64_t b) {
  const int64_t r = a % b;
  return r < 0 ? r + b : r;
}

}  // namespace zirk::pixelmath
