#pragma once
// Read-only windows onto a byte range of some storage. The media library
// reads them from threads of its own, so every operation is guarded by the
// stream's own lock. Positions are held to the window: a seek before the
// start stops at 0 and one past the end stops at the end, and the new
// position is returned, which is what the library's seek callback reports.

#include <cstdint>
#include <mutex>
#include <string>

#include "base/streams.h"

namespace zirk {

class TRangeStream : public TKwStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  // Read-only: writes nothing (WriteBuffer then raises EWriteError).
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return size_; }

  int64_t RangeOffset() const { return offset_; }

 protected:
  TRangeStream() = default;
  // Sets the window; called once by the derived constructor.
  void SetRange(int64_t offset, int64_t size) {
    offset_ = offset;
    size_ = size;
  }
  // Reads up to count bytes at an absolute offset of the storage; returns
  // how many were read. Called with the lock held.
  virtual int64_t ReadAt(int64_t absolute, void* buffer, int64_t count) = 0;

 private:
  std::mutex lock_;
  int64_t offset_ = 0;
  int64_t size_ = 0;
  int64_t pos_ = 0;
};

// A range of a host file. Offset 0 and size 0 give the whole file; size 0
// means "to the end of the file", and a range reaching past the end is cut
// at the end. A missing file raises EFOpenError.
class TFileRangeStream : public TRangeStream {
 public:
  TFileRangeStream(const std::string& hostPath, int64_t offset, int64_t size);
  ~TFileRangeStream() override;

  const std::string& FileName() const { return path_; }

 protected:
  int64_t ReadAt(int64_t absolute, void* buffer, int64_t count) override;

 private:
  std::string path_;
  int fd_ = -1;
};

}  // namespace zirk
