#include "base/rangestreams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zirk {

int64_t TRangeStream::Read(void* buffer, int64_t count) {
  std::lock_guard<std::mutex> guard(lock_);
  if (count <= 0 || pos_ >= size_) return 0;
  int64_t n = std::min(count, size_ - pos_);
  int64_t got = ReadAt(offset_ + pos_, buffer, n);
  if (got > 0) pos_ += got;
  return std::max<int64_t>(got, 0);
}

int64_t TRangeStream::Write(const void*, int64_t) {
  return 0;
}

int64_t TRangeStream::Seek(int64_t offset, SeekOrigin origin) {
  std::lock_guard<std::mutex> guard(lock_);
  int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos_ : size_;
  // base and size_ are within 0..size_, so only a huge offset can overflow.
  if (offset >= size_ - base)
    pos_ = size_;
  else if (offset <= -base)
    pos_ = 0;
  else
    pos_ = base + offset;
  return pos_;
}

TFileRangeStream::TFileRangeStream(const std::string& hostPath, int64_t offset, int64_t size)
    : path_(hostPath) {
  fd_ = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw EFOpenError(hostPath, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || S_ISDIR(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError(hostPath, std::strerror(err));
  }
  int64_t fileSize = st.st_size;
  offset = std::clamp<int64_t>(offset, 0, fileSize);
  if (size <= 0 || size > fileSize - offset) size = fileSize - offset;
  SetRange(offset, size);
}

TFileRangeStream::~TFileRangeStream() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t TFileRangeStream::ReadAt(int64_t absolute, void* buffer, int64_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t r = ::pread(fd_, out + done, static_cast<size_t>(count - done), absolute + done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
  }
  return done;
}

}  // namespace zirk
