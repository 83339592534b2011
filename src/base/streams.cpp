#include "base/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <utility>

namespace zirk {

namespace {

constexpr int64_t kReadAhead = 64 * 1024;

int64_t resolveSeek(int64_t offset, SeekOrigin origin, int64_t pos, int64_t size) {
  int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos : size;
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Stream seek error");
  return base + offset;
}

// As many links as the kernel follows in one name before it gives up.
constexpr int kMaxLinkHops = 40;

// The file a write to `hostPath` lands in: links followed, each relative one
// from its own folder, to the file the last one names, which need not exist
// yet. Replacing that file leaves the links pointing at the new contents.
std::string finalTarget(const std::string& hostPath) {
  std::string path = hostPath;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::error_code ec;
    const std::filesystem::path to = std::filesystem::read_symlink(path, ec);
    if (ec) return path;
    const size_t slash = path.rfind('/');
    path = to.is_absolute() || slash == std::string::npos ? to.string()
                                                          : path.substr(0, slash + 1) + to.string();
  }
  throw EFCreateError(hostPath, std::strerror(ELOOP));
}

// The mode open(O_CREAT, 0666) gives a new file. The mask is read from /proc
// because setting it, the only other way to learn it, is process-wide.
mode_t newFileMode() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Umask:", 0) == 0)
      return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  // A file another thread makes meanwhile gets the strictest mask, not none.
  const mode_t mask = ::umask(077);
  ::umask(mask);
  return 0666 & ~mask;
}

// An open file closed on every way out; close() reports its error.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }
  // The errno of a failed close, else 0.
  int close() { return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno; }

 private:
  int fd_;
};

// The errno of a failed write, else 0.
int writeAll(int fd, const std::vector<uint8_t>& data) {
  const uint8_t* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

// Truncates first, so a write that fails loses the old contents.
void saveInPlace(const std::string& hostPath, const std::vector<uint8_t>& data) {
  OwnedFd fd(::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (fd.get() < 0) throw EFCreateError(hostPath, std::strerror(errno));
  int err = writeAll(fd.get(), data);
  const int closeErr = fd.close();
  if (err == 0) err = closeErr;
  if (err != 0) throw EFCreateError(hostPath, std::strerror(err));
}

}  // namespace

int64_t TKwStream::Size() {
  int64_t pos = Seek(0, SeekOrigin::Current);
  int64_t size = Seek(0, SeekOrigin::End);
  Seek(pos, SeekOrigin::Begin);
  return size;
}

void TKwStream::SetSize(int64_t) {
  throw EStreamError("Stream size cannot be changed");
}

void TKwStream::ReadBuffer(void* buffer, int64_t count) {
  if (count <= 0) return;
  if (Read(buffer, count) != count) throw EReadError();
}

void TKwStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count <= 0) return;
  if (Write(buffer, count) != count) throw EWriteError();
}

int64_t TKwStream::CopyFrom(TKwStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count < 0) throw EReadError();
  if (TKwMemoryStream* mem = source.AsMemoryStream()) {
    int64_t pos = mem->Position();
    if (count > mem->Size() - pos) throw EReadError();
    WriteBuffer(mem->Memory() + pos, count);
    mem->SetPosition(pos + count);
    return count;
  }
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<int64_t>(count, 0x10000)));
  for (int64_t left = count; left > 0;) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return count;
}

// --- TKwMemoryStream ---

int64_t TKwMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = Size();
  if (count <= 0 || pos_ >= size) return 0;
  int64_t n = std::min(count, size - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TKwMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = pos_ + count;
  if (end > Size()) {
    if (static_cast<uint64_t>(end) > data_.max_size()) throw EWriteError();
    // Geometric growth keeps a long run of small writes linear.
    if (static_cast<size_t>(end) > data_.capacity())
      data_.reserve(std::max<size_t>(static_cast<size_t>(end), data_.capacity() * 2));
    data_.resize(static_cast<size_t>(end));
  }
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ = end;
  return count;
}

int64_t TKwMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = resolveSeek(offset, origin, pos_, Size());
  return pos_;
}

void TKwMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Stream size cannot be negative");
  data_.resize(static_cast<size_t>(newSize));
  if (pos_ > newSize) pos_ = newSize;
}

void TKwMemoryStream::Assign(std::vector<uint8_t> bytes) {
  data_ = std::move(bytes);
  pos_ = 0;
}

std::vector<uint8_t> TKwMemoryStream::Release() {
  pos_ = 0;
  return std::exchange(data_, {});
}

void TKwMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  pos_ = 0;
}

void TKwMemoryStream::LoadFromStream(TKwStream& source) {
  source.SetPosition(0);
  LoadFromStream(source, source.Size());
}

void TKwMemoryStream::LoadFromStream(TKwStream& source, int64_t count) {
  if (count < 0) throw EReadError();
  source.SetPosition(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  source.ReadBuffer(bytes.data(), count);
  Assign(std::move(bytes));
}

void TKwMemoryStream::LoadFromFile(const std::string& hostPath) {
  TKwFileStream file(hostPath, TKwFileStream::Mode::OpenRead);
  LoadFromStream(file);
}

void TKwMemoryStream::SaveToFile(const std::string& hostPath) const {
  TKwFileStream file(hostPath, TKwFileStream::Mode::Create);
  file.WriteBuffer(data_.data(), static_cast<int64_t>(data_.size()));
}

void TKwMemoryStream::SaveToFileReplacing(const std::string& hostPath) const {
  const std::string target = finalTarget(hostPath);
  // Only a regular file is replaced. Anything else the name reaches (a FIFO
  // with its reader, a device, a socket) is written into as a plain write
  // does, and a folder is refused by the open, naming the path as given.
  struct stat node {};
  const bool exists = ::stat(target.c_str(), &node) == 0;
  if (exists && !S_ISREG(node.st_mode)) {
    saveInPlace(hostPath, data_);
    return;
  }
  std::string temp = target + ".XXXXXX";
  OwnedFd fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    // A folder the user may not create in, or a name with no room for the
    // suffix, still holds a file the user may write; a full disk does not
    // come here, as truncating the old file would then lose it.
    const int why = errno;
    if (why == EACCES || why == EPERM || why == EROFS || why == ENAMETOOLONG) {
      saveInPlace(hostPath, data_);
      return;
    }
    throw EFCreateError(hostPath, std::strerror(why));
  }
  ::fchmod(fd.get(), exists ? (node.st_mode & 07777) : newFileMode());
  int err = writeAll(fd.get(), data_);
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  const int closeErr = fd.close();
  if (err == 0) err = closeErr;
  if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    throw EFCreateError(hostPath, std::strerror(err));
  }
}

// --- TKwFileStream ---

TKwFileStream::TKwFileStream(const std::string& hostPath, Mode mode) : path_(hostPath) {
  int flags = mode == Mode::OpenRead        ? O_RDONLY
              : mode == Mode::OpenReadWrite ? O_RDWR
                                            : O_RDWR | O_CREAT | O_TRUNC;
  fd_ = ::open(hostPath.c_str(), flags | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    if (mode == Mode::Create) throw EFCreateError(hostPath, std::strerror(errno));
    throw EFOpenError(hostPath, std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError(hostPath, std::strerror(EISDIR));
  }
}

TKwFileStream::~TKwFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TKwFileStream::dropReadAhead() {
  ahead_.clear();
  aheadStart_ = 0;
}

int64_t TKwFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    int64_t aheadEnd = aheadStart_ + static_cast<int64_t>(ahead_.size());
    if (pos_ >= aheadStart_ && pos_ < aheadEnd) {
      int64_t n = std::min(count - done, aheadEnd - pos_);
      std::memcpy(out + done, ahead_.data() + (pos_ - aheadStart_), static_cast<size_t>(n));
      pos_ += n;
      done += n;
      continue;
    }
    int64_t want = count - done;
    if (want >= kReadAhead) {
      // Large reads go straight to the caller's buffer.
      ssize_t r = ::pread(fd_, out + done, static_cast<size_t>(want), pos_);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      pos_ += r;
      done += r;
      continue;
    }
    ahead_.resize(static_cast<size_t>(kReadAhead));
    ssize_t r = ::pread(fd_, ahead_.data(), ahead_.size(), pos_);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      dropReadAhead();
      break;
    }
    ahead_.resize(static_cast<size_t>(r));
    aheadStart_ = pos_;
  }
  return done;
}

int64_t TKwFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  dropReadAhead();
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t w = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), pos_);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    pos_ += w;
    done += w;
  }
  return done;
}

int64_t TKwFileStream::Seek(int64_t offset, SeekOrigin origin) {
  pos_ = resolveSeek(offset, origin, pos_, origin == SeekOrigin::End ? Size() : 0);
  return pos_;
}

int64_t TKwFileStream::Size() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw EStreamError("Stream size error: " + path_);
  return st.st_size;
}

void TKwFileStream::SetSize(int64_t newSize) {
  dropReadAhead();
  if (newSize < 0 || ::ftruncate(fd_, newSize) != 0)
    throw EStreamError("Stream size cannot be changed: " + path_);
  if (pos_ > newSize) pos_ = newSize;
}

// --- record helpers ---

namespace {

template <typename T>
T readLE(TKwStream& stream) {
  uint8_t b[sizeof(T)];
  stream.ReadBuffer(b, sizeof(T));
  T v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(b[i]) << (8 * i);
  return v;
}

template <typename T>
void writeLE(TKwStream& stream, T v) {
  uint8_t b[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  stream.WriteBuffer(b, sizeof(T));
}

}  // namespace

uint16_t ReadStreamU16(TKwStream& stream) {
  return readLE<uint16_t>(stream);
}
uint32_t ReadStreamU32(TKwStream& stream) {
  return readLE<uint32_t>(stream);
}
void WriteStreamU16(TKwStream& stream, uint16_t value) {
  writeLE(stream, value);
}
void WriteStreamU32(TKwStream& stream, uint32_t value) {
  writeLE(stream, value);
}

void WriteStreamInt(TKwStream& stream, int32_t value) {
  writeLE(stream, static_cast<uint32_t>(value));
}

int32_t ReadStreamInt(TKwStream& stream) {
  return static_cast<int32_t>(readLE<uint32_t>(stream));
}

void WriteStreamString(TKwStream& stream, const std::string& value) {
  if (value.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) throw EWriteError();
  WriteStreamInt(stream, static_cast<int32_t>(value.size()));
  stream.WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

std::string ReadStreamString(TKwStream& stream) {
  int32_t len = ReadStreamInt(stream);
  // A damaged length must not become a huge allocation.
  if (len < 0 || len > stream.Remaining()) throw EReadError();
  std::string s(static_cast<size_t>(len), '\0');
  stream.ReadBuffer(s.data(), len);
  return s;
}

void StreamWriteStr(TKwStream& stream, const std::string& value) {
  WriteStreamString(stream, value);
}
std::string StreamReadStr(TKwStream& stream) {
  return ReadStreamString(stream);
}

}  // namespace zirk
