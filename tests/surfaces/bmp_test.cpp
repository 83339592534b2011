// BMP input and output of TDIB. The reader is checked against files built
// byte by byte here from the published layout, not against our writer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/streams.h"
#include "surfaces/dib.h"
#include "surfaces/dibsfc.h"

namespace zirk {
namespace {

struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t x) {
    v.push_back(x);
    return *this;
  }
  Bytes& u16(uint16_t x) { return u8(x & 255).u8(x >> 8); }
  Bytes& u32(uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
  Bytes& raw(std::initializer_list<uint8_t> xs) {
    v.insert(v.end(), xs);
    return *this;
  }
};

struct BmpSpec {
  int32_t width = 2, height = 2;
  uint16_t planes = 1, bits = 24;
  uint32_t compression = 0, clrUsed = 0;
  std::vector<uint32_t> masks;   // written after the header when present
  std::vector<uint8_t> palette;  // B, G, R, 0 entries
  std::vector<uint8_t> pixels;   // rows exactly as stored
  int64_t offBitsDelta = 0;      // added to the true offset
  bool fileHeader = true;
};

std::vector<uint8_t> buildBmp(const BmpSpec& s) {
  Bytes info;
  info.u32(40).u32(static_cast<uint32_t>(s.width)).u32(static_cast<uint32_t>(s.height));
  info.u16(s.planes).u16(s.bits).u32(s.compression).u32(0).u32(2835).u32(2835);
  info.u32(s.clrUsed).u32(0);
  for (uint32_t m : s.masks) info.u32(m);
  info.v.insert(info.v.end(), s.palette.begin(), s.palette.end());
  if (!s.fileHeader) {
    info.v.insert(info.v.end(), s.pixels.begin(), s.pixels.end());
    return info.v;
  }
  Bytes file;
  uint32_t off = static_cast<uint32_t>(14 + info.v.size() + s.offBitsDelta);
  file.raw({'B', 'M'}).u32(static_cast<uint32_t>(off + s.pixels.size())).u32(0).u32(off);
  file.v.insert(file.v.end(), info.v.begin(), info.v.end());
  file.v.insert(file.v.end(), s.pixels.begin(), s.pixels.end());
  return file.v;
}

void load(TDIB& dib, const std::vector<uint8_t>& bytes) {
  TKwMemoryStream stream(bytes);
  dib.LoadFromStream(stream);
}

TEST(Bmp, ReadsHandBuiltFilesOfEveryKind) {
  // 2 x 2 at 24 bits, bottom-up: the first stored row is the bottom one.
  BmpSpec rgb;
  rgb.pixels = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0, 0,   // bottom row
                0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0, 0};  // top row
  TDIB dib;
  load(dib, buildBmp(rgb));
  ASSERT_EQ(dib.BitCount(), 24);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0x13, 0x12, 0x11));
  EXPECT_EQ(dib.GetCanvas().GetPixel(1, 1), RGBColor(0x06, 0x05, 0x04));

  BmpSpec topDown = rgb;
  topDown.height = -2;
  load(dib, buildBmp(topDown));
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0x03, 0x02, 0x01));

  // 4 bits with a 2-entry table (clrUsed), odd width.
  BmpSpec pal;
  pal.width = 3;
  pal.height = 1;
  pal.bits = 4;
  pal.clrUsed = 2;
  pal.palette = {0, 0, 255, 0, 255, 0, 0, 0};
  pal.pixels = {0x01, 0x00, 0, 0};
  load(dib, buildBmp(pal));
  ASSERT_EQ(dib.BitCount(), 4);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(255, 0, 0));
  EXPECT_EQ(dib.GetCanvas().GetPixel(1, 0), RGBColor(0, 0, 255));

  // 16 bits without fields is 5-5-5; with 5-6-5 fields it is 5-6-5.
  BmpSpec x555;
  x555.width = 1;
  x555.height = 1;
  x555.bits = 16;
  x555.pixels = {0x00, 0x7C, 0, 0};
  load(dib, buildBmp(x555));
  EXPECT_EQ(SurfaceBitCount(dib), 15);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(255, 0, 0));
  BmpSpec x565 = x555;
  x565.compression = 3;
  x565.masks = {0xF800, 0x07E0, 0x001F};
  x565.pixels = {0xE0, 0x07, 0, 0};
  load(dib, buildBmp(x565));
  EXPECT_EQ(SurfaceBitCount(dib), 16);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0, 255, 0));

  // 32 bits with unusual fields: red in the top byte, 4-bit blue.
  BmpSpec odd;
  odd.width = 1;
  odd.height = 1;
  odd.bits = 32;
  odd.compression = 3;
  odd.masks = {0xFF000000, 0x00FF0000, 0x0000000F};
  odd.pixels = {0x0A, 0x00, 0x40, 0x80};
  load(dib, buildBmp(odd));
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0x80, 0x40, 0xAA));

  // A packed DIB (no file header), as the clipboard holds it.
  BmpSpec packed = rgb;
  packed.fileHeader = false;
  load(dib, buildBmp(packed));
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0x13, 0x12, 0x11));

  // The old core header: 16-bit sizes and 3-byte table entries.
  Bytes core;
  core.raw({'B', 'M'}).u32(0).u32(0).u32(14 + 12 + 6);
  core.u32(12).u16(1).u16(1).u16(1).u16(1);
  core.raw({0, 0, 0, 0x30, 0x20, 0x10}).raw({0x80, 0, 0, 0});
  load(dib, core.v);
  ASSERT_EQ(dib.BitCount(), 1);
  EXPECT_EQ(dib.GetCanvas().GetPixel(0, 0), RGBColor(0x10, 0x20, 0x30));

  // A gap between the table and the pixels is honoured through bfOffBits.
  BmpSpec gap = rgb;
  gap.offBitsDelta = 4;
  gap.pixels.insert(gap.pixels.begin(), {9, 9, 9, 9});
  load(dib, buildBmp(gap));
  EXPECT_EQ(dib.GetCanvas().GetPixel(1, 1), RGBColor(0x06, 0x05, 0x04));

  // A width of 0 has rows of no bytes: an empty picture of that height.
  for (uint16_t bits : {16, 24, 32}) {
    BmpSpec empty;
    empty.width = 0;
    empty.height = 3;
    empty.bits = bits;
    load(dib, buildBmp(empty));
    EXPECT_EQ(dib.Width(), 0) << bits;
  }
}

TEST(Bmp, RefusesMalformedFilesAndKeepsThePicture) {
  BmpSpec good;
  good.pixels.assign(16, 0x55);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change) {
    BmpSpec s = good;
    change(s);
    cases.push_back({what, buildBmp(s)});
  };
  with("bit count 7", [](BmpSpec& s) { s.bits = 7; });
  with("two planes", [](BmpSpec& s) { s.planes = 2; });
  with("RLE", [](BmpSpec& s) { s.compression = 1; });
  with("fields at 24 bits", [](BmpSpec& s) {
    s.compression = 3;
    s.masks = {0xFF0000, 0xFF00, 0xFF};
  });
  with("mask with holes", [](BmpSpec& s) {
    s.bits = 32;
    s.compression = 3;
    s.masks = {0xF0F000, 0xFF00, 0xFF};
  });
  with("zero mask", [](BmpSpec& s) {
    s.bits = 32;
    s.compression = 3;
    s.masks = {0, 0xFF00, 0xFF};
  });
  with("negative width", [](BmpSpec& s) { s.width = -2; });
  with("pixels cut short", [](BmpSpec& s) { s.pixels.resize(15); });
  with("table too long", [](BmpSpec& s) {
    s.bits = 8;
    s.clrUsed = 300;
    s.palette.assign(1200, 0);
  });
  with("table cut short", [](BmpSpec& s) {
    s.bits = 8;
    s.pixels.clear();
    s.palette.assign(100, 0);
  });
  with("offset past the end", [](BmpSpec& s) { s.offBitsDelta = 1000; });
  with("huge width", [](BmpSpec& s) { s.width = 0x7FFFFFFF; });
  with("huge height", [](BmpSpec& s) { s.height = -0x7FFFFFFF - 1; });
  with("large area", [](BmpSpec& s) {
    s.width = 30000;
    s.height = 30000;
  });
  cases.push_back({"bad signature", {'B', 'N', 0, 0, 0, 0}});
  cases.push_back({"empty", {}});
  std::vector<uint8_t> headerSize = buildBmp(good);
  headerSize[14] = 41;
  cases.push_back({"header size 41", headerSize});

  for (const Case& c : cases) {
    TDIB dib(3, 1, 8);
    DIBSetPixel(dib, 2, 0, 77);
    TKwMemoryStream stream(c.bytes);
    EXPECT_THROW(dib.LoadFromStream(stream), Exception) << c.what;
    EXPECT_EQ(dib.Width(), 3) << c.what;
    EXPECT_EQ(dib.BitCount(), 8) << c.what;
    EXPECT_EQ(DIBGetPixel(dib, 2, 0), 77u) << c.what;
  }
}

TEST(Bmp, RoundTripsAtEveryBitCount) {
  for (int bits : {1, 4, 8, 15, 16, 24, 32}) {
    TDIB dib(13, 5, bits);
    for (int i = 0; i < 256; ++i)
      dib.ColorTable()[i] = TRGBQuad{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 3),
                                     static_cast<uint8_t>(255 - i), 0};
    uint32_t max = dib.BitCount() >= 32 ? 0xFFFFFFFFu : (1u << dib.BitCount()) - 1;
    if (bits == 15) max = 0x7FFF;
    if (bits == 32) max = 0xFFFFFF;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) DIBSetPixel(dib, x, y, ((x * 2654435761u) ^ (y * 40503u)) & max);

    TKwMemoryStream stream;
    dib.SaveToStream(stream);
    EXPECT_EQ(stream.Memory()[0], 'B');
    stream.SetPosition(0);
    TDIB back;
    back.LoadFromStream(stream);
    EXPECT_EQ(stream.Position(), stream.Size()) << bits;
    ASSERT_EQ(back.Width(), 13);
    ASSERT_EQ(back.Height(), 5);
    EXPECT_EQ(SurfaceBitCount(back), bits);
    EXPECT_TRUE(back.SameLayout(dib)) << bits;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x) ASSERT_EQ(back.GetRawPixel(x, y), dib.GetRawPixel(x, y)) << bits;

    TKwMemoryStream packed;
    dib.SaveToDIBStream(packed);
    packed.SetPosition(0);
    TDIB fromPacked;
    fromPacked.LoadFromDIBStream(packed);
    EXPECT_TRUE(fromPacked.SameLayout(dib)) << bits;
    EXPECT_EQ(fromPacked.GetRawPixel(12, 4), dib.GetRawPixel(12, 4));
  }
}

TEST(Bmp, WritesTheHeaderFieldsOthersRead) {
  TDIB dib(3, 2, 16);
  TKwMemoryStream stream;
  dib.SaveToStream(stream);
  const uint8_t* p = stream.Memory();
  auto u32 = [&](int at) {
    return uint32_t{p[at]} | (uint32_t{p[at + 1]} << 8) | (uint32_t{p[at + 2]} << 16) |
           (uint32_t{p[at + 3]} << 24);
  };
  EXPECT_EQ(u32(2), stream.Size());     // bfSize
  EXPECT_EQ(u32(10), 14u + 40u + 12u);  // bfOffBits past the three masks
  EXPECT_EQ(u32(14), 40u);              // biSize
  EXPECT_EQ(u32(30), 3u);               // BI_BITFIELDS for 5-6-5
  EXPECT_EQ(u32(54), 0xF800u);
  EXPECT_EQ(u32(34), 16u);  // biSizeImage: 2 rows of 8 bytes
}

}  // namespace
}  // namespace zirk
