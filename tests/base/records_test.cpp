#include "base/records.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>

namespace zirk {
namespace {

// One record of every field kind, as a writer lays it out.
std::vector<uint8_t> sample() {
  TKwMemoryStream s;
  TRecordWriter out(s);
  out.Int(-2);
  out.Bool(true);
  out.Point({3, -4});
  out.Double(1.0);
  out.Str("abc");
  out.Byte(7);
  return s.Bytes();
}

using TSample = std::tuple<int32_t, bool, TPoint, double, std::string, uint8_t>;
// Braces read the fields in their order.
TSample readSample(TRecordReader& in) {
  return TSample{in.Int(), in.Bool(), in.Point(), in.Double(0), in.Str(), in.Byte()};
}

TEST(Records, FieldsRoundTripInTheirLittleEndianLayout) {
  std::vector<uint8_t> bytes = sample();
  const std::vector<uint8_t> expected = {0xFE, 0xFF, 0xFF, 0xFF, 1, 3,   0,   0,   0, 0xFC,
                                         0xFF, 0xFF, 0xFF, 0,    0, 0,   0,   0,   0, 0xF0,
                                         0x3F, 3,    0,    0,    0, 'a', 'b', 'c', 7};
  EXPECT_EQ(bytes, expected);
  TKwMemoryStream s(bytes);
  TRecordReader in(s, 100);
  EXPECT_EQ(readSample(in), (TSample{-2, true, {3, -4}, 1.0, "abc", 7}));
  EXPECT_EQ(s.Remaining(), 0);
}

TEST(Records, FieldsAddedLaterAreReadOnlyFromTheirVersion) {
  for (int32_t version : {103, 104, 200}) {
    TKwMemoryStream s;
    TRecordWriter out(s);
    if (version >= 104) {
      out.Int(9);
      out.Str("x");
      out.Double(2.5);
    }
    out.Int(1);
    s.SetPosition(0);
    TRecordReader in(s, version);
    EXPECT_EQ(in.From<int32_t>(104, 256), version >= 104 ? 9 : 256) << version;
    EXPECT_EQ(in.From<std::string>(104, "old"), version >= 104 ? "x" : "old") << version;
    EXPECT_EQ(in.From(104, 1.0), version >= 104 ? 2.5 : 1.0) << version;
    EXPECT_EQ(in.Int(), 1) << "the next field lines up at " << version;
  }
}

TEST(Records, EveryTruncationAndImpossibleLengthIsTheFormatError) {
  const std::vector<uint8_t> bytes = sample();
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    TKwMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    TRecordReader in(s, 100);
    EXPECT_THROW(readSample(in), EFormatError) << cut;
  }
  for (int32_t n : {-1, 5, std::numeric_limits<int32_t>::max()}) {
    TKwMemoryStream s;
    TRecordWriter out(s);
    out.Int(n);
    out.Int(0);
    s.SetPosition(0);
    TRecordReader in(s, 100);
    EXPECT_THROW(in.Str(), EFormatError) << n;
    s.SetPosition(0);
    EXPECT_THROW(in.Count(1), EFormatError) << n;
    EXPECT_THROW(in.Bytes(n), EFormatError) << n;
  }
  // NaN and huge doubles come back as the fallback and the limit.
  TKwMemoryStream s;
  TRecordWriter out(s);
  out.Double(std::numeric_limits<double>::quiet_NaN());
  out.Double(-1e300);
  s.SetPosition(0);
  TRecordReader in(s, 100);
  EXPECT_EQ(in.Double(1.0), 1.0);
  EXPECT_EQ(in.Double(1.0), -TRecordReader::kDoubleLimit);
}

}  // namespace
}  // namespace zirk
