#include "base/sjis.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace zirk {
namespace {

TEST(Sjis, EucToSjisOnKanjiKanaAndAscii) {
  struct Case {
    const char* what;
    std::string euc;
    std::string sjis;
  };
  const Case cases[] = {
      {"ascii", "Hello, 123\r\n", "Hello, 123\r\n"},
      {"hiragana a", "\xA4\xA2", "\x82\xA0"},
      {"kanji nichi-hon", "\xC6\xFC\xCB\xDC", "\x93\xFA\x96\x7B"},
      {"ideographic space", "\xA1\xA1", "\x81\x40"},
      {"half-width katakana a", "\x8E\xB1", "\xB1"},
      {"half-width kana run", "\x8E\xB6\x8E\xC5", "\xB6\xC5"},
      {"last row of level 2", "\xF4\xA1", "\xEA\x9F"},
      {"mixed", "a\xB4\xC1\x8E\xB1z", "a\x8A\xBF\xB1z"},
      {"JIS X 0212 has no Shift-JIS form", "\x8F\xB0\xA1x", "\x81\xACx"},
      {"truncated pair", "a\xB4", "a?"},
      {"truncated kana", "\x8E", "?"},
      {"stray byte", "\x80z", "?z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(EucToSjis(c.euc), c.sjis);
  }
}

// glibc's converter is an independent reference for the arithmetic.
TEST(Sjis, EucToSjisAgreesWithIconvOnEveryJisX0208Cell) {
  // Rows 16..84 (kanji levels 1 and 2) and the symbol and kana rows.
  int checked = 0;
  for (int row = 0xA1; row <= 0xF4; ++row) {
    if (row >= 0xA9 && row <= 0xAF) continue;  // unassigned rows differ between tables
    std::string line;
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      std::string ch{static_cast<char>(row), static_cast<char>(cell)};
      std::string ref;
      iconv_t cd = iconv_open("CP932", "EUC-JP");
      std::string src = ch;
      char buf[8];
      char* ip = src.data();
      size_t il = 2;
      char* op = buf;
      size_t ol = sizeof buf;
      bool ok = iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1);
      iconv_close(cd);
      if (!ok) continue;  // cells glibc leaves unassigned
      ref.assign(buf, sizeof buf - ol);
      if (ref.size() != 2) continue;
      ASSERT_EQ(EucToSjis(ch), ref) << std::hex << row << " " << cell;
      ++checked;
    }
  }
  EXPECT_GT(checked, 6000);
}

TEST(Sjis, CaseFoldingLeavesTrailBytesAlone) {
  // 0x83 0x41 is katakana "a"; 0x83 0x61 is a different character.
  EXPECT_EQ(SjisFoldCase("ABC\x83\x41Z.PNG"), "abc\x83\x41z.png");
  EXPECT_FALSE(SjisSameText("\x83\x41", "\x83\x61"));
  EXPECT_TRUE(SjisSameText("Data\\BG.Dor", "data\\bg.DOR"));
  EXPECT_FALSE(SjisSameText("a", "ab"));
}

TEST(Sjis, EdgeConversionsRoundTrip) {
  std::string utf8;
  ASSERT_TRUE(SjisToUtf8("\x93\xFA\x96\x7B.png", utf8));
  EXPECT_EQ(utf8, "\xE6\x97\xA5\xE6\x9C\xAC.png");
  std::string back;
  ASSERT_TRUE(Utf8ToSjis(utf8, back));
  EXPECT_EQ(back, "\x93\xFA\x96\x7B.png");
  std::string untouched = "keep";
  EXPECT_FALSE(Utf8ToSjis("\xFF\xFE", untouched));
  EXPECT_EQ(untouched, "keep");
  EXPECT_FALSE(Utf8ToSjis("\xF0\x9F\x98\x80", untouched));  // no Shift-JIS counterpart

  EXPECT_EQ(SjisForMessage("\x93\xFA\x96\x7B.png"), "\xE6\x97\xA5\xE6\x9C\xAC.png");
  EXPECT_EQ(SjisForMessage("\x93\xFF\x1B.zcn"), "\\x93\\xFF\\x1B.zcn");
  EXPECT_EQ(SjisForMessage("a\nb.dor"), "a\\x0Ab.dor");
  // A typed name shows as typed; its C0 and C1 controls are escaped.
  EXPECT_FALSE(Utf8ForMessage("\x83\x80.zcn", untouched));
  ASSERT_TRUE(Utf8ForMessage("na\xC3\xAFve\n\xC2\x9B.zcn", untouched));
  EXPECT_EQ(untouched, "na\xC3\xAFve\\x0A\\xC2\\x9B.zcn");
}

}  // namespace
}  // namespace zirk
