#include "medialib/wave.h"

#include <algorithm>
#include <cstring>

namespace zirk::medialib {

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
constexpr int kMaxChannels = 32;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The tail every KSDATAFORMAT_SUBTYPE GUID shares after its 16-bit tag.
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool ReadFormat(ByteSource& bytes, uint32_t size, WaveInfo& info) {
  if (size < 16) return false;
  uint8_t f[40] = {};
  const int32_t n = static_cast<int32_t>(std::min<uint32_t>(size, sizeof f));
  if (!bytes.ReadExact(f, n)) return false;
  info.formatTag = U16(f);
  info.channels = U16(f + 2);
  info.rate = static_cast<int>(std::min<uint32_t>(U32(f + 4), kMaxSoundRate + 1));
  info.blockAlign = U16(f + 12);
  info.bits = U16(f + 14);
  if (info.formatTag == kTagExtensible) {
    if (n < 40 || std::memcmp(f + 26, kGuidTail, sizeof kGuidTail) != 0) return false;
    info.formatTag = U16(f + 24);
  }
  return info.channels >= 1 && info.channels <= kMaxChannels && SoundRateAllowed(info.rate) &&
         info.blockAlign >= 1;
}

}  // namespace

bool WaveInfo::Playable() const {
  return formatTag == kTagPcm && (bits == 8 || bits == 16) && (channels == 1 || channels == 2) &&
         blockAlign == channels * bits / 8;
}

bool ParseWave(ByteSource& bytes, WaveInfo& info) {
  const int64_t fileSize = bytes.Size();
  uint8_t head[12];
  if (bytes.Seek(0) != 0 || !bytes.ReadExact(head, 12)) return false;
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
  WaveInfo found;
  bool haveFormat = false;
  bool haveData = false;
  int64_t pos = 12;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    uint8_t chunk[8];
    if (bytes.Seek(pos) != pos || !bytes.ReadExact(chunk, 8)) break;
    const uint32_t size = U32(chunk + 4);
    const int64_t body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0 && !haveFormat) {
      if (body + size > fileSize || !ReadFormat(bytes, size, found)) return false;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0 && !haveData) {
      // Truncated files are common: play what is there.
      found.dataOffset = body;
      found.dataBytes = std::min<int64_t>(size, fileSize - body);
      haveData = true;
    }
    pos = body + size + (size & 1);
  }
  if (!haveFormat || !haveData) return false;
  info = found;
  return true;
}

std::unique_ptr<WaveSource> WaveSource::Open(std::unique_ptr<ByteSource> bytes) {
  WaveInfo info;
  if (!bytes || !ParseWave(*bytes, info) || !info.Playable()) return nullptr;
  auto source = std::unique_ptr<WaveSource>(new WaveSource(std::move(bytes), info));
  if (!source->SeekFrame(0)) return nullptr;
  return source;
}

WaveSource::WaveSource(std::unique_ptr<ByteSource> bytes, const WaveInfo& info)
    : bytes_(std::move(bytes)), info_(info) {
  format_ = {info.rate, info.channels, info.bits};
  frames_ = info.dataBytes / info.blockAlign;
}

int64_t WaveSource::ReadFrames(void* out, int64_t frames) {
  frames = std::min(frames, frames_ - position_);
  if (frames <= 0) return 0;
  const int64_t align = info_.blockAlign;
  const int64_t maxChunk = (int64_t{1} << 30) / align;
  auto* dst = static_cast<uint8_t*>(out);
  int64_t done = 0;
  while (done < frames) {
    const int64_t want = std::min(frames - done, maxChunk);
    int32_t got = bytes_->Read(dst + done * align, static_cast<int32_t>(want * align));
    if (got <= 0) break;
    int64_t whole = got / align;
    if (got % align) {
      // Never hand out half a frame: step back to the frame boundary.
      bytes_->Seek(info_.dataOffset + (position_ + done + whole) * align);
    }
    done += whole;
    if (whole == 0) break;
  }
  position_ += done;
  return done;
}

bool WaveSource::SeekFrame(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, frames_);
  const int64_t at = info_.dataOffset + frame * info_.blockAlign;
  if (bytes_->Seek(at) != at) return false;
  position_ = frame;
  return true;
}

}  // namespace zirk::medialib
