// zirkmedia's MIDI commands, run as a user runs them.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/testdata.h"

namespace {

struct Output {
  int exitCode = -1;
  std::vector<std::string> lines;
};

Output runTool(const std::string& args) {
  const std::string command = std::string("'") + ZIRKMEDIA_EXE + "' " + args + " 2>/dev/null";
  Output result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) result.lines.push_back(line);
  return result;
}

std::string midiFile(const std::string& name) {
  return "'" + zirk::test::dataPath("midi/" + name + ".mid").string() + "'";
}

TEST(ZirkMediaMidi, EventsListTheFileModel) {
  const Output out = runTool("midi-events " + midiFile("midifile/MIDIOkFormat0"));
  ASSERT_EQ(out.exitCode, 0);
  ASSERT_EQ(out.lines.size(), 14u);
  EXPECT_EQ(out.lines[0], "0 0 2 20 FF5804021808");
  EXPECT_EQ(out.lines[1], "0 0 2 9 FF5107A120");
  EXPECT_EQ(out.lines[7], "96 500 0 1 914340");
  EXPECT_EQ(out.lines[13], "384 2000 2 18 FF2F");
  // Not a MIDI file: no events, still a success.
  const Output none = runTool("midi-events " + midiFile("jazz-soft/test-not-a-midi-file"));
  EXPECT_EQ(none.exitCode, 0);
  EXPECT_TRUE(none.lines.empty());
  EXPECT_EQ(runTool("midi-events /no/such/file.mid").exitCode, 1);
}

TEST(ZirkMediaMidi, PlaySendsEachMessageOnTheStepAfterItsTime) {
  const Output out = runTool("midi-play " + midiFile("midifile/MIDIOkFormat0"));
  ASSERT_EQ(out.exitCode, 0);
  std::vector<std::string> expected = {"10 C005",     "10 C12E",     "10 C246",     "10 923060",
                                       "10 923C60",   "510 914340",  "1010 904C20", "2010 823040",
                                       "2010 823C40", "2010 814340", "2010 804C40"};
  // Stopping at the end silences every channel.
  const char* hex = "0123456789ABCDEF";
  for (int ch = 0; ch < 16; ++ch) expected.push_back(std::string("2010 B") + hex[ch] + "7B00");
  EXPECT_EQ(out.lines, expected);
  EXPECT_EQ(runTool("midi-play").exitCode, 2);
}

}  // namespace
