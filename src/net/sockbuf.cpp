#include "net/sockbuf.h"

#include <algorithm>
#include <cstring>

namespace zirk {

namespace {
constexpr int kDefaultBufferSize = 1514;
}

TBuffer::TBuffer(int size) : data_(static_cast<size_t>(size <= 0 ? kDefaultBufferSize : size)) {}

int TBuffer::Write(const void* data, int len) {
  int n = std::clamp(Size() - wrCount_, 0, std::max(len, 0));
  if (n > 0) std::memcpy(data_.data() + wrCount_, data, static_cast<size_t>(n));
  wrCount_ += n;
  return n;
}

const uint8_t* TBuffer::Peek(int& len) const {
  len = wrCount_ - rdCount_;
  if (len <= 0) {
    len = 0;
    return nullptr;
  }
  return data_.data() + rdCount_;
}

int TBuffer::Remove(int len) {
  int n = std::clamp(len, 0, Unread());
  rdCount_ += n;
  if (rdCount_ >= wrCount_) rdCount_ = wrCount_ = 0;
  return n;
}

void TBuffer::SetSize(int size) {
  size = std::max(size, wrCount_);
  if (size <= 0) size = kDefaultBufferSize;
  data_.resize(static_cast<size_t>(size));
}

}  // namespace zirk
