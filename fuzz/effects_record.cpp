// Saved records of fires, waves and particle emitters read from untrusted
// bytes, then ticked over long and short frames and painted, so damaged
// sizes, zooms, amplitudes, divisors, pre-rolls and expressions reach the
// simulations and their draws. The first byte picks the kind (bits 0-1:
// fire, wave, emitter, emitter) and the save version.
#include <cstddef>
#include <cstdint>

#include "objects/fire.h"
#include "objects/particle.h"
#include "objects/wave.h"
#include "record_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  return fuzz::RunRecord(
      data, size, 2, [](TZirkBaseList& scene, TKwStream& stream, int32_t kind, int32_t version) {
        TZirkControl* object = nullptr;
        if (kind == 0)
          object = scene.Create<TZirkFire>(nullptr, "");
        else if (kind == 1)
          object = scene.Create<TZirkWave>(nullptr, "");
        else
          object = scene.Create<TZirkParticle>(nullptr, "");
        object->LoadFromStream(stream, version);
        // A fire simulates at most 128 x 128 cells here: a fire of the
        // largest side steps 16M cells a frame, a thousand times the work.
        if (auto* fire = dynamic_cast<TZirkFire*>(object)) fire->MaxSide = 128;
        // An emitter spawns at most 48 particles a frame here, not 2048:
        // each still lives, moves, dies and is painted.
        if (auto* emitter = dynamic_cast<TZirkParticle*>(object)) emitter->MaxSpawns = 48;
        // Something for a wave to ripple and an emitter to spawn around.
        auto* child = scene.Create<TZirkFire>(object, "");
        child->SetPropInt(PR_ORIGWIDTH, 9);
        child->SetPropInt(PR_ORIGHEIGHT, 7);
        child->SetPropInt(PR_ZOOMX, 300);
        child->SetPropInt(PR_ZOOMY, 256);
        fuzz::RunFrames(scene, {0u, 16u, 40u, 3000u, 0xFFFFFFFFu});
      });
}
