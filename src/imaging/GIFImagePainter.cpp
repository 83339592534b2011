#include "imaging/GIFImagePainter.h"

#include <algorithm>

#include "platform/clock.h"

namespace zirk {

namespace {

constexpr uint32_t WM_GIFPAINTER = platform::WM_USER + 0x140;

void makeLike(TDIBSurface& target, const TDIBSurface& source) {
  target.SetSize(source.Width(), source.Height(), 32);
  SurfaceDrawWhole(target, 0, 0, source);
  if (const TDIBSurface* alpha = source.AlphaPlane()) {
    SurfaceSetAlpha(target, *alpha);
  } else {
    target.FreeAlphaPlane();
  }
}

void copyArea(TDIBSurface& target, const TDIBSurface& source, const TRect& area) {
  TRect clip;
  if (!IntersectRect(clip, area, SurfaceBoundsRect(target))) return;
  for (int y = clip.Top; y < clip.Bottom; ++y) {
    std::copy_n(source.ScanLine(y) + size_t(clip.Left) * 4, size_t(clip.Width()) * 4,
                target.ScanLine(y) + size_t(clip.Left) * 4);
    if (target.AlphaPlane() && source.AlphaPlane()) {
      std::copy_n(source.AlphaPlane()->ScanLine(y) + clip.Left, size_t(clip.Width()),
                  target.AlphaPlane()->ScanLine(y) + clip.Left);
    }
  }
}

}  // namespace

int GIFFrameDelay(const TGIFSubImage& frame, bool insideDraw) {
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  if (!gce || gce->Delay == 0) return kGIFDefaultDelay;
  int delay = std::max<int>(gce->Delay, kGIFMinimumDelay);
  if (insideDraw) delay = std::min(delay, kGIFMaximumDelay);
  return delay;
}

// --- composer ---

TGIFComposer::TGIFComposer(TGIFImage& image, const TDIBSurface& initial, TGIFPaintOptions options)
    : options_(options), disposalColor_(image.DisposalColor()), shown_(&backup_) {
  makeLike(backup_, initial);
  makeLike(background_, initial);
}

void TGIFComposer::restorePending() {
  if (pending_.IsEmpty()) return;
  if (options_ & poTransparent) {
    copyArea(backup_, background_, pending_);
  } else {
    SurfaceFillRect(backup_, pending_, backup_.ColorToPixel(disposalColor_));
    if (TDIBSurface* alpha = backup_.AlphaPlane()) SurfaceFillRect(*alpha, pending_, 255);
  }
  pending_ = {};
}

void TGIFComposer::Draw(TGIFSubImage& frame, int disposal) {
  restorePending();
  const TRect all = SurfaceBoundsRect(backup_);
  const bool transparent = options_ & poTransparent;
  if (disposal == 3) {
    // Drawn over a copy, so the picture before it stays for the next frame.
    makeLike(previous_, backup_);
    DrawFrame(frame, previous_, all, transparent);
    shown_ = &previous_;
    return;
  }
  DrawFrame(frame, backup_, all, transparent);
  shown_ = &backup_;
  if (disposal == 2) pending_ = GIFFrameRect(frame, all);
}

std::vector<std::unique_ptr<TDIBSurface>> GIFComposeFrames(TGIFImage& image) {
  std::vector<std::unique_ptr<TDIBSurface>> result;
  if (image.GetEmpty()) return result;
  TDIBSurface initial;
  initial.SetSize(std::max(image.GetWidth(), 1), std::max(image.GetHeight(), 1), 32);
  EnsureAlphaPlane(initial);
  TGIFComposer composer(image, initial, poTransparent);
  for (int i = 0; i < image.Count(); ++i) {
    TGIFSubImage& frame = image.Images(i);
    if (frame.Empty()) continue;
    const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
    composer.Draw(frame, gce ? gce->Disposal() : 1);
    auto shown = std::make_unique<TDIBSurface>();
    makeLike(*shown, composer.Shown());
    result.push_back(std::move(shown));
  }
  return result;
}

// --- painter ---

TGIFPainter::TGIFPainter(TGIFImage& image, TDIB& canvas, const TRect& rect,
                         TGIFPaintOptions options)
    : image_(image),
      canvas_(canvas),
      rect_(rect),
      options_(options),
      async_(options & poAsync),
      canvasWidth_(canvas.Width()),
      canvasHeight_(canvas.Height()) {
  // Bitmaps are made here, on the thread that owns the picture, so that
  // the painter thread only reads them.
  for (int i = 0; i < image.Count(); ++i) image.Images(i).MakeBitmap();
  TDIBSurface under;
  under.SetSize(std::max(rect.Width(), 1), std::max(rect.Height(), 1), 32);
  SurfaceDrawWhole(under, -rect.Left, -rect.Top, canvas);
  composer_ = std::make_unique<TGIFComposer>(image, under, options);
  if (async_) {
    window_ = platform::AllocateHWnd([this](const platform::Message& m) -> platform::LRESULT {
      if (m.msg == WM_GIFPAINTER) handle(Note(m.wParam));
      return 0;
    });
  }
}

TGIFPainter::~TGIFPainter() {
  Stop();
}

void TGIFPainter::Start() {
  std::lock_guard guard(lock_);
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] { run(); });
}

void TGIFPainter::Execute() {
  executing_ = true;
  run();
  executing_ = false;
}

void TGIFPainter::Stop() {
  {
    std::lock_guard guard(lock_);
    terminated_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  if (window_) {
    platform::DeallocateHWnd(window_);
    window_ = 0;
  }
}

bool TGIFPainter::Terminated() const {
  std::lock_guard guard(lock_);
  return terminated_;
}

bool TGIFPainter::Started() const {
  std::lock_guard guard(lock_);
  return started_;
}

bool TGIFPainter::Finished() const {
  std::lock_guard guard(lock_);
  return finished_;
}

int TGIFPainter::ActiveImage() const {
  std::lock_guard guard(lock_);
  return activeImage_;
}

void TGIFPainter::WaitForFirstFrame() {
  std::unique_lock guard(lock_);
  if (!thread_.joinable()) return;
  changed_.wait(guard, [this] { return started_ || terminated_ || finished_; });
}

bool TGIFPainter::WaitForEnd(std::chrono::milliseconds timeout) {
  std::unique_lock guard(lock_);
  return changed_.wait_for(guard, timeout, [this] { return finished_ || terminated_; });
}

void TGIFPainter::Present() {
  std::lock_guard guard(lock_);
  if (!started_) return;
  const TDIBSurface& shown = composer_->Shown();
  if (shown.Width() == rect_.Width() && shown.Height() == rect_.Height()) {
    SurfaceDrawWhole(canvas_, rect_.Left, rect_.Top, shown);
  } else {
    TDIB copy;
    copy.Assign(shown);
    copy.Draw(canvas_, rect_);
  }
}

bool TGIFPainter::canvasGone() const {
  return (options_ & poCheckCanvas) &&
         (canvas_.Width() != canvasWidth_ || canvas_.Height() != canvasHeight_);
}

bool TGIFPainter::pause(int ms) {
  std::unique_lock guard(lock_);
  if (ms <= 0) return !terminated_;
  changed_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return terminated_; });
  return !terminated_;
}

void TGIFPainter::notify(Note note) {
  if (async_) {
    platform::PostMessage(window_, WM_GIFPAINTER, note);
  } else {
    handle(note);
  }
}

void TGIFPainter::handle(Note note) {
  if (Terminated()) return;
  const TGIFPainterEvent* event = nullptr;
  switch (note) {
    case kPaintStart:
      event = &OnPaintStart;
      break;
    case kFramePaint:
      if (async_ && canvasGone()) {
        Stop();
        return;
      }
      Present();
      event = &OnFramePaint;
      break;
    case kLoopRestart:
      event = &OnLoopRestart;
      break;
    case kPaintEnd:
      event = &OnPaintEnd;
      break;
  }
  if (event && *event) (*event)(*this);
}

void TGIFPainter::run() {
  const bool insideDraw = !async_;
  bool restart = true;
  while (restart && !Terminated()) {
    notify(kPaintStart);
    restart = false;
    int loops = 1;  // -1: endless
    bool loopArmed = false;
    int loopStart = 0;
    int wait = async_ ? 0 : 1;
    uint32_t last = platform::timeGetTime();
    bool firstPass = true;
    while (!Terminated()) {
      if (loops == 0 && !(options_ & poLoopForever)) break;
      if (!firstPass) notify(kLoopRestart);
      firstPass = false;
      for (int i = loopStart; i < image_.Count() && !Terminated(); ++i) {
        TGIFSubImage& frame = image_.Images(i);
        if (frame.Empty()) break;
        if (wait > 0) {
          const int spent = int(platform::timeGetTime() - last);
          if (!pause(wait * kGIFDelayUnitMs - spent)) break;
        }
        if (!async_ && canvasGone()) {
          std::lock_guard guard(lock_);
          terminated_ = true;
          break;
        }
        last = platform::timeGetTime();
        int disposal = 1;
        for (const auto& extension : frame.Extensions()) {
          if (auto* nsloop = dynamic_cast<TGIFAppExtNSLoop*>(extension.get())) {
            // Armed once per run: the next pass starts at this frame again
            // and must not wind the count back up.
            if (!loopArmed) {
              loopArmed = true;
              loopStart = i;
              loops = nsloop->Loops;
              if (async_ && (loops == 0 || (options_ & poLoopForever))) loops = -1;
            }
          } else if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(extension.get())) {
            disposal = gce->Disposal();
          }
        }
        {
          std::lock_guard guard(lock_);
          composer_->Draw(frame, disposal);
          activeImage_ = i;
          started_ = true;
        }
        changed_.notify_all();
        notify(kFramePaint);
        if (!(options_ & poAnimate)) break;
        wait = GIFFrameDelay(frame, insideDraw);
      }
      if (loops > 0) --loops;
      if (!((options_ & poAnimate) && (options_ & poLoop))) break;
    }
  }
  {
    std::lock_guard guard(lock_);
    activeImage_ = -1;
    finished_ = true;
  }
  changed_.notify_all();
  notify(kPaintEnd);
}

}  // namespace zirk
