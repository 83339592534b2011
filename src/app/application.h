#pragma once
// The application object: the main form, the terminating flag, the program's
// file name and the message loop that fires the idle event. There is one,
// made and owned by the program's start-up.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/messages.h"

namespace zirk {

class TFormView;

class TApplication {
 public:
  explicit TApplication(std::string exeName);
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  TFormView* MainForm = nullptr;

  bool Terminated() const { return terminated_.load(); }
  // The flag itself, for threads that end when it turns (the wave mixer's
  // feeder).
  const std::atomic<bool>& TerminatedFlag() const { return terminated_; }
  void Terminate() {
    terminated_.store(true);
    platform::PostQuitMessage();  // for the loops of this thread that know no application
  }

  // The program file, and the folder "game.ini" and the logs belong to.
  const std::string& ExeName() const { return exeName_; }
  std::filesystem::path ExeFolder() const;

  // One pass of the message loop: the window's input, then the messages
  // queued for this thread. Returns how many were handled.
  int ProcessMessages();
  // Waits up to `ms` on the message queue (and the window), serving what
  // arrives; returns early only when the program terminates.
  void WaitMessages(uint32_t ms);
  // The message loop: while the main form wants idle events they run one
  // after another, each followed by its wait; otherwise the loop sleeps on
  // the queue. Returns when terminated.
  void Run();

 private:
  std::string exeName_;
  std::atomic<bool> terminated_{false};
};

// The program's application object while one exists, else nullptr.
inline TApplication* Application = nullptr;

}  // namespace zirk
