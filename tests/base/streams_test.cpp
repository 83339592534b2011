#include "base/streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

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

// A replacing save lands where a plain write would: through links to the file
// they name, with the mode the umask gives a new file, in place where no
// temporary fits beside the file, and into a FIFO, which stays one.
TEST(Streams, SaveToFileReplacingLandsWhereAPlainWriteWould) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  fs::create_directory(dir / "sub");
  test::writeFile(dir / "sub" / "old", "old");
  fs::create_symlink("sub/old", dir / "link");
  fs::create_symlink("sub/hop", dir / "chain");
  fs::create_symlink("new", dir / "sub" / "hop");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir / "fifolink");
  const std::string longName(250, 'n');
  struct Case {
    std::string saved;  // the name saved to
    std::string lands;  // the file holding the bytes afterwards
    mode_t mode;        // of a new file under umask 077; 0 unchecked
  };
  const Case cases[] = {
      {"link", "sub/old", 0},
      {"chain", "sub/new", 0},  // relative links in turn, the last dangling
      {"plain", "plain", 0600},
      {longName, longName, 0},  // no room for a temporary's suffix
      {"fifo", "fifo", 0},
      {"fifolink", "fifo", 0},
  };
  const mode_t mask = ::umask(077);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.saved.substr(0, 8));
    // A FIFO's reader is there before the save, so the save does not wait.
    const bool fifo = fs::is_fifo(dir / c.lands);
    const int reader = fifo ? ::open((dir / c.lands).c_str(), O_RDONLY | O_NONBLOCK) : -1;
    const TKwMemoryStream bytes(std::vector<uint8_t>{'n', 'e', 'w'});
    EXPECT_NO_THROW(bytes.SaveToFileReplacing((dir / c.saved).string()));
    EXPECT_EQ(fs::is_symlink(dir / c.saved), c.saved != c.lands);
    EXPECT_EQ(fs::is_fifo(dir / c.lands), fifo);
    std::string got(8, '\0');
    if (fifo) {
      got.resize(static_cast<size_t>(std::max<ssize_t>(::read(reader, got.data(), got.size()), 0)));
      ::close(reader);
    } else {
      const std::vector<unsigned char> file = test::readFile(dir / c.lands);
      got.assign(file.begin(), file.end());
    }
    EXPECT_EQ(got, "new");
    struct stat st {};
    if (c.mode != 0) {
      EXPECT_EQ(::stat((dir / c.lands).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, c.mode);
    }
  }
  ::umask(mask);
}

}  // namespace
}  // namespace zirk
