// The MIDI player on a recording port under a manual clock, ticked by hand;
// one run of the real timer thread; FluidSynth rendering on a manual device.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include "media/MidiPlayV.h"
#include "midi_support.h"
#include "platform/clock.h"
#include "support/testdata.h"

namespace zirk {
namespace {

using platform::MidiRecord;
using test::SmfBuilder;

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

// A port opener that records into `log`.
TMidiPortOpener recorder(std::shared_ptr<platform::MidiRecording> log, int32_t* opened = nullptr) {
  return [log, opened](std::unique_ptr<platform::MidiOutPort>& port, int32_t index) {
    if (opened != nullptr) *opened = index;
    port = std::make_unique<platform::RecordingMidiPort>(log);
    return platform::MMSYSERR_NOERROR;
  };
}

std::string allNotesOffAt(uint32_t time) {
  std::string s;
  for (int ch = 0; ch < 16; ++ch) {
    char item[32];
    std::snprintf(item, sizeof item, "%u B%X7B00\n", time, ch);
    s += item;
  }
  return s;
}

class MidiPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClock(&clock_);
    log_ = std::make_shared<platform::MidiRecording>();
    player_ = std::make_unique<TMidiPlayV>(false);
    player_->SetPortOpener(recorder(log_, &openedIndex_));
  }
  void TearDown() override {
    player_.reset();
    platform::SetClock(nullptr);
  }

  void load(const std::vector<uint8_t>& bytes) {
    TKwMemoryStream stream(bytes);
    player_->LoadFromStream(stream);
  }

  // Steps the clock by 10 ms and ticks, `count` times.
  void run(int count) {
    for (int i = 0; i < count; ++i) {
      clock_.Advance(10);
      player_->Timer().Tick();
    }
  }

  // "TIME HEX" per message since the last call, resets "reset".
  std::string sent() {
    std::string s;
    for (const MidiRecord& r : log_->Records()) {
      s += std::to_string(r.time) + " " +
           (r.kind == MidiRecord::Kind::Reset ? std::string("reset") : hex(r.bytes)) + "\n";
    }
    log_->Clear();
    return s;
  }

  // A note every quarter (500 ms at division 96), with a program change and
  // a volume controller before the first one.
  static std::vector<uint8_t> scale() {
    return SmfBuilder(0, 96)
        .Track()
        .Event(0, {0xC0, 5})
        .Event(0, {0xB0, 7, 100})
        .Event(0, {0x90, 60, 100})
        .Event(96, {0x80, 60, 0})
        .Event(0, {0x90, 62, 100})
        .Event(96, {0x80, 62, 0})
        .Event(0, {0xB0, 10, 20})
        .Event(0, {0x90, 64, 100})
        .Event(96, {0x80, 64, 0})
        .EndOfTrack()
        .Bytes();
  }

  platform::ManualClock clock_{1000};
  std::shared_ptr<platform::MidiRecording> log_;
  std::unique_ptr<TMidiPlayV> player_;
  int32_t openedIndex_ = 99;
};

TEST_F(MidiPlayerTest, EventsGoOutOnTheTickAfterTheirTime) {
  load(scale());
  ASSERT_TRUE(player_->OpenDevice(-5));
  EXPECT_EQ(openedIndex_, platform::MIDI_MAPPER);
  player_->Seek(0, 0, -1);
  const struct {
    int ticks;
    const char* sent;
    bool end;
  } steps[] = {
      {1, "1010 C005\n1010 B00764\n1010 903C64\n", false},
      {49, "", false},  // the note-off at 500 ms is not before 500
      {1, "1510 803C00\n1510 903E64\n", false},
      {50, "2010 803E00\n2010 B00A14\n2010 904064\n", false},
      {49, "", false},
      // The note-off reaches the last event but one: the sequence is at its end.
      {1, "2510 804000\n", true},
      {100, "", true},
  };
  for (const auto& step : steps) {
    EXPECT_TRUE(player_->IsPlaying());
    run(step.ticks);
    EXPECT_EQ(sent(), step.sent);
    EXPECT_EQ(player_->IsEnd(), step.end);
  }
  EXPECT_TRUE(player_->IsPlaying());
  player_->Stop();
  EXPECT_FALSE(player_->IsPlaying());
  EXPECT_EQ(sent(), allNotesOffAt(3510));
}

TEST_F(MidiPlayerTest, AStalledTimerCatchesUpAtMostASecondPerTick) {
  load(scale());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(1);
  sent();
  clock_.Advance(5000);
  player_->Timer().Tick();
  EXPECT_EQ(player_->GetPosition(), 1010);
  EXPECT_EQ(sent(), "6010 803C00\n6010 903E64\n6010 803E00\n6010 B00A14\n6010 904064\n");
  // Positions move in steps of the ticks.
  run(3);
  EXPECT_EQ(player_->GetPosition(), 1040);
}

TEST_F(MidiPlayerTest, RepeatSilencesAndStartsOverAtTheFirstEvent) {
  load(scale());
  player_->OpenDevice(0);
  player_->SetRepeat(true);
  player_->Seek(0, 0, -1);
  run(150);  // up to 1500 ms: everything before the last note-off
  sent();
  EXPECT_FALSE(player_->IsEnd());
  run(1);
  EXPECT_EQ(sent(), "2510 804000\n" + allNotesOffAt(2510));
  EXPECT_EQ(player_->CurrentIndex(), 0);
  EXPECT_EQ(player_->GetPosition(), 0);
  EXPECT_TRUE(player_->IsPlaying());
  run(1);
  EXPECT_EQ(sent(), "2520 C005\n2520 B00764\n2520 903C64\n");
}

TEST_F(MidiPlayerTest, ALastChannelEventIsStillSent) {
  // Format 1: a note-off sorts after the other track's end at the same tick.
  load(SmfBuilder(1, 96)
           .Track()
           .Event(0, {0x90, 60, 100})
           .EndOfTrack(96)
           .Track()
           .Event(96, {0x80, 60, 0})
           .Bytes());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(51);
  EXPECT_EQ(sent(), "1010 903C64\n1510 803C00\n");
  EXPECT_TRUE(player_->IsEnd());
  run(10);
  EXPECT_EQ(sent(), "");
}

TEST_F(MidiPlayerTest, SeekReplaysEverythingButNotes) {
  load(scale());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(120);  // 1200 ms: past the controller 10 at 1000 ms
  sent();
  // Back to 600 ms: the event before that time is the note-on at 500 ms.
  player_->Seek(0, 600, -1);
  EXPECT_EQ(sent(), allNotesOffAt(2200) + "2200 C005\n2200 B00764\n");
  EXPECT_EQ(player_->CurrentIndex(), 4);
  EXPECT_EQ(player_->GetPosition(), 500);
  run(1);
  EXPECT_EQ(sent(), "2210 903E64\n");
  // Forward by tick to the first event at tick 288.
  player_->Seek(288, 0, -1);
  EXPECT_EQ(sent(), allNotesOffAt(2210) + "2210 B00A14\n");
  EXPECT_EQ(player_->CurrentIndex(), 8);
  // Bar 0, beat 2 (beats of 48 ticks): tick 96, the index of its first event.
  player_->Seek(0, 0, 2);
  EXPECT_EQ(player_->CurrentIndex(), 3);
  EXPECT_EQ(sent(), allNotesOffAt(2210) + "2210 C005\n2210 B00764\n");
  // The same place again changes nothing.
  player_->Seek(96, 0, -1);
  EXPECT_EQ(sent(), "");
}

TEST_F(MidiPlayerTest, AReopenedDeviceGetsProgramsAndControllersAgain) {
  load(scale());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(50);
  player_->CloseDevice();
  player_->OpenDevice(0);
  sent();
  player_->Seek(0, 500, -1);
  EXPECT_EQ(sent(), allNotesOffAt(1500) + "1500 C005\n1500 B00764\n");
}

TEST_F(MidiPlayerTest, OneTimerStepSendsABoundedNumberOfMessages) {
  constexpr size_t kBound = TMidiPlayV::kMaxMessagesPerTick;
  // A General MIDI set-up (texts and messages) at once; 10 ms on, a burst denser than music.
  SmfBuilder file(0, 96);
  for (int i = 0; i < 150; ++i) file.Track().Event(0, {0xFF, 1, 1, 'x'}).Event(0, {0x90, 60, 100});
  for (size_t i = 0; i < kBound + 100; ++i) file.Track().Event(2, {0x90, 60, 100});
  load(file.Bytes());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(1);
  EXPECT_EQ(log_->Records().size(), 150u);
  run(1);
  EXPECT_EQ(log_->Records().size(), 150 + kBound);
  run(7);
  EXPECT_EQ(log_->Records().size(), 250 + kBound) << "the rest on the next steps";
}

TEST_F(MidiPlayerTest, ControllerScaleIsAppliedAndClamped) {
  load(scale());
  player_->OpenDevice(0);
  // Not playing: the scale is stored only.
  player_->SetControllerScale(7, 50);
  EXPECT_EQ(sent(), "");
  player_->Seek(0, 0, -1);
  run(1);
  EXPECT_EQ(sent(), "1010 C005\n1010 B00732\n1010 903C64\n");
  // Playing: every channel gets its scaled value at once (127 on the
  // channels the sequence never set).
  player_->SetControllerScale(7, 120);
  const std::string all = sent();
  EXPECT_NE(all.find("1010 B00778\n"), std::string::npos);
  EXPECT_NE(all.find("1010 BF077F\n"), std::string::npos);
  player_->SetControllerScale(7, -20);
  EXPECT_NE(sent().find("1010 B00700\n"), std::string::npos);
  player_->SetControllerScale(200, 50);  // no such controller
  EXPECT_EQ(sent(), "");
}

TEST_F(MidiPlayerTest, DeviceOpenResetAndClose) {
  load(scale());
  // Nothing is sent while no device is open, but the timing runs.
  player_->Seek(0, 0, -1);
  run(60);
  EXPECT_EQ(player_->CurrentIndex(), 5);
  EXPECT_EQ(sent(), "");
  ASSERT_TRUE(player_->OpenDevice(0));
  player_->SendGMReset();
  EXPECT_EQ(sent(), "1600 F07E7F0901F7\n");
  player_->CloseDevice();
  EXPECT_FALSE(player_->DeviceOpen());
  EXPECT_FALSE(player_->IsPlaying());
  EXPECT_EQ(sent(), allNotesOffAt(1600) + "1600 reset\n");
  // A device that cannot be opened: false and a reason.
  player_->SetPortOpener([](std::unique_ptr<platform::MidiOutPort>&, int32_t) {
    return platform::MMSYSERR_BADDEVICEID;
  });
  EXPECT_FALSE(player_->OpenDevice(3));
  EXPECT_FALSE(player_->LastError().empty());
  EXPECT_FALSE(player_->DeviceOpen());
}

TEST_F(MidiPlayerTest, LoadingRewindsAndResetsTheVolume) {
  load(scale());
  player_->OpenDevice(0);
  player_->Seek(0, 0, -1);
  run(120);
  sent();
  load(SmfBuilder(0, 96).Track().Event(0, {0xC0, 9}).EndOfTrack(96).Bytes());
  EXPECT_FALSE(player_->IsPlaying());
  EXPECT_EQ(sent(), allNotesOffAt(2200));
  EXPECT_EQ(player_->CurrentIndex(), 0);
  EXPECT_EQ(player_->CurrentEvent(), &player_->Events().front());
  EXPECT_EQ(player_->GetPosition(), 0);
  player_->Seek(0, 0, -1);
  run(1);
  EXPECT_EQ(sent(), "2210 C009\n");
  // Controller 7 counts from 127 after a load.
  player_->SetControllerScale(7, 50);
  EXPECT_NE(sent().find("2210 B0073F\n"), std::string::npos);
}

TEST_F(MidiPlayerTest, TempoEventsSetTheBeatsPerMinute) {
  load(SmfBuilder(0, 96).Track().Tempo(0, 400000).Event(96, {0xC0, 1}).EndOfTrack().Bytes());
  player_->OpenDevice(0);
  EXPECT_EQ(player_->Tempo(), 120);
  player_->Seek(0, 0, -1);
  run(1);
  EXPECT_EQ(player_->Tempo(), 150);
  run(40);
  EXPECT_EQ(sent(), "1410 C001\n");  // 96 ticks at 400000 us: 400 ms
}

TEST(MidiPlayer, TheTimerThreadPlaysToTheEnd) {
  auto log = std::make_shared<platform::MidiRecording>();
  TMidiPlayV player;
  player.SetPortOpener(recorder(log));
  // Division 960: 24 ticks are 12.5 ms.
  TKwMemoryStream stream(SmfBuilder(0, 960)
                             .Track()
                             .Event(0, {0x90, 60, 100})
                             .Event(48, {0x80, 60, 0})
                             .Event(0, {0xC0, 3})
                             .EndOfTrack(48)
                             .Bytes());
  player.LoadFromStream(stream);
  ASSERT_TRUE(player.OpenDevice(0));
  player.Seek(0, 0, -1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!(player.IsEnd() && player.GetPosition() > 50) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(player.IsEnd());
  player.Stop();
  const auto records = log->Records();
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(hex(records[0].bytes) + hex(records[1].bytes) + hex(records[2].bytes),
            "903C64803C00C003");
  EXPECT_LE(records[0].time, records[1].time);
}

TEST(MidiPlayer, TheDeviceListStartsWithTheSynthesizer) {
  TMidiPlayV player(false);
  ASSERT_GE(player.Devices().size(), 1u);
  const TMidiDevice& synth = player.Devices()[0];
  EXPECT_FALSE(synth.Name.empty());
  EXPECT_LE(synth.Name.size(), 32u);
  EXPECT_EQ(synth.Technology, platform::MOD_SWSYNTH);
  EXPECT_EQ(synth.DriverVersion.size(), 5u);
  EXPECT_EQ(synth.DriverVersion[2], '.');
  EXPECT_EQ(synth.ChannelMask, 0xFFFF);
}

TEST(MidiPlayer, WithoutASoundfontTheSynthesizerDoesNotOpen) {
  const char* before = std::getenv("ZIRK_SOUNDFONT");
  const std::string saved = before != nullptr ? before : "";
  struct Restore {
    const char* before;
    const std::string& saved;
    ~Restore() { before ? setenv("ZIRK_SOUNDFONT", saved.c_str(), 1) : unsetenv("ZIRK_SOUNDFONT"); }
  } restore{before, saved};
  test::TempDir dir;
  test::writeFile(dir / "damaged.sf2", "RIFX");
  const std::string damaged = (dir / "damaged.sf2").string();
  // Each named once, however often a piece tries the synthesizer.
  for (auto [file, why] :
       {std::pair<std::string, std::string>{"/no/such/soundfont.sf2", "No such file or directory"},
        {damaged, "not a SoundFont file"}}) {
    setenv("ZIRK_SOUNDFONT", file.c_str(), 1);
    platform::AudioDevice device;
    device.Open(platform::AudioBackend::Manual);
    TMidiPlayV player(false);
    player.SetAudioOutput(&device);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(player.OpenDevice(platform::MIDI_MAPPER));
    EXPECT_FALSE(player.OpenDevice(platform::MIDI_MAPPER));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zirkplayer: no MIDI sound: " + file + ": " + why + "\n");
    EXPECT_NE(player.LastError().find("soundfont"), std::string::npos);
    EXPECT_EQ(device.SourceCount(), 0u);
  }
}

TEST(MidiPlayer, FluidSynthRendersTheSequenceIntoTheSoundDevice) {
  if (platform::DefaultSoundFont().empty()) GTEST_SKIP() << "no General MIDI soundfont";
  platform::ManualClock clock(0);
  platform::SetClock(&clock);
  {
    platform::AudioDevice device;
    ASSERT_EQ(device.Open(platform::AudioBackend::Manual), platform::AudioBackend::Manual);
    TMidiPlayV player(false);
    player.SetAudioOutput(&device);
    TKwMemoryStream stream;
    stream.LoadFromFile(test::dataPath("midi/jazz-soft/test-c-major-scale.mid").string());
    player.LoadFromStream(stream);
    ASSERT_TRUE(player.OpenDevice(platform::MIDI_MAPPER)) << player.LastError();
    EXPECT_EQ(device.SourceCount(), 1u);
    player.Seek(0, 0, -1);
    std::vector<int16_t> buffer(441 * 2);
    double energy = 0;
    double silentEnergy = 0;
    for (int step = 0; step < 150; ++step) {  // 1.5 s
      clock.Advance(10);
      player.Timer().Tick();
      device.Render(buffer.data(), 441);
      for (int16_t s : buffer) energy += static_cast<double>(s) * s;
    }
    player.CloseDevice();
    EXPECT_EQ(device.SourceCount(), 0u);
    device.Render(buffer.data(), 441);
    for (int16_t s : buffer) silentEnergy += static_cast<double>(s) * s;
    const double rms = std::sqrt(energy / (150.0 * 882));
    EXPECT_GT(rms, 100.0);
    EXPECT_EQ(silentEnergy, 0.0);
  }
  platform::SetClock(nullptr);
}

}  // namespace
}  // namespace zirk
