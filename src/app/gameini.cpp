#include "app/gameini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <sstream>

namespace zirk {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// An ini integer as the class library reads it: decimal with an optional
// sign, or hexadecimal after "$" or "0x"; anything else is no number.
std::optional<int64_t> parseInteger(std::string_view s) {
  s = trim(s);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (!s.empty() && s.front() == '$') {
    base = 16;
    s.remove_prefix(1);
  } else if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : s) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    // Beyond 32 bits the class library refuses the number.
    if (value > INT64_C(0xFFFFFFFF)) return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

int32_t NormalizeSoundDelayTime(int64_t ms) {
  ms = std::clamp<int64_t>(ms, 100, 500);
  return static_cast<int32_t>(ms / 100 * 100);
}

TGameSettings ParseGameIni(std::string_view text) {
  TGameSettings settings;
  std::optional<int64_t> directSound, delayTime;
  bool inSound = false;
  std::istringstream lines{std::string(text)};
  std::string raw;
  while (std::getline(lines, raw)) {
    std::string_view line = trim(raw);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      inSound =
          close != std::string_view::npos && sameText(trim(line.substr(1, close - 1)), "Sound");
      continue;
    }
    const size_t eq = line.find('=');
    if (!inSound || eq == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view value = line.substr(eq + 1);
    // The first occurrence of a key counts, as with the class library.
    if (sameText(key, "DirectSound") && !directSound) {
      directSound = parseInteger(value);
      if (!directSound) directSound = settings.UseDirectSound ? 1 : 0;
    } else if (sameText(key, "DelayTime") && !delayTime) {
      delayTime = parseInteger(value);
      if (!delayTime) delayTime = settings.SoundDelayTime;
    }
  }
  if (directSound) settings.UseDirectSound = *directSound != 0;
  settings.SoundDelayTime = NormalizeSoundDelayTime(delayTime.value_or(settings.SoundDelayTime));
  return settings;
}

TGameSettings ReadGameIni(const std::filesystem::path& file) {
  // Only a regular file of a settings file's size is read: opened without
  // waiting, a FIFO put there cannot hold the start, nor can a link to an
  // endless device fill memory.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return ParseGameIni({});
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kGameIniLimit) {
    text.resize(static_cast<size_t>(kGameIniLimit) + 1);
    size_t got = 0;
    for (ssize_t n; got < text.size() && (n = ::read(fd, &text[got], text.size() - got)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      got += static_cast<size_t>(n);
    }
    // A file that grew past the bound while being read is no settings file.
    text.resize(got <= static_cast<size_t>(kGameIniLimit) ? got : 0);
  }
  ::close(fd);
  return ParseGameIni(text);
}

}  // namespace zirk
