// Saved records of fires, waves and particle emitters read from untrusted
// bytes, then ticked over long and short frames and painted, so damaged
// sizes, zooms, amplitudes, divisors, pre-rolls and expressions reach the
// simulations and their draws. The first byte picks the kind and the save
// version.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "objects/dorvcache.h"
#include "objects/fire.h"
#include "objects/particle.h"
#include "objects/wave.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "scene_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  if (size < 1) return 0;
  const int32_t kind = data[0] % 3;
  const int32_t version = 100 + (data[0] / 3) % 40;
  TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TDorvCollection cache;
  SetImageCache(&cache);
  {
    TZirkBaseList scene(64, 48);
    try {
      TZirkControl* object = nullptr;
      if (kind == 0)
        object = scene.Create<TZirkFire>(nullptr, "");
      else if (kind == 1)
        object = scene.Create<TZirkWave>(nullptr, "");
      else
        object = scene.Create<TZirkParticle>(nullptr, "");
      object->LoadFromStream(stream, version);
      // Something for a wave to ripple and an emitter to spawn around.
      auto* child = scene.Create<TZirkFire>(object, "");
      child->SetPropInt(PR_ORIGWIDTH, 9);
      child->SetPropInt(PR_ORIGHEIGHT, 7);
      child->SetPropInt(PR_ZOOMX, 300);
      child->SetPropInt(PR_ZOOMY, 256);
      RunFuzzFrames(scene, {0u, 16u, 40u, 3000u, 0xFFFFFFFFu});
    } catch (const zirk::Exception&) {
    }
    GameTime().ElapsedTime = 0;
    scene.ClearObjects();
  }
  SetImageCache(nullptr);
  return 0;
}
