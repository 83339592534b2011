#pragma once
// Rotation and zoom of a picture about an anchor pixel. Angles are in 1/256
// of a full turn (only the low byte counts), zooms in 1/256. A positive
// angle turns clockwise on screen: a source offset (x, y) from the anchor
// lands at (x cos t - y sin t, x sin t + y cos t) times the zoom.
//
// The drawing kernel and RotateZoomBounds share these numbers, so the
// bounds always hold every pixel that a rotated draw touches.

#include <cstdint>

#include "base/geometry.h"

namespace zirk {

// sin and cos of angle/256 turns in 16.16 fixed point; exact (0, +-65536)
// at multiples of 64.
int32_t FixedSin(int32_t angle);
int32_t FixedCos(int32_t angle);

// Inverse mapping from destination pixels to source positions in 16.16:
// moving one pixel right adds (ux, vx) to the source position, one pixel
// down adds (uy, vy).
struct TRotateZoomStep {
  int64_t ux = 0, vx = 0, uy = 0, vy = 0;
};
// False when a zoom is 0 or negative (nothing can be drawn).
bool MakeRotateZoomStep(int32_t angle, int32_t zoomX, int32_t zoomY, TRotateZoomStep& step);

// Bounding rectangle on screen of a width x height picture whose anchor
// pixel is placed at centre, zoomed and rotated. The anchor is given in the
// unflipped picture and mirrored here under the flips, as the image objects
// pass it. An empty rectangle for an empty picture or a zoom below 1.
TRect RotateZoomBounds(TPoint centre, TPoint anchor, bool flipH, bool flipV, int32_t width,
                       int32_t height, int32_t zoomX, int32_t zoomY, int32_t angle);

}  // namespace zirk
