#include <gtest/gtest.h>

#include "objects/images.h"
#include "objects/wave.h"
#include "picture_fixture.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;

class WaveTest : public ScenePictureTest {
 protected:
  void TearDown() override {
    GameTime().ElapsedTime = 0;
    ScenePictureTest::TearDown();
  }
  TZirkWave* wave() {
    auto* w = scene.Create<TZirkWave>(nullptr, "");
    w->SetBounds(0, 0, 640, 100);
    return w;
  }
  void tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    frame();
  }
  // The first red pixel of a screen row, -1 when none.
  int32_t redStart(int32_t y) {
    for (int32_t x = 0; x < 640; ++x)
      if (screenColor(x, y) == kRed) return x;
    return -1;
  }
};

TEST_F(WaveTest, PhaseMovesBy256UnitsPerPeriodAndShiftsEachLine) {
  TZirkWave* w = wave();
  EXPECT_EQ(w->Amplitude(), 10);
  EXPECT_EQ(w->WaveLength(), 200);
  EXPECT_EQ(w->Period(), 2000);
  tick(16);  // 16 * 256 = 4096: two units, 96 left
  EXPECT_EQ(w->Phase(), 253);
  EXPECT_EQ(w->TimeRemainder(), 96);
  // Line i: 10 sin(2 pi (253 / 256 + i / 200)).
  const std::vector<int32_t>& off = w->Distortion().Offsets;
  ASSERT_EQ(off.size(), 100u);
  EXPECT_EQ(off[0], -1);   // -0.74
  EXPECT_EQ(off[3], 0);    // 0.21
  EXPECT_EQ(off[50], 10);  // 9.97
  EXPECT_EQ(off[25], 7);   // 6.54
  // The ripple moves toward higher lines.
  tick(2000);  // 256 units and the 96 left over: one more
  EXPECT_EQ(w->Phase(), 253 - 256 + 255);
  // Length 0 counts as 1: every line a whole period from the next.
  w->SetPropInt(PR_WAVELEN, 0);
  EXPECT_EQ(w->WaveLength(), 1);
  w->SetPropInt(PR_DELAY, -4);
  EXPECT_EQ(w->Period(), 1);
  tick(1);
  for (int32_t v : w->Distortion().Offsets) EXPECT_EQ(v, off[0]);
  w->SetPropInt(PR_ANIPAUSED, 1);
  const int32_t phase = w->Phase();
  tick(50);
  EXPECT_EQ(w->Phase(), phase);
  EXPECT_FALSE(w->GetPropInt(PR_PLAYING));
  // Lines past any screen keep no offsets.
  w->SetPropInt(PR_HEIGHT, 2000000000);
  EXPECT_EQ(w->Distortion().Offsets.size(), size_t(TZirkWave::kMaxLines));
}

TEST_F(WaveTest, ChildrenDrawShiftedLineByLine) {
  writeSolid("red.dor", 20, 40, kRed);
  TZirkWave* w = wave();
  auto* pic = scene.Create<TZirkImages>(w, "");
  pic->SetPropStr(PR_SOURCE, "red.dor");
  pic->SetPropInt(PR_LEFT, 100);
  pic->SetPropInt(PR_TOP, 10);
  tick(16);
  const std::vector<int32_t>& off = w->Distortion().Offsets;
  for (int32_t y = 10; y < 50; ++y) ASSERT_EQ(redStart(y), 100 + off[size_t(y)]) << y;
  // A negative amplitude mirrors the shifts; what the larger shift drew
  // before is cleared.
  w->SetPropInt(PR_AMP, -30);
  tick(16);
  for (int32_t y = 10; y < 50; ++y) {
    ASSERT_EQ(redStart(y), 100 + off[size_t(y)]) << y;
    ASSERT_EQ(screenColor(100 + off[size_t(y)] + 20, y), kBackground) << y;
  }
  // Amplitude 0: the children draw straight onto the screen.
  w->SetPropInt(PR_AMP, 0);
  EXPECT_EQ(w->GetDrawSurface(), scene.GetBase(0)->BackSurface());
  tick(16);
  for (int32_t y = 10; y < 50; ++y) ASSERT_EQ(redStart(y), 100) << y;
  for (int32_t y = 10; y < 50; ++y) ASSERT_EQ(screenColor(99, y), kBackground) << y;
}

TEST_F(WaveTest, ChildInvalidationsWidenByTheAmplitudeEitherSign) {
  writeSolid("red.dor", 20, 10, kRed);
  for (int32_t amp : {7, -7}) {
    TZirkWave* w = wave();
    w->SetPropInt(PR_AMP, amp);
    auto* pic = scene.Create<TZirkImages>(w, "");
    pic->SetPropStr(PR_SOURCE, "red.dor");
    pic->SetPropInt(PR_LEFT, 100);
    pic->SetPropInt(PR_TOP, 10);
    frame();
    scene.GetBase(0)->ClearDirtyRects();
    pic->Invalidate();
    ASSERT_EQ(scene.GetBase(0)->DirtyRects().size(), 1u) << amp;
    // The picture covers 100..120; its lines may land 7 either way.
    const TRect r = scene.GetBase(0)->DirtyRects()[0];
    EXPECT_TRUE(r.Left <= 93 && r.Right >= 127 && r.Top == 10 && r.Bottom == 20) << amp;
    scene.FreeObject(w);
  }
}

TEST_F(WaveTest, SaveRecordRoundTripAndDamagedDivisors) {
  TZirkWave* w = wave();
  w->SetPropInt(PR_AMP, -4);
  w->SetPropInt(PR_WAVELEN, 64);
  w->SetPropInt(PR_DELAY, 500);
  w->SetPropStr(PR_ONIDLE, "*idle");
  TKwMemoryStream saved;
  w->SaveToStream(saved);
  scene.FreeObject(w);
  saved.SetPosition(0);
  auto* copy = scene.Create<TZirkWave>(nullptr, "");
  copy->LoadFromStream(saved, SaveVersion);
  EXPECT_EQ(saved.Remaining(), 0);
  EXPECT_EQ(copy->Amplitude(), -4);
  EXPECT_EQ(copy->WaveLength(), 64);
  EXPECT_EQ(copy->Period(), 500);
  EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), "*idle");
  EXPECT_EQ(copy->Distortion().Offsets.size(), 100u);
  scene.FreeObject(copy);

  // The record ends with length, period, an idle label of 5 bytes and the
  // paused byte: a damaged 0 in either divisor loads as 1.
  std::string bytes(reinterpret_cast<const char*>(saved.Memory()), size_t(saved.Size()));
  const size_t tail = bytes.size() - (4 + 4 + 4 + 5 + 1);
  bytes.replace(tail, 8, std::string(8, '\0'));
  TKwMemoryStream damaged;
  damaged.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  damaged.SetPosition(0);
  copy = scene.Create<TZirkWave>(nullptr, "");
  copy->LoadFromStream(damaged, SaveVersion);
  EXPECT_EQ(copy->WaveLength(), 1);
  EXPECT_EQ(copy->Period(), 1);
  tick(16);
  EXPECT_EQ(copy->Phase(), (0 - 16 * 256 % 255 + 255) % 255);
}

}  // namespace
}  // namespace zirk::test
