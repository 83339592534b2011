#include "control_fixture.h"

#include "base/streams.h"
#include "scene/zscene.h"

namespace zirk::test {

void ControlTest::SetUp() {
  ScenePictureTest::SetUp();
  scene.SetFrameInterval(10);
}

void ControlTest::writeStrip(const std::string& name, int32_t cellW, int32_t height,
                             const std::vector<uint32_t>& cellColors,
                             const std::function<uint8_t(int32_t, int32_t)>& opacity) {
  const int32_t width = cellW * static_cast<int32_t>(cellColors.size());
  TestFrame frame{width, height};
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      frame.Colors.push_back(cellColors[static_cast<size_t>(x / cellW)]);
      if (opacity) frame.Alpha.push_back(opacity(x, y));
    }
  }
  writePicture(name, {frame});
}

void ControlTest::move(int32_t x, int32_t y) {
  scene.InputMouseMove(x, y);
  scene.InputStep();
}

void ControlTest::press(int32_t x, int32_t y) {
  scene.InputMouseMove(x, y);
  scene.InputMouseDown(TMouseButton::Left, x, y);
  scene.InputStep();
}

void ControlTest::release(int32_t x, int32_t y) {
  scene.InputMouseMove(x, y);
  scene.InputMouseUp(TMouseButton::Left, x, y);
  scene.InputStep();
}

void ControlTest::idle(int32_t steps) {
  for (int32_t i = 0; i < steps; ++i) scene.InputStep();
}

void ControlTest::key(int32_t vk, TZirkObject* focus) {
  if (focus) {
    focus->SetPropInt(PR_HANDLEKEY, 1);
    scene.SetFocus(focus);
  }
  scene.InputKeyDown(vk);
  scene.InputStep();
  scene.InputKeyUp(vk);
}

std::vector<std::string> ControlTest::takeEvents() {
  std::vector<std::string> out;
  TTimerList& events = scene.Events();
  for (int32_t i = 0; i < events.Count(); ++i) {
    const TTimerData& e = events.Items(i);
    std::string text = e.Label;
    for (int32_t k = 0; k < e.Args.Count(); ++k) text += (k == 0 ? ":" : ",") + e.Args[k];
    out.push_back(text);
  }
  events.Clear();
  return out;
}

std::vector<uint8_t> ControlTest::record(TZirkObject& object) {
  TKwMemoryStream s;
  object.SaveToStream(s);
  return {s.Memory(), s.Memory() + s.Size()};
}

std::vector<uint8_t> ControlTest::withoutTag(std::vector<uint8_t> bytes) {
  const size_t nameEnd = 4 + bytes[0];
  const auto tag = bytes.begin() + static_cast<ptrdiff_t>(nameEnd + 8);
  bytes.erase(tag, tag + 4);
  return bytes;
}

}  // namespace zirk::test
