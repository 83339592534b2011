#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "platform/msgbox.h"
#include "platform/window.h"

namespace zirk::platform {
namespace {

TEST(WindowInput, KeysGetWindowsVirtualKeyNumbers) {
  struct Case {
    SDL_Keycode key;
    SDL_Scancode scan;
    int32_t vk;
  } cases[] = {
      {SDLK_a, SDL_SCANCODE_A, 'A'},
      {SDLK_z, SDL_SCANCODE_Z, 'Z'},
      // A French layout: the letter on the key counts, as on Windows.
      {SDLK_a, SDL_SCANCODE_Q, 'A'},
      {SDLK_0, SDL_SCANCODE_0, '0'},
      {SDLK_7, SDL_SCANCODE_7, '7'},
      // The digit row without digits on it (French): by position.
      {SDLK_AMPERSAND, SDL_SCANCODE_1, '1'},
      {SDLK_RETURN, SDL_SCANCODE_RETURN, 13},
      {SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 13},
      {SDLK_SPACE, SDL_SCANCODE_SPACE, 32},
      {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 27},
      {SDLK_LEFT, SDL_SCANCODE_LEFT, 37},
      {SDLK_UP, SDL_SCANCODE_UP, 38},
      {SDLK_RIGHT, SDL_SCANCODE_RIGHT, 39},
      {SDLK_DOWN, SDL_SCANCODE_DOWN, 40},
      {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, VK_SHIFT},
      {SDLK_RCTRL, SDL_SCANCODE_RCTRL, VK_CONTROL},
      {SDLK_LALT, SDL_SCANCODE_LALT, VK_MENU},
      {SDLK_F1, SDL_SCANCODE_F1, 0x70},
      {SDLK_F12, SDL_SCANCODE_F12, 0x7B},
      {SDLK_KP_0, SDL_SCANCODE_KP_0, 0x60},
      {SDLK_KP_9, SDL_SCANCODE_KP_9, 0x69},
      {SDLK_KP_PLUS, SDL_SCANCODE_KP_PLUS, 0x6B},
      {SDLK_PAGEDOWN, SDL_SCANCODE_PAGEDOWN, 0x22},
      {SDLK_DELETE, SDL_SCANCODE_DELETE, 0x2E},
      {SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, 8},
      {SDLK_TAB, SDL_SCANCODE_TAB, 9},
      {SDLK_MINUS, SDL_SCANCODE_MINUS, 0xBD},
      {SDLK_SLASH, SDL_SCANCODE_SLASH, 0xBF},
      {SDLK_UNKNOWN, SDL_SCANCODE_MUTE, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(VirtualKeyFromSdl(c.key, c.scan), c.vk) << c.key;
}

TEST(WindowInput, PointsAndWheelArePackedAsOnWindows) {
  struct Case {
    int32_t x, y;
  } cases[] = {{0, 0}, {639, 479}, {-1, -5}, {32767, -32768}};
  for (const Case& c : cases) {
    const LPARAM l = MakePointParam(c.x, c.y);
    EXPECT_EQ(PointParamX(l), c.x);
    EXPECT_EQ(PointParamY(l), c.y);
  }
  EXPECT_EQ(MakePointParam(2, 3), 0x00030002);
  for (int32_t delta : {120, -120, 360, -32768})
    EXPECT_EQ(WheelParamDelta(MakeWheelParam(delta)), delta);
  EXPECT_EQ(MakeWheelParam(-120) & 0xFFFF, 0u);
}

TEST(MainWindow, HeadlessWindowTakesPicturesOfAnySize) {
  MainWindow window(WindowOptions{.width = 64, .height = 48, .headless = true});
  EXPECT_TRUE(window.Headless());
  EXPECT_FALSE(window.FullScreen());
  EXPECT_EQ(window.ClientWidth(), 64);
  std::vector<uint32_t> pixels(32 * 16, 0x00FF8040);
  PixelBuffer picture{reinterpret_cast<uint8_t*>(pixels.data()), 32 * 4, 32, 16, 32};
  window.Present(picture, {RECT{0, 0, 8, 8}, RECT{-5, -5, 100, 100}});
  EXPECT_EQ(window.ClientWidth(), 32);
  EXPECT_EQ(window.ClientHeight(), 16);
  window.Present(picture, {RECT{4, 4, 2, 2}});
  EXPECT_EQ(window.PresentCount(), 2);
  // Bottom-up rows and fewer bits go through the same copy.
  std::vector<uint8_t> rows(32 * 3 * 16, 0x7F);
  PixelBuffer upside{rows.data() + 32 * 3 * 15, -32 * 3, 32, 16, 24};
  window.Present(upside, {RECT{0, 0, 32, 16}});
  EXPECT_EQ(window.PresentCount(), 3);
  EXPECT_GE(window.PumpEvents({}), 0);
}

TEST(MainWindow, MessageBoxesWithoutADisplayAnswerWithTheirDefaultButton) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(name);
  EXPECT_FALSE(DisplayAvailable());
  InstallWindowMessageBox();
  struct Case {
    uint32_t flags;
    int answer;
  } cases[] = {{MB_OK | MB_ICONERROR, IDOK},
               {MB_YESNO, IDYES},
               {MB_YESNO | MB_DEFBUTTON2, IDNO},
               {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
               {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL}};
  for (const Case& c : cases)
    EXPECT_EQ(MessageBox("text", "caption", c.flags), c.answer) << c.flags;
  SetMessageBoxHandler({});
}

}  // namespace
}  // namespace zirk::platform
