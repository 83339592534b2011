#include "base/streams.h"

#include <gtest/gtest.h>

#include "support/testdata.h"

namespace zirk {
namespace {

TEST(Streams, RecordsRoundTripLittleEndian) {
  TKwMemoryStream s;
  WriteStreamInt(s, -2);
  WriteStreamString(s, "\x82\xa0kana");
  StreamWriteStr(s, "");
  EXPECT_EQ(s.Size(), 4 + 4 + 6 + 4);
  EXPECT_EQ(s.Memory()[0], 0xFE);
  EXPECT_EQ(s.Memory()[3], 0xFF);
  s.SetPosition(0);
  EXPECT_EQ(ReadStreamInt(s), -2);
  EXPECT_EQ(StreamReadStr(s), "\x82\xa0kana");
  EXPECT_EQ(ReadStreamString(s), "");
  EXPECT_THROW(ReadStreamInt(s), EReadError);
}

TEST(Streams, DamagedStringLengthIsRefused) {
  for (int32_t len : {-1, 5, 0x7FFFFFFF}) {
    TKwMemoryStream s;
    WriteStreamInt(s, len);
    s.WriteBuffer("abc", 3);
    s.SetPosition(0);
    EXPECT_THROW(ReadStreamString(s), EReadError) << len;
  }
}

TEST(Streams, FileStreamReadsAcrossItsReadAheadAndWritesBack) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  {
    TKwFileStream out((dir / "f.bin").string(), TKwFileStream::Mode::Create);
    out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  TKwFileStream in((dir / "f.bin").string(), TKwFileStream::Mode::OpenRead);
  EXPECT_EQ(in.Size(), 200000);
  std::vector<uint8_t> got(bytes.size());
  // Small reads, a seek back, and one read larger than the read-ahead.
  in.ReadBuffer(got.data(), 10);
  in.ReadBuffer(got.data() + 10, 65530);
  in.SetPosition(5);
  in.ReadBuffer(got.data() + 5, 100000 - 5);
  in.ReadBuffer(got.data() + 100000, 100000);
  EXPECT_EQ(got, bytes);
  uint8_t b;
  EXPECT_EQ(in.Read(&b, 1), 0);
  EXPECT_THROW(TKwFileStream((dir / "none").string(), TKwFileStream::Mode::OpenRead), EFOpenError);
}

TEST(Streams, CopyFromTakesWholeSourceOrCount) {
  TKwMemoryStream src(std::vector<uint8_t>{1, 2, 3, 4, 5});
  TKwMemoryStream dst;
  src.SetPosition(3);
  EXPECT_EQ(dst.CopyFrom(src, 0), 5);
  src.SetPosition(1);
  EXPECT_EQ(dst.CopyFrom(src, 2), 2);
  EXPECT_EQ(dst.Bytes(), (std::vector<uint8_t>{1, 2, 3, 4, 5, 2, 3}));
  src.SetPosition(4);
  EXPECT_THROW(dst.CopyFrom(src, 2), EReadError);
}

}  // namespace
}  // namespace zirk
