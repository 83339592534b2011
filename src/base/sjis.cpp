#include "base/sjis.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

namespace zirk {

std::string SjisFoldCase(std::string_view name) {
  std::string out(name);
  for (size_t i = 0; i < out.size(); ++i) {
    auto b = static_cast<uint8_t>(out[i]);
    if (IsSjisLeadByte(b)) {
      ++i;  // the trail byte is part of the character, not a letter
    } else if (b >= 'A' && b <= 'Z') {
      out[i] = static_cast<char>(b + ('a' - 'A'));
    }
  }
  return out;
}

bool SjisSameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && SjisFoldCase(a) == SjisFoldCase(b);
}

std::string EucToSjis(std::string_view euc) {
  std::string out;
  out.reserve(euc.size());
  const size_t n = euc.size();
  auto at = [&](size_t i) { return static_cast<uint8_t>(euc[i]); };
  auto isEucByte = [](uint8_t b) { return b >= 0xA1 && b <= 0xFE; };
  for (size_t i = 0; i < n;) {
    uint8_t c = at(i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
    } else if (c == 0x8E) {
      if (i + 1 < n && at(i + 1) >= 0xA1 && at(i + 1) <= 0xDF) {
        out.push_back(static_cast<char>(at(i + 1)));
        i += 2;
      } else {
        out.push_back('?');
        ++i;
      }
    } else if (c == 0x8F) {
      if (i + 2 < n && isEucByte(at(i + 1)) && isEucByte(at(i + 2))) {
        out += "\x81\xAC";
        i += 3;
      } else {
        out.push_back('?');
        ++i;
      }
    } else if (isEucByte(c) && i + 1 < n && isEucByte(at(i + 1))) {
      unsigned j1 = c - 0x80u, j2 = at(i + 1) - 0x80u;  // JIS row and cell, 0x21..0x7E
      unsigned s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70u : 0xB0u);
      unsigned s2 = (j1 & 1) ? j2 + (j2 >= 0x60 ? 0x20u : 0x1Fu) : j2 + 0x7Eu;
      out.push_back(static_cast<char>(s1));
      out.push_back(static_cast<char>(s2));
      i += 2;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

namespace {

bool convert(const char* to, const char* from, std::string_view in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> buf(in.size() * 4 + 16);
  std::string src(in);
  char* inPtr = src.data();
  size_t inLeft = src.size();
  char* outPtr = buf.data();
  size_t outLeft = buf.size();
  size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  bool ok = r != static_cast<size_t>(-1) && inLeft == 0;
  // iconv counts characters it replaced as irreversible; a lossless edge
  // conversion wants none.
  if (ok && r != 0) ok = false;
  if (ok) ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return false;
  out.assign(buf.data(), buf.size() - outLeft);
  return true;
}

}  // namespace

bool SjisToUtf8(std::string_view sjis, std::string& out) {
  return convert("UTF-8", "CP932", sjis, out);
}

bool Utf8ToSjis(std::string_view utf8, std::string& out) {
  return convert("CP932", "UTF-8", utf8, out);
}

namespace {

// Text as a message shows it: control characters, and every byte outside
// ASCII of text that is not UTF-8, as \xNN. C1 controls (U+0080..U+009F)
// move a terminal's cursor as C0 ones do; Shift-JIS never converts to them.
std::string escapedForMessage(std::string_view text, bool utf8) {
  std::string out;
  auto hex = [&out](unsigned char b) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (utf8 && c == 0xC2 && i + 1 < text.size() &&
        static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      hex(c);
      hex(static_cast<unsigned char>(text[++i]));
    } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
      hex(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string SjisForMessage(std::string_view sjis) {
  std::string utf8;
  const bool converts = SjisToUtf8(sjis, utf8);
  return escapedForMessage(converts ? std::string_view(utf8) : sjis, converts);
}

bool Utf8ForMessage(std::string_view utf8, std::string& out) {
  std::string utf32;
  if (!convert("UTF-32LE", "UTF-8", utf8, utf32)) return false;
  out = escapedForMessage(utf8, true);
  return true;
}

}  // namespace zirk
