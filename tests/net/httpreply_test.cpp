// The HTTP reply parser on its own: replies fed whole, split at every byte
// and one byte at a time read the same, and a header line that does not fit
// stops it.

#include "net/httpreply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zirk {
namespace {

using THeaderEnd = THttpReplyParser::THeaderEnd;
using namespace std::string_literals;

// Writes down what the parser reports, in order.
struct Log : THttpReplyParser::TListener {
  std::string events, body;
  void ReplyHeaderBegin() override { events += "begin;"; }
  void ReplyHeaderLine(std::string_view name, std::string_view value) override {
    events += std::string(name) + "=" + std::string(value) + ";";
  }
  void ReplyHeaderEnd(THeaderEnd how) override {
    events += "end" + std::to_string(static_cast<int>(how)) + ";";
  }
  void ReplyBody(std::string_view data) override { body += data; }
};

struct Outcome {
  std::string events, body;
  int status;
  int64_t length;
  std::string type;
  bool operator==(const Outcome&) const = default;
};

Outcome parse(const std::vector<std::string>& pieces) {
  Log log;
  THttpReplyParser p(&log);
  for (const auto& piece : pieces)
    if (p.Feed(piece.data(), piece.size()) != THttpReplyParser::TFeed::Ok) log.events += "failed;";
  return {log.events, log.body, p.StatusCode(), p.ContentLength(), p.ContentType()};
}

TEST(HttpReplyParser, RepliesReadTheSameHoweverTheyArrive) {
  struct Row {
    std::string reply;
    Outcome expected;
  };
  std::vector<Row> rows = {
      {"HTTP/1.1 200 OK\r\nContent-Type: Text/HTML\r\nContent-Length: 4\r\n\r\nbody",
       {"begin;=;content-type=Text/HTML;content-length=4;end0;", "body", 200, 4, "text/html"}},
      // LF-only lines; the body keeps its own line ends.
      {"HTTP/1.0 404 Not Found\nX:  a\n\nline1\r\nline2\n",
       {"begin;=;x=a;end0;", "line1\r\nline2\n", 404, -1, ""}},
      // A length of 0 ends the reply, a location with it is not followed.
      {"HTTP/1.0 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\nignored",
       {"begin;=;location=/x;content-length=0;end1;", "", 302, 0, ""}},
      {"HTTP/1.0 302 Found\r\nLocation: /x\r\n\r\nmoved",
       {"begin;=;location=/x;end2;", "", 302, -1, ""}},
      // No header at all: the first line is body, with its line end.
      {"<html>\r\n<b>x</b>\nend", {"begin;end0;", "<html>\r\n<b>x</b>\nend", 0, -1, "text/html"}},
      // Interim replies go whole, header lines and all; the next status
      // line starts the reply.
      {"HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello",
       {"begin;=;content-length=5;end0;", "hello", 200, 5, ""}},
      // The fields that frame the body read as HTTP/1.1 reads them: blanks
      // around a value or before the colon hide nothing, and a fold carries
      // on only a field that does not frame the body.
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity \r\nX: a\r\n b\r\n"
       "Transfer-Encoding:\tidentity\r\nContent-Length : 2\r\n\r\nokmore",
       {"begin;=;transfer-encoding=identity ;x=a;=;transfer-encoding=\tidentity;"
        "content-length =2;end0;",
        "ok", 200, 2, ""}},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding : chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
       {"begin;=;failed;", "", 200, -1, ""}},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\n chunked\r\n\r\n5\r\nhello\r\n",
       {"begin;=;transfer-encoding=identity;failed;", "", 200, -1, ""}},
      // Odd lines are still header lines; an odd status reads as none.
      {"HTTP/1.0 abc Odd\r\nno colon\r\nEmpty:\r\n\r\n", {"begin;=;=;empty=;end0;", "", 0, -1, ""}},
      // A list of equal lengths is that length, however large.
      {"HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807, 9223372036854775807\r\n\r\nhel",
       {"begin;=;content-length=9223372036854775807, 9223372036854775807;end0;", "hel", 200,
        INT64_MAX, ""}},
  };
  // A length that is not one number, or a name a NUL or CR could split, fails.
  for (const std::string& bad :
       {"Content-Length: 100abc"s, "Content-Length: -100"s, "Content-Length:"s,
        "Content-Length: 1, 2"s, "Transfer-Encoding\0: chunked"s, "Transfer-Encoding\r: chunked"s,
        "Transfer-Encoding\x01: chunked"s})
    rows.push_back(
        {"HTTP/1.1 200 OK\r\n" + bad + "\r\n\r\n0\r\n\r\n", {"begin;=;failed;", "", 200, -1, ""}});
  for (const Row& row : rows) {
    const std::string& r = row.reply;
    EXPECT_EQ(parse({r}), row.expected) << r;
    for (size_t cut = 1; cut < r.size(); ++cut)
      ASSERT_EQ(parse({r.substr(0, cut), r.substr(cut)}), row.expected) << r << " cut " << cut;
    std::vector<std::string> bytes;
    for (char c : r) bytes.emplace_back(1, c);
    EXPECT_EQ(parse(bytes), row.expected) << r;
  }
}

TEST(HttpReplyParser, AHeaderLineMustFitItsBuffer) {
  const std::string status = "HTTP/1.0 200 OK\r\n";
  for (size_t fill : {THttpReplyParser::kLineLimit - 1, THttpReplyParser::kLineLimit}) {
    THttpReplyParser p;
    ASSERT_EQ(p.Feed(status.data(), status.size()), THttpReplyParser::TFeed::Ok);
    const std::string line(fill, 'a');
    // A full buffer is accepted; only the next byte overflows it.
    EXPECT_EQ(p.Feed(line.data(), line.size()), THttpReplyParser::TFeed::Ok);
    const auto more = p.Feed("\n", 1);
    EXPECT_EQ(more, fill == THttpReplyParser::kLineLimit ? THttpReplyParser::TFeed::LineTooLong
                                                         : THttpReplyParser::TFeed::Ok)
        << fill;
    // Stopped parsers drop what follows.
    p.Stop();
    EXPECT_EQ(p.Feed("\r\n\r\nbody", 8), THttpReplyParser::TFeed::Ok);
    EXPECT_FALSE(p.InBody());
  }
}

TEST(HttpReplyParser, ARelocatedPassKeepsWhatTheDocumentSaid) {
  THttpReplyParser p;
  const std::string first =
      "HTTP/1.0 401 No\r\nWWW-Authenticate: a\r\nWWW-Authenticate: b\r\n"
      "Content-Type: text/plain\r\nLocation: /y\r\n\r\n";
  p.Feed(first.data(), first.size());
  EXPECT_EQ(p.AuthChallenges(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(p.LocationValue(), "/y");
  p.NextPass();
  EXPECT_EQ(p.StatusCode(), 0);
  EXPECT_TRUE(p.Lines().empty());
  EXPECT_FALSE(p.LocationSeen());
  EXPECT_EQ(p.ContentType(), "text/plain");
  EXPECT_EQ(p.AuthChallenges().size(), 2u);
  p.Reset();
  EXPECT_EQ(p.ContentType(), "");
  EXPECT_TRUE(p.AuthChallenges().empty());

  // A listener that starts the next pass as the header ends (a relocation
  // closing its connection at once) leaves a fresh parser behind.
  struct Relocating : THttpReplyParser::TListener {
    THttpReplyParser* parser = nullptr;
    void ReplyHeaderEnd(THeaderEnd how) override {
      if (how == THeaderEnd::Relocate) parser->NextPass();
    }
  } relocating;
  THttpReplyParser q(&relocating);
  relocating.parser = &q;
  const std::string moved = first + "moved\r\nmore\r\n";
  EXPECT_EQ(q.Feed(moved.data(), moved.size()), THttpReplyParser::TFeed::Ok);
  EXPECT_FALSE(q.HeaderBegun());
  EXPECT_TRUE(q.Lines().empty());
  const std::string next = "HTTP/1.0 200 OK\r\n\r\nx";
  q.Feed(next.data(), next.size());
  EXPECT_EQ(q.StatusCode(), 200);
  EXPECT_EQ(q.BodyBytes(), 1);
}

}  // namespace
}  // namespace zirk
