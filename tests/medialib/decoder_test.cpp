// The PCM decoder entries over the test files: formats, lengths, the bytes
// themselves, and byte-exact positioning.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "media_support.h"
#include "medialib/ffmpeg.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

struct IndexRow {
  std::string file, container;
  int channels = 0, rate = 0;
  int64_t frames = 0;
  std::string md5;
};

std::map<std::string, IndexRow> ReadIndex() {
  std::map<std::string, IndexRow> rows;
  std::ifstream in(dataPath("audio/index.tsv"));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    if (f.size() < 9) continue;
    IndexRow r{f[0], f[1], std::stoi(f[3]), std::stoi(f[4]), std::stoll(f[6]), f[8]};
    rows[r.file] = r;
  }
  return rows;
}

class DecoderTest : public ::testing::Test {
 protected:
  LibrarySession session_;
};

TEST_F(DecoderTest, VorbisDecodesAsLibvorbisDoes) {
  auto index = ReadIndex();
  // "a+b" chains b after a; a link of another rate or channel count ends
  // the sound, and its length.
  for (std::string name :
       {"vorbis-mono-22050.ogg", "vorbis-mono-44100.ogg", "vorbis-stereo-22050.ogg",
        "vorbis-stereo-44100.ogg", "vorbis-stereo-44100-tags.ogg",
        "vorbis-stereo-44100-chained.ogg", "vorbis-stereo-44100-truncated.ogg",
        "vorbis-stereo-44100.ogg+vorbis-stereo-22050.ogg",
        "vorbis-stereo-22050.ogg+vorbis-stereo-44100.ogg",
        "vorbis-stereo-44100.ogg+vorbis-mono-44100.ogg"}) {
    SCOPED_TRACE(name);
    const size_t plus = std::min(name.find('+'), name.size());
    const IndexRow& row = index.at(name.substr(0, plus));
    MemStream stream{LoadAudio(name.substr(0, plus))};
    if (plus < name.size()) {
      const Bytes next = LoadAudio(name.substr(plus + 1));
      stream.data.insert(stream.data.end(), next.begin(), next.end());
    }
    Decoded d;
    ASSERT_TRUE(DecodeAll(stream, true, d));
    EXPECT_EQ(d.format.formatTag, 1);
    EXPECT_EQ(d.format.samplesPerSec, static_cast<uint32_t>(row.rate));
    EXPECT_EQ(d.format.channels, row.channels);
    EXPECT_EQ(d.format.bitsPerSample, 16);
    EXPECT_EQ(d.format.blockAlign, row.channels * 2);
    EXPECT_EQ(d.format.avgBytesPerSec, static_cast<uint32_t>(row.rate * row.channels * 2));
    EXPECT_EQ(d.size, row.frames * row.channels * 2);
    EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.size));
    EXPECT_EQ(Md5(d.pcm), row.md5);
    EXPECT_EQ(d.lengthMs, (row.frames * 1000 + row.rate / 2) / row.rate);
  }
}

TEST_F(DecoderTest, MixerWaveFormatsPassThroughUnchanged) {
  for (int bits : {8, 16})
    for (int channels : {1, 2})
      for (int rate : {22050, 44100}) {
        const std::string name = "pcm" + std::to_string(bits) +
                                 (channels == 1 ? "-mono-" : "-stereo-") + std::to_string(rate) +
                                 ".wav";
        SCOPED_TRACE(name);
        MemStream stream{LoadAudio(name)};
        const Bytes file = stream.data;
        Decoded d;
        ASSERT_TRUE(DecodeAll(stream, false, d));
        EXPECT_EQ(d.format.samplesPerSec, static_cast<uint32_t>(rate));
        EXPECT_EQ(d.format.channels, channels);
        EXPECT_EQ(d.format.bitsPerSample, bits);
        const size_t dataBytes = static_cast<size_t>(2 * rate * channels * bits / 8);  // 2.0 s
        ASSERT_EQ(d.pcm.size(), dataBytes);
        // sox writes a 44-byte header: the data are the file's last bytes.
        EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.end(), file.end() - dataBytes));
        EXPECT_EQ(d.lengthMs, 2000);
      }
}

TEST_F(DecoderTest, OddWaveFilesAndConversionLengths) {
  struct Case {
    const char* file;
    int rate, channels, bits;
    int32_t bytes;
  } cases[] = {
      // Container variants of 16-bit PCM.
      {"pcm16-mono-22050-extra-chunks.wav", 22050, 1, 16, 22050 * 2},
      {"pcm16-mono-22050-truncated.wav", 22050, 1, 16, 5000 * 2},
      {"pcm16-stereo-44100-extensible.wav", 44100, 2, 16, 44100 * 4},
      // Outside the mixer's table: 44100 Hz 16-bit, floor(frames * 44100 / rate) frames.
      {"pcm8-mono-11025.wav", 44100, 1, 16, 11025 * 4 * 2},
      {"pcm24-stereo-22050.wav", 44100, 2, 16, 44100 * 4},
      {"float32-mono-22050.wav", 44100, 1, 16, 44100 * 2},
      {"vorbis-stereo-48000.ogg", 44100, 2, 16, 44100 * 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MemStream stream{LoadAudio(c.file)};
    Decoded d;
    ASSERT_TRUE(DecodeAll(stream, std::string(c.file).ends_with(".ogg"), d));
    EXPECT_EQ(d.format.samplesPerSec, static_cast<uint32_t>(c.rate));
    EXPECT_EQ(d.format.channels, c.channels);
    EXPECT_EQ(d.format.bitsPerSample, c.bits);
    EXPECT_EQ(d.size, c.bytes);
    EXPECT_EQ(d.pcm.size(), static_cast<size_t>(c.bytes));
  }
}

TEST_F(DecoderTest, ManyChannelsAreMixedDownToStereo) {
  // Six channels at 22050 Hz, 16-bit: a constant level on every channel.
  Bytes samples;
  for (int f = 0; f < 2205; ++f)
    for (int c = 0; c < 6; ++c) samples.insert(samples.end(), {0x00, 0x10});  // 4096
  MemStream stream{MakeWave(22050, 6, 16, samples)};
  Decoded d;
  ASSERT_TRUE(DecodeAll(stream, false, d));
  EXPECT_EQ(d.format.channels, 2);
  EXPECT_EQ(d.format.samplesPerSec, 44100u);
  EXPECT_EQ(d.format.bitsPerSample, 16);
  EXPECT_EQ(d.size, 4410 * 4);
  EXPECT_EQ(d.pcm.size(), 4410u * 4);
  EXPECT_EQ(d.lengthMs, 100);
  const auto* s = reinterpret_cast<const int16_t*>(d.pcm.data());
  EXPECT_GT(s[2000], 1000);  // sound on both sides, not silence
  EXPECT_GT(s[2001], 1000);
}

TEST_F(DecoderTest, SoundWhoseLengthIsGuessedLastsWhatItsFramesSay) {
  // Each MPEG frame names its own rate and mode: every part plays at its
  // own speed, whatever bit rate the WAVE header claims. The length is read
  // from the frames' headers, FLAC's too: opening decodes nothing.
  const auto mpeg = [](int rate, int channels, int nextRate, int nextChannels, int run) {
    Bytes frames;
    for (int i = 0; i < 40 / run; ++i) {
      const Bytes part =
          i % 2 ? MpegAudio(nextRate, nextChannels, run) : MpegAudio(rate, channels, run);
      frames.insert(frames.end(), part.begin(), part.end());
    }
    return MakeWave(rate, channels, 16, frames, 0x50, 20000);
  };
  // A writer that streams the file leaves the data chunk's size at 0.
  const auto unsized = [](Bytes wave) {
    const auto data = std::search(wave.begin(), wave.end(), "data", "data" + 4);
    std::fill(data + 4, data + 8, 0);
    return wave;
  };
  const struct {
    Bytes wave;
    int channels;
    int32_t ms;
  } cases[] = {{mpeg(44100, 2, 44100, 1, 20), 2, 1045},
               {unsized(mpeg(44100, 2, 44100, 1, 20)), 2, 1045},
               {mpeg(44100, 1, 44100, 2, 20), 1, 1045},
               {mpeg(44100, 2, 22050, 2, 20), 2, 1567},
               {mpeg(44100, 1, 22050, 1, 1), 1, 1567},
               {FlacInWave(22050, 4410, 10), 1, 2000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    MemStream stream{c.wave};
    auto opened = medialib::OpenSound(
        std::make_unique<medialib::MemorySource>(std::make_shared<Bytes>(stream.data)), false);
    auto* source = dynamic_cast<medialib::FfmpegAudioSource*>(opened.get());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->SamplesDecoded(), 0);
    Decoded d;
    ASSERT_TRUE(DecodeAll(stream, false, d));
    EXPECT_EQ(d.format.channels, c.channels);
    EXPECT_EQ(d.lengthMs, c.ms);
    EXPECT_EQ(d.pcm.size(), static_cast<size_t>(d.size));
    EXPECT_NEAR(d.size * 1000.0 / d.format.avgBytesPerSec, c.ms, 1);
  }
}

TEST_F(DecoderTest, ConvertedSoundKeepsItsTone) {
  // 440 Hz at any rate crosses zero 880 times a second after conversion.
  for (const char* name :
       {"pcm8-mono-11025.wav", "vorbis-stereo-48000.ogg", "pcm24-stereo-22050.wav"}) {
    SCOPED_TRACE(name);
    MemStream stream{LoadAudio(name)};
    Decoded d;
    ASSERT_TRUE(DecodeAll(stream, std::string(name).ends_with(".ogg"), d));
    const int ch = d.format.channels;
    const auto* s = reinterpret_cast<const int16_t*>(d.pcm.data());
    const size_t frames = d.pcm.size() / (2 * ch);
    int crossings = 0, peak = 0;
    for (size_t i = 1; i < frames; ++i) {
      if ((s[(i - 1) * ch] < 0) != (s[i * ch] < 0)) ++crossings;
      peak = std::max(peak, std::abs(static_cast<int>(s[i * ch])));
    }
    const double perSecond = crossings * 44100.0 / frames;
    EXPECT_NEAR(perSecond, 880, 10);
    EXPECT_NEAR(peak, 16384, 700);
  }
}

TEST_F(DecoderTest, SetPositionIsByteExact) {
  for (const char* name : {"vorbis-stereo-44100.ogg", "pcm8-mono-22050.wav",
                           "pcm16-stereo-22050.wav", "pcm8-mono-11025.wav"}) {
    SCOPED_TRACE(name);
    const bool ogg = std::string(name).ends_with(".ogg");
    MemStream whole{LoadAudio(name)};
    Decoded all;
    ASSERT_TRUE(DecodeAll(whole, ogg, all));
    MemStream stream{LoadAudio(name)};
    const ZirkHandle h = zirkOggStrmanAdd(&stream, ogg ? -1 : 0);
    ASSERT_NE(h, 0u);
    const int32_t size = zirkOggStrGetSize(h);
    for (int32_t pos : {0, 1, 3, 4097, size / 2 + 1, size - 5, size}) {
      SCOPED_TRACE(pos);
      EXPECT_EQ(zirkOggStrSetPos(h, pos), pos);
      EXPECT_EQ(zirkOggStrGetPos(h), pos);
      uint8_t buf[1001];
      // An odd count leaves the next read in the middle of a frame.
      const int32_t first = zirkOggStrRead(h, buf, 7);
      const int32_t second = zirkOggStrRead(h, buf + first, 994);
      const int32_t n = first + second;
      EXPECT_EQ(n, std::min(1001, size - pos));
      EXPECT_TRUE(std::equal(buf, buf + n, all.pcm.begin() + pos));
      EXPECT_EQ(zirkOggStrGetPos(h), pos + n);
    }
    EXPECT_EQ(zirkOggStrSetPos(h, -100), 0);
    EXPECT_EQ(zirkOggStrSetPos(h, size + 100), size);
    zirkOggStrmanDel(h);
  }
}

TEST_F(DecoderTest, RejectsWhatIsNoSound) {
  struct Case {
    const char* what;
    Bytes data;
    bool isOgg;
  } cases[] = {
      {"empty", {}, false},
      {"text as WAVE", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'},
       false},
      {"WAVE as Ogg", LoadAudio("pcm16-mono-22050.wav"), true},
      {"Ogg as WAVE", LoadAudio("vorbis-mono-22050.ogg"), false},
      {"PCM at 2000 Hz", MakeWave(2000, 1, 16, Ramp(1, 16, 100)), false},
      {"FLAC at 1 Hz", FlacInWave(1, 4096), false},
      {"RIFF without data",
       [] {
         Bytes b = MakeWave(22050, 1, 16, {});
         b.resize(36);
         return b;
       }(),
       false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemStream stream{c.data};
    EXPECT_EQ(zirkOggStrmanAdd(&stream, c.isOgg ? -1 : 0), 0u);
    EXPECT_EQ(zirkOggmanAdd(&stream, c.isOgg ? -1 : 0), 0u);
  }
}

TEST_F(DecoderTest, NullStreamAndUnknownHandlesAnswerZero) {
  EXPECT_EQ(zirkOggStrmanAdd(nullptr, -1), 0u);
  EXPECT_EQ(zirkOggStrmanAdd(nullptr, 0), 0u);
  EXPECT_EQ(zirkOggmanAdd(nullptr, -1), 0u);
  EXPECT_EQ(zirkVidmanAdd("x.wmv", nullptr, 0), 0u);
  EXPECT_EQ(zirkWmpmanAdd(nullptr, 100), 0u);
  for (ZirkHandle h : {0u, 12345u}) {
    ZirkPcmFormat f{};
    uint8_t buf[16];
    EXPECT_EQ(zirkOggStrGetFormat(h, &f), 0);
    EXPECT_EQ(zirkOggStrRead(h, buf, sizeof buf), 0);
    EXPECT_EQ(zirkOggStrGetPos(h), 0);
    EXPECT_EQ(zirkOggStrSetPos(h, 10), 0);
    EXPECT_EQ(zirkOggStrGetSize(h), 0);
    EXPECT_EQ(zirkOggStrGetLen(h), 0);
    zirkOggStrmanDel(h);
  }
}

TEST(DecoderWithoutLibrary, MissingCallbacksReadNothing) {
  zirkInit(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
           0);
  MemStream stream{LoadAudio("pcm16-mono-22050.wav")};
  EXPECT_EQ(zirkOggStrmanAdd(&stream, 0), 0u);
  EXPECT_EQ(zirkOggmanAdd(&stream, 0), 0u);
  EXPECT_EQ(zirkVidmanAdd("x", &stream, 0), 0u);
  EXPECT_EQ(stream.reads, 0);
  zirkFinal();
}

TEST(DecoderWithoutLibrary, EntriesBeforeInitAnswerZero) {
  MemStream stream{LoadAudio("pcm16-mono-22050.wav")};
  EXPECT_EQ(zirkOggStrmanAdd(&stream, 0), 0u);
  EXPECT_EQ(zirkOggmanAdd(&stream, 0), 0u);
  EXPECT_NE(zirkOggIsEnd(1), 0);
  EXPECT_EQ(zirkVersion(), 108);
}

}  // namespace
}  // namespace zirk::test
