#pragma once
// RIFF/WAVE reader. Plays 8- and 16-bit PCM (format tag 1, or
// WAVE_FORMAT_EXTENSIBLE with the PCM sub-format) with 1 or 2 channels
// itself; anything else it recognises as WAVE is left to FFmpeg.

#include <cstdint>
#include <memory>

#include "medialib/pcm.h"
#include "medialib/stream.h"

namespace zirk::medialib {

struct WaveInfo {
  uint16_t formatTag = 0;  // the sub-format's tag for WAVE_FORMAT_EXTENSIBLE
  int channels = 0;
  int rate = 0;
  int bits = 0;
  int blockAlign = 0;
  int64_t dataOffset = 0;
  int64_t dataBytes = 0;  // what the file really holds, whatever the chunk claims
  // 8/16-bit PCM with 1 or 2 channels: the own reader plays it.
  bool Playable() const;
};

// Reads the chunk structure. False when the data is not a WAVE file with a
// "fmt " and a "data" chunk.
bool ParseWave(ByteSource& bytes, WaveInfo& info);

class WaveSource final : public PcmSource {
 public:
  // Null unless ParseWave succeeds and the format is Playable.
  static std::unique_ptr<WaveSource> Open(std::unique_ptr<ByteSource> bytes);
  int64_t ReadFrames(void* out, int64_t frames) override;
  bool SeekFrame(int64_t frame) override;

 private:
  WaveSource(std::unique_ptr<ByteSource> bytes, const WaveInfo& info);
  std::unique_ptr<ByteSource> bytes_;
  WaveInfo info_;
  int64_t position_ = 0;
};

}  // namespace zirk::medialib
