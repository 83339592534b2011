#pragma once
// Frames of a scene loaded from untrusted bytes: each elapsed time in turn
// ticks every object and repaints the whole scene, as the main loop would.
#include <cstdint>
#include <initializer_list>

#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk {

inline void RunFuzzFrames(TZirkBaseList& scene, std::initializer_list<uint32_t> elapsed) {
  for (uint32_t ms : elapsed) {
    GameTime().ElapsedTime = ms;
    scene.TickObjects();
    scene.RedrawAll();
    scene.Paint();
  }
}

}  // namespace zirk
