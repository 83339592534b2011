// Palette pictures in the image cache: a transparent entry whose colour an
// opaque entry shares hides exactly its own pixels when the cache draws the
// frame, with or without a mask request.

#include <gtest/gtest.h>

#include "imaging/KwPNG.h"
#include "imaging/dorvs.h"
#include "picture_fixture.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF, kWhite = 0xFFFFFF, kBackground = 0x808080;

class DorvCachePaletteTest : public PictureTest {
 protected:
  // A palette PNG of one row: red, entry 1, transparent white (entry 3),
  // entry 1; as a user converts it into a layered image for the game.
  void writeConverted(const std::string& name, uint32_t entry1) {
    TKwPNG png;
    TDIB& image = png.Bitmap();
    image.SetSize(4, 1, 8);
    image.ColorTable()[0] = ColorToQuad(kRed);
    image.ColorTable()[1] = ColorToQuad(entry1);
    image.ColorTable()[3] = ColorToQuad(kWhite);
    image.UpdatePalette();
    const uint8_t row[4] = {0, 1, 3, 1};
    for (int x = 0; x < 4; ++x) image.SetRawPixel(x, 0, row[x]);
    png.SetTransparentColor(0x01000003);
    TKwMemoryStream data;
    png.SaveToStream(data);
    data.Seek(0, SeekOrigin::Begin);

    TDorvFrameList list;
    TDorvFrame* frame = list.AddFrame();
    frame->SetTransparentColor(ReadPNGSurface(frame->Image, data));
    list.SaveToFile((dir / name).string());
    files.InvalidateCache();
  }

  TDorvOwner owner = cache.NewOwner();
};

TEST_F(DorvCachePaletteTest, SharedColourKeyHidesOnlyItsEntry) {
  struct Case {
    uint32_t entry1;
    bool mask;
    bool maskSurface;  // a key of its own colour stays a key
  };
  for (const Case& c : {Case{kWhite, false, true}, Case{kWhite, true, true},
                        Case{0xFEFEFE, false, false}, Case{0xFEFEFE, true, true}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.entry1 << " mask " << c.mask);
    const std::string name = c.entry1 == kWhite ? "shared.dor" : "own.dor";
    writeConverted(name, c.entry1);
    TDorvItem* item = cache.Acquire(owner, name, c.mask, false);
    ASSERT_EQ(item->FrameCount(), 1);
    TDorvItemFrame& frame = *item->Frame(0);
    EXPECT_EQ(frame.MaskSurface != nullptr, c.maskSurface);
    if (!c.maskSurface) {
      EXPECT_EQ(frame.TransparentColor, int32_t(kWhite));
    }

    TDIBX target(4, 1, 32);
    target.FillRect(target.GetBoundsRect(), kBackground);
    DrawDorvFrame(frame, target, 0, 0, frame.Surface->GetBoundsRect(), false, false, 255);
    EXPECT_EQ(colorAt(target, 0, 0), kRed);
    EXPECT_EQ(colorAt(target, 1, 0), c.entry1);
    EXPECT_EQ(colorAt(target, 2, 0), kBackground);
    EXPECT_EQ(colorAt(target, 3, 0), c.entry1);
    cache.Release(item, owner);
  }
}

}  // namespace
}  // namespace zirk::test
