#pragma once
// Helpers of the media library tests: in-memory streams behind the four
// callbacks, a library session, WAVE files made in the test, MD5.

#include <cstdint>
#include <string>
#include <vector>

#include "medialib/zirk.h"

namespace zirk::test {

using Bytes = std::vector<uint8_t>;

// A stream object as the player would hand it over: the callbacks below
// read it. `reads` counts read calls.
struct MemStream {
  Bytes data;
  int64_t position = 0;
  int reads = 0;
};

// Opens the library with the memory-stream callbacks and closes it again.
// `slot` is the SharedDirectSound slot (null device = the silent output).
class LibrarySession {
 public:
  explicit LibrarySession(void** slot = nullptr, bool useThread = false);
  ~LibrarySession();
  LibrarySession(const LibrarySession&) = delete;
  LibrarySession& operator=(const LibrarySession&) = delete;
};

Bytes LoadAudio(const std::string& name);  // tests/data/audio/<name>

// A RIFF/WAVE file of 8/16-bit PCM; `samples` are the raw data bytes. The
// header claims `bytesPerSecond`, or what PCM of the format has.
Bytes MakeWave(int rate, int channels, int bits, const Bytes& samples, uint16_t tag = 1,
               uint32_t bytesPerSecond = 0);
// Silent MPEG audio layer II frames of 1152 samples: MPEG-1 at 44100 Hz and
// 160 kbit/s, MPEG-2 at 22050 Hz and 64 kbit/s.
Bytes MpegAudio(int rate, int channels, int frames);
// FLAC frames (up to 127) of `samples` silent mono 16-bit samples whose
// headers say `rate` Hz, in a WAVE file that says 44100 Hz.
Bytes FlacInWave(int rate, int samples, int frames = 1);
// Frames of a sawtooth, so that every frame differs from its neighbours.
Bytes Ramp(int channels, int bits, int frames);

std::string Md5(const void* data, size_t size);
inline std::string Md5(const Bytes& b) {
  return Md5(b.data(), b.size());
}

// Every byte the PCM decoder gives for a stream, with its format.
struct Decoded {
  ZirkPcmFormat format{};
  int32_t size = 0;
  int32_t lengthMs = 0;
  Bytes pcm;
};
bool DecodeAll(MemStream& stream, bool isOgg, Decoded& out);

}  // namespace zirk::test
