#pragma once
// The non-blocking socket component: every socket is in asynchronous mode
// and its readiness, like its host lookups, arrives as messages posted to a
// hidden window of the thread that created the component. Outgoing data is
// queued in blocks and written as the network accepts it.

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "net/sockbuf.h"
#include "platform/messages.h"
#include "platform/sockets.h"

namespace zirk {

class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

enum TSocketState : uint8_t {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketOption : unsigned { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2 };
using TSocketOptions = unsigned;

// Messages of the socket's hidden window.
constexpr uint32_t WM_ASYNCSELECT = platform::WM_USER + 1;
constexpr uint32_t WM_ASYNCGETHOSTBYNAME = platform::WM_USER + 2;
constexpr uint32_t WM_ASYNCGETHOSTBYADDR = platform::WM_USER + 3;
constexpr uint32_t WM_CLOSE_DELAYED = platform::WM_USER + 4;
constexpr uint32_t WM_WSOCKET_RELEASE = platform::WM_USER + 5;
constexpr uint32_t WM_TRIGGER_EXCEPTION = platform::WM_USER + 6;
constexpr uint32_t WM_TRIGGER_DATA_AVAILABLE = platform::WM_USER + 20;

// Name resolution; each raises ESocketException on failure. Addresses and
// ports are returned in host order.
uint32_t SocketResolveHost(const std::string& host);
uint16_t SocketResolvePort(const std::string& port, const std::string& proto);
// False for a port that begins with a digit (spaces before it aside) and
// reads as more than 65535 by the decimal rule SocketResolvePort reads it
// by; an empty port or a service name is left to the lookup.
bool PortInRange(const std::string& port);
int SocketResolveProto(const std::string& proto);
bool IsDottedIp(const std::string& text);
using platform::SocketErrorText;

// Dispatches every message and readiness event already pending for the
// calling thread; returns how many ran.
int PumpPendingMessages();

class TCustomAsyncSocket {
 public:
  using TNotify = std::function<void(TCustomAsyncSocket* sender)>;
  using TErrorNotify = std::function<void(TCustomAsyncSocket* sender, uint16_t error)>;
  using TSendData = std::function<void(TCustomAsyncSocket* sender, int bytesSent)>;
  using TChangeState =
      std::function<void(TCustomAsyncSocket* sender, TSocketState oldState, TSocketState newState)>;
  using TBgException =
      std::function<void(TCustomAsyncSocket* sender, const std::exception& e, bool& canClose)>;

  TCustomAsyncSocket();
  virtual ~TCustomAsyncSocket();
  TCustomAsyncSocket(const TCustomAsyncSocket&) = delete;
  TCustomAsyncSocket& operator=(const TCustomAsyncSocket&) = delete;

  // Properties.
  const std::string& Addr() const { return addrStr_; }
  void SetAddr(const std::string& value);
  const std::string& Port() const { return portStr_; }
  virtual void SetPort(const std::string& value);
  const std::string& Proto() const { return protoStr_; }
  virtual void SetProto(const std::string& value);
  const std::string& LocalAddr() const { return localAddr_; }
  void SetLocalAddr(const std::string& value);
  const std::string& LocalPort() const { return localPortStr_; }
  void SetLocalPort(const std::string& value);
  std::string PeerAddr() { return GetPeerAddr(); }
  std::string PeerPort() { return GetPeerPort(); }
  const std::string& DnsResult() const { return dnsResult_; }
  const std::vector<std::string>& DnsResultList() const { return dnsResultList_; }
  TSocketState State() const { return state_; }
  int64_t ReadCount() const { return readCount_; }
  int RcvdCount() { return GetRcvdCount(); }
  int LastError() const { return lastError_; }
  bool MultiThreaded() const { return multiThreaded_; }
  void SetMultiThreaded(bool v) { multiThreaded_ = v; }
  bool MultiCast() const { return multiCast_; }
  void SetMultiCast(bool v) { multiCast_ = v; }
  const std::string& MultiCastAddrStr() const { return multiCastAddrStr_; }
  void SetMultiCastAddrStr(const std::string& v) { multiCastAddrStr_ = v; }
  int MultiCastIpTTL() const { return multiCastIpTTL_; }
  void SetMultiCastIpTTL(int v) { multiCastIpTTL_ = v; }
  bool ReuseAddr() const { return reuseAddr_; }
  void SetReuseAddr(bool v) { reuseAddr_ = v; }
  TSocketOptions ComponentOptions() const { return options_; }
  void SetComponentOptions(TSocketOptions v) { options_ = v; }
  int FlushTimeout() const { return flushTimeout_; }
  void SetFlushTimeout(int v) { flushTimeout_ = v; }
  TSocketSendFlags SendFlags() const;
  void SetSendFlags(int value);
  TSocketLingerOnOff LingerOnOff() const { return lingerOnOff_; }
  void SetLingerOnOff(TSocketLingerOnOff v) { lingerOnOff_ = v; }
  int LingerTimeout() const { return lingerTimeout_; }
  void SetLingerTimeout(int v) { lingerTimeout_ = v; }
  platform::SOCKET Handle() const { return hSocket_; }
  platform::HWND Window() const { return hWnd_; }
  bool Terminated() const { return terminated_; }

  // Events.
  std::function<void(TCustomAsyncSocket* sender, uint16_t error)> OnDataAvailable;
  TErrorNotify OnDataSent;
  TSendData OnSendData;
  TErrorNotify OnSessionClosed;
  TErrorNotify OnSessionAvailable;
  TErrorNotify OnSessionConnected;
  TChangeState OnChangeState;
  TErrorNotify OnDnsLookupDone;
  TNotify OnError;
  TBgException OnBgException;
  TNotify OnLineTooLong;  // kept for the published set; never fired

  // Operations.
  virtual void Connect();
  virtual void Close();
  virtual void CloseDelayed();
  virtual void Release();
  virtual void Abort();
  virtual void Flush();
  virtual void WaitForClose();
  virtual void Listen();
  virtual platform::SOCKET Accept();
  virtual int Receive(void* buffer, int len);
  virtual std::string ReceiveStr();
  virtual int ReceiveFrom(void* buffer, int len, platform::SockAddrIn& from);
  virtual int Send(const void* data, int len);
  virtual int SendTo(const platform::SockAddrIn& dest, const void* data, int len);
  virtual int SendStr(const std::string& s);
  virtual void DnsLookup(const std::string& hostName);
  virtual void ReverseDnsLookup(const std::string& hostAddr);
  virtual void CancelDnsLookup();
  virtual std::string GetPeerAddr();
  virtual std::string GetPeerPort();
  virtual int GetPeerName(platform::SockAddrIn& name);
  virtual std::string GetBoundPort();
  virtual std::string GetBoundAddr();
  virtual int GetSockName(platform::SockAddrIn& name);
  virtual void Dup(platform::SOCKET newHSocket);
  virtual void Shutdown(int how);
  virtual void Pause();
  virtual void Resume();
  virtual void ProcessMessages();

 protected:
  virtual platform::LRESULT WndProc(const platform::Message& msg);
  virtual void AssignDefaultValue();
  virtual void InternalClose(bool shut, int error);
  virtual int GetRcvdCount();
  // Bytes a layer above the socket holds for the application.
  virtual bool HasBufferedData() const { return false; }
  virtual void BindSocket();
  virtual int RealSend(const void* data, int len);
  virtual void RaiseException(const std::string& msg);
  virtual void HandleBackGroundException(const std::exception& e);
  virtual bool TriggerDataAvailable(uint16_t error);
  virtual void TriggerSessionAvailable(uint16_t error);
  virtual void TriggerSessionConnected(uint16_t error);
  virtual void TriggerSessionClosed(uint16_t error);
  virtual void TriggerDataSent(uint16_t error);
  virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
  virtual void TriggerDNSLookupDone(uint16_t error);
  virtual void TriggerError();
  virtual int DoRecv(void* buffer, int len, int flags);
  virtual int DoRecvFrom(void* buffer, int len, int flags, platform::SockAddrIn& from);

  // Reports the calling thread's last WinSock error as failing in `func`.
  void SocketError(const std::string& func);
  void ChangeState(TSocketState newState);
  // Addr, Port and Proto: a changed (trimmed) value only while closed; it
  // must be resolved again before use.
  void assignEndpointPart(std::string& field, bool& assigned, bool& resolved,
                          const std::string& value, const char* name);
  // Resolves what changed since the last use: protocol, port, the local
  // port when asked, then the address.
  void resolveEndpoint(bool localPort);
  void DeleteBufferedData();
  void TryToSend();
  void PutDataInSendBuffer(const void* data, int len);
  void SetLingerOption();
  void ReceiveLoop(uint16_t error, bool honourNoReceiveLoop);
  void HandleSelectMessage(const platform::Message& msg);
  void HandleLookupReply(const platform::Message& msg, bool reverse);
  void DispatchSafely(const platform::Message& msg);
  bool IsOpen() const { return hSocket_ != platform::INVALID_SOCKET; }

  platform::HWND hWnd_ = 0;
  platform::SOCKET hSocket_ = platform::INVALID_SOCKET;
  platform::WPARAM token_ = 0;
  int sockType_ = platform::SOCK_STREAM_WS;
  int proto_ = platform::IPPROTO_TCP_WS;
  platform::SockAddrIn sin_;
  std::string addrStr_, portStr_, protoStr_;
  std::string localAddr_, localPortStr_;
  uint16_t localPortNum_ = 0;
  bool addrAssigned_ = false, addrResolved_ = false;
  bool portAssigned_ = false, portResolved_ = false;
  bool protoAssigned_ = false, protoResolved_ = false;
  bool localPortResolved_ = false;
  std::deque<std::unique_ptr<TBuffer>> bufList_;  // the send queue
  int bufSize_ = 1460;
  long selectEvent_ = 0;
  platform::LookupHandle dnsLookupHandle_ = 0;
  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  TSocketState state_ = wsClosed;
  int64_t readCount_ = 0;
  int lastError_ = 0;
  bool multiThreaded_ = false;
  bool multiCast_ = false;
  std::string multiCastAddrStr_;
  int multiCastIpTTL_ = 1;
  bool reuseAddr_ = false;
  TSocketOptions options_ = 0;
  int flushTimeout_ = 60;
  int sendFlags_ = 0;
  TSocketLingerOnOff lingerOnOff_ = wsLingerOn;
  int lingerTimeout_ = 0;
  bool allSent_ = true;
  bool paused_ = false;
  bool closeInvoked_ = false;
  bool terminated_ = false;
  bool destroying_ = false;
  platform::SOCKET lastAccepted_ = platform::INVALID_SOCKET;
  uint64_t rawRecvCalls_ = 0;
  bool lastRecvDrained_ = false;  // the last socket read returned less than asked
};

}  // namespace zirk
