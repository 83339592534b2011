#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
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

// ---------------------------------------------------------------------------
// Host lookups.

int lookupByName(const std::string& host, std::vector<std::string>* dotted, uint32_t* first) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
  if (rc != 0) return WinsockErrorFromGai(rc);
  bool any = false;
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family != AF_INET) continue;
    uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr.s_addr);
    if (!any && first) *first = a;
    if (dotted) {
      std::string text = AddrToText(a);
      bool seen = false;
      for (const auto& d : *dotted) seen = seen || d == text;
      if (!seen) dotted->push_back(text);
    }
    any = true;
  }
  freeaddrinfo(res);
  return any ? 0 : WSANO_DATA;
}

class Resolver {
 public:
  ~Resolver() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_) t.join();
  }

  LookupHandle submit(HWND wnd, uint32_t msg, bool byName, std::string host, uint32_t addr) {
    std::lock_guard lock(mutex_);
    if (threads_.empty())
      for (int i = 0; i < 2; ++i) threads_.emplace_back([this] { run(); });
    LookupHandle h = ++lastHandle_;
    live_[h] = true;
    jobs_.push_back(Job{h, wnd, msg, byName, std::move(host), addr});
    cv_.notify_one();
    return h;
  }

  int cancel(LookupHandle h) {
    std::lock_guard lock(mutex_);
    bool known = live_.erase(h) > 0;
    known = results_.erase(h) > 0 || known;
    return known ? 0 : fail(WSAEINVAL);
  }

  std::optional<HostResult> take(LookupHandle h) {
    std::lock_guard lock(mutex_);
    auto it = results_.find(h);
    if (it == results_.end()) return std::nullopt;
    HostResult r = std::move(it->second);
    results_.erase(it);
    return r;
  }

 private:
  struct Job {
    LookupHandle handle;
    HWND wnd;
    uint32_t msg;
    bool byName;
    std::string host;
    uint32_t addr;
  };

  void run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
        if (!live_.count(job.handle)) continue;
      }
      HostResult r;
      if (job.byName) {
        r.error = lookupByName(job.host, &r.entries, nullptr);
      } else {
        sockaddr_in sa = toSockaddr(SockAddrIn{job.addr, 0});
        char name[NI_MAXHOST];
        int rc = getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, name, sizeof name,
                             nullptr, 0, NI_NAMEREQD);
        if (rc == 0)
          r.entries.emplace_back(name);
        else
          r.error = WinsockErrorFromGai(rc);
      }
      std::lock_guard lock(mutex_);
      if (!live_.erase(job.handle)) continue;  // cancelled meanwhile
      const int error = r.error;
      results_[job.handle] = std::move(r);
      if (!PostMessage(job.wnd, job.msg, job.handle, WSAMAKESELECTREPLY(0, error)))
        results_.erase(job.handle);
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Job> jobs_;
  std::map<LookupHandle, bool> live_;
  std::map<LookupHandle, HostResult> results_;
  std::vector<std::thread> threads_;
  LookupHandle lastHandle_ = 0;
  bool stop_ = false;
};

Resolver& resolver() {
  static Resolver r;
  return r;
}

}  // namespace

int WSAGetLastError() {
  return tlsLastError;
}
void WSASetLastError(int code) {
  tlsLastError = code;
}

std::string SocketErrorText(int code) {
  switch (code) {
    case 0:
      return "No Error";
    case WSAEINTR:
      return "Interrupted system call";
    case WSAEBADF:
      return "Bad file number";
    case WSAEACCES:
      return "Permission denied";
    case WSAEFAULT:
      return "Bad address";
    case WSAEINVAL:
      return "Invalid argument";
    case WSAEMFILE:
      return "Too many open files";
    case WSAEWOULDBLOCK:
      return "Operation would block";
    case WSAEINPROGRESS:
      return "Operation now in progress";
    case WSAEALREADY:
      return "Operation already in progress";
    case WSAENOTSOCK:
      return "Socket operation on non-socket";
    case WSAEDESTADDRREQ:
      return "Destination address required";
    case WSAEMSGSIZE:
      return "Message too long";
    case WSAEPROTOTYPE:
      return "Protocol wrong type for socket";
    case WSAENOPROTOOPT:
      return "Protocol not available";
    case WSAEPROTONOSUPPORT:
      return "Protocol not supported";
    case WSAESOCKTNOSUPPORT:
      return "Socket type not supported";
    case WSAEOPNOTSUPP:
      return "Operation not supported on socket";
    case WSAEPFNOSUPPORT:
      return "Protocol family not supported";
    case WSAEAFNOSUPPORT:
      return "Address family not supported by protocol family";
    case WSAEADDRINUSE:
      return "Address already in use";
    case WSAEADDRNOTAVAIL:
      return "Address not available";
    case WSAENETDOWN:
      return "Network is down";
    case WSAENETUNREACH:
      return "Network is unreachable";
    case WSAENETRESET:
      return "Network dropped connection on reset";
    case WSAECONNABORTED:
      return "Connection aborted";
    case WSAECONNRESET:
      return "Connection reset by peer";
    case WSAENOBUFS:
      return "No buffer space available";
    case WSAEISCONN:
      return "Socket is already connected";
    case WSAENOTCONN:
      return "Socket is not connected";
    case WSAESHUTDOWN:
      return "Can't send after socket shutdown";
    case WSAETOOMANYREFS:
      return "Too many references: can't splice";
    case WSAETIMEDOUT:
      return "Connection timed out";
    case WSAECONNREFUSED:
      return "Connection refused";
    case WSAELOOP:
      return "Too many levels of symbolic links";
    case WSAENAMETOOLONG:
      return "File name too long";
    case WSAEHOSTDOWN:
      return "Host is down";
    case WSAEHOSTUNREACH:
      return "No route to host";
    case WSAENOTEMPTY:
      return "Directory not empty";
    case WSAEPROCLIM:
      return "Too many processes";
    case WSAEUSERS:
      return "Too many users";
    case WSAEDQUOT:
      return "Disc quota exceeded";
    case WSAESTALE:
      return "Stale NFS file handle";
    case WSAEREMOTE:
      return "Too many levels of remote in path";
    case WSASYSNOTREADY:
      return "Network sub-system is unusable";
    case WSAVERNOTSUPPORTED:
      return "WinSock DLL cannot support this application";
    case WSANOTINITIALISED:
      return "WinSock not initialized";
    case WSAHOST_NOT_FOUND:
      return "Host not found";
    case WSATRY_AGAIN:
      return "Non-authoritative host not found";
    case WSANO_RECOVERY:
      return "Non-recoverable error";
    case WSANO_DATA:
      return "No Data";
    default:
      return "Not a WinSock error";
  }
}

int WinsockErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case EINTR:
      return WSAEINTR;
    case EBADF:
      return WSAEBADF;
    case EACCES:
      return WSAEACCES;
    case EFAULT:
      return WSAEFAULT;
    case EINVAL:
      return WSAEINVAL;
    case EMFILE:
      return WSAEMFILE;
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EINPROGRESS:
      return WSAEINPROGRESS;
    case EALREADY:
      return WSAEALREADY;
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EDESTADDRREQ:
      return WSAEDESTADDRREQ;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EPROTOTYPE:
      return WSAEPROTOTYPE;
    case ENOPROTOOPT:
      return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
      return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
      return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
      return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
      return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
      return WSAEAFNOSUPPORT;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ENETDOWN:
      return WSAENETDOWN;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ENETRESET:
      return WSAENETRESET;
    case ECONNABORTED:
      return WSAECONNABORTED;
    case ECONNRESET:
      return WSAECONNRESET;
    // A send after the peer reset is a reset, so the drain closes quietly.
    case EPIPE:
      return WSAECONNRESET;
    case ENOBUFS:
      return WSAENOBUFS;
    case ENOMEM:
      return WSAENOBUFS;
    case EISCONN:
      return WSAEISCONN;
    case ENOTCONN:
      return WSAENOTCONN;
    case ESHUTDOWN:
      return WSAESHUTDOWN;
    case ETOOMANYREFS:
      return WSAETOOMANYREFS;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case ELOOP:
      return WSAELOOP;
    case ENAMETOOLONG:
      return WSAENAMETOOLONG;
    case EHOSTDOWN:
      return WSAEHOSTDOWN;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    case ENOTEMPTY:
      return WSAENOTEMPTY;
    case EUSERS:
      return WSAEUSERS;
    case EDQUOT:
      return WSAEDQUOT;
    case ESTALE:
      return WSAESTALE;
    case EREMOTE:
      return WSAEREMOTE;
    default:
      return err;
  }
}

int WinsockErrorFromGai(int gaiCode) {
  switch (gaiCode) {
    case 0:
      return 0;
    case EAI_NONAME:
      return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
      return WSATRY_AGAIN;
    case EAI_FAIL:
      return WSANO_RECOVERY;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return WSANO_DATA;
#endif
    case EAI_MEMORY:
      return WSAENOBUFS;
    case EAI_SYSTEM:
      return WinsockErrorFromErrno(errno);
    default:
      return WSANO_RECOVERY;
  }
}

std::string AddrToText(uint32_t addr) {
  return std::to_string(addr >> 24) + "." + std::to_string((addr >> 16) & 255) + "." +
         std::to_string((addr >> 8) & 255) + "." + std::to_string(addr & 255);
}

bool InetAddr(const std::string& text, uint32_t* addr) {
  in_addr a{};
  if (text.find('\0') != std::string::npos || inet_aton(text.c_str(), &a) == 0) return false;
  *addr = ntohl(a.s_addr);
  return true;
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

LookupHandle WSAAsyncGetHostByName(HWND wnd, uint32_t msg, const std::string& host) {
  return resolver().submit(wnd, msg, true, host, 0);
}

LookupHandle WSAAsyncGetHostByAddr(HWND wnd, uint32_t msg, uint32_t addr) {
  return resolver().submit(wnd, msg, false, std::string(), addr);
}

int WSACancelAsyncRequest(LookupHandle handle) {
  return resolver().cancel(handle);
}

std::optional<HostResult> TakeHostResult(LookupHandle handle) {
  return resolver().take(handle);
}

int GetHostByName(const std::string& host, uint32_t* addr) {
  int err = lookupByName(host, nullptr, addr);
  if (err) tlsLastError = err;
  return err;
}

int GetServByName(const std::string& name, const std::string& proto, uint16_t* port) {
  servent se{}, *res = nullptr;
  char buf[1024];
  if (getservbyname_r(name.c_str(), proto.c_str(), &se, buf, sizeof buf, &res) == 0 && res) {
    *port = ntohs(static_cast<uint16_t>(res->s_port));
    return 0;
  }
  // A minimal system may lack /etc/services; the web's port is known anyway.
  if (name == "http" || name == "www") {
    *port = 80;
    return 0;
  }
  tlsLastError = WSANO_DATA;
  return WSANO_DATA;
}

int GetProtoByName(const std::string& name, int* proto) {
  protoent pe{}, *res = nullptr;
  char buf[1024];
  if (getprotobyname_r(name.c_str(), &pe, buf, sizeof buf, &res) == 0 && res) {
    *proto = res->p_proto;
    return 0;
  }
  // A minimal system may lack /etc/protocols.
  if (name == "tcp") {
    *proto = 6;
    return 0;
  }
  if (name == "udp") {
    *proto = 17;
    return 0;
  }
  tlsLastError = WSANO_DATA;
  return WSANO_DATA;
}

}  // namespace zirk::platform
