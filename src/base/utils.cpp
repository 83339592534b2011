#include "base/utils.h"

#include <algorithm>

namespace zirk {

int32_t ScaleColor(int32_t color, int32_t factor) {
  uint32_t f = static_cast<uint32_t>(std::clamp(factor, 0, 256));
  uint32_t c = static_cast<uint32_t>(color);
  uint32_t r = (c & 0xFF) * f / 256;
  uint32_t g = ((c >> 8) & 0xFF) * f / 256;
  uint32_t b = ((c >> 16) & 0xFF) * f / 256;
  return static_cast<int32_t>(r | (g << 8) | (b << 16));
}

void TraceHook(const char*, bool) {}

}  // namespace zirk
