// The media managers over the real media library on a manual sound device.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "cd_images.h"
#include "media/Cdp.h"
#include "media/MidiPlayV.h"
#include "media/cddaman.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media/wavouts.h"
#include "platform/registry.h"
#include "script/project.h"
#include "support/mediarig.h"
#include "support/testdata.h"

namespace zirk {
namespace {

constexpr const char* kOgg = "audio\\vorbis-stereo-44100.ogg";  // 2000 ms
constexpr const char* kWave = "audio\\pcm16-stereo-44100.wav";  // 2000 ms
constexpr const char* kMidi = "midi\\jazz-soft\\test-2-tracks-type-1.mid";

test::MediaRigOptions inData(bool directSound = true) {
  test::MediaRigOptions o;
  o.GameFolder = test::dataPath("");
  o.UseDirectSound = directSound;
  return o;
}

TEST(MediaManagers, MediaInitMakesEveryManagerAndMediaFinalFreesThem) {
  {
    test::MediaRig rig(inData());
    EXPECT_NE(VideoMan, nullptr);
    EXPECT_NE(WmpMan, nullptr);
    EXPECT_NE(OggMan, nullptr);
    EXPECT_NE(CddaMan, nullptr);
    EXPECT_NE(MidiMan, nullptr);
  }
  EXPECT_EQ(VideoMan, nullptr);
  EXPECT_EQ(OggMan, nullptr);
  EXPECT_EQ(MidiMan, nullptr);
  EXPECT_EQ(SharedDirectSound, nullptr);
}

TEST(MediaManagers, AnOggItemReportsItsEndOnceAndAgainAfterARewindOrRestart) {
  test::MediaRig rig(inData());
  TDMediaItem* item = OggMan->Add(kOgg);
  EXPECT_EQ(SharedDirectSound, static_cast<void*>(&rig.device));
  EXPECT_EQ(item->GetLen(), 2000);
  item->Play();
  rig.Run(2300);
  EXPECT_TRUE(item->CheckEnd());
  EXPECT_FALSE(item->CheckEnd()) << "an end is told once";
  EXPECT_FALSE(item->IsPlaying());

  item->SetPosition(0);
  item->Play();
  rig.Run(2300);
  EXPECT_TRUE(item->CheckEnd()) << "a rewound item ends again";

  item->Play();  // an ended item starts over
  rig.Run(2300);
  EXPECT_TRUE(item->CheckEnd()) << "a restarted item ends again";
  OggMan->Remove(item);
  EXPECT_EQ(OggMan->Count(), 0);
  EXPECT_EQ(rig.device.SourceCount(), 0u);
}

TEST(MediaManagers, LibraryItemsPassPositionsAndLevelsThrough) {
  test::MediaRig rig(inData());
  TDMediaItem* item = OggMan->Add(kWave);
  item->SetPosition(-5);
  EXPECT_EQ(item->GetPosition(), 0);
  item->SetVol(-2500);
  item->SetPan(300);
  EXPECT_EQ(item->GetVol(), -2500);
  EXPECT_EQ(item->GetPan(), 300);
  item->SetPosition(700);
  EXPECT_EQ(item->GetPosition(), 700);
  item->SetAutoRepeat(true);
  EXPECT_TRUE(item->GetAutoRepeat());
}

// Sound off, sound on, focus lost and regained, for every kind that has a
// switch: an item asked to play while off starts when sound comes back.
TEST(MediaManagers, TheSwitchAndSuspendResumePlayOnlyWhatTheyShould) {
  for (const bool directSound : {true, false}) {
    SCOPED_TRACE(directSound ? "library sound" : "mixed sound");
    test::MediaRig rig(inData(directSound));
    TDMediaItem* playing = OggMan->Add(kOgg);
    TDMediaItem* idle = OggMan->Add(kWave);
    playing->Play();
    rig.Run(100);
    ASSERT_TRUE(playing->IsPlaying());

    OggMan->SuspendAll();
    EXPECT_FALSE(playing->IsPlaying());
    EXPECT_TRUE(playing->ResumeFlag);
    EXPECT_FALSE(idle->ResumeFlag);
    OggMan->SuspendAll();  // a second one changes nothing
    EXPECT_TRUE(playing->ResumeFlag);
    OggMan->ResumeAll();
    rig.Run(50);
    EXPECT_TRUE(playing->IsPlaying());
    EXPECT_FALSE(idle->IsPlaying()) << "resume plays only what suspend paused";

    OggMan->SetEnabled(false);
    EXPECT_FALSE(playing->IsPlaying());
    idle->Play();
    rig.Run(50);
    EXPECT_FALSE(idle->IsPlaying()) << "with sound off a new sound stays silent";
    OggMan->SetEnabled(true);
    rig.Run(50);
    EXPECT_TRUE(idle->IsPlaying());
    EXPECT_TRUE(playing->IsPlaying());
  }
}

TEST(MediaManagers, AMixedSoundTurnsLevelsIntoVoiceVolumes) {
  test::MediaRig rig(inData(false));
  auto* item = dynamic_cast<TOggWaveItem*>(OggMan->Add(kWave));
  ASSERT_NE(item, nullptr);
  const std::pair<int32_t, int32_t> cases[] = {{0, 256}, {-2500, 128}, {-5000, 0}, {-6000, 0}};
  for (const auto& [level, volume] : cases) {
    item->SetVol(level);
    EXPECT_EQ(item->GetVol(), level);
    EXPECT_EQ(item->Voice()->GetVolume(), volume) << level;
  }
  EXPECT_EQ(item->GetLen(), 2000);
  item->SetPosition(500);
  EXPECT_EQ(item->GetPosition(), 500);
  item->SetVol(0);
  item->SetPosition(0);
  item->Play();
  rig.Run(2600);
  EXPECT_GT(rig.Peak(), 8000);
  EXPECT_TRUE(item->CheckEnd());
}

TEST(MediaManagers, AMissingFileMakesNoItem) {
  test::MediaRig rig(inData());
  EXPECT_THROW(OggMan->Add("audio\\none.ogg"), EVrFileError);
  EXPECT_THROW(WmpMan->Add("audio\\none.wma"), EVrFileError);
  EXPECT_THROW(VideoMan->Add("audio\\none.mpg", true), EVrFileError);
  EXPECT_EQ(OggMan->Count() + WmpMan->Count() + VideoMan->Count(), 0);
}

TEST(MediaManagers, AWindowsMediaItemPlaysAndReportsEachEnd) {
  test::MediaRig rig(inData());
  TWmpItem* item = WmpMan->Add("audio\\tone-1500ms.wma");
  EXPECT_NEAR(item->GetLen(), 1500, 60);
  item->Play();
  rig.Run(1900);
  EXPECT_TRUE(item->CheckEnd());
  EXPECT_FALSE(item->CheckEnd());
  item->SetPosition(1000);
  item->Play();
  rig.Run(900);
  EXPECT_TRUE(item->CheckEnd());
}

TEST(MediaManagers, AVideoItemHandsOutFramesAndReportsItsEndEveryTime) {
  test::MediaRig rig(inData());
  TVideoItem* item = VideoMan->Add("audio\\testsrc-64x48-10fps.wmv", true);
  EXPECT_EQ(item->GetSourceWidth(), 64);
  EXPECT_EQ(item->GetSourceHeight(), 48);
  item->Play();
  for (int i = 0; i < 20 && !item->NeedPaint(); ++i) rig.Run(50);
  ASSERT_TRUE(item->NeedPaint());
  const ZirkVideoFrame* frame = item->GetDC();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width, 64);
  rig.Run(1200);
  // The pictures' last moments after the sound run on real time.
  for (int i = 0; i < 100 && !item->CheckEnd(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rig.Run(10);
  }
  EXPECT_TRUE(item->CheckEnd());
  EXPECT_TRUE(item->CheckEnd()) << "a movie has no end latch";
  SuspendVideoPlayback();
  ResumeVideoPlayback();
}

TEST(MediaManagers, MidiItemsShareThePlayerAndScaleTheirVolume) {
  test::MediaRig rig(inData());
  EXPECT_GE(MidiMan->GetPortCount(), 1);
  EXPECT_EQ(MidiMan->GetPortName(-1), TMidiManager::kMapperName);
  EXPECT_EQ(MidiMan->GetPortName(MidiMan->GetPortCount()), TMidiManager::kMapperName);
  MidiMan->SetPortIndex(99);
  EXPECT_EQ(MidiMan->PortIndex(), MidiMan->GetPortCount() - 1);
  MidiMan->SetPortName("no such port");
  EXPECT_EQ(MidiMan->PortIndex(), 0);
  EXPECT_EQ(MidiMan->GetCurrentPortName(), TMidiManager::kMapperName);

  TMidiItem* a = MidiMan->Add(kMidi);
  TMidiItem* b = MidiMan->Add(kMidi);
  const int32_t length = a->GetLen();
  EXPECT_GT(length, 0) << "the length is known before anything plays";
  EXPECT_EQ(MidiMan->CurrentItem(), nullptr);

  a->SetVol(-5000);
  a->Play();
  EXPECT_EQ(MidiMan->CurrentItem(), a);
  ASSERT_EQ(rig.openedPorts.size(), 1u);
  EXPECT_EQ(rig.openedPorts[0], -1) << "port 0 is the mapper";
  rig.Run(100);
  EXPECT_TRUE(a->IsPlaying());
  EXPECT_FALSE(b->IsPlaying());

  a->Pause();
  EXPECT_FALSE(a->IsPlaying());
  EXPECT_TRUE(a->IsPaused());
  b->Play();
  EXPECT_EQ(MidiMan->CurrentItem(), b);
  EXPECT_EQ(rig.openedPorts.size(), 1u) << "an open device is kept";
  a->SetVol(-20000);
  EXPECT_EQ(a->GetVol(), -10000) << "levels stay within -10000..0";
  a->SetVol(500);
  EXPECT_EQ(a->GetVol(), 0);
  EXPECT_EQ(a->GetPosition(), 0) << "an item that is not current answers 0";

  // The full-screen switch closes the device and opens it again: the
  // piece goes on where it was, on a device reset to General MIDI.
  rig.Run(600);
  const int32_t before = MidiMan->GetPlayer()->CurrentIndex();
  MidiMan->CloseDevice();
  EXPECT_FALSE(b->IsPlaying());
  MidiMan->ReopenDevice();
  EXPECT_TRUE(b->IsPlaying());
  EXPECT_NEAR(MidiMan->GetPlayer()->CurrentIndex(), before, 1) << "not from the start again";
  EXPECT_EQ(rig.openedPorts.size(), 2u);

  MidiMan->SetEnabled(false);
  EXPECT_FALSE(b->IsPlaying());
  b->Play();
  EXPECT_FALSE(b->IsPlaying()) << "with sound off a piece asked to play waits";
  MidiMan->SetEnabled(true);
  EXPECT_TRUE(b->IsPlaying());
  rig.Run(static_cast<uint32_t>(length) + 500);
  EXPECT_TRUE(b->CheckEnd());
  MidiMan->Remove(b);
  EXPECT_EQ(MidiMan->CurrentItem(), nullptr);
}

TEST(MediaManagers, CdItemsPlayTracksOfTheDiscAndStaySilentBeyondIt) {
  test::TempDir dir;
  const auto cue = test::writeCdImage(dir.path(), "disc", {{150}, {75}});
  test::MediaRigOptions options = inData();
  options.CdDrives = {cue.string()};
  test::MediaRig rig(options);

  TCddaItem* beyond = CddaMan->Add("CD_3");
  beyond->Play();
  EXPECT_EQ(CddaMan->CurrentItem(), nullptr) << "a track beyond the disc leaves no current item";
  EXPECT_FALSE(beyond->IsPlaying());
  EXPECT_EQ(beyond->GetLen(), 0);
  EXPECT_EQ(CddaMan->DriveIndex(), 0);

  TCddaItem* bad = CddaMan->Add("CD_x");
  EXPECT_EQ(bad->Track(), -1);
  bad->Play();
  EXPECT_FALSE(bad->IsPlaying());

  TCddaItem* first = CddaMan->Add("CD_1");
  EXPECT_EQ(first->GetLen(), 2000);
  CddaMan->SetEnabled(false);
  first->Play();
  EXPECT_FALSE(first->IsPlaying());
  CddaMan->SetEnabled(true);
  EXPECT_TRUE(first->IsPlaying());
  EXPECT_EQ(CddaMan->CurrentItem(), first);
  first->Pause();
  EXPECT_TRUE(first->IsPaused());
  EXPECT_FALSE(first->IsPlaying());
  CddaMan->Remove(first);
  EXPECT_EQ(CddaMan->CurrentItem(), nullptr);
}

TEST(MediaManagers, TheGamesRegistryKeyChoosesTheCdDrive) {
  test::TempDir dir;
  const auto empty = dir.path() / "no-disc.cue";  // a drive that does not open
  const auto first = test::writeCdImage(dir.path(), "first", {{75}});
  const auto second = test::writeCdImage(dir.path(), "second", {{75}, {75}});
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  ASSERT_TRUE(platform::RegWriteString("Software\\Zirk Demo", "CDDrive", second.string()));
  struct Case {
    std::string registryKey;
    int32_t drive;
  } cases[] = {{"Zirk Demo", 2}, {"", 1}, {"Other Game", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.registryKey);
    TProject project(0, c.registryKey);
    SetCurrentProject(&project);
    test::MediaRigOptions options = inData();
    options.CdDrives = {empty.string(), first.string(), second.string()};
    test::MediaRig rig(options);
    EXPECT_EQ(CddaMan->DriveIndex(), -1) << "no drive is searched before a track is asked for";
    EXPECT_EQ(CddaMan->Add("CD_1")->GetLen(), 1000);
    EXPECT_EQ(CddaMan->DriveIndex(), c.drive) << "the named drive, else the first with a track";
    SetCurrentProject(nullptr);
  }
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace zirk
