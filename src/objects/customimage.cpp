#include "objects/customimage.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numbers>

#include "base/records.h"
#include "objects/dorvcache.h"
#include "scene/clipmgr.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "surfaces/pixelmath.h"
#include "surfaces/rotatezoom.h"
#include "surfaces/wave.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

}  // namespace

TZirkCustomImage::TZirkCustomImage(TZirkBaseList& scene)
    : TZirkControl(scene), own_(MakeDisplayDIBX()) {}

// The scene invalidates an object before it frees it; a lent surface may
// already be gone by the time the destructor runs, so it is not touched here.
TZirkCustomImage::~TZirkCustomImage() = default;

// --- surfaces -------------------------------------------------------------------------

TCustomDIBX* TZirkCustomImage::GetBackSurface() {
  return external_ ? external_ : own_.get();
}

void TZirkCustomImage::SetBackSurface(TCustomDIBX* surface) {
  if (surface == external_) return;
  Invalidate();
  external_ = surface;
  Invalidate();
}

TCustomDIBX* TZirkCustomImage::GetMaskSurface() {
  return externalMask_ ? externalMask_ : ownMask_.get();
}

void TZirkCustomImage::SetMaskSurface(TCustomDIBX* mask) {
  externalMask_ = mask;
}

// --- properties --------------------------------------------------------------------------

const TPropTable& TZirkCustomImage::Properties() const {
  using P = TPropField<TZirkCustomImage>;
  // An explicit size sets the zoom to 0 ("explicit") unless a motion sizes
  // the picture.
  auto explicitSize = [](int id, int32_t TZirkCustomImage::*zoom) {
    return [id, zoom](TZirkCustomImage& o, const TCustomParam& v) {
      o.TZirkControl::Properties().Set(o, id, v);
      if (o.CanAutoSize()) o.*zoom = 0;
    };
  };
  auto surfaceSize = [](bool vertical) {
    return [vertical](TZirkCustomImage& o) {
      TCustomDIBX* s = o.GetBackSurface();
      return s ? (vertical ? s->Height() : s->Width()) : 0;
    };
  };
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_ALPHA, &TZirkCustomImage::alpha_, TPropChange::Redraw),
          P(PR_ZOOMX, &TZirkCustomImage::zoomX_).Set([](TZirkCustomImage& o, int32_t zoom) {
            o.setZoom(o.zoomX_, zoom);
          }),
          P(PR_ZOOMY, &TZirkCustomImage::zoomY_).Set([](TZirkCustomImage& o, int32_t zoom) {
            o.setZoom(o.zoomY_, zoom);
          }),
          P(PR_POSZOOMED).Set([](TZirkCustomImage& o, const TCustomParam& v) {
            if (v.AsBoolean() == o.PosZoomed()) return;
            o.Invalidate();
            o.TZirkControl::Properties().Set(o, PR_POSZOOMED, v);
            o.sizeDirty_ = true;
            o.markChildrenSizeDirty();
          }),
          P(PR_ANGLE, &TZirkCustomImage::angle_, TPropChange::RedrawAround),
          P(PR_FLIPH, &TZirkCustomImage::flipH_, TPropChange::RedrawAround)
              .Then(&TZirkCustomImage::UpdateDisplayWidth),
          P(PR_FLIPV, &TZirkCustomImage::flipV_, TPropChange::RedrawAround)
              .Then(&TZirkCustomImage::UpdateDisplayHeight),
          P(PR_CAPTUREMASK, &TZirkCustomImage::captureMask_),
          P(PR_WIDTH).Set(explicitSize(PR_WIDTH, &TZirkCustomImage::zoomX_)),
          P(PR_HEIGHT).Set(explicitSize(PR_HEIGHT, &TZirkCustomImage::zoomY_)),
          P(PR_ORIGWIDTH).Get(surfaceSize(false)),
          P(PR_ORIGHEIGHT).Get(surfaceSize(true)),
      });
  return table;
}

void TZirkCustomImage::setZoom(int32_t& field, int32_t value) {
  if (value == field) return;
  Invalidate();
  field = std::max(value, 1);
  sizeDirty_ = true;
  markChildrenSizeDirty();
}

void TZirkCustomImage::markChildrenSizeDirty() {
  for (int32_t i = 0; i < GetChildCount(); ++i) {
    TZirkObject* child = GetChild(i);
    if (child->GetPropInt(PR_POSZOOMED) != 0) child->SetSizeDirty(true);
  }
}

bool TZirkCustomImage::CanAutoSize() {
  return GetMotion() == nullptr;
}

// --- display size ------------------------------------------------------------------------

int32_t TZirkCustomImage::effectiveZoomX() {
  if (zoomX_ != 0) return zoomX_;
  TCustomDIBX* s = GetBackSurface();
  if (!s || s->Width() <= 0) return 256;
  return std::max(1, Saturate32(int64_t{Width()} * 256 / s->Width()));
}

int32_t TZirkCustomImage::effectiveZoomY() {
  if (zoomY_ != 0) return zoomY_;
  TCustomDIBX* s = GetBackSurface();
  if (!s || s->Height() <= 0) return 256;
  return std::max(1, Saturate32(int64_t{Height()} * 256 / s->Height()));
}

int32_t TZirkCustomImage::displaySize(bool vertical) {
  TCustomDIBX* s = GetBackSurface();
  const int32_t zoom = vertical ? zoomY_ : zoomX_;
  const int32_t own = s ? (vertical ? s->Height() : s->Width()) : 0;
  TZirkObject* parent = GetParent();
  TCustomDIBX* ps = parent ? parent->GetBackSurface() : nullptr;
  // Edges on the same pixels as the parent's scaled picture. A parent shown
  // at width 0 has no scale to follow.
  if (PosZoomed() && parent && ps && !dynamic_cast<TZirkBase*>(parent) && s && !GetMotion() &&
      parent->GetPropInt(vertical ? PR_ZOOMY : PR_ZOOMX) == zoom) {
    const int64_t picture = vertical ? ps->Height() : ps->Width();
    const int64_t shown = parent->GetPropInt(vertical ? PR_HEIGHT : PR_WIDTH);
    if (shown > 0) {
      const int64_t start = vertical ? int64_t{Top()} - OffsetY() : int64_t{Left()} - OffsetX();
      const bool flip = vertical ? flipV_ : flipH_;
      const auto scale = std::max<int64_t>(
          1,
          static_cast<int64_t>(static_cast<double>(picture) / static_cast<double>(shown) * 65536));
      const int64_t a = (flip ? picture - start - own : start) * 65536;
      const int64_t b = (flip ? picture - start : start + own) * 65536;
      const int64_t first = a / scale + (a % scale > 32767 ? 1 : 0);
      const int64_t last = b / scale + (b % scale > 0 ? 1 : 0);
      return Saturate32(last - first);
    }
  }
  return Saturate32(int64_t{own} * zoom / 256);
}

void TZirkCustomImage::UpdateDisplayWidth() {
  if (!CanAutoSize()) return;
  if (GetPropStr(PR_SOURCE).empty() && !external_) {
    StoreSize(0, 0);
    return;
  }
  // An explicit size stays until a zoom is set again.
  if (zoomX_ == 0) return;
  StoreSize(displaySize(false), Height());
}

void TZirkCustomImage::UpdateDisplayHeight() {
  if (!CanAutoSize()) return;
  if (GetPropStr(PR_SOURCE).empty() && !external_) {
    StoreSize(0, 0);
    return;
  }
  if (zoomY_ == 0) return;
  StoreSize(Width(), displaySize(true));
}

// --- position, screen rectangle, invalidation ------------------------------------------

void TZirkCustomImage::GetDrawOrigin(TPoint& position, TPoint& anchor) {
  position = GetRotationCentre();
  anchor = {OffsetX(), OffsetY()};
  TCustomDIBX* s = GetBackSurface();
  if (!s) return;
  if (flipH_) anchor.X = Saturate32(int64_t{s->Width()} - 1 - anchor.X);
  if (flipV_) anchor.Y = Saturate32(int64_t{s->Height()} - 1 - anchor.Y);
}

TPoint TZirkCustomImage::GetDrawPos() {
  const TPoint c = GetRotationCentre();
  return {Saturate32(int64_t{c.X} - int64_t{OffsetX()} * effectiveZoomX() / 256),
          Saturate32(int64_t{c.Y} - int64_t{OffsetY()} * effectiveZoomY() / 256)};
}

TRect TZirkCustomImage::GetScreenRect() {
  const int32_t angle = angle_ & 255;
  if (angle == 0) return TZirkControl::GetScreenRect();
  TCustomDIBX* s = GetBackSurface();
  return RotateZoomBounds(GetRotationCentre(), {OffsetX(), OffsetY()}, flipH_, flipV_,
                          s ? s->Width() : 1, s ? s->Height() : 1, effectiveZoomX(),
                          effectiveZoomY(), angle);
}

void TZirkCustomImage::Invalidate() {
  if (IsScrapped() || !IsShown() || !GetScreen()) return;
  TCustomDIBX* s = GetBackSurface();
  if (!s || s->IsEmpty()) return;
  TZirkControl::Invalidate();
}

// --- drawing --------------------------------------------------------------------------------

void TZirkCustomImage::Draw() {
  TCustomDIBX* s = GetBackSurface();
  if (!s || Width() <= 0 || Height() <= 0) return;
  if (!s->IsEmpty()) DrawImage();
  TZirkControl::Draw();
}

void TZirkCustomImage::blit(TCustomDIBX& target, TCustomDIBX& s, TCustomDIBX* mask, int32_t left,
                            int32_t top) {
  target.DrawImage(left, top, s, s.GetBoundsRect(), flipH_, flipV_, mask, alpha_);
}

TRect TZirkCustomImage::drawPiece(const TCustomDIBX& s, const TRect& r, int32_t left,
                                  int32_t top) const {
  // Draw rectangles are in the picture's coordinates: mirrored inside the
  // picture under the flips, never around the object.
  const int32_t x = flipH_ ? s.Width() - r.Right : r.Left;
  const int32_t y = flipV_ ? s.Height() - r.Bottom : r.Top;
  return Bounds(Saturate32(int64_t{left} + x), Saturate32(int64_t{top} + y), r.Width(), r.Height());
}

void TZirkCustomImage::DrawImage() {
  TCustomDIBX* target = GetDrawSurface();
  TCustomDIBX* s = GetBackSurface();
  TCustomDIBX* m = GetMaskSurface();
  if (!target || !s || alpha_ <= 0 || Width() <= 0 || Height() <= 0) return;
  const bool useKey = s->ColorKey() != -1;
  const TRect bounds = s->GetBoundsRect();

  if (const int32_t angle = angle_ & 255; angle != 0) {
    TPoint position, anchor;
    GetDrawOrigin(position, anchor);
    if (m) {
      target->DrawRotateZoomAlpha(position.X, position.Y, *s, bounds, anchor.X, anchor.Y,
                                  effectiveZoomX(), effectiveZoomY(), angle, flipH_, flipV_, *m,
                                  alpha_);
    } else {
      target->DrawRotateZoom(position.X, position.Y, *s, bounds, anchor.X, anchor.Y,
                             effectiveZoomX(), effectiveZoomY(), angle, flipH_, flipV_, useKey,
                             alpha_);
    }
    return;
  }

  if (s->Width() == Width() && s->Height() == Height()) {
    const auto [left, top] = GetDrawPos();
    if (s->Rects1.empty() || dynamic_cast<TDIBXWave*>(target)) {
      blit(*target, *s, m, left, top);
      return;
    }
    const TRect saved = target->GetClipRect();
    for (const TRect& r : s->Rects1) {
      TRect clip;
      if (!IntersectRect(clip, drawPiece(*s, r, left, top), saved)) continue;
      target->SetClipRect(clip);
      blit(*target, *s, m, left, top);
    }
    target->SetClipRect(saved);
    return;
  }

  target->StretchDrawImage(GetScreenRect(), *s, bounds, flipH_, flipV_, m, alpha_);
}

void TZirkCustomImage::CollectClipRects(TClipManager& clips) {
  TCustomDIBX* s = GetBackSurface();
  if (!s || s->IsEmpty() || Width() <= 0 || Height() <= 0) return;
  if (alpha_ != 255 || (angle_ & 255) != 0 || GetMaskSurface() || s->ColorKey() != -1) return;
  const auto* dib = dynamic_cast<const TDIBX*>(s);
  if (!dib || dib->DIB().HasAlphaPlane()) return;
  TRect shown = GetScreenRect();
  if (!coverOnScreen(shown)) return;
  TClipData& data = clips.NewClipData();
  // A stretched picture fills its whole rectangle; a one-to-one one only
  // its draw rectangles, placed as DrawImage places them.
  if (s->Rects1.empty() || s->Width() != Width() || s->Height() != Height()) {
    data.AddOpaqueRect(shown);
    return;
  }
  const auto [left, top] = GetDrawPos();
  for (const TRect& r : s->Rects1) {
    TRect piece;
    if (IntersectRect(piece, drawPiece(*s, r, left, top), shown)) data.AddOpaqueRect(piece);
  }
}

// --- hit test -------------------------------------------------------------------------------

bool TZirkCustomImage::maskHit(int32_t x, int32_t y) {
  TCustomDIBX* s = GetBackSurface();
  TCustomDIBX* m = GetMaskSurface();
  if (!s || !m) return true;
  // An explicit size (zoom 0) maps by surface size over displayed size.
  auto map = [](int32_t d, int32_t zoom, int32_t surface, int32_t shown) -> int64_t {
    if (zoom > 0) return int64_t{d} * 256 / zoom;
    if (zoom == 0 && shown > 0) return int64_t{d} * surface / shown;
    return -1;
  };
  int64_t mx = map(x, zoomX_, s->Width(), Width());
  int64_t my = map(y, zoomY_, s->Height(), Height());
  if (flipH_) mx = int64_t{s->Width()} - 1 - mx;
  if (flipV_) my = int64_t{s->Height()} - 1 - my;
  if (mx < 0 || my < 0 || mx >= m->Width() || my >= m->Height()) return false;
  return m->GetPixel(static_cast<int32_t>(mx), static_cast<int32_t>(my)) >= 128;
}

TZirkObject* TZirkCustomImage::HitTest(TPoint point, TMouseMask mask) {
  if (!GetVisible() || IsScrapped()) return nullptr;
  if (!GetScreenRect().Contains(point)) return nullptr;
  for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
    if (TZirkObject* hit = GetChild(i)->HitTest(point, mask)) return hit;
  }
  const int32_t ignore = IgnoreMouse();
  if (ignore < 0 || ignore > 31 || !(mask & (1u << ignore))) return nullptr;

  TPoint p = point;
  if (const int32_t angle = angle_ & 255; angle != 0) {
    const TPoint c = GetRotationCentre();
    const double t = -angle * 2 * std::numbers::pi / 256;
    const double dx = static_cast<double>(p.X) - c.X, dy = static_cast<double>(p.Y) - c.Y;
    p.X =
        Saturate32(static_cast<int64_t>(std::nearbyint(dx * std::cos(t) - dy * std::sin(t) + c.X)));
    p.Y =
        Saturate32(static_cast<int64_t>(std::nearbyint(dx * std::sin(t) + dy * std::cos(t) + c.Y)));
  }
  const TPoint drawPos = GetDrawPos();
  const TRect r = Bounds(drawPos.X, drawPos.Y, Width(), Height());
  if (!r.Contains(p)) return nullptr;
  if (captureMask_ && GetMaskSurface() && !maskHit(p.X - r.Left, p.Y - r.Top)) return nullptr;
  return this;
}

// --- ticking and life cycle --------------------------------------------------------------

bool TZirkCustomImage::Tick() {
  const bool done = TZirkControl::Tick();
  if (sizeDirty_) {
    sizeDirty_ = false;
    Invalidate();
    UpdateDisplayWidth();
    UpdateDisplayHeight();
    Invalidate();
  }
  return done;
}

void TZirkCustomImage::ReleaseSurfaces() {
  own_.reset();
  // Lent surfaces are rebuilt by their owners; the lender lends them again.
  external_ = nullptr;
  externalMask_ = nullptr;
  TZirkControl::ReleaseSurfaces();
}

void TZirkCustomImage::RestoreSurfaces() {
  own_ = MakeDisplayDIBX();
  TZirkControl::RestoreSurfaces();
}

void TZirkCustomImage::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(alpha_);
  out.Int(zoomX_);
  out.Int(angle_);
  out.Bool(flipH_);
  out.Bool(flipV_);
  out.Bool(captureMask_);
  out.Int(zoomY_);
}

void TZirkCustomImage::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  Invalidate();
  TRecordReader in(stream, version);
  alpha_ = in.Int();
  zoomX_ = in.Int();
  angle_ = in.Int();
  flipH_ = in.Bool();
  flipV_ = in.Bool();
  captureMask_ = in.Bool();
  zoomY_ = in.From(104, 256);
  Invalidate();
}

}  // namespace zirk
