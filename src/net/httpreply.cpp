#include "net/httpreply.h"

#include <algorithm>
#include <cctype>

#include "net/httpurl.h"
#include "net/linesplit.h"

namespace zirk {

namespace {
std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool statusLine(const std::string& line) {
  return line.rfind("HTTP/1.0", 0) == 0 || line.rfind("HTTP/1.1", 0) == 0;
}

// A blank or a tab may stand before the colon; no other control character
// belongs to a name.
bool controlInName(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u < 0x20 && u != '\t') || u == 0x7f;
}

bool interimStatusLine(const std::string& line) {
  const int status = StatusCodeOf(line);
  return statusLine(line) && status >= 100 && status < 200;
}
}  // namespace

void THttpReplyParser::Reset() {
  NextPass();
  contentType_.clear();
  authChallenges_.clear();
  bodyBytes_ = 0;
  bodyPieces_ = 0;
}

void THttpReplyParser::NextPass() {
  ++pass_;
  phase_ = TPhase::Header;
  buffer_.clear();
  searched_ = 0;
  headerBytes_ = 0;
  failure_ = TFeed::Ok;
  malformation_.clear();
  headerLines_ = 0;
  headerEnded_ = gotStatusLine_ = headerless_ = locationSeen_ = interim_ = bodylessStatus_ = false;
  statusCode_ = 0;
  reasonPhrase_.clear();
  contentLength_ = -1;
  lengthSeen_ = false;
  field_.clear();
  location_.clear();
  lines_.clear();
}

THttpReplyParser::TFeed THttpReplyParser::Feed(const char* data, size_t size) {
  // A listener may start the next pass from inside a callback; what is left
  // of these bytes belonged to the reply that ended.
  const uint64_t pass = pass_;
  while (size > 0 && pass == pass_) {
    if (phase_ == TPhase::Done) return TFeed::Ok;
    if (phase_ == TPhase::Body) {
      body(std::string_view(data, size));
      return TFeed::Ok;
    }
    const size_t room = kLineLimit - buffer_.size();
    if (room == 0) {
      phase_ = TPhase::Done;
      return TFeed::LineTooLong;
    }
    const size_t take = std::min(size, room);
    buffer_.append(data, take);
    data += take;
    size -= take;
    splitLines();
    if (failure_ != TFeed::Ok && pass == pass_) return failure_;
  }
  return TFeed::Ok;
}

void THttpReplyParser::splitLines() {
  const uint64_t pass = pass_;
  size_t start = 0;
  while (phase_ == TPhase::Header) {
    const std::string_view rest = std::string_view(buffer_).substr(start);
    const size_t len = LineLength(rest, "\n", searched_ - std::min(searched_, start));
    if (len == 0) break;
    headerBytes_ += len;
    if (headerBytes_ > kHeaderLimit) {
      failure_ = TFeed::HeaderTooLarge;
      phase_ = TPhase::Done;
      break;
    }
    const bool cr = len >= 2 && rest[len - 2] == '\r';
    const std::string line(rest.substr(0, len - (cr ? 2 : 1)));
    start += len;
    searched_ = start;
    headerLine(line, cr ? "\r\n" : "\n");
    if (pass != pass_) return;
    if (phase_ == TPhase::Body && start < buffer_.size()) {
      // Bytes already read behind the header are the body's first piece.
      buffer_.erase(0, start);
      flushToBody();
      return;
    }
  }
  if (phase_ != TPhase::Header) {
    buffer_.clear();
    searched_ = 0;
    return;
  }
  buffer_.erase(0, start);
  searched_ = buffer_.size();
}

void THttpReplyParser::headerLine(const std::string& line, std::string_view terminator) {
  // An interim reply (100 Continue and its kin) is never the final one: it
  // goes, its header lines with it, and the next status line starts the
  // reply. Its bytes still count towards kHeaderLimit, which bounds a
  // server that sends them without end.
  if (interim_) {
    interim_ = !line.empty();
    return;
  }
  if (headerLines_ == 0 && interimStatusLine(line)) {
    interim_ = true;
    return;
  }
  if (headerLines_++ == 0 && listener_) listener_->ReplyHeaderBegin();

  std::string head = line.substr(0, 6);
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head == "<HTML>") {
    // A server that sends no header at all: this line starts the body, with
    // its own line end, and the rest goes on unsplit.
    headerless_ = true;
    headerEnded_ = true;
    if (contentType_.empty()) contentType_ = "text/html";
    phase_ = TPhase::Body;
    if (listener_) listener_->ReplyHeaderEnd(THeaderEnd::Body);
    if (phase_ == TPhase::Body) body(line + std::string(terminator));
    return;
  }
  if (line.empty()) {
    endOfHeader();
    return;
  }
  if (line.find_first_of(std::string_view("\r\0", 2)) != std::string::npos) {
    // A NUL or a CR that ends no line has no place in a header: a reader
    // that took either as a line end, or as part of a name, would see other
    // fields than this one does.
    malformed("a NUL or a bare CR in a header line");
    return;
  }
  lines_.push_back(line);
  if (statusLine(line)) {
    field_.clear();
    gotStatusLine_ = true;
    statusCode_ = StatusCodeOf(line);
    reasonPhrase_ = ReasonPhraseOf(line);
    if (headerLines_ == 1) bodylessStatus_ = statusCode_ == 204 || statusCode_ == 304;
    if (listener_) listener_->ReplyHeaderLine({}, {});
  } else if (!framingField(line)) {
    return;
  } else if (line.find(':') != std::string::npos) {
    headerField(line);
  } else if (listener_) {
    listener_->ReplyHeaderLine({}, {});
  }
}

bool THttpReplyParser::framingField(const std::string& line) {
  if (line[0] == ' ' || line[0] == '\t') {
    // An obsolete folded line continues the field above it. Under a field
    // that frames the body it would change that framing after its check,
    // and under no field it belongs nowhere: either way it is malformed.
    if (field_.empty())
      malformed("a folded header line under no field");
    else if (field_ == "content-length" || field_ == "transfer-encoding")
      malformed("folded " + field_ + " field");
    return failure_ == TFeed::Ok;
  }
  const size_t colon = line.find(':');
  const std::string_view name(line.data(), colon == std::string::npos ? 0 : colon);
  if (std::any_of(name.begin(), name.end(), controlInName)) {
    malformed("a control character in a header field's name");
    return false;
  }
  const THeaderField field = ReadHeaderField(line);
  field_ = field.name;
  if (field.name == "content-length") {
    // A length that does not read leaves the body's end unknown, as two
    // different ones do.
    const int64_t length = ContentLengthOf(field.value);
    if (length < 0) {
      malformed("a Content-Length that is not one decimal number");
      return false;
    }
    if (lengthSeen_ && length != contentLength_) {
      // Which length holds is anybody's guess, and a wrong guess would read
      // another reply's bytes as this body.
      malformed("two different Content-Length values");
      return false;
    }
    lengthSeen_ = true;
    contentLength_ = length;
  } else if (field.name == "transfer-encoding") {
    // The request is HTTP/1.0, so no coding was asked for and none is
    // decoded: passed on, its framing would pose as the document.
    const std::string coding = lower(field.value);
    if (coding.find("chunked") != std::string::npos)
      malformed("chunked transfer coding in reply to an HTTP/1.0 request");
    else if (!coding.empty() && coding != "identity")
      malformed("transfer coding \"" + field.value + "\" in reply to an HTTP/1.0 request");
  }
  return failure_ == TFeed::Ok;
}

void THttpReplyParser::headerField(const std::string& line) {
  const size_t colon = line.find(':');
  const std::string name = lower(line.substr(0, colon));
  size_t i = colon + 1;
  // Leading blanks go, but never the value's last character.
  while (i + 1 < line.size() && line[i] == ' ') ++i;
  const std::string value = i < line.size() ? line.substr(i) : std::string();
  if (name == "location") {
    locationSeen_ = true;
    location_ = value;
  } else if (name == "content-type") {
    contentType_ = lower(value);
  } else if (name == "www-authenticate") {
    authChallenges_.push_back(value);
  }
  if (listener_) listener_->ReplyHeaderLine(name, value);
}

void THttpReplyParser::malformed(std::string why) {
  malformation_ = std::move(why);
  failure_ = TFeed::Malformed;
  phase_ = TPhase::Done;
}

void THttpReplyParser::endOfHeader() {
  headerEnded_ = true;
  THeaderEnd how = THeaderEnd::Body;
  if (contentLength_ == 0)
    how = THeaderEnd::Finished;
  else if (locationSeen_)
    how = THeaderEnd::Relocate;
  phase_ = how == THeaderEnd::Body ? TPhase::Body : TPhase::Done;
  if (listener_) listener_->ReplyHeaderEnd(how);
}

void THttpReplyParser::flushToBody() {
  std::string rest;
  rest.swap(buffer_);
  searched_ = 0;
  body(rest);
}

void THttpReplyParser::body(std::string_view data) {
  if (contentLength_ >= 0) {
    // Nothing past the stated length belongs to this reply.
    const int64_t left = std::max<int64_t>(contentLength_ - bodyBytes_, 0);
    if (static_cast<int64_t>(data.size()) >= left) {
      data = data.substr(0, static_cast<size_t>(left));
      phase_ = TPhase::Done;
    }
  }
  if (data.empty()) return;
  bodyBytes_ += static_cast<int64_t>(data.size());
  ++bodyPieces_;
  if (listener_) listener_->ReplyBody(data);
}

}  // namespace zirk
