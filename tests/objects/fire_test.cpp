#include <gtest/gtest.h>

#include "objects/fire.h"
#include "picture_fixture.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

class FireTest : public ScenePictureTest {
 protected:
  void TearDown() override {
    GameTime().ElapsedTime = 0;
    ScenePictureTest::TearDown();
  }
  TZirkFire* fire(int32_t width, int32_t height, int32_t zoom = 256) {
    auto* f = scene.Create<TZirkFire>(nullptr, "");
    f->Random().Seed(7);
    f->SetPropInt(PR_ORIGWIDTH, width);
    f->SetPropInt(PR_ORIGHEIGHT, height);
    f->SetPropInt(PR_ZOOMX, zoom);
    f->SetPropInt(PR_ZOOMY, zoom);
    return f;
  }
  void tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    frame();
  }
  static uint32_t checksum(const TCustomDIBX& s) {
    uint32_t h = 2166136261u;
    for (int32_t y = 0; y < s.Height(); ++y)
      for (int32_t x = 0; x < s.Width(); ++x) h = (h ^ s.GetPixel(x, y)) * 16777619u;
    return h;
  }
};

TEST(FireTables, DecayFollowsThePowerAndColoursRunThroughTheirRows) {
  TZirkBaseList scene;
  TZirkFire f(scene);
  struct Case {
    const char* what;
    int32_t power;  // -1: as created
    int32_t storedPower;
    std::vector<std::pair<int, int>> entries;
  };
  const Case cases[] = {
      {"as created: parameter 4.5", -1, 1, {{0, 0}, {500, 111}, {1020, 227}}},
      // Setting the power it already reads keeps the table of 4.5.
      {"same power again", 1, 1, {{500, 111}, {1020, 227}}},
      {"power 0: parameter 5.5", 0, 0, {{500, 91}, {1020, 185}}},
      {"power 255: parameter 2.945, capped at 254", 255, 255, {{500, 170}, {1020, 254}}},
      {"power 300 is 255", 300, 255, {{500, 170}, {1020, 254}}},
      {"power -5 is 0", -5, 0, {{500, 91}}},
  };
  for (const Case& c : cases) {
    if (c.power != -1) f.SetPropInt(PR_POWER, c.power);
    EXPECT_EQ(f.GetPropInt(PR_POWER), c.storedPower) << c.what;
    for (auto [i, want] : c.entries)
      EXPECT_EQ(f.DecayTable()[size_t(i)], want) << c.what << " " << i;
  }

  const auto& t32 = TZirkFire::ColorTable32();
  const auto& t16 = TZirkFire::ColorTable16();
  for (auto [heat, want] : {std::pair{0, 0x000000u},
                            {16, 0x331301u},
                            {64, 0x923E04u},
                            {128, 0xDF7509u},
                            {255, 0xFFE6AFu},
                            {8, 0x1A0A00u},
                            {240, 0xFFDD92u}})
    EXPECT_EQ(t32[size_t(heat)], want) << heat;
  for (auto [heat, want] :
       {std::pair{16, 0x3080u}, {64, 0x91E0u}, {128, 0xDBA1u}, {192, 0xFE06u}, {255, 0xFF35u}})
    EXPECT_EQ(t16[size_t(heat)], want) << heat;
}

TEST_F(FireTest, ShownSizeFollowsBaseAndZoom) {
  auto* f = scene.Create<TZirkFire>(nullptr, "");
  f->SetPropInt(PR_ORIGWIDTH, 160);
  f->SetPropInt(PR_ORIGHEIGHT, 30);
  // Never zoomed: nothing is shown.
  EXPECT_EQ(f->GetPropInt(PR_WIDTH), 0);
  f->SetPropInt(PR_ZOOMX, 1024);
  f->SetPropInt(PR_ZOOMY, 384);
  EXPECT_EQ(f->GetPropInt(PR_WIDTH), 640);
  EXPECT_EQ(f->GetPropInt(PR_HEIGHT), 45);
  f->SetPropInt(PR_WIDTH, 5);  // ignored
  EXPECT_EQ(f->GetPropInt(PR_WIDTH), 640);
  f->SetPropInt(PR_ZOOMX, 0);
  EXPECT_EQ(f->GetPropInt(PR_ZOOMX), 1);
  f->SetPropInt(PR_ZOOMX, 100);
  f->SetPropInt(PR_ORIGWIDTH, -3);
  EXPECT_EQ(f->GetPropInt(PR_WIDTH), -1);  // -300 / 256 toward zero
  EXPECT_EQ(f->GetPropInt(PR_COMPOTYPE), LT_FIRE);
}

TEST_F(FireTest, StepsOncePerFortyMsOfGameTime) {
  TZirkFire* f = fire(16, 12);
  tick(500);  // the first tick builds the simulation only
  EXPECT_EQ(f->TimeStore(), 0);
  EXPECT_EQ(f->HeatSurface().GetPixel(5, 11), TZirkFire::kColdHeat);
  tick(70);  // one step at most, the rest kept
  EXPECT_EQ(f->TimeStore(), 30);
  EXPECT_EQ(f->HeatSurface().GetPixel(5, 11), 254u);
  const uint32_t once = checksum(f->HeatSurface());
  tick(9);
  EXPECT_EQ(checksum(f->HeatSurface()), once);
  tick(1);
  EXPECT_NE(checksum(f->HeatSurface()), once);
  EXPECT_EQ(f->TimeStore(), 0);
  f->SetPropInt(PR_ANIPAUSED, 1);
  tick(100);
  EXPECT_EQ(f->TimeStore(), 0);
  EXPECT_FALSE(f->GetPropInt(PR_PLAYING));
  f->SetPropInt(PR_ANIPAUSED, 0);
  // A new base size starts again from a cold surface.
  f->SetPropInt(PR_ORIGHEIGHT, 10);
  tick(40);
  EXPECT_EQ(f->HeatSurface().Height(), 10);
  EXPECT_EQ(f->HeatSurface().GetPixel(5, 9), TZirkFire::kColdHeat);
}

TEST_F(FireTest, OneStepWorkedByHand) {
  TZirkFire* f = fire(3, 5);
  tick(0);
  f->Step();
  TEffectRandom r(7);  // the seed's noise field, row by row
  uint32_t n[15];
  for (uint32_t& v : n) v = uint32_t(r.Int(9));
  // Rows 1..4 burn at 254. The middle of rows 0..2 takes the decayed sum of its
  // neighbours (778 -> 173, 1016 -> 226 at 4.5) less the noise at column 1 of
  // row y + 2, the row offset having moved one on.
  const uint32_t want[5][3] = {
      {16, 173 - n[7], 16}, {254, 226 - n[10], 254}, {254, 226 - n[13], 254}, {254, 254, 254}};
  for (int32_t i = 0; i < 15; ++i)
    EXPECT_EQ(f->HeatSurface().GetPixel(i % 3, i / 3), i < 12 ? want[i / 3][i % 3] : 254u) << i;
}

TEST_F(FireTest, SeededFlameIsTheSameEveryRun) {
  TZirkFire* f = fire(64, 48);
  f->SetPropInt(PR_POWER, 128);
  tick(0);
  for (int i = 0; i < 100; ++i) f->Step();
  const TCustomDIBX& h = f->HeatSurface();
  EXPECT_EQ(checksum(h), 3652411606u);
  for (int32_t y = 0; y < 48; ++y) {
    EXPECT_EQ(h.GetPixel(0, y), y >= 44 ? 254u : 16u) << y;
    for (int32_t x = 0; x < 64; ++x) ASSERT_GE(h.GetPixel(x, y), 16u) << x << "," << y;
  }
  // The flame rises: the row above the burning floor is hot.
  EXPECT_GT(h.GetPixel(32, 43), 150u);
  // A width past 256 cells indexes its noise by whole column numbers.
  TZirkFire* wide = fire(300, 300);
  tick(0);
  for (int i = 0; i < 20; ++i) wide->Step();
  EXPECT_GT(wide->HeatSurface().GetPixel(290, 290), 16u);
}

TEST_F(FireTest, DrawsItsHeatAddedThroughTheTable) {
  TZirkFire* f = fire(8, 8);
  f->SetPropInt(PR_LEFT, 100);
  f->SetPropInt(PR_TOP, 50);
  tick(0);
  tick(40);
  const uint32_t hot = TZirkFire::ColorTable32()[254];
  auto added = [](uint32_t bg, uint32_t add) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
      uint32_t c = ((bg >> shift) & 0xFF) + (((add >> shift) & 0xFF) * 255 >> 8);
      out |= std::min(c, 255u) << shift;
    }
    return out;
  };
  // Colours read back as 0x00BBGGRR; the table holds 0x00RRGGBB.
  auto bgr = [](uint32_t rgb) { return (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF); };
  EXPECT_EQ(screenColor(103, 57), added(kBackground, bgr(hot)));
  EXPECT_EQ(screenColor(103, 50), kBackground);  // cold cells add nothing
  EXPECT_EQ(screenColor(108, 57), kBackground);
  // Zoomed, the same heat covers twice the width.
  f->SetPropInt(PR_ZOOMX, 512);
  frame();
  EXPECT_EQ(screenColor(115, 57), added(kBackground, bgr(hot)));
  EXPECT_EQ(screenColor(116, 57), kBackground);
}

TEST_F(FireTest, SaveRecordRoundTrip) {
  TZirkFire* f = fire(40, 20, 512);
  f->SetPropInt(PR_POWER, 200);
  f->SetPropInt(PR_ZOOMY, 300);
  f->SetPropStr(PR_ONIDLE, "*idle");
  f->SetPropInt(PR_PAUSED, 1);
  TKwMemoryStream saved;
  f->SaveToStream(saved);
  const auto table = f->DecayTable();
  scene.FreeObject(f);
  saved.SetPosition(0);
  auto* copy = scene.Create<TZirkFire>(nullptr, "");
  copy->LoadFromStream(saved, SaveVersion);
  EXPECT_EQ(saved.Remaining(), 0);
  EXPECT_EQ(copy->GetPropInt(PR_POWER), 200);
  EXPECT_EQ(copy->DecayTable(), table);
  EXPECT_EQ(copy->GetPropInt(PR_ORIGWIDTH), 40);
  EXPECT_EQ(copy->GetPropInt(PR_ZOOMX), 512);
  EXPECT_EQ(copy->GetPropInt(PR_ZOOMY), 300);
  EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
  EXPECT_EQ(copy->GetPropInt(PR_PAUSED), 1);
  // The simulation starts again from a cold surface of the loaded size.
  copy->SetPropInt(PR_PAUSED, 0);
  tick(0);
  EXPECT_EQ(copy->HeatSurface().Width(), 40);
  EXPECT_EQ(copy->HeatSurface().GetPixel(3, 19), TZirkFire::kColdHeat);
}

}  // namespace
}  // namespace zirk::test
