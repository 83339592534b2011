#pragma once
// Stand-in for the main window: an SDL window showing a 32-bit picture
// through a streaming texture, full-screen switching, and the window's input
// turned into the Windows messages and virtual-key numbers the shell's window
// procedure expects. Headless, the window lives on SDL's dummy (or offscreen)
// video driver: nothing shows, and no input arrives.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/messages.h"

namespace zirk::platform {

// Windows' message numbers, as the window procedure compares them.
constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_ACTIVATEAPP = 0x001C;
constexpr uint32_t WM_DISPLAYCHANGE = 0x007E;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr uint32_t WM_MBUTTONUP = 0x0208;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;
constexpr uint32_t WM_ENTERMENULOOP = 0x0211;
constexpr uint32_t WM_EXITMENULOOP = 0x0212;
constexpr uint32_t WM_ENTERSIZEMOVE = 0x0231;
constexpr uint32_t WM_EXITSIZEMOVE = 0x0232;

// One notch of the wheel.
constexpr int32_t WHEEL_DELTA = 120;
// Bit 30 of a key message's lParam: the key was already down (auto-repeat).
constexpr LPARAM kKeyWasDown = LPARAM{1} << 30;
// Bit 29 of a key message's lParam: Alt was held.
constexpr LPARAM kKeyAltDown = LPARAM{1} << 29;

// Windows' virtual-key numbers of the keys without a character.
constexpr int32_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                  VK_CONTROL = 0x11, VK_MENU = 0x12, VK_PAUSE = 0x13, VK_CAPITAL = 0x14,
                  VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23,
                  VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
                  VK_SNAPSHOT = 0x2C, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_LWIN = 0x5B,
                  VK_RWIN = 0x5C, VK_APPS = 0x5D, VK_NUMPAD0 = 0x60, VK_MULTIPLY = 0x6A,
                  VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_DECIMAL = 0x6E, VK_DIVIDE = 0x6F,
                  VK_F1 = 0x70, VK_NUMLOCK = 0x90, VK_SCROLL = 0x91, VK_OEM_1 = 0xBA,
                  VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD,
                  VK_OEM_PERIOD = 0xBE, VK_OEM_2 = 0xBF, VK_OEM_3 = 0xC0, VK_OEM_4 = 0xDB,
                  VK_OEM_5 = 0xDC, VK_OEM_6 = 0xDD, VK_OEM_7 = 0xDE, VK_OEM_102 = 0xE2;

// Client coordinates packed as Windows packs them: x in the low word, y in
// the high word, each a signed 16-bit number.
LPARAM MakePointParam(int32_t x, int32_t y);
int32_t PointParamX(LPARAM lParam);
int32_t PointParamY(LPARAM lParam);
// The wheel's wParam: the signed delta in the high word.
WPARAM MakeWheelParam(int32_t delta);
int32_t WheelParamDelta(WPARAM wParam);

// The virtual key of an SDL key (SDL_Keycode, SDL_Scancode); 0 for keys
// Windows gives no number. Letters and digits follow the keyboard layout,
// as on Windows; every other key its position.
int32_t VirtualKeyFromSdl(int32_t keycode, int32_t scancode);

class WindowError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct WindowOptions {
  std::string title = "ZirkPlayer";
  int32_t width = 640;
  int32_t height = 480;
  bool headless = false;
};

class MainWindow {
 public:
  using MessageHandler = std::function<void(const Message&)>;

  // Opens SDL's video and the window (hidden and focus-less when headless);
  // throws WindowError ("cannot open a window: REASON") when neither a
  // display nor, headless, an offscreen or dummy driver can be had.
  explicit MainWindow(const WindowOptions& options);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Takes every pending SDL event; those of this window reach the handler
  // as Windows messages (window 0). Returns how many were handed on.
  int PumpEvents(const MessageHandler& handler);

  // Copies the changed rectangles of the picture (32-bit rows, 0x00RRGGBB)
  // into the streaming texture and shows it. A picture of another size
  // than the texture's replaces the texture and is copied whole.
  void Present(const PixelBuffer& picture, const std::vector<RECT>& changed);
  // Shows the texture as it is (after an expose).
  void Repaint();

  // The picture's size; the window's client area follows it unless full
  // screen, where the picture is scaled to the display keeping its shape.
  void SetClientSize(int32_t width, int32_t height);
  int32_t ClientWidth() const { return width_; }
  int32_t ClientHeight() const { return height_; }
  // False when the switch failed and the window kept its mode.
  bool SetFullScreen(bool fullScreen);
  bool FullScreen() const { return fullScreen_; }
  bool Headless() const { return headless_; }
  bool HasFocus() const;
  void SetTitle(const std::string& title);
  // The SDL video driver in use ("x11", "wayland", "offscreen", ...).
  std::string VideoDriver() const;
  // How many pictures were shown; tests read it.
  int64_t PresentCount() const { return presents_; }

 private:
  struct Impl;
  void makeTexture(int32_t width, int32_t height);
  void copyRect(const PixelBuffer& picture, const RECT& rect);

  std::unique_ptr<Impl> impl_;
  int32_t width_ = 0, height_ = 0;
  bool fullScreen_ = false;
  bool headless_ = false;
  int64_t presents_ = 0;
};

// Whether SDL can open a window on a display (DISPLAY or WAYLAND_DISPLAY is
// set and a video driver starts).
bool DisplayAvailable();

// Why no window can be shown on a display (no display named, or none
// answering); empty when one can.
std::string DisplayProblem();

// Makes message boxes show as SDL message boxes (after their stderr line)
// while a display exists; the answer is the chosen button's id.
void InstallWindowMessageBox();
// The box on screen alone, without a stderr line; without a display the
// default button answers.
int ShowWindowMessageBox(const std::string& text, const std::string& caption, uint32_t flags);

}  // namespace zirk::platform
