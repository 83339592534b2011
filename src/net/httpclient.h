#pragma once
// HTTP/1.0 client over one asynchronous socket: lookup, connect, request,
// status and header lines, the body into a caller's stream, relocations,
// and a synchronous GET on top for a worker thread or the owning thread.
// The request is one state machine driven by socket events; the reply is
// read by THttpReplyParser, which knows nothing of sockets.
//
// All socket and client work runs on the thread that created the client;
// a synchronous call from another thread hands the start to that thread and
// waits on a condition variable for the end.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/streams.h"
#include "net/httpreply.h"
#include "net/httpurl.h"
#include "net/linesocket.h"

namespace zirk {

class EHttpException : public Exception {
 public:
  EHttpException(const std::string& msg, uint16_t code) : Exception(msg), ErrorCode(code) {}
  uint16_t ErrorCode;
};

enum THttpRequest : uint8_t { rqNone, rqGet, rqPost, rqHead };
enum THttpState : uint8_t {
  hsReady,
  hsNotConnected,
  hsConnected,
  hsDnsLookup,
  hsDnsLookupDone,
  hsWaitingHeader,
  hsWaitingBody
};

// Messages of the client's hidden window.
constexpr uint32_t WM_HTTP_REQUEST_DONE = platform::WM_USER + 1;
constexpr uint32_t WM_HTTP_SET_READY = platform::WM_USER + 2;
constexpr uint32_t WM_HTTP_RELOCATE = platform::WM_USER + 3;
constexpr uint32_t WM_HTTP_START_SYNC = platform::WM_USER + 4;

class THttpClient {
 public:
  using TNotify = std::function<void(THttpClient* sender)>;
  using TOnCommand = std::function<void(THttpClient* sender, std::string& s)>;
  using TDocData = std::function<void(THttpClient* sender, const void* buffer, int len)>;
  using TRequestDone =
      std::function<void(THttpClient* sender, THttpRequest rqType, uint16_t error)>;
  using TCookieRcvd =
      std::function<void(THttpClient* sender, const std::string& data, bool& accept)>;
  using TLineData = std::function<void(THttpClient* sender, uint16_t error)>;

  // Relocations followed before a request fails: a pair of servers sending
  // each other's address would otherwise keep it going for ever.
  static constexpr int kMaxRelocations = 20;
  // Body bytes that must arrive within each span of Timeout.
  static constexpr int64_t kMinProgressBytes = 1024;
  // Timer id of the request's deadline on the client's window.
  static constexpr platform::WPARAM kDeadlineTimer = 1;

  THttpClient();
  virtual ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  // Published properties.
  std::string URL, LocalAddr = "0.0.0.0", Proxy, ProxyPort = "80", Sender;
  std::string Agent = "Mozilla/3.0 (compatible)";
  std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  std::string Reference, Username, Password, ProxyUsername, ProxyPassword;
  bool NoCache = false;
  double ModifiedSince = 0;
  std::string Cookie;
  std::string ContentTypePost = "application/x-www-form-urlencoded";
  std::string ContentRangeBegin, ContentRangeEnd;
  // Of the reply to the last request sent (a relocation's pass included).
  const std::string& AcceptRanges() const { return acceptRanges_; }
  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool v);

  // Our own settings. A SOCKS server (with its port, level "4", "4A" or "5"
  // and optional user and password) is copied into the socket before every
  // connect, relocations included. BodyCap ends a request whose body grows
  // beyond it as a failure (0: no cap). Timeout bounds a request in seconds
  // (0: none): overall until the header has ended, then as a rate: the
  // request fails when less than kMinProgressBytes of body arrive within
  // one span of it.
  // Only "http" URLs are fetched, also when a relocation names another
  // scheme.
  std::string SocksServer, SocksPort, SocksLevel = "5", SocksUsercode, SocksPassword;
  int64_t BodyCap = 0;
  int Timeout = 60;

  // Public, not published.
  TKwStream* ReceiveStream = nullptr;
  TKwStream* PostStream = nullptr;
  // A request that failed before any status line reads as 404 with the
  // failure's text; after one, the server's status and reason stand.
  int StatusCode() const;
  const std::string& ReasonPhrase() const;
  int64_t ContentLength() const { return reply_.ContentLength(); }
  const std::string& ContentType() const { return reply_.ContentType(); }
  const std::string& Location() const { return location_; }
  const std::string& DocumentName() const { return documentName_; }
  const std::vector<std::string>& ResponseHeader() const { return reply_.Lines(); }
  const std::vector<std::string>& AuthChallenges() const { return reply_.AuthChallenges(); }
  int64_t ReceivedCount() const { return reply_.BodyBytes(); }
  int64_t SentCount() const { return sentCount_; }
  uint16_t RequestDoneError() const { return failure_ ? failure_->error : 0; }
  THttpState State() const { return state_.load(std::memory_order_acquire); }
  bool Connected() const;

  // Events.
  TNotify OnTrace;  // never fired
  TNotify OnSessionConnected, OnHeaderData, OnHeaderBegin, OnHeaderEnd;
  TNotify OnRequestHeaderBegin, OnRequestHeaderEnd, OnDocBegin, OnDocEnd;
  TNotify OnSendBegin, OnSendEnd, OnStateChange, OnLocationChange;
  TOnCommand OnCommand;
  TDocData OnDocData, OnSendData;
  TRequestDone OnRequestDone;
  TCookieRcvd OnCookie;
  TLineData OnLineData;

  void DoRequestAsync(THttpRequest rq);
  // Returns when the request has ended; raises EHttpException for a status
  // of 400 or more, a failed lookup or connection (404), a line that does
  // not fit (4) and a request that failed after its status line (with that
  // status).
  void DoRequestSync(THttpRequest rq);
  void HttpGetSync() { DoRequestSync(rqGet); }
  // Ends a running request at once as a failure (from the owning thread);
  // a synchronous caller then raises.
  void Abort();
  // For an owner about to free the client while another thread may call
  // DoRequestSync: ends a running request and releases every synchronous
  // caller on other threads, now and from now on, with an error. Returns
  // once none of them is inside the client any more. From the owning thread.
  void Cancel();

 protected:
  virtual void SendCommand(const std::string& cmd);
  virtual void StartLookup();
  virtual void CloseConnection();
  virtual void ResetResponse();

 private:
  struct SyncCall;
  class ReplyListener;

  // Where the request stands. The published State follows from it, except
  // that a request being relocated or ending keeps the state it had until
  // the message loop moves it on.
  enum class TPhase : uint8_t {
    Idle,        // no request
    Starting,    // accepted; the targets are being worked out
    Lookup,      // host lookup running
    Connecting,  // connection being made
    Header,      // request sent; status and header lines arriving
    Body,        // body arriving up to its length or until the server closes
    Relocating,  // closed for a relocation; the next pass starts from the loop
    Ending,      // over; the end is entered from the message loop
  };
  // Why a request failed. The first reason stands.
  struct TFailure {
    uint16_t error = 0;  // RequestDoneError
    std::string text;    // empty: the server's reason phrase says it
    uint16_t code = 0;   // raised with this code instead of the status
  };

  platform::LRESULT WndProc(const platform::Message& msg);
  void Enter(TPhase phase);
  void SetState(THttpState s);
  // The request is over: the connection goes and the loop enters hsReady.
  void Finish(bool abortive = false);
  void FinishFailed(uint16_t error, const std::string& text, uint16_t code = 0);
  void SetReady();
  // False when a line would carry CR, LF or NUL; nothing is sent then.
  bool SendRequest(const std::string& method);
  void SendPostChunk();
  void ReplyHeaderLine(std::string_view name, std::string_view value);
  void ReplyHeaderEnd(THttpReplyParser::THeaderEnd how);
  void ReplyBody(std::string_view data);
  bool Relocate();
  void SocketDnsLookupDone(uint16_t error);
  void SocketSessionConnected(uint16_t error);
  void SocketDataAvailable(uint16_t error);
  void SocketDataSent(uint16_t error);
  void SocketSessionClosed(uint16_t error);
  void RemoteClosed(uint16_t error);
  void RelocationClosed();
  // A header begun and never ended still gets its end event, once.
  void EndHeaderCutShort();
  void StartSyncOnOwner();
  void ArmDeadline(uint32_t ms);
  void DeadlineTimer();
  std::exception_ptr Result() const;
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  std::unique_ptr<TAsyncSocket> socket_;
  platform::HWND hWnd_ = 0;
  std::thread::id owner_;
  bool multiThreaded_ = false;
  std::atomic<THttpState> state_{hsReady};
  TPhase phase_ = TPhase::Idle;
  THttpRequest requestType_ = rqNone;
  uint64_t serial_ = 0;
  std::optional<TFailure> failure_;

  THttpTarget target_;
  std::string documentName_, location_;
  int64_t sentCount_ = 0;
  bool sending_ = false;  // a POST body is still going out
  int relocations_ = 0;
  std::string proxyConnectPort_;  // where the proxy listens, for every pass
  std::string acceptRanges_;
  bool connected_ = false;       // between the connected event and the close
  bool headerEndFired_ = false;  // for the header of this pass
  bool badRequestLine_ = false;  // a line of the request being built is refused
  uint16_t receiveError_ = 0;    // a read that failed, for a close that says nothing
  std::unique_ptr<ReplyListener> listener_;
  THttpReplyParser reply_;
  std::vector<char> rcvBuf_, sendBuf_;
  std::string request_;
  std::string socksErrorText_;

  uint32_t startMs_ = 0;
  uint32_t progressStartMs_ = 0;  // start of the span the body's rate is counted over
  int64_t progressBytes_ = 0;     // body bytes within that span

  std::mutex syncMutex_;
  std::condition_variable syncCv_;
  std::shared_ptr<SyncCall> queuedSync_, activeSync_;
  int waiters_ = 0;  // threads inside DoRequestSync's wait
  bool cancelled_ = false;
};

}  // namespace zirk
