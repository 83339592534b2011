// The HTTP client and zirkget against real servers on loopback: python's
// http.server, nginx, tinyproxy, and SOCKS servers in front of them.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "net/httpclient.h"
#include "netpump.h"
#include "support/peers.h"

namespace zirk {
namespace {

using test::fetch;

#define START_OR_SKIP(var, expr)            \
  auto var = (expr);                        \
  if (var.missing) GTEST_SKIP() << var.why; \
  ASSERT_TRUE(var.peer) << var.why

std::string base(const test::PeerResult& p) {
  return "http://127.0.0.1:" + std::to_string(p.peer->port());
}

std::string patterned(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  return s;
}

TEST(PeersHttpTest, PythonHttpServer) {
  test::TempDir dir;
  test::writeFile(dir / "www/small.txt", "small file\n");
  const int port = test::freeLoopbackPort();
  if (test::findProgram("python3").empty()) GTEST_SKIP() << "python3 is not installed";
  std::string why;
  auto peer = test::Peer::Start({"python3", "-m", "http.server", "--bind", "127.0.0.1",
                                 std::to_string(port), "--directory", (dir / "www").string()},
                                port, why);
  ASSERT_TRUE(peer) << why;
  THttpClient c;
  auto r = fetch(c, "http://127.0.0.1:" + std::to_string(port) + "/small.txt");
  EXPECT_FALSE(r.raised) << r.what;
  EXPECT_EQ(r.body, "small file\n");
  EXPECT_EQ(c.StatusCode(), 200);
  EXPECT_EQ(c.ContentLength(), 11);
  EXPECT_EQ(c.ContentType(), "text/plain");
}

// Tests side by side must never be handed the same port: it stays taken for
// a server without address reuse, and open to the peer's own listener.
TEST(PeersHttpTest, AFreePortStaysHeldForItsPeer) {
  const int port = test::freeLoopbackPort();
  auto listenOn = [port](bool reuse) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (reuse) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
                    ::listen(fd, 1) == 0;
    ::close(fd);
    return ok;
  };
  EXPECT_FALSE(listenOn(false));
  EXPECT_TRUE(listenOn(true));
}

TEST(PeersHttpTest, NginxFilesStatusesRedirectsAndHead) {
  test::TempDir dir;
  const std::string big = patterned(8 << 20);
  test::writeFile(dir / "www/index.html", "<p>home</p>");
  test::writeFile(dir / "www/big.bin", big);
  test::writeFile(dir / "www/x/target.txt", "target");
  START_OR_SKIP(nginx, test::startNginx(dir / "nginx", dir / "www",
                                        "    location = /moved { return 302 /x/target.txt; }\n"
                                        "    location = /rel { absolute_redirect off;"
                                        " return 302 /x/target.txt; }\n"
                                        "    location = /loop { return 302 /loop; }\n"));
  THttpClient c;
  c.Timeout = 20;
  auto r = fetch(c, base(nginx));  // no path: "/" is fetched
  EXPECT_FALSE(r.raised) << r.what;
  EXPECT_EQ(r.body, "<p>home</p>");
  EXPECT_EQ(c.ContentType(), "text/html");
  EXPECT_EQ(c.DocumentName(), "document.htm");
  EXPECT_EQ(c.ResponseHeader().front(), "HTTP/1.1 200 OK");

  r = fetch(c, base(nginx) + "/big.bin");
  EXPECT_FALSE(r.raised) << r.what;
  EXPECT_EQ(c.ContentLength(), static_cast<int64_t>(big.size()));
  EXPECT_TRUE(r.body == big);

  r = fetch(c, base(nginx) + "/none.txt");
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.code, 404);
  EXPECT_EQ(r.what, "Not Found");

  for (const char* path : {"/moved", "/rel"}) {
    r = fetch(c, base(nginx) + path);
    EXPECT_FALSE(r.raised) << path << r.what;
    EXPECT_EQ(r.body, "target") << path;
    EXPECT_EQ(c.Location(), base(nginx) + "/x/target.txt") << path;
  }

  r = fetch(c, base(nginx) + "/loop");
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.code, 302);

  r = fetch(c, base(nginx) + "/big.bin", rqHead);
  EXPECT_FALSE(r.raised) << r.what;
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(c.ContentLength(), static_cast<int64_t>(big.size()));
}

TEST(PeersHttpTest, TinyproxyForwardsAndAsksForCredentials) {
  test::TempDir dir;
  START_OR_SKIP(echo, test::startPython(ZIRK_SCRIPTED_PEER, {"http"}, test::freeLoopbackPort()));
  START_OR_SKIP(open, test::startTinyproxy(dir / "open"));
  START_OR_SKIP(guarded, test::startTinyproxy(dir / "guarded", "user", "pass"));

  THttpClient c;
  c.Timeout = 20;
  c.Proxy = "127.0.0.1";
  c.ProxyPort = std::to_string(open.peer->port());
  auto r = fetch(c, base(echo) + "/echo");
  ASSERT_FALSE(r.raised) << r.what;
  EXPECT_NE(r.body.find("Host: 127.0.0.1"), std::string::npos) << r.body;
  EXPECT_NE(r.body.find("Via: 1.0 "), std::string::npos) << r.body;
  // A relocation through the proxy keeps the server's port.
  r = fetch(c, base(echo) + "/rel");
  ASSERT_FALSE(r.raised) << r.what;
  EXPECT_NE(r.body.find("GET /echo?from=rel HTTP/1."), std::string::npos) << r.body;
  EXPECT_EQ(c.Location(), base(echo) + "/echo?from=rel");

  c.ProxyPort = std::to_string(guarded.peer->port());
  r = fetch(c, base(echo) + "/echo");
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.code, 407);
  c.ProxyUsername = "user";
  c.ProxyPassword = "pass";
  r = fetch(c, base(echo) + "/echo");
  EXPECT_FALSE(r.raised) << r.what;
}

TEST(PeersHttpTest, SocksServersInFrontOfTheServer) {
  test::TempDir dir;
  START_OR_SKIP(echo, test::startPython(ZIRK_SCRIPTED_PEER, {"http"}, test::freeLoopbackPort()));
  START_OR_SKIP(dante, test::startDante(dir.path()));
  START_OR_SKIP(micro, test::startMicrosocks("user", "pw"));
  THttpClient c;
  c.Timeout = 20;
  c.SocksServer = "127.0.0.1";
  for (const char* level : {"4", "5"}) {
    c.SocksPort = std::to_string(dante.peer->port());
    c.SocksLevel = level;
    auto r = fetch(c, base(echo) + "/echo");
    EXPECT_FALSE(r.raised) << level << r.what;
    EXPECT_EQ(r.body.rfind("GET /echo HTTP/1.0", 0), 0u) << level;
  }
  // The settings are copied again for the relocated connection.
  c.SocksPort = std::to_string(micro.peer->port());
  c.SocksLevel = "5";
  c.SocksUsercode = "user";
  c.SocksPassword = "pw";
  auto r = fetch(c, base(echo) + "/rel");
  EXPECT_FALSE(r.raised) << r.what;
  EXPECT_EQ(r.body.rfind("GET /echo?from=rel HTTP/1.0", 0), 0u);
  c.SocksPassword = "bad";
  r = fetch(c, base(echo) + "/echo");
  EXPECT_TRUE(r.raised);
  EXPECT_EQ(r.code, 404);
  EXPECT_EQ(r.what, "socks authentication failed (Error #20015)");
}

struct ToolRun {
  int exitCode = -1;
  std::string out, err;
};

ToolRun runZirkget(const std::vector<std::string>& args, const test::TempDir& dir) {
  std::string cmd = std::string("timeout 30 ") + ZIRKGET;
  for (const auto& a : args) cmd += " '" + a + "'";
  cmd += " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
  ToolRun run;
  int status = std::system(cmd.c_str());
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto slurp = [](const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  run.out = slurp(dir / "out");
  run.err = slurp(dir / "err");
  return run;
}

TEST(ZirkgetTest, ExitCodesOutputAndOptions) {
  test::TempDir dir;
  // A fetch that gets no reply shows no status line, only what failed.
  const std::string refused = "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort()) + "/";
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{refused}, refused + ": connection refused\n"},
           {{"https://127.0.0.1/"}, "https is not supported, only http://\n"},
           {{"notaurl"}, "notaurl: not a URL; give http://HOST[:PORT]/PATH\n"},
           {{"http://127.0.0.1:99999999999/"},
            "http://127.0.0.1:99999999999/: URL refused: port 99999999999 is above 65535\n"},
           {{"--socks", "127.0.0.1:70000", "--socks-level", "5", refused},
            refused + ": SOCKS proxy refused: port 70000 is above 65535\n"}}) {
    EXPECT_EQ(runZirkget(args, dir).err, "zirkget: " + says);
  }
  for (const char* help : {"-h", "--help"})
    EXPECT_EQ(runZirkget({help}, dir).out.rfind("usage: zirkget", 0), 0u);
  START_OR_SKIP(echo, test::startPython(ZIRK_SCRIPTED_PEER, {"http"}, test::freeLoopbackPort()));
  START_OR_SKIP(proxy, test::startTinyproxy(dir / "proxy"));
  auto ok = runZirkget({"--user", "user:pass", base(echo) + "/auth"}, dir);
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.out, "welcome");
  EXPECT_EQ(ok.err, "HTTP/1.0 200 OK\n");

  // The reply after an interim one is the document; a chunked one is none.
  EXPECT_EQ(runZirkget({base(echo) + "/continue"}, dir).out, "hello");
  auto chunked = runZirkget({base(echo) + "/chunked"}, dir);
  EXPECT_EQ(chunked.exitCode, 1);
  EXPECT_EQ(chunked.out, "");
  // A header past its limit says so, also after a status line.
  EXPECT_EQ(runZirkget({base(echo) + "/flood"}, dir).err,
            "HTTP/1.0 200 OK\nzirkget: " + base(echo) + "/flood: HTTP header too large\n");

  auto viaProxy = runZirkget(
      {"--proxy", "127.0.0.1:" + std::to_string(proxy.peer->port()), base(echo) + "/echo"}, dir);
  EXPECT_EQ(viaProxy.exitCode, 0);
  EXPECT_NE(viaProxy.out.find("Via: "), std::string::npos);

  auto missing = runZirkget({base(echo) + "/missing"}, dir);
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "nope");
  EXPECT_NE(missing.err.find("Not Found"), std::string::npos);

  auto slow = runZirkget({"--timeout", "1", base(echo) + "/silent"}, dir);
  EXPECT_EQ(slow.exitCode, 1);
  EXPECT_NE(slow.err.find("/silent: timed out"), std::string::npos) << slow.err;

  for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                              {"--bogus", "x"},
                                              {"--socks-level", "6", "http://x/"},
                                              {"--timeout", "soon", "http://x/"},
                                              {"a", "b"}}) {
    EXPECT_EQ(runZirkget(bad, dir).exitCode, 2);
  }
}

}  // namespace
}  // namespace zirk
