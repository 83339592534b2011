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

// Where the lock folder may be: the user's runtime folder "UID" in
// `runtime`, else "zirkplayer-UID" in `temp`. Only tests name others.
struct TInstanceLockRoots {
  std::filesystem::path runtime = "/run/user", temp = "/tmp";
};

// The folder of the lock files, the same however a player was started (no
// environment variable moves it, so every player of the user meets the same
// locks): /run/user/UID when it is a folder of the user's own, 0700 and not
// a link; else "zirkplayer-UID" in /tmp, made 0700 and checked before use,
// as /tmp is shared by every user.
std::filesystem::path InstanceLockFolder(const TInstanceLockRoots& roots = {});
// The lock file of a key in that folder.
std::filesystem::path InstanceLockPath(const std::string& key,
                                       const TInstanceLockRoots& roots = {});

class TInstanceLock {
 public:
  // The lock of the key, or nullptr when another holder has it. A lock file
  // that cannot be made does not stop the player: it then runs unlocked,
  // and Problem says why.
  static std::unique_ptr<TInstanceLock> Acquire(const std::string& key,
                                                const TInstanceLockRoots& roots = {});
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
