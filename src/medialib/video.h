#pragma once
// Movies: pictures decoded by FFmpeg and converted to 32-bit BGRA frames,
// sound through a Voice. The picture follows the movie's clock; the player
// asks for the current frame with zirkVideoGetDC.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "medialib/ffmpeg.h"
#include "medialib/voice.h"
#include "medialib/zirk.h"

namespace zirk::medialib {

struct VideoFrame {
  int64_t ptsMs = 0;
  std::vector<uint8_t> pixels;  // width*4 bytes a row
};

class VideoDecoder {
 public:
  static std::unique_ptr<VideoDecoder> Open(std::unique_ptr<ByteSource> bytes);
  ~VideoDecoder();
  int Width() const { return width_; }
  int Height() const { return height_; }
  int32_t DurationMs() const { return durationMs_; }
  // Decodes the next picture; false at the end or on a damaged stream.
  bool Next(VideoFrame& frame);
  // The next picture decoded is the first at or after `ms`.
  bool Seek(int64_t ms);

 private:
  struct State;
  explicit VideoDecoder(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
  int width_ = 0;
  int height_ = 0;
  int32_t durationMs_ = 0;
};

class VideoItem {
 public:
  // Null when the stream holds no decodable picture.
  static std::unique_ptr<VideoItem> Open(std::shared_ptr<SharedStream> stream);
  ~VideoItem();

  void Play(platform::AudioOutput* output);
  void Pause();
  bool IsPlaying();
  bool IsPaused() const;
  bool IsEnd();
  int32_t LengthMs() const { return durationMs_; }
  int32_t PositionMs();
  void SetPositionMs(int32_t ms);
  int32_t Level() const;
  void SetLevel(int32_t level);
  int32_t Pan() const;
  void SetPan(int32_t pan);
  bool Loop() const;
  void SetLoop(bool loop);

  void SetRect(const ZirkRect& source, const ZirkRect& dest);
  bool Visible() const;
  void SetVisible(bool visible);
  int Width() const { return width_; }
  int Height() const { return height_; }
  const ZirkVideoFrame* GetFrame();
  bool NeedPaint();

  void Reattach(platform::AudioOutput* output);
  void Detach();
  void Service();  // decodes ahead (streaming thread)

 private:
  VideoItem() = default;
  int64_t ClockMs();  // under mutex_
  void Advance();     // makes the due frame current; under mutex_
  void Seek(int64_t ms);

  std::mutex decodeMutex_;  // before mutex_
  std::unique_ptr<VideoDecoder> decoder_;
  bool detached_ = false;

  mutable std::mutex mutex_;
  std::shared_ptr<Voice> voice_;  // null for a silent movie
  std::deque<VideoFrame> queue_;
  size_t queueFrames_ = 1;  // pictures decoded ahead at most
  VideoFrame current_;      // its pixels move to shown_ at GetFrame
  bool haveCurrent_ = false;
  bool fresh_ = false;          // a newer frame became current since the last GetFrame
  std::vector<uint8_t> shown_;  // what the last GetFrame handed out
  ZirkVideoFrame record_{};
  bool decoderDone_ = false;
  int64_t loopOffsetMs_ = 0;  // added to decoded times after each wrap
  bool playing_ = false;
  bool paused_ = false;
  bool ended_ = false;
  bool loop_ = false;
  bool visible_ = false;
  int32_t level_ = 0;
  int32_t pan_ = 0;
  ZirkRect sourceRect_{};
  ZirkRect destRect_{};
  int64_t clockBaseMs_ = 0;
  bool running_ = false;
  std::chrono::steady_clock::time_point startedAt_;
  int64_t heardAtStart_ = 0;  // the sound's frames heard when the clock last started
  bool audioDone_ = false;    // the sound ended; the clock runs on real time
  int width_ = 0;
  int height_ = 0;
  int32_t durationMs_ = 0;
};

}  // namespace zirk::medialib
