#pragma once
// The scene runtime's program-wide objects: the global scene (screen list),
// the image cache (made through the factory the picture layer installs) and
// the clip manager, created by ZirkInitialize and freed by ZirkFinalize;
// plus the times the main loop sets every tick.

#include <cstdint>
#include <functional>
#include <string>

#include "scene/clipmgr.h"
#include "scene/zscene.h"

namespace zirk {

// The text layer's program-wide objects (text history, already-read list)
// are made and freed through these hooks, at their place in the order.
void SetTextRuntimeHooks(std::function<void()> create, std::function<void()> free);

// Creates the program-wide objects in order: the screen list, the text
// layer's objects, the image cache, the clip manager. Fails when they
// already exist.
void ZirkInitialize(int32_t width = TZirkBaseList::kDefaultWidth,
                    int32_t height = TZirkBaseList::kDefaultHeight);
// Frees them: the screen list first, so its objects hand their pictures back
// to a cache that still exists, then the text layer's objects, the image
// cache and the clip manager.
void ZirkFinalize();
bool ZirkInitialized();

// The global scene, nullptr outside ZirkInitialize / ZirkFinalize.
TZirkBaseList* ScreenList();

// Times set by the main loop (or a test) before each tick.
struct TGameTime {
  uint32_t ElapsedTime = 0;  // ms since the previous tick
  uint32_t GameClock = 0;    // running ms, advanced only while active
};
TGameTime& GameTime();
inline uint32_t ElapsedTime() {
  return GameTime().ElapsedTime;
}
inline uint32_t GameClock() {
  return GameTime().GameClock;
}

// The last preview-menu selection.
struct TPrevMenuSelection {
  std::string Name;
  int32_t Index = -1;
};
TPrevMenuSelection& LastPrevMenuSelection();

}  // namespace zirk
