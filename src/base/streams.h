#pragma once
// The stream hierarchy every reader and writer of the player takes: read,
// write, seek, position and size with 64-bit positions. A memory stream
// exposes its bytes, and any stream can be asked whether it is one, because
// several readers copy memory streams directly or decode data in place.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"

namespace zirk {

enum class SeekOrigin { Begin, Current, End };

class TKwMemoryStream;

class TKwStream {
 public:
  virtual ~TKwStream() = default;
  TKwStream() = default;
  TKwStream(const TKwStream&) = delete;
  TKwStream& operator=(const TKwStream&) = delete;

  // Reads up to count bytes at the position; returns how many were read.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes at the position; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Moves the position and returns the new one; positions before 0 fail.
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size();
  // Streams that cannot change size raise EStreamError.
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, SeekOrigin::Current); }
  void SetPosition(int64_t pos) { Seek(pos, SeekOrigin::Begin); }
  int64_t Remaining() { return Size() - Position(); }

  // Exactly count bytes or EReadError / EWriteError. A count of 0 is a no-op.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from the source's position (0 = the whole source from
  // its start) and returns the count copied.
  int64_t CopyFrom(TKwStream& source, int64_t count);

  // The memory stream behind this object, or nullptr when it is not one.
  virtual TKwMemoryStream* AsMemoryStream() { return nullptr; }
};

class TKwMemoryStream : public TKwStream {
 public:
  TKwMemoryStream() = default;
  explicit TKwMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t newSize) override;
  TKwMemoryStream* AsMemoryStream() override { return this; }

  uint8_t* Memory() { return data_.data(); }
  const uint8_t* Memory() const { return data_.data(); }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  // Replaces the content; the position goes to 0.
  void Assign(std::vector<uint8_t> bytes);
  std::vector<uint8_t> Release();
  void Clear();
  // Replaces the content by the source's bytes from its start: all of them,
  // or exactly `count` (EReadError when it has fewer).
  void LoadFromStream(TKwStream& source);
  void LoadFromStream(TKwStream& source, int64_t count);
  void LoadFromFile(const std::string& hostPath);
  void SaveToFile(const std::string& hostPath) const;
  // Written beside the file and renamed over it only when whole, with the
  // old file's mode: a write that fails (a full disk) leaves the old file as
  // it was and no temporary behind. A link is followed and the file it names
  // replaced; a new file's mode is 0666 less the umask. Where no temporary
  // can be made beside the file (a folder the user may not create in, a
  // name too long for the suffix), the file is written in place, as a plain
  // write would. EFCreateError names the file as given.
  void SaveToFileReplacing(const std::string& hostPath) const;

 private:
  std::vector<uint8_t> data_;
  int64_t pos_ = 0;
};

// A host file with a read-ahead buffer. Names are host (Linux) paths.
class TKwFileStream : public TKwStream {
 public:
  enum class Mode { OpenRead, OpenReadWrite, Create };
  TKwFileStream(const std::string& hostPath, Mode mode);
  ~TKwFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t newSize) override;
  const std::string& FileName() const { return path_; }

 private:
  void dropReadAhead();

  std::string path_;
  int fd_ = -1;
  int64_t pos_ = 0;
  std::vector<uint8_t> ahead_;  // bytes of the file from aheadStart_
  int64_t aheadStart_ = 0;
};

// Integers are 32-bit little-endian; a string is an int32 length and its
// bytes without terminator. Readers refuse a negative length or one beyond
// the stream's end.
void WriteStreamInt(TKwStream& stream, int32_t value);
int32_t ReadStreamInt(TKwStream& stream);
void WriteStreamString(TKwStream& stream, const std::string& value);
std::string ReadStreamString(TKwStream& stream);
// The second pair of the same string format, kept because callers use both names.
void StreamWriteStr(TKwStream& stream, const std::string& value);
std::string StreamReadStr(TKwStream& stream);

// Little-endian helpers for readers of other fields.
uint16_t ReadStreamU16(TKwStream& stream);
uint32_t ReadStreamU32(TKwStream& stream);
void WriteStreamU16(TKwStream& stream, uint16_t value);
void WriteStreamU32(TKwStream& stream, uint32_t value);

}  // namespace zirk
