#pragma once
// The reply of an HTTP/1.0 server, read from bytes as they arrive: the
// status line and header lines, then the body, which ends with its
// Content-Length or, without one, with the connection; interim 1xx replies
// before it are skipped whole. The parser knows no socket and no request;
// the client feeds it what the connection delivers, and the fuzz target
// feeds it anything.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zirk {

class THttpReplyParser {
 public:
  // Bytes a header line may take before its line end.
  static constexpr size_t kLineLimit = 8192;
  // Bytes the whole header of one reply may take, line ends included: far
  // beyond any real reply, and a bound on what an endless header keeps.
  static constexpr size_t kHeaderLimit = 256 * 1024;

  // What the end of the header means for the request.
  enum class THeaderEnd : uint8_t {
    Body,      // the body follows, up to its length or until the connection closes
    Finished,  // a content length of 0: nothing follows (a location is not followed)
    Relocate,  // a location was given: the request goes there instead
  };

  // Malformed: the body cannot be read as sent (Malformation says why): a
  // Content-Length that is not one decimal number, or two that differ, so
  // its end is unknown, a transfer coding, which this client neither asks
  // for nor decodes, or a folded line that would change either. Both fields
  // are read as HTTP/1.1 reads a field (ReadHeaderField), so no blank around
  // name or value hides them, and a header line holding a NUL, a bare CR or
  // a control character in a field's name fails, as no reader agrees on
  // what such a line says.
  enum class TFeed : uint8_t { Ok, LineTooLong, HeaderTooLarge, Malformed };

  // What the owner hears while bytes are fed; each call happens inside Feed.
  class TListener {
   public:
    virtual ~TListener() = default;
    virtual void ReplyHeaderBegin() {}
    // A header line, taken in already. `name` is the lower-cased field name
    // and `value` its value; both are empty for the status line and for
    // lines without ":".
    virtual void ReplyHeaderLine(std::string_view /*name*/, std::string_view /*value*/) {}
    virtual void ReplyHeaderEnd(THeaderEnd) {}
    virtual void ReplyBody(std::string_view /*data*/) {}
  };

  explicit THttpReplyParser(TListener* listener = nullptr) : listener_(listener) {}

  // Forgets the whole reply.
  void Reset();
  // Starts the reply of a relocated request. What the previous reply said
  // of the document (content type, challenges, ranges) stays until the new
  // one says otherwise. Called from a listener's callback, it drops the
  // rest of the bytes being fed.
  void NextPass();
  // Stops reading: later bytes are dropped.
  void Stop() { phase_ = TPhase::Done; }

  // Takes bytes in. A header line that does not fit kLineLimit bytes, a
  // header that does not fit kHeaderLimit, or a malformed header stops the
  // parser and is reported. Bytes past the Content-Length are dropped.
  TFeed Feed(const char* data, size_t size);

  bool HeaderBegun() const { return headerLines_ > 0; }
  bool HeaderEnded() const { return headerEnded_; }
  bool InBody() const { return phase_ == TPhase::Body; }
  bool GotStatusLine() const { return gotStatusLine_; }
  // The reply's own status line, the first line of its header, is 204 or
  // 304, so no body follows whatever length is given. A status line further
  // down sets StatusCode but says nothing of the body.
  bool BodylessStatus() const { return bodylessStatus_; }
  // The reply began with "<HTML>": a server that sends no header.
  bool Headerless() const { return headerless_; }
  const std::string& Malformation() const { return malformation_; }
  int StatusCode() const { return statusCode_; }
  const std::string& ReasonPhrase() const { return reasonPhrase_; }
  int64_t ContentLength() const { return contentLength_; }  // -1: not given
  const std::string& ContentType() const { return contentType_; }
  // The last "location" value, empty when none came.
  const std::string& LocationValue() const { return location_; }
  bool LocationSeen() const { return locationSeen_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  const std::vector<std::string>& AuthChallenges() const { return authChallenges_; }
  int64_t BodyBytes() const { return bodyBytes_; }
  // The body has reached its Content-Length.
  bool BodyComplete() const {
    return headerEnded_ && contentLength_ >= 0 && bodyBytes_ >= contentLength_;
  }
  int BodyPieces() const { return bodyPieces_; }

 private:
  enum class TPhase : uint8_t { Header, Body, Done };

  void splitLines();
  void headerLine(const std::string& line, std::string_view terminator);
  // Reads the fields that frame the body; false when the reply is malformed.
  bool framingField(const std::string& line);
  void headerField(const std::string& line);
  void malformed(std::string why);
  void endOfHeader();
  void body(std::string_view data);
  // Hands what is buffered to the body at once, unsplit.
  void flushToBody();

  TListener* listener_;
  TPhase phase_ = TPhase::Header;
  uint64_t pass_ = 0;  // counts NextPass calls
  std::string buffer_;
  size_t searched_ = 0;        // bytes of buffer_ known to hold no line end
  size_t headerBytes_ = 0;     // of this pass's header lines so far
  TFeed failure_ = TFeed::Ok;  // what stopped the parser in the header
  int headerLines_ = 0;
  bool headerEnded_ = false, gotStatusLine_ = false, headerless_ = false;
  bool locationSeen_ = false;
  bool interim_ = false;  // inside a 1xx reply's header, which is skipped
  bool bodylessStatus_ = false;
  std::string field_;  // name of the field a folded line continues; empty when none
  std::string malformation_;
  int statusCode_ = 0;
  std::string reasonPhrase_;
  int64_t contentLength_ = -1;
  bool lengthSeen_ = false;
  std::string contentType_, location_;
  std::vector<std::string> lines_, authChallenges_;
  int64_t bodyBytes_ = 0;
  int bodyPieces_ = 0;
};

}  // namespace zirk
