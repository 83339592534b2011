// The CD player component on generated CUE/BIN images: disc detection, play
// lists, runs of tracks, repeat, the poll's events, and no drive at all.
#include <gtest/gtest.h>

#include <filesystem>

#include "cd_images.h"
#include "media/Cdp.h"
#include "support/testdata.h"

namespace zirk {
namespace {

using namespace platform;
using test::ToneTrack;

constexpr int kFrames = kCdFramesPerSector;

class CdPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CdBackendAvailable()) GTEST_SKIP() << "built without a CD backend";
    cue_ = test::writeCdImage(dir_.path(), "disc",
                              {{150, 1000}, {225, 2000}, {150, 3000, false, 75}, {75, 0, true}});
    audio_.Open(AudioBackend::Manual);
    cdp_ = std::make_unique<TCDP>(std::vector<std::string>{cue_.string()},
                                  CdAudioOutput{&audio_, &mixer_}, false);
    cdp_->OnSongChange = [this](TCDP& p) { songs_.push_back(p.CurrentTrack()); };
    cdp_->OnCDInsert = [this](TCDP&) { ++inserts_; };
    cdp_->OnCDExit = [this](TCDP&) { ++exits_; };
    cdp_->OnTime = [this](TCDP&) { ++times_; };
    cdp_->OpenDrive(0);
    ASSERT_NE(cdp_->DeviceId(), 0);
  }
  void TearDown() override {
    cdp_.reset();
    ProcessMessages();
  }

  void detectDisc() {
    for (int i = 0; i < 6; ++i) cdp_->Timer();
    ASSERT_TRUE(cdp_->DiscPresent());
  }

  std::vector<int> pull(size_t sectors) {
    return test::levels(test::pullCd(audio_, *cdp_->Device(), sectors * kFrames));
  }

  // Hears the current play to its end and hands the end to the player, as
  // the main loop would; returns the level of every sector heard.
  std::vector<int> playOut() {
    std::vector<int> heard;
    CdAudioDevice& cd = *cdp_->Device();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(cd.ReadDone() && cd.Buffered() == 0) && std::chrono::steady_clock::now() < deadline) {
      for (int level : pull(1))
        if (level) heard.push_back(level);
      cdp_->Timer();
    }
    pull(1);
    EXPECT_EQ(cdp_->Mode(), 0);  // until the end is handled
    ProcessMessages();
    return heard;
  }

  test::TempDir dir_;
  std::filesystem::path cue_;
  AudioDevice audio_;
  MixerDevices mixer_{MixerDevices::Standard()};
  std::unique_ptr<TCDP> cdp_;
  std::vector<int32_t> songs_;
  int inserts_ = 0, exits_ = 0, times_ = 0;
};

TEST_F(CdPlayerTest, FindsTheDiscOnEverySixthTickAndListsItsTracks) {
  for (int i = 0; i < 5; ++i) cdp_->Timer();
  EXPECT_FALSE(cdp_->DiscPresent());
  EXPECT_EQ(inserts_, 0);
  cdp_->Timer();
  EXPECT_TRUE(cdp_->DiscPresent());
  EXPECT_EQ(inserts_, 1);
  EXPECT_EQ(cdp_->PlayList(), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(cdp_->TrackCount(), 4);
  const int32_t lengths[] = {2, 3, 2, 1};
  for (int t = 1; t <= 4; ++t) EXPECT_EQ(cdp_->TrackLength(t), lengths[t - 1]) << t;
  EXPECT_EQ(cdp_->Mode(), 1);
}

TEST_F(CdPlayerTest, OneTrackPlaysToItsEndThenRewindsOrRepeats) {
  detectDisc();
  for (bool repeat : {false, true}) {
    SCOPED_TRACE(repeat ? "repeat" : "once");
    cdp_->PlayList() = {"3"};
    cdp_->SetRepeatPlay(repeat);
    cdp_->PlayIndex(0);
    EXPECT_EQ(cdp_->CurrentTrack(), 3);
    EXPECT_EQ(cdp_->Mode(), 0);
    const auto heard = playOut();
    EXPECT_EQ(heard, std::vector<int>(150, 3000));  // every sector, none of the next pregap
    EXPECT_EQ(cdp_->PlayIndexNow(), 0);
    EXPECT_EQ(cdp_->CurrentTrack(), 3);
    if (repeat) {
      EXPECT_EQ(cdp_->Mode(), 0);
      EXPECT_EQ(pull(10), std::vector<int>(10, 3000));
      EXPECT_EQ(cdp_->Position(), MCI_MAKE_TMSF(3, 0, 0, 10));
    } else {
      EXPECT_EQ(cdp_->Mode(), 1);
      EXPECT_EQ(cdp_->Position(), MCI_MAKE_TMSF(3, 0, 0, 0));
    }
    cdp_->Stop();
  }
}

TEST_F(CdPlayerTest, ARunOfTracksChangesSongAtEachBoundary) {
  detectDisc();
  cdp_->PlayList() = {"1", "2", "3"};
  cdp_->PlayIndex(0);
  std::vector<int> heard;
  for (int i = 0; i < 3; ++i) {
    const auto part = playOut();
    heard.insert(heard.end(), part.begin(), part.end());
  }
  std::vector<int> expected(150, 1000);
  expected.insert(expected.end(), 225, 2000);
  expected.insert(expected.end(), 150, 3000);
  EXPECT_EQ(heard, expected);
  // Then the list rewinds to its first track without playing.
  EXPECT_EQ(songs_, (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(cdp_->PlayIndexNow(), 0);
  EXPECT_EQ(cdp_->Mode(), 1);
}

TEST_F(CdPlayerTest, RemovingTheDiscWhilePlayingClearsThePlayList) {
  detectDisc();
  cdp_->PlayIndex(1);
  pull(5);
  std::filesystem::rename(cue_, dir_ / "away.cue");
  cdp_->Timer();
  EXPECT_EQ(exits_, 1);
  EXPECT_FALSE(cdp_->DiscPresent());
  EXPECT_TRUE(cdp_->PlayList().empty());
  EXPECT_EQ(cdp_->Mode(), 4);
  ProcessMessages();  // the aborted play's notification changes nothing
  EXPECT_EQ(cdp_->Mode(), 4);

  std::filesystem::rename(dir_ / "away.cue", cue_);
  for (int i = 0; i < 6; ++i) cdp_->Timer();
  EXPECT_EQ(inserts_, 2);
  EXPECT_EQ(cdp_->PlayList().size(), 4u);
}

TEST_F(CdPlayerTest, ADataTrackDoesNothing) {
  cdp_->PlayList() = {"4"};
  cdp_->PlayIndex(0);
  EXPECT_EQ(cdp_->Mode(), 1);
  EXPECT_NE(cdp_->LastError(), 0u);
  EXPECT_EQ(cdp_->Device()->Buffered(), 0u);
}

TEST_F(CdPlayerTest, PlaysFromASecondOfATrack) {
  cdp_->PlayTrackAt(2, 1);
  EXPECT_EQ(songs_, std::vector<int32_t>{2});
  EXPECT_EQ(cdp_->PositionSeconds(), 1);
  EXPECT_EQ(pull(75), std::vector<int>(75, 2000));
  EXPECT_EQ(cdp_->PositionSeconds(), 2);
  cdp_->Seek(MCI_MAKE_TMSF(1, 0, 1, 0));
  EXPECT_EQ(cdp_->Mode(), 1);
  EXPECT_EQ(songs_, (std::vector<int32_t>{2, 1}));
  cdp_->PlayFrom(0);  // from where it was sought
  EXPECT_EQ(pull(1), std::vector<int>{1000});
  EXPECT_EQ(cdp_->PositionSeconds(), 1);
}

TEST_F(CdPlayerTest, PollTimeEventsAndIntroPlay) {
  detectDisc();
  cdp_->SetNotifyAt(1);
  cdp_->PlayIndex(1);
  pull(74);
  cdp_->Timer();
  EXPECT_EQ(times_, 0);
  pull(2);
  cdp_->Timer();
  cdp_->Timer();
  EXPECT_EQ(times_, 1);

  // Intro play moves on once more than IntroTime seconds were heard.
  cdp_->SetIntroPlay(true);
  cdp_->SetIntroTime(0);
  cdp_->PlayList() = {"1", "3"};
  cdp_->PlayIndex(0);
  songs_.clear();
  pull(74);
  cdp_->Timer();
  ProcessMessages();
  EXPECT_TRUE(songs_.empty());
  pull(2);
  cdp_->Timer();
  ProcessMessages();
  EXPECT_EQ(songs_, std::vector<int32_t>{3});
  EXPECT_EQ(cdp_->PlayIndexNow(), 1);
}

TEST_F(CdPlayerTest, ShuffleOffRefillsTheListWhenADiscIsIn) {
  cdp_->SetShufflePlay(false);
  EXPECT_TRUE(cdp_->PlayList().empty());  // no disc known yet
  detectDisc();
  cdp_->PlayList() = {"2"};
  cdp_->SetShufflePlay(true);
  EXPECT_TRUE(cdp_->ShufflePlay());
  EXPECT_EQ(cdp_->PlayList(), std::vector<std::string>{"2"});
  cdp_->SetShufflePlay(false);
  EXPECT_EQ(cdp_->PlayList().size(), 4u);
}

TEST(CdPlayer, ItsOwnTickerPollsThroughTheMessageLoop) {
  if (!CdBackendAvailable()) GTEST_SKIP() << "built without a CD backend";
  test::TempDir dir;
  const auto cue = test::writeCdImage(dir.path(), "disc", {{75, 1000}});
  AudioDevice audio;
  audio.Open(AudioBackend::Manual);
  MixerDevices mixer(MixerDevices::Standard());
  TCDP cdp({cue.string()}, {&audio, &mixer}, true);
  int inserts = 0;
  cdp.OnCDInsert = [&inserts](TCDP&) { ++inserts; };
  for (int i = 0; i < 20; ++i) ProcessMessages();
  cdp.OpenDrive(0);
  EXPECT_TRUE(cdp.TimerEnabled());
  // Six ticks of 200 ms find the disc; the bound only guards a stuck test.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!cdp.DiscPresent() && std::chrono::steady_clock::now() < deadline) {
    WaitMessage(std::chrono::milliseconds(100));
    ProcessMessages();
  }
  EXPECT_TRUE(cdp.DiscPresent());
  EXPECT_EQ(inserts, 1);
  cdp.Close();
  EXPECT_FALSE(cdp.TimerEnabled());
  EXPECT_EQ(cdp.DeviceId(), 0);
}

TEST(CdPlayer, WithoutADriveEveryOperationIsAQuietNo) {
  AudioDevice audio;
  audio.Open(AudioBackend::Manual);
  MixerDevices mixer(MixerDevices::Standard());
  TCDP cdp({}, {&audio, &mixer}, false);
  int events = 0;
  cdp.OnCDInsert = cdp.OnCDExit = cdp.OnSongChange = cdp.OnTime = [&events](TCDP&) { ++events; };
  EXPECT_TRUE(cdp.Drives().empty());
  cdp.OpenDrive(0);
  cdp.OpenDrive(-1);
  EXPECT_EQ(cdp.DeviceId(), 0);
  EXPECT_FALSE(cdp.TimerEnabled());
  cdp.PlayList() = {"1"};
  cdp.PlayIndex(0);
  cdp.PlayFrom(MCI_MAKE_TMSF(1, 0, 0, 0));
  cdp.PlayTrackAt(1, 0);
  cdp.Seek(MCI_MAKE_TMSF(2, 0, 0, 0));
  cdp.Stop();
  cdp.SetShufflePlay(true);
  for (int i = 0; i < 12; ++i) cdp.Timer();
  EXPECT_EQ(cdp.Mode(), 4);
  EXPECT_FALSE(cdp.MediaPresent());
  EXPECT_EQ(cdp.TrackCount(), 0);
  EXPECT_EQ(cdp.TrackLength(1), 0);
  EXPECT_EQ(cdp.Position(), 0u);
  EXPECT_EQ(cdp.PositionSeconds(), 0);
  EXPECT_FALSE(cdp.ShufflePlay());
  EXPECT_EQ(cdp.CurrentTrack(), 1);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(audio.SourceCount(), 0u);
}

}  // namespace
}  // namespace zirk
