#include "medialib/ffmpeg.h"
#include "medialib/pcm.h"
#include "medialib/vorbis.h"
#include "medialib/wave.h"

namespace zirk::medialib {

std::unique_ptr<PcmSource> OpenSound(std::unique_ptr<ByteSource> bytes, bool isOgg) {
  if (!bytes) return nullptr;
  if (isOgg) return VorbisSource::Open(std::move(bytes));
  WaveInfo info;
  if (!ParseWave(*bytes, info)) return nullptr;
  // 24-bit, float and many-channel WAVE files are left to FFmpeg.
  if (!info.Playable()) return FfmpegAudioSource::Open(std::move(bytes), &info);
  return WaveSource::Open(std::move(bytes));
}

}  // namespace zirk::medialib
