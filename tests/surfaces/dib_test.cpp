#include "surfaces/dib.h"
#include "surfaces/dibsfc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/streams.h"

namespace zirk {
namespace {

const int kAllBitCounts[] = {1, 4, 8, 15, 16, 24, 32};

// Writes a distinct pattern of colours every format can hold exactly:
// channels 0 and 255 (even 1 bit keeps black and white).
void paintBlackWhite(TDIB& dib) {
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x)
      dib.SetRawPixel(x, y, dib.ColorToPixel((x + 2 * y) % 3 ? 0xFFFFFF : 0));
}

// Sixteen colours whose channels survive 5- and 6-bit packing.
std::vector<uint32_t> sixteenColors() {
  std::vector<uint8_t> levels;
  for (int v = 0; v < 256; ++v) {
    bool five = ExpandChannel(v >> 3, 5) == v, six = ExpandChannel(v >> 2, 6) == v;
    if (five && six) levels.push_back(static_cast<uint8_t>(v));
  }
  std::vector<uint32_t> colors;
  for (size_t i = 0; colors.size() < 16; ++i) {
    colors.push_back(RGBColor(levels[i % levels.size()], levels[(i * 3 + 1) % levels.size()],
                              levels[(i * 7 + 2) % levels.size()]));
  }
  return colors;
}

std::vector<uint32_t> colorsOf(const TDIB& dib) {
  std::vector<uint32_t> out;
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x) out.push_back(dib.GetCanvas().GetPixel(x, y));
  return out;
}

std::vector<uint32_t> rawOf(const TDIB& dib) {
  std::vector<uint32_t> out;
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x) out.push_back(dib.GetRawPixel(x, y));
  return out;
}

TEST(DIB, SizeRowsAndLayouts) {
  struct Case {
    int width, bitCount, storage, rowBytes;
    TDIBPixelFormat format;
  } cases[] = {{1, 1, 1, 4, kPixelFormat888},    {33, 1, 1, 8, kPixelFormat888},
               {9, 4, 4, 8, kPixelFormat888},    {5, 8, 8, 8, kPixelFormat888},
               {3, 15, 16, 8, kPixelFormat555},  {3, 16, 16, 8, kPixelFormat565},
               {3, 24, 24, 12, kPixelFormat888}, {5, 32, 32, 20, kPixelFormat888}};
  for (const Case& c : cases) {
    TDIB dib(c.width, 3, c.bitCount);
    EXPECT_EQ(dib.BitCount(), c.storage) << c.bitCount;
    EXPECT_EQ(dib.RowBytes(), c.rowBytes) << c.width << "@" << c.bitCount;
    EXPECT_EQ(dib.PixelFormat(), c.format);
    EXPECT_EQ(dib.SizeImage(), int64_t{c.rowBytes} * 3);
    EXPECT_EQ(dib.GetBits(), dib.ScanLine(0));
    EXPECT_EQ(DIBScanLine(dib, 2) - DIBScanLine(dib, 1), dib.RowStep());
  }
  TDIB sixteen(1, 1, 16);
  sixteen.SetPixelFormat(MakeDIBPixelFormat(5, 5, 5));
  EXPECT_TRUE(sixteen.Is555());
  sixteen.SetPixelFormat(kPixelFormat888);  // ignored: 16 bits cannot hold it
  EXPECT_TRUE(sixteen.Is555());
  TDIB plane(1, 1, 32);
  plane.SetPixelFormat(MakeDIBPixelFormat(8, 8, 8));  // fixed at 32 bits: nothing changes
  plane.SetSize(2, 2, 8);
  EXPECT_EQ(plane.BitCount(), 8);

  TDIB pal(1, 1, 4);
  pal.SetPalette({ColorToQuad(RGBColor(1, 2, 3)), ColorToQuad(RGBColor(4, 5, 6))});
  ASSERT_EQ(pal.GetPalette().size(), 16u);
  EXPECT_EQ(QuadToColor(pal.GetPalette()[1]), RGBColor(4, 5, 6));
  EXPECT_TRUE(TDIB(1, 1, 24).GetPalette().empty());

  TDIB dib(4, 0, 8);
  EXPECT_TRUE(dib.GetEmpty());
  EXPECT_EQ(dib.GetBits(), nullptr);
  EXPECT_THROW(dib.SetSize(4, 4, 12), EInvalidGraphicOperation);
  EXPECT_THROW(dib.SetSize(-1, 4, 8), EOutOfResources);
  EXPECT_THROW(dib.SetSize(100000, 4, 8), EOutOfResources);
  EXPECT_THROW(dib.SetSize(30000, 30000, 32), EOutOfResources);
  EXPECT_THROW(dib.ScanLine(0), EInvalidGraphicOperation);
}

TEST(DIB, RawPixelsOfEveryBitCountStayInTheirBits) {
  for (int bits : kAllBitCounts) {
    TDIB dib(9, 2, bits);
    uint32_t max = bits == 32 ? 0xFFFFFFFFu : (1u << std::min(dib.BitCount(), 31)) - 1;
    std::vector<uint32_t> expected;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 9; ++x) {
        uint32_t v = (x * 0x9E3779B1u + y * 0x7F4A7C15u) & max;
        DIBSetPixel(dib, x, y, v);
        expected.push_back(v);
      }
    EXPECT_EQ(rawOf(dib), expected) << bits;
    EXPECT_EQ(DIBGetPixel(dib, 9, 0), 0u);
    DIBSetPixel(dib, -1, 0, 1);  // ignored
    EXPECT_EQ(rawOf(dib), expected) << bits;
  }
  // Row 0 is the top row, and sub-byte pixels start at the high bits.
  TDIB one(8, 2, 1);
  DIBSetPixel(one, 0, 0, 1);
  EXPECT_EQ(one.ScanLine(0)[0], 0x80);
  EXPECT_EQ(one.ScanLine(1)[0], 0);
  TDIB four(2, 1, 4);
  DIBSetPixel(four, 1, 0, 0xA);
  EXPECT_EQ(four.ScanLine(0)[0], 0x0A);
}

TEST(DIB, CanvasReadsColoursThroughTheOneExpansion) {
  TDIB pal(2, 1, 8);
  pal.ColorTable()[7] = TRGBQuad{0x30, 0x20, 0x10, 0};
  pal.UpdatePalette();
  DIBSetPixel(pal, 1, 0, 7);
  EXPECT_EQ(pal.GetCanvas().GetPixel(1, 0), RGBColor(0x10, 0x20, 0x30));
  EXPECT_EQ(pal.GetCanvas().GetPixel(2, 0), CLR_INVALID);
  EXPECT_EQ(pal.GetCanvas().GetPixel(0, -1), CLR_INVALID);

  struct Case {
    int bits;
    uint32_t raw, color;
  } cases[] = {
      {15, 0x7C00, RGBColor(255, 0, 0)},          {15, 0x0210, RGBColor(0, 132, 132)},
      {16, 0x07E0, RGBColor(0, 255, 0)},          {16, 0x0400, RGBColor(0, 130, 0)},
      {24, 0x123456, RGBColor(0x12, 0x34, 0x56)}, {32, 0xAB123456, RGBColor(0x12, 0x34, 0x56)}};
  for (const Case& c : cases) {
    TDIB dib(1, 1, c.bits);
    DIBSetPixel(dib, 0, 0, c.raw);
    EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), c.color) << c.bits << " " << c.raw;
  }
}

// A key pixel of an 8-, 15- or 16-bit picture, read as a colour and turned
// into a 32-bit key, must equal what the key pixels become on conversion to
// 32 bits, or keyed pixels would show.
TEST(DIB, KeyPixelsMatchTheConvertedKeyAtEveryValue) {
  for (int bits : {8, 15, 16}) {
    TDIB dib(256, bits == 8 ? 1 : 256, bits);
    for (int i = 0; i < 256; ++i)
      dib.ColorTable()[i] = TRGBQuad{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i),
                                     static_cast<uint8_t>(i * 13), 0};
    for (int y = 0; y < dib.Height(); ++y)
      for (int x = 0; x < 256; ++x) DIBSetPixel(dib, x, y, static_cast<uint32_t>(y * 256 + x));
    TDIB display;
    display.Assign(dib);
    display.SetBitCount(32);
    for (int y = 0; y < dib.Height(); ++y)
      for (int x = 0; x < 256; ++x) {
        uint32_t keyColor = dib.GetCanvas().GetPixel(x, y);
        ASSERT_EQ(display.ColorToPixel(keyColor), display.GetRawPixel(x, y) & 0xFFFFFF)
            << bits << " bits at " << x << "," << y;
      }
  }
}

TEST(DIB, SetBitCountRoundTripsBetweenEveryPair) {
  for (int from : kAllBitCounts) {
    for (int to : kAllBitCounts) {
      TDIB dib(7, 3, from);
      dib.ColorTable()[0] = ColorToQuad(0);
      dib.ColorTable()[1] = ColorToQuad(0xFFFFFF);
      paintBlackWhite(dib);
      std::vector<uint32_t> colors = colorsOf(dib), raw = rawOf(dib);
      dib.SetBitCount(to);
      EXPECT_EQ(SurfaceBitCount(dib), to == 15 ? 15 : to);
      EXPECT_EQ(colorsOf(dib), colors) << from << " -> " << to;
      dib.SetBitCount(from);
      EXPECT_EQ(colorsOf(dib), colors) << from << " -> " << to << " -> " << from;
      EXPECT_EQ(rawOf(dib), raw) << from << " -> " << to << " -> " << from;
    }
  }
  // Sixteen colours survive every format from 4 bits up.
  std::vector<uint32_t> sixteen = sixteenColors();
  for (int from : {4, 8, 15, 16, 24, 32}) {
    for (int to : {4, 8, 15, 16, 24, 32}) {
      TDIB dib(16, 2, 24);
      for (int x = 0; x < 16; ++x) {
        dib.SetRawPixel(x, 0, dib.ColorToPixel(sixteen[x]));
        dib.SetRawPixel(x, 1, dib.ColorToPixel(sixteen[15 - x]));
      }
      dib.SetBitCount(from);
      std::vector<uint32_t> colors = colorsOf(dib);
      dib.SetBitCount(to);
      dib.SetBitCount(from);
      EXPECT_EQ(colorsOf(dib), colors) << from << " -> " << to << " -> " << from;
    }
  }
}

TEST(DIB, GoingDownWithManyColoursPicksNearestEntries) {
  TDIB dib(300, 1, 24);
  for (int x = 0; x < 300; ++x)
    dib.SetRawPixel(x, 0, PackDIBPixel(kPixelFormat888, x % 256, x / 2, 40));
  dib.SetRawPixel(0, 0, PackDIBPixel(kPixelFormat888, 255, 0, 0));
  dib.SetRawPixel(1, 0, PackDIBPixel(kPixelFormat888, 250, 5, 3));
  dib.SetBitCount(8);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(dib.GetCanvas().GetPixel(1, 0), RGBColor(255, 0, 0));
  dib.SetBitCount(1);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0, 0, 0));
}

TEST(DIB, NearestPaletteIndexTakesFirstSmallestDistance) {
  TRGBQuad entries[] = {ColorToQuad(RGBColor(10, 10, 10)), ColorToQuad(RGBColor(0, 0, 30)),
                        ColorToQuad(RGBColor(30, 0, 0)), ColorToQuad(RGBColor(30, 0, 0))};
  EXPECT_EQ(NearestPaletteIndex(entries, 4, RGBColor(30, 0, 0)), 2);
  EXPECT_EQ(NearestPaletteIndex(entries, 4, RGBColor(0, 0, 0)), 0);  // 30 vs 30 vs 30: first
  EXPECT_EQ(NearestPaletteIndex(entries, 4, RGBColor(255, 0, 0)), 2);
  EXPECT_EQ(NearestPaletteIndex(entries, 0, RGBColor(255, 0, 0)), 0);
}

TEST(DIB, SetWidthAndHeightKeepThePixelsThatRemain) {
  TDIB grown;
  grown.SetWidth(5);  // still empty, but the width is kept for the height to come
  EXPECT_TRUE(grown.GetEmpty());
  grown.SetHeight(3);
  EXPECT_EQ(grown.Width(), 5);
  EXPECT_EQ(grown.Height(), 3);
  EXPECT_FALSE(grown.GetEmpty());

  for (int bits : {1, 4, 8, 24}) {
    TDIB dib(5, 4, bits);
    dib.ColorTable()[1] = ColorToQuad(0xFFFFFF);
    paintBlackWhite(dib);
    std::vector<uint32_t> before = rawOf(dib);
    dib.SetWidth(3);
    dib.SetHeight(2);
    dib.SetWidth(5);
    dib.SetHeight(4);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x)
        EXPECT_EQ(dib.GetRawPixel(x, y), x < 3 && y < 2 ? before[y * 5 + x] : 0u) << bits;
  }
}

}  // namespace
}  // namespace zirk
