#include "objects/box.h"

#include <gtest/gtest.h>

#include "picture_fixture.h"
#include "scene/clipmgr.h"
#include "scene/zbase.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr int32_t kRed = 0x0000FF;
constexpr int32_t kGreen = 0x00FF00;

class BoxTest : public ScenePictureTest {
 protected:
  TZirkBox* box(int32_t left, int32_t top, int32_t width, int32_t height, int32_t color) {
    TZirkBox* b = scene.Create<TZirkBox>(nullptr, "");
    b->SetBounds(left, top, width, height);
    b->SetPropInt(PR_COLOR, color);
    return b;
  }
  std::vector<TClipData*> clipsOf(TZirkBox& b, TClipManager& clips) {
    b.CollectClipRects(clips);
    std::vector<TClipData*> out;
    for (int32_t i = 0; i < clips.Count(); ++i) out.push_back(&clips.Items(i));
    return out;
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
    TZirkBox* b = box(10, 10, 20, 20, kRed);
    b->SetPropInt(PR_ALPHA, c.alpha);
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
    int32_t color, borderColor, borderWidth;
    uint32_t edge, inside;
  } cases[] = {
      {kRed, kGreen, 3, 0x00FF00, 0x0000FF}, {-1, kGreen, 3, 0x00FF00, kBackground},
      {kRed, -1, 3, kBackground, 0x0000FF},  // the fill keeps off the frame
      {kRed, kGreen, 0, 0x0000FF, 0x0000FF}, {-1, -1, 3, kBackground, kBackground},
  };
  for (const Case& c : cases) {
    TZirkBox* b = box(10, 10, 20, 20, c.color);
    b->SetPropInt(PR_BORDERCOLOR, c.borderColor);
    b->SetPropInt(PR_BORDERWIDTH, c.borderWidth);
    frame();
    EXPECT_EQ(screenColor(11, 20), c.edge) << c.color << " " << c.borderColor;
    EXPECT_EQ(screenColor(28, 28), c.edge) << c.color << " " << c.borderColor;
    EXPECT_EQ(screenColor(15, 15), c.inside) << c.color << " " << c.borderColor;
    b->Scrap();
    frame();
  }
  // A box turned inside out by a track draws nothing.
  TZirkBox* inverted = box(10, 10, -20, 20, kRed);
  inverted->SetPropInt(PR_BORDERCOLOR, kGreen);
  inverted->SetPropInt(PR_BORDERWIDTH, 3);
  frame();
  EXPECT_EQ(screenColor(5, 15), kBackground);
  EXPECT_EQ(screenColor(11, 15), kBackground);
  inverted->Scrap();
  // A box that draws nothing still draws its children.
  TZirkBox* empty = box(40, 40, 20, 20, -1);
  TZirkBox* child = scene.Create<TZirkBox>(empty, "");
  child->SetBounds(2, 2, 4, 4);
  child->SetPropInt(PR_COLOR, kGreen);
  frame();
  EXPECT_EQ(screenColor(43, 43), 0x00FF00u);
  EXPECT_EQ(screenColor(50, 50), kBackground);
}

TEST_F(BoxTest, ClipRectanglesAreWhatTheBoxPaints) {
  struct Case {
    const char* what;
    int32_t color, borderColor, borderWidth, height, alpha;
    std::vector<TRect> rects;  // screen coordinates of the box at (0, 0)
    bool opaque;
  } cases[] = {
      {"filled", kRed, -1, 0, 100, 255, {Rect(0, 0, 100, 100)}, true},
      {"fill inside an unpainted frame", kRed, -1, 4, 100, 255, {Rect(4, 4, 96, 96)}, true},
      {"frame only",
       -1,
       kGreen,
       4,
       100,
       255,
       {Rect(0, 0, 100, 4), Rect(0, 96, 100, 100), Rect(0, 0, 4, 100), Rect(96, 0, 100, 100)},
       true},
      {"frame only, too low for side bars",
       -1,
       kGreen,
       4,
       6,
       255,
       {Rect(0, 0, 100, 4), Rect(0, 2, 100, 6)},
       true},
      {"blended", kRed, -1, 0, 100, 128, {Rect(0, 0, 100, 100)}, false},
      {"additive", kRed, -1, 0, 100, 300, {Rect(0, 0, 100, 100)}, false},
  };
  for (const Case& c : cases) {
    TZirkBox* b = box(0, 0, 100, c.height, c.color);
    b->SetPropInt(PR_BORDERCOLOR, c.borderColor);
    b->SetPropInt(PR_BORDERWIDTH, c.borderWidth);
    b->SetPropInt(PR_ALPHA, c.alpha);
    TClipManager clips;
    auto records = clipsOf(*b, clips);
    ASSERT_EQ(records.size(), 1u) << c.what;
    EXPECT_EQ(records[0]->DrawRects(), c.rects) << c.what;
    EXPECT_EQ(records[0]->OpaqueRects(), c.opaque ? c.rects : std::vector<TRect>{}) << c.what;
    b->Scrap();
  }
  // Nothing drawn, nothing registered.
  for (auto [color, borderColor, alpha] :
       {std::tuple{-1, -1, 255}, std::tuple{kRed, -1, 512}, std::tuple{kRed, -1, 0}}) {
    TZirkBox* b = box(0, 0, 100, 100, color);
    b->SetPropInt(PR_BORDERCOLOR, borderColor);
    b->SetPropInt(PR_BORDERWIDTH, 2);
    b->SetPropInt(PR_ALPHA, alpha);
    TClipManager clips;
    EXPECT_TRUE(clipsOf(*b, clips).empty()) << color << " " << alpha;
    b->Scrap();
  }
}

TEST_F(BoxTest, AnOpaqueBoxSparesWhatLiesWhollyUnderIt) {
  TZirkBox* under = box(20, 20, 10, 10, kGreen);
  box(10, 10, 40, 40, kRed);
  frame();
  EXPECT_EQ(screenColor(25, 25), 0x0000FFu);
  // The covered box changes; the repaint of its rectangle skips it.
  under->SetPropInt(PR_COLOR, 0xFFFFFF);
  frame();
  EXPECT_EQ(screenColor(25, 25), 0x0000FFu);
}

TEST_F(BoxTest, SaveRecordKeepsFrameAlphaLabelsAndFlags) {
  TZirkBox* b = box(5, 6, 70, 80, kRed);
  b->SetPropInt(PR_BORDERWIDTH, 3);
  b->SetPropInt(PR_BORDERCOLOR, kGreen);
  b->SetPropInt(PR_ALPHA, 300);
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
    TZirkBox* back = box(0, 0, 1, 1, -1);
    back->LoadFromStream(in, version);
    EXPECT_EQ(in.Remaining(), 0) << version;
    EXPECT_EQ(back->GetPropInt(PR_WIDTH), 70);
    EXPECT_EQ(back->BorderWidth(), 3);
    EXPECT_EQ(back->BorderColor(), kGreen);
    EXPECT_EQ(back->Alpha(), 300);
    const bool all = version >= 104;
    EXPECT_EQ(back->GetPropStr(PR_ONIDLE), all ? "*idle" : "") << version;
    EXPECT_EQ(back->GetPropStr(PR_SOURCE), all ? "box.txt" : "") << version;
    EXPECT_EQ(back->GetPropInt(PR_REPEAT), all) << version;
    EXPECT_EQ(back->GetPropInt(PR_AUTOSCRAP), all) << version;
    EXPECT_EQ(back->GetPropStr(PR_ONPLAYEND), all ? "*end" : "") << version;
    EXPECT_EQ(back->GetPropInt(PR_PAUSED), all) << version;
    // The control's own record keeps the animation pause too.
    EXPECT_EQ(back->GetPropInt(PR_ANIPAUSED), 1) << version;
    EXPECT_EQ(back->GetKind(), LT_BOX);
    back->Scrap();
  }
}

}  // namespace
}  // namespace zirk::test
