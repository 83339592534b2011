#pragma once
// Buffered big-endian reading and writing for the picture codecs. A reader
// sees a window of its source (start position + data length) through a
// 65536-byte buffer, or straight through a memory stream's bytes; a request
// that would pass the window's end sets AtEnd instead of reading, so a
// cut-short file ends the parse quietly rather than raising. A writer
// gathers small writes in a 65536-byte buffer.

#include <cstdint>
#include <memory>

#include "base/streams.h"

namespace zirk {

// Splits a long job into phases, each taking a share of the percent that
// is left, and reports only when the whole percent grows.
class TKwProgressPhases {
 public:
  void Reset();
  // A new phase of `total` units taking sharePercent of what is left.
  void BeginPhase(int sharePercent, int64_t total);
  // Returns the percent to report, or -1 when it did not grow.
  int Step(int64_t done);
  // 100 when not yet reported, else -1.
  int Complete();

 private:
  int report(double percent);

  double base_ = 0;
  double span_ = 0;
  int64_t total_ = 1;
  int last_ = -1;
};

class TKwCustomReadStream {
 public:
  static constexpr int64_t kBufferSize = 65536;

  TKwCustomReadStream();
  virtual ~TKwCustomReadStream();
  TKwCustomReadStream(const TKwCustomReadStream&) = delete;
  TKwCustomReadStream& operator=(const TKwCustomReadStream&) = delete;

  // Called with 0..100; a non-zero result asks the read to stop.
  virtual int Progress(int percent);

  // A 128-byte MacBinary header (bytes 0 and 74 zero) is skipped.
  bool SkipMacBinary = true;

  bool Stopped() const { return stopped_; }
  bool AtEnd() const { return atEnd_; }
  bool MacBinaryFound() const { return macBinaryFound_; }

 protected:
  // Takes the window from the source's position; a length below 1 means
  // up to the source's end.
  void BeginSource(TKwStream& source, int64_t length);
  // Leaves the source just after the bytes consumed and frees the buffer.
  void EndSource();

  // Each returns 0 (reads nothing) once Stopped or AtEnd is set. Reading
  // or skipping 0 bytes does nothing.
  uint8_t ReadByte();
  uint16_t ReadWord();
  uint32_t ReadLong();
  // False (and dest zero-filled) when the block could not be read.
  bool ReadBlock(void* dest, int64_t count);
  void Skip(int64_t count);
  // Bytes of the window not yet consumed.
  int64_t DataLeft() const { return length_ - consumed_; }
  int64_t DataLength() const { return length_; }
  int64_t Consumed() const { return consumed_; }

  void BeginProgressPhase(int sharePercent, int64_t total);
  void StepProgress(int64_t done);
  void CompleteProgress();

  bool stopped_ = false;
  bool atEnd_ = false;
  bool macBinaryFound_ = false;

 private:
  bool canRead(int64_t count);
  // Makes `count` (at most kBufferSize) bytes available in the buffer.
  bool fill(int64_t count);
  void report(int percent);

  TKwStream* source_ = nullptr;
  int64_t start_ = 0;
  int64_t length_ = 0;
  int64_t consumed_ = 0;
  // Bytes of the window fetched into the buffer so far (the source stands
  // at start_ + fetched_ when it is not read in place).
  int64_t fetched_ = 0;
  const uint8_t* cursor_ = nullptr;
  int64_t left_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  bool inPlace_ = false;
  TKwProgressPhases phases_;
};

class TKwCustomWriteStream {
 public:
  static constexpr int64_t kBufferSize = 65536;

  TKwCustomWriteStream();
  virtual ~TKwCustomWriteStream();
  TKwCustomWriteStream(const TKwCustomWriteStream&) = delete;
  TKwCustomWriteStream& operator=(const TKwCustomWriteStream&) = delete;

  // Called with 0..100; a non-zero result asks the write to stop.
  virtual int Progress(int percent);

  bool Stopped() const { return stopped_; }
  int64_t TotalWritten() const { return total_; }

 protected:
  void BeginDest(TKwStream& dest);
  // Nothing is accepted once Stopped is set; 0 bytes write nothing.
  void WriteBlock(const void* data, int64_t count);
  void WriteLong(uint32_t value);
  void Flush();

  void BeginProgressPhase(int sharePercent, int64_t total);
  void StepProgress(int64_t done);
  void CompleteProgress();

  bool stopped_ = false;

 private:
  void report(int percent);

  TKwStream* dest_ = nullptr;
  std::unique_ptr<uint8_t[]> buffer_;
  int64_t buffered_ = 0;
  int64_t total_ = 0;
  TKwProgressPhases phases_;
};

}  // namespace zirk
