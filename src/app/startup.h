#pragma once
// The program's start-up: module initialisation, the command line, one
// player per game folder, the main window and the message loop.

#include <string>
#include <vector>

namespace zirk {

// Every module's initialisation in dependency order: picture formats, the
// image cache, the object kinds, the media library binding. False when the
// program must end (the media library is missing or of another version;
// the message box has been shown).
bool InitializeModules();
// The picture formats, the image cache and the object kinds alone.
void RegisterPlayerModules();
void FinalizeModules();

// The whole program; returns the exit code (0 done, 1 failed, 2 wrong
// usage, 3 another player has the game folder).
int RunPlayer(const std::vector<std::string>& args);

}  // namespace zirk
