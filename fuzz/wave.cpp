// RIFF/WAVE reader and the PCM byte view over it: any input must parse or
// fail cleanly, and reading, seeking and rate conversion stay in bounds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "medialib/pcm.h"
#include "medialib/wave.h"

using namespace zirk::medialib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::make_shared<const std::vector<uint8_t>>(data, data + size);
  auto source = WaveSource::Open(std::make_unique<MemorySource>(bytes));
  if (!source) return 0;
  PcmDecoder decoder(std::move(source));
  // A header may claim any rate: 1 Hz becomes 44100 frames a frame. Keep
  // each run short.
  if (decoder.Size() > (1 << 18)) return 0;
  std::vector<uint8_t> buffer(4099);
  int32_t total = 0;
  for (int32_t n; (n = decoder.Read(buffer.data(), 4099)) > 0;) total += n;
  const int32_t positions[] = {1, decoder.Size() / 3, decoder.Size() - 1, decoder.Size() + 5, -7};
  for (int32_t p : positions) {
    decoder.SetPosition(p);
    decoder.Read(buffer.data(), 3);
    decoder.Read(buffer.data(), 1000);
  }
  return total > decoder.Size() ? 1 : 0;
}
