#pragma once
// The animation of a GIF picture. A composer keeps the picture an animation
// shows, drawing the frames by their disposal methods; a painter plays the
// frames with their delays and loop count, either inside the caller's Draw
// or on a thread of its own. An asynchronous painter composes into its own
// bitmap under a lock and only posts notifications to the thread that made
// it; that thread copies the picture to the target and fires the events.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/GIFImage.h"
#include "platform/messages.h"
#include "surfaces/dibsfc.h"

namespace zirk {

// Frame delays count in units of 12 ms (not the file's 10): a frame
// without delay waits 10 units, a short one at least 4, and a painter
// inside Draw at most 1,000.
inline constexpr int kGIFDelayUnitMs = 12;
inline constexpr int kGIFDefaultDelay = 10;
inline constexpr int kGIFMinimumDelay = 4;
inline constexpr int kGIFMaximumDelay = 1000;

// The delay after the frame, in units.
int GIFFrameDelay(const TGIFSubImage& frame, bool insideDraw);

// Composes frames on one canvas. Its surfaces are charged to the picture's
// pixel budget for as long as it lives, so composing a screen the budget
// cannot hold raises EOutOfResources before anything is allocated.
class TGIFComposer {
 public:
  // Over initial (the composed size is its size): with poTransparent, areas
  // of disposal 2 go back to initial, otherwise they are filled with the
  // picture's disposal colour.
  TGIFComposer(TGIFImage& image, const TDIBSurface& initial, TGIFPaintOptions options);
  // Over nothing: a 32-bit canvas of the screen size (at least 1 x 1) with
  // an alpha plane; pixels no frame covers, or that disposal 2 clears, have
  // alpha 0.
  TGIFComposer(TGIFImage& image, TGIFPaintOptions options);
  ~TGIFComposer();
  TGIFComposer(const TGIFComposer&) = delete;
  TGIFComposer& operator=(const TGIFComposer&) = delete;

  // Draws the frame; the picture shown afterwards is Shown().
  void Draw(TGIFSubImage& frame, int disposal);
  const TDIBSurface& Shown() const { return canvas_; }

 private:
  enum class Restore { Nothing, Background, Previous };

  void charge(int width, int height, bool alpha, bool background);
  void restorePending();

  TGIFImage& image_;
  TGIFPaintOptions options_;
  uint32_t disposalColor_;  // read once, on the thread that owns the picture
  int64_t charged_ = 0;
  TDIBSurface canvas_;
  // What lies under the picture, kept only when a frame disposes to it.
  TDIBSurface background_;
  bool blankBackground_ = false;
  // The canvas under a disposal-3 frame, put back before the next frame.
  TDIBSurface saved_;
  TRect pending_{};
  Restore restore_ = Restore::Nothing;
};

// Composes the non-empty frames in order on one canvas of the screen size
// (TGIFComposer over nothing), up to the frame numbered `last` among them
// (all of them for a negative `last`), and hands the screen after each to
// `shown` with the frame's index in the picture. Returns how many it
// composed.
using TGIFShownFrame = std::function<void(int index, const TDIBSurface& screen)>;
int GIFComposeFrames(TGIFImage& image, int last, const TGIFShownFrame& shown);

class TGIFPainter {
 public:
  TGIFPainter(TGIFImage& image, TDIB& canvas, const TRect& rect, TGIFPaintOptions options);
  ~TGIFPainter();
  TGIFPainter(const TGIFPainter&) = delete;
  TGIFPainter& operator=(const TGIFPainter&) = delete;

  // Plays on a thread of its own.
  void Start();
  // Plays on the calling thread and returns when done or stopped.
  void Execute();
  // Tells the painter to stop and, for a thread, waits for it to end.
  // Notifications still queued are dropped.
  void Stop();

  bool Terminated() const;
  bool Executing() const { return executing_; }
  // The first frame has been drawn.
  bool Started() const;
  bool Finished() const;
  int ActiveImage() const;
  // Waits until the first frame is drawn or the painter ends.
  void WaitForFirstFrame();
  // Waits until the painter ends or the timeout passes; true when it ended.
  bool WaitForEnd(std::chrono::milliseconds timeout);

  // Copies the composed picture onto the canvas rectangle.
  void Present();

  TGIFImage& Image() const { return image_; }
  TDIB& Canvas() const { return canvas_; }
  const TRect& Rect() const { return rect_; }
  TGIFPaintOptions Options() const { return options_; }

  TGIFPainterEvent OnPaintStart;
  TGIFPainterEvent OnFramePaint;
  TGIFPainterEvent OnLoopRestart;
  TGIFPainterEvent OnPaintEnd;

 private:
  enum Note : platform::WPARAM { kPaintStart, kFramePaint, kLoopRestart, kPaintEnd };

  void run();
  // Waits ms milliseconds or until stopped; false when stopped.
  bool pause(int ms);
  void notify(Note note);
  void handle(Note note);
  bool canvasGone() const;

  TGIFImage& image_;
  TDIB& canvas_;
  const TRect rect_;
  const TGIFPaintOptions options_;
  const bool async_;
  const int canvasWidth_;
  const int canvasHeight_;
  std::unique_ptr<TGIFComposer> composer_;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool terminated_ = false;
  bool started_ = false;
  bool finished_ = false;
  int activeImage_ = -1;
  bool executing_ = false;
  std::thread thread_;
  platform::HWND window_ = 0;
};

}  // namespace zirk
