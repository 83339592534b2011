#include "support/peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace zirk::test {

namespace {

bool canConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  ::close(fd);
  return ok;
}

PeerResult launch(const std::vector<std::string>& argv, int port) {
  PeerResult r;
  if (findProgram(argv[0]).empty()) {
    r.missing = true;
    r.why = argv[0] + " is not installed";
    return r;
  }
  r.peer = Peer::Start(argv, port, r.why);
  return r;
}

}  // namespace

int freeLoopbackPort() {
  // The socket stays bound, never listening, until this process ends: no
  // other bind to port 0 and no outgoing connection is given the port, so
  // tests running side by side never share one, and a connection to it is
  // refused until our peer listens there. SO_REUSEADDR on both sides lets
  // the peer's own bind and listen succeed beside it.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  return ntohs(sa.sin_port);
}

std::string findProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  std::string path = getenv("PATH") ? getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/local/sbin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return "";
}

std::unique_ptr<Peer> Peer::Start(const std::vector<std::string>& argv, int port, std::string& why,
                                  std::chrono::seconds lifetime) {
  std::string program = findProgram(argv[0]);
  if (program.empty()) {
    why = argv[0] + " is not installed";
    return nullptr;
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    why = "fork failed";
    return nullptr;
  }
  if (pid == 0) {
    // Own process group, so stopping the peer reaches its helpers too; and
    // the peer dies with the test process.
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 0);
      if (!getenv("ZIRK_PEER_LOG")) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
    }
    alarm(static_cast<unsigned>(lifetime.count()));  // the bounded lifetime
    execv(program.c_str(), args.data());
    _exit(127);
  }
  setpgid(pid, pid);
  std::unique_ptr<Peer> peer(new Peer(pid, port));
  for (int i = 0; i < 50; ++i) {
    if (canConnect(port)) return peer;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      peer->pid_ = -1;
      why = argv[0] + " exited before listening (status " + std::to_string(status) + ")";
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  why = argv[0] + " did not listen on port " + std::to_string(port);
  return nullptr;
}

Peer::~Peer() {
  stop();
}

void Peer::stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  for (int i = 0; i < 30; ++i) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      kill(-pid_, SIGKILL);  // helpers the peer left behind
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

PeerResult startNginx(const std::filesystem::path& dir, const std::filesystem::path& root,
                      const std::string& extraLocations) {
  const int port = freeLoopbackPort();
  const std::string d = dir.string();
  std::filesystem::create_directories(dir / "logs");
  std::string conf =
      "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + d + "/nginx.pid;\n" +
      "error_log stderr;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n" +
      "  client_body_temp_path " + d + "/body;\n  proxy_temp_path " + d + "/proxy;\n" +
      "  fastcgi_temp_path " + d + "/fastcgi;\n  uwsgi_temp_path " + d + "/uwsgi;\n" +
      "  scgi_temp_path " + d + "/scgi;\n  sendfile on;\n  default_type text/plain;\n" +
      "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n    root " + root.string() +
      ";\n" + extraLocations + "\n  }\n}\n";
  writeFile(dir / "nginx.conf", conf);
  return launch({"nginx", "-c", d + "/nginx.conf", "-p", d, "-e", "stderr"}, port);
}

PeerResult startTinyproxy(const std::filesystem::path& dir, const std::string& user,
                          const std::string& password) {
  const int port = freeLoopbackPort();
  std::string conf = "Port " + std::to_string(port) +
                     "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                     "LogLevel Critical\n";
  if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
  writeFile(dir / "tinyproxy.conf", conf);
  return launch({"tinyproxy", "-d", "-c", (dir / "tinyproxy.conf").string()}, port);
}

PeerResult startDante(const std::filesystem::path& dir) {
  const int port = freeLoopbackPort();
  std::string conf = "logoutput: stderr\ninternal: 127.0.0.1 port = " + std::to_string(port) +
                     "\nexternal: 127.0.0.1\nclientmethod: none\nsocksmethod: none\n";
  // Switching users is only possible (and only needed) when running as root.
  if (getuid() == 0) conf += "user.privileged: root\nuser.unprivileged: nobody\n";
  conf +=
      "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
      "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n}\n";
  writeFile(dir / "danted.conf", conf);
  return launch({"danted", "-f", (dir / "danted.conf").string(), "-N", "1"}, port);
}

PeerResult startMicrosocks(const std::string& user, const std::string& password) {
  const int port = freeLoopbackPort();
  std::vector<std::string> argv{"microsocks", "-i", "127.0.0.1", "-p", std::to_string(port)};
  if (!user.empty()) argv.insert(argv.end(), {"-u", user, "-P", password});
  return launch(argv, port);
}

PeerResult startPython(const std::filesystem::path& script, const std::vector<std::string>& args,
                       int port) {
  std::vector<std::string> argv{"python3", script.string(), std::to_string(port)};
  argv.insert(argv.end(), args.begin(), args.end());
  return launch(argv, port);
}

}  // namespace zirk::test
