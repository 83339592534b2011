#include "platform/msgbox.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

namespace zirk::platform {
namespace {

struct HandlerGuard {
  ~HandlerGuard() { SetMessageBoxHandler(nullptr); }
};

TEST(MessageBox, UnattendedBoxAnswersWithItsDefaultButton) {
  struct Case {
    uint32_t flags;
    int button;
  } cases[] = {
      {MB_OK, IDOK},
      {MB_OK | MB_ICONEXCLAMATION, IDOK},
      {MB_OKCANCEL, IDOK},
      {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
      {MB_YESNO, IDYES},
      {MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION, IDNO},
      {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
      {MB_OK | MB_DEFBUTTON3, IDOK},  // no third button: the first one
      {MB_YESNO | MB_DEFBUTTON3, IDYES},
  };
  for (auto c : cases) {
    testing::internal::CaptureStderr();
    int got = MessageBox("text", "caption", c.flags);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, c.button) << std::hex << c.flags;
  }
}

TEST(MessageBox, AlwaysWritesOneLineToStderr) {
  struct Case {
    std::string text;
    uint32_t flags;
    std::string line;
  } cases[] = {
      {"zirk.dll\r\nファイルがありません", MB_ICONEXCLAMATION,
       "Error (warning): zirk.dll\nファイルがありません\n"},
      {"plain", MB_OK, "Error: plain\n"},
      {"bad", MB_ICONERROR, "Error (error): bad\n"},
      {"a\rb", MB_ICONINFORMATION, "Error (information): a\rb\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    MessageBox(c.text, "Error", c.flags);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": " + c.line);
  }
}

TEST(MessageBox, InstalledHandlerShowsTheBoxAndAnswers) {
  HandlerGuard guard;
  std::string seenText, seenCaption;
  uint32_t seenFlags = 0;
  SetMessageBoxHandler([&](const std::string& text, const std::string& caption, uint32_t flags) {
    seenText = text, seenCaption = caption, seenFlags = flags;
    return IDNO;
  });
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("zirk.dllのバージョンがあいません", "Error", MB_YESNO), IDNO);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(seenText, "zirk.dllのバージョンがあいません");  // unchanged for the screen
  EXPECT_EQ(seenCaption, "Error");
  EXPECT_EQ(seenFlags, MB_YESNO);
  EXPECT_NE(err.find("zirk.dllのバージョンがあいません"), std::string::npos);

  SetMessageBoxHandler(nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBox("x", "y", MB_YESNO), IDYES);
  testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace zirk::platform
