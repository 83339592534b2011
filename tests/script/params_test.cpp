#include "script/params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "script/props.h"

namespace zirk {
namespace {

TEST(Params, ConversionsBetweenHolderTypes) {
  struct Case {
    const char* text;
    int32_t asInt;
    long double asFloat;
    bool asBool;
  };
  const Case cases[] = {
      {"12", 12, 12, true},        {"-7", -7, -7, true},
      {"", 0, 0, false},           {"abc", 0, 0, false},
      {"$FF", 255, 255, true},     {"0x10", 16, 16, true},
      {"2.5", 0, 2.5L, true},      {"99999999999", 2147483647, 99999999999.0L, true},
      {"$FFFFFFFF", -1, -1, true},
  };
  for (const Case& c : cases) {
    TParamString s(c.text);
    EXPECT_EQ(s.AsInteger(), c.asInt) << c.text;
    EXPECT_EQ(s.AsFloat(), c.asFloat) << c.text;
    EXPECT_EQ(s.AsBoolean(), c.asBool) << c.text;
  }
  TParamInteger i;
  i.SetFloat(2.5L);  // halves go to the even neighbour
  EXPECT_EQ(i.AsInteger(), 2);
  i.SetFloat(3.5L);
  EXPECT_EQ(i.AsInteger(), 4);
  i.SetFloat(1e30L);
  EXPECT_EQ(i.AsInteger(), std::numeric_limits<int32_t>::max());
  i.SetFloat(std::nanl(""));
  EXPECT_EQ(i.AsInteger(), 0);
  TParamFloat f;
  f.SetInteger(-3);
  EXPECT_EQ(f.AsString(), "-3");
  f.SetString("0.25");
  EXPECT_EQ(f.AsFloat(), 0.25L);
  TParamBoolean b;
  b.SetString("0");
  EXPECT_FALSE(b.AsBoolean());
  b.SetInteger(5);
  EXPECT_EQ(b.AsInteger(), 1);
  TParamString text;
  text.SetBoolean(true);
  EXPECT_EQ(text.AsString(), "1");
  text.SetBoolean(false);
  EXPECT_EQ(text.AsString(), "0");
  // Clear gives each holder's own zero: what a getter without a slot yields.
  TParamString cleared("x");
  cleared.Clear();
  EXPECT_EQ(cleared.AsString(), "");
}

TEST(Params, ExtendedIsTenLittleEndianBytes) {
  uint8_t one[10];
  EncodeExtended(1.0L, one);
  const uint8_t expectOne[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(0, std::memcmp(one, expectOne, 10));
  uint8_t minusTwo[10];
  EncodeExtended(-2.0L, minusTwo);
  EXPECT_EQ(minusTwo[9], 0xC0);
  EXPECT_EQ(minusTwo[8], 0x00);

  const long double values[] = {0.0L,
                                1.0L,
                                -2.5L,
                                1e-300L,
                                123456789.125L,
                                1e300L,
                                std::numeric_limits<long double>::infinity(),
                                -std::numeric_limits<long double>::infinity()};
  for (long double v : values) {
    TKwMemoryStream s;
    WriteStreamExtended(s, v);
    ASSERT_EQ(s.Size(), 10);
    s.SetPosition(0);
    EXPECT_EQ(ReadStreamExtended(s), v);
  }
  uint8_t nan[10];
  EncodeExtended(std::nanl(""), nan);
  EXPECT_TRUE(std::isnan(DecodeExtended(nan)));
  // A truncated value is a read error, not garbage.
  TKwMemoryStream shortStream(std::vector<uint8_t>(9, 0));
  EXPECT_THROW(ReadStreamExtended(shortStream), EReadError);
}

class Recorder : public TPropObject {
 public:
  void GetProp(int id, TCustomParam& value) override {
    lastGet = id;
    value.SetInteger(id * 10);
  }
  void SetProp(int id, const TCustomParam& value) override {
    lastSet = id;
    lastValue = value.AsString();
  }
  int lastGet = -1, lastSet = -1;
  std::string lastValue;
};

TEST(Props, DispatchAndErrors) {
  Recorder r;
  TParamFloat holder;
  GetObjectProp(holder, r, PR_LEFT);
  EXPECT_EQ(holder.AsFloat(), PR_LEFT * 10);
  GetObjectProp(holder, r, PR_APPEARX);  // readable
  EXPECT_EQ(r.lastGet, PR_APPEARX);
  SetObjectProp(r, PR_CARETHEIGHT, TParamString("7"));
  EXPECT_EQ(r.lastSet, PR_CARETHEIGHT);
  EXPECT_EQ(r.lastValue, "7");

  for (int bad : {162, 255, -1}) {
    try {
      GetObjectProp(holder, r, bad);
      ADD_FAILURE() << bad;
    } catch (const EPropError& e) {
      EXPECT_STREQ(e.what(), "GetPropエラー");
    }
  }
  for (int bad : {162, -1, PR_APPEARX, PR_APPEARY}) {
    r.lastSet = -1;
    try {
      SetObjectProp(r, bad, TParamInteger(1));
      ADD_FAILURE() << bad;
    } catch (const EPropError& e) {
      EXPECT_STREQ(e.what(), "SetPropエラー");
    }
    EXPECT_EQ(r.lastSet, -1) << "the object must not see a refused write";
  }
}

}  // namespace
}  // namespace zirk
