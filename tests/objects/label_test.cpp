#include "objects/label.h"

#include <gtest/gtest.h>

#include "picture_fixture.h"
#include "support/inkbox.h"

namespace zirk::test {
namespace {

class LabelTest : public ScenePictureTest {
 protected:
  TZirkLabel* caption(const std::string& text) {
    TZirkLabel* l = scene.Create<TZirkLabel>(nullptr, "");
    l->SetPropStr(PR_FONTNAME, "IPAGothic");
    l->SetPropInt(PR_FONTHEIGHT, 16);
    l->SetPropStr(PR_TEXT, text);
    l->SetPropInt(PR_LEFT, 100);
    l->SetPropInt(PR_TOP, 100);
    return l;
  }
  TRect inkBox() { return InkBox(*scene.GetBase(0)->BackSurface(), kBackground); }
};

TEST_F(LabelTest, CaptionSizeFollowsTextBorderAndZoom) {
  TZirkLabel* l = caption("IIII");
  frame();
  EXPECT_EQ(l->GetScreenRect(), Bounds(100, 100, 32, 16));
  const TRect plain = inkBox();
  EXPECT_TRUE(plain.Left >= 100 && plain.Right <= 132 && plain.Top >= 100 && plain.Bottom <= 116);
  l->SetPropInt(PR_BORDERWIDTH, 2);
  frame();
  EXPECT_EQ(l->GetScreenRect(), Bounds(100, 100, 36, 20));
  l->SetPropInt(PR_ZOOMX, 512);
  l->SetPropInt(PR_ZOOMY, 512);
  frame();
  EXPECT_EQ(l->GetScreenRect(), Bounds(100, 100, 72, 40));
  l->SetPropStr(PR_TEXT, "II\r\nII");
  l->SetPropInt(PR_LINESPACE, 3);
  frame();
  EXPECT_EQ(l->GetScreenRect(), Bounds(100, 100, 40, 78));
}

TEST_F(LabelTest, CaptionTurnsAndFadesLikeAPicture) {
  TZirkLabel* l = caption("IIIIIIII");  // 64 x 16
  l->SetPropInt(PR_FONTCOLOR, 0xFFFFFF);
  frame();
  const TRect flat = inkBox();
  EXPECT_GT(flat.Width(), 3 * flat.Height());
  // A quarter turn about the top-left corner stands the line on end.
  l->SetPropInt(PR_ANGLE, 64);
  frame();
  const TRect turned = inkBox();
  EXPECT_GT(turned.Height(), 3 * turned.Width());
  l->SetPropInt(PR_ANGLE, 0);
  // Half opacity gives the halfway grey on the text's full pixels.
  l->SetPropInt(PR_ALPHA, 128);
  frame();
  uint32_t brightest = 0;
  for (int32_t x = 100; x < 164; ++x)
    for (int32_t y = 100; y < 116; ++y) brightest = std::max(brightest, screenColor(x, y) & 0xFF);
  EXPECT_EQ(brightest, (255u * 128 + 0x40 * 127 + 127) / 255);
  l->SetPropInt(PR_ALPHA, 0);
  frame();
  EXPECT_TRUE(inkBox().IsEmpty());
}

TEST_F(LabelTest, AStillCaptionIsRenderedOnce) {
  TZirkLabel* l = caption("abc");
  frame();
  const TDIBX* picture = &l->Label().Picture();
  const uint8_t* pixels = picture->Pixels().bits;
  // Setting what it already has renders nothing again.
  l->SetPropStr(PR_TEXT, "abc");
  l->SetPropInt(PR_FONTHEIGHT, 16);
  frame();
  EXPECT_EQ(l->Label().Picture().Pixels().bits, pixels);
  EXPECT_FALSE(l->Label().Dirty);
  EXPECT_EQ(l->GetBackSurface(), picture);
  EXPECT_EQ(l->GetMaskSurface(), &l->Label().Mask());
  // A display-mode change lets the surfaces go; the caption shows its own again.
  scene.ReleaseSurfaces();
  scene.RestoreSurfaces();
  EXPECT_EQ(l->GetBackSurface(), picture);
  frame();
  EXPECT_FALSE(inkBox().IsEmpty());
}

}  // namespace
}  // namespace zirk::test
