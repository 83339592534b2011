// The socket calls and the readiness emulation behind WSAAsyncSelect: a
// table of the open sockets with WinSock's re-enabling flags, fed by the
// owner thread's descriptor wait. Lookups live in hostlookup.cpp, error
// numbers and texts in socketerrors.cpp.

#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace zirk::platform {

namespace {

thread_local int tlsLastError = 0;

int fail(int code) {
  tlsLastError = code;
  return SOCKET_ERROR;
}
int failErrno() {
  return fail(WinsockErrorFromErrno(errno));
}

sockaddr_in toSockaddr(const SockAddrIn& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(a.port);
  sa.sin_addr.s_addr = htonl(a.addr);
  return sa;
}
SockAddrIn fromSockaddr(const sockaddr_in& sa) {
  return SockAddrIn{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

// ---------------------------------------------------------------------------
// Select emulation.

enum class Phase { Fresh, Connecting, Connected, Listening, Datagram };

struct SelectState {
  uint32_t generation = 0;
  bool stream = true;
  Phase phase = Phase::Fresh;
  HWND wnd = 0;
  uint32_t msg = 0;
  long mask = 0;
  std::thread::id owner;
  // WinSock's re-enabling flags: a message for the event may be posted.
  bool readArmed = false;
  bool writeArmed = false;
  bool acceptArmed = false;
  bool closeArmed = false;
  short registered = -1;  // events last given to the queue; -1 none
};

class SelectTable {
 public:
  std::mutex mutex;
  std::unordered_map<int, SelectState> sockets;
  std::atomic<uint32_t> nextGeneration{0};

  WPARAM token(int fd, const SelectState& st) const {
    return (static_cast<WPARAM>(st.generation) << 32) | static_cast<uint32_t>(fd);
  }
};

SelectTable& table() {
  static SelectTable t;
  return t;
}

short wantedEvents(const SelectState& st) {
  if (st.mask == 0 || st.wnd == 0) return 0;
  short ev = 0;
  switch (st.phase) {
    case Phase::Fresh:
      break;
    case Phase::Connecting:
      ev = POLLOUT;
      break;
    case Phase::Listening:
      if (st.acceptArmed && (st.mask & FD_ACCEPT)) ev |= POLLIN;
      break;
    case Phase::Connected:
    case Phase::Datagram:
      if (st.readArmed && (st.mask & FD_READ)) ev |= POLLIN;
      if (st.closeArmed && (st.mask & FD_CLOSE)) ev |= POLLRDHUP;
      if (st.writeArmed && (st.mask & FD_WRITE)) ev |= POLLOUT;
      break;
  }
  return ev;
}

void onReady(int fd, short revents);

// Hands the socket's current interest to the owner thread's wait. Only the
// owner may touch its queue's registrations; another thread's change is
// picked up at the owner's next readiness callback.
void rearm(int fd, SelectState& st) {
  if (st.owner != std::this_thread::get_id()) return;
  short ev = wantedEvents(st);
  if (ev == st.registered) return;
  st.registered = ev;
  if (ev == 0)
    UnregisterFd(fd);
  else
    RegisterFd(fd, ev, [](int f, short r) { onReady(f, r); });
}

void post(int fd, const SelectState& st, long event, int error) {
  if (!(st.mask & event)) return;
  PostMessage(st.wnd, st.msg, table().token(fd, st), WSAMAKESELECTREPLY(event, error));
}

int pendingSocketError(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return WinsockErrorFromErrno(errno);
  return err ? WinsockErrorFromErrno(err) : 0;
}

void onReady(int fd, short revents) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  auto it = t.sockets.find(fd);
  if (it == t.sockets.end()) {
    UnregisterFd(fd);
    return;
  }
  SelectState& st = it->second;
  switch (st.phase) {
    case Phase::Fresh:
      break;
    case Phase::Connecting:
      if (revents & (POLLOUT | POLLERR | POLLHUP)) {
        int err = pendingSocketError(fd);
        if (err == 0 && (revents & (POLLERR | POLLHUP))) err = WSAECONNREFUSED;
        if (err) {
          // A failed connect reports FD_CONNECT with the error and nothing else.
          st.phase = Phase::Fresh;
          post(fd, st, FD_CONNECT, err);
        } else {
          st.phase = Phase::Connected;
          st.readArmed = st.closeArmed = true;
          st.writeArmed = false;
          post(fd, st, FD_CONNECT, 0);
          post(fd, st, FD_WRITE, 0);
        }
      }
      break;
    case Phase::Listening:
      if ((revents & POLLIN) && st.acceptArmed) {
        st.acceptArmed = false;
        post(fd, st, FD_ACCEPT, 0);
      }
      break;
    case Phase::Datagram:
      if ((revents & POLLIN) && st.readArmed) {
        st.readArmed = false;
        post(fd, st, FD_READ, 0);
      }
      if ((revents & POLLOUT) && st.writeArmed) {
        st.writeArmed = false;
        post(fd, st, FD_WRITE, 0);
      }
      break;
    case Phase::Connected: {
      // Plain POLLIN means bytes are waiting; only an end of stream alongside
      // needs the count to tell the two apart.
      int waiting = 1;
      if (!(revents & POLLIN) || (revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        waiting = 0;
        if (ioctl(fd, FIONREAD, &waiting) < 0) waiting = 0;
      }
      if ((revents & POLLIN) && st.readArmed) {
        if (waiting > 0) {
          st.readArmed = false;
          post(fd, st, FD_READ, 0);
        } else if (!st.closeArmed) {
          st.readArmed = false;  // end of stream already announced
        }
      }
      if (st.closeArmed && (revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) && waiting == 0) {
        char probe;
        ssize_t n = recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        int err = 0;
        bool closed = false;
        if (n == 0) {
          closed = true;
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
          closed = true;
          err = WinsockErrorFromErrno(errno);
        } else if (revents & POLLERR) {
          err = pendingSocketError(fd);
          closed = err != 0;
        }
        if (closed) {
          st.closeArmed = false;
          st.readArmed = false;
          if (err == WSAETIMEDOUT || err == WSAECONNRESET || err == 0) {
            post(fd, st, FD_CLOSE, err);
          } else {
            post(fd, st, FD_CLOSE, WSAECONNRESET);
          }
        }
      } else if (st.closeArmed && (revents & (POLLRDHUP | POLLHUP))) {
        // The peer has finished while bytes are still unread: WinSock
        // announces the close too; the handler reads the rest first.
        st.closeArmed = false;
        post(fd, st, FD_CLOSE, (revents & POLLERR) ? pendingSocketError(fd) : 0);
      }
      if ((revents & POLLOUT) && st.writeArmed) {
        st.writeArmed = false;
        post(fd, st, FD_WRITE, 0);
      }
      break;
    }
  }
  rearm(fd, st);
}

SelectState* find(int fd) {
  auto& t = table();
  auto it = t.sockets.find(fd);
  return it == t.sockets.end() ? nullptr : &it->second;
}

void track(int fd, bool stream, Phase phase) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  SelectState st;
  st.generation = ++t.nextGeneration;
  st.stream = stream;
  st.phase = phase;
  t.sockets[fd] = st;
}

}  // namespace

int WSAGetLastError() {
  return tlsLastError;
}
void WSASetLastError(int code) {
  tlsLastError = code;
}

SOCKET Socket(int type, int protocol) {
  const bool stream = type != SOCK_DGRAM_WS;
  int fd = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    protocol);
  if (fd < 0) return failErrno();
  track(fd, stream, stream ? Phase::Fresh : Phase::Datagram);
  return fd;
}

int Bind(SOCKET s, const SockAddrIn& addr) {
  sockaddr_in sa = toSockaddr(addr);
  if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) return failErrno();
  return 0;
}

int Listen(SOCKET s, int backlog) {
  if (::listen(s, backlog) < 0) return failErrno();
  auto& t = table();
  std::lock_guard lock(t.mutex);
  if (SelectState* st = find(s)) {
    st->phase = Phase::Listening;
    st->acceptArmed = true;
    rearm(s, *st);
  }
  return 0;
}

SOCKET Accept(SOCKET s, SockAddrIn* from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd = ::accept4(s, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  const int err = errno;
  {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    if (SelectState* st = find(s)) {
      st->acceptArmed = true;
      rearm(s, *st);
    }
  }
  if (fd < 0) return fail(WinsockErrorFromErrno(err));
  if (from) *from = fromSockaddr(sa);
  track(fd, true, Phase::Connected);
  return fd;
}

int Connect(SOCKET s, const SockAddrIn& addr) {
  sockaddr_in sa = toSockaddr(addr);
  int rc;
  do {
    rc = ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 && errno != EINPROGRESS) return failErrno();
  auto& t = table();
  std::lock_guard lock(t.mutex);
  SelectState* st = find(s);
  if (st && st->stream) {
    // Even an immediate success is reported through FD_CONNECT, as WinSock does.
    st->phase = Phase::Connecting;
    rearm(s, *st);
    return fail(WSAEWOULDBLOCK);
  }
  return rc < 0 ? fail(WSAEWOULDBLOCK) : 0;
}

namespace {
int sendFlags(int flags) {
  return MSG_NOSIGNAL | ((flags & 1) ? MSG_OOB : 0);
}

void armWriteAfterBlock(SOCKET s) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  if (SelectState* st = find(s)) {
    st->writeArmed = true;
    rearm(s, *st);
  }
}

void armReadAfterRecv(SOCKET s) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  if (SelectState* st = find(s)) {
    if (!st->readArmed && (st->closeArmed || st->phase == Phase::Datagram)) {
      st->readArmed = true;
      rearm(s, *st);
    }
  }
}

template <typename Call>
int sendCommon(SOCKET s, int len, Call call) {
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) armWriteAfterBlock(s);
    return fail(WinsockErrorFromErrno(err));
  }
  // A short write means the buffer is full just as a refused one does; the
  // caller waits for FD_WRITE either way.
  if (n < len) armWriteAfterBlock(s);
  return static_cast<int>(n);
}

template <typename Call>
int recvCommon(SOCKET s, Call call) {
  ssize_t n;
  do {
    n = call();
  } while (n < 0 && errno == EINTR);
  const int err = errno;
  armReadAfterRecv(s);
  if (n < 0) return fail(WinsockErrorFromErrno(err));
  return static_cast<int>(n);
}
}  // namespace

int Send(SOCKET s, const void* data, int len, int flags) {
  if (len < 0) return fail(WSAEINVAL);
  return sendCommon(s, len,
                    [&] { return ::send(s, data, static_cast<size_t>(len), sendFlags(flags)); });
}

int SendTo(SOCKET s, const void* data, int len, int flags, const SockAddrIn& to) {
  if (len < 0) return fail(WSAEINVAL);
  sockaddr_in sa = toSockaddr(to);
  return sendCommon(s, len, [&] {
    return ::sendto(s, data, static_cast<size_t>(len), sendFlags(flags),
                    reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  });
}

int Recv(SOCKET s, void* data, int len, int flags) {
  if (len < 0) return fail(WSAEINVAL);
  return recvCommon(s, [&] {
    return ::recv(s, data, static_cast<size_t>(len), MSG_DONTWAIT | ((flags & 1) ? MSG_OOB : 0));
  });
}

int RecvFrom(SOCKET s, void* data, int len, int flags, SockAddrIn* from) {
  if (len < 0) return fail(WSAEINVAL);
  sockaddr_in sa{};
  socklen_t slen = sizeof sa;
  int n = recvCommon(s, [&] {
    return ::recvfrom(s, data, static_cast<size_t>(len), MSG_DONTWAIT | ((flags & 1) ? MSG_OOB : 0),
                      reinterpret_cast<sockaddr*>(&sa), &slen);
  });
  if (n >= 0 && from) *from = fromSockaddr(sa);
  return n;
}

int CloseSocket(SOCKET s) {
  {
    auto& t = table();
    std::lock_guard lock(t.mutex);
    auto it = t.sockets.find(s);
    if (it != t.sockets.end()) {
      if (it->second.registered > 0 && it->second.owner == std::this_thread::get_id())
        UnregisterFd(s);
      t.sockets.erase(it);
    }
  }
  // Never retried on EINTR: the descriptor is gone either way on Linux.
  if (::close(s) < 0 && errno != EINTR) return failErrno();
  return 0;
}

int Shutdown(SOCKET s, int how) {
  int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(s, h) < 0) return failErrno();
  return 0;
}

int BytesAvailable(SOCKET s) {
  int n = 0;
  if (ioctl(s, FIONREAD, &n) < 0) return failErrno();
  return n;
}

int GetSockName(SOCKET s, SockAddrIn* addr) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return failErrno();
  if (addr) *addr = fromSockaddr(sa);
  return 0;
}

int GetPeerName(SOCKET s, SockAddrIn* addr) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&sa), &len) < 0) return failErrno();
  if (addr) *addr = fromSockaddr(sa);
  return 0;
}

int SetSockOpt(SOCKET s, SockOpt option, int value) {
  int level = SOL_SOCKET, name = 0;
  int v = value ? 1 : 0;
  switch (option) {
    case SockOpt::ReuseAddr:
      name = SO_REUSEADDR;
      break;
    case SockOpt::KeepAlive:
      name = SO_KEEPALIVE;
      break;
    case SockOpt::Broadcast:
      name = SO_BROADCAST;
      break;
    case SockOpt::TcpNoDelay:
      level = IPPROTO_TCP;
      name = TCP_NODELAY;
      break;
    case SockOpt::MulticastTtl:
      level = IPPROTO_IP;
      name = IP_MULTICAST_TTL;
      v = value;
      break;
  }
  if (setsockopt(s, level, name, &v, sizeof v) < 0) return failErrno();
  return 0;
}

int SetLinger(SOCKET s, bool on, int seconds) {
  linger l{on ? 1 : 0, seconds};
  if (setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0) return failErrno();
  return 0;
}

int AddMembership(SOCKET s, uint32_t group) {
  ip_mreq m{};
  m.imr_multiaddr.s_addr = htonl(group);
  m.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) < 0) return failErrno();
  return 0;
}

int WSAAsyncSelect(SOCKET s, HWND wnd, uint32_t msg, long mask) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  SelectState* st = find(s);
  if (!st) return fail(WSAENOTSOCK);
  if (st->registered > 0 && st->owner != std::this_thread::get_id()) return fail(WSAEINVAL);
  st->owner = std::this_thread::get_id();
  st->wnd = wnd;
  st->msg = msg;
  st->mask = mask;
  // Re-selecting re-enables every event, as WinSock does.
  st->readArmed = st->writeArmed = st->acceptArmed = true;
  if (st->phase == Phase::Connected || st->phase == Phase::Fresh) st->closeArmed = true;
  rearm(s, *st);
  return 0;
}

WPARAM SocketToken(SOCKET s) {
  auto& t = table();
  std::lock_guard lock(t.mutex);
  SelectState* st = find(s);
  return st ? t.token(s, *st) : 0;
}

}  // namespace zirk::platform
