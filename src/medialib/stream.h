#pragma once
// Byte input of the decoders. Every byte the library reads comes either
// through the player's four stream callbacks or from a copy the library
// keeps of memory the player handed over.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "medialib/zirk.h"

namespace zirk::medialib {

struct StreamCallbacks {
  ZirkStreamGetSizeProc getSize = nullptr;
  ZirkStreamReadProc read = nullptr;
  ZirkStreamGetPositionProc getPosition = nullptr;
  ZirkStreamSeekProc seek = nullptr;
};

// The callbacks zirkInit installed (all null before).
void SetStreamCallbacks(const StreamCallbacks& callbacks);
StreamCallbacks GetStreamCallbacks();

// A random-access byte reader with its own position.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual int64_t Size() = 0;
  // Reads up to `count` bytes at the current position; fewer at the end.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  // Moves to `position` (clamped to 0..Size) and answers where it went.
  virtual int64_t Seek(int64_t position) = 0;
  virtual int64_t Tell() const = 0;

  // Reads exactly `count` bytes or answers false.
  bool ReadExact(void* buffer, int32_t count);
};

// One player stream, shared by the readers that use it: a movie's audio and
// picture are demuxed by two readers, each with its own position, so every
// read is a seek-and-read pair under the stream's lock.
class SharedStream {
 public:
  explicit SharedStream(void* stream) : stream_(stream) {}
  void* Handle() const { return stream_; }

 private:
  friend class CallbackSource;
  void* stream_;
  std::mutex mutex_;
  int64_t streamPosition_ = -1;  // where the player's stream stands; -1 unknown
};

class CallbackSource final : public ByteSource {
 public:
  explicit CallbackSource(std::shared_ptr<SharedStream> shared);
  int64_t Size() override;
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Tell() const override { return position_; }

 private:
  std::shared_ptr<SharedStream> shared_;
  int64_t position_ = 0;
  int64_t size_ = -1;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::shared_ptr<const std::vector<uint8_t>> bytes)
      : bytes_(std::move(bytes)) {}
  int64_t Size() override { return static_cast<int64_t>(bytes_->size()); }
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t position) override;
  int64_t Tell() const override { return position_; }

 private:
  std::shared_ptr<const std::vector<uint8_t>> bytes_;
  int64_t position_ = 0;
};

}  // namespace zirk::medialib
