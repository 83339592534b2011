#pragma once
// Values of the current user's registry (HKEY_CURRENT_USER), kept in one
// text file, registry.ini, under $XDG_CONFIG_HOME/zirkplayer/ (else
// ~/.config/zirkplayer/). Sections are key paths and values are written the
// way .reg files write them, so both types survive a round trip:
//
//   [Software\Game]
//   "CDDrive"="D:"
//   "Count"=dword:0000002a
//
// Key paths and value names compare case-insensitively, as on Windows; they
// and the values are byte strings (game text is Shift-JIS).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zirk::platform {

using RegistryValue = std::variant<std::string, uint32_t>;

// The contents of a registry file, read and written without touching disk.
class RegistryFile {
 public:
  // Lines that do not parse are skipped, so a damaged file loses only them.
  static RegistryFile parse(std::string_view text);
  std::string serialize() const;

  const RegistryValue* find(std::string_view key, std::string_view name) const;
  void set(std::string_view key, std::string_view name, RegistryValue value);
  bool erase(std::string_view key, std::string_view name);
  // Removes the key with its values and every key below it.
  bool eraseKey(std::string_view key);
  size_t keyCount() const { return keys_.size(); }

 private:
  struct Entry {
    std::string name;
    RegistryValue value;
  };
  struct Key {
    std::string path;  // normalised: no empty parts, no outer backslashes
    std::vector<Entry> entries;
  };
  Key* findKey(std::string_view path);
  const Key* findKey(std::string_view path) const;
  std::vector<Key> keys_;
};

std::filesystem::path RegistryFileName();

std::optional<std::string> RegReadString(std::string_view key, std::string_view name);
// Accepts a dword value or a string holding a decimal number, as the class
// library's ini-style registry access does.
std::optional<int32_t> RegReadInteger(std::string_view key, std::string_view name);
// False when the file cannot be written; the folder is created on first write.
bool RegWriteString(std::string_view key, std::string_view name, std::string_view value);
bool RegWriteInteger(std::string_view key, std::string_view name, int32_t value);
bool RegDeleteValue(std::string_view key, std::string_view name);
bool RegDeleteKey(std::string_view key);

// Ini-style access below one key: a section is a subkey, an ident a value.
class TRegIniFile {
 public:
  explicit TRegIniFile(std::string key) : key_(std::move(key)) {}
  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view def) const;
  int32_t ReadInteger(std::string_view section, std::string_view ident, int32_t def) const;
  bool WriteString(std::string_view section, std::string_view ident, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view ident, int32_t value);
  bool DeleteKey(std::string_view section, std::string_view ident);
  bool EraseSection(std::string_view section);
  const std::string& FileName() const { return key_; }

 private:
  std::string path(std::string_view section) const;
  std::string key_;
};

}  // namespace zirk::platform
