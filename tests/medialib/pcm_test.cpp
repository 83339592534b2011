// Conversion to 44100 Hz: exact lengths, the interpolated values, and that
// seeking and reading in pieces give the same frames as one long read.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "media_support.h"
#include "medialib/pcm.h"

namespace zirk::test {
namespace {

using medialib::PcmSource;
using medialib::RateConverter;

// Frames held in memory; `shortBy` frames fewer than it claims.
class MemoryPcm final : public PcmSource {
 public:
  MemoryPcm(int rate, int channels, int bits, Bytes data, int64_t shortBy = 0)
      : data_(std::move(data)) {
    format_ = {rate, channels, bits};
    present_ = static_cast<int64_t>(data_.size()) / format_.BlockAlign();
    frames_ = present_ + shortBy;
  }
  int64_t ReadFrames(void* out, int64_t frames) override {
    const int64_t n = std::max<int64_t>(0, std::min(frames, present_ - position_));
    const int align = format_.BlockAlign();
    std::memcpy(out, data_.data() + position_ * align, static_cast<size_t>(n * align));
    position_ += n;
    return n;
  }
  bool SeekFrame(int64_t frame) override {
    position_ = std::clamp<int64_t>(frame, 0, present_);
    return true;
  }

 private:
  Bytes data_;
  int64_t present_ = 0;
  int64_t position_ = 0;
};

std::vector<int16_t> ReadAll(PcmSource& source, int64_t piece) {
  std::vector<int16_t> all;
  std::vector<int16_t> buffer(static_cast<size_t>(piece * source.Format().channels));
  for (int64_t n; (n = source.ReadFrames(buffer.data(), piece)) > 0;)
    all.insert(all.end(), buffer.begin(), buffer.begin() + n * source.Format().channels);
  return all;
}

TEST(RateConverter, LengthsPiecesAndSeeks) {
  for (int rate : {8000, 11025, 22050, 32000, 44100, 48000, 96000}) {
    for (int channels : {1, 2}) {
      for (int bits : {8, 16}) {
        SCOPED_TRACE(::testing::Message() << rate << "/" << channels << "/" << bits);
        const int frames = 3001;
        auto make = [&] {
          return RateConverter(
              std::make_unique<MemoryPcm>(rate, channels, bits, Ramp(channels, bits, frames)));
        };
        RateConverter whole = make();
        const int64_t expected = int64_t{frames} * 44100 / rate;
        EXPECT_EQ(whole.Frames(), expected);
        EXPECT_EQ(whole.Format().rate, 44100);
        EXPECT_EQ(whole.Format().bits, 16);
        const auto all = ReadAll(whole, 100000);
        ASSERT_EQ(static_cast<int64_t>(all.size()), expected * channels);
        RateConverter pieces = make();
        EXPECT_EQ(ReadAll(pieces, 7), all);
        RateConverter seeking = make();
        for (int64_t at : {int64_t{0}, int64_t{1}, expected / 3, expected - 1, expected}) {
          ASSERT_TRUE(seeking.SeekFrame(at));
          std::vector<int16_t> got(50 * channels);
          const int64_t n = seeking.ReadFrames(got.data(), 50);
          EXPECT_EQ(n, std::min<int64_t>(50, expected - at));
          EXPECT_TRUE(
              std::equal(got.begin(), got.begin() + n * channels, all.begin() + at * channels))
              << at;
        }
      }
    }
  }
}

TEST(RateConverter, DoublingInterpolatesHalfway) {
  const Bytes in = Ramp(1, 16, 200);
  std::vector<int16_t> s(200);
  std::memcpy(s.data(), in.data(), in.size());
  RateConverter up(std::make_unique<MemoryPcm>(22050, 1, 16, in));
  const auto out = ReadAll(up, 1000);
  ASSERT_EQ(out.size(), 400u);
  for (size_t k = 0; k < 199; ++k) {
    EXPECT_EQ(out[2 * k], s[k]) << k;
    const int sum = s[k] + s[k + 1];
    EXPECT_NEAR(out[2 * k + 1], sum / 2.0, 0.5) << k;
  }
  // The last frame has no right neighbour: it is held.
  EXPECT_EQ(out[399], s[199]);
}

TEST(RateConverter, EightBitSilenceIsZero) {
  RateConverter up(std::make_unique<MemoryPcm>(11025, 2, 8, Bytes(100, 128)));
  const auto out = ReadAll(up, 64);
  ASSERT_EQ(out.size(), 400u);  // 50 frames, four times as many, two channels
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t v) { return v == 0; }));
}

TEST(RateConverter, SourceShorterThanClaimedStillEndsWithItsLastFrame) {
  // Decoders of compressed formats may deliver fewer frames than the header
  // says; the output must still cover every delivered frame.
  const Bytes in = Ramp(1, 16, 1000);
  RateConverter up(std::make_unique<MemoryPcm>(22050, 1, 16, in, 37));
  const auto out = ReadAll(up, 333);
  EXPECT_EQ(out.size(), 2000u);
  int16_t last;
  std::memcpy(&last, in.data() + 1998, 2);
  EXPECT_EQ(out.back(), last);
}

}  // namespace
}  // namespace zirk::test
