// The socket component as its own peer on loopback: a listening component
// accepts, a second one adopts the connection with Dup.

#include "net/asyncsocket.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <thread>

#include "net/linesocket.h"
#include "netpump.h"

namespace zirk {
namespace {

using test::pumpFor;
using test::pumpUntil;

struct Loopback : test::SocketPair {
  std::vector<std::string> events;  // of the client
  std::string clientData, serverData;
  int closedEvents = 0;

  Loopback() {
    client.OnSessionConnected = [this](TCustomAsyncSocket*, uint16_t e) {
      events.push_back("connected " + std::to_string(e));
    };
    client.OnDataAvailable = [this](TCustomAsyncSocket* s, uint16_t) {
      clientData += s->ReceiveStr();
      events.push_back("data");
    };
    client.OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t e) {
      ++closedEvents;
      events.push_back("closed " + std::to_string(e));
    };
    server.OnDataAvailable = [this](TCustomAsyncSocket* s, uint16_t) {
      serverData += s->ReceiveStr();
    };
  }
  void connect() { ASSERT_TRUE(SocketPair::connect()); }
};

TEST(AsyncSocketTest, ExchangesDataBothWays) {
  Loopback p;
  ASSERT_EQ(p.listener.State(), wsListening);
  ASSERT_NE(p.listener.GetBoundPort(), "0");
  p.connect();
  EXPECT_EQ(p.events.front(), "connected 0");
  EXPECT_EQ(p.client.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(p.client.PeerPort(), p.listener.GetBoundPort());
  EXPECT_EQ(p.client.SendStr("ping"), 4);
  EXPECT_EQ(p.server.SendStr("pong"), 4);
  ASSERT_TRUE(pumpUntil([&] { return p.clientData == "pong" && p.serverData == "ping"; }));
  EXPECT_EQ(p.client.ReadCount(), 4);
}

TEST(AsyncSocketTest, RemoteCloseHandsOverDataBeforeClosedEventOnce) {
  Loopback p;
  p.connect();
  p.server.SendStr("last words");
  p.server.Flush();
  p.server.Close();
  ASSERT_TRUE(pumpUntil([&] { return p.closedEvents > 0; }));
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(p.clientData, "last words");
  EXPECT_EQ(p.closedEvents, 1);
  // Every close is abortive by default, so the peer may see a reset.
  EXPECT_EQ(p.events.back().rfind("closed ", 0), 0u);
  EXPECT_EQ(p.events[p.events.size() - 2], "data");
  EXPECT_EQ(p.client.State(), wsClosed);
  // Closing returns every setting to its default.
  EXPECT_EQ(p.client.Addr(), "");
  EXPECT_EQ(p.client.LocalAddr(), "0.0.0.0");
}

TEST(AsyncSocketTest, AnErrorCloseLeavesTheNextCloseReported) {
  Loopback p;
  p.client.OnError = [](TCustomAsyncSocket*) {};  // reported, not raised
  p.connect();
  p.server.Close();  // abortive: the client's connection is reset
  // Unpumped, it learns of the reset from a query that fails.
  for (int i = 0; i < 1000000 && p.client.State() != wsClosed; ++i) p.client.GetPeerAddr();
  ASSERT_EQ(p.closedEvents, 1);
  p.connect();
  p.server.Close();
  EXPECT_TRUE(pumpUntil([&] { return p.closedEvents == 2; }));
}

TEST(AsyncSocketTest, RefusedConnectionReportsTheError) {
  TAsyncSocket s;
  int port;
  {
    TAsyncSocket l;
    l.SetAddr("127.0.0.1");
    l.SetPort("0");
    l.Listen();
    port = std::stoi(l.GetBoundPort());
  }
  std::vector<int> connected;
  int closed = 0;
  s.OnSessionConnected = [&](TCustomAsyncSocket*, uint16_t e) { connected.push_back(e); };
  s.OnSessionClosed = [&](TCustomAsyncSocket*, uint16_t) { ++closed; };
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.Connect();
  ASSERT_TRUE(pumpUntil([&] { return s.State() == wsClosed; }));
  pumpFor(std::chrono::milliseconds(50));
  ASSERT_EQ(connected, std::vector<int>{10061});
  EXPECT_EQ(closed, 1);
}

TEST(AsyncSocketTest, OperationErrorsAndSetterRules) {
  TAsyncSocket s;
  try {
    s.Send("x", 1);
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Error 10057 in function Send\r\nSocket is not connected");
  }
  EXPECT_EQ(s.LastError(), 10057);
  // With OnError assigned, the error fires it instead and the call returns.
  int errors = 0;
  s.OnError = [&](TCustomAsyncSocket*) { ++errors; };
  EXPECT_EQ(s.Send("x", 1), -1);
  EXPECT_EQ(errors, 1);
  s.OnError = nullptr;

  const std::pair<std::function<void()>, const char*> raising[] = {
      {[&] { s.Connect(); }, "Connect: No Port Specified"},
      {[&] { s.SetLocalAddr("x.y"); }, "SetLocalAddr(): Invalid IP address"},
      {[&] { s.SetSendFlags(7); }, "Invalid SendFlags"},
      {[&] { s.DnsLookup(""); }, "DNS lookup: invalid host name."},
      {[&] { s.ReverseDnsLookup(""); }, "ReverseDnsLookup: Invalid host name."},
  };
  for (const auto& [call, text] : raising) {
    try {
      call();
      ADD_FAILURE() << "no exception for " << text;
    } catch (const ESocketException& e) {
      EXPECT_STREQ(e.what(), text);
    }
  }
  s.SetPort("80");
  try {
    s.Connect();
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Connect: No IP Address Specified");
  }
}

TEST(AsyncSocketTest, LocalAddrTakesWhatInetAddrReads) {
  TAsyncSocket s;
  for (const char* text : {"127.1", "10.1.2", "0x7f.0.0.1", "0177.0.0.1", " 1.2.3.4 "}) {
    EXPECT_NO_THROW(s.SetLocalAddr(text)) << text;
  }
  EXPECT_EQ(s.LocalAddr(), "1.2.3.4");
  for (const char* text : {"1.2.3.4.5", "256.1.1.1", "1..2", "host"}) {
    EXPECT_THROW(s.SetLocalAddr(text), ESocketException) << text;
  }
  // The short form binds where its long form would.
  Loopback p;
  p.client.SetLocalAddr("127.1");
  p.connect();
  EXPECT_EQ(p.client.GetBoundAddr(), "127.0.0.1");
}

TEST(AsyncSocketTest, AFailedCloseIsReportedAndStillCloses) {
  for (const bool withOnError : {false, true}) {
    SCOPED_TRACE(withOnError ? "OnError" : "raised");
    TAsyncSocket s;
    int errors = 0, closed = 0;
    if (withOnError) s.OnError = [&](TCustomAsyncSocket*) { ++errors; };
    s.OnSessionClosed = [&](TCustomAsyncSocket*, uint16_t) { ++closed; };
    const platform::SOCKET fd =
        platform::Socket(platform::SOCK_STREAM_WS, platform::IPPROTO_TCP_WS);
    ASSERT_GE(fd, 0);
    s.Dup(fd);
    ASSERT_EQ(s.State(), wsConnected);
    ::close(fd);  // taken away behind the component's back
    try {
      s.Close();
      EXPECT_TRUE(withOnError) << "no exception";
    } catch (const ESocketException& e) {
      EXPECT_STREQ(e.what(), "Error 10009 in function Disconnect (closesocket)\r\nBad file number");
    }
    EXPECT_EQ(s.LastError(), 10009);
    EXPECT_EQ(errors, withOnError ? 1 : 0);
    if (withOnError) {
      EXPECT_EQ(s.State(), wsClosed);
      EXPECT_EQ(closed, 1);
    }
    // Nothing is left to close twice.
    EXPECT_NO_THROW(s.Close());
  }
}

TEST(AsyncSocketTest, PortMayBeSetToItsValueWhileOpenOnly) {
  Loopback p;
  p.connect();
  const std::string port = p.client.Port();
  EXPECT_NO_THROW(p.client.SetPort(port));
  EXPECT_THROW(p.client.SetPort("1"), ESocketException);
  try {
    p.client.SetAddr("10.0.0.1");
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Cannot change Addr if not closed");
  }
}

TEST(AsyncSocketTest, ImmediateSendStillFiresDataSentLater) {
  Loopback p;
  p.connect();
  int sent = 0;
  p.client.OnDataSent = [&](TCustomAsyncSocket*, uint16_t) { ++sent; };
  p.client.SendStr("quick");
  EXPECT_EQ(sent, 0);  // not from inside Send
  ASSERT_TRUE(pumpUntil([&] { return sent > 0; }));
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(sent, 1);
}

TEST(AsyncSocketTest, LargeSendToASlowReaderDrainsWithOneDataSent) {
  Loopback p;
  p.connect();
  const int total = 16 << 20;
  int64_t received = 0;
  p.server.OnDataAvailable = [&](TCustomAsyncSocket* s, uint16_t) {
    char buf[65536];
    int n = s->Receive(buf, sizeof buf);
    if (n > 0) received += n;
  };
  p.server.Pause();
  int sent = 0;
  p.client.OnDataSent = [&](TCustomAsyncSocket*, uint16_t) { ++sent; };
  std::string block(total, 'z');
  EXPECT_EQ(p.client.Send(block.data(), total), total);
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(sent, 0);  // the kernel buffers are full, the rest is queued
  p.server.Resume();
  ASSERT_TRUE(pumpUntil([&] { return received == total && sent > 0; }, std::chrono::seconds(20)))
      << received << " " << sent;
  pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(sent, 1);
}

TEST(AsyncSocketTest, PauseHoldsNotificationsUntilResume) {
  Loopback p;
  p.connect();
  p.client.Pause();
  p.server.SendStr("held");
  pumpFor(std::chrono::milliseconds(150));
  EXPECT_EQ(p.clientData, "");
  p.client.Resume();
  ASSERT_TRUE(pumpUntil([&] { return p.clientData == "held"; }));
}

TEST(AsyncSocketTest, LookupsCompleteAsWinSockDid) {
  TAsyncSocket s;
  std::vector<int> done;
  s.OnDnsLookupDone = [&](TCustomAsyncSocket*, uint16_t e) { done.push_back(e); };
  s.DnsLookup("127.0.0.1");  // inside the call, with an empty list
  ASSERT_EQ(done, std::vector<int>{0});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_TRUE(s.DnsResultList().empty());

  s.DnsLookup("localhost");
  EXPECT_EQ(done.size(), 1u);
  ASSERT_TRUE(pumpUntil([&] { return done.size() == 2; }));
  EXPECT_EQ(done[1], 0);
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_EQ(s.DnsResultList(), std::vector<std::string>{"127.0.0.1"});

  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  ASSERT_EQ(done.size(), 3u);
  EXPECT_EQ(done[2], 10004);
  pumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(done.size(), 3u);  // the late reply is dropped

  s.ReverseDnsLookup("127.0.0.1");
  ASSERT_TRUE(pumpUntil([&] { return done.size() == 4; }));
  EXPECT_EQ(done[3], 0);
  EXPECT_FALSE(s.DnsResult().empty());
}

TEST(AsyncSocketTest, ReconnectingOnTheSameDescriptorSeesNoStaleEvents) {
  TAsyncSocket listener;
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  std::vector<std::unique_ptr<TAsyncSocket>> accepted;
  listener.OnSessionAvailable = [&](TCustomAsyncSocket*, uint16_t) {
    auto s = std::make_unique<TAsyncSocket>();
    s->Dup(listener.Accept());
    s->SendStr("hi");
    s->Close();
    accepted.push_back(std::move(s));
  };
  listener.Listen();
  TAsyncSocket c;
  int connected = 0, closed = 0, stale = 0;
  bool open = false;
  c.OnSessionConnected = [&](TCustomAsyncSocket*, uint16_t e) {
    if (e == 0) ++connected;
    open = true;
  };
  c.OnSessionClosed = [&](TCustomAsyncSocket*, uint16_t) {
    if (!open) ++stale;
    open = false;
    ++closed;
  };
  c.OnDataAvailable = [&](TCustomAsyncSocket* s, uint16_t) { s->ReceiveStr(); };
  for (int i = 0; i < 200; ++i) {
    c.SetAddr("127.0.0.1");
    c.SetPort(listener.GetBoundPort());
    c.Connect();
    ASSERT_TRUE(pumpUntil([&] { return connected == i + 1; })) << i;
    // Closing right away leaves the peer's data and close queued.
    c.Close();
  }
  pumpFor(std::chrono::milliseconds(200));
  EXPECT_EQ(connected, 200);
  EXPECT_EQ(closed, 200);
  EXPECT_EQ(stale, 0);
}

TEST(AsyncSocketTest, BackgroundExceptionAbortsUnlessTheHandlerSaysNo) {
  for (bool keep : {false, true}) {
    Loopback p;
    p.connect();
    std::string caught;
    p.client.OnBgException = [&](TCustomAsyncSocket*, const std::exception& e, bool& canClose) {
      caught = e.what();
      canClose = !keep;
    };
    platform::PostMessage(p.client.Window(), WM_TRIGGER_EXCEPTION);
    ASSERT_TRUE(pumpUntil([&] { return !caught.empty(); }));
    EXPECT_EQ(caught, "Test exception in AsyncSocket");
    EXPECT_EQ(p.client.State(), keep ? wsConnected : wsClosed);
  }
}

TEST(AsyncSocketTest, DatagramsBetweenAListenerAndAConnectedSocket) {
  TAsyncSocket server, client;
  std::vector<int> connected;
  std::string got;
  server.OnSessionConnected = [&](TCustomAsyncSocket*, uint16_t e) { connected.push_back(e); };
  server.OnDataAvailable = [&](TCustomAsyncSocket* s, uint16_t) {
    char buf[256];
    platform::SockAddrIn from;
    int n = s->ReceiveFrom(buf, sizeof buf, from);
    if (n > 0) got.assign(buf, static_cast<size_t>(n));
  };
  server.SetProto("udp");
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.Listen();
  EXPECT_EQ(server.State(), wsConnected);  // a datagram listener is at once "connected"
  EXPECT_EQ(connected, std::vector<int>{0});

  client.SetProto("udp");
  client.SetAddr("127.0.0.1");
  client.SetPort(server.GetBoundPort());
  client.Connect();
  EXPECT_EQ(client.State(), wsConnected);
  EXPECT_EQ(client.SendStr("datagram"), 8);
  ASSERT_TRUE(pumpUntil([&] { return got == "datagram"; }));
}

TEST(SyncSocketTest, WaitUntilReadyEndsOnFlagOrTimeout) {
  TAsyncSocket s;
  bool done = false;
  s.SetTimeout(100);
  EXPECT_EQ(s.WaitUntilReady(done), TCustomSyncSocket::kWaitFailed);
  platform::HWND w = platform::AllocateHWnd([&](const platform::Message&) {
    done = true;
    return 0;
  });
  s.SetTimeout(5000);
  EXPECT_EQ(s.Synchronize([&] { platform::PostMessage(w, 1); }, done), 0);
  EXPECT_TRUE(done);
  platform::DeallocateHWnd(w);
  std::thread quitting([] {  // a thread whose loop is to end
    TAsyncSocket t;
    bool never = false;
    t.SetTimeout(30000);
    platform::PostQuitMessage();
    EXPECT_EQ(t.WaitUntilReady(never), TCustomSyncSocket::kWaitFailed);
    t.ProcessMessages();
    EXPECT_TRUE(t.Terminated());
  });
  quitting.join();
  EXPECT_FALSE(platform::QuitPosted());  // the state is that thread's
}

}  // namespace
}  // namespace zirk
