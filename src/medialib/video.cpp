#include "medialib/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>

#include "medialib/locked.h"

namespace zirk::medialib {

namespace {

// Pictures decoded ahead: up to three, but no more than this many bytes of
// them, so that a large picture is held once ahead, not three times.
constexpr size_t kQueueFrames = 3;
constexpr int64_t kQueueBytes = 8 << 20;

struct SwsDeleter {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

}  // namespace

struct VideoDecoder::State {
  std::unique_ptr<FfmpegInput> input;
  int stream = -1;
  CodecContextPtr codec;
  SwsContext* sws = nullptr;  // cached by sws_getCachedContext; freed below
  std::unique_ptr<AVPacket, PacketDeleter> packet{av_packet_alloc()};
  std::unique_ptr<AVFrame, FrameDeleter> frame{av_frame_alloc()};
  int64_t skipUntilMs = 0;
  int64_t lastPtsMs = -1;
  bool draining = false;
  bool finished = false;

  ~State() { sws_freeContext(sws); }
};

std::unique_ptr<VideoDecoder> VideoDecoder::Open(std::unique_ptr<ByteSource> bytes) {
  auto state = std::make_unique<State>();
  state->input = FfmpegInput::Open(std::move(bytes));
  if (!state->input || !state->packet || !state->frame) return nullptr;
  state->stream = state->input->BestStream(AVMEDIA_TYPE_VIDEO);
  if (state->stream < 0) return nullptr;
  AVStream* st = state->input->Context()->streams[state->stream];
  // The size the stream declares, before our decoder sees a picture.
  if (!PictureSizeAllowed(st->codecpar->width, st->codecpar->height)) return nullptr;
  state->codec = OpenPictureDecoder(*st->codecpar);
  if (!state->codec) return nullptr;
  const int width = state->codec->width;
  const int height = state->codec->height;
  if (!PictureSizeAllowed(width, height)) return nullptr;
  int64_t duration = 0;
  if (st->duration > 0)
    duration = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
  else if (state->input->Context()->duration > 0)
    duration = av_rescale(state->input->Context()->duration, 1000, AV_TIME_BASE);
  auto decoderObject = std::unique_ptr<VideoDecoder>(new VideoDecoder(std::move(state)));
  decoderObject->width_ = width;
  decoderObject->height_ = height;
  decoderObject->durationMs_ = static_cast<int32_t>(std::clamp<int64_t>(duration, 0, INT32_MAX));
  return decoderObject;
}

VideoDecoder::VideoDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
VideoDecoder::~VideoDecoder() = default;

bool VideoDecoder::Next(VideoFrame& out) {
  State& s = *state_;
  AVCodecContext* c = s.codec.get();
  AVStream* st = s.input->Context()->streams[s.stream];
  while (!s.finished) {
    int r = avcodec_receive_frame(c, s.frame.get());
    if (r == 0) {
      AVFrame* f = s.frame.get();
      int64_t pts = s.lastPtsMs + 1;
      if (f->best_effort_timestamp != AV_NOPTS_VALUE) {
        int64_t ts = f->best_effort_timestamp;
        if (st->start_time != AV_NOPTS_VALUE) ts -= st->start_time;
        pts = av_rescale_q(ts, st->time_base, AVRational{1, 1000});
      }
      s.lastPtsMs = pts;
      if (pts < s.skipUntilMs || f->width != width_ || f->height != height_) {
        av_frame_unref(f);
        continue;
      }
      s.sws = sws_getCachedContext(s.sws, f->width, f->height,
                                   static_cast<AVPixelFormat>(f->format), width_, height_,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
      if (!s.sws) {
        av_frame_unref(f);
        s.finished = true;
        return false;
      }
      out.ptsMs = pts;
      out.pixels.resize(static_cast<size_t>(width_) * height_ * 4);
      uint8_t* planes[1] = {out.pixels.data()};
      int strides[1] = {width_ * 4};
      sws_scale(s.sws, f->data, f->linesize, 0, f->height, planes, strides);
      av_frame_unref(f);
      return true;
    }
    if (r != AVERROR(EAGAIN) || s.draining) {
      s.finished = true;
      return false;
    }
    if (!s.input->FeedDecoder(c, s.packet.get(), s.stream)) s.draining = true;
  }
  return false;
}

bool VideoDecoder::Seek(int64_t ms) {
  State& s = *state_;
  AVStream* st = s.input->Context()->streams[s.stream];
  int64_t ts = av_rescale_q(std::max<int64_t>(ms, 0), AVRational{1, 1000}, st->time_base);
  if (st->start_time != AV_NOPTS_VALUE) ts += st->start_time;
  if (av_seek_frame(s.input->Context(), s.stream, ts, AVSEEK_FLAG_BACKWARD) < 0 &&
      av_seek_frame(s.input->Context(), -1, 0, AVSEEK_FLAG_BYTE) < 0)
    return false;
  avcodec_flush_buffers(s.codec.get());
  s.skipUntilMs = ms;
  s.lastPtsMs = -1;
  s.draining = false;
  s.finished = false;
  return true;
}

std::unique_ptr<VideoItem> VideoItem::Open(std::shared_ptr<SharedStream> stream) {
  std::unique_ptr<VideoItem> item(new VideoItem);
  item->decoder_ = VideoDecoder::Open(std::make_unique<CallbackSource>(stream));
  if (!item->decoder_) return nullptr;
  item->width_ = item->decoder_->Width();
  item->height_ = item->decoder_->Height();
  item->durationMs_ = item->decoder_->DurationMs();
  const int64_t frameBytes = int64_t{item->width_} * item->height_ * 4;
  item->queueFrames_ = static_cast<size_t>(
      std::clamp<int64_t>(kQueueBytes / frameBytes, 1, static_cast<int64_t>(kQueueFrames)));
  // The sound is demuxed by a second reader of the same stream.
  if (auto audio = FfmpegAudioSource::Open(std::make_unique<CallbackSource>(stream)))
    item->voice_ = std::make_shared<Voice>(ToOutputRate(std::move(audio)));
  // The first picture is there at once: its size and a still before Play.
  if (item->decoder_->Next(item->current_)) {
    item->haveCurrent_ = true;
    item->fresh_ = true;
  }
  if (item->durationMs_ == 0 && item->voice_) item->durationMs_ = item->voice_->LengthMs();
  return item;
}

VideoItem::~VideoItem() {
  Detach();
}

int64_t VideoItem::ClockMs() {
  if (!running_) return clockBaseMs_;
  const auto now = std::chrono::steady_clock::now();
  // With sound the pictures follow what the device has played, so they keep
  // pace with the speakers and wait when the sound waits.
  if (voice_ && !audioDone_) {
    const int64_t heardMs = (voice_->PositionFrames() - heardAtStart_) * 1000 / kOutputRate;
    if (!voice_->IsEnd()) return clockBaseMs_ + heardMs;
    // The sound is over (it may be shorter than the pictures): real time on.
    clockBaseMs_ += heardMs;
    startedAt_ = now;
    audioDone_ = true;
  }
  return clockBaseMs_ +
         std::chrono::duration_cast<std::chrono::milliseconds>(now - startedAt_).count();
}

void VideoItem::Advance() {
  const int64_t now = ClockMs();
  while (!queue_.empty() && queue_.front().ptsMs <= now) {
    std::swap(current_, queue_.front());
    queue_.pop_front();
    haveCurrent_ = true;
    fresh_ = true;
  }
  if (playing_ && !loop_ && decoderDone_ && queue_.empty() && now >= durationMs_ + loopOffsetMs_) {
    ended_ = true;
    playing_ = false;
    clockBaseMs_ = now;
    running_ = false;
  }
}

void VideoItem::Play(platform::AudioOutput* output) {
  bool rewind;
  {
    std::lock_guard lock(mutex_);
    rewind = ended_;
  }
  if (rewind) Seek(0);
  bool sound;
  {
    std::lock_guard lock(mutex_);
    sound = voice_ && !audioDone_;
  }
  if (sound) voice_->Play(output);
  {
    std::lock_guard lock(mutex_);
    if (!running_) {
      startedAt_ = std::chrono::steady_clock::now();
      heardAtStart_ = voice_ ? voice_->PositionFrames() : 0;
      running_ = true;
    }
    playing_ = true;
    paused_ = false;
    ended_ = false;
  }
  Service();
}

void VideoItem::Pause() {
  std::lock_guard lock(mutex_);
  clockBaseMs_ = ClockMs();
  running_ = false;
  paused_ = true;
  if (voice_) voice_->Pause();
}

bool VideoItem::IsPlaying() {
  std::lock_guard lock(mutex_);
  Advance();
  return playing_ && !paused_ && !ended_;
}

bool VideoItem::IsPaused() const {
  return ReadLocked(mutex_, paused_);
}

bool VideoItem::IsEnd() {
  std::lock_guard lock(mutex_);
  Advance();
  return ended_;
}

int32_t VideoItem::PositionMs() {
  std::lock_guard lock(mutex_);
  int64_t t = ClockMs();
  if (loop_ && durationMs_ > 0) t %= durationMs_;
  return static_cast<int32_t>(std::clamp<int64_t>(t, 0, durationMs_));
}

void VideoItem::Seek(int64_t ms) {
  ms = std::clamp<int64_t>(ms, 0, durationMs_);
  {
    std::lock_guard decodeLock(decodeMutex_);
    if (decoder_) decoder_->Seek(ms);
    std::lock_guard lock(mutex_);
    queue_.clear();
    decoderDone_ = false;
    loopOffsetMs_ = 0;
    clockBaseMs_ = ms;
    startedAt_ = std::chrono::steady_clock::now();
    heardAtStart_ = 0;  // the sound's count starts again with its own seek below
    audioDone_ = false;
    ended_ = false;
  }
  if (voice_) voice_->SetPositionMs(static_cast<int32_t>(ms));
}

void VideoItem::SetPositionMs(int32_t ms) {
  Seek(ms);
  Service();
}

int32_t VideoItem::Level() const {
  return ReadLocked(mutex_, level_);
}

void VideoItem::SetLevel(int32_t level) {
  WriteLocked(mutex_, level_, level);
  if (voice_) voice_->SetLevel(level);
}

int32_t VideoItem::Pan() const {
  return ReadLocked(mutex_, pan_);
}

void VideoItem::SetPan(int32_t pan) {
  WriteLocked(mutex_, pan_, std::clamp(pan, -10000, 10000));
  if (voice_) voice_->SetPan(pan);
}

bool VideoItem::Loop() const {
  return ReadLocked(mutex_, loop_);
}

void VideoItem::SetLoop(bool loop) {
  WriteLocked(mutex_, loop_, loop);
  if (voice_) voice_->SetLoop(loop);
}

void VideoItem::SetRect(const ZirkRect& source, const ZirkRect& dest) {
  std::lock_guard lock(mutex_);
  sourceRect_ = source;
  destRect_ = dest;
}

bool VideoItem::Visible() const {
  return ReadLocked(mutex_, visible_);
}

void VideoItem::SetVisible(bool visible) {
  WriteLocked(mutex_, visible_, visible);
}

const ZirkVideoFrame* VideoItem::GetFrame() {
  std::lock_guard lock(mutex_);
  Advance();
  if (!haveCurrent_) return nullptr;
  // The picture moves out of current_ into what the record shows, which
  // nothing changes before the next call: no copy of it is made.
  if (fresh_) shown_ = std::move(current_.pixels);
  record_ = ZirkVideoFrame{width_, height_, width_ * 4, ZIRK_FRAME_BGRA32, shown_.data()};
  fresh_ = false;
  return &record_;
}

bool VideoItem::NeedPaint() {
  std::lock_guard lock(mutex_);
  Advance();
  return fresh_;
}

void VideoItem::Reattach(platform::AudioOutput* output) {
  if (voice_) voice_->Reattach(output);
}

void VideoItem::Detach() {
  if (voice_) voice_->Detach();
  std::lock_guard lock(decodeMutex_);
  detached_ = true;
  decoder_.reset();
}

void VideoItem::Service() {
  if (voice_) voice_->Service();
  std::lock_guard decodeLock(decodeMutex_);
  if (detached_ || !decoder_) return;
  bool wrapped = false;
  for (;;) {
    int64_t offset;
    bool loop;
    {
      std::lock_guard lock(mutex_);
      if (decoderDone_ || queue_.size() >= queueFrames_) return;
      offset = loopOffsetMs_;
      loop = loop_;
    }
    VideoFrame frame;
    if (decoder_->Next(frame)) {
      wrapped = false;
      frame.ptsMs += offset;
      std::lock_guard lock(mutex_);
      queue_.push_back(std::move(frame));
      continue;
    }
    // Looping: the next round's pictures come after this round's on the clock.
    if (loop && !wrapped && durationMs_ > 0 && decoder_->Seek(0)) {
      wrapped = true;
      std::lock_guard lock(mutex_);
      loopOffsetMs_ += durationMs_;
      continue;
    }
    std::lock_guard lock(mutex_);
    decoderDone_ = true;
    return;
  }
}

}  // namespace zirk::medialib
