#include "script/params.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace zirk {

int32_t FloatToInt32(long double value) {
  if (std::isnan(value)) return 0;
  long double r = std::nearbyint(value);
  if (r >= 2147483647.0L) return std::numeric_limits<int32_t>::max();
  if (r <= -2147483648.0L) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

int32_t TextToInt32(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) return 0;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return 0;
    }
    value = value * base + digit;
    if (value > (int64_t{1} << 32)) value = int64_t{1} << 32;  // saturates below
  }
  if (base == 16 && !negative && value <= 0xFFFFFFFFLL) {
    // Hex literals name bit patterns: "$FFFFFFFF" is -1.
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

long double TextToFloat(const std::string& text) {
  if (text.empty()) return 0;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long double v = std::strtold(begin, &end);
  while (end && (*end == ' ' || *end == '\t')) ++end;
  if (end == begin || (end && *end != '\0')) return TextToInt32(text);
  return v;
}

static std::string floatText(long double value) {
  if (value == std::nearbyint(value) && std::fabs(value) < 1e18L) {
    return std::to_string(static_cast<long long>(value));
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.18Lg", value);
  return buf;
}

void TParamInteger::SetFloat(long double value) {
  value_ = FloatToInt32(value);
}
void TParamInteger::SetString(const std::string& value) {
  value_ = TextToInt32(value);
}
std::unique_ptr<TCustomParam> TParamInteger::Clone() const {
  return std::make_unique<TParamInteger>(value_);
}

int32_t TParamFloat::AsInteger() const {
  return FloatToInt32(value_);
}
std::string TParamFloat::AsString() const {
  return floatText(value_);
}
void TParamFloat::SetString(const std::string& value) {
  value_ = TextToFloat(value);
}
std::unique_ptr<TCustomParam> TParamFloat::Clone() const {
  return std::make_unique<TParamFloat>(value_);
}

int32_t TParamString::AsInteger() const {
  return TextToInt32(value_);
}
long double TParamString::AsFloat() const {
  return TextToFloat(value_);
}
bool TParamString::AsBoolean() const {
  return !value_.empty() && TextToFloat(value_) != 0;
}
void TParamString::SetFloat(long double value) {
  value_ = floatText(value);
}
std::unique_ptr<TCustomParam> TParamString::Clone() const {
  return std::make_unique<TParamString>(value_);
}

void TParamBoolean::SetString(const std::string& value) {
  value_ = !value.empty() && TextToFloat(value) != 0;
}
std::unique_ptr<TCustomParam> TParamBoolean::Clone() const {
  return std::make_unique<TParamBoolean>(value_);
}

void EncodeExtended(long double value, uint8_t out[10]) {
  std::memset(out, 0, 10);
  uint16_t sign = std::signbit(value) ? 0x8000 : 0;
  uint16_t exponent = 0;
  uint64_t mantissa = 0;
  if (std::isnan(value)) {
    exponent = 0x7FFF;
    mantissa = 0xC000000000000000ULL;
  } else if (std::isinf(value)) {
    exponent = 0x7FFF;
    mantissa = 0x8000000000000000ULL;
  } else if (value != 0) {
    int e = 0;
    long double m = std::frexp(std::fabs(value), &e);  // m in [0.5, 1)
    int biased = e - 1 + 16383;
    if (biased <= 0) {
      // Subnormal in the 80-bit format: shift the mantissa right.
      int shift = 1 - biased;
      mantissa = shift < 64 ? static_cast<uint64_t>(std::ldexp(m, 64 - shift)) : 0;
      exponent = 0;
    } else if (biased >= 0x7FFF) {
      exponent = 0x7FFF;
      mantissa = 0x8000000000000000ULL;
    } else {
      exponent = static_cast<uint16_t>(biased);
      mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    }
  }
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(mantissa >> (8 * i));
  uint16_t top = sign | exponent;
  out[8] = static_cast<uint8_t>(top);
  out[9] = static_cast<uint8_t>(top >> 8);
}

long double DecodeExtended(const uint8_t in[10]) {
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa |= static_cast<uint64_t>(in[i]) << (8 * i);
  uint16_t top = static_cast<uint16_t>(in[8] | (in[9] << 8));
  bool negative = (top & 0x8000) != 0;
  int exponent = top & 0x7FFF;
  long double v;
  if (exponent == 0x7FFF) {
    v = (mantissa << 1) == 0 ? std::numeric_limits<long double>::infinity()
                             : std::numeric_limits<long double>::quiet_NaN();
  } else if (exponent == 0) {
    v = std::ldexp(static_cast<long double>(mantissa), 1 - 16383 - 63);
  } else {
    v = std::ldexp(static_cast<long double>(mantissa), exponent - 16383 - 63);
  }
  return negative ? -v : v;
}

void WriteStreamExtended(TKwStream& stream, long double value) {
  uint8_t bytes[10];
  EncodeExtended(value, bytes);
  stream.WriteBuffer(bytes, 10);
}

long double ReadStreamExtended(TKwStream& stream) {
  uint8_t bytes[10];
  stream.ReadBuffer(bytes, 10);
  return DecodeExtended(bytes);
}

}  // namespace zirk
