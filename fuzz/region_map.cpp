// Region-map files read from untrusted bytes, then every region read is
// hit-tested around its box, so names, shapes, vertex counts and
// coordinates see whatever a damaged file holds.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "objects/regionmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  std::vector<TMapRegion> regions;
  try {
    // A few screens' rows, not a thousand: every shape is still built.
    ReadRegionMap(stream, regions, int64_t(1) << 13);
  } catch (const std::exception&) {
    // Damaged maps keep what was read before the damage.
  }
  for (const TMapRegion& r : regions) {
    const platform::RECT box = r.Region->Box();
    for (int32_t i = -1; i < 4; ++i) r.Region->Contains(box.left + i, box.top + i);
  }
  return 0;
}
