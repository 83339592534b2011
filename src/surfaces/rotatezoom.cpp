#include "surfaces/rotatezoom.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zirk {

int32_t FixedSin(int32_t angle) {
  const int32_t a = angle & 255;
  return int32_t(std::nearbyint(std::sin(a * 2 * std::numbers::pi / 256) * 65536.0));
}

int32_t FixedCos(int32_t angle) {
  // A quarter turn on from the low byte: the whole angle plus 64 could overflow.
  return FixedSin((angle & 255) + 64);
}

bool MakeRotateZoomStep(int32_t angle, int32_t zoomX, int32_t zoomY, TRotateZoomStep& step) {
  if (zoomX <= 0 || zoomY <= 0) return false;
  const int64_t s = FixedSin(angle), c = FixedCos(angle);
  // Inverse of rotate-then-zoom: rotate back by -t, then divide by the zoom.
  step.ux = c * 256 / zoomX;
  step.uy = s * 256 / zoomX;
  step.vx = -s * 256 / zoomY;
  step.vy = c * 256 / zoomY;
  return true;
}

TRect RotateZoomBounds(TPoint centre, TPoint anchor, bool flipH, bool flipV, int32_t width,
                       int32_t height, int32_t zoomX, int32_t zoomY, int32_t angle) {
  if (width <= 0 || height <= 0 || zoomX <= 0 || zoomY <= 0)
    return Rect(centre.X, centre.Y, centre.X, centre.Y);
  const double ax = flipH ? width - 1 - double(anchor.X) : anchor.X;
  const double ay = flipV ? height - 1 - double(anchor.Y) : anchor.Y;
  const double s = FixedSin(angle) / 65536.0, c = FixedCos(angle) / 65536.0;
  const double zx = zoomX / 256.0, zy = zoomY / 256.0;
  // Pixel centres sit on integers, so the picture spans -0.5 .. size - 0.5
  // around its anchor.
  const double xs[2] = {(-0.5 - ax) * zx, (width - 0.5 - ax) * zx};
  const double ys[2] = {(-0.5 - ay) * zy, (height - 0.5 - ay) * zy};
  double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
  for (double x : xs) {
    for (double y : ys) {
      const double dx = x * c - y * s, dy = x * s + y * c;
      minX = std::min(minX, dx), maxX = std::max(maxX, dx);
      minY = std::min(minY, dy), maxY = std::max(maxY, dy);
    }
  }
  // Quarter turns at full size map pixel edges onto pixel edges exactly;
  // anything else gets a pixel of slack for the kernel's fixed-point steps.
  const bool exact = (angle & 63) == 0 && zoomX == 256 && zoomY == 256;
  const double slack = exact ? 0.0 : 1.0;
  auto clampI = [](double v) { return int32_t(std::clamp(v, -2147483000.0, 2147483000.0)); };
  return Rect(clampI(std::floor(centre.X + 0.5 + minX - slack)),
              clampI(std::floor(centre.Y + 0.5 + minY - slack)),
              clampI(std::ceil(centre.X + 0.5 + maxX + slack)),
              clampI(std::ceil(centre.Y + 0.5 + maxY + slack)));
}

}  // namespace zirk
