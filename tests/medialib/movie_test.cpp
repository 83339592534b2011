// Windows Media sound and movies through FFmpeg, and the exports of the
// built shared library.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <chrono>
#include <set>
#include <thread>
#include <tuple>

#include "media_support.h"
#include "medialib/video.h"
#include "platform/audio.h"

namespace zirk::test {
namespace {

using platform::AudioBackend;
using platform::AudioDevice;
using platform::AudioOutput;

constexpr const char* kMovie = "testsrc-64x48-10fps.wmv";
constexpr const char* kFirstFrameMd5 = "fa09cc4686e9497a1902e7912566043c";

class WindowsMediaTest : public ::testing::Test {
 protected:
  WindowsMediaTest() {
    device_.Open(AudioBackend::Manual);
    slot_ = static_cast<AudioOutput*>(&device_);
    session_ = std::make_unique<LibrarySession>(&slot_, false);
  }
  ~WindowsMediaTest() override { session_.reset(); }

  std::vector<int16_t> Render(size_t frames) {
    std::vector<int16_t> out(frames * 2);
    for (size_t done = 0; done < frames; done += 1024) {
      zirkOggmanUpdate();
      device_.Render(out.data() + done * 2, std::min<size_t>(1024, frames - done));
    }
    return out;
  }

  AudioDevice device_;
  void* slot_ = nullptr;
  std::unique_ptr<LibrarySession> session_;
};

// FFmpeg's own decode of the file holds 32768 samples at 22050 Hz: 65536
// frames at 44100 Hz (1486 ms); the container claims 1532 ms.
constexpr size_t kWmaFrames = 65536;

TEST_F(WindowsMediaTest, LengthAndSoundOfAWmaFile) {
  Bytes wma = LoadAudio("tone-1500ms.wma");
  const ZirkHandle h = zirkWmpmanAdd(wma.data(), static_cast<int32_t>(wma.size()));
  ASSERT_NE(h, 0u);
  // The library keeps its own copy.
  std::fill(wma.begin(), wma.end(), 0);
  EXPECT_NEAR(zirkWmpGetLen(h), 1500, 50);
  zirkWmpPlay(h);
  auto heard = Render(kWmaFrames - 10);
  EXPECT_FALSE(zirkWmpIsEnd(h));
  auto rest = Render(4000);
  EXPECT_TRUE(zirkWmpIsEnd(h));
  heard.insert(heard.end(), rest.begin(), rest.end());
  int crossings = 0;
  size_t lastSound = 0;
  for (size_t i = 1; i < heard.size() / 2; ++i) {
    if ((heard[(i - 1) * 2] < 0) != (heard[i * 2] < 0)) ++crossings;
    if (heard[i * 2] != 0) lastSound = i;
  }
  EXPECT_NEAR(crossings, 1325, 10);  // 440 Hz
  EXPECT_NEAR(static_cast<double>(lastSound), kWmaFrames, 50);
  zirkWmpmanDel(h);
  EXPECT_EQ(zirkWmpmanAdd(wma.data(), static_cast<int32_t>(wma.size())), 0u);  // now zeros
}

TEST_F(WindowsMediaTest, LoopingStartsEachRoundWithTheSameSamples) {
  const Bytes wma = LoadAudio("tone-1500ms.wma");
  const ZirkHandle h = zirkWmpmanAdd(wma.data(), static_cast<int32_t>(wma.size()));
  ASSERT_NE(h, 0u);
  zirkWmpSetAutoRepeat(h, -1);
  zirkWmpPlay(h);
  auto heard = Render(kWmaFrames * 5 / 2);
  EXPECT_FALSE(zirkWmpIsEnd(h));
  EXPECT_TRUE(zirkWmpIsPlaying(h));
  for (size_t i = 0; i < kWmaFrames * 3; ++i) ASSERT_EQ(heard[i], heard[i + kWmaFrames * 2]) << i;
  // Pause and Play continue where the sound was.
  zirkWmpPause(h);
  const int32_t at = zirkWmpGetPosition(h);
  Render(2000);
  EXPECT_EQ(zirkWmpGetPosition(h), at);
  zirkWmpPlay(h);
  auto next = Render(1000);
  EXPECT_TRUE(std::equal(next.begin(), next.end(), heard.begin() + (kWmaFrames / 2) * 2));
  zirkWmpmanDel(h);
}

TEST(Movie, DecoderDeliversEveryPicture) {
  auto bytes = std::make_shared<const Bytes>(LoadAudio(kMovie));
  auto decoder = medialib::VideoDecoder::Open(std::make_unique<medialib::MemorySource>(bytes));
  ASSERT_TRUE(decoder);
  EXPECT_EQ(decoder->Width(), 64);
  EXPECT_EQ(decoder->Height(), 48);
  EXPECT_NEAR(decoder->DurationMs(), 1000, 60);
  medialib::VideoFrame frame;
  std::vector<int64_t> times;
  std::string first;
  while (decoder->Next(frame)) {
    if (times.empty()) first = Md5(frame.pixels);
    times.push_back(frame.ptsMs);
  }
  ASSERT_EQ(times.size(), 10u);
  EXPECT_EQ(first, kFirstFrameMd5);
  for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(times[i], 100 * static_cast<int64_t>(i), 2);
  // Seeking into the middle delivers the picture at or after the time asked.
  ASSERT_TRUE(decoder->Seek(450));
  ASSERT_TRUE(decoder->Next(frame));
  EXPECT_NEAR(frame.ptsMs, 500, 2);
}

// An SWF file showing one FLV1 picture, then a tag of zeros and the end tag:
// FFmpeg's reader of a packed SWF file drops the last bytes it inflates.
Bytes SwfOfPicture(const Bytes& picture) {
  Bytes b{0x46, 0x57, 0x53, 0x06, 0,    0,    0,    0,    0x50, 0x00, 0xA0, 0x00, 0x0A,
          0x00, 0x00, 0x0A, 0x01, 0x00, 0x0A, 0x0F, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00,
          0x10, 0x00, 0x00, 0x02, 0x95, 0x06, 0x36, 0x01, 0x00, 0x00, 0x00, 0xC9, 0x00,
          0x00, 0x40, 0x00, 0x21, 0x02, 0x00, 0x00, 0x00, 0x76, 0x69, 0x64, 0x65, 0x6F,
          0x00, 0x7F, 0x0F, 0,    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  b[55] = static_cast<uint8_t>(4 + picture.size());
  b.insert(b.end(), picture.begin(), picture.end());
  b.insert(b.end(), {0x40, 0x00, 0xFF, 0x3F, 0x00, 0x10, 0x00, 0x00});
  b.resize(b.size() + 4096 + 2);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(b.size() >> (8 * i));
  return b;
}

// Packed: "CWS", the version and size, then the rest deflated.
Bytes Packed(const Bytes& plain) {
  Bytes packed(plain.begin(), plain.begin() + 8);
  packed[0] = 'C';
  uLongf size = compressBound(plain.size() - 8);
  packed.resize(8 + size);
  EXPECT_EQ(compress(packed.data() + 8, &size, plain.data() + 8, plain.size() - 8), Z_OK);
  packed.resize(8 + size);
  return packed;
}

TEST(Movie, APackedSwfFilePlaysAsThePlainOne) {
  // A 16 x 16 picture.
  const Bytes plain = SwfOfPicture(
      {0x00, 0x00, 0x84, 0x00, 0x08, 0x08, 0x1F, 0xA6, 0xA2, 0xA2, 0xA2, 0xA2, 0xB5, 0xE0});
  const Bytes packed = Packed(plain);
  std::vector<std::string> pictures[2];
  for (int i = 0; i < 2; ++i) {
    auto bytes = std::make_shared<const Bytes>(i ? packed : plain);
    auto decoder = medialib::VideoDecoder::Open(std::make_unique<medialib::MemorySource>(bytes));
    ASSERT_TRUE(decoder) << i;
    EXPECT_EQ(decoder->Width(), 16);
    medialib::VideoFrame frame;
    while (decoder->Next(frame)) pictures[i].push_back(Md5(frame.pixels));
  }
  EXPECT_EQ(pictures[0].size(), 1u);
  EXPECT_EQ(pictures[1], pictures[0]);
}

TEST(Movie, ItemShowsItsPicturesAndEnds) {
  LibrarySession session(nullptr, true);
  MemStream stream{LoadAudio(kMovie)};
  const ZirkHandle h = zirkVidmanAdd("movie.wmv", &stream, -1);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(zirkVideoGetSourceWidth(h), 64);
  EXPECT_EQ(zirkVideoGetSourceHeight(h), 48);
  EXPECT_NEAR(zirkVideoGetLen(h), 1000, 60);
  // The first picture is there before Play.
  EXPECT_TRUE(zirkVideoNeedPaint(h));
  const ZirkVideoFrame* frame = zirkVideoGetDC(h);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->width, 64);
  EXPECT_EQ(frame->height, 48);
  EXPECT_EQ(frame->pitch, 256);
  EXPECT_EQ(frame->format, ZIRK_FRAME_BGRA32);
  EXPECT_EQ(Md5(frame->pixels, 64 * 48 * 4), kFirstFrameMd5);
  EXPECT_FALSE(zirkVideoNeedPaint(h));

  ZirkRect source{0, 0, 64, 48}, dest{10, 10, 74, 58};
  zirkVideoSetRect(h, &source, &dest);
  zirkVideoSetVisible(h, -1);
  EXPECT_TRUE(zirkVideoGetVisible(h));

  zirkVideoPlay(h);
  std::set<std::string> seen{kFirstFrameMd5};
  const auto start = std::chrono::steady_clock::now();
  while (!zirkVideoIsEnd(h) && std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
    if (zirkVideoNeedPaint(h)) seen.insert(Md5(zirkVideoGetDC(h)->pixels, 64 * 48 * 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(zirkVideoIsEnd(h));
  EXPECT_FALSE(zirkVideoIsPlaying(h));
  EXPECT_GE(seen.size(), 5u);  // a busy machine may skip some pictures
  zirkVidmanDel(h);
}

TEST(Movie, PicturesFollowTheSoundThatWasPlayed) {
  auto bytes = std::make_shared<const Bytes>(LoadAudio(kMovie));
  auto decoder = medialib::VideoDecoder::Open(std::make_unique<medialib::MemorySource>(bytes));
  ASSERT_TRUE(decoder);
  std::vector<std::string> pictures;
  for (medialib::VideoFrame f; decoder->Next(f);) pictures.push_back(Md5(f.pixels));
  ASSERT_EQ(pictures.size(), 10u);

  AudioDevice device;
  device.Open(AudioBackend::Manual);
  void* slot = static_cast<AudioOutput*>(&device);
  LibrarySession session(&slot, false);
  MemStream stream{*bytes};
  const ZirkHandle h = zirkVidmanAdd("movie.wmv", &stream, -1);
  ASSERT_NE(h, 0u);
  zirkVideoPlay(h);
  std::vector<int16_t> block(441 * 2);
  auto playMs = [&](int ms) {
    for (int i = 0; i < ms / 10; ++i) {
      zirkOggmanUpdate();
      device.Render(block.data(), 441);
    }
    zirkOggmanUpdate();
  };
  struct Step {
    int playMs;
    size_t picture;
  } steps[] = {{0, 0}, {150, 1}, {100, 2}, {300, 5}, {240, 7}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.picture);
    playMs(step.playMs);
    const ZirkVideoFrame* frame = zirkVideoGetDC(h);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(Md5(frame->pixels, 64 * 48 * 4), pictures[step.picture]);
  }
  // No sound played, no time passed for the movie.
  const int32_t at = zirkVideoGetPosition(h);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  EXPECT_FALSE(zirkVideoNeedPaint(h));
  EXPECT_EQ(zirkVideoGetPosition(h), at);
  // A position set while playing moves pictures and sound together.
  zirkVideoSetPosition(h, 300);
  zirkOggmanUpdate();
  EXPECT_EQ(Md5(zirkVideoGetDC(h)->pixels, 64 * 48 * 4), pictures[3]);
  // The sound ends first; the last moments of the pictures run on real time.
  playMs(1200);
  for (int i = 0; i < 100 && !zirkVideoIsEnd(h); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    zirkOggmanUpdate();
  }
  EXPECT_TRUE(zirkVideoIsEnd(h));
  EXPECT_EQ(Md5(zirkVideoGetDC(h)->pixels, 64 * 48 * 4), pictures[9]);
  zirkVidmanDel(h);
}

TEST(Movie, LoopingMovieStartsOver) {
  AudioDevice device;
  device.Open(AudioBackend::Manual);
  void* slot = static_cast<AudioOutput*>(&device);
  LibrarySession session(&slot, false);
  MemStream stream{LoadAudio(kMovie)};
  const ZirkHandle h = zirkVidmanAdd("movie.wmv", &stream, -1);
  ASSERT_NE(h, 0u);
  zirkVideoSetAutoRepeat(h, -1);
  zirkVideoPlay(h);
  const std::string first = Md5(zirkVideoGetDC(h)->pixels, 64 * 48 * 4);
  std::vector<int16_t> block(441 * 2);
  bool sawFirstAgain = false;
  for (int i = 0; i < 300; ++i) {  // 3 s
    zirkOggmanUpdate();
    device.Render(block.data(), 441);
    if (i > 120 && zirkVideoNeedPaint(h))
      sawFirstAgain |= Md5(zirkVideoGetDC(h)->pixels, 64 * 48 * 4) == first;
  }
  EXPECT_TRUE(sawFirstAgain);
  EXPECT_FALSE(zirkVideoIsEnd(h));
  EXPECT_TRUE(zirkVideoIsPlaying(h));
  EXPECT_LT(zirkVideoGetPosition(h), zirkVideoGetLen(h));
  zirkVidmanDel(h);
}

TEST(Movie, SilentMovieRunsOnRealTime) {
  LibrarySession session(nullptr, true);
  MemStream stream{LoadAudio("testsrc-32x32-silent.wmv")};
  const ZirkHandle h = zirkVidmanAdd("silent.wmv", &stream, -1);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(zirkVideoGetSourceWidth(h), 32);
  EXPECT_NEAR(zirkVideoGetLen(h), 500, 10);
  zirkVideoSetVol(h, -600);  // no sound to set: kept and answered
  EXPECT_EQ(zirkVideoGetVol(h), -600);
  const auto start = std::chrono::steady_clock::now();
  zirkVideoPlay(h);
  while (!zirkVideoIsEnd(h) && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(zirkVideoIsEnd(h));
  EXPECT_GE(took, std::chrono::milliseconds(480));
  EXPECT_EQ(zirkVideoGetPosition(h), zirkVideoGetLen(h));
  // Play after the end starts over.
  zirkVideoPlay(h);
  EXPECT_FALSE(zirkVideoIsEnd(h));
  EXPECT_LT(zirkVideoGetPosition(h), 100);
  zirkVidmanDel(h);
}

TEST(Movie, SuspendPausesAndResumeContinues) {
  LibrarySession session(nullptr, true);
  MemStream stream{LoadAudio(kMovie)};
  const ZirkHandle h = zirkVidmanAdd("movie.wmv", &stream, -1);
  ASSERT_NE(h, 0u);
  zirkVideoPlay(h);
  zirkVidmanSuspend();
  EXPECT_TRUE(zirkVideoIsPaused(h));
  const int32_t at = zirkVideoGetPosition(h);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(zirkVideoGetPosition(h), at);
  zirkVidmanResume();
  EXPECT_TRUE(zirkVideoIsPlaying(h));
  zirkVidmanDel(h);
  // Deleting while suspended is fine too.
  const ZirkHandle g = zirkVidmanAdd("movie.wmv", &stream, -1);
  zirkVideoPlay(g);
  zirkVidmanSuspend();
  zirkVidmanDel(g);
  zirkVidmanResume();
}

TEST(Movie, DamagedMoviesMakeNoItem) {
  LibrarySession session;
  Bytes movie = LoadAudio(kMovie);
  for (size_t keep : {size_t{0}, size_t{16}, size_t{400}}) {
    MemStream stream{Bytes(movie.begin(), movie.begin() + static_cast<long>(keep))};
    EXPECT_EQ(zirkVidmanAdd("x.wmv", &stream, -1), 0u) << keep;
  }
  MemStream sound{LoadAudio("pcm16-mono-22050.wav")};
  EXPECT_EQ(zirkVidmanAdd("x.wav", &sound, -1), 0u);  // no picture
}

extern "C" size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

// The bytes allocated now, as the sanitizer or else the C library counts them.
size_t MemoryHeld() {
  if (__sanitizer_get_current_allocated_bytes) return __sanitizer_get_current_allocated_bytes();
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// A movie in memory that notes the most memory allocated at any of its reads.
class WatchedSource final : public medialib::ByteSource {
 public:
  WatchedSource(Bytes movie, size_t& peak)
      : bytes_(std::make_shared<const Bytes>(std::move(movie))), peak_(peak) {}
  int64_t Size() override { return bytes_.Size(); }
  int32_t Read(void* buffer, int32_t count) override {
    peak_ = std::max(peak_, MemoryHeld());
    return bytes_.Read(buffer, count);
  }
  int64_t Seek(int64_t position) override { return bytes_.Seek(position); }
  int64_t Tell() const override { return bytes_.Tell(); }

 private:
  medialib::MemorySource bytes_;
  size_t& peak_;
};

TEST(Movie, PicturesPastTheSizeLimitAreRefusedUndecoded) {
  LibrarySession session;
  // YUV4MPEG2 headers without a picture: the size is all there is.
  for (auto [width, height, plays] : {std::tuple{3840, 2160, true},
                                      {4096, 2304, true},
                                      {4112, 16, false},
                                      {16, 4112, false},
                                      {4096, 2320, false}}) {
    const std::string head =
        "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F10:1\nFRAME\n";
    MemStream stream{Bytes(head.begin(), head.end())};
    const ZirkHandle h = zirkVidmanAdd("big.wmv", &stream, -1);
    EXPECT_EQ(zirkVideoGetSourceWidth(h), plays ? width : 0) << width << "x" << height;
    zirkVidmanDel(h);
  }
  // An MPEG program stream of one 8192 x 8192 H.264 picture (parameter
  // sets, the first macroblock of a slice): its stream is found only as it
  // is read, and probing decodes it within the limit too, so no more is
  // taken than four 4:2:0 pictures at the limit.
  const Bytes whole{0,    0,    1,    0xBA, 0x44, 0,    4,    0, 4,    1,    1,    0x89, 0xC3, 0xF8,
                    0,    0,    1,    0xE0, 0,    0x23, 0x80, 0, 0,    0,    0,    0,    1,    0x67,
                    0x42, 0,    0x33, 0xDA, 0,    0x20, 0,    4, 1,    0x90, 0,    0,    0,    1,
                    0x68, 0xCE, 0x38, 0x80, 0,    0,    0,    1, 0x65, 0x88, 0x84, 0x93, 0xC0};
  // The same picture with sound, as the bytes after the first pack of a
  // longer stream: the first sound packet begins with the end of a frame of
  // the pack cut off, so FFmpeg times the frame after it only once it has
  // read them.
  const auto sound = [](uint8_t time, const Bytes& frames) {  // at time x 128 / 90 ms
    Bytes b{0, 0, 1, 0xC0, 0, 0, 0x80, 0x80, 5, 0x21, 0, 1, time, 1};
    b.insert(b.end(), frames.begin(), frames.end());
    b[4] = static_cast<uint8_t>((b.size() - 6) >> 8);
    b[5] = static_cast<uint8_t>(b.size() - 6);
    return b;
  };
  const Bytes frame = MpegAudio(44100, 1, 1);
  Bytes ends(frame.begin() + 300, frame.end());
  for (int i = 0; i < 2; ++i) ends.insert(ends.end(), frame.begin(), frame.end());
  Bytes cut(whole.begin(), whole.begin() + 14);
  for (const Bytes& part :
       {sound(70, ends), sound(125, frame), Bytes(whole.begin() + 14, whole.end())})
    cut.insert(cut.end(), part.begin(), part.end());
  // A packed SWF file, whose reader cannot go back, of a 16000 x 16000
  // picture.
  const Bytes swf = Packed(SwfOfPicture({0x00, 0x00, 0x84, 0x00, 0x9F, 0x40, 0x1F, 0x40, 0x1F, 0xA6,
                                         0xA2, 0xA2, 0xA2, 0xA2, 0xB5, 0xE0}));
  for (const Bytes& movie : {whole, cut, swf}) {
    size_t peak = MemoryHeld();
    const size_t before = peak;
    EXPECT_FALSE(medialib::VideoDecoder::Open(std::make_unique<WatchedSource>(movie, peak)));
    EXPECT_LT(peak - before, static_cast<size_t>(medialib::kMaxPicturePixels * 6)) << movie.size();
  }
}

TEST(SharedLibrary, ExportsEveryEntryByName) {
  void* lib = dlopen(ZIRK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  int found = 0;
#define ZIRK_COUNT_ENTRY(name)                    \
  EXPECT_NE(dlsym(lib, #name), nullptr) << #name; \
  ++found;
  ZIRK_ENTRIES(ZIRK_COUNT_ENTRY)
#undef ZIRK_COUNT_ENTRY
  EXPECT_EQ(found, ZIRK_ENTRY_COUNT);
  auto version = reinterpret_cast<int32_t (*)()>(dlsym(lib, "zirkVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version(), 108);
  // Nothing of the inside leaks out.
  EXPECT_EQ(dlsym(lib, "_ZN4zirk8medialib9LevelGainEi"), nullptr);
  dlclose(lib);
}

}  // namespace
}  // namespace zirk::test
