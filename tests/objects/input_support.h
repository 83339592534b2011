#pragma once
// Keys and events as the menus' tests see them: a key pressed and let go
// on a focused object through the scene's input router, and the queued
// events as short texts.

#include <string>
#include <vector>

#include "scene/zscene.h"

namespace zirk::test {

// One tick with the key down (pressed and repeated), one with it up.
inline void pressKey(TZirkBaseList& scene, TZirkObject* focus, int32_t vk) {
  focus->SetPropInt(PR_HANDLEKEY, 1);
  scene.SetFocus(focus);
  scene.InputKeyDown(vk);
  scene.InputStep();
  scene.InputKeyUp(vk);
  scene.InputStep();
}

// The queued events as "<label or id> <arguments...>", then the queue is
// emptied.
inline std::vector<std::string> takeEvents(TZirkBaseList& scene, bool byId) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < scene.Events().Count(); ++i) {
    const TTimerData& d = scene.Events().Items(i);
    std::string e = byId ? std::to_string(d.PropId) : d.Label;
    for (const std::string& a : d.Args.Items()) e += " " + a;
    out.push_back(e);
  }
  scene.Events().Clear();
  return out;
}

}  // namespace zirk::test
