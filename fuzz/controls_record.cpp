// Saved records of sliders, scroll bars, gauges and image buttons read from
// untrusted bytes, then pressed, dragged, held, keyed, ticked and painted,
// so whatever range, value, bar size, state or countdown a damaged record
// holds reaches the geometry, the value arithmetic and the tiled draws.
// Records may name the strips "t.dor" and "u.dor" (with masks), written
// once for the run. The first byte picks the kind (bits 0-1) and the save
// version.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "imaging/dorvs.h"
#include "objects/button.h"
#include "objects/dorvcache.h"
#include "objects/gauge.h"
#include "objects/scrollbar.h"
#include "objects/slider.h"
#include "scene/zscene.h"
#include "surfaces/dibsfc.h"

namespace {

// The strips, in one folder for the whole run, removed at exit.
struct Pictures {
  Pictures() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zirk-ctlfuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
    write("t.dor", 24, 9);
    write("u.dor", 18, 6);
    files = std::make_unique<zirk::TVrFileManager>(path.string());
    zirk::TVrFileManager::SetGlobal(files.get());
  }
  ~Pictures() {
    zirk::TVrFileManager::SetGlobal(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
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
    list.SaveToFile((path / name).string());
  }
  std::filesystem::path path;
  std::unique_ptr<zirk::TVrFileManager> files;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  static Pictures pictures;
  if (size < 1) return 0;
  const int32_t kind = data[0] & 3;
  const int32_t version = 100 + (data[0] >> 2) % 40;
  TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
  TDorvCollection cache;
  SetImageCache(&cache);
  {
    TZirkBaseList scene(64, 48);
    scene.SetFrameInterval(16);
    try {
      TZirkControl* object = nullptr;
      if (kind == 0) object = scene.Create<TZirkSlider>(nullptr, "");
      if (kind == 1) object = scene.Create<TZirkScrollbar>(nullptr, "");
      if (kind == 2) object = scene.Create<TZirkGauge>(nullptr, "");
      if (kind == 3) object = scene.Create<TZirkButton>(nullptr, "");
      object->LoadFromStream(stream, version);
      object->SetPropInt(PR_HANDLEKEY, 1);
      scene.SetFocus(object);
      uint32_t clock = 0;
      auto step = [&] {
        scene.SetSceneClock(clock += 16);
        scene.InputStep();
        scene.TickObjects();
        scene.RedrawAll();
        scene.Paint();
      };
      for (int32_t y = 1; y < 48; y += 9) {
        for (int32_t x = 2; x < 64; x += 11) {
          scene.InputMouseMove(x, y);
          step();
          scene.InputMouseDown(TMouseButton::Left, x, y);
          step();
          for (int32_t held = 0; held < 4; ++held) step();
          scene.InputMouseMove(x + 5, 47 - y);
          step();
          scene.InputMouseUp(TMouseButton::Left, x + 5, 47 - y);
          step();
        }
      }
      for (int32_t vk : {37, 38, 39, 40, 13, 32}) {
        scene.InputKeyDown(vk);
        for (int32_t held = 0; held < 25; ++held) step();
        scene.InputKeyUp(vk);
      }
    } catch (const zirk::Exception&) {
    }
    scene.ClearObjects();
  }
  SetImageCache(nullptr);
  return 0;
}
