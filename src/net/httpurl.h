#pragma once
// The text rules of the HTTP client that need no connection: splitting a
// URL, the document name, relocation targets, the request's Base64 and date
// texts, and the reading of status and field values.

#include <cstdint>
#include <string>

namespace zirk {

struct THttpUrlParts {
  std::string scheme, user, password, host, port, path;
};

// Splits `url`; a text starting with "./" or "../" is taken relative to the
// directory of `base`.
THttpUrlParts ParseURL(const std::string& url, const std::string& base = std::string());

// The path up to and including its last "/" or ":" before any "?".
std::string UrlDirectory(const std::string& path);

// The name a download of `path` is saved under ("document.htm" for "/").
std::string DocumentNameOf(const std::string& path);
// ".exe" served as "text/html" is renamed to ".htm".
std::string FixExeDocumentName(const std::string& name, const std::string& contentType);

// Where a request goes, and what a relocation changes of it.
struct THttpTarget {
  std::string requestPath;  // an absolute URL in proxy mode
  std::string hostHeader;
  std::string connectHost;
  std::string connectPort;
};
// Applies a "location" value to the target and returns the new absolute
// location. A port given in the location is kept in proxy mode.
std::string RelocateTarget(THttpTarget& target, const std::string& location, bool proxyMode);

std::string Base64Encode(const std::string& data);

// "Sat, 30 Dec 1899 00:00:00" for a date-time counted in days from
// 1899-12-30, formatted as stored (no time-zone conversion).
std::string HttpDateText(double dateTime);

// The status code of characters 10-12 of a status line, 0 when they are not
// a number; the reason phrase from character 14 on.
int StatusCodeOf(const std::string& statusLine);
std::string ReasonPhraseOf(const std::string& statusLine);
// A header line read as HTTP/1.1 reads a field: the lower-cased name before
// the first ":" and the value after it, each without the blanks and tabs
// around it, so that a blank before the colon is no part of the name. Both
// are empty for a line without ":".
struct THeaderField {
  std::string name, value;
};
THeaderField ReadHeaderField(const std::string& line);
// A decimal value, or `fallback` when the text is not one.
int64_t DecimalOr(const std::string& text, int64_t fallback);
// A Content-Length value: one decimal number, or a list of equal ones as a
// sender that merged repeated fields writes it; -1 for anything else. A
// number past the 64-bit range reads as the largest, which no body reaches.
int64_t ContentLengthOf(const std::string& value);
// "bytes 0-99/1000" → "0" and "99".
void SplitContentRange(const std::string& value, std::string& begin, std::string& end);

}  // namespace zirk
