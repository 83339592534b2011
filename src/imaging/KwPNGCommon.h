#pragma once
// What the PNG reader and writer share: the signature, chunk types, the
// private chunk's tag and the Adam7 passes.

#include <array>
#include <cstdint>
#include <span>

namespace zirk {

inline constexpr uint8_t kPNGSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
inline constexpr char kPrivateTag[5] = "KWN3";

constexpr uint32_t PNGChunkType(const char (&name)[5]) {
  return uint32_t{static_cast<uint8_t>(name[0])} << 24 |
         uint32_t{static_cast<uint8_t>(name[1])} << 16 |
         uint32_t{static_cast<uint8_t>(name[2])} << 8 | uint32_t{static_cast<uint8_t>(name[3])};
}

inline constexpr uint32_t kChunkIHDR = PNGChunkType("IHDR");
inline constexpr uint32_t kChunkPLTE = PNGChunkType("PLTE");
inline constexpr uint32_t kChunkIDAT = PNGChunkType("IDAT");
inline constexpr uint32_t kChunkIEND = PNGChunkType("IEND");
inline constexpr uint32_t kChunkTRNS = PNGChunkType("tRNS");
inline constexpr uint32_t kChunkBKGD = PNGChunkType("bKGD");
inline constexpr uint32_t kChunkSBIT = PNGChunkType("sBIT");
inline constexpr uint32_t kChunkGAMA = PNGChunkType("gAMA");
inline constexpr uint32_t kChunkCHRM = PNGChunkType("cHRM");
inline constexpr uint32_t kChunkGIFG = PNGChunkType("gIFg");
inline constexpr uint32_t kChunkTIME = PNGChunkType("tIME");
inline constexpr uint32_t kChunkPHYS = PNGChunkType("pHYs");
inline constexpr uint32_t kChunkTEXT = PNGChunkType("tEXt");
inline constexpr uint32_t kChunkKWNG = PNGChunkType("kwNG");

struct TKwPNGPass {
  int X0, Y0, DX, DY;
};

inline constexpr std::array<TKwPNGPass, 7> kAdam7Passes = {{{0, 0, 8, 8},
                                                            {4, 0, 8, 8},
                                                            {0, 4, 4, 8},
                                                            {2, 0, 4, 4},
                                                            {0, 2, 2, 4},
                                                            {1, 0, 2, 2},
                                                            {0, 1, 1, 2}}};
inline constexpr std::array<TKwPNGPass, 1> kSinglePass = {{{0, 0, 1, 1}}};

inline std::span<const TKwPNGPass> AdamPasses(bool interlaced) {
  if (interlaced) return kAdam7Passes;
  return kSinglePass;
}

// Pixels of a pass along one side.
constexpr int PassSize(int size, int start, int step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

}  // namespace zirk
