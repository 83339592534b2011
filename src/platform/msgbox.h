#pragma once
// The message box of fatal start-up problems and script errors. It always
// writes to stderr, so a headless run leaves a trace; the player installs a
// handler once at start-up that also shows the box on screen.

#include <cstdint>
#include <functional>
#include <string>

namespace zirk::platform {

// Windows' numbers: callers pass and compare them as on Windows.
constexpr uint32_t MB_OK = 0x00;
constexpr uint32_t MB_OKCANCEL = 0x01;
constexpr uint32_t MB_YESNOCANCEL = 0x03;
constexpr uint32_t MB_YESNO = 0x04;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
constexpr uint32_t MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_TYPEMASK = 0x0F;
constexpr uint32_t MB_ICONMASK = 0xF0;
constexpr uint32_t MB_DEFMASK = 0xF00;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Text and caption are UTF-8; game text is converted before it gets here.
// Returns the id of the button chosen.
int MessageBox(const std::string& text, const std::string& caption, uint32_t flags = MB_OK);

// Shows the box and returns the button; called after the stderr line.
using MessageBoxHandler =
    std::function<int(const std::string& text, const std::string& caption, uint32_t flags)>;
// Installs the handler (an empty one removes it). Meant for start-up, before
// any box is shown; later calls still work but race with a box being shown.
void SetMessageBoxHandler(MessageBoxHandler handler);

// The button a box without a user answers with: its default button.
int DefaultMessageBoxButton(uint32_t flags);

}  // namespace zirk::platform
