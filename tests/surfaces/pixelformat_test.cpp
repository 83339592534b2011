#include "surfaces/pixelformat.h"

#include <gtest/gtest.h>

#include "base/exceptions.h"
#include "platform/gdi.h"

namespace zirk {
namespace {

TEST(PixelFormat, LayoutsAndChannelExpansion) {
  EXPECT_EQ(MakeDIBPixelFormat(5, 5, 5), kPixelFormat555);
  EXPECT_EQ(MakeDIBPixelFormat(5, 6, 5), kPixelFormat565);
  EXPECT_EQ(MakeDIBPixelFormat(8, 8, 8), kPixelFormat888);
  EXPECT_EQ(kPixelFormat565.RMask(), 0xF800u);
  EXPECT_EQ(kPixelFormat555.GMask(), 0x03E0u);
  EXPECT_THROW(MakeDIBPixelFormat(0, 8, 8), Exception);
  EXPECT_THROW(MakeDIBPixelFormat(8, 9, 8), Exception);

  struct Case {
    uint32_t value;
    int bits;
    uint8_t expanded;
  } cases[] = {{0, 5, 0},    {31, 5, 255}, {16, 5, 132}, {1, 5, 8},   {63, 6, 255},
               {32, 6, 130}, {1, 1, 255},  {5, 3, 182},  {9, 4, 153}, {200, 8, 200}};
  for (const Case& c : cases) {
    EXPECT_EQ(ExpandChannel(c.value, c.bits), c.expanded) << c.value << "/" << c.bits;
  }
}

TEST(PixelFormat, EveryPackedValueSurvivesExpansionAndPacking) {
  for (const TDIBPixelFormat& f : {kPixelFormat555, kPixelFormat565}) {
    for (uint32_t p = 0; p < 65536; ++p) {
      uint32_t value = p & (f.RMask() | f.GMask() | f.BMask());
      ASSERT_EQ(ColorToLayoutPixel(f, LayoutPixelToColor(f, value)), value);
    }
  }
  EXPECT_EQ(PackDIBPixel(kPixelFormat888, 0x12, 0x34, 0x56), 0x123456u);
  EXPECT_EQ(PackDIBPixel(kPixelFormat565, 255, 255, 255), 0xFFFFu);
  EXPECT_EQ(PackDIBPixel(kPixelFormat555, 255, 0, 0), 0x7C00u);
  EXPECT_EQ(LayoutPixelToColor(kPixelFormat888, 0x123456), RGBColor(0x12, 0x34, 0x56));
}

// The device-context stand-ins widen channels on their own (they sit below
// this layer); both must widen exactly alike.
TEST(PixelFormat, DeviceContextsWidenChannelsAlike) {
  for (uint32_t v = 0; v < 32; ++v) ASSERT_EQ(Expand5To8(v), platform::Expand5(v)) << v;
  for (uint32_t v = 0; v < 64; ++v) ASSERT_EQ(Expand6To8(v), platform::Expand6(v)) << v;
}

}  // namespace
}  // namespace zirk
