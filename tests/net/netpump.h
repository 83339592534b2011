#pragma once
// Helpers of the network tests: pumping the calling thread's queue until a
// condition holds (always bounded), and a window that records messages.

#include <chrono>
#include <functional>
#include <vector>

#include "net/httpclient.h"
#include "net/linesocket.h"
#include "platform/messages.h"

namespace zirk::test {

// Pumps messages and socket readiness until `done` or the time is up;
// returns done().
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));
// Pumps for a while (for "nothing else happens" checks).
void pumpFor(std::chrono::milliseconds time);

class RecordingWindow {
 public:
  RecordingWindow();
  ~RecordingWindow();
  platform::HWND hwnd() const { return wnd_; }
  std::vector<platform::Message> messages;

 private:
  platform::HWND wnd_;
};

// A connected pair of socket components on loopback: `listener` accepts and
// `server` adopts the connection, `client` connects to it.
struct SocketPair {
  TAsyncSocket listener, client, server;
  SocketPair();
  // Connects the client; true when both ends are connected.
  bool connect();
};

// One synchronous GET on the calling thread and what it left behind.
struct FetchResult {
  bool raised = false;
  uint16_t code = 0;  // of the exception
  std::string what;
  std::string body;
};
FetchResult fetch(THttpClient& client, const std::string& url, THttpRequest rq = rqGet);

}  // namespace zirk::test
