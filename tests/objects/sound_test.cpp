// The sound object against the real media managers.

#include "objects/sound.h"

#include <gtest/gtest.h>

#include "base/streams.h"
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

TEST_F(SoundTest, VolumesBecomeLevelsOfEachKind) {
  TDMediaItem* midi = MidiMan->Add(kMidi);
  TDMediaItem* plain = OggMan->Add(kOgg);
  const struct {
    TDMediaItem* item;
    int32_t volume, level;
  } cases[] = {{plain, 0, -10000}, {plain, 1, -4995}, {plain, 500, -2500}, {plain, 1200, 0},
               {midi, 1, -9990},   {midi, 1200, 0},   {midi, -100, -10000}};
  for (const auto& c : cases)
    EXPECT_EQ(MediaItemLevel(c.item, c.volume), c.level) << (c.item == midi) << " " << c.volume;
}

TEST_F(SoundTest, AnEndIsReportedOnceOrScrapsAndRepeatStartsAnEndedSoundOver) {
  TZirkSound* s = sound(kShort);
  s->SetPropStr(PR_ONPLAYEND, "*done");
  s->SetActive(0);
  TZirkSound* scrapped = sound(kShort, "se");
  scrapped->SetPropInt(PR_AUTOSCRAP, 1);
  scrapped->SetActive(0);
  EXPECT_EQ(s->GetPropInt(PR_COUNT), 1000);
  run(200);
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
  EXPECT_GT(rig.Peak(), 8000);
  run(1700);
  EXPECT_EQ(events(PR_ONPLAYEND), 1) << "an ended sound reports once";
  EXPECT_EQ(scene.FindComponentByName("se"), nullptr) << "auto-scrap removes it at its end";
  EXPECT_EQ(OggMan->Count(), 1);

  s->SetPropInt(PR_REPEAT, 1);
  run(100);
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING)) << "repeat on after the end starts it over";
  EXPECT_LT(s->GetPropInt(PR_INDEX), 200);
  run(1300);
  EXPECT_EQ(events(PR_ONPLAYEND), 1) << "a looping sound never ends";
  EXPECT_TRUE(s->GetPropInt(PR_PLAYING));
  s->SetPropInt(PR_REPEAT, 0);
  s->SetPropInt(PR_INDEX, 0);
  run(1300);
  EXPECT_EQ(events(PR_ONPLAYEND), 2);
}

TEST_F(SoundTest, VolumeBalancePausesAndPositionReachTheItem) {
  TZirkSound* s = sound(kOgg);
  s->SetPropInt(PR_BALANCE, 20000);
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
  EXPECT_EQ(item->GetPosition(), 1500);
  run(100);
  EXPECT_TRUE(item->IsPlaying());
}

// Fades run on the game clock over each kind's range of levels.
TEST_F(SoundTest, FadesInAndOutFollowTheGameClock) {
  const struct {
    const char* source;
    int32_t volume, half, full;
  } cases[] = {{kOgg, 1000, -2500, 0}, {kMidi, 800, -6000, -2000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    TZirkSound* s = sound(c.source, "bgm");
    s->SetPropInt(PR_VOLUME, c.volume);
    s->SetPropInt(PR_DELAY, 1000);
    s->SetActive(1);
    TDMediaItem* item = s->Item();
    tickGame(0);  // the first step starts from silence
    EXPECT_EQ(item->GetVol(), -10000);
    EXPECT_TRUE(item->IsPlaying());
    tickGame(500);
    EXPECT_EQ(item->GetVol(), c.half);
    tickGame(500);
    EXPECT_EQ(item->GetVol(), c.full);
    EXPECT_EQ(s->Fade(), nullptr) << "a done fade is freed";

    // A fade-out renames the object, freeing its name, and removes it when done.
    s->SetActive(3);
    EXPECT_EQ(s->GetName(), "SCRAP_bgm");
    tickGame(0);
    tickGame(500);
    EXPECT_EQ(item->GetVol(), c.half);
    tickGame(500);
    EXPECT_EQ(scene.FindComponentByName("SCRAP_bgm"), nullptr);
  }
}

TEST_F(SoundTest, WithoutFadeTimeStartPlaysAtOnceAndStopOrAMissingFileScraps) {
  TZirkSound* s = sound(kOgg, "bgm");
  s->SetActive(1);
  EXPECT_EQ(s->GetActive(), 0);
  EXPECT_EQ(s->Item()->GetVol(), 0);
  run(500);
  s->StartPlay();
  EXPECT_LT(s->GetPropInt(PR_INDEX), 50) << "StartPlay starts over";
  s->SetActive(2);
  EXPECT_TRUE(s->IsScrapped());
  EXPECT_EQ(OggMan->Count(), 0);

  TZirkSound* missing = sound("audio\\none.ogg");
  missing->SetPropInt(PR_AUTOSCRAP, 1);
  missing->SetActive(0);
  EXPECT_TRUE(missing->IsScrapped()) << "with auto-scrap on";
}

TEST_F(SoundTest, ChangingTheSourceDropsTheItemAndItsFade) {
  TZirkSound* s = sound(kOgg);
  s->SetPropInt(PR_DELAY, 1000);
  s->SetActive(1);
  ASSERT_NE(s->Fade(), nullptr);
  s->SetPropStr(PR_SOURCE, kShort);
  EXPECT_EQ(s->Fade(), nullptr) << "the fade does not outlive its item";
  EXPECT_EQ(s->GetActive(), 2);
  tickGame(500);  // nothing left to step
  EXPECT_EQ(OggMan->Count(), 0);
}

TEST_F(SoundTest, RoutesSourcesByExtensionAndCdName) {
  const std::pair<const char*, TDMediaManager*> cases[] = {
      {"a\\b.MID", MidiMan}, {"b.sgt", MidiMan}, {"b.wma", WmpMan}, {"b.Ogg", OggMan},
      {"b.wav", OggMan},     {"CD_2", CddaMan},  {"cd_2", nullptr}, {"dir.x\\noext", nullptr}};
  for (const auto& [source, manager] : cases) EXPECT_EQ(SoundManagerFor(source), manager) << source;
  TZirkSound* cd = sound("CD_2");
  cd->SetActive(0);
  EXPECT_NE(dynamic_cast<TCddaItem*>(cd->Item()), nullptr) << "a CD name skips the file check";
}

TEST_F(SoundTest, SaveKeepsLoopingSoundsPlayingStopsOneShotsAndMutesOnRequest) {
  struct Case {
    const char* source;
    bool repeat, mute;
    int32_t loadedState;
  } cases[] = {{kShort, false, false, 2}, {kShort, true, false, 0}, {kOgg, false, true, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    TZirkSound* s = sound(c.source, "s");
    s->SetPropInt(PR_REPEAT, c.repeat);
    s->SetPropInt(PR_MUTEONLOAD, c.mute);
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
    EXPECT_EQ(loaded.GetPropInt(PR_VOLUME), c.mute ? 0 : 1000);
    EXPECT_EQ(loaded.GetActive(), c.loadedState);
    EXPECT_EQ(loaded.Item() != nullptr, c.loadedState == 0);
  }
}

}  // namespace
}  // namespace zirk
