#include "objects/brightness.h"

#include <algorithm>
#include <cstdlib>

namespace zirk {

namespace {

// Channel arithmetic of the surfaces' own fills, so the key pixel and the
// picture move exactly alike.
void applyOffset(TCustomDIBX& surface, const TRect& r, int32_t offset, uint32_t grey) {
  if (offset < 0) {
    surface.FillRectSub(r, grey);
  } else if (offset > 0) {
    surface.FillRectAdd(r, grey);
  }
}

}  // namespace

void CopyWithBrightness(TCustomDIBX& target, const TCustomDIBX& source, int32_t offset) {
  offset = std::clamp(offset, -255, 255);
  target.SetSize(source.Width(), source.Height(), source.BitCount());
  target.ResetClipRect();
  target.Rects1 = source.Rects1;
  target.Rects2 = source.Rects2;
  const int32_t sourceKey = source.ColorKey();
  if (target.IsEmpty()) {
    target.SetColorKey(sourceKey);
    return;
  }

  const int32_t level = std::abs(offset);
  const auto grey =
      static_cast<uint32_t>(target.ColorToPixel(level | (level << 8) | (level << 16)));
  int32_t key = -1;
  if (sourceKey != -1 && offset != 0) {
    target.SetPixel(0, 0, static_cast<uint32_t>(sourceKey));
    applyOffset(target, Rect(0, 0, 1, 1), offset, grey);
    key = static_cast<int32_t>(target.GetPixel(0, 0));
  } else {
    key = sourceKey;
  }

  target.CopyFrom(source);
  applyOffset(target, target.GetBoundsRect(), offset, grey);
  target.SetColorKey(key);
  if (key == -1 || offset == 0) return;

  // Ordinary pixels that the adjustment put onto the key would turn
  // transparent; the lowest bit of the lowest channel moves them off it.
  const auto newKey = static_cast<uint32_t>(key);
  const auto oldKey = static_cast<uint32_t>(sourceKey);
  const platform::PixelBuffer from = source.Pixels(), to = target.Pixels();
  if (from.empty() || to.empty()) return;
  for (int32_t y = 0; y < to.height; ++y) {
    for (int32_t x = 0; x < to.width; ++x) {
      if (platform::ReadPixelValue(to, x, y) == newKey &&
          platform::ReadPixelValue(from, x, y) != oldKey) {
        platform::WritePixelValue(to, x, y, newKey ^ 1u);
      }
    }
  }
}

}  // namespace zirk
