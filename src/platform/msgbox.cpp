#include "platform/msgbox.h"

#include <errno.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace zirk::platform {

namespace {

struct HandlerSlot {
  std::mutex mutex;
  MessageBoxHandler handler;
};

HandlerSlot& handlerSlot() {
  static HandlerSlot slot;
  return slot;
}

const char* iconLabel(uint32_t flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      return "error";
    case MB_ICONQUESTION:
      return "question";
    case MB_ICONEXCLAMATION:
      return "warning";
    case MB_ICONINFORMATION:
      return "information";
    default:
      return nullptr;
  }
}

}  // namespace

int DefaultMessageBoxButton(uint32_t flags) {
  static constexpr int kOk[] = {IDOK};
  static constexpr int kOkCancel[] = {IDOK, IDCANCEL};
  static constexpr int kYesNoCancel[] = {IDYES, IDNO, IDCANCEL};
  static constexpr int kYesNo[] = {IDYES, IDNO};
  const int* buttons = kOk;
  size_t count = 1;
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      buttons = kOkCancel, count = 2;
      break;
    case MB_YESNOCANCEL:
      buttons = kYesNoCancel, count = 3;
      break;
    case MB_YESNO:
      buttons = kYesNo, count = 2;
      break;
    default:
      break;
  }
  size_t index = (flags & MB_DEFMASK) >> 8;
  // A default button the box does not have falls back to the first, as Windows does.
  return buttons[index < count ? index : 0];
}

int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) {
  // Named by the program, as every line it writes to the terminal is.
  std::string line = std::string(program_invocation_short_name) + ": " + caption;
  if (const char* icon = iconLabel(flags)) line += " (" + std::string(icon) + ")";
  line += ": ";
  // Windows texts break lines with CR LF; the CR would only clutter a log.
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    line += text[i];
  }
  // One write, so concurrent boxes do not interleave within a line.
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);

  MessageBoxHandler handler;
  {
    auto& slot = handlerSlot();
    std::lock_guard lock(slot.mutex);
    handler = slot.handler;
  }
  return handler ? handler(text, caption, flags) : DefaultMessageBoxButton(flags);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  auto& slot = handlerSlot();
  std::lock_guard lock(slot.mutex);
  slot.handler = std::move(handler);
}

}  // namespace zirk::platform
