#pragma once
// The frame of the demo's pop-up menu: nine border pictures, one for each
// cell of a menu's frame (corners, edges and the middle), that the player's
// --menu reads from the game folder.

#include <filesystem>

namespace zirk::demo {

// Writes "menutl.dor" .. "menubr.dor" into the folder.
void WriteMenuPictures(const std::filesystem::path& folder);

}  // namespace zirk::demo
