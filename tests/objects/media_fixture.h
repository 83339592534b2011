#pragma once
// Sound and video objects on a scene over the real media managers (a manual
// sound device and clock, tests/data as the game folder): every step of
// time is the test's.

#include <gtest/gtest.h>

#include "scene/events.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"
#include "support/mediarig.h"

namespace zirk::test {

class MediaSceneTest : public ::testing::Test {
 protected:
  explicit MediaSceneTest(MediaRigOptions options = {}) : rig(std::move(options)) {}
  void SetUp() override {
    SetCurrentProject(&project);
    GameTime() = {};
  }
  void TearDown() override {
    scene.ClearObjects();
    SetCurrentProject(nullptr);
    GameTime() = {};
  }
  // Ticks of 10 ms: the game clock, the scene's objects, then the media.
  void run(uint32_t ms) {
    for (uint32_t t = 0; t < ms; t += 10) {
      GameTime().ElapsedTime = 10;
      GameTime().GameClock += 10;
      scene.TickObjects();
      rig.Run(10);
    }
  }
  // Ticks of the game clock only, the media standing still.
  void tickGame(uint32_t ms) {
    GameTime().GameClock += ms;
    scene.TickObjects();
  }

  // How many events of that id are queued.
  int32_t events(int32_t prop) {
    int32_t n = 0;
    for (int32_t i = 0; i < scene.Events().Count(); ++i)
      n += scene.Events().Items(i).PropId == prop;
    return n;
  }

  MediaRig rig;
  TProject project;
  TZirkBaseList scene;
};

}  // namespace zirk::test
