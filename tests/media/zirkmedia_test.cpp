// The zirkmedia tool, run as a user runs it, against the real libzirk.so.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "media/MidiPlayV.h"
#include "midi_support.h"
#include "support/testdata.h"

namespace {

namespace fs = std::filesystem;
using zirk::test::dataPath;

const fs::path kExe = ZIRKMEDIA_EXE;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string quoted(const fs::path& p) {
  return "'" + p.string() + "'";
}

// Runs a shell command; its standard error goes to a file in `temp`.
ToolRun shell(const std::string& command, const zirk::test::TempDir& temp) {
  const fs::path errFile = temp / "stderr.txt";
  ToolRun result;
  FILE* pipe = popen((command + " 2>" + quoted(errFile)).c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = slurp(errFile);
  return result;
}

ToolRun run(const std::string& args, const zirk::test::TempDir& temp, const fs::path& exe = kExe) {
  return shell(quoted(exe) + " " + args, temp);
}

std::string audio(const char* name) {
  return quoted(dataPath(std::string("audio/") + name));
}

std::string midi(const std::string& name) {
  return quoted(dataPath("midi/" + name + ".mid"));
}

TEST(ZirkMedia, WrongUsageExitsWithTwo) {
  zirk::test::TempDir temp;
  for (const char* args : {"", "decode", "decode a.ogg", "info", "info a b", "play a.ogg",
                           "decode a b c", "midi-play"}) {
    SCOPED_TRACE(args);
    const ToolRun r = run(args, temp);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  for (const char* help : {"-h", "--help"}) {
    const ToolRun r = run(help, temp);
    EXPECT_EQ(r.exitCode, 0) << help;
    EXPECT_EQ(r.out.rfind("usage: zirkmedia", 0), 0u) << help;
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
  const fs::path out = temp / "out.raw";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ToolRun r = run("decode " + audio(c.file) + " " + quoted(out), temp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, c.format);
    EXPECT_EQ(fs::file_size(out), c.bytes);
    if (c.md5 != nullptr) {
      EXPECT_EQ(shell("md5sum " + quoted(out), temp).out.substr(0, 32), c.md5);
    }
    // A WAVE file in the table comes out as its data chunk, byte for byte.
    if (c.bytes == 44100) {
      const auto wav = zirk::test::readFile(dataPath(std::string("audio/") + c.file));
      EXPECT_EQ(slurp(out), std::string(wav.end() - 44100, wav.end()));
    }
  }
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
    const ToolRun r = run("info " + audio(c.file), temp);
    ASSERT_EQ(r.exitCode, 0) << c.file << r.err;
    EXPECT_NEAR(std::atoi(r.out.c_str()), c.ms, c.tolerance) << c.file << r.out;
  }
  // An Ogg file is read as Ogg under its other name too.
  fs::copy_file(dataPath("audio/vorbis-stereo-44100.ogg"), temp / "bell.oga");
  EXPECT_EQ(run("info " + quoted(temp / "bell.oga"), temp).out, "2000\n");
}

TEST(ZirkMedia, FailuresExitWithOneAndSayWhy) {
  zirk::test::TempDir temp;
  const fs::path junk = temp / "junk.ogg";
  zirk::test::writeFile(junk, std::string(300, 'x'));
  const fs::path notes = temp / "notes.txt";
  zirk::test::writeFile(notes, "Just some notes.");
  const fs::path lonely = temp / "zirkmedia";  // without the library beside it
  fs::copy_file(kExe, lonely);
  fs::permissions(lonely, fs::perms::owner_exec, fs::perm_options::add);
  const fs::path huge = temp / "huge.wma";
  zirk::test::writeFile(huge, "");
  fs::resize_file(huge, (uintmax_t{256} << 20) + 1);  // sparse, one byte over the cap
  struct Case {
    std::string args;
    std::string says;
    fs::path exe = kExe;
  };
  const Case cases[] = {
      {"info " + quoted(temp / "absent.ogg"), "absent.ogg"},
      {"decode " + quoted(temp / "absent.wav") + " " + quoted(temp / "o.raw"), "absent.wav"},
      {"decode " + quoted(junk) + " " + quoted(temp / "o.raw"),
       "junk.ogg: not an Ogg or WAVE file"},
      {"info " + quoted(junk), "junk.ogg"},
      {"info " + quoted(notes), "notes.txt: not an Ogg, WAVE or movie file"},
      {"info " + quoted(huge), "huge.wma: the file is 268435457 bytes"},
      {"info " + midi("midifile/MIDIOkFormat0"),
       "a MIDI file; \"zirkmedia midi-events FILE\" lists its events"},
      {"decode " + audio("pcm8-mono-22050.wav") + " " + quoted(temp / "no-such-folder" / "o.raw"),
       "o.raw"},
      {"midi-events /no/such/file.mid", "file.mid"},
      {"info " + audio("vorbis-stereo-44100.ogg"), "libzirk.so\nファイルがありません", lonely},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const ToolRun r = run(c.args, temp, c.exe);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  // A good file through a pipe, and a FIFO nobody writes, are refused by
  // name before they are opened: neither is called damaged, nor waited for.
  const fs::path fifo = temp / "fifo.mid";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& command :
       {"cat " + audio("vorbis-stereo-44100.ogg") + " | " + quoted(kExe) + " info /dev/stdin",
        "timeout 20 " + quoted(kExe) + " midi-events " + quoted(fifo)}) {
    SCOPED_TRACE(command);
    const ToolRun r = shell(command, temp);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(": not a regular file"), std::string::npos) << r.err;
  }
}

TEST(ZirkMediaMidi, EventsListTheFileModel) {
  zirk::test::TempDir temp;
  const ToolRun r = run("midi-events " + midi("midifile/MIDIOkFormat0"), temp);
  ASSERT_EQ(r.exitCode, 0);
  const auto lines = r.lines();
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], "0 0 2 20 FF5804021808");
  EXPECT_EQ(lines[1], "0 0 2 9 FF5107A120");
  EXPECT_EQ(lines[7], "96 500 0 1 914340");
  EXPECT_EQ(lines[13], "384 2000 2 18 FF2F");
}

TEST(ZirkMediaMidi, WhatIsNotAStandardMidiFileIsAnError) {
  zirk::test::TempDir temp;
  const std::string header("MThd\0\0\0\6\0\0\0\1\0\x60", 14);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"garbage", std::string(200, '\x5A')},
      {"cut inside its header", header.substr(0, 11)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = temp / "f.mid";
    zirk::test::writeFile(file, c.bytes);
    for (const char* command : {"midi-events ", "midi-play "}) {
      const ToolRun r = run(command + quoted(file), temp);
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_NE(r.err.find("not a standard MIDI file"), std::string::npos) << r.err;
      EXPECT_TRUE(r.out.empty());
    }
  }
  const ToolRun other = run("midi-events " + midi("jazz-soft/test-not-a-midi-file"), temp);
  EXPECT_EQ(other.exitCode, 1);
  // A whole header without tracks is a file with nothing in it.
  zirk::test::writeFile(temp / "h.mid", header);
  const ToolRun bare = run("midi-events " + quoted(temp / "h.mid"), temp);
  EXPECT_EQ(bare.exitCode, 0) << bare.err;
  EXPECT_TRUE(bare.out.empty());
}

TEST(ZirkMediaMidi, AFileLargerThanAMidiFileMayBeIsRefusedByName) {
  zirk::test::TempDir temp;
  zirk::test::writeFile(temp / "huge.mid", "MThd");
  fs::resize_file(temp / "huge.mid", uintmax_t{32} << 20);  // sparse
  const ToolRun r = run("midi-events " + quoted(temp / "huge.mid"), temp);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("huge.mid: the file is 33554432 bytes"), std::string::npos) << r.err;
}

// The slowest tempo at one tick a quarter note, and a delta of 0x0FFFFFFF
// ticks: tens of thousands of years.
std::string endlessMidi(bool noteAfterTheDelta) {
  std::string track("\x00\xFF\x51\x03\xFF\xFF\xFF\x00\x90\x3C\x40", 11);
  const std::string delta("\xFF\xFF\xFF\x7F", 4);
  if (noteAfterTheDelta) {
    track += delta + std::string("\x80\x3C\x40\x00\xFF\x2F\x00", 7);
  } else {
    track += std::string("\x00\x80\x3C\x40", 4) + delta + std::string("\xFF\x2F\x00", 3);
  }
  std::string file("MThd\0\0\0\6\0\0\0\1\0\x01MTrk\0\0\0", 21);
  file += char(track.size());
  return file + track;
}

TEST(ZirkMediaMidi, PlayStopsAfterTheLastMessageAndRefusesMoreThanADay) {
  zirk::test::TempDir temp;
  zirk::test::writeFile(temp / "late-end.mid", endlessMidi(false));
  const ToolRun r = run("midi-play " + quoted(temp / "late-end.mid"), temp);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = r.lines();
  ASSERT_EQ(lines.size(), 2u + 16u);
  EXPECT_EQ(lines[0], "10 903C40");
  EXPECT_EQ(lines[1], "10 803C40");

  zirk::test::writeFile(temp / "late-note.mid", endlessMidi(true));
  const ToolRun late = run("midi-play " + quoted(temp / "late-note.mid"), temp);
  EXPECT_EQ(late.exitCode, 1);
  EXPECT_NE(late.err.find("longer than a day"), std::string::npos) << late.err;
  EXPECT_TRUE(late.out.empty());
}

TEST(ZirkMediaMidi, PlaySendsEachMessageOnTheStepAfterItsTime) {
  zirk::test::TempDir temp;
  const ToolRun r = run("midi-play " + midi("midifile/MIDIOkFormat0"), temp);
  ASSERT_EQ(r.exitCode, 0);
  std::vector<std::string> expected = {"10 C005",     "10 C12E",     "10 C246",     "10 923060",
                                       "10 923C60",   "510 914340",  "1010 904C20", "2010 823040",
                                       "2010 823C40", "2010 814340", "2010 804C40"};
  // Stopping at the end silences every channel.
  const char* hex = "0123456789ABCDEF";
  for (int ch = 0; ch < 16; ++ch) expected.push_back(std::string("2010 B") + hex[ch] + "7B00");
  EXPECT_EQ(r.lines(), expected);

  // A burst denser than music goes out over three steps, every message listed.
  constexpr size_t kBound = zirk::TMidiPlayV::kMaxMessagesPerTick;
  zirk::test::SmfBuilder burst(0, 96);
  for (size_t i = 0; i < 3 * kBound; ++i) burst.Track().Event(0, {0x90, 60, 100});
  const std::vector<uint8_t> bytes = burst.Bytes();
  zirk::test::writeFile(temp / "burst.mid", bytes.data(), bytes.size());
  const auto lines = run("midi-play " + quoted(temp / "burst.mid"), temp).lines();
  ASSERT_EQ(lines.size(), 3 * kBound + 16);
  EXPECT_EQ(lines[3 * kBound - 1], "30 903C64");
}

}  // namespace
