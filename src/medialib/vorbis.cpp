#include "medialib/vorbis.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zirk::medialib {

struct VorbisSource::State {
  std::unique_ptr<ByteSource> bytes;
  OggVorbis_File file{};
  bool open = false;
  int sourceChannels = 0;
  int64_t position = 0;
  std::vector<int16_t> mix;  // interleaved source frames before the down-mix

  ~State() {
    if (open) ov_clear(&file);
  }
};

namespace {

size_t ReadProc(void* ptr, size_t size, size_t count, void* user) {
  auto* bytes = static_cast<ByteSource*>(user);
  const size_t want = std::min<size_t>(size * count, 1 << 30);
  if (size == 0) return 0;
  return static_cast<size_t>(std::max(bytes->Read(ptr, static_cast<int32_t>(want)), 0)) / size;
}

int SeekProc(void* user, ogg_int64_t offset, int whence) {
  auto* bytes = static_cast<ByteSource*>(user);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = bytes->Tell();
  if (whence == SEEK_END) base = bytes->Size();
  const int64_t target = base + offset;
  if (target < 0 || target > bytes->Size()) return -1;
  return bytes->Seek(target) == target ? 0 : -1;
}

long TellProc(void* user) {
  return static_cast<long>(static_cast<ByteSource*>(user)->Tell());
}

// Channels beyond two fold into left (even) and right (odd) by averaging.
void DownMix(const int16_t* in, int channels, int64_t frames, uint8_t* out) {
  for (int64_t f = 0; f < frames; ++f) {
    int sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (int c = 0; c < channels; ++c) {
      sum[c & 1] += in[f * channels + c];
      ++count[c & 1];
    }
    const int16_t pair[2] = {static_cast<int16_t>(sum[0] / count[0]),
                             static_cast<int16_t>(sum[1] / count[1])};
    std::memcpy(out + f * 4, pair, sizeof pair);  // the caller's buffer may be unaligned
  }
}

}  // namespace

std::unique_ptr<VorbisSource> VorbisSource::Open(std::unique_ptr<ByteSource> bytes) {
  if (!bytes) return nullptr;
  auto state = std::make_unique<State>();
  state->bytes = std::move(bytes);
  state->bytes->Seek(0);
  ov_callbacks callbacks{ReadProc, SeekProc, nullptr, TellProc};
  if (ov_open_callbacks(state->bytes.get(), &state->file, nullptr, 0, callbacks) != 0)
    return nullptr;
  state->open = true;
  vorbis_info* info = ov_info(&state->file, 0);
  if (!info || info->channels < 1 || !SoundRateAllowed(info->rate)) return nullptr;
  // A chained stream plays its links up to the first of another rate or
  // channel count, and its length ends there too: one sound has one format.
  ogg_int64_t total = 0;
  for (int link = 0; link < ov_streams(&state->file); ++link) {
    const vorbis_info* next = ov_info(&state->file, link);
    if (!next || next->rate != info->rate || next->channels != info->channels) break;
    const ogg_int64_t frames = ov_pcm_total(&state->file, link);
    if (frames < 0 || frames > kMaxFrames - total) return nullptr;
    total += frames;
  }
  state->sourceChannels = info->channels;
  auto source = std::unique_ptr<VorbisSource>(new VorbisSource(std::move(state)));
  source->format_ = {static_cast<int>(info->rate), std::min(info->channels, 2), 16};
  source->frames_ = total;
  source->native_ = info->channels <= 2;
  // After opening a chained file vorbisfile may stand in a later link.
  if (ov_streams(&source->state_->file) > 1 && !source->SeekFrame(0)) return nullptr;
  return source;
}

VorbisSource::VorbisSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
VorbisSource::~VorbisSource() = default;

int64_t VorbisSource::ReadFrames(void* out, int64_t frames) {
  State& s = *state_;
  frames = std::min(frames, frames_ - s.position);
  const int channels = s.sourceChannels;
  auto* dst = static_cast<uint8_t*>(out);
  const int outAlign = format_.BlockAlign();
  int64_t done = 0;
  bool retried = false;
  while (done < frames) {
    const int64_t want = std::min<int64_t>(frames - done, 4096);
    char* target = reinterpret_cast<char*>(dst + done * outAlign);
    if (channels > 2) {
      s.mix.resize(static_cast<size_t>(want * channels));
      target = reinterpret_cast<char*>(s.mix.data());
    }
    int link = 0;
    long got = ov_read(&s.file, target, static_cast<int>(want * channels * 2), 0, 2, 1, &link);
    if (got == OV_HOLE) continue;  // a gap in the data: vorbisfile skips it on the next call
    if (got == 0 && !retried && s.position + done < frames_) {
      // At the border of two chained links vorbisfile may report the end of
      // the whole stream; seeking to where we are goes on with the next link.
      retried = true;
      if (ov_pcm_seek(&s.file, s.position + done) == 0) continue;
    }
    if (got <= 0) break;
    retried = false;
    vorbis_info* info = ov_info(&s.file, link);
    // The length stops before a link of another format; should vorbisfile
    // stand in one all the same, the sound ends.
    if (!info || info->channels != channels || info->rate != format_.rate) break;
    const int64_t n = got / (channels * 2);
    if (channels > 2) DownMix(s.mix.data(), channels, n, dst + done * outAlign);
    done += n;
  }
  s.position += done;
  return done;
}

bool VorbisSource::SeekFrame(int64_t frame) {
  frame = std::clamp<int64_t>(frame, 0, frames_);
  if (ov_pcm_seek(&state_->file, frame) != 0) return false;
  state_->position = frame;
  return true;
}

}  // namespace zirk::medialib
