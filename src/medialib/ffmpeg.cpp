#include "medialib/ffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/crc.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "medialib/mpegaudio.h"

namespace zirk::medialib {

namespace {

constexpr int kIoBufferSize = 32768;
// The most output frames one step of conversion makes: a frame of a low
// rate is converted in pieces, so what it claims never sits in memory whole.
constexpr int64_t kPieceFrames = 16384;
// The most frames a parser gives once told the stream ends: it holds a few.
constexpr int kFlushSteps = 4096;

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

struct SwrDeleter {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ParserDeleter {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

// Folds what tells a packet from another into `sum`: its stream, size,
// flags and bytes. Its times are left out: FFmpeg fills in a time the
// container does not give from the packets before it, so a packet read
// again may get one it did not get the first time (a program stream cut
// inside its first pack) though it is the same packet.
uint32_t FoldPacket(uint32_t sum, const AVPacket& p) {
  const AVCRC* table = av_crc_get_table(AV_CRC_32_IEEE);
  const int64_t fields[] = {p.stream_index, p.size, p.flags};
  sum = av_crc(table, sum, reinterpret_cast<const uint8_t*>(fields), sizeof fields);
  return av_crc(table, sum, p.data, static_cast<size_t>(p.size));
}

// The first packets read ahead are read again after going back. A reader
// that does not go back with the bytes shows it at once: a packed SWF file
// goes on inflating where it was, a DV file first gives the sound it held
// from the last picture. Reading every packet again would double the
// read-ahead of a movie without sound, which reads as far as probing does.
constexpr int64_t kCheckedPackets = 8;

// Reads packets from where the reader is until there are a sound and a
// picture stream and `enough()` holds, or as far as probing reads. `seen`
// sees each packet.
void ReadAhead(AVFormatContext* format, AVPacket* packet,
               const std::function<void(const AVPacket&)>& seen,
               const std::function<bool()>& enough) {
  auto has = [format](AVMediaType type) {
    return av_find_best_stream(format, type, -1, -1, nullptr, 0) >= 0;
  };
  int64_t read = 0;
  while (read < format->probesize &&
         !(has(AVMEDIA_TYPE_AUDIO) && has(AVMEDIA_TYPE_VIDEO) && enough()) &&
         av_read_frame(format, packet) >= 0) {
    read += packet->size;
    seen(*packet);
    av_packet_unref(packet);
  }
}

// A container without a header makes a stream when its first packet comes.
// Packets are read ahead and the reader goes back to the start. A container
// that reads through a stream of its own is not put back by a seek of the
// bytes: going back holds only where the packets read again are those read
// ahead. False when it does not.
bool FindStreamsAhead(AVFormatContext* format) {
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  if (!packet) return false;
  int64_t count = 0;
  uint32_t sum = 0;
  ReadAhead(
      format, packet.get(),
      [&](const AVPacket& p) {
        if (count++ < kCheckedPackets) sum = FoldPacket(sum, p);
      },
      [] { return true; });
  const auto back = [format] { return av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE) >= 0; };
  if (!back()) return false;
  uint32_t again = 0;
  for (int64_t i = 0; i < std::min(count, kCheckedPackets); ++i) {
    if (av_read_frame(format, packet.get()) < 0) return false;
    again = FoldPacket(again, *packet);
    av_packet_unref(packet.get());
  }
  return again == sum && back();
}

// What reading ahead showed of the pictures of a container that cannot go
// back.
struct PictureCheck {
  int streams = 0;                 // the streams made
  std::vector<AVCodecID> unshown;  // codecs of picture streams that showed none
};

// Reads ahead as FindStreamsAhead does, and on until every picture stream
// has shown a picture, each stream's packets going to a decoder of its own
// held to the size limit. A picture past the limit, or none decodable as
// far as probing reads, shows none.
PictureCheck CheckPictures(AVFormatContext* format) {
  struct Pictures {
    CodecContextPtr decoder;  // none: no decoder opens
    bool shown = false;
  };
  std::vector<Pictures> streams;
  std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
  if (!packet || !frame) return {};
  const auto meet = [&] {
    while (streams.size() < format->nb_streams) {
      const AVCodecParameters* par = format->streams[streams.size()]->codecpar;
      Pictures& s = streams.emplace_back();
      s.shown = par->codec_type != AVMEDIA_TYPE_VIDEO;
      if (!s.shown) s.decoder = OpenPictureDecoder(*par);
    }
  };
  // Sends a packet (none: the end) and takes the pictures it gives.
  const auto decode = [&frame](Pictures& s, const AVPacket* p) {
    if (s.shown || !s.decoder) return;
    avcodec_send_packet(s.decoder.get(), p);
    while (avcodec_receive_frame(s.decoder.get(), frame.get()) == 0) {
      s.shown = true;
      av_frame_unref(frame.get());
    }
  };
  ReadAhead(
      format, packet.get(),
      [&](const AVPacket& p) {
        meet();
        decode(streams[static_cast<size_t>(p.stream_index)], &p);
      },
      [&] {
        meet();
        return std::none_of(streams.begin(), streams.end(),
                            [](const Pictures& s) { return !s.shown && s.decoder; });
      });
  meet();
  PictureCheck check;
  check.streams = static_cast<int>(streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    decode(streams[i], nullptr);
    if (!streams[i].shown) check.unshown.push_back(format->streams[i]->codecpar->codec_id);
  }
  return check;
}

// The names of the decoders of every codec but those `leftOut`.
std::string DecodersBut(const std::vector<AVCodecID>& leftOut) {
  std::string names;
  void* at = nullptr;
  while (const AVCodec* codec = av_codec_iterate(&at)) {
    if (!av_codec_is_decoder(codec) ||
        std::find(leftOut.begin(), leftOut.end(), codec->id) != leftOut.end())
      continue;
    if (!names.empty()) names += ',';
    names += codec->name;
  }
  return names;
}

// Learns the streams' parameters, which may decode a few pictures. The
// streams made before are held to the size limit, so a picture past it is
// refused before memory is taken for it. `streams`, where not -1, is the
// most streams probing may make; no decoder of a codec `leftOut` opens.
bool ProbeStreams(AVFormatContext* format, int streams, const std::vector<AVCodecID>& leftOut) {
  const int maxStreams = format->max_streams;
  if (streams >= 0) format->max_streams = streams;
  if (!leftOut.empty()) format->codec_whitelist = av_strdup(DecodersBut(leftOut).c_str());
  std::vector<AVDictionary*> options(format->nb_streams, nullptr);
  for (AVDictionary*& o : options) av_dict_set_int(&o, "max_pixels", kMaxPicturePixels, 0);
  const int found = avformat_find_stream_info(format, options.data());
  for (AVDictionary*& o : options) av_dict_free(&o);
  av_freep(&format->codec_whitelist);
  format->max_streams = maxStreams;
  return found >= 0;
}

// What a part of one rate and channel count makes at the output's rate: its
// frames when the rate is the output's, else the product rounded up. The
// converter's output of each part is held to it (the resampler's own count
// drifts by a frame either way), so that a length counted from frame
// headers is what plays.
int64_t PartFrames(int64_t samples, int rate, int outRate) {
  if (samples <= 0 || rate <= 0) return 0;
  if (rate == outRate) return samples;
  return (samples * outRate + rate - 1) / rate;
}

// Adds up parts as the converter makes them: a part ends where the rate or
// the channel count changes.
class LengthCount {
 public:
  explicit LengthCount(int outRate) : outRate_(outRate) {}
  void Add(const MpegFrame& f) {
    if (f.rate != rate_ || f.channels != channels_) {
      total_ += PartFrames(part_, rate_, outRate_);
      part_ = 0;
      rate_ = f.rate;
      channels_ = f.channels;
    }
    part_ += f.samples;
  }
  int64_t Total() const { return total_ + PartFrames(part_, rate_, outRate_); }

 private:
  int outRate_;
  int rate_ = 0;
  int channels_ = 0;
  int64_t part_ = 0;
  int64_t total_ = 0;
};

bool IsMpegAudio(AVCodecID id) {
  return id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3;
}

// Codecs whose parser reads each frame's samples, rate and channel count
// from its header, and whose decoder gives every frame of a stream of one
// rate and channel count just as the parser reads it.
bool ParserCounts(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_GSM_MS:
    case AV_CODEC_ID_G723_1:
      return true;
    default:
      return false;
  }
}

// Whether the decoder plays the last frame the parser gives: FLAC's drops
// one cut short, whose bytes do not end in their CRC, and GSM's one shorter
// than a block.
bool FramePlays(AVCodecID id, const uint8_t* frame, int size) {
  constexpr int kGsmMsBlock = 65;
  if (id == AV_CODEC_ID_FLAC) return av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, frame, size) == 0;
  if (id == AV_CODEC_ID_GSM_MS) return size >= kGsmMsBlock;
  return true;
}

// The length of `stream` as its parser reads it from the frames of the
// demuxed packets; -1 when the parser tells nothing of some frame, or some
// frame is of another rate or channel count than the decoder `opened`
// with: at such a change the decoder may label a frame with its
// neighbour's rate, so only decoding counts what plays.
int64_t ParsedLength(AVFormatContext* fc, int stream, AVPacket* packet,
                     const AVCodecContext& opened) {
  const AVCodecParameters* par = fc->streams[stream]->codecpar;
  if (!ParserCounts(par->codec_id)) return -1;
  std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(par->codec_id));
  CodecContextPtr context(avcodec_alloc_context3(nullptr));
  if (!parser || !context || avcodec_parameters_to_context(context.get(), par) < 0) return -1;
  const AVCodecContext* c = context.get();
  int64_t frames = 0;
  bool told = true;
  int frameSize = 0;
  // The last frame may be cut short: those the parser gives at the end are
  // looked at, and the very last counts if it plays.
  bool ending = false;
  int64_t lastSamples = 0;
  bool lastPlays = true;
  // One step of the parser over `size` bytes (none: the end); answers the
  // bytes it took.
  const auto step = [&](const uint8_t* data, int size) {
    uint8_t* frame = nullptr;
    const int used = av_parser_parse2(parser.get(), context.get(), &frame, &frameSize, data, size,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (frameSize > 0) {
      told = told && parser->duration > 0 && c->sample_rate == opened.sample_rate &&
             c->ch_layout.nb_channels == opened.ch_layout.nb_channels;
      frames += parser->duration;
      lastSamples = parser->duration;
      lastPlays = !ending || FramePlays(par->codec_id, frame, frameSize);
    }
    return std::clamp(used, 0, size);
  };
  const auto counting = [&] { return told && frames <= kMaxFrames; };
  while (counting() && av_read_frame(fc, packet) >= 0) {
    // A step that neither takes bytes nor gives a frame would be repeated
    // forever: the rest of the packet is passed over.
    for (int at = 0; packet->stream_index == stream && at < packet->size && counting();) {
      const int used = step(packet->data + at, packet->size - at);
      if (used == 0 && frameSize == 0) break;
      at += used;
    }
    av_packet_unref(packet);
  }
  // The parser holds the last frames until it is told the stream ends.
  ending = true;
  for (int i = 0; i < kFlushSteps && counting(); ++i) {
    step(nullptr, 0);
    if (frameSize == 0) break;
  }
  if (!lastPlays) frames -= lastSamples;
  return told ? frames : -1;
}

}  // namespace

bool PictureSizeAllowed(int width, int height) {
  return width >= 1 && height >= 1 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         int64_t{width} * height <= kMaxPicturePixels;
}

void CodecContextDeleter::operator()(AVCodecContext* c) const {
  avcodec_free_context(&c);
}

CodecContextPtr OpenPictureDecoder(const AVCodecParameters& par) {
  const AVCodec* codec = avcodec_find_decoder(par.codec_id);
  if (!codec) return nullptr;
  CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (!decoder || avcodec_parameters_to_context(decoder.get(), &par) < 0) return nullptr;
  decoder->thread_count = 1;
  decoder->max_pixels = kMaxPicturePixels;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;
  return decoder;
}

std::unique_ptr<FfmpegInput> FfmpegInput::Open(std::unique_ptr<ByteSource> bytes) {
  if (!bytes || bytes->Size() <= 0) return nullptr;
  std::unique_ptr<FfmpegInput> input(new FfmpegInput);
  input->bytes_ = std::move(bytes);
  if (!input->OpenContainer()) return nullptr;
  AVFormatContext* format = input->format_;
  if (!(format->ctx_flags & AVFMTCTX_NOHEADER))
    return ProbeStreams(format, -1, {}) ? std::move(input) : nullptr;
  // Where streams come with their packets, the size limit reaches only those
  // made before probing: they are found by reading ahead, and probing makes
  // no other.
  if (FindStreamsAhead(format)) {
    const int streams = static_cast<int>(format->nb_streams);
    return ProbeStreams(format, streams, {}) ? std::move(input) : nullptr;
  }
  // A container that cannot go back is opened again and its pictures are
  // looked at, then opened once more and probed from its start: only the
  // streams looked at, and only the pictures shown within the limit.
  if (!input->OpenContainer()) return nullptr;
  const PictureCheck check = CheckPictures(input->format_);
  if (!input->OpenContainer()) return nullptr;
  return ProbeStreams(input->format_, check.streams, check.unshown) ? std::move(input) : nullptr;
}

bool FfmpegInput::OpenContainer() {
  CloseContainer();
  if (bytes_->Seek(0) != 0) return false;
  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  if (!buffer) return false;
  io_ = avio_alloc_context(buffer, kIoBufferSize, 0, bytes_.get(), ReadPacket, nullptr, SeekPacket);
  if (!io_) {
    av_free(buffer);
    return false;
  }
  format_ = avformat_alloc_context();
  if (!format_) return false;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (avformat_open_input(&format_, nullptr, nullptr, nullptr) < 0) {
    format_ = nullptr;  // freed by avformat_open_input on failure
    return false;
  }
  return true;
}

void FfmpegInput::CloseContainer() {
  if (format_) avformat_close_input(&format_);
  if (io_) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

FfmpegInput::~FfmpegInput() {
  CloseContainer();
}

int FfmpegInput::BestStream(int mediaType) const {
  int index = av_find_best_stream(format_, static_cast<AVMediaType>(mediaType), -1, -1, nullptr, 0);
  return index >= 0 ? index : -1;
}

bool FfmpegInput::FeedDecoder(AVCodecContext* codec, AVPacket* packet, int stream,
                              const std::function<void(const AVPacket&)>& sent) const {
  for (;;) {
    if (av_read_frame(format_, packet) < 0) {
      avcodec_send_packet(codec, nullptr);
      return false;
    }
    if (packet->stream_index == stream) {
      if (sent) sent(*packet);
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
  CodecContextPtr codec;
  std::unique_ptr<SwrContext, SwrDeleter> swr;
  PcmFormat out;  // what the converter makes
  // What the converter takes: a frame of another layout, sample format or
  // rate needs a converter of its own.
  AVChannelLayout inLayout{};
  int inFormat = AV_SAMPLE_FMT_NONE;
  int inRate = 0;
  std::unique_ptr<AVPacket, PacketDeleter> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameDeleter> frame{av_frame_alloc()};
  // FFmpeg labels a decoded MPEG audio frame with the rate of the frame
  // before it: each frame's own comes from its header, read as its packet
  // goes to the decoder, which gives that packet's frames before it takes
  // another.
  std::function<void(const AVPacket&)> readRates;
  std::vector<int> sentRates;
  size_t nextRate = 0;
  // The decoded frame being converted piece by piece.
  bool holding = false;
  int heldAt = 0;         // its samples converted so far
  int64_t heldFirst = 0;  // source frame of its first converted frame
  std::vector<const uint8_t*> pieceIn;
  // The part the converter is on: samples taken, frames made.
  int64_t partIn = 0;
  int64_t partOut = 0;
  std::vector<int16_t> lastOut;  // the last frame made, to pad a part with
  int64_t samplesDecoded = 0;
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
  bool ConvertPiece();
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
  partIn = partOut = 0;
  if (layout.nb_channels < 1 || !SoundRateAllowed(rate) || format < 0) return false;
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

// Converts `count` input frames (none: what the converter still holds, and
// the part ends) into `converted`; answers the frames made.
int64_t FfmpegAudioSource::State::Convert(const uint8_t* const* in, int count) {
  if (!swr) return 0;
  const size_t channels = static_cast<size_t>(out.channels);
  partIn += count;
  const int room = std::max(swr_get_out_samples(swr.get(), count), 0);
  converted.resize(static_cast<size_t>(room) * channels);
  uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(converted.data())};
  int64_t got = 0;
  if (room > 0)
    got = std::max(swr_convert(swr.get(), planes, room, const_cast<const uint8_t**>(in), count), 0);
  const int64_t due = PartFrames(partIn, inRate, out.rate) - partOut;
  got = std::clamp<int64_t>(got, 0, std::max<int64_t>(due, 0));
  if (got > 0)
    lastOut.assign(converted.begin() + (got - 1) * channels, converted.begin() + got * channels);
  if (!in && got < due) {
    lastOut.resize(channels);
    converted.resize(static_cast<size_t>(due) * channels);
    for (int64_t i = got; i < due; ++i)
      std::copy(lastOut.begin(), lastOut.end(), converted.begin() + i * channels);
    got = due;
  }
  partOut += got;
  return got;
}

// Converts the next piece of the held frame and keeps it.
bool FfmpegAudioSource::State::ConvertPiece() {
  AVFrame* f = frame.get();
  const int left = f->nb_samples - heldAt;
  const int count =
      left <= 0 ? 0
                : static_cast<int>(std::clamp<int64_t>(kPieceFrames * inRate / out.rate, 1, left));
  const auto format = static_cast<AVSampleFormat>(f->format);
  const bool planar = av_sample_fmt_is_planar(format);
  const int channels = f->ch_layout.nb_channels;
  const size_t step =
      static_cast<size_t>(av_get_bytes_per_sample(format) * (planar ? 1 : channels));
  pieceIn.resize(static_cast<size_t>(planar ? channels : 1));
  for (size_t i = 0; i < pieceIn.size(); ++i)
    pieceIn[i] = f->extended_data[i] + static_cast<size_t>(heldAt) * step;
  const int64_t first = heldAt == 0 ? heldFirst : nextFrame + Unread();
  const int64_t got = count > 0 ? Convert(pieceIn.data(), count) : 0;
  heldAt += count;
  if (heldAt >= f->nb_samples) {
    av_frame_unref(f);
    holding = false;
  }
  return Keep(first, got);
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

std::unique_ptr<FfmpegAudioSource> FfmpegAudioSource::Open(std::unique_ptr<ByteSource> bytes,
                                                           const WaveInfo* wave) {
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
  if (IsMpegAudio(c->codec_id)) {
    State* s = state.get();
    s->readRates = [s](const AVPacket& packet) {
      s->sentRates.clear();
      s->nextRate = 0;
      WalkMpegPacket(packet.data, packet.size,
                     [s](const MpegFrame& f) { s->sentRates.push_back(f.rate); });
    };
  }

  AVFormatContext* fc = state->input->Context();
  int64_t frames = 0;
  if (st->duration > 0 && st->time_base.den > 0)
    frames = av_rescale_q(st->duration, st->time_base, AVRational{1, rate});
  else if (fc->duration > 0)
    frames = av_rescale(fc->duration, rate, AV_TIME_BASE);
  // A length guessed from the bit rate is wrong once rate or format change
  // (MPEG audio frames may, each frame its own): the frames are counted, so
  // the length is what plays.
  const bool guessed = fc->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  auto source = std::unique_ptr<FfmpegAudioSource>(new FfmpegAudioSource(std::move(state)));
  source->format_ = source->state_->out;
  if (guessed) frames = source->CountFrames(wave);
  if (frames <= 0 || frames > kMaxFrames) return nullptr;
  source->frames_ = frames;
  const AVSampleFormat packed = av_get_packed_sample_fmt(c->sample_fmt);
  source->native_ = channels <= 2 && (packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16);
  return source;
}

int64_t FfmpegAudioSource::CountFrames(const WaveInfo* wave) {
  State& s = *state_;
  LengthCount count(format_.rate);
  const auto add = [&count](const MpegFrame& f) { count.Add(f); };
  // MPEG audio in a WAVE file: its frame headers, straight from the data
  // chunk, thousands of them a millisecond. A writer that streams the file
  // leaves the chunk's size at 0, and FFmpeg then plays to the file's end:
  // the frames are counted over the bytes it plays.
  if (s.readRates && wave) {
    ByteSource& bytes = s.input->Bytes();
    const int64_t at = bytes.Tell();
    const int64_t end = wave->dataBytes > 0 ? wave->dataOffset + wave->dataBytes : bytes.Size();
    const bool read = ScanMpegFrames(bytes, wave->dataOffset, end, add);
    return bytes.Seek(at) == at && read ? count.Total() : -1;
  }
  // MPEG audio in another container: the headers of the demuxer's packets.
  // Other codecs' frames as their parser reads them, or, where it tells
  // nothing, as decoding gives them.
  AVFormatContext* fc = s.input->Context();
  AVPacket* packet = s.packet.get();
  int64_t frames = 0;
  if (s.readRates) {
    while (av_read_frame(fc, packet) >= 0) {
      if (packet->stream_index == s.stream) WalkMpegPacket(packet->data, packet->size, add);
      av_packet_unref(packet);
    }
    frames = count.Total();
  } else if ((frames = ParsedLength(fc, s.stream, packet, *s.codec)) < 0) {
    if (!SeekFrame(0)) return -1;
    frames = 0;
    while (frames <= kMaxFrames && DecodeMore()) {
      frames += s.Unread();
      s.pendingRead = s.pending.size();
    }
  }
  return SeekFrame(0) ? frames : -1;
}

int64_t FfmpegAudioSource::SamplesDecoded() const {
  return state_->samplesDecoded;
}

FfmpegAudioSource::FfmpegAudioSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
FfmpegAudioSource::~FfmpegAudioSource() = default;

bool FfmpegAudioSource::DecodeMore() {
  State& s = *state_;
  AVCodecContext* c = s.codec.get();
  AVStream* st = s.input->Context()->streams[s.stream];
  for (;;) {
    if (s.holding) {
      if (s.ConvertPiece()) return true;
      continue;
    }
    int r = avcodec_receive_frame(c, s.frame.get());
    if (r == 0) {
      AVFrame* f = s.frame.get();
      s.samplesDecoded += f->nb_samples;
      if (s.nextRate < s.sentRates.size()) f->sample_rate = s.sentRates[s.nextRate++];
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
      s.holding = true;
      s.heldAt = 0;
      s.heldFirst = first;
      if (s.ConvertPiece() || kept) return true;
      continue;
    }
    if (r != AVERROR(EAGAIN) || s.draining) {
      s.finished = true;
      return s.Drain();
    }
    if (!s.input->FeedDecoder(c, s.packet.get(), s.stream, s.readRates)) s.draining = true;
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
  // Frames the converter and the decoder hold belong to the old place.
  if (s.swr) swr_init(s.swr.get());
  av_frame_unref(s.frame.get());
  s.holding = false;
  s.sentRates.clear();
  s.partIn = s.partOut = 0;
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
