#include "tools/mkdemo/demomedia.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace zirk::demo {

namespace {

constexpr double kPi = 3.14159265358979323846;

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// --- music: four arpeggiated chords, 3 seconds, looping -------------------------

constexpr int kRate = 44100;

double noteHz(int midiNote) {
  return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0);
}

// Stereo samples of the piece: each chord's notes rise one after another
// with a soft attack and a long decay; the loop point falls between chords.
std::vector<float> musicSamples() {
  const int chords[4][4] = {{60, 64, 67, 72}, {57, 60, 64, 69}, {53, 57, 60, 65}, {55, 59, 62, 67}};
  const double chordSeconds = 0.75, noteSeconds = chordSeconds / 4;
  const size_t frames = static_cast<size_t>(4 * chordSeconds * kRate);
  std::vector<float> out(frames * 2, 0.0f);
  for (int c = 0; c < 4; ++c) {
    for (int n = 0; n < 4; ++n) {
      const double start = c * chordSeconds + n * noteSeconds;
      const double hz = noteHz(chords[c][n]);
      const double pan = 0.3 + 0.4 * n / 3.0;  // the notes spread left to right
      const size_t first = static_cast<size_t>(start * kRate);
      const size_t last = std::min(frames, static_cast<size_t>((c + 1) * chordSeconds * kRate));
      for (size_t i = first; i < last; ++i) {
        const double t = static_cast<double>(i - first) / kRate;
        const double envelope = std::min(1.0, t / 0.01) * std::exp(-t * 3.0);
        const double v =
            0.16 * envelope * (std::sin(2 * kPi * hz * t) + 0.3 * std::sin(4 * kPi * hz * t));
        out[i * 2] += static_cast<float>(v * (1 - pan));
        out[i * 2 + 1] += static_cast<float>(v * pan);
      }
    }
    // A bass note under each chord.
    const double hz = noteHz(chords[c][0] - 24);
    const size_t first = static_cast<size_t>(c * chordSeconds * kRate);
    for (size_t i = first; i < first + static_cast<size_t>(chordSeconds * kRate); ++i) {
      const double t = static_cast<double>(i - first) / kRate;
      const double v =
          0.22 * std::min(1.0, t / 0.02) * std::exp(-t * 2.0) * std::sin(2 * kPi * hz * t);
      out[i * 2] += static_cast<float>(v);
      out[i * 2 + 1] += static_cast<float>(v);
    }
  }
  return out;
}

std::string encodeVorbis(const std::vector<float>& samples) {
  vorbis_info info;
  vorbis_info_init(&info);
  if (vorbis_encode_init_vbr(&info, 2, kRate, 0.3f) != 0) throw std::runtime_error("vorbis setup");
  vorbis_comment comment;
  vorbis_comment_init(&comment);
  vorbis_comment_add_tag(&comment, "TITLE", "ZirkPlayer demo music");
  vorbis_dsp_state dsp;
  vorbis_analysis_init(&dsp, &info);
  vorbis_block block;
  vorbis_block_init(&dsp, &block);
  ogg_stream_state stream;
  ogg_stream_init(&stream, 0x5A69726B);  // a fixed serial keeps the bytes the same
  std::string bytes;
  ogg_page page;
  auto flushPages = [&](bool force) {
    while (force ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
      bytes.append(reinterpret_cast<const char*>(page.header),
                   static_cast<size_t>(page.header_len));
      bytes.append(reinterpret_cast<const char*>(page.body), static_cast<size_t>(page.body_len));
    }
  };
  ogg_packet header, headerComment, headerCode;
  vorbis_analysis_headerout(&dsp, &comment, &header, &headerComment, &headerCode);
  ogg_stream_packetin(&stream, &header);
  ogg_stream_packetin(&stream, &headerComment);
  ogg_stream_packetin(&stream, &headerCode);
  flushPages(true);

  auto drain = [&] {
    ogg_packet packet;
    while (vorbis_analysis_blockout(&dsp, &block) == 1) {
      vorbis_analysis(&block, nullptr);
      vorbis_bitrate_addblock(&block);
      while (vorbis_bitrate_flushpacket(&dsp, &packet)) {
        ogg_stream_packetin(&stream, &packet);
        flushPages(false);
      }
    }
  };
  const size_t frames = samples.size() / 2;
  for (size_t at = 0; at < frames; at += 4096) {
    const size_t n = std::min<size_t>(4096, frames - at);
    float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
    for (size_t i = 0; i < n; ++i) {
      buffer[0][i] = samples[(at + i) * 2];
      buffer[1][i] = samples[(at + i) * 2 + 1];
    }
    vorbis_analysis_wrote(&dsp, static_cast<int>(n));
    drain();
  }
  vorbis_analysis_wrote(&dsp, 0);
  drain();
  flushPages(true);
  ogg_stream_clear(&stream);
  vorbis_block_clear(&block);
  vorbis_dsp_clear(&dsp);
  vorbis_comment_clear(&comment);
  vorbis_info_clear(&info);
  return bytes;
}

// --- tune: a Standard MIDI File, 8 beats at 120 per minute --------------------

std::string midiTune() {
  std::string track;
  auto delta = [&](uint32_t ticks) {
    uint8_t v[4];
    int n = 0;
    v[n++] = ticks & 0x7F;
    while ((ticks >>= 7) != 0) v[n++] = static_cast<uint8_t>(0x80 | (ticks & 0x7F));
    while (n > 0) track.push_back(static_cast<char>(v[--n]));
  };
  auto event = [&](uint32_t ticks, std::initializer_list<int> bytes) {
    delta(ticks);
    for (int b : bytes) track.push_back(static_cast<char>(b));
  };
  event(0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20});  // 500000 us a beat
  event(0, {0xC0, 73});                         // flute
  event(0, {0xC1, 32});                         // acoustic bass
  event(0, {0xB0, 7, 100});
  event(0, {0xB1, 7, 90});
  const int melody[16] = {72, 74, 76, 79, 77, 76, 74, 72, 74, 76, 77, 79, 76, 74, 72, 72};
  const int bass[4] = {48, 45, 41, 43};
  // Eighth notes held for 44 of their 48 ticks; a bass note every half bar.
  uint32_t wait = 0;
  for (int i = 0; i < 16; ++i) {
    if (i % 4 == 0) {
      event(wait, {0x91, bass[i / 4], 80});
      wait = 0;
    }
    event(wait, {0x90, melody[i], 96});
    event(44, {0x80, melody[i], 0});
    wait = 4;
    if (i % 4 == 3) {
      event(wait, {0x81, bass[i / 4], 0});
      wait = 0;
    }
  }
  event(wait, {0xFF, 0x2F, 0});
  std::string file = "MThd";
  auto be32 = [&](uint32_t v) {
    for (int k = 3; k >= 0; --k) file.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
  };
  be32(6);
  file += std::string("\0\0\0\1\0\x60", 6);  // format 0, one track, 96 ticks a beat
  file += "MTrk";
  be32(static_cast<uint32_t>(track.size()));
  return file + track;
}

// --- movie: 3 seconds of a turning colour wheel, 128 x 96, 15 frames a second --

struct Rgb {
  double r, g, b;
};

Rgb moviePixel(int x, int y, int frame) {
  const double cx = 64, cy = 48;
  const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
  const double d = std::sqrt(dx * dx + dy * dy);
  const double a = std::atan2(dy, dx) + frame * 2 * kPi / 45;
  if (d > 44) {
    const double glow = 40 + 30 * std::sin(frame * 2 * kPi / 45 + y * 0.1);
    return {glow * 0.4, glow * 0.5, glow};
  }
  const double h = std::fmod(a / (2 * kPi) + 10, 1.0) * 6;
  const double f = h - std::floor(h);
  const double light = std::min(1.0, d / 30);
  Rgb c;
  switch (static_cast<int>(h)) {
    case 0:
      c = {1, f, 0};
      break;
    case 1:
      c = {1 - f, 1, 0};
      break;
    case 2:
      c = {0, 1, f};
      break;
    case 3:
      c = {0, 1 - f, 1};
      break;
    case 4:
      c = {f, 0, 1};
      break;
    default:
      c = {1, 0, 1 - f};
      break;
  }
  auto mixWhite = [light](double v) { return 255 * (v * light + (1 - light)); };
  return {mixWhite(c.r), mixWhite(c.g), mixWhite(c.b)};
}

void check(int result, const char* what) {
  if (result < 0) throw std::runtime_error(std::string("movie: ") + what);
}

void writeMovie(const std::filesystem::path& file) {
  constexpr int kWidth = 128, kHeight = 96, kFps = 15, kFrames = 45;
  const std::string path = file.string();
  AVFormatContext* raw = nullptr;
  check(avformat_alloc_output_context2(&raw, nullptr, "asf", path.c_str()), "container");
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format(raw, [](AVFormatContext* f) {
    if (f->pb) avio_closep(&f->pb);
    avformat_free_context(f);
  });
  format->flags |= AVFMT_FLAG_BITEXACT;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMV2);
  if (!codec) throw std::runtime_error("movie: no WMV2 encoder");
  AVStream* stream = avformat_new_stream(format.get(), nullptr);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(
      avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
  AVCodecContext* c = context.get();
  c->width = kWidth;
  c->height = kHeight;
  c->time_base = {1, kFps};
  c->framerate = {kFps, 1};
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  // A fixed quantiser: the size follows the picture, not a rate control.
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = FF_QP2LAMBDA * 10;
  c->gop_size = kFps;
  c->flags |= AV_CODEC_FLAG_BITEXACT;
  if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  check(avcodec_open2(c, codec, nullptr), "encoder");
  check(avcodec_parameters_from_context(stream->codecpar, c), "parameters");
  stream->time_base = c->time_base;
  check(avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE), "open");
  check(avformat_write_header(format.get(), nullptr), "header");

  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  auto drain = [&] {
    while (avcodec_receive_packet(c, packet.get()) == 0) {
      av_packet_rescale_ts(packet.get(), c->time_base, stream->time_base);
      packet->stream_index = stream->index;
      check(av_interleaved_write_frame(format.get(), packet.get()), "write");
    }
  };
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* f) { av_frame_free(&f); });
  frame->format = c->pix_fmt;
  frame->width = kWidth;
  frame->height = kHeight;
  check(av_frame_get_buffer(frame.get(), 0), "frame");
  for (int n = 0; n < kFrames; ++n) {
    check(av_frame_make_writable(frame.get()), "frame");
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const Rgb p = moviePixel(x, y, n);
        const double luma = 0.257 * p.r + 0.504 * p.g + 0.098 * p.b + 16;
        frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(std::lround(luma));
        if (x % 2 == 0 && y % 2 == 0) {
          const double u = -0.148 * p.r - 0.291 * p.g + 0.439 * p.b + 128;
          const double v = 0.439 * p.r - 0.368 * p.g - 0.071 * p.b + 128;
          frame->data[1][y / 2 * frame->linesize[1] + x / 2] = static_cast<uint8_t>(std::lround(u));
          frame->data[2][y / 2 * frame->linesize[2] + x / 2] = static_cast<uint8_t>(std::lround(v));
        }
      }
    }
    frame->pts = n;
    frame->quality = c->global_quality;
    check(avcodec_send_frame(c, frame.get()), "encode");
    drain();
  }
  check(avcodec_send_frame(c, nullptr), "flush");
  drain();
  check(av_write_trailer(format.get()), "trailer");
}

}  // namespace

void WriteDemoMedia(const std::filesystem::path& folder) {
  writeBytes(folder / "music.ogg", encodeVorbis(musicSamples()));
  writeBytes(folder / "tune.mid", midiTune());
  writeMovie(folder / "movie.wmv");
}

void AddDemoSoundTracks(test::FilmFile& film, int32_t sceneChange, int32_t end) {
  // The music fades out over the change of scene while the tune comes in.
  test::FilmSound music{"music.ogg"};
  music.volumeTo = 700;
  film.tracks.push_back(test::SoundTrack(music, 0, sceneChange));
  film.tracks.push_back(test::SoundTrack({"tune.mid"}, sceneChange, end - sceneChange));
}

}  // namespace zirk::demo
