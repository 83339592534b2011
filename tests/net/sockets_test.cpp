// The WinSock stand-in: error numbers and texts, and WSAAsyncSelect's
// notification rules on a real loopback connection.

#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <netdb.h>
#include <cerrno>

#include "net/asyncsocket.h"
#include "net/sockbuf.h"
#include "netpump.h"

namespace zirk {
namespace {

using namespace platform;
using test::pumpFor;
using test::pumpUntil;
using test::RecordingWindow;

TEST(SocketErrorTextTest, KnownAndUnknownCodes) {
  const std::pair<int, const char*> cases[] = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10035, "Operation would block"},
      {10047, "Address family not supported by protocol family"},
      {10054, "Connection reset by peer"},
      {10057, "Socket is not connected"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10071, "Too many levels of remote in path"},
      {10093, "WinSock not initialized"},
      {11001, "Host not found"},
      {11004, "No Data"},
      {10000, "Not a WinSock error"},
      {20009, "Not a WinSock error"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(SocketErrorText(code), text) << code;
}

TEST(SocketErrorTextTest, ErrnoAndLookupCodesMapToWinsock) {
  const std::pair<int, int> errnos[] = {
      {EINTR, 10004},        {EAGAIN, 10035},       {EINPROGRESS, 10036},  {ENOTSOCK, 10038},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {EPIPE, 10054},        {ENOTCONN, 10057},
      {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTUNREACH, 10065}, {ENOMEM, 10055},
      {ENOENT, ENOENT},
  };
  for (const auto& [err, code] : errnos) EXPECT_EQ(WinsockErrorFromErrno(err), code) << err;
  EXPECT_EQ(WinsockErrorFromGai(EAI_NONAME), 11001);
  EXPECT_EQ(WinsockErrorFromGai(EAI_AGAIN), 11002);
  EXPECT_EQ(WinsockErrorFromGai(EAI_FAIL), 11003);
}

TEST(TBufferTest, FillsPeeksAndStartsOverWhenConsumed) {
  TBuffer def;
  EXPECT_EQ(def.Size(), 1514);
  TBuffer b(8);
  EXPECT_EQ(b.Write("abcdef", 6), 6);
  EXPECT_EQ(b.Write("ghijkl", 6), 2);  // only what fits
  EXPECT_EQ(b.Write("x", 1), 0);
  int len = 0;
  const uint8_t* p = b.Peek(len);
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 8), "abcdefgh");
  EXPECT_EQ(b.Remove(3), 3);
  p = b.Peek(len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), len), "defgh");
  b.SetSize(16);  // keeps the unread bytes
  p = b.Peek(len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), len), "defgh");
  EXPECT_EQ(b.Remove(100), 5);
  EXPECT_EQ(b.Peek(len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Write("0123456789abcdef", 16), 16);  // all room again after the reset
}

TEST(SocketNamesTest, DottedAddressRules) {
  const std::pair<const char*, bool> cases[] = {
      {"1.2.3.4", true},    {"  1.2.3.4  ", true}, {"255.255.255.255", true}, {"0.0.0.0", true},
      {".1.2.3", false},    {"1.2.3.", false},     {"1.2.3.256", false},      {"1..2.3", false},
      {"1.2.3.4.5", false}, {"1.2.3", false},      {"1.2.3.4x", false},       {"", false},
      {"1.2.3.4 5", false}, {"a.b.c.d", false},    {"010.1.2.3", true},
  };
  for (const auto& [text, ok] : cases) EXPECT_EQ(IsDottedIp(text), ok) << text;
}

TEST(SocketNamesTest, ResolvesPortsProtocolsAndHosts) {
  EXPECT_EQ(SocketResolvePort("80", "tcp"), 80);
  EXPECT_EQ(SocketResolvePort("8080abc", "tcp"), 8080);
  EXPECT_EQ(SocketResolvePort("http", "tcp"), 80);
  EXPECT_EQ(SocketResolvePort("65535", "tcp"), 65535);
  EXPECT_EQ(SocketResolveProto("tcp"), 6);
  EXPECT_EQ(SocketResolveProto("17"), 17);
  // Dotted parts are decimal, not octal as inet_addr would read "010".
  EXPECT_EQ(SocketResolveHost("010.1.2.3"), 0x0A010203u);
  EXPECT_EQ(SocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(SocketResolveHost("localhost"), 0x7F000001u);

  auto message = [](auto&& f) {
    try {
      f();
    } catch (const ESocketException& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([] { SocketResolvePort("70000", "tcp"); }), "SocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { SocketResolvePort("", "tcp"); }), "SocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { SocketResolvePort(std::string(32, '1'), "tcp"); }),
            "SocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { SocketResolvePort("80", ""); }), "SocketResolvePort: Invalid Proto.");
  EXPECT_EQ(message([] { SocketResolveProto(""); }), "SocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(message([] { SocketResolveHost(""); }), "SocketResolveHost: '' Invalid Hostname.");
  EXPECT_EQ(message([] { SocketResolveHost(std::string(257, 'a')); }),
            "SocketResolveHost: '" + std::string(257, 'a') + "' Invalid Hostname.");
}

// A raw pair: a listener, a client connected with the select emulation on,
// and the accepted end driven by plain calls.
struct RawPair {
  RecordingWindow window;
  SOCKET listener = INVALID_SOCKET, client = INVALID_SOCKET, server = INVALID_SOCKET;

  RawPair() {
    listener = Socket(SOCK_STREAM_WS, 6);
    Bind(listener, SockAddrIn{0x7F000001, 0});
    Listen(listener, 5);
    SockAddrIn bound;
    GetSockName(listener, &bound);
    client = Socket(SOCK_STREAM_WS, 6);
    WSAAsyncSelect(client, window.hwnd(), 1025, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
    EXPECT_EQ(Connect(client, SockAddrIn{0x7F000001, bound.port}), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    pumpUntil([&] {
      if (server == INVALID_SOCKET) server = Accept(listener, nullptr);
      return server != INVALID_SOCKET && count(FD_CONNECT) > 0;
    });
  }
  ~RawPair() {
    for (SOCKET s : {client, server, listener})
      if (s != INVALID_SOCKET) CloseSocket(s);
  }
  int count(int event) const {
    int n = 0;
    for (const auto& m : window.messages)
      if (WSAGETSELECTEVENT(m.lParam) == event) ++n;
    return n;
  }
};

TEST(SelectEmulationTest, ConnectThenOneWriteNotificationOnly) {
  RawPair p;
  ASSERT_NE(p.server, INVALID_SOCKET);
  pumpFor(std::chrono::milliseconds(150));
  EXPECT_EQ(p.count(FD_CONNECT), 1);
  // A writable socket is announced once, not on every wait.
  EXPECT_EQ(p.count(FD_WRITE), 1);
  ASSERT_FALSE(p.window.messages.empty());
  EXPECT_EQ(p.window.messages.front().wParam, SocketToken(p.client));
  EXPECT_EQ(WSAGETSELECTERROR(p.window.messages.front().lParam), 0);
}

TEST(SelectEmulationTest, ReadIsReannouncedOnlyAfterRecv) {
  RawPair p;
  ASSERT_NE(p.server, INVALID_SOCKET);
  ASSERT_EQ(Send(p.server, "abcdef", 6, 0), 6);
  ASSERT_TRUE(pumpUntil([&] { return p.count(FD_READ) == 1; }));
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(p.count(FD_READ), 1);  // still unread: no second message
  char buf[3];
  EXPECT_EQ(Recv(p.client, buf, 3, 0), 3);
  ASSERT_TRUE(pumpUntil([&] { return p.count(FD_READ) == 2; }));  // three bytes left
  char rest[8];
  EXPECT_EQ(Recv(p.client, rest, sizeof rest, 0), 3);
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(p.count(FD_READ), 2);
  EXPECT_EQ(Recv(p.client, rest, sizeof rest, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

TEST(SelectEmulationTest, PeerCloseAndResetAreAnnouncedOnce) {
  for (bool reset : {false, true}) {
    RawPair p;
    ASSERT_NE(p.server, INVALID_SOCKET);
    if (reset) SetLinger(p.server, true, 0);
    CloseSocket(p.server);
    p.server = INVALID_SOCKET;
    ASSERT_TRUE(pumpUntil([&] { return p.count(FD_CLOSE) == 1; })) << reset;
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(p.count(FD_CLOSE), 1);
    for (const auto& m : p.window.messages)
      if (WSAGETSELECTEVENT(m.lParam) == FD_CLOSE) {
        EXPECT_EQ(WSAGETSELECTERROR(m.lParam), reset ? WSAECONNRESET : 0);
      }
  }
}

TEST(SelectEmulationTest, ReusedDescriptorGetsAFreshToken) {
  SOCKET a = Socket(SOCK_STREAM_WS, 6);
  WPARAM first = SocketToken(a);
  CloseSocket(a);
  SOCKET b = Socket(SOCK_STREAM_WS, 6);
  if (a != b) {
    CloseSocket(b);
    GTEST_SKIP() << "the descriptor number was not reused";
  }
  EXPECT_NE(SocketToken(b), first);
  CloseSocket(b);
  EXPECT_EQ(SocketToken(b), 0u);
}

TEST(SelectEmulationTest, RefusedConnectReportsConnectError) {
  RecordingWindow w;
  int port = 0;
  {
    SOCKET l = Socket(SOCK_STREAM_WS, 6);
    Bind(l, SockAddrIn{0x7F000001, 0});
    SockAddrIn a;
    GetSockName(l, &a);
    port = a.port;
    CloseSocket(l);
  }
  SOCKET s = Socket(SOCK_STREAM_WS, 6);
  WSAAsyncSelect(s, w.hwnd(), 1025, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
  Connect(s, SockAddrIn{0x7F000001, static_cast<uint16_t>(port)});
  ASSERT_TRUE(pumpUntil([&] { return !w.messages.empty(); }));
  pumpFor(std::chrono::milliseconds(100));
  ASSERT_EQ(w.messages.size(), 1u);
  EXPECT_EQ(WSAGETSELECTEVENT(w.messages[0].lParam), FD_CONNECT);
  EXPECT_EQ(WSAGETSELECTERROR(w.messages[0].lParam), WSAECONNREFUSED);
  CloseSocket(s);
}

TEST(LookupTest, ResultsAreFetchedByHandleAndCancelledOnesDropped) {
  RecordingWindow w;
  LookupHandle h = WSAAsyncGetHostByName(w.hwnd(), 1026, "localhost");
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(pumpUntil([&] { return !w.messages.empty(); }));
  EXPECT_EQ(w.messages[0].wParam, h);
  EXPECT_EQ(WSAGETSELECTERROR(w.messages[0].lParam), 0);
  auto r = TakeHostResult(h);
  ASSERT_TRUE(r.has_value());
  EXPECT_NE(std::find(r->entries.begin(), r->entries.end(), "127.0.0.1"), r->entries.end());
  EXPECT_FALSE(TakeHostResult(h).has_value());  // once only

  // A cancelled request's result is gone, even when its reply was already
  // on its way (the socket ignores such a reply by its handle).
  LookupHandle c = WSAAsyncGetHostByName(w.hwnd(), 1026, "localhost");
  EXPECT_NE(c, h);
  EXPECT_EQ(WSACancelAsyncRequest(c), 0);
  pumpFor(std::chrono::milliseconds(300));
  EXPECT_LE(w.messages.size(), 2u);
  EXPECT_FALSE(TakeHostResult(c).has_value());

  uint32_t addr = 0;
  EXPECT_EQ(GetHostByName("localhost", &addr), 0);
  EXPECT_EQ(addr, 0x7F000001u);
}

}  // namespace
}  // namespace zirk
