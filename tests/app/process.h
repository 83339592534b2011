#pragma once
// Runs a program to its end (or until a time limit) and collects its exit
// code and output, for the tests that start the player itself.

#include <sys/types.h>
#include <chrono>
#include <string>
#include <vector>

namespace zirk::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when killed by a signal or the time limit
  bool timedOut = false;
  std::string out, err;
};

// Environment entries are "NAME=VALUE" added to the test's own.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds limit = std::chrono::seconds(120),
                         const std::vector<std::string>& env = {});

// Starts a program in the background with its output thrown away.
pid_t startProcess(const std::vector<std::string>& argv);
// Kills it with the signal and waits for it.
void stopProcess(pid_t pid, int signal);

// True when the program is found on PATH.
bool onPath(const std::string& program);

}  // namespace zirk::test
