#pragma once
// Small palette and row routines shared by the PNG reader and writer.

#include <cstdint>

#include "surfaces/dib.h"

namespace zirk {

// Bytes of one 4-byte aligned bitmap row.
int64_t DIBRowStride(int64_t width, int bits);

// Fills entries with the grey ramp of a bit depth (1: 0, 255; 2: steps of
// 85; 4: steps of 17; anything else 256 steps of 1) and returns the count.
int MakeGreyPalette(int bitDepth, TRGBQuad* entries);

// Entry `index` of a palette of `count` entries as a 0x00BBGGRR colour, -1
// when there is no such entry.
int32_t PaletteEntryColor(const TRGBQuad* entries, int count, int index);

// The entry nearest to a 0x00BBGGRR colour (sum of the absolute channel
// differences, first on a tie); 0 for an empty palette.
int NearestPaletteEntry(const TRGBQuad* entries, int count, uint32_t color);

// Luminance weights of the writer's grey conversion, in 1/256.
inline int GreyLevel256(int r, int g, int b) {
  return r * 77 + g * 150 + b * 29;
}

// A TColor that names a palette entry: 0x01000000 + index.
inline bool IsPaletteIndexColor(int32_t color) {
  return (static_cast<uint32_t>(color) & 0xFF000000u) == 0x01000000u;
}

}  // namespace zirk
