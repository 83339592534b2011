// Decoding a 60 s Ogg file to 16-bit PCM: through the media library's PCM
// decoder (stream callbacks, lock and all) and through bare libvorbisfile
// over the same bytes in memory.
// `OpenMpegInWave/MIN` opens MIN minutes of MPEG audio in a WAVE file without
// a fact chunk, whose length FFmpeg only guesses, and reads its length: the
// opening counts frame headers and decodes nothing, so four hours open about
// as fast as one minute. `OpenFlacInWave` does the same with ten minutes of
// 44100 Hz stereo FLAC, whose frames' headers FFmpeg's parser reads.
// `OpenMovie/KIND` opens a 10 s 320 x 240 movie with sound and reads its
// length, as a video object does: an MPEG program stream and an FLV file,
// whose streams are found by reading ahead, an SWF file packed with zlib,
// which cannot go back after that and is opened again, and a WMV file,
// whose header names its streams. The `silent_` kinds have no sound, so the
// read-ahead goes as far as probing reads: a 60 s 640 x 480 FLV file, a
// 60 s 352 x 288 MPEG-1 program stream and a 20 s 640 x 480 MPEG-2
// transport stream of 8 Mbit/s; `late_sound_ts` is that transport stream
// with sound from 10 s on.

#include <benchmark/benchmark.h>
#include <vorbis/vorbisfile.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/streams.h"
#include "media/zirkdll.h"

namespace {

const std::vector<uint8_t>& oggBytes() {
  static const std::vector<uint8_t> bytes = [] {
    zirk::TKwMemoryStream stream;
    stream.LoadFromFile(BENCH_OGG);
    return stream.Bytes();
  }();
  return bytes;
}

bool bindLibrary() {
  static const bool bound = [] {
    if (zirk::LoadMediaDll(ZIRK_MEDIALIB_DIR) != zirk::TMediaDllStatus::mdsOk) return false;
    static uintptr_t window = 0, panel = 0;
    static void* sharedDirectSound = nullptr;
    return zirk::zirkInit(&window, &panel, nullptr, &sharedDirectSound, zirk::DllStreamGetSize,
                          zirk::DllStreamRead, zirk::DllStreamGetPosition, zirk::DllStreamSeek,
                          zirk::SaveFpuControlWord, zirk::RestoreFpuControlWord, 0) != 0;
  }();
  return bound;
}

void Decode60s_zirk(benchmark::State& state) {
  if (!bindLibrary()) {
    state.SkipWithError("libzirk.so could not be bound");
    return;
  }
  std::vector<char> buffer(64 * 1024);
  int64_t total = 0;
  for (auto _ : state) {
    zirk::TKwMemoryStream stream;
    stream.Assign(oggBytes());
    const ZirkHandle decoder = zirk::zirkOggStrmanAdd(&stream, -1);
    int32_t n;
    while ((n = zirk::zirkOggStrRead(decoder, buffer.data(), static_cast<int32_t>(buffer.size()))) >
           0) {
      total += n;
    }
    zirk::zirkOggStrmanDel(decoder);
  }
  state.SetBytesProcessed(total);
  state.counters["pcm_bytes"] =
      static_cast<double>(total / std::max<int64_t>(state.iterations(), 1));
}
BENCHMARK(Decode60s_zirk)->Name("Decode60s/zirk")->Unit(benchmark::kMillisecond);

// Silent MPEG-2 layer II frames at 22050 Hz and 8 kbit/s (52 bytes, 1152
// samples each) in a WAVE file of format tag 0x50 and no fact chunk.
std::vector<uint8_t> mpegInWave(int64_t minutes) {
  const int64_t frames = minutes * 60 * 22050 / 1152;
  const uint32_t data = static_cast<uint32_t>(frames * 52);
  std::vector<uint8_t> b;
  const auto put = [&b](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  put(36 + data, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  for (uint32_t v : {16u, 0x50u | 1u << 16, 22050u, 1000u, 1u | 16u << 16}) put(v, 4);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  put(data, 4);
  for (int64_t i = 0; i < frames; ++i) {
    b.insert(b.end(), {0xFF, 0xF5, 0x10, 0xC0});  // MPEG-2, layer II, 8 kbit/s, mono
    b.resize(b.size() + 48);
  }
  return b;
}

// FLAC as FFmpeg writes it in a WAVE file, its fact chunk renamed.
std::vector<uint8_t> flacInWave() {
  zirk::TKwMemoryStream stream;
  stream.LoadFromFile(BENCH_FLAC_WAVE);
  std::vector<uint8_t> b = stream.Bytes();
  const char fact[] = "fact";
  const auto end = b.begin() + std::min<ptrdiff_t>(256, std::ssize(b));
  const auto at = std::search(b.begin(), end, fact, fact + 4);
  if (at != end) std::copy_n("JUNK", 4, at);
  return b;
}

// Opens an item over the bytes and reads its length: `open` answers the
// item's handle (0: it did not open), `length` its length, `close` drops it.
// The library's procedures are taken by reference: a copy taken before
// binding stays empty.
template <typename Open, typename Length, typename Close>
void openItem(benchmark::State& state, const std::vector<uint8_t>& bytes, Open open,
              const Length& length, const Close& close) {
  if (!bindLibrary()) {
    state.SkipWithError("libzirk.so could not be bound");
    return;
  }
  int32_t ms = 0;
  for (auto _ : state) {
    zirk::TKwMemoryStream stream;
    stream.Assign(bytes);
    const ZirkHandle item = open(&stream);
    if (item == 0) {
      state.SkipWithError("the item does not open");
      return;
    }
    ms = length(item);
    close(item);
  }
  state.counters["length_ms"] = ms;
}

// Opens the WAVE file and reads its length, as a film does.
void openWave(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  openItem(
      state, bytes, [](void* stream) { return zirk::zirkOggStrmanAdd(stream, 0); },
      zirk::zirkOggStrGetLen, zirk::zirkOggStrmanDel);
}

void OpenMpegInWave(benchmark::State& state) {
  openWave(state, mpegInWave(state.range(0)));
}
BENCHMARK(OpenMpegInWave)->Arg(1)->Arg(240)->Unit(benchmark::kMillisecond);

void OpenFlacInWave(benchmark::State& state) {
  openWave(state, flacInWave());
}
BENCHMARK(OpenFlacInWave)->Unit(benchmark::kMillisecond);

std::vector<uint8_t> loadFile(const char* path) {
  zirk::TKwMemoryStream stream;
  stream.LoadFromFile(path);
  return stream.Bytes();
}

// An SWF file packed: "CWS", the version and size, then the rest deflated.
std::vector<uint8_t> packedSwf() {
  const std::vector<uint8_t> plain = loadFile(BENCH_MOVIE_DIR "/movie.swf");
  std::vector<uint8_t> packed(plain.begin(), plain.begin() + 8);
  packed[0] = 'C';
  uLongf size = compressBound(plain.size() - 8);
  packed.resize(8 + size);
  if (compress(packed.data() + 8, &size, plain.data() + 8, plain.size() - 8) != Z_OK) return {};
  packed.resize(8 + size);
  return packed;
}

// Opens the movie and reads its length, as a video object does.
void OpenMovie(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  openItem(
      state, bytes, [](void* stream) { return zirk::zirkVidmanAdd("movie", stream, 0); },
      zirk::zirkVideoGetLen, zirk::zirkVidmanDel);
}
BENCHMARK_CAPTURE(OpenMovie, mpg, loadFile(BENCH_MOVIE_DIR "/movie.mpg"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, flv, loadFile(BENCH_MOVIE_DIR "/movie.flv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, packed_swf, packedSwf())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, wmv, loadFile(BENCH_MOVIE_DIR "/movie.wmv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, silent_flv, loadFile(BENCH_MOVIE_DIR "/silent.flv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, silent_mpg, loadFile(BENCH_MOVIE_DIR "/silent.mpg"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, silent_ts, loadFile(BENCH_MOVIE_DIR "/silent.ts"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenMovie, late_sound_ts, loadFile(BENCH_MOVIE_DIR "/late-sound.ts"))
    ->Unit(benchmark::kMillisecond);

struct MemoryReader {
  const std::vector<uint8_t>* bytes;
  size_t pos = 0;
};

size_t readMemory(void* out, size_t size, size_t count, void* source) {
  auto* r = static_cast<MemoryReader*>(source);
  const size_t want = size * count;
  const size_t n = std::min(want, r->bytes->size() - r->pos);
  std::memcpy(out, r->bytes->data() + r->pos, n);
  r->pos += n;
  return size != 0 ? n / size : 0;
}

int seekMemory(void* source, ogg_int64_t offset, int whence) {
  auto* r = static_cast<MemoryReader*>(source);
  const int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<int64_t>(r->pos)
                                            : static_cast<int64_t>(r->bytes->size());
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(r->bytes->size())) return -1;
  r->pos = static_cast<size_t>(target);
  return 0;
}

long tellMemory(void* source) {
  return static_cast<long>(static_cast<MemoryReader*>(source)->pos);
}

void Decode60s_vorbisfile(benchmark::State& state) {
  std::vector<char> buffer(64 * 1024);
  int64_t total = 0;
  for (auto _ : state) {
    MemoryReader reader{&oggBytes()};
    OggVorbis_File file;
    const ov_callbacks callbacks{readMemory, seekMemory, nullptr, tellMemory};
    if (ov_open_callbacks(&reader, &file, nullptr, 0, callbacks) != 0) {
      state.SkipWithError("not an Ogg Vorbis file");
      return;
    }
    int section = 0;
    long n;
    while ((n = ov_read(&file, buffer.data(), static_cast<int>(buffer.size()), 0, 2, 1, &section)) >
           0) {
      total += n;
    }
    ov_clear(&file);
  }
  state.SetBytesProcessed(total);
  state.counters["pcm_bytes"] =
      static_cast<double>(total / std::max<int64_t>(state.iterations(), 1));
}
BENCHMARK(Decode60s_vorbisfile)->Name("Decode60s/vorbisfile")->Unit(benchmark::kMillisecond);

}  // namespace
