#include "medialib/stream.h"

#include <algorithm>
#include <cstring>

namespace zirk::medialib {

namespace {
std::mutex callbacksMutex;
StreamCallbacks installed;
}  // namespace

void SetStreamCallbacks(const StreamCallbacks& callbacks) {
  std::lock_guard lock(callbacksMutex);
  installed = callbacks;
}

StreamCallbacks GetStreamCallbacks() {
  std::lock_guard lock(callbacksMutex);
  return installed;
}

bool ByteSource::ReadExact(void* buffer, int32_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  int32_t done = 0;
  while (done < count) {
    int32_t n = Read(out + done, count - done);
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

CallbackSource::CallbackSource(std::shared_ptr<SharedStream> shared) : shared_(std::move(shared)) {}

int64_t CallbackSource::Size() {
  if (size_ >= 0) return size_;
  StreamCallbacks cb = GetStreamCallbacks();
  std::lock_guard lock(shared_->mutex_);
  int64_t size = cb.getSize ? cb.getSize(shared_->stream_) : 0;
  size_ = std::max<int64_t>(size, 0);
  return size_;
}

int32_t CallbackSource::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  StreamCallbacks cb = GetStreamCallbacks();
  if (!cb.read || !cb.seek) return 0;
  std::lock_guard lock(shared_->mutex_);
  if (shared_->streamPosition_ != position_) {
    shared_->streamPosition_ = cb.seek(shared_->stream_, position_);
    if (shared_->streamPosition_ != position_) return 0;
  }
  int32_t n = cb.read(shared_->stream_, buffer, count);
  // A stream answering more than was asked would make us trust bytes that
  // were never written.
  if (n < 0 || n > count) {
    shared_->streamPosition_ = -1;
    return 0;
  }
  shared_->streamPosition_ += n;
  position_ += n;
  return n;
}

int64_t CallbackSource::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, Size());
  return position_;
}

int32_t MemorySource::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int64_t left = Size() - position_;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, left));
  if (n <= 0) return 0;
  std::memcpy(buffer, bytes_->data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t MemorySource::Seek(int64_t position) {
  position_ = std::clamp<int64_t>(position, 0, Size());
  return position_;
}

}  // namespace zirk::medialib
