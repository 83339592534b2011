// The PNG picture class: registration, surfaces, the values a save keeps,
// assignment, outside bitmaps and form data.

#include <gtest/gtest.h>

#include "imaging/KwPNG.h"
#include "imaging_support.h"
#include "png_support.h"
#include "support/testdata.h"
#include "surfaces/dibsfc.h"

namespace zirk::test {
namespace {

Bytes saved(TKwPNG& png) {
  TKwMemoryStream out;
  png.SaveToStream(out);
  return out.Bytes();
}

void loadInto(TKwPNG& png, const Bytes& data) {
  TKwMemoryStream in(data);
  png.LoadFromStream(in);
}

TEST(PngPicture, RegisteredAsPngFormatAndForSurfaces) {
  RegisterKwPNG();
  auto format = TPictureFormats::Instance().FindExtension(".png");
  ASSERT_TRUE(format);
  EXPECT_EQ(format->Description, "PNG Format");
  EXPECT_EQ(format->Create()->ClassName(), "TKwPNG");

  TempDir dir;
  const Bytes rgba = SimplePng(2, {{10, 20, 30, 255, 40, 50, 60, 64}}, 8, 6);
  writeFile(dir / "a.png", rgba.data(), rgba.size());
  TPicture picture;
  picture.LoadFromFile((dir / "a.png").string());
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassName(), "TKwPNG");
  EXPECT_EQ(picture.Width(), 2);

  // Drawing surfaces load PNG data by its signature, alpha as alpha.
  TDIBSurface surface;
  TKwMemoryStream stream(rgba);
  surface.LoadFromStream(stream);
  ASSERT_TRUE(surface.HasAlphaPlane());
  EXPECT_EQ(surface.GetCanvas().GetPixel(1, 0), RGBColor(40, 50, 60));
  EXPECT_EQ(surface.AlphaPlane()->ScanLine(0)[0], 255);
  EXPECT_EQ(surface.AlphaPlane()->ScanLine(0)[1], 64);

  UnregisterKwPNG();
  EXPECT_FALSE(TPictureFormats::Instance().FindExtension("png"));
  RegisterKwPNG();
}

TEST(PngPicture, SaveKeepsTheLoadedValues) {
  TKwPNG png;
  png.Bitmap().SetSize(9, 7, 8);
  FillRandom(png.Bitmap(), 21);
  png.Comment = "first";
  png.Gamma = 1.0 / 2.2;
  png.BackgroundColor = 0x01000003;
  png.SetTransparentColor(0x01000004);
  png.Interlaced = true;
  png.PhysUnit = 1;
  png.PixelsPerUnitX = 3780;
  png.PixelsPerUnitY = 2000;
  png.SignificantBits = 0x070707;
  png.FilterMode = 0;
  png.Chromaticity = {31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000};
  TKwPNG back;
  loadInto(back, saved(png));
  EXPECT_EQ(back.Comment, "first\r\n");
  EXPECT_NEAR(back.Gamma, 0.45455, 1e-9);
  EXPECT_EQ(back.BackgroundColor, 0x01000003);
  EXPECT_EQ(back.TransparentColor(), 0x01000004);
  EXPECT_TRUE(back.GetTransparent());
  EXPECT_TRUE(back.Interlaced);
  EXPECT_EQ(back.PixelsPerUnitX, 3780);
  EXPECT_EQ(back.PixelsPerUnitY, 2000);
  EXPECT_EQ(back.SignificantBits, 0x070707);
  EXPECT_EQ(back.Chromaticity, png.Chromaticity);
  EXPECT_EQ(back.BitDepth, 8);
  EXPECT_EQ(RgbaOfBitmap(back.Image()), RgbaOfBitmap(png.Bitmap()));
}

TEST(PngPicture, SixteenBitPicturesComeBackAtSixteenBits) {
  for (int bits : {15, 16}) {
    SCOPED_TRACE(bits);
    TKwPNG png;
    png.Bitmap().SetSize(11, 5, bits);
    FillRandom(png.Bitmap(), 5);
    png.AlphaBitmap().SetSize(11, 5, 8);
    FillRandom(png.AlphaBitmap(), 6);
    png.HasAlpha = true;
    TKwPNG back;
    back.Allow16BitTarget = true;
    loadInto(back, saved(png));
    EXPECT_EQ(back.Image().BitCount(), 16);
    EXPECT_EQ(back.BitDepth, bits);
    EXPECT_TRUE(back.HasAlpha);
    EXPECT_EQ(RgbaOfPicture(back), RgbaOfBitmap(png.Bitmap(), &png.AlphaBitmap()));
  }
}

// A loaded palette keeps its own count through a save, and only the file's
// own entries count when a colour is matched, not the zeros that fill the
// table up.
TEST(PngPicture, PaletteOfALoadedFileHasItsOwnCount) {
  TKwPNG png;
  loadInto(png, SimplePng(4, {{0, 1, 2, 0}}, 8, 3, {{"PLTE", {9, 9, 9, 8, 8, 8, 7, 7, 7}}}));
  EXPECT_EQ(png.GetPalette().size(), 3u);
  TKwPNG again;
  loadInto(again, saved(png));
  EXPECT_EQ(again.GetPalette().size(), 3u);
  png.SetTransparentColor(int32_t(RGBColor(0, 0, 0)));
  Bytes trns;
  for (const PngChunk& c : ChunksOf(saved(png))) {
    if (c.type == "tRNS") trns = c.data;
  }
  EXPECT_EQ(trns, (Bytes{255, 255, 0}));
  png.SetPalette({{1, 2, 3, 0}});
  EXPECT_EQ(png.GetPalette().size(), 256u);
}

TEST(PngPicture, TransparentColourRoundTrips) {
  const struct {
    const char* name;
    int bits;
    bool grey;
    int32_t color;
    int32_t loaded;
  } cases[] = {
      {"24-bit", 24, false, int32_t(RGBColor(1, 2, 3)), int32_t(RGBColor(1, 2, 3))},
      {"grey", 8, true, int32_t(RGBColor(64, 64, 64)), int32_t(RGBColor(64, 64, 64))},
      {"palette entry", 8, false, 0x01000005, 0x01000005},
      {"palette colour", 4, false, int32_t(RGBColor(50, 60, 70)), 0x01000003},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TKwPNG png;
    png.Bitmap().SetSize(4, 2, c.bits);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<uint8_t>(i);
      png.Bitmap().ColorTable()[i] = c.grey ? TRGBQuad{v, v, v, 0} : TRGBQuad{v, 0, v, 0};
    }
    png.Bitmap().ColorTable()[3] = {70, 60, 50, 0};
    png.GrayScale = c.grey;
    png.SetTransparentColor(c.color);
    TKwPNG back;
    loadInto(back, saved(png));
    EXPECT_EQ(back.TransparentColor(), c.loaded);
    EXPECT_TRUE(back.GetTransparent());
  }
}

TEST(PngPicture, AssignCopiesPicturesAndSettings) {
  TKwPNG source;
  loadInto(source,
           SimplePng(2, {{1, 2, 3, 200, 4, 5, 6, 100}}, 8, 6, {{"gAMA", {0, 1, 0x86, 0xA0}}}));
  source.FilterMode = 3;
  TKwPNG copy;
  copy.Assign(source);
  EXPECT_EQ(RgbaOfPicture(copy), RgbaOfPicture(source));
  EXPECT_EQ(copy.FilterMode, 3);
  EXPECT_DOUBLE_EQ(copy.Gamma, 1.0);
  EXPECT_TRUE(copy.HasAlpha);

  TDIB plain(3, 3, 24);
  FillRandom(plain, 8);
  copy.Assign(plain);
  EXPECT_EQ(RgbaOfBitmap(copy.Image()), RgbaOfBitmap(plain));
  TDIB out;
  out.Assign(copy);
  EXPECT_EQ(RgbaOfBitmap(out), RgbaOfBitmap(plain));
}

TEST(PngPicture, SizeAndTransparencyReachImageAndMask) {
  TKwPNG png;
  loadInto(png, SimplePng(2, {{1, 2, 3, 200, 4, 5, 6, 100}}, 8, 6));
  png.SetWidth(5);
  png.SetHeight(4);
  EXPECT_EQ(png.Image().Width(), 5);
  EXPECT_EQ(png.Mask().Width(), 5);
  EXPECT_EQ(png.Mask().Height(), 4);
  TKwPNG noMask;
  loadInto(noMask, SimplePng(2, {{1, 2, 3, 4, 5, 6}}, 8, 2));
  noMask.SetWidth(6);
  EXPECT_TRUE(noMask.Mask().GetEmpty());
  noMask.SetTransparent(true);
  noMask.SetTransparentColor(int32_t(RGBColor(4, 5, 6)));
  EXPECT_EQ(noMask.Image().TransparentColor(), int32_t(RGBColor(4, 5, 6)));
  EXPECT_TRUE(noMask.Image().GetTransparent());
  noMask.SetTransparentColor(-1);
  EXPECT_FALSE(noMask.GetTransparent());
  EXPECT_FALSE(noMask.Image().GetTransparent());
}

TEST(PngPicture, OutsideBitmapsStandInForTheOwnOnes) {
  TKwPNG png;
  TDIB image, mask;
  png.SetExternalBitmap(&image);
  png.SetExternalAlphaBitmap(&mask);
  loadInto(png, SimplePng(2, {{1, 2, 3, 200, 4, 5, 6, 100}}, 8, 6));
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(mask.ScanLine(0)[0], 55);
  EXPECT_TRUE(png.Bitmap().GetEmpty());
  png.SetExternalAlphaBitmap(&image);
  EXPECT_EQ(png.ExternalAlphaBitmap(), nullptr);
  // The own bitmap as the outside mask of itself: the mask is left out.
  TKwPNG same;
  same.SetExternalAlphaBitmap(&same.Bitmap());
  loadInto(same, SimplePng(2, {{1, 2, 3, 200, 4, 5, 6, 100}}, 8, 6));
  EXPECT_EQ(same.Image().BitCount(), 24);
  EXPECT_EQ(same.Image().GetCanvas().GetPixel(1, 0), RGBColor(4, 5, 6));

  // Form data uses the own bitmaps and leaves the outside ones.
  TKwMemoryStream formIn(SimplePng(3, {{7, 8, 9}}, 8, 0));
  png.ReadData(formIn);
  EXPECT_EQ(png.ExternalBitmap(), nullptr);
  EXPECT_EQ(png.Bitmap().Width(), 3);
  EXPECT_EQ(image.Width(), 2);
  TKwMemoryStream form;
  png.WriteData(form);
  TKwPNG back;
  loadInto(back, form.Bytes());
  EXPECT_EQ(RgbaOfBitmap(back.Image()), RgbaOfBitmap(png.Bitmap()));
  // An empty picture writes no form data and refuses a save.
  TKwPNG empty;
  TKwMemoryStream nothing;
  empty.WriteData(nothing);
  EXPECT_THROW(empty.SaveToStream(nothing), EKwPNG);
  EXPECT_EQ(nothing.Size(), 0);
}

}  // namespace
}  // namespace zirk::test
