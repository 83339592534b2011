#pragma once
// The player's command line:
//   zirkplayer [GAMEFOLDER ...] [--film NAME] [--movie NAME] [--menu CHOICES]
//              [--headless] [--frames N] [--screenshot FILE.png]
// The first folder is the base folder, further ones are search folders.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zirk {

struct TCommandLine {
  std::vector<std::string> Folders;
  // Game file names, given in UTF-8 (or as Shift-JIS bytes), as the game's
  // Shift-JIS.
  std::optional<std::string> Film;
  std::optional<std::string> Movie;
  // How messages name them: as game text, except that a UTF-8 name
  // Shift-JIS cannot hold, which stays as typed, is shown as typed.
  std::string FilmShown;
  std::string MovieShown;
  // The menu's choices, given in UTF-8 separated by "|", as the game's
  // Shift-JIS text.
  std::optional<std::vector<std::string>> Menu;
  bool Headless = false;
  std::optional<int64_t> Frames;  // ticks to run before closing
  std::optional<std::string> Screenshot;
  bool Help = false;
};

// Throws std::invalid_argument with a one-line reason for a wrong command line.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage text, one option a line.
std::string CommandLineUsage();

}  // namespace zirk
