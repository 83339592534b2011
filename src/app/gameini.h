#pragma once
// "game.ini" in the program folder: the sound settings of section "Sound".
// The settings dialog writes it; the player only reads it at start-up.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zirk {

struct TGameSettings {
  // "DirectSound": play through the sound component (else the wave mixer).
  bool UseDirectSound = true;
  // "DelayTime": the wave mixer's block length in ms.
  int32_t SoundDelayTime = 500;
  // Not read from the file: no key exists for them.
  bool OggUseThread = true;
  bool ZirkInitOption = false;
};

// Rounded down to a multiple of 100 and kept within 100..500.
int32_t NormalizeSoundDelayTime(int64_t ms);

// The settings of an ini text; missing or unreadable values keep their
// defaults. Section and key names compare case-insensitively.
TGameSettings ParseGameIni(std::string_view text);
// Bytes no settings file reaches: a larger file is not read.
constexpr int64_t kGameIniLimit = 64 * 1024;

// The same from a file; a missing file, or one that is not a regular file
// of at most kGameIniLimit bytes, gives the defaults.
TGameSettings ReadGameIni(const std::filesystem::path& file);

}  // namespace zirk
