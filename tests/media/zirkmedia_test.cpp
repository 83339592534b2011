// The zirkmedia tool, run as a user runs it, against the real libzirk.so.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/testdata.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

ToolRun run(const fs::path& exe, const std::string& args, const zirk::test::TempDir& temp) {
  const fs::path errFile = temp / "stderr.txt";
  const std::string command = "'" + exe.string() + "' " + args + " 2>'" + errFile.string() + "'";
  ToolRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = slurp(errFile);
  return result;
}

std::string quoted(const fs::path& p) {
  return "'" + p.string() + "'";
}

std::string md5Of(const fs::path& path) {
  std::string command = "md5sum " + quoted(path);
  FILE* pipe = popen(command.c_str(), "r");
  char sum[33] = {};
  if (pipe == nullptr) return {};
  const size_t n = fread(sum, 1, 32, pipe);
  pclose(pipe);
  return std::string(sum, n);
}

const fs::path kExe = ZIRKMEDIA_EXE;

TEST(ZirkMedia, WrongUsageExitsWithTwo) {
  zirk::test::TempDir temp;
  for (const char* args :
       {"", "decode", "decode a.ogg", "info", "info a b", "play a.ogg", "decode a b c"}) {
    SCOPED_TRACE(args);
    const ToolRun r = run(kExe, args, temp);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(ZirkMedia, DecodeWritesPcmAndPrintsItsFormat) {
  struct Case {
    const char* file;
    const char* format;
    size_t bytes;
    const char* md5;  // of the PCM, when known independently
  };
  const Case cases[] = {
      // In the mixer's table: the data bytes as they are.
      {"pcm8-mono-22050.wav", "22050 1 8\n", 44100, nullptr},
      {"pcm16-stereo-44100-extensible.wav", "44100 2 16\n", 44100 * 4, nullptr},
      // Outside it: converted to 44100 Hz 16-bit, frames scaled by 44100/rate.
      {"pcm8-mono-11025.wav", "44100 1 16\n", 44100 * 2, nullptr},
      {"vorbis-stereo-48000.ogg", "44100 2 16\n", 44100 * 4, nullptr},
      // libvorbis' own decode of the file.
      {"vorbis-stereo-44100.ogg", "44100 2 16\n", 88200 * 4, "18b1cfd175763f7ffd5a6fbba94e9a7a"},
      {"vorbis-mono-22050.ogg", "22050 1 16\n", 44100 * 2, "bdaf9f0fe8f2621845363d47b82466c7"},
  };
  zirk::test::TempDir temp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path out = temp / "out.raw";
    const ToolRun r = run(kExe,
                          "decode " + quoted(zirk::test::dataPath(std::string("audio/") + c.file)) +
                              " " + quoted(out),
                          temp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.format);
    EXPECT_EQ(fs::file_size(out), c.bytes);
    if (c.md5 != nullptr) {
      EXPECT_EQ(md5Of(out), c.md5);
    }
  }
  // A WAVE file in the table comes out as its data chunk, byte for byte.
  const auto wav = zirk::test::readFile(zirk::test::dataPath("audio/pcm8-mono-22050.wav"));
  const fs::path out = temp / "plain.raw";
  ASSERT_EQ(
      run(kExe,
          "decode " + quoted(zirk::test::dataPath("audio/pcm8-mono-22050.wav")) + " " + quoted(out),
          temp)
          .exitCode,
      0);
  const std::string pcm = slurp(out);
  ASSERT_EQ(pcm.size(), 44100u);
  EXPECT_EQ(pcm, std::string(wav.end() - 44100, wav.end()));
}

TEST(ZirkMedia, InfoPrintsTheLengthOfTheMatchingItem) {
  struct Case {
    const char* file;
    int ms;
    int tolerance;
  };
  const Case cases[] = {
      {"vorbis-stereo-44100.ogg", 2000, 0},   {"pcm16-mono-22050.wav", 2000, 0},
      {"pcm8-mono-11025.wav", 1000, 0},       {"tone-1500ms.wma", 1500, 50},
      {"testsrc-64x48-10fps.wmv", 1000, 100},
  };
  zirk::test::TempDir temp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ToolRun r =
        run(kExe, "info " + quoted(zirk::test::dataPath(std::string("audio/") + c.file)), temp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NEAR(std::atoi(r.out.c_str()), c.ms, c.tolerance) << r.out;
  }
}

TEST(ZirkMedia, FailuresExitWithOneAndSayWhy) {
  zirk::test::TempDir temp;
  const fs::path junk = temp / "junk.ogg";
  zirk::test::writeFile(junk, std::string(300, 'x'));
  struct Case {
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {"info " + quoted(temp / "absent.ogg"), "absent.ogg"},
      {"decode " + quoted(temp / "absent.wav") + " " + quoted(temp / "o.raw"), "absent.wav"},
      {"decode " + quoted(junk) + " " + quoted(temp / "o.raw"), "junk.ogg"},
      {"info " + quoted(junk), "junk.ogg"},
      {"decode " + quoted(zirk::test::dataPath("audio/pcm8-mono-22050.wav")) + " " +
           quoted(temp / "no-such-folder" / "o.raw"),
       "o.raw"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = run(kExe, c.args, temp);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

TEST(ZirkMedia, WithoutTheLibraryBesideItFailsWithThePlayersMessage) {
  zirk::test::TempDir temp;
  const fs::path lonely = temp / "zirkmedia";
  fs::copy_file(kExe, lonely);
  fs::permissions(lonely, fs::perms::owner_exec, fs::perm_options::add);
  const ToolRun r =
      run(lonely, "info " + quoted(zirk::test::dataPath("audio/vorbis-stereo-44100.ogg")), temp);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("libzirk.so\nファイルがありません"), std::string::npos) << r.err;
}

}  // namespace
