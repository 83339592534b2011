// The RIFF/WAVE reader on files built in the test: chunk walking, the
// formats it plays itself, and damaged headers.

#include <gtest/gtest.h>

#include <memory>

#include "media_support.h"
#include "medialib/wave.h"

namespace zirk::test {
namespace {

using medialib::MemorySource;
using medialib::ParseWave;
using medialib::WaveInfo;
using medialib::WaveSource;

std::unique_ptr<MemorySource> Source(const Bytes& b) {
  return std::make_unique<MemorySource>(std::make_shared<const Bytes>(b));
}

void Put32At(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Inserts a chunk before the "data" chunk of a MakeWave file (offset 36).
Bytes WithChunkBeforeData(Bytes wave, const char* id, const Bytes& body) {
  Bytes chunk(id, id + 4);
  for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<uint8_t>(body.size() >> (8 * i)));
  chunk.insert(chunk.end(), body.begin(), body.end());
  if (body.size() & 1) chunk.push_back(0);
  wave.insert(wave.begin() + 36, chunk.begin(), chunk.end());
  return wave;
}

TEST(WaveReader, PlaysEveryPcmLayoutFrameForFrame) {
  for (int bits : {8, 16}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(bits * 10 + channels);
      const Bytes samples = Ramp(channels, bits, 1001);
      auto source = WaveSource::Open(Source(MakeWave(32000, channels, bits, samples)));
      ASSERT_TRUE(source);
      EXPECT_EQ(source->Format().rate, 32000);
      EXPECT_EQ(source->Frames(), 1001);
      Bytes out(samples.size());
      EXPECT_EQ(source->ReadFrames(out.data(), 5000), 1001);
      EXPECT_EQ(out, samples);
      EXPECT_EQ(source->ReadFrames(out.data(), 1), 0);
      // Seeking lands on the frame asked for.
      const int align = channels * bits / 8;
      ASSERT_TRUE(source->SeekFrame(500));
      EXPECT_EQ(source->ReadFrames(out.data(), 2), 2);
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2 * align, samples.begin() + 500 * align));
    }
  }
}

TEST(WaveReader, ChunkLayouts) {
  const Bytes samples = Ramp(1, 16, 100);
  const Bytes plain = MakeWave(22050, 1, 16, samples);
  struct Case {
    const char* what;
    Bytes file;
    bool parses;
    int64_t dataBytes;
  } cases[] = {
      {"plain", plain, true, 200},
      {"odd chunk with pad byte", WithChunkBeforeData(plain, "zzzz", {1, 2, 3}), true, 200},
      {"even unknown chunk", WithChunkBeforeData(plain, "LIST", Bytes(12, 'x')), true, 200},
      {"truncated data", Bytes(plain.begin(), plain.end() - 51), true, 149},
      {"no RIFF",
       [&] {
         Bytes b = plain;
         b[0] = 'X';
         return b;
       }(),
       false, 0},
      {"no WAVE",
       [&] {
         Bytes b = plain;
         b[8] = 'X';
         return b;
       }(),
       false, 0},
      {"fmt too short",
       [&] {
         Bytes b = plain;
         Put32At(b, 16, 14);
         return b;
       }(),
       false, 0},
      {"fmt beyond the end",
       [&] {
         Bytes b = plain;
         Put32At(b, 16, 0xFFFFFFF0u);
         return b;
       }(),
       false, 0},
      {"no channels",
       [&] {
         Bytes b = plain;
         b[22] = 0;
         return b;
       }(),
       false, 0},
      {"rate zero",
       [&] {
         Bytes b = plain;
         Put32At(b, 24, 0);
         return b;
       }(),
       false, 0},
      {"header only", Bytes(plain.begin(), plain.begin() + 12), false, 0},
      {"data size beyond the file",
       [&] {
         Bytes b = plain;
         Put32At(b, 40, 0x7FFFFFFF);
         return b;
       }(),
       true, 200},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = Source(c.file);
    WaveInfo info;
    ASSERT_EQ(ParseWave(*bytes, info), c.parses);
    if (c.parses) {
      EXPECT_EQ(info.dataBytes, c.dataBytes);
    }
  }
}

TEST(WaveReader, DataBeforeFormatIsFound) {
  const Bytes samples = Ramp(2, 16, 10);
  Bytes wave = MakeWave(44100, 2, 16, samples);
  // RIFF header, then data, then fmt.
  Bytes fmt(wave.begin() + 12, wave.begin() + 36);
  Bytes data(wave.begin() + 36, wave.end());
  Bytes swapped(wave.begin(), wave.begin() + 12);
  swapped.insert(swapped.end(), data.begin(), data.end());
  swapped.insert(swapped.end(), fmt.begin(), fmt.end());
  auto source = WaveSource::Open(Source(swapped));
  ASSERT_TRUE(source);
  Bytes out(samples.size());
  EXPECT_EQ(source->ReadFrames(out.data(), 10), 10);
  EXPECT_EQ(out, samples);
}

TEST(WaveReader, LeavesOtherFormatsToFfmpeg) {
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"24-bit", MakeWave(22050, 2, 24, Bytes(60, 0))},
      {"float", MakeWave(22050, 1, 32, Bytes(40, 0), 3)},
      {"six channels", MakeWave(22050, 6, 16, Bytes(120, 0))},
      {"block align wrong",
       [] {
         Bytes b = MakeWave(22050, 2, 16, Bytes(40, 0));
         b[32] = 3;
         return b;
       }()},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = Source(c.file);
    WaveInfo info;
    EXPECT_TRUE(ParseWave(*bytes, info));
    EXPECT_FALSE(info.Playable());
    EXPECT_FALSE(WaveSource::Open(Source(c.file)));
  }
}

TEST(WaveReader, ExtensibleWithPcmSubformatPlays) {
  Bytes wave = MakeWave(44100, 2, 16, Ramp(2, 16, 4));
  Bytes ext = {0xFE, 0xFF, 2,    0, 0x44, 0xAC, 0, 0,    0x10, 0xB1, 2,    0,   4, 0,
               16,   0,    22,   0, 16,   0,    3, 0,    0,    0,    1,    0,   0, 0,
               0,    0,    0x10, 0, 0x80, 0,    0, 0xAA, 0,    0x38, 0x9B, 0x71};
  Bytes file(wave.begin(), wave.begin() + 16);
  file.insert(file.end(), {40, 0, 0, 0});
  file.insert(file.end(), ext.begin(), ext.end());
  file.insert(file.end(), wave.begin() + 36, wave.end());
  auto bytes = Source(file);
  WaveInfo info;
  ASSERT_TRUE(ParseWave(*bytes, info));
  EXPECT_TRUE(info.Playable());
  // A sub-format GUID of another family is not PCM.
  file[20 + 39] ^= 1;
  auto broken = Source(file);
  EXPECT_FALSE(ParseWave(*broken, info));
}

}  // namespace
}  // namespace zirk::test
