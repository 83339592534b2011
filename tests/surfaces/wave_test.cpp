// The wave surface forwards each line of a draw to its target, shifted by
// that line's offset.

#include "surfaces/wave.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace zirk {
namespace {

constexpr uint32_t kBg = 0x000000;

// One character per pixel: '.' background, otherwise the low digit of red.
std::string line(const TCustomDIBX& s, int y) {
  std::string out;
  for (int x = 0; x < s.Width(); ++x) {
    const uint32_t v = s.GetPixel(x, y);
    out += v == kBg ? '.' : char('0' + ((v >> 16) % 10));
  }
  return out;
}

TEST(DIBXWave, ShiftsEveryLineOfEveryKindOfDraw) {
  TDIBX screen(8, 4, 32), src(2, 4, 32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 2; ++x) src.SetPixel(x, y, uint32_t(x + 1) << 16);
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(8, 3, 0);
  wave.TopOrigin = 1;  // target line 1 uses entry 0; line 0 and line 4+ are unshifted
  wave.Offsets = {1, -1, 2};
  wave.SetClipRect(screen.GetBoundsRect());
  struct Case {
    const char* what;
    std::function<void()> draw;
    const char* want[4];
  } cases[] = {
      {"draw",
       [&] { wave.Draw(2, 0, src, src.GetBoundsRect(), false, false, false); },
       {"..12....", "...12...", ".12.....", "....12.."}},
      {"stretch",
       [&] {
         wave.StretchDraw(Rect(2, 0, 6, 4), src, src.GetBoundsRect(), false, false, false, 255);
       },
       {"..1122..", "...1122.", ".1122...", "....1122"}},
      {"fill",
       [&] { wave.FillRect(Rect(0, 0, 2, 4), 0x070000); },
       {"77......", ".77.....", "7.......", "..77...."}},
      {"tile",
       [&] {
         wave.TileDraw(Rect(0, 0, 8, 4), src, src.GetBoundsRect(), 0, 0, false, false, false);
       },
       {"12121212", ".1212121", "2121212.", "..121212"}},
  };
  for (const Case& c : cases) {
    screen.FillRect(screen.GetBoundsRect(), kBg);
    c.draw();
    for (int y = 0; y < 4; ++y) EXPECT_EQ(line(screen, y), c.want[y]) << c.what << " line " << y;
  }
}

TEST(DIBXWave, BlendsWithTheTargetAndRespectsClips) {
  TDIBX screen(4, 2, 32), src(1, 1, 32);
  screen.FillRect(screen.GetBoundsRect(), 0x202020);
  src.FillRect(src.GetBoundsRect(), 0xA0A0A0);
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(4, 2, 0);
  wave.Offsets = {3, 0};
  wave.DrawAdd(0, 0, src, src.GetBoundsRect(), false, false, false, 128);
  EXPECT_EQ(screen.GetPixel(3, 0), 0x707070u);
  EXPECT_EQ(screen.GetPixel(0, 0), 0x202020u);
  // The wave's clip cuts what is shifted past it; the target's clip holds too.
  wave.SetClipRect(Rect(0, 0, 3, 2));
  screen.FillRect(screen.GetBoundsRect(), 0x202020);
  EXPECT_FALSE(wave.Draw(0, 0, src, src.GetBoundsRect(), false, false, false));
  EXPECT_EQ(screen.GetPixel(3, 0), 0x202020u);
  screen.SetClipRect(Rect(0, 1, 4, 2));
  wave.SetClipRect(screen.GetBoundsRect());
  EXPECT_FALSE(wave.FillRect(Rect(0, 0, 4, 1), 0x111111));
  // Without a target nothing is drawn and nothing breaks.
  TDIBXWave idle;
  EXPECT_FALSE(idle.FillRect(Rect(0, 0, 4, 4), 1));
  EXPECT_EQ(idle.ColorToPixel(0x00332211), 0x112233);
}

TEST(DIBXWave, HugeClipsVisitOnlyTheTargetsLines) {
  // The wave's clip is not bound to any surface: a script may make it
  // billions of lines tall. Only the target's lines are worth a visit (the
  // test's time limit is the check), and they are drawn as before.
  TDIBX screen(4, 3, 32), src(1, 1, 32);
  src.FillRect(src.GetBoundsRect(), 0x050000);
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(4, 3, 0);
  wave.Offsets = {0, 2, 1};
  wave.SetClipRect(Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
  EXPECT_TRUE(wave.StretchDraw(Rect(0, -1000000000, 1, 1000000000), src, src.GetBoundsRect(), false,
                               false, false, 255));
  EXPECT_EQ(line(screen, 0), "5...");
  EXPECT_EQ(line(screen, 1), "..5.");
  EXPECT_EQ(line(screen, 2), ".5..");
  screen.FillRect(screen.GetBoundsRect(), kBg);
  screen.SetClipRect(Rect(0, 1, 4, 2));
  EXPECT_TRUE(wave.FillRect(Rect(0, -1000000000, 1, 1000000000), 0x070000));
  EXPECT_EQ(line(screen, 0), "....");
  EXPECT_EQ(line(screen, 1), "..7.");
  EXPECT_EQ(line(screen, 2), "....");
}

TEST(DIBXWave, SpacedTilesUnderAHugeClipShiftEveryLine) {
  // A spaced tile over a vast area through a wave whose clip spans billions
  // of lines: only copies the screen can show are visited, and each line is
  // the plain tiling moved by its offset.
  TDIBX src(3, 2, 32);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) src.SetPixel(x, y, uint32_t(x + 3 * y + 1) << 16);
  const int32_t offsets[6] = {2, -3, 0, 5, -1, 1};
  constexpr int32_t kFar = 1000000000, kPad = 8;
  auto tile = [&](TCustomDIBX& to, int32_t dx) {
    to.TileDrawOffset(Rect(-kFar + dx, -kFar, kFar + dx, kFar), src, src.GetBoundsRect(), 4, 3, 256,
                      200, true, false, false, 200, 1, 2);
  };
  TDIBX screen(12, 6, 32), plain(12 + 2 * kPad, 6, 32);
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(12, 6, 0);
  wave.Offsets.assign(std::begin(offsets), std::end(offsets));
  wave.SetClipRect(Rect(-1500000000, -1500000000, 1500000000, 1500000000));
  tile(wave, 0);
  tile(plain, kPad);  // plain column x + kPad holds the tiling's column x
  int drawn = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 12; ++x) {
      ASSERT_EQ(screen.GetPixel(x, y), plain.GetPixel(x - offsets[y] + kPad, y)) << x << "," << y;
      drawn += screen.GetPixel(x, y) != kBg;
    }
  EXPECT_GT(drawn, 20);
}

TEST(DIBXWave, ExtremeOffsetsShiftOnlyTheirOwnLine) {
  // A line pushed past the int32 edge draws nothing; the lines after it
  // are shifted by their own offsets as if it had not been there.
  TDIBX screen(4, 3, 32);
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(4, 3, 0);
  wave.Offsets = {INT32_MIN, 0, 3};
  EXPECT_TRUE(wave.FillRect(Rect(-5, 0, 1000, 3), 0x070000));
  EXPECT_EQ(line(screen, 0), "....");
  EXPECT_EQ(line(screen, 1), "7777");
  EXPECT_EQ(line(screen, 2), "7777");
}

TEST(DIBXWave, ReadsAnEightBitTargetOncePerDraw) {
  // An 8-bit target rebuilds its colour table each time its pixels are
  // read; a draw of many lines reads them once, and every line still lands
  // shifted and clipped to the target.
  struct CountingTarget : TDIBX {
    using TDIBX::TDIBX;
    platform::PixelBuffer Pixels() const override {
      ++reads;
      return TDIBX::Pixels();
    }
    mutable int reads = 0;
  } screen(6, 40, 8);
  screen.SetClipRect(Rect(0, 0, 6, 39));
  TDIBXWave wave;
  wave.Target = &screen;
  wave.SetSize(6, 40, 0);
  for (size_t i = 0; i < wave.Offsets.size(); ++i) wave.Offsets[i] = int32_t(i % 3) - 1;
  screen.reads = 0;
  EXPECT_TRUE(wave.FillRect(Rect(2, -10, 4, 100), 9));
  EXPECT_EQ(screen.reads, 1);
  for (int y = 0; y < 40; ++y) {
    const int shift = y % 3 - 1;
    for (int x = 0; x < 6; ++x) {
      const bool in = y < 39 && x >= 2 + shift && x < 4 + shift;
      ASSERT_EQ(screen.GetPixel(x, y), in ? 9u : 0u) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace zirk
