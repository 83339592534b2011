// The image object: pictures set through PR_SOURCE (with their key and
// mask, darkened by PR_BRIGHTNESS), frames lent by a track, surfaces around
// a display change, and the save record.

#include <gtest/gtest.h>

#include <filesystem>

#include "objects/image.h"
#include "objects/picturestate.h"
#include "picture_fixture.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

class ImageTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    // Red with a green (keyed) pixel at (1, 0); 3 x 2.
    writePicture(
        "key.dor",
        {TestFrame{
            3, 2, {kRed, kGreen, kRed, kRed, kRed, kWhite}, 0, static_cast<int32_t>(kGreen)}});
  }
  TZirkImage* image(const std::string& source, int32_t left = 10, int32_t top = 10) {
    auto* object = scene.Create<TZirkImage>(nullptr, "");
    object->SetPropInt(PR_LEFT, left);
    object->SetPropInt(PR_TOP, top);
    object->SetPropStr(PR_SOURCE, source);
    frame();
    return object;
  }
};

TEST_F(ImageTest, SourceIsCopiedWithItsKeyAndTheItemIsReleased) {
  TZirkImage* object = image("key.dor");
  EXPECT_EQ(object->Width(), 3);
  EXPECT_EQ(object->Height(), 2);
  EXPECT_EQ(object->GetPropInt(PR_ORIGWIDTH), 3) << "the own surface holds the whole frame";
  EXPECT_EQ(screenColor(10, 10), kRed);
  EXPECT_EQ(screenColor(11, 10), kBackground) << "the key stays transparent";
  EXPECT_EQ(screenColor(12, 11), kWhite);
  EXPECT_EQ(object->TransparentColor(), static_cast<int32_t>(kGreen));
  TDorvItem* item = cache.Find("key.dor");
  ASSERT_NE(item, nullptr);
  EXPECT_FALSE(item->InUse());
  EXPECT_TRUE(cache.IsIdle(item));

  // An alpha plane comes along as the own mask.
  writePicture("alpha.dor", {TestFrame{2, 1, {}, kBlue, -1, 100, {0, 255}}});
  object->SetPropStr(PR_SOURCE, "alpha.dor");
  frame();
  EXPECT_EQ(screenColor(10, 10), kBackground);
  EXPECT_EQ(screenColor(11, 10), kBlue);
  EXPECT_EQ(screenColor(12, 11), kBackground) << "the old picture is gone";
}

TEST_F(ImageTest, BrightnessDarkensAndKeepsTheKey) {
  TZirkImage* object = image("key.dor");
  struct Case {
    int32_t set, stored;
    uint32_t red;
  } cases[] = {{128, 128, 0x000080}, {300, 255, kRed}, {-5, 0, 0x000000}, {255, 255, kRed}};
  for (const Case& c : cases) {
    object->SetPropInt(PR_BRIGHTNESS, c.set);
    frame();
    EXPECT_EQ(object->Brightness(), c.stored) << c.set;
    EXPECT_EQ(screenColor(11, 10), kBackground) << c.set;
    if (c.red == 0) {
      EXPECT_LE(screenColor(10, 10), 0x010000u) << "black where the picture was";
    } else {
      EXPECT_EQ(screenColor(10, 10), c.red) << c.set;
    }
  }
}

TEST_F(ImageTest, SameSourceDoesNotReload) {
  TZirkImage* object = image("key.dor");
  PurgeDorvItem("key.dor");
  writeSolid("key.dor", 3, 2, kBlue);
  object->SetPropStr(PR_SOURCE, "key.dor");
  frame();
  EXPECT_EQ(screenColor(10, 10), kRed);
  EXPECT_EQ(cache.Count(), 0);
  object->SetPropStr(PR_SOURCE, "");
  frame();
  EXPECT_EQ(object->Width(), 0);
  EXPECT_EQ(screenColor(10, 10), kBackground);
  object->SetPropStr(PR_SOURCE, "key.dor");
  frame();
  EXPECT_EQ(screenColor(10, 10), kBlue);
}

TEST_F(ImageTest, SourcesWithoutAPictureShowNothing) {
  writePicture("empty.dor", {});
  for (const char* source : {"empty.dor", "missing.dor"}) {
    TZirkImage* object = image("key.dor");
    object->SetPropStr(PR_SOURCE, source);
    frame();
    EXPECT_EQ(object->Width(), 0) << source;
    EXPECT_EQ(screenColor(10, 10), kBackground) << source;
    EXPECT_EQ(object->HitTest({10, 10}, kAllMouseMask), nullptr) << source;
    scene.FreeObject(object);
  }
}

TEST_F(ImageTest, ADamagedSourceReachesTheCallerAndLeavesNothingHeld) {
  writeFile(dir / "bad.dor", std::string("Dorv106 damaged"));
  files.InvalidateCache();
  TZirkImage* object = image("key.dor");
  EXPECT_ANY_THROW(object->SetPropStr(PR_SOURCE, "bad.dor"));
  EXPECT_EQ(cache.Find("bad.dor"), nullptr);
  for (int32_t i = 0; i < cache.Count(); ++i) EXPECT_FALSE(cache.ItemAt(i)->InUse());
}

TEST_F(ImageTest, TrackFramesAreLentAndAStillFrameCostsNoRedraw) {
  auto* object = scene.Create<TZirkImage>(nullptr, "");
  auto lent = makeSurface(2, 2, {kRed, kGreen, kBlue, kWhite});
  lent->SetColorKey(lent->ColorToPixel(kWhite));  // as the cache keys its frames
  TPictureState f;
  f.Surface = lent.get();
  f.TransparentColor = static_cast<int32_t>(kWhite);
  f.Width = f.Height = 2;
  f.SizeWhileUnzoomed = true;
  f.X = 40;
  f.Y = 30;
  f.Alpha = 255;
  f.Clip = Rect(0, 0, 200, 200);
  ApplyPictureState(*object, f);
  frame();
  EXPECT_EQ(object->Width(), 2);
  EXPECT_EQ(object->TransparentColor(), static_cast<int32_t>(kWhite));
  EXPECT_EQ(screenColor(40, 30), kRed);
  EXPECT_EQ(screenColor(41, 31), kBackground);
  EXPECT_EQ(object->GetPropInt(PR_CLIPWIDTH), 200);

  ApplyPictureState(*object, f);
  EXPECT_TRUE(scene.GetBase(0)->DirtyRects().empty());

  f.FlipH = true;
  f.ZoomX = 512;
  ApplyPictureState(*object, f);
  frame();
  EXPECT_EQ(object->Width(), 4);
  EXPECT_EQ(screenColor(40, 30), kGreen);

  // Around a display change the lent frame is not replaced by a load.
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(object->Width(), 4);
}

TEST_F(ImageTest, OwnCopyIsRebuiltAfterADisplayChange) {
  TZirkImage* object = image("key.dor");
  object->SetPropInt(PR_BRIGHTNESS, 128);
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  frame();
  EXPECT_EQ(screenColor(10, 10), 0x000080u);
  EXPECT_EQ(screenColor(11, 10), kBackground);
  EXPECT_FALSE(cache.Find("key.dor")->InUse());
}

TEST_F(ImageTest, SaveRecordRoundTrip) {
  TZirkImage* object = image("key.dor", 60, 70);
  object->SetPropInt(PR_BRIGHTNESS, 128);
  object->SetPropInt(PR_ZOOMX, 512);
  frame();
  TKwMemoryStream record;
  object->SaveToStream(record);
  scene.FreeObject(object);
  frame();
  EXPECT_EQ(screenColor(60, 70), kBackground);

  record.SetPosition(0);
  auto* loaded = scene.Create<TZirkImage>(nullptr, "");
  loaded->LoadFromStream(record, SaveVersion);
  EXPECT_EQ(record.Position(), record.Size());
  frame();
  EXPECT_EQ(loaded->Source(), "key.dor");
  EXPECT_EQ(loaded->Brightness(), 128);
  EXPECT_EQ(loaded->Width(), 6);
  EXPECT_EQ(screenColor(61, 70), 0x000080u);
  EXPECT_EQ(screenColor(62, 70), kBackground);
}

}  // namespace
}  // namespace zirk::test
