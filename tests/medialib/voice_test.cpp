// Ogg items played into the manual sound device: the samples heard, the end,
// looping, levels and pan, pause, positions, and deletion while playing.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "media_support.h"
#include "platform/audio.h"

namespace zirk::test {
namespace {

using platform::AudioBackend;
using platform::AudioDevice;
using platform::AudioOutput;

std::vector<int16_t> Samples(const Bytes& pcm) {
  std::vector<int16_t> s(pcm.size() / 2);
  std::memcpy(s.data(), pcm.data(), s.size() * 2);
  return s;
}

// The stereo 44100 Hz samples the decoder makes of a file.
std::vector<int16_t> Reference(const char* name, bool isOgg) {
  MemStream stream{LoadAudio(name)};
  Decoded d;
  EXPECT_TRUE(DecodeAll(stream, isOgg, d));
  EXPECT_EQ(d.format.samplesPerSec, 44100u);
  std::vector<int16_t> s = Samples(d.pcm);
  if (d.format.channels == 1) {
    std::vector<int16_t> stereo;
    for (int16_t v : s) stereo.insert(stereo.end(), {v, v});
    return stereo;
  }
  return s;
}

class VoiceTest : public ::testing::Test {
 protected:
  VoiceTest() {
    device_.Open(AudioBackend::Manual);
    slot_ = static_cast<AudioOutput*>(&device_);
    session_ = std::make_unique<LibrarySession>(&slot_, false);
  }
  ~VoiceTest() override { session_.reset(); }

  ZirkHandle Add(MemStream& stream, bool isOgg) {
    const ZirkHandle h = zirkOggmanAdd(&stream, isOgg ? -1 : 0);
    EXPECT_NE(h, 0u);
    return h;
  }

  // Pulls `frames` frames in device-sized blocks, letting the library decode
  // between them as its thread would.
  std::vector<int16_t> Render(size_t frames) {
    std::vector<int16_t> out(frames * 2);
    for (size_t done = 0; done < frames;) {
      const size_t n = std::min<size_t>(1024, frames - done);
      zirkOggmanUpdate();
      device_.Render(out.data() + done * 2, n);
      done += n;
    }
    return out;
  }

  AudioDevice device_;
  void* slot_ = nullptr;
  std::unique_ptr<LibrarySession> session_;
};

TEST_F(VoiceTest, PlaysTheDecodedSamplesAndEndsAfterTheLast) {
  const auto ref = Reference("vorbis-stereo-44100.ogg", true);
  const size_t frames = ref.size() / 2;
  MemStream stream{LoadAudio("vorbis-stereo-44100.ogg")};
  const ZirkHandle h = Add(stream, true);
  EXPECT_EQ(zirkOggGetLen(h), 2000);
  EXPECT_FALSE(zirkOggIsEnd(h));
  EXPECT_FALSE(zirkOggIsPlaying(h));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    zirkOggPlay(h);
    EXPECT_TRUE(zirkOggIsPlaying(h));
    auto heard = Render(frames - 100);
    EXPECT_FALSE(zirkOggIsEnd(h));  // 100 frames still to come
    auto rest = Render(5000);
    EXPECT_TRUE(zirkOggIsEnd(h));
    EXPECT_FALSE(zirkOggIsPlaying(h));
    heard.insert(heard.end(), rest.begin(), rest.end());
    ASSERT_TRUE(std::equal(ref.begin(), ref.end(), heard.begin()));
    EXPECT_TRUE(
        std::all_of(heard.begin() + ref.size(), heard.end(), [](int16_t v) { return v == 0; }));
    EXPECT_EQ(zirkOggGetPosition(h), 2000);
    // Re-armed by SetPosition; Play then starts over.
    zirkOggSetPosition(h, 0);
    EXPECT_FALSE(zirkOggIsEnd(h));
    EXPECT_EQ(zirkOggGetPosition(h), 0);
  }
  // Play after the end starts from the beginning as well.
  zirkOggPlay(h);
  Render(frames + 10);
  ASSERT_TRUE(zirkOggIsEnd(h));
  zirkOggPlay(h);
  EXPECT_FALSE(zirkOggIsEnd(h));
  auto again = Render(1000);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), ref.begin()));
  zirkOggmanDel(h);
}

TEST_F(VoiceTest, EveryMixerFormatComesOutAsStereo44100) {
  for (const char* name : {"pcm16-mono-44100.wav", "pcm8-stereo-44100.wav",
                           "pcm16-stereo-22050.wav", "pcm8-mono-22050.wav"}) {
    SCOPED_TRACE(name);
    MemStream stream{LoadAudio(name)};
    const ZirkHandle h = Add(stream, false);
    EXPECT_EQ(zirkOggGetLen(h), 2000);
    zirkOggPlay(h);
    auto heard = Render(88200 + 1000);
    EXPECT_TRUE(zirkOggIsEnd(h));
    // Both channels of the 440 Hz left channel: 880 zero crossings a second.
    int crossings = 0;
    for (size_t i = 1; i < 88200; ++i)
      if ((heard[(i - 1) * 2] < 0) != (heard[i * 2] < 0)) ++crossings;
    EXPECT_NEAR(crossings, 1760, 10);
    if (std::string(name).find("mono") != std::string::npos) {
      for (size_t i = 0; i < 88200; ++i) ASSERT_EQ(heard[i * 2], heard[i * 2 + 1]) << i;
    }
    zirkOggmanDel(h);
  }
}

TEST_F(VoiceTest, LoopingIsSeamless) {
  const auto ref = Reference("pcm16-stereo-44100-extensible.wav", false);
  const size_t frames = ref.size() / 2;
  MemStream stream{LoadAudio("pcm16-stereo-44100-extensible.wav")};
  const ZirkHandle h = Add(stream, false);
  zirkOggSetAutoRepeat(h, -1);
  EXPECT_TRUE(zirkOggGetAutoRepeat(h));
  zirkOggPlay(h);
  auto heard = Render(frames * 5 / 2);
  for (size_t i = 0; i < heard.size(); ++i) ASSERT_EQ(heard[i], ref[i % ref.size()]) << i;
  EXPECT_FALSE(zirkOggIsEnd(h));
  EXPECT_TRUE(zirkOggIsPlaying(h));
  EXPECT_EQ(zirkOggGetPosition(h), 500);
  // Turning the loop off lets the current round be the last.
  zirkOggSetAutoRepeat(h, 0);
  Render(frames);
  EXPECT_TRUE(zirkOggIsEnd(h));
  zirkOggmanDel(h);
}

TEST_F(VoiceTest, LevelsAndPanFollowTheDecibelLaw) {
  const auto ref = Reference("pcm16-stereo-44100.wav", false);
  struct Case {
    int32_t level, pan;
    double left, right;
  } cases[] = {
      {0, 0, 1, 1},
      {-600, 0, std::pow(10, -0.3), std::pow(10, -0.3)},
      {-10000, 0, 0, 0},
      {-12000, 0, 0, 0},
      {0, 10000, 0, 1},
      {0, -10000, 1, 0},
      {0, 2000, std::pow(10, -1.0), 1},
      {-600, -600, std::pow(10, -0.3), std::pow(10, -0.6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.level << " " << c.pan);
    MemStream stream{LoadAudio("pcm16-stereo-44100.wav")};
    const ZirkHandle h = Add(stream, false);
    zirkOggSetVol(h, c.level);
    zirkOggSetPan(h, c.pan);
    EXPECT_EQ(zirkOggGetVol(h), c.level);
    EXPECT_EQ(zirkOggGetPan(h), c.pan);
    zirkOggPlay(h);
    auto heard = Render(4000);
    for (size_t i = 0; i < heard.size(); i += 2) {
      ASSERT_NEAR(heard[i], ref[i] * c.left, 1.0) << i;
      ASSERT_NEAR(heard[i + 1], ref[i + 1] * c.right, 1.0) << i;
    }
    zirkOggmanDel(h);
  }
}

TEST_F(VoiceTest, PauseHoldsThePositionAndPlayContinues) {
  const auto ref = Reference("pcm16-stereo-44100.wav", false);
  MemStream stream{LoadAudio("pcm16-stereo-44100.wav")};
  const ZirkHandle h = Add(stream, false);
  zirkOggPlay(h);
  Render(22050);
  EXPECT_EQ(zirkOggGetPosition(h), 500);
  zirkOggPause(h);
  EXPECT_TRUE(zirkOggIsPaused(h));
  EXPECT_FALSE(zirkOggIsPlaying(h));
  auto silent = Render(5000);
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int16_t v) { return v == 0; }));
  EXPECT_EQ(zirkOggGetPosition(h), 500);
  zirkOggPlay(h);
  EXPECT_FALSE(zirkOggIsPaused(h));
  auto next = Render(100);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), ref.begin() + 22050 * 2));
  // A position set while playing is where the sound goes on.
  zirkOggSetPosition(h, 1000);
  auto moved = Render(100);
  EXPECT_TRUE(std::equal(moved.begin(), moved.end(), ref.begin() + 44100 * 2));
  zirkOggmanDel(h);
}

TEST_F(VoiceTest, RestoreMovesPlayingItemsToTheDeviceInTheSlot) {
  MemStream stream{LoadAudio("pcm16-stereo-44100.wav")};
  const ZirkHandle h = Add(stream, false);
  EXPECT_EQ(device_.SourceCount(), 0u);  // nothing attached before Play
  zirkOggPlay(h);
  EXPECT_EQ(device_.SourceCount(), 1u);
  AudioDevice second;
  second.Open(AudioBackend::Manual);
  slot_ = static_cast<AudioOutput*>(&second);
  zirkOggmanRestore();
  EXPECT_EQ(device_.SourceCount(), 0u);
  EXPECT_EQ(second.SourceCount(), 1u);
  zirkOggmanDel(h);
  EXPECT_EQ(second.SourceCount(), 0u);
  slot_ = static_cast<AudioOutput*>(&device_);
}

TEST_F(VoiceTest, UnknownHandlesGetNeutralAnswers) {
  struct Family {
    const char* name;
    void (*play)(ZirkHandle);
    void (*setVol)(ZirkHandle, int32_t);
    void (*setPosition)(ZirkHandle, int32_t);
    ZirkBool (*isPlaying)(ZirkHandle);
    ZirkBool (*isPaused)(ZirkHandle);
    ZirkBool (*isEnd)(ZirkHandle);
    int32_t (*getLen)(ZirkHandle);
    int32_t (*getPosition)(ZirkHandle);
    int32_t (*getVol)(ZirkHandle);
    int32_t (*getPan)(ZirkHandle);
    ZirkBool (*getAutoRepeat)(ZirkHandle);
  } families[] = {
      {"Ogg", zirkOggPlay, zirkOggSetVol, zirkOggSetPosition, zirkOggIsPlaying, zirkOggIsPaused,
       zirkOggIsEnd, zirkOggGetLen, zirkOggGetPosition, zirkOggGetVol, zirkOggGetPan,
       zirkOggGetAutoRepeat},
      {"Wmp", zirkWmpPlay, zirkWmpSetVol, zirkWmpSetPosition, zirkWmpIsPlaying, zirkWmpIsPaused,
       zirkWmpIsEnd, zirkWmpGetLen, zirkWmpGetPosition, zirkWmpGetVol, zirkWmpGetPan,
       zirkWmpGetAutoRepeat},
      {"Video", zirkVideoPlay, zirkVideoSetVol, zirkVideoSetPosition, zirkVideoIsPlaying,
       zirkVideoIsPaused, zirkVideoIsEnd, zirkVideoGetLen, zirkVideoGetPosition, zirkVideoGetVol,
       zirkVideoGetPan, zirkVideoGetAutoRepeat},
  };
  for (const Family& f : families)
    for (ZirkHandle h : {0u, 777u}) {
      SCOPED_TRACE(::testing::Message() << f.name << " " << h);
      f.play(h);
      f.setVol(h, -500);
      f.setPosition(h, 100);
      EXPECT_EQ(f.isPlaying(h), 0);
      EXPECT_EQ(f.isPaused(h), 0);
      EXPECT_NE(f.isEnd(h), 0);
      EXPECT_EQ(f.getLen(h), 0);
      EXPECT_EQ(f.getPosition(h), 0);
      EXPECT_EQ(f.getVol(h), 0);
      EXPECT_EQ(f.getPan(h), 0);
      EXPECT_EQ(f.getAutoRepeat(h), 0);
    }
  EXPECT_EQ(zirkVideoGetDC(0), nullptr);
  EXPECT_EQ(zirkVideoNeedPaint(0), 0);
  EXPECT_EQ(zirkVideoGetSourceWidth(0), 0);
  EXPECT_EQ(zirkVideoGetVisible(0), 0);
  // A handle from another kind's table is unknown here.
  MemStream stream{LoadAudio("pcm16-stereo-44100.wav")};
  const ZirkHandle h = Add(stream, false);
  EXPECT_EQ(zirkWmpGetLen(h), 0);
  zirkWmpmanDel(h);
  EXPECT_EQ(zirkOggGetLen(h), 2000);
  zirkOggmanDel(h);
  EXPECT_EQ(zirkOggGetLen(h), 0);
}

TEST(VoiceThreads, DeleteWhilePlayingLeavesTheStreamAlone) {
  AudioDevice device;
  device.Open(AudioBackend::Manual);
  void* slot = static_cast<AudioOutput*>(&device);
  LibrarySession session(&slot, true);
  std::atomic<bool> stop{false};
  // A device thread pulling as fast as it can.
  std::thread pull([&] {
    std::vector<int16_t> buffer(512 * 2);
    while (!stop) device.Render(buffer.data(), 512);
  });
  const Bytes ogg = LoadAudio("vorbis-stereo-44100.ogg");
  const Bytes wave = LoadAudio("pcm16-stereo-22050.wav");
  for (int i = 0; i < 20; ++i) {
    auto a = std::make_unique<MemStream>(MemStream{ogg});
    auto b = std::make_unique<MemStream>(MemStream{wave});
    const ZirkHandle ha = zirkOggmanAdd(a.get(), -1);
    const ZirkHandle hb = zirkOggmanAdd(b.get(), 0);
    zirkOggSetAutoRepeat(ha, -1);
    zirkOggPlay(ha);
    zirkOggPlay(hb);
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 5));
    zirkOggmanDel(ha);
    a.reset();  // the player frees the stream right after Del
    zirkOggmanDel(hb);
    b.reset();
  }
  stop = true;
  pull.join();
  EXPECT_EQ(device.SourceCount(), 0u);
}

TEST(VoiceThreads, WithoutADeviceSoundsEndInRealTime) {
  LibrarySession session(nullptr, true);
  MemStream stream{LoadAudio("pcm16-mono-22050-truncated.wav")};  // 5000 frames: 227 ms
  const ZirkHandle h = zirkOggmanAdd(&stream, 0);
  ASSERT_NE(h, 0u);
  const auto start = std::chrono::steady_clock::now();
  zirkOggPlay(h);
  while (!zirkOggIsEnd(h) && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(zirkOggIsEnd(h));
  EXPECT_GE(took, std::chrono::milliseconds(200));
  zirkOggmanDel(h);
}

}  // namespace
}  // namespace zirk::test
