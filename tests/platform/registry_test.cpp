#include "platform/registry.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

#include "support/testdata.h"

namespace zirk::platform {
namespace {

// Sets an environment variable for one test and puts the old value back.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class Registry : public testing::Test {
 protected:
  test::TempDir dir;
  EnvGuard config{"XDG_CONFIG_HOME", dir.path().c_str()};
  std::filesystem::path file() const { return dir.path() / "zirkplayer" / "registry.ini"; }
  std::string text() const {
    auto bytes = test::readFile(file());
    return {bytes.begin(), bytes.end()};
  }
};

TEST_F(Registry, FileIsCreatedOnFirstWriteOnly) {
  EXPECT_EQ(RegistryFileName(), file());
  EXPECT_EQ(RegReadString("Software\\Game", "CDDrive"), std::nullopt);
  EXPECT_FALSE(RegDeleteValue("Software\\Game", "CDDrive"));
  EXPECT_FALSE(std::filesystem::exists(file().parent_path()));
  ASSERT_TRUE(RegWriteString("Software\\Game", "CDDrive", "D:"));
  EXPECT_TRUE(std::filesystem::exists(file()));
  EXPECT_EQ(RegReadString("Software\\Game", "CDDrive"), "D:");
}

TEST_F(Registry, StringsRoundTripByteForByte) {
  const std::string cases[] = {
      "",
      "plain",
      "quote \" and backslash \\ and = [x]",
      "line\nbreak\r\ttab\x01\x7f",
      "\x95\x5c\x8e\xa6",  // Shift-JIS with a backslash trail byte
      std::string("nul\0inside", 10),
      "  spaces kept  ",
  };
  int i = 0;
  for (const auto& value : cases) {
    std::string name = "v" + std::to_string(i++);
    ASSERT_TRUE(RegWriteString("Software\\Game", name, value));
  }
  i = 0;
  for (const auto& value : cases) {
    std::string name = "v" + std::to_string(i++);
    EXPECT_EQ(RegReadString("Software\\Game", name), value) << name;
  }
}

TEST_F(Registry, IntegersRoundTripAndStringsConvert) {
  for (int32_t v : {0, 1, -1, 42, INT_MAX, INT_MIN}) {
    ASSERT_TRUE(RegWriteInteger("Software\\Game", "n", v));
    EXPECT_EQ(RegReadInteger("Software\\Game", "n"), v);
    // A dword is not text.
    EXPECT_EQ(RegReadString("Software\\Game", "n"), std::nullopt);
  }
  struct Case {
    const char* text;
    std::optional<int32_t> value;
  } cases[] = {
      {"17", 17},
      {"-5", -5},
      {"", std::nullopt},
      {"12ab", std::nullopt},
      {"99999999999", std::nullopt},
      {" 3", std::nullopt},
  };
  for (auto c : cases) {
    ASSERT_TRUE(RegWriteString("Software\\Game", "s", c.text));
    EXPECT_EQ(RegReadInteger("Software\\Game", "s"), c.value) << '"' << c.text << '"';
  }
}

TEST_F(Registry, KeysAndNamesCompareLikeWindows) {
  ASSERT_TRUE(RegWriteString("Software\\Game", "CDDrive", "E:"));
  struct Case {
    const char* key;
    const char* name;
    bool found;
  } cases[] = {
      {"software\\GAME", "cddrive", true}, {"\\Software\\\\Game\\", "CDDRIVE", true},
      {"Software", "CDDrive", false},      {"Software\\Game\\Sub", "CDDrive", false},
      {"Software\\Gam", "CDDrive", false},
  };
  for (auto c : cases)
    EXPECT_EQ(RegReadString(c.key, c.name).has_value(), c.found) << c.key << " / " << c.name;

  // Overwriting through another spelling changes the one value.
  ASSERT_TRUE(RegWriteString("SOFTWARE\\game", "cddrive", "F:"));
  EXPECT_EQ(RegReadString("Software\\Game", "CDDrive"), "F:");
  EXPECT_EQ(RegistryFile::parse(text()).keyCount(), 1u);
}

TEST_F(Registry, ShiftJisTrailBytesAreNotFolded) {
  // "ア" (83 41) and "ヂ" (83 61) differ only in an ASCII-letter trail byte;
  // "表" (95 5C) ends in a backslash that is no key separator.
  ASSERT_TRUE(RegWriteString("Software\\\x83\x41", "x", "a"));
  ASSERT_TRUE(RegWriteString("Software\\\x83\x61", "x", "b"));
  ASSERT_TRUE(RegWriteString("Software\\\x95\x5c", "\x83\x41", "c"));
  EXPECT_EQ(RegReadString("Software\\\x83\x41", "x"), "a");
  EXPECT_EQ(RegReadString("SOFTWARE\\\x83\x61", "x"), "b");
  EXPECT_EQ(RegReadString("Software\\\x95\x5c", "\x83\x41"), "c");
  EXPECT_EQ(RegReadString("Software\\\x95\x5c", "\x83\x61"), std::nullopt);
  EXPECT_EQ(RegReadString("Software\\\x95", "\x83\x41"), std::nullopt);
}

TEST_F(Registry, DeletingValuesAndKeys) {
  ASSERT_TRUE(RegWriteString("Software\\Game", "a", "1"));
  ASSERT_TRUE(RegWriteString("Software\\Game", "b", "2"));
  ASSERT_TRUE(RegWriteString("Software\\Game\\Sub", "c", "3"));
  ASSERT_TRUE(RegWriteString("Software\\GameTwo", "d", "4"));
  EXPECT_TRUE(RegDeleteValue("Software\\Game", "A"));
  EXPECT_FALSE(RegDeleteValue("Software\\Game", "a"));
  EXPECT_EQ(RegReadString("Software\\Game", "b"), "2");
  EXPECT_TRUE(RegDeleteKey("software\\game"));
  EXPECT_EQ(RegReadString("Software\\Game", "b"), std::nullopt);
  EXPECT_EQ(RegReadString("Software\\Game\\Sub", "c"), std::nullopt);
  EXPECT_EQ(RegReadString("Software\\GameTwo", "d"), "4");  // a sibling, not below
  EXPECT_FALSE(RegDeleteKey(""));
  // No key to hold it, or one that would break the file's lines.
  for (const char* key : {"", "\\", "\\\\", "Software\nInjected", "Software\r"})
    EXPECT_FALSE(RegWriteString(key, "x", "y")) << key;
  EXPECT_FALSE(RegWriteInteger("Soft\nware", "x", 1));
  EXPECT_FALSE(std::filesystem::exists(file()) && text().find("Injected") != std::string::npos);
}

TEST_F(Registry, IniStyleAccessBelowAKey) {
  TRegIniFile reg("Software");
  EXPECT_EQ(reg.ReadString("Game", "CDDrive", "none"), "none");
  EXPECT_EQ(reg.ReadInteger("Game", "Volume", -3), -3);
  ASSERT_TRUE(reg.WriteString("Game", "CDDrive", "Q:"));
  ASSERT_TRUE(reg.WriteInteger("Game", "Volume", 80));
  EXPECT_EQ(RegReadString("Software\\Game", "CDDrive"), "Q:");
  EXPECT_EQ(reg.ReadInteger("Game", "Volume", 0), 80);
  EXPECT_EQ(reg.ReadString("Game", "Volume", "dflt"), "dflt");  // wrong type: default
  EXPECT_TRUE(reg.DeleteKey("Game", "CDDrive"));
  EXPECT_EQ(reg.ReadString("Game", "CDDrive", ""), "");
  EXPECT_TRUE(reg.EraseSection("Game"));
  EXPECT_EQ(reg.ReadInteger("Game", "Volume", 5), 5);
}

TEST_F(Registry, DamagedLinesAreSkippedTheRestKept) {
  test::writeFile(file(),
                  "stray before any key\n"
                  "[Software\\Game]\r\n"
                  "\"good\"=\"yes\"\r\n"
                  "\"unterminated=\"x\"\n"
                  "\"badescape\"=\"\\q\"\n"
                  "\"shorthex\"=\"\\x4\"\n"
                  "\"dw\"=dword:1234567890\n"
                  "\"dw2\"=dword:zz\n"
                  "noquotes=1\n"
                  "\"trailing\"=\"a\" junk\n"
                  "; comment\n"
                  "[]\n"
                  "\"orphan\"=\"o\"\n"
                  "[Software\\Game]\n"
                  "\"n\"=dword:ffffffff\n"
                  "\"good\"=\"again\"\n"
                  "[unclosed\n"
                  "\"lost\"=\"l\"\n");
  EXPECT_EQ(RegReadString("Software\\Game", "good"), "again");
  EXPECT_EQ(RegReadInteger("Software\\Game", "n"), -1);
  for (const char* name : {"unterminated", "badescape", "shorthex", "dw", "dw2", "noquotes",
                           "trailing", "orphan", "lost"})
    EXPECT_EQ(RegReadString("Software\\Game", name), std::nullopt) << name;
  // Writing keeps what was readable and drops the rest.
  ASSERT_TRUE(RegWriteInteger("Software\\Game", "m", 2));
  EXPECT_EQ(text(),
            "[Software\\Game]\n\"good\"=\"again\"\n\"n\"=dword:ffffffff\n\"m\"=dword:00000002\n");
}

TEST_F(Registry, UnwritableLocationReportsFailure) {
  // The config "folder" is a file: nothing can be created below it.
  test::writeFile(dir.path() / "blocker", "x");
  EnvGuard blocked("XDG_CONFIG_HOME", (dir.path() / "blocker").c_str());
  EXPECT_FALSE(RegWriteString("Software\\Game", "a", "b"));
  EXPECT_EQ(RegReadString("Software\\Game", "a"), std::nullopt);
}

TEST(RegistryLocation, FallsBackToHomeConfig) {
  test::TempDir home;
  EnvGuard homeGuard("HOME", home.path().c_str());
  struct Case {
    const char* xdg;
  } cases[] = {{nullptr}, {""}, {"relative/path"}};
  for (auto c : cases) {
    EnvGuard xdg("XDG_CONFIG_HOME", c.xdg);
    EXPECT_EQ(RegistryFileName(), home.path() / ".config" / "zirkplayer" / "registry.ini")
        << (c.xdg ? c.xdg : "(unset)");
  }
}

}  // namespace
}  // namespace zirk::platform
