#include "base/records.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zirk {

void TRecordReader::Fail(const std::string& message) const {
  throw EFormatError(message);
}

void TRecordReader::need(int64_t bytes) {
  if (bytes < 0 || stream_.Remaining() < bytes) Fail(what_ + " is truncated");
}

uint8_t TRecordReader::Byte() {
  need(1);
  uint8_t v = 0;
  stream_.ReadBuffer(&v, 1);
  return v;
}

int32_t TRecordReader::Int() {
  need(4);
  return ReadStreamInt(stream_);
}

TPoint TRecordReader::Point() {
  int32_t x = Int();
  int32_t y = Int();
  return {x, y};
}

double TRecordReader::Double(double fallback) {
  need(8);
  uint8_t bytes[8];
  stream_.ReadBuffer(bytes, 8);
  uint64_t bits = 0;
  for (int k = 7; k >= 0; --k) bits = bits << 8 | bytes[k];
  double v = 0;
  std::memcpy(&v, &bits, sizeof v);
  if (std::isnan(v)) return fallback;
  return std::clamp(v, -kDoubleLimit, kDoubleLimit);
}

std::string TRecordReader::Str() {
  int32_t len = Int();
  if (len < 0) Fail(what_ + " has a negative string length");
  need(len);
  std::string s(static_cast<size_t>(len), '\0');
  if (len > 0) stream_.ReadBuffer(s.data(), len);
  return s;
}

std::vector<uint8_t> TRecordReader::Bytes(int32_t count) {
  if (count < 0) Fail(what_ + " has a negative length");
  need(count);
  std::vector<uint8_t> bytes(static_cast<size_t>(count));
  if (count > 0) stream_.ReadBuffer(bytes.data(), count);
  return bytes;
}

int32_t TRecordReader::Count(int32_t itemBytes) {
  int32_t n = Int();
  if (n < 0) Fail(what_ + " has a negative count");
  need(int64_t(n) * std::max(itemBytes, 1));
  return n;
}

void TRecordWriter::Double(double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof v);
  uint8_t bytes[8];
  for (int k = 0; k < 8; ++k) bytes[k] = static_cast<uint8_t>(bits >> (8 * k));
  stream_.WriteBuffer(bytes, 8);
}

}  // namespace zirk
