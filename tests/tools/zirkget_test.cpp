// zirkget and mkdemo run as a user runs them. zirkget's fetches of real
// servers are tested with the HTTP client; here what it says when a fetch
// cannot even start.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/peers.h"

namespace zirk::test {
namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
};

ToolRun run(const std::string& exe, const std::string& args) {
  TempDir temp;
  const std::string errFile = (temp / "err").string();
  ToolRun result;
  FILE* pipe = popen(("timeout 30 '" + exe + "' " + args + " 2>'" + errFile + "'").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::vector<unsigned char> err = readFile(errFile);
  result.err.assign(err.begin(), err.end());
  return result;
}

// A fetch that gets no reply shows no status line, only what failed.
TEST(Zirkget, AFailureBeforeAnyReplySaysWhatFailed) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/";
  const std::pair<std::string, std::string> cases[] = {
      {refused, "zirkget: " + refused + ": connection refused\n"},
      {"https://127.0.0.1/", "zirkget: https is not supported, only http://\n"},
      {"notaurl", "zirkget: notaurl: not a URL; give http://HOST[:PORT]/PATH\n"},
  };
  for (const auto& [url, says] : cases) {
    const ToolRun r = run(ZIRKGET_EXE, url);
    EXPECT_EQ(r.exitCode, 1) << url;
    EXPECT_EQ(r.err, says);
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

TEST(Tools, HelpGoesToStdout) {
  for (const char* exe : {ZIRKGET_EXE, MKDEMO_EXE}) {
    for (const char* help : {"-h", "--help"}) {
      const ToolRun r = run(exe, help);
      EXPECT_EQ(r.exitCode, 0) << exe << help;
      EXPECT_EQ(r.out.rfind("usage: ", 0), 0u) << exe << help << r.out;
    }
  }
}

}  // namespace
}  // namespace zirk::test
