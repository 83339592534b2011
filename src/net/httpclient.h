#pragma once
// HTTP/1.0 client over one asynchronous socket: lookup, connect, request,
// status and header lines, the body into a caller's stream, relocations,
// and a synchronous GET on top for a worker thread or the owning thread.
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
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/streams.h"
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

  THttpClient();
  ~THttpClient();
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
  const std::string& AcceptRanges() const { return acceptRanges_; }
  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool v);

  // Our own settings. A SOCKS server (with its port, level "4", "4A" or "5"
  // and optional user and password) is copied into the socket before every
  // connect, relocations included. BodyCap ends a request whose body grows
  // beyond it as a failure (0: no cap). Timeout bounds a request in seconds
  // (0: none): overall until the header has ended, then without progress.
  std::string SocksServer, SocksPort, SocksLevel = "5", SocksUsercode, SocksPassword;
  int64_t BodyCap = 0;
  int Timeout = 60;

  // Public, not published.
  TKwStream* ReceiveStream = nullptr;
  TKwStream* PostStream = nullptr;
  int StatusCode() const { return statusCode_; }
  const std::string& ReasonPhrase() const { return reasonPhrase_; }
  int64_t ContentLength() const { return contentLength_; }
  const std::string& ContentType() const { return contentType_; }
  const std::string& Location() const { return location_; }
  const std::string& DocumentName() const { return documentName_; }
  const std::vector<std::string>& ResponseHeader() const { return responseHeader_; }
  const std::vector<std::string>& AuthChallenges() const { return authChallenges_; }
  int64_t ReceivedCount() const { return receivedCount_; }
  int64_t SentCount() const { return sentCount_; }
  uint16_t RequestDoneError() const { return requestDoneError_; }
  THttpState State() const { return state_.load(std::memory_order_acquire); }
  bool Connected() const { return connected_; }
  TAsyncSocket& CtrlSocket() { return *socket_; }

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
  // not fit (4) and a request that failed after its status line.
  void DoRequestSync(THttpRequest rq);
  void HttpGetSync() { DoRequestSync(rqGet); }
  // Ends a running request at once as a failure (from the owning thread);
  // a synchronous caller then raises.
  void Abort();
  // Runs the reply parser over bytes as if a GET's connection had delivered
  // them, without any connection; this is how the parser is fuzzed.
  void ParseReplyBytes(const void* data, size_t len);

 protected:
  virtual void SendCommand(const std::string& cmd);
  virtual void StartLookup();
  virtual void CloseConnection();
  virtual void ResetResponse();

 private:
  struct SyncCall;
  using LineHandler = void (THttpClient::*)(std::string_view line);

  platform::LRESULT WndProc(const platform::Message& msg);
  void SetState(THttpState s);
  void SetReady();
  void PostReady();
  void Fail(uint16_t error, const std::string& reason);
  // Drops the connection of a request already marked as failed.
  void FailNow();
  void SendRequest(const std::string& method);
  void SendPostChunk();
  void HeaderLine(std::string_view line);
  void BodyData(std::string_view data);
  void HeaderField(const std::string& line);
  void EndOfHeader();
  void SocketDnsLookupDone(uint16_t error);
  void SocketSessionConnected(uint16_t error);
  void SocketDataAvailable(uint16_t error);
  void ConsumeReceived(int n, uint16_t error);
  void SocketDataSent(uint16_t error);
  void SocketSessionClosed(uint16_t error);
  void NormalClosed(uint16_t error);
  void RelocationClosed();
  void StartSyncOnOwner();
  void ArmTimer(int64_t ms);
  void OnTimer();
  void TimedOut();
  int64_t NowMs() const;
  void RaiseResult();
  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  std::unique_ptr<TAsyncSocket> socket_;
  platform::HWND hWnd_ = 0;
  std::thread::id owner_;
  bool multiThreaded_ = false;
  std::atomic<THttpState> state_{hsReady};
  THttpRequest requestType_ = rqNone;
  uint64_t serial_ = 0;

  THttpTarget target_;
  std::string documentName_, location_, acceptRanges_, contentType_, reasonPhrase_;
  int statusCode_ = 0;
  int64_t contentLength_ = -1;
  std::vector<std::string> responseHeader_, authChallenges_;
  int64_t receivedCount_ = 0, sentCount_ = 0;
  uint16_t requestDoneError_ = 0;
  bool connected_ = false;

  std::vector<char> rcvBuf_;  // the line buffer
  int rcvCnt_ = 0;
  std::string lineTerminator_;
  int headerLineCount_ = 0, bodyLineCount_ = 0;
  bool locationFlag_ = false, headerInProgress_ = false, sending_ = false;
  bool relocating_ = false;
  int relocations_ = 0;
  LineHandler nextLine_ = nullptr;
  std::string request_;
  std::vector<char> sendBuf_;

  // Faults tracked beside the product's state.
  bool gotStatusLine_ = false, headerless_ = false, headerEnded_ = false;
  bool closedByUs_ = false, failed_ = false, aborting_ = false;
  std::string socksErrorText_;
  std::unique_ptr<EHttpException> pendingError_;

  int timerFd_ = -1;
  int64_t startMs_ = 0, lastProgressMs_ = 0;

  std::mutex syncMutex_;
  std::condition_variable syncCv_;
  std::shared_ptr<SyncCall> queuedSync_, activeSync_;
  int waiters_ = 0;  // threads inside DoRequestSync's wait
};

}  // namespace zirk
