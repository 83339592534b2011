#include "net/httpclient.h"

#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zirk {

using namespace platform;

namespace {
constexpr int kLineBufferSize = 8192;
constexpr int kSendChunk = 8193;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
std::string errorReason(int code) {
  return SocketErrorText(code) + " (Error #" + std::to_string(code) + ")";
}
}  // namespace

struct THttpClient::SyncCall {
  THttpRequest rq = rqGet;
  bool done = false;
  uint64_t serial = 0;
  std::exception_ptr error;
};

THttpClient::THttpClient()
    : socket_(std::make_unique<TAsyncSocket>()),
      owner_(std::this_thread::get_id()),
      rcvBuf_(kLineBufferSize + 1),
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
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
}

THttpClient::~THttpClient() {
  {
    // A waiter on another thread must not wait for a client that is gone,
    // nor touch it after waking: it is released with an error, and the
    // destructor goes on only when it has left.
    std::unique_lock lock(syncMutex_);
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
  if (State() != hsReady) {
    try {
      Abort();
    } catch (...) {
      // The socket is destroyed below in any case.
    }
  }
  if (timerFd_ >= 0) {
    UnregisterFd(timerFd_);
    close(timerFd_);
  }
  DeallocateHWnd(hWnd_);
  socket_.reset();
}

void THttpClient::SetMultiThreaded(bool v) {
  multiThreaded_ = v;
  socket_->SetMultiThreaded(v);
}

int64_t THttpClient::NowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void THttpClient::SetState(THttpState s) {
  state_.store(s, std::memory_order_release);
  if (OnStateChange) OnStateChange(this);
}

// --- request start ----------------------------------------------------------

void THttpClient::ResetResponse() {
  responseHeader_.clear();
  authChallenges_.clear();
  requestDoneError_ = 0;
  documentName_.clear();
  statusCode_ = 0;
  reasonPhrase_.clear();
  receivedCount_ = 0;
  sentCount_ = 0;
  headerLineCount_ = bodyLineCount_ = 0;
  contentLength_ = -1;
  contentType_.clear();
  sending_ = false;
  location_ = URL;
  rcvCnt_ = 0;
  locationFlag_ = headerInProgress_ = relocating_ = false;
  gotStatusLine_ = headerless_ = headerEnded_ = false;
  closedByUs_ = failed_ = aborting_ = false;
  relocations_ = 0;
  socksErrorText_.clear();
  pendingError_.reset();
}

void THttpClient::DoRequestAsync(THttpRequest rq) {
  if (State() != hsReady) throw EHttpException("HTTP component is busy", 1);
  if (rq == rqPost && !PostStream) throw EHttpException("HTTP component has nothing to post", 2);
  ++serial_;
  relocating_ = false;
  SetState(hsNotConnected);
  requestType_ = rq;
  ResetResponse();
  startMs_ = lastProgressMs_ = NowMs();
  if (Timeout > 0) ArmTimer(int64_t{Timeout} * 1000);

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
  } else {
    target_.requestPath = url.path;
    target_.hostHeader = target_.connectHost = url.host;
    documentName_ = url.path;
    target_.connectPort = url.port.empty() ? "80" : url.port;
  }
  if (target_.requestPath.empty()) target_.requestPath = "/";
  documentName_ = DocumentNameOf(documentName_);

  // Line breaks or NUL in a URL would inject request lines.
  if (URL.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    Fail(WSAHOST_NOT_FOUND, "can't resolve hostname to IP address");
    PostReady();
    return;
  }
  StartLookup();
}

void THttpClient::StartLookup() {
  socket_->OnSessionClosed = [this](TCustomAsyncSocket*, uint16_t e) { SocketSessionClosed(e); };
  SetState(hsDnsLookup);
  try {
    socket_->SetLocalAddr(LocalAddr);
    socket_->DnsLookup(target_.connectHost);
  } catch (const std::exception& e) {
    statusCode_ = 404;
    reasonPhrase_ = e.what();
    if (requestDoneError_ == 0) requestDoneError_ = WSAHOST_NOT_FOUND;
    failed_ = true;
    connected_ = false;
    SetReady();
  }
}

void THttpClient::Fail(uint16_t error, const std::string& reason) {
  requestDoneError_ = error;
  statusCode_ = 404;
  reasonPhrase_ = reason;
  failed_ = true;
}

void THttpClient::SocketDnsLookupDone(uint16_t error) {
  if (aborting_ || State() != hsDnsLookup) return;
  if (error != 0) {
    Fail(error, "can't resolve hostname to IP address");
    NormalClosed(0);
    return;
  }
  SetState(hsDnsLookupDone);
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
    int code = socket_->LastError();
    Fail(static_cast<uint16_t>(code ? code : int{WSAEINVAL}),
         "can't connect: " + SocketErrorText(code) + " (Error #" + std::to_string(code) + ")");
    aborting_ = true;
    socket_->Close();
    aborting_ = false;
    NormalClosed(0);
  }
}

void THttpClient::SocketSessionConnected(uint16_t error) {
  if (aborting_) return;
  if (error != 0) {
    std::string text = socksErrorText_.empty() ? SocketErrorText(error) : socksErrorText_;
    Fail(error, text + " (Error #" + std::to_string(error) + ")");
    NormalClosed(error);
    return;
  }
  connected_ = true;
  SetState(hsConnected);
  if (OnSessionConnected) OnSessionConnected(this);
  nextLine_ = &THttpClient::HeaderLine;
  SetState(hsWaitingHeader);
  try {
    SendRequest(requestType_ == rqPost ? "POST" : requestType_ == rqHead ? "HEAD" : "GET");
    if (requestType_ == rqPost) {
      if (OnSendBegin) OnSendBegin(this);
      sending_ = true;
      SendPostChunk();
    }
  } catch (const std::exception&) {
    CloseConnection();
  }
}

void THttpClient::SendCommand(const std::string& cmd) {
  std::string s = cmd;
  if (OnCommand) OnCommand(this, s);
  request_ += s;
  request_ += "\r\n";
}

void THttpClient::SendRequest(const std::string& method) {
  request_.clear();
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
  socket_->SendStr(request_);
  request_.clear();
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
  if (sending_) SendPostChunk();
}

// --- receiving --------------------------------------------------------------

void THttpClient::SocketDataAvailable(uint16_t error) {
  const int room = kLineBufferSize - rcvCnt_;
  if (room <= 0) {
    // Raised into the socket's background path (which aborts); remembered
    // so the synchronous call reports it instead of a success.
    pendingError_ = std::make_unique<EHttpException>("HTTP line too long", 4);
    failed_ = true;
    throw EHttpException("HTTP line too long", 4);
  }
  int n = socket_->Receive(rcvBuf_.data() + rcvCnt_, room);
  if (requestType_ == rqNone || n <= 0) return;
  lastProgressMs_ = NowMs();
  ConsumeReceived(n, error);
}

void THttpClient::ConsumeReceived(int n, uint16_t error) {
  rcvCnt_ += n;
  rcvBuf_[static_cast<size_t>(rcvCnt_)] = 0;

  if (State() == hsWaitingBody) {
    const int len = rcvCnt_;
    rcvCnt_ = 0;
    if (nextLine_)
      (this->*nextLine_)(std::string_view(rcvBuf_.data(), static_cast<size_t>(len)));
    else
      PostReady();
    return;
  }
  while (rcvCnt_ > 0) {
    char* begin = rcvBuf_.data();
    char* lf = static_cast<char*>(std::memchr(begin, '\n', static_cast<size_t>(rcvCnt_)));
    if (!lf) break;
    size_t lineLen = static_cast<size_t>(lf - begin);
    const bool cr = lineLen > 0 && begin[lineLen - 1] == '\r';
    lineTerminator_ = cr ? "\r\n" : "\n";
    std::string line(begin, cr ? lineLen - 1 : lineLen);
    const int consumed = static_cast<int>(lineLen) + 1;
    std::memmove(begin, begin + consumed, static_cast<size_t>(rcvCnt_ - consumed + 1));
    rcvCnt_ -= consumed;
    const THttpState st = State();
    if (st == hsWaitingHeader || st == hsWaitingBody) {
      if (nextLine_)
        (this->*nextLine_)(line);
      else
        PostReady();
    } else if (OnLineData) {
      OnLineData(this, error);
    }
  }
}

void THttpClient::HeaderLine(std::string_view lineView) {
  std::string line(lineView);
  if (headerLineCount_ == 0) {
    headerInProgress_ = true;
    if (OnHeaderBegin) OnHeaderBegin(this);
  }
  ++headerLineCount_;

  if (upper(line.substr(0, 6)) == "<HTML>") {
    // A server that sends no header at all: this line starts the body.
    headerless_ = true;
    if (contentType_.empty()) contentType_ = "text/html";
    SetState(hsWaitingBody);
    nextLine_ = &THttpClient::BodyData;
    headerInProgress_ = false;
    headerEnded_ = true;
    if (OnHeaderEnd) OnHeaderEnd(this);
    // The line keeps its own line end, and the rest goes unsplit.
    BodyData(line + lineTerminator_);
    if (rcvCnt_ > 0 && State() == hsWaitingBody) {
      const int len = rcvCnt_;
      rcvCnt_ = 0;
      BodyData(std::string_view(rcvBuf_.data(), static_cast<size_t>(len)));
    }
    rcvCnt_ = 0;
    return;
  }
  if (!line.empty()) {
    responseHeader_.push_back(line);
    if (line.rfind("HTTP/1.0", 0) == 0 || line.rfind("HTTP/1.1", 0) == 0) {
      gotStatusLine_ = true;
      statusCode_ = StatusCodeOf(line);
      reasonPhrase_ = ReasonPhraseOf(line);
    } else if (line.find(':') != std::string::npos) {
      HeaderField(line);
    }
    if (OnHeaderData) OnHeaderData(this);
    return;
  }
  EndOfHeader();
}

void THttpClient::HeaderField(const std::string& line) {
  const size_t colon = line.find(':');
  const std::string field = lower(line.substr(0, colon));
  size_t i = colon + 1;
  while (i + 1 < line.size() && line[i] == ' ') ++i;
  const std::string value = i < line.size() ? line.substr(i) : std::string();
  if (field == "location") {
    locationFlag_ = true;
    location_ = RelocateTarget(target_, value, !Proxy.empty());
  } else if (field == "content-length") {
    contentLength_ = DecimalOr(value, -1);
    if (contentLength_ < 0) contentLength_ = -1;
  } else if (field == "content-range") {
    SplitContentRange(value, ContentRangeBegin, ContentRangeEnd);
  } else if (field == "accept-ranges") {
    acceptRanges_ = value;
  } else if (field == "content-type") {
    contentType_ = lower(value);
  } else if (field == "www-authenticate") {
    authChallenges_.push_back(value);
  } else if (field == "set-cookie") {
    bool accept = true;
    if (OnCookie) OnCookie(this, value, accept);
  }
}

void THttpClient::EndOfHeader() {
  headerInProgress_ = false;
  headerEnded_ = true;
  if (contentLength_ == 0) {
    if (OnHeaderEnd) OnHeaderEnd(this);
    // The product left the connection open here, so the next request on
    // this client found its socket still in use.
    rcvCnt_ = 0;
    CloseConnection();
    PostReady();
    return;
  }
  if (locationFlag_) {
    if (OnHeaderEnd) OnHeaderEnd(this);
    rcvCnt_ = 0;
    headerLineCount_ = bodyLineCount_ = 0;
    relocating_ = true;
    CloseConnection();
    return;
  }
  documentName_ = FixExeDocumentName(documentName_, contentType_);
  SetState(hsWaitingBody);
  nextLine_ = &THttpClient::BodyData;
  if (OnHeaderEnd) OnHeaderEnd(this);
  if (rcvCnt_ > 0) {
    const int len = rcvCnt_;
    rcvCnt_ = 0;
    BodyData(std::string_view(rcvBuf_.data(), static_cast<size_t>(len)));
  }
  if (statusCode_ >= 400 && State() == hsWaitingBody) CloseConnection();
}

void THttpClient::BodyData(std::string_view data) {
  if (bodyLineCount_ == 0 && OnDocBegin) OnDocBegin(this);
  ++bodyLineCount_;
  if (BodyCap > 0 && receivedCount_ + static_cast<int64_t>(data.size()) > BodyCap) {
    // A body without bound would exhaust memory; the request fails instead.
    Fail(WSAENOBUFS, errorReason(WSAENOBUFS));
    FailNow();
    return;
  }
  receivedCount_ += static_cast<int64_t>(data.size());
  if (ReceiveStream) {
    try {
      ReceiveStream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    } catch (const std::exception& e) {
      // A body that cannot be stored is a failed request, not a short success.
      Fail(WSAECONNABORTED, e.what());
      FailNow();
      return;
    }
  }
  if (OnDocData) OnDocData(this, data.data(), static_cast<int>(data.size()));
}

void THttpClient::FailNow() {
  aborting_ = true;
  socket_->Abort();
  aborting_ = false;
  connected_ = false;
  PostReady();
}

void THttpClient::ParseReplyBytes(const void* data, size_t len) {
  if (State() == hsReady) {
    ++serial_;
    ResetResponse();
    requestType_ = rqGet;
    nextLine_ = &THttpClient::HeaderLine;
    SetState(hsWaitingHeader);
  }
  auto p = static_cast<const char*>(data);
  while (len > 0 && State() != hsReady) {
    const int room = kLineBufferSize - rcvCnt_;
    if (room <= 0) {
      pendingError_ = std::make_unique<EHttpException>("HTTP line too long", 4);
      failed_ = true;
      SetReady();
      return;
    }
    const int n = static_cast<int>(std::min<size_t>(len, static_cast<size_t>(room)));
    std::memcpy(rcvBuf_.data() + rcvCnt_, p, static_cast<size_t>(n));
    p += n;
    len -= static_cast<size_t>(n);
    ConsumeReceived(n, 0);
  }
}

// --- closing ----------------------------------------------------------------

void THttpClient::CloseConnection() {
  connected_ = false;
  closedByUs_ = true;
  socket_->Close();
}

void THttpClient::SocketSessionClosed(uint16_t error) {
  if (aborting_) return;
  if (relocating_) {
    RelocationClosed();
    return;
  }
  NormalClosed(error);
}

void THttpClient::NormalClosed(uint16_t error) {
  connected_ = false;
  if (State() == hsReady) return;
  // A peer that went away before the reply was complete makes the request
  // fail; the product reported such a request as a success.
  if (!closedByUs_ && !failed_ && requestType_ != rqNone) {
    const int code = error ? int{error} : int{WSAECONNABORTED};
    const bool bodyExpected = requestType_ != rqHead &&
                              !(statusCode_ >= 100 && statusCode_ < 200) && statusCode_ != 204 &&
                              statusCode_ != 304;
    if (!gotStatusLine_ && !headerless_) {
      Fail(static_cast<uint16_t>(code), errorReason(code));
    } else if (bodyExpected &&
               (!headerEnded_ || (contentLength_ >= 0 && receivedCount_ < contentLength_))) {
      Fail(static_cast<uint16_t>(code), errorReason(code));
    }
  }
  if (headerInProgress_) {
    headerInProgress_ = false;
    if (OnHeaderEnd) OnHeaderEnd(this);
    if (locationFlag_) {
      RelocationClosed();
      return;
    }
    PostReady();
    return;
  }
  if (bodyLineCount_ > 0 && OnDocEnd) OnDocEnd(this);
  PostReady();
}

void THttpClient::RelocationClosed() {
  connected_ = false;
  locationFlag_ = false;
  relocating_ = false;
  if (++relocations_ > kMaxRelocations) {
    requestDoneError_ = WSAELOOP;
    failed_ = true;
    PostReady();
    return;
  }
  if (requestType_ == rqPost) requestType_ = rqGet;
  if (OnLocationChange) OnLocationChange(this);
  responseHeader_.clear();
  if (!Proxy.empty()) target_.connectPort = ProxyPort;
  // The next pass starts afresh: its own status line and header.
  gotStatusLine_ = headerless_ = headerEnded_ = closedByUs_ = false;
  statusCode_ = 0;
  contentLength_ = -1;
  PostMessage(hWnd_, WM_HTTP_RELOCATE, serial_);
}

void THttpClient::PostReady() {
  PostMessage(hWnd_, WM_HTTP_SET_READY, serial_);
}

void THttpClient::SetReady() {
  if (State() == hsReady) return;
  if (timerFd_ >= 0) {
    itimerspec off{};
    timerfd_settime(timerFd_, 0, &off, nullptr);
    UnregisterFd(timerFd_);
  }
  std::shared_ptr<SyncCall> call;
  {
    std::lock_guard lock(syncMutex_);
    SetState(hsReady);
    if (activeSync_ && activeSync_->serial == serial_) {
      call = std::move(activeSync_);
      call->done = true;
    }
  }
  if (call) syncCv_.notify_all();
  PostMessage(hWnd_, WM_HTTP_REQUEST_DONE, serial_);
}

void THttpClient::Abort() {
  if (State() == hsReady) return;
  if (!failed_) Fail(WSAECONNABORTED, errorReason(WSAECONNABORTED));
  aborting_ = true;
  closedByUs_ = true;
  socket_->Abort();
  aborting_ = false;
  connected_ = false;
  SetReady();
}

// --- deadline ---------------------------------------------------------------

void THttpClient::ArmTimer(int64_t ms) {
  if (timerFd_ < 0) return;
  ms = std::max<int64_t>(ms, 1);
  itimerspec spec{};
  spec.it_value.tv_sec = ms / 1000;
  spec.it_value.tv_nsec = (ms % 1000) * 1000000;
  timerfd_settime(timerFd_, 0, &spec, nullptr);
  RegisterFd(timerFd_, POLLIN, [this](int, short) { OnTimer(); });
}

void THttpClient::OnTimer() {
  uint64_t expirations;
  while (read(timerFd_, &expirations, sizeof expirations) > 0) {
  }
  if (State() == hsReady || Timeout <= 0) return;
  const int64_t limit = int64_t{Timeout} * 1000;
  // Overall until the header has ended; then the body may take as long as
  // it keeps arriving.
  const int64_t deadline = (State() == hsWaitingBody ? lastProgressMs_ : startMs_) + limit;
  const int64_t now = NowMs();
  if (now < deadline) {
    ArmTimer(deadline - now);
    return;
  }
  TimedOut();
}

void THttpClient::TimedOut() {
  Fail(WSAETIMEDOUT, errorReason(WSAETIMEDOUT));
  Abort();
}

// --- messages and the synchronous call --------------------------------------

LRESULT THttpClient::WndProc(const Message& msg) {
  switch (msg.msg) {
    case WM_HTTP_REQUEST_DONE:
      if (msg.wParam == serial_ && OnRequestDone)
        OnRequestDone(this, requestType_, requestDoneError_);
      return 0;
    case WM_HTTP_SET_READY:
      if (msg.wParam == serial_) SetReady();
      return 0;
    case WM_HTTP_RELOCATE:
      if (msg.wParam == serial_ && State() != hsReady) StartLookup();
      return 0;
    case WM_HTTP_START_SYNC:
      StartSyncOnOwner();
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
  if (State() == hsReady) {
    call->done = true;
    syncCv_.notify_all();
  } else {
    activeSync_ = call;
  }
}

void THttpClient::RaiseResult() {
  if (pendingError_) throw EHttpException(*pendingError_);
  if (statusCode_ >= 400 || requestDoneError_ != 0 || failed_)
    throw EHttpException(reasonPhrase_, static_cast<uint16_t>(statusCode_ ? statusCode_ : 404));
}

void THttpClient::DoRequestSync(THttpRequest rq) {
  if (OnOwnerThread()) {
    DoRequestAsync(rq);
    while (State() != hsReady) {
      WaitMessage(std::chrono::milliseconds(200));
      PumpPendingMessages();
    }
    RaiseResult();
    return;
  }
  auto call = std::make_shared<SyncCall>();
  call->rq = rq;
  std::unique_lock lock(syncMutex_);
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
  RaiseResult();
}

}  // namespace zirk
