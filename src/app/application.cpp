#include "app/application.h"

#include <algorithm>
#include <chrono>

#include "app/view.h"
#include "platform/messages.h"

namespace zirk {

namespace {

// SDL's input has no descriptor in the message queue's poll, so a waiting
// loop with a window on screen looks at it this often.
constexpr uint32_t kWindowPollSlice = 4;
// How long an inactive player sleeps between looks at its queue.
constexpr uint32_t kInactiveWait = 50;

}  // namespace

TApplication::TApplication(std::string exeName) : exeName_(std::move(exeName)) {}

std::filesystem::path TApplication::ExeFolder() const {
  return std::filesystem::path(exeName_).parent_path();
}

int TApplication::ProcessMessages() {
  int handled = 0;
  if (MainForm) handled += MainForm->PumpWindowEvents();
  handled += platform::ProcessMessages();
  return handled;
}

void TApplication::WaitMessages(uint32_t ms) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  const bool pollWindow = MainForm && MainForm->ShowsWindow();
  while (!Terminated()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    uint32_t slice = static_cast<uint32_t>(left);
    if (pollWindow) slice = std::min(slice, kWindowPollSlice);
    platform::WaitMessage(std::chrono::milliseconds(slice));
    ProcessMessages();
  }
}

void TApplication::Run() {
  while (!Terminated()) {
    // An error thrown by a tick would otherwise abort the process with the
    // game half torn down; the form reports it and closes in order.
    try {
      ProcessMessages();
      if (Terminated()) break;
      if (MainForm && MainForm->WantsIdle()) {
        MainForm->Pace(MainForm->Idle());
      } else {
        WaitMessages(kInactiveWait);
      }
    } catch (const std::exception& e) {
      if (!MainForm) throw;
      MainForm->HandleException(e);
    }
  }
}

}  // namespace zirk
