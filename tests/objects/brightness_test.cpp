// Brightness copies of pictures with and without a colour key.

#include <gtest/gtest.h>

#include "objects/brightness.h"
#include "picture_fixture.h"

namespace zirk::test {
namespace {

uint32_t drawnOver(const TCustomDIBX& picture, int32_t x, int32_t y, uint32_t background) {
  TDIBX target(picture.Width(), picture.Height(), 32);
  target.FillRect(target.GetBoundsRect(), static_cast<uint32_t>(target.ColorToPixel(background)));
  target.Draw(0, 0, picture, picture.GetBoundsRect(), false, false, picture.ColorKey() != -1);
  return colorAt(target, x, y);
}

TEST(BrightnessTest, ChannelsMoveClampedAndTheCopyIsComplete) {
  auto source = makeSurface(2, 1, {0x10C080, 0xF0F0F0});
  source->Rects1 = {Rect(0, 0, 1, 1)};
  struct Case {
    int32_t offset;
    uint32_t first, second;
  } cases[] = {
      {0, 0x10C080, 0xF0F0F0},    {-100, 0x005C1C, 0x8C8C8C}, {100, 0x74FFE4, 0xFFFFFF},
      {-255, 0x000000, 0x000000}, {-999, 0x000000, 0x000000}, {999, 0xFFFFFF, 0xFFFFFF},
  };
  for (const Case& c : cases) {
    TDIBX copy(1, 1, 32);
    CopyWithBrightness(copy, *source, c.offset);
    ASSERT_EQ(copy.Width(), 2) << "the copy takes the picture's size";
    EXPECT_EQ(colorAt(copy, 0, 0), c.first) << c.offset;
    EXPECT_EQ(colorAt(copy, 1, 0), c.second) << c.offset;
    EXPECT_EQ(copy.ColorKey(), -1);
    EXPECT_EQ(copy.Rects1, source->Rects1);
  }
}

TEST(BrightnessTest, KeyedPicturesKeepTheirHolesAndNothingElseBecomesOne) {
  const uint32_t bg = 0x00FF00;
  struct Case {
    const char* what;
    uint32_t key, pixel;
    int32_t offset;
  } cases[] = {
      {"darkened onto the key", 0x0A0A0A, 0x050505, -20},
      {"brightened onto the key", 0xFAFAFA, 0xF0F0F0, 20},
      {"full darkening", 0x3366CC, 0xFFFFFF, -255},
      {"ordinary darkening", 0x808080, 0x404040, -16},
  };
  for (const Case& c : cases) {
    auto source = makeSurface(2, 1, {c.key, c.pixel});
    source->SetColorKey(source->ColorToPixel(static_cast<int32_t>(c.key)));
    TDIBX copy;
    CopyWithBrightness(copy, *source, c.offset);
    EXPECT_NE(copy.ColorKey(), -1) << c.what;
    EXPECT_EQ(drawnOver(copy, 0, 0, bg), bg) << c.what << ": the key stays transparent";
    const uint32_t shown = drawnOver(copy, 1, 0, bg);
    EXPECT_NE(shown, bg) << c.what << ": the pixel stays visible";
    // At most one unit away from the plain adjustment.
    TDIBX plain(2, 1, 32);
    plain.CopyFrom(*source);
    const int32_t v = c.offset < 0 ? -c.offset : c.offset;
    const auto grey = static_cast<uint32_t>(plain.ColorToPixel(v | (v << 8) | (v << 16)));
    if (c.offset < 0) {
      plain.FillRectSub(plain.GetBoundsRect(), grey);
    } else {
      plain.FillRectAdd(plain.GetBoundsRect(), grey);
    }
    const uint32_t expected = colorAt(plain, 1, 0);
    EXPECT_EQ((shown ^ expected) & ~0x010000u, 0u) << c.what;
  }
  // Full darkening leaves black where the picture was.
  auto source = makeSurface(2, 1, {0x3366CC, 0xFFFFFF});
  source->SetColorKey(source->ColorToPixel(0x3366CC));
  TDIBX copy;
  CopyWithBrightness(copy, *source, -255);
  EXPECT_LE(drawnOver(copy, 1, 0, 0x00FF00), 0x010000u);
}

}  // namespace
}  // namespace zirk::test
