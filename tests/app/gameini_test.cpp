#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/gameini.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

TEST(GameIni, SoundSectionValuesDefaultsRoundingAndBounds) {
  struct Case {
    const char* text;
    bool directSound;
    int32_t delayTime;
  } cases[] = {
      {"", true, 500},
      {"[Sound]\n", true, 500},
      {"[Sound]\nDirectSound=0\n", false, 500},
      {"[Sound]\nDirectSound=1\nDelayTime=300\n", true, 300},
      {"[Sound]\nDirectSound=7\n", true, 500},
      // Not a number: the default stays.
      {"[Sound]\nDirectSound=no\nDelayTime=soon\n", true, 500},
      {"[Sound]\nDelayTime=250\n", true, 200},
      {"[Sound]\nDelayTime=399\n", true, 300},
      {"[Sound]\nDelayTime=99\n", true, 100},
      {"[Sound]\nDelayTime=0\n", true, 100},
      {"[Sound]\nDelayTime=-300\n", true, 100},
      {"[Sound]\nDelayTime=501\n", true, 500},
      {"[Sound]\nDelayTime=100000\n", true, 500},
      {"[Sound]\nDelayTime=99999999999\n", true, 500},
      {"[Sound]\nDelayTime=$12C\n", true, 300},
      {"[Sound]\nDelayTime=0x190\n", true, 400},
      // Names compare without case; blanks around them do not count.
      {"[ sound ]\r\n  delaytime = 200 \r\n directsound=0\r\n", false, 200},
      // Only the section "Sound" counts, and the first of a repeated key.
      {"[Video]\nDelayTime=200\nDirectSound=0\n[Sound]\nDelayTime=400\nDelayTime=100\n", true, 400},
      {"; DelayTime=200\n[Sound]\n;DelayTime=100\nDelayTime 300\n", true, 500},
  };
  for (const Case& c : cases) {
    const TGameSettings s = ParseGameIni(c.text);
    EXPECT_EQ(s.UseDirectSound, c.directSound) << c.text;
    EXPECT_EQ(s.SoundDelayTime, c.delayTime) << c.text;
    EXPECT_TRUE(s.OggUseThread);
    EXPECT_FALSE(s.ZirkInitOption);
  }
}

TEST(GameIni, ReadsTheFileAndDefaultsWithoutIt) {
  TempDir dir;
  EXPECT_EQ(ReadGameIni(dir / "game.ini").SoundDelayTime, 500);
  EXPECT_TRUE(ReadGameIni(dir / "game.ini").UseDirectSound);
  writeFile(dir / "game.ini", "[Sound]\nDirectSound=0\nDelayTime=180\n");
  const TGameSettings s = ReadGameIni(dir / "game.ini");
  EXPECT_FALSE(s.UseDirectSound);
  EXPECT_EQ(s.SoundDelayTime, 100);

  // What is no settings file gives the defaults at once: a FIFO nobody
  // writes, an endless device, a file past any settings file's size.
  ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero.ini");
  writeFile(dir / "huge.ini", "[Sound]\nDirectSound=0\n;" + std::string(kGameIniLimit, 'x'));
  for (const char* name : {"fifo.ini", "zero.ini", "huge.ini"})
    EXPECT_TRUE(ReadGameIni(dir / name).UseDirectSound) << name;
}

}  // namespace
}  // namespace zirk::test
