#include <gtest/gtest.h>

#include "objects/tile.h"
#include "picture_fixture.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;

// A 64 x 4 picture: columns 0..31 red, 32..63 blue.
class TileTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    std::vector<uint32_t> halves(64 * 4);
    for (size_t i = 0; i < halves.size(); ++i) halves[i] = i % 64 < 32 ? kRed : kBlue;
    writePicture("halves.dor", {TestFrame{64, 4, halves}});
  }
  TZirkTile* tile(int32_t width, int32_t height) {
    auto* t = scene.Create<TZirkTile>(nullptr, "tile");
    t->SetPropStr(PR_SOURCE, "halves.dor");
    t->SetBounds(0, 10, width, height);
    return t;
  }
  // The row y = 10 as 'r', 'b' and '.' (background).
  std::string row(int32_t width) {
    std::string s;
    for (int32_t x = 0; x < width; ++x) {
      uint32_t c = screenColor(x, 10);
      s += c == kRed ? 'r' : c == kBlue ? 'b' : c == kBackground ? '.' : '?';
    }
    return s;
  }
  static std::string pattern(int32_t width, int32_t step, int32_t scroll, int32_t red = 32) {
    std::string s;
    for (int32_t x = 0; x < width; ++x) {
      int32_t c = ((x + scroll) % step + step) % step;
      s += c < red ? 'r' : 'b';
    }
    return s;
  }
};

TEST_F(TileTest, SpacingScrollAndTheirDrawPaths) {
  struct Case {
    const char* what;
    int32_t distance, scroll;
    bool drawRects;
    std::string expected;
  };
  const Case cases[] = {
      {"plain", 0, 0, false, pattern(160, 64, 0)},
      {"below half the picture: no spacing", 31, 0, false, pattern(160, 64, 0)},
      // Copies every 32 pixels overlap; the later copy's red half lies on top.
      {"spaced", 32, 0, false, std::string(160, 'r')},
      {"scrolled back by one", 0, -1, false, pattern(160, 64, -1)},
      {"scrolled by a whole step", 0, 64, false, pattern(160, 64, 0)},
      {"spaced wider", 80, 0, false,
       [] {
         std::string s;
         for (int x = 0; x < 160; ++x) s += x % 80 < 32 ? 'r' : x % 80 < 64 ? 'b' : '.';
         return s;
       }()},
      {"draw rectangles, scrolled back", 80, -1, true,
       [] {
         std::string s;
         for (int x = 0; x < 160; ++x) {
           int c = (x + 79) % 80;
           s += c < 32 ? 'r' : c < 64 ? 'b' : '.';
         }
         return s;
       }()},
      {"draw rectangles, spaced", 80, 0, true,
       [] {
         std::string s;
         for (int x = 0; x < 160; ++x) s += x % 80 < 32 ? 'r' : x % 80 < 64 ? 'b' : '.';
         return s;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TZirkTile* t = tile(160, 4);
    t->SetPropInt(PR_DISTANCEX, c.distance);
    t->SetPropInt(PR_SCROLLX, c.scroll);
    if (c.drawRects) t->GetBackSurface()->Rects1 = {Rect(0, 0, 64, 4)};
    // Stale pixels that a gap would keep if the tile claimed to cover it.
    scene.GetBase(0)->BackSurface()->FillRect(Rect(0, 10, 160, 14), 0x123456);
    frame();
    EXPECT_EQ(row(170), c.expected + std::string(10, '.'));
    if (c.drawRects) t->GetBackSurface()->Rects1.clear();
    t->Scrap();
    frame();
  }
}

TEST_F(TileTest, SourceKeepsTheSizeAndOtherExtensionsShowNothing) {
  TZirkTile* t = tile(100, 4);
  frame();
  EXPECT_EQ(t->Width(), 100);
  EXPECT_EQ(t->GetPropInt(PR_REPEAT), 1);
  EXPECT_EQ(t->GetPropInt(PR_COUNT), 1);
  t->SetPropStr(PR_SOURCE, "picture.bmp");
  frame();
  EXPECT_EQ(t->Width(), 100);
  EXPECT_EQ(row(100), std::string(100, '.'));
  EXPECT_FALSE(cache.ItemAt(0) && cache.ItemAt(0)->InUse());
}

TEST_F(TileTest, FlipsZoomAndTheParentsScroll) {
  TZirkTile* t = tile(128, 4);
  t->SetPropInt(PR_FLIPH, 1);
  frame();
  EXPECT_EQ(screenColor(0, 10), kBlue);
  EXPECT_EQ(screenColor(63, 10), kRed);
  t->SetPropInt(PR_FLIPH, 0);
  t->SetPropInt(PR_ZOOMX, 512);
  frame();
  EXPECT_EQ(t->Width(), 128);  // the tile keeps the size it was given
  EXPECT_EQ(screenColor(63, 10), kRed);
  EXPECT_EQ(screenColor(64, 10), kBlue);

  auto* inner = scene.Create<TZirkTile>(t, "inner");
  inner->SetPropStr(PR_SOURCE, "halves.dor");
  inner->SetBounds(5, 0, 10, 2);
  t->SetPropInt(PR_SCROLLX, 3);
  EXPECT_EQ(inner->GetDrawLeft(), 2);
  EXPECT_EQ(inner->GetDrawTop(), 10);
}

TEST_F(TileTest, AnimatedTilesLoop) {
  std::vector<uint32_t> red(16, kRed), blue(16, kBlue);
  writePicture("anim.dor", {TestFrame{4, 4, red, 0, -1, 100}, TestFrame{4, 4, blue, 0, -1, 100}});
  auto* t = scene.Create<TZirkTile>(nullptr, "anim");
  t->SetPropStr(PR_SOURCE, "anim.dor");
  t->SetBounds(0, 10, 8, 4);
  const uint32_t shown[] = {kRed, kBlue, kRed, kBlue};
  for (uint32_t color : shown) {
    frame();
    EXPECT_EQ(screenColor(6, 11), color);
    GameTime().ElapsedTime = 100;
  }
  GameTime().ElapsedTime = 0;
}

TEST_F(TileTest, SaveRecordRoundTrip) {
  TZirkTile* t = tile(90, 4);
  t->SetPropInt(PR_SCROLLX, -7);
  t->SetPropInt(PR_SCROLLY, 2);
  t->SetPropInt(PR_DISTANCEX, 70);
  t->SetPropStr(PR_ONIDLE, "*idle");
  frame();
  const std::string before = row(100);
  TKwMemoryStream s;
  t->SaveToStream(s);
  scene.FreeObject(t);
  frame();
  s.SetPosition(0);
  auto* copy = scene.Create<TZirkTile>(nullptr, "");
  copy->LoadFromStream(s, SaveVersion);
  EXPECT_EQ(s.Remaining(), 0);
  EXPECT_EQ(copy->GetPropInt(PR_SCROLLX), -7);
  EXPECT_EQ(copy->GetPropInt(PR_DISTANCEX), 70);
  EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
  frame();
  EXPECT_EQ(row(100), before);
}

TEST_F(TileTest, LoadingKeepsTheSavedFrameAndTheTimeItHadLeft) {
  std::vector<uint32_t> red(16, kRed), blue(16, kBlue);
  writePicture("anim.dor", {TestFrame{4, 4, red, 0, -1, 100}, TestFrame{4, 4, blue, 0, -1, 100}});
  struct Case {
    std::vector<uint32_t> played;  // the ticks before the save, ms
    int32_t index, left;
  };
  for (const Case& c : {Case{{0}, 0, 100}, Case{{70}, 0, 30}, Case{{100, 60}, 1, 40}}) {
    auto* t = scene.Create<TZirkTile>(nullptr, "");
    t->SetPropStr(PR_SOURCE, "anim.dor");
    t->SetBounds(0, 10, 8, 4);
    t->SetPropInt(PR_SCROLLX, 3);
    for (uint32_t ms : c.played) {
      GameTime().ElapsedTime = ms;
      frame();
    }
    GameTime().ElapsedTime = 0;
    ASSERT_EQ(t->Index(), c.index) << c.index << c.left;
    ASSERT_EQ(t->DelayCounter(), c.left) << c.index << c.left;
    TKwMemoryStream s;
    t->SaveToStream(s);
    scene.FreeObject(t);
    s.SetPosition(0);
    auto* copy = scene.Create<TZirkTile>(nullptr, "");
    copy->LoadFromStream(s, SaveVersion);
    EXPECT_EQ(copy->Index(), c.index) << c.index << c.left;
    EXPECT_EQ(copy->DelayCounter(), c.left) << c.index << c.left;
    EXPECT_EQ(copy->ScrollX(), 3) << c.index << c.left;
    scene.FreeObject(copy);
  }
}

}  // namespace
}  // namespace zirk::test
