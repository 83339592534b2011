#pragma once
// Stand-in for hidden windows and posted messages: every thread has one
// queue; a window handle names a window procedure that belongs to the thread
// that allocated it, and messages posted to the handle from any thread are
// dispatched on that thread by ProcessMessages or WaitMessage.

#include <chrono>
#include <cstdint>
#include <functional>

namespace zirk::platform {

using HWND = uint64_t;  // 0 is no window; handles are never reused
using WPARAM = uint64_t;
using LPARAM = int64_t;
using LRESULT = int64_t;

struct Message {
  HWND wnd = 0;
  uint32_t msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

using WindowProc = std::function<LRESULT(const Message&)>;

// First private message number, as on Windows.
constexpr uint32_t WM_USER = 0x0400;
// A window's timer ran out; wParam is the timer's id.
constexpr uint32_t WM_TIMER = 0x0113;

// A window owned by the calling thread. Its procedure runs only on that thread.
HWND AllocateHWnd(WindowProc proc);
// Destroys the window; messages still queued for it are dropped, never
// dispatched. May be called from inside its own procedure.
void DeallocateHWnd(HWND wnd);
bool IsWindow(HWND wnd);

// Queues a message for the window's thread; false when the window does not
// exist. Safe from any thread.
bool PostMessage(HWND wnd, uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0);
// Calls the procedure directly when the window belongs to the calling thread;
// for a window of another thread the message is posted and 0 returned.
LRESULT SendMessage(HWND wnd, uint32_t msg, WPARAM wParam = 0, LPARAM lParam = 0);

// One pass of the calling thread's message loop: dispatches the messages
// queued before the call, in posting order; returns how many ran.
int ProcessMessages();

// Waits until a message is queued for the calling thread, a registered
// descriptor is ready, or the deadline passes; true when something arrived.
// Dispatches nothing. A negative timeout waits without a deadline.
bool WaitMessage(std::chrono::milliseconds timeout);

// The quit state of the calling thread's queue, which stands for the
// message its loops end on: once posted it stays, so every pump of the
// thread sees it, however many there are on the stack. The application posts
// it on its thread when it terminates.
void PostQuitMessage();
bool QuitPosted();

// Timers on the process clock (timeGetTime), so a test's manual clock drives
// them: every `ms` the window gets WM_TIMER with the id, dispatched like a
// posted message by its thread's ProcessMessages, until KillTimer or the
// window goes. Setting a timer that exists restarts it with the new period.
// False when the window does not exist.
bool SetTimer(HWND wnd, WPARAM id, uint32_t ms);
void KillTimer(HWND wnd, WPARAM id);

// Descriptor readiness joins the wait: while registered, the descriptor is
// polled by the owning thread's WaitMessage, and the callback runs on that
// thread with the poll(2) revents when it is ready. Re-registering replaces
// the events and the callback; events 0 keeps the descriptor out of the poll.
// A descriptor closed while registered is reported once (POLLNVAL) and then
// forgotten, so it cannot keep every later wait busy.
using FdCallback = std::function<void(int fd, short revents)>;
void RegisterFd(int fd, short events, FdCallback callback);
void UnregisterFd(int fd);

}  // namespace zirk::platform
