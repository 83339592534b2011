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

// Copies the area of the source (inside both surfaces once moved to x, y)
// to (x, y) of the target, with the alpha plane when both have one.
void copyArea(TDIBSurface& target, int x, int y, const TDIBSurface& source, const TRect& area) {
  const bool alpha = target.AlphaPlane() && source.AlphaPlane();
  for (int row = 0; row < area.Height(); ++row) {
    std::copy_n(source.ScanLine(area.Top + row) + size_t(area.Left) * 4, size_t(area.Width()) * 4,
                target.ScanLine(y + row) + size_t(x) * 4);
    if (alpha) {
      std::copy_n(source.AlphaPlane()->ScanLine(area.Top + row) + area.Left, size_t(area.Width()),
                  target.AlphaPlane()->ScanLine(y + row) + x);
    }
  }
}

int64_t surfaceBytes(int64_t width, int64_t height, int bits) {
  return (width * bits + 31) / 32 * 4 * height;
}

int disposalOf(const TGIFSubImage& frame) {
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  return gce ? gce->Disposal() : 1;
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
    : image_(image), options_(options), disposalColor_(image.DisposalColor()) {
  bool toBackground = false;
  for (int i = 0; i < image.Count(); ++i) toBackground |= disposalOf(image.Images(i)) == 2;
  const bool keep = toBackground && (options & poTransparent);
  charge(initial.Width(), initial.Height(), initial.AlphaPlane() != nullptr, keep);
  makeLike(canvas_, initial);
  if (keep) makeLike(background_, initial);
}

TGIFComposer::TGIFComposer(TGIFImage& image, TGIFPaintOptions options)
    : image_(image),
      options_(options),
      disposalColor_(image.DisposalColor()),
      blankBackground_(true) {
  const int width = std::max(image.GetWidth(), 1), height = std::max(image.GetHeight(), 1);
  charge(width, height, true, false);
  canvas_.SetSize(width, height, 32);
  EnsureAlphaPlane(canvas_);
}

TGIFComposer::~TGIFComposer() {
  image_.ReleasePixels(charged_);
}

// The canvas, the background when kept, and room for the largest area a
// disposal-3 frame covers.
void TGIFComposer::charge(int width, int height, bool alpha, bool background) {
  auto planes = [alpha](int64_t w, int64_t h) {
    return surfaceBytes(w, h, 32) + (alpha ? surfaceBytes(w, h, 8) : 0);
  };
  const TRect all{0, 0, width, height};
  int64_t saved = 0;
  for (int i = 0; i < image_.Count(); ++i) {
    const TGIFSubImage& frame = image_.Images(i);
    TRect area;
    if (disposalOf(frame) == 3 && IntersectRect(area, GIFFrameRect(frame, all), all)) {
      saved = std::max(saved, planes(area.Width(), area.Height()));
    }
  }
  const int64_t bytes = planes(width, height) * (background ? 2 : 1) + saved;
  image_.ReservePixels(bytes);
  charged_ = bytes;
}

void TGIFComposer::restorePending() {
  const TRect area = pending_;
  const Restore restore = restore_;
  restore_ = Restore::Nothing;
  if (restore == Restore::Nothing) return;
  TDIBSurface* alpha = canvas_.AlphaPlane();
  if (restore == Restore::Previous) {
    copyArea(canvas_, area.Left, area.Top, saved_, SurfaceBoundsRect(saved_));
  } else if (!(options_ & poTransparent)) {
    SurfaceFillRect(canvas_, area, canvas_.ColorToPixel(disposalColor_));
    if (alpha) SurfaceFillRect(*alpha, area, 255);
  } else if (blankBackground_) {
    SurfaceFillRect(canvas_, area, 0);
    if (alpha) SurfaceFillRect(*alpha, area, 0);
  } else {
    copyArea(canvas_, area.Left, area.Top, background_, area);
  }
}

void TGIFComposer::Draw(TGIFSubImage& frame, int disposal) {
  restorePending();
  const TRect all = SurfaceBoundsRect(canvas_);
  if ((disposal == 2 || disposal == 3) && IntersectRect(pending_, GIFFrameRect(frame, all), all)) {
    restore_ = disposal == 2 ? Restore::Background : Restore::Previous;
    if (disposal == 3) {
      // Only the area the frame covers is kept, not a second canvas.
      saved_.SetSize(pending_.Width(), pending_.Height(), 32);
      if (canvas_.AlphaPlane()) EnsureAlphaPlane(saved_);
      copyArea(saved_, 0, 0, canvas_, pending_);
    }
  }
  DrawFrame(frame, canvas_, all, options_ & poTransparent);
}

int GIFComposeFrames(TGIFImage& image, int last, const TGIFShownFrame& shown) {
  if (image.GetEmpty()) return 0;
  TGIFComposer composer(image, poTransparent);
  int composed = 0;
  for (int i = 0; i < image.Count() && (last < 0 || composed <= last); ++i) {
    TGIFSubImage& frame = image.Images(i);
    if (frame.Empty()) continue;
    composer.Draw(frame, disposalOf(frame));
    ++composed;
    if (shown) shown(i, composer.Shown());
  }
  return composed;
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
