#pragma once
// Records: the little-endian fields of a save record or a film track, read
// and written one way. Every read is checked against the bytes left, so a
// damaged length or count raises the format error instead of reading past
// the end or allocating what the stream cannot hold. A field that a later
// version of the format added is read through From: present from that
// version on, else its default.

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "base/geometry.h"
#include "base/streams.h"

namespace zirk {

// A record that cannot be read: truncated, or a length or count beyond its
// bytes.
class EFormatError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

class TRecordReader {
 public:
  // `what` names the record in error messages ("saved object record").
  TRecordReader(TKwStream& stream, int32_t version, std::string what = "record")
      : stream_(stream), version_(version), what_(std::move(what)) {}
  virtual ~TRecordReader() = default;
  TRecordReader(const TRecordReader&) = delete;
  TRecordReader& operator=(const TRecordReader&) = delete;

  int32_t Version() const { return version_; }
  // True when records of this version hold the fields added in `since`.
  bool Has(int32_t since) const { return version_ >= since; }
  // A field added in version `since`: read when present, else the fallback.
  template <class T>
  T From(int32_t since, T fallback) {
    if (!Has(since)) return fallback;
    if constexpr (std::is_same_v<T, double>)
      return Double(fallback);
    else
      return Read<T>();
  }
  template <class T>
  T Read();

  uint8_t Byte();
  bool Bool() { return Byte() != 0; }
  int32_t Int();
  TPoint Point();
  // NaN gives the fallback; other values are limited to +-kDoubleLimit.
  double Double(double fallback);
  std::string Str();
  // Exactly count raw bytes.
  std::vector<uint8_t> Bytes(int32_t count);
  // A count of items of at least itemBytes each.
  int32_t Count(int32_t itemBytes);
  static constexpr double kDoubleLimit = 1.0e6;

  // For a nested record of another format that checks its own reads.
  TKwStream& Stream() { return stream_; }

 protected:
  // Raises the format error; readers of other files raise their own.
  [[noreturn]] virtual void Fail(const std::string& message) const;

 private:
  void need(int64_t bytes);
  TKwStream& stream_;
  int32_t version_;
  std::string what_;
};

template <>
inline uint8_t TRecordReader::Read<uint8_t>() {
  return Byte();
}
template <>
inline bool TRecordReader::Read<bool>() {
  return Bool();
}
template <>
inline int32_t TRecordReader::Read<int32_t>() {
  return Int();
}
template <>
inline TPoint TRecordReader::Read<TPoint>() {
  return Point();
}
template <>
inline std::string TRecordReader::Read<std::string>() {
  return Str();
}

// Writes the current layout of a record.
class TRecordWriter {
 public:
  explicit TRecordWriter(TKwStream& stream) : stream_(stream) {}
  virtual ~TRecordWriter() = default;
  TRecordWriter(const TRecordWriter&) = delete;
  TRecordWriter& operator=(const TRecordWriter&) = delete;

  void Byte(uint8_t v) { stream_.WriteBuffer(&v, 1); }
  void Bool(bool v) { Byte(v ? 1 : 0); }
  void Int(int32_t v) { WriteStreamInt(stream_, v); }
  void Point(TPoint p) {
    Int(p.X);
    Int(p.Y);
  }
  void Double(double v);
  void Str(const std::string& s) { WriteStreamString(stream_, s); }
  void Bytes(const void* data, int64_t count) { stream_.WriteBuffer(data, count); }

  TKwStream& Stream() { return stream_; }

 private:
  TKwStream& stream_;
};

}  // namespace zirk
