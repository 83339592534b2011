#pragma once
// One block of the socket's send queue: bytes are written behind the data
// and consumed from the front.

#include <cstdint>
#include <vector>

namespace zirk {

class TBuffer {
 public:
  // A size of 0 or less gives the Ethernet frame size.
  explicit TBuffer(int size = 0);

  // Copies what fits behind the data; returns the count copied.
  int Write(const void* data, int len);
  // The unread bytes (nullptr and 0 when there are none).
  const uint8_t* Peek(int& len) const;
  // Consumes up to len bytes; when all are consumed the buffer starts over.
  int Remove(int len);
  // Keeps the unread bytes; the new size must hold the written ones.
  void SetSize(int size);

  int Size() const { return static_cast<int>(data_.size()); }
  int Unread() const { return wrCount_ - rdCount_; }
  bool Full() const { return wrCount_ >= Size(); }

 private:
  std::vector<uint8_t> data_;
  int wrCount_ = 0;
  int rdCount_ = 0;
};

}  // namespace zirk
