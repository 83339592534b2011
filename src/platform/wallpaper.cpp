#include "platform/wallpaper.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

namespace zirk::platform {

namespace {

// Relative values are invalid by the base-directory rules and ignored.
std::filesystem::path absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return {};
  std::filesystem::path p(value);
  return p.is_absolute() ? p : std::filesystem::path();
}

}  // namespace

std::filesystem::path WallpaperFileName() {
  std::filesystem::path data = absoluteEnv("XDG_DATA_HOME");
  if (data.empty()) {
    std::filesystem::path home = absoluteEnv("HOME");
    if (home.empty()) home = std::filesystem::temp_directory_path();
    data = home / ".local" / "share";
  }
  return data / "zirkplayer" / "wallpaper.png";
}

std::filesystem::path SetDesktopWallpaper(const std::vector<uint8_t>& png) {
  const std::filesystem::path fileName = WallpaperFileName();
  std::error_code ec;
  std::filesystem::create_directories(fileName.parent_path(), ec);
  if (ec) return {};
  std::filesystem::path temp = fileName;
  temp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temp, ec);
      return {};
    }
  }
  std::filesystem::rename(temp, fileName, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return {};
  }
  return fileName;
}

}  // namespace zirk::platform
