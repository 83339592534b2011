#pragma once
// What every saved-record target does around its own object: the first
// input byte picks the kind (its low `kindBits` bits) and the save version
// (the bits above), the rest is the record. The body runs in a 64 x 48
// scene over a fresh image cache; the library's own errors end a run
// quietly, and the scene's objects go before the cache they lease from.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/streams.h"
#include "objects/dorvcache.h"
#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk::fuzz {

// One frame per elapsed time: every object ticked and the whole scene
// repainted, as the main loop would. The game clock is back at rest
// afterwards, however the run ended.
inline void RunFrames(TZirkBaseList& scene, std::initializer_list<uint32_t> elapsed) {
  struct Rest {
    ~Rest() { GameTime().ElapsedTime = 0; }
  } rest;
  for (uint32_t ms : elapsed) {
    GameTime().ElapsedTime = ms;
    scene.TickObjects();
    scene.RedrawAll();
    scene.Paint();
  }
}

template <class Body>
int RunRecord(const uint8_t* data, size_t size, int32_t kindBits, Body&& body) {
  if (size < 1) return 0;
  const int32_t kind = data[0] & ((1 << kindBits) - 1);
  const int32_t version = 100 + (data[0] >> kindBits) % 40;
  TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TDorvCollection cache;
  SetImageCache(&cache);
  {
    TZirkBaseList scene(64, 48);
    try {
      body(scene, stream, kind, version);
    } catch (const zirk::Exception&) {
    }
    scene.ClearObjects();
  }
  SetImageCache(nullptr);
  return 0;
}

}  // namespace zirk::fuzz
