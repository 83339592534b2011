#pragma once
// The main window (TFormView): start-up of the game (settings, game folders,
// the scene runtime, the project, the media), the window procedure that
// turns the window's messages into the scene's input and the media's
// suspend and resume, full-screen switching, the idle tick and the close.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/gameini.h"
#include "app/mainloop.h"
#include "app/workfiles.h"
#include "media/dxclass.h"
#include "media/dxsounds.h"
#include "platform/clock.h"
#include "platform/messages.h"

namespace zirk {

namespace platform {
class MainWindow;
}
class TApplication;
class TFilmPlayer;
class TFormView;
class TMenuPlayer;
class TProject;
class TScreenManager;
class TVrFileManager;

// The media layer's part in the main window; empty hooks do nothing.
struct TMediaHooks {
  // After the project is loaded, and last of the close.
  std::function<void(TFormView& form)> MediaInit;
  std::function<void()> MediaFinal;
  // On deactivation (true) or on entering a menu or size-move loop (false):
  // SuspendAll of the video manager and of each media manager that exists
  // and is enabled, and on deactivation the CD manager's mixer volume put
  // back. On activation (true) or on leaving such a loop (false): ResumeAll
  // likewise, the CD manager saving the mixer volume first on activation.
  std::function<void(bool deactivation)> SuspendAll;
  std::function<void(bool activation)> ResumeAll;
  // Messages 0x680, 0x681 and 0x683, after the window's own handling.
  std::function<void(const platform::Message&)> WmpmanProcessEvent;
  // Message 0x682 and WM_DISPLAYCHANGE, before it.
  std::function<void(const platform::Message&)> VidmanProcessEvent;
  // The main panel was painted: its paint message.
  std::function<void(const platform::Message&)> PanelPaint;
  // The sound component's restore event.
  std::function<void()> SoundRestore;
  // Around the full-screen switch: video playback, and the MIDI device the
  // switch closes and reopens.
  std::function<void()> SuspendVideoPlayback;
  std::function<void()> ResumeVideoPlayback;
  std::function<void()> CloseMidiDevice;
  std::function<void()> ReopenMidiDevice;
};
// Installed by the media layer's binding before the main window is made.
void SetMediaHooks(TMediaHooks hooks);
const TMediaHooks& MediaHooks();

// Messages of the media library to the main window.
constexpr uint32_t WM_WMPEVENT_FIRST = 0x680;
constexpr uint32_t WM_VIDEVENT = 0x682;
constexpr uint32_t WM_WMPEVENT_LAST = 0x683;

struct TViewOptions {
  std::filesystem::path ProgramFolder;
  // The base folder (else the program folder) and the search folders.
  std::vector<std::string> Folders;
  std::optional<std::string> Film;
  std::optional<std::string> Movie;
  // How messages name the film and the movie; empty: as game text.
  std::string FilmShown;
  std::string MovieShown;
  // The choices of a pop-up menu, as Shift-JIS rows.
  std::optional<std::vector<std::string>> Menu;
  // No window on screen, on a fixed step of 1000/60 ms per tick.
  bool Headless = false;
  // No SDL window at all (tests of the window procedure).
  bool NoWindow = false;
  std::optional<int64_t> Frames;
  std::optional<std::string> Screenshot;
};

// The platform clock of a headless run: it moves by one frame of 1000/60 ms
// per step (the fraction carried), so a run is the same every time.
class TFixedStepClock : public platform::Clock {
 public:
  uint32_t Milliseconds() override;
  void Sleep(uint32_t) override {}
  void Step() { ++steps_; }

 private:
  uint64_t steps_ = 0;
};

class TFormView : public TDXForm {
 public:
  TFormView(TApplication& application, TViewOptions options);
  ~TFormView() override;

  // The form's creation: false when start-up failed (the window is then
  // closed and the program ends).
  bool Create();
  // Sets the terminating flag: the message loop ends, then Close runs.
  void RequestClose();
  // Closes the window: sets the terminating flag and frees the game in
  // order: the project, the scene runtime, last the media. Safe to call
  // twice.
  void Close();
  bool Closed() const { return closed_; }
  bool StartupFailed() const { return startupFailed_; }
  // 0 for a normal end, 1 when start-up, a tick or the screenshot failed.
  int ExitCode() const { return exitCode_; }
  // An error that escaped the game's tick or a message handler: shown once
  // in a message box, then the game ends in order as on a normal close.
  void HandleException(const std::exception& error);

  // --- main loop ----------------------------------------------------------
  // Idle events fire while the window is active (a headless run always is),
  // the window is not closing, the program not terminating and the screen
  // manager exists.
  bool WantsIdle() const;
  // One idle event; closes the window after the asked number of ticks.
  uint32_t Idle();
  // The wait after an idle event: on the message queue, or headless one
  // step of the fixed clock.
  void Pace(uint32_t wait);
  TMainLoop& Loop() { return *loop_; }

  // --- window -----------------------------------------------------------
  platform::LRESULT WndProc(const platform::Message& message);
  int PumpWindowEvents();
  bool ShowsWindow() const;
  bool Active() const { return active_; }
  void SetFullScreen(bool fullScreen);
  bool FullScreen() const { return fullScreen_; }
  platform::MainWindow* Window() const { return window_.get(); }
  platform::HWND PanelHandle() const { return panelHandle_; }
  // The two handle variables whose addresses the media library keeps; the
  // full-screen switch writes the new handles into them.
  const platform::HWND* MainWindowHandleVar() const { return &mainWindowHandle_; }
  const platform::HWND* MainPanelHandleVar() const { return &mainPanelHandle_; }

  // --- what the form owns -------------------------------------------------
  const TGameSettings& Settings() const { return settings_; }
  TApplication& Application() const { return application_; }
  TDXSound& DXSound() { return *dxSound_; }
  TWorkFiles& WorkFiles() { return workFiles_; }
  TFilmPlayer* FilmPlayer() const { return film_.get(); }
  TMenuPlayer* MenuPlayer() const { return menu_.get(); }
  TVrFileManager& Files() { return *files_; }

 private:
  class TPlayerLoop;
  void startup();
  void startMovie(const std::string& name, const std::string& shown);
  void startMenu(const std::vector<std::string>& choices);
  void mountFolders();
  void openWindow();
  void presentScene();
  void remakeHandles();
  void onActivate(bool active);
  void onKey(const platform::Message& message, bool down);
  void writeScreenshot();
  // The player's own errors: a line on stderr, as every message of the
  // player, and a box on screen when the player may show one.
  void reportError(const std::string& text);

  TApplication& application_;
  TViewOptions options_;
  TGameSettings settings_;
  std::unique_ptr<TVrFileManager> files_;
  std::unique_ptr<TScreenManager> screenMan_;
  std::unique_ptr<TDXSound> dxSound_;
  std::unique_ptr<TProject> project_;
  std::unique_ptr<TFilmPlayer> film_;
  std::unique_ptr<TMenuPlayer> menu_;
  std::unique_ptr<TMainLoop> loop_;
  std::unique_ptr<platform::MainWindow> window_;
  std::unique_ptr<TFixedStepClock> stepClock_;
  TWorkFiles workFiles_;
  platform::HWND mainWindowHandle_ = 0;
  platform::HWND mainPanelHandle_ = 0;
  platform::HWND panelHandle_ = 0;
  bool active_ = true;
  bool closing_ = false;
  bool closed_ = false;
  bool startupFailed_ = false;
  bool fullScreen_ = false;
  bool runtimeUp_ = false;
  int exitCode_ = 0;
};

}  // namespace zirk
