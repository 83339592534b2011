#include "objects/picturestate.h"

#include "base/vocab.h"
#include "objects/customimage.h"
#include "objects/tracks.h"
#include "scene/zcontrol.h"

namespace zirk {

namespace {

void applySize(TZirkControl& t, const TPictureState& s) {
  if (!s.SizeWhileUnzoomed) {
    t.SetPropInt(PR_WIDTH, s.Width);
    t.SetPropInt(PR_HEIGHT, s.Height);
    return;
  }
  if (!s.Surface) return;
  const int32_t zoomX = t.GetPropInt(PR_ZOOMX), zoomY = t.GetPropInt(PR_ZOOMY);
  t.StoreSize(zoomX == 256 ? s.Width : t.Width(), zoomY == 256 ? s.Height : t.Height());
}

void applyStacking(TZirkControl& t, const TPictureState& s) {
  if (s.Stacking == TPictureStacking::Order) {
    if (t.GetOrder() != s.Priority) t.SetOrder(s.Priority);
  } else if (t.GetPriority() != s.Priority) {
    t.SetPriority(s.Priority);
  }
}

void applyPosition(TZirkControl& t, const TPictureState& s) {
  if (s.Drive == TPictureDrive::Motion) {
    t.SetMotionX(s.X);
    t.SetMotionY(s.Y);
  } else {
    t.SetPropInt(PR_LEFT, s.X);
    t.SetPropInt(PR_TOP, s.Y);
  }
}

}  // namespace

void ApplyPictureState(TZirkControl& t, const TPictureState& s) {
  // First: a size stored without a redraw of its own is drawn by the
  // redraws the parent and the surface bring.
  applySize(t, s);
  if (s.Drive == TPictureDrive::Film && s.Parent && s.Parent != t.GetParent())
    t.SetParent(s.Parent);
  t.SetBackSurface(s.Surface);
  t.SetMaskSurface(s.Mask);
  if (auto* image = dynamic_cast<TZirkCustomImage*>(&t))
    image->KeepTransparentColor(s.TransparentColor);
  // After the size (an unzoomed film image takes its cell's size by the
  // zoom it had), before the flips, which recompute the size by the zoom.
  t.SetPropInt(PR_ZOOMX, s.ZoomX);
  t.SetPropInt(PR_ZOOMY, s.ZoomY);
  applyStacking(t, s);
  if (s.Tiled) {
    t.SetPropInt(PR_DISTANCEX, s.DistanceX);
    t.SetPropInt(PR_DISTANCEY, s.DistanceY);
  }
  t.SetPropInt(PR_FLIPH, s.FlipH);
  t.SetPropInt(PR_FLIPV, s.FlipV);
  applyPosition(t, s);
  t.SetPropInt(PR_OFFSETX, s.OffsetX);
  t.SetPropInt(PR_OFFSETY, s.OffsetY);
  if (!s.Tiled) t.SetPropInt(PR_ANGLE, s.Angle);
  t.SetPropInt(PR_ALPHA, s.Alpha);
  if (s.Tiled) {
    t.SetPropInt(PR_SCROLLX, s.ScrollX);
    t.SetPropInt(PR_SCROLLY, s.ScrollY);
  }
  SetClipProps(t, s.Clip);
  if (s.CaptureMask) t.SetPropInt(PR_CAPTUREMASK, 1);
}

}  // namespace zirk
