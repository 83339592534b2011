// Frames: composition of layers, alpha from the transparent colour,
// trimming, and copies into drawing surfaces.

#include <gtest/gtest.h>

#include "imaging/dorvs.h"
#include "imaging_support.h"

namespace zirk {
namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

struct LayerSpec {
  std::vector<uint32_t> pixels;  // 0xRRGGBB, one row
  bool visible = true;
  int32_t transparent = -1;
  int32_t opacity = 255;
  std::vector<uint8_t> alpha;  // empty: none
  bool useAlpha = false;
};

struct Composed {
  std::vector<uint32_t> pixels;
  std::vector<uint8_t> alpha;  // empty: none
};

Composed compose(const std::vector<LayerSpec>& layers, bool plainFirst, int32_t background) {
  TDorvFrameList list;
  list.PlainFirstLayer = plainFirst;
  list.Background = background;
  TDorvFrame* frame = list.AddFrame();
  const int w = int(layers[0].pixels.size());
  frame->Image.SetSize(w, 1, 24);
  for (const LayerSpec& s : layers) {
    TDorvLayer* layer = frame->AddLayer();
    layer->Image.SetSize(w, 1, 24);
    for (int x = 0; x < w; ++x) layer->Image.SetRawPixel(x, 0, s.pixels[size_t(x)]);
    layer->Visible = s.visible;
    layer->TransparentValue = s.transparent;
    layer->Opacity = s.opacity;
    layer->UseAlpha = s.useAlpha;
    if (!s.alpha.empty()) {
      EnsureAlphaPlane(layer->Image);
      for (int x = 0; x < w; ++x) layer->Image.AlphaPlane()->SetRawPixel(x, 0, s.alpha[size_t(x)]);
    }
  }
  frame->ComposeLayers();
  Composed out;
  for (int x = 0; x < w; ++x) out.pixels.push_back(frame->Image.GetRawPixel(x, 0));
  if (frame->HasAlpha()) {
    for (int x = 0; x < w; ++x)
      out.alpha.push_back(uint8_t(frame->Image.AlphaPlane()->GetRawPixel(x, 0)));
  }
  return out;
}

TEST(DorvFrame, Composition) {
  const int32_t bg = 0x010203;  // pixel 0x030201
  const uint32_t bgPixel = 0x030201;
  struct Case {
    const char* what;
    std::vector<LayerSpec> layers;
    bool plainFirst;
    Composed expected;
  };
  const Case cases[] = {
      {"all layers invisible",
       {{{kRed, kGreen}, false}, {{kBlue, kBlue}, false}},
       true,
       {{bgPixel, bgPixel}, {}}},
      {"keyed layer over the background",
       {{{kRed, kGreen}, true, int32_t(kRed)}},
       false,
       {{bgPixel, kGreen}, {}}},
      {"plain first layer copies its key pixels",
       {{{kRed, kGreen}, true, int32_t(kRed)}},
       true,
       {{kRed, kGreen}, {}}},
      {"plain first layer below full opacity blends",
       {{{kRed, 0xFFFFFF}, true, int32_t(kRed), 128}},
       true,
       {{bgPixel, 0x818180}, {}}},
      {"only the first visible layer is plain",
       {{{kGreen, kGreen}}, {{kRed, kBlue}, true, int32_t(kRed)}},
       true,
       {{kGreen, kBlue}, {}}},
      {"layer 0 gives the frame its alpha plane",
       {{{kRed, kGreen}, true, -1, 255, {10, 200}, true}},
       false,
       {{kRed, kGreen}, {10, 200}}},
      {"a later alpha layer draws through its plane and leaves the frame's",
       {{{kRed, kGreen}, true, -1, 255, {10, 200}, true},
        {{kBlue, kBlue}, true, -1, 255, {0, 255}, true}},
       false,
       {{kRed, kBlue}, {10, 200}}},
      {"an alpha plane without use-alpha is ignored",
       {{{kRed, kGreen}, true, -1, 255, {10, 200}, false}},
       false,
       {{kRed, kGreen}, {}}},
      {"only index 0 gives alpha, even when invisible before it",
       {{{kRed, kRed}, false, -1, 255, {1, 1}, true},
        {{kBlue, kGreen}, true, -1, 255, {255, 0}, true}},
       false,
       {{kBlue, bgPixel}, {}}},
  };
  for (const Case& c : cases) {
    Composed got = compose(c.layers, c.plainFirst, bg);
    EXPECT_EQ(got.pixels, c.expected.pixels) << c.what;
    EXPECT_EQ(got.alpha, c.expected.alpha) << c.what;
  }
}

TEST(DorvFrame, BuildAlpha) {
  TDorvFrameList list;
  TDorvFrame* fresh = list.AddFrame();
  EXPECT_EQ(fresh->TransparentValue, -1);
  EXPECT_EQ(fresh->TransparentColor, -1);
  EXPECT_EQ(fresh->Delay, 100);
  fresh->Image.SetSize(2, 1, 24);  // black: must not be keyed out
  TDorvFrame* keyed = list.AddFrame();
  keyed->Image.SetSize(3, 1, 8);
  keyed->Image.SetRawPixel(1, 0, 7);
  keyed->TransparentValue = 7;
  TDorvFrame* hasAlpha = list.AddFrame();
  hasAlpha->Image.SetSize(2, 1, 24);
  EnsureAlphaPlane(hasAlpha->Image);
  hasAlpha->Image.AlphaPlane()->SetRawPixel(0, 0, 33);
  hasAlpha->TransparentValue = 0;
  list.BuildAllAlpha();
  EXPECT_EQ(test::RowsOf(*fresh->Image.AlphaPlane()), (std::vector<test::Bytes>{{255, 255}}));
  EXPECT_EQ(test::RowsOf(*keyed->Image.AlphaPlane()), (std::vector<test::Bytes>{{255, 0, 255}}));
  EXPECT_EQ(test::RowsOf(*hasAlpha->Image.AlphaPlane()), (std::vector<test::Bytes>{{33, 0}}));
}

TEST(DorvFrame, Trim) {
  // 6 x 5, 8 bits, key 0; visible pixels at (2,1) and (4,3).
  auto make = [](TDorvFrameList& list, bool alpha) {
    TDorvFrame* f = list.AddFrame();
    f->Image.SetSize(6, 5, 8);
    f->TransparentValue = 0;
    f->TransparentColor = 0;
    f->Image.SetRawPixel(2, 1, 5);
    f->Image.SetRawPixel(4, 3, 6);
    if (alpha) f->BuildAlpha();
    f->Rects1 = {{0, 0, 3, 2}, {5, 0, 6, 1}, {3, 2, 10, 10}};
    f->Rects2 = {{2, 1, 3, 2}};
    return f;
  };
  for (bool alpha : {false, true}) {
    TDorvFrameList list;
    TDorvFrame* f = make(list, alpha);
    EXPECT_EQ(f->Trim(), Rect(2, 1, 5, 4));
    EXPECT_EQ(f->Image.Width(), 3);
    EXPECT_EQ(f->Image.GetRawPixel(0, 0), 5u);
    EXPECT_EQ(f->Image.GetRawPixel(2, 2), 6u);
    if (alpha) {
      EXPECT_EQ(f->Image.AlphaPlane()->Width(), 3);
      EXPECT_EQ(f->Image.AlphaPlane()->GetRawPixel(2, 2), 255u);
      EXPECT_EQ(f->Image.AlphaPlane()->GetRawPixel(1, 0), 0u);
    }
    ASSERT_EQ(f->Rects1.size(), 2u) << "the rectangle outside disappears";
    EXPECT_EQ(f->Rects1[0], Rect(0, 0, 1, 1));
    EXPECT_EQ(f->Rects1[1], Rect(1, 1, 3, 3));
    EXPECT_EQ(f->Rects2[0], Rect(0, 0, 1, 1));
  }
  TDorvFrameList list;
  TDorvFrame* blank = list.AddFrame();
  blank->Image.SetSize(4, 4, 24);
  EXPECT_EQ(blank->Trim(), Rect(0, 0, 4, 4)) << "no key, no alpha: nothing trimmed";
  blank->TransparentValue = 0;
  blank->TransparentColor = 0;
  EXPECT_EQ(blank->Trim(), Rect(0, 0, 1, 1));
  EXPECT_EQ(blank->Image.Width(), 1);
  TDorvFrame* full = list.AddFrame();
  full->Image.SetSize(3, 3, 24);
  full->TransparentValue = full->TransparentColor = 0;
  full->Image.SetRawPixel(0, 1, 1);
  full->Image.SetRawPixel(2, 0, 1);
  full->Image.SetRawPixel(1, 2, 1);
  EXPECT_EQ(full->Trim(), Rect(0, 0, 3, 3));
}

TEST(DorvFrame, CopyToDIBXFromEveryDepthKeepsTheColourKey) {
  for (int source : {1, 4, 8, 15, 16, 24, 32}) {
    for (int target : {15, 16, 24, 32}) {
      SCOPED_TRACE(testing::Message() << source << " -> " << target);
      TDorvFrameList list;
      TDorvFrame* f = list.AddFrame();
      f->Image.SetSize(9, 4, source);
      test::FillRandom(f->Image, uint32_t(source));
      f->TransparentValue = int32_t(f->Image.GetRawPixel(2, 2));
      f->TransparentColor = int32_t(f->Image.PixelToColor(uint32_t(f->TransparentValue)));
      f->Rects1 = {{1, 1, 2, 2}};
      TDIBX surface(1, 1, target);
      f->CopyToDIBX(surface);
      ASSERT_EQ(surface.Width(), 9);
      ASSERT_EQ(surface.BitCount(), target);
      EXPECT_EQ(surface.Rects1, f->Rects1);
      for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 9; ++x) {
          const uint32_t raw = f->Image.GetRawPixel(x, y);
          ASSERT_EQ(surface.GetPixel(x, y),
                    uint32_t(surface.ColorToPixel(int32_t(f->Image.PixelToColor(raw)))))
              << x << "," << y;
          if (raw == uint32_t(f->TransparentValue)) {
            ASSERT_EQ(surface.GetPixel(x, y), uint32_t(surface.ColorToPixel(f->TransparentColor)));
          }
        }
      }
    }
  }
}

// Entry 1 is opaque, entry 3 transparent; entry 0 is red. Whether the
// surface can tell entry 1 from the key decides between key and mask.
TEST(DorvFrame, PaletteKeySharedByAnOpaqueEntryBecomesAMask) {
  struct Case {
    uint32_t opaque;  // colour of entry 1 (0x00BBGGRR)
    int target;
    bool used;  // whether a pixel shows entry 1
    bool masked;
  };
  const uint32_t white = 0xFFFFFF;
  for (const Case& c : std::vector<Case>{{white, 32, true, true},
                                         {white, 24, true, true},
                                         {white, 16, true, true},
                                         {white, 32, false, false},
                                         {0xFCFCFC, 32, true, false},
                                         {0xFCFCFC, 16, true, true},
                                         {0xFCFCFC, 15, true, true},
                                         {0x00FF00, 16, true, false}}) {
    for (int depth : {8, 4}) {
      SCOPED_TRACE(testing::Message() << std::hex << c.opaque << std::dec << " " << c.target
                                      << " bits, used " << c.used << ", from " << depth);
      TDorvFrameList list;
      TDorvFrame* f = list.AddFrame();
      f->Image.SetSize(4, 1, depth);
      f->Image.ColorTable()[0] = ColorToQuad(0x0000FF);
      f->Image.ColorTable()[1] = ColorToQuad(c.opaque);
      f->Image.ColorTable()[3] = ColorToQuad(white);
      f->Image.UpdatePalette();
      const uint32_t row[4] = {0, c.used ? 1u : 0u, 3, 0};
      for (int x = 0; x < 4; ++x) f->Image.SetRawPixel(x, 0, row[x]);
      f->SetTransparentColor(0x01000003);
      EXPECT_EQ(f->TransparentValue, 3) << "the key names its entry, not the first of its colour";
      EXPECT_EQ(f->TransparentColor, int32_t(white));

      TDIBX surface(1, 1, c.target);
      f->CopyToDIBX(surface);
      ASSERT_EQ(f->HasAlpha(), c.masked);
      if (c.masked) {
        EXPECT_EQ(f->TransparentColor, -1);
        EXPECT_EQ(test::RowsOf(*f->Image.AlphaPlane()),
                  (std::vector<test::Bytes>{{255, 255, 0, 255}}));
      } else {
        EXPECT_EQ(f->TransparentValue, 3);
        EXPECT_EQ(f->TransparentColor, int32_t(white));
      }
      EXPECT_EQ(surface.GetPixel(1, 0),
                uint32_t(surface.ColorToPixel(int32_t(c.used ? c.opaque : 0x0000FF))));
    }
  }
}

TEST(DorvFrame, CopyAlpha) {
  TDorvFrameList list;
  TDorvFrame* f = list.AddFrame();
  f->Image.SetSize(5, 3, 24);
  TDIBX mask(2, 2, 8);
  TDIBSurface plane;
  f->CopyAlphaToDIBX(mask);
  f->CopyAlphaToSurface(plane);
  EXPECT_EQ(mask.Width(), 2) << "without alpha the target is left alone";
  EXPECT_TRUE(plane.GetEmpty());
  EnsureAlphaPlane(f->Image);
  test::FillRandom(*f->Image.AlphaPlane(), 9);
  f->CopyAlphaToDIBX(mask);
  f->CopyAlphaToSurface(plane);
  EXPECT_EQ(test::RowsOf(mask.DIB()), test::RowsOf(*f->Image.AlphaPlane()));
  EXPECT_EQ(test::RowsOf(plane), test::RowsOf(*f->Image.AlphaPlane()));
  EXPECT_EQ(mask.GetClipRect(), Rect(0, 0, 5, 3));
}

}  // namespace
}  // namespace zirk
