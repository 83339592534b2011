// Start-up's registrations: layered pictures that surfaces load, mask
// transitions and the image cache unscramble with the code of the project
// that is current when they load, not the one there was at start-up.

#include "app/startup.h"

#include <gtest/gtest.h>

#include "base/vrfiles.h"
#include "imaging/dorvs.h"
#include "imaging/maskwipe.h"
#include "objects/dorvcache.h"
#include "scene/zscene.h"
#include "script/imagecache.h"
#include "script/project.h"
#include "support/testdata.h"
#include "surfaces/dibsfc.h"

namespace zirk::test {
namespace {

constexpr uint8_t kLevels[] = {0, 64, 128, 255, 32, 96};

TEST(Startup, LoadersTakeTheProjectsIdentificationCode) {
  const int32_t code = 31;
  TempDir dir;
  {
    // One grey level per row, rows scrambled with the code.
    TDorvFrameList list(code);
    TDorvFrame* frame = list.AddFrame();
    frame->Image.SetSize(1, 6, 24);
    for (int32_t y = 0; y < 6; ++y) frame->Image.SetRawPixel(0, y, kLevels[y] * 0x010101u);
    list.SaveToFile((dir / "mask.dor").string());
  }
  TVrFileManager files(dir.path().string());
  TVrFileManager::SetGlobal(&files);
  RegisterPlayerModules();
  TProject project(code, "");
  SetCurrentProject(&project);

  TZirkBaseList scene;
  auto* wipe = dynamic_cast<TMaskWipe*>(scene.FlipScreensWithWipe(1, 5, 0, true, 0, 30));
  ASSERT_NE(wipe, nullptr);
  wipe->SetName("mask.dor");
  wipe->Prepare();
  ASSERT_TRUE(wipe->HasMask());

  TKwMemoryStream data;
  LoadFileToStream(data, "mask.dor");
  data.SetPosition(0);
  TDIBSurface surface;
  surface.LoadFromStream(data);
  ASSERT_EQ(surface.Height(), 6);

  TDorvCollection cache;
  SetImageCache(&cache);
  {
    TDorvLease item("mask.dor", false, false);
    const TCustomDIBX& cached = *item->Frame(0)->Surface;
    for (int32_t y = 0; y < 6; ++y) {
      EXPECT_EQ(wipe->MaskLevel(0, y), kLevels[y]) << "mask transition, row " << y;
      EXPECT_EQ(surface.GetRawPixel(0, y), kLevels[y] * 0x010101u) << "surface, row " << y;
      EXPECT_EQ(cached.GetPixel(0, y), kLevels[y] * 0x010101u) << "image cache, row " << y;
    }
  }
  SetImageCache(nullptr);
  SetCurrentProject(nullptr);
  TVrFileManager::SetGlobal(nullptr);
}

}  // namespace
}  // namespace zirk::test
