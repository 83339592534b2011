#pragma once
// Image-strip widgets in a headless scene: strips of solid cells, mouse and
// key input through the scene's input step, the events they queue, and
// their save records as older versions wrote them.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "picture_fixture.h"
#include "scene/zobject.h"

namespace zirk::test {

class ControlTest : public ScenePictureTest {
 protected:
  void SetUp() override;

  // A strip of cells side by side, each cellW x height of one colour; with
  // an alpha plane of opacity(x, y) when given.
  void writeStrip(const std::string& name, int32_t cellW, int32_t height,
                  const std::vector<uint32_t>& cellColors,
                  const std::function<uint8_t(int32_t, int32_t)>& opacity = {});

  // One input step with the mouse moved, pressed or released at (x, y).
  void move(int32_t x, int32_t y);
  void press(int32_t x, int32_t y);
  void release(int32_t x, int32_t y);
  // Input steps with nothing new (capture ticks run).
  void idle(int32_t steps = 1);
  // A key pressed in one input step and let go; with a focus, that object
  // takes keys and holds the focus first.
  void key(int32_t vk, TZirkObject* focus = nullptr);

  // The queued events as "label" or "label:arg,arg", emptied.
  std::vector<std::string> takeEvents();

  // The object's save record, and the same record as a version before 120
  // wrote it (no tag after name, priority and order).
  static std::vector<uint8_t> record(TZirkObject& object);
  static std::vector<uint8_t> withoutTag(std::vector<uint8_t> bytes);
  // A fresh object of type T loaded from the bytes; every byte is used.
  template <class T>
  T* load(const std::vector<uint8_t>& bytes, int32_t version);
};

template <class T>
T* ControlTest::load(const std::vector<uint8_t>& bytes, int32_t version) {
  TKwMemoryStream data{std::vector<uint8_t>(bytes)};
  auto* object = scene.Create<T>(nullptr, "");
  object->LoadFromStream(data, version);
  EXPECT_EQ(data.Position(), data.Size()) << version;
  return object;
}

}  // namespace zirk::test
