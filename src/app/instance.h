#pragma once
// One player per game folder. The key is the base folder itself (its device
// and inode), so every spelling of one folder meets one lock and two folders
// never share one. The lock is an flock on a file named by a hash of the
// key, so the kernel drops it when the holder ends, however it ends. The
// holder removes the file as it lets go, so lock files do not pile up one
// for every folder ever played.

#include <filesystem>
#include <memory>
#include <string>

namespace zirk {

// The single-instance key of a game folder. Every name of one folder
// (relative, absolute, through a link, with "." or "..") gives the same key,
// names of two folders two keys, whatever their case or delimiters.
std::string InstanceKey(const std::filesystem::path& baseFolder);

// The folder of the lock files: "zirkplayer-UID" in the shared temp folder
// `temp` (only tests name another), made 0700 and checked before use. One
// fixed place, the same however and whenever a player was started: no
// environment variable moves it, nor does the runtime folder /run/user/UID,
// which comes at the user's first login and goes at the last logout, so
// players started from a desktop, a remote shell or cron meet the same locks.
std::filesystem::path InstanceLockFolder(const std::filesystem::path& temp = "/tmp");
// The lock file of a key in that folder.
std::filesystem::path InstanceLockPath(const std::string& key,
                                       const std::filesystem::path& temp = "/tmp");

class TInstanceLock {
 public:
  // The lock of the key, or nullptr when another holder has it. A lock file
  // that cannot be made does not stop the player: it then runs unlocked,
  // and Problem says why.
  static std::unique_ptr<TInstanceLock> Acquire(const std::string& key,
                                                const std::filesystem::path& temp = "/tmp");
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
