// Saved records of multi-frame images and tiles read from untrusted bytes,
// then ticked over long and short frames and painted, so the frame index,
// delay counter, brightness, scroll and spacing of a damaged record reach
// the animation and every tile draw path. The first byte picks the kind
// (bit 0) and the save version.
#include <cstddef>
#include <cstdint>

#include "objects/images.h"
#include "objects/tile.h"
#include "record_harness.h"
#include "scene/runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  // A lent picture with a draw rectangle, so the tile's piecewise path
  // runs too; it outlives the scene's objects.
  TDIBX picture(7, 5, 32);
  picture.FillRect(picture.GetBoundsRect(), 0x00FF00);
  picture.Rects1 = {Rect(1, 1, 6, 4)};
  return fuzz::RunRecord(
      data, size, 1, [&](TZirkBaseList& scene, TKwStream& stream, int32_t kind, int32_t version) {
        TZirkCustomImages* object =
            kind ? static_cast<TZirkCustomImages*>(scene.Create<TZirkTile>(nullptr, ""))
                 : scene.Create<TZirkImages>(nullptr, "");
        object->LoadFromStream(stream, version);
        object->SetBackSurface(&picture);
        fuzz::RunFrames(scene, {0u, 16u, 5000u, 0xFFFFFFFFu});
      });
}
