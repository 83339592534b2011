// Golden values of the blend arithmetic every drawing operation shares.

#include "surfaces/pixelmath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zirk::pixelmath {
namespace {

TEST(PixelMath, Div255RoundsHalvesUpOverTheWholeBlendRange) {
  for (uint32_t x = 0; x <= 255 * 255; ++x) {
    ASSERT_EQ(Div255(x), uint32_t(std::floor(x / 255.0 + 0.5))) << x;
  }
}

TEST(PixelMath, ChannelGoldenValues) {
  struct Case {
    const char* what;
    uint32_t got, want;
  } cases[] = {
      {"blend opacity 0 keeps the destination", BlendChannel(200, 17, 0), 17},
      {"blend opacity 255 is the source", BlendChannel(200, 17, 255), 200},
      {"blend 128 of white over black", BlendChannel(255, 0, 128), 128},
      {"blend 128 of black over white", BlendChannel(0, 255, 128), 127},
      {"blend 1 barely moves", BlendChannel(200, 100, 1), 100},
      {"blend 254 nearly the source", BlendChannel(200, 100, 254), 200},
      {"mask 255 passes the opacity", MaskedOpacity(255, 77), 77},
      {"mask 0 draws nothing", MaskedOpacity(0, 255), 0},
      {"mask 128 halves 255", MaskedOpacity(128, 255), 128},
      {"mask 128 of opacity 128", MaskedOpacity(128, 128), 64},
      {"add level 255 of 255 is 254", AddChannel(0, 255, 255), 254},
      {"add floors", AddChannel(10, 100, 128), 60},
      {"add saturates", AddChannel(200, 100, 255), 255},
      {"add level 0 adds nothing", AddChannel(33, 255, 0), 33},
      {"fill add saturates", SatAddChannel(250, 10), 255},
      {"fill sub clamps", SubChannel(5, 10), 0},
      {"fill sub", SubChannel(50, 10), 40},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(PixelMath, PackedOperationsAgreeWithTheChannelRules) {
  const uint32_t values[] = {0x000000, 0xFFFFFF,    0x123456,   0xFF8000,   0x00FF7F,   0x80FF01,
                             0x7F7F7F, 0xFF000000u, 0x80123456, 0x01FFFFFF, 0xFFFFFFFFu};
  const uint32_t levels[] = {0, 1, 64, 127, 128, 200, 254, 255};
  auto ch = [](uint32_t v, int shift) { return (v >> shift) & 0xFF; };
  for (uint32_t s : values) {
    for (uint32_t d : values) {
      for (uint32_t a : levels) {
        for (int shift : {0, 8, 16, 24}) {
          ASSERT_EQ(ch(Blend32(s, d, a), shift), BlendChannel(ch(s, shift), ch(d, shift), a));
          ASSERT_EQ(ch(Add32(d, s, a), shift), AddChannel(ch(d, shift), ch(s, shift), a));
        }
      }
      for (int shift : {0, 8, 16, 24}) {
        ASSERT_EQ(ch(SatAdd32(d, s), shift), SatAddChannel(ch(d, shift), ch(s, shift)));
        ASSERT_EQ(ch(Sub32(d, s), shift), SubChannel(ch(d, shift), ch(s, shift)));
      }
    }
  }
}

TEST(PixelMath, NearestSampleTakesThePixelUnderTheCentre) {
  struct Case {
    int n, m;
    std::vector<int> want;
  } cases[] = {
      {4, 2, {0, 0, 1, 1}},        // doubled
      {2, 4, {1, 3}},              // halved: the second of each pair
      {3, 2, {0, 1, 1}},           // 1.5 x: the middle goes to the nearer half
      {1, 5, {2}},                 // one pixel shows the middle
      {6, 4, {0, 1, 1, 2, 3, 3}},  // 1.5 x
  };
  for (const Case& c : cases) {
    for (int i = 0; i < c.n; ++i)
      EXPECT_EQ(NearestSample(i, c.n, c.m), c.want[size_t(i)]) << c.n << "/" << c.m << " at " << i;
  }
}

TEST(PixelMath, FloorDivisionAndPositiveRemainder) {
  EXPECT_EQ(FloorDiv(-1, 4), -1);
  EXPECT_EQ(FloorDiv(-4, 4), -1);
  EXPECT_EQ(FloorDiv(-5, 4), -2);
  EXPECT_EQ(FloorDiv(7, 4), 1);
  EXPECT_EQ(PosMod(-1, 4), 3);
  EXPECT_EQ(PosMod(-8, 4), 0);
  EXPECT_EQ(PosMod(9, 4), 1);
}

}  // namespace
}  // namespace zirk::pixelmath
