// Addresses and names: dotted text, blocking lookups of hosts, services and
// protocols, and the pool of two worker threads that runs the asynchronous
// host lookups and posts their replies.

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/sockets.h"

namespace zirk::platform {

namespace {

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
    if (known) return 0;
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
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
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(job.addr);
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
  if (err) WSASetLastError(err);
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
  WSASetLastError(WSANO_DATA);
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
  WSASetLastError(WSANO_DATA);
  return WSANO_DATA;
}

}  // namespace zirk::platform
