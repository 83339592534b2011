#include "imaging/SFunc.h"

namespace zirk {

int64_t DIBRowStride(int64_t width, int bits) {
  return ((width * bits + 7) / 8 + 3) & ~int64_t{3};
}

int MakeGreyPalette(int bitDepth, TRGBQuad* entries) {
  int count = 256, step = 1;
  switch (bitDepth) {
    case 1:
      count = 2, step = 255;
      break;
    case 2:
      count = 4, step = 85;
      break;
    case 4:
      count = 16, step = 17;
      break;
    default:
      break;
  }
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * step);
    entries[i] = {v, v, v, 0};
  }
  return count;
}

int32_t PaletteEntryColor(const TRGBQuad* entries, int count, int index) {
  if (index < 0 || index >= count) return -1;
  return static_cast<int32_t>(QuadToColor(entries[index]));
}

int NearestPaletteEntry(const TRGBQuad* entries, int count, uint32_t color) {
  return NearestPaletteIndex(entries, count, color);
}

}  // namespace zirk
