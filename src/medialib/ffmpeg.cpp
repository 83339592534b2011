#include "medialib/ffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace zirk::medialib {

namespace {

constexpr int kIoBufferSize = 32768;

int ReadPacket(void* opaque, uint8_t* buf, int size) {
  int32_t n = static_cast<ByteSource*>(opaque)->Read(buf, size);
  return n > 0 ? n : AVERROR_EOF;
}

int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
  auto* bytes = static_cast<ByteSource*>(opaque);
  if (whence & AVSEEK_SIZE) return bytes->Size();
  int64_t base = 0;
  switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
      base = 0;
      break;
    case SEEK_CUR:
      base = bytes->Tell();
      break;
    case SEEK_END:
      base = bytes->Size();
      break;
    default:
      return -1;
  }
  const int64_t target = base + offset;
  if (target < 0 || target > bytes->Size()) return -1;
  return bytes->Seek(target) == target ? target : -1;
}

struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

}  // namespace

std::unique_ptr<FfmpegInput> FfmpegInput::Open(std::unique_ptr<ByteSource> bytes) {
  if (!bytes || bytes->Size() <= 0) return nullptr;
  std::unique_ptr<FfmpegInput> input(new FfmpegInput);
  input->bytes_ = std::move(bytes);
  input->bytes_->Seek(0);
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (!buffer) return nullptr;
  input->io_ = avio_alloc_context(buffer, kIoBufferSize, 0, input->bytes_.get(), ReadPacket,
                                  nullptr, SeekPacket);
  if (!input->io_) {
    av_free(buffer);
    return nullptr;
  }
  input->format_ = avformat_alloc_context();
  if (!input->format_) return nullptr;
  input->format_->pb = input->io_;
  input->format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (avformat_open_input(&input->format_, nullptr, nullptr, nullptr) < 0) {
    input->format_ = nullptr;  // freed by avformat_open_input on failure
    return nullptr;
  }
  if (avformat_find_stream_info(input->format_, nullptr) < 0) return nullptr;
  return input;
}

FfmpegInput::~FfmpegInput() {
  if (format_) avformat_close_input(&format_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

int FfmpegInput::BestStream(int mediaType) const {
  int index = av_find_best_stream(format_, static_cast<AVMediaType>(mediaType), -1, -1, nullptr, 0);
  return index >= 0 ? index : -1;
}

bool FfmpegInput::FeedDecoder(AVCodecContext* codec, AVPacket* packet, int stream) const {
  for (;;) {
    if (av_read_frame(format_, packet) < 0) {
      avcodec_send_packet(codec, nullptr);
      return false;
    }
    if (packet->stream_index == stream) {
      int sr = avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
      if (sr < 0 && sr != AVERROR(EAGAIN)) continue;
      return true;
    }
    av_packet_unref(packet);
  }
}

struct FfmpegAudioSource::State {
  std::unique_ptr<FfmpegInput> input;
  int stream = -1;
  std::unique_ptr<AVCodecContext, CodecDeleter> codec;
  std::unique_ptr<SwrContext, SwrDeleter> swr;
  std::unique_ptr<AVPacket, PacketDeleter> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameDeleter> frame{av_frame_alloc()};
  std::vector<int16_t> pending;      // converted frames not yet handed out
  size_t pendingRead = 0;            // samples of `pending` already handed out
  int64_t nextFrame = 0;             // source frame of the next sample handed out
  int64_t skipUntil = 0;             // decoded frames before this are dropped (seeking)
  int64_t basePts = AV_NOPTS_VALUE;  // container time of the first sample, in samples
  bool resync = false;               // the next frame's place comes from its time
  bool draining = false;
  bool finished = false;
};

std::unique_ptr<FfmpegAudioSource> FfmpegAudioSource::Open(std::unique_ptr<ByteSource> bytes) {
  auto state = std::make_unique<State>();
  state->input = FfmpegInput::Open(std::move(bytes));
  if (!state->input || !state->packet || !state->frame) return nullptr;
  state->stream = state->input->BestStream(AVMEDIA_TYPE_AUDIO);
  if (state->stream < 0) return nullptr;
  AVStream* st = state->input->Context()->streams[state->stream];
  const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
  if (!decoder) return nullptr;
  state->codec.reset(avcodec_alloc_context3(decoder));
  if (!state->codec || avcodec_parameters_to_context(state->codec.get(), st->codecpar) < 0 ||
      avcodec_open2(state->codec.get(), decoder, nullptr) < 0)
    return nullptr;
  AVCodecContext* c = state->codec.get();
  const int rate = c->sample_rate;
  const int channels = c->ch_layout.nb_channels;
  if (rate < 1 || rate > 768000 || channels < 1) return nullptr;
  // Zeroed before use: the copy below first frees what its target holds,
  // and stack bytes read as a custom order would be freed as a pointer.
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, std::min(channels, 2));
  AVChannelLayout inLayout{};
  int err = 0;
  if (c->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&inLayout, channels);
  else
    err = av_channel_layout_copy(&inLayout, &c->ch_layout);
  SwrContext* swr = nullptr;
  if (err >= 0)
    err = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, rate, &inLayout, c->sample_fmt,
                              rate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  state->swr.reset(swr);
  if (err < 0 || swr_init(swr) < 0) return nullptr;

  int64_t frames = 0;
  if (st->duration > 0 && st->time_base.den > 0)
    frames = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
  else if (state->input->Context()->duration > 0)
    frames = av_rescale(state->input->Context()->duration, rate, AV_TIME_BASE);
  if (frames <= 0 || frames > kMaxFrames) return nullptr;

  auto source = std::unique_ptr<FfmpegAudioSource>(new FfmpegAudioSource(std::move(state)));
  source->format_ = {rate, std::min(channels, 2), 16};
  source->frames_ = frames;
  const AVSampleFormat packed = av_get_packed_sample_fmt(c->sample_fmt);
  source->native_ = channels <= 2 && (packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16);
  return source;
}

FfmpegAudioSource::FfmpegAudioSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
FfmpegAudioSource::~FfmpegAudioSource() = default;

bool FfmpegAudioSource::DecodeMore() {
  State& s = *state_;
  AVCodecContext* c = s.codec.get();
  AVStream* st = s.input->Context()->streams[s.stream];
  const int channels = format_.channels;
  for (;;) {
    int r = avcodec_receive_frame(c, s.frame.get());
    if (r == 0) {
      AVFrame* f = s.frame.get();
      // Decoding on from a known place counts samples; container times are
      // only used to find where a seek landed (ASF stamps packets in whole
      // milliseconds and after a pre-roll, so they are neither exact nor 0-based).
      int64_t first =
          s.nextFrame + static_cast<int64_t>(s.pending.size() - s.pendingRead) / channels;
      int64_t stamp = AV_NOPTS_VALUE;
      if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        stamp = av_rescale_q(f->best_effort_timestamp, st->time_base, AVRational{1, format_.rate});
      if (s.basePts == AV_NOPTS_VALUE && !s.resync) s.basePts = stamp;
      if (s.resync) {
        if (stamp != AV_NOPTS_VALUE && s.basePts != AV_NOPTS_VALUE) first = stamp - s.basePts;
        s.resync = false;
      }
      const int count = f->nb_samples;
      std::vector<int16_t> out(static_cast<size_t>(count) * channels);
      uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(out.data())};
      int got = swr_convert(s.swr.get(), outPlanes, count,
                            const_cast<const uint8_t**>(f->extended_data), count);
      av_frame_unref(f);
      if (got <= 0) continue;
      int64_t drop = std::clamp<int64_t>(s.skipUntil - first, 0, got);
      if (s.pendingRead == s.pending.size()) {
        s.pending.clear();
        s.pendingRead = 0;
        s.nextFrame = first + drop;
      }
      s.pending.insert(s.pending.end(), out.begin() + drop * channels,
                       out.begin() + static_cast<int64_t>(got) * channels);
      if (got > drop) return true;
      continue;
    }
    if (r != AVERROR(EAGAIN) || s.draining) {
      s.finished = true;
      return false;
    }
    if (!s.input->FeedDecoder(c, s.packet.get(), s.stream)) s.draining = true;
  }
}

int64_t FfmpegAudioSource::ReadFrames(void* out, int64_t frames) {
  State& s = *state_;
  const int channels = format_.channels;
  auto* dst = static_cast<uint8_t*>(out);
  int64_t done = 0;
  while (done < frames) {
    size_t available = (s.pending.size() - s.pendingRead) / static_cast<size_t>(channels);
    if (available == 0) {
      if (s.finished || !DecodeMore()) break;
      continue;
    }
    const int64_t limit = frames_ - s.nextFrame;
    if (limit <= 0) break;
    const int64_t n = std::min({frames - done, static_cast<int64_t>(available), limit});
    std::memcpy(dst + done * channels * 2, s.pending.data() + s.pendingRead,
                static_cast<size_t>(n * channels) * sizeof(int16_t));
    s.pendingRead += static_cast<size_t>(n * channels);
    s.nextFrame += n;
    done += n;
  }
  return done;
}

bool FfmpegAudioSource::SeekFrame(int64_t frame) {
  State& s = *state_;
  frame = std::clamp<int64_t>(frame, 0, frames_);
  AVFormatContext* fc = s.input->Context();
  AVStream* st = fc->streams[s.stream];
  // A rewind goes to the first byte, so that it never depends on times.
  const bool toStart = frame == 0 || s.basePts == AV_NOPTS_VALUE;
  if (toStart) {
    if (avformat_seek_file(fc, s.stream, INT64_MIN, INT64_MIN, INT64_MIN, 0) < 0 &&
        av_seek_frame(fc, -1, 0, AVSEEK_FLAG_BYTE) < 0)
      return false;
  } else {
    const int64_t ts = av_rescale_q(frame + s.basePts, AVRational{1, format_.rate}, st->time_base);
    if (av_seek_frame(fc, s.stream, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  }
  avcodec_flush_buffers(s.codec.get());
  s.pending.clear();
  s.pendingRead = 0;
  s.nextFrame = toStart ? 0 : frame;
  s.skipUntil = frame;
  s.resync = !toStart;
  s.draining = false;
  s.finished = false;
  return true;
}

}  // namespace zirk::medialib
