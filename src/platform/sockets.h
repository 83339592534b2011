#pragma once
// Stand-in for the WinSock 1.1 services the socket component is written
// against: BSD calls that report WinSock error numbers through
// WSAGetLastError, readiness delivered as posted window messages with
// WSAAsyncSelect's rules, and host lookups run on worker threads whose
// results are posted back and fetched by request handle.
//
// Readiness follows WinSock's re-enabling rules rather than poll's levels:
// FD_READ is posted once and re-armed by the next recv, FD_WRITE once after
// the connection is made and afterwards only when a send would have blocked,
// FD_CONNECT and FD_CLOSE once per connection. At most one message per
// event is pending, so a writable socket never floods the queue.
//
// Descriptors are reused by the kernel at once; every select message carries
// a token (descriptor and generation) so that a message queued for a closed
// connection is recognised as stale by whoever owns the new one.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace zirk::platform {

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// WinSock error numbers. Only these are ever reported by this layer, except
// for an errno without a WinSock equivalent, which is passed through.
enum : int {
  WSAEINTR = 10004,
  WSAEBADF = 10009,
  WSAEACCES = 10013,
  WSAEFAULT = 10014,
  WSAEINVAL = 10022,
  WSAEMFILE = 10024,
  WSAEWOULDBLOCK = 10035,
  WSAEINPROGRESS = 10036,
  WSAEALREADY = 10037,
  WSAENOTSOCK = 10038,
  WSAEDESTADDRREQ = 10039,
  WSAEMSGSIZE = 10040,
  WSAEPROTOTYPE = 10041,
  WSAENOPROTOOPT = 10042,
  WSAEPROTONOSUPPORT = 10043,
  WSAESOCKTNOSUPPORT = 10044,
  WSAEOPNOTSUPP = 10045,
  WSAEPFNOSUPPORT = 10046,
  WSAEAFNOSUPPORT = 10047,
  WSAEADDRINUSE = 10048,
  WSAEADDRNOTAVAIL = 10049,
  WSAENETDOWN = 10050,
  WSAENETUNREACH = 10051,
  WSAENETRESET = 10052,
  WSAECONNABORTED = 10053,
  WSAECONNRESET = 10054,
  WSAENOBUFS = 10055,
  WSAEISCONN = 10056,
  WSAENOTCONN = 10057,
  WSAESHUTDOWN = 10058,
  WSAETOOMANYREFS = 10059,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAELOOP = 10062,
  WSAENAMETOOLONG = 10063,
  WSAEHOSTDOWN = 10064,
  WSAEHOSTUNREACH = 10065,
  WSAENOTEMPTY = 10066,
  WSAEPROCLIM = 10067,
  WSAEUSERS = 10068,
  WSAEDQUOT = 10069,
  WSAESTALE = 10070,
  WSAEREMOTE = 10071,
  WSASYSNOTREADY = 10091,
  WSAVERNOTSUPPORTED = 10092,
  WSANOTINITIALISED = 10093,
  WSAHOST_NOT_FOUND = 11001,
  WSATRY_AGAIN = 11002,
  WSANO_RECOVERY = 11003,
  WSANO_DATA = 11004,
};

// Select event bits (low word of a select message's lParam).
enum : long {
  FD_READ = 1,
  FD_WRITE = 2,
  FD_OOB = 4,
  FD_ACCEPT = 8,
  FD_CONNECT = 16,
  FD_CLOSE = 32,
};

constexpr int AF_INET_WS = 2;
constexpr int SOCK_STREAM_WS = 1;
constexpr int SOCK_DGRAM_WS = 2;
constexpr int IPPROTO_TCP_WS = 6;
constexpr int IPPROTO_UDP_WS = 17;

constexpr LPARAM WSAMAKESELECTREPLY(int event, int error) {
  return static_cast<LPARAM>((static_cast<uint32_t>(error & 0xFFFF) << 16) | (event & 0xFFFF));
}
constexpr int WSAGETSELECTEVENT(LPARAM l) {
  return static_cast<int>(l & 0xFFFF);
}
constexpr int WSAGETSELECTERROR(LPARAM l) {
  return static_cast<int>((l >> 16) & 0xFFFF);
}

// The calling thread's last error, as WinSock keeps it.
int WSAGetLastError();
void WSASetLastError(int code);

// The text WinSock's own tools print for an error number.
std::string SocketErrorText(int code);
// errno and getaddrinfo codes in WinSock's numbering.
int WinsockErrorFromErrno(int err);
int WinsockErrorFromGai(int gaiCode);

// An IPv4 socket address; the address and port are in host order.
struct SockAddrIn {
  uint32_t addr = 0;
  uint16_t port = 0;
};

// Dotted text of a host-order address.
std::string AddrToText(uint32_t addr);
// inet_addr's reading of an address: one to four parts, each decimal, octal
// (leading 0) or hexadecimal (leading 0x), the last filling the bytes left,
// so "127.1" is 127.0.0.1. False for text it cannot read; the host-order
// address goes to *addr.
bool InetAddr(const std::string& text, uint32_t* addr);

// The socket calls. Descriptors are non-blocking and close-on-exec; every
// failure returns SOCKET_ERROR (or INVALID_SOCKET) and sets WSAGetLastError.
SOCKET Socket(int type, int protocol);
int Bind(SOCKET s, const SockAddrIn& addr);
int Listen(SOCKET s, int backlog);
SOCKET Accept(SOCKET s, SockAddrIn* from);
// WSAEWOULDBLOCK when the connection is on its way, as WinSock reports it.
int Connect(SOCKET s, const SockAddrIn& addr);
int Send(SOCKET s, const void* data, int len, int flags);
int SendTo(SOCKET s, const void* data, int len, int flags, const SockAddrIn& to);
int Recv(SOCKET s, void* data, int len, int flags);
int RecvFrom(SOCKET s, void* data, int len, int flags, SockAddrIn* from);
int CloseSocket(SOCKET s);
int Shutdown(SOCKET s, int how);  // 0 receive, 1 send, 2 both
// FIONREAD: bytes waiting, or SOCKET_ERROR.
int BytesAvailable(SOCKET s);
int GetSockName(SOCKET s, SockAddrIn* addr);
int GetPeerName(SOCKET s, SockAddrIn* addr);

// Options by their WinSock names, since the numbers differ from Linux.
enum class SockOpt {
  ReuseAddr,
  KeepAlive,
  Broadcast,
  TcpNoDelay,
  MulticastTtl,
};
int SetSockOpt(SOCKET s, SockOpt option, int value);
int SetLinger(SOCKET s, bool on, int seconds);
// Joins a multicast group on any interface (host-order group address).
int AddMembership(SOCKET s, uint32_t group);

// Select emulation. Events for the socket are posted to the window with the
// given message number: wParam is the socket's token, lParam the event and
// error as WSAMAKESELECTREPLY builds them. A mask of 0 stops notifications.
// Must be called on the thread that owns the window.
int WSAAsyncSelect(SOCKET s, HWND wnd, uint32_t msg, long mask);
// The token select messages carry for the socket's current connection;
// 0 for a socket that is not open.
WPARAM SocketToken(SOCKET s);

// Host lookups on worker threads. The handle is valid before the lookup
// runs; the reply is posted as (wParam = handle, lParam high word = error)
// and its addresses or names are then fetched once with TakeHostResult.
struct HostResult {
  int error = 0;
  std::vector<std::string> entries;  // dotted addresses, or the host name
};
using LookupHandle = uint64_t;
LookupHandle WSAAsyncGetHostByName(HWND wnd, uint32_t msg, const std::string& host);
LookupHandle WSAAsyncGetHostByAddr(HWND wnd, uint32_t msg, uint32_t addr);
// A cancelled request posts nothing and its result is dropped.
int WSACancelAsyncRequest(LookupHandle handle);
std::optional<HostResult> TakeHostResult(LookupHandle handle);

// Blocking lookups for the paths that resolve on the spot; 0 or a WinSock
// error.
int GetHostByName(const std::string& host, uint32_t* addr);
int GetServByName(const std::string& name, const std::string& proto, uint16_t* port);
int GetProtoByName(const std::string& name, int* proto);

}  // namespace zirk::platform
