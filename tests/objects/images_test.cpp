#include <gtest/gtest.h>

#include "objects/images.h"
#include "picture_fixture.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x00FF00;
constexpr uint32_t kBlue = 0xFF0000;

class ImagesTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    writePicture("rgb.dor", {TestFrame{10, 10, {}, kRed}, TestFrame{10, 10, {}, kGreen},
                             TestFrame{10, 10, {}, kBlue}});
    writePicture("two.dor", {TestFrame{10, 10, {}, kRed}, TestFrame{10, 10, {}, kGreen}});
  }
  void TearDown() override {
    GameTime().ElapsedTime = 0;
    ScenePictureTest::TearDown();
  }
  TZirkImages* images(const std::string& source) {
    auto* o = scene.Create<TZirkImages>(nullptr, "pics");
    o->SetPropStr(PR_SOURCE, source);
    return o;
  }
  void tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    frame();
  }
};

TEST_F(ImagesTest, FrameListAdvancesByDelaysAndNeverSkipsTheWrap) {
  TZirkImageList list;
  list.LoadImageFrames("rgb.dor", false);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Index(), 0);
  EXPECT_EQ(list.Delay(), 101);
  struct Step {
    uint32_t elapsed;
    bool changed;
    int32_t index, delay;
  };
  const Step steps[] = {{50, false, 0, 51},
                        {200, true, 2, 51},
                        {250, true, 0, 100},
                        {99, false, 0, 1},
                        {1, true, 1, 100}};
  for (const Step& s : steps) {
    EXPECT_EQ(list.AdvanceImageFrame(s.elapsed), s.changed) << s.elapsed;
    EXPECT_EQ(list.Index(), s.index);
    EXPECT_EQ(list.Delay(), s.delay);
  }
  list.SetFrameIndex(10);
  EXPECT_EQ(list.Index(), 2);
  EXPECT_EQ(list.Delay(), 101);
  EXPECT_EQ(list.GetImageData(3), nullptr);
  EXPECT_TRUE(cache.ItemAt(0)->InUse());
  list.Clear();
  EXPECT_FALSE(cache.ItemAt(0)->InUse());

  TZirkImageList one;
  writeSolid("one.dor", 2, 2, kRed);
  one.LoadImageFrames("one.dor", false);
  EXPECT_FALSE(one.AdvanceImageFrame(100000));
  EXPECT_EQ(one.Index(), 0);
}

TEST_F(ImagesTest, FrameBlitsFollowTheOwnersOpacityAndTilesFill) {
  TZirkImages* owner = images("rgb.dor");
  TZirkImageData* red = owner->GetImageList()->GetImageData(0);
  TCustomDIBX& screen = *scene.GetBase(0)->BackSurface();
  struct Case {
    int32_t alpha;
    uint32_t expected;  // at the blit's corner; kBackground: nothing drawn
  };
  const Case cases[] = {
      {0, kBackground}, {-3, kBackground}, {255, kRed}, {512, kBackground}, {600, kBackground},
  };
  for (const Case& c : cases) {
    screen.FillRect(screen.GetBoundsRect(), screen.ColorToPixel(kBackground));
    owner->SetPropInt(PR_ALPHA, c.alpha);
    red->Draw(*owner, 100, 100);
    EXPECT_EQ(colorAt(screen, 100, 100), c.expected) << c.alpha;
  }
  for (int32_t alpha : {128, 356}) {
    screen.FillRect(screen.GetBoundsRect(), screen.ColorToPixel(kBackground));
    owner->SetPropInt(PR_ALPHA, alpha);
    red->Draw(*owner, 100, 100);
    uint32_t c = colorAt(screen, 109, 109);
    EXPECT_GT(c & 0xFF, 0x40u) << alpha;
    EXPECT_LT(c & 0xFF, 0xFFu) << alpha;
    EXPECT_EQ(colorAt(screen, 110, 110), kBackground);
  }
  screen.FillRect(screen.GetBoundsRect(), screen.ColorToPixel(kBackground));
  red->DrawTiled(screen, Rect(5, 5, 40, 17), 255, false, false);
  EXPECT_EQ(colorAt(screen, 5, 5), kRed);
  EXPECT_EQ(colorAt(screen, 39, 16), kRed);
  EXPECT_EQ(colorAt(screen, 40, 16), kBackground);
  EXPECT_EQ(colorAt(screen, 39, 17), kBackground);
}

TEST_F(ImagesTest, AnimationShowsTheFrameOfTheElapsedTime) {
  struct Case {
    const char* source;
    std::vector<uint32_t> ticks;
    std::vector<uint32_t> colors;
  };
  const Case cases[] = {
      {"rgb.dor", {0, 250, 250}, {kRed, kBlue, kBlue}},
      // A frame shows for exactly its delay.
      {"rgb.dor", {0, 99, 1}, {kRed, kRed, kGreen}},
      // Two frames never carry an overshoot: one frame per long tick.
      {"two.dor", {0, 1000}, {kRed, kGreen}},
  };
  for (const Case& c : cases) {
    TZirkImages* o = images(c.source);
    for (size_t k = 0; k < c.ticks.size(); ++k) {
      tick(c.ticks[k]);
      EXPECT_EQ(screenColor(5, 5), c.colors[k]) << c.source << " step " << k;
    }
    o->Scrap();
    frame();
  }
}

TEST_F(ImagesTest, PlayEndIsPostedEveryTickUntilRepeatOrScrap) {
  TZirkImages* o = images("rgb.dor");
  o->SetPropStr(PR_ONPLAYEND, "*ended");
  EXPECT_TRUE(o->GetPropInt(PR_PLAYING));
  tick(250);  // frame 2, 51 ms left
  EXPECT_EQ(scene.Events().Count(), 0);
  tick(60);
  EXPECT_EQ(scene.Events().Count(), 1);
  EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONPLAYEND);
  EXPECT_EQ(scene.Events().Items(0).Label, "*ended");
  EXPECT_FALSE(o->GetPropInt(PR_PLAYING));
  tick(16);
  EXPECT_EQ(scene.Events().Count(), 2);
  // Repeat turned on at the end restarts from frame 0 on the next tick.
  o->SetPropInt(PR_REPEAT, 1);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 2);
  tick(16);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 0);
  EXPECT_EQ(screenColor(5, 5), kRed);
  EXPECT_EQ(scene.Events().Count(), 2);

  o->SetPropInt(PR_REPEAT, 0);
  o->SetPropInt(PR_AUTOSCRAP, 1);
  tick(1000);
  tick(1000);
  tick(1000);
  EXPECT_FALSE(scene.Contains(o));
  EXPECT_EQ(screenColor(5, 5), kBackground);
  EXPECT_EQ(cache.ItemAt(0)->OwnerCount(), 0);
}

TEST_F(ImagesTest, PausesStopTheAnimation) {
  TZirkImages* o = images("rgb.dor");
  o->SetPropInt(PR_PAUSED, 1);
  tick(250);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 0);
  EXPECT_FALSE(o->GetPropInt(PR_PLAYING));
  o->SetPropInt(PR_PAUSED, 0);
  o->SetPropInt(PR_ANIPAUSED, 1);
  tick(250);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 0);
  o->SetPropInt(PR_ANIPAUSED, 0);
  tick(150);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), 1);
}

TEST_F(ImagesTest, IndexSelectsShowsAndHides) {
  TZirkImages* o = images("rgb.dor");
  frame();
  EXPECT_EQ(o->GetPropInt(PR_COUNT), 3);
  o->SetPropInt(PR_INDEX, 2);
  frame();
  EXPECT_EQ(screenColor(5, 5), kBlue);
  o->SetPropInt(PR_INDEX, -1);
  tick(1000);
  EXPECT_EQ(screenColor(5, 5), kBackground);
  EXPECT_EQ(o->GetPropInt(PR_INDEX), -1);
  o->SetPropInt(PR_INDEX, 1);
  tick(0);
  EXPECT_EQ(screenColor(5, 5), kGreen);
}

TEST_F(ImagesTest, SourcesByExtension) {
  writeSolid("UPPER.DOR", 7, 3, kRed);
  TZirkImages* o = images("UPPER.DOR");
  frame();
  EXPECT_EQ(o->Width(), 7);
  EXPECT_EQ(o->Height(), 3);
  EXPECT_EQ(screenColor(1, 1), kRed);
  o->SetPropStr(PR_SOURCE, "picture.png");
  frame();
  EXPECT_EQ(o->Width(), 0);
  EXPECT_EQ(o->Height(), 0);
  EXPECT_EQ(screenColor(1, 1), kBackground);
  EXPECT_EQ(o->GetPropInt(PR_COUNT), 0);
  EXPECT_TRUE(HasExtension("a.Zmt", ".zmt"));
  EXPECT_FALSE(HasExtension("zmt", ".zmt"));
}

TEST_F(ImagesTest, BrightnessKeepsTransparentPixelsTransparent) {
  std::vector<uint32_t> colors(16, kRed);
  colors[0] = kBlue;  // the key
  writePicture("keyed.dor", {TestFrame{4, 4, colors, 0, static_cast<int32_t>(kBlue)}});
  TZirkImages* o = images("keyed.dor");
  o->SetPropInt(PR_BRIGHTNESS, -255);
  frame();
  EXPECT_EQ(screenColor(0, 0), kBackground);
  // Black, moved one unit off the darkened key.
  EXPECT_LE(screenColor(2, 2), 0x010000u);
  EXPECT_EQ(screenColor(2, 2) & 0xFEFEFE, 0u);
  o->SetPropInt(PR_BRIGHTNESS, 0);
  frame();
  EXPECT_EQ(screenColor(2, 2), kRed);
  o->SetPropInt(PR_BRIGHTNESS, 80);
  frame();
  EXPECT_EQ(screenColor(2, 2), 0x5050FFu);
  // A display change rebuilds the private copy.
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  scene.RedrawAll();
  frame();
  EXPECT_EQ(screenColor(2, 2), 0x5050FFu);
  EXPECT_EQ(screenColor(0, 0), kBackground);
}

TEST_F(ImagesTest, SaveRecordRestoresSourceIndexAndLabels) {
  TZirkImages* o = images("rgb.dor");
  o->SetPropInt(PR_INDEX, 1);
  o->SetPropInt(PR_REPEAT, 1);
  o->SetPropStr(PR_ONPLAYEND, "*end");
  o->SetPropStr(PR_ONIDLE, "*idle");
  o->SetPropInt(PR_BRIGHTNESS, -10);
  TKwMemoryStream s;
  o->SaveToStream(s);
  scene.FreeObject(o);
  s.SetPosition(0);
  auto* copy = scene.Create<TZirkImages>(nullptr, "");
  copy->LoadFromStream(s, SaveVersion);
  EXPECT_EQ(s.Remaining(), 0);
  EXPECT_EQ(copy->GetPropStr(PR_SOURCE), "rgb.dor");
  EXPECT_EQ(copy->GetPropInt(PR_INDEX), 1);
  EXPECT_EQ(copy->GetPropInt(PR_REPEAT), 1);
  EXPECT_EQ(copy->GetPropInt(PR_BRIGHTNESS), -10);
  EXPECT_EQ(copy->GetPropStr(PR_ONPLAYEND), "*end");
  EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
  EXPECT_NE(copy->GetBackSurface(), nullptr);
}

}  // namespace
}  // namespace zirk::test
