// Particle and fire tracks played tick by tick on a headless scene.

#include <gtest/gtest.h>

#include "film_support.h"
#include "objects/fire.h"
#include "objects/label.h"
#include "objects/particle.h"
#include "objects/trackseffects.h"
#include "objects/trackslabel.h"
#include "picture_fixture.h"
#include "scene/runtime.h"

namespace zirk::test {
namespace {

class EffectTrackTest : public ScenePictureTest {
 protected:
  void SetUp() override {
    ScenePictureTest::SetUp();
    ASSERT_TRUE(kFilmTracksRegistered);
    writeSolid("dot.dor", 4, 4, 0x0000FF);
    film.Owner = &scene;
    film.Width = 640;
    film.Height = 480;
  }
  void TearDown() override {
    GameTime().ElapsedTime = 0;
    film.Clear();
    ScenePictureTest::TearDown();
  }
  TParticleFrameList* particles(int32_t start, int32_t length) {
    auto t = std::make_unique<TParticleFrameList>(film);
    t->Start = start;
    t->Length = length;
    t->SetSource("dot.dor");
    t->PartMotion = PM_SNOW;
    t->Param1From = t->Param1To = 1.0;
    return static_cast<TParticleFrameList*>(film.AddTrack(std::move(t)));
  }
  TFireFrameList* fire(int32_t start, int32_t length) {
    auto t = std::make_unique<TFireFrameList>(film);
    t->Start = start;
    t->Length = length;
    return static_cast<TFireFrameList*>(film.AddTrack(std::move(t)));
  }
  void play(int32_t time, uint32_t ms = 16) {
    film.SetFilmTime(time);
    GameTime().ElapsedTime = ms;
    frame();
  }

  TFilmManager film;
};

TEST_F(EffectTrackTest, NewTracksCoverTheirDefaults) {
  TParticleFrameList* p = particles(0, 10);
  EXPECT_EQ(p->GetWidthFrom(), 640);
  EXPECT_EQ(p->HeightTo, 480);
  EXPECT_EQ(p->GetIntervalFrom(), 100);
  EXPECT_EQ(p->GetSpreadFrom(), 1);
  TFireFrameList* f = fire(0, 10);
  EXPECT_EQ(f->GetWidthFrom(), 160);
  EXPECT_EQ(f->HeightTo, 30);
  EXPECT_EQ(f->Power, 100);
  play(0);
  auto fires = objectsOf<TZirkFire>(scene);
  ASSERT_EQ(fires.size(), 1u);
  EXPECT_EQ(fires[0]->ZoomX(), 1024);
  EXPECT_EQ(fires[0]->GetPropInt(PR_ORIGWIDTH), 160);
  EXPECT_EQ(fires[0]->GetPropInt(PR_WIDTH), 640);
  EXPECT_EQ(fires[0]->Power(), 100);
}

TEST_F(EffectTrackTest, EmissionValuesReachTheEmittersRecord) {
  struct Case {
    int32_t interval, spread;
    TZirkParticleParam want;
  };
  const Case cases[] = {
      {100, 20, {5, 6, 7, 8, 90, 20}},
      {100, 1, {5, 6, 7, 8, 100, 1}},
      {10, -5, {5, 6, 7, 8, 12, -5}},
  };
  for (const Case& c : cases) {
    TParticleFrameList* p = particles(0, 4);
    p->IntervalFrom = p->IntervalTo = c.interval;
    p->SpreadFrom = p->SpreadTo = c.spread;
    p->Value1From = p->Value1To = 5;
    p->Value2From = p->Value2To = 6;
    p->Range1From = p->Range1To = 7;
    p->Range2From = p->Range2To = 8;
    p->Param2From = 1.0;
    p->Param2To = 4.0;
    p->Index = 300;
    p->AlphaFrom = p->AlphaTo = 0;
    play(2);
    auto emitters = objectsOf<TZirkParticle>(scene);
    ASSERT_EQ(emitters.size(), 1u);
    TZirkParticle* e = emitters[0];
    ASSERT_NE(e->Param(), nullptr);
    EXPECT_EQ(*e->Param(), c.want) << c.interval << "/" << c.spread;
    EXPECT_EQ(e->Source(), "dot.dor");
    EXPECT_EQ(e->Mode(), PM_SNOW);
    EXPECT_EQ(e->GetPropInt(PR_INDEX), 300);
    EXPECT_EQ(e->GetParam(1), 2.5L);  // 1 to 4 over 4 ticks, 2 in
    EXPECT_EQ(e->Alpha(), 255);
    EXPECT_EQ(e->GetParent(), scene.GetBase(0));
    EXPECT_EQ(e->GetName().front(), kHiddenNameChar);
    // The track takes its record back as it lets the emitter go.
    film.Clear();
    EXPECT_TRUE(e->IsScrapped());
    EXPECT_EQ(e->Param(), nullptr);
    frame();
    EXPECT_TRUE(objectsOf<TZirkParticle>(scene).empty());
  }
}

TEST_F(EffectTrackTest, ChainKeepsOneEmitterUntilItsLastTrackEnds) {
  TParticleFrameList* first = particles(0, 10);
  auto second = std::make_unique<TParticleFrameList>(film);
  second->Parent = first;
  second->Length = 10;
  second->SetSource("dot.dor");
  second->PartMotion = PM_SNOW;
  second->IntervalTo = 40;
  film.AddTrack(std::move(second));
  play(0);
  auto emitters = objectsOf<TZirkParticle>(scene);
  ASSERT_EQ(emitters.size(), 1u);
  TZirkParticle* e = emitters[0];
  for (int32_t t = 1; t < 20; ++t) {
    play(t);
    ASSERT_EQ(objectsOf<TZirkParticle>(scene), std::vector<TZirkParticle*>{e}) << t;
  }
  EXPECT_FALSE(e->Particles().empty());
  EXPECT_EQ(e->Param()->IntervalMin, 40);
  play(20);
  EXPECT_TRUE(objectsOf<TZirkParticle>(scene).empty());
  // Back inside the chain, a new emitter.
  play(5);
  EXPECT_EQ(objectsOf<TZirkParticle>(scene).size(), 1u);
}

TEST_F(EffectTrackTest, EmittersStayBoundedWhateverTheirInterval) {
  // Stars that keep their speed never leave: at the shortest interval the
  // emitter stops at its cap, and a damaged interval spawns nothing.
  TParticleFrameList* fast = particles(0, 100);
  TParticleFrameList* damaged = particles(0, 100);
  for (TParticleFrameList* p : {fast, damaged}) {
    p->PartMotion = PM_STAR;
    p->Param1From = p->Param1To = 0;
    p->Param2From = p->Param2To = 1.0;
  }
  fast->IntervalFrom = fast->IntervalTo = 0;
  damaged->IntervalFrom = damaged->IntervalTo = INT32_MIN;
  for (int32_t t = 0; t < 4; ++t) play(t, 3000);
  auto emitters = objectsOf<TZirkParticle>(scene);
  ASSERT_EQ(emitters.size(), 2u);
  EXPECT_EQ(emitters[0]->Particles().size(), TZirkParticle::kMaxParticles);
  EXPECT_TRUE(emitters[1]->Particles().empty());
}

TEST_F(EffectTrackTest, ParticlesOfEveryEmitterShareTheFilmsBudget) {
  // Room for 30 particles; three emitters of stars that never leave would
  // keep far more.
  const int64_t room = 30 * TZirkParticle::kParticleBytes;
  film.Budget = TFilmBudget(room);
  for (int k = 0; k < 3; ++k) {
    TParticleFrameList* p = particles(0, 100);
    p->PartMotion = PM_STAR;
    p->Param1From = p->Param1To = 0;
    p->Param2From = p->Param2To = 1.0;
    p->IntervalFrom = p->IntervalTo = 0;
  }
  for (int32_t t = 0; t < 3; ++t) play(t, 100);
  size_t living = 0;
  for (TZirkParticle* e : objectsOf<TZirkParticle>(scene)) living += e->Particles().size();
  EXPECT_EQ(living, 30u);
  EXPECT_EQ(film.Budget.Left(), 0);
  film.Clear();
  EXPECT_EQ(film.Budget.Left(), room);
}

TEST_F(EffectTrackTest, FiresAndCaptionsShareTheFilmsBudget) {
  // Five 4096 x 4096 fires and thirty captions of 400 characters at 300 px
  // ask for some 300 MB: the first fires come whole, the rest go short.
  for (int k = 0; k < 5; ++k) {
    TFireFrameList* f = fire(0, 10);
    f->SetWidthFrom(4096);
    f->SetHeightFrom(4096);
    f->WidthTo = f->HeightTo = 4096;
  }
  for (int k = 0; k < 30; ++k) {
    auto* t = static_cast<TLabelFrameList*>(film.AddTrack(std::make_unique<TLabelFrameList>(film)));
    t->SetFontName("IPAGothic");
    t->SetFontHeight(300);
    t->SetText(std::string(400, 'A'));
  }
  film.SetFilmTime(0);
  int64_t held = 0;
  for (TZirkFire* f : objectsOf<TZirkFire>(scene))
    held += TZirkFire::SimulationBytes(f->GetPropInt(PR_ORIGWIDTH), f->GetPropInt(PR_ORIGHEIGHT),
                                       f->MaxSide);
  for (TZirkLabel* l : objectsOf<TZirkLabel>(scene))
    held += int64_t(l->Label().Picture().Width()) * l->Label().Picture().Height() * 5;
  EXPECT_LE(held, kFilmObjectBudget);
  EXPECT_EQ(objectsOf<TZirkFire>(scene).front()->MaxSide, TZirkFire::kMaxCells);
  film.Clear();
  EXPECT_EQ(film.Budget.Left(), kFilmObjectBudget);
}

TEST_F(EffectTrackTest, FireFollowsItsRectangleZoomAndPower) {
  TFireFrameList* f = fire(0, 3);
  f->SetPositionFrom({10, 20});
  f->PositionTo = {10, 20};
  f->SetWidthFrom(100);
  f->WidthTo = 100;
  f->SetHeightFrom(40);
  f->HeightTo = 40;
  f->ZoomXFrom = 1.0;
  f->ZoomXTo = 3.0;
  f->ZoomYFrom = f->ZoomYTo = 2.0;
  f->Power = 300;
  f->Priority = 7;
  play(1);
  auto fires = objectsOf<TZirkFire>(scene);
  ASSERT_EQ(fires.size(), 1u);
  TZirkFire* fire = fires[0];
  EXPECT_EQ(fire->Left(), 10);
  EXPECT_EQ(fire->Top(), 20);
  EXPECT_EQ(fire->GetPropInt(PR_ORIGWIDTH), 100);
  EXPECT_EQ(fire->GetPropInt(PR_ORIGHEIGHT), 40);
  EXPECT_EQ(fire->ZoomX(), 512);  // 256 to 768 over 3 ticks, 1 in
  EXPECT_EQ(fire->ZoomY(), 512);
  EXPECT_EQ(fire->Power(), 255);
  EXPECT_EQ(fire->GetPriority(), 7);
  for (int32_t t = 1; t < 3; ++t) play(t, 40);
  EXPECT_GT(fire->HeatSurface().GetPixel(50, 39), 16u) << "it burns while the film plays";
  play(3);
  EXPECT_TRUE(objectsOf<TZirkFire>(scene).empty());
}

TEST_F(EffectTrackTest, RecordsReadAsWrittenAndWriteBackTheSameBytes) {
  FilmTrack pt;
  pt.type = 6;
  pt.length = 10;
  pt.source = "dot.dor";
  pt.partMotion = PM_TWISTER;
  pt.index = 2;
  pt.intervalFrom = 80;
  pt.spreadTo = 9;
  pt.value2To = -3;
  pt.range1From = 12;
  pt.value1Easing = 1;
  pt.param3To = 0.75;
  pt.positionTo = {5, 6};
  pt.widthFrom = 300;
  pt.heightTo = 200;
  pt.clipSizeTo = {30, 40};
  pt.alphaFrom = 7;
  FilmTrack ft;
  ft.type = 7;
  ft.start = 3;
  ft.length = 4;
  ft.zoomYTo = 1.5;
  ft.zoomXEasing = 2;
  ft.power = 42;
  ft.clipPositionFrom = {1, 2};
  ft.widthTo = 90;
  TFilmManager copy;
  copy.SkipAfterLoad = true;
  readFilm(copy, FilmFile{.tracks = {pt, ft}});
  ASSERT_EQ(copy.Count(), 2);
  auto* p = dynamic_cast<TParticleFrameList*>(copy.TrackAt(0));
  auto* f = dynamic_cast<TFireFrameList*>(copy.TrackAt(1));
  ASSERT_TRUE(p && f);
  EXPECT_EQ(p->GetSource(), "c:\\game\\film\\dot.dor");
  EXPECT_EQ(p->PartMotion, PM_TWISTER);
  EXPECT_EQ(p->GetIntervalFrom(), 80);
  EXPECT_EQ(p->SpreadTo, 9);
  EXPECT_EQ(p->Value2To, -3);
  EXPECT_EQ(p->GetRange1From(), 12);
  EXPECT_EQ(p->Param3To, 0.75);
  EXPECT_EQ(p->GetWidthFrom(), 300);
  EXPECT_EQ(p->HeightTo, 200);
  EXPECT_EQ(p->ClipSizeTo, (TPoint{30, 40}));
  EXPECT_EQ(p->GetAlphaFrom(), 7);
  EXPECT_EQ(f->GetZoomXFrom(), 4.0);
  EXPECT_EQ(f->ZoomYTo, 1.5);
  EXPECT_EQ(f->ZoomXEasing, 2);
  EXPECT_EQ(f->Power, 42);
  EXPECT_EQ(f->WidthTo, 90);
  // Written back, each record is the bytes it was read from.
  for (auto [track, written] : {std::pair<TCustomFrameList*, FilmTrack*>{p, &pt}, {f, &ft}}) {
    TKwMemoryStream s;
    TFilmRecordWriter out(s, "c:\\game\\film\\");
    track->SaveToStream(out);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size())),
              WriteFilmTrack(*written, 108))
        << int(written->type);
  }
  // A record cut short is the film's format error.
  ft.raw = "";
  const std::string bytes = WriteFilmFile(FilmFile{.tracks = {ft}});
  EXPECT_THROW(readFilmBytes(copy, bytes.substr(0, bytes.size() - 1)), EFilmFormatError);
}

TEST_F(EffectTrackTest, CollectFilesFollowsMotionSourcesOnce) {
  // loop.zmt's particle track names loop.zmt again; spark.zmt shows a.dor.
  auto motionWith = [](FilmTrack t) {
    FilmFile m;
    m.kind = "ZirkMotion";
    m.tracks = {t};
    return WriteFilmFile(m);
  };
  FilmTrack selfTrack;
  selfTrack.type = 6;
  selfTrack.length = 1;
  selfTrack.source = "loop.zmt";
  writeFile(dir / "loop.zmt", motionWith(selfTrack));
  FilmTrack image;
  image.length = 1;
  image.source = "a.dor";
  writeFile(dir / "spark.zmt", motionWith(image));
  files.InvalidateCache();

  std::vector<std::string> list;
  particles(0, 1)->SetSource("spark.zmt");
  particles(0, 1)->SetSource("loop.zmt");
  film.CollectFiles(list);
  EXPECT_EQ(list, (std::vector<std::string>{"spark.zmt", "a.dor", "loop.zmt"}));
}

TEST_F(EffectTrackTest, InAMotionTheTracksMoveTheTarget) {
  auto* target = scene.Create<TZirkFire>(nullptr, "target");
  TFilmManager motion;
  motion.MotionMode = true;
  motion.MotionTarget = target;
  motion.Owner = &scene;
  motion.BasePriority = 10;
  motion.Width = 640;
  auto t = std::make_unique<TFireFrameList>(motion);
  t->Length = 2;
  t->SetPositionFrom({30, 40});
  t->PositionTo = {30, 40};
  t->Priority = 2;
  t->Power = 50;
  motion.AddTrack(std::move(t));
  motion.SetFilmTime(0);
  EXPECT_EQ(target->MotionX(), 30);
  EXPECT_EQ(target->MotionY(), 40);
  EXPECT_EQ(target->GetPriority(), 12);
  EXPECT_EQ(target->Power(), 50);
  EXPECT_EQ(target->GetPropInt(PR_ORIGWIDTH), 160);
  EXPECT_EQ(objectsOf<TZirkFire>(scene).size(), 1u) << "no object of its own";
}

}  // namespace
}  // namespace zirk::test
