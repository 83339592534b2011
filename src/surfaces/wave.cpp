#include "surfaces/wave.h"

#include <algorithm>
#include <limits>

#include "surfaces/kernels.h"
#include "surfaces/pixelmath.h"

namespace zirk {

TDIBXWave::TDIBXWave() {
  // Until the owner sets a clip, only the target's own clip limits drawing.
  constexpr int32_t lo = std::numeric_limits<int32_t>::min() / 2;
  constexpr int32_t hi = std::numeric_limits<int32_t>::max() / 2;
  clip_ = Rect(lo, lo, hi, hi);
  clipSet_ = true;
}

void TDIBXWave::SetSize(int32_t width, int32_t height, int32_t /*bitCount*/) {
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  Offsets.assign(size_t(height_), 0);
}

int32_t TDIBXWave::ColorToPixel(int32_t color) const {
  return Target ? Target->ColorToPixel(color) : TCustomDIBX::ColorToPixel(color);
}

int32_t TDIBXWave::OffsetAt(int32_t targetY) const {
  const int64_t i = int64_t(targetY) - TopOrigin;
  if (i < 0 || i >= int64_t(Offsets.size())) return 0;
  return Offsets[size_t(i)];
}

bool TDIBXWave::ExecuteClipped(const TBlitDesc& desc, const TRect& clip) {
  if (Target == nullptr || Target == this) return false;
  TRect c, rows;
  if (!IntersectRect(c, clip, clip_)) return false;
  // Only the lines the operation covers before shifting (a shift moves
  // pixels sideways, never to another line) and the target can draw: the
  // wave's own clip may span billions of lines.
  const TRect target = Target->GetClipRect();
  if (!IntersectRect(rows, c, Rect(c.Left, desc.Bounds().Top, c.Right, desc.Bounds().Bottom)) ||
      !IntersectRect(rows, rows, Rect(rows.Left, target.Top, rows.Right, target.Bottom)))
    return false;
  // A target with pixels of its own is read once for the whole draw: an
  // 8-bit one rebuilds its 256-colour table each time it is read, which
  // would cost more than the line it draws. A target without them (another
  // wave) takes each line through its own operation.
  const platform::PixelBuffer pixels = Target->Pixels();
  bool drawn = false;
  for (int32_t y = rows.Top; y < rows.Bottom; ++y) {
    // Each line is moved from the original: moves saturate at the int32
    // edges, so undoing the previous line's shift could drift.
    TBlitDesc line = desc;
    line.Translate(OffsetAt(y), 0);
    const TRect lineClip = Rect(c.Left, y, c.Right, y + 1);
    TRect onTarget;
    if (pixels.empty())
      drawn = Target->ExecuteClipped(line, lineClip) || drawn;
    else if (IntersectRect(onTarget, lineClip, target))
      drawn = RunBlit(pixels, onTarget, line) || drawn;
  }
  return drawn;
}

TRect TDIBXWave::ReachingRect(const TRect& clip) const {
  if (Target == nullptr || Target == this) return {};
  // Where the pixels may land (this clip and the target's), then every
  // position a line's shift moves there.
  TRect land;
  if (!IntersectRect(land, clip, clip_) ||
      !IntersectRect(land, land, Target->ReachingRect(Target->GetClipRect())))
    return {};
  // The shifts of the lines that can land (as many as the target has).
  int32_t lo = 0, hi = 0;
  for (int32_t y = land.Top; y < land.Bottom; ++y)
    lo = std::min(lo, OffsetAt(y)), hi = std::max(hi, OffsetAt(y));
  return {pixelmath::Saturate32(int64_t(land.Left) - hi), land.Top,
          pixelmath::Saturate32(int64_t(land.Right) - lo), land.Bottom};
}

}  // namespace zirk
