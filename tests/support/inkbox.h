#pragma once
// Where something was drawn: the box round the pixels of a surface that
// differ from its background colour.

#include <algorithm>
#include <cstdint>

#include "surfaces/dibx.h"

namespace zirk::test {

// Empty (right and bottom before left and top) when nothing was drawn.
inline TRect InkBox(const TCustomDIBX& s, uint32_t background) {
  TRect box = Rect(s.Width(), s.Height(), 0, 0);
  for (int32_t y = 0; y < s.Height(); ++y)
    for (int32_t x = 0; x < s.Width(); ++x)
      if ((s.GetPixel(x, y) & 0xFFFFFF) != background) {
        box.Left = std::min(box.Left, x);
        box.Top = std::min(box.Top, y);
        box.Right = std::max(box.Right, x + 1);
        box.Bottom = std::max(box.Bottom, y + 1);
      }
  return box;
}

}  // namespace zirk::test
