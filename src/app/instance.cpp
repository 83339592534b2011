#include "app/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

std::string InstanceKey(const std::filesystem::path& baseFolder) {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::weakly_canonical(
      std::filesystem::absolute(baseFolder.empty() ? "." : baseFolder, ec), ec);
  if (ec) folder = baseFolder;
  std::string key = folder.string();
  if (key.empty() || key.back() != '/') key += '/';
  for (char& c : key) {
    if (c == '/' || c == '\\')
      c = '-';
    else
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return key;
}

std::filesystem::path InstanceLockPath(const std::string& key) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::filesystem::path dir = runtime != nullptr && *runtime == '/' ? runtime : "/tmp";
  char name[64];
  std::snprintf(name, sizeof name, "zirkplayer-%016llx.lock",
                static_cast<unsigned long long>(hashKey(key)));
  return dir / name;
}

std::unique_ptr<TInstanceLock> TInstanceLock::Acquire(const std::string& key) {
  std::filesystem::path path = InstanceLockPath(key);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return std::make_unique<TInstanceLock>(std::move(path), -1);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    if (held) return nullptr;
    return std::make_unique<TInstanceLock>(std::move(path), -1);
  }
  return std::make_unique<TInstanceLock>(std::move(path), fd);
}

TInstanceLock::~TInstanceLock() {
  // Closing drops the lock; the file stays, as a later player reuses it.
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace zirk
