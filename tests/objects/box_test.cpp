#include "objects/box.h"

#include <gtest/gtest.h>

#include "objects/wave.h"
#include "picture_fixture.h"
#include "scene/clipmgr.h"
#include "scene/zbase.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr int32_t kRed = 0x0000FF;
constexpr int32_t kGreen = 0x00FF00;

struct Look {
  int32_t color = -1, borderColor = -1, borderWidth = 0, alpha = 255;
};

class BoxTest : public ScenePictureTest {
 protected:
  TZirkBox* box(TRect bounds, Look look, TZirkObject* parent = nullptr) {
    TZirkBox* b = scene.Create<TZirkBox>(parent, "");
    b->SetBounds(bounds.Left, bounds.Top, bounds.Width(), bounds.Height());
    b->SetPropInt(PR_COLOR, look.color);
    b->SetPropInt(PR_BORDERCOLOR, look.borderColor);
    b->SetPropInt(PR_BORDERWIDTH, look.borderWidth);
    b->SetPropInt(PR_ALPHA, look.alpha);
    return b;
  }
};

TEST_F(BoxTest, AlphaBlendsAddsOrDrawsNothing) {
  // Red on the grey background 0x404040 (colours 0x00BBGGRR).
  struct Case {
    int32_t alpha;
    uint32_t color;
  } cases[] = {
      {0, 0x404040},   {1, 0x404041},
      {128, 0x2020A0},  // (255 * 128 + 64 * 127) / 255 red, 64 * 127 / 255 the others
      {254, 0x0000FE}, {255, 0x0000FF},
      {300, 0x40406B},  // additive at level 44: 255 * 44 / 256 = 43 more red
      {511, 0x4040FF}, {512, 0x404040},
      {-5, 0x404040},
  };
  for (const Case& c : cases) {
    TZirkBox* b = box(Bounds(10, 10, 20, 20), {.color = kRed, .alpha = c.alpha});
    frame();
    EXPECT_EQ(screenColor(15, 15), c.color) << c.alpha;
    EXPECT_EQ(screenColor(30, 15), kBackground) << c.alpha;
    b->Scrap();
    frame();
  }
}

TEST_F(BoxTest, FramesAndFillsFollowBorderAndColour) {
  // A 20 x 20 box at (10, 10) with a 3-pixel frame.
  struct Case {
    Look look;
    uint32_t edge, inside;
  } cases[] = {
      {{kRed, kGreen, 3}, 0x00FF00, 0x0000FF}, {{-1, kGreen, 3}, 0x00FF00, kBackground},
      {{kRed, -1, 3}, kBackground, 0x0000FF},  // the fill keeps off the frame
      {{kRed, kGreen, 0}, 0x0000FF, 0x0000FF}, {{-1, -1, 3}, kBackground, kBackground},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.look.color << " " << c.look.borderColor);
    TZirkBox* b = box(Bounds(10, 10, 20, 20), c.look);
    frame();
    EXPECT_EQ(screenColor(11, 20), c.edge);
    EXPECT_EQ(screenColor(28, 28), c.edge);
    EXPECT_EQ(screenColor(15, 15), c.inside);
    b->Scrap();
    frame();
  }
  // A box turned inside out by a track draws nothing.
  TZirkBox* inverted = box(Rect(10, 10, -10, 30), {kRed, kGreen, 3});
  frame();
  EXPECT_EQ(screenColor(5, 15), kBackground);
  EXPECT_EQ(screenColor(11, 15), kBackground);
  inverted->Scrap();
  // A box that draws nothing still draws its children.
  box(Bounds(2, 2, 4, 4), {kGreen}, box(Bounds(40, 40, 20, 20), {}));
  frame();
  EXPECT_EQ(screenColor(43, 43), 0x00FF00u);
  EXPECT_EQ(screenColor(50, 50), kBackground);
}

TEST_F(BoxTest, ClipRectanglesAreWhatTheBoxPaints) {
  const std::vector<TRect> whole = {Rect(0, 0, 100, 100)}, none;
  const std::vector<TRect> bars = {Rect(0, 0, 100, 4), Rect(0, 96, 100, 100), Rect(0, 0, 4, 100),
                                   Rect(96, 0, 100, 100)};
  struct Case {
    Look look;
    int32_t height;
    std::vector<TRect> rects;  // screen coordinates of the box at (0, 0)
    bool opaque;
  } cases[] = {
      {{kRed}, 100, whole, true},
      {{kRed, -1, 4}, 100, {Rect(4, 4, 96, 96)}, true},  // inside an unpainted frame
      {{-1, kGreen, 4}, 100, bars, true},
      {{-1, kGreen, 4}, 6, {Rect(0, 0, 100, 4), Rect(0, 2, 100, 6)}, true},   // no side bars
      {{-1, kGreen, 10}, 6, {Rect(0, 0, 100, 6), Rect(0, 0, 100, 6)}, true},  // bars cut to it
      {{kRed, -1, 0, 128}, 100, whole, false},
      {{kRed, -1, 0, 300}, 100, whole, false},
      // Nothing drawn, nothing registered.
      {{-1, -1, 2}, 100, none, false},
      {{kRed, -1, 2, 512}, 100, none, false},
      {{kRed, -1, 2, 0}, 100, none, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.look.color << " " << c.look.borderColor << " " << c.look.alpha);
    TZirkBox* b = box(Bounds(0, 0, 100, c.height), c.look);
    TClipManager clips;
    b->CollectClipRects(clips);
    ASSERT_EQ(clips.Count(), c.rects.empty() ? 0 : 1);
    if (!c.rects.empty()) {
      EXPECT_EQ(clips.Items(0).DrawRects(), c.rects);
      EXPECT_EQ(clips.Items(0).OpaqueRects(), c.opaque ? c.rects : none);
    }
    b->Scrap();
  }
}

TEST_F(BoxTest, AnOpaqueBoxSparesWhatLiesWhollyUnderIt) {
  TZirkBox* under = box(Bounds(20, 20, 10, 10), {kGreen});
  box(Bounds(10, 10, 40, 40), {kRed});
  frame();
  EXPECT_EQ(screenColor(25, 25), 0x0000FFu);
  // The covered box changes; the repaint of its rectangle skips it.
  under->SetPropInt(PR_COLOR, 0xFFFFFF);
  frame();
  EXPECT_EQ(screenColor(25, 25), 0x0000FFu);
}

TEST_F(BoxTest, ClipsAndAWaveLimitWhatTheBoxCovers) {
  TZirkBox* clipped = box(Bounds(0, 0, 40, 40), {kRed});
  clipped->SetPropInt(PR_CLIPWIDTH, 5);
  clipped->SetPropInt(PR_CLIPHEIGHT, 5);
  box(Bounds(0, 0, 40, 40), {kRed}, scene.Create<TZirkWave>(nullptr, ""));  // shifted: no cover
  TClipManager clips;
  for (TZirkObject* o : scene.Objects()) o->CollectClipRects(clips);
  ASSERT_EQ(clips.Count(), 1);
  EXPECT_EQ(clips.Items(0).OpaqueRects(), std::vector{Rect(0, 0, 5, 5)});
}

TEST_F(BoxTest, SaveRecordKeepsFrameAlphaLabelsAndFlags) {
  TZirkBox* b = box(Bounds(5, 6, 70, 80), {kRed, kGreen, 3, 300});
  b->SetPropStr(PR_ONIDLE, "*idle");
  b->SetPropStr(PR_SOURCE, "box.txt");
  b->SetPropInt(PR_REPEAT, 1);
  b->SetPropInt(PR_AUTOSCRAP, 1);
  b->SetPropStr(PR_ONPLAYEND, "*end");
  b->SetPropInt(PR_PAUSED, 1);
  b->SetPropInt(PR_ANIPAUSED, 1);
  b->SetName("saved");
  TKwMemoryStream stream;
  b->SaveToStream(stream);
  b->Scrap();
  // The same record as version 103 wrote it: no order and tag in the base
  // record, nothing after the alpha.
  const std::vector<uint8_t>& bytes = stream.Bytes();
  const size_t head = 4 + 5 + 4, tail = (4 + 5) + (4 + 7) + 1 + 1 + (4 + 4) + 1 + 1;
  std::vector<uint8_t> old(bytes.begin(), bytes.begin() + head);
  old.insert(old.end(), bytes.begin() + head + 8, bytes.end() - tail);
  TKwMemoryStream stream103;
  stream103.Assign(old);
  for (int32_t version : {SaveVersion, 103}) {
    TKwMemoryStream& in = version == SaveVersion ? stream : stream103;
    in.SetPosition(0);
    TZirkBox* back = box(Bounds(0, 0, 1, 1), {});
    back->LoadFromStream(in, version);
    SCOPED_TRACE(version);
    EXPECT_EQ(in.Remaining(), 0);
    EXPECT_EQ(back->GetPropInt(PR_WIDTH), 70);
    EXPECT_EQ(back->BorderWidth(), 3);
    EXPECT_EQ(back->BorderColor(), kGreen);
    EXPECT_EQ(back->Alpha(), 300);
    const bool all = version >= 104;
    EXPECT_EQ(
        back->GetPropStr(PR_ONIDLE) + back->GetPropStr(PR_SOURCE) + back->GetPropStr(PR_ONPLAYEND),
        all ? "*idlebox.txt*end" : "");
    for (int id : {PR_REPEAT, PR_AUTOSCRAP, PR_PAUSED}) EXPECT_EQ(back->GetPropInt(id), all) << id;
    // The control's own record keeps the animation pause too.
    EXPECT_EQ(back->GetPropInt(PR_ANIPAUSED), 1);
    back->Scrap();
  }
}

}  // namespace
}  // namespace zirk::test
