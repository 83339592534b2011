#include "platform/messages.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace zirk::platform {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Generous bound for "returned promptly": loaded CI machines under sanitizers
// are slow, and a hang is what these tests catch.
constexpr auto kPrompt = 5s;

// A window of the calling thread that records what it receives.
class Recorder {
 public:
  explicit Recorder(std::vector<Message>* log = nullptr)
      : log_(log ? log : &seen), wnd_(AllocateHWnd([this](const Message& m) {
          log_->push_back(m);
          return LRESULT(m.msg);
        })) {}
  ~Recorder() { DeallocateHWnd(wnd_); }
  HWND wnd() const { return wnd_; }
  std::vector<Message> seen;

 private:
  std::vector<Message>* log_;
  HWND wnd_;
};

// Runs the calling thread's loop until `done` or the bound passes.
template <typename Done>
bool pumpUntil(Done done) {
  auto end = SteadyClock::now() + kPrompt;
  while (!done()) {
    if (SteadyClock::now() > end) return false;
    WaitMessage(100ms);
    ProcessMessages();
  }
  return true;
}

TEST(Messages, DispatchesInPostingOrderAcrossWindows) {
  std::vector<Message> log;
  Recorder a(&log), b(&log);
  ASSERT_NE(a.wnd(), b.wnd());
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(PostMessage(i % 3 ? a.wnd() : b.wnd(), WM_USER + i, WPARAM(i) << 40, -i));
  EXPECT_EQ(ProcessMessages(), 20);
  EXPECT_EQ(ProcessMessages(), 0);
  ASSERT_EQ(log.size(), 20u);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(log[i].wnd, i % 3 ? a.wnd() : b.wnd()) << i;
    EXPECT_EQ(log[i].msg, uint32_t(WM_USER + i));
    EXPECT_EQ(log[i].wParam, WPARAM(i) << 40);  // parameters travel whole
    EXPECT_EQ(log[i].lParam, -i);
  }
}

TEST(Messages, UnknownHandlesAreRefused) {
  HWND gone = AllocateHWnd([](const Message&) { return 0; });
  DeallocateHWnd(gone);
  for (HWND wnd : {HWND(0), gone, HWND(~0ull)}) {
    SCOPED_TRACE(wnd);
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_USER));
    EXPECT_EQ(SendMessage(wnd, WM_USER), 0);
    DeallocateHWnd(wnd);  // harmless
  }
  EXPECT_EQ(ProcessMessages(), 0);
  // Handles are not reused after a window is destroyed.
  HWND next = AllocateHWnd([](const Message&) { return 0; });
  EXPECT_NE(next, gone);
  DeallocateHWnd(next);
}

TEST(Messages, OnePassRunsOnlyWhatWasQueuedBefore) {
  int runs = 0;
  HWND wnd = 0;
  // A procedure that posts to itself every time would spin forever in a loop
  // that drains until empty.
  wnd = AllocateHWnd([&](const Message& m) {
    ++runs;
    PostMessage(wnd, m.msg, m.wParam + 1);
    return 0;
  });
  PostMessage(wnd, WM_USER);
  PostMessage(wnd, WM_USER + 1);
  EXPECT_EQ(ProcessMessages(), 2);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(ProcessMessages(), 2);
  EXPECT_EQ(runs, 4);
  // The re-posted messages keep the wait awake.
  EXPECT_TRUE(WaitMessage(0ms));
  DeallocateHWnd(wnd);
  EXPECT_EQ(ProcessMessages(), 0);
}

TEST(Messages, NestedLoopKeepsOrderAndRunsEachOnce) {
  std::vector<int> order;
  HWND wnd = AllocateHWnd([&](const Message& m) {
    order.push_back(int(m.wParam));
    if (m.wParam == 1) ProcessMessages();  // a modal loop inside a handler
    return 0;
  });
  for (int i = 1; i <= 4; ++i) PostMessage(wnd, WM_USER, WPARAM(i));
  EXPECT_EQ(ProcessMessages(), 1);  // the other three ran in the nested pass
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  DeallocateHWnd(wnd);
}

TEST(Messages, SendMessageCallsOwnWindowAndPostsToOthers) {
  Recorder own;
  EXPECT_EQ(SendMessage(own.wnd(), WM_USER + 7, 3), LRESULT(WM_USER + 7));
  ASSERT_EQ(own.seen.size(), 1u);  // directly, without a loop pass
  EXPECT_EQ(ProcessMessages(), 0);

  std::atomic<HWND> foreign{0};
  std::atomic<int> received{0};
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    HWND wnd = AllocateHWnd([&](const Message& m) {
      received = int(m.wParam);
      return 5;
    });
    foreign = wnd;
    while (!stop) {
      WaitMessage(50ms);
      ProcessMessages();
    }
    DeallocateHWnd(wnd);
  });
  while (!foreign) std::this_thread::yield();
  EXPECT_EQ(SendMessage(foreign, WM_USER, 42), 0);
  auto end = SteadyClock::now() + kPrompt;
  while (received != 42 && SteadyClock::now() < end) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(received, 42);
  // This thread's loop never runs another thread's window.
  EXPECT_EQ(ProcessMessages(), 0);
  stop = true;
  worker.join();
}

TEST(Messages, SeveralProducersKeepTheirOwnOrder) {
  constexpr int kProducers = 4;
  constexpr int kEach = 2000;
  std::vector<std::vector<int>> got(kProducers);
  int total = 0;
  HWND wnd = AllocateHWnd([&](const Message& m) {
    got[m.wParam].push_back(int(m.lParam));
    ++total;
    return 0;
  });
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p)
    producers.emplace_back([=] {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(PostMessage(wnd, WM_USER, WPARAM(p), i));
    });
  EXPECT_TRUE(pumpUntil([&] { return total == kProducers * kEach; }));
  for (auto& t : producers) t.join();
  ProcessMessages();
  EXPECT_EQ(total, kProducers * kEach);
  for (int p = 0; p < kProducers; ++p) {
    ASSERT_EQ(got[p].size(), size_t(kEach)) << "producer " << p;
    for (int i = 0; i < kEach; ++i) ASSERT_EQ(got[p][i], i) << "producer " << p;
  }
  DeallocateHWnd(wnd);
}

TEST(Messages, DestroyedWindowsDropPendingMessages) {
  Recorder keep;
  int runs = 0;
  HWND doomed = AllocateHWnd([&](const Message&) { return ++runs, 0; });
  PostMessage(doomed, WM_USER);
  PostMessage(keep.wnd(), WM_USER);
  PostMessage(doomed, WM_USER);
  DeallocateHWnd(doomed);
  EXPECT_EQ(ProcessMessages(), 1);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(keep.seen.size(), 1u);

  // From another thread while messages wait.
  HWND doomed2 = AllocateHWnd([&](const Message&) { return ++runs, 0; });
  for (int i = 0; i < 10; ++i) PostMessage(doomed2, WM_USER);
  std::thread([=] { DeallocateHWnd(doomed2); }).join();
  EXPECT_EQ(ProcessMessages(), 0);
  EXPECT_EQ(runs, 0);
}

TEST(Messages, WindowDestroyedInsideItsOwnProcedure) {
  auto state = std::make_shared<int>(0);
  std::weak_ptr<int> watch = state;
  HWND wnd = 0;
  wnd = AllocateHWnd([state, &wnd](const Message&) {
    DeallocateHWnd(wnd);
    // The procedure and what it captured live until it returns.
    ++*state;
    EXPECT_FALSE(IsWindow(wnd));
    EXPECT_FALSE(PostMessage(wnd, WM_USER));
    return 0;
  });
  state.reset();
  for (int i = 0; i < 3; ++i) PostMessage(wnd, WM_USER);
  EXPECT_EQ(ProcessMessages(), 1);
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(ProcessMessages(), 0);
}

TEST(Messages, ThreadExitDestroysItsWindows) {
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  HWND wnd = 0;
  std::thread([&, c = std::move(captured)]() mutable {
    wnd = AllocateHWnd([c](const Message&) { return ++*c, 0; });
    c.reset();
    PostMessage(wnd, WM_USER);  // never dispatched: the thread leaves first
  }).join();
  EXPECT_FALSE(IsWindow(wnd));
  EXPECT_FALSE(PostMessage(wnd, WM_USER));
  EXPECT_EQ(SendMessage(wnd, WM_USER), 0);
  DeallocateHWnd(wnd);
  EXPECT_TRUE(watch.expired());
}

TEST(Messages, PostingRacesWithThreadExit) {
  // Producers keep posting while the owner leaves; posting must either land
  // or report failure, never touch a freed queue (ASan watches).
  for (int round = 0; round < 20; ++round) {
    std::atomic<HWND> wnd{0};
    std::atomic<bool> leave{false};
    std::thread owner([&] {
      wnd = AllocateHWnd([](const Message&) { return 0; });
      while (!leave) ProcessMessages();
    });
    while (!wnd) std::this_thread::yield();
    std::thread producer([&] {
      while (PostMessage(wnd, WM_USER)) {
      }
    });
    leave = true;
    owner.join();
    producer.join();
    EXPECT_FALSE(IsWindow(wnd));
  }
}

TEST(Messages, WaitHonoursDeadlines) {
  ProcessMessages();
  struct Case {
    std::chrono::milliseconds timeout;
  } cases[] = {{0ms}, {1ms}, {60ms}};
  for (auto c : cases) {
    SCOPED_TRACE(c.timeout.count());
    auto start = SteadyClock::now();
    EXPECT_FALSE(WaitMessage(c.timeout));
    auto took = SteadyClock::now() - start;
    EXPECT_GE(took, c.timeout);
    EXPECT_LT(took, kPrompt);
  }
}

TEST(Messages, WaitWakesForMessages) {
  Recorder r;
  // Already queued: at once.
  PostMessage(r.wnd(), WM_USER);
  EXPECT_TRUE(WaitMessage(0ms));
  EXPECT_TRUE(WaitMessage(10s));
  EXPECT_EQ(r.seen.size(), 0u);  // waiting dispatches nothing
  ProcessMessages();

  // A wake-up left from an already dispatched message is not news.
  EXPECT_FALSE(WaitMessage(30ms));

  // Posted by another thread while waiting, with and without a deadline.
  for (auto timeout : {std::chrono::milliseconds(30s), std::chrono::milliseconds(-1)}) {
    auto start = SteadyClock::now();
    std::thread poster([wnd = r.wnd()] {
      std::this_thread::sleep_for(30ms);
      PostMessage(wnd, WM_USER);
    });
    EXPECT_TRUE(WaitMessage(timeout));
    EXPECT_LT(SteadyClock::now() - start, kPrompt);
    poster.join();
    EXPECT_EQ(ProcessMessages(), 1);
  }
}

class Pipe {
 public:
  Pipe() { EXPECT_EQ(pipe(fds_), 0); }
  ~Pipe() {
    closeRead();
    if (fds_[1] >= 0) close(fds_[1]);
  }
  int readFd() const { return fds_[0]; }
  void put() { EXPECT_EQ(write(fds_[1], "x", 1), 1); }
  void take() {
    char c;
    EXPECT_EQ(read(fds_[0], &c, 1), 1);
  }
  void closeRead() {
    if (fds_[0] >= 0) close(fds_[0]);
    fds_[0] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(Messages, ReadyDescriptorWakesTheWaitAndRunsOnTheWaitingThread) {
  Pipe p;
  std::vector<short> events;
  std::thread::id ranOn;
  RegisterFd(p.readFd(), POLLIN, [&](int fd, short revents) {
    EXPECT_EQ(fd, p.readFd());
    events.push_back(revents);
    ranOn = std::this_thread::get_id();
    p.take();
  });
  EXPECT_FALSE(WaitMessage(20ms));

  std::thread writer([&] {
    std::this_thread::sleep_for(30ms);
    p.put();
  });
  auto start = SteadyClock::now();
  EXPECT_TRUE(WaitMessage(30s));
  EXPECT_LT(SteadyClock::now() - start, kPrompt);
  writer.join();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0] & POLLIN);
  EXPECT_EQ(ranOn, std::this_thread::get_id());

  // Events 0 keeps the descriptor out of the wait; re-registering brings it back
  // with the new callback.
  p.put();
  RegisterFd(p.readFd(), 0, [&](int, short) { events.push_back(-1); });
  EXPECT_FALSE(WaitMessage(20ms));
  int replaced = 0;
  RegisterFd(p.readFd(), POLLIN, [&](int, short) { ++replaced, p.take(); });
  EXPECT_TRUE(WaitMessage(1s));
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(events.size(), 1u);

  UnregisterFd(p.readFd());
  p.put();
  EXPECT_FALSE(WaitMessage(20ms));
}

TEST(Messages, CallbackMayUnregisterOthersInTheSamePass) {
  Pipe a, b;
  int runsA = 0, runsB = 0;
  // Whichever runs first unregisters the other; the other's readiness from
  // the same poll must not be delivered to a dropped registration.
  RegisterFd(a.readFd(), POLLIN, [&](int, short) { ++runsA, UnregisterFd(b.readFd()); });
  RegisterFd(b.readFd(), POLLIN, [&](int, short) { ++runsB, UnregisterFd(a.readFd()); });
  a.put();
  b.put();
  EXPECT_TRUE(WaitMessage(1s));
  EXPECT_EQ(runsA + runsB, 1);
  UnregisterFd(a.readFd());
  UnregisterFd(b.readFd());
}

TEST(Messages, ClosedDescriptorIsReportedOnceNotSpun) {
  Pipe p;
  int fd = p.readFd();
  std::vector<short> events;
  RegisterFd(fd, POLLIN, [&](int, short revents) { events.push_back(revents); });
  p.closeRead();
  EXPECT_TRUE(WaitMessage(1s));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0] & POLLNVAL);
  EXPECT_FALSE(WaitMessage(20ms));
  EXPECT_EQ(events.size(), 1u);
}

}  // namespace
}  // namespace zirk::platform

namespace zirk::platform {
namespace {

// Timers run on the process clock: a manual clock decides when they are due,
// each period queues one WM_TIMER, and a killed timer or a gone window stops.
TEST(Messages, TimersFollowTheProcessClock) {
  ScopedManualClock clock(0xFFFFFF00u);  // runs across the wrap-around
  {
    Recorder r;
    EXPECT_FALSE(SetTimer(HWND(987654321), 1, 10));
    ASSERT_TRUE(SetTimer(r.wnd(), 7, 100));
    ASSERT_TRUE(SetTimer(r.wnd(), 8, 250));
    struct Step {
      uint32_t advance;
      std::vector<WPARAM> ids;
    };
    const Step steps[] = {{99, {}}, {1, {7}}, {0, {}}, {100, {7}}, {50, {8}}, {350, {7, 8}}};
    for (const Step& step : steps) {
      clock.Advance(step.advance);
      r.seen.clear();
      ProcessMessages();
      std::vector<WPARAM> ids;
      for (const Message& m : r.seen) {
        EXPECT_EQ(m.msg, WM_TIMER);
        ids.push_back(m.wParam);
      }
      EXPECT_EQ(ids, step.ids) << "after " << step.advance;
    }
    // Setting it again restarts the period; killing it stops it.
    ASSERT_TRUE(SetTimer(r.wnd(), 7, 40));
    KillTimer(r.wnd(), 8);
    clock.Advance(39);
    r.seen.clear();
    ProcessMessages();
    EXPECT_TRUE(r.seen.empty());
    clock.Advance(1);
    ProcessMessages();
    EXPECT_EQ(r.seen.size(), 1u);
    // A due timer ends a wait at once.
    clock.Advance(40);
    const auto start = SteadyClock::now();
    EXPECT_TRUE(WaitMessage(10s));
    EXPECT_LT(SteadyClock::now() - start, kPrompt);
    ProcessMessages();
  }
  // The window is gone and its timer with it.
  Recorder other;
  clock.Advance(1000);
  EXPECT_EQ(ProcessMessages(), 0);
}

// On the real clock a wait sleeps only until the next timer.
TEST(Messages, WaitEndsWhenATimerRunsOut) {
  Recorder r;
  ASSERT_TRUE(SetTimer(r.wnd(), 1, 30));
  const auto start = SteadyClock::now();
  ASSERT_TRUE(pumpUntil([&] { return !r.seen.empty(); }));
  EXPECT_GE(SteadyClock::now() - start, 25ms);
  EXPECT_EQ(r.seen.front().msg, WM_TIMER);
  KillTimer(r.wnd(), 1);
}

}  // namespace
}  // namespace zirk::platform
