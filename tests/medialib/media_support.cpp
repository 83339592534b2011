#include "media_support.h"

extern "C" {
#include <libavutil/md5.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/testdata.h"

namespace zirk::test {

namespace {

int64_t GetSize(void* s) {
  return s ? static_cast<int64_t>(static_cast<MemStream*>(s)->data.size()) : 0;
}

int32_t Read(void* s, void* buffer, int32_t count) {
  if (!s) return 0;
  auto* m = static_cast<MemStream*>(s);
  ++m->reads;
  const int64_t left = static_cast<int64_t>(m->data.size()) - m->position;
  const int32_t n = static_cast<int32_t>(std::clamp<int64_t>(count, 0, std::max<int64_t>(left, 0)));
  if (n > 0) std::memcpy(buffer, m->data.data() + m->position, static_cast<size_t>(n));
  m->position += n;
  return n;
}

int64_t GetPosition(void* s) {
  return s ? static_cast<MemStream*>(s)->position : 0;
}

int64_t Seek(void* s, int64_t position) {
  if (!s) return 0;
  auto* m = static_cast<MemStream*>(s);
  m->position = std::clamp<int64_t>(position, 0, static_cast<int64_t>(m->data.size()));
  return m->position;
}

uint16_t SaveFpu() {
  return 0x37F;
}
void RestoreFpu() {}

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// CRC of FLAC's frames: most significant bit first, no reflection, from 0.
uint32_t Crc(const Bytes& b, int width, uint32_t poly) {
  const uint32_t top = 1u << (width - 1), mask = (top << 1) - 1;
  uint32_t crc = 0;
  for (uint8_t byte : b) {
    crc ^= static_cast<uint32_t>(byte) << (width - 8);
    for (int i = 0; i < 8; ++i) crc = (crc & top ? crc << 1 ^ poly : crc << 1) & mask;
  }
  return crc;
}

}  // namespace

LibrarySession::LibrarySession(void** slot, bool useThread) {
  zirkInit(nullptr, nullptr, nullptr, slot, GetSize, Read, GetPosition, Seek, SaveFpu, RestoreFpu,
           0);
  zirkOggmanSetUseThread(useThread ? -1 : 0);
}

LibrarySession::~LibrarySession() {
  zirkFinal();
}

Bytes LoadAudio(const std::string& name) {
  return readFile(dataPath("audio/" + name));
}

Bytes MakeWave(int rate, int channels, int bits, const Bytes& samples, uint16_t tag,
               uint32_t bytesPerSecond) {
  Bytes b;
  const uint32_t align = static_cast<uint32_t>(channels * bits / 8);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put32(b, static_cast<uint32_t>(36 + samples.size() + (samples.size() & 1)));
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(b, 16);
  Put16(b, tag);
  Put16(b, static_cast<uint32_t>(channels));
  Put32(b, static_cast<uint32_t>(rate));
  Put32(b, bytesPerSecond ? bytesPerSecond : static_cast<uint32_t>(rate) * align);
  Put16(b, align);
  Put16(b, static_cast<uint32_t>(bits));
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put32(b, static_cast<uint32_t>(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  if (samples.size() & 1) b.push_back(0);
  return b;
}

Bytes MpegAudio(int rate, int channels, int frames) {
  const bool mpeg1 = rate == 44100;
  Bytes frame(static_cast<size_t>(144 * (mpeg1 ? 160000 : 64000) / rate));  // zeros: silence
  frame[0] = 0xFF;
  frame[1] = mpeg1 ? 0xFD : 0xF5;  // sync, version, layer II, no CRC
  frame[2] = mpeg1 ? 0x90 : 0x80;  // 160 or 64 kbit/s, first rate of the version
  frame[3] = channels == 1 ? 0xC0 : 0x00;
  Bytes b;
  for (int i = 0; i < frames; ++i) b.insert(b.end(), frame.begin(), frame.end());
  return b;
}

Bytes FlacInWave(int rate, int samples, int frames) {
  // Fixed block size, sizes in the header: block size - 1 and rate in Hz,
  // 16 bits each; mono, 16-bit, frame number; one constant subframe.
  Bytes all;
  for (uint8_t n = 0; n < frames; ++n) {
    Bytes f{0xFF, 0xF8, 0x7D, 0x08, n};
    for (int v : {samples - 1, rate}) f.insert(f.end(), {uint8_t(v >> 8), uint8_t(v)});
    f.push_back(static_cast<uint8_t>(Crc(f, 8, 0x07)));
    f.insert(f.end(), {0x00, 0x00, 0x00});
    const uint32_t crc = Crc(f, 16, 0x8005);
    f.insert(f.end(), {uint8_t(crc >> 8), uint8_t(crc)});
    all.insert(all.end(), f.begin(), f.end());
  }
  return MakeWave(44100, 1, 16, all, 0xF1AC);
}

Bytes Ramp(int channels, int bits, int frames) {
  Bytes b;
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      const int v = ((f * 97 + c * 1000) % 2000 - 1000) * 16;  // -16000..15984
      if (bits == 8)
        b.push_back(static_cast<uint8_t>(128 + v / 256));
      else
        Put16(b, static_cast<uint16_t>(static_cast<int16_t>(v)));
    }
  }
  return b;
}

std::string Md5(const void* data, size_t size) {
  uint8_t digest[16];
  av_md5_sum(digest, static_cast<const uint8_t*>(data), static_cast<int>(size));
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (uint8_t d : digest) {
    s += hex[d >> 4];
    s += hex[d & 15];
  }
  return s;
}

bool DecodeAll(MemStream& stream, bool isOgg, Decoded& out) {
  const ZirkHandle h = zirkOggStrmanAdd(&stream, isOgg ? -1 : 0);
  if (h == 0) return false;
  const bool ok = zirkOggStrGetFormat(h, &out.format) != 0;
  out.size = zirkOggStrGetSize(h);
  out.lengthMs = zirkOggStrGetLen(h);
  out.pcm.clear();
  uint8_t buffer[10000];
  for (;;) {
    const int32_t n = zirkOggStrRead(h, buffer, sizeof buffer);
    if (n <= 0) break;
    out.pcm.insert(out.pcm.end(), buffer, buffer + n);
  }
  zirkOggStrmanDel(h);
  return ok;
}

}  // namespace zirk::test
