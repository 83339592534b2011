#include "app/cmdline.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <stdexcept>

#include "base/sjis.h"

namespace zirk {

namespace {

const std::string& valueOf(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size() || args[i + 1].empty())
    throw std::invalid_argument(args[i] + " needs a value");
  return args[++i];
}

// The choices are split while still UTF-8: a trail byte of a Shift-JIS
// character can be the byte of "|".
std::vector<std::string> menuChoices(const std::string& utf8) {
  std::vector<std::string> choices;
  size_t start = 0;
  for (;;) {
    const size_t bar = utf8.find('|', start);
    const std::string choice = utf8.substr(start, bar == std::string::npos ? bar : bar - start);
    // A control character would split or trim the menu's rows.
    const bool control = std::any_of(choice.begin(), choice.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 32; });
    std::string sjis;
    if (choice.empty() || control)
      throw std::invalid_argument("--menu needs choices of text between the \"|\", not \"" + utf8 +
                                  "\"");
    if (!Utf8ToSjis(choice, sjis))
      throw std::invalid_argument("--menu: \"" + choice +
                                  "\" is not UTF-8 text that Shift-JIS can hold");
    choices.push_back(std::move(sjis));
    if (bar == std::string::npos) return choices;
    start = bar + 1;
  }
}

// A file name as the game spells it, and as messages show it. The shell
// hands over the name as the folder listing shows it, UTF-8, and the game
// names its files in Shift-JIS; a name that is not UTF-8 (Shift-JIS bytes
// typed as such) or that Shift-JIS cannot hold stays as it came. Such a
// UTF-8 name, read back as the game's Shift-JIS, would come out garbled, so
// it is shown as typed.
void takeGameFileName(const std::string& typed, std::optional<std::string>& name,
                      std::string& shown) {
  std::string sjis;
  const bool converts = Utf8ToSjis(typed, sjis);
  name = converts ? sjis : typed;
  if (converts || !Utf8ForMessage(typed, shown)) shown = SjisForMessage(*name);
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  TCommandLine line;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      line.Folders.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--film") {
      takeGameFileName(valueOf(args, i), line.Film, line.FilmShown);
    } else if (arg == "--movie") {
      takeGameFileName(valueOf(args, i), line.Movie, line.MovieShown);
    } else if (arg == "--menu") {
      line.Menu = menuChoices(valueOf(args, i));
    } else if (arg == "--headless") {
      line.Headless = true;
    } else if (arg == "--frames") {
      const std::string& text = valueOf(args, i);
      int64_t frames = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), frames);
      if (ec != std::errc() || end != text.data() + text.size() || frames < 0)
        throw std::invalid_argument("--frames needs a count of 0 or more, not \"" + text + "\"");
      line.Frames = frames;
    } else if (arg == "--screenshot") {
      const std::string& file = valueOf(args, i);
      // The screenshot is always PNG; a name promising another format would
      // mislead whatever opens it.
      std::string extension = std::filesystem::path(file).extension().string();
      for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (extension != ".png")
        throw std::invalid_argument("--screenshot writes PNG: name a .png file, not \"" + file +
                                    "\"");
      line.Screenshot = file;
    } else if (arg == "--help" || arg == "-h") {
      line.Help = true;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
  }
  return line;
}

std::string CommandLineUsage() {
  return "usage: zirkplayer [GAMEFOLDER ...] [--film NAME] [--movie NAME] [--menu CHOICES]\n"
         "                  [--headless] [--frames N] [--screenshot FILE.png]\n"
         "  GAMEFOLDER         the game's folder (default: the program's folder); further\n"
         "                     folders are searched for game files after it\n"
         "  --film NAME        play the film file NAME of the game\n"
         "  --movie NAME       play the movie file NAME of the game, looping, in the top\n"
         "                     right corner of the screen, above the film\n"
         "  --menu CHOICES     open a pop-up menu of the choices, separated by \"|\", in the\n"
         "                     middle of the screen after 7 seconds of the film (at once\n"
         "                     without one); a choice prints \"zirkplayer: chosen: TEXT\",\n"
         "                     a right click or Escape closes the menu\n"
         "  --headless         no window; a fixed step of 1000/60 ms per tick, no waiting\n"
         "  --frames N         close after N ticks\n"
         "  --screenshot FILE  write the screen as PNG when closing (FILE ends in .png)\n"
         "  -h, --help         print this help\n";
}

}  // namespace zirk
