#include "imaging/GIFImage.h"

#include <algorithm>
#include <atomic>

#include "imaging/GIFImagePainter.h"
#include "surfaces/dibsfc.h"

namespace zirk {

namespace {

std::atomic<bool>& paletteDevice() {
  static std::atomic<bool> flag{false};
  return flag;
}

// Marks a region of code as running inside Draw, so that a nested Draw
// from an event handler returns at once.
class PaintingGuard {
 public:
  explicit PaintingGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~PaintingGuard() { flag_ = false; }

 private:
  bool& flag_;
};

}  // namespace

bool GIFPaletteDevice() {
  return paletteDevice().load();
}

void SetGIFPaletteDevice(bool value) {
  paletteDevice().store(value);
}

uint32_t CF_GIF() {
  static const uint32_t format = RegisterClipboardFormat("GIF Image");
  return format;
}

void RegisterGIFImage() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFileFormat<TGIFImage>("gif", "GIF Image");
    RegisterClipboardFormatClass<TGIFImage>(CF_GIF());
  });
}

void UnregisterGIFImage() {
  UnregisterGraphicClass<TGIFImage>();
}

// --- construction ---

TGIFImage::TGIFImage() : header_(this) {
  CF_GIF();
  Clear();
}

TGIFImage::~TGIFImage() {
  StopPainting();
  clearFrames();
}

void TGIFImage::clearFrames() {
  frames_.clear();
}

void TGIFImage::Clear() {
  StopPainting();
  clearFrames();
  header_.Clear();
  palette_.clear();
}

void TGIFImage::ReservePixels(int64_t bytes) {
  if (bytes < 0 || bytes > PixelBudget - pixelBytes_) throw EOutOfResources(sGIFOutOfResources);
  pixelBytes_ += bytes;
}

void TGIFImage::ReleasePixels(int64_t bytes) {
  pixelBytes_ = std::max<int64_t>(0, pixelBytes_ - bytes);
}

void TGIFImage::Warning(int severity, const std::string& message) {
  if (OnWarning) OnWarning(*this, severity, message);
}

// --- derived values ---

TGIFVersion TGIFImage::RequiredVersion() const {
  // The frames decide alone: a picture without frames has no version and
  // cannot be written.
  TGIFVersion version = gvUnknown;
  for (const auto& frame : frames_) {
    if (version == gv89a) break;
    version = std::max(version, frame->RequiredVersion());
  }
  return version;
}

int TGIFImage::ColorResolution() const {
  int result = std::max((header_.Packed >> 4) & 7, header_.ColorMap().BitsPerPixel() - 1);
  for (const auto& frame : frames_) {
    result = std::max(result, frame->ColorMap().BitsPerPixel() - 1);
  }
  return std::clamp(result, 0, 7);
}

int TGIFImage::BitsPerPixel() const {
  int result = header_.ColorMap().BitsPerPixel();
  for (const auto& frame : frames_) result = std::max(result, frame->ColorMap().BitsPerPixel());
  return std::clamp(result, 1, 8);
}

uint32_t TGIFImage::DisposalColor() const {
  if (BackgroundColor != clNone) return BackgroundColor;
  if (header_.ColorMap().Count() == 0) return kGIFWindowColor;
  return header_.ColorMap().Colors(header_.BackgroundColorIndex);
}

bool TGIFImage::DitherInForce() const {
  return (PaintOptions & poDither) && (!(PaintOptions & poAutoDither) || GIFPaletteDevice());
}

// --- size ---

void TGIFImage::SetWidth(int value) {
  for (const auto& frame : frames_) {
    if (frame->Left + frame->Width > value) throw GIFException(sGIFWidthTooSmall);
  }
  dropBitmap();
  header_.Width = uint16_t(std::clamp(value, 0, 0xFFFF));
  Changed();
}

void TGIFImage::SetHeight(int value) {
  for (const auto& frame : frames_) {
    if (frame->Top + frame->Height > value) throw GIFException(sGIFHeightTooSmall);
  }
  dropBitmap();
  header_.Height = uint16_t(std::clamp(value, 0, 0xFFFF));
  Changed();
}

void TGIFImage::growScreenFor(const TGIFSubImage& frame) {
  bool grown = false;
  if (frame.Left + frame.Width > header_.Width) {
    Warning(kGIFWarning, sGIFWidthTooSmall);
    header_.Width = uint16_t(std::min(frame.Left + frame.Width, 0xFFFF));
    grown = true;
  }
  if (frame.Top + frame.Height > header_.Height) {
    Warning(kGIFWarning, sGIFHeightTooSmall);
    header_.Height = uint16_t(std::min(frame.Top + frame.Height, 0xFFFF));
    grown = true;
  }
  if (grown) Warning(kGIFWarning, sGIFImageExceedsScreen);
}

// --- frames ---

TGIFSubImage& TGIFImage::Add(const TGraphic& source) {
  const auto* bitmap = dynamic_cast<const TDIB*>(&source);
  if (!bitmap) throw GIFException("Object type not supported for operation");
  dropBitmap();
  auto frame = std::make_unique<TGIFSubImage>(*this);
  frame->Assign(*bitmap);
  frames_.push_back(std::move(frame));
  growScreenFor(*frames_.back());
  Changed();
  return *frames_.back();
}

TGIFSubImage& TGIFImage::Add(const TGIFSubImage& source) {
  dropBitmap();
  auto frame = std::make_unique<TGIFSubImage>(*this);
  frame->Assign(source);
  frames_.push_back(std::move(frame));
  growScreenFor(*frames_.back());
  Changed();
  return *frames_.back();
}

// --- load and save ---

void TGIFImage::LoadFromStream(TKwStream& stream) {
  Progress(TProgressStage::psStarting, 0, false, "Loading...");
  try {
    Clear();
    header_.LoadFromStream(stream);
    const int64_t size = std::max<int64_t>(stream.Size(), 1);
    for (;;) {
      uint8_t b = 0;
      bool more = false;
      while ((more = stream.Read(&b, 1) == 1) && b == 0) {
      }
      if (!more) break;
      stream.Seek(-1, SeekOrigin::Current);
      if (b == ';') break;
      if (b != '!' && b != ',') {
        // Left unread: the trailer reports it.
        Warning(kGIFWarning, "Unknown GIF block type");
        break;
      }
      auto frame = std::make_unique<TGIFSubImage>(*this);
      frame->LoadFromStream(stream);
      Progress(TProgressStage::psRunning, int(stream.Position() * 100 / size), false, "Loading...");
      frames_.push_back(std::move(frame));
    }
    TGIFTrailer trailer(this);
    trailer.LoadFromStream(stream);
  } catch (...) {
    Progress(TProgressStage::psEnding, 0, true, "Loading...");
    throw;
  }
  Progress(TProgressStage::psEnding, 100, true, "Loading...");
  Changed();
}

void TGIFImage::SaveToStream(TKwStream& stream) {
  Progress(TProgressStage::psStarting, 0, false, "Saving...");
  try {
    header_.SaveToStream(stream);
    const int count = Count();
    for (int i = 0; i < count; ++i) {
      frames_[size_t(i)]->SaveToStream(stream);
      Progress(TProgressStage::psRunning, (i + 1) * 100 / count, false, "Saving...");
    }
    TGIFTrailer trailer(this);
    trailer.SaveToStream(stream);
  } catch (...) {
    Progress(TProgressStage::psEnding, 0, true, "Saving...");
    throw;
  }
  Progress(TProgressStage::psEnding, 100, true, "Saving...");
}

// --- assignment ---

void TGIFImage::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* gif = dynamic_cast<const TGIFImage*>(&source)) {
    Clear();
    OnProgress = gif->OnProgress;
    OnChange = gif->OnChange;
    OnWarning = gif->OnWarning;
    Progress(TProgressStage::psStarting, 0, false, "Copying...");
    header_.Width = gif->header_.Width;
    header_.Height = gif->header_.Height;
    header_.Packed = gif->header_.Packed;
    header_.BackgroundColorIndex = gif->header_.BackgroundColorIndex;
    header_.AspectRatio = gif->header_.AspectRatio;
    header_.ColorMap().Assign(gif->header_.ColorMap());
    PainterPriority = gif->PainterPriority;
    BackgroundColor = gif->BackgroundColor;
    PaintOptions = gif->PaintOptions;
    const int count = gif->Count();
    for (int i = 0; i < count; ++i) {
      auto frame = std::make_unique<TGIFSubImage>(*this);
      frame->Assign(gif->Images(i));
      frames_.push_back(std::move(frame));
      Progress(TProgressStage::psRunning, (i + 1) * 100 / count, false, "Copying...");
    }
    Progress(TProgressStage::psEnding, 100, false, "Copying...");
    Changed();
    return;
  }
  if (const auto* bitmap = dynamic_cast<const TDIB*>(&source)) {
    Clear();
    Add(*bitmap);
    return;
  }
  TDIB drawn;
  if (!source.AssignTo(drawn)) TGraphic::Assign(source);
  Clear();
  Add(drawn);
}

bool TGIFImage::AssignTo(TGraphic& dest) const {
  auto* bitmap = dynamic_cast<TDIB*>(&dest);
  if (!bitmap) return false;
  // Bitmap() only fills a cache, so a const picture may make it.
  const TDIB* shown = const_cast<TGIFImage*>(this)->Bitmap();
  if (shown) {
    bitmap->Assign(*shown);
  } else {
    bitmap->SetSize(0, 0, 8);
  }
  return true;
}

// --- palette and bitmap ---

std::vector<TRGBQuad> TGIFImage::GetPalette() const {
  if (paletteQuery_) throw GIFException("No global or local color table defined");
  paletteQuery_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{paletteQuery_};
  if (bitmap_ && bitmap_->BitCount() <= 8) return bitmap_->GetPalette();
  if (!palette_.empty()) return palette_;
  if (DitherInForce()) return GIFWebPalette();
  if (header_.ColorMap().Count() > 0) return header_.ColorMap().Palette();
  if (!frames_.empty()) return frames_.front()->Palette();
  return {};
}

void TGIFImage::SetPalette(const std::vector<TRGBQuad>& entries) {
  if (entries == palette_) return;
  if (bitmap_ && bitmap_->GetPalette() != entries) dropBitmap();
  palette_ = entries;
  Changed();
}

const TDIB* TGIFImage::Bitmap() {
  if (GetEmpty()) return nullptr;
  if (bitmap_) {
    refreshFromPainter();
    return bitmap_.get();
  }
  TGIFSubImage& first = *frames_.front();
  auto bitmap = std::make_unique<TDIB>();
  if (first.Left == 0 && first.Top == 0 && first.Width == header_.Width &&
      first.Height == header_.Height) {
    bitmap->Assign(first.MakeBitmap());
  } else {
    bitmap->SetSize(std::max<int>(header_.Width, 1), std::max<int>(header_.Height, 1), 8);
    const std::vector<TRGBQuad> palette = GetPalette();
    std::copy_n(palette.begin(), std::min<size_t>(palette.size(), 256),
                bitmap->ColorTable().begin());
    bitmap->UpdatePalette();
    DrawFrame(first, *bitmap, SurfaceBoundsRect(*bitmap), false);
  }
  bitmap->OnChange = [this](TGraphic&) { Changed(); };
  bitmap_ = std::move(bitmap);
  return bitmap_.get();
}

void TGIFImage::dropBitmap() {
  StopPainting();
}

void TGIFImage::refreshFromPainter() {
  if (painter_ && bitmap_ && &painter_->Canvas() == bitmap_.get()) painter_->Present();
}

// --- drawing ---

void TGIFImage::StopPainting() {
  if (painter_) {
    painter_->Stop();
    // A painter running inside Draw is still on the stack; Draw frees it.
    if (!painter_->Executing()) painter_.reset();
  }
  bitmap_.reset();
}

void TGIFImage::Draw(TDIB& canvas, const TRect& rect) {
  if (painting_ || GetEmpty()) return;
  PaintingGuard guard(painting_);
  const bool direct = PaintOptions & poDirectPaint;
  if (Count() == 1 || !(PaintOptions & poAnimate)) {
    DrawFrame(*frames_.front(), canvas, rect, PaintOptions & poTransparent);
    return;
  }
  // Whatever made the cached bitmap, a painter or Bitmap(), it stands for
  // the picture until it is dropped.
  if (bitmap_ && !direct) {
    refreshFromPainter();
    bitmap_->Draw(canvas, rect);
    return;
  }
  if (painter_ && direct && &painter_->Canvas() == &canvas && painter_->Rect() == rect &&
      !painter_->Terminated() && !painter_->Finished()) {
    return;
  }
  StopPainting();
  if (rect.IsEmpty()) return;
  TDIB* target = &canvas;
  TRect targetRect = rect;
  if (!direct) {
    bitmap_ = std::make_unique<TDIB>(std::max<int>(header_.Width, 1),
                                     std::max<int>(header_.Height, 1), 32);
    // The animation starts over what the canvas shows under the rectangle.
    TDIB under(rect.Width(), rect.Height(), 32);
    SurfaceDrawWhole(under, -rect.Left, -rect.Top, canvas);
    under.Draw(*bitmap_, SurfaceBoundsRect(*bitmap_));
    target = bitmap_.get();
    targetRect = SurfaceBoundsRect(*bitmap_);
  }
  painter_ = std::make_unique<TGIFPainter>(*this, *target, targetRect, PaintOptions);
  painter_->OnPaintStart = OnPaintStart;
  painter_->OnFramePaint = OnFramePaint;
  painter_->OnLoopRestart = OnLoopRestart;
  painter_->OnPaintEnd = OnPaintEnd;
  if (PaintOptions & poAsync) {
    painter_->Start();
    if (!direct) {
      painter_->WaitForFirstFrame();
      painter_->Present();
    }
  } else {
    painter_->Execute();
    painter_.reset();
  }
  if (!direct && bitmap_) bitmap_->Draw(canvas, rect);
}

// --- clipboard ---

void TGIFImage::SaveToClipboardFormat(TClipboard& clipboard) {
  if (GetEmpty()) return;
  if (const TDIB* shown = Bitmap()) {
    TDIB copy;
    copy.Assign(*shown);
    copy.SaveToClipboardFormat(clipboard);
  }
  TKwMemoryStream bytes;
  SaveToStream(bytes);
  clipboard.SetData(CF_GIF(), bytes.Release());
}

void TGIFImage::LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) {
  if (const std::vector<uint8_t>* data = clipboard.GetData(CF_GIF())) {
    TKwMemoryStream bytes(*data);
    LoadFromStream(bytes);
    return;
  }
  TDIB bitmap;
  bitmap.LoadFromClipboardFormat(clipboard, format);
  Assign(bitmap);
}

}  // namespace zirk
