#include "objects/trackslabel.h"

#include "objects/label.h"
#include "scene/labels.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {
using pixelmath::Saturate32;
}  // namespace

TLabelFrameList::TLabelFrameList(TFilmManager& film) : TCustomImageFrameList(film) {
  Length = 5;
  Frames.push_back(std::make_unique<TLabelFrame>(*this));
}

TLabelFrameList::~TLabelFrameList() {
  ReleaseTarget();
}

void TLabelFrameList::measure() {
  TKwLabelList font;
  font.SetFontName(fontName_);
  font.SetFontSize(fontHeight_);
  font.SetFontStyle(fontStyle_);
  const TTextExtent extent = font.MeasureText(text_);
  contentWidth_ = extent.Width;
  contentHeight_ =
      Saturate32(int64_t(extent.Lines) * fontHeight_ + int64_t(extent.Lines - 1) * lineSpace_);
  // What the track shows changed: the budget is asked again.
  refused_ = false;
}

void TLabelFrameList::SetText(const std::string& text) {
  text_ = text;
  measure();
}
void TLabelFrameList::SetAntialias(uint8_t antialias) {
  antialias_ = antialias;
  measure();
}
void TLabelFrameList::SetFontName(const std::string& name) {
  fontName_ = name;
  measure();
}
void TLabelFrameList::SetFontHeight(int32_t height) {
  fontHeight_ = height;
  measure();
}
void TLabelFrameList::SetFontStyle(uint8_t style) {
  fontStyle_ = style;
  measure();
}
void TLabelFrameList::SetLineSpace(int32_t space) {
  lineSpace_ = space;
  measure();
}

void TLabelFrameList::Reload() {
  SetText(text_);
}

void TLabelFrameList::ReleaseTarget() {
  TCustomImageFrameList::ReleaseTarget();
  charge_.Release();
  refused_ = false;
}

TZirkObject* TLabelFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  // The rendered text comes out of the film's budget; a caption it cannot
  // hold is not shown, and is not measured and asked for again every tick
  // while it stays what it was. A film read without its after-load step
  // has not measured its text yet.
  if (refused_) return nullptr;
  measure();
  const int64_t bytes = TZirkLabel::PictureBytes(contentWidth_, contentHeight_);
  if (charge_.Take(Film().Budget, bytes) < bytes) {
    charge_.Release();
    refused_ = true;
    return nullptr;
  }
  const int32_t screen = OtherScreen ? scene.ActiveIndex ^ 1 : scene.ActiveIndex;
  return scene.Create<TZirkLabel>(scene.GetBase(screen), name);
}

void TLabelFrameList::applyState(TZirkControl& t, const TPictureState& f) {
  const bool motion = f.Drive == TPictureDrive::Motion;
  if (!motion && f.Parent && f.Parent != t.GetParent()) t.SetParent(f.Parent);
  t.SetPropStr(PR_FONTNAME, fontName_);
  t.SetPropInt(PR_FONTHEIGHT, fontHeight_);
  t.SetPropInt(PR_LINESPACE, lineSpace_);
  t.SetPropInt(PR_FONTCOLOR, FontColor);
  t.SetPropInt(PR_FONTSTYLE, fontStyle_);
  t.SetPropInt(PR_ANTIALIAS, antialias_);
  t.SetPropInt(PR_HALIGN, HAlign);
  t.SetPropInt(PR_FLIPH, FlipH);
  t.SetPropInt(PR_FLIPV, FlipV);
  t.SetPropStr(PR_TEXT, text_);
  const int32_t priority = motion ? Saturate32(int64_t(Film().BasePriority) + Priority) : Priority;
  if (t.GetPriority() != priority) t.SetPriority(priority);
  if (motion) {
    t.SetMotionX(f.X);
    t.SetMotionY(f.Y);
  } else {
    t.SetPropInt(PR_LEFT, f.X);
    t.SetPropInt(PR_TOP, f.Y);
  }
  t.SetPropInt(PR_OFFSETX, f.OffsetX);
  t.SetPropInt(PR_OFFSETY, f.OffsetY);
  t.SetPropInt(PR_ALPHA, f.Alpha);
  t.SetPropInt(PR_ANGLE, f.Angle);
  t.SetPropInt(PR_ZOOMX, f.ZoomX);
  t.SetPropInt(PR_ZOOMY, f.ZoomY);
  SetClipProps(t, f.Clip);
}

void TLabelFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomImageFrameList::SaveToStream(out);
  out.Str(text_);
  out.Byte(antialias_);
  out.Str(fontName_);
  out.Int(fontHeight_);
  out.Int(lineSpace_);
  out.Byte(fontStyle_);
  out.Int(FontColor);
  out.Byte(HAlign);
}

void TLabelFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomImageFrameList::LoadFromStream(in);
  // Measured by the film's after-load step.
  text_ = in.Str();
  antialias_ = in.Byte();
  fontName_ = in.Str();
  fontHeight_ = in.Int();
  // Always stored; files before 103 wrote a value nobody used.
  const int32_t lineSpace = in.Int();
  if (in.Has(103)) lineSpace_ = lineSpace;
  fontStyle_ = in.Byte();
  FontColor = in.Int();
  HAlign = in.From<uint8_t>(103, 0);
}

void RegisterLabelTracks() {
  RegisterTrackKind(ttLabel, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TLabelFrameList>(film);
  });
}

}  // namespace zirk
