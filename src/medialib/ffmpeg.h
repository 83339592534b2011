#pragma once
// FFmpeg behind the library: demuxing from a ByteSource, and decoded audio
// as a PcmSource (16-bit, the source's rate, at most two channels).

#include <cstdint>
#include <functional>
#include <memory>

#include "medialib/pcm.h"
#include "medialib/stream.h"
#include "medialib/wave.h"

struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVIOContext;
struct AVPacket;

namespace zirk::medialib {

// The largest movie picture decoded: no side over 4096 pixels, and at most
// 4096 x 2304 pixels in all, a 16:9 picture 4096 wide. Real movies stay
// within it (3840 x 2160, and DCI 4K's 4096 x 2160, fit); past it a small
// file could claim pictures of gigabytes.
constexpr int kMaxPictureSide = 4096;
constexpr int64_t kMaxPicturePixels = int64_t{4096} * 2304;
bool PictureSizeAllowed(int width, int height);

struct CodecContextDeleter {
  void operator()(AVCodecContext* c) const;
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
// A decoder of a stream's pictures on one thread, held to the size limit: a
// picture past it, even one that grows later in the stream, is refused
// before memory is taken for it. Null when no decoder opens.
CodecContextPtr OpenPictureDecoder(const AVCodecParameters& par);

// An opened container read through a ByteSource.
class FfmpegInput {
 public:
  static std::unique_ptr<FfmpegInput> Open(std::unique_ptr<ByteSource> bytes);
  ~FfmpegInput();
  FfmpegInput(const FfmpegInput&) = delete;
  FfmpegInput& operator=(const FfmpegInput&) = delete;
  AVFormatContext* Context() const { return format_; }
  // The bytes FFmpeg reads: a reader that moves their position puts it back.
  ByteSource& Bytes() const { return *bytes_; }
  // Index of the best stream of the kind (AVMEDIA_TYPE_*), or -1.
  int BestStream(int mediaType) const;
  // Sends the decoder the next packet of `stream` it takes, passing over
  // damaged ones; at the end of the input flushes the decoder and returns
  // false. `sent` sees each packet before the decoder takes it.
  bool FeedDecoder(AVCodecContext* codec, AVPacket* packet, int stream,
                   const std::function<void(const AVPacket&)>& sent = nullptr) const;

 private:
  FfmpegInput() = default;
  // Opens the container over the bytes from their start, closing what was
  // open; false when FFmpeg takes no container there.
  bool OpenContainer();
  void CloseContainer();
  std::unique_ptr<ByteSource> bytes_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
};

class FfmpegAudioSource final : public PcmSource {
 public:
  // Null when the data holds no decodable audio stream. `wave`, when the
  // bytes are a WAVE file, is its chunk structure.
  static std::unique_ptr<FfmpegAudioSource> Open(std::unique_ptr<ByteSource> bytes,
                                                 const WaveInfo* wave = nullptr);
  ~FfmpegAudioSource() override;
  int64_t ReadFrames(void* out, int64_t frames) override;
  bool SeekFrame(int64_t frame) override;
  // Samples the decoder has given so far: opening MPEG audio decodes none.
  int64_t SamplesDecoded() const;

 private:
  struct State;
  explicit FfmpegAudioSource(std::unique_ptr<State> state);
  bool DecodeMore();
  // The length where the container only guesses it from the bit rate:
  // counted from the frames' headers where their codec's parser reads them
  // (MPEG audio read here), else by decoding; -1 when the bytes could not be
  // read or the start found again.
  int64_t CountFrames(const WaveInfo* wave);
  std::unique_ptr<State> state_;
};

}  // namespace zirk::medialib
