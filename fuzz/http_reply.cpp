// The HTTP reply parser: status line, header fields and the body, fed in
// two reads split where the input says, as a connection would deliver it.

#include <cstddef>
#include <cstdint>

#include "net/httpreply.h"

namespace {
// Keeps what a client would keep, so the parser's output is used.
struct Sink : zirk::THttpReplyParser::TListener {
  size_t seen = 0;
  void ReplyHeaderLine(std::string_view name, std::string_view value) override {
    seen += name.size() + value.size();
  }
  void ReplyBody(std::string_view data) override { seen += data.size(); }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Sink sink;
  zirk::THttpReplyParser parser(&sink);
  auto text = reinterpret_cast<const char*>(data);
  const size_t first = size ? data[0] % (size + 1) : 0;
  if (parser.Feed(text, first) == zirk::THttpReplyParser::TFeed::Ok)
    parser.Feed(text + first, size - first);
  return 0;
}
