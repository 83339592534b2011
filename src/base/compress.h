#pragma once
// zlib helpers over streams, as the layered image format uses them, and the
// bulk copy into memory streams.

#include <cstdint>
#include <limits>

#include "base/exceptions.h"
#include "base/streams.h"

namespace zirk {

// A zlib stream that cannot be inflated or deflated (damaged, truncated,
// larger than allowed). The stream it came from is left unchanged.
class EZlibError : public Exception {
 public:
  using Exception::Exception;
};

// Replaces the stream's content by its zlib form at the fastest level (1);
// the position goes to 0.
void CompressStreamInPlace(TKwMemoryStream& stream);

// The largest result DecompressToStream accepts unless told otherwise: what
// a 32-bit reader could have held.
constexpr int64_t kMaxInflatedSize = std::numeric_limits<int32_t>::max();

// Inflates the stream's whole zlib content from position 0, in chunks of
// 1,000,000 bytes, and replaces the content with the result (position 0).
// A result beyond maxSize is refused, so a small damaged or hostile input
// cannot claim unbounded memory; callers that know the expected size pass it.
// Bytes after the end of the zlib stream are ignored.
void DecompressToStream(TKwMemoryStream& stream, int64_t maxSize = kMaxInflatedSize);

// Copies count bytes from the source's position into the destination at its
// position (count 0: the whole source from its start) and returns the count.
// A memory-stream source is copied directly, others in chunks of at most
// 0xA00000 bytes. A source shorter than count raises EReadError before
// anything is written.
int64_t CopyStreamToMemory(TKwStream& destination, TKwStream& source, int64_t count);

constexpr int64_t kInflateChunk = 1000000;
constexpr int64_t kCopyChunk = 0xA00000;

}  // namespace zirk
