// Other threads only add messages to a queue or drop a dead window's, so a
// queue's lock covers just the message list; window procedures always run without any lock held,
// because they post, send, create and destroy windows themselves. Windows are
// shared by the handle table and whoever is dispatching to them, which lets a
// window go away (by its own procedure, another thread, or its thread's exit)
// while its procedure is still on the stack.
#include "platform/messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"

namespace zirk::platform {

namespace {

// The queue of one thread. Other threads only push (under the lock) and
// signal the eventfd; everything else happens on the owning thread.
class ThreadQueue {
 public:
  ThreadQueue() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  }
  ~ThreadQueue() { close(wakeFd_); }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  // False once the owning thread has gone: nobody would ever dispatch it.
  bool push(const Message& m) {
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      queue_.push_back({m, nextSeq_++});
    }
    wake();
    return true;
  }

  void wake() {
    uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the fd readable.
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
  }

  void drainWake() {
    uint64_t value;
    [[maybe_unused]] auto n = read(wakeFd_, &value, sizeof value);
  }

  // Sequence number below which messages were queued before now.
  uint64_t mark() {
    std::lock_guard lock(mutex_);
    return nextSeq_;
  }

  // Pops the oldest message if it was queued before `limit`. Popping one at a
  // time keeps the order intact when a procedure runs a nested message loop.
  bool popBefore(uint64_t limit, Message& out) {
    std::lock_guard lock(mutex_);
    if (queue_.empty() || queue_.front().seq >= limit) return false;
    out = queue_.front().message;
    queue_.pop_front();
    return true;
  }

  bool hasMessages() {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
  }

  void dropFor(HWND wnd) {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [wnd](const Entry& e) { return e.message.wnd == wnd; });
    std::erase_if(timers_, [wnd](const Timer& t) { return t.wnd == wnd; });
  }

  void closeAndClear() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
    timers_.clear();
  }

  bool setTimer(HWND wnd, WPARAM id, uint32_t ms) {
    const uint32_t due = timeGetTime() + ms;
    {
      std::lock_guard lock(mutex_);
      if (closed_) return false;
      auto it = std::find_if(timers_.begin(), timers_.end(),
                             [&](const Timer& t) { return t.wnd == wnd && t.id == id; });
      if (it == timers_.end()) it = timers_.insert(timers_.end(), Timer{wnd, id, ms, due});
      it->period = ms;
      it->due = due;
    }
    // A wait that is already sleeping must see the new deadline.
    wake();
    return true;
  }

  void killTimer(HWND wnd, WPARAM id) {
    std::lock_guard lock(mutex_);
    std::erase_if(timers_, [&](const Timer& t) { return t.wnd == wnd && t.id == id; });
  }

  // Queues WM_TIMER for every timer that has run out and starts its next
  // period; true when any did.
  bool postDueTimers() {
    const uint32_t now = timeGetTime();
    bool any = false;
    std::lock_guard lock(mutex_);
    for (Timer& t : timers_) {
      if (static_cast<int32_t>(now - t.due) < 0) continue;
      queue_.push_back({Message{t.wnd, WM_TIMER, t.id, 0}, nextSeq_++});
      t.due = now + t.period;
      any = true;
    }
    return any;
  }

  // Milliseconds until the next timer runs out; -1 without timers.
  int64_t untilNextTimer() {
    const uint32_t now = timeGetTime();
    std::lock_guard lock(mutex_);
    int64_t least = -1;
    for (const Timer& t : timers_) {
      const int64_t left = std::max<int32_t>(static_cast<int32_t>(t.due - now), 0);
      if (least < 0 || left < least) least = left;
    }
    return least;
  }

  int wakeFd() const { return wakeFd_; }

  // Set and read by the owning thread only.
  bool quit = false;

  // Descriptor registrations; touched only by the owning thread.
  struct FdEntry {
    short events = 0;
    uint64_t generation = 0;
    std::shared_ptr<FdCallback> callback;
  };
  std::map<int, FdEntry> fds;
  uint64_t fdGeneration = 0;

 private:
  struct Entry {
    Message message;
    uint64_t seq;
  };
  struct Timer {
    HWND wnd;
    WPARAM id;
    uint32_t period;
    uint32_t due;
  };
  int wakeFd_;
  std::mutex mutex_;
  std::deque<Entry> queue_;
  std::vector<Timer> timers_;
  uint64_t nextSeq_ = 0;
  bool closed_ = false;
};

struct Window {
  std::shared_ptr<ThreadQueue> owner;
  WindowProc proc;
};

// Handle table shared by all threads. Windows are held by shared_ptr so a
// procedure that is running stays alive while its window is destroyed.
class WindowTable {
 public:
  HWND add(std::shared_ptr<ThreadQueue> owner, WindowProc proc) {
    auto window = std::make_shared<Window>(Window{std::move(owner), std::move(proc)});
    std::lock_guard lock(mutex_);
    HWND wnd = ++lastHandle_;
    windows_.emplace(wnd, std::move(window));
    return wnd;
  }

  std::shared_ptr<Window> find(HWND wnd) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(wnd);
    return it == windows_.end() ? nullptr : it->second;
  }

  std::shared_ptr<Window> remove(HWND wnd) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(wnd);
    if (it == windows_.end()) return nullptr;
    auto window = std::move(it->second);
    windows_.erase(it);
    return window;
  }

  // Takes every window of a thread out of the table; the caller destroys
  // them outside the lock, since a procedure's captures may run code.
  std::vector<std::shared_ptr<Window>> removeOwnedBy(const ThreadQueue* owner) {
    std::vector<std::shared_ptr<Window>> removed;
    std::lock_guard lock(mutex_);
    for (auto it = windows_.begin(); it != windows_.end();) {
      if (it->second->owner.get() == owner) {
        removed.push_back(std::move(it->second));
        it = windows_.erase(it);
      } else {
        ++it;
      }
    }
    return removed;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HWND, std::shared_ptr<Window>> windows_;
  HWND lastHandle_ = 0;
};

WindowTable& windowTable() {
  static WindowTable table;
  return table;
}

// Owner of the calling thread's queue; destroyed when the thread ends, which
// invalidates its windows and drops whatever was still queued for them.
class ThreadState {
 public:
  ThreadState() { windowTable(); }  // the table must outlive every thread's state
  ~ThreadState() {
    if (!queue_) return;
    queue_->closeAndClear();
    auto windows = windowTable().removeOwnedBy(queue_.get());
    windows.clear();
    queue_->fds.clear();
  }
  ThreadQueue& queue() {
    if (!queue_) queue_ = std::make_shared<ThreadQueue>();
    return *queue_;
  }
  const std::shared_ptr<ThreadQueue>& shared() {
    queue();
    return queue_;
  }
  bool owns(const Window& w) const { return queue_ && w.owner == queue_; }

 private:
  std::shared_ptr<ThreadQueue> queue_;
};

thread_local ThreadState tlsState;

// Runs the descriptor callbacks for what poll reported; true when any ran.
bool dispatchFds(ThreadQueue& q, const std::vector<pollfd>& polled,
                 const std::vector<uint64_t>& generations) {
  bool any = false;
  // Entry 0 is the wake descriptor.
  for (size_t i = 1; i < polled.size(); ++i) {
    if (polled[i].revents == 0) continue;
    auto it = q.fds.find(polled[i].fd);
    // A callback that ran earlier in this pass may have unregistered or
    // replaced this registration; the stale readiness is not delivered.
    if (it == q.fds.end() || it->second.generation != generations[i]) continue;
    auto callback = it->second.callback;
    any = true;
    if (*callback) (*callback)(polled[i].fd, polled[i].revents);
    // A descriptor closed while still registered would report POLLNVAL on
    // every wait and turn the loop into a busy spin.
    if (polled[i].revents & POLLNVAL) {
      it = q.fds.find(polled[i].fd);
      if (it != q.fds.end() && it->second.generation == generations[i]) q.fds.erase(it);
    }
  }
  return any;
}

}  // namespace

HWND AllocateHWnd(WindowProc proc) {
  return windowTable().add(tlsState.shared(), std::move(proc));
}

void DeallocateHWnd(HWND wnd) {
  auto window = windowTable().remove(wnd);
  if (!window) return;
  window->owner->dropFor(wnd);
  // `window` may be the last reference; when the procedure is running right
  // now, the dispatcher holds another and the procedure is freed after it.
}

bool IsWindow(HWND wnd) {
  return wnd != 0 && windowTable().find(wnd) != nullptr;
}

bool PostMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  auto window = windowTable().find(wnd);
  if (!window) return false;
  return window->owner->push(Message{wnd, msg, wParam, lParam});
}

LRESULT SendMessage(HWND wnd, uint32_t msg, WPARAM wParam, LPARAM lParam) {
  auto window = windowTable().find(wnd);
  if (!window) return 0;
  Message m{wnd, msg, wParam, lParam};
  if (tlsState.owns(*window)) return window->proc ? window->proc(m) : 0;
  window->owner->push(m);
  return 0;
}

int ProcessMessages() {
  ThreadQueue& q = tlsState.queue();
  q.drainWake();
  q.postDueTimers();
  const uint64_t limit = q.mark();
  int dispatched = 0;
  Message m;
  while (q.popBefore(limit, m)) {
    auto window = windowTable().find(m.wnd);
    if (!window || !tlsState.owns(*window)) continue;
    ++dispatched;
    if (window->proc) window->proc(m);
  }
  return dispatched;
}

bool WaitMessage(std::chrono::milliseconds timeout) {
  using SteadyClock = std::chrono::steady_clock;
  ThreadQueue& q = tlsState.queue();
  const bool forever = timeout.count() < 0;
  const auto deadline = SteadyClock::now() + (forever ? std::chrono::milliseconds(0) : timeout);

  std::vector<pollfd> polled;
  std::vector<uint64_t> generations;
  for (;;) {
    if (q.hasMessages() || q.postDueTimers()) return true;

    polled.assign(1, pollfd{q.wakeFd(), POLLIN, 0});
    generations.assign(1, 0);
    for (const auto& [fd, entry] : q.fds) {
      if (entry.events == 0) continue;
      polled.push_back(pollfd{fd, entry.events, 0});
      generations.push_back(entry.generation);
    }

    int waitMs = -1;
    if (!forever) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
      waitMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT32_MAX));
    }
    if (const int64_t timer = q.untilNextTimer(); timer >= 0 && (waitMs < 0 || timer < waitMs))
      waitMs = static_cast<int>(timer);
    int n = poll(polled.data(), polled.size(), waitMs);
    if (n < 0) {
      if (errno != EINTR) return false;
    } else if (n > 0) {
      if (polled[0].revents) q.drainWake();
      bool ran = dispatchFds(q, polled, generations);
      if (ran || q.hasMessages()) return true;
      // Only a stale wake-up from a message already dispatched: keep waiting.
    }
    if (!forever && SteadyClock::now() >= deadline) return q.hasMessages() || q.postDueTimers();
  }
}

void PostQuitMessage() {
  tlsState.queue().quit = true;
}

bool QuitPosted() {
  return tlsState.queue().quit;
}

bool SetTimer(HWND wnd, WPARAM id, uint32_t ms) {
  auto window = windowTable().find(wnd);
  return window && window->owner->setTimer(wnd, id, ms);
}

void KillTimer(HWND wnd, WPARAM id) {
  if (auto window = windowTable().find(wnd)) window->owner->killTimer(wnd, id);
}

void RegisterFd(int fd, short events, FdCallback callback) {
  if (fd < 0) return;
  ThreadQueue& q = tlsState.queue();
  auto& entry = q.fds[fd];
  entry.events = events;
  entry.generation = ++q.fdGeneration;
  entry.callback = std::make_shared<FdCallback>(std::move(callback));
}

void UnregisterFd(int fd) {
  tlsState.queue().fds.erase(fd);
}

}  // namespace zirk::platform
