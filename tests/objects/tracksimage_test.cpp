#include <gtest/gtest.h>

#include "film_support.h"
#include "objects/customimage.h"
#include "objects/image.h"
#include "objects/motion.h"
#include "objects/tile.h"
#include "objects/tracksimage.h"
#include "picture_fixture.h"
#include "scene/runtime.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kBlue = 0xFF0000;
constexpr uint32_t kGreen = 0x00FF00;

FilmTrack imageTrack(const std::string& source, int32_t start, int32_t length) {
  FilmTrack t;
  t.type = 0;
  t.source = source;
  t.start = start;
  t.length = length;
  return t;
}

int channel(uint32_t color, int shift) {
  return static_cast<int>((color >> shift) & 0xFF);
}

class FilmSceneTest : public ScenePictureTest {
 protected:
  void play(TFilmManager& film, int32_t time) {
    film.SetFilmTime(time);
    frame();
  }
  // The red square's left edge on the row, -1 when none is shown.
  int32_t redLeft(int32_t y) {
    for (int32_t x = 0; x < 640; ++x)
      if (screenColor(x, y) == kRed) return x;
    return -1;
  }
  void load(TFilmManager& film, const FilmFile& file) {
    film.Owner = &scene;
    readFilm(film, file, "film.zcn");
  }
};

TEST_F(FilmSceneTest, ImageTrackMovesThePictureTickByTick) {
  writeSolid("red.dor", 10, 10, kRed);
  FilmTrack t = imageTrack("red.dor", 0, 5);
  t.positionTo = {100, 0};
  TFilmManager film;
  load(film, FilmFile{.tracks = {t}});
  const int32_t expected[] = {0, 25, 50, 75, 100};
  for (int32_t tick = 0; tick < 5; ++tick) {
    play(film, tick);
    EXPECT_EQ(redLeft(5), expected[tick]) << tick;
    EXPECT_EQ(screenColor(expected[tick] + 10, 5), kBackground);
    EXPECT_EQ(screenColor(expected[tick] + 5, 10), kBackground);
  }
  TZirkObject* target = film.TrackAt(0)->GetTarget();
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(target->GetName().substr(0, 1), "\x01");
  EXPECT_EQ(target->GetParent(), scene.GetBase(0));
  // Past its span the track lets its object go.
  play(film, 5);
  EXPECT_EQ(redLeft(5), -1);
  EXPECT_EQ(film.TrackAt(0)->GetTarget(), nullptr);
}

TEST_F(FilmSceneTest, AChainedTrackTakesOverWhereItsParentEnded) {
  writeSolid("red.dor", 10, 10, kRed);
  FilmTrack first = imageTrack("red.dor", 0, 5);
  first.positionTo = {100, 0};
  FilmTrack second = imageTrack("red.dor", 999, 5);
  second.parent = 0;
  second.positionFrom = {-500, -500};  // a chained track starts from its parent's end
  second.positionTo = {200, 0};
  TFilmManager film;
  load(film, FilmFile{.tracks = {first, second}});
  EXPECT_EQ(film.Length, 10);
  // The end value shows on the chained track's first tick only.
  const int32_t expected[] = {0, 20, 40, 60, 80, 100, 125, 150, 175, 200};
  for (int32_t tick = 0; tick < 10; ++tick) {
    play(film, tick);
    EXPECT_EQ(redLeft(5), expected[tick]) << tick;
    EXPECT_EQ(film.TrackAt(0)->GetTarget() != nullptr, tick < 5) << tick;
  }
  play(film, 10);
  EXPECT_EQ(redLeft(5), -1);
  EXPECT_EQ(scene.ObjectCount(), 0);
}

TEST_F(FilmSceneTest, OpacityAdditiveLevelFlipsZoomAndClip) {
  writePicture("halves.dor", {TestFrame{10, 10, [] {
                                          std::vector<uint32_t> c(100);
                                          for (int i = 0; i < 100; ++i)
                                            c[i] = i % 10 < 5 ? kRed : kBlue;
                                          return c;
                                        }()}});
  struct Case {
    const char* what;
    void (*setup)(FilmTrack&);
    int32_t x, y;
    uint32_t (*check)(uint32_t color);  // 0 when the pixel is as expected
  };
  const Case cases[] = {
      {"opaque", [](FilmTrack&) {}, 52, 52, [](uint32_t c) { return c == kRed ? 0u : c; }},
      {"half", [](FilmTrack& t) { t.alphaFrom = t.alphaTo = 128; }, 52, 52,
       [](uint32_t c) {
         bool ok = std::abs(channel(c, 0) - (0x40 + 0xFF) / 2) <= 2 &&
                   std::abs(channel(c, 8) - 0x20) <= 2;
         return ok ? 0u : c | 0x1000000;
       }},
      {"additive", [](FilmTrack& t) { t.alphaFrom = t.alphaTo = -100; }, 52, 52,
       [](uint32_t c) {
         bool ok = std::abs(channel(c, 0) - (0x40 + 100)) <= 2 && channel(c, 8) == 0x40;
         return ok ? 0u : c | 0x1000000;
       }},
      {"flipped", [](FilmTrack& t) { t.flipH = true; }, 52, 52,
       [](uint32_t c) { return c == kBlue ? 0u : c | 0x1000000; }},
      {"zoomed", [](FilmTrack& t) { t.scaleXFrom = t.scaleXTo = t.scaleYFrom = t.scaleYTo = 2.0; },
       68, 68, [](uint32_t c) { return c == kBlue ? 0u : c | 0x1000000; }},
      {"zoomed edge",
       [](FilmTrack& t) { t.scaleXFrom = t.scaleXTo = t.scaleYFrom = t.scaleYTo = 2.0; }, 70, 60,
       [](uint32_t c) { return c == kBackground ? 0u : c | 0x1000000; }},
      {"clip inside",
       [](FilmTrack& t) {
         t.clipPositionFrom = t.clipPositionTo = {52, 52}, t.clipSizeFrom = t.clipSizeTo = {3, 3};
       },
       54, 54, [](uint32_t c) { return c == kRed ? 0u : c | 0x1000000; }},
      {"clip outside",
       [](FilmTrack& t) {
         t.clipPositionFrom = t.clipPositionTo = {52, 52}, t.clipSizeFrom = t.clipSizeTo = {3, 3};
       },
       51, 51, [](uint32_t c) { return c == kBackground ? 0u : c | 0x1000000; }},
      {"clip size 0",
       [](FilmTrack& t) {
         t.clipPositionFrom = t.clipPositionTo = {52, 52};
       },
       50, 50, [](uint32_t c) { return c == kRed ? 0u : c | 0x1000000; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FilmTrack t = imageTrack("halves.dor", 0, 3);
    t.positionFrom = t.positionTo = {50, 50};
    c.setup(t);
    TFilmManager film;
    load(film, FilmFile{.tracks = {t}});
    play(film, 1);
    EXPECT_EQ(c.check(screenColor(c.x, c.y)), 0u) << std::hex << screenColor(c.x, c.y);
    play(film, 3);
    frame();
  }
}

TEST_F(FilmSceneTest, CellsLastTheirDelayInTicks) {
  writePicture("cells.dor", {TestFrame{4, 4, {}, kRed, -1, 5}, TestFrame{4, 4, {}, kBlue, -1, 100},
                             TestFrame{4, 4, {}, kGreen, -1, 50}});
  struct Case {
    int32_t length;
    int32_t expectedLength;
  };
  for (Case c : {Case{0, 10}, Case{30, 30}}) {
    TFilmManager film;
    load(film, FilmFile{.tracks = {imageTrack("cells.dor", 0, c.length)}});
    auto* track = film.TrackAt(0);
    ASSERT_EQ(track->Frames.size(), 3u);
    EXPECT_EQ(track->Frames[0]->Duration(), 1);
    EXPECT_EQ(track->Frames[1]->Duration(), 6);
    EXPECT_EQ(track->Frames[2]->Duration(), 3);
    EXPECT_EQ(track->Length, c.expectedLength);
    EXPECT_EQ(track->LoopLength, 10);
    EXPECT_EQ(track->GetContentWidth(), 4);
    // 1 tick of red, 6 of blue, 3 of green, then round again.
    const std::pair<int32_t, uint32_t> shown[] = {
        {0, kRed}, {1, kBlue}, {6, kBlue}, {7, kGreen}, {9, kGreen}};
    for (auto [tick, color] : shown) {
      play(film, tick);
      EXPECT_EQ(screenColor(1, 1), color) << tick;
    }
    std::vector<std::string> files;
    film.CollectFiles(files);
    film.CollectFiles(files);
    EXPECT_EQ(files, std::vector<std::string>{"cells.dor"});
  }
}

TEST_F(FilmSceneTest, ObjectsGoOntoTheScreenOfTheirStartParity) {
  writeSolid("red.dor", 10, 10, kRed);
  FilmTrack late = imageTrack("red.dor", 40, 10);
  FilmTrack other = imageTrack("red.dor", 40, 10);
  other.otherScreen = true;
  FilmTrack early = imageTrack("red.dor", 0, 50);
  TFilmManager film;
  load(film, FilmFile{.tracks = {wipeTrack(0, 30), late, other, early}});
  play(film, 45);
  EXPECT_EQ(film.TrackAt(1)->GetTarget()->GetParent(), scene.GetBase(1));
  EXPECT_EQ(film.TrackAt(2)->GetTarget()->GetParent(), scene.GetBase(0));
  EXPECT_EQ(film.TrackAt(3)->GetTarget()->GetParent(), scene.GetBase(0));
  EXPECT_EQ(scene.ActiveIndex, 1);
}

TEST_F(FilmSceneTest, HostedFilmsNameTheirObjectsAfterTheHost) {
  writeSolid("red.dor", 10, 10, kRed);
  auto* host = scene.Create<TZirkImage>(nullptr, "cine");
  TFilmManager film;
  load(film, FilmFile{.tracks = {imageTrack("red.dor", 0, 5), imageTrack("red.dor", 0, 5)}});
  film.Host = host;
  play(film, 0);
  EXPECT_EQ(film.TrackAt(0)->GetTarget()->GetName(),
            "\x01"
            "cine\x01"
            "0");
  EXPECT_EQ(film.TrackAt(1)->GetTarget()->GetName(),
            "\x01"
            "cine\x01"
            "1");
  EXPECT_EQ(film.TrackAt(0)->GetTarget()->GetParent(), host);
  EXPECT_FALSE(scene.WipeRunning());
}

TEST_F(FilmSceneTest, TileTrackScrollsByTheInterpolatedAmount) {
  std::vector<uint32_t> stripes(64);
  for (int i = 0; i < 64; ++i) stripes[i] = i % 8 < 4 ? kRed : kBlue;
  writePicture("stripes.dor", {TestFrame{8, 8, stripes}});
  FilmTrack t;
  t.type = 5;
  t.source = "stripes.dor";
  t.length = 5;
  t.positionFrom = t.positionTo = {0, 100};
  t.widthFrom = t.widthTo = 32;
  t.scrollXTo = 8;
  TFilmManager film;
  load(film, FilmFile{.tracks = {t}});
  auto* track = static_cast<TTileFrameList*>(film.TrackAt(0));
  EXPECT_EQ(track->GetHeightFrom(), 8);  // filled from the picture
  for (int32_t tick = 0; tick < 5; ++tick) {
    play(film, tick);
    const int32_t scroll = tick * 2;
    for (int32_t x = 0; x < 32; ++x)
      ASSERT_EQ(screenColor(x, 104), (x + scroll) % 8 < 4 ? kRed : kBlue) << tick << " " << x;
    EXPECT_EQ(screenColor(32, 104), kBackground);
    EXPECT_EQ(screenColor(0, 108), kBackground);
  }
}

TEST_F(FilmSceneTest, ATileIsHitBeyondItsFirstCopy) {
  writePicture(
      "opaque.dor",
      {TestFrame{.Width = 8, .Height = 8, .Fill = kRed, .Alpha = std::vector<uint8_t>(64, 255)}});
  FilmTrack t = imageTrack("opaque.dor", 0, 5);
  t.type = 5;
  t.positionFrom = t.positionTo = {0, 100};
  t.widthFrom = t.widthTo = 32;
  TFilmManager film;
  load(film, FilmFile{.tracks = {t}});
  play(film, 1);
  TZirkObject* tile = film.TrackAt(0)->GetTarget();
  ASSERT_NE(tile, nullptr);
  for (int32_t x : {4, 12, 28})
    EXPECT_EQ(scene.GetBase(0)->HitTest({x, 104}, kLeftClickMask), tile) << x;
}

// The stand-in for a missing picture stays transparent on screen: the key
// the tracks take from the frame keeps it so.
TEST_F(FilmSceneTest, AMissingPictureShowsNothing) {
  for (uint8_t type : {0, 5}) {
    FilmTrack t = imageTrack("missing.dor", 0, 3);
    t.type = type;
    t.positionFrom = t.positionTo = {20, 20};
    TFilmManager film;
    load(film, FilmFile{.tracks = {t}});
    play(film, 1);
    ASSERT_NE(film.TrackAt(0)->GetTarget(), nullptr) << int(type);
    EXPECT_EQ(screenColor(20, 20), kBackground) << "track type " << int(type);
    EXPECT_EQ(screenColor(27, 27), kBackground) << "track type " << int(type);
  }
}

// Image and tile objects keep the frame's transparent colour themselves:
// the cached frame, shared by every user, is never written to, and a still
// frame redraws nothing.
TEST_F(FilmSceneTest, TracksLeaveTheCachedFrameAloneAndAStillFrameRedrawsNothing) {
  writeSolid("keyed.dor", 10, 10, kRed, static_cast<int32_t>(kBlue));
  for (uint8_t type : {0, 5}) {
    FilmTrack t = imageTrack("keyed.dor", 0, 10);
    t.type = type;
    t.positionFrom = t.positionTo = {20, 20};
    t.priority = 3;
    TFilmManager film;
    load(film, FilmFile{.tracks = {t}});
    TCustomDIBX& cached = *cache.Find("keyed.dor")->Frame(0)->Surface;
    const int32_t sentinel = 0x123456;
    cached.SetColorKey(sentinel);
    play(film, 1);
    auto* target = dynamic_cast<TZirkCustomImage*>(film.TrackAt(0)->GetTarget());
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(cached.ColorKey(), sentinel) << "track type " << int(type);
    EXPECT_EQ(target->TransparentColor(), static_cast<int32_t>(kBlue));
    EXPECT_EQ(target->GetPriority(), 3);
    film.SetFilmTime(2);
    EXPECT_TRUE(scene.GetBase(0)->DirtyRects().empty()) << "track type " << int(type);
  }
}

TEST_F(FilmSceneTest, MotionMovesItsTargetThroughTheMotionOffset) {
  writeSolid("red.dor", 10, 10, kRed);
  RegisterZirkMotion();
  FilmFile m;
  m.kind = "ZirkMotion";
  m.relative = true;
  m.origin = {5, 5};
  FilmTrack t = imageTrack("red.dor", 0, 4);
  t.positionFrom = {5, 5};
  t.positionTo = {35, 5};
  t.priority = 3;
  m.tracks = {t};
  writeFile(dir / "walk.zmt", WriteFilmFile(m));

  auto* target = scene.Create<TZirkImage>(nullptr, "walker");
  target->SetPropStr(PR_ONPLAYEND, "*end");
  target->SetPropInt(PR_LEFT, 100);
  target->SetPropInt(PR_TOP, 200);
  target->StartMotion("walk.zmt");
  ASSERT_NE(target->GetMotion(), nullptr);
  EXPECT_EQ(target->GetMotion()->GetLength(), 4);
  scene.SetFrameInterval(1000 / 60 + 1);  // one film tick per frame
  const int32_t xs[] = {100, 110, 120, 130, 130};
  for (int32_t k = 0; k < 5; ++k) {
    frame();
    EXPECT_EQ(target->MotionX(), xs[k]) << k;
    EXPECT_EQ(target->MotionY(), 200);
    EXPECT_EQ(redLeft(205), xs[k]) << k;
  }
  EXPECT_EQ(target->GetOrder(), 3);
  EXPECT_EQ(target->Width(), 10);
  EXPECT_EQ(scene.ObjectCount(), 1);  // the motion made no object of its own
  ASSERT_EQ(scene.Events().Count(), 1);
  EXPECT_EQ(scene.Events().Items(0).PropId, PR_ONPLAYEND);
  SetMotionFactory({});
}

TEST(ImageTrackValues, AnglesAlphasAndRecordsAtEveryVersion) {
  const std::pair<double, int32_t> angles[] = {
      {0, 0}, {90, 64}, {360, 0}, {-90, 191}, {-1.40625, 254}, {-360, 255}, {-720, 255}, {450, 64},
  };
  for (auto [deg, angle] : angles)
    EXPECT_EQ(TCustomImageFrameList::AngleFromDegrees(deg), angle) << deg;

  for (int32_t version = 100; version <= 108; ++version) {
    SCOPED_TRACE(version);
    FilmTrack t = imageTrack("..\\pics\\a.dor", 20, 4);
    t.anchor = {1, 2};
    t.positionFrom = {3, 4};
    t.positionTo = {5, 6};
    t.rotationFrom = -90;
    t.rotationTo = -90;
    t.scaleXFrom = 0.5;
    t.scaleXTo = 1.5;
    t.scaleYFrom = 3.0;
    t.scaleYTo = 4.0;
    t.scaleYEasing = 2;
    t.alphaFrom = 0;
    t.alphaTo = 128;
    t.clipSizeFrom = t.clipSizeTo = {7, 8};
    FilmTrack tile = t;
    tile.type = 5;
    tile.widthFrom = 11;
    tile.scrollYTo = -9;
    tile.distanceX = 12;
    TFilmManager film;
    film.SkipAfterLoad = true;
    readFilm(film, FilmFile{.version = version, .tracks = {t, tile}});
    for (int32_t k = 0; k < 2; ++k) {
      auto* read = static_cast<TCustomImageFrameList*>(film.TrackAt(k));
      EXPECT_EQ(read->Start, 20);
      EXPECT_EQ(read->GetSource(), "c:\\game\\pics\\a.dor");
      EXPECT_EQ(read->Anchor, (TPoint{1, 2}));
      EXPECT_EQ(read->PositionTo, (TPoint{5, 6}));
      EXPECT_EQ(read->ScaleXFrom, 0.5);
      EXPECT_EQ(read->ScaleYFrom, version >= 105 ? 3.0 : 0.5);
      EXPECT_EQ(read->ScaleYTo, version >= 105 ? 4.0 : 1.5);
      EXPECT_EQ(read->ScaleYEasing, version >= 105 ? 2 : 0);
      EXPECT_EQ(read->ClipSizeTo, (version >= 101 ? TPoint{7, 8} : TPoint{}));
      // Without cells the arithmetic is checked on a stand-in key frame.
      read->Frames.push_back(std::make_unique<TBoxFrame>(*read));
      TPictureState f0 = read->ComputeState(0, 0);
      TPictureState f3 = read->ComputeState(3, 0);
      EXPECT_EQ(f0.Angle, k == 0 ? 191 : 0);  // tiles never turn
      EXPECT_EQ(f0.Alpha, 255);
      EXPECT_EQ(f3.Alpha, 128);
      EXPECT_EQ(f0.ZoomX, 128);
      EXPECT_EQ(f3.ZoomX, 384);
      EXPECT_EQ(f0.OffsetX, 1);
    }
    auto* tileRead = static_cast<TTileFrameList*>(film.TrackAt(1));
    EXPECT_EQ(tileRead->GetWidthFrom(), 11);
    EXPECT_EQ(tileRead->ScrollYTo, -9);
    EXPECT_EQ(tileRead->DistanceX, 12);
  }
}

TEST(ImageTrackValues, ChainedTracksWriteTheirParentsEndValues) {
  TFilmManager film;
  film.SkipAfterLoad = true;
  FilmTrack a = imageTrack("a.dor", 0, 10);
  a.positionTo = {40, 50};
  a.alphaTo = 77;
  FilmTrack b = imageTrack("a.dor", 0, 10);
  b.parent = 0;
  b.positionFrom = {999, 999};
  readFilm(film, FilmFile{.tracks = {a, b}});
  TKwMemoryStream out;
  TFilmRecordWriter writer(out, "c:\\game\\film\\");
  film.TrackAt(1)->SaveToStream(writer);
  out.SetPosition(0);
  TFilmManager other;
  TImageFrameList read(other);
  TFilmRecordReader reader(out, "c:\\game\\film\\", 108);
  read.LoadFromStream(reader);
  EXPECT_EQ(read.PositionFrom, (TPoint{40, 50}));
  EXPECT_EQ(read.AlphaFrom, 77);
  EXPECT_EQ(read.GetSource(), "c:\\game\\film\\a.dor");
  EXPECT_EQ(out.Remaining(), 0);
}

}  // namespace
}  // namespace zirk::test
