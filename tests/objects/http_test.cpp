// The download object against nginx and a scripted server on loopback: the
// end event arrives only through the main loop, EUC-JP text reads back as
// Shift-JIS lines, failures end the same way, the "!" form, and an object
// freed in the middle of a request.

#include "objects/http.h"

#include <gtest/gtest.h>

#include <chrono>

#include "net/asyncsocket.h"
#include "platform/clock.h"
#include "scene/factory.h"
#include "scene/zscene.h"
#include "support/peers.h"

namespace zirk {
namespace {

using namespace std::chrono_literals;

// Runs the main thread's loop, by default all its pending messages at each
// pass, until `done` or 10 s have passed.
template <typename Done>
bool pumpUntil(Done done, int (*pump)() = PumpPendingMessages) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    platform::WaitMessage(50ms);
    pump();
  }
  return true;
}

class HttpKindTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterZirkHttp(); }
  void TearDown() override { RegisterKind(LT_HTTP, nullptr); }
  TZirkHttp* download(const std::string& name) {
    auto* object = dynamic_cast<TZirkHttp*>(scene_.CreateKind(LT_HTTP, nullptr, name));
    EXPECT_NE(object, nullptr);
    object->SetPropStr(PR_ONPLAYEND, "*" + name);
    return object;
  }
  // Waits for the object's end event; false when it did not come.
  bool ended(TZirkHttp* object) {
    return pumpUntil([&] { return scene_.Events().FindEvent(object, PR_ONPLAYEND) >= 0; });
  }

  TZirkBaseList scene_;
};

class HttpObjectTest : public HttpKindTest {
 protected:
  void SetUp() override {
    HttpKindTest::SetUp();
    // "日本語", "ｱｲ" and "ok" on three lines, in EUC-JP.
    test::writeFile(dir_ / "www/euc.txt", "\xC6\xFC\xCB\xDC\xB8\xEC\r\n\x8E\xB1\x8E\xB2\r\nok\n");
    nginx_ = test::startNginx(dir_ / "nginx", dir_ / "www");
    if (nginx_.missing) GTEST_SKIP() << nginx_.why;
    ASSERT_TRUE(nginx_.peer) << nginx_.why;
    test::writeFile(dir_ / "www/url.txt", url("/euc.txt") + "\r\n");
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(nginx_.peer->port()) + path;
  }

  test::TempDir dir_;
  test::PeerResult nginx_;
};

TEST_F(HttpObjectTest, EndEventComesThroughTheMainLoopAndTextReadsAsShiftJis) {
  TZirkHttp* dl = download("dl");
  dl->SetPropStr(PR_SOURCE, url("/euc.txt"));
  EXPECT_TRUE(dl->Busy());
  // A second source while busy changes nothing, not even the URL.
  dl->SetPropStr(PR_SOURCE, url("/other.txt"));
  EXPECT_EQ(dl->GetPropStr(PR_SOURCE), url("/euc.txt"));

  // One pass at a time until the request is over: the thread's end is a
  // message of its own, dispatched by a later pass than the one that ended
  // the request, so no event is queued yet and the body is not readable.
  ASSERT_TRUE(
      pumpUntil([&] { return dl->Client().State() == hsReady; }, platform::ProcessMessages));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(scene_.Events().Count(), 0);
  EXPECT_EQ(dl->GetPropStr(PR_TEXT), "");
  EXPECT_EQ(dl->GetStream(), nullptr);

  ASSERT_TRUE(ended(dl));
  ASSERT_EQ(scene_.Events().Count(), 1);
  EXPECT_EQ(scene_.Events().Items(0).Label, "*dl");
  EXPECT_FALSE(dl->Busy());
  EXPECT_EQ(dl->GetPropStr(PR_TEXT), "\x93\xFA\x96\x7B\x8C\xEA\x01\xB1\xB2\x01ok");
  ASSERT_NE(dl->GetStream(), nullptr);
  EXPECT_EQ(dl->GetStream()->Size(), 17);
}

TEST_F(HttpObjectTest, FailedRequestsEndWithTheSameEvent) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(test::freeLoopbackPort()) + "/";
  for (const std::string& source :
       {url("/missing.txt"), refused, std::string("ftp://x/"), std::string()}) {
    TZirkHttp* dl = download("dl");
    dl->SetPropStr(PR_SOURCE, source);
    ASSERT_TRUE(ended(dl)) << source;
    EXPECT_FALSE(dl->Busy()) << source;
    EXPECT_GE(dl->Client().StatusCode(), 400) << source;
    if (source != url("/missing.txt")) {
      EXPECT_EQ(dl->GetPropStr(PR_TEXT), "") << source;
    }
    scene_.FreeObject(dl);
    scene_.Events().Clear();
  }
  // A body past the cap fails the request; the end event comes all the same.
  TZirkHttp* capped = download("dl");
  EXPECT_EQ(capped->Client().BodyCap, TZirkHttp::kBodyCap);
  capped->Client().BodyCap = 4;
  capped->SetPropStr(PR_SOURCE, url("/euc.txt"));
  ASSERT_TRUE(ended(capped));
  EXPECT_EQ(capped->Client().RequestDoneError(), 10055);
  scene_.FreeObject(capped);
  scene_.Events().Clear();

  // Without a label, or once the program is closing, nothing is queued.
  TZirkHttp* quiet = download("quiet");
  quiet->SetPropStr(PR_ONPLAYEND, "");
  auto* closing = scene_.Create<TZirkHttp>(nullptr, "closing", [] { return true; });
  closing->SetPropStr(PR_ONPLAYEND, "*closing");
  for (TZirkHttp* dl : {quiet, closing}) dl->SetPropStr(PR_SOURCE, refused);
  ASSERT_TRUE(pumpUntil([&] { return !quiet->Busy() && !closing->Busy(); }));
  EXPECT_EQ(scene_.Events().Count(), 0);
}

TEST_F(HttpObjectTest, BangSourceReadsAnotherObjectsBodyOnlyWhenItIsIdle) {
  TZirkHttp* first = download("first");
  first->SetPropStr(PR_SOURCE, url("/url.txt"));
  // While "first" runs its body is nobody's: "!first" gives an empty URL.
  TZirkHttp* early = download("early");
  early->SetPropStr(PR_SOURCE, "!first");
  EXPECT_EQ(early->GetPropStr(PR_SOURCE), "");
  ASSERT_TRUE(ended(first));
  ASSERT_TRUE(ended(early));

  // Idle, it names the next document; its line end does not count.
  TZirkHttp* second = download("second");
  second->SetPropStr(PR_SOURCE, "!first");
  EXPECT_EQ(second->GetPropStr(PR_SOURCE), url("/euc.txt"));
  ASSERT_TRUE(ended(second));
  EXPECT_EQ(second->GetPropStr(PR_TEXT).substr(0, 2), "\x93\xFA");
  // Names that are no download give an empty URL.
  for (const char* source : {"!nobody", "!"}) {
    second->SetPropStr(PR_SOURCE, source);
    EXPECT_EQ(second->GetPropStr(PR_SOURCE), "") << source;
    ASSERT_TRUE(pumpUntil([&] { return !second->Busy(); }));
  }
}

class HttpObjectStallTest : public HttpKindTest {
 protected:
  void SetUp() override {
    HttpKindTest::SetUp();
    peer_ = test::startPython(ZIRK_SCRIPTED_PEER, {"http"}, test::freeLoopbackPort());
    if (peer_.missing) GTEST_SKIP() << peer_.why;
    ASSERT_TRUE(peer_.peer) << peer_.why;
  }
  std::string silent() const {
    return "http://127.0.0.1:" + std::to_string(peer_.peer->port()) + "/silent";
  }
  test::PeerResult peer_;
};

TEST_F(HttpObjectStallTest, AStalledReplyEndsByTheDeadline) {
  platform::ScopedManualClock clock;
  TZirkHttp* dl = download("dl");
  dl->Client().Timeout = 30;
  dl->SetPropStr(PR_SOURCE, silent());
  ASSERT_TRUE(pumpUntil([&] { return dl->Client().State() == hsWaitingHeader; }));
  clock.Advance(29999);
  PumpPendingMessages();
  EXPECT_TRUE(dl->Busy());
  clock.Advance(1);
  ASSERT_TRUE(ended(dl));
  EXPECT_EQ(dl->Client().RequestDoneError(), 10060);
}

TEST_F(HttpObjectStallTest, FreeingTheObjectMidRequestEndsItQuietly) {
  for (bool started : {false, true}) {
    TZirkHttp* dl = download("dl");
    dl->SetPropStr(PR_SOURCE, silent());
    // Either before the main loop has seen the request at all, or while
    // the server keeps it waiting.
    if (started) {
      ASSERT_TRUE(pumpUntil([&] { return dl->Client().State() == hsWaitingHeader; }));
    }
    const auto start = std::chrono::steady_clock::now();
    scene_.FreeObject(dl);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    PumpPendingMessages();
    EXPECT_EQ(scene_.Events().Count(), 0);
  }
}

}  // namespace
}  // namespace zirk
