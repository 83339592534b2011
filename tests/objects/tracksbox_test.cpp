// Box and label tracks played tick by tick on a headless scene.

#include <gtest/gtest.h>

#include "film_support.h"
#include "objects/box.h"
#include "objects/label.h"
#include "objects/motion.h"
#include "objects/tracksbox.h"
#include "objects/trackslabel.h"
#include "picture_fixture.h"

namespace zirk::test {
namespace {

constexpr int32_t kRed = 0x0000FF, kBlue = 0xFF0000;

FilmTrack boxTrack(int32_t start, int32_t length) {
  FilmTrack t;
  t.type = 2;
  t.start = start;
  t.length = length;
  t.widthFrom = t.widthTo = t.heightFrom = t.heightTo = 20;
  t.colorFrom = t.colorTo = kRed;
  return t;
}

FilmTrack labelTrack(const std::string& text, int32_t start, int32_t length) {
  FilmTrack t;
  t.type = 1;
  t.start = start;
  t.length = length;
  t.text = text;
  t.fontName = "IPAGothic";
  t.fontHeight = 16;
  return t;
}

class BoxLabelTrackTest : public ScenePictureTest {
 protected:
  void load(TFilmManager& film, const FilmFile& file) {
    film.Owner = &scene;
    readFilm(film, file, "film.zcn");
  }
  void play(TFilmManager& film, int32_t time) {
    film.SetFilmTime(time);
    frame();
  }
  TZirkBox* theBox() {
    auto boxes = objectsOf<TZirkBox>(scene);
    return boxes.size() == 1 ? boxes[0] : nullptr;
  }
};

TEST_F(BoxLabelTrackTest, BoxRectangleFollowsItsCornersTickByTick) {
  // 100 wide at x 10 to 50 wide at x 10 over 2 ticks; then moving and
  // growing over 5.
  FilmTrack shrink = boxTrack(0, 2);
  shrink.positionFrom = shrink.positionTo = {10, 10};
  shrink.widthFrom = 100;
  shrink.widthTo = 50;
  FilmTrack move = boxTrack(10, 5);
  move.positionTo = {40, 80};
  move.widthTo = 60;
  TFilmManager film;
  load(film, FilmFile{.tracks = {shrink, move}});
  struct Step {
    int32_t time;
    TRect bounds;
  } steps[] = {
      {0, Bounds(10, 10, 100, 20)}, {1, Bounds(10, 10, 50, 20)},  {10, Bounds(0, 0, 20, 20)},
      {11, Bounds(10, 20, 30, 20)}, {12, Bounds(20, 40, 40, 20)}, {14, Bounds(40, 80, 60, 20)},
  };
  for (const Step& s : steps) {
    play(film, s.time);
    TZirkBox* box = theBox();
    ASSERT_NE(box, nullptr) << s.time;
    EXPECT_EQ(box->GetScreenRect(), s.bounds) << s.time;
    EXPECT_EQ(screenColor(s.bounds.Left, s.bounds.Top), uint32_t(kRed)) << s.time;
    EXPECT_EQ(screenColor(s.bounds.Right, s.bounds.Top), kBackground) << s.time;
  }
  // Between and after the spans the box is let go.
  play(film, 5);
  EXPECT_EQ(theBox(), nullptr);
  EXPECT_EQ(screenColor(10, 10), kBackground);
}

TEST_F(BoxLabelTrackTest, BoxColoursMoveByChannelAndEqualOnesPassWhole) {
  FilmTrack ramp = boxTrack(0, 3);
  ramp.colorFrom = kRed;
  ramp.colorTo = kBlue;
  ramp.borderWidthFrom = 0;
  ramp.borderWidthTo = 8;
  ramp.borderColorFrom = ramp.borderColorTo = 0x7F123456;
  ramp.alphaFrom = 0;  // stands for 255
  ramp.alphaTo = 55;
  TFilmManager film;
  load(film, FilmFile{.tracks = {ramp}});
  struct Step {
    int32_t color, borderWidth, alpha;
  } steps[] = {{0x0000FF, 0, 255}, {0x7F0080, 4, 155}, {0xFF0000, 8, 55}};
  for (int32_t tick = 0; tick < 3; ++tick) {
    film.SetFilmTime(tick);
    TZirkBox* box = theBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->GetPropInt(PR_COLOR), steps[tick].color) << tick;
    EXPECT_EQ(box->BorderWidth(), steps[tick].borderWidth) << tick;
    EXPECT_EQ(box->Alpha(), steps[tick].alpha) << tick;
    EXPECT_EQ(box->BorderColor(), 0x7F123456) << tick;
  }
}

TEST_F(BoxLabelTrackTest, ChainedBoxStartsFromItsParentsEnd) {
  FilmTrack first = boxTrack(0, 2);
  first.positionTo = {30, 40};
  first.widthTo = 50;
  first.colorTo = kBlue;
  first.alphaTo = 128;
  FilmTrack second = boxTrack(0, 3);
  second.parent = 0;
  second.positionFrom = {999, 999};  // ignored: the parent's end counts
  second.positionTo = {60, 40};
  second.colorFrom = 0x00FF00;
  second.colorTo = kBlue;
  second.alphaTo = 128;
  TFilmManager film;
  load(film, FilmFile{.tracks = {first, second}});
  auto* chained = dynamic_cast<TBoxFrameList*>(film.TrackAt(1));
  ASSERT_NE(chained, nullptr);
  chained->SetWidthFrom(7);  // a chained track's start is its parent's end
  // One object carries on: first track ticks 0..1, the chained one 2..4.
  play(film, 2);
  TZirkBox* box = theBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->GetScreenRect(), Bounds(30, 40, 50, 20));
  EXPECT_EQ(box->GetPropInt(PR_COLOR), kBlue);
  EXPECT_EQ(box->Alpha(), 128);
  // The writer writes the parent's end values as the start.
  TKwMemoryStream stream;
  TFilmRecordWriter out(stream, "");
  chained->SaveToStream(out);
  TFilmManager other;
  TBoxFrameList copy(other);
  stream.SetPosition(0);
  TFilmRecordReader in(stream, "", 108);
  copy.LoadFromStream(in);
  EXPECT_EQ(stream.Remaining(), 0);
  EXPECT_EQ(copy.GetPositionFrom(), (TPoint{30, 40}));
  EXPECT_EQ(copy.GetColorFrom(), kBlue);
  EXPECT_EQ(copy.PositionTo, (TPoint{60, 40}));
}

TEST_F(BoxLabelTrackTest, RecordsOfEveryVersionLoad) {
  for (int32_t version : {100, 101, 102, 103, 107, 108}) {
    FilmTrack box = boxTrack(0, 4);
    box.clipSizeFrom = box.clipSizeTo = {5, 6};
    FilmTrack label = labelTrack("abc", 0, 4);
    label.lineSpace = 9;
    label.hAlign = 2;
    FilmTrack after = boxTrack(0, 4);
    after.colorTo = 0x123456;
    TFilmManager film;
    film.SkipAfterLoad = true;
    load(film, FilmFile{.version = version, .tracks = {box, label, after}});
    ASSERT_EQ(film.Count(), 3) << version;
    auto* b = dynamic_cast<TBoxFrameList*>(film.TrackAt(0));
    auto* l = dynamic_cast<TLabelFrameList*>(film.TrackAt(1));
    auto* a = dynamic_cast<TBoxFrameList*>(film.TrackAt(2));
    ASSERT_TRUE(b && l && a) << version;
    EXPECT_EQ(b->ClipSizeTo, (version >= 101 ? TPoint{5, 6} : TPoint{})) << version;
    EXPECT_EQ(l->GetText(), "abc");
    // Before 103 the line space is skipped and there is no alignment byte.
    EXPECT_EQ(l->GetLineSpace(), version >= 103 ? 9 : 0) << version;
    EXPECT_EQ(l->HAlign, version >= 103 ? 2 : 0) << version;
    EXPECT_EQ(a->ColorTo, 0x123456) << version;
  }
}

TEST_F(BoxLabelTrackTest, LabelMeasuresItsLinesInItsFont) {
  TFilmManager film;
  TLabelFrameList label(film);
  label.SetFontName("IPAGothic");
  label.SetFontHeight(12);
  label.SetLineSpace(4);
  label.SetText("ab\r\nabcd\nx");
  EXPECT_EQ(label.GetContentWidth(), 24);
  EXPECT_EQ(label.Frames.front()->Height(), 44);
  label.SetFontHeight(20);
  EXPECT_EQ(label.GetContentWidth(), 40);
  EXPECT_EQ(label.GetContentHeight(), 68);
}

TEST_F(BoxLabelTrackTest, LabelTrackShowsItsCaptionMovingAndFading) {
  FilmTrack t = labelTrack("\x8E\x9A HI", 0, 5);  // a kanji, a space and two letters
  t.fontColor = 0xFFFFFF;
  t.positionFrom = {100, 100};
  t.positionTo = {140, 60};
  t.priority = 3;
  TFilmManager film;
  load(film, FilmFile{.tracks = {t}});
  for (int32_t tick = 0; tick < 5; ++tick) {
    play(film, tick);
    auto labels = objectsOf<TZirkLabel>(scene);
    ASSERT_EQ(labels.size(), 1u) << tick;
    const TRect r = Bounds(100 + 10 * tick, 100 - 10 * tick, 40, 16);
    EXPECT_EQ(labels[0]->GetScreenRect(), r) << tick;
    EXPECT_EQ(labels[0]->GetPriority(), 3);
    // White text inside the rectangle, nothing around it.
    int32_t white = 0;
    for (int32_t py = r.Top - 4; py < r.Bottom + 4; ++py)
      for (int32_t px = r.Left - 4; px < r.Right + 4; ++px) {
        const uint32_t c = screenColor(px, py);
        ASSERT_TRUE(r.Contains({px, py}) || c == kBackground) << px << "," << py;
        white += c == 0xFFFFFF;
      }
    EXPECT_GT(white, 40) << tick;
  }
  play(film, 5);
  EXPECT_TRUE(objectsOf<TZirkLabel>(scene).empty());
}

TEST_F(BoxLabelTrackTest, ACaptionTheBudgetRefusedStaysRefusedUntilItChanges) {
  TFilmManager film;
  load(film, FilmFile{.tracks = {labelTrack("HI", 0, 5)}});
  film.Budget = TFilmBudget(0);
  play(film, 0);
  // Room now, but the caption is what the budget refused: not asked again.
  film.Budget = TFilmBudget(kFilmObjectBudget);
  play(film, 1);
  EXPECT_TRUE(objectsOf<TZirkLabel>(scene).empty());
  static_cast<TLabelFrameList*>(film.TrackAt(0))->SetText("HO");
  play(film, 2);
  EXPECT_EQ(objectsOf<TZirkLabel>(scene).size(), 1u);
}

TEST_F(BoxLabelTrackTest, LabelTrackSetsTheCaptionsTextAndLook) {
  FilmTrack t = labelTrack("one\ntwo", 0, 3);
  t.fontHeight = 20;
  t.lineSpace = 2;
  t.fontStyle = FS_BOLD;
  t.antialias = 1;
  t.hAlign = 1;
  t.fontColor = 0x00FF00;
  t.alphaFrom = 0;
  t.alphaTo = 300;
  t.scaleXTo = 2.0;
  t.anchor = {5, 6};
  t.otherScreen = true;
  TFilmManager film;
  load(film, FilmFile{.tracks = {t}});
  play(film, 2);
  auto labels = objectsOf<TZirkLabel>(scene);
  ASSERT_EQ(labels.size(), 1u);
  TZirkLabel* l = labels[0];
  // Text, font, height, line space and style show in the size: bold adds a
  // pixel per letter, "one" is 3 x 11 wide and twice as wide zoomed.
  EXPECT_EQ(l->Label().Width, 33);
  EXPECT_EQ(l->GetPropInt(PR_WIDTH), 66);
  EXPECT_EQ(l->GetPropInt(PR_HEIGHT), 42);
  const int32_t look[][2] = {{PR_ANTIALIAS, 1}, {PR_HALIGN, 1},  {PR_FONTCOLOR, 0x00FF00},
                             {PR_ALPHA, 300},   {PR_OFFSETX, 5}, {PR_OFFSETY, 6}};
  for (auto [id, value] : look) EXPECT_EQ(l->GetPropInt(id), value) << id;
  EXPECT_EQ(l->GetParent(), scene.GetBase(1));
}

// A motion of one box track drives the box that runs it.
TEST_F(BoxLabelTrackTest, BoxTrackInAMotionMovesItsTarget) {
  RegisterZirkMotion();
  scene.SetFrameInterval(17);
  FilmFile m;
  m.kind = "ZirkMotion";
  FilmTrack t = boxTrack(0, 3);
  t.positionTo = {20, 10};
  t.widthTo = 40;
  t.colorTo = kBlue;
  m.tracks = {t};
  writeFile(dir / "slide.zmt", WriteFilmFile(m));
  TZirkBox* box = scene.Create<TZirkBox>(nullptr, "mover");
  box->SetPropInt(PR_COLOR, kRed);
  box->SetPropStr(PR_ONPLAYEND, "*end");
  box->SetPropStr(PR_SOURCE, "slide.zmt");
  ASSERT_NE(box->GetMotion(), nullptr);
  const TRect expected[] = {Bounds(0, 0, 20, 20), Bounds(10, 5, 30, 20), Bounds(20, 10, 40, 20)};
  for (const TRect& r : expected) {
    frame();
    EXPECT_EQ(box->GetScreenRect(), r);
  }
  EXPECT_EQ(screenColor(25, 15), 0xFF0000u);
  // The step past the last tick ends the motion.
  frame();
  EXPECT_EQ(box->GetScreenRect(), expected[2]);
  EXPECT_EQ(scene.Events().Count(), 1);
  // Repeat turned on after the end plays it again from the start.
  box->SetPropInt(PR_REPEAT, 1);
  frame();
  EXPECT_EQ(box->GetScreenRect(), expected[0]);
  box->SetPropStr(PR_SOURCE, "none.txt");
  EXPECT_EQ(box->GetMotion(), nullptr);
  SetMotionFactory({});
}

}  // namespace
}  // namespace zirk::test
