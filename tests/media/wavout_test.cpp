// The software wave mixer on a manual sound device and a manual clock: the
// eight source formats, volume, saturation, looping, ends, positions, and
// the blocks it queues on the wave output.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "media/wavouts.h"
#include "platform/clock.h"

namespace zirk {
namespace {

TWaveFormatEx pcm(int channels, int rate, int bits) {
  TWaveFormatEx format;
  MakePcmWaveFormat(format, rate, bits, channels);
  return format;
}

std::vector<uint8_t> samples16(const std::vector<int16_t>& values) {
  std::vector<uint8_t> bytes(values.size() * 2);
  if (!values.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

// A stream that may claim more bytes than it gives, as a truncated decoder
// stream does.
class ShortStream : public TKwStream {
 public:
  ShortStream(std::vector<uint8_t> data, int64_t declared)
      : data_(std::move(data)), size_(declared) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::clamp<int64_t>(static_cast<int64_t>(data_.size()) - pos_, 0, count);
    if (n > 0) std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    const int64_t base = origin == SeekOrigin::Begin     ? 0
                         : origin == SeekOrigin::Current ? pos_
                                                         : size_;
    return pos_ = std::max<int64_t>(0, base + offset);
  }
  int64_t Size() override { return size_; }

 private:
  std::vector<uint8_t> data_;
  int64_t size_;
  int64_t pos_ = 0;
};

// A decoder stream that reports no size until it was asked once.
class LateStream : public ShortStream {
 public:
  using ShortStream::ShortStream;
  int64_t Size() override { return asked_++ ? ShortStream::Size() : 0; }

 private:
  int asked_ = 0;
};

// An output whose format the wave output cannot take.
class WrongRateOutput : public platform::AudioOutput {
 public:
  void Attach(platform::AudioSource*) override {}
  void Detach(platform::AudioSource*) override {}
  int Rate() const override { return 22050; }
  int Channels() const override { return 2; }
  uint64_t FramesPlayed() const override { return 0; }
};

class WavOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClock(&clock_);
    ASSERT_EQ(device_.Open(platform::AudioBackend::Manual), platform::AudioBackend::Manual);
  }
  void TearDown() override {
    mixer_.reset();
    platform::SetClock(nullptr);
  }

  TWavOut& open(int32_t delay = 100) {
    mixer_ = std::make_unique<TWavOut>(delay, terminated_, &device_);
    mixer_->SetUseThread(false);
    EXPECT_TRUE(mixer_->Open());
    return *mixer_;
  }

  TWavBuffer* voice(std::unique_ptr<TKwStream> stream, const TWaveFormatEx& format,
                    bool play = true, bool loop = false) {
    streams_.push_back(std::move(stream));
    TWavBuffer* v = mixer_->Add(streams_.back().get(), format);
    v->SetLoop(loop);
    if (play) v->Play();
    return v;
  }
  TWavBuffer* voice(std::vector<uint8_t> bytes, const TWaveFormatEx& format, bool play = true,
                    bool loop = false) {
    return voice(std::make_unique<TKwMemoryStream>(std::move(bytes)), format, play, loop);
  }

  std::vector<int16_t> mix() {
    std::vector<uint8_t> block(mixer_->BlockSize());
    mixed_ = mixer_->MixBlock(block.data());
    std::vector<int16_t> out(block.size() / 2);
    std::memcpy(out.data(), block.data(), block.size());
    return out;
  }

  platform::ManualClock clock_{5000};
  platform::AudioDevice device_;
  std::atomic<bool> terminated_{false};
  std::vector<std::unique_ptr<TKwStream>> streams_;
  std::unique_ptr<TWavOut> mixer_;
  bool mixed_ = false;
};

TEST_F(WavOutTest, EverySourceFormatExpandsToTheOutput) {
  struct Case {
    int channels, rate, bits;
    size_t sourceBytes;  // what one 17640-byte block takes
  };
  const Case cases[] = {{2, 44100, 16, 17640}, {1, 44100, 16, 8820}, {2, 22050, 16, 8820},
                        {2, 44100, 8, 8820},   {1, 44100, 8, 4410},  {2, 22050, 8, 4410},
                        {1, 22050, 16, 4410},  {1, 22050, 8, 2205}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.channels << " ch " << c.rate << " Hz " << c.bits << " bit");
    open(100);
    std::vector<uint8_t> source(c.sourceBytes);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 37 + i / 7);
    TWavBuffer* v = voice(source, pcm(c.channels, c.rate, c.bits));
    const auto out = mix();
    ASSERT_TRUE(mixed_);
    auto sample = [&](size_t frame, int channel) -> int16_t {
      const size_t bytes = static_cast<size_t>(c.bits / 8);
      const size_t at =
          (frame * static_cast<size_t>(c.channels) + static_cast<size_t>(channel)) * bytes;
      if (c.bits == 8) return static_cast<int16_t>((source[at] - 128) * 256);
      return static_cast<int16_t>(source[at] | (source[at + 1] << 8));
    };
    const size_t repeat = 44100 / static_cast<size_t>(c.rate);
    for (size_t frame = 0; frame < out.size() / 2; ++frame) {
      const size_t from = frame / repeat;
      const int16_t left = sample(from, 0);
      const int16_t right = c.channels == 2 ? sample(from, 1) : left;
      ASSERT_EQ(out[2 * frame], left) << "frame " << frame;
      ASSERT_EQ(out[2 * frame + 1], right) << "frame " << frame;
    }
    // Read to the end, and just mixed: what is heard is a block behind.
    EXPECT_EQ(v->GetPosition(), 0);
    EXPECT_TRUE(v->Ended());
    mixer_.reset();
  }
}

TEST_F(WavOutTest, VolumeAndSaturation) {
  struct Case {
    int16_t a, b;
    int32_t volumeA;
    int16_t expected;
  };
  const Case cases[] = {
      {30000, 30000, 256, 32767},
      {-30000, -30000, 256, -32768},
      {1000, 0, 128, 500},
      {-1001, 0, 128, -501},
      {1000, 0, 255, 1000},
      {1000, 0, 256, 1000},
      {1000, 0, 0, 0},
      {1000, 0, -40, 0},
      {32767, -32768, 256, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " + " << c.b << " at " << c.volumeA);
    open(100);
    const size_t n = mixer_->BlockSize() / 2;
    voice(samples16(std::vector<int16_t>(n, c.a)), pcm(2, 44100, 16))->SetVolume(c.volumeA);
    voice(samples16(std::vector<int16_t>(n, c.b)), pcm(2, 44100, 16));
    const auto out = mix();
    EXPECT_EQ(out.front(), c.expected);
    EXPECT_EQ(out.back(), c.expected);
    mixer_.reset();
  }
}

TEST_F(WavOutTest, ALoopingVoiceWrapsWithoutAGap) {
  // 250 frames, and a source that ends exactly with a block.
  for (size_t length : {500, 8820}) {
    open(100);
    std::vector<int16_t> pattern(length);
    for (size_t i = 0; i < length; ++i) pattern[i] = static_cast<int16_t>(i % 3000 + 1);
    TWavBuffer* v = voice(samples16(pattern), pcm(2, 44100, 16), true, true);
    for (int block = 0; block < 2; ++block) {
      const auto out = mix();
      ASSERT_TRUE(mixed_);
      for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], pattern[(block * out.size() + i) % length]) << i;
      EXPECT_FALSE(v->Ended());
    }
  }
}

TEST_F(WavOutTest, VoicesEndAtTheirSourceEnd) {
  struct Case {
    const char* what;
    size_t samples;    // what the stream gives
    int64_t declared;  // the size it claims; 0: true
    bool loop;
    int16_t last;  // the last sample mixed, -1: no block at all
    bool ended;
    int rate = 44100;
  };
  const Case cases[] = {
      {"short, not looping", 500, 0, false, 0, true},
      {"nothing before the declared end", 100, 100000, false, 0, true},
      {"looping: the empty read wraps once", 100, 100000, true, 6, false},
      {"looping, empty even after the wrap", 0, 1000, true, -1, true},
      {"a format it cannot take", 2000, 0, false, -1, true, 48000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    open(100);
    auto data = samples16(std::vector<int16_t>(c.samples, 6));
    TWavBuffer* v = c.declared ? voice(std::make_unique<ShortStream>(data, c.declared),
                                       pcm(2, c.rate, 16), true, c.loop)
                               : voice(data, pcm(2, c.rate, 16), true, c.loop);
    const auto out = mix();
    EXPECT_EQ(mixed_, c.last >= 0);
    if (mixed_) {
      EXPECT_EQ(out[c.samples - 1], 6);
      EXPECT_EQ(out.back(), c.last);
      if (!c.loop) {
        EXPECT_EQ(out[c.samples], 0);
      }
    }
    EXPECT_EQ(v->Ended(), c.ended);
    clock_.Advance(211);
    EXPECT_EQ(v->IsEnd(), c.ended);
  }
  // Heard out only 2 * delay + 10 ms after its last mix; nothing more to mix.
  TWavBuffer* v = voice(samples16(std::vector<int16_t>(500, 700)), pcm(2, 44100, 16));
  mix();
  EXPECT_FALSE(v->IsEnd());
  clock_.Advance(210);
  EXPECT_FALSE(v->IsEnd());
  clock_.Advance(1);
  EXPECT_TRUE(v->IsEnd());
  mix();
  EXPECT_FALSE(mixed_);
}

TEST_F(WavOutTest, OnlyStartedVoicesAreMixed) {
  open(100);
  const size_t n = mixer_->BlockSize() / 2;
  TWavBuffer* playing = voice(samples16(std::vector<int16_t>(n * 2, 100)), pcm(2, 44100, 16));
  TWavBuffer* waiting =
      voice(samples16(std::vector<int16_t>(n * 2, 1000)), pcm(2, 44100, 16), false);
  auto out = mix();
  EXPECT_EQ(out[0], 100);
  EXPECT_EQ(waiting->GetPosition(), 0);
  EXPECT_EQ(mixer_->ActiveCount(), 1u);
  EXPECT_FALSE(waiting->Ended());
  // Stopped: out of the mix; played again: on from where it was.
  playing->Stop();
  mix();
  EXPECT_FALSE(mixed_);
  playing->Play();
  waiting->Play();
  out = mix();
  EXPECT_EQ(out[0], 1100);
  EXPECT_TRUE(playing->Ended());
  EXPECT_FALSE(waiting->Ended());
}

TEST_F(WavOutTest, PositionsLagTheMixByOneBlock) {
  open(100);
  // 22050 Hz mono 16 bit: 44.1 bytes per ms; one block takes 4410 bytes.
  TWavBuffer* v = voice(std::vector<uint8_t>(44100, 0), pcm(1, 22050, 16));
  mix();
  struct Step {
    uint32_t advance;
    int64_t expected;
  };
  const Step steps[] = {{0, 0}, {50, 2205}, {50, 4410}, {100, 8820}, {1, 4410}};
  for (const Step& s : steps) {
    clock_.Advance(s.advance);
    EXPECT_EQ(v->GetPosition(), s.expected) << "after +" << s.advance;
  }
  // Set positions are where the next mix starts.
  v->SetPosition(40000);
  mix();
  EXPECT_EQ(v->GetPosition(), 44100 - 4410);
}

TEST_F(WavOutTest, AMixerThatCannotOpenPlaysNothing) {
  WrongRateOutput wrong;
  TWavOut mixer(100, terminated_, &wrong);
  EXPECT_FALSE(mixer.Open());
  TKwMemoryStream stream(std::vector<uint8_t>(1000, 1));
  TWavBuffer* v = mixer.Add(&stream, pcm(2, 44100, 16));
  v->Play();
  EXPECT_FALSE(v->Started());
  EXPECT_TRUE(v->IsEnd());
  EXPECT_EQ(mixer.ActiveCount(), 0u);
  mixer.Refill();
  EXPECT_EQ(mixer.QueuedCount(), 0u);
  // An open mixer does not open twice.
  EXPECT_FALSE(open(100).Open());
}

TEST_F(WavOutTest, BlocksQueueUpToTwoAndAreDoneWhenPlayed) {
  EXPECT_EQ(open(500).BlockSize(), 88200u);
  open(100);
  EXPECT_EQ(mixer_->OutputFormat().nAvgBytesPerSec, 176400u);
  EXPECT_EQ(mixer_->OutputFormat().nBlockAlign, 4);
  const size_t n = mixer_->BlockSize() / 2;
  EXPECT_EQ(n, 8820u);
  std::vector<int16_t> pcmData(n * 3);
  for (size_t i = 0; i < pcmData.size(); ++i) pcmData[i] = static_cast<int16_t>(i % 20000);
  voice(samples16(pcmData), pcm(2, 44100, 16));
  mixer_->Refill();
  EXPECT_EQ(mixer_->QueuedCount(), 2u);
  EXPECT_EQ(mixer_->Device().QueuedCount(), 2u);
  // The device plays the first block as mixed.
  std::vector<int16_t> heard(n);
  device_.Render(heard.data(), n / 2);
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), pcmData.begin()));
  mixer_->Refill();
  EXPECT_EQ(mixer_->QueuedCount(), 2u);
  device_.Render(heard.data(), n / 2);
  EXPECT_TRUE(std::equal(heard.begin(), heard.end(), pcmData.begin() + static_cast<ptrdiff_t>(n)));
  EXPECT_EQ(mixer_->PoolCount(), TWavOut::kPoolMinimum);
  // Closing while blocks are queued returns at once and frees the voices.
  mixer_->Close();
  EXPECT_FALSE(mixer_->IsOpen());
  EXPECT_EQ(mixer_->QueuedCount(), 0u);
  EXPECT_EQ(mixer_->VoiceCount(), 0u);
  EXPECT_EQ(device_.SourceCount(), 0u);
}

TEST_F(WavOutTest, ARefillWhoseFirstBlockMixedNothingTriesOnceMore) {
  open(100);
  voice(std::make_unique<LateStream>(std::vector<uint8_t>(40000, 1), 40000), pcm(2, 44100, 16));
  mixer_->Refill();
  EXPECT_EQ(mixer_->QueuedCount(), 1u);
}

TEST(WaveOutDevice, ABlockIsDoneWhenItsLastByteWasPulled) {
  platform::AudioDevice device;
  ASSERT_EQ(device.Open(platform::AudioBackend::Manual), platform::AudioBackend::Manual);
  platform::WaveOutDevice out;
  EXPECT_EQ(out.Open(&device, 22050, 2, 16), platform::WAVERR_BADFORMAT);
  EXPECT_EQ(out.Open(&device, 44100, 2, 8), platform::WAVERR_BADFORMAT);
  EXPECT_EQ(out.Open(nullptr, 44100, 2, 16), platform::MMSYSERR_INVALHANDLE);
  ASSERT_EQ(out.Open(&device, 44100, 2, 16), platform::MMSYSERR_NOERROR);
  std::vector<int16_t> a(200, 11), b(200, 22);
  platform::WaveHdr first, second;
  first.lpData = reinterpret_cast<uint8_t*>(a.data());
  second.lpData = reinterpret_cast<uint8_t*>(b.data());
  first.dwBufferLength = second.dwBufferLength = 400;
  EXPECT_EQ(out.Write(first), platform::WAVERR_UNPREPARED);
  out.PrepareHeader(first);
  out.PrepareHeader(second);
  ASSERT_EQ(out.Write(first), platform::MMSYSERR_NOERROR);
  ASSERT_EQ(out.Write(second), platform::MMSYSERR_NOERROR);
  std::vector<int16_t> heard(240);
  device.Render(heard.data(), 60);  // 240 of the first block's 400 bytes
  EXPECT_FALSE(first.dwFlags & platform::WHDR_DONE);
  device.Render(heard.data(), 60);  // its last 160 bytes, then 80 of the second
  EXPECT_TRUE(first.dwFlags & platform::WHDR_DONE);
  EXPECT_FALSE(second.dwFlags & platform::WHDR_DONE);
  EXPECT_EQ(heard[79], 11);
  EXPECT_EQ(heard[80], 22);
  // The rest is marked done at once by a reset, pulled or not.
  out.Reset();
  EXPECT_TRUE(second.dwFlags & platform::WHDR_DONE);
  EXPECT_EQ(out.QueuedCount(), 0u);
  device.Render(heard.data(), 60);
  EXPECT_EQ(heard[0], 0);  // nothing queued: silence
  out.Close();
  EXPECT_EQ(device.SourceCount(), 0u);
}

TEST(WavOut, TheFeederThreadKeepsTwoBlocksQueued) {
  platform::AudioDevice device;
  ASSERT_EQ(device.Open(platform::AudioBackend::Manual), platform::AudioBackend::Manual);
  std::atomic<bool> terminated{false};
  TWavOut mixer(100, terminated, &device);
  ASSERT_TRUE(mixer.Open());
  TKwMemoryStream stream(std::vector<uint8_t>(4000, 9));
  TWavBuffer* v = mixer.Add(&stream, pcm(2, 44100, 16));
  v->SetLoop(true);
  v->Play();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (mixer.Device().QueuedCount() < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(mixer.Device().QueuedCount(), 2u);
  std::vector<int16_t> heard(4410 * 2);
  device.Render(heard.data(), 4410);
  EXPECT_EQ(heard[0], 0x0909);
  mixer.Close();
  EXPECT_EQ(mixer.QueuedCount(), 0u);
}

}  // namespace
}  // namespace zirk
