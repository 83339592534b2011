#include "base/vrfiles.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "base/sjis.h"

namespace zirk {

namespace {

TVrFileManager* gFileManager = nullptr;

// A listing younger than this (against its folder's modification time) may
// miss a change made in the same clock tick, so it is not trusted.
constexpr int64_t kRacyWindowNs = 2'000'000'000;
// How often a listing that is not trusted is read again: a folder dated
// ahead of the clock is never trusted, and a lookup must not read it each
// time.
constexpr int64_t kRescanIntervalNs = 1'000'000'000;
// What a cached entry takes besides its names: the hash node, the vector
// and the strings' own fields.
constexpr int64_t kEntryOverheadBytes = 160;

const char kEndedEarly[] = "the file ended early";

bool isDelimiter(char c) {
  return c == '\\' || c == '/';
}

// Position of the last byte of `delims` that is a character of its own (not
// the trail byte of a double-byte character), or npos.
size_t lastDelimiter(const std::string& s, std::string_view delims) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsSjisLeadByte(static_cast<uint8_t>(s[i]))) {
      ++i;
    } else if (delims.find(s[i]) != std::string_view::npos) {
      found = i;
    }
  }
  return found;
}

// The folders and file of a game name, with "." dropped and ".." applied;
// nothing for an absolute name, an empty one, a folder name (ending in a
// delimiter) or one that climbs out.
std::optional<std::vector<std::string>> splitGameName(const std::string& name) {
  if (name.empty() || isDelimiter(name[0]) || (name.size() >= 2 && name[1] == ':'))
    return std::nullopt;
  if (name.find('\0') != std::string::npos || isDelimiter(name.back())) return std::nullopt;
  std::vector<std::string> parts;
  std::string current;
  auto finish = [&]() -> bool {
    if (current == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!current.empty() && current != ".") {
      parts.push_back(current);
    }
    current.clear();
    return true;
  };
  for (size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (IsSjisLeadByte(static_cast<uint8_t>(c)) && i + 1 < name.size()) {
      current += c;
      current += name[++i];
    } else if (isDelimiter(c)) {
      if (!finish()) return std::nullopt;
    } else {
      current += c;
    }
  }
  if (!finish() || parts.empty()) return std::nullopt;
  return parts;
}

std::string withTrailingSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

int64_t nowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

// Whether a listing read at `listedAt` of a folder then dated `listedMtime`
// still shows the folder, now dated `mtime`. A change within the clock tick
// of the folder's time leaves that time as it was, so a listing read less
// than kRacyWindowNs after it is read again once the window has passed, and
// until then at most once every kRescanIntervalNs.
bool listingIsCurrent(int64_t listedAt, int64_t listedMtime, int64_t mtime) {
  if (listedMtime != mtime) return false;
  if (listedAt - mtime >= kRacyWindowNs) return true;
  const int64_t now = nowNs();
  return now >= listedAt && now - listedAt < kRescanIntervalNs && now - mtime < kRacyWindowNs;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void TVrFileManager::SetBaseFolder(const std::string& hostFolder) {
  std::lock_guard<std::mutex> guard(lock_);
  baseFolder_ = withTrailingSlash(hostFolder);
}

void TVrFileManager::AddSearchFolder(const std::string& hostFolder) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!hostFolder.empty()) searchFolders_.push_back(withTrailingSlash(hostFolder));
}

std::string TVrFileManager::ExtractFolder(const std::string& name) {
  size_t pos = lastDelimiter(name, "\\/:");
  return pos == std::string::npos ? std::string() : name.substr(0, pos + 1);
}

bool TVrFileManager::FileExists(const std::string& name) {
  return resolve(name).has_value();
}

std::string TVrFileManager::GetRealFileName(const std::string& name) {
  return resolve(name).value_or(std::string());
}

std::unique_ptr<TRangeStream> TVrFileManager::OpenMediaStream(const std::string& name) {
  std::optional<std::string> path = resolve(name);
  if (!path) return nullptr;
  return std::make_unique<TFileRangeStream>(*path, 0, 0);
}

void TVrFileManager::InvalidateCache() {
  std::lock_guard<std::mutex> guard(lock_);
  listings_.clear();
  useOrder_.clear();
  cachedBytes_ = 0;
}

TVrFileManager* TVrFileManager::Global() {
  return gFileManager;
}
void TVrFileManager::SetGlobal(TVrFileManager* manager) {
  gFileManager = manager;
}

std::string TVrFileManager::GetHostPath(const std::string& name) {
  return resolve(name, false).value_or(std::string());
}

std::optional<std::string> TVrFileManager::resolve(const std::string& name, bool regularOnly) {
  std::optional<std::vector<std::string>> parts = splitGameName(name);
  if (!parts) return std::nullopt;
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<const std::string*> roots;
  if (!baseFolder_.empty()) roots.push_back(&baseFolder_);
  for (const std::string& folder : searchFolders_) roots.push_back(&folder);
  for (const std::string* root : roots) {
    std::string path = root->substr(0, root->size() - 1);  // without the trailing "/"
    bool found = true;
    for (const std::string& part : *parts) {
      std::optional<std::string> host = findHostName(path.empty() ? "/" : path, part);
      if (!host) {
        found = false;
        break;
      }
      path += '/';
      path += *host;
    }
    if (found && (!regularOnly || isRegularFile(path))) return path;
  }
  return std::nullopt;
}

std::optional<std::string> TVrFileManager::findHostName(const std::string& hostDir,
                                                        const std::string& component) {
  struct stat st {};
  if (::stat(hostDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
  const FolderId id{st.st_dev, st.st_ino};
  const int64_t mtime = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  auto it = listings_.find(id);
  if (it == listings_.end() || !listingIsCurrent(it->second.listedAtNs, it->second.mtimeNs, mtime))
    return scanFolder(hostDir, id, mtime, component);
  useOrder_.splice(useOrder_.begin(), useOrder_, it->second.use);
  auto hit = it->second.byKey.find(SjisFoldCase(component));
  if (hit == it->second.byKey.end()) return std::nullopt;
  const Entry* best = &hit->second.front();
  for (const Entry& entry : hit->second)
    if (preferred(entry, *best, component)) best = &entry;
  return best->hostName;
}

std::optional<std::string> TVrFileManager::scanFolder(const std::string& hostDir,
                                                      const FolderId& id, int64_t mtimeNs,
                                                      const std::string& component) {
  forget(id);
  Listing listing;
  listing.mtimeNs = mtimeNs;
  listing.listedAtNs = nowNs();
  bool keep = true;
  const std::string key = SjisFoldCase(component);
  std::optional<Entry> best;
  ++scans_;
  if (DIR* dir = ::opendir(hostDir.c_str())) {
    while (dirent* ent = ::readdir(dir)) {
      Entry entry{{}, ent->d_name};
      if (entry.hostName == "." || entry.hostName == "..") continue;
      bool ascii = std::all_of(entry.hostName.begin(), entry.hostName.end(),
                               [](char c) { return static_cast<uint8_t>(c) < 0x80; });
      if (ascii || !Utf8ToSjis(entry.hostName, entry.gameName)) entry.gameName = entry.hostName;
      std::string folded = SjisFoldCase(entry.gameName);
      if (folded == key && (!best || preferred(entry, *best, component))) best = entry;
      if (!keep) continue;
      listing.bytes +=
          kEntryOverheadBytes +
          static_cast<int64_t>(folded.size() + entry.gameName.size() + entry.hostName.size());
      // The cache never holds more than its bound, this listing included; a
      // folder larger than the whole bound is not kept but scanned each time.
      while (cachedBytes_ + listing.bytes > kListingCacheBytes && !useOrder_.empty())
        forget(useOrder_.back());
      if (listing.bytes > kListingCacheBytes) {
        keep = false;
        listing.byKey.clear();
        continue;
      }
      listing.byKey[std::move(folded)].push_back(std::move(entry));
    }
    ::closedir(dir);
  }
  if (keep) {
    cachedBytes_ += listing.bytes;
    useOrder_.push_front(id);
    listing.use = useOrder_.begin();
    listings_.emplace(id, std::move(listing));
  }
  if (!best) return std::nullopt;
  return std::move(best->hostName);
}

// Of the host names that fold alike, the game name's exact spelling wins,
// else the first in byte order, whatever order the folder lists them in.
bool TVrFileManager::preferred(const Entry& candidate, const Entry& best,
                               const std::string& component) {
  const bool exact = candidate.gameName == component;
  if (exact != (best.gameName == component)) return exact;
  return candidate.hostName < best.hostName;
}

void TVrFileManager::forget(const FolderId& id) {
  auto it = listings_.find(id);
  if (it == listings_.end()) return;
  cachedBytes_ -= it->second.bytes;
  useOrder_.erase(it->second.use);
  listings_.erase(it);
}

EVrFileError MissingGameFile(const std::string& name) {
  return EVrFileError(SjisForMessage(name) + ":ファイルがありません");
}

void LoadWholeStream(TKwStream& source, TKwStream& target, const std::string& name,
                     int64_t maxBytes) {
  const int64_t size = source.Size();
  if (size > maxBytes)
    throw EVrFileTooLarge(SjisForMessage(name) + ": the file is " + std::to_string(size) +
                          " bytes, more than the " + std::to_string(maxBytes) +
                          " a file of its kind may have");
  try {
    if (TKwMemoryStream* mem = target.AsMemoryStream()) {
      mem->LoadFromStream(source, size);
    } else if (size != 0) {  // a count of 0 would copy the whole source
      source.SetPosition(0);
      target.CopyFrom(source, size);
    }
  } catch (const EReadError&) {
    throw EVrFileError(SjisForMessage(name) + ": " + kEndedEarly + ", short of the " +
                       std::to_string(size) + " bytes its size gave");
  }
  target.SetPosition(0);
}

void LoadFileToStream(TVrFileManager& files, TKwStream& target, const std::string& name,
                      int64_t maxBytes) {
  std::string path = files.GetRealFileName(name);
  if (path.empty()) {
    if (!files.GetHostPath(name).empty())
      throw EVrFileError(SjisForMessage(name) + ": not a regular file");
    throw MissingGameFile(name);
  }
  TKwFileStream file(path, TKwFileStream::Mode::OpenRead);
  LoadWholeStream(file, target, name, maxBytes);
}

void LoadFileToStream(TKwStream& target, const std::string& name, int64_t maxBytes) {
  TVrFileManager* files = TVrFileManager::Global();
  if (!files) throw MissingGameFile(name);
  LoadFileToStream(*files, target, name, maxBytes);
}

void ReadGameFile(const std::string& name, int64_t maxBytes,
                  const std::function<void(TKwMemoryStream&)>& decode) {
  TKwMemoryStream stream;
  LoadFileToStream(stream, name, maxBytes);
  try {
    decode(stream);
  } catch (const EVrFileError&) {
    throw;
  } catch (const EReadError&) {
    // The decoder read past the end of the bytes the file holds.
    throw EVrFileError(SjisForMessage(name) + ": " + kEndedEarly);
  } catch (const std::exception& e) {
    // The project's own errors are those of reading and decoding, as is a
    // size the file gives that no container can hold; anything else
    // (std::bad_alloc above all) is no fault of the file and passes on.
    if (!dynamic_cast<const Exception*>(&e) && !dynamic_cast<const std::length_error*>(&e)) throw;
    throw EVrFileError(SjisForMessage(name) + ": " + e.what());
  }
}

std::string ResolveDotDotPath(const std::string& name, const std::string& baseFolder) {
  if (name.size() < 2 || isDelimiter(name[0]) || name[1] == ':') return name;
  std::string base = baseFolder;
  if (!base.empty() && lastDelimiter(base, "\\/") != base.size() - 1) base += '\\';
  std::string rest = name;
  while (rest.size() >= 3 && rest[0] == '.' && rest[1] == '.' && isDelimiter(rest[2])) {
    std::string folder = base.substr(0, base.empty() ? 0 : base.size() - 1);
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) break;  // nothing to take off
    size_t pos = lastDelimiter(folder, "\\/");
    base = pos == std::string::npos ? std::string() : folder.substr(0, pos + 1);
    rest.erase(0, 3);
  }
  return base + rest;
}

}  // namespace zirk
