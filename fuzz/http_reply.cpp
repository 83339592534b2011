// The HTTP client's reply parser: status line, header fields, relocations
// and the body, fed without a connection.

#include <cstddef>
#include <cstdint>

#include "net/httpclient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::THttpClient client;
  zirk::TKwMemoryStream body;
  client.ReceiveStream = &body;
  client.URL = "http://127.0.0.1:1/dir/page";
  client.BodyCap = 1 << 20;
  // Split the input where it says so, to vary how lines straddle reads.
  size_t first = size ? data[0] % (size + 1) : 0;
  client.ParseReplyBytes(data, first);
  client.ParseReplyBytes(data + first, size - first);
  client.Abort();
  zirk::PumpPendingMessages();
  return 0;
}
