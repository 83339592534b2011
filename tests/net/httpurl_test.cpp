// The HTTP client's text rules: URL splitting, document names, relocation
// targets, Base64, dates and header values.

#include "net/httpurl.h"

#include <gtest/gtest.h>

namespace zirk {
namespace {

TEST(HttpUrlTest, SplitTable) {
  struct Row {
    const char* url;
    const char* base;
    THttpUrlParts want;  // scheme, user, password, host, port, path
  };
  const Row rows[] = {
      {"", "", {"", "", "", "", "", ""}},
      {"/", "", {"http", "", "", "", "", "/"}},
      {"/a?b", "", {"http", "", "", "", "", "/a?b"}},
      {"//h/x", "", {"http", "", "", "h", "", "/x"}},
      {"h", "", {"", "", "", "h", "", ""}},
      {"h:81", "", {"", "", "", "h", "81", ""}},
      {"h/p", "", {"", "", "", "h", "", "/p"}},
      {"h?q=/x", "", {"", "", "", "h", "", "?q=/x"}},  // a "?" before any "/"
      {"http://u:p@h:81/p?q", "", {"http", "u", "p", "h", "81", "/p?q"}},
      {"http://h", "", {"http", "", "", "h", "", ""}},
      {"ftp://h/f", "", {"ftp", "", "", "h", "", "/f"}},
      {"HTTP://h/x", "", {"http", "", "", "h", "", "/x"}},
      {"Http://h:8/x", "", {"http", "", "", "h", "8", "/x"}},
      {"http:foo", "", {"http", "", "", "", "", "foo"}},
      {"http:/x", "", {"http", "", "", "", "", "/x"}},
      {"mailto:x@y", "", {"mailto", "x", "", "y", "", ""}},
      {"MAILTO:a@b", "", {"mailto", "a", "", "b", "", ""}},
      {"a@b@c:1", "", {"", "a@b", "", "c", "1", ""}},
      {"u:p:q@h", "", {"", "u", "p:q", "h", "", ""}},
      {"h:1:2", "", {"", "", "", "h:1", "2", ""}},
      {"X+Y://h/z", "", {"http", "", "", "X+Y", "", "//h/z"}},
      {"./x", "/a/b/c", {"", "", "", "", "", "/a/b/x"}},
      {"../x", "/a/b/c", {"", "", "", "", "", "/a/x"}},
      {"../../x", "/a/b/c", {"", "", "", "", "", "/x"}},
      {"../../../x", "/a/b/c", {"", "", "", "", "", "/x"}},  // never above "/"
      {"./x", "", {"", "", "", "", "", "/x"}},
      {"./x", "/d/f?q=/z", {"", "", "", "", "", "/d/x"}},
  };
  for (const auto& r : rows) {
    THttpUrlParts got = ParseURL(r.url, r.base);
    EXPECT_EQ(got.scheme, r.want.scheme) << r.url;
    EXPECT_EQ(got.user, r.want.user) << r.url;
    EXPECT_EQ(got.password, r.want.password) << r.url;
    EXPECT_EQ(got.host, r.want.host) << r.url;
    EXPECT_EQ(got.port, r.want.port) << r.url;
    EXPECT_EQ(got.path, r.want.path) << r.url;
  }
}

TEST(HttpUrlTest, DocumentNames) {
  const std::pair<const char*, const char*> rows[] = {
      {"", "document.htm"},     {"/", "document.htm"},   {"/dir/", "dir"}, {"/a/b.html", "b.html"},
      {"/f.cgi?x=/y", "f.cgi"}, {"/?q", "document.htm"}, {"/x/y/z/", "z"},
  };
  for (const auto& [path, name] : rows) EXPECT_EQ(DocumentNameOf(path), name) << path;
  EXPECT_EQ(DocumentNameOf("/" + std::string(300, 'n')).size(), 255u);
  EXPECT_EQ(FixExeDocumentName("setup.EXE", "text/html"), "setup.htm");
  EXPECT_EQ(FixExeDocumentName("setup.exe", "application/octet-stream"), "setup.exe");
  EXPECT_EQ(FixExeDocumentName("page", "text/html"), "page");
}

TEST(HttpUrlTest, RelocationTargets) {
  struct Row {
    bool proxy;
    const char* location;
    THttpTarget want;
    const char* newLocation;
  };
  const THttpTarget direct{"/dir/page?x=/y", "h", "h", "8080"};
  const THttpTarget proxied{"http://h:8080/dir/page", "h", "proxy", "3128"};
  const Row rows[] = {
      {false, "/new", {"/new", "h", "h", "8080"}, "http://h:8080/new"},
      {false, "http://o:81/p", {"/p", "o", "o", "81"}, "http://o:81/p"},
      {false, "http://o", {"/", "o", "o", "80"}, "http://o/"},
      {false, "rel", {"/dir/rel", "h", "h", "8080"}, "http://h:8080/dir/rel"},
      {false, "HTTP://o/p", {"/dir/HTTP://o/p", "h", "h", "8080"}, "http://h:8080/dir/HTTP://o/p"},
      // In proxy mode the port of the URL stays in the request path.
      {true, "/new", {"http://h:8080/new", "h", "proxy", "3128"}, "http://h:8080/new"},
      {true, "http://o:81/p", {"http://o:81/p", "o", "proxy", "81"}, "http://o:81/p"},
      {true, "rel", {"http://h:8080/dir/rel", "h", "proxy", "3128"}, "http://h:8080/dir/rel"},
  };
  for (const auto& r : rows) {
    THttpTarget t = r.proxy ? proxied : direct;
    EXPECT_EQ(RelocateTarget(t, r.location, r.proxy), r.newLocation) << r.location;
    EXPECT_EQ(t.requestPath, r.want.requestPath) << r.location;
    EXPECT_EQ(t.hostHeader, r.want.hostHeader) << r.location;
    EXPECT_EQ(t.connectHost, r.want.connectHost) << r.location;
    EXPECT_EQ(t.connectPort, r.want.connectPort) << r.location;
  }
}

TEST(HttpUrlTest, Base64AndDates) {
  EXPECT_EQ(Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode(std::string("\xff\xfe", 2)), "//4=");

  const std::pair<double, const char*> dates[] = {
      {0.0, "Sat, 30 Dec 1899 00:00:00"},
      {1.0, "Sun, 31 Dec 1899 00:00:00"},  // day indexes below 2 wrapped negative before
      {2.0, "Mon, 01 Jan 1900 00:00:00"},
      {36526.5, "Sat, 01 Jan 2000 12:00:00"},
      {45000.25, "Wed, 15 Mar 2023 06:00:00"},
      {-1.0, "Fri, 29 Dec 1899 00:00:00"},
  };
  for (const auto& [value, text] : dates) EXPECT_EQ(HttpDateText(value), text) << value;
  EXPECT_EQ(HttpDateText(1e300), "Fri, 31 Dec 9999 23:59:59");
  EXPECT_EQ(HttpDateText(-1e300), "Mon, 01 Jan 0001 00:00:00");
}

TEST(HttpUrlTest, StatusAndFieldValues) {
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 200 OK"), 200);
  EXPECT_EQ(ReasonPhraseOf("HTTP/1.1 200 OK"), "OK");
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 404 Not Found"), 404);
  EXPECT_EQ(ReasonPhraseOf("HTTP/1.0 404 Not Found"), "Not Found");
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 abc Odd"), 0);  // not a number: absent
  EXPECT_EQ(StatusCodeOf("HTTP/1.0"), 0);
  EXPECT_EQ(ReasonPhraseOf("HTTP/1.0 204"), "");
  EXPECT_EQ(DecimalOr(" 1234 ", -1), 1234);
  EXPECT_EQ(DecimalOr("12a", -1), -1);
  EXPECT_EQ(DecimalOr("", -1), -1);
  EXPECT_EQ(DecimalOr("99999999999999999999999", -1), -1);
  std::string b, e;
  SplitContentRange("bytes 0-99/1000", b, e);
  EXPECT_EQ(b, "0");
  EXPECT_EQ(e, "99");
  SplitContentRange("bytes 500-/1000", b, e);
  EXPECT_EQ(b, "500");
  EXPECT_EQ(e, "");
  SplitContentRange("bytes", b, e);
  EXPECT_EQ(b, "");
}

}  // namespace
}  // namespace zirk
