#include "base/rangestreams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <numeric>
#include <thread>

#include "support/testdata.h"

namespace zirk {
namespace {

class RangeStreams : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_.resize(1000);
    std::iota(bytes_.begin(), bytes_.end(), 0);  // byte i holds i mod 256
    test::writeFile(path(), bytes_.data(), bytes_.size());
  }
  std::string path() const { return (dir_ / "media.bin").string(); }

  test::TempDir dir_;
  std::vector<uint8_t> bytes_;
};

TEST_F(RangeStreams, WindowBounds) {
  struct Case {
    int64_t offset, size;
    int64_t expectOffset, expectSize;
  };
  const Case cases[] = {
      {0, 0, 0, 1000},      // the whole file
      {100, 50, 100, 50},   // a window
      {100, 0, 100, 900},   // size 0: to the end
      {990, 50, 990, 10},   // cut at the end of the file
      {2000, 10, 1000, 0},  // beyond the end: empty
      {-5, 10, 0, 10},
  };
  for (const Case& c : cases) {
    TFileRangeStream s(path(), c.offset, c.size);
    EXPECT_EQ(s.RangeOffset(), c.expectOffset) << c.offset;
    EXPECT_EQ(s.Size(), c.expectSize) << c.offset;
  }
}

TEST_F(RangeStreams, ReadsAndSeeksStayInsideTheWindow) {
  TFileRangeStream s(path(), 300, 20);
  uint8_t buf[64] = {};
  EXPECT_EQ(s.Read(buf, 8), 8);
  EXPECT_EQ(buf[0], 300 % 256);
  EXPECT_EQ(s.Read(buf, 64), 12);  // clamped at the window's end
  EXPECT_EQ(buf[11], 319 % 256);
  EXPECT_EQ(s.Read(buf, 1), 0);

  const struct {
    int64_t offset;
    SeekOrigin origin;
    int64_t expect;
  } seeks[] = {
      {5, SeekOrigin::Begin, 5},
      {100, SeekOrigin::Begin, 20},
      {-3, SeekOrigin::End, 17},
      {10, SeekOrigin::End, 20},
      {-50, SeekOrigin::Current, 0},
      {7, SeekOrigin::Current, 7},
      {INT64_MAX, SeekOrigin::Current, 20},
      {INT64_MIN, SeekOrigin::End, 0},
  };
  for (const auto& sk : seeks) EXPECT_EQ(s.Seek(sk.offset, sk.origin), sk.expect) << sk.offset;

  s.SetPosition(18);
  EXPECT_THROW(s.ReadBuffer(buf, 3), EReadError);
  EXPECT_EQ(s.Write("x", 1), 0);
  EXPECT_THROW(s.WriteBuffer("x", 1), EWriteError);
  EXPECT_THROW(s.SetSize(5), EStreamError);
  EXPECT_EQ(s.AsMemoryStream(), nullptr);
}

TEST_F(RangeStreams, MissingFileRaisesTheOpenError) {
  EXPECT_THROW(TFileRangeStream((dir_ / "none.ogg").string(), 0, 0), EFOpenError);
  EXPECT_THROW(TFileRangeStream(dir_.path().string(), 0, 0), EFOpenError);
}

TEST_F(RangeStreams, ConcurrentReadersSeeWholeBlocks) {
  // The media library reads from its own threads: each read must take its
  // bytes from the position it found, without tearing.
  TFileRangeStream s(path(), 0, 1000);
  std::atomic<int> bad{0};
  auto reader = [&] {
    for (int i = 0; i < 2000; ++i) {
      uint8_t b[10];
      int64_t got = s.Read(b, 10);
      if (got == 0) {
        s.SetPosition(0);
        continue;
      }
      for (int64_t k = 1; k < got; ++k)
        if (static_cast<uint8_t>(b[k - 1] + 1) != b[k]) ++bad;
    }
  };
  std::thread t1(reader), t2(reader);
  t1.join();
  t2.join();
  EXPECT_EQ(bad, 0);
}

}  // namespace
}  // namespace zirk
