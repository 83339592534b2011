#include "app/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace zirk {

namespace {

// FNV-1a, 64 bits: the name only has to be stable and short.
uint64_t hashKey(const std::string& key) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : key) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

// The lock folder is used only when it is a real folder (not a link) of this
// user that no one else may write: another user's folder or file could
// otherwise hold the locks, or a lock, of ours. It is made when missing.
std::string ownFolderProblem(const std::filesystem::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot make " + dir.string() + ": " + std::strerror(errno);
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return dir.string() + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return dir.string() + " is not a folder";
  if (st.st_uid != ::geteuid()) return dir.string() + " belongs to another user";
  if ((st.st_mode & 077) != 0) return dir.string() + " is open to other users";
  return {};
}

bool sameFile(int fd, const std::filesystem::path& path) {
  struct stat opened {
  }, named{};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

std::string lockFileName(const std::string& key) {
  char name[64];
  std::snprintf(name, sizeof name, "zirkplayer-%016llx.lock",
                static_cast<unsigned long long>(hashKey(key)));
  return name;
}

}  // namespace

std::string InstanceKey(const std::filesystem::path& baseFolder) {
  const std::filesystem::path given = baseFolder.empty() ? "." : baseFolder;
  // What the folder is, not how it is spelt: a link, a bind mount or a
  // folder of a case-folding file system is one folder under many names,
  // while names differing only in case are two folders elsewhere.
  struct stat st {};
  if (::stat(given.c_str(), &st) == 0)
    return "dev " + std::to_string(st.st_dev) + " inode " + std::to_string(st.st_ino);
  // A folder that is not there (yet) is known only by its resolved name.
  std::error_code ec;
  std::filesystem::path folder =
      std::filesystem::weakly_canonical(std::filesystem::absolute(given, ec), ec);
  if (ec) folder = given;
  std::string key = "path " + folder.string();
  if (key.back() != '/') key += '/';
  return key;
}

std::filesystem::path InstanceLockFolder(const std::filesystem::path& temp) {
  // XDG_RUNTIME_DIR and TMPDIR are not read: a desktop and a remote shell,
  // or two TMPDIRs, would put one folder's locks in two places.
  return temp / ("zirkplayer-" + std::to_string(::geteuid()));
}

std::filesystem::path InstanceLockPath(const std::string& key, const std::filesystem::path& temp) {
  return InstanceLockFolder(temp) / lockFileName(key);
}

std::unique_ptr<TInstanceLock> TInstanceLock::Acquire(const std::string& key,
                                                      const std::filesystem::path& temp) {
  const std::filesystem::path folder = InstanceLockFolder(temp);
  std::filesystem::path path = folder / lockFileName(key);
  // Checked again each time it is used.
  if (std::string problem = ownFolderProblem(folder); !problem.empty())
    return std::make_unique<TInstanceLock>(std::move(path), -1, std::move(problem));
  // A holder removes the file as it ends: a lock taken on a file that is no
  // longer the one named is no lock, and the named one is tried again.
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
      std::string problem = path.string() + ": " + std::strerror(errno);
      return std::make_unique<TInstanceLock>(std::move(path), -1, std::move(problem));
    }
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return nullptr;
      std::string problem = path.string() + ": " + std::strerror(error);
      return std::make_unique<TInstanceLock>(std::move(path), -1, std::move(problem));
    }
    if (sameFile(fd, path)) return std::make_unique<TInstanceLock>(std::move(path), fd);
    ::close(fd);
  }
  std::string problem = path.string() + " keeps being replaced";
  return std::make_unique<TInstanceLock>(std::move(path), -1, std::move(problem));
}

TInstanceLock::~TInstanceLock() {
  // Removed while still locked, so no one can take a lock on it that a
  // later player would not see; closing drops the lock.
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
}

}  // namespace zirk
