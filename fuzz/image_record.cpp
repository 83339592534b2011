// Saved records of the image object read from untrusted bytes, then ticked,
// painted and hit-tested, so every draw path sees whatever zoom, angle,
// alpha and size a damaged record holds. The first byte picks the save
// version.
#include <cstddef>
#include <cstdint>

#include "objects/image.h"
#include "record_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  return fuzz::RunRecord(data, size, 0,
                         [](TZirkBaseList& scene, TKwStream& stream, int32_t, int32_t version) {
                           auto* image = scene.Create<TZirkImage>(nullptr, "");
                           image->LoadFromStream(stream, version);
                           scene.TickObjects();
                           scene.RedrawAll();
                           scene.Paint();
                           for (int32_t y = 0; y < 48; y += 7) {
                             for (int32_t x = 0; x < 64; x += 7)
                               image->HitTest({x, y}, kAllMouseMask);
                           }
                           image->SetPropInt(PR_CAPTUREMASK, 1);
                           image->HitTest({1, 1}, kAllMouseMask);
                         });
}
