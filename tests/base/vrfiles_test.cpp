#include "base/vrfiles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/testdata.h"

namespace zirk {
namespace {

namespace fs = std::filesystem;

// Sets a folder's modification time an hour back, so its listing is old
// enough to be trusted by the cache (or `seconds` back, ahead when negative).
void ageFolder(const fs::path& dir, time_t seconds = 3600) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(utimensat(AT_FDCWD, dir.c_str(), times, 0), 0);
}

// A file another writer appends to: each look at its size finds it longer.
struct GrowingStream : TKwMemoryStream {
  using TKwMemoryStream::TKwMemoryStream;
  int64_t Size() override {
    const int64_t size = TKwMemoryStream::Size();
    SetSize(size + 8);
    return size;
  }
};

// A file cut after its size was taken: reads end at its 8th byte.
struct CutStream : TKwMemoryStream {
  using TKwMemoryStream::TKwMemoryStream;
  int64_t Read(void* buffer, int64_t count) override {
    return TKwMemoryStream::Read(buffer, std::min(count, 8 - Position()));
  }
};

class VrFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(base() / "Data" / "BG");
    fs::create_directories(search() / "sub");
    test::writeFile(base() / "Data" / "BG" / "Room.PNG", "room");
    test::writeFile(base() / "both.txt", "from base");
    test::writeFile(base() / "\xE6\x97\xA5\xE6\x9C\xAC.txt", "nihon");  // UTF-8 host name
    test::writeFile(base() / "\xE8\xA1\xA8.txt", "hyou");  // its Shift-JIS form ends in 0x5C
    test::writeFile(base() / "\x83\x41.raw", "raw sjis");  // a host name in raw Shift-JIS
    test::writeFile(search() / "both.txt", "from search");
    test::writeFile(search() / "sub" / "Extra.ogg", "extra");
    files_.SetBaseFolder(base().string());
    files_.AddSearchFolder(search().string());
  }
  fs::path base() const { return dir_ / "game"; }
  fs::path search() const { return dir_ / "disc"; }
  std::string read(const std::string& name) {
    TKwMemoryStream s;
    LoadFileToStream(files_, s, name);
    return std::string(s.Bytes().begin(), s.Bytes().end());
  }

  test::TempDir dir_;
  TVrFileManager files_;
};

TEST_F(VrFiles, GameNamesMapOntoHostFiles) {
  const std::pair<const char*, const char*> found[] = {
      {"data\\bg\\room.png", "room"},
      {"DATA/BG/ROOM.PNG", "room"},
      {"Data\\\\BG\\.\\Room.png", "room"},
      {"data\\none\\..\\bg\\room.png", "room"},
      {"both.txt", "from base"},          // the base folder comes first
      {"SUB\\extra.OGG", "extra"},        // then the search folders
      {"\x93\xFA\x96\x7B.TXT", "nihon"},  // Shift-JIS name of a UTF-8 host file
      {"\x95\x5C.txt", "hyou"},           // 0x5C as a trail byte is no delimiter
      {"\x83\x41.RAW", "raw sjis"},
  };
  for (const auto& [name, content] : found) {
    EXPECT_TRUE(files_.FileExists(name)) << name;
    EXPECT_EQ(read(name), content) << name;
  }
  EXPECT_EQ(files_.GetRealFileName("data\\bg\\room.png"),
            (base() / "Data" / "BG" / "Room.PNG").string());
}

TEST_F(VrFiles, NamesOutsideTheMountedFoldersAreNotFound) {
  test::writeFile(dir_ / "secret.txt", "outside");
  const char* missing[] = {
      "",
      "data\\bg",              // a folder is no file
      "data\\bg\\room.png\\",  // nor is a trailing delimiter a name
      "..\\secret.txt",        // climbs out of the base folder
      "data\\..\\..\\secret.txt",
      "\\secret.txt",  // absolute names
      "c:\\secret.txt",
      "\x83\x61.raw",  // trail bytes do not fold
      "nothing.dor",
  };
  for (const char* name : missing) {
    EXPECT_FALSE(files_.FileExists(name)) << name;
    EXPECT_EQ(files_.GetRealFileName(name), "") << name;
    EXPECT_EQ(files_.OpenMediaStream(name), nullptr) << name;
  }
}

TEST_F(VrFiles, MissingFileMessage) {
  try {
    read("bg\\nofile.dor");
    FAIL() << "no exception";
  } catch (const EVrFileError& e) {
    EXPECT_STREQ(e.what(), "bg\\nofile.dor:ファイルがありません");
  }
  try {
    read("\x93\xFA\x96\x7B\\nofile.dor");
    FAIL() << "no exception";
  } catch (const EVrFileError& e) {
    EXPECT_STREQ(e.what(), "日本\\nofile.dor:ファイルがありません");  // shown as UTF-8
  }
  TVrFileManager::SetGlobal(nullptr);
  TKwMemoryStream s;
  EXPECT_THROW(LoadFileToStream(s, "both.txt"), EVrFileError);
}

TEST_F(VrFiles, AFileBeyondItsReadersCapOrNotRegularIsNamed) {
  TKwMemoryStream s(std::vector<uint8_t>(3, 'x'));
  try {
    LoadFileToStream(files_, s, "both.txt", 8);  // "from base" is 9 bytes
    FAIL() << "no exception";
  } catch (const EVrFileTooLarge& e) {
    EXPECT_STREQ(e.what(),
                 "both.txt: the file is 9 bytes, more than the 8 a file of its kind may have");
  }
  EXPECT_EQ(s.Size(), 3);  // nothing read
  LoadFileToStream(files_, s, "both.txt", 9);
  EXPECT_EQ(s.Size(), 9);
  GrowingStream growing(std::vector<uint8_t>(8, 'x'));
  LoadWholeStream(growing, s, "grows.mid", 8);  // no more is read than was checked
  EXPECT_EQ(s.Size(), 8);
  CutStream cut(std::vector<uint8_t>(16, 'x'));
  try {
    LoadWholeStream(cut, s, "cut.mid", 100);
    FAIL() << "no exception";
  } catch (const EVrFileError& e) {
    EXPECT_STREQ(e.what(), "cut.mid: the file ended early, short of the 16 bytes its size gave");
  }

  ASSERT_EQ(mkfifo((base() / "pipe.zcn").c_str(), 0600), 0);
  try {
    read("PIPE.zcn");
    FAIL() << "no exception";
  } catch (const EVrFileError& e) {
    EXPECT_STREQ(e.what(), "PIPE.zcn: not a regular file");
  }

  // Running out of memory is no fault of the file: it passes unnamed.
  TVrFileManager::SetGlobal(&files_);
  EXPECT_THROW(ReadGameFile("both.txt", 100, [](TKwMemoryStream&) { throw std::bad_alloc(); }),
               std::bad_alloc);
  TVrFileManager::SetGlobal(nullptr);
}

TEST_F(VrFiles, LoadReplacesContentAndRewinds) {
  TKwMemoryStream s(std::vector<uint8_t>(100, 'x'));
  s.SetPosition(50);
  TVrFileManager::SetGlobal(&files_);
  LoadFileToStream(s, "BOTH.TXT");
  TVrFileManager::SetGlobal(nullptr);
  EXPECT_EQ(s.Size(), 9);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(ReadStreamU32(s), 0x6D6F7266u);  // "from"

  std::unique_ptr<TRangeStream> media = files_.OpenMediaStream("sub\\extra.ogg");
  ASSERT_NE(media, nullptr);
  EXPECT_EQ(media->Size(), 5);
}

TEST_F(VrFiles, ListingsAreCachedUntilTheFolderChanges) {
  ageFolder(base());
  ageFolder(base() / "Data");
  ageFolder(base() / "Data" / "BG");
  ageFolder(search());
  ASSERT_TRUE(files_.FileExists("data\\bg\\room.png"));
  EXPECT_FALSE(files_.FileExists("data\\bg\\new.png"));  // also lists the search folder
  int64_t scans = files_.ScanCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(files_.FileExists("DATA\\BG\\ROOM.PNG"));
    ASSERT_FALSE(files_.FileExists("data\\bg\\new.png"));
  }
  EXPECT_EQ(files_.ScanCount(), scans);

  // Every path through a link loop reaches one folder, listed once.
  fs::create_directory_symlink(".", base() / "loop");
  ageFolder(base());
  scans = files_.ScanCount();
  EXPECT_TRUE(files_.FileExists("loop\\LOOP\\loop\\loop\\data\\bg\\room.png"));
  EXPECT_EQ(files_.ScanCount(), scans + 1);

  // A folder dated ahead of the clock is not read again at each lookup.
  ageFolder(base(), -86400);
  scans = files_.ScanCount();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(files_.FileExists("both.txt"));
  EXPECT_EQ(files_.ScanCount(), scans + 1);

  // A new file changes the folder's time; the next lookup sees it.
  test::writeFile(base() / "Data" / "BG" / "New.png", "new");
  EXPECT_TRUE(files_.FileExists("data\\bg\\new.png"));
  fs::remove(base() / "Data" / "BG" / "New.png");
  EXPECT_FALSE(files_.FileExists("data\\bg\\new.png"));

  // A change the times cannot show is forgotten on request.
  ageFolder(base() / "Data" / "BG");
  EXPECT_TRUE(files_.FileExists("data\\bg\\room.png"));
  fs::rename(base() / "Data" / "BG" / "Room.PNG", base() / "Data" / "BG" / "Hall.PNG");
  ageFolder(base() / "Data" / "BG");
  files_.InvalidateCache();
  EXPECT_TRUE(files_.FileExists("data\\bg\\hall.png"));
  EXPECT_FALSE(files_.FileExists("data\\bg\\room.png"));
}

TEST(VrFileNames, ExtractFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"menu\\title.zpm", "menu\\"},
      {"a/b/c.png", "a/b/"},
      {"c:x.png", "c:"},
      {"plain.png", ""},
      {"", ""},
      {"\x95\x5C.png", ""},
      {"\x95\x5C\\x.png", "\x95\x5C\\"},
  };
  for (const auto& [name, folder] : cases) EXPECT_EQ(TVrFileManager::ExtractFolder(name), folder);
}

TEST(VrFileNames, ResolveDotDotPath) {
  struct Case {
    const char* name;
    const char* base;
    const char* expect;
  };
  const Case cases[] = {
      {"..\\..\\a.dor", "c:\\x\\y\\z\\", "c:\\x\\a.dor"},
      {"pic.png", "menu\\", "menu\\pic.png"},
      {"..\\pic.png", "menu\\", "pic.png"},
      {"..\\..\\pic.png", "menu\\", "..\\pic.png"},  // nothing left to take off
      {"..\\pic.png", "c:\\", "c:\\..\\pic.png"},
      {"sub\\..\\p.png", "menu\\", "menu\\sub\\..\\p.png"},  // only leading ones
      {"..\\p.png", "\x95\x5C\\menu\\", "\x95\x5C\\p.png"},
      {"..\\p.png", "a\\\x95\x5C\\", "a\\p.png"},
      {"p.png", "menu", "menu\\p.png"},
      {"a", "menu\\", "a"},  // a 1-character name stays as it is
      {"", "menu\\", ""},
      {"\\abs\\p.png", "menu\\", "\\abs\\p.png"},
      {"d:\\p.png", "menu\\", "d:\\p.png"},
      {"pic.png", "", "pic.png"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ResolveDotDotPath(c.name, c.base), c.expect) << c.name << " in " << c.base;
}

}  // namespace
}  // namespace zirk
