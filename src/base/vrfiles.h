#pragma once
// The virtual file system: serves every game file by name. Game names are
// Shift-JIS, use "\" (or "/") between folders and compare case-insensitively;
// they are looked up in the base folder and then in the search folders, in
// the order mounted. Only host folders are mounted: no archive format is
// read, so a game must be unpacked into a folder.
//
// Directory listings are cached, so a lookup costs one stat per folder on
// the way instead of a scan. A listing belongs to the folder itself (its
// device and inode), so every path that reaches a folder, through links or
// a link loop, shares one listing; the cache as a whole holds at most
// kListingCacheBytes and drops the least recently used listings first, and a
// folder too large for it is scanned on each lookup. A listing is read again
// when its folder's modification time changes, and, while that time is too
// recent to be trusted (a change in the same clock tick would not show) or
// ahead of the clock, at most once a second.
//
// Host names are matched in their game form: a UTF-8 host name is compared
// as its Shift-JIS counterpart, any other as its raw bytes. A game name can
// never reach outside the mounted folder: absolute names and a "..\" that
// climbs above the folder are not found.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/exceptions.h"
#include "base/rangestreams.h"
#include "base/streams.h"

namespace zirk {

// A game file that cannot be served or read. The message begins with the
// file's name, in UTF-8 where it converts (SjisForMessage):
// "<name>:ファイルがありません" for a file that is in none of the mounted
// folders, "<name>: <why>" for any other fault of it.
class EVrFileError : public Exception {
 public:
  using Exception::Exception;
};

// A game file larger than its reader takes; the message names the file and
// both sizes.
class EVrFileTooLarge : public EVrFileError {
 public:
  using EVrFileError::EVrFileError;
};

// The error of a game file in none of the mounted folders.
EVrFileError MissingGameFile(const std::string& name);

// The size cap of a reader that sets none of its own.
inline constexpr int64_t kNoFileSizeCap = INT64_MAX;

class TVrFileManager {
 public:
  TVrFileManager() = default;
  explicit TVrFileManager(const std::string& baseFolder) { SetBaseFolder(baseFolder); }
  TVrFileManager(const TVrFileManager&) = delete;
  TVrFileManager& operator=(const TVrFileManager&) = delete;

  // Host folders; stored with a trailing "/".
  void SetBaseFolder(const std::string& hostFolder);
  void AddSearchFolder(const std::string& hostFolder);
  const std::string& BaseFolder() const { return baseFolder_; }
  const std::vector<std::string>& SearchFolders() const { return searchFolders_; }

  // The folder part of a name: everything up to and including its last
  // "\", "/" or ":" (empty when it has none).
  static std::string ExtractFolder(const std::string& name);

  // True when the name is a file in the base folder or a search folder.
  bool FileExists(const std::string& name);
  // The host path of the named file, or an empty string when it is missing.
  std::string GetRealFileName(const std::string& name);
  // The host path the name maps to whatever its kind (a folder, a FIFO), or
  // an empty string; tells a missing file from one that cannot be read whole.
  std::string GetHostPath(const std::string& name);
  // A stream over the whole named file, or nullptr when it is missing. The
  // caller owns the stream.
  std::unique_ptr<TRangeStream> OpenMediaStream(const std::string& name);

  // Forgets every cached listing (after the game's files were changed by
  // means the modification times may not show).
  void InvalidateCache();
  // How many folder listings were read; the cache's own diagnostics.
  int64_t ScanCount() const { return scans_; }

  // The bound of the listing cache, counted as an estimate of the bytes its
  // entries take: some 300,000 entries of short names.
  static constexpr int64_t kListingCacheBytes = int64_t{64} << 20;

  // The program-wide instance, installed and owned by start-up code
  // (nullptr when none).
  static TVrFileManager* Global();
  static void SetGlobal(TVrFileManager* manager);

 private:
  struct Entry {
    std::string gameName;  // the host name in its game form
    std::string hostName;
  };
  struct FolderId {
    uint64_t device = 0, inode = 0;
    bool operator==(const FolderId&) const = default;
  };
  struct FolderIdHash {
    size_t operator()(const FolderId& id) const { return id.inode * 31 + id.device; }
  };
  struct Listing {
    int64_t mtimeNs = 0;
    int64_t listedAtNs = 0;
    int64_t bytes = 0;  // the estimate counted in cachedBytes_
    std::unordered_map<std::string, std::vector<Entry>> byKey;  // folded game name
    std::list<FolderId>::iterator use;                          // its place in useOrder_
  };

  std::optional<std::string> resolve(const std::string& name, bool regularOnly = true);
  std::optional<std::string> findHostName(const std::string& hostDir, const std::string& component);
  std::optional<std::string> scanFolder(const std::string& hostDir, const FolderId& id,
                                        int64_t mtimeNs, const std::string& component);
  static bool preferred(const Entry& candidate, const Entry& best, const std::string& component);
  void forget(const FolderId& id);

  std::string baseFolder_;
  std::vector<std::string> searchFolders_;
  std::mutex lock_;
  std::unordered_map<FolderId, Listing, FolderIdHash> listings_;
  std::list<FolderId> useOrder_;  // most recently used first
  int64_t cachedBytes_ = 0;
  int64_t scans_ = 0;
};

// Reads the whole named file into the stream (a memory stream's content is
// replaced) and sets the stream's position to 0. A missing file raises
// EVrFileError "<name>:ファイルがありません", a name that is no regular file
// (a folder, a FIFO) EVrFileError "<name>: not a regular file", and a file
// larger than maxBytes EVrFileTooLarge before anything is read, so a reader
// that caps its kind never holds more than the cap. A file that holds fewer
// bytes than its size said (cut while it is read) raises EVrFileError
// "<name>: the file ended early, ...".
void LoadFileToStream(TVrFileManager& files, TKwStream& target, const std::string& name,
                      int64_t maxBytes = kNoFileSizeCap);
// The same through the program-wide instance.
void LoadFileToStream(TKwStream& target, const std::string& name,
                      int64_t maxBytes = kNoFileSizeCap);
// The same for a source already open, read from its start; `name` is the
// file's name for the message. The source's size is asked once, and no more
// than that is read: a file that grows after it was checked cannot pass the
// cap.
void LoadWholeStream(TKwStream& source, TKwStream& target, const std::string& name,
                     int64_t maxBytes);
// Reads the named file through the program-wide instance as LoadFileToStream
// does and hands it, at position 0, to `decode`. Every error of reading or
// decoding comes back as an EVrFileError that names the file once: the
// read's own name it, an EVrFileError the decoder raises names its own file
// (a picture of a film), any other of the project's errors or a
// std::length_error becomes "<name>: <its message>", a short read "<name>:
// the file ended early". Readers of game files put the name on here, so no
// caller adds it again. Other errors (std::bad_alloc) pass unchanged.
void ReadGameFile(const std::string& name, int64_t maxBytes,
                  const std::function<void(TKwMemoryStream&)>& decode);

// A picture name of a definition file made relative to the file's folder: a
// name of 2 or more characters that neither begins with "\" nor has ":" as
// its second character becomes base + name, each leading "..\" first taking
// one folder off the base (while the base has one). Other names, a
// 1-character name included, come back unchanged.
std::string ResolveDotDotPath(const std::string& name, const std::string& baseFolder);

}  // namespace zirk
