// The sound object against the real media managers.

#include "objects/sound.h"

#include <gtest/gtest.h>

#include "base/streams.h"
#include "media/MidiPlayV.h"
#include "media/cddaman.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media_fixture.h"
#include "objects/fades.h"
#include "scene/events.h"

namespace zirk {
namespace {

constexpr const char* kOgg = "audio\\vorbis-stereo-44100.ogg";              // 2000 ms
constexpr const char* kShort = "audio\\pcm16-stereo-44100-extensible.wav";  // 1000 ms
constexpr const char* kMidi = "midi\\jazz-soft\\test-2-tracks-type-1.mid";

class SoundTest : public test::MediaSceneTest {
 protected:
  TZirkSound* sound(const std::string& source, const std::string& name = "") {
    auto* s = scene.Create<TZirkSound>(nullptr, name);
    s->SetPropStr(PR_SOURCE, source);
    s->SetPropInt(PR_VOLUME, 1000);
    return s;
  }
};

TEST(SoundLevels, VolumesBecomeLevelsOfEachKind) {
  struct Case {
    bool midi;
    int32_t volume, level;
  } cases[] = {{false, 0, -10000}, {false, 1, -4995},   {false, 500, -2500}, {false, 1000, 0},
               {false, 1200, 0},   {true, 0, -10000},   {true, 1, -9990},    {true, 1000, 0},
               {true, 1200, 0},    {true, -100, -10000}};
  TMediaConfig config;
  config.MainFormAlive = [] { return false; };
  config.MakeMidiPlayer = [] { return std::make_unique<TMidiPlayV>(false); };
  TMidiManager midi(config);
  TMidiItem* midiItem = midi.Add("x.mid");
  TDMediaManager other;
  TDMediaItem plain(other);
  for (const Case& c : cases)
    EXPECT_EQ(MediaItemLevel(c.midi ? static_cast<TDMediaItem*>(midiItem) : &plain, c.volume),
              c.level)
        << c.midi << " " << c.volume;
}

TEST_F(SoundTest, PlaysLoopsAndReportsItsEndOnce) {
  TZirkSound* s = sound(kShort, "voice");
  s->SetPropStr(PR_ONPLAYEND, "*done");
  s->SetActive(0);
  ASSERT_NE(s->Item(), nullptr);
  EXPECT_EQ(s->GetActive(), 0);
  EXPECT_EQ(s->GetPropInt(PR_COUNT), 1000);
  run(200);
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
  EXPECT_GT(rig->Peak(), 8000);
  run(1200);
  EXPECT_EQ(events(PR_ONPLAYEND), 1);
  EXPECT_TRUE(s->Ended());
  run(500);
  EXPECT_EQ(events(PR_ONPLAYEND), 1) << "an ended sound reports once";

  // Repeat on after the end starts it over; the next end is reported again.
  s->SetPropInt(PR_REPEAT, 1);
  EXPECT_FALSE(s->Ended());
  run(100);
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
  EXPECT_LT(s->GetPropInt(PR_INDEX), 200);
  s->SetPropInt(PR_REPEAT, 0);
  s->SetPropInt(PR_INDEX, 0);
  run(1300);
  EXPECT_EQ(events(PR_ONPLAYEND), 2);
}

TEST_F(SoundTest, ALoopingSoundNeverEnds) {
  TZirkSound* s = sound(kShort);
  s->SetPropStr(PR_ONPLAYEND, "*done");
  s->SetPropInt(PR_REPEAT, 1);
  s->SetActive(0);
  run(2600);
  EXPECT_EQ(events(PR_ONPLAYEND), 0);
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
}

TEST_F(SoundTest, AutoScrapRemovesTheObjectAtTheEnd) {
  TZirkSound* s = sound(kShort, "se");
  s->SetPropInt(PR_AUTOSCRAP, 1);
  s->SetActive(0);
  run(1400);
  EXPECT_EQ(scene.FindComponentByName("se"), nullptr);
  EXPECT_EQ(OggMan->Count(), 0);

  TZirkSound* missing = sound("audio\\none.ogg", "gone");
  missing->SetPropInt(PR_AUTOSCRAP, 1);
  missing->SetActive(0);
  EXPECT_TRUE(missing->IsScrapped()) << "a missing file scraps an auto-scrap sound";
}

TEST_F(SoundTest, VolumeBalancePauseAndPositionReachTheItem) {
  TZirkSound* s = sound(kOgg);
  s->SetPropInt(PR_BALANCE, 20000);
  EXPECT_EQ(s->GetPropInt(PR_BALANCE), 10000);
  s->SetPropInt(PR_VOLUME, 500);
  s->SetActive(0);
  TDMediaItem* item = s->Item();
  EXPECT_EQ(item->GetPan(), 10000);
  EXPECT_EQ(item->GetVol(), -2500);
  s->SetPropInt(PR_PAUSED, 1);
  EXPECT_TRUE(item->IsPaused());
  EXPECT_EQ(item->GetVol(), -10000);
  s->SetPropInt(PR_PAUSED, 0);
  EXPECT_EQ(item->GetVol(), -2500);
  s->SetPropInt(PR_ANIPAUSED, 1);
  EXPECT_FALSE(item->IsPlaying()) << "the second pause flag holds it too";
  s->SetPropInt(PR_ANIPAUSED, 0);
  s->SetPropInt(PR_INDEX, 1500);
  EXPECT_EQ(s->GetPropInt(PR_INDEX), 1500);
  run(100);
  EXPECT_TRUE(item->IsPlaying());
}

TEST_F(SoundTest, FadesFollowTheGameClock) {
  TZirkSound* s = sound(kOgg);
  s->SetPropInt(PR_DELAY, 1000);
  s->SetActive(1);
  ASSERT_NE(s->Fade(), nullptr);
  TDMediaItem* item = s->Item();
  tickGame(0);  // the first step starts from silence
  EXPECT_EQ(item->GetVol(), -10000);
  EXPECT_TRUE(item->IsPlaying());
  tickGame(500);
  EXPECT_EQ(item->GetVol(), -2500);
  tickGame(500);
  EXPECT_EQ(item->GetVol(), 0);
  EXPECT_EQ(s->Fade(), nullptr) << "a done fade is freed";

  // A fade-out renames the object, frees the name and removes it when done.
  s->SetName("bgm");
  s->SetActive(3);
  EXPECT_EQ(s->GetName(), "SCRAP_bgm");
  TZirkSound* next = sound(kOgg, "bgm");
  EXPECT_EQ(scene.FindComponentByName("bgm"), next);
  tickGame(0);
  tickGame(500);
  EXPECT_EQ(item->GetVol(), -2500);
  tickGame(500);
  EXPECT_EQ(scene.FindComponentByName("SCRAP_bgm"), nullptr);
}

TEST_F(SoundTest, AMidiFadeSpansTheWholeRange) {
  TZirkSound* s = sound(kMidi);
  s->SetPropInt(PR_VOLUME, 800);  // level -2000
  s->SetPropInt(PR_DELAY, 1000);
  s->SetActive(1);
  ASSERT_NE(dynamic_cast<TMidiItem*>(s->Item()), nullptr);
  tickGame(0);
  tickGame(500);
  EXPECT_EQ(s->Item()->GetVol(), -6000);
}

TEST_F(SoundTest, SetActiveWithoutFadeTimePlaysAtOnceAndStopScraps) {
  TZirkSound* s = sound(kOgg, "bgm");
  s->SetActive(1);
  EXPECT_EQ(s->GetActive(), 0);
  EXPECT_EQ(s->Fade(), nullptr);
  EXPECT_EQ(s->Item()->GetVol(), 0);
  s->SetActive(2);
  EXPECT_EQ(s->Item(), nullptr);
  EXPECT_TRUE(s->IsScrapped());
  EXPECT_EQ(OggMan->Count(), 0);
}

TEST_F(SoundTest, ChangingTheSourceDropsTheItemAndItsFade) {
  TZirkSound* s = sound(kOgg);
  s->SetPropInt(PR_DELAY, 1000);
  s->SetActive(1);
  ASSERT_NE(s->Fade(), nullptr);
  s->SetPropStr(PR_SOURCE, kShort);
  EXPECT_EQ(s->Fade(), nullptr) << "the fade does not outlive its item";
  EXPECT_EQ(s->Item(), nullptr);
  EXPECT_EQ(s->GetActive(), 2);
  tickGame(500);  // nothing left to step
  EXPECT_EQ(OggMan->Count(), 0);
}

TEST_F(SoundTest, RoutesSourcesByExtensionAndCdName) {
  EXPECT_EQ(SoundManagerFor("a\\b.MID"), MidiMan);
  EXPECT_EQ(SoundManagerFor("b.sgt"), MidiMan);
  EXPECT_EQ(SoundManagerFor("b.wma"), WmpMan);
  EXPECT_EQ(SoundManagerFor("b.Ogg"), OggMan);
  EXPECT_EQ(SoundManagerFor("b.wav"), OggMan);
  EXPECT_EQ(SoundManagerFor("CD_2"), static_cast<TDMediaManager*>(CddaMan));
  EXPECT_EQ(SoundManagerFor("cd_2"), nullptr);
  EXPECT_EQ(SoundManagerFor("dir.x\\noext"), nullptr);
  TZirkSound* cd = sound("CD_2");
  cd->SetActive(0);
  EXPECT_NE(dynamic_cast<TCddaItem*>(cd->Item()), nullptr) << "a CD name skips the file check";
}

TEST_F(SoundTest, SaveKeepsLongAndLoopingSoundsPlayingAndStopsShortOnes) {
  struct Case {
    const char* source;
    bool repeat;
    int32_t loadedState;
  } cases[] = {{kShort, false, 2}, {kShort, true, 0}, {kOgg, false, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    TZirkSound* s = sound(c.source, "s");
    s->SetPropInt(PR_REPEAT, c.repeat);
    s->SetPropInt(PR_BALANCE, -300);
    s->SetPropStr(PR_ONPLAYEND, "*end");
    s->SetActive(0);
    TKwMemoryStream stream;
    s->SaveToStream(stream);
    scene.FreeObject(s);

    TZirkSound loaded(scene);
    stream.SetPosition(0);
    loaded.LoadFromStream(stream, 129);
    EXPECT_EQ(loaded.Source(), c.source);
    EXPECT_EQ(loaded.GetPropInt(PR_BALANCE), -300);
    EXPECT_EQ(loaded.GetPropStr(PR_ONPLAYEND), "*end");
    EXPECT_EQ(loaded.GetActive(), c.loadedState);
    EXPECT_EQ(loaded.Item() != nullptr, c.loadedState == 0);
  }
}

TEST_F(SoundTest, MuteOnLoadSilencesTheLoadedSound) {
  TZirkSound* s = sound(kOgg, "s");
  s->SetPropInt(PR_MUTEONLOAD, 1);
  TKwMemoryStream stream;
  s->SaveToStream(stream);
  scene.FreeObject(s);
  stream.SetPosition(0);
  TZirkSound muted(scene);
  muted.LoadFromStream(stream, 129);
  EXPECT_EQ(muted.GetPropInt(PR_VOLUME), 0);
}

TEST_F(SoundTest, SoundOffHoldsNewSoundsWithMixedSoundToo) {
  for (const bool directSound : {true, false}) {
    SCOPED_TRACE(directSound);
    remakeRig(directSound);
    OggMan->SetEnabled(false);
    TZirkSound* s = sound(kOgg);
    s->SetActive(0);
    run(100);
    EXPECT_FALSE(s->GetPropInt(PR_PLAYING));
    OggMan->SetEnabled(true);
    run(100);
    EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
  }
}

}  // namespace
}  // namespace zirk
