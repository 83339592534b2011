// The MCI CD stand-in on generated CUE/BIN images: table of contents, digital
// play through a manual sound device, notifications and the end of play.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "cd_images.h"
#include "platform/cdaudio.h"
#include "support/testdata.h"

namespace zirk {
namespace {

using namespace platform;
using namespace std::chrono_literals;
using test::pullCd;
using test::ToneTrack;

// Track 2 is announced by a PREGAP line, track 3 has a stored pregap (INDEX
// 00) that belongs to no track's sound, track 4 is data.
std::vector<ToneTrack> standardDisc() {
  return {{150, 1000}, {225, 2000, false, 0, 75}, {150, 3000, false, 75}, {75, 0, true}};
}

class CdDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!CdBackendAvailable()) GTEST_SKIP() << "built without a CD backend";
    cue_ = test::writeCdImage(dir_.path(), "disc", standardDisc());
    audio_.Open(AudioBackend::Manual);
    uint32_t error = 0;
    cd_ = CdAudioDevice::Open(cue_.string(), {&audio_, &mixer_}, error);
    ASSERT_TRUE(cd_) << "error " << error;
    notifyWnd_ = AllocateHWnd([this](const Message& m) {
      if (m.msg == MM_MCINOTIFY) notified_.push_back(m.wParam);
      return LRESULT{0};
    });
  }
  void TearDown() override {
    cd_.reset();
    if (notifyWnd_) DeallocateHWnd(notifyWnd_);
    ProcessMessages();
  }

  // Plays what is left and lets the device find the ring empty: it stays
  // playing until the message loop hands over the one notification.
  void playToTheEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(cd_->ReadDone() && cd_->Buffered() == 0) &&
           std::chrono::steady_clock::now() < deadline)
      pullCd(audio_, *cd_, kCdFramesPerSector);
    pullCd(audio_, *cd_, kCdFramesPerSector);
    EXPECT_EQ(cd_->Mode(), MCI_MODE_PLAY);
    EXPECT_TRUE(notified_.empty());
    ProcessMessages();
    EXPECT_EQ(notified_, std::vector<WPARAM>{MCI_NOTIFY_SUCCESSFUL});
    EXPECT_EQ(cd_->Mode(), MCI_MODE_STOP);
  }

  test::TempDir dir_;
  std::filesystem::path cue_;
  AudioDevice audio_;
  MixerDevices mixer_{MixerDevices::Standard()};
  std::unique_ptr<CdAudioDevice> cd_;
  HWND notifyWnd_ = 0;
  std::vector<WPARAM> notified_;
};

TEST_F(CdDeviceTest, TableOfContentsEndsEachTrackAtItsTrueLastSector) {
  uint32_t count = 0;
  EXPECT_EQ(cd_->TrackCount(count), 0u);
  EXPECT_EQ(count, 4u);
  struct Row {
    uint32_t track;
    uint32_t msf;
    bool audio;
  };
  // Track 2 stops before track 3's INDEX 00, not before its INDEX 01.
  const Row rows[] = {{1, MCI_MAKE_MSF(0, 2, 0), true},
                      {2, MCI_MAKE_MSF(0, 3, 0), true},
                      {3, MCI_MAKE_MSF(0, 2, 0), true},
                      {4, MCI_MAKE_MSF(0, 1, 0), false}};
  for (const Row& row : rows) {
    uint32_t msf = 0;
    bool audio = !row.audio;
    EXPECT_EQ(cd_->TrackLength(row.track, msf), 0u) << row.track;
    EXPECT_EQ(msf, row.msf) << row.track;
    EXPECT_EQ(cd_->TrackIsAudio(row.track, audio), 0u);
    EXPECT_EQ(audio, row.audio) << row.track;
  }
  uint32_t msf = 0;
  EXPECT_EQ(cd_->TrackLength(5, msf), MCIERR_OUTOFRANGE);
  EXPECT_TRUE(cd_->MediaPresent());
  EXPECT_EQ(cd_->Mode(), MCI_MODE_STOP);
}

TEST_F(CdDeviceTest, PlaysATrackToItsEndAndStaysPlayingUntilTheEndIsHandled) {
  ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(2, 0, 0, 0), MCI_MAKE_TMSF(2, 0, 3, 0), notifyWnd_), 0u);
  EXPECT_EQ(cd_->Mode(), MCI_MODE_PLAY);
  const auto heard = test::levels(pullCd(audio_, *cd_, 225 * kCdFramesPerSector));
  ASSERT_EQ(heard.size(), 225u);
  for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], 2000) << "sector " << i;

  uint32_t position = 0;
  cd_->Position(position);
  EXPECT_EQ(position, MCI_MAKE_TMSF(2, 0, 2, 74));  // the last sector, never track 3

  playToTheEnd();  // nothing more is played: track 3's pregap stays silent
}

TEST_F(CdDeviceTest, PositionCountsTheFramesTheSoundDeviceConsumed) {
  ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(1, 0, 1, 0), 0, 0), 0u);
  uint32_t position = 0;
  cd_->Position(position);
  EXPECT_EQ(position, MCI_MAKE_TMSF(1, 0, 1, 0));
  pullCd(audio_, *cd_, 75 * kCdFramesPerSector + 100);
  cd_->Position(position);
  EXPECT_EQ(position, MCI_MAKE_TMSF(2, 0, 0, 0));
  pullCd(audio_, *cd_, 80 * kCdFramesPerSector);
  cd_->Position(position);
  EXPECT_EQ(position, MCI_MAKE_TMSF(2, 0, 1, 5));
  EXPECT_EQ(cd_->Stop(), 0u);
  cd_->Position(position);
  EXPECT_EQ(position, MCI_MAKE_TMSF(2, 0, 1, 5));  // stopped where it was heard
}

TEST_F(CdDeviceTest, NotificationsOfPlaysCutShort) {
  struct Row {
    const char* name;
    std::function<void(CdAudioDevice&, HWND)> cut;
    WPARAM expected;
  };
  const Row rows[] = {
      {"stop", [](CdAudioDevice& cd, HWND) { cd.Stop(); }, MCI_NOTIFY_ABORTED},
      {"seek", [](CdAudioDevice& cd, HWND) { cd.Seek(MCI_MAKE_TMSF(3, 0, 0, 0)); },
       MCI_NOTIFY_ABORTED},
      {"new play", [](CdAudioDevice& cd, HWND) { cd.Play(MCI_MAKE_TMSF(3, 0, 0, 0), 0, 0); },
       MCI_NOTIFY_SUPERSEDED},
  };
  for (const Row& row : rows) {
    notified_.clear();
    ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(1, 0, 0, 0), 0, notifyWnd_), 0u);
    row.cut(*cd_, notifyWnd_);
    ProcessMessages();
    EXPECT_EQ(notified_, std::vector<WPARAM>{row.expected}) << row.name;
    cd_->Stop();
  }
}

TEST_F(CdDeviceTest, ADataTrackIsNeverPlayed) {
  EXPECT_EQ(cd_->Play(MCI_MAKE_TMSF(4, 0, 0, 0), 0, notifyWnd_), MCIERR_HARDWARE);
  EXPECT_EQ(cd_->Mode(), MCI_MODE_STOP);
  EXPECT_EQ(cd_->Buffered(), 0u);
  ProcessMessages();
  EXPECT_TRUE(notified_.empty());

  // Playing to the end of the disc stops where the data begins.
  ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(3, 0, 1, 0), 0, notifyWnd_), 0u);
  const auto heard = test::levels(pullCd(audio_, *cd_, 76 * kCdFramesPerSector));
  EXPECT_EQ(heard.front(), 3000);
  EXPECT_EQ(heard.back(), 0);
  playToTheEnd();
}

TEST_F(CdDeviceTest, BadPositionsAreRefused) {
  const uint32_t bad[] = {MCI_MAKE_TMSF(9, 0, 0, 0), MCI_MAKE_TMSF(1, 0, 2, 1),
                          MCI_MAKE_TMSF(1, 0, 60, 0), MCI_MAKE_TMSF(1, 0, 0, 75)};
  for (uint32_t position : bad) {
    EXPECT_EQ(cd_->Play(position, 0, 0), MCIERR_OUTOFRANGE) << std::hex << position;
    EXPECT_EQ(cd_->Seek(position), MCIERR_OUTOFRANGE) << std::hex << position;
  }
  // "to" before "from"
  EXPECT_EQ(cd_->Play(MCI_MAKE_TMSF(2, 0, 0, 0), MCI_MAKE_TMSF(1, 0, 0, 0), 0), MCIERR_OUTOFRANGE);
  EXPECT_EQ(cd_->Mode(), MCI_MODE_STOP);
}

TEST_F(CdDeviceTest, AReadErrorEndsPlayAsItsEndWould) {
  // Losing the image's data behind the reader's back: 100 sectors stay. Cut
  // before play starts, so a busy machine cannot let the reader pass sector
  // 100 before the cut.
  std::filesystem::resize_file(dir_ / "disc.bin", 100 * kCdSectorBytes);
  ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(1, 0, 0, 0), MCI_MAKE_TMSF(1, 0, 2, 0), notifyWnd_), 0u);
  playToTheEnd();
  uint32_t position = 0;
  cd_->Position(position);
  EXPECT_LE(MCI_TMSF_SECOND(position) * 75 + MCI_TMSF_FRAME(position), 100u);
}

TEST_F(CdDeviceTest, RemovingTheImageStopsPlayAndPuttingItBackReadsItAgain) {
  ASSERT_EQ(cd_->Play(MCI_MAKE_TMSF(1, 0, 0, 0), 0, notifyWnd_), 0u);
  pullCd(audio_, *cd_, kCdFramesPerSector);
  std::filesystem::rename(cue_, dir_ / "away.cue");
  EXPECT_FALSE(cd_->MediaPresent());
  EXPECT_EQ(cd_->Mode(), MCI_MODE_NOT_READY);
  uint32_t count = 9;
  EXPECT_EQ(cd_->TrackCount(count), MCIERR_DEVICE_NOT_READY);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(cd_->Play(MCI_MAKE_TMSF(1, 0, 0, 0), 0, 0), MCIERR_DEVICE_NOT_READY);
  ProcessMessages();
  EXPECT_EQ(notified_, std::vector<WPARAM>{MCI_NOTIFY_ABORTED});

  // A different disc goes in.
  test::writeCdImage(dir_.path(), "disc", {{75, 500}, {75, 600}});
  EXPECT_TRUE(cd_->MediaPresent());
  EXPECT_EQ(cd_->TrackCount(count), 0u);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(cd_->Mode(), MCI_MODE_STOP);
}

// Opens each FIFO's write end once an open has had 3 s, so that one waiting
// on a FIFO ends; `released` says whether one had to.
struct FifoRelease {
  std::vector<std::filesystem::path> fifos;
  std::atomic<bool> released{false};
  std::jthread thread{[this](const std::stop_token& stop) {
    for (int ms = 0; !stop.stop_requested(); ms += 10, std::this_thread::sleep_for(10ms))
      for (const auto& fifo : fifos)
        if (const int fd = ms < 3000 ? -1 : ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
          released = true;
          ::close(fd);
        }
  }};
};

TEST(CdDevice, UnknownElementsDoNotOpen) {
  test::TempDir dir;
  test::writeFile(dir / "broken.cue", "this is not a cue sheet\n");
  // More tracks than a disc holds, on lines of their own or each glued to a
  // REM line as long as libcdio's reader's piece, which starts a line there.
  const auto crowded = [&dir](const std::string& name, int tracks, const std::string& before) {
    std::string sheet = "FILE \"" + name + ".bin\" BINARY\n";
    for (int i = 0; i < tracks; ++i) sheet += before + "TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    test::writeFile(dir / (name + ".cue"), sheet);
    test::writeFile(dir / (name + ".bin"), std::string(4 * 2352, '\0'));
    return (dir / (name + ".cue")).string();
  };
  const std::string longRem = "REM " + std::string(4091, 'x');
  // A sheet, the image beside it or its CD-TEXT file that nobody writes.
  const std::string beside = crowded("beside", 1, ""), text = crowded("text", 1, "CDTEXTFILE t\n");
  std::filesystem::remove(dir / "beside.bin");
  for (const char* fifo : {"pipe.cue", "beside.bin", "t"})
    ASSERT_EQ(::mkfifo((dir / fifo).c_str(), 0600), 0);
  FifoRelease release{{dir / "beside.bin", dir / "t"}};
  for (const auto& element :
       {(dir / "missing.cue").string(), (dir / "broken.cue").string(),
        (dir / "no-such-drive").string(), crowded("crowded", 140, "  "),
        crowded("glued", 120, longRem), (dir / "pipe.cue").string(), beside, text}) {
    uint32_t error = 0;
    EXPECT_FALSE(CdAudioDevice::Open(element, {}, error)) << element;
    EXPECT_NE(error, 0u) << element;
  }
  release.thread.request_stop();
  release.thread.join();
  EXPECT_FALSE(release.released);
  uint32_t error = 0;
  if (CdBackendAvailable())
    EXPECT_TRUE(CdAudioDevice::Open(crowded("full", 99, longRem), {}, error)) << error;
  else
    EXPECT_TRUE(CdDriveList().empty());
}

}  // namespace
}  // namespace zirk
