// "game.ini" and the command line from untrusted bytes: whatever the text,
// the settings stay in their bounds and a wrong command line is refused
// with a reason, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/cmdline.h"
#include "app/gameini.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TGameSettings settings = ParseGameIni(text);
  if (settings.SoundDelayTime < 100 || settings.SoundDelayTime > 500 ||
      settings.SoundDelayTime % 100 != 0)
    std::abort();
  std::vector<std::string> args;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find('\n', start), text.size());
    args.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  try {
    const TCommandLine line = ParseCommandLine(args);
    if (line.Frames && *line.Frames < 0) std::abort();
  } catch (const std::invalid_argument&) {
  }
  return 0;
}
