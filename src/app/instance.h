#pragma once
// One player per game folder. The key is the base folder, upper-cased, with
// a trailing delimiter and every path delimiter replaced by "-"; the lock is
// an flock on a file named by a hash of the key, so the kernel drops it when
// the holder ends, however it ends. The holder removes the file as it lets
// go, so lock files do not pile up one for every folder ever played.

#include <filesystem>
#include <memory>
#include <string>

namespace zirk {

// The single-instance key of a game folder. Relative and absolute names of
// one folder give the same key.
std::string InstanceKey(const std::filesystem::path& baseFolder);

// The folder of the lock files: $XDG_RUNTIME_DIR when it is an absolute
// path, else "zirkplayer-UID" in the temp folder ($TMPDIR when absolute,
// else /tmp). The temp folder is shared by every user, so that folder is
// the user's own: made 0700 and checked before use.
std::filesystem::path InstanceLockFolder();
// The lock file of a key in that folder.
std::filesystem::path InstanceLockPath(const std::string& key);

class TInstanceLock {
 public:
  // The lock of the key, or nullptr when another holder has it. A lock file
  // that cannot be made does not stop the player: it then runs unlocked,
  // and Problem says why.
  static std::unique_ptr<TInstanceLock> Acquire(const std::string& key);
  // Takes over the descriptor of the locked file (-1: none).
  TInstanceLock(std::filesystem::path path, int fd, std::string problem = {})
      : path_(std::move(path)), fd_(fd), problem_(std::move(problem)) {}
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  bool Held() const { return fd_ >= 0; }
  const std::string& Problem() const { return problem_; }

 private:
  std::filesystem::path path_;
  int fd_;
  std::string problem_;
};

}  // namespace zirk
