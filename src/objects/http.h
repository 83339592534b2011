#pragma once
// The download object: setting its source fetches a document over HTTP
// without stopping the game. One worker thread per request runs the
// client's synchronous GET while the client's socket work goes on in the
// main thread's message loop; the worker's end reaches the main thread as a
// posted message, which queues PR_ONPLAYEND (a failed request too). The
// script then reads the reply as Shift-JIS text through PR_TEXT.
//
// Another download can take its URL from this one's body ("!name"); while a
// request runs the body is nobody's to read.

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/streams.h"
#include "net/httpclient.h"
#include "platform/messages.h"
#include "scene/capabilities.h"
#include "scene/zobject.h"

namespace zirk {

class TZirkHttp : public TZirkComponent, public IStreamSource {
 public:
  // `appTerminated` says whether the program is closing, when no end event
  // is queued any more; empty means never.
  explicit TZirkHttp(TZirkBaseList& scene, std::function<bool()> appTerminated = {});
  // A running request is aborted and its thread joined; no event is queued
  // for it.
  ~TZirkHttp() override;

  // The largest body a download keeps; a longer one fails the request.
  static constexpr int64_t kBodyCap = int64_t{64} << 20;

  int32_t GetKind() const override { return LT_HTTP; }
  const TPropTable& Properties() const override;

  // The body, or nullptr while a request runs.
  TKwStream* GetStream() override;
  bool Busy() const { return thread_.joinable(); }
  // The client, for its settings (the request's time limit).
  THttpClient& Client() { return *client_; }

 private:
  void startHttpRequest(const std::string& source);
  // The URL a "!name" source reads from the named object's body.
  std::string urlFromObject(const std::string& name);
  void httpRequestDone();
  std::string getText();

  std::function<bool()> appTerminated_;
  std::unique_ptr<THttpClient> client_;
  TKwMemoryStream body_;
  std::string onPlayEnd_;
  std::thread thread_;  // the request thread; joinable while one runs
  platform::HWND hWnd_ = 0;
};

// Registers the kind; `appTerminated` goes to every object made.
void RegisterZirkHttp(std::function<bool()> appTerminated = {});

}  // namespace zirk
