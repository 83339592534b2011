#pragma once
// Loopback peers for the network tests: real servers (nginx, tinyproxy,
// dante, microsocks) and scripted ones, each started in the foreground with
// its own configuration in a private folder, on a free loopback port, with a
// bounded lifetime. A peer is stopped (its own process group only) when its
// object goes away.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/testdata.h"

namespace zirk::test {

// A loopback TCP port nobody listens on, held for this process: no other
// process is given it, and only a peer started on it listens there.
int freeLoopbackPort();

// Full path of an executable found in PATH or the sbin folders; empty when
// the program is not installed.
std::string findProgram(const std::string& name);

class Peer {
 public:
  // Starts argv[0] (resolved with findProgram) and waits until it accepts
  // connections on `port` (at most 50 x 100 ms). The process is killed after
  // `lifetime` even when the test forgets it. nullptr when it never listened;
  // `why` then says what happened.
  static std::unique_ptr<Peer> Start(const std::vector<std::string>& argv, int port,
                                     std::string& why,
                                     std::chrono::seconds lifetime = std::chrono::seconds(120));
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  void stop();

 private:
  Peer(pid_t pid, int port) : pid_(pid), port_(port) {}
  pid_t pid_;
  int port_;
};

// The servers, each with its configuration written to `dir`. They return
// nullptr and set `why` when the program is missing (a caller skips) or did
// not start.
struct PeerResult {
  std::unique_ptr<Peer> peer;
  std::string why;
  bool missing = false;
};

// nginx serving `root`; `extraLocations` goes into the server block.
PeerResult startNginx(const std::filesystem::path& dir, const std::filesystem::path& root,
                      const std::string& extraLocations = std::string());
// tinyproxy; with a user, BasicAuth is required.
PeerResult startTinyproxy(const std::filesystem::path& dir, const std::string& user = std::string(),
                          const std::string& password = std::string());
// dante without authentication, relaying to loopback only.
PeerResult startDante(const std::filesystem::path& dir);
// microsocks, with user and password when given.
PeerResult startMicrosocks(const std::string& user = std::string(),
                           const std::string& password = std::string());
// python3 running `script` with the port (and any extra arguments).
PeerResult startPython(const std::filesystem::path& script, const std::vector<std::string>& args,
                       int port);

}  // namespace zirk::test
