#pragma once
// What the controls drawn from picture strips (the slider, the scroll bar
// and the gauge) share: a strip is one picture of side-by-side cells,
// leased by name; the control's value is bounded by its range.

#include <algorithm>
#include <cstdint>
#include <string>

#include "objects/dorvcache.h"

namespace zirk {

// A value bounded by a range; a range turned inside out gives its minimum.
inline int32_t BoundedValue(int64_t value, int32_t min, int32_t max) {
  return value < min ? min : static_cast<int32_t>(std::min<int64_t>(value, max));
}

// Leases the strip of that name into `image` ("" holds none). What follows
// the strip's size is redone by `reshape` even when the new picture fails,
// and the failure then goes on to the caller.
template <class Reshape>
void LeaseStrip(TDorvLease& image, const std::string& name, Reshape&& reshape) {
  image.Reset();
  try {
    if (!name.empty()) image = TDorvLease(name, false, false);
  } catch (...) {
    reshape();
    throw;
  }
  reshape();
}

// Cell `cell` of a strip of `cells` cells tiled over dest, the pattern
// shifted by the offsets; nothing for an empty strip or destination.
inline void TileStripCell(const TDorvLease& strip, int32_t cells, int32_t cell, TCustomDIBX& target,
                          const TRect& dest, int32_t offsetX, int32_t offsetY, bool flipH,
                          bool flipV, int32_t alpha) {
  const TDorvItemFrame* frame = strip ? strip->Frame(0) : nullptr;
  const int32_t w = strip ? strip->Width / cells : 0;
  if (!frame || w < 1 || dest.IsEmpty()) return;
  DrawDorvFrameTiled(*frame, target, dest, Bounds(cell * w, 0, w, strip->Height), offsetX, offsetY,
                     flipH, flipV, alpha);
}

}  // namespace zirk
