#include "base/compress.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace zirk {
namespace {

// Bytes that compress somewhat but not to nothing, so both zlib buffers and
// the chunk loops are exercised.
std::vector<uint8_t> sampleBytes(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  uint32_t x = seed;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    v[i] = static_cast<uint8_t>((x >> 16) % 16 + (i / 4096) % 7);
  }
  return v;
}

// A stream that is not a memory stream and remembers its largest read.
class ChunkWatchingStream : public TKwStream {
 public:
  explicit ChunkWatchingStream(std::vector<uint8_t> bytes) : inner_(std::move(bytes)) {}
  int64_t Read(void* buffer, int64_t count) override {
    largestRead = std::max(largestRead, count);
    return inner_.Read(buffer, count);
  }
  int64_t Write(const void* buffer, int64_t count) override { return inner_.Write(buffer, count); }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t largestRead = 0;

 private:
  TKwMemoryStream inner_;
};

TEST(Compress, RoundTripsAcrossChunkBoundaries) {
  for (size_t n : {size_t{0}, size_t{1}, size_t{999'999}, size_t{1'000'000}, size_t{1'000'001},
                   size_t{2'000'000}, size_t{0xA00000 + 1}}) {
    SCOPED_TRACE(n);
    std::vector<uint8_t> original = sampleBytes(n, static_cast<uint32_t>(n));
    TKwMemoryStream s(original);
    s.SetPosition(s.Size());
    CompressStreamInPlace(s);
    EXPECT_EQ(s.Position(), 0);
    ASSERT_GE(s.Size(), 2);
    EXPECT_EQ(s.Memory()[0], 0x78);  // zlib header
    EXPECT_EQ(s.Memory()[1], 0x01);  // fastest level
    DecompressToStream(s);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_TRUE(s.Bytes() == original);
  }
}

TEST(Compress, InflatesForeignZlibStreams) {
  // Made by zlib's own one-shot call at its best level, with bytes after it.
  std::vector<uint8_t> original = sampleBytes(1'500'000, 7);
  uLongf len = compressBound(original.size());
  std::vector<uint8_t> packed(len);
  ASSERT_EQ(compress2(packed.data(), &len, original.data(), original.size(), 9), Z_OK);
  packed.resize(len);
  packed.insert(packed.end(), {'t', 'a', 'i', 'l'});
  TKwMemoryStream s(packed);
  s.SetPosition(5);
  DecompressToStream(s);
  EXPECT_TRUE(s.Bytes() == original);
}

TEST(Compress, DamagedStreamsAreRefusedAndLeaveTheStream) {
  TKwMemoryStream good(sampleBytes(300'000));
  CompressStreamInPlace(good);
  std::vector<uint8_t> packed = good.Bytes();

  std::vector<uint8_t> flipped = packed;
  flipped[flipped.size() / 2] ^= 0x55;
  std::vector<uint8_t> badChecksum = packed;
  badChecksum.back() ^= 1;
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
      {"empty", {}},
      {"header only", {0x78, 0x01}},
      {"not zlib", {'P', 'K', 3, 4, 0, 0}},
      {"truncated", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2)},
      {"flipped byte", flipped},
      {"bad checksum", badChecksum},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    TKwMemoryStream s(bytes);
    EXPECT_THROW(DecompressToStream(s), EZlibError);
    EXPECT_TRUE(s.Bytes() == bytes);
  }
}

TEST(Compress, ResultLargerThanTheLimitIsRefused) {
  TKwMemoryStream s(std::vector<uint8_t>(5'000'000, 0));
  CompressStreamInPlace(s);
  std::vector<uint8_t> packed = s.Bytes();
  EXPECT_THROW(DecompressToStream(s, 4'999'999), EZlibError);
  EXPECT_TRUE(s.Bytes() == packed);
  DecompressToStream(s, 5'000'000);
  EXPECT_EQ(s.Size(), 5'000'000);
}

TEST(Compress, CopyStreamToMemoryChunksAndCounts) {
  const int64_t big = 0xA00000 * 2 + 3;
  std::vector<uint8_t> bytes = sampleBytes(static_cast<size_t>(big));

  // Whole source (count 0) from a non-memory stream, whatever its position.
  ChunkWatchingStream src(bytes);
  src.SetPosition(100);
  TKwMemoryStream dst;
  EXPECT_EQ(CopyStreamToMemory(dst, src, 0), big);
  EXPECT_TRUE(dst.Bytes() == bytes);
  EXPECT_EQ(src.largestRead, 0xA00000);

  // A part from the current position, appended at the destination's position.
  ChunkWatchingStream part(bytes);
  part.SetPosition(10);
  TKwMemoryStream dst2(std::vector<uint8_t>{1, 2});
  dst2.SetPosition(2);
  EXPECT_EQ(CopyStreamToMemory(dst2, part, 0xA00000 + 1), 0xA00000 + 1);
  EXPECT_EQ(part.Position(), 10 + 0xA00000 + 1);
  ASSERT_EQ(dst2.Size(), 2 + 0xA00000 + 1);
  EXPECT_TRUE(std::equal(bytes.begin() + 10, bytes.begin() + 10 + 0xA00000 + 1, dst2.Memory() + 2));

  // A memory source is copied directly and moves its position.
  TKwMemoryStream mem(bytes);
  mem.SetPosition(5);
  TKwMemoryStream dst3;
  EXPECT_EQ(CopyStreamToMemory(dst3, mem, 20), 20);
  EXPECT_EQ(mem.Position(), 25);
  EXPECT_TRUE(std::equal(bytes.begin() + 5, bytes.begin() + 25, dst3.Memory()));
}

TEST(Compress, CopyStreamToMemoryRefusesMoreThanTheSourceHolds) {
  for (int64_t count : {int64_t{11}, int64_t{-1}, int64_t{0x7FFFFFFFFFFF}}) {
    ChunkWatchingStream src(std::vector<uint8_t>(20, 9));
    src.SetPosition(10);
    TKwMemoryStream dst;
    EXPECT_THROW(CopyStreamToMemory(dst, src, count), EReadError) << count;
    EXPECT_EQ(dst.Size(), 0);
  }
}

}  // namespace
}  // namespace zirk
