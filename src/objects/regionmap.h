#pragma once
// Region-map files: the named regions of a map image, in the object's own
// pixels. Little-endian: int32 count, then per region a string name (int32
// length + bytes), a shape byte (0 rectangle, 1 ellipse, any other value a
// polygon) and its coordinates: left, top, right, bottom (inclusive) for a
// rectangle or an ellipse, int32 n and n points for a polygon (filled by
// the winding rule). The game has no writer for them.

#include <cstdint>
#include <string>
#include <vector>

#include "base/streams.h"
#include "platform/regions.h"

namespace zirk {

struct TMapRegion {
  std::string Name;
  platform::HRGN Region;
};

// The most region rows a file may make in all, each polygon edge's rows
// counted too: a map covers a screen or two, and a hostile file of many
// huge shapes, or of a polygon zigzagging over every row, must not eat the
// memory or the time.
inline constexpr int64_t kRegionMapRowBudget = int64_t{1} << 20;
// The largest region-map file read: every region costs at least a row of
// the budget and a rectangle's record is 21 bytes and its name, so the
// budget's worth of one-row rectangles with short names still fits.
inline constexpr int64_t kRegionMapFileCap = int64_t{1} << 25;

// Appends the file's regions. A damaged file (a count, length or vertex
// count beyond its bytes, or shapes beyond the row budget) raises
// EFormatError; the regions read before the damage stay.
void ReadRegionMap(TKwStream& stream, std::vector<TMapRegion>& regions,
                   int64_t rowBudget = kRegionMapRowBudget);

}  // namespace zirk
