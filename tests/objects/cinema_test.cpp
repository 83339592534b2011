// A cinema played headless: the frames of a known film on the screen, in
// its own screen pair and straight in the scene, loops, the end event, the
// index, damaged films and the save record at each version.

#include "objects/cinema.h"

#include <gtest/gtest.h>

#include "control_fixture.h"
#include "film_support.h"
#include "record_support.h"
#include "scene/runtime.h"
#include "script/saveversion.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF;
constexpr uint32_t kGreen = 0x00FF00;

// A red square moving one pixel a tick.
FilmTrack square(int32_t length) {
  FilmTrack t;
  t.type = 0;
  t.source = "red.dor";
  t.length = length;
  t.positionTo = {length - 1, 0};
  return t;
}

class CinemaTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    writeSolid("red.dor", 10, 10, kRed);
  }
  void TearDown() override {
    ControlTest::TearDown();
    GameTime() = {};
  }
  // A 200 x 100 film of the square over `length` ticks, and more tracks.
  void writeFilm(const std::string& name, int32_t color, int32_t loopStart = 0,
                 int32_t length = 120, std::vector<FilmTrack> more = {}) {
    FilmFile f{.width = 200, .height = 100, .color = color, .loopStart = loopStart};
    if (length > 0) f.tracks.push_back(square(length));
    f.tracks.insert(f.tracks.end(), more.begin(), more.end());
    ASSERT_TRUE(SaveFilmFile(f, (dir / name).string()));
    files.InvalidateCache();
  }
  TZirkCinema* cinema(const std::string& source) {
    auto* c = scene.Create<TZirkCinema>(nullptr, "cinema");
    c->SetPropInt(PR_LEFT, 50);
    c->SetPropInt(PR_TOP, 50);
    c->SetPropStr(PR_ONPLAYEND, "*end");
    c->SetSource(source);
    return c;
  }
  int32_t tick(uint32_t ms) {
    GameTime().ElapsedTime = ms;
    frame();
    return cinemaObject() ? cinemaObject()->GetPropInt(PR_INDEX) : -1;
  }
  TZirkCinema* cinemaObject() {
    return dynamic_cast<TZirkCinema*>(scene.FindComponentByName("cinema"));
  }
  int32_t endEvents() {
    int32_t n = 0;
    for (int32_t i = 0; i < scene.Events().Count(); ++i)
      n += scene.Events().Items(i).PropId == PR_ONPLAYEND;
    return n;
  }
};

TEST_F(CinemaTest, FramesLandOnTheScreenInThePairAndInTheScene) {
  struct Case {
    const char* what;
    int32_t color;
    uint32_t empty;  // what the cinema shows where the film has nothing
    bool inPair;
  } cases[] = {
      {"a film with a colour plays in the pair", static_cast<int32_t>(kGreen), kGreen, true},
      {"a film without plays in the scene", -1, kBackground, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFilm("a.zcn", c.color);
    TZirkCinema* cin = cinema("a.zcn");
    ASSERT_NE(cin->Film(), nullptr);
    EXPECT_EQ(cin->PlaysInPair(), c.inPair);
    EXPECT_EQ(cin->GetPropInt(PR_COUNT), 120);
    EXPECT_EQ(scene.Width(), 640) << "the cinema's scene keeps its size";
    for (auto [elapsed, index] :
         {std::pair{16u, 0}, {16u, 0}, {500u, 30}, {1000u, 90}, {490u, 119}}) {
      EXPECT_EQ(tick(elapsed), index);
      EXPECT_EQ(screenColor(50 + index, 55), kRed) << index;
      EXPECT_EQ(screenColor(50 + index + 10, 55), c.empty) << index;
      EXPECT_EQ(screenColor(249, 149), c.empty);
      EXPECT_EQ(screenColor(250, 55), kBackground);
      EXPECT_EQ(screenColor(60, 150), kBackground);
    }
    EXPECT_EQ(endEvents(), 0) << "on the last frame";
    // 2000 ms: the end, reported once; the film stays on its last frame.
    EXPECT_EQ(tick(10), 119);
    EXPECT_EQ(endEvents(), 1);
    EXPECT_EQ(tick(100), 119);
    EXPECT_EQ(endEvents(), 1);
    EXPECT_EQ(screenColor(50 + 119, 55), kRed);
    scene.Events().Clear();
    // The cinema's objects leave with it.
    scene.FreeObject(cin);
    frame();
    EXPECT_EQ(screenColor(50 + 119, 55), kBackground);
    EXPECT_EQ(scene.ObjectCount(), 0);
  }
}

TEST_F(CinemaTest, ATransitionInThePairRedrawsTheWholeCinema) {
  FilmTrack wipe;
  wipe.type = 3;
  wipe.start = 10;
  wipe.length = 20;
  writeFilm("w.zcn", -1, 0, 120, {wipe});
  TZirkCinema* cin = cinema("w.zcn");
  ASSERT_TRUE(cin->PlaysInPair()) << "a transition needs the pair, colour or not";
  tick(16);
  tick(16);
  EXPECT_EQ(screenColor(52, 55), kRed);
  EXPECT_EQ(tick(333), 20);
  const uint32_t blend = screenColor(50 + 20 + 2, 55);
  EXPECT_NE(blend, kRed);
  EXPECT_NE(blend, 0u) << "half way from the square to the empty screen";
  EXPECT_EQ(tick(250), 35);
  EXPECT_EQ(screenColor(50 + 35 + 2, 55), 0u) << "the other screen, without the square";
  EXPECT_EQ(screenColor(45, 55), kBackground);
}

TEST_F(CinemaTest, HitTestsPassOverTheFilmsOwnObjects) {
  writeFilm("a.zcn", -1);
  TZirkCinema* cin = cinema("a.zcn");
  tick(16);
  ASSERT_FALSE(cin->PlaysInPair());
  ASSERT_EQ(cin->GetChildCount(), 1) << "the film's square";
  struct Case {
    int32_t ignoreMouse;
    TPoint point;
    bool hit;
  } cases[] = {
      {IM_NONE, {55, 55}, true},    // on the square: the cinema
      {IM_NONE, {150, 120}, true},  // elsewhere inside
      {IM_NONE, {260, 55}, false},  // outside
      {IM_ALL, {55, 55}, false},
  };
  for (const Case& c : cases) {
    cin->SetPropInt(PR_IGNOREMOUSE, c.ignoreMouse);
    EXPECT_EQ(cin->HitTest(c.point, kLeftClickMask), c.hit ? cin : nullptr) << c.point.X;
  }
  // An animation pause holds the film where it is.
  cin->SetPropInt(PR_ANIPAUSED, 1);
  EXPECT_EQ(tick(1000), 0);
  cin->SetPropInt(PR_ANIPAUSED, 0);
  EXPECT_EQ(tick(1000), 60);
}

TEST_F(CinemaTest, RepeatLoopsFromTheLoopStartAndTheEndComesOncePerEnd) {
  writeFilm("loop.zcn", 0, 30);
  TZirkCinema* cin = cinema("loop.zcn");
  cin->SetPropInt(PR_REPEAT, 1);
  cin->SetPropInt(PR_INDEX, 119);
  // The index is applied on the next two ticks; 125 wraps to 30 + 5, 341 to
  // 30 + 101, beyond the last.
  for (auto [elapsed, index] :
       {std::pair{16u, 119}, {16u, 119}, {100u, 35}, {100u, 41}, {5000u, 119}})
    EXPECT_EQ(tick(elapsed), index) << elapsed;
  EXPECT_EQ(endEvents(), 0) << "a repeating film never ends";
  EXPECT_EQ(tick(16), 30) << "119 + 1 wraps to the loop start";

  // Without repeat: one end event, again only after the index clears it.
  cin->SetPropInt(PR_REPEAT, 0);
  tick(3000);
  tick(16);
  EXPECT_EQ(endEvents(), 1);
  cin->SetPropInt(PR_INDEX, 60);
  EXPECT_EQ(tick(5000), 60);
  EXPECT_EQ(tick(16), 60);
  EXPECT_EQ(tick(5000), 119);
  EXPECT_EQ(endEvents(), 2);
  // Repeat turned on clears it too; off again, the next end reports.
  cin->SetPropInt(PR_REPEAT, 1);
  EXPECT_FALSE(cin->Ended());
  cin->SetPropInt(PR_REPEAT, 0);
  tick(16);
  EXPECT_EQ(endEvents(), 3);

  // With auto scrap the end removes the cinema.
  cin->SetPropInt(PR_AUTOSCRAP, 1);
  cin->SetPropInt(PR_INDEX, 0);
  tick(16);
  tick(16);
  EXPECT_EQ(endEvents(), 3);
  EXPECT_EQ(tick(5000), -1);
  EXPECT_EQ(endEvents(), 0) << "no end event, and the pending ones left with it";
}

TEST_F(CinemaTest, EmptyMissingAndDamagedFilmsLeaveAQuietCinema) {
  writeFilm("empty.zcn", 0, 0, 0);
  writeFile(dir / "bad.zcn", "ZirkCinema108 and then nothing");
  writeFile(dir / "digits.zcn", "ZirkCinemaxyz0000000000000000000000000000");
  writeFile(dir / "short.zcn", "Zirk");  // no kind word: an empty film
  struct Case {
    const char* source;
    bool film, repeat;
    int32_t endEvents;
  } cases[] = {
      {"empty.zcn", true, true, 0},  // length 0: ended, unless it repeats
      {"empty.zcn", true, false, 1}, {"missing.zcn", false, false, 0},
      {"bad.zcn", false, false, 0},  {"digits.zcn", false, false, 0},
      {"short.zcn", true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    TZirkCinema* cin = scene.Create<TZirkCinema>(nullptr, "cinema");
    cin->SetPropStr(PR_ONPLAYEND, "*end");
    cin->SetPropInt(PR_REPEAT, c.repeat);
    EXPECT_NO_THROW(cin->SetPropStr(PR_SOURCE, c.source));
    EXPECT_EQ(cin->Film() != nullptr, c.film);
    EXPECT_EQ(cin->GetPropInt(PR_COUNT), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(tick(16), 0);
    EXPECT_EQ(endEvents(), c.endEvents);
    scene.Events().Clear();
    scene.FreeObject(cin);
  }
  TZirkCinema* cin = cinema("bad.zcn");
  EXPECT_EQ(cin->LoadError().rfind("bad.zcn: ", 0), 0u) << cin->LoadError();
  // A damaged picture of a film names the picture, once.
  writeFilm("b.zcn", 0);
  writeFile(dir / "red.dor", "Dorv1x");
  cin->SetSource("b.zcn");
  EXPECT_EQ(cin->LoadError(), "red.dor: '1x' is not a valid integer value");
  writeSolid("red.dor", 10, 10, kRed);
  // Volume is never negative.
  writeFilm("a.zcn", 0);
  cin->SetSource("a.zcn");
  EXPECT_TRUE(cin->LoadError().empty());
  cin->SetPropInt(PR_VOLUME, -5);
  EXPECT_EQ(cin->Film()->VolumeScale, 0);
}

TEST_F(CinemaTest, SaveRecordAtEachVersion) {
  writeFilm("a.zcn", 0);
  TZirkCinema* cin = cinema("a.zcn");
  cin->SetPropInt(PR_REPEAT, 1);
  cin->SetPropStr(PR_ONIDLE, "*idle");
  cin->SetPropInt(PR_VOLUME, 600);
  tick(16);
  tick(16);
  tick(500);
  const auto current = record(*cin);
  scene.FreeObject(cin);
  auto old = [](int32_t version, int32_t index, bool rewind, bool mute) {
    return OldControlRecord(version, [&](TRecordWriter& w) {
      w.Str("a.zcn");
      w.Bool(false);  // repeat
      w.Bool(true);   // paused
      w.Bool(false);  // auto scrap
      w.Str("*end");
      if (version >= 104) w.Str("*idle");
      if (version >= 117) {
        w.Int(index);
        w.Bool(rewind);
      }
      if (version >= 129) {
        w.Int(400);
        w.Bool(mute);
      }
      if (version >= 133) w.Bool(true);
    });
  };
  struct Case {
    std::vector<uint8_t> bytes;
    int32_t version;
    std::string idle;
    int32_t timeMs, volume;
    bool paused, ended;
  } cases[] = {
      {current, SaveVersion, "*idle", 500, 600, false, false},
      {old(103, 0, false, false), 103, "", 0, 1000, true, false},
      {old(116, 0, false, false), 116, "*idle", 0, 1000, true, false},
      {old(117, 30, false, false), 117, "*idle", 500, 1000, true, false},
      {old(117, 30, true, false), 117, "*idle", 0, 1000, true, false},  // rewind on load
      {old(129, 60, false, true), 129, "*idle", 1000, 0, true, false},  // mute on load
      {old(133, 60, false, false), 133, "*idle", 1000, 400, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    auto* copy = load<TZirkCinema>(c.bytes, c.version);
    ASSERT_NE(copy->Film(), nullptr);
    EXPECT_EQ(copy->GetPropStr(PR_ONIDLE), c.idle);
    EXPECT_EQ(copy->TimeMs(), c.timeMs);
    EXPECT_EQ(copy->Film()->VolumeScale, c.volume);
    EXPECT_EQ(copy->GetPropInt(PR_PAUSED) != 0, c.paused);
    EXPECT_EQ(copy->Ended(), c.ended);
    scene.FreeObject(copy);
  }
}

}  // namespace
}  // namespace zirk::test
