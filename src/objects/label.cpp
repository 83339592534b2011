#include "objects/label.h"

#include "scene/proptable.h"

namespace zirk {

namespace {
// The smoothing a true PR_ANTIALIAS gives.
constexpr int32_t kSmoothLevel = 3;
}  // namespace

TZirkLabel::TZirkLabel(TZirkBaseList& scene)
    : TZirkCustomImage(scene), label_(list_.AddLabel({})) {}

// The scene invalidates an object before it frees it.
TZirkLabel::~TZirkLabel() = default;

const TPropTable& TZirkLabel::Properties() const {
  using P = TPropField<TZirkLabel>;
  // Each of them shapes the rendered text: the old picture is invalidated,
  // the text rendered again and the new one invalidated.
  constexpr TPropChange kShape = TPropChange::RedrawAround;
  static const TPropTable table(
      TZirkCustomImage::Properties(),
      {
          P(PR_TEXT, &TZirkLabel::text_, kShape).Then(&TZirkLabel::render),
          P(PR_FONTNAME, &TZirkLabel::fontName_, kShape).Then(&TZirkLabel::render),
          P(PR_FONTHEIGHT, &TZirkLabel::fontHeight_, kShape).Then(&TZirkLabel::render),
          P(PR_LINESPACE, &TZirkLabel::lineSpace_, kShape).Then(&TZirkLabel::render),
          P(PR_FONTCOLOR, &TZirkLabel::fontColor_, kShape).Then(&TZirkLabel::render),
          P(PR_FONTSTYLE, &TZirkLabel::fontStyle_, kShape).Then(&TZirkLabel::render),
          P(PR_ANTIALIAS, &TZirkLabel::antialias_, kShape).Then(&TZirkLabel::render),
          P(PR_HALIGN, &TZirkLabel::hAlign_, kShape).Then(&TZirkLabel::render),
          P(PR_BORDERWIDTH, &TZirkLabel::borderWidth_, kShape).Then(&TZirkLabel::render),
          P(PR_BORDERCOLOR, &TZirkLabel::borderColor_, kShape).Then(&TZirkLabel::render),
      });
  return table;
}

int64_t TZirkLabel::PictureBytes(int32_t width, int32_t height) {
  constexpr int64_t kPixelBytes = 4 + 1;
  const TPoint size = LabelPictureSize(width, height);
  return int64_t{size.X} * size.Y * kPixelBytes;
}

void TZirkLabel::render() {
  list_.SetFontName(fontName_);
  list_.SetFontSize(fontHeight_);
  list_.SetLineSpace(lineSpace_);
  list_.SetFontColor(fontColor_);
  list_.SetFontStyle(fontStyle_);
  list_.SetSmoothing(antialias_ ? kSmoothLevel : 0);
  list_.SetHAlign(hAlign_);
  list_.SetBorderWidth(borderWidth_);
  list_.SetBorderColor(borderColor_);
  label_->SetText(text_);
  list_.DrawLabelText(*label_);
  SetBackSurface(&label_->Picture());
  SetMaskSurface(&label_->Mask());
  UpdateDisplayWidth();
  UpdateDisplayHeight();
}

void TZirkLabel::RestoreSurfaces() {
  TZirkCustomImage::RestoreSurfaces();
  // The lent picture was let go with the others; it is this object's own.
  list_.InvalidateAll();
  render();
  Invalidate();
}

}  // namespace zirk
