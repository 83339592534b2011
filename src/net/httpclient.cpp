#include "net/httpclient.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "net/linesplit.h"
#include "platform/clock.h"

namespace zirk {

using namespace platform;

namespace {
constexpr int kReceiveChunk = 8192;
constexpr int kSendChunk = 8193;

std::string errorReason(int code) {
  return SocketErrorText(code) + " (Error #" + std::to_string(code) + ")";
}

// A URL or header value holding one of these would end its request line
// early and start another of the sender's choosing.
const std::string kLineBreakOrNul("\r\n\0", 3);

// Only plain HTTP is spoken; an empty scheme means it.
bool fetchableScheme(const std::string& scheme) {
  return scheme.empty() || scheme == "http";
}

// The port a relocation to an absolute location connects to; the other
// forms keep the request's.
std::string locationPort(const std::string& location) {
  return location.rfind("http://", 0) == 0 ? ParseURL(location).port : std::string();
}

std::string portAbove(const std::string& port) {
  return "port " + port + " is above 65535";
}
}  // namespace

struct THttpClient::SyncCall {
  THttpRequest rq = rqGet;
  bool done = false;
  uint64_t serial = 0;
  std::exception_ptr error;
};

class THttpClient::ReplyListener : public THttpReplyParser::TListener {
 public:
  explicit ReplyListener(THttpClient& client) : client_(client) {}
  void ReplyHeaderBegin() override {
    client_.headerEndFired_ = false;
    if (client_.OnHeaderBegin) client_.OnHeaderBegin(&client_);
  }
  void ReplyHeaderLine(std::string_view name, std::string_view value) override {
    client_.ReplyHeaderLine(name, value);
  }
  void ReplyHeaderEnd(THttpReplyParser::THeaderEnd how) override { client_.ReplyHeaderEnd(how); }
  void ReplyBody(std::string_view data) override { client_.ReplyBody(data); }

 private:
  THttpClient& client_;
};

THttpClient::THttpClient()
    : socket_(std::make_unique<TAsyncSocket>()),
      owner_(std::this_thread::get_id()),
      listener_(std::make_unique<ReplyListener>(*this)),
      reply_(listener_.get()),
      rcvBuf_(kReceiveChunk),
      sendBuf_(kSendChunk) {
  hWnd_ = AllocateHWnd([this](const Message& m) { return WndProc(m); });
  socket_->OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t e) { SocketSessionClosed(e); };
  socket_->OnDataAvailable = [this](TCustomAsyncSocket*, uint16_t e) { SocketDataAvailable(e); };
  socket_->OnSessionConnected = [this](TCustomAsyncSocket*, uint16_t e) {
    SocketSessionConnected(e);
  };
  socket_->OnDataSent = [this](TCustomAsyncSocket*, uint16_t e) { SocketDataSent(e); };
  socket_->OnDnsLookupDone = [this](TCustomAsyncSocket*, uint16_t e) { SocketDnsLookupDone(e); };
  socket_->OnSocksError = [this](TCustomAsyncSocket*, int, const std::string& msg) {
    socksErrorText_ = msg;
  };
}

THttpClient::~THttpClient() {
  Cancel();
  DeallocateHWnd(hWnd_);
  socket_.reset();
}

void THttpClient::Cancel() {
  {
    // A waiter on another thread must not wait for a client that is going
    // away, nor touch it after waking: it is released with an error (and so
    // is any that comes later), and this returns only when it has left.
    std::unique_lock lock(syncMutex_);
    cancelled_ = true;
    for (auto* call : {&queuedSync_, &activeSync_}) {
      if (*call && !(*call)->done) {
        (*call)->error = std::make_exception_ptr(EHttpException("HTTP component destroyed", 404));
        (*call)->done = true;
      }
      call->reset();
    }
    syncCv_.notify_all();
    syncCv_.wait(lock, [this] { return waiters_ == 0; });
  }
  if (phase_ != TPhase::Idle) {
    try {
      Abort();
    } catch (...) {
      // The socket goes with the client in any case.
    }
  }
}

void THttpClient::SetMultiThreaded(bool v) {
  multiThreaded_ = v;
  socket_->SetMultiThreaded(v);
}

int THttpClient::StatusCode() const {
  return failure_ && !reply_.GotStatusLine() ? 404 : reply_.StatusCode();
}

const std::string& THttpClient::ReasonPhrase() const {
  return failure_ && !reply_.GotStatusLine() ? failure_->text : reply_.ReasonPhrase();
}

bool THttpClient::Connected() const {
  return connected_ && socket_->State() == wsConnected;
}

void THttpClient::SetState(THttpState s) {
  state_.store(s, std::memory_order_release);
  if (OnStateChange) OnStateChange(this);
}

void THttpClient::Enter(TPhase phase) {
  // The published state of each phase, in the order of TPhase. Idle is
  // published by SetReady together with a waiter's result; a request being
  // relocated or ending shows the state it had.
  constexpr int kKeep = -1;
  static constexpr int kShown[] = {kKeep,           hsNotConnected, hsDnsLookup, hsDnsLookupDone,
                                   hsWaitingHeader, hsWaitingBody,  kKeep,       kKeep};
  phase_ = phase;
  if (const int shown = kShown[static_cast<size_t>(phase)]; shown != kKeep)
    SetState(static_cast<THttpState>(shown));
}

// --- request start ----------------------------------------------------------

void THttpClient::ResetResponse() {
  failure_.reset();
  documentName_.clear();
  sentCount_ = 0;
  sending_ = false;
  location_ = URL;
  relocations_ = 0;
  connected_ = false;
  headerEndFired_ = false;
  receiveError_ = 0;
  socksErrorText_.clear();
  reply_.Reset();
}

void THttpClient::DoRequestAsync(THttpRequest rq) {
  if (phase_ != TPhase::Idle) throw EHttpException("HTTP component is busy", 1);
  if (rq == rqPost && !PostStream) throw EHttpException("HTTP component has nothing to post", 2);
  ++serial_;
  Enter(TPhase::Starting);
  requestType_ = rq;
  ResetResponse();
  startMs_ = timeGetTime();
  if (Timeout > 0) ArmDeadline(static_cast<uint32_t>(Timeout) * 1000);

  // "./" and "../" forms are relative to the previous request path (to the
  // root in proxy mode, where that path is a whole URL).
  THttpUrlParts url = ParseURL(URL, Proxy.empty() ? target_.requestPath : std::string());
  if (!url.user.empty()) Username = url.user;
  if (!url.password.empty()) Password = url.password;
  if (!Proxy.empty()) {
    target_.hostHeader = url.host;
    documentName_ = url.path;
    target_.requestPath = (url.scheme.empty() ? "http" : url.scheme) + "://" + url.host +
                          (url.port.empty() ? "" : ":" + url.port) + url.path;
    THttpUrlParts proxy = ParseURL(Proxy);
    target_.connectHost = proxy.host;
    target_.connectPort = proxy.port.empty() ? ProxyPort : proxy.port;
    proxyConnectPort_ = target_.connectPort;
  } else {
    target_.requestPath = url.path;
    target_.hostHeader = target_.connectHost = url.host;
    documentName_ = url.path;
    target_.connectPort = url.port.empty() ? "80" : url.port;
  }
  // By count and character, as GCC 12 misreads a literal here (-Wrestrict).
  if (target_.requestPath.empty()) target_.requestPath.assign(1, '/');
  documentName_ = DocumentNameOf(documentName_);

  if (URL.find_first_of(kLineBreakOrNul) != std::string::npos) {
    FinishFailed(WSAHOST_NOT_FOUND, "can't resolve hostname to IP address");
    return;
  }
  if (!fetchableScheme(url.scheme)) {
    FinishFailed(WSAEPROTONOSUPPORT, errorReason(WSAEPROTONOSUPPORT));
    return;
  }
  // Refused here, by name: the socket would refuse them too, but as a
  // connect failure that names no port.
  const std::pair<const char*, std::string> ports[] = {
      {"URL", url.port},
      {"Proxy", target_.connectPort},
      {"SOCKS proxy", SocksServer.empty() ? std::string() : SocksPort}};
  for (const auto& [what, port] : ports) {
    if (!PortInRange(port)) {
      FinishFailed(WSAEINVAL, std::string(what) + " refused: " + portAbove(port));
      return;
    }
  }
  StartLookup();
}

void THttpClient::StartLookup() {
  socket_->OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t e) { SocketSessionClosed(e); };
  Enter(TPhase::Lookup);
  try {
    socket_->SetLocalAddr(LocalAddr);
    socket_->DnsLookup(target_.connectHost);
  } catch (const std::exception& e) {
    if (phase_ != TPhase::Lookup) return;  // the lookup ended the request already
    failure_ = TFailure{WSAHOST_NOT_FOUND, e.what()};
    SetReady();
  }
}

void THttpClient::SocketDnsLookupDone(uint16_t error) {
  if (phase_ != TPhase::Lookup) return;
  if (error != 0) {
    FinishFailed(error, "can't resolve hostname to IP address");
    return;
  }
  Enter(TPhase::Connecting);
  try {
    socket_->SetAddr(socket_->DnsResult());
    socket_->SetLocalAddr(LocalAddr);
    socket_->SetPort(target_.connectPort);
    socket_->SetProto("tcp");
    if (!SocksServer.empty()) {
      socket_->SetSocksServer(SocksServer);
      socket_->SetSocksPort(SocksPort);
      socket_->SetSocksLevel(SocksLevel);
      socket_->SetSocksUsercode(SocksUsercode);
      socket_->SetSocksPassword(SocksPassword);
      socket_->SetSocksAuthentication(SocksUsercode.empty() ? socksNoAuthentication
                                                            : socksAuthenticateUsercode);
    }
    socket_->Connect();
  } catch (const std::exception& e) {
    if (phase_ != TPhase::Connecting) return;
    // A target the socket refuses before any socket call (a port or
    // address it cannot read) leaves no socket error: its own text says
    // what failed, never "No Error".
    const int code = socket_->LastError();
    FinishFailed(static_cast<uint16_t>(code ? code : int{WSAEINVAL}),
                 "can't connect: " + (code ? errorReason(code) : std::string(e.what())));
  }
}

void THttpClient::SocketSessionConnected(uint16_t error) {
  if (phase_ != TPhase::Connecting) return;
  if (error != 0) {
    const std::string text = socksErrorText_.empty() ? SocketErrorText(error) : socksErrorText_;
    FinishFailed(error, text + " (Error #" + std::to_string(error) + ")");
    return;
  }
  connected_ = true;
  receiveError_ = 0;
  SetState(hsConnected);
  if (OnSessionConnected) OnSessionConnected(this);
  Enter(TPhase::Header);
  try {
    if (!SendRequest(requestType_ == rqPost ? "POST" : requestType_ == rqHead ? "HEAD" : "GET"))
      return;
    if (requestType_ == rqPost) {
      if (OnSendBegin) OnSendBegin(this);
      sending_ = true;
      SendPostChunk();
    }
  } catch (const std::exception&) {
    const int code = socket_->LastError();
    FinishFailed(static_cast<uint16_t>(code ? code : int{WSAECONNABORTED}),
                 errorReason(code ? code : int{WSAECONNABORTED}));
  }
}

void THttpClient::SendCommand(const std::string& cmd) {
  std::string s = cmd;
  if (OnCommand) OnCommand(this, s);
  // Checked as sent, whatever the value's source: the caller, the URL, a
  // relocation or a range a reply named.
  if (s.find_first_of(kLineBreakOrNul) != std::string::npos) badRequestLine_ = true;
  request_ += s;
  request_ += "\r\n";
}

bool THttpClient::SendRequest(const std::string& method) {
  request_.clear();
  badRequestLine_ = false;
  if (OnRequestHeaderBegin) OnRequestHeaderBegin(this);
  SendCommand(method + " " + target_.requestPath + " HTTP/1.0");
  if (!Sender.empty()) SendCommand("From: " + Sender);
  if (!Accept.empty()) SendCommand("Accept: " + Accept);
  if (!Reference.empty()) SendCommand("Referer: " + Reference);
  if (requestType_ == rqPost && !ContentTypePost.empty())
    SendCommand("Content-Type: " + ContentTypePost);
  if (!Agent.empty()) SendCommand("User-Agent: " + Agent);
  SendCommand("Host: " + target_.hostHeader);
  if (NoCache) SendCommand("Pragma: no-cache");
  if (requestType_ == rqPost) SendCommand("Content-Length: " + std::to_string(PostStream->Size()));
  if (ModifiedSince != 0) SendCommand("If-Modified-Since: " + HttpDateText(ModifiedSince) + " GMT");
  if (!Username.empty())
    SendCommand("Authorization: Basic " + Base64Encode(Username + ":" + Password));
  if (!Proxy.empty() && !ProxyUsername.empty())
    SendCommand("Proxy-Authorization: Basic " + Base64Encode(ProxyUsername + ":" + ProxyPassword));
  if (!Cookie.empty()) SendCommand("Cookie: " + Cookie);
  if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
    SendCommand("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
    ContentRangeBegin.clear();
    ContentRangeEnd.clear();
  }
  acceptRanges_.clear();
  if (OnRequestHeaderEnd) OnRequestHeaderEnd(this);
  SendCommand("");
  if (badRequestLine_) {
    request_.clear();
    FinishFailed(WSAEINVAL, "Request refused: a URL or header value holds CR, LF or NUL");
    return false;
  }
  socket_->SendStr(request_);
  request_.clear();
  return true;
}

void THttpClient::SendPostChunk() {
  if (!sending_ || !PostStream) return;
  int64_t n = PostStream->Read(sendBuf_.data(), kSendChunk);
  if (n <= 0) {
    sending_ = false;
    if (OnSendEnd) OnSendEnd(this);
    return;
  }
  sentCount_ += n;
  if (OnSendData) OnSendData(this, sendBuf_.data(), static_cast<int>(n));
  socket_->Send(sendBuf_.data(), static_cast<int>(n));
}

void THttpClient::SocketDataSent(uint16_t) {
  if (sending_ && (phase_ == TPhase::Header || phase_ == TPhase::Body)) SendPostChunk();
}

// --- receiving --------------------------------------------------------------

void THttpClient::SocketDataAvailable(uint16_t error) {
  const int n = socket_->Receive(rcvBuf_.data(), kReceiveChunk);
  // A failed read may have taken the connection's error with it, so that
  // its close then looks orderly.
  if (n < 0 && receiveError_ == 0 && socket_->LastError() != WSAEWOULDBLOCK)
    receiveError_ = static_cast<uint16_t>(socket_->LastError());
  if (requestType_ == rqNone || n <= 0) return;
  const std::string_view data(rcvBuf_.data(), static_cast<size_t>(n));
  if (phase_ != TPhase::Header && phase_ != TPhase::Body) {
    // Nothing is waiting for these bytes; a listener may still count lines.
    if (OnLineData)
      for (size_t at = 0, len; (len = LineLength(data.substr(at), "\n")) > 0; at += len)
        OnLineData(this, error);
    return;
  }
  const THttpReplyParser::TFeed fed = reply_.Feed(data.data(), data.size());
  if (fed == THttpReplyParser::TFeed::Malformed) {
    FinishFailed(WSAEINVAL, "HTTP reply malformed: " + reply_.Malformation());
    return;
  }
  if (fed != THttpReplyParser::TFeed::Ok) {
    // Raised into the socket's background path as well, but the request
    // ends here as a failure rather than as a short success.
    const char* what = fed == THttpReplyParser::TFeed::LineTooLong ? "HTTP line too long"
                                                                   : "HTTP header too large";
    FinishFailed(0, what, 4);
    throw EHttpException(what, 4);
  }
  // The body ends at its length, without waiting for a close the server may
  // never make; an error reply ends with what came together with its header.
  if (phase_ == TPhase::Body && (reply_.BodyComplete() || reply_.StatusCode() >= 400)) {
    if (reply_.BodyPieces() > 0 && OnDocEnd) OnDocEnd(this);
    Finish();
  }
}

void THttpClient::ReplyHeaderLine(std::string_view name, std::string_view value) {
  if (name == "location") {
    if (value.find_first_of(kLineBreakOrNul) != std::string_view::npos) {
      FinishFailed(WSAEINVAL, "Redirect refused: the location holds CR, LF or NUL");
      return;
    }
    // Where the document went is known from here, followed or not; a scheme
    // that is not fetched fails the request if it is followed.
    const std::string target(value);
    if (fetchableScheme(ParseURL(target).scheme) && PortInRange(locationPort(target)))
      location_ = RelocateTarget(target_, target, !Proxy.empty());
  } else if (name == "accept-ranges") {
    acceptRanges_ = value;
  } else if (name == "content-range") {
    SplitContentRange(std::string(value), ContentRangeBegin, ContentRangeEnd);
  } else if (name == "set-cookie") {
    bool accept = true;
    if (OnCookie) OnCookie(this, std::string(value), accept);
  }
  if (OnHeaderData) OnHeaderData(this);
}

void THttpClient::ReplyHeaderEnd(THttpReplyParser::THeaderEnd how) {
  using THeaderEnd = THttpReplyParser::THeaderEnd;
  if (how == THeaderEnd::Body) {
    documentName_ = FixExeDocumentName(documentName_, reply_.ContentType());
    Enter(TPhase::Body);
    progressStartMs_ = timeGetTime();
    progressBytes_ = 0;
  }
  if (OnHeaderEnd) OnHeaderEnd(this);
  if (how == THeaderEnd::Finished) {
    // The connection is closed here, so the client is free for the next
    // request (leaving it open made that one find its socket in use).
    Finish();
  } else if (how == THeaderEnd::Relocate && Relocate()) {
    CloseConnection();
  }
}

bool THttpClient::Relocate() {
  if (!fetchableScheme(ParseURL(reply_.LocationValue()).scheme)) {
    FinishFailed(WSAEPROTONOSUPPORT, errorReason(WSAEPROTONOSUPPORT));
    return false;
  }
  if (const std::string port = locationPort(reply_.LocationValue()); !PortInRange(port)) {
    FinishFailed(WSAEINVAL, "Redirect refused: " + portAbove(port));
    return false;
  }
  Enter(TPhase::Relocating);
  return true;
}

void THttpClient::ReplyBody(std::string_view data) {
  progressBytes_ += static_cast<int64_t>(data.size());
  if (reply_.BodyPieces() == 1 && OnDocBegin) OnDocBegin(this);
  if (BodyCap > 0 && reply_.BodyBytes() > BodyCap) {
    // A body without bound would exhaust memory; the request fails instead.
    FinishFailed(WSAENOBUFS, errorReason(WSAENOBUFS));
    return;
  }
  if (ReceiveStream) {
    try {
      ReceiveStream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    } catch (const std::exception& e) {
      // A body that cannot be stored is a failed request, not a short success.
      FinishFailed(WSAECONNABORTED, e.what());
      return;
    }
  }
  if (OnDocData) OnDocData(this, data.data(), static_cast<int>(data.size()));
}

// --- closing ----------------------------------------------------------------

void THttpClient::CloseConnection() {
  connected_ = false;
  socket_->Close();
}

void THttpClient::SocketSessionClosed(uint16_t error) {
  connected_ = false;
  switch (phase_) {
    case TPhase::Relocating:
      RelocationClosed();
      return;
    case TPhase::Header:
    case TPhase::Body:
      RemoteClosed(error);
      return;
    case TPhase::Connecting:
      FinishFailed(error ? error : uint16_t{WSAECONNABORTED},
                   errorReason(error ? error : int{WSAECONNABORTED}));
      return;
    default:
      return;  // closed by the request's own end
  }
}

void THttpClient::RemoteClosed(uint16_t error) {
  if (reply_.HeaderBegun() && !reply_.HeaderEnded()) {
    EndHeaderCutShort();
    // A header cut short still names where the document went.
    if (reply_.LocationSeen()) {
      if (Relocate()) RelocationClosed();
      return;
    }
  }
  // A peer that went away before the reply was complete makes the request
  // fail, rather than pass a torn document off as a whole one. Without a
  // length only an orderly close ends the body; one that carries an error
  // broke it off.
  if (error == 0) error = receiveError_;
  const bool bodyExpected = requestType_ != rqHead && !reply_.BodylessStatus();
  const bool cutShort = (!reply_.GotStatusLine() && !reply_.Headerless()) ||
                        (bodyExpected && !reply_.BodyComplete() &&
                         (!reply_.HeaderEnded() || reply_.ContentLength() >= 0 || error != 0));
  if (cutShort) {
    const int code = error ? int{error} : int{WSAECONNABORTED};
    failure_ = failure_.value_or(TFailure{static_cast<uint16_t>(code), errorReason(code)});
  }
  if (reply_.HeaderEnded() && reply_.BodyPieces() > 0 && OnDocEnd) OnDocEnd(this);
  Finish();
}

void THttpClient::RelocationClosed() {
  if (++relocations_ > kMaxRelocations) {
    // Ends with the last status, and says why it did not go on.
    FinishFailed(WSAELOOP, "Too many redirects (" + std::to_string(kMaxRelocations) +
                               " followed); the last said " + std::to_string(reply_.StatusCode()) +
                               " " + reply_.ReasonPhrase());
    return;
  }
  if (requestType_ == rqPost) requestType_ = rqGet;
  if (OnLocationChange) OnLocationChange(this);
  reply_.NextPass();
  if (!Proxy.empty()) target_.connectPort = proxyConnectPort_;
  PostMessage(hWnd_, WM_HTTP_RELOCATE, serial_);
}

void THttpClient::Finish(bool abortive) {
  if (phase_ == TPhase::Idle || phase_ == TPhase::Ending) return;
  // Ending first: the closed event the close may fire belongs to no request.
  Enter(TPhase::Ending);
  EndHeaderCutShort();
  connected_ = false;
  reply_.Stop();
  sending_ = false;
  if (abortive)
    socket_->Abort();
  else
    CloseConnection();
  PostMessage(hWnd_, WM_HTTP_SET_READY, serial_);
}

void THttpClient::FinishFailed(uint16_t error, const std::string& text, uint16_t code) {
  if (phase_ == TPhase::Idle || phase_ == TPhase::Ending) return;
  if (!failure_) failure_ = TFailure{error, text, code};
  // A failed connection goes at once, without a graceful shutdown.
  Finish(true);
}

void THttpClient::SetReady() {
  if (phase_ == TPhase::Idle) return;
  KillTimer(hWnd_, kDeadlineTimer);
  phase_ = TPhase::Idle;
  std::shared_ptr<SyncCall> call;
  {
    std::lock_guard lock(syncMutex_);
    SetState(hsReady);
    if (activeSync_ && activeSync_->serial == serial_) {
      call = std::move(activeSync_);
      // The waiter gets its result here, so it never reads the client after
      // waking (which may be gone by then).
      call->error = Result();
      call->done = true;
    }
  }
  if (call) syncCv_.notify_all();
  PostMessage(hWnd_, WM_HTTP_REQUEST_DONE, serial_);
}

void THttpClient::Abort() {
  if (phase_ == TPhase::Idle) return;
  if (!failure_) failure_ = TFailure{WSAECONNABORTED, errorReason(WSAECONNABORTED)};
  Enter(TPhase::Ending);
  EndHeaderCutShort();
  connected_ = false;
  reply_.Stop();
  socket_->Abort();
  SetReady();
}

void THttpClient::EndHeaderCutShort() {
  if (!reply_.HeaderBegun() || reply_.HeaderEnded() || headerEndFired_) return;
  headerEndFired_ = true;
  if (OnHeaderEnd) OnHeaderEnd(this);
}

// --- deadline ---------------------------------------------------------------

void THttpClient::ArmDeadline(uint32_t ms) {
  SetTimer(hWnd_, kDeadlineTimer, std::max<uint32_t>(ms, 1));
}

void THttpClient::DeadlineTimer() {
  if (phase_ == TPhase::Idle || phase_ == TPhase::Ending || Timeout <= 0) {
    KillTimer(hWnd_, kDeadlineTimer);
    return;
  }
  const uint32_t limit = static_cast<uint32_t>(Timeout) * 1000;
  // Overall until the header has ended; then the body may take as long as
  // at least kMinProgressBytes arrive within each span of the limit, so
  // that a trickle of a byte now and then cannot hold the request for ever.
  const bool body = phase_ == TPhase::Body;
  const uint32_t now = timeGetTime();
  const uint32_t elapsed = now - (body ? progressStartMs_ : startMs_);
  if (elapsed < limit) {
    ArmDeadline(limit - elapsed);
    return;
  }
  if (body && progressBytes_ >= kMinProgressBytes) {
    progressStartMs_ = now;
    progressBytes_ = 0;
    ArmDeadline(limit);
    return;
  }
  if (!failure_) failure_ = TFailure{WSAETIMEDOUT, errorReason(WSAETIMEDOUT)};
  Abort();
}

// --- messages and the synchronous call --------------------------------------

LRESULT THttpClient::WndProc(const Message& msg) {
  switch (msg.msg) {
    case WM_HTTP_REQUEST_DONE:
      if (msg.wParam == serial_ && OnRequestDone)
        OnRequestDone(this, requestType_, RequestDoneError());
      return 0;
    case WM_HTTP_SET_READY:
      if (msg.wParam == serial_ && phase_ == TPhase::Ending) SetReady();
      return 0;
    case WM_HTTP_RELOCATE:
      if (msg.wParam == serial_ && phase_ == TPhase::Relocating) StartLookup();
      return 0;
    case WM_HTTP_START_SYNC:
      StartSyncOnOwner();
      return 0;
    case WM_TIMER:
      if (msg.wParam == kDeadlineTimer) DeadlineTimer();
      return 0;
    default:
      return 0;
  }
}

void THttpClient::StartSyncOnOwner() {
  std::shared_ptr<SyncCall> call;
  {
    std::lock_guard lock(syncMutex_);
    call = std::move(queuedSync_);
  }
  if (!call) return;
  try {
    DoRequestAsync(call->rq);
  } catch (...) {
    std::lock_guard lock(syncMutex_);
    call->error = std::current_exception();
    call->done = true;
    syncCv_.notify_all();
    return;
  }
  std::lock_guard lock(syncMutex_);
  call->serial = serial_;
  if (phase_ == TPhase::Idle) {
    call->error = Result();
    call->done = true;
    syncCv_.notify_all();
  } else {
    activeSync_ = call;
  }
}

std::exception_ptr THttpClient::Result() const {
  if (failure_ && failure_->code != 0)
    return std::make_exception_ptr(EHttpException(failure_->text, failure_->code));
  const int status = StatusCode();
  if (failure_) {
    const std::string& text = failure_->text.empty() ? ReasonPhrase() : failure_->text;
    return std::make_exception_ptr(EHttpException(text, static_cast<uint16_t>(status)));
  }
  if (status >= 400)
    return std::make_exception_ptr(EHttpException(ReasonPhrase(), static_cast<uint16_t>(status)));
  return nullptr;
}

void THttpClient::DoRequestSync(THttpRequest rq) {
  if (OnOwnerThread()) {
    DoRequestAsync(rq);
    while (phase_ != TPhase::Idle) {
      WaitMessage(std::chrono::milliseconds(200));
      PumpPendingMessages();
    }
    if (auto error = Result()) std::rethrow_exception(error);
    return;
  }
  auto call = std::make_shared<SyncCall>();
  call->rq = rq;
  std::unique_lock lock(syncMutex_);
  if (cancelled_) throw EHttpException("HTTP component destroyed", 404);
  if (queuedSync_ || activeSync_) throw EHttpException("HTTP component is busy", 1);
  queuedSync_ = call;
  // Counted from here: the destructor waits until this thread has left.
  ++waiters_;
  lock.unlock();
  const bool posted = PostMessage(hWnd_, WM_HTTP_START_SYNC);
  lock.lock();
  if (!posted && !call->done) {
    queuedSync_.reset();
    call->error = std::make_exception_ptr(EHttpException("HTTP component is busy", 1));
    call->done = true;
  }
  syncCv_.wait(lock, [&] { return call->done; });
  --waiters_;
  const std::exception_ptr error = call->error;
  syncCv_.notify_all();
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace zirk
