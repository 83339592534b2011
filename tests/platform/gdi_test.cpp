// Device contexts, raster operations and regions as the picture code uses
// them: mask building for map images, DIB conversion onto display buffers,
// transparent GIF frames through MaskBlt.

#include "platform/gdi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/regions.h"

namespace zirk::platform {
namespace {

// A buffer with its own storage.
struct Pixels {
  Pixels(int w, int h, int bits, uint32_t fill = 0) : width(w), height(h), bitCount(bits) {
    const int bpp = bits == 15 ? 16 : bits;
    pitch = ((w * bpp + 31) / 32) * 4;
    data.assign(size_t(pitch) * size_t(h), 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) WritePixelValue(view(), x, y, fill);
  }
  PixelBuffer view() {
    PixelBuffer b;
    b.bits = data.data();
    b.pitch = pitch, b.width = width, b.height = height, b.bitCount = bitCount;
    b.palette = palette.empty() ? nullptr : palette.data();
    b.paletteSize = int32_t(palette.size());
    return b;
  }
  uint32_t at(int x, int y) { return ReadPixelValue(view(), x, y); }
  std::string rowText(int y) {  // '#' for non-zero
    std::string s;
    for (int x = 0; x < width; ++x) s += at(x, y) ? '#' : '.';
    return s;
  }
  int width, height, bitCount, pitch;
  std::vector<uint8_t> data;
  std::vector<uint32_t> palette;
};

TEST(GdiRegions, HitTestsOfRectanglesEllipsesAndPolygons) {
  HRGN rect = CreateRectRgn(10, 20, 30, 40);
  HRGN ellipse = CreateEllipticRgn(0, 0, 20, 10);
  // A five-pointed star drawn in one stroke: its centre pentagon is wound
  // twice, so winding fill includes it and alternate fill leaves it out.
  const POINT star[] = {{50, 0}, {80, 90}, {5, 35}, {95, 35}, {20, 90}};
  HRGN wind = CreatePolygonRgn(star, 5, WINDING);
  HRGN alt = CreatePolygonRgn(star, 5, ALTERNATE);
  struct Case {
    const char* what;
    const HRGN& rgn;
    int x, y;
    bool in;
  } cases[] = {
      {"rect top-left corner", rect, 10, 20, true},
      {"rect right edge excluded", rect, 30, 25, false},
      {"rect bottom edge excluded", rect, 15, 40, false},
      {"rect last pixel", rect, 29, 39, true},
      {"ellipse centre", ellipse, 10, 5, true},
      {"ellipse corner", ellipse, 0, 0, false},
      {"ellipse far corner", ellipse, 19, 9, false},
      {"ellipse left end", ellipse, 0, 5, true},
      {"ellipse right end", ellipse, 19, 4, true},
      {"ellipse top", ellipse, 10, 0, true},
      {"star centre, winding", wind, 50, 45, true},
      {"star centre, alternate", alt, 50, 45, false},
      {"star top point, winding", wind, 50, 10, true},
      {"star top point, alternate", alt, 50, 10, true},
      {"star arm, alternate", alt, 15, 37, true},
      {"between arms", wind, 50, 85, false},
      {"outside", wind, 0, 0, false},
  };
  for (const Case& c : cases) EXPECT_EQ(PtInRegion(c.rgn, c.x, c.y), c.in) << c.what;
  // The ellipse is symmetric about both axes.
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(PtInRegion(ellipse, x, y), PtInRegion(ellipse, 19 - x, 9 - y)) << x << "," << y;
}

TEST(GdiRegions, BoxesKindsAndDeletion) {
  RECT box;
  HRGN rect = CreateRectRgn(30, 40, 10, 20);  // corners swapped
  EXPECT_EQ(GetRgnBox(rect, &box), SIMPLEREGION);
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.bottom, 40);
  HRGN ellipse = CreateEllipticRgn(0, 0, 20, 10);
  EXPECT_EQ(GetRgnBox(ellipse, &box), COMPLEXREGION);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.top, 0);
  EXPECT_EQ(box.right, 20);
  EXPECT_EQ(box.bottom, 10);
  HRGN empty = CreateRectRgn(5, 5, 5, 9);
  EXPECT_EQ(GetRgnBox(empty, &box), NULLREGION);
  const POINT line[] = {{0, 0}, {5, 5}};
  HRGN degenerate = CreatePolygonRgn(line, 2, WINDING);
  EXPECT_EQ(GetRgnBox(degenerate, &box), NULLREGION);
  EXPECT_FALSE(PtInRegion(degenerate, 0, 0));
  // Coordinates from a file are clamped instead of allocating without bound.
  HRGN huge = CreateRectRgn(0, -2000000000, 1, 2000000000);
  EXPECT_TRUE(PtInRegion(huge, 0, 30000));
  EXPECT_TRUE(DeleteObject(rect));
  EXPECT_FALSE(rect);
  EXPECT_FALSE(PtInRegion(rect, 15, 25));
  EXPECT_FALSE(DeleteObject(rect));
  EXPECT_EQ(GetRgnBox(rect, &box), RGN_ERROR);
}

TEST(GdiRaster, MapImageMaskSequence) {
  // The hovered-region mask of a map image: clear, paint the region white,
  // invert, then AND with the frame's own mask. Inside the region the
  // result is 0; outside it is the frame's mask.
  Pixels backup(6, 3, 8, 200), mask(6, 3, 8, 7);
  DeviceContext mdc(mask.view()), bdc(backup.view());
  SetDCBrushColor(&mdc, RGB(0, 0, 0));
  ASSERT_TRUE(PatBlt(&mdc, 0, 0, 6, 3, PATCOPY));
  EXPECT_EQ(mask.at(5, 2), 0u);
  SetDCBrushColor(&mdc, RGB(255, 255, 255));
  HRGN region = CreateRectRgn(1, 1, 3, 3);
  ASSERT_TRUE(PaintRgn(&mdc, region));
  EXPECT_EQ(mask.at(1, 1), 255u);
  ASSERT_TRUE(BitBlt(&mdc, 0, 0, 6, 3, nullptr, 0, 0, DSTINVERT));
  EXPECT_EQ(mask.at(1, 1), 0u);
  EXPECT_EQ(mask.at(0, 0), 255u);
  ASSERT_TRUE(BitBlt(&mdc, 0, 0, 6, 3, &bdc, 0, 0, SRCAND));
  EXPECT_EQ(mask.at(0, 0), 200u);
  EXPECT_EQ(mask.at(2, 2), 0u);
  EXPECT_EQ(mask.at(5, 1), 200u);
  // A source operation without a source does nothing.
  EXPECT_FALSE(BitBlt(&mdc, 0, 0, 6, 3, nullptr, 0, 0, SRCAND));
}

TEST(GdiRaster, RopTable) {
  // One destination 0xF0 combined with source 0xCC and brush level 0xAA.
  struct Case {
    const char* what;
    DWORD rop;
    uint32_t want;
  } cases[] = {
      {"SRCCOPY", SRCCOPY, 0xCC},       {"SRCAND", SRCAND, 0xC0},
      {"SRCPAINT", SRCPAINT, 0xFC},     {"SRCINVERT", SRCINVERT, 0x3C},
      {"NOTSRCCOPY", NOTSRCCOPY, 0x33}, {"DSTINVERT", DSTINVERT, 0x0F},
      {"PATCOPY", PATCOPY, 0xAA},       {"PATINVERT", PATINVERT, 0x5A},
      {"BLACKNESS", BLACKNESS, 0x00},   {"WHITENESS", WHITENESS, 0xFF},
      {"DSTCOPY", DSTCOPY, 0xF0},
  };
  for (const Case& c : cases) {
    Pixels dst(1, 1, 8, 0xF0), src(1, 1, 8, 0xCC);
    DeviceContext d(dst.view()), s(src.view());
    SetDCBrushColor(&d, RGB(0xAA, 0xAA, 0xAA));
    EXPECT_TRUE(BitBlt(&d, 0, 0, 1, 1, &s, 0, 0, c.rop)) << c.what;
    EXPECT_EQ(dst.at(0, 0), c.want) << c.what;
  }
}

TEST(GdiRaster, StretchDIBitsConvertsFormatsAndMirrors) {
  // 5-6-5, 5-5-5 and palette pixels onto a 32-bit buffer: channels widened
  // by repeating their top bits.
  Pixels p16(2, 1, 16), p15(2, 1, 15), p8(2, 1, 8), out(2, 1, 32);
  WritePixelValue(p16.view(), 0, 0, 0xF81F);  // 31, 0, 31
  WritePixelValue(p16.view(), 1, 0, 0x07E0);  // 0, 63, 0
  WritePixelValue(p15.view(), 0, 0, 0x4210);  // 16, 16, 16
  WritePixelValue(p15.view(), 1, 0, 0x0001);
  p8.palette.assign(256, 0);
  p8.palette[3] = 0x123456;
  WritePixelValue(p8.view(), 1, 0, 3);
  DeviceContext dc(out.view());
  struct Case {
    Pixels* src;
    uint32_t want0, want1;
  } cases[] = {{&p16, 0xFF00FF, 0x00FF00}, {&p15, 0x848484, 0x000008}, {&p8, 0x000000, 0x123456}};
  for (const Case& c : cases) {
    EXPECT_EQ(StretchDIBits(&dc, 0, 0, 2, 1, 0, 0, 2, 1, c.src->view(), SRCCOPY), 1);
    EXPECT_EQ(out.at(0, 0), c.want0) << c.src->bitCount;
    EXPECT_EQ(out.at(1, 0), c.want1) << c.src->bitCount;
  }
  // A negative destination width mirrors; a doubled width repeats pixels.
  Pixels wide(4, 1, 32);
  DeviceContext wdc(wide.view());
  StretchDIBits(&wdc, 4, 0, -4, 1, 0, 0, 2, 1, p16.view(), SRCCOPY);
  EXPECT_EQ(wide.at(0, 0), 0x00FF00u);
  EXPECT_EQ(wide.at(1, 0), 0x00FF00u);
  EXPECT_EQ(wide.at(3, 0), 0xFF00FFu);
  // Colours back from pixel values use the same widening.
  EXPECT_EQ(GetPixel(&dc, 1, 0), RGB(0x12, 0x34, 0x56));
  EXPECT_EQ(GetPixel(&dc, 2, 0), CLR_INVALID);
  // Reading past the source is refused pixel by pixel, not overrun.
  Pixels tiny(1, 1, 32, 0x111111), target(3, 1, 32, 0x999999);
  DeviceContext tdc(target.view());
  StretchDIBits(&tdc, 0, 0, 3, 1, 0, 0, 3, 1, tiny.view(), SRCCOPY);
  EXPECT_EQ(target.at(0, 0), 0x111111u);
  EXPECT_EQ(target.at(2, 0), 0x999999u);
}

TEST(GdiRaster, MaskBltCopiesThroughTheMaskAndStretchBltScales) {
  Pixels dst(4, 1, 32, 0x0000FF), src(4, 1, 32, 0x00FF00), mask(4, 1, 1);
  WritePixelValue(mask.view(), 1, 0, 1);
  WritePixelValue(mask.view(), 3, 0, 1);
  DeviceContext d(dst.view()), s(src.view());
  ASSERT_TRUE(MaskBlt(&d, 0, 0, 4, 1, &s, 0, 0, mask.view(), 0, 0, MAKEROP4(SRCCOPY, DSTCOPY)));
  EXPECT_EQ(dst.rowText(0), "####");
  EXPECT_EQ(dst.at(0, 0), 0x0000FFu);
  EXPECT_EQ(dst.at(1, 0), 0x00FF00u);
  EXPECT_EQ(dst.at(3, 0), 0x00FF00u);

  Pixels big(4, 4, 8), small(2, 2, 8);
  WritePixelValue(small.view(), 1, 1, 9);
  DeviceContext bd(big.view()), sd(small.view());
  ASSERT_TRUE(StretchBlt(&bd, 0, 0, 4, 4, &sd, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(big.rowText(1), "....");
  EXPECT_EQ(big.rowText(2), "..##");
  EXPECT_EQ(big.at(3, 3), 9u);
}

}  // namespace
}  // namespace zirk::platform
