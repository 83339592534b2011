#include "tools/mkdemo/demomenu.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "tools/mkdemo/demopicture.h"

namespace zirk::demo {

namespace {

// The frame is drawn as one rounded window of 3 x 3 cells and cut into
// them: the edges are the same along their length and the middle is plain,
// so each tiles seamlessly however large the menu grows.
constexpr int32_t kCell = 16;
constexpr int32_t kWindow = 3 * kCell;
constexpr double kRadius = 14;

constexpr uint32_t kOutline = 0x201008, kGold = 0x58C0E8, kFill = 0x301810, kBevel = 0x6A3A1C;

// How far inside the rounded window the pixel lies; negative outside it.
double depth(int32_t x, int32_t y) {
  const double px = x + 0.5, py = y + 0.5;
  const double cx = std::clamp(px, kRadius, kWindow - kRadius);
  const double cy = std::clamp(py, kRadius, kWindow - kRadius);
  if (cx != px && cy != py) return kRadius - std::hypot(px - cx, py - cy);
  return std::min({px, py, kWindow - px, kWindow - py});
}

Pixel frame(int32_t x, int32_t y) {
  const double d = depth(x, y);
  if (d < 0) return Pixel{kKey};
  if (d < 1.5 || (d >= 4 && d < 5.5)) return Pixel{kOutline};
  if (d < 4) return Pixel{kGold};
  // Lighter along the line, for a little depth.
  return Pixel{mix(kBevel, kFill, std::min((d - 5.5) / 8, 1.0))};
}

}  // namespace

void WriteMenuPictures(const std::filesystem::path& folder) {
  static const char* const kNames[] = {"menutl.dor", "menut.dor", "menutr.dor",
                                       "menul.dor",  "menuc.dor", "menur.dor",
                                       "menubl.dor", "menub.dor", "menubr.dor"};
  for (int32_t cell = 0; cell < 9; ++cell) {
    const int32_t left = cell % 3 * kCell, top = cell / 3 * kCell;
    writePicture(folder / kNames[cell], {kCell, kCell, 1, 100, false, static_cast<int32_t>(kKey)},
                 [=](int32_t x, int32_t y, int32_t) { return frame(left + x, top + y); });
  }
}

}  // namespace zirk::demo
