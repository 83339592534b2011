#pragma once
// The desktop picture. This system changes no desktop: the picture a game
// asks for is kept as a PNG file, wallpaper.png under
// $XDG_DATA_HOME/zirkplayer/ (else ~/.local/share/zirkplayer/), where a user
// or a desktop script can pick it up.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace zirk::platform {

std::filesystem::path WallpaperFileName();

// Writes the PNG data (to a temporary file renamed over the old picture,
// so a failed write keeps the previous one) and returns the file's path;
// an empty path when it cannot be written.
std::filesystem::path SetDesktopWallpaper(const std::vector<uint8_t>& png);

}  // namespace zirk::platform
