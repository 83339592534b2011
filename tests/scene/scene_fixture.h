#pragma once
// A headless scene of two 640x480 screens and a solid-colour control that
// records what the scene does to it.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/vocab.h"
#include "scene/factory.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/imagecache.h"
#include "surfaces/dibx.h"

namespace zirk::test {

// Fills its bounds with PR_COLOR; PR_PAUSED is its own; a tick hook lets a
// test act from inside the scene's tick loop.
class TestBox : public TZirkControl {
 public:
  explicit TestBox(TZirkBaseList& scene) : TZirkControl(scene) {}
  int32_t GetKind() const override { return LT_BOX; }

  void Draw() override {
    TCustomDIBX* s = GetDrawSurface();
    if (s && Color() >= 0)
      s->FillRect(GetBoundsRect(), static_cast<uint32_t>(s->ColorToPixel(Color())));
    TZirkControl::Draw();
  }
  bool Tick() override {
    ++ticks;
    if (onTick) return onTick(*this);
    return TZirkControl::Tick();
  }
  void GetProp(int id, TCustomParam& v) override {
    if (id == PR_PAUSED) {
      v.SetBoolean(paused);
      return;
    }
    if (id == PR_ONIDLE) {
      v.SetString(idleLabel);
      return;
    }
    TZirkControl::GetProp(id, v);
  }
  void SetProp(int id, const TCustomParam& v) override {
    if (id == PR_PAUSED) {
      paused = v.AsBoolean();
      return;
    }
    if (id == PR_ONIDLE) {
      idleLabel = v.AsString();
      return;
    }
    TZirkControl::SetProp(id, v);
  }
  void KeyDown(int32_t vk) override { keys += "d" + std::to_string(vk) + " "; }
  void KeyRepeat(int32_t vk) override {
    ++keyRepeats;
    keys += "r" + std::to_string(vk) + " ";
    TZirkControl::KeyRepeat(vk);
  }

  int ticks = 0;
  int keyRepeats = 0;
  std::string keys;  // "d<vk> " per key-down call, "r<vk> " per key repeat
  bool paused = false;
  std::string idleLabel;
  std::function<bool(TestBox&)> onTick;
};

inline TestBox* addBox(TZirkBaseList& scene, TZirkObject* parent, int32_t left, int32_t top,
                       int32_t width, int32_t height, int32_t color = -1,
                       const std::string& name = {}) {
  TestBox* box = scene.Create<TestBox>(parent, name);
  box->SetBounds(left, top, width, height);
  box->SetPropInt(PR_COLOR, color);
  return box;
}

// An image cache that logs the calls it gets.
class FakeCache : public TImageCacheServices {
 public:
  explicit FakeCache(std::vector<std::string>& log) : log_(log) {}
  ~FakeCache() override { log_.push_back("cache freed"); }
  void ReleaseSurfaces() override { log_.push_back("release"); }
  void RebuildSurfaces(bool recreate) override { log_.push_back(recreate ? "rebuild" : "reload"); }
  void SaveState(TKwStream&) override {}
  void LoadState(TKwStream&, int) override {}
  void SetCGDither(bool flag) override { log_.push_back(flag ? "dither on" : "dither off"); }
  void Purge(const std::string& name) override { log_.push_back("purge " + name); }

 private:
  std::vector<std::string>& log_;
};

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterKind(LT_BOX, [](TZirkBaseList& s) { return std::make_unique<TestBox>(s); });
  }
  void TearDown() override {
    RegisterKind(LT_BOX, {});
    GameTime() = {};
  }

  // One frame as the main loop runs it: input, events, objects, paint;
  // `ms` is both the nominal and the measured time of the tick.
  void frame(uint32_t ms = 16) {
    scene.SetSceneClock(scene.SceneClock() + ms);
    scene.SetFrameInterval(ms);
    GameTime().ElapsedTime = ms;
    scene.InputStep();
    scene.TickObjects();
    scene.Paint();
  }
  uint32_t pixel(int32_t x, int32_t y, int32_t screen = 0) {
    return scene.GetBase(screen)->BackSurface()->GetPixel(x, y) & 0xFFFFFF;
  }
  uint32_t presented(int32_t x, int32_t y) {
    return scene.PresentedSurface()->GetPixel(x, y) & 0xFFFFFF;
  }

  TZirkBaseList scene;
};

}  // namespace zirk::test
