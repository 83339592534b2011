// The image surface base on a headless scene: where and how a picture is
// drawn (opacity, additive levels, flips, zoom, rotation, draw rectangles),
// the display size rules, hit tests through masks, and the save record.

#include <gtest/gtest.h>

#include <functional>

#include "objects/customimage.h"
#include "picture_fixture.h"
#include "scene/zbase.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

// An n x n picture of four quadrants: red, green / blue, white.
std::unique_ptr<TDIBX> quadrants(int32_t n) {
  std::vector<uint32_t> colors(static_cast<size_t>(n * n));
  for (int32_t y = 0; y < n; ++y) {
    for (int32_t x = 0; x < n; ++x) {
      const bool right = x >= n / 2, bottom = y >= n / 2;
      colors[static_cast<size_t>(y * n + x)] =
          bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
    }
  }
  return makeSurface(n, n, colors);
}

class CustomImageTest : public ScenePictureTest {
 protected:
  // A picture object showing a lent surface at (left, top), sized to it.
  template <class T = TZirkCustomImage>
  T* show(std::unique_ptr<TDIBX> picture, int32_t left, int32_t top,
          TZirkObject* parent = nullptr) {
    pictures.push_back(std::move(picture));
    auto* image = scene.Create<T>(parent, "");
    image->SetBackSurface(pictures.back().get());
    image->SetPropInt(PR_LEFT, left);
    image->SetPropInt(PR_TOP, top);
    image->SetSizeDirty(true);
    frame();
    return image;
  }
  TZirkObject* hit(TZirkCustomImage* image, int32_t x, int32_t y) {
    return image->HitTest({x, y}, kAllMouseMask);
  }

  std::vector<std::unique_ptr<TDIBX>> pictures;
};

TEST_F(CustomImageTest, OpacityAndAdditiveLevels) {
  TZirkCustomImage* image = show(quadrants(4), 100, 50);
  EXPECT_EQ(image->Width(), 4);
  struct Case {
    int32_t alpha;
    uint32_t red;  // what the red quadrant shows over the grey background
  } cases[] = {{255, kRed},       {128, 0x2020A0},    {0, kBackground},
               {-3, kBackground}, {256, kBackground}, {511, 0x4040FF}};
  for (const Case& c : cases) {
    image->SetPropInt(PR_ALPHA, c.alpha);
    scene.RedrawAll();
    frame();
    EXPECT_EQ(screenColor(100, 50), c.red) << "alpha " << c.alpha;
    EXPECT_EQ(screenColor(104, 50), kBackground) << "alpha " << c.alpha;
  }
}

TEST_F(CustomImageTest, ColourKeyFlipsAndZoom) {
  auto picture = quadrants(4);
  picture->SetColorKey(picture->ColorToPixel(kWhite));
  TZirkCustomImage* image = show(std::move(picture), 10, 10);
  EXPECT_EQ(screenColor(10, 10), kRed);
  EXPECT_EQ(screenColor(13, 13), kBackground) << "the key is not drawn";

  struct Case {
    bool flipH, flipV;
    uint32_t topLeft, bottomLeft;
  } cases[] = {{false, false, kRed, kBlue},
               {true, false, kGreen, kBackground},
               {false, true, kBlue, kRed},
               {true, true, kBackground, kGreen}};
  for (const Case& c : cases) {
    image->SetPropInt(PR_FLIPH, c.flipH);
    image->SetPropInt(PR_FLIPV, c.flipV);
    frame();
    EXPECT_EQ(screenColor(10, 10), c.topLeft) << c.flipH << c.flipV;
    EXPECT_EQ(screenColor(10, 13), c.bottomLeft) << c.flipH << c.flipV;
  }
  image->SetPropInt(PR_FLIPH, 0);
  image->SetPropInt(PR_FLIPV, 0);

  image->SetPropInt(PR_ZOOMX, 512);
  image->SetPropInt(PR_ZOOMY, 768);
  frame();
  EXPECT_EQ(image->Width(), 8);
  EXPECT_EQ(image->Height(), 12);
  EXPECT_EQ(screenColor(13, 15), kRed);
  EXPECT_EQ(screenColor(14, 10), kGreen);
  EXPECT_EQ(screenColor(13, 16), kBlue);
  EXPECT_EQ(screenColor(17, 21), kBackground) << "stretched key";
  EXPECT_EQ(screenColor(18, 10), kBackground);
}

TEST_F(CustomImageTest, RotationTurnsAboutTheAnchorAndOnlyTheLowByteCounts) {
  TZirkCustomImage* image = show(quadrants(8), 200, 200);
  image->SetPropInt(PR_OFFSETX, 4);
  image->SetPropInt(PR_OFFSETY, 4);
  frame();
  EXPECT_EQ(screenColor(197, 197), kRed) << "anchor (4, 4) on (200, 200)";

  // A quarter turn clockwise: top-left goes to top-right, and so on.
  image->SetPropInt(PR_ANGLE, 64);
  frame();
  EXPECT_EQ(screenColor(202, 197), kRed);
  EXPECT_EQ(screenColor(202, 202), kGreen);
  EXPECT_EQ(screenColor(197, 202), kWhite);
  EXPECT_EQ(screenColor(197, 197), kBlue);
  const TRect turned = image->GetScreenRect();
  EXPECT_EQ(turned, Rect(197, 196, 205, 204)) << "pixel (4, 4) turns about its centre";
  EXPECT_EQ(image->HitTest({202, 197}, kAllMouseMask), image);
  EXPECT_EQ(image->HitTest({210, 197}, kAllMouseMask), nullptr);

  image->SetPropInt(PR_ANGLE, 256);
  frame();
  EXPECT_EQ(image->GetPropInt(PR_ANGLE), 256);
  EXPECT_EQ(screenColor(197, 197), kRed) << "256 draws as 0";
  EXPECT_EQ(screenColor(202, 202), kWhite);
  EXPECT_EQ(image->GetScreenRect(), Rect(196, 196, 204, 204));
}

// A zoomed picture's anchor stays on its position whether or not it is
// turned: the offset is scaled by the zoom, and the stretch, the screen
// rectangle and the mask hit test follow the picture.
TEST_F(CustomImageTest, AZoomedPictureKeepsItsAnchorWhenItStartsToTurn) {
  TZirkCustomImage* image = show(quadrants(8), 200, 200);
  image->SetPropInt(PR_OFFSETX, 4);
  image->SetPropInt(PR_OFFSETY, 4);
  image->SetPropInt(PR_ZOOMX, 512);
  image->SetPropInt(PR_ZOOMY, 512);
  frame();
  for (int32_t angle : {0, 1, 0}) {
    image->SetPropInt(PR_ANGLE, angle);
    frame();
    EXPECT_EQ(screenColor(201, 201), kWhite) << "anchor pixel (4, 4) at angle " << angle;
    EXPECT_EQ(screenColor(198, 198), kRed) << "angle " << angle;
  }
  EXPECT_EQ(image->GetScreenRect(), Rect(192, 192, 208, 208));
  EXPECT_EQ(screenColor(192, 192), kRed);
  EXPECT_EQ(screenColor(191, 192), kBackground);
  EXPECT_EQ(screenColor(207, 207), kWhite);
  EXPECT_EQ(screenColor(208, 207), kBackground);

  // The left half of the mask admits no hit.
  std::vector<uint8_t> levels(64);
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = i % 8 >= 4 ? 255 : 0;
  auto mask = makeMask(8, 8, levels);
  image->SetMaskSurface(mask.get());
  image->SetPropInt(PR_CAPTUREMASK, 1);
  EXPECT_EQ(hit(image, 199, 195), nullptr);
  EXPECT_EQ(hit(image, 200, 195), image);
  EXPECT_EQ(hit(image, 191, 195), nullptr);
  image->SetMaskSurface(nullptr);
}

TEST_F(CustomImageTest, DrawRectanglesLimitTheBlitAndMirrorInsideThePicture) {
  auto picture = quadrants(4);
  picture->Rects1 = {Rect(0, 0, 1, 4)};  // the leftmost column
  TZirkCustomImage* image = show(std::move(picture), 20, 20);
  EXPECT_EQ(screenColor(20, 20), kRed);
  EXPECT_EQ(screenColor(21, 20), kBackground);
  EXPECT_EQ(screenColor(20, 23), kBlue);

  image->SetPropInt(PR_FLIPH, 1);
  frame();
  EXPECT_EQ(screenColor(20, 20), kBackground);
  EXPECT_EQ(screenColor(23, 20), kRed) << "the column mirrored inside the picture";
  EXPECT_EQ(screenColor(22, 20), kBackground);
}

TEST_F(CustomImageTest, MaskHitTests) {
  auto picture = makeSurface(4, 1, {kRed, kRed, kRed, kRed});
  TZirkCustomImage* image = show(std::move(picture), 0, 0);
  EXPECT_EQ(hit(image, 0, 0), image) << "capture mask off: the rectangle";
  image->SetPropInt(PR_CAPTUREMASK, 1);
  EXPECT_EQ(hit(image, 0, 0), image) << "no mask: the rectangle";
  EXPECT_EQ(hit(image, 4, 0), nullptr);

  auto mask = makeMask(4, 1, {0, 127, 128, 255});
  image->SetMaskSurface(mask.get());
  struct Case {
    const char* what;
    int32_t zoomX;  // -1: explicit width 8
    bool flipH;
    std::vector<bool> hits;  // at x = 0, 1, ...
  } cases[] = {
      {"plain", 256, false, {false, false, true, true}},
      {"flipped", 256, true, {true, true, false, false}},
      {"zoom 200%", 512, false, {false, false, false, false, true, true, true, true}},
      {"explicit size", -1, false, {false, false, false, false, true, true, true, true}},
  };
  for (const Case& c : cases) {
    image->SetPropInt(PR_FLIPH, c.flipH);
    if (c.zoomX < 0) {
      image->SetPropInt(PR_WIDTH, 8);
      EXPECT_EQ(image->ZoomX(), 0);
    } else {
      image->SetPropInt(PR_ZOOMX, c.zoomX);
      frame();
    }
    ASSERT_EQ(image->Width(), static_cast<int32_t>(c.hits.size())) << c.what;
    for (size_t x = 0; x < c.hits.size(); ++x) {
      EXPECT_EQ(hit(image, static_cast<int32_t>(x), 0) == image, c.hits[x]) << c.what << " x " << x;
    }
  }

  // A mask smaller than the picture is a miss where it ends.
  auto small = makeMask(2, 1, {255, 255});
  image->SetMaskSurface(small.get());
  image->SetPropInt(PR_ZOOMX, 256);
  image->SetPropInt(PR_FLIPH, 0);
  frame();
  EXPECT_EQ(hit(image, 1, 0), image);
  EXPECT_EQ(hit(image, 2, 0), nullptr);
  image->SetMaskSurface(nullptr);
}

TEST_F(CustomImageTest, ClipsHideButDoNotStopHits) {
  TZirkCustomImage* parent = show(quadrants(8), 0, 0);
  TZirkCustomImage* child = show(quadrants(2), 5, 5, parent);
  for (auto [prop, value] :
       {std::pair{PR_CLIPLEFT, 0}, {PR_CLIPTOP, 0}, {PR_CLIPWIDTH, 4}, {PR_CLIPHEIGHT, 4}}) {
    parent->SetPropInt(prop, value);
  }
  scene.RedrawAll();
  frame();
  EXPECT_EQ(screenColor(5, 5), kBackground) << "the child is drawn only inside the clip";
  EXPECT_EQ(hit(parent, 5, 5), child);
  EXPECT_EQ(hit(parent, 6, 1), parent) << "nor is the parent's own clipped part a miss";
}

// Counts its drawings; with `paints` off it reports its cover but leaves
// the screen as it was, which shows what was drawn under it.
class CountedImage : public TZirkCustomImage {
 public:
  using TZirkCustomImage::TZirkCustomImage;
  void DrawImage() override {
    ++draws;
    if (paints) TZirkCustomImage::DrawImage();
  }
  bool paints = true;
  int draws = 0;
};

TEST_F(CustomImageTest, AnOpaquePictureCoversWhatLiesUnderIt) {
  TZirkCustomImage* green = show(makeSurface(8, 8, std::vector<uint32_t>(64, kGreen)), 0, 0);
  auto* under = show<CountedImage>(quadrants(4), 20, 20);
  auto* top = show<CountedImage>(quadrants(8), 18, 18);
  under->draws = top->draws = 0;
  scene.RedrawAll();
  frame();
  EXPECT_EQ(under->draws, 0) << "wholly under an opaque picture";
  EXPECT_EQ(top->draws, 1);
  top->SetPropInt(PR_ALPHA, 254);
  frame();
  EXPECT_EQ(under->draws, 1) << "a translucent picture covers nothing";

  // A cover that draws nothing leaves what was there: the screen colour is
  // not filled under it.
  pictures.push_back(makeSurface(8, 8, std::vector<uint32_t>(64, kRed)));
  auto* claims = scene.Create<CountedImage>(nullptr, "");
  claims->paints = false;
  claims->SetBackSurface(pictures.back().get());
  claims->SetSizeDirty(true);
  green->SetPropInt(PR_VISIBLE, 0);
  frame();
  EXPECT_EQ(screenColor(3, 3), kGreen);
  claims->SetPropInt(PR_CLIPLEFT, 0);
  claims->SetPropInt(PR_CLIPTOP, 0);
  claims->SetPropInt(PR_CLIPWIDTH, 4);
  claims->SetPropInt(PR_CLIPHEIGHT, 8);
  scene.GetBase(0)->ClearDirtyRects();
  scene.GetBase(0)->InvalidateRect(Rect(5, 1, 7, 4));
  frame();
  EXPECT_EQ(screenColor(3, 3), kGreen);
  EXPECT_EQ(screenColor(5, 3), kBackground) << "filled outside the clip the picture is drawn in";
}

TEST_F(CustomImageTest, CoverLeavesEveryPixelAsWithoutIt) {
  struct Case {
    const char* what;
    std::function<void(TZirkCustomImage&, TDIBX&, TZirkCustomImage& parent)> setup;
  } cases[] = {
      {"plain", [](TZirkCustomImage&, TDIBX&, TZirkCustomImage&) {}},
      {"draw rectangles, flipped",
       [](TZirkCustomImage& top, TDIBX& s, TZirkCustomImage&) {
         s.Rects1 = {Rect(0, 0, 3, 8), Rect(3, 5, 8, 8)};
         top.SetPropInt(PR_FLIPH, 1);
       }},
      {"stretched",
       [](TZirkCustomImage& top, TDIBX&, TZirkCustomImage&) {
         top.SetPropInt(PR_ZOOMX, 400);
         top.SetPropInt(PR_ZOOMY, 300);
       }},
      {"own clip",
       [](TZirkCustomImage& top, TDIBX&, TZirkCustomImage&) {
         top.SetPropInt(PR_CLIPLEFT, 3);
         top.SetPropInt(PR_CLIPTOP, 2);
         top.SetPropInt(PR_CLIPWIDTH, 4);
         top.SetPropInt(PR_CLIPHEIGHT, 5);
       }},
      {"parent's clip",
       [](TZirkCustomImage&, TDIBX&, TZirkCustomImage& parent) {
         parent.SetPropInt(PR_CLIPLEFT, 0);
         parent.SetPropInt(PR_CLIPTOP, 0);
         parent.SetPropInt(PR_CLIPWIDTH, 13);
         parent.SetPropInt(PR_CLIPHEIGHT, 12);
       }},
  };
  auto screen = [&] {
    scene.RedrawAll();
    frame();
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < 40; ++y) {
      for (int32_t x = 0; x < 40; ++x) pixels.push_back(screenColor(x, y));
    }
    return pixels;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    scene.ClearObjects();
    show(quadrants(4), 9, 10);  // wholly under the top one when nothing cuts it
    TZirkCustomImage* parent = show(quadrants(16), 2, 2);
    parent->SetPropInt(PR_ALPHA, 128);
    TZirkCustomImage* top = show(quadrants(8), 6, 7, parent);
    TDIBX& s = *pictures.back();
    c.setup(*top, s, *parent);
    frame();
    s.SetColorKey(s.ColorToPixel(0x010203));  // in no pixel: the same drawing, no cover
    const std::vector<uint32_t> uncovered = screen();
    s.SetColorKey(-1);
    EXPECT_EQ(screen(), uncovered);
  }
}

TEST_F(CustomImageTest, ZoomAndExplicitSizes) {
  TZirkCustomImage* image = show(quadrants(4), 0, 0);
  for (auto [set, stored] : {std::pair{0, 1}, {-5, 1}, {300, 300}, {256, 256}}) {
    image->SetPropInt(PR_ZOOMX, set);
    EXPECT_EQ(image->GetPropInt(PR_ZOOMX), stored) << set;
  }

  // An explicit size survives the recomputations a flip or a dirty tick run.
  image->SetPropInt(PR_WIDTH, 10);
  image->SetPropInt(PR_HEIGHT, 6);
  EXPECT_EQ(image->ZoomX(), 0);
  EXPECT_EQ(image->ZoomY(), 0);
  image->SetPropInt(PR_FLIPH, 1);
  image->SetPropInt(PR_FLIPV, 1);
  image->SetSizeDirty(true);
  frame();
  EXPECT_EQ(image->Width(), 10);
  EXPECT_EQ(image->Height(), 6);
  EXPECT_EQ(screenColor(0, 0), kWhite) << "stretched to the explicit size, flipped";
  EXPECT_EQ(screenColor(9, 5), kRed);
  EXPECT_EQ(image->GetPropInt(PR_ORIGWIDTH), 4);

  // Rotated at an explicit size: drawn at the size's scale.
  image->SetPropInt(PR_ANGLE, 128);
  frame();
  EXPECT_FALSE(image->GetScreenRect().IsEmpty());

  image->SetPropInt(PR_ZOOMX, 256);
  frame();
  EXPECT_EQ(image->Width(), 4) << "a zoom makes the size follow the picture again";
}

TEST_F(CustomImageTest, PositionsAlignWithAZoomedParent) {
  TZirkCustomImage* parent = show(makeSurface(8, 1, std::vector<uint32_t>(8, kBlue)), 0, 0);
  parent->SetPropInt(PR_ZOOMX, 128);
  frame();
  ASSERT_EQ(parent->Width(), 4);
  TZirkCustomImage* child = show(makeSurface(3, 1, std::vector<uint32_t>(3, kRed)), 0, 0, parent);
  child->SetPropInt(PR_POSZOOMED, 1);
  child->SetPropInt(PR_ZOOMX, 128);
  frame();
  EXPECT_EQ(child->Width(), 2) << "edges on the parent's scaled pixels (plainly: 1)";

  // A parent shown with width 0 gives no scale: the plain rule applies.
  pictures[0]->SetSize(0, 1, 32);
  parent->SetSizeDirty(true);
  frame();
  ASSERT_EQ(parent->Width(), 0);
  child->UpdateDisplayWidth();
  EXPECT_EQ(child->Width(), 1);
}

TEST_F(CustomImageTest, SaveRecordRoundTrip) {
  TZirkCustomImage* image = show(quadrants(4), 5, 6);
  image->SetPropInt(PR_ALPHA, 300);
  image->SetPropInt(PR_WIDTH, 7);  // zoom x 0
  image->SetPropInt(PR_ZOOMY, 384);
  image->SetPropInt(PR_ANGLE, 256);
  image->SetPropInt(PR_FLIPV, 1);
  image->SetPropInt(PR_CAPTUREMASK, 1);
  TKwMemoryStream record;
  image->SaveToStream(record);
  scene.FreeObject(image);

  for (int32_t version : {SaveVersion, 103}) {
    std::vector<uint8_t> bytes(record.Memory(), record.Memory() + record.Size());
    if (version < 104) {
      // As written then: no order and tag after name and priority, no zoom y.
      const size_t nameEnd = 4 + bytes[0];
      bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(nameEnd + 4),
                  bytes.begin() + static_cast<ptrdiff_t>(nameEnd + 12));
      bytes.resize(bytes.size() - 4);
    }
    TKwMemoryStream data(std::move(bytes));
    auto* loaded = scene.Create<TZirkCustomImage>(nullptr, "");
    loaded->LoadFromStream(data, version);
    EXPECT_EQ(data.Position(), data.Size()) << version;
    EXPECT_EQ(loaded->Alpha(), 300);
    EXPECT_EQ(loaded->ZoomX(), 0) << "an explicit size stays explicit";
    EXPECT_EQ(loaded->ZoomY(), version >= 104 ? 384 : 256);
    EXPECT_EQ(loaded->Angle(), 256);
    EXPECT_FALSE(loaded->FlipH());
    EXPECT_TRUE(loaded->FlipV());
    EXPECT_TRUE(loaded->CaptureMask());
    EXPECT_EQ(loaded->Width(), 7);
    scene.FreeObject(loaded);
  }
}

TEST_F(CustomImageTest, SurfacesAroundADisplayChange) {
  TZirkCustomImage* image = show(quadrants(4), 30, 30);
  image->SetMaskSurface(pictures[0].get());
  scene.ReleaseSurfaces();
  EXPECT_EQ(image->GetMaskSurface(), nullptr) << "lent surfaces are forgotten";
  EXPECT_EQ(image->OwnSurface(), nullptr);
  scene.RestoreSurfaces();
  ASSERT_NE(image->OwnSurface(), nullptr);
  EXPECT_EQ(image->GetBackSurface(), image->OwnSurface());
  image->SetBackSurface(pictures[0].get());
  frame();
  EXPECT_EQ(screenColor(30, 30), kRed) << "lent again by its owner";
}

}  // namespace
}  // namespace zirk::test
