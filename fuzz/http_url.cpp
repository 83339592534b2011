// URL splitting, document names, relocation targets and header values.

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/httpurl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\n');
  const std::string url = text.substr(0, cut);
  const std::string other = cut == std::string::npos ? std::string() : text.substr(cut + 1);
  zirk::THttpUrlParts parts = zirk::ParseURL(url, other);
  zirk::DocumentNameOf(parts.path);
  zirk::UrlDirectory(url);
  for (bool proxy : {false, true}) {
    zirk::THttpTarget target{parts.path.empty() ? "/" : parts.path, parts.host, parts.host, "80"};
    if (proxy) target.requestPath = "http://" + parts.host + target.requestPath;
    zirk::RelocateTarget(target, other, proxy);
  }
  zirk::StatusCodeOf(url);
  zirk::ReasonPhraseOf(url);
  zirk::DecimalOr(url, -1);
  std::string b, e;
  zirk::SplitContentRange(url, b, e);
  zirk::Base64Encode(url);
  return 0;
}
