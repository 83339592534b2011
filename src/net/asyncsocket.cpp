#include "net/asyncsocket.h"

#include <algorithm>
#include <cstdio>

namespace zirk {

using namespace platform;

namespace {

constexpr long kConnectEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;  // 59
constexpr long kListenEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE;                // 43
constexpr long kDupEvents = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;                  // 51
constexpr size_t kMaxHostLen = 256;
constexpr size_t kMaxPortLen = 31;

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Leading blanks, then digits up to the first other character. Values that
// would not fit are clamped, so the callers' range checks see them as too big.
int64_t decimalRule(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  int64_t v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i) v = std::min<int64_t>(v * 10 + (s[i] - '0'), 1 << 30);
  return v;
}

// The four parts of a text IsDottedIp accepted, read as decimal numbers
// (inet_addr would read "010" as octal).
uint32_t dottedValue(const std::string& text) {
  uint32_t v = 0;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  for (int part = 0; part < 4; ++part) {
    uint32_t p = 0;
    while (i < text.size() && isDigit(text[i])) p = p * 10 + static_cast<uint32_t>(text[i++] - '0');
    v = (v << 8) | p;
    ++i;  // the dot
  }
  return v;
}

std::string format(const char* fmt, const std::string& s, int n) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, s.c_str(), n);
  return buf;
}

}  // namespace

bool IsDottedIp(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i >= text.size() || !isDigit(text[i])) return false;
  int dots = 0;
  int part = 0;
  int digits = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (isDigit(c)) {
      part = part * 10 + (c - '0');
      if (part > 255) return false;
      ++digits;
    } else if (c == '.') {
      if (digits == 0 || ++dots > 3) return false;
      if (i + 1 >= text.size() || !isDigit(text[i + 1])) return false;
      part = digits = 0;
    } else if (c == ' ') {
      break;
    } else {
      return false;
    }
  }
  for (; i < text.size(); ++i)
    if (text[i] != ' ') return false;
  return dots == 3 && digits > 0;
}

uint32_t SocketResolveHost(const std::string& host) {
  if (host.empty() || host.size() > kMaxHostLen)
    throw ESocketException("SocketResolveHost: '" + host + "' Invalid Hostname.");
  if (IsDottedIp(host)) return dottedValue(host);
  uint32_t addr = 0;
  int err = GetHostByName(host, &addr);
  if (err)
    throw ESocketException(
        format("SocketResolveHost: Cannot convert host address '%s', Error #%d", host, err));
  return addr;
}

uint16_t SocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() > kMaxPortLen)
    throw ESocketException("SocketResolvePort: Invalid Port.");
  if (proto.empty() || proto.size() > kMaxPortLen)
    throw ESocketException("SocketResolvePort: Invalid Proto.");
  if (isDigit(port[0])) {
    // Checked, or "70000" would wrap to port 4464.
    if (!PortInRange(port)) throw ESocketException("SocketResolvePort: Invalid Port.");
    return static_cast<uint16_t>(decimalRule(port));
  }
  uint16_t p = 0;
  int err = GetServByName(port, proto, &p);
  if (err)
    throw ESocketException(
        format("SocketResolvePort: Cannot convert port '%s', Error #%d", port, err));
  return p;
}

bool PortInRange(const std::string& port) {
  const size_t first = port.find_first_not_of(' ');
  return first == std::string::npos || !isDigit(port[first]) || decimalRule(port) <= 65535;
}

int SocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() > kMaxPortLen)
    throw ESocketException("SocketResolveProto: Invalid Protocol.");
  if (isDigit(proto[0])) return static_cast<int>(decimalRule(proto));
  int p = 0;
  int err = GetProtoByName(proto, &p);
  if (err)
    throw ESocketException(
        format("SocketResolveProto: Cannot convert protocol '%s', Error #%d", proto, err));
  return p;
}

int PumpPendingMessages() {
  int total = 0;
  for (int pass = 0; pass < 1000; ++pass) {
    WaitMessage(std::chrono::milliseconds(0));
    int n = platform::ProcessMessages();
    total += n;
    if (n == 0) break;
  }
  return total;
}

// ---------------------------------------------------------------------------

TCustomAsyncSocket::TCustomAsyncSocket() {
  hWnd_ = AllocateHWnd([this](const Message& m) { return WndProc(m); });
  multiCastIpTTL_ = 1;
  AssignDefaultValue();
}

TCustomAsyncSocket::~TCustomAsyncSocket() {
  destroying_ = true;
  try {
    CancelDnsLookup();
    if (state_ != wsClosed || IsOpen()) InternalClose(false, 0);
  } catch (...) {
    // A destructor reports nothing; the descriptor is closed below anyway.
  }
  if (IsOpen()) CloseSocket(hSocket_);
  DeallocateHWnd(hWnd_);
}

void TCustomAsyncSocket::AssignDefaultValue() {
  sin_ = SockAddrIn{};
  addrStr_.clear();
  portStr_.clear();
  addrAssigned_ = addrResolved_ = false;
  portAssigned_ = portResolved_ = false;
  localPortResolved_ = false;
  protoStr_ = "tcp";
  protoAssigned_ = true;
  protoResolved_ = false;
  proto_ = IPPROTO_TCP_WS;
  sockType_ = SOCK_STREAM_WS;
  localPortStr_.assign(1, '0');  // a one-character literal trips GCC 12's -Wrestrict
  localPortNum_ = 0;
  localAddr_ = "0.0.0.0";
  lingerOnOff_ = wsLingerOn;
  lingerTimeout_ = 0;
  hSocket_ = INVALID_SOCKET;
  token_ = 0;
  selectEvent_ = 0;
  state_ = wsClosed;
  allSent_ = true;
  readCount_ = 0;
  paused_ = false;
  closeInvoked_ = false;
  flushTimeout_ = 60;
}

void TCustomAsyncSocket::RaiseException(const std::string& msg) {
  if (OnError) {
    TriggerError();
    return;
  }
  throw ESocketException(msg);
}

void TCustomAsyncSocket::SocketError(const std::string& func) {
  const int code = WSAGetLastError();
  const std::string text =
      "Error " + std::to_string(code) + " in function " + func + "\r\n" + SocketErrorText(code);
  if ((code == WSAECONNRESET || code == WSAENOTCONN) && state_ != wsClosed) {
    if (IsOpen()) CloseSocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    token_ = 0;
    if (!closeInvoked_) {
      closeInvoked_ = true;
      TriggerSessionClosed(static_cast<uint16_t>(code));
    }
    ChangeState(wsClosed);
    // As after every close, or the next connection's close would count as
    // reported already.
    AssignDefaultValue();
  }
  lastError_ = code;
  RaiseException(text);
}

void TCustomAsyncSocket::ChangeState(TSocketState newState) {
  TSocketState old = state_;
  state_ = newState;
  if (old != newState) TriggerChangeState(old, newState);
}

// --- properties -------------------------------------------------------------

void TCustomAsyncSocket::assignEndpointPart(std::string& field, bool& assigned, bool& resolved,
                                            const std::string& value, const char* name) {
  std::string v = trim(value);
  if (assigned && v == field) return;
  if (state_ != wsClosed)
    return RaiseException(std::string("Cannot change ") + name + " if not closed");
  field = v;
  assigned = !v.empty();
  resolved = false;
}

void TCustomAsyncSocket::SetAddr(const std::string& value) {
  assignEndpointPart(addrStr_, addrAssigned_, addrResolved_, value, "Addr");
}

void TCustomAsyncSocket::SetPort(const std::string& value) {
  assignEndpointPart(portStr_, portAssigned_, portResolved_, value, "Port");
}

void TCustomAsyncSocket::SetProto(const std::string& value) {
  assignEndpointPart(protoStr_, protoAssigned_, protoResolved_, value, "Proto");
}

void TCustomAsyncSocket::SetLocalAddr(const std::string& value) {
  if (state_ != wsClosed) return RaiseException("Cannot change LocalAddr if not closed");
  std::string v = trim(value);
  if (v.empty()) v = "0.0.0.0";
  uint32_t addr;
  if (!InetAddr(v, &addr)) return RaiseException("SetLocalAddr(): Invalid IP address");
  localAddr_ = v;
}

void TCustomAsyncSocket::SetLocalPort(const std::string& value) {
  if (value == localPortStr_) return;
  if (state_ != wsClosed) return RaiseException("Cannot change LocalPort if not closed");
  localPortStr_ = value;
  localPortResolved_ = false;
}

TSocketSendFlags TCustomAsyncSocket::SendFlags() const {
  if (sendFlags_ != 0 && sendFlags_ != 1) throw ESocketException("Invalid internal SendFlags");
  return sendFlags_ == 0 ? wsSendNormal : wsSendUrgent;
}

void TCustomAsyncSocket::SetSendFlags(int value) {
  if (value != wsSendNormal && value != wsSendUrgent) return RaiseException("Invalid SendFlags");
  sendFlags_ = value;
}

// --- connecting -------------------------------------------------------------

void TCustomAsyncSocket::BindSocket() {
  SockAddrIn local{SocketResolveHost(localAddr_), localPortNum_};
  if (Bind(hSocket_, local) != 0)
    return RaiseException("winsock.bind failed, error #" + std::to_string(WSAGetLastError()));
  SockAddrIn bound;
  if (platform::GetSockName(hSocket_, &bound) != 0)
    return RaiseException("winsock.getsockname failed, error #" +
                          std::to_string(WSAGetLastError()));
  localPortStr_ = std::to_string(bound.port);
}

void TCustomAsyncSocket::SetLingerOption() {
  if (lingerOnOff_ == wsLingerNoSet) return;
  if (!IsOpen()) return RaiseException("Cannot set linger option at this time");
  if (SetLinger(hSocket_, lingerOnOff_ == wsLingerOn, lingerTimeout_) != 0)
    SocketError("setsockopt(SO_LINGER)");
}

void TCustomAsyncSocket::resolveEndpoint(bool localPort) {
  if (!protoResolved_) {
    proto_ = SocketResolveProto(protoStr_);
    sockType_ = proto_ == IPPROTO_UDP_WS ? SOCK_DGRAM_WS : SOCK_STREAM_WS;
    protoResolved_ = true;
  }
  if (!portResolved_) {
    sin_.port = SocketResolvePort(portStr_, protoStr_);
    portResolved_ = true;
  }
  if (localPort && !localPortResolved_) {
    localPortNum_ = SocketResolvePort(localPortStr_, protoStr_);
    localPortResolved_ = true;
  }
  if (!addrResolved_) {
    sin_.addr = SocketResolveHost(addrStr_);
    addrResolved_ = true;
  }
}

void TCustomAsyncSocket::Connect() {
  if (IsOpen() && state_ != wsClosed) return RaiseException("Connect: Socket already in use");
  if (!portAssigned_) return RaiseException("Connect: No Port Specified");
  if (!addrAssigned_) return RaiseException("Connect: No IP Address Specified");
  if (!protoAssigned_) return RaiseException("Connect: No Protocol Specified");

  resolveEndpoint(true);

  DeleteBufferedData();
  hSocket_ = Socket(sockType_, proto_);
  if (hSocket_ == INVALID_SOCKET) return SocketError("Connect (socket)");
  token_ = SocketToken(hSocket_);
  ChangeState(wsOpened);

  if (sockType_ == SOCK_STREAM_WS) {
    if (SetSockOpt(hSocket_, SockOpt::ReuseAddr, 1) != 0)
      return SocketError("setsockopt(SO_REUSEADDR)");
    if ((options_ & wsoTcpNoDelay) && SetSockOpt(hSocket_, SockOpt::TcpNoDelay, 1) != 0)
      return SocketError("setsockopt(IPPROTO_TCP, TCP_NODELAY)");
    SetLingerOption();
    if (SetSockOpt(hSocket_, SockOpt::KeepAlive, 1) != 0)
      return SocketError("setsockopt(SO_KEEPALIVE)");
    if (localPortNum_ != 0 || localAddr_ != "0.0.0.0") BindSocket();
  } else {
    BindSocket();
    if (multiCast_ && multiCastIpTTL_ != 1 &&
        SetSockOpt(hSocket_, SockOpt::MulticastTtl, multiCastIpTTL_) != 0)
      return SocketError("setsockopt(IP_MULTICAST_TTL)");
    if (sin_.addr == 0xFFFFFFFFu && SetSockOpt(hSocket_, SockOpt::Broadcast, 1) != 0)
      return SocketError("setsockopt(SO_BROADCAST)");
  }

  selectEvent_ = kConnectEvents;
  if (WSAAsyncSelect(hSocket_, hWnd_, WM_ASYNCSELECT, selectEvent_) != 0)
    return SocketError("WSAAsyncSelect");

  if (sockType_ == SOCK_STREAM_WS) {
    if (platform::Connect(hSocket_, sin_) != 0) {
      int err = WSAGetLastError();
      if (err != WSAEWOULDBLOCK) {
        lastError_ = err;
        return SocketError("Connect");
      }
    }
    ChangeState(wsConnecting);
  } else {
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  }
}

void TCustomAsyncSocket::Listen() {
  auto missing = [this](const char* what) {
    WSASetLastError(WSAEINVAL);
    SocketError(std::string("listen: ") + what + " not assigned");
  };
  if (!portAssigned_) return missing("port");
  if (!protoAssigned_) return missing("protocol");
  if (!addrAssigned_) return missing("address");
  resolveEndpoint(false);
  DeleteBufferedData();
  hSocket_ = Socket(sockType_, proto_);
  if (hSocket_ == INVALID_SOCKET) return SocketError("socket");
  token_ = SocketToken(hSocket_);
  if (sockType_ == SOCK_DGRAM_WS && reuseAddr_ && SetSockOpt(hSocket_, SockOpt::ReuseAddr, 1) != 0)
    return SocketError("setsockopt(SO_REUSEADDR)");
  if (Bind(hSocket_, sin_) != 0) {
    int err = WSAGetLastError();
    Close();
    WSASetLastError(err);
    return SocketError("Bind");
  }
  ChangeState(wsBound);
  if (sockType_ == SOCK_DGRAM_WS) {
    if (multiCast_) {
      uint32_t group = IsDottedIp(multiCastAddrStr_) ? dottedValue(multiCastAddrStr_) : 0;
      if (AddMembership(hSocket_, group) != 0) return SocketError("setsockopt(IP MULTICAST)");
    }
    ChangeState(wsListening);
    ChangeState(wsConnected);
    TriggerSessionConnected(0);
  } else {
    if (platform::Listen(hSocket_, 5) != 0) return SocketError("Listen");
    ChangeState(wsListening);
  }
  selectEvent_ = kListenEvents;
  if (WSAAsyncSelect(hSocket_, hWnd_, WM_ASYNCSELECT, selectEvent_) != 0)
    return SocketError("WSAASyncSelect");
}

SOCKET TCustomAsyncSocket::Accept() {
  if (state_ != wsListening) {
    WSASetLastError(WSAEINVAL);
    SocketError("not a listening socket");
    return INVALID_SOCKET;
  }
  SockAddrIn from;
  SOCKET s = platform::Accept(hSocket_, &from);
  if (s == INVALID_SOCKET) {
    SocketError("Accept");
    return INVALID_SOCKET;
  }
  lastAccepted_ = s;
  return s;
}

void TCustomAsyncSocket::Dup(SOCKET newHSocket) {
  if (newHSocket == 0 || newHSocket == INVALID_SOCKET) {
    WSASetLastError(WSAEINVAL);
    return SocketError("Dup");
  }
  if (IsOpen()) {
    int rc = CloseSocket(hSocket_);
    hSocket_ = INVALID_SOCKET;
    token_ = 0;
    if (rc != 0) return SocketError("Dup (closesocket)");
    ChangeState(wsClosed);
  }
  hSocket_ = newHSocket;
  token_ = SocketToken(hSocket_);
  SetLingerOption();
  selectEvent_ = kDupEvents;
  if (WSAAsyncSelect(hSocket_, hWnd_, WM_ASYNCSELECT, selectEvent_) != 0)
    return SocketError("WSAAsyncSelect");
  ChangeState(wsConnected);
}

// --- closing ----------------------------------------------------------------

void TCustomAsyncSocket::InternalClose(bool shut, int error) {
  if (state_ == wsClosed && !IsOpen()) return;
  if (IsOpen()) {
    if (shut) platform::Shutdown(hSocket_, 1);
    // A socket still handing over its data may ask to be closed again later.
    while (CloseSocket(hSocket_) != 0) {
      const int err = WSAGetLastError();
      if (err == WSAEWOULDBLOCK) {
        ProcessMessages();
        continue;
      }
      // The handle is gone whatever is reported, so a report that raises
      // leaves nothing to close twice.
      hSocket_ = INVALID_SOCKET;
      token_ = 0;
      lastError_ = err;
      if (err == WSANOTINITIALISED) break;
      WSASetLastError(err);
      SocketError("Disconnect (closesocket)");
      break;
    }
    hSocket_ = INVALID_SOCKET;
    token_ = 0;
  }
  ChangeState(wsClosed);
  if (!destroying_ && !closeInvoked_) {
    closeInvoked_ = true;
    TriggerSessionClosed(static_cast<uint16_t>(error));
  }
  AssignDefaultValue();
}

void TCustomAsyncSocket::Close() {
  InternalClose(true, 0);
}

void TCustomAsyncSocket::CloseDelayed() {
  PostMessage(hWnd_, WM_CLOSE_DELAYED);
}

void TCustomAsyncSocket::Release() {
  PostMessage(hWnd_, WM_WSOCKET_RELEASE);
}

void TCustomAsyncSocket::Abort() {
  CancelDnsLookup();
  DeleteBufferedData();
  if (state_ == wsConnected && sockType_ == SOCK_STREAM_WS && IsOpen()) {
    lingerOnOff_ = wsLingerOff;
    try {
      SetLingerOption();
    } catch (const ESocketException&) {
      // The socket goes away in any case.
    }
  }
  InternalClose(false, 0);
}

void TCustomAsyncSocket::Flush() {
  while (IsOpen() && !allSent_) {
    TryToSend();
    if (allSent_) break;
    WaitMessage(std::chrono::milliseconds(100));
    ProcessMessages();
  }
}

void TCustomAsyncSocket::WaitForClose() {
  while (IsOpen() && state_ != wsClosed) {
    WaitMessage(std::chrono::milliseconds(100));
    ProcessMessages();
    if (IsOpen() && GetRcvdCount() > 0) TriggerDataAvailable(0);
  }
}

void TCustomAsyncSocket::Shutdown(int how) {
  if (IsOpen()) platform::Shutdown(hSocket_, how);
}

void TCustomAsyncSocket::Pause() {
  if (!IsOpen()) return;
  paused_ = true;
  WSAAsyncSelect(hSocket_, hWnd_, WM_ASYNCSELECT, 0);
}

void TCustomAsyncSocket::Resume() {
  if (!IsOpen()) return;
  paused_ = false;
  WSAAsyncSelect(hSocket_, hWnd_, WM_ASYNCSELECT, selectEvent_);
}

void TCustomAsyncSocket::ProcessMessages() {
  PumpPendingMessages();
  if (QuitPosted()) terminated_ = true;
}

// --- sending ----------------------------------------------------------------

void TCustomAsyncSocket::DeleteBufferedData() {
  bufList_.clear();
  allSent_ = true;
}

void TCustomAsyncSocket::PutDataInSendBuffer(const void* data, int len) {
  auto p = static_cast<const uint8_t*>(data);
  while (len > 0) {
    if (bufList_.empty() || bufList_.back()->Full())
      bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
    int n = bufList_.back()->Write(p, len);
    p += n;
    len -= n;
  }
}

int TCustomAsyncSocket::RealSend(const void* data, int len) {
  if (sockType_ == SOCK_DGRAM_WS) return platform::SendTo(hSocket_, data, len, sendFlags_, sin_);
  return platform::Send(hSocket_, data, len, sendFlags_);
}

void TCustomAsyncSocket::TryToSend() {
  if (!IsOpen() || bufList_.empty()) return;
  while (!bufList_.empty()) {
    int len = 0;
    const uint8_t* p = bufList_.front()->Peek(len);
    if (len <= 0) {
      if (bufList_.size() > 1) {
        bufList_.pop_front();
        continue;
      }
      allSent_ = true;
      break;
    }
    int n = RealSend(p, len);
    if (n > 0 && OnSendData) OnSendData(this, n);
    if (n == 0) break;
    if (n > 0) {
      bufList_.front()->Remove(n);
      if (n < len) break;
      continue;
    }
    int err = WSAGetLastError();
    if (err == WSAECONNRESET || err == WSAENOTSOCK || err == WSAENOTCONN || err == WSAEINVAL ||
        err == WSAECONNABORTED) {
      closeInvoked_ = true;
      InternalClose(true, err);
      TriggerSessionClosed(static_cast<uint16_t>(err));
      return;
    }
    if (err == WSAEWOULDBLOCK) break;
    WSASetLastError(err);
    SocketError("TryToSend failed");
    return;
  }
  if (bufList_.size() == 1 && bufList_.front()->Unread() == 0) allSent_ = true;
}

int TCustomAsyncSocket::Send(const void* data, int len) {
  if (state_ != wsConnected) {
    WSASetLastError(WSAENOTCONN);
    SocketError("Send");
    return -1;
  }
  if (len <= 0) return 0;
  allSent_ = false;
  PutDataInSendBuffer(data, len);
  TryToSend();
  // Data the network took at once still gets its data-sent event, later,
  // from the message loop.
  if (allSent_ && IsOpen())
    PostMessage(hWnd_, WM_ASYNCSELECT, token_, WSAMAKESELECTREPLY(FD_WRITE, 0));
  return len;
}

int TCustomAsyncSocket::SendStr(const std::string& s) {
  if (s.empty()) return 0;
  return Send(s.data(), static_cast<int>(s.size()));
}

int TCustomAsyncSocket::SendTo(const SockAddrIn& dest, const void* data, int len) {
  if (!IsOpen()) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  int n = platform::SendTo(hSocket_, data, len, sendFlags_, dest);
  if (n < 0) lastError_ = WSAGetLastError();
  return n;
}

// --- receiving --------------------------------------------------------------

int TCustomAsyncSocket::GetRcvdCount() {
  if (!IsOpen()) return -1;
  return BytesAvailable(hSocket_);
}

int TCustomAsyncSocket::DoRecv(void* buffer, int len, int flags) {
  ++rawRecvCalls_;
  if (!IsOpen()) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  int n = platform::Recv(hSocket_, buffer, len, flags);
  lastRecvDrained_ = n >= 0 && n < len;
  return n;
}

int TCustomAsyncSocket::DoRecvFrom(void* buffer, int len, int flags, SockAddrIn& from) {
  ++rawRecvCalls_;
  if (!IsOpen()) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  return platform::RecvFrom(hSocket_, buffer, len, flags, &from);
}

int TCustomAsyncSocket::Receive(void* buffer, int len) {
  int n = DoRecv(buffer, len, 0);
  if (n < 0)
    lastError_ = WSAGetLastError();
  else
    readCount_ += n;
  return n;
}

int TCustomAsyncSocket::ReceiveFrom(void* buffer, int len, SockAddrIn& from) {
  int n = DoRecvFrom(buffer, len, 0, from);
  if (n < 0)
    lastError_ = WSAGetLastError();
  else
    readCount_ += n;
  return n;
}

std::string TCustomAsyncSocket::ReceiveStr() {
  int n = GetRcvdCount();
  if (n < 0) return std::string();
  if (n == 0) n = 255;
  std::string s(static_cast<size_t>(n), '\0');
  int got = Receive(s.data(), n);
  if (got <= 0) return std::string();
  s.resize(static_cast<size_t>(got));
  return s;
}

void TCustomAsyncSocket::ReceiveLoop(uint16_t error, bool honourNoReceiveLoop) {
  for (;;) {
    const uint64_t before = rawRecvCalls_;
    if (!TriggerDataAvailable(error)) {
      char drop[1024];
      int n = DoRecv(drop, sizeof drop, 0);
      if (n < 0 && WSAGetLastError() == WSAEWOULDBLOCK) break;
    }
    if (honourNoReceiveLoop && (options_ & wsoNoReceiveLoop)) break;
    if (!IsOpen() || error != 0) break;
    // A pass that consumed nothing would leave the bytes waiting for ever
    // and turn this loop into a spin.
    if (rawRecvCalls_ == before) break;
    // A read that got less than it asked for emptied the socket; bytes that
    // arrive later bring their own notification, so the count query is
    // spared.
    if (lastRecvDrained_ && !HasBufferedData()) break;
    if (GetRcvdCount() <= 0) break;
  }
}

// --- host lookups -----------------------------------------------------------

void TCustomAsyncSocket::DnsLookup(const std::string& hostName) {
  if (hostName.empty()) {
    // Raised first; the lookup-done event follows only when OnError took the
    // error instead, so a caller sees the failure once.
    RaiseException("DNS lookup: invalid host name.");
    TriggerDNSLookupDone(WSAEINVAL);
    return;
  }
  CancelDnsLookup();
  dnsResult_.clear();
  dnsResultList_.clear();
  if (IsDottedIp(hostName)) {
    dnsResult_ = AddrToText(dottedValue(hostName));
    TriggerDNSLookupDone(0);
    return;
  }
  dnsLookupHandle_ = WSAAsyncGetHostByName(hWnd_, WM_ASYNCGETHOSTBYNAME, hostName);
  if (dnsLookupHandle_ == 0)
    RaiseException(format("%s: can't start DNS lookup, error #%d", hostName, WSAGetLastError()));
}

void TCustomAsyncSocket::ReverseDnsLookup(const std::string& hostAddr) {
  if (hostAddr.empty() || hostAddr.size() > kMaxHostLen || !IsDottedIp(hostAddr)) {
    RaiseException("ReverseDnsLookup: Invalid host name.");
    TriggerDNSLookupDone(WSAEINVAL);
    return;
  }
  CancelDnsLookup();
  dnsResult_.clear();
  dnsResultList_.clear();
  dnsLookupHandle_ = WSAAsyncGetHostByAddr(hWnd_, WM_ASYNCGETHOSTBYADDR, dottedValue(hostAddr));
  if (dnsLookupHandle_ == 0)
    RaiseException(format("%s: can't start DNS lookup, error #%d", hostAddr, WSAGetLastError()));
}

void TCustomAsyncSocket::CancelDnsLookup() {
  if (dnsLookupHandle_ == 0) return;
  LookupHandle h = dnsLookupHandle_;
  dnsLookupHandle_ = 0;
  WSACancelAsyncRequest(h);
  if (!destroying_) TriggerDNSLookupDone(WSAEINTR);
}

void TCustomAsyncSocket::HandleLookupReply(const Message& msg, bool reverse) {
  auto result = TakeHostResult(msg.wParam);
  if (msg.wParam == 0 || msg.wParam != dnsLookupHandle_) return;  // cancelled or superseded
  dnsLookupHandle_ = 0;
  int err = WSAGETSELECTERROR(msg.lParam);
  if (err == 0 && result) {
    if (reverse) {
      if (!result->entries.empty()) {
        dnsResult_ = result->entries.front();
        dnsResultList_.assign(1, dnsResult_);
      }
    } else {
      dnsResultList_ = result->entries;
      if (!dnsResultList_.empty()) dnsResult_ = dnsResultList_.front();
    }
  }
  TriggerDNSLookupDone(static_cast<uint16_t>(err));
}

// --- address queries --------------------------------------------------------

int TCustomAsyncSocket::GetPeerName(SockAddrIn& name) {
  if (state_ != wsConnected) return -1;
  return platform::GetPeerName(hSocket_, &name);
}

std::string TCustomAsyncSocket::GetPeerAddr() {
  if (state_ != wsConnected) return "error";
  SockAddrIn a;
  if (platform::GetPeerName(hSocket_, &a) != 0) {
    SocketError("GetPeerName");
    return "error";
  }
  return AddrToText(a.addr);
}

std::string TCustomAsyncSocket::GetPeerPort() {
  if (state_ != wsConnected) return "error";
  SockAddrIn a;
  if (platform::GetPeerName(hSocket_, &a) != 0) {
    SocketError("GetPeerPort");
    return "error";
  }
  return std::to_string(a.port);
}

int TCustomAsyncSocket::GetSockName(SockAddrIn& name) {
  if (!IsOpen()) return -1;
  return platform::GetSockName(hSocket_, &name);
}

std::string TCustomAsyncSocket::GetBoundPort() {
  if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
  SockAddrIn a;
  if (platform::GetSockName(hSocket_, &a) != 0) return "error";
  return std::to_string(a.port);
}

std::string TCustomAsyncSocket::GetBoundAddr() {
  if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
  SockAddrIn a;
  if (platform::GetSockName(hSocket_, &a) != 0) return "error";
  return AddrToText(a.addr);
}

// --- messages ---------------------------------------------------------------

LRESULT TCustomAsyncSocket::WndProc(const Message& msg) {
  switch (msg.msg) {
    case WM_ASYNCSELECT:
    case WM_ASYNCGETHOSTBYNAME:
    case WM_ASYNCGETHOSTBYADDR:
    case WM_CLOSE_DELAYED:
    case WM_WSOCKET_RELEASE:
    case WM_TRIGGER_EXCEPTION:
      DispatchSafely(msg);
      return 0;
    default:
      return 0;
  }
}

void TCustomAsyncSocket::DispatchSafely(const Message& msg) {
  try {
    switch (msg.msg) {
      case WM_ASYNCSELECT:
        HandleSelectMessage(msg);
        break;
      case WM_ASYNCGETHOSTBYNAME:
        HandleLookupReply(msg, false);
        break;
      case WM_ASYNCGETHOSTBYADDR:
        HandleLookupReply(msg, true);
        break;
      case WM_CLOSE_DELAYED:
        Close();
        break;
      case WM_WSOCKET_RELEASE:
        // The owner holds the component; releasing leaves it closed and inert.
        destroying_ = true;
        Abort();
        destroying_ = false;
        break;
      case WM_TRIGGER_EXCEPTION:
        throw ESocketException("Test exception in AsyncSocket");
    }
  } catch (const std::exception& e) {
    HandleBackGroundException(e);
  }
}

void TCustomAsyncSocket::HandleBackGroundException(const std::exception& e) {
  bool canClose = true;
  if (OnBgException) {
    try {
      OnBgException(this, e, canClose);
    } catch (...) {
      canClose = true;
    }
  }
  if (canClose) {
    try {
      Abort();
    } catch (...) {
      // Nothing is left to report to.
    }
  }
}

void TCustomAsyncSocket::HandleSelectMessage(const Message& msg) {
  // A message for an earlier connection on a reused descriptor is stale.
  if (!IsOpen() || msg.wParam != token_ || paused_) return;
  const int event = WSAGETSELECTEVENT(msg.lParam);
  const auto error = static_cast<uint16_t>(WSAGETSELECTERROR(msg.lParam));
  const WPARAM token = token_;
  if (event & FD_CONNECT) {
    if (state_ != wsConnected) {
      ChangeState(wsConnected);
      TriggerSessionConnected(error);
      if (error != 0 && state_ != wsClosed && token == token_) Close();
    }
  }
  if ((event & FD_READ) && token == token_) {
    if (state_ != wsConnected) {
      ChangeState(wsConnected);
      TriggerSessionConnected(error);
    }
    ReceiveLoop(error, true);
  }
  if ((event & FD_WRITE) && token == token_) {
    TryToSend();
    if (allSent_ && token == token_) TriggerDataSent(error);
  }
  if ((event & FD_ACCEPT) && token == token_) TriggerSessionAvailable(error);
  if ((event & FD_CLOSE) && token == token_ && state_ != wsConnecting) {
    ReceiveLoop(0, false);
    if (token == token_) {
      if (!closeInvoked_) {
        closeInvoked_ = true;
        TriggerSessionClosed(error);
      }
      if (state_ != wsClosed) Close();
    }
  }
}

// --- triggers ---------------------------------------------------------------

bool TCustomAsyncSocket::TriggerDataAvailable(uint16_t error) {
  if (!OnDataAvailable) return false;
  OnDataAvailable(this, error);
  return true;
}
void TCustomAsyncSocket::TriggerSessionAvailable(uint16_t error) {
  if (OnSessionAvailable) OnSessionAvailable(this, error);
}
void TCustomAsyncSocket::TriggerSessionConnected(uint16_t error) {
  if (OnSessionConnected) OnSessionConnected(this, error);
}
void TCustomAsyncSocket::TriggerSessionClosed(uint16_t error) {
  if (OnSessionClosed) OnSessionClosed(this, error);
}
void TCustomAsyncSocket::TriggerDataSent(uint16_t error) {
  if (OnDataSent) OnDataSent(this, error);
}
void TCustomAsyncSocket::TriggerChangeState(TSocketState oldState, TSocketState newState) {
  if (OnChangeState) OnChangeState(this, oldState, newState);
}
void TCustomAsyncSocket::TriggerDNSLookupDone(uint16_t error) {
  if (OnDnsLookupDone) OnDnsLookupDone(this, error);
}
void TCustomAsyncSocket::TriggerError() {
  if (OnError) OnError(this);
}

}  // namespace zirk
