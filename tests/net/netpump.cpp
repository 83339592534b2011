#include "netpump.h"

#include "net/asyncsocket.h"

namespace zirk::test {

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return done();
    platform::WaitMessage(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(end - now),
                                   std::chrono::milliseconds(50)));
    PumpPendingMessages();
  }
  return true;
}

void pumpFor(std::chrono::milliseconds time) {
  pumpUntil([] { return false; }, time);
}

RecordingWindow::RecordingWindow() {
  wnd_ = platform::AllocateHWnd([this](const platform::Message& m) {
    messages.push_back(m);
    return 0;
  });
}

RecordingWindow::~RecordingWindow() {
  platform::DeallocateHWnd(wnd_);
}

SocketPair::SocketPair() {
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.OnSessionAvailable = [this](TCustomAsyncSocket*, uint16_t) {
    server.Dup(listener.Accept());
  };
  listener.Listen();
}

bool SocketPair::connect() {
  client.SetAddr("127.0.0.1");
  client.SetPort(listener.GetBoundPort());
  client.Connect();
  return pumpUntil([&] { return client.State() == wsConnected && server.State() == wsConnected; });
}

FetchResult fetch(THttpClient& client, const std::string& url, THttpRequest rq) {
  FetchResult r;
  TKwMemoryStream body;
  client.URL = url;
  client.ReceiveStream = &body;
  try {
    client.DoRequestSync(rq);
  } catch (const EHttpException& e) {
    r.raised = true;
    r.code = e.ErrorCode;
    r.what = e.what();
  }
  client.ReceiveStream = nullptr;
  r.body.assign(body.Bytes().begin(), body.Bytes().end());
  return r;
}

}  // namespace zirk::test
