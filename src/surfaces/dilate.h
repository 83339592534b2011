#pragma once
// Growing an 8-bit coverage picture by a round pen: the outline under a
// caption's border. Each pixel takes the highest coverage within the pen, so
// soft glyph edges stay soft at the border's rim.

#include <cstdint>

#include "platform/gdi.h"

namespace zirk {

// dst(x, y) := max of src(x + dx, y + dy) over dx^2 + dy^2 <= r (r + 1),
// pixels outside src counting as 0. Both buffers are 8-bit and of one size;
// radius 0 copies. The work is about 3 r + 1 byte steps per pixel.
void DilateCoverage(const platform::PixelBuffer& src, const platform::PixelBuffer& dst,
                    int32_t radius);

}  // namespace zirk
