// Film sound tracks playing sound objects in step with the film.

#include "objects/trackssound.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <fstream>

#include "film_support.h"
#include "media/mediaman.h"
#include "media_fixture.h"
#include "objects/sound.h"
#include "objects/tracksbox.h"
#include "support/tempdir.h"

namespace zirk {
namespace {

constexpr const char* kOgg = "audio\\vorbis-stereo-44100.ogg";  // 2000 ms = 120 ticks

class SoundTrackTest : public test::MediaSceneTest {
 protected:
  explicit SoundTrackTest(test::MediaRigOptions options = {})
      : MediaSceneTest(std::move(options)) {}
  void SetUp() override {
    MediaSceneTest::SetUp();
    RegisterSoundTracks();
    film.Owner = &scene;
  }
  void TearDown() override {
    film.Clear();
    MediaSceneTest::TearDown();
  }
  TSoundFrameList* track(int32_t start, int32_t length, TCustomFrameList* parent = nullptr) {
    auto t = std::make_unique<TSoundFrameList>(film);
    t->Start = start;
    t->Length = length;
    t->Parent = parent;
    t->SetSource(kOgg);
    auto* raw = static_cast<TSoundFrameList*>(film.AddTrack(std::move(t)));
    film.Length = std::max(film.Length, raw->TrackEnd());
    return raw;
  }
  // The film at a tick, then a tick of the scene and the media.
  void at(int32_t time) {
    film.SetFilmTime(time);
    run(10);
  }

  TFilmManager film;
};

TEST_F(SoundTrackTest, OldFilmsStoredLevelsInHundredthsOfADecibel) {
  struct Case {
    int32_t version, stored, perMille;
  } cases[] = {
      {107, 0, 1000}, {107, -10000, 0}, {107, -1, 1000}, {107, -5000, 500}, {108, 700, 700}};
  for (const Case& c : cases) {
    TFilmManager loaded;
    loaded.SkipAfterLoad = true;
    test::readFilm(loaded,
                   {.version = c.version,
                    .tracks = {test::SoundTrack({"music.ogg", c.stored, c.stored}, 0, 60)}});
    auto* sound = dynamic_cast<TSoundFrameList*>(loaded.TrackAt(0));
    ASSERT_NE(sound, nullptr) << "sound tracks load";
    EXPECT_EQ(sound->VolumeFrom, c.perMille) << c.version << " " << c.stored;
    EXPECT_EQ(sound->GetSource(), "c:\\game\\film\\music.ogg");
  }
}

TEST_F(SoundTrackTest, TheFilmsVolumeScaleAndTheTimelineSetTheSound) {
  film.VolumeScale = 500;
  TSoundFrameList* t = track(0, 120);
  t->VolumeTo = 0;
  t->BalanceFrom = -1000;
  t->BalanceTo = 1000;
  film.RefreshOwner();
  TZirkSound* sound = t->RootSound();
  ASSERT_NE(sound, nullptr) << "the owner's refresh makes the sound";
  EXPECT_EQ(sound->GetName()[0], kHiddenNameChar);
  EXPECT_TRUE(sound->GetPropInt(PR_PAUSED));
  at(0);
  EXPECT_EQ(sound->GetPropInt(PR_VOLUME), 500);
  EXPECT_TRUE(sound->GetPropInt(PR_PLAYING));
  at(60);
  EXPECT_NEAR(sound->GetPropInt(PR_VOLUME), 250, 5);
  EXPECT_NEAR(sound->GetPropInt(PR_BALANCE), 0, 20);
}

// Close to the film the sound runs on; far from it, it is seeked, and going
// back starts it over.
TEST_F(SoundTrackTest, TheSoundFollowsTheFilmsPosition) {
  TSoundFrameList* t = track(0, 600);
  at(0);
  TZirkSound* sound = t->RootSound();
  ASSERT_TRUE(sound->GetPropInt(PR_PLAYING));
  EXPECT_TRUE(sound->GetPropInt(PR_REPEAT)) << "a track longer than its sound loops it";
  run(100);
  const int32_t heard = sound->GetPropInt(PR_INDEX);
  at(12);  // 200 ms of film: 100 ms off
  EXPECT_NEAR(sound->GetPropInt(PR_INDEX), heard + 10, 30) << "close enough: no seek";
  // Past its first pass the looping sound runs on: the film's time is
  // measured against where the loop is, not its unwrapped position.
  const int32_t before = sound->GetPropInt(PR_INDEX);
  for (int32_t time = 240; time < 300; ++time) at(time);  // from 4000 ms
  EXPECT_NEAR(sound->GetPropInt(PR_INDEX), (before + 600) % 2000, 30) << "never seeked";
  film.SetFilmTime(30);  // back to 500 ms
  EXPECT_FALSE(sound->GetPropInt(PR_PAUSED));
  EXPECT_LT(sound->GetPropInt(PR_INDEX), 100) << "restarted from the beginning, not seeked";
}

// A sound that plays once, longer than the seek tolerance: six seconds of
// 8-bit silence.
class LongSoundTrackTest : public SoundTrackTest {
 protected:
  LongSoundTrackTest() : SoundTrackTest(longSoundFolder()) {}
  static test::MediaRigOptions longSoundFolder() {
    static test::TempDir dir;
    constexpr uint32_t kRate = 11025, kBytes = kRate * 6;
    std::ofstream out(dir.path() / "long.wav", std::ios::binary);
    const auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out << "RIFF";
    u32(36 + kBytes);
    out << "WAVEfmt ";
    u32(16), u16(1), u16(1), u32(kRate), u32(kRate), u16(1), u16(8);
    out << "data";
    u32(kBytes);
    out << std::string(kBytes, '\x80');
    return {.GameFolder = dir.path()};
  }
};

TEST_F(LongSoundTrackTest, ASoundFarFromTheFilmIsSeeked) {
  TSoundFrameList* t = track(0, 330);  // 5.5 s of a 6 s sound: played once
  t->SetSource("long.wav");
  at(0);
  TZirkSound* sound = t->RootSound();
  ASSERT_TRUE(sound->GetPropInt(PR_PLAYING));
  EXPECT_FALSE(sound->GetPropInt(PR_REPEAT));
  run(100);
  film.SetFilmTime(240);  // 4000 ms of film, about 100 ms of sound heard
  EXPECT_NEAR(sound->GetPropInt(PR_INDEX), 4000, 30);
}

TEST_F(SoundTrackTest, PausingOrStoppingTheFilmPausesItsSound) {
  TSoundFrameList* t = track(0, 110);
  at(0);
  TZirkSound* sound = t->RootSound();
  film.SetPaused(true);
  EXPECT_TRUE(sound->GetPropInt(PR_PAUSED));
  film.SetPaused(false);
  EXPECT_FALSE(sound->GetPropInt(PR_PAUSED));
  film.SetTracksEnabled(false);
  EXPECT_TRUE(sound->GetPropInt(PR_PAUSED));
  at(1);
  EXPECT_TRUE(sound->GetPropInt(PR_PAUSED)) << "a film that does not play keeps it paused";
  film.SetTracksEnabled(true);
  at(2);
  EXPECT_FALSE(sound->GetPropInt(PR_PAUSED));
  at(109);  // the film's last tick: the track falls silent
  EXPECT_TRUE(sound->GetPropInt(PR_PAUSED));
}

TEST_F(SoundTrackTest, AChainPlaysOneSoundObject) {
  TSoundFrameList* first = track(0, 60);
  TSoundFrameList* second = track(0, 60, first);
  first->VolumeTo = 600;
  second->VolumeFrom = second->VolumeTo = 300;
  film.RefreshOwner();
  at(0);
  at(60);
  EXPECT_EQ(second->RootSound(), first->RootSound());
  EXPECT_EQ(first->RootSound()->GetPropInt(PR_VOLUME), 600) << "it starts where its parent ends";
  int32_t sounds = 0;
  for (TZirkObject* o : scene.Objects()) sounds += dynamic_cast<TZirkSound*>(o) != nullptr;
  EXPECT_EQ(sounds, 1);
}

// The chain's sound plays until its last sound track ends, though a box
// hangs off the first track before the sound that goes on from it, and a
// shorter branch listed later ends first.
TEST_F(SoundTrackTest, AChainPlaysOnBesideOtherKindsAndBranches) {
  TSoundFrameList* first = track(0, 60);
  auto box = std::make_unique<TBoxFrameList>(film);
  box->Length = 30;
  box->Parent = first;
  film.AddTrack(std::move(box));
  TSoundFrameList* longer = track(0, 120, first);  // 60..180
  track(0, 60, first);                             // 60..120
  film.RefreshOwner();
  for (int32_t time : {0, 30, 90, 150}) {
    at(time);
    ASSERT_NE(longer->RootSound(), nullptr) << time;
    EXPECT_FALSE(longer->RootSound()->GetPropInt(PR_PAUSED)) << time;
  }
  at(179);  // the film's last tick
  EXPECT_TRUE(longer->RootSound()->GetPropInt(PR_PAUSED));
}

TEST_F(SoundTrackTest, ALoopingFilmLoopsTheSoundOfItsLastTrack) {
  film.LoopStart = 30;
  TSoundFrameList* t = track(10, 100);  // shorter than the sound, reaching the film's end
  film.Length = 110;
  film.RefreshOwner();
  EXPECT_TRUE(t->RootSound()->GetPropInt(PR_REPEAT));
  film.LoopStart = 0;
  EXPECT_FALSE(t->RepeatRule(*t->RootSound()));
}

TEST_F(SoundTrackTest, ChangingTheFileScrapsTheSound) {
  TSoundFrameList* t = track(0, 110);
  at(0);
  TZirkSound* sound = t->RootSound();
  t->SetSource("audio\\pcm16-stereo-44100.wav");
  EXPECT_TRUE(sound->IsScrapped());
  at(1);
  ASSERT_NE(t->RootSound(), nullptr);
  EXPECT_EQ(t->RootSound()->Source(), "audio\\pcm16-stereo-44100.wav");
  std::vector<std::string> files;
  film.CollectFiles(files);
  EXPECT_EQ(files, std::vector<std::string>{"audio\\pcm16-stereo-44100.wav"});
}

// A sound is open from shortly before its track until the track ends.
TEST_F(SoundTrackTest, ASoundIsOpenOnlyNearItsTrack) {
  TSoundFrameList* first = track(0, 60);
  TSoundFrameList* later = track(600, 60);
  at(0);
  EXPECT_EQ(later->GetTarget(), nullptr) << "ten seconds ahead";
  at(60);
  EXPECT_EQ(first->GetTarget(), nullptr) << "its track has ended";
  at(590);
  EXPECT_NE(later->GetTarget(), nullptr) << "the film is about to reach it";
}

// A track of a long chain finds the chain's sound without walking up the
// chain, let alone recursing: a tick fits a small stack.
TEST_F(SoundTrackTest, ALongChainTicksOnASmallStack) {
  std::vector<TSoundFrameList*> chain;  // the last track first
  for (int32_t k = 0; k < 50000; ++k) {
    chain.push_back(track(0, 1));
    if (k > 0) chain[k - 1]->Parent = chain[k];
  }
  film.Length = 50000;
  pthread_attr_t small;
  pthread_attr_init(&small);
  pthread_attr_setstacksize(&small, 512 * 1024);
  pthread_t thread;
  auto tick = [](void* f) { return static_cast<TFilmManager*>(f)->SetFilmTime(0), f; };
  ASSERT_EQ(pthread_create(&thread, &small, tick, &film), 0);
  pthread_join(thread, nullptr);
  ASSERT_NE(chain.back()->RootSound(), nullptr);
  EXPECT_EQ(chain.front()->RootSound(), chain.back()->RootSound());
}

}  // namespace
}  // namespace zirk
