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

// A container without a header makes a stream when its first packet comes.
// Packets are read ahead, as far as probing reads or until a sound and a
// picture stream are there, and the reader goes back to the start.
bool FindStreamsAhead(AVFormatContext* format) {
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!packet) return false;
  auto has = [format](AVMediaType type) {
    return av_find_best_stream(format, type, -1, -1, nullptr, 0) >= 0;
  };
  int64_t read = 0;
  while (read < format->probesize && !(has(AVMEDIA_TYPE_AUDIO) && has(AVMEDIA_TYPE_VIDEO)) &&
         av_read_frame(format, packet.get()) >= 0) {
    read += packet->size;
    av_packet_unref(packet.get());
  }
  return av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0;
}

}  // namespace

bool PictureSizeAllowed(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         int64_t{width} * height <= kMaxPicturePixels;
}

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
  // Learning a stream's parameters may decode a few pictures: one past the
  // size limit is refused before memory is taken for it. The limit reaches
  // only the streams known before probing: where streams come with their
  // packets, those within its reach are looked for first, and probing makes
  // no other.
  AVFormatContext* format = input->format_;
  const bool streamsAsRead = format->ctx_flags & AVFMTCTX_NOHEADER;
  if (streamsAsRead && !FindStreamsAhead(format)) return nullptr;
  const int maxStreams = format->max_streams;
  if (streamsAsRead) format->max_streams = static_cast<int>(format->nb_streams);
  std::vector<AVDictionary*> options(format->nb_streams, nullptr);
  for (AVDictionary*& o : options) av_dict_set_int(&o, "max_pixels", kMaxPicturePixels, 0);
  const int found = avformat_find_stream_info(format, options.data());
  for (AVDictionary*& o : options) av_dict_free(&o);
  format->max_streams = maxStreams;
  if (found < 0) return nullptr;
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
  PcmFormat out;  // what the converter makes
  // What the converter takes: a frame of another layout, sample format or
  // rate needs a converter of its own.
  AVChannelLayout inLayout{};
  int inFormat = AV_SAMPLE_FMT_NONE;
  int inRate = 0;
  std::unique_ptr<AVPacket, PacketDeleter> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameDeleter> frame{av_frame_alloc()};
  std::vector<int16_t> converted;    // the converter's output of one step
  std::vector<int16_t> pending;      // converted frames not yet handed out
  size_t pendingRead = 0;            // samples of `pending` already handed out
  int64_t nextFrame = 0;             // source frame of the next sample handed out
  int64_t skipUntil = 0;             // decoded frames before this are dropped (seeking)
  int64_t basePts = AV_NOPTS_VALUE;  // container time of the first sample, in samples
  bool resync = false;               // the next frame's place comes from its time
  bool draining = false;
  bool finished = false;

  ~State() { av_channel_layout_uninit(&inLayout); }
  bool Takes(const AVFrame& f) const {
    return f.format == inFormat && f.sample_rate == inRate &&
           av_channel_layout_compare(&f.ch_layout, &inLayout) == 0;
  }
  bool SetUpConverter(const AVChannelLayout& layout, int format, int rate);
  int64_t Convert(const uint8_t* const* in, int count);
  bool Keep(int64_t first, int64_t count);
  int64_t Unread() const {
    return static_cast<int64_t>(pending.size() - pendingRead) / out.channels;
  }
  // What the converter still holds (it changes the rate) goes after the rest.
  bool Drain() { return Keep(nextFrame + Unread(), Convert(nullptr, 0)); }
};

// Output is always 16-bit at the rate and channel count the stream opened
// with, so a later part of another rate keeps its own speed.
bool FfmpegAudioSource::State::SetUpConverter(const AVChannelLayout& layout, int format, int rate) {
  swr.reset();
  av_channel_layout_uninit(&inLayout);
  inFormat = AV_SAMPLE_FMT_NONE;
  inRate = 0;
  if (layout.nb_channels < 1 || rate < 1 || rate > 768000 || format < 0) return false;
  // Zeroed before use: the copy below first frees what its target holds,
  // and stack bytes read as a custom order would be freed as a pointer.
  AVChannelLayout outLayout{};
  av_channel_layout_default(&outLayout, out.channels);
  AVChannelLayout from{};
  int err = 0;
  if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
    av_channel_layout_default(&from, layout.nb_channels);
  else
    err = av_channel_layout_copy(&from, &layout);
  SwrContext* made = nullptr;
  if (err >= 0)
    err = swr_alloc_set_opts2(&made, &outLayout, AV_SAMPLE_FMT_S16, out.rate, &from,
                              static_cast<AVSampleFormat>(format), rate, 0, nullptr);
  av_channel_layout_uninit(&from);
  swr.reset(made);
  if (err < 0 || swr_init(made) < 0 || av_channel_layout_copy(&inLayout, &layout) < 0) {
    swr.reset();
    return false;
  }
  inFormat = format;
  inRate = rate;
  return true;
}

// Converts `count` input frames (none: what the converter still holds) into
// `converted`; answers the frames made.
int64_t FfmpegAudioSource::State::Convert(const uint8_t* const* in, int count) {
  if (!swr) return 0;
  const int room = swr_get_out_samples(swr.get(), count);
  if (room <= 0) return 0;
  converted.resize(static_cast<size_t>(room) * out.channels);
  uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(converted.data())};
  const int got = swr_convert(swr.get(), planes, room, const_cast<const uint8_t**>(in), count);
  return std::max(got, 0);
}

// Hands the first `count` converted frames, the first of them at source
// frame `first`, to `pending`, less those before a seek's target. True when
// some were kept.
bool FfmpegAudioSource::State::Keep(int64_t first, int64_t count) {
  const int channels = out.channels;
  const int64_t drop = std::clamp<int64_t>(skipUntil - first, 0, count);
  if (pendingRead == pending.size()) {
    pending.clear();
    pendingRead = 0;
    nextFrame = first + drop;
  }
  pending.insert(pending.end(), converted.begin() + drop * channels,
                 converted.begin() + count * channels);
  return count > drop;
}

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
  state->out = {rate, std::min(channels, 2), 16};
  if (!state->SetUpConverter(c->ch_layout, c->sample_fmt, rate)) return nullptr;

  AVFormatContext* fc = state->input->Context();
  int64_t frames = 0;
  if (st->duration > 0 && st->time_base.den > 0)
    frames = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
  else if (fc->duration > 0)
    frames = av_rescale(fc->duration, rate, AV_TIME_BASE);
  // A length guessed from the bit rate is wrong once rate or format change
  // (MPEG audio frames may, each frame its own): the frames are counted by
  // decoding them, so the length is what plays.
  const bool guessed = fc->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  auto source = std::unique_ptr<FfmpegAudioSource>(new FfmpegAudioSource(std::move(state)));
  source->format_ = source->state_->out;
  if (guessed) {
    frames = source->CountFrames();
    if (!source->SeekFrame(0)) return nullptr;
  }
  if (frames <= 0 || frames > kMaxFrames) return nullptr;
  source->frames_ = frames;
  const AVSampleFormat packed = av_get_packed_sample_fmt(c->sample_fmt);
  source->native_ = channels <= 2 && (packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16);
  return source;
}

int64_t FfmpegAudioSource::CountFrames() {
  State& s = *state_;
  int64_t frames = 0;
  while (frames <= kMaxFrames && DecodeMore()) {
    frames += s.Unread();
    s.pendingRead = s.pending.size();
  }
  return frames;
}

FfmpegAudioSource::FfmpegAudioSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
FfmpegAudioSource::~FfmpegAudioSource() = default;

bool FfmpegAudioSource::DecodeMore() {
  State& s = *state_;
  AVCodecContext* c = s.codec.get();
  AVStream* st = s.input->Context()->streams[s.stream];
  for (;;) {
    int r = avcodec_receive_frame(c, s.frame.get());
    if (r == 0) {
      AVFrame* f = s.frame.get();
      // A chained or joined stream may change its layout, sample format or
      // rate at any frame; what the old converter holds comes first.
      bool kept = false;
      if (!s.Takes(*f)) {
        kept = s.Drain();
        if (!s.SetUpConverter(f->ch_layout, f->format, f->sample_rate)) {
          av_frame_unref(f);
          s.finished = true;
          return kept;
        }
      }
      // Decoding on from a known place counts samples; container times are
      // only used to find where a seek landed (ASF stamps packets in whole
      // milliseconds and after a pre-roll, so they are neither exact nor 0-based).
      int64_t first = s.nextFrame + s.Unread();
      int64_t stamp = AV_NOPTS_VALUE;
      if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        stamp = av_rescale_q(f->best_effort_timestamp, st->time_base, AVRational{1, format_.rate});
      if (s.basePts == AV_NOPTS_VALUE && !s.resync) s.basePts = stamp;
      if (s.resync) {
        if (stamp != AV_NOPTS_VALUE && s.basePts != AV_NOPTS_VALUE) first = stamp - s.basePts;
        s.resync = false;
      }
      const int64_t got = s.Convert(f->extended_data, f->nb_samples);
      av_frame_unref(f);
      if (s.Keep(first, got) || kept) return true;
      continue;
    }
    if (r != AVERROR(EAGAIN) || s.draining) {
      s.finished = true;
      return s.Drain();
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
  // Frames the converter holds belong to the old place.
  if (s.swr) swr_init(s.swr.get());
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
