#include "app/view.h"

#include <cstdio>

#include "app/application.h"
#include "app/filmplayer.h"
#include "app/menuplayer.h"
#include "app/screenshot.h"
#include "base/sjis.h"
#include "base/utils.h"
#include "base/vrfiles.h"
#include "media/mediaitems.h"
#include "objects/video.h"
#include "platform/msgbox.h"
#include "platform/window.h"
#include "scene/events.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "script/project.h"
#include "surfaces/dibx.h"
#include "surfaces/screenman.h"

namespace zirk {

namespace {

TMediaHooks& hookSlot() {
  static TMediaHooks hooks;
  return hooks;
}

template <typename F, typename... Args>
void call(const F& hook, Args&&... args) {
  if (hook) hook(std::forward<Args>(args)...);
}

// The main panel: the window part the picture is shown in; the media
// library paints movies over it.
platform::HWND makePanel() {
  return platform::AllocateHWnd([](const platform::Message& m) -> platform::LRESULT {
    if (m.msg == platform::WM_PAINT) call(MediaHooks().PanelPaint, m);
    return 0;
  });
}

// What keeps a game folder from being used; empty when nothing does.
std::string folderProblem(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(folder, ec);
  if (status.type() == std::filesystem::file_type::not_found) return "does not exist";
  if (ec) return "cannot be read: " + ec.message();
  if (!std::filesystem::is_directory(status)) return "is not a folder";
  std::filesystem::directory_iterator listing(folder, ec);
  if (ec) return "cannot be read: " + ec.message();
  return {};
}

}  // namespace

void SetMediaHooks(TMediaHooks hooks) {
  hookSlot() = std::move(hooks);
}

const TMediaHooks& MediaHooks() {
  return hookSlot();
}

uint32_t TFixedStepClock::Milliseconds() {
  return static_cast<uint32_t>(steps_ * 1000 / 60);
}

// The main loop as the player runs it; the film's cinema ticks with the
// scene's objects, and the menu's events reach the menu's stand-in.
class TFormView::TPlayerLoop : public TMainLoop {
 public:
  explicit TPlayerLoop(TFormView& form) : TMainLoop(ScreenList(), &form.workFiles_), form_(form) {}

 protected:
  bool Closing() override { return form_.closing_; }
  void RunScript() override {
    TEventDrain([this](const TTimerData& event) {
      LogScriptEvent(event);
      if (form_.menu_) form_.menu_->HandleEvent(event);
    }).Run(scene()->Events());
  }

 private:
  TFormView& form_;
};

TFormView::TFormView(TApplication& application, TViewOptions options)
    : application_(application), options_(std::move(options)) {
  SetHandle(platform::AllocateHWnd([this](const platform::Message& m) { return WndProc(m); }));
  mainWindowHandle_ = Handle();
  dxSound_ = std::make_unique<TDXSound>(this);
  dxSound_->AutoInitialize = false;
  dxSound_->OnRestore = [](TCustomDXSound&) { call(MediaHooks().SoundRestore); };
}

TFormView::~TFormView() {
  Close();
  dxSound_.reset();
  if (panelHandle_ != 0) platform::DeallocateHWnd(panelHandle_);
  if (Handle() != 0) platform::DeallocateHWnd(Handle());
}

bool TFormView::Create() {
  TraceHook("TFormView.FormCreate", true);
  try {
    startup();
  } catch (const std::exception& e) {
    reportError(e.what());
    startupFailed_ = true;
    exitCode_ = 1;
    Close();
    return false;
  }
  return true;
}

void TFormView::mountFolders() {
  files_ = std::make_unique<TVrFileManager>();
  const std::string base =
      options_.Folders.empty() ? options_.ProgramFolder.string() : options_.Folders.front();
  if (const std::string problem = folderProblem(base); !problem.empty())
    throw std::runtime_error("the game folder \"" + base + "\" " + problem);
  files_->SetBaseFolder(base);
  for (size_t i = 1; i < options_.Folders.size(); ++i) {
    const std::string& folder = options_.Folders[i];
    // A further folder only adds files: the game can start without it.
    if (const std::string problem = folderProblem(folder); !problem.empty()) {
      std::fprintf(stderr, "zirkplayer: the game folder \"%s\" %s; playing without it\n",
                   folder.c_str(), problem.c_str());
      continue;
    }
    files_->AddSearchFolder(folder);
  }
  TVrFileManager::SetGlobal(files_.get());
}

void TFormView::startup() {
  std::error_code ec;
  std::filesystem::remove(options_.ProgramFolder / "zirkplay.log", ec);
  settings_ = ReadGameIni(options_.ProgramFolder / "game.ini");
  mountFolders();

  TraceHook("ScreenMan.Create", true);
  screenMan_ = std::make_unique<TScreenManager>();
  ScreenMan = screenMan_.get();
  panelHandle_ = makePanel();
  mainPanelHandle_ = panelHandle_;

  if (settings_.UseDirectSound) {
    TraceHook("DXSound.Initialize", true);
    try {
      dxSound_->Initialize();
    } catch (const std::exception& e) {
      // Without the sound component the game still runs, silent.
      std::fprintf(stderr, "zirkplayer: no sound: %s\n", e.what());
    }
  }
  TraceHook("ZirkInitialize", true);
  ZirkInitialize();
  runtimeUp_ = true;
  TraceHook("TProject.Create", true);
  project_ = std::make_unique<TProject>();
  SetCurrentProject(project_.get());
  TraceHook("MediaInit", true);
  call(MediaHooks().MediaInit, *this);

  TZirkBaseList& scene = *ScreenList();
  TraceHook("SceneColors", true);
  scene.SetColor(0);
  loop_ = std::make_unique<TPlayerLoop>(*this);
  if (options_.Film) {
    film_ = std::make_unique<TFilmPlayer>(scene);
    film_->Load(*options_.Film, options_.FilmShown);
  } else {
    std::fprintf(stderr,
                 "zirkplayer: nothing starts the game (no --film NAME given); showing the empty "
                 "scene\n");
  }
  if (options_.Movie) startMovie(*options_.Movie, options_.MovieShown);
  if (options_.Menu) startMenu(*options_.Menu);
  openWindow();
  presentScene();
  if (options_.Headless) {
    stepClock_ = std::make_unique<TFixedStepClock>();
    platform::SetClock(stepClock_.get());
  }
  loop_->ResetClock();
  TraceHook("Application.OnIdle", true);
}

void TFormView::startMovie(const std::string& name, const std::string& shown) {
  // Like the film, a stand-in for what a script would do: a looping movie
  // drawn above the cinema that plays the film, 16 pixels in from the top
  // right corner of the screen.
  constexpr int32_t kMargin = 16, kPriority = 100;
  const std::string named = shown.empty() ? SjisForMessage(name) : shown;
  if (!files_->FileExists(name))
    throw std::runtime_error(NoRegularFileReason(*files_, name, "movie", named));
  TZirkBaseList& scene = *ScreenList();
  auto* movie = scene.Create<TZirkVideo>(nullptr, "movie");
  movie->SetPropInt(PR_OVERLAY, 0);
  movie->SetPropInt(PR_REPEAT, 1);
  movie->SetPropInt(PR_VOLUME, 1000);
  movie->SetPriority(kPriority);
  movie->SetPropStr(PR_SOURCE, name);
  movie->SetActive(0);
  const std::string cannotPlay = named + ": the movie cannot be played";
  if (!movie->Item()) throw std::runtime_error(cannotPlay);
  if (movie->Item()->Handle() == 0) {
    // The file is there but the media library cannot play it: the player
    // says which movie and plays on without it, as a game would.
    std::fprintf(stderr, "zirkplayer: %s\n", cannotPlay.c_str());
    scene.FreeObject(movie);
    return;
  }
  movie->SetPropInt(PR_LEFT, scene.Width() - movie->GetPropInt(PR_WIDTH) - kMargin);
  movie->SetPropInt(PR_TOP, kMargin);
}

void TFormView::startMenu(const std::vector<std::string>& choices) {
  // Like the film and the movie, a stand-in for what a script would do: the
  // menu opens once the film has run a while, at once without a film.
  constexpr uint32_t kFilmRunMs = 7000;
  menu_ = std::make_unique<TMenuPlayer>(*ScreenList(), choices, film_ ? kFilmRunMs : 0,
                                        [](const std::string& text) {
                                          std::printf("zirkplayer: chosen: %s\n", text.c_str());
                                          std::fflush(stdout);
                                        });
}

void TFormView::openWindow() {
  if (options_.NoWindow) return;
  platform::WindowOptions w;
  w.title = "ZirkPlayer";
  w.width = ScreenList()->Width();
  w.height = ScreenList()->Height();
  w.headless = options_.Headless;
  try {
    window_ = std::make_unique<platform::MainWindow>(w);
  } catch (const platform::WindowError& e) {
    if (options_.Headless) throw;
    throw platform::WindowError(std::string(e.what()) + "; --headless plays without one");
  }
}

void TFormView::presentScene() {
  TZirkBaseList& scene = *ScreenList();
  scene.SetPresenter([this](TCustomDIBX& picture, const std::vector<TRect>& changed) {
    if (!window_) return;
    std::vector<platform::RECT> rects;
    rects.reserve(changed.size());
    for (const TRect& r : changed) rects.push_back({r.Left, r.Top, r.Right, r.Bottom});
    window_->Present(picture.Pixels(), rects);
  });
  scene.RedrawAll();
}

void TFormView::reportError(const std::string& text) {
  std::fprintf(stderr, "zirkplayer: %s\n", text.c_str());
  std::fflush(stderr);
  if (!options_.Headless && !options_.NoWindow)
    platform::ShowWindowMessageBox(text, "ZirkPlayer", platform::MB_ICONERROR);
}

void TFormView::RequestClose() {
  closing_ = true;
  application_.Terminate();
}

void TFormView::HandleException(const std::exception& error) {
  if (closing_) return;
  reportError(error.what());
  exitCode_ = 1;
  RequestClose();
}

void TFormView::Close() {
  if (closed_) return;
  RequestClose();
  if (options_.Screenshot && runtimeUp_ && !startupFailed_) writeScreenshot();
  TraceHook("TProject.Free", true);
  SetCurrentProject(nullptr);
  project_.reset();
  // The film's cinema and the menu leave the scene while the scene is whole.
  menu_.reset();
  film_.reset();
  loop_.reset();
  if (runtimeUp_) {
    TraceHook("ZirkFinalize", true);
    if (TZirkBaseList* scene = ScreenList()) scene->SetPresenter({});
    ZirkFinalize();
    runtimeUp_ = false;
  }
  TraceHook("MediaFinal", true);
  // The media finalisation frees the screen manager first, then the media
  // managers.
  if (screenMan_) {
    TraceHook("ScreenMan.Free", true);
    ScreenMan = nullptr;
    screenMan_.reset();
  }
  call(MediaHooks().MediaFinal);
  dxSound_->Finalize();
  if (files_ && TVrFileManager::Global() == files_.get()) TVrFileManager::SetGlobal(nullptr);
  window_.reset();
  if (stepClock_) {
    platform::SetClock(nullptr);
    stepClock_.reset();
  }
  closed_ = true;
}

void TFormView::writeScreenshot() {
  TZirkBaseList* scene = ScreenList();
  TCustomDIBX* picture = scene ? scene->PresentedSurface() : nullptr;
  if (!picture) return;
  try {
    SaveScreenshot(*picture, *options_.Screenshot);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zirkplayer: cannot write the screenshot %s: %s\n",
                 options_.Screenshot->c_str(), e.what());
    exitCode_ = 1;
  }
}

bool TFormView::WantsIdle() const {
  return active_ && !closing_ && !application_.Terminated() && ScreenMan != nullptr && loop_;
}

uint32_t TFormView::Idle() {
  const auto done = [this] {
    return options_.Frames && loop_->TickCount() >= static_cast<uint64_t>(*options_.Frames);
  };
  if (done()) {
    RequestClose();
    return 0;
  }
  const uint32_t wait = loop_->Idle();
  if (done()) RequestClose();
  return wait;
}

void TFormView::Pace(uint32_t wait) {
  if (stepClock_) {
    stepClock_->Step();
  } else if (wait > 0) {
    application_.WaitMessages(wait);
  }
}

bool TFormView::ShowsWindow() const {
  return window_ && !window_->Headless();
}

int TFormView::PumpWindowEvents() {
  if (!window_) return 0;
  return window_->PumpEvents([this](const platform::Message& m) { WndProc(m); });
}

void TFormView::onActivate(bool active) {
  // A headless player has no user to leave it.
  if (active == active_ || options_.Headless) return;
  active_ = active;
  if (!active) {
    call(MediaHooks().SuspendAll, true);
  } else {
    if (loop_) loop_->ResetClock();
    call(MediaHooks().ResumeAll, true);
  }
}

void TFormView::onKey(const platform::Message& message, bool down) {
  const int32_t vk = static_cast<int32_t>(message.wParam & 0xFF);
  if (down && vk == platform::VK_RETURN && (message.lParam & platform::kKeyAltDown) != 0) {
    if ((message.lParam & platform::kKeyWasDown) == 0) SetFullScreen(!fullScreen_);
    return;
  }
  TZirkBaseList* scene = runtimeUp_ ? ScreenList() : nullptr;
  if (!scene) return;
  if (!down) {
    scene->InputKeyUp(vk);
  } else if ((message.lParam & platform::kKeyWasDown) == 0) {
    // The scene times its own key repeat.
    scene->InputKeyDown(vk);
  }
}

platform::LRESULT TFormView::WndProc(const platform::Message& message) {
  using namespace platform;
  TZirkBaseList* scene = runtimeUp_ && !closing_ ? ScreenList() : nullptr;
  const uint32_t msg = message.msg;
  if (msg == WM_VIDEVENT || msg == WM_DISPLAYCHANGE) call(MediaHooks().VidmanProcessEvent, message);
  switch (msg) {
    case WM_CLOSE:
      // The window may be in the middle of handing out its events: the
      // game is freed once the message loop has ended.
      RequestClose();
      return 0;
    case WM_ACTIVATEAPP:
      onActivate(message.wParam != 0);
      break;
    case WM_ENTERMENULOOP:
    case WM_ENTERSIZEMOVE:
      call(MediaHooks().SuspendAll, false);
      break;
    case WM_EXITMENULOOP:
    case WM_EXITSIZEMOVE:
      call(MediaHooks().ResumeAll, false);
      break;
    case WM_PAINT:
      if (panelHandle_ != 0) SendMessage(panelHandle_, WM_PAINT);
      break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      onKey(message, true);
      break;
    case WM_KEYUP:
    case WM_SYSKEYUP:
      onKey(message, false);
      break;
    case WM_MOUSEMOVE:
      if (scene) scene->InputMouseMove(PointParamX(message.lParam), PointParamY(message.lParam));
      break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
      if (!scene) break;
      const TMouseButton button =
          (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP)   ? TMouseButton::Left
          : (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONUP) ? TMouseButton::Right
                                                           : TMouseButton::Middle;
      const int32_t x = PointParamX(message.lParam), y = PointParamY(message.lParam);
      if (msg == WM_LBUTTONDOWN || msg == WM_RBUTTONDOWN || msg == WM_MBUTTONDOWN)
        scene->InputMouseDown(button, x, y);
      else
        scene->InputMouseUp(button, x, y);
      break;
    }
    case WM_MOUSEWHEEL:
      if (scene) scene->InputWheel(WheelParamDelta(message.wParam));
      break;
    case TMainLoop::kTickMessage:
      if (loop_ && !closing_) loop_->Tick();
      break;
    case WM_SYSCOMMAND:
      WMSysCommand(static_cast<uint32_t>(message.wParam));
      break;
    default:
      break;
  }
  Dispatch(message);
  // The library's audio events come after the default handling.
  if (msg >= WM_WMPEVENT_FIRST && msg <= WM_WMPEVENT_LAST && msg != WM_VIDEVENT)
    call(MediaHooks().WmpmanProcessEvent, message);
  return 0;
}

void TFormView::remakeHandles() {
  // The window is made anew, as the media library expects of a mode switch:
  // messages still queued for the old handles are dropped with them.
  const platform::HWND oldWindow = Handle(), oldPanel = panelHandle_;
  const platform::HWND window =
      platform::AllocateHWnd([this](const platform::Message& m) { return WndProc(m); });
  panelHandle_ = makePanel();
  mainWindowHandle_ = window;
  mainPanelHandle_ = panelHandle_;
  SetHandle(window);
  platform::DeallocateHWnd(oldWindow);
  if (oldPanel != 0) platform::DeallocateHWnd(oldPanel);
}

void TFormView::SetFullScreen(bool fullScreen) {
  if (fullScreen == fullScreen_ || closing_) return;
  if (window_ && window_->Headless()) return;
  const TMediaHooks& hooks = MediaHooks();
  call(hooks.SuspendVideoPlayback);
  call(hooks.CloseMidiDevice);
  TZirkBaseList* scene = runtimeUp_ ? ScreenList() : nullptr;
  if (scene) scene->ReleaseSurfaces();
  const bool switched = !window_ || window_->SetFullScreen(fullScreen);
  if (switched) {
    fullScreen_ = fullScreen;
    remakeHandles();
  }
  if (scene) {
    scene->RestoreSurfaces();
    scene->RedrawAll();
  }
  call(hooks.ReopenMidiDevice);
  call(hooks.ResumeVideoPlayback);
}

}  // namespace zirk
