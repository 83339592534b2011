#include "platform/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <system_error>

namespace zirk::platform {

namespace {

// A file larger than this is not a registry this program wrote.
constexpr std::uintmax_t kMaxFileSize = 16u << 20;

bool isShiftJisLead(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

unsigned char asciiLower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

// Trail bytes of double-byte characters include ASCII letters; folding them
// would make two different kanji the same name.
bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (isShiftJisLead(ca)) {
      if (ca != cb) return false;
      if (i + 1 < a.size()) {
        ++i;
        if (a[i] != b[i]) return false;
      }
      continue;
    }
    if (asciiLower(ca) != asciiLower(cb)) return false;
  }
  return true;
}

// A backslash that is the trail byte of a double-byte character (0x5C in
// many kanji) is part of that character, not a separator.
std::string normaliseKey(std::string_view key) {
  std::string out, part;
  auto endPart = [&] {
    if (part.empty()) return;
    if (!out.empty()) out += '\\';
    out += part;
    part.clear();
  };
  for (size_t i = 0; i < key.size(); ++i) {
    if (isShiftJisLead(static_cast<unsigned char>(key[i])) && i + 1 < key.size()) {
      part += key[i];
      part += key[++i];
    } else if (key[i] == '\\') {
      endPart();
    } else {
      part += key[i];
    }
  }
  endPart();
  return out;
}

bool isBelow(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         sameName(path.substr(0, key.size()), key);
}

void appendQuoted(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(asciiLower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a quoted string at `pos`, leaving `pos` after the closing quote.
std::optional<std::string> readQuoted(std::string_view line, size_t& pos) {
  if (pos >= line.size() || line[pos] != '"') return std::nullopt;
  std::string out;
  for (size_t i = pos + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      pos = i + 1;
      return out;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++i >= line.size()) return std::nullopt;
    switch (line[i]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (i + 2 >= line.size()) return std::nullopt;
        int hi = hexDigit(line[i + 1]), lo = hexDigit(line[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<RegistryValue> readValue(std::string_view text) {
  size_t pos = 0;
  if (auto s = readQuoted(text, pos)) {
    if (pos != text.size()) return std::nullopt;
    return RegistryValue(std::move(*s));
  }
  constexpr std::string_view kDword = "dword:";
  if (text.substr(0, kDword.size()) != kDword) return std::nullopt;
  text.remove_prefix(kDword.size());
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return RegistryValue(value);
}

// Key paths are written raw between brackets, one per line; a line break
// inside one would turn the rest of it into lines of their own.
bool writableKey(std::string_view key) {
  return !normaliseKey(key).empty() && key.find_first_of("\r\n") == std::string_view::npos;
}

std::optional<int32_t> parseDecimal(std::string_view text) {
  int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::filesystem::path absoluteEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return {};
  std::filesystem::path p(value);
  // Relative values are invalid by the base-directory rules and ignored.
  return p.is_absolute() ? p : std::filesystem::path();
}

std::filesystem::path homeFolder() {
  if (auto home = absoluteEnv("HOME"); !home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir && *result->pw_dir)
    return result->pw_dir;
  return std::filesystem::temp_directory_path();
}

// Reads, changes and writes the file under one lock, so two writers of this
// process never lose each other's values.
std::mutex& fileMutex() {
  static std::mutex mutex;
  return mutex;
}

RegistryFile loadFile(const std::filesystem::path& fileName) {
  std::error_code ec;
  auto size = std::filesystem::file_size(fileName, ec);
  if (ec || size > kMaxFileSize) return {};
  std::ifstream in(fileName, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return RegistryFile::parse(text);
}

// Written to a temporary file and renamed over the old one, so a crash or a
// full disk leaves the previous values rather than half a file.
bool saveFile(const std::filesystem::path& fileName, const RegistryFile& file) {
  std::error_code ec;
  std::filesystem::create_directories(fileName.parent_path(), ec);
  if (ec) return false;
  auto temp = fileName;
  temp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    std::string text = file.serialize();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out.good()) {
      out.close();
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, fileName, ec);
  if (ec) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
    return false;
  }
  return true;
}

template <typename Change>
bool changeFile(Change change) {
  std::lock_guard lock(fileMutex());
  auto fileName = RegistryFileName();
  RegistryFile file = loadFile(fileName);
  if (!change(file)) return false;
  return saveFile(fileName, file);
}

std::optional<RegistryValue> readFileValue(std::string_view key, std::string_view name) {
  std::lock_guard lock(fileMutex());
  RegistryFile file = loadFile(RegistryFileName());
  const RegistryValue* value = file.find(key, name);
  if (!value) return std::nullopt;
  return *value;
}

}  // namespace

RegistryFile RegistryFile::parse(std::string_view text) {
  RegistryFile file;
  Key* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;

    if (line[0] == '[') {
      size_t close = line.rfind(']');
      current = nullptr;
      if (close == std::string_view::npos || close == 0) continue;
      std::string path = normaliseKey(line.substr(1, close - 1));
      if (path.empty()) continue;
      current = file.findKey(path);
      if (!current) current = &file.keys_.emplace_back(Key{std::move(path), {}});
      continue;
    }
    if (!current) continue;

    std::string name;
    size_t at = 0;
    if (line[0] == '@') {
      at = 1;
    } else if (auto quoted = readQuoted(line, at)) {
      name = std::move(*quoted);
    } else {
      continue;
    }
    if (at >= line.size() || line[at] != '=') continue;
    auto value = readValue(line.substr(at + 1));
    if (!value) continue;
    // A repeated name keeps the last value, as a later .reg line would.
    auto entry = std::find_if(current->entries.begin(), current->entries.end(),
                              [&](const Entry& e) { return sameName(e.name, name); });
    if (entry != current->entries.end())
      entry->value = std::move(*value);
    else
      current->entries.push_back(Entry{std::move(name), std::move(*value)});
  }
  return file;
}

std::string RegistryFile::serialize() const {
  std::string out;
  for (const Key& key : keys_) {
    if (!out.empty()) out += '\n';
    out += '[';
    out += key.path;
    out += "]\n";
    for (const Entry& e : key.entries) {
      if (e.name.empty())
        out += '@';
      else
        appendQuoted(out, e.name);
      out += '=';
      if (const auto* s = std::get_if<std::string>(&e.value)) {
        appendQuoted(out, *s);
      } else {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", std::get<uint32_t>(e.value));
        out += digits;
      }
      out += '\n';
    }
  }
  return out;
}

RegistryFile::Key* RegistryFile::findKey(std::string_view path) {
  for (Key& key : keys_)
    if (sameName(key.path, path)) return &key;
  return nullptr;
}

const RegistryFile::Key* RegistryFile::findKey(std::string_view path) const {
  return const_cast<RegistryFile*>(this)->findKey(path);
}

const RegistryValue* RegistryFile::find(std::string_view key, std::string_view name) const {
  const Key* k = findKey(normaliseKey(key));
  if (!k) return nullptr;
  for (const Entry& e : k->entries)
    if (sameName(e.name, name)) return &e.value;
  return nullptr;
}

void RegistryFile::set(std::string_view key, std::string_view name, RegistryValue value) {
  std::string path = normaliseKey(key);
  Key* k = findKey(path);
  if (!k) k = &keys_.emplace_back(Key{std::move(path), {}});
  for (Entry& e : k->entries) {
    if (sameName(e.name, name)) {
      e.value = std::move(value);
      return;
    }
  }
  k->entries.push_back(Entry{std::string(name), std::move(value)});
}

bool RegistryFile::erase(std::string_view key, std::string_view name) {
  Key* k = findKey(normaliseKey(key));
  if (!k) return false;
  return std::erase_if(k->entries, [&](const Entry& e) { return sameName(e.name, name); }) > 0;
}

bool RegistryFile::eraseKey(std::string_view key) {
  std::string path = normaliseKey(key);
  if (path.empty()) return false;
  return std::erase_if(keys_, [&](const Key& k) {
           return sameName(k.path, path) || isBelow(k.path, path);
         }) > 0;
}

std::filesystem::path RegistryFileName() {
  auto config = absoluteEnv("XDG_CONFIG_HOME");
  if (config.empty()) config = homeFolder() / ".config";
  return config / "zirkplayer" / "registry.ini";
}

std::optional<std::string> RegReadString(std::string_view key, std::string_view name) {
  auto value = readFileValue(key, name);
  if (!value) return std::nullopt;
  if (const auto* s = std::get_if<std::string>(&*value)) return *s;
  return std::nullopt;
}

std::optional<int32_t> RegReadInteger(std::string_view key, std::string_view name) {
  auto value = readFileValue(key, name);
  if (!value) return std::nullopt;
  if (const auto* s = std::get_if<std::string>(&*value)) return parseDecimal(*s);
  return static_cast<int32_t>(std::get<uint32_t>(*value));
}

bool RegWriteString(std::string_view key, std::string_view name, std::string_view value) {
  if (!writableKey(key)) return false;
  return changeFile([&](RegistryFile& file) {
    file.set(key, name, std::string(value));
    return true;
  });
}

bool RegWriteInteger(std::string_view key, std::string_view name, int32_t value) {
  if (!writableKey(key)) return false;
  return changeFile([&](RegistryFile& file) {
    file.set(key, name, static_cast<uint32_t>(value));
    return true;
  });
}

bool RegDeleteValue(std::string_view key, std::string_view name) {
  return changeFile([&](RegistryFile& file) { return file.erase(key, name); });
}

bool RegDeleteKey(std::string_view key) {
  return changeFile([&](RegistryFile& file) { return file.eraseKey(key); });
}

std::string TRegIniFile::path(std::string_view section) const {
  std::string p = key_;
  p += '\\';
  p.append(section);
  return p;
}

std::string TRegIniFile::ReadString(std::string_view section, std::string_view ident,
                                    std::string_view def) const {
  auto value = RegReadString(path(section), ident);
  return value ? *value : std::string(def);
}

int32_t TRegIniFile::ReadInteger(std::string_view section, std::string_view ident,
                                 int32_t def) const {
  return RegReadInteger(path(section), ident).value_or(def);
}

bool TRegIniFile::WriteString(std::string_view section, std::string_view ident,
                              std::string_view value) {
  return RegWriteString(path(section), ident, value);
}

bool TRegIniFile::WriteInteger(std::string_view section, std::string_view ident, int32_t value) {
  return RegWriteInteger(path(section), ident, value);
}

bool TRegIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  return RegDeleteValue(path(section), ident);
}

bool TRegIniFile::EraseSection(std::string_view section) {
  return RegDeleteKey(path(section));
}

}  // namespace zirk::platform
