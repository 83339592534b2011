#pragma once
// MPEG audio (layers I to III) frames as their headers tell them: how many
// samples at what rate, without decoding. Junk before a frame costs FFmpeg's
// decoder that frame, zero bytes do not: the walks below count as it plays.

#include <cstdint>
#include <functional>

#include "medialib/stream.h"

namespace zirk::medialib {

struct MpegFrame {
  int rate = 0;
  int channels = 0;
  int samples = 0;
  int bytes = 0;  // the whole frame, header included
};

// False unless the four bytes at `p` are a header FFmpeg decodes (free
// format, which names no size, is not).
bool ReadMpegHeader(const uint8_t* p, MpegFrame& frame);

using MpegFrameSink = std::function<void(const MpegFrame&)>;

// The frames of one packet, in the order the decoder gives them.
void WalkMpegPacket(const uint8_t* data, int size, const MpegFrameSink& sink);

// The frames of the bytes [begin, end) of `bytes`, read a block at a time;
// a last frame cut short still counts, as it decodes. False when a read fails.
bool ScanMpegFrames(ByteSource& bytes, int64_t begin, int64_t end, const MpegFrameSink& sink);

}  // namespace zirk::medialib
