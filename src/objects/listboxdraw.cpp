// The list box's picture, in layers: frame line, background, the nine
// border images, then (outside the menu's open and close animation) the
// scroll bar, the hover highlight, the row labels and their check signs,
// and last the children.
#include <algorithm>

#include "base/utils.h"
#include "objects/listbox.h"
#include "surfaces/dibx.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// A rectangle filled (thickness 0) or framed in the widget's opacity:
// blended, opaque, or additive with the colour scaled to the level.
void paintRect(TCustomDIBX& target, const TRect& r, int32_t thickness, int32_t color,
               int32_t alpha) {
  if (alpha >= 256) {
    const auto pixel = static_cast<uint32_t>(target.ColorToPixel(ScaleColor(color, alpha - 256)));
    thickness > 0 ? target.FrameRectAdd(r, thickness, pixel) : target.FillRectAdd(r, pixel);
    return;
  }
  const auto pixel = static_cast<uint32_t>(target.ColorToPixel(color));
  if (alpha == 255)
    thickness > 0 ? target.FrameRect(r, thickness, pixel) : target.FillRect(r, pixel);
  else
    thickness > 0 ? target.FrameRectAlpha(r, thickness, pixel, alpha)
                  : target.FillRectAlpha(r, pixel, alpha);
}

// Where the first tile of an aligned border image starts inside its cell
// (0 near, 1 centre, 2 far): a picture wider than the cell is cut evenly,
// a narrower one repeats so that the pattern is centred or ends flush.
int32_t alignedStart(uint8_t align, int32_t picture, int32_t cell) {
  if (picture <= 0) return 0;
  if (align == 1) return picture >= cell ? (cell - picture) / 2 : -((cell % picture) / 2);
  if (align == 2) return picture >= cell ? cell - picture : -(cell % picture);
  return 0;
}

}  // namespace

void TZirkCustomListBox::Draw() {
  TCustomDIBX* target = GetDrawSurface();
  const TRect bounds = GetBoundsRect();
  if (!target || !RectsOverlap(bounds, target->GetClipRect())) return;
  if (alpha_ > 0 && Width() > 0 && Height() > 0) {
    normal_.Target = hover_.Target = target;
    normal_.Alpha = hover_.Alpha = alpha_;
    if (borderWidth_ > 0 && borderColor_ != -1 && borderWidth_ <= bounds.Width())
      paintRect(*target, bounds, borderWidth_, borderColor_, alpha_);
    const TRect inner = InnerRect();
    if (inner.IsEmpty()) return;
    if (Color() != -1) paintRect(*target, inner, 0, Color(), alpha_);
    drawBorders(*target);
    if (menuPhase_ == 0) {
      drawScrollBar(*target, inner);
      drawRows(*target, inner);
    }
  }
  TZirkControl::Draw();
}

void TZirkCustomListBox::drawBorders(TCustomDIBX& target) {
  for (int32_t i = 0; i < kCells; ++i) {
    const auto cell = static_cast<size_t>(i);
    const TZirkImageList& list = borderImages_[cell];
    const TZirkImageData* data = list.GetImageData(list.Index());
    TCustomDIBX* surface = data ? data->GetSurface() : nullptr;
    if (!surface) continue;
    TRect r = CellRect(i);
    // The scroll bar takes the right end of the centre.
    if (i == 4 && ScrollShown() && menuPhase_ == 0) r.Right = Saturate32(r.Right - scrollCell_.X);
    if (r.IsEmpty()) continue;
    const int32_t dx =
        i % 3 == 1 ? alignedStart(cellHAlign_[cell], surface->Width(), r.Width()) : 0;
    const int32_t dy =
        i / 3 == 1 ? alignedStart(cellVAlign_[cell], surface->Height(), r.Height()) : 0;
    target.TileDrawImage(r, *surface, surface->GetBoundsRect(), 256, 256, false, false,
                         data->GetMaskSurface(), alpha_, -dx, -dy);
  }
}

void TZirkCustomListBox::drawScrollBar(TCustomDIBX& target, const TRect& inner) {
  const TDorvItemFrame* frame = scrollImage_ ? scrollImage_->Frame(0) : nullptr;
  const int32_t sw = scrollCell_.X, sh = scrollCell_.Y;
  if (!ScrollShown() || !frame || sw < 1 || sh < 1) return;
  const TColumns c = columns();
  const int64_t x0 = int64_t{inner.Right} - c.Right - sw;
  const int64_t up = int64_t{inner.Top} + c.Top;
  const int64_t down = int64_t{inner.Bottom} - c.Bottom - sh;
  const int64_t thumb = ThumbTop();
  auto part = [&](int64_t top, int64_t bottom, int32_t cell, int32_t offsetY) {
    if (bottom <= top) return;
    DrawDorvFrameTiled(
        *frame, target,
        Rect(Saturate32(x0), Saturate32(top), Saturate32(x0 + sw), Saturate32(bottom)),
        Bounds(cell * sw, 0, sw, sh), 0, offsetY, false, false, alpha_);
  };
  const bool buttonDown = buttonHeld_, trackDown = trackHeld_;
  part(up, up + sh, mousePart_ == kUpButton && buttonDown ? 1 : 0, 0);
  part(down, down + sh, mousePart_ == kDownButton && buttonDown ? 3 : 2, 0);
  part(up + sh, thumb, mousePart_ == kTrackAbove && trackDown ? 5 : 4, 0);
  // The track's pattern runs on behind the thumb, whatever the opacity.
  const int64_t below = thumb + sh;
  part(below, down, mousePart_ == kTrackBelow && trackDown ? 5 : 4,
       static_cast<int32_t>((below - (up + sh)) % sh));
  part(thumb, thumb + sh, 6, 0);
}

void TZirkCustomListBox::drawRows(TCustomDIBX& target, const TRect& inner) {
  const TColumns c = columns();
  const int64_t cw = checkCell_.X, ch = checkCell_.Y;
  const int64_t textLeft = int64_t{inner.Left} + c.Left + cw + marginX_;
  const int64_t textWidth =
      int64_t{inner.Right} - c.Right - marginX_ - textLeft - (ScrollShown() ? scrollCell_.X : 0);
  const int64_t rowH = rowHeight();
  const int32_t hoverColor = GetPropInt(PR_HOVERCOLOR);
  const TDorvItemFrame* check = checkImage_ ? checkImage_->Frame(0) : nullptr;
  int64_t y = int64_t{inner.Top} + c.Top + marginY_;
  for (int64_t i = 0; i < rows_; ++i) {
    const int64_t row = int64_t{topIndex_} + i;
    if (row >= Count()) break;
    const bool hovered = row == hovered_;
    if (hovered && hoverColor != -1) {
      const int64_t g = std::min(lineSpace_ / 2, marginY_);
      paintRect(
          target,
          Bounds(Saturate32(int64_t{inner.Left} + c.Left + 1), Saturate32(y - g),
                 Saturate32(textWidth + cw + 2 * int64_t{marginX_} - 2), Saturate32(rowH + 2 * g)),
          0, hoverColor, alpha_);
    }
    TKwLabelList& list = hovered ? hover_ : normal_;
    if (TKwLabelDIB* label = list.GetItem(static_cast<int32_t>(row))) {
      int64_t x = textLeft;
      if (hAlign_ == 1)
        x += (textWidth - label->Width) / 2;
      else if (hAlign_ != 0)
        x += textWidth - label->Width;
      if (label->Dirty) list.DrawLabelText(*label);
      list.DrawLabelClipped(*label, Saturate32(x), Saturate32(y));
    }
    if (check && cw >= 1 && GetRowChecked(static_cast<int32_t>(row))) {
      DrawDorvFrame(*check, target, Saturate32(textLeft - cw), Saturate32(y + (rowH - ch) / 2),
                    Bounds(Saturate32(hovered ? cw : 0), 0, Saturate32(cw), Saturate32(ch)), false,
                    false, alpha_);
    }
    y += rowH + lineSpace_;
  }
}

}  // namespace zirk
