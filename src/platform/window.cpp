#include "platform/window.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/msgbox.h"

namespace zirk::platform {

namespace {

constexpr WPARAM MK_LBUTTON = 0x0001;
constexpr WPARAM MK_RBUTTON = 0x0002;
constexpr WPARAM MK_MBUTTON = 0x0010;

WPARAM buttonState(uint32_t sdlState) {
  WPARAM state = 0;
  if (sdlState & SDL_BUTTON_LMASK) state |= MK_LBUTTON;
  if (sdlState & SDL_BUTTON_RMASK) state |= MK_RBUTTON;
  if (sdlState & SDL_BUTTON_MMASK) state |= MK_MBUTTON;
  return state;
}

uint32_t buttonMessage(uint8_t button, bool down) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    case SDL_BUTTON_RIGHT:
      return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    case SDL_BUTTON_MIDDLE:
      return down ? WM_MBUTTONDOWN : WM_MBUTTONUP;
    default:
      return 0;
  }
}

const char* variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

// Left to itself SDL falls back to its offscreen driver, where a window
// shows nowhere and takes no input: a window on screen starts the driver of
// a display the environment names (or the driver the user chose), or none.
// False with the reason when none starts.
bool initDisplayVideo(std::string& reason) {
  if (const char* chosen = variable("SDL_VIDEODRIVER")) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    reason = std::string("the video driver ") + chosen + " does not start: " + SDL_GetError();
    return false;
  }
  struct Display {
    const char* variable;
    const char* driver;
  };
  reason.clear();
  for (const Display& d : {Display{"WAYLAND_DISPLAY", "wayland"}, Display{"DISPLAY", "x11"}}) {
    const char* value = variable(d.variable);
    if (value == nullptr) continue;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, d.driver);
    const bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
    if (ok) return true;
    if (!reason.empty()) reason += ", ";
    reason += std::string("no display answers at ") + d.variable + "=" + value;
  }
  if (reason.empty()) reason = "no display (DISPLAY and WAYLAND_DISPLAY are not set)";
  return false;
}

// SDL counts the inits of its video subsystem: every window holds one and
// its destructor gives it back. Headless, the dummy driver comes first: the
// offscreen one brings up a GL stack that nothing here draws with.
bool initVideo(bool headless, std::string& reason) {
  if (!headless) return initDisplayVideo(reason);
  if (SDL_WasInit(SDL_INIT_VIDEO) != 0) return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  for (const char* driver : {"dummy", "offscreen"}) {
    SDL_SetHint(SDL_HINT_VIDEODRIVER, driver);
    const bool ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    // The hint would otherwise steer a later window off the display.
    SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
    if (ok) return true;
  }
  reason = std::string("SDL video does not start: ") + SDL_GetError();
  return false;
}

}  // namespace

LPARAM MakePointParam(int32_t x, int32_t y) {
  const uint32_t packed = (static_cast<uint32_t>(static_cast<uint16_t>(x))) |
                          (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16);
  return static_cast<LPARAM>(packed);
}

int32_t PointParamX(LPARAM lParam) {
  return static_cast<int16_t>(static_cast<uint16_t>(lParam & 0xFFFF));
}

int32_t PointParamY(LPARAM lParam) {
  return static_cast<int16_t>(static_cast<uint16_t>((lParam >> 16) & 0xFFFF));
}

WPARAM MakeWheelParam(int32_t delta) {
  return static_cast<WPARAM>(static_cast<uint16_t>(delta)) << 16;
}

int32_t WheelParamDelta(WPARAM wParam) {
  return static_cast<int16_t>(static_cast<uint16_t>((wParam >> 16) & 0xFFFF));
}

struct MainWindow::Impl {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  uint32_t windowId = 0;

  ~Impl() {
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }
};

MainWindow::MainWindow(const WindowOptions& options) : headless_(options.headless) {
  std::string reason;
  if (!initVideo(options.headless, reason)) throw WindowError("cannot open a window: " + reason);
  impl_ = std::make_unique<Impl>();
  const int32_t width = std::max(options.width, 1);
  const int32_t height = std::max(options.height, 1);
  uint32_t flags = options.headless ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN;
  impl_->window = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED,
                                   SDL_WINDOWPOS_CENTERED, width, height, flags);
  if (!impl_->window) throw WindowError(std::string("cannot open a window: ") + SDL_GetError());
  impl_->windowId = SDL_GetWindowID(impl_->window);
  if (!options.headless)
    impl_->renderer = SDL_CreateRenderer(impl_->window, -1, SDL_RENDERER_ACCELERATED);
  if (!impl_->renderer)
    impl_->renderer = SDL_CreateRenderer(impl_->window, -1, SDL_RENDERER_SOFTWARE);
  if (!impl_->renderer)
    throw WindowError(std::string("cannot draw into the window: ") + SDL_GetError());
  makeTexture(width, height);
}

MainWindow::~MainWindow() = default;

void MainWindow::makeTexture(int32_t width, int32_t height) {
  if (impl_->texture) SDL_DestroyTexture(impl_->texture);
  impl_->texture = SDL_CreateTexture(impl_->renderer, SDL_PIXELFORMAT_RGB888,
                                     SDL_TEXTUREACCESS_STREAMING, width, height);
  if (!impl_->texture)
    throw WindowError(std::string("cannot make the window's picture: ") + SDL_GetError());
  SDL_RenderSetLogicalSize(impl_->renderer, width, height);
  width_ = width;
  height_ = height;
  // Until the first picture arrives the texture holds whatever memory held.
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(impl_->texture, nullptr, &pixels, &pitch) == 0) {
    std::memset(pixels, 0, static_cast<size_t>(pitch) * static_cast<size_t>(height));
    SDL_UnlockTexture(impl_->texture);
  }
}

void MainWindow::SetClientSize(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_) return;
  if (!fullScreen_) SDL_SetWindowSize(impl_->window, width, height);
  makeTexture(width, height);
}

bool MainWindow::SetFullScreen(bool fullScreen) {
  if (fullScreen == fullScreen_) return true;
  if (SDL_SetWindowFullscreen(impl_->window, fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0)
    return false;
  fullScreen_ = fullScreen;
  if (!fullScreen) SDL_SetWindowSize(impl_->window, width_, height_);
  SDL_ShowCursor(fullScreen ? SDL_DISABLE : SDL_ENABLE);
  Repaint();
  return true;
}

bool MainWindow::HasFocus() const {
  return (SDL_GetWindowFlags(impl_->window) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

void MainWindow::SetTitle(const std::string& title) {
  SDL_SetWindowTitle(impl_->window, title.c_str());
}

std::string MainWindow::VideoDriver() const {
  const char* name = SDL_GetCurrentVideoDriver();
  return name ? name : "";
}

void MainWindow::copyRect(const PixelBuffer& picture, const RECT& rect) {
  SDL_Rect r{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  if (r.w <= 0 || r.h <= 0) return;
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(impl_->texture, &r, &pixels, &pitch) != 0) return;
  auto* out = static_cast<uint8_t*>(pixels);
  for (int32_t y = 0; y < r.h; ++y) {
    auto* dst = reinterpret_cast<uint32_t*>(out + static_cast<ptrdiff_t>(y) * pitch);
    if (picture.bitCount == 32) {
      std::memcpy(dst, picture.row(r.y + y) + static_cast<ptrdiff_t>(r.x) * 4,
                  static_cast<size_t>(r.w) * 4);
    } else {
      for (int32_t x = 0; x < r.w; ++x) {
        const COLORREF c = PixelValueToColor(picture, ReadPixelValue(picture, r.x + x, r.y + y));
        dst[x] = (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
      }
    }
  }
  SDL_UnlockTexture(impl_->texture);
}

void MainWindow::Present(const PixelBuffer& picture, const std::vector<RECT>& changed) {
  if (picture.empty()) return;
  std::vector<RECT> rects = changed;
  if (picture.width != width_ || picture.height != height_) {
    SetClientSize(picture.width, picture.height);
    rects = {RECT{0, 0, picture.width, picture.height}};
  }
  for (RECT r : rects) {
    r.left = std::clamp(r.left, 0, width_);
    r.right = std::clamp(r.right, 0, width_);
    r.top = std::clamp(r.top, 0, height_);
    r.bottom = std::clamp(r.bottom, 0, height_);
    copyRect(picture, r);
  }
  Repaint();
}

void MainWindow::Repaint() {
  SDL_SetRenderDrawColor(impl_->renderer, 0, 0, 0, 255);
  SDL_RenderClear(impl_->renderer);
  SDL_RenderCopy(impl_->renderer, impl_->texture, nullptr, nullptr);
  SDL_RenderPresent(impl_->renderer);
  ++presents_;
}

int MainWindow::PumpEvents(const MessageHandler& handler) {
  int count = 0;
  auto send = [&](uint32_t msg, WPARAM wParam, LPARAM lParam) {
    ++count;
    if (handler) handler(Message{0, msg, wParam, lParam});
  };
  SDL_Event e;
  while (SDL_PollEvent(&e) != 0) {
    switch (e.type) {
      case SDL_QUIT:
        send(WM_CLOSE, 0, 0);
        break;
      case SDL_WINDOWEVENT:
        if (e.window.windowID != impl_->windowId) break;
        switch (e.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            send(WM_CLOSE, 0, 0);
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
          case SDL_WINDOWEVENT_RESTORED:
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED || HasFocus())
              send(WM_ACTIVATEAPP, 1, 0);
            break;
          case SDL_WINDOWEVENT_FOCUS_LOST:
          case SDL_WINDOWEVENT_MINIMIZED:
            send(WM_ACTIVATEAPP, 0, 0);
            break;
          case SDL_WINDOWEVENT_EXPOSED:
            Repaint();
            send(WM_PAINT, 0, 0);
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            send(WM_SIZE, 0, MakePointParam(e.window.data1, e.window.data2));
            break;
          default:
            break;
        }
        break;
      case SDL_MOUSEMOTION:
        if (e.motion.windowID != impl_->windowId) break;
        send(WM_MOUSEMOVE, buttonState(e.motion.state), MakePointParam(e.motion.x, e.motion.y));
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP: {
        if (e.button.windowID != impl_->windowId) break;
        const uint32_t msg = buttonMessage(e.button.button, e.type == SDL_MOUSEBUTTONDOWN);
        if (msg != 0)
          send(msg, buttonState(SDL_GetMouseState(nullptr, nullptr)),
               MakePointParam(e.button.x, e.button.y));
        break;
      }
      case SDL_MOUSEWHEEL: {
        if (e.wheel.windowID != impl_->windowId) break;
        int32_t notches = e.wheel.y;
        if (e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
        if (notches != 0) {
          int x = 0, y = 0;
          SDL_GetMouseState(&x, &y);
          send(WM_MOUSEWHEEL, MakeWheelParam(notches * WHEEL_DELTA), MakePointParam(x, y));
        }
        break;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        if (e.key.windowID != impl_->windowId) break;
        const int32_t vk = VirtualKeyFromSdl(e.key.keysym.sym, e.key.keysym.scancode);
        if (vk == 0) break;
        const bool down = e.type == SDL_KEYDOWN;
        const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
        LPARAM lParam = 1;  // repeat count
        if (down && e.key.repeat) lParam |= kKeyWasDown;
        if (!down) lParam |= kKeyWasDown | (LPARAM{1} << 31);
        // As on Windows: with Alt held (or for Alt itself) the keys come as
        // system keys.
        const bool system = alt || vk == VK_MENU;
        if (alt) lParam |= kKeyAltDown;
        const uint32_t msg =
            down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
        send(msg, static_cast<WPARAM>(vk), lParam);
        break;
      }
      default:
        break;
    }
  }
  return count;
}

bool DisplayAvailable() {
  return variable("DISPLAY") != nullptr || variable("WAYLAND_DISPLAY") != nullptr;
}

std::string DisplayProblem() {
  std::string reason;
  if (!initDisplayVideo(reason)) return reason;
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return {};
}

void InstallWindowMessageBox() {
  SetMessageBoxHandler(ShowWindowMessageBox);
}

int ShowWindowMessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  if (!DisplayAvailable()) return DefaultMessageBoxButton(flags);
  struct Button {
    const char* label;
    int id;
  };
  std::vector<Button> buttons;
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      buttons = {{"OK", IDOK}, {"Cancel", IDCANCEL}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{"Yes", IDYES}, {"No", IDNO}, {"Cancel", IDCANCEL}};
      break;
    case MB_YESNO:
      buttons = {{"Yes", IDYES}, {"No", IDNO}};
      break;
    default:
      buttons = {{"OK", IDOK}};
      break;
  }
  const int defaultId = DefaultMessageBoxButton(flags);
  std::vector<SDL_MessageBoxButtonData> data;
  for (const Button& b : buttons) {
    uint32_t bflags = 0;
    if (b.id == defaultId) bflags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
    if (b.id == IDCANCEL || (buttons.size() == 1 && b.id == IDOK))
      bflags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
    data.push_back(SDL_MessageBoxButtonData{bflags, b.id, b.label});
  }
  uint32_t kind = SDL_MESSAGEBOX_INFORMATION;
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      kind = SDL_MESSAGEBOX_ERROR;
      break;
    case MB_ICONEXCLAMATION:
      kind = SDL_MESSAGEBOX_WARNING;
      break;
    default:
      break;
  }
  const SDL_MessageBoxData box{
      kind,        nullptr, caption.c_str(), text.c_str(), static_cast<int>(data.size()),
      data.data(), nullptr};
  int chosen = -1;
  if (SDL_ShowMessageBox(&box, &chosen) != 0 || chosen < 0) return defaultId;
  return chosen;
}

}  // namespace zirk::platform
