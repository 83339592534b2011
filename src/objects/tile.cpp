#include "objects/tile.h"

#include <algorithm>
#include <utility>

#include "base/records.h"
#include "objects/dorvcache.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// The scroll as a phase inside one step: negative scrolls count back from
// the step.
int64_t phase(int32_t scroll, int32_t step) {
  if (scroll >= 0) return scroll % step;
  return step - (-int64_t(scroll)) % step;
}

// The first of the positions start, start + step, ... that can reach `from`
// for a piece `extent` long.
int64_t firstReaching(int64_t start, int64_t step, int64_t from, int64_t extent) {
  if (start + extent > from) return start;
  return start + (from - extent - start) / step * step;
}

}  // namespace

TZirkTile::TZirkTile(TZirkBaseList& scene) : TZirkCustomImages(scene) {}

TZirkTile::~TZirkTile() {
  SetBackSurface(nullptr);
  SetMaskSurface(nullptr);
  list_.Clear();
}

void TZirkTile::SetSource(const std::string& source) {
  if (source == source_) return;
  Invalidate();
  source_ = source;
  SetIndex(-1);
  SetBackSurface(nullptr);
  if (TCustomDIBX* own = OwnSurface()) own->Clear();
  SetMaskSurface(nullptr);
  list_.Clear();
  FreeMotion();
  if (HasExtension(source, ".dor"))
    list_.LoadImageFrames(source, false);
  else if (HasExtension(source, ".zmt"))
    StartMotion(source);
  if (list_.Count() > 0) SetIndex(0);
}

TPoint TZirkTile::GetDrawPos() {
  const TPoint own = GetMotion() ? TPoint{MotionX(), MotionY()} : TPoint{Left(), Top()};
  if (!GetParent()) return own;
  const TPoint origin = parentOrigin();
  return {Saturate32(int64_t(origin.X) + own.X), Saturate32(int64_t(origin.Y) + own.Y)};
}

void TZirkTile::drawPieces(TCustomDIBX& target, TCustomDIBX& s, TCustomDIBX* mask, const TRect& r,
                           int32_t stepX, int32_t stepY) {
  const TRect saved = target.GetClipRect();
  TRect clip;
  if (!IntersectRect(clip, saved, r)) return;
  target.SetClipRect(clip);
  const int64_t sx = phase(ScrollX(), stepX);
  const int64_t sy = phase(ScrollY(), stepY);
  const int32_t w = s.Width(), h = s.Height();
  for (const TRect& p : s.Rects1) {
    int64_t y0 = int64_t(r.Top) + (FlipV() ? h - p.Bottom : p.Top) - sy;
    int64_t x0 = int64_t(r.Left) + (FlipH() ? w - p.Right : p.Left) - sx;
    y0 = firstReaching(y0, stepY, clip.Top, p.Height());
    x0 = firstReaching(x0, stepX, clip.Left, p.Width());
    for (int64_t y = y0; y < r.Bottom && y < clip.Bottom; y += stepY)
      for (int64_t x = x0; x < r.Right && x < clip.Right; x += stepX)
        target.DrawImage(int32_t(x), int32_t(y), s, p, FlipH(), FlipV(), mask, Alpha());
  }
  target.SetClipRect(saved);
}

void TZirkTile::DrawImage() {
  TCustomDIBX* target = GetDrawSurface();
  TCustomDIBX* s = GetBackSurface();
  TCustomDIBX* m = GetMaskSurface();
  const int32_t a = Alpha(), zx = ZoomX(), zy = ZoomY();
  if (!target || !s || s->IsEmpty() || a <= 0 || Width() <= 0 || Height() <= 0 || zx <= 0 ||
      zy <= 0)
    return;
  const TRect r = GetScreenRect();
  const int32_t w = s->Width(), h = s->Height();
  // A distance below half the picture counts as none.
  const bool spacedX = distanceX_ > 0 && distanceX_ >= w / 2;
  const bool spacedY = distanceY_ > 0 && distanceY_ >= h / 2;
  const int32_t stepX = spacedX ? distanceX_ : w;
  const int32_t stepY = spacedY ? distanceY_ : h;
  const bool useKey = s->ColorKey() != -1;
  const TRect bounds = s->GetBoundsRect();
  if (spacedX || spacedY) {
    if (!s->Rects1.empty() && zx == 256 && zy == 256)
      drawPieces(*target, *s, m, r, stepX, stepY);
    else if (m)
      target->TileDrawOffsetMasked(r, *s, bounds, stepX, stepY, zx, zy, FlipH(), FlipV(), *m, a,
                                   ScrollX(), ScrollY());
    else
      target->TileDrawOffset(r, *s, bounds, stepX, stepY, zx, zy, FlipH(), FlipV(), useKey, a,
                             ScrollX(), ScrollY());
    return;
  }
  target->TileDrawImage(r, *s, bounds, zx, zy, FlipH(), FlipV(), m, a, ScrollX(), ScrollY());
}

const TPropTable& TZirkTile::Properties() const {
  using P = TPropField<TZirkTile>;
  static const TPropTable table(TZirkCustomImages::Properties(),
                                {
                                    P(PR_SOURCE, &TZirkTile::source_).Set(&TZirkTile::SetSource),
                                    P(PR_REPEAT).Get([](TZirkTile&) { return true; }),
                                    P(PR_ONIDLE, &TZirkTile::onIdle_),
                                    P(PR_DISTANCEX, &TZirkTile::distanceX_, TPropChange::Redraw),
                                    P(PR_DISTANCEY, &TZirkTile::distanceY_, TPropChange::Redraw),
                                });
  return table;
}

void TZirkTile::ReleaseSurfaces() {
  list_.ReleaseImageSurfaces();
  TZirkCustomImages::ReleaseSurfaces();
}

void TZirkTile::RestoreSurfaces() {
  list_.RebuildImageSurfaces();
  TZirkCustomImages::RestoreSurfaces();
}

void TZirkTile::SaveToStream(TKwStream& stream) {
  TZirkCustomImages::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(ScrollX());
  out.Int(ScrollY());
  out.Str(source_);
  out.Str(onIdle_);
  out.Int(distanceX_);
  out.Int(distanceY_);
}

void TZirkTile::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomImages::LoadFromStream(stream, version);
  const int32_t index = Index(), delay = DelayCounter();
  TRecordReader in(stream, version);
  const int32_t scrollX = in.Int(), scrollY = in.Int();
  const std::string source = in.Str();
  std::string idle = in.Str();
  const int32_t distanceX = in.Int(), distanceY = in.Int();
  // The source setter selects its first frame from scratch; what was
  // saved goes back after it.
  setIndexField(-1);
  SetSource(source);
  onIdle_ = std::move(idle);
  distanceX_ = distanceX;
  distanceY_ = distanceY;
  SetPropInt(PR_SCROLLX, scrollX);
  SetPropInt(PR_SCROLLY, scrollY);
  restoreFrame(index, delay);
}

void RegisterZirkTile() {
  RegisterKind(LT_TILE, [](TZirkBaseList& scene) { return std::make_unique<TZirkTile>(scene); });
}

}  // namespace zirk
