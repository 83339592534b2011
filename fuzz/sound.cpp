// Any bytes as a sound of the Ogg manager: Ogg Vorbis when the data start
// with an Ogg page, else WAVE (with FFmpeg behind it for the formats the own
// reader leaves). Opening, reading, seeking and conversion must stay in
// bounds and end.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "medialib/pcm.h"
#include "medialib/stream.h"

using namespace zirk::medialib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool isOgg = size >= 4 && std::memcmp(data, "OggS", 4) == 0;
  auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
  auto source = OpenSound(std::make_unique<MemorySource>(bytes), isOgg);
  if (!source) return 0;
  PcmDecoder decoder(std::move(source));
  if (decoder.Size() > (1 << 18)) return 0;
  std::vector<uint8_t> buffer(8191);
  int32_t total = 0;
  for (int32_t n; (n = decoder.Read(buffer.data(), 8191)) > 0;) total += n;
  for (int32_t p : {decoder.Size() / 2 + 1, 3, decoder.Size()}) {
    decoder.SetPosition(p);
    decoder.Read(buffer.data(), 5);
    decoder.Read(buffer.data(), 4000);
  }
  return total > decoder.Size() ? 1 : 0;
}
