// Inflates arbitrary bytes as a zlib stream. Any input must end in a result
// or an EZlibError, never in a crash or an unbounded allocation.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/compress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  try {
    // A small limit takes the same paths as the default one in far less
    // time: a few bytes of input can inflate to its whole size.
    zirk::DecompressToStream(stream, 1 << 18);
    // Whatever inflated must survive the way back.
    std::vector<uint8_t> plain = stream.Bytes();
    zirk::CompressStreamInPlace(stream);
    zirk::DecompressToStream(stream);
    if (stream.Bytes() != plain) __builtin_trap();
  } catch (const zirk::EZlibError&) {
  }
  return 0;
}
