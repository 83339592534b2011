// Saved records of sliders, scroll bars, gauges, image buttons and menus
// read from untrusted bytes, then pressed, dragged, held, keyed, ticked and
// painted, so whatever range, value, bar size, state, countdown, row count
// or menu phase a damaged record holds reaches the geometry, the value
// arithmetic and the tiled draws. Records may name the strips "t.dor" and
// "u.dor" (with masks), written once for the run. The first byte picks the
// kind and the save version: below 160 bits 0-1 pick one of the first four
// kinds, from 160 on it is a menu.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "imaging/dorvs.h"
#include "objects/button.h"
#include "objects/gauge.h"
#include "objects/menu.h"
#include "objects/scrollbar.h"
#include "objects/slider.h"
#include "record_harness.h"
#include "surfaces/dibsfc.h"
#include "work_folder.h"

namespace {

// The strips, in one folder for the whole run, removed at exit.
struct Pictures {
  Pictures() {
    write("t.dor", 24, 9);
    write("u.dor", 18, 6);
    files = std::make_unique<zirk::TVrFileManager>(folder.path.string());
    zirk::TVrFileManager::SetGlobal(files.get());
  }
  ~Pictures() { zirk::TVrFileManager::SetGlobal(nullptr); }
  // Two frames of stripes, with an alpha plane of stripes too.
  void write(const char* name, int32_t width, int32_t height) {
    zirk::TDorvFrameList list;
    for (int32_t f = 0; f < 2; ++f) {
      zirk::TDorvFrame* frame = list.AddFrame();
      zirk::TDIBSurface& image = frame->Image;
      image.SetSize(width, height, 24);
      zirk::EnsureAlphaPlane(image);
      for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
          image.SetRawPixel(x, y, image.ColorToPixel(uint32_t(0x102030 * (x + f))));
          image.AlphaPlane()->SetRawPixel(x, y, ((x + y) & 1) ? 255 : 0);
        }
      }
      frame->Delay = 30;
    }
    list.SaveToFile((folder.path / name).string());
  }
  zirk::fuzz::WorkFolder folder{"zirk-ctlfuzz"};
  std::unique_ptr<zirk::TVrFileManager> files;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  static Pictures pictures;
  // From 160 on the first byte names a menu, and its save version is the
  // part above 160.
  const bool menu = size > 0 && data[0] >= 160;
  return fuzz::RunRecord(
      data, size, 2, [&](TZirkBaseList& scene, TKwStream& stream, int32_t kind, int32_t version) {
        if (menu) {
          kind = 4;
          version = 100 + (data[0] - 160) % 40;
        }
        scene.SetFrameInterval(16);
        TZirkControl* object = nullptr;
        if (kind == 0) object = scene.Create<TZirkSlider>(nullptr, "");
        if (kind == 1) object = scene.Create<TZirkScrollbar>(nullptr, "");
        if (kind == 2) object = scene.Create<TZirkGauge>(nullptr, "");
        if (kind == 3) object = scene.Create<TZirkButton>(nullptr, "");
        if (kind == 4) object = scene.Create<TZirkMenu>(nullptr, "");
        object->LoadFromStream(stream, version);
        if (auto* m = dynamic_cast<TZirkMenu*>(object)) m->SetActive(TZirkMenu::kOpened);
        object->SetPropInt(PR_HANDLEKEY, 1);
        scene.SetFocus(object);
        // Frames of 16 ms while the pointer moves; a held key or button
        // lives through fewer, longer frames (repeats and countdowns still
        // come due), so a record costs about a hundred frames. Every frame
        // ticks; a frame paints where the look has something new to show
        // (hover, press, drag, the key's last step), about half of them.
        uint32_t clock = 0;
        auto step = [&](uint32_t ms, bool paint) {
          scene.SetSceneClock(clock += ms);
          scene.InputStep();
          scene.TickObjects();
          if (!paint) return;
          scene.RedrawAll();
          scene.Paint();
        };
        for (int32_t y = 1; y < 48; y += 20) {
          for (int32_t x = 2; x < 64; x += 19) {
            scene.InputMouseMove(x, y);
            step(16, true);
            scene.InputMouseDown(TMouseButton::Left, x, y);
            step(16, true);
            step(48, false);
            scene.InputMouseMove(x + 5, 47 - y);
            step(16, true);
            scene.InputMouseUp(TMouseButton::Left, x + 5, 47 - y);
            step(16, false);
          }
        }
        for (int32_t vk : {37, 38, 39, 40, 33, 34, 13, 32, 27}) {
          scene.InputKeyDown(vk);
          // Pressed, then past the repeat delay, then one repeat more.
          for (uint32_t ms : {16u, 300u, 80u}) step(ms, ms == 80u);
          scene.InputKeyUp(vk);
        }
        scene.InputMouseDown(TMouseButton::Right, 5, 5);
        for (int32_t held = 0; held < 5 && scene.Contains(object); ++held) step(80, true);
      });
}
