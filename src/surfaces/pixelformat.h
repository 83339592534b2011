#pragma once
// Pixel layouts of the 15-, 16-, 24- and 32-bit pictures as value objects:
// per channel a bit count and a shift, red highest and blue in the lowest
// bits (5-5-5 is 0RRRRRGGGGGBBBBB, 5-6-5 is RRRRRGGGGGGBBBBB, 8-8-8 is
// 0xRRGGBB). Colours passed between objects are 0x00BBGGRR.
//
// Every place where a 5- or 6-bit channel becomes an 8-bit one goes through
// ExpandChannel (bit replication, (v << 3) | (v >> 2) for five bits). Packing
// truncates (v >> 3), so expanding and packing again gives back the original
// value: a colour key read from a 15/16-bit picture and converted back with
// ColorToPixel matches the key pixels exactly.

#include <cstdint>

namespace zirk {

struct TDIBPixelFormat {
  int RBitCount = 8, GBitCount = 8, BBitCount = 8;
  int RShift = 16, GShift = 8, BShift = 0;

  uint32_t RMask() const { return ((1u << RBitCount) - 1) << RShift; }
  uint32_t GMask() const { return ((1u << GBitCount) - 1) << GShift; }
  uint32_t BMask() const { return ((1u << BBitCount) - 1) << BShift; }
  // Bits dropped from an 8-bit channel when it is packed.
  int RLoss() const { return 8 - RBitCount; }
  int GLoss() const { return 8 - GBitCount; }
  int BLoss() const { return 8 - BBitCount; }

  bool operator==(const TDIBPixelFormat&) const = default;
};

// Layout with the given bits per channel (each 1..8), blue lowest. Bit
// counts outside 1..8 raise zirk::Exception.
TDIBPixelFormat MakeDIBPixelFormat(int rbits, int gbits, int bbits);

inline const TDIBPixelFormat kPixelFormat555{5, 5, 5, 10, 5, 0};
inline const TDIBPixelFormat kPixelFormat565{5, 6, 5, 11, 5, 0};
inline const TDIBPixelFormat kPixelFormat888{8, 8, 8, 16, 8, 0};

// The one expansion of a channel of `bits` bits (1..8) to 8 bits.
constexpr uint8_t ExpandChannel(uint32_t value, int bits) {
  uint32_t v = (value & ((1u << bits) - 1)) << (8 - bits);
  for (int filled = bits; filled < 8; filled *= 2) v |= v >> filled;
  return static_cast<uint8_t>(v);
}
constexpr uint8_t Expand5To8(uint32_t v) {
  return ExpandChannel(v, 5);
}
constexpr uint8_t Expand6To8(uint32_t v) {
  return ExpandChannel(v, 6);
}

// Pixel value of the layout for 8-bit channels (truncating).
inline uint32_t PackDIBPixel(const TDIBPixelFormat& f, int r, int g, int b) {
  return ((static_cast<uint32_t>(r & 255) >> f.RLoss()) << f.RShift) |
         ((static_cast<uint32_t>(g & 255) >> f.GLoss()) << f.GShift) |
         ((static_cast<uint32_t>(b & 255) >> f.BLoss()) << f.BShift);
}

struct TRGBChannels {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const TRGBChannels&) const = default;
};

// 8-bit channels of a pixel value of the layout, through ExpandChannel.
inline TRGBChannels UnpackDIBPixel(const TDIBPixelFormat& f, uint32_t pixel) {
  return {ExpandChannel(pixel >> f.RShift, f.RBitCount),
          ExpandChannel(pixel >> f.GShift, f.GBitCount),
          ExpandChannel(pixel >> f.BShift, f.BBitCount)};
}

// 0x00BBGGRR colour helpers.
constexpr uint32_t RGBColor(int r, int g, int b) {
  return static_cast<uint32_t>(r & 255) | (static_cast<uint32_t>(g & 255) << 8) |
         (static_cast<uint32_t>(b & 255) << 16);
}
constexpr uint8_t ColorR(uint32_t c) {
  return static_cast<uint8_t>(c);
}
constexpr uint8_t ColorG(uint32_t c) {
  return static_cast<uint8_t>(c >> 8);
}
constexpr uint8_t ColorB(uint32_t c) {
  return static_cast<uint8_t>(c >> 16);
}

inline uint32_t ColorToLayoutPixel(const TDIBPixelFormat& f, uint32_t color) {
  return PackDIBPixel(f, ColorR(color), ColorG(color), ColorB(color));
}
inline uint32_t LayoutPixelToColor(const TDIBPixelFormat& f, uint32_t pixel) {
  TRGBChannels c = UnpackDIBPixel(f, pixel);
  return RGBColor(c.r, c.g, c.b);
}

}  // namespace zirk
