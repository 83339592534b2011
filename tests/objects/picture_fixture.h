#pragma once
// Pictures for the image cache and the image objects: layered image files
// written into a temporary game folder, the program-wide cache installed
// over them, and a headless scene whose screen pixels a test can probe.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "objects/dorvcache.h"
#include "scene/zscene.h"
#include "support/picturewriter.h"
#include "support/testdata.h"
#include "surfaces/dibx.h"

namespace zirk::test {

// A 32-bit surface of the given colours (row-major, 0x00BBGGRR).
std::unique_ptr<TDIBX> makeSurface(int32_t width, int32_t height,
                                   const std::vector<uint32_t>& colors);
// An 8-bit mask surface of the given levels.
std::unique_ptr<TDIBX> makeMask(int32_t width, int32_t height, const std::vector<uint8_t>& levels);
// The colour (0x00BBGGRR) of a surface pixel.
uint32_t colorAt(const TCustomDIBX& surface, int32_t x, int32_t y);

class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void writePicture(const std::string& name, const std::vector<TestFrame>& frames);
  void writeSolid(const std::string& name, int32_t width, int32_t height, uint32_t color,
                  int32_t transparent = -1) {
    writePicture(name, {TestFrame{width, height, {}, color, transparent}});
  }

  TempDir dir;
  TVrFileManager files{dir.path().string()};
  TDorvCollection cache;
};

// An object of class Base that counts the invalidations of its children.
template <class Base>
class CountingParent : public Base {
 public:
  using Base::Base;
  void ChildInvalidated(TRect&) override { ++Invalidations; }
  int32_t Invalidations = 0;
};

// A 640 x 480 headless scene over the picture folder; screen 0's colour is
// the background every probe compares against.
class ScenePictureTest : public PictureTest {
 protected:
  static constexpr uint32_t kBackground = 0x404040;

  void SetUp() override;
  void TearDown() override;
  // One tick and a paint, as the main loop runs them.
  void frame();
  uint32_t screenColor(int32_t x, int32_t y) {
    return colorAt(*scene.GetBase(0)->BackSurface(), x, y);
  }

  TZirkBaseList scene;
};

}  // namespace zirk::test
