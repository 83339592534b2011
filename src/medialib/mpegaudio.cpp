#include "medialib/mpegaudio.h"

#include <algorithm>
#include <vector>

namespace zirk::medialib {

namespace {

// kbit/s by [MPEG-1 or not][layer - 1][index]; index 0 is free format.
constexpr int kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr int kRates[3] = {44100, 48000, 32000};
constexpr int64_t kBlock = 65536;

}  // namespace

bool ReadMpegHeader(const uint8_t* p, MpegFrame& frame) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int version = (p[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int layer = 4 - ((p[1] >> 1) & 3);
  const int bitIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  if (version == 1 || layer == 4 || bitIndex == 0 || bitIndex == 15 || rateIndex == 3) return false;
  const bool lsf = version != 3;
  const int rate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const int bitRate = kBitRates[lsf][layer - 1][bitIndex] * 1000;
  const int padding = (p[2] >> 1) & 1;
  frame.rate = rate;
  frame.channels = (p[3] >> 6) == 3 ? 1 : 2;
  if (layer == 1) {
    frame.samples = 384;
    frame.bytes = (bitRate * 12 / rate + padding) * 4;
  } else {
    frame.samples = layer == 3 && lsf ? 576 : 1152;
    frame.bytes = bitRate * 144 / (layer == 3 && lsf ? rate * 2 : rate) + padding;
  }
  return true;
}

void WalkMpegPacket(const uint8_t* data, int size, const MpegFrameSink& sink) {
  int at = 0;
  MpegFrame frame;
  for (;;) {
    while (at < size && data[at] == 0) ++at;
    if (size - at < 4 || !ReadMpegHeader(data + at, frame)) return;
    sink(frame);
    at += frame.bytes;
  }
}

bool ScanMpegFrames(ByteSource& bytes, int64_t begin, int64_t end, const MpegFrameSink& sink) {
  std::vector<uint8_t> block;
  int64_t blockAt = begin;
  bool failed = false;
  // The four bytes at `at` in the block, read anew from there when needed.
  auto header = [&](int64_t at) -> const uint8_t* {
    if (at + 4 > end) return nullptr;
    if (at < blockAt || at + 4 > blockAt + static_cast<int64_t>(block.size())) {
      block.resize(static_cast<size_t>(std::min(kBlock, end - at)));
      if (bytes.Seek(at) != at ||
          !bytes.ReadExact(block.data(), static_cast<int32_t>(block.size()))) {
        failed = true;
        return nullptr;
      }
      blockAt = at;
    }
    return block.data() + (at - blockAt);
  };
  int64_t at = begin;
  MpegFrame frame;
  while (const uint8_t* p = header(at)) {
    if (*p == 0) {
      ++at;
      continue;
    }
    if (ReadMpegHeader(p, frame)) {
      sink(frame);
      at += frame.bytes;
      continue;
    }
    // Junk: the packet it starts holds the next frame too, and the decoder
    // drops the whole packet.
    do {
      ++at;
      p = header(at);
    } while (p && !ReadMpegHeader(p, frame));
    if (p) at += frame.bytes;
  }
  return !failed;
}

}  // namespace zirk::medialib
