// SOCKS 4, 4A and 5 negotiation against a scripted server (every reply
// code, fragmented and oversized replies) and against dante and microsocks.

#include <gtest/gtest.h>

#include "net/linesocket.h"
#include "netpump.h"
#include "support/peers.h"

namespace zirk {
namespace {

using test::pumpFor;
using test::pumpUntil;

// A client in line mode that records what the application would see.
struct SocksClient {
  TAsyncSocket s;
  std::vector<int> connected;
  std::vector<std::string> lines;
  std::vector<int> authStates;
  std::vector<std::pair<int, std::string>> errors;
  bool closed = false;

  SocksClient(int socksPort, const std::string& level, const std::string& addr,
              const std::string& port = "80") {
    s.SetLineMode(true);
    s.OnSessionConnected = [this](TCustomAsyncSocket*, uint16_t e) { connected.push_back(e); };
    s.OnDataAvailable = [this](TCustomAsyncSocket* so, uint16_t) {
      lines.push_back(so->ReceiveStr());
    };
    s.OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t) { closed = true; };
    s.OnSocksAuthState = [this](TCustomAsyncSocket*, uint8_t st) { authStates.push_back(st); };
    s.OnSocksError = [this](TCustomAsyncSocket*, int code, const std::string& msg) {
      errors.emplace_back(code, msg);
    };
    s.SetSocksServer("127.0.0.1");
    s.SetSocksPort(std::to_string(socksPort));
    s.SetSocksLevel(level);
    s.SetAddr(addr);
    s.SetPort(port);
  }
  void run() {
    s.Connect();
    ASSERT_TRUE(pumpUntil([&] { return closed || (!connected.empty() && !lines.empty()); }));
  }
};

class ScriptedSocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    peer_ = test::startPython(ZIRK_SCRIPTED_PEER, {"socks"}, test::freeLoopbackPort());
    if (peer_.missing) GTEST_SKIP() << peer_.why;
    ASSERT_TRUE(peer_.peer) << peer_.why;
  }
  int port() const { return peer_.peer->port(); }
  test::PeerResult peer_;
};

TEST_F(ScriptedSocksTest, Level4And4ASendTheirRequests) {
  SocksClient four(port(), "4", "127.0.0.1", "8080");
  four.s.SetSocksUsercode("bob");
  four.run();
  EXPECT_EQ(four.connected, std::vector<int>{0});
  ASSERT_FALSE(four.lines.empty());
  EXPECT_EQ(four.lines[0], "HELLO 4 user=bob host=127.0.0.1 port=8080\r\n");

  SocksClient fourA(port(), "4a", "name.example", "81");
  EXPECT_EQ(fourA.s.SocksLevel(), "4A");
  fourA.s.SetSocksUsercode("amy");
  fourA.run();
  ASSERT_FALSE(fourA.lines.empty());
  // 0.0.0.1 plus the name after the user id: the server resolves it.
  EXPECT_EQ(fourA.lines[0], "HELLO 4 user=amy host=name.example port=81\r\n");

  SocksClient rejected(port(), "4A", "reject.example");
  rejected.run();
  EXPECT_EQ(rejected.connected, std::vector<int>{20016});
  ASSERT_EQ(rejected.errors.size(), 1u);
  EXPECT_EQ(rejected.errors[0].second, "request rejected or failed");
}

TEST_F(ScriptedSocksTest, Level5RepliesOfEveryShape) {
  // name, first line seen by the application
  const std::pair<const char*, const char*> cases[] = {
      {"plain.example", "HELLO 5 host=plain.example port=80\r\n"},
      {"frag", "HELLO 5 host=frag port=80\r\n"},          // the reply one byte at a time
      {"bound", "HELLO 5 host=bound port=80\r\n"},        // a 250-byte bound name
      {"trailing", "HELLO 5 host=trailing port=80\r\n"},  // reply and data in one piece
  };
  for (const auto& [name, line] : cases) {
    SocksClient c(port(), "5", name);
    c.run();
    EXPECT_EQ(c.connected, std::vector<int>{0}) << name;
    ASSERT_FALSE(c.lines.empty()) << name;
    EXPECT_EQ(c.lines[0], line) << name;
    if (std::string(name) == "bound") {
      EXPECT_EQ(c.s.BoundAddr(), std::string(250, 'b'));
    }
    if (std::string(name) == "trailing") {
      ASSERT_TRUE(pumpUntil([&] { return c.lines.size() >= 2; }));
      EXPECT_EQ(c.lines[1], "MORE\r\n");
    }
  }
}

TEST_F(ScriptedSocksTest, Level5ErrorCodesAndTexts) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"fail1", 20004, "general SOCKS server failure"},
      {"fail2", 20005, "connection not allowed by ruleset"},
      {"fail3", 20006, "network unreachable"},
      {"fail4", 20007, "host unreachable"},
      {"fail5", 20008, "connection refused"},
      {"fail6", 20009, "TTL expired"},
      {"fail7", 20010, "command not supported"},
      {"fail8", 20011, "address type not supported"},
      {"fail9", 20012, "unassigned error #9"},
      {"badver", 20002, "socks version error"},
  };
  for (const auto& [name, code, text] : cases) {
    SocksClient c(port(), "5", name);
    c.run();
    EXPECT_EQ(c.connected, std::vector<int>{code}) << name;  // exactly once
    ASSERT_EQ(c.errors.size(), 1u) << name;
    EXPECT_EQ(c.errors[0], std::make_pair(code, std::string(text)));
    EXPECT_EQ(c.s.State(), wsClosed);
  }
}

TEST_F(ScriptedSocksTest, Level5Authentication) {
  SocksClient good(port(), "5", "plain.example");
  good.s.SetSocksAuthentication(socksAuthenticateUsercode);
  good.s.SetSocksUsercode("user");
  good.s.SetSocksPassword("secret");
  good.run();
  EXPECT_EQ(good.connected, std::vector<int>{0});
  EXPECT_EQ(good.authStates, (std::vector<int>{0, 1}));

  SocksClient bad(port(), "5", "plain.example");
  bad.s.SetSocksAuthentication(socksAuthenticateUsercode);
  bad.s.SetSocksUsercode("user");
  bad.s.SetSocksPassword("wrong");
  bad.run();
  EXPECT_EQ(bad.connected, std::vector<int>{20015});
  EXPECT_EQ(bad.authStates, std::vector<int>{0}) << "the refusal is the error alone";
  EXPECT_EQ(bad.errors,
            (std::vector<std::pair<int, std::string>>{{20015, "socks authentication failed"}}));

  // A server that hangs up instead of answering fails the authentication.
  SocksClient gone(port(), "5", "plain.example");
  gone.s.SetSocksAuthentication(socksAuthenticateUsercode);
  gone.s.SetSocksUsercode("user");
  gone.s.SetSocksPassword("hangup");
  gone.run();
  EXPECT_EQ(gone.authStates, (std::vector<int>{0, 2}));
  ASSERT_EQ(gone.connected.size(), 1u);
  EXPECT_NE(gone.connected[0], 0);
}

TEST_F(ScriptedSocksTest, ServerHangingUpEndsTheAttemptOnce) {
  SocksClient c(port(), "5", "hangup");
  c.run();
  // A plain close is reported as such, not as a version error from a stale byte.
  EXPECT_EQ(c.connected, std::vector<int>{10053});
  EXPECT_TRUE(c.closed);
  EXPECT_TRUE(c.errors.empty());
}

TEST_F(ScriptedSocksTest, FieldsLongerThanALengthByteAreRefusedBeforeSending) {
  SocksClient c(port(), "5", std::string(256, 'h'));
  c.run();
  EXPECT_EQ(c.connected, std::vector<int>{20013});
  EXPECT_TRUE(c.lines.empty());
}

TEST(SocksSettingsTest, LevelsAndClosedOnlyRules) {
  TAsyncSocket s;
  EXPECT_EQ(s.SocksLevel(), "5");
  for (const char* level : {"4", "4A", "5"}) {
    s.SetSocksLevel(level);
    EXPECT_EQ(s.SocksLevel(), level);
  }
  try {
    s.SetSocksLevel("6");
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Invalid socks level. Must be 4, 4A or 5.");
  }
  s.SetSocksServer(" 127.0.0.1 ");
  EXPECT_EQ(s.SocksServer(), "127.0.0.1");
  s.SetProto("udp");
  s.SetAddr("h");
  s.SetPort("1");
  try {
    s.Connect();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "tcp is the only protocol supported thru socks server");
  }
  try {
    s.Listen();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Listening is not supported thru socks server");
  }
}

// A loopback echo-less destination: the scripted HTTP peer answers /echo.
struct HttpDestination {
  test::PeerResult peer = test::startPython(ZIRK_SCRIPTED_PEER, {"http"}, test::freeLoopbackPort());
};

std::string fetchThroughSocks(int socksPort, const std::string& level, int destPort,
                              const std::string& user, const std::string& pass,
                              std::vector<int>* connected = nullptr) {
  SocksClient c(socksPort, level, "127.0.0.1", std::to_string(destPort));
  if (!user.empty()) {
    c.s.SetSocksAuthentication(socksAuthenticateUsercode);
    c.s.SetSocksUsercode(user);
    c.s.SetSocksPassword(pass);
  }
  c.s.OnSessionConnected = [&](TCustomAsyncSocket* s, uint16_t e) {
    c.connected.push_back(e);
    if (e == 0) s->SendStr("GET /echo HTTP/1.0\r\n\r\n");
  };
  c.run();
  if (connected) *connected = c.connected;
  return c.lines.empty() ? std::string() : c.lines[0];
}

TEST(SocksPeersTest, DanteLevels4And5) {
  test::TempDir dir;
  auto dante = test::startDante(dir.path());
  if (dante.missing) GTEST_SKIP() << dante.why;
  ASSERT_TRUE(dante.peer) << dante.why;
  HttpDestination dest;
  if (dest.peer.missing) GTEST_SKIP() << dest.peer.why;
  ASSERT_TRUE(dest.peer.peer);
  for (const char* level : {"4", "5"}) {
    std::vector<int> connected;
    EXPECT_EQ(
        fetchThroughSocks(dante.peer->port(), level, dest.peer.peer->port(), "", "", &connected),
        "HTTP/1.0 200 OK\r\n")
        << level;
    EXPECT_EQ(connected, std::vector<int>{0}) << level;
  }
  // A destination nobody listens on.
  std::vector<int> connected;
  fetchThroughSocks(dante.peer->port(), "5", test::freeLoopbackPort(), "", "", &connected);
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_NE(connected[0], 0);
}

TEST(SocksPeersTest, MicrosocksWithAndWithoutPassword) {
  HttpDestination dest;
  if (dest.peer.missing) GTEST_SKIP() << dest.peer.why;
  auto open = test::startMicrosocks();
  if (open.missing) GTEST_SKIP() << open.why;
  ASSERT_TRUE(open.peer) << open.why;
  EXPECT_EQ(fetchThroughSocks(open.peer->port(), "5", dest.peer.peer->port(), "", ""),
            "HTTP/1.0 200 OK\r\n");

  auto authed = test::startMicrosocks("user", "pw");
  ASSERT_TRUE(authed.peer) << authed.why;
  EXPECT_EQ(fetchThroughSocks(authed.peer->port(), "5", dest.peer.peer->port(), "user", "pw"),
            "HTTP/1.0 200 OK\r\n");
  std::vector<int> connected;
  fetchThroughSocks(authed.peer->port(), "5", dest.peer.peer->port(), "user", "bad", &connected);
  EXPECT_EQ(connected, std::vector<int>{20015});
  fetchThroughSocks(authed.peer->port(), "5", dest.peer.peer->port(), "", "", &connected);
  EXPECT_EQ(connected, std::vector<int>{20003});
}

}  // namespace
}  // namespace zirk
