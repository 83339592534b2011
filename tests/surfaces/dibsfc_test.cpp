#include "surfaces/dibsfc.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/streams.h"
#include "platform/gdi.h"

namespace zirk {
namespace {

void fill32(TDIBSurface& s, int w, int h, uint32_t pixel) {
  s.SetSize(w, h, 32);
  SurfaceFillRect(s, SurfaceBoundsRect(s), pixel);
}

std::vector<uint32_t> rawOf(const TDIB& dib) {
  std::vector<uint32_t> out;
  for (int y = 0; y < dib.Height(); ++y)
    for (int x = 0; x < dib.Width(); ++x) out.push_back(dib.GetRawPixel(x, y));
  return out;
}

TEST(DIBSurface, AlphaPlaneHelpers) {
  TDIBSurface s;
  s.SetSize(4, 3, 24);
  SurfaceOpaqueAlpha(s);  // no plane: nothing happens
  EXPECT_FALSE(s.HasAlphaPlane());

  EnsureAlphaPlane(s);
  ASSERT_TRUE(s.HasAlphaPlane());
  EXPECT_EQ(s.AlphaPlane()->Width(), 4);
  EXPECT_EQ(s.AlphaPlane()->Height(), 3);
  EXPECT_EQ(s.AlphaPlane()->BitCount(), 8);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 3, 2), 0u);
  EXPECT_EQ(s.AlphaPlane()->GetCanvas().GetPixel(0, 0), RGBColor(0, 0, 0));

  SurfaceOpaqueAlpha(s);
  EXPECT_EQ(rawOf(*s.AlphaPlane()), std::vector<uint32_t>(12, 255));

  s.SetSize(5, 2, 24);
  EnsureAlphaPlane(s);  // resized, the part that remains is kept
  EXPECT_EQ(s.AlphaPlane()->Width(), 5);
  EXPECT_EQ(s.AlphaPlane()->Height(), 2);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 3, 1), 255u);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 4, 1), 0u);

  TDIB image(5, 2, 8);
  DIBSetPixel(image, 4, 1, 99);
  SurfaceSetAlpha(s, image);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 4, 1), 99u);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 3, 1), 0u);
  EXPECT_THROW(SurfaceSetAlpha(s, TDIB(5, 2, 24)), EInvalidGraphicOperation);

  TDIBSurface empty;  // an empty frame may still be given an alpha plane
  SurfaceSetAlpha(empty, TDIB(0, 0, 8));
  ASSERT_NE(empty.AlphaPlane(), nullptr);
  EXPECT_TRUE(empty.AlphaPlane()->GetEmpty());
}

TEST(DIBSurface, BitCountsAndColourToPixel) {
  struct Case {
    int bits, surfaceBits;
    uint32_t pixel;  // for RGB(255, 128, 8)
  } cases[] = {{15, 15, (31u << 10) | (16u << 5) | 1u},
               {16, 16, (31u << 11) | (32u << 5) | 1u},
               {24, 24, 0xFF8008},
               {32, 32, 0xFF8008}};
  for (const Case& c : cases) {
    TDIBSurface s;
    s.SetSize(1, 1, c.bits);
    EXPECT_EQ(SurfaceBitCount(s), c.surfaceBits);
    EXPECT_EQ(SurfaceColorToPixel(s, 255, 128, 8), c.pixel) << c.bits;
  }
  TDIBSurface pal;
  pal.SetSize(1, 1, 8);
  pal.ColorTable()[5] = ColorToQuad(RGBColor(250, 130, 10));
  pal.ColorTable()[6] = ColorToQuad(RGBColor(250, 130, 10));
  EXPECT_EQ(SurfaceColorToPixel(pal, 255, 128, 8), 5u);
  EXPECT_EQ(SurfaceBitCount(pal), 8);
}

TEST(DIBSurface, FillAndDrawWholeClipAtEveryEdge) {
  TDIBSurface four;
  four.SetSize(5, 3, 4);
  SurfaceFillRect(four, Rect(-2, 1, 3, 9), 0xC);
  EXPECT_EQ(rawOf(four),
            (std::vector<uint32_t>{0, 0, 0, 0, 0, 0xC, 0xC, 0xC, 0, 0, 0xC, 0xC, 0xC, 0, 0}));

  struct Case {
    int x, y;
    std::vector<uint32_t> expected;  // 3 x 3 destination
  } cases[] = {
      {-1, -1, {5, 6, 0, 8, 9, 0, 0, 0, 0}},
      {2, 0, {0, 0, 1, 0, 0, 4, 0, 0, 7}},
      {0, 2, {0, 0, 0, 0, 0, 0, 1, 2, 3}},
      {3, 0, std::vector<uint32_t>(9, 0)},
  };
  TDIBSurface src;
  src.SetSize(3, 3, 32);
  for (int i = 0; i < 9; ++i) src.SetRawPixel(i % 3, i / 3, static_cast<uint32_t>(i + 1));
  for (const Case& c : cases) {
    TDIBSurface dst;
    fill32(dst, 3, 3, 0);
    SurfaceDrawWhole(dst, c.x, c.y, src);
    EXPECT_EQ(rawOf(dst), c.expected) << c.x << "," << c.y;
  }

  // Another layout goes through the colours.
  TDIBSurface pal;
  pal.SetSize(2, 1, 8);
  pal.ColorTable()[3] = ColorToQuad(RGBColor(1, 2, 3));
  DIBSetPixel(pal, 1, 0, 3);
  TDIBSurface dst;
  fill32(dst, 2, 1, 0xFFFFFF);
  SurfaceDrawWhole(dst, 0, 0, pal);
  EXPECT_EQ(dst.GetRawPixel(1, 0), 0x010203u);
}

TEST(DIBSurface, CropKeepsTheRectangleWithItsAlpha) {
  TDIBSurface s;
  s.SetSize(4, 4, 32);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) s.SetRawPixel(x, y, static_cast<uint32_t>(y * 4 + x));
  EnsureAlphaPlane(s);
  DIBSetPixel(*s.AlphaPlane(), 2, 1, 200);
  SurfaceCrop(s, Rect(1, 1, 9, 3));
  ASSERT_EQ(s.Width(), 3);
  ASSERT_EQ(s.Height(), 2);
  EXPECT_EQ(rawOf(s), (std::vector<uint32_t>{5, 6, 7, 9, 10, 11}));
  ASSERT_TRUE(s.HasAlphaPlane());
  EXPECT_EQ(s.AlphaPlane()->Width(), 3);
  EXPECT_EQ(DIBGetPixel(*s.AlphaPlane(), 1, 0), 200u);
}

TEST(DIBSurface, TrimFindsTheBoundsOfDifferingPixels) {
  struct Case {
    const char* what;
    std::vector<TPoint> marked;
    TRect expected;
    int width, height;
  } cases[] = {
      {"all equal", {}, Rect(0, 0, 1, 1), 1, 1},
      {"one pixel", {{3, 2}}, Rect(3, 2, 4, 3), 1, 1},
      {"block", {{1, 1}, {4, 3}}, Rect(1, 1, 5, 4), 4, 3},
      {"corners", {{0, 0}, {5, 4}}, Rect(0, 0, 6, 5), 6, 5},
  };
  for (const Case& c : cases) {
    TDIBSurface s;
    s.SetSize(6, 5, 8);
    SurfaceFillRect(s, SurfaceBoundsRect(s), 7);
    for (TPoint p : c.marked) DIBSetPixel(s, p.X, p.Y, 1);
    EXPECT_EQ(SurfaceTrim(s, 7), c.expected) << c.what;
    EXPECT_EQ(s.Width(), c.width) << c.what;
    EXPECT_EQ(s.Height(), c.height) << c.what;
    if (!c.marked.empty()) {
      EXPECT_EQ(DIBGetPixel(s, 0, 0), 1u) << c.what;
    }
  }
}

TEST(DIBSurface, BlendDrawWithOpacityAndTransparentValue) {
  const uint32_t key = 0x000000FF;
  struct Case {
    int opacity;
    int64_t transparent;
    uint32_t white, keyed;  // what the two source pixels give over 0x204060
  } cases[] = {
      {0, -1, 0x204060, 0x204060},   {-5, -1, 0x204060, 0x204060},   {1, -1, 0x214161, 0x204061},
      {128, -1, 0x90A0B0, 0x1020B0}, {254, -1, 0xFEFEFE, 0x0000FE},  {255, -1, 0xFFFFFF, key},
      {300, -1, 0xFFFFFF, key},      {128, key, 0x90A0B0, 0x204060}, {255, key, 0xFFFFFF, 0x204060},
  };
  for (int bits : {24, 32}) {
    for (const Case& c : cases) {
      TDIBSurface src;
      src.SetSize(2, 1, bits);
      src.SetRawPixel(0, 0, 0xFFFFFF);
      src.SetRawPixel(1, 0, key);
      TDIBSurface dst;
      dst.SetSize(2, 1, bits);
      SurfaceFillRect(dst, SurfaceBoundsRect(dst), 0x204060);
      SurfaceBlendDraw(dst, 0, 0, src, SurfaceBoundsRect(src), c.transparent, c.opacity);
      EXPECT_EQ(dst.GetRawPixel(0, 0), c.white)
          << bits << ": " << c.opacity << " " << c.transparent;
      EXPECT_EQ(dst.GetRawPixel(1, 0), c.keyed)
          << bits << ": " << c.opacity << " " << c.transparent;
    }
  }

  // 16-bit pictures blend through their colours; the source rectangle and
  // the destination clip.
  TDIBSurface src;
  src.SetSize(3, 1, 16);
  SurfaceFillRect(src, SurfaceBoundsRect(src), 0xFFFF);
  TDIBSurface dst;
  dst.SetSize(2, 1, 16);
  SurfaceBlendDraw(dst, -1, 0, src, Rect(1, 0, 3, 1), -1, 128);
  // 128 packs to 16 of 31 and 32 of 63, which widen to 132 and 130.
  EXPECT_EQ(dst.GetCanvas().GetPixel(0, 0), RGBColor(132, 130, 132));
  EXPECT_EQ(dst.GetRawPixel(1, 0), 0u);
}

TEST(DIBSurface, AlphaDrawGoesThroughTheAlphaPlane) {
  TDIBSurface src;
  fill32(src, 4, 1, 0xFFFFFF);
  EnsureAlphaPlane(src);
  const uint32_t alpha[] = {0, 128, 255, 64};
  for (int x = 0; x < 4; ++x) DIBSetPixel(*src.AlphaPlane(), x, 0, alpha[x]);
  struct Case {
    int level;
    std::vector<uint32_t> expected;
  } cases[] = {
      {255, {0x000000, 0x808080, 0xFFFFFF, 0x404040}},
      {128, {0x000000, 0x404040, 0x808080, 0x202020}},
      {0, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    TDIBSurface dst;
    fill32(dst, 4, 1, 0);
    SurfaceAlphaDraw(dst, 0, 0, src, SurfaceBoundsRect(src), c.level);
    EXPECT_EQ(rawOf(dst), c.expected) << c.level;
  }
  TDIBSurface noAlpha;
  fill32(noAlpha, 1, 1, 0x123456);
  TDIBSurface dst;
  fill32(dst, 1, 1, 0);
  SurfaceAlphaDraw(dst, 0, 0, noAlpha, SurfaceBoundsRect(noAlpha), 255);
  EXPECT_EQ(dst.GetRawPixel(0, 0), 0x123456u);
}

// Palette pictures blend through their colours and take the nearest entry;
// a copy within one colour table keeps the indices, a duplicate entry too.
TEST(DIBSurface, PalettePicturesBlendThroughTheirColours) {
  const std::vector<TRGBQuad> table = {{0, 0, 0, 0},       {255, 255, 255, 0}, {128, 128, 128, 0},
                                       {255, 255, 255, 0}, {0, 0, 255, 0},     {0, 0, 128, 0}};
  struct Case {
    int bits;
    int opacity;
    int64_t transparent;
    std::vector<uint32_t> expected;  // over a destination of index 0 everywhere
  } cases[] = {
      {8, 255, -1, {3, 1, 4, 0}}, {4, 255, -1, {3, 1, 4, 0}}, {8, 255, 4, {3, 1, 0, 0}},
      {4, 255, 1, {3, 0, 4, 0}},  {8, 128, -1, {2, 2, 5, 0}}, {4, 128, 3, {0, 2, 5, 0}},
      {1, 255, -1, {1, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    TDIBSurface src, dst;
    for (TDIBSurface* s : {&src, &dst}) {
      for (size_t i = 0; i < table.size(); ++i) s->ColorTable()[i] = table[i];
      s->SetSize(4, 1, c.bits);
    }
    const uint32_t pixels[] = {3, 1, 4, 0};
    for (int x = 0; x < 4; ++x) src.SetRawPixel(x, 0, c.bits == 1 ? pixels[x] & 1 : pixels[x]);
    SurfaceBlendDraw(dst, 0, 0, src, SurfaceBoundsRect(src), c.transparent, c.opacity);
    EXPECT_EQ(rawOf(dst), c.expected) << c.bits << " bits, " << c.opacity << ", " << c.transparent;
  }

  // An alpha plane weighs a palette layer as it weighs a colour one.
  TDIBSurface layer, frame;
  for (TDIBSurface* s : {&layer, &frame}) {
    for (size_t i = 0; i < table.size(); ++i) s->ColorTable()[i] = table[i];
    s->SetSize(3, 1, 8);
  }
  for (int x = 0; x < 3; ++x) layer.SetRawPixel(x, 0, 1);
  EnsureAlphaPlane(layer);
  const uint32_t alpha[] = {0, 128, 255};
  for (int x = 0; x < 3; ++x) DIBSetPixel(*layer.AlphaPlane(), x, 0, alpha[x]);
  SurfaceAlphaDraw(frame, 0, 0, layer, SurfaceBoundsRect(layer), 255);
  EXPECT_EQ(rawOf(frame), (std::vector<uint32_t>{0, 2, 1}));
}

// A picture that can only give itself to a bitmap.
class SolidPicture : public TGraphic {
 public:
  int GetWidth() const override { return 2; }
  int GetHeight() const override { return 1; }
  bool GetEmpty() const override { return false; }
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  void LoadFromStream(TKwStream&) override {}
  void SaveToStream(TKwStream&) override {}
  void Draw(TDIB&, const TRect&) override {}
  bool AssignTo(TGraphic& dest) const override {
    auto* dib = dynamic_cast<TDIB*>(&dest);
    if (!dib) return false;
    TDIB solid(2, 1, 24);
    SurfaceFillRect(solid, SurfaceBoundsRect(solid), 0xABCDEF);
    dib->Assign(solid);
    return true;
  }
};

class Mute : public SolidPicture {
 public:
  bool AssignTo(TGraphic&) const override { return false; }
};

TEST(DIBSurface, AssignFromSurfacesBitmapsAndPictures) {
  TDIBSurface a;
  fill32(a, 2, 2, 0x010203);
  EnsureAlphaPlane(a);
  DIBSetPixel(*a.AlphaPlane(), 1, 1, 42);
  TDIBSurface b;
  b.Assign(a);
  ASSERT_TRUE(b.HasAlphaPlane());
  EXPECT_NE(b.AlphaPlane(), a.AlphaPlane());
  EXPECT_EQ(DIBGetPixel(*b.AlphaPlane(), 1, 1), 42u);
  EXPECT_EQ(b.GetRawPixel(1, 1), 0x010203u);

  b.Assign(TDIB(3, 1, 8));
  EXPECT_FALSE(b.HasAlphaPlane());
  EXPECT_EQ(b.Width(), 3);

  b.Assign(SolidPicture());
  EXPECT_EQ(b.GetCanvas().GetPixel(1, 0), RGBColor(0xAB, 0xCD, 0xEF));
  EXPECT_THROW(b.Assign(Mute()), EConvertError);

  TDIB target;
  SurfaceAssignTo(a, target);
  EXPECT_EQ(target.GetRawPixel(1, 1), 0x010203u);
  Mute mute;
  EXPECT_THROW(SurfaceAssignTo(a, mute), EConvertError);
}

TEST(DIBSurface, StreamLoadPicksTheLoaderBySignature) {
  RegisterSurfaceLoader("Zsig", [](TDIBSurface& s, TKwStream& stream) {
    stream.Seek(4, SeekOrigin::Current);
    s.SetSize(1, 1, 32);
    s.SetRawPixel(0, 0, 0xABCDEF);
    EnsureAlphaPlane(s);
  });
  TKwMemoryStream tagged(std::vector<uint8_t>{'Z', 's', 'i', 'g'});
  TDIBSurface s;
  s.LoadFromStream(tagged);
  EXPECT_EQ(s.GetRawPixel(0, 0), 0xABCDEFu);
  EXPECT_TRUE(s.HasAlphaPlane());

  RegisterSurfaceLoader("Zsig", [](TDIBSurface& s, TKwStream&) { s.SetSize(3, 1, 8); });
  tagged.SetPosition(0);
  s.LoadFromStream(tagged);
  EXPECT_EQ(s.Width(), 3);  // the later registration of a signature wins

  TKwMemoryStream bmp;
  TDIB(2, 2, 8).SaveToStream(bmp);
  bmp.SetPosition(0);
  s.LoadFromStream(bmp);
  EXPECT_EQ(s.Width(), 2);
  EXPECT_FALSE(s.HasAlphaPlane());
}

// A picture of any bit count drawn into a 32-bit context keeps every key
// pixel equal to the key that the colour read back at the key pixel gives.
TEST(DIBSurface, DrawToDCKeepsKeyPixelsEqualToTheKey) {
  for (int bits : {1, 4, 8, 15, 16, 24}) {
    TDIBSurface src;
    for (int i = 0; i < 256; ++i)
      src.ColorTable()[i] = TRGBQuad{static_cast<uint8_t>(i), static_cast<uint8_t>(i * 5),
                                     static_cast<uint8_t>(255 - i), 0};
    src.SetSize(256, 256, bits);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        uint32_t v = static_cast<uint32_t>(y * 256 + x);
        src.SetRawPixel(x, y, bits == 24 ? v * 0x9E3779B1u >> 8 : v);
      }
    TDIBSurface display;
    display.SetSize(256, 256, 32);
    std::array<uint32_t, 256> palette{};
    platform::DeviceContext dc(DIBPixelBuffer(display, palette));
    SurfaceDrawToDC(src, &dc, SurfaceBoundsRect(display), SurfaceBoundsRect(src));
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        uint32_t key = display.ColorToPixel(src.GetCanvas().GetPixel(x, y));
        ASSERT_EQ(display.GetRawPixel(x, y) & 0xFFFFFF, key) << bits << " at " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace zirk
