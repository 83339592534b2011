// Inflates arbitrary bytes as a zlib stream. Any input must end in a result
// or an EZlibError, never in a crash or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/compress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  try {
    zirk::DecompressToStream(stream, 64 << 20);
    // Whatever inflated must survive the way back.
    std::vector<uint8_t> plain = stream.Bytes();
    zirk::CompressStreamInPlace(stream);
    zirk::DecompressToStream(stream);
    if (stream.Bytes() != plain) __builtin_trap();
  } catch (const zirk::EZlibError&) {
  }
  return 0;
}
