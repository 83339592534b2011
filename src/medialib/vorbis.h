#pragma once
// Ogg Vorbis through libvorbisfile: exact length and sample-exact seeking.

#include <memory>

#include "medialib/pcm.h"
#include "medialib/stream.h"

namespace zirk::medialib {

class VorbisSource final : public PcmSource {
 public:
  // Null when the data is not Ogg Vorbis.
  static std::unique_ptr<VorbisSource> Open(std::unique_ptr<ByteSource> bytes);
  ~VorbisSource() override;
  int64_t ReadFrames(void* out, int64_t frames) override;
  bool SeekFrame(int64_t frame) override;

 private:
  struct State;
  explicit VorbisSource(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace zirk::medialib
