// Saved records of multi-frame images and tiles read from untrusted bytes,
// then ticked over long and short frames and painted, so the frame index,
// delay counter, brightness, scroll and spacing of a damaged record reach
// the animation and every tile draw path. The first byte picks the kind
// (bit 0) and the save version.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "objects/dorvcache.h"
#include "objects/images.h"
#include "objects/tile.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "scene_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  if (size < 1) return 0;
  const bool tile = data[0] & 1;
  const int32_t version = 100 + (data[0] >> 1) % 40;
  TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TDorvCollection cache;
  SetImageCache(&cache);
  {
    // A lent picture with a draw rectangle, so the tile's piecewise path
    // runs too; it outlives the scene's objects.
    TDIBX picture(7, 5, 32);
    picture.FillRect(picture.GetBoundsRect(), 0x00FF00);
    picture.Rects1 = {Rect(1, 1, 6, 4)};
    TZirkBaseList scene(64, 48);
    try {
      TZirkCustomImages* object =
          tile ? static_cast<TZirkCustomImages*>(scene.Create<TZirkTile>(nullptr, ""))
               : scene.Create<TZirkImages>(nullptr, "");
      object->LoadFromStream(stream, version);
      object->SetBackSurface(&picture);
      RunFuzzFrames(scene, {0u, 16u, 5000u, 0xFFFFFFFFu});
    } catch (const zirk::Exception&) {
    }
    GameTime().ElapsedTime = 0;
    scene.ClearObjects();
  }
  SetImageCache(nullptr);
  return 0;
}
