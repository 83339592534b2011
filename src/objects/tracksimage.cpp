#include "objects/tracksimage.h"

#include <algorithm>
#include <cmath>

#include "objects/image.h"
#include "objects/prevmenu.h"
#include "objects/tile.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// Zoom in 1/256 from a scale factor, truncated toward zero.
int32_t zoomOf(double scale) {
  return Saturate32(static_cast<int64_t>(std::trunc(scale * 256)));
}

}  // namespace

// --- cells --------------------------------------------------------------------------

int32_t TImageFrame::Width() const {
  return cell_->Surface ? cell_->Surface->Width() : 0;
}
int32_t TImageFrame::Height() const {
  return cell_->Surface ? cell_->Surface->Height() : 0;
}
TPoint TImageFrame::Offset() const {
  return {cell_->OffsetX, cell_->OffsetY};
}
int32_t TImageFrame::Duration() const {
  return std::max(1, MsToFilmTicks(cell_->Delay));
}

// --- image-based tracks ----------------------------------------------------------------

TCustomImageFrameList::~TCustomImageFrameList() {
  ReleaseTarget();
}

TZirkObject* TCustomImageFrameList::GetTarget() const {
  if (Film().MotionMode) return Film().MotionTarget;
  return target_.Get(Film());
}

TZirkObject* TCustomImageFrameList::getOrCreateTarget() {
  return target_.GetOrCreate(Film(), [this](TZirkBaseList& scene, const std::string& name) {
    return createTarget(scene, name);
  });
}

void TCustomImageFrameList::ReleaseTarget() {
  TZirkObject* t = target_.Take(Film());
  if (!t) return;
  t->Invalidate();
  t->SetBackSurface(nullptr);
  t->SetMaskSurface(nullptr);
  t->Scrap();
}

int32_t TCustomImageFrameList::AngleFromDegrees(double degrees) {
  double v = std::nearbyint(256 * degrees / 360);
  int64_t n = std::isnan(v) ? 0 : static_cast<int64_t>(std::clamp(v, -1e15, 1e15));
  // Negative steps map as the film format always has: -1 is 254, -256 is 255.
  return n >= 0 ? static_cast<int32_t>(n % 256) : static_cast<int32_t>(255 - (-n) % 256);
}

TPictureState TCustomImageFrameList::ComputeState(int32_t i, int32_t cell) const {
  const TFilmManager& film = Film();
  TPictureState f;
  f.Drive = film.MotionMode ? TPictureDrive::Motion : TPictureDrive::Film;
  f.CaptureMask = !dynamic_cast<const TZirkPrevImages*>(film.MotionTarget);
  const TCustomFrame& key = *Frames[static_cast<size_t>(cell)];
  if (const auto* picture = dynamic_cast<const TImageFrame*>(&key)) {
    f.Surface = picture->Cell().Surface.get();
    f.Mask = picture->Cell().MaskSurface.get();
    f.TransparentColor = picture->Cell().TransparentColor;
  }
  f.Priority = Priority;
  f.FlipH = FlipH;
  f.FlipV = FlipV;
  TPoint offset = key.Offset();
  f.OffsetX = Saturate32(int64_t(Anchor.X) - offset.X);
  f.OffsetY = Saturate32(int64_t(Anchor.Y) - offset.Y);

  const TPoint from = filmPosition(GetPositionFrom()), to = filmPosition(PositionTo);
  f.X = InterpolateInt(PositionXEasing, from.X, i, to.X);
  f.Y = InterpolateInt(PositionYEasing, from.Y, i, to.Y);
  f.ZoomX = InterpolateInt(ScaleXEasing, zoomOf(GetScaleXFrom()), i, zoomOf(ScaleXTo));
  f.ZoomY = InterpolateInt(ScaleYEasing, zoomOf(GetScaleYFrom()), i, zoomOf(ScaleYTo));

  f.Clip = clipAt(i, GetClipPositionFrom(), GetClipSizeFrom(), ClipPositionTo, ClipSizeTo,
                  ClipXEasing, ClipYEasing);

  int32_t rotationFrom = GetRotationFrom();
  if (rotationFrom != 0 || RotationTo != 0)
    f.Angle = AngleFromDegrees(InterpolateFloat(RotationEasing, i, rotationFrom, RotationTo));
  f.Alpha = alphaAt(i, GetAlphaFrom(), AlphaTo);

  if (film.MotionMode) {
    // A motion's target is sized by the zoomed cell and ordered by the
    // track's priority within its own.
    f.Width = Saturate32(int64_t(key.Width()) * f.ZoomX / 256);
    f.Height = Saturate32(int64_t(key.Height()) * f.ZoomY / 256);
    f.Stacking = TPictureStacking::Order;
  } else {
    f.Width = key.Width();
    f.Height = key.Height();
    f.SizeWhileUnzoomed = true;
    f.Parent = placementParent();
  }
  return f;
}

bool TCustomImageFrameList::Apply(int32_t time) {
  const bool motion = Film().MotionMode;
  if (!Active(time)) {
    if (!motion) ReleaseTarget();
    return false;
  }
  if (!motion && !getOrCreateTarget()) return false;
  const int32_t i = static_cast<int32_t>(int64_t(time) - TrackStart());
  const int32_t k = FrameIndexAt(i);
  if (k < 0 || k >= static_cast<int32_t>(Frames.size())) return true;
  TZirkObject* target = motion ? Film().MotionTarget : GetTarget();
  if (auto* control = dynamic_cast<TZirkControl*>(target)) applyState(*control, ComputeState(i, k));
  return true;
}

void TCustomImageFrameList::applyState(TZirkControl& target, const TPictureState& state) {
  ApplyPictureState(target, state);
}

void TCustomImageFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomFrameList::SaveToStream(out);
  out.Point(Anchor);
  out.Point(GetPositionFrom());
  out.Point(PositionTo);
  out.Byte(PositionXEasing);
  out.Byte(PositionYEasing);
  out.Int(GetRotationFrom());
  out.Int(RotationTo);
  out.Double(GetScaleXFrom());
  out.Double(ScaleXTo);
  out.Byte(ScaleXEasing);
  out.Int(GetAlphaFrom());
  out.Int(AlphaTo);
  out.Byte(RotationEasing);
  WriteClipKeys(out, *this);
  out.Double(GetScaleYFrom());
  out.Double(ScaleYTo);
  out.Byte(ScaleYEasing);
}

void TCustomImageFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomFrameList::LoadFromStream(in);
  Anchor = in.Point();
  PositionFrom = in.Point();
  PositionTo = in.Point();
  PositionXEasing = in.Byte();
  PositionYEasing = in.Byte();
  RotationFrom = in.Int();
  RotationTo = in.Int();
  ScaleXFrom = in.Double(1.0);
  ScaleXTo = in.Double(1.0);
  ScaleXEasing = in.Byte();
  AlphaFrom = in.Int();
  AlphaTo = in.Int();
  RotationEasing = in.Byte();
  if (in.Has(101)) ReadClipKeys(in, *this);
  // Older films scaled both ways alike.
  ScaleYFrom = in.From(105, ScaleXFrom);
  ScaleYTo = in.From(105, ScaleXTo);
  ScaleYEasing = in.From(105, ScaleXEasing);
}

// --- image tracks ----------------------------------------------------------------------

TImageFrameList::~TImageFrameList() {
  ReleaseTarget();
  ClearFrames();
}

void TImageFrameList::SetSource(const std::string& name) {
  if (name == source_) return;
  source_ = name;
  ReleaseTarget();
  const int32_t kept = Length;
  ClearFrames();
  picture_.Reset();
  pictureWidth_ = pictureHeight_ = 0;
  if (DorvCache() && !name.empty()) {
    picture_ = TDorvLease(name, false, false);
    if (TDorvItemFrame* first = picture_->Frame(0); first && first->Surface) {
      pictureWidth_ = first->Surface->Width();
      pictureHeight_ = first->Surface->Height();
    }
    for (int32_t k = 0; k < picture_->FrameCount(); ++k)
      Frames.push_back(std::make_unique<TImageFrame>(*this, *picture_->Frame(k)));
  }
  int64_t total = 0;
  for (auto& f : Frames) total += f->Duration();
  Length = kept >= 1 ? kept : Saturate32(total);
  LoopLength = Saturate32(total);
}

void TImageFrameList::Reload() {
  std::string name = source_;
  SetSource({});
  SetSource(name);
}

void TImageFrameList::CollectFiles(std::vector<std::string>& files) const {
  addUnique(files, source_);
}

TZirkObject* TImageFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  return scene.Create<TZirkImage>(Film().Host, name);
}

void TImageFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomImageFrameList::SaveToStream(out);
  out.Str(source_.empty() ? source_ : MakeRelativePath(source_, out.Folder()));
}

void TImageFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomImageFrameList::LoadFromStream(in);
  std::string name = in.Str();
  // Loaded by the film's after-load step.
  source_ = name.empty() ? name : ResolveRelativePath(name, in.Folder());
}

// --- tile tracks -----------------------------------------------------------------------

void TTileFrameList::SetSource(const std::string& name) {
  const bool first = GetSource().empty();
  TImageFrameList::SetSource(name);
  if (!first || Frames.empty()) return;
  const int32_t w = Frames.front()->Width(), h = Frames.front()->Height();
  if (GetWidthFrom() == 0) SetWidthFrom(w);
  if (GetHeightFrom() == 0) SetHeightFrom(h);
  if (WidthTo == 0) WidthTo = w;
  if (HeightTo == 0) HeightTo = h;
}

TPictureState TTileFrameList::ComputeState(int32_t i, int32_t cell) const {
  TPictureState f = TCustomImageFrameList::ComputeState(i, cell);
  const TPoint from = filmPosition(GetPositionFrom()), to = filmPosition(PositionTo);
  // The area runs from the interpolated first to the interpolated last
  // column and row.
  f.Width = sizeAt(PositionXEasing, i, f.X, from.X, GetWidthFrom(), to.X, WidthTo);
  f.Height = sizeAt(PositionYEasing, i, f.Y, from.Y, GetHeightFrom(), to.Y, HeightTo);
  f.SizeWhileUnzoomed = false;
  f.Tiled = true;
  // A tile is hit anywhere in its area: the mask is that of one copy only.
  f.CaptureMask = false;
  f.Angle = 0;
  f.Stacking = TPictureStacking::Priority;
  if (Film().MotionMode) f.Priority = Saturate32(int64_t(Film().BasePriority) + Priority);
  f.DistanceX = DistanceX;
  f.DistanceY = DistanceY;
  f.ScrollX = InterpolateInt(ScrollXEasing, GetScrollXFrom(), i, ScrollXTo);
  f.ScrollY = InterpolateInt(ScrollYEasing, GetScrollYFrom(), i, ScrollYTo);
  return f;
}

TZirkObject* TTileFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  return scene.Create<TZirkTile>(Film().Host, name);
}

void TTileFrameList::SaveToStream(TFilmRecordWriter& out) {
  TImageFrameList::SaveToStream(out);
  out.Int(GetWidthFrom());
  out.Int(GetHeightFrom());
  out.Int(WidthTo);
  out.Int(HeightTo);
  out.Int(GetScrollXFrom());
  out.Int(GetScrollYFrom());
  out.Int(ScrollXTo);
  out.Int(ScrollYTo);
  out.Byte(ScrollXEasing);
  out.Byte(ScrollYEasing);
  out.Int(DistanceX);
  out.Int(DistanceY);
  WriteClipKeys(out, *this);
}

void TTileFrameList::LoadFromStream(TFilmRecordReader& in) {
  TImageFrameList::LoadFromStream(in);
  widthFrom_ = in.Int();
  heightFrom_ = in.Int();
  WidthTo = in.Int();
  HeightTo = in.Int();
  scrollXFrom_ = in.Int();
  scrollYFrom_ = in.Int();
  ScrollXTo = in.Int();
  ScrollYTo = in.Int();
  ScrollXEasing = in.Byte();
  ScrollYEasing = in.Byte();
  DistanceX = in.Int();
  DistanceY = in.Int();
  // The second clip block is the one that counts.
  if (in.Has(101)) ReadClipKeys(in, *this);
}

void RegisterImageTracks() {
  RegisterTrackKind(ttImage, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TImageFrameList>(film);
  });
  RegisterTrackKind(ttTile, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TTileFrameList>(film);
  });
}

}  // namespace zirk
