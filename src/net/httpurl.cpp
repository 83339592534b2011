#include "net/httpurl.h"

#include <cmath>
#include <cstdio>

namespace zirk {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && lower(s.substr(0, prefix.size())) == prefix;
}

bool isSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// The base's directory, "/" when it has none.
std::string baseDirectory(const std::string& base) {
  std::string b = base.substr(0, base.find('?'));
  size_t slash = b.rfind('/');
  if (slash == std::string::npos) return "/";
  return b.substr(0, slash + 1);
}

std::string parentDirectory(const std::string& dir) {
  if (dir.size() <= 1) return "/";
  size_t slash = dir.rfind('/', dir.size() - 2);
  if (slash == std::string::npos) return "/";
  return dir.substr(0, slash + 1);
}

void splitAuthority(const std::string& authority, THttpUrlParts& p) {
  std::string hostPort = authority;
  size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    std::string info = authority.substr(0, at);
    size_t colon = info.find(':');
    p.user = info.substr(0, colon);
    if (colon != std::string::npos) p.password = info.substr(colon + 1);
    hostPort = authority.substr(at + 1);
    colon = hostPort.find(':');
    p.host = hostPort.substr(0, colon);
    if (colon != std::string::npos) p.port = hostPort.substr(colon + 1);
    return;
  }
  size_t colon = hostPort.rfind(':');
  p.host = hostPort.substr(0, colon);
  if (colon != std::string::npos) p.port = hostPort.substr(colon + 1);
}

}  // namespace

THttpUrlParts ParseURL(const std::string& url, const std::string& base) {
  THttpUrlParts p;
  if (url.empty()) return p;

  if (url.rfind("./", 0) == 0 || url.rfind("../", 0) == 0) {
    std::string dir = baseDirectory(base);
    std::string rest = url;
    while (rest.rfind("../", 0) == 0) {
      rest.erase(0, 3);
      dir = parentDirectory(dir);
    }
    if (rest.rfind("./", 0) == 0) rest.erase(0, 2);
    p.path = dir + rest;
    return p;
  }

  std::string rest;
  size_t sep = url.find("://");
  bool schemeOk = sep != std::string::npos;
  for (size_t i = 0; schemeOk && i < sep; ++i) schemeOk = isSchemeChar(url[i]);
  if (schemeOk) {
    p.scheme = url.substr(0, sep);
    rest = url.substr(sep + 3);
  } else {
    if (sep != std::string::npos) p.scheme = "http";
    if (url[0] == '/') {
      p.scheme = "http";
      if (url.size() < 2 || url[1] != '/') {
        p.path = url;
        return p;
      }
      // "//host/path": the host begins after the two slashes.
      rest = url.substr(2);
    } else if (startsWithNoCase(url, "http:")) {
      p.scheme = "http";
      if (url.size() > 6 && url[6] != '/') {
        p.path = url.substr(5);
        return p;
      }
      // "HTTP://host/path": likewise after the two slashes.
      rest = url.size() > 7 ? url.substr(7) : std::string();
    } else if (startsWithNoCase(url, "mailto:")) {
      p.scheme = "mailto";
      rest = url.substr(url.find(':') + 1);
    } else {
      rest = url;
    }
  }

  size_t slash = rest.find('/');
  size_t query = rest.find('?');
  size_t pathStart = slash;
  if (query != std::string::npos && (slash == std::string::npos || query < slash))
    pathStart = query;
  std::string authority = rest.substr(0, pathStart);
  if (pathStart != std::string::npos) p.path = rest.substr(pathStart);
  splitAuthority(authority, p);
  return p;
}

std::string UrlDirectory(const std::string& path) {
  std::string head = path.substr(0, path.find('?'));
  size_t cut = head.find_last_of("/:");
  if (cut == std::string::npos) return std::string();
  return head.substr(0, cut + 1);
}

std::string DocumentNameOf(const std::string& path) {
  std::string name = path.substr(0, path.find('?'));
  if (name.empty() || name == "/") return "document.htm";
  if (name.back() == '/') name.pop_back();
  size_t slash = name.rfind('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 255) name.resize(255);
  return name.substr(0, name.find('?'));
}

std::string FixExeDocumentName(const std::string& name, const std::string& contentType) {
  size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? std::string() : lower(name.substr(dot));
  if (ext != ".exe" || contentType != "text/html") return name;
  return name.substr(0, dot) + ".htm";
}

std::string RelocateTarget(THttpTarget& t, const std::string& location, bool proxyMode) {
  const bool rooted = !location.empty() && location[0] == '/';
  const bool absolute = location.rfind("http://", 0) == 0;
  std::string scheme = "http";
  if (proxyMode) {
    if (rooted) {
      THttpUrlParts cur = ParseURL(t.requestPath);
      if (!cur.scheme.empty()) scheme = cur.scheme;
      // The port stays: without it the next request would go to the
      // host's port 80.
      t.requestPath =
          scheme + "://" + cur.host + (cur.port.empty() ? "" : ":" + cur.port) + location;
    } else if (absolute) {
      THttpUrlParts l = ParseURL(location);
      t.connectPort = l.port.empty() ? "80" : l.port;
      if (!l.scheme.empty() && !l.host.empty()) {
        t.hostHeader = l.host;
        t.requestPath = l.scheme + "://" + l.host + (l.port.empty() ? "" : ":" + l.port) + l.path;
      }
    } else {
      t.requestPath = UrlDirectory(t.requestPath) + location;
    }
  } else {
    if (rooted) {
      t.requestPath = location;
    } else if (absolute) {
      THttpUrlParts l = ParseURL(location);
      t.requestPath = l.path.empty() ? "/" : l.path;
      t.connectHost = l.host;
      t.connectPort = l.port.empty() ? "80" : l.port;
      t.hostHeader = l.host;
    } else {
      t.requestPath = UrlDirectory(t.requestPath) + location;
    }
  }
  if (!t.requestPath.empty() && t.requestPath[0] != '/' &&
      t.requestPath.find("://") != std::string::npos)
    return t.requestPath;
  std::string port = (proxyMode || t.connectPort.empty() || t.connectPort == "80")
                         ? std::string()
                         : ":" + t.connectPort;
  return scheme + "://" + t.hostHeader + port + t.requestPath;
}

std::string Base64Encode(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    uint32_t v = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8) |
                 static_cast<uint8_t>(data[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < data.size()) {
    uint32_t v = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<uint8_t>(data[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string HttpDateText(double dateTime) {
  static const char kDays[] = "MonTueWedThuFriSatSun";
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  // Dates outside 0001-01-01 .. 9999-12-31 (or not numbers) are clamped;
  // converting them to a day count would overflow.
  if (!(dateTime >= -693593.0)) dateTime = -693593.0;
  if (dateTime > 2958465.99999) dateTime = 2958465.99999;
  const double whole = std::trunc(dateTime);
  const int64_t days = static_cast<int64_t>(whole);
  // A truncating modulo gave a negative index for the first two days.
  const int64_t dayIndex = (((days - 2) % 7) + 7) % 7;
  // Civil date from the day count (days from 1970-01-01 = days - 25569).
  int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  if (month <= 2) ++year;
  const int64_t ms = std::llround(std::fabs(dateTime - whole) * 86400000.0);
  const int64_t secs = std::min<int64_t>(ms / 1000, 86399);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %2.2d %.3s %4.4d %2.2d:%2.2d:%2.2d", kDays + dayIndex * 3,
                static_cast<int>(day), kMonths + (month - 1) * 3, static_cast<int>(year),
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

int64_t DecimalOr(const std::string& text, int64_t fallback) {
  std::string t = trim(text);
  if (t.empty()) return fallback;
  size_t i = 0;
  bool negative = false;
  if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    i = 1;
  }
  if (i >= t.size()) return fallback;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return fallback;
    if (v > (INT64_MAX - 9) / 10) return fallback;
    v = v * 10 + (t[i] - '0');
  }
  return negative ? -v : v;
}

int64_t ContentLengthOf(const std::string& value) {
  int64_t length = -1;
  for (size_t at = 0;;) {
    const size_t comma = value.find(',', at);
    const std::string item = trim(value.substr(at, comma - at));
    if (item.empty() || item.find_first_not_of("0123456789") != std::string::npos) return -1;
    int64_t v = 0;
    for (char c : item) v = v > (INT64_MAX - (c - '0')) / 10 ? INT64_MAX : v * 10 + (c - '0');
    if (length >= 0 && v != length) return -1;
    length = v;
    if (comma == std::string::npos) return length;
    at = comma + 1;
  }
}

THeaderField ReadHeaderField(const std::string& line) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return {};
  return {lower(trim(line.substr(0, colon))), trim(line.substr(colon + 1))};
}

int StatusCodeOf(const std::string& statusLine) {
  if (statusLine.size() < 10) return 0;
  int64_t v = DecimalOr(statusLine.substr(9, 3), 0);
  return v < 0 || v > 999 ? 0 : static_cast<int>(v);
}

std::string ReasonPhraseOf(const std::string& statusLine) {
  return statusLine.size() > 13 ? statusLine.substr(13) : std::string();
}

void SplitContentRange(const std::string& value, std::string& begin, std::string& end) {
  begin.clear();
  end.clear();
  size_t dash = value.find('-', 6);
  if (value.size() <= 6) return;
  begin = value.substr(6, dash == std::string::npos ? std::string::npos : dash - 6);
  if (dash == std::string::npos) return;
  std::string after = value.substr(dash + 1);
  end = after.substr(0, after.find('/'));
}

}  // namespace zirk
