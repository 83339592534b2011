#include "surfaces/graphics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/testdata.h"
#include "surfaces/dib.h"
#include "surfaces/dibsfc.h"

namespace zirk {
namespace {

// A stand-in picture format: a text file holding one colour.
class TextPicture : public TGraphic {
 public:
  std::string ClassName() const override { return "TextPicture"; }
  int GetWidth() const override { return 1; }
  int GetHeight() const override { return 1; }
  bool GetEmpty() const override { return text.empty(); }
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  void LoadFromStream(TKwStream& stream) override {
    text.resize(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(text.data(), static_cast<int64_t>(text.size()));
    if (Progress(TProgressStage::psRunning, 50, false, "Loading...")) text = "stopped";
  }
  void SaveToStream(TKwStream& stream) override {
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  }
  void Assign(const TGraphic& source) override {
    if (auto* t = dynamic_cast<const TextPicture*>(&source)) {
      text = t->text;
      Changed();
      return;
    }
    TGraphic::Assign(source);
  }
  void Draw(TDIB&, const TRect&) override {}
  std::string text;
};

class OtherPicture : public TextPicture {};

TEST(PictureFormats, FindsClassesByExtension) {
  TPictureFormats& formats = TPictureFormats::Instance();
  for (const char* ext : {"bmp", "BMP", ".Bmp"}) {
    auto found = formats.FindExtension(ext);
    ASSERT_TRUE(found) << ext;
    EXPECT_EQ(found->ClassId, std::type_index(typeid(TDIB)));
    EXPECT_EQ(found->Description, "Bitmaps");
  }
  EXPECT_FALSE(formats.FindExtension("txp"));
  EXPECT_FALSE(formats.FindExtension(""));
  EXPECT_FALSE(formats.FindExtension("."));

  RegisterFileFormat<TextPicture>("TXP", "Text Picture");
  ASSERT_TRUE(formats.FindExtension("txp"));
  EXPECT_EQ(formats.FindExtension(".txp")->Description, "Text Picture");
  RegisterFileFormat<OtherPicture>("txp", "Other Picture");
  EXPECT_EQ(formats.FindExtension("TXP")->Description, "Other Picture");  // later one wins
  UnregisterGraphicClass<OtherPicture>();
  EXPECT_EQ(formats.FindExtension("txp")->Description, "Text Picture");
  UnregisterGraphicClass<TextPicture>();
  EXPECT_FALSE(formats.FindExtension("txp"));
  EXPECT_EQ(formats.FileFormats().front().Extension, "bmp");
}

TEST(Picture, LoadsFilesByExtension) {
  test::TempDir dir;
  TDIB dib(3, 2, 24);
  dib.SetRawPixel(2, 1, 0x112233);
  dib.SaveToFile(dir / "Shot.BMP");
  test::writeFile(dir / "a.txp", std::string("red"));
  test::writeFile(dir / "b.xyz", std::string("red"));

  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TGraphic&) { ++changes; };
  picture.LoadFromFile(dir / "Shot.BMP");
  ASSERT_NE(dynamic_cast<TDIB*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 3);
  EXPECT_EQ(picture.Bitmap().GetRawPixel(2, 1), 0x112233u);
  EXPECT_GE(changes, 1);

  // Unknown extensions fail and keep what the picture held.
  EXPECT_THROW(picture.LoadFromFile(dir / "b.xyz"), EInvalidGraphic);
  EXPECT_THROW(picture.LoadFromFile(dir / "a.txp"), EInvalidGraphic);
  EXPECT_EQ(picture.Width(), 3);

  RegisterFileFormat<TextPicture>("txp", "Text Picture");
  int progressCalls = 0;
  picture.OnProgress = [&](TGraphic&, const TProgressInfo& info) {
    ++progressCalls;
    EXPECT_EQ(info.PercentDone, 50);
    EXPECT_EQ(info.Msg, "Loading...");
    return true;  // asks the load to stop
  };
  picture.LoadFromFile(dir / "a.txp");
  auto* text = dynamic_cast<TextPicture*>(picture.Graphic());
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text, "stopped");
  EXPECT_EQ(progressCalls, 1);

  // A change of the held graphic reaches the picture's handler.
  int before = changes;
  text->Changed();
  EXPECT_EQ(changes, before + 1);

  // Assign copies into a new object of the same class.
  TPicture copy;
  copy.Assign(picture.Graphic());
  ASSERT_NE(copy.Graphic(), picture.Graphic());
  EXPECT_EQ(dynamic_cast<TextPicture*>(copy.Graphic())->text, "stopped");
  // Bitmap() replaces a graphic of another class by an empty bitmap.
  EXPECT_TRUE(copy.Bitmap().GetEmpty());
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Graphic(), nullptr);
  UnregisterGraphicClass<TextPicture>();
}

TEST(Graphic, AssignBetweenClassesThatDoNotKnowEachOther) {
  TextPicture text;
  TDIB dib(1, 1, 8);
  EXPECT_THROW(dib.Assign(text), EConvertError);
  try {
    text.Assign(dib);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot assign a TDIB to a TextPicture");
  }
  TDIB copy;
  copy.Assign(dib);
  EXPECT_EQ(copy.Width(), 1);
  TDIBSurface surface;
  dib.AssignTo(surface);  // a bitmap gives itself to any bitmap class
  EXPECT_EQ(surface.Width(), 1);
}

TEST(Bitmap, DrawStretchesByNearestPixel) {
  TDIB src(2, 2, 8);
  src.ColorTable()[1] = ColorToQuad(RGBColor(255, 0, 0));
  src.ColorTable()[2] = ColorToQuad(RGBColor(0, 255, 0));
  src.ColorTable()[3] = ColorToQuad(RGBColor(0, 0, 255));
  DIBSetPixel(src, 1, 0, 1);
  DIBSetPixel(src, 0, 1, 2);
  DIBSetPixel(src, 1, 1, 3);

  TDIB canvas(5, 5, 32);
  src.Draw(canvas, Rect(1, 1, 5, 5));  // twice the size
  const uint32_t k = 0, r = 0xFF0000, g = 0x00FF00, b = 0x0000FF;
  std::vector<uint32_t> expected = {0, 0, 0, 0, 0,  //
                                    0, k, k, r, r,  //
                                    0, k, k, r, r,  //
                                    0, g, g, b, b,  //
                                    0, g, g, b, b};
  for (int i = 0; i < 25; ++i) EXPECT_EQ(canvas.GetRawPixel(i % 5, i / 5), expected[i]) << i;

  TDIB big(4, 4, 32);
  big.Draw(canvas, Rect(-1, -1, 1, 1));  // half size, clipped: nothing to see but no harm
  TDIB half(2, 2, 32);
  canvas.Draw(half, Rect(0, 0, 2, 2));  // 5 -> 2 takes pixels 1 and 3
  EXPECT_EQ(half.GetRawPixel(0, 0), k);
  EXPECT_EQ(half.GetRawPixel(1, 1), b);
}

TEST(Clipboard, FormatsAndBitmaps) {
  uint32_t gif = RegisterClipboardFormat("GIF Image");
  EXPECT_GE(gif, 0xC000u);
  EXPECT_EQ(RegisterClipboardFormat("gif image"), gif);
  EXPECT_NE(RegisterClipboardFormat("PNG"), gif);
  EXPECT_EQ(GetClipboardFormatName(gif), "GIF Image");
  EXPECT_EQ(GetClipboardFormatName(CF_DIB), "");
  EXPECT_EQ(RegisterClipboardFormat(""), 0u);

  TDIB dib(3, 1, 16);
  dib.SetRawPixel(1, 0, 0xF81F);
  TClipboard& clipboard = Clipboard();
  clipboard.Assign(dib);
  EXPECT_TRUE(clipboard.HasFormat(CF_DIB));
  EXPECT_FALSE(clipboard.HasFormat(gif));

  TPicture picture;
  picture.LoadFromClipboard(clipboard);
  EXPECT_EQ(picture.Bitmap().GetRawPixel(1, 0), 0xF81Fu);

  clipboard.Clear();
  clipboard.SetData(gif, {1, 2, 3});
  EXPECT_EQ(*clipboard.GetData(gif), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_THROW(picture.LoadFromClipboard(clipboard), EInvalidGraphic);
  EXPECT_THROW(dib.LoadFromClipboardFormat(clipboard, gif), EInvalidGraphic);
  clipboard.Clear();
}

}  // namespace
}  // namespace zirk
