// The JPEG picture and the registrations that make layered images and JPEG
// files loadable through the picture layer and the drawing surfaces.

#include "imaging/jpeg.h"

#include <gtest/gtest.h>

#include "imaging/dorvs.h"
#include "imaging_support.h"
#include "support/testdata.h"

namespace zirk {
namespace {

void gradient(TDIB& image, int w, int h) {
  image.SetSize(w, h, 24);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.SetRawPixel(x, y, RGBColor(x * 8, 255 - y * 8, 90));
  }
}

TEST(Jpeg, PictureRoundTripAndErrors) {
  TJPEGImage picture;
  picture.CompressionQuality = 90;
  TDIB source;
  gradient(source, 20, 12);
  picture.Assign(source);
  EXPECT_EQ(picture.GetWidth(), 20);
  TKwMemoryStream stream;
  picture.SaveToStream(stream);
  ASSERT_GT(stream.Size(), 2);
  EXPECT_EQ(stream.Bytes()[0], 0xFF);
  EXPECT_EQ(stream.Bytes()[1], 0xD8);

  stream.SetPosition(0);
  TJPEGImage loaded;
  loaded.LoadFromStream(stream);
  int w = 0, h = 0;
  const auto reference = test::ReferenceJpegDecode(stream.Bytes(), w, h);
  TDIB bitmap;
  bitmap.Assign(loaded);
  ASSERT_EQ(bitmap.BitCount(), 24);
  EXPECT_EQ(test::RowsOf(bitmap), reference);

  EXPECT_THROW(loaded.SetWidth(3), EInvalidGraphicOperation);
  // Damaged data leaves the picture as it was.
  for (const test::Bytes& bad :
       {test::Bytes{}, test::Bytes{0xFF, 0xD8, 0xFF}, test::Bytes(50, 7)}) {
    TKwMemoryStream damaged(bad);
    EXPECT_THROW(loaded.LoadFromStream(damaged), EJPEG);
    EXPECT_EQ(loaded.GetWidth(), 20);
  }
  EXPECT_THROW(JpegEncode(TDIB(), 50), EJPEG);
  TDIB wrongSize(3, 3, 24);
  EXPECT_THROW(JpegDecodeInto(stream.Bytes().data(), stream.Bytes().size(), wrongSize), EJPEG);
}

TEST(Jpeg, RegisteredFormatsLoadByExtensionAndMagic) {
  RegisterDorvFormats([] { return 42; });
  test::TempDir dir;
  TJPEGImage jpeg;
  TDIB source;
  gradient(source, 8, 8);
  jpeg.Assign(source);
  jpeg.SaveToFile((dir / "pic.JPG").string());
  TPicture picture;
  picture.LoadFromFile((dir / "pic.JPG").string());
  ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 8);

  // A drawing surface reads a layered image (scrambled with the code given
  // at registration) by its magic, first frame only.
  TDorvFrameList list(42);
  for (int i = 0; i < 2; ++i) {
    TDorvFrame* f = list.AddFrame();
    f->Image.SetSize(5 + i, 4, 24);
    test::FillRandom(f->Image, uint32_t(i));
  }
  TKwMemoryStream stream;
  list.SaveToStream(stream, 0, 70);
  stream.SetPosition(0);
  TDIBSurface surface;
  surface.LoadFromStream(stream);
  EXPECT_EQ(surface.Width(), 5);
  EXPECT_EQ(test::RowsOf(surface), test::RowsOf(list.GetFrame(0)->Image));
}

}  // namespace
}  // namespace zirk
