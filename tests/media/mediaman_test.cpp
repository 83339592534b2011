// The media managers over the real media library on a manual sound device.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "cd_images.h"
#include "media/AMixer.h"
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

TEST(MediaManagers, MediaInitMakesManagersThatRefuseMissingFilesAndMediaFinalFreesThem) {
  test::TempDir dir;
  test::writeFile(dir.path() / "huge.wma", "");
  std::filesystem::resize_file(dir.path() / "huge.wma", TWmpItem::kMaxFileBytes + 1);  // sparse
  {
    test::MediaRig rig({.GameFolder = dir.path()});
    ASSERT_TRUE(VideoMan && WmpMan && OggMan && CddaMan && MidiMan);
    EXPECT_THROW(OggMan->Add("audio\\none.ogg"), EVrFileError);
    EXPECT_THROW(WmpMan->Add("audio\\none.wma"), EVrFileError);
    EXPECT_THROW(WmpMan->Add("HUGE.wma"), EVrFileTooLarge);  // refused before it is read
    EXPECT_THROW(VideoMan->Add("audio\\none.mpg", true), EVrFileError);
    EXPECT_EQ(OggMan->Count() + WmpMan->Count() + VideoMan->Count(), 0);
  }
  EXPECT_TRUE(!VideoMan && !WmpMan && !OggMan && !CddaMan && !MidiMan && !SharedDirectSound);
}

TEST(MediaManagers, LibraryItemsReportTheirEndOnceAndAgainAfterARewindOrRestart) {
  test::MediaRig rig;
  const struct {
    std::function<TDMediaItem*()> add;
    int32_t length;
  } cases[] = {{[] { return OggMan->Add(kOgg); }, 2000},
               {[] { return WmpMan->Add("audio\\tone-1500ms.wma"); }, 1500}};
  for (const auto& c : cases) {
    TDMediaItem* item = c.add();
    EXPECT_NEAR(item->GetLen(), c.length, 60);
    item->SetPosition(-5);
    EXPECT_EQ(item->GetPosition(), 0);
    // Played, rewound and played, ended and played again: each end is told once.
    for (const int pass : {0, 1, 2}) {
      SCOPED_TRACE(pass);
      if (pass == 1) item->SetPosition(0);
      item->Play();
      rig.Run(static_cast<uint32_t>(c.length) + 300);
      EXPECT_TRUE(item->CheckEnd());
      EXPECT_FALSE(item->CheckEnd());
      EXPECT_FALSE(item->IsPlaying());
    }
    EXPECT_EQ(SharedDirectSound, static_cast<void*>(&rig.device));
    item->Manager().Remove(item);
  }
  EXPECT_EQ(rig.device.SourceCount(), 0u);
}

// Sound off, sound on, focus lost and regained: an item asked to play while
// off starts when sound comes back.
TEST(MediaManagers, TheSwitchAndSuspendResumePlayOnlyWhatTheyShould) {
  for (const bool directSound : {true, false}) {
    SCOPED_TRACE(directSound ? "library sound" : "mixed sound");
    test::MediaRig rig({.UseDirectSound = directSound});
    TDMediaItem* playing = OggMan->Add(kOgg);
    TDMediaItem* idle = OggMan->Add(kWave);
    playing->Play();
    rig.Run(100);
    ASSERT_TRUE(playing->IsPlaying());

    OggMan->SuspendAll();
    EXPECT_FALSE(playing->IsPlaying());
    OggMan->SuspendAll();  // a second one must not forget what the first paused
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
    EXPECT_TRUE(idle->IsPlaying() && playing->IsPlaying());
  }
}

TEST(MediaManagers, ASoundPausedWhileSoundIsOffStaysPausedWhenItComesBack) {
  test::TempDir dir;
  test::MediaRig rig({.CdDrives = {test::writeCdImage(dir.path(), "disc", {{150}}).string()}});
  const std::vector<TDMediaItem*> items = {OggMan->Add(kOgg), WmpMan->Add("audio\\tone-1500ms.wma"),
                                           CddaMan->Add("CD_1"), MidiMan->Add(kMidi)};
  for (TDMediaItem* item : items) {
    item->Play();
    rig.Run(100);
    ASSERT_TRUE(item->IsPlaying());
    item->Manager().SetEnabled(false);
    item->Pause();
    item->Manager().SetEnabled(true);
    rig.Run(50);
    EXPECT_FALSE(item->IsPlaying()) << item->GetLen();
  }
}

TEST(MediaManagers, AMixedSoundTurnsLevelsIntoVoiceVolumesAndIsHeard) {
  test::MediaRig rig({.UseDirectSound = false});
  auto* item = dynamic_cast<TOggWaveItem*>(OggMan->Add(kWave));
  ASSERT_NE(item, nullptr);
  const std::pair<int32_t, int32_t> cases[] = {{-6000, 0}, {-5000, 0}, {-2500, 128}, {0, 256}};
  for (const auto& [level, volume] : cases) {
    item->SetVol(level);
    EXPECT_EQ(item->Voice()->GetVolume(), volume) << level;
  }
  EXPECT_EQ(item->GetLen(), 2000);
  item->SetPosition(500);
  EXPECT_EQ(item->GetPosition(), 500);
  item->Play();
  rig.Run(2600);
  EXPECT_GT(rig.Peak(), 8000);
  EXPECT_TRUE(item->CheckEnd());
}

TEST(MediaManagers, MidiItemsShareThePlayerAndClampTheirVolume) {
  test::MediaRig rig;
  // Port 0 is the mapper, and so is every name out of range.
  EXPECT_EQ(MidiMan->GetPortName(-1), TMidiManager::kMapperName);
  EXPECT_EQ(MidiMan->GetPortName(MidiMan->GetPortCount()), TMidiManager::kMapperName);
  MidiMan->SetPortIndex(99);
  EXPECT_EQ(MidiMan->PortIndex(), MidiMan->GetPortCount() - 1);
  MidiMan->SetPortName("no such port");
  EXPECT_EQ(MidiMan->GetCurrentPortName(), TMidiManager::kMapperName);

  TMidiItem* a = MidiMan->Add(kMidi);
  TMidiItem* b = MidiMan->Add(kMidi);
  const int32_t length = a->GetLen();
  EXPECT_GT(length, 0) << "the length is known before anything plays";
  a->Play();
  EXPECT_EQ(rig.openedPorts, std::vector<int32_t>{-1}) << "the mapper's device";
  rig.Run(100);
  EXPECT_TRUE(a->IsPlaying());
  EXPECT_FALSE(b->IsPlaying());

  a->Pause();
  EXPECT_TRUE(a->IsPaused());
  b->Play();
  EXPECT_EQ(MidiMan->CurrentItem(), b);
  EXPECT_EQ(rig.openedPorts.size(), 1u) << "an open device is kept";
  const std::pair<int32_t, int32_t> levels[] = {{-20000, -10000}, {500, 0}};
  for (const auto& [level, kept] : levels) {
    a->SetVol(level);
    EXPECT_EQ(a->GetVol(), kept) << level;
  }
  EXPECT_EQ(a->GetPosition(), 0) << "an item that is not current answers 0";

  // The full-screen switch closes the device and opens it again: the
  // piece goes on where it was.
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
  EXPECT_FALSE(b->IsPlaying()) << "a piece that ended does not play";
  MidiMan->Remove(b);
  EXPECT_EQ(MidiMan->CurrentItem(), nullptr);
}

TEST(MediaManagers, EachMidiPieceLoopsByItsOwnFlagAndLoadsOnAResetDevice) {
  test::MediaRig rig;
  TMidiItem* a = MidiMan->Add(kMidi);
  TMidiItem* b = MidiMan->Add(kMidi);
  a->Play();
  a->SetAutoRepeat(true);
  a->Pause();
  a->Play();  // resumed: it keeps what it set up
  b->Play();
  const auto log = rig.midiLog->Records();
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const auto& r) { return r.kind == platform::MidiRecord::Kind::Long; }),
            2);
  EXPECT_FALSE(MidiMan->GetPlayer()->GetRepeat() || b->GetAutoRepeat()) << "a's loop stays a's";
}

// A film's sound track asks on every tick. A length read from its source is
// kept, even 0; a source that could not be read is tried again, once a second.
TEST(MediaManagers, AnItemsLengthIsLearntOnce) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const fs::path scale = test::dataPath("midi/jazz-soft/test-c-major-scale.mid");
  fs::copy_file(test::dataPath("midi/jazz-soft/test-empty.mid"), dir / "0ms.mid");
  test::MediaRig rig({.CdDrives = {test::writeCdImage(dir.path(), "disc", {{150}, {30}}).string()},
                      .GameFolder = dir.path()});
  TDMediaItem* items[] = {MidiMan->Add("0ms.mid"), CddaMan->Add("CD_2"), MidiMan->Add("later.mid"),
                          CddaMan->Add("CD_3")};
  for (TDMediaItem* item : items) EXPECT_EQ(item->GetLen(), 0);
  // Every source now holds more: a 0 that was read stands, the others are
  // read again once a second has passed since they were tried.
  fs::copy_file(scale, dir / "0ms.mid", fs::copy_options::overwrite_existing);
  fs::copy_file(scale, dir / "later.mid");
  CddaMan->Player().Close();
  test::writeCdImage(dir.path(), "disc", {{150}, {150}, {150}});
  const int32_t scaleMs = MidiMan->Add("0ms.mid")->GetLen();
  ASSERT_GT(scaleMs, 0);
  const struct {
    uint32_t later;
    int32_t lengths[4];
  } steps[] = {{999, {0, 0, 0, 0}}, {1, {0, 0, scaleMs, 2000}}};
  for (const auto& step : steps) {
    rig.clock.Advance(step.later);
    for (size_t i = 0; i < std::size(items); ++i)
      EXPECT_EQ(items[i]->GetLen(), step.lengths[i]) << i << " after " << step.later;
  }
}

// The CD line's volume scales with the item's level, from what the user set.
TEST(MediaManagers, ACdItemsLevelScalesTheUsersCdLine) {
  test::TempDir dir;
  platform::MixerDevices devices(platform::MixerDevices::Standard());
  TAudioMixer user(&devices);
  const auto line = [&] {
    return devices.Gain(platform::MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC).left;
  };
  user.SetVolume(0, 0, 40000, 40000, 0);
  test::MediaRig rig(
      {.CdDrives = {test::writeCdImage(dir.path(), "disc", {{150}}).string()}, .Mixer = &devices});
  TCddaItem* item = CddaMan->Add("CD_1");
  item->Play();
  item->SetVol(-2500);
  EXPECT_EQ(line(), 20000u);
  CddaMan->RestoreMixerVolume();
  EXPECT_EQ(line(), 40000u);
  user.SetVolume(0, 0, 30000, 30000, 0);
  CddaMan->SaveMixerVolume();
  item->SetVol(-1000);
  EXPECT_EQ(line(), 24000u);
}

TEST(MediaManagers, CdItemsPlayTracksOfTheDiscAndStaySilentBeyondIt) {
  test::TempDir dir;
  test::MediaRig rig(
      {.CdDrives = {test::writeCdImage(dir.path(), "disc", {{150}, {75}}).string()}});

  for (const char* silent : {"CD_3", "CD_x"}) {
    TCddaItem* item = CddaMan->Add(silent);
    item->Play();
    EXPECT_FALSE(item->IsPlaying()) << silent;
    EXPECT_EQ(item->GetLen(), 0) << silent;
    EXPECT_EQ(CddaMan->CurrentItem(), nullptr) << silent;
  }
  EXPECT_EQ(CddaMan->DriveIndex(), 0);

  TCddaItem* first = CddaMan->Add("CD_1");
  EXPECT_EQ(first->GetLen(), 2000);
  CddaMan->SetEnabled(false);
  first->Play();
  EXPECT_FALSE(first->IsPlaying());
  CddaMan->SetEnabled(true);
  EXPECT_TRUE(first->IsPlaying());
  first->Pause();
  EXPECT_TRUE(first->IsPaused());
  EXPECT_FALSE(first->CheckEnd()) << "pausing stops the drive, but the track has not ended";
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
  const std::pair<std::string, int32_t> cases[] = {{"Zirk Demo", 2}, {"", 1}, {"Other Game", 1}};
  for (const auto& [registryKey, drive] : cases) {
    SCOPED_TRACE(registryKey);
    TProject project(0, registryKey);
    SetCurrentProject(&project);
    test::MediaRig rig({.CdDrives = {empty.string(), first.string(), second.string()}});
    EXPECT_EQ(CddaMan->DriveIndex(), -1) << "no drive is searched before a track is asked for";
    EXPECT_EQ(CddaMan->Add("CD_1")->GetLen(), 1000);
    EXPECT_EQ(CddaMan->DriveIndex(), drive) << "the named drive, else the first with a track";
    SetCurrentProject(nullptr);
  }
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace zirk
