#include "picture_fixture.h"

#include "scene/runtime.h"
#include "script/imagecache.h"

namespace zirk::test {

std::unique_ptr<TDIBX> makeSurface(int32_t width, int32_t height,
                                   const std::vector<uint32_t>& colors) {
  auto s = std::make_unique<TDIBX>(width, height, 32);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t c = colors[static_cast<size_t>(y * width + x)];
      s->SetPixel(x, y, static_cast<uint32_t>(s->ColorToPixel(static_cast<int32_t>(c))));
    }
  }
  return s;
}

std::unique_ptr<TDIBX> makeMask(int32_t width, int32_t height, const std::vector<uint8_t>& levels) {
  auto m = std::make_unique<TDIBX>(width, height, 8);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x)
      m->SetPixel(x, y, levels[static_cast<size_t>(y * width + x)]);
  }
  return m;
}

uint32_t colorAt(const TCustomDIBX& surface, int32_t x, int32_t y) {
  return platform::PixelValueToColor(surface.Pixels(), surface.GetPixel(x, y)) & 0xFFFFFF;
}

void PictureTest::SetUp() {
  TVrFileManager::SetGlobal(&files);
  SetImageCache(&cache);
}

void PictureTest::TearDown() {
  SetImageCache(nullptr);
  TVrFileManager::SetGlobal(nullptr);
}

void PictureTest::writePicture(const std::string& name, const std::vector<TestFrame>& frames) {
  WritePicture(dir / name, frames);
  files.InvalidateCache();
}

void ScenePictureTest::SetUp() {
  PictureTest::SetUp();
  scene.SetColor(static_cast<int32_t>(kBackground));
  scene.Paint();
}

void ScenePictureTest::TearDown() {
  // The objects hand their pictures back while the cache is installed.
  scene.ClearObjects();
  PictureTest::TearDown();
}

void ScenePictureTest::frame() {
  scene.TickObjects();
  scene.Paint();
}

}  // namespace zirk::test
