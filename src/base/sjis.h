#pragma once
// Shift-JIS (code page 932) byte strings: the encoding of all game text and
// game file names. Names compare case-insensitively the way the platform
// did: only single-byte ASCII letters fold, never the trail byte of a
// double-byte character (many trail bytes lie in the ASCII letter range).

#include <cstdint>
#include <string>
#include <string_view>

namespace zirk {

// True for the first byte of a double-byte Shift-JIS character.
constexpr bool IsSjisLeadByte(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The name with its single-byte ASCII letters lower-cased; the key under
// which names compare case-insensitively.
std::string SjisFoldCase(std::string_view name);
bool SjisSameText(std::string_view a, std::string_view b);

// EUC-JP text to Shift-JIS. JIS X 0208 pairs map arithmetically, half-width
// kana (0x8E xx) become the single byte xx, and ASCII passes through. A
// character Shift-JIS cannot hold (JIS X 0212, 0x8F xx xx) becomes the geta
// mark 0x81 0xAC; a broken or truncated sequence becomes "?".
std::string EucToSjis(std::string_view euc);

// Conversions at the edges (host file names, terminal output). They return
// false and leave out untouched when the text is not valid in its encoding
// or has no counterpart in the other one.
bool SjisToUtf8(std::string_view sjis, std::string& out);
bool Utf8ToSjis(std::string_view utf8, std::string& out);

// A game text (a file name above all) as a message on a UTF-8 terminal
// shows it: converted where it converts, and otherwise each byte outside
// printable ASCII written as \xNN. Control characters are escaped either
// way, so a name cannot move the cursor or colour the terminal.
std::string SjisForMessage(std::string_view sjis);

// UTF-8 text (a name typed on the command line) as such a message shows it:
// as it is, its control characters escaped as SjisForMessage escapes them.
// False, leaving out untouched, when the text is not valid UTF-8.
bool Utf8ForMessage(std::string_view utf8, std::string& out);

}  // namespace zirk
