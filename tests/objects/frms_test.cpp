#include <gtest/gtest.h>

#include "base/vrfiles.h"
#include "film_support.h"
#include "objects/tracks.h"
#include "objects/trackswipe.h"
#include "scene/zscene.h"
#include "support/testdata.h"
#include "surfaces/wipes.h"

namespace zirk::test {
namespace {

TEST(FilmFile, HeaderFieldsFollowTheVersionGates) {
  struct Case {
    int32_t version;
    bool relative;
    TPoint origin;
    int32_t loopStart;
  };
  const Case cases[] = {
      {100, false, {0, 0}, 0}, {101, false, {0, 0}, 0}, {102, true, {0, 0}, 0},
      {103, true, {0, 0}, 0},  {104, true, {3, 4}, 0},  {105, true, {3, 4}, 0},
      {106, true, {3, 4}, 20}, {107, true, {3, 4}, 21}, {108, true, {3, 4}, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    FilmFile f;
    f.kind = "ZirkMotion";
    f.version = c.version;
    f.width = 320;
    f.height = 200;
    f.color = 0x123456;
    f.relative = true;
    f.origin = {3, 4};
    // 21 ticks cannot be written in 1/30 s: version 106 keeps 10 and reads 20.
    f.loopStart = 21;
    f.tracks.push_back(wipeTrack(0, 10));
    TFilmManager film;
    readFilm(film, f);
    EXPECT_EQ(film.Kind, 1);
    EXPECT_EQ(film.Width, 320);
    EXPECT_EQ(film.Height, 200);
    EXPECT_EQ(film.Color, 0x123456);
    EXPECT_EQ(film.Relative, c.relative);
    EXPECT_EQ(film.Origin, c.origin);
    EXPECT_EQ(film.LoopStart, c.loopStart);
    ASSERT_EQ(film.Count(), 1);
    EXPECT_EQ(film.TrackAt(0)->Length, 10);
    EXPECT_EQ(film.Length, 10);
  }
}

TEST(FilmFile, WipeRecordsAtEveryVersionReadBack) {
  for (int32_t version = 100; version <= 108; ++version) {
    SCOPED_TRACE(version);
    FilmFile f;
    f.version = version;
    FilmTrack t = wipeTrack(40, 30, 7);
    t.priority = 5;
    t.flipH = true;
    t.otherScreen = true;
    t.reserved = 99;
    t.mask = "mask.dor";
    t.param0 = -3;
    t.param1 = 17;
    t.wipeFlag = 2;
    f.tracks.push_back(t);
    f.tracks.push_back(wipeTrack(100, 2));
    TFilmManager film;
    readFilm(film, f);
    ASSERT_EQ(film.Count(), 2);
    auto* w = static_cast<TWipeFrameList*>(film.TrackAt(0));
    EXPECT_EQ(w->GetType(), ttWipe);
    EXPECT_EQ(w->Start, 40);
    EXPECT_EQ(w->Length, 30);
    EXPECT_EQ(w->Priority, 5);
    EXPECT_EQ(w->Reserved, 99);
    EXPECT_TRUE(w->FlipH);
    EXPECT_FALSE(w->FlipV);
    EXPECT_TRUE(w->OtherScreen);
    EXPECT_EQ(w->GetWipeKind(), 7);
    bool hasExtras = version >= 101;
    EXPECT_EQ(w->GetWipeMask(), hasExtras ? "c:\\game\\film\\mask.dor" : "");
    EXPECT_EQ(w->GetWipeParam0(), hasExtras ? -3 : 0);
    EXPECT_EQ(w->GetWipeParam1(), hasExtras ? 17 : 0);
    EXPECT_EQ(w->GetWipeFlag(), hasExtras ? 2 : 0);
    EXPECT_EQ(film.Length, 102);
  }
}

TEST(FilmFile, WipeMaskNamesAreJoinedToTheFolderOnlyWhenRelative) {
  const std::pair<std::string, std::string> cases[] = {
      {"m.dor", "c:\\game\\film\\m.dor"},
      {"..\\m.dor", "c:\\game\\film\\..\\m.dor"},  // not resolved for masks
      {"\\m.dor", "\\m.dor"},
      {"d:m.dor", "d:m.dor"},
      {"", ""},
  };
  for (auto& [stored, read] : cases) {
    FilmFile f;
    FilmTrack t = wipeTrack(0, 5);
    t.mask = stored;
    f.tracks.push_back(t);
    TFilmManager film;
    readFilm(film, f);
    EXPECT_EQ(static_cast<TWipeFrameList*>(film.TrackAt(0))->GetWipeMask(), read) << stored;
  }
}

TEST(FilmFile, UnrecognisedTagsGiveAnEmptyFilm) {
  // Files too short for a kind word are no films either.
  for (std::string bytes : {std::string("NotAFilm10800000000"), std::string("ZirkCinemo108"),
                            std::string(), std::string("Zirk"), std::string("ZirkMotio")}) {
    TFilmManager film;
    readFilm(film, FilmFile{.tracks = {wipeTrack(0, 50)}});
    ASSERT_EQ(film.Length, 50);
    readFilmBytes(film, bytes);
    EXPECT_EQ(film.Kind, 2);
    EXPECT_EQ(film.Count(), 0);
    EXPECT_EQ(film.Length, 0);
  }
}

TEST(FilmFile, DamagedFilesFailAndLeaveTheFilmEmpty) {
  FilmFile good;
  good.tracks = {wipeTrack(0, 30), wipeTrack(60, 30)};
  good.tracks[0].mask = "mask.dor";
  const std::string bytes = WriteFilmFile(good);
  // Every truncation after the kind word fails, a file shorter than its
  // tag too; none reads part of a film.
  for (size_t n = 10; n < bytes.size(); ++n) {
    TFilmManager film;
    EXPECT_THROW(readFilmBytes(film, bytes.substr(0, n)), EFilmFormatError) << n;
    EXPECT_EQ(film.Count(), 0);
    EXPECT_EQ(film.Length, 0);
  }

  auto withTrackCount = [&](int32_t count) {
    std::string b = bytes;
    size_t at = 13 + 12 + 1 + 8 + 4;
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<char>(uint32_t(count) >> (8 * k));
    return b;
  };
  for (int32_t count : {-1, 3, 0x7FFFFFFF}) {
    TFilmManager film;
    EXPECT_THROW(readFilmBytes(film, withTrackCount(count)), EFilmFormatError) << count;
    EXPECT_EQ(film.Count(), 0);
  }

  FilmFile hugeName;
  FilmTrack t = wipeTrack(0, 5);
  t.mask = "m";
  hugeName.tracks.push_back(t);
  std::string b = WriteFilmFile(hugeName);
  size_t maskLength = b.size() - 1 - 4 - 4 - 1 - 4;
  for (int32_t len : {-1, 0x7FFFFFF0}) {
    for (int k = 0; k < 4; ++k) b[maskLength + k] = static_cast<char>(uint32_t(len) >> (8 * k));
    TFilmManager film;
    EXPECT_THROW(readFilmBytes(film, b), EFilmFormatError) << len;
  }

  TFilmManager film;
  std::string badVersion = bytes;
  badVersion[11] = 'x';
  EXPECT_THROW(readFilmBytes(film, badVersion), EFilmFormatError);
}

TEST(FilmFile, SizesNoScreenShowsAreRefused) {
  for (auto [w, h] :
       {std::pair{8000, 8000}, {100000, 480}, {480, 7681}, {-1, -1}, {-100000, 4320}}) {
    FilmFile f;
    f.width = w;
    f.height = h;
    f.tracks = {wipeTrack(0, 30)};
    TFilmManager film;
    try {
      readFilm(film, f, "c:\\game\\big.zcn");
      ADD_FAILURE() << w << " x " << h;
    } catch (const EFilmFormatError& e) {
      // The name is put on by LoadFilm, which read the file.
      const std::string said =
          "a film of " + std::to_string(w) + " x " + std::to_string(h) + " pixels";
      EXPECT_EQ(std::string(e.what()).find(said), 0u) << e.what();
    }
    EXPECT_EQ(film.Count(), 0);
  }
  // The largest screens, either way up, are films.
  FilmFile tall;
  tall.width = 4320;
  tall.height = 7680;
  TFilmManager film;
  EXPECT_NO_THROW(readFilm(film, tall));
}

TEST(FilmFile, AFilmFilePastItsCapIsRefusedBeforeItIsRead) {
  TempDir dir;
  writeFile(dir.path() / "huge.zcn", "ZirkCinema108");
  std::filesystem::resize_file(dir.path() / "huge.zcn", kMaxFilmFileBytes + 1);  // sparse
  TVrFileManager files(dir.path().string());
  TVrFileManager::SetGlobal(&files);
  TFilmManager film;
  try {
    film.LoadFilm("huge.zcn");
    ADD_FAILURE() << "read";
  } catch (const EVrFileTooLarge& e) {
    EXPECT_EQ(std::string(e.what()).find("huge.zcn: "), 0u) << e.what();
  }
  TVrFileManager::SetGlobal(nullptr);
}

TEST(FilmFile, TrackKindsWithoutATrackClassFailTheLoad) {
  // Kinds 8..127 do not exist.
  for (uint8_t type : {8, 100, 127, 0xFF}) {
    FilmFile f;
    FilmTrack t = wipeTrack(0, 5);
    t.type = type;
    t.raw = std::string(64, '\0');
    f.tracks = {wipeTrack(0, 5), t};
    TFilmManager film;
    EXPECT_THROW(readFilm(film, f), EFilmFormatError) << int(type);
    EXPECT_EQ(film.Count(), 0);
  }
  // The high bit of the type byte is not part of the kind.
  FilmFile f;
  f.tracks = {wipeTrack(0, 5)};
  f.tracks[0].type = 0x83;
  TFilmManager film;
  readFilm(film, f);
  EXPECT_EQ(film.TrackAt(0)->GetType(), ttWipe);
}

TEST(FilmFile, TrackKindsComeFromTheirRegistration) {
  // A kind with its own record: one int32 after the common part, which it
  // also reports as its key frame's size.
  struct CounterTrack : TCustomFrameList {
    explicit CounterTrack(TFilmManager& film) : TCustomFrameList(film) {
      Frames.push_back(std::make_unique<TBoxFrame>(*this));
    }
    TTrackType GetType() const override { return TTrackType(9); }
    int32_t GetFrameWidth() const override { return value; }
    void LoadFromStream(TFilmRecordReader& in) override {
      TCustomFrameList::LoadFromStream(in);
      value = in.Int();
    }
    void OwnerRefreshed() override { ++refreshed; }
    void PlayingStopped() override { ++stopped; }
    int32_t value = 0, refreshed = 0, stopped = 0;
  };
  FilmFile f;
  FilmTrack t = wipeTrack(0, 5);
  t.type = 9;
  t.raw = std::string("\x2A\0\0\0", 4);
  f.tracks = {t, wipeTrack(0, 5)};

  RegisterTrackKind(9, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<CounterTrack>(film);
  });
  TFilmManager film;
  readFilm(film, f);
  ASSERT_EQ(film.Count(), 2);
  EXPECT_EQ(film.TrackAt(0)->GetType(), 9);
  EXPECT_EQ(film.TrackAt(0)->GetContentWidth(), 42);
  // A wipe's key frame covers the film.
  EXPECT_EQ(film.TrackAt(1)->GetContentWidth(), 640);
  EXPECT_EQ(film.TrackAt(1)->GetContentHeight(), 480);
  // The film tells each track of a refreshed owner, a hosted film too, and
  // of playing switched off.
  auto& counter = static_cast<CounterTrack&>(*film.TrackAt(0));
  TZirkBaseList host;
  film.RefreshOwner();
  film.Host = host.GetBase(0);
  film.RefreshOwner();
  film.SetTracksEnabled(true);
  film.SetTracksEnabled(false);
  EXPECT_EQ(counter.refreshed, 2);
  EXPECT_EQ(counter.stopped, 1);
  film.Host = nullptr;

  RegisterTrackKind(9, nullptr);
  EXPECT_THROW(readFilm(film, f), EFilmFormatError);
  EXPECT_EQ(CreateTrack(film, 9), nullptr);
}

TEST(FilmFile, NamesResolveAgainstTheFolderOfEitherSlash) {
  const std::pair<std::string, std::string> cases[] = {
      {"c:\\game\\a.zcn", "c:\\game\\red.dor"},
      {"sub/a.zcn", "sub/red.dor"},
      {"a/b\\c/a.zcn", "a/b\\c/red.dor"},
      {"a.zcn", "red.dor"},
  };
  FilmFile f;
  FilmTrack t;
  t.source = "red.dor";
  f.tracks = {t};
  for (auto& [name, source] : cases) {
    TFilmManager film;
    film.SkipAfterLoad = true;
    readFilm(film, f, name);
    EXPECT_EQ(film.TrackAt(0)->GetSource(), source) << name;
  }
}

TEST(FilmFile, ParentsAreResolvedAndCyclesCut) {
  struct Case {
    std::vector<int32_t> parents;
    std::vector<int32_t> expected;  // resolved index, -1 none
  };
  const Case cases[] = {
      {{-1, 0, 5}, {-1, 0, -1}},    // beyond the list: none
      {{2, -1, 1}, {2, -1, 1}},     // parents later in the list
      {{0, -1, -7}, {-1, -1, -1}},  // itself
      {{1, 0, -1}, {1, -1, -1}},    // a pair: the closing link goes
      {{2, 0, 1}, {2, 0, -1}},      // a ring of three
  };
  for (const Case& c : cases) {
    FilmFile f;
    for (int32_t p : c.parents) {
      FilmTrack t = wipeTrack(10, 20);
      t.parent = p;
      f.tracks.push_back(t);
    }
    TFilmManager film;
    readFilm(film, f);
    for (int32_t k = 0; k < film.Count(); ++k)
      EXPECT_EQ(film.IndexOf(film.TrackAt(k)->Parent), c.expected[size_t(k)]) << k;
    film.SetFilmTime(15);  // walks the parents: must end
  }
}

TEST(FilmFile, ChainedTracksStartAtTheirParentsEnd) {
  FilmFile f;
  FilmTrack a = wipeTrack(10, 30);
  FilmTrack b = wipeTrack(500, 20);
  b.parent = 0;
  FilmTrack c = wipeTrack(0, 5);
  c.parent = 1;
  f.tracks = {a, b, c};
  TFilmManager film;
  readFilm(film, f);
  EXPECT_EQ(film.TrackAt(1)->TrackStart(), 40);
  EXPECT_EQ(film.TrackAt(2)->TrackStart(), 60);
  EXPECT_EQ(film.Length, 65);
  EXPECT_EQ(film.ChainedTrack(film.TrackAt(0)), film.TrackAt(1));
  EXPECT_EQ(film.ChainedTrack(film.TrackAt(2)), nullptr);
  EXPECT_EQ(film.FirstStartTrack(), nullptr);
}

TEST(FilmFile, ExtremeTimesDoNotOverflow) {
  FilmFile f;
  f.version = 106;
  FilmTrack a = wipeTrack(0, 0);
  a.raw.clear();
  f.tracks = {a};
  std::string bytes = WriteFilmFile(f);
  // Start and length of the track at INT32_MAX in 1/30 s.
  size_t common = bytes.size() - 27 - 1 - 12 - 1;
  for (size_t at : {common + 4, common + 12})
    for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<char>(0x7FFFFFFFu >> (8 * k));
  TFilmManager film;
  readFilmBytes(film, bytes);
  EXPECT_EQ(film.TrackAt(0)->Length, INT32_MAX);
  EXPECT_EQ(film.TrackAt(0)->Start, INT32_MAX);
  EXPECT_EQ(film.Length, INT32_MAX);
}

TEST(FilmWipes, ParityAndActiveWipeAtTheBoundaries) {
  FilmFile f;
  f.tracks = {wipeTrack(0, 30), wipeTrack(60, 30)};
  TFilmManager film;
  readFilm(film, f);
  struct Case {
    int32_t time;
    int32_t active;  // track index, -1 none
    int32_t parity;
    int32_t wipeParity;
  };
  const Case cases[] = {
      {0, 0, 0, 0},   {28, 0, 0, 0}, {29, 0, 0, 1}, {30, -1, 1, 1}, {45, -1, 1, 1},
      {59, -1, 1, 1}, {60, 1, 1, 1}, {89, 1, 1, 0}, {90, -1, 0, 0}, {200, -1, 0, 0},
  };
  for (const Case& c : cases) {
    auto [wipe, parity] = film.ActiveWipe(c.time);
    EXPECT_EQ(film.IndexOf(wipe), c.active) << c.time;
    EXPECT_EQ(parity, c.parity) << c.time;
    EXPECT_EQ(film.WipeParity(c.time), c.wipeParity) << c.time;
  }
  EXPECT_TRUE(film.HasWipeOrFlag());
  EXPECT_EQ(film.FirstStartTrack(), film.TrackAt(0));
}

TEST(FilmWipes, WipeTracksFlipTheOwnerWithTheirTransition) {
  TZirkBaseList scene;
  FilmFile f;
  FilmTrack w = wipeTrack(10, 30, 5);
  w.param0 = 7;
  w.param1 = -2;
  w.wipeFlag = 3;
  w.mask = "fade.dor";
  f.tracks = {w};
  TFilmManager film;
  readFilm(film, f);
  film.Owner = &scene;

  film.SetFilmTime(0);
  EXPECT_FALSE(scene.WipeRunning());
  EXPECT_EQ(scene.ActiveIndex, 0);

  film.SetFilmTime(12);
  TCustomWipe* effect = scene.CurrentWipe();
  ASSERT_NE(effect, nullptr);
  EXPECT_EQ(effect->Kind(), 5);
  EXPECT_EQ(effect->GetParam(0), 7);
  EXPECT_EQ(effect->GetParam(1), -2);
  EXPECT_EQ(effect->GetName(), "c:\\game\\film\\fade.dor");
  EXPECT_EQ(effect->GetFlag(), 3);
  EXPECT_TRUE(effect->Prepared());
  EXPECT_EQ(effect->Elapsed(), 2);
  EXPECT_EQ(effect->Length(), 30);
  EXPECT_EQ(scene.ActiveIndex, 0);
  EXPECT_EQ(film.LastWipe, film.TrackAt(0));

  film.SetFilmTime(20);
  EXPECT_EQ(scene.CurrentWipe(), effect);  // the same transition runs on
  EXPECT_EQ(effect->Elapsed(), 10);

  // A changed setting restarts the transition.
  static_cast<TWipeFrameList*>(film.TrackAt(0))->SetWipeParam0(9);
  EXPECT_EQ(film.LastWipe, nullptr);
  film.SetFilmTime(21);
  ASSERT_NE(scene.CurrentWipe(), nullptr);
  EXPECT_EQ(scene.CurrentWipe()->GetParam(0), 9);
  EXPECT_EQ(scene.CurrentWipe()->Elapsed(), 11);

  film.SetFilmTime(40);
  EXPECT_FALSE(scene.WipeRunning());
  EXPECT_EQ(scene.ActiveIndex, 1);
  EXPECT_EQ(film.LastWipe, nullptr);
  EXPECT_EQ(film.Time, 40);

  // Motions and hosted films never flip.
  TFilmManager motion;
  readFilm(motion, f);
  motion.Owner = &scene;
  motion.MotionMode = true;
  motion.SetFilmTime(12);
  EXPECT_FALSE(scene.WipeRunning());
}

TEST(FilmWipes, OwnerTakesSizeAndColourUnlessHostedOrAMotion) {
  TZirkBaseList scene;
  FilmFile f;
  f.width = 320;
  f.height = 240;
  f.color = 0x0000FF;
  TFilmManager film;
  readFilm(film, f);
  film.SetOwnerObject(&scene);
  EXPECT_EQ(scene.Width(), 640);  // not told before RefreshOwner
  film.MotionMode = true;
  film.RefreshOwner();
  EXPECT_EQ(scene.Width(), 640);
  film.MotionMode = false;
  film.RefreshOwner();
  EXPECT_EQ(scene.Width(), 320);
  EXPECT_EQ(scene.Height(), 240);
  EXPECT_EQ(scene.Color(), 0x0000FF);
}

TEST(FilmPaths, RelativeNamesResolveAgainstTheFolder) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"..\\..\\a.dor", "c:\\x\\y\\z\\", "c:\\x\\a.dor"},
      // Every component, the drive included, can be climbed out of; the
      // "..\" left over stay.
      {"..\\..\\..\\..\\..\\a.dor", "c:\\x\\", "..\\..\\..\\a.dor"},
      {"a", "c:\\x\\", "a"},
      {"", "c:\\x\\", ""},
      {"\\abs\\a.dor", "c:\\x\\", "\\abs\\a.dor"},
      {"d:\\a.dor", "c:\\x\\", "d:\\a.dor"},
      {"pic\\a.dor", "c:\\x\\", "c:\\x\\pic\\a.dor"},
      {"..\\a.dor", "\\\\srv\\share\\f\\", "\\\\srv\\share\\a.dor"},
      {"..\\a.dor", "", "..\\a.dor"},
  };
  for (auto& [name, base, expected] : cases) {
    EXPECT_EQ(ResolveRelativePath(name, base), expected) << name << " in " << base;
  }
}

TEST(FilmPaths, NamesMadeRelativeResolveBack) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"c:\\x\\a.dor", "c:\\x\\y\\z\\", "..\\..\\a.dor"},
      {"c:\\x\\y\\z\\p\\a.dor", "c:\\x\\y\\z\\", "p\\a.dor"},
      {"c:\\x\\y\\z\\a.dor", "c:\\x\\y\\z\\", "a.dor"},
      {"d:\\x\\a.dor", "c:\\x\\", "d:\\x\\a.dor"},
      {"a.dor", "c:\\x\\", "a.dor"},
      {"C:\\x\\a.dor", "c:\\x\\", "C:\\x\\a.dor"},  // compared exactly
  };
  for (auto& [name, base, expected] : cases) {
    std::string relative = MakeRelativePath(name, base);
    EXPECT_EQ(relative, expected) << name;
    if (relative != name) {
      EXPECT_EQ(ResolveRelativePath(relative, base), name);
    }
  }
  TPathParser p;
  p.Split("\\\\srv\\share\\dir");
  ASSERT_EQ(p.Count(), 3);
  EXPECT_EQ(p.Part(0), "\\\\srv\\");
  EXPECT_EQ(p.Join(), "\\\\srv\\share\\dir\\");
}

TEST(FilmTimes, MillisecondsRoundToTheNearestTick) {
  const std::pair<double, int32_t> cases[] = {
      {0, 0},   {5, 0},     {8.3, 0},   {8.4, 1},           {100, 6},
      {125, 7}, {1000, 60}, {-100, -6}, {1e300, INT32_MAX},
  };
  for (auto [ms, ticks] : cases) EXPECT_EQ(MsToFilmTicks(ms), ticks) << ms;
}

}  // namespace
}  // namespace zirk::test
