#pragma once
// Typed script parameters: integer, 80-bit float, string and boolean. A
// parameter keeps its own type; assigning a value of another type converts
// it, which is how property reads land in whatever holder the caller made.

#include <cstdint>
#include <memory>
#include <string>

#include "base/streams.h"

namespace zirk {

class TCustomParam {
 public:
  virtual ~TCustomParam() = default;

  virtual int32_t AsInteger() const = 0;
  virtual long double AsFloat() const = 0;
  virtual std::string AsString() const = 0;
  virtual bool AsBoolean() const = 0;

  virtual void SetInteger(int32_t value) = 0;
  virtual void SetFloat(long double value) = 0;
  virtual void SetString(const std::string& value) = 0;
  virtual void SetBoolean(bool value) = 0;
  // Zero or the empty string: what a property getter without a slot gives.
  virtual void Clear() = 0;

  virtual std::unique_ptr<TCustomParam> Clone() const = 0;
};

class TParamInteger : public TCustomParam {
 public:
  explicit TParamInteger(int32_t value = 0) : value_(value) {}
  int32_t AsInteger() const override { return value_; }
  long double AsFloat() const override { return value_; }
  std::string AsString() const override { return std::to_string(value_); }
  bool AsBoolean() const override { return value_ != 0; }
  void SetInteger(int32_t value) override { value_ = value; }
  void SetFloat(long double value) override;
  void SetString(const std::string& value) override;
  void SetBoolean(bool value) override { value_ = value ? 1 : 0; }
  void Clear() override { value_ = 0; }
  std::unique_ptr<TCustomParam> Clone() const override;

 private:
  int32_t value_;
};

class TParamFloat : public TCustomParam {
 public:
  explicit TParamFloat(long double value = 0) : value_(value) {}
  int32_t AsInteger() const override;
  long double AsFloat() const override { return value_; }
  std::string AsString() const override;
  bool AsBoolean() const override { return value_ != 0; }
  void SetInteger(int32_t value) override { value_ = value; }
  void SetFloat(long double value) override { value_ = value; }
  void SetString(const std::string& value) override;
  void SetBoolean(bool value) override { value_ = value ? 1 : 0; }
  void Clear() override { value_ = 0; }
  std::unique_ptr<TCustomParam> Clone() const override;

 private:
  long double value_;
};

class TParamString : public TCustomParam {
 public:
  explicit TParamString(std::string value = {}) : value_(std::move(value)) {}
  int32_t AsInteger() const override;
  long double AsFloat() const override;
  std::string AsString() const override { return value_; }
  bool AsBoolean() const override;
  void SetInteger(int32_t value) override { value_ = std::to_string(value); }
  void SetFloat(long double value) override;
  void SetString(const std::string& value) override { value_ = value; }
  // By count and character: GCC 12 at -O2 misreads assigning a short
  // literal as an overlapping copy (-Wrestrict).
  void SetBoolean(bool value) override { value_.assign(1, value ? '1' : '0'); }
  void Clear() override { value_.clear(); }
  std::unique_ptr<TCustomParam> Clone() const override;

 private:
  std::string value_;
};

class TParamBoolean : public TCustomParam {
 public:
  explicit TParamBoolean(bool value = false) : value_(value) {}
  int32_t AsInteger() const override { return value_ ? 1 : 0; }
  long double AsFloat() const override { return value_ ? 1 : 0; }
  std::string AsString() const override { return value_ ? "1" : "0"; }
  bool AsBoolean() const override { return value_; }
  void SetInteger(int32_t value) override { value_ = value != 0; }
  void SetFloat(long double value) override { value_ = value != 0; }
  void SetString(const std::string& value) override;
  void SetBoolean(bool value) override { value_ = value; }
  void Clear() override { value_ = false; }
  std::unique_ptr<TCustomParam> Clone() const override;

 private:
  bool value_;
};

// Float to integer as the script engine converts it: nearest, halves to even,
// saturated to the int32 range (NaN gives 0) so no conversion is undefined.
int32_t FloatToInt32(long double value);

// Text to number: an optional sign and decimal digits ("$" or "0x" for hex);
// anything else gives 0. Out-of-range values saturate.
int32_t TextToInt32(const std::string& text);
long double TextToFloat(const std::string& text);

// The 80-bit extended float as its 10 little-endian bytes (64-bit mantissa
// with explicit integer bit, 15-bit biased exponent, sign), independent of
// the host's long double.
void WriteStreamExtended(TKwStream& stream, long double value);
long double ReadStreamExtended(TKwStream& stream);
void EncodeExtended(long double value, uint8_t out[10]);
long double DecodeExtended(const uint8_t in[10]);

}  // namespace zirk
