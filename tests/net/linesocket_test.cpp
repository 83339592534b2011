// Line mode: lines split across reads, the unterminated last line at close,
// switching the mode with bytes buffered, line editing and the line limit.

#include "net/linesocket.h"

#include <gtest/gtest.h>

#include "netpump.h"

namespace zirk {
namespace {

using test::pumpFor;
using test::pumpUntil;

struct LinePair : test::SocketPair {
  std::vector<std::string> lines;
  bool closed = false;

  LinePair() {
    client.SetLineMode(true);
    client.OnDataAvailable = [this](TCustomAsyncSocket* s, uint16_t) {
      lines.push_back(s->ReceiveStr());
    };
    client.OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t) { closed = true; };
  }
  // Sends each piece separately, waiting until the client has read it.
  void feed(const std::vector<std::string>& pieces) {
    for (const auto& piece : pieces) {
      server.SendStr(piece);
      pumpUntil([&] { return client.BufferedCount() > 0 || !lines.empty(); },
                std::chrono::milliseconds(300));
      pumpFor(std::chrono::milliseconds(30));
    }
  }
};

TEST(LineSocketTest, LinesAcrossReadsAndTheLastLineAtClose) {
  struct Case {
    std::vector<std::string> pieces;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{"ab\r\ncd"}, {"ab\r\n"}},
      {{"ab\r", "\ncd\r\n"}, {"ab\r\n", "cd\r\n"}},  // a line end split across reads
      {{"one\r\ntwo\r\nthr", "ee\r\n"}, {"one\r\n", "two\r\n", "three\r\n"}},
  };
  for (const auto& c : cases) {
    LinePair p;
    ASSERT_TRUE(p.connect());
    p.feed(c.pieces);
    EXPECT_EQ(p.lines, c.lines);
  }
  LinePair p;
  ASSERT_TRUE(p.connect());
  p.feed({"ab\r\ncd"});
  EXPECT_EQ(p.client.BufferedCount(), 2);
  p.server.Close();
  ASSERT_TRUE(pumpUntil([&] { return p.closed; }));
  EXPECT_EQ(p.lines, (std::vector<std::string>{"ab\r\n", "cd"}));
}

TEST(LineSocketTest, SwitchingLineModeOffHandsOverBufferedBytesFirst) {
  LinePair p;
  ASSERT_TRUE(p.connect());
  std::string raw;
  p.client.OnDataAvailable = [&](TCustomAsyncSocket* s, uint16_t) {
    if (s == &p.client && !static_cast<TAsyncSocket*>(s)->LineMode()) {
      char buf[64];
      int n = s->Receive(buf, sizeof buf);
      if (n > 0) raw.append(buf, static_cast<size_t>(n));
      return;
    }
    std::string line = s->ReceiveStr();
    p.lines.push_back(line);
    if (line == "header\r\n") static_cast<TAsyncSocket*>(s)->SetLineMode(false);
  };
  p.feed({"header\r\nbody1\r\nbo"});
  p.feed({"dy2"});
  ASSERT_TRUE(pumpUntil([&] { return raw == "body1\r\nbody2"; })) << raw;
  EXPECT_EQ(p.lines, std::vector<std::string>{"header\r\n"});
}

TEST(LineSocketTest, LineEditingAndEcho) {
  LinePair p;
  ASSERT_TRUE(p.connect());
  p.client.SetLineEdit(true);
  p.client.SetLineEcho(true);
  std::string echoed;
  p.server.OnDataAvailable = [&](TCustomAsyncSocket* s, uint16_t) { echoed += s->ReceiveStr(); };
  p.feed({"abc\bd\r\n", "x\ty\r\n"});
  EXPECT_EQ(p.lines, (std::vector<std::string>{"abd\r\n", "x       y\r\n"}));
  ASSERT_TRUE(pumpUntil([&] { return echoed.size() >= 20; }));
  EXPECT_EQ(echoed.substr(0, 9), std::string("abc\b \bd\r\n", 9));
}

TEST(LineSocketTest, LineLimitLetsTheApplicationKeepOrClearTheBuffer) {
  for (bool clear : {true, false}) {
    LinePair p;
    ASSERT_TRUE(p.connect());
    p.client.SetLineLimit(8);
    std::vector<int> reported;
    p.client.OnLineLimitExceeded = [&](TCustomAsyncSocket*, int len, bool& clearData) {
      reported.push_back(len);
      clearData = clear;
    };
    p.feed({"0123456789"});
    ASSERT_EQ(reported, std::vector<int>{10});
    EXPECT_EQ(p.client.BufferedCount(), clear ? 0 : 10);
    p.feed({"\r\n"});
    EXPECT_EQ(p.lines, clear ? std::vector<std::string>{"\r\n"}
                             : std::vector<std::string>{"0123456789\r\n"});
  }
}

TEST(LineSocketTest, WithoutHandlerLinesAreDropped) {
  LinePair p;
  ASSERT_TRUE(p.connect());
  p.client.OnDataAvailable = nullptr;
  p.feed({"gone\r\nalso\r\n"});
  EXPECT_EQ(p.client.BufferedCount(), 0);
}

}  // namespace
}  // namespace zirk
