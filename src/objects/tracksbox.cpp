#include "objects/tracksbox.h"

#include "objects/box.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {
using pixelmath::Saturate32;
}  // namespace

// --- rectangle tracks ---------------------------------------------------------------

TRectFrameList::TRectFrameList(TFilmManager& film) : TCustomFrameList(film) {
  Length = 1;
  Frames.push_back(std::make_unique<TBoxFrame>(*this));
}

TRectFrameList::~TRectFrameList() {
  ReleaseTarget();
}

TZirkObject* TRectFrameList::GetTarget() const {
  if (Film().MotionMode) return Film().MotionTarget;
  return target_.Get(Film());
}

void TRectFrameList::ReleaseTarget() {
  TZirkObject* t = target_.Take(Film());
  if (!t) return;
  t->Invalidate();
  t->Scrap();
}

TRectFrame TRectFrameList::RectAt(int32_t i) const {
  const TPoint from = filmPosition(GetPositionFrom()), to = filmPosition(PositionTo);
  TRectFrame r;
  r.X = InterpolateInt(PositionXEasing, from.X, i, to.X);
  r.Y = InterpolateInt(PositionYEasing, from.Y, i, to.Y);
  r.Width = sizeAt(PositionXEasing, i, r.X, from.X, GetWidthFrom(), to.X, WidthTo);
  r.Height = sizeAt(PositionYEasing, i, r.Y, from.Y, GetHeightFrom(), to.Y, HeightTo);
  r.Clip = clipAt(i, GetClipPositionFrom(), GetClipSizeFrom(), ClipPositionTo, ClipSizeTo,
                  ClipXEasing, ClipYEasing);
  return r;
}

bool TRectFrameList::Apply(int32_t time) {
  const bool motion = Film().MotionMode;
  if (!Active(time)) {
    if (!motion) ReleaseTarget();
    return false;
  }
  if (!motion &&
      !target_.GetOrCreate(Film(), [this](TZirkBaseList& scene, const std::string& name) {
        return createTarget(scene, name);
      }))
    return false;
  updateTarget(static_cast<int32_t>(int64_t(time) - TrackStart()));
  return true;
}

void TRectFrameList::passRect(TZirkControl& t, const TRectFrame& r) const {
  if (Film().MotionMode) {
    t.SetMotionX(r.X);
    t.SetMotionY(r.Y);
    t.SetPropInt(PR_WIDTH, r.Width);
    t.SetPropInt(PR_HEIGHT, r.Height);
    const int32_t priority = Saturate32(int64_t(Film().BasePriority) + Priority);
    if (t.GetPriority() != priority) t.SetPriority(priority);
    return;
  }
  if (TZirkObject* parent = placementParent(); parent && parent != t.GetParent())
    t.SetParent(parent);
  t.SetBounds(r.X, r.Y, r.Width, r.Height);
  if (t.GetPriority() != Priority) t.SetPriority(Priority);
}

// --- box tracks ---------------------------------------------------------------------

int32_t TBoxFrameList::ColorAt(int32_t i, int32_t from, int32_t to) const {
  if (from == to) return from;
  int32_t color = 0;
  for (int shift : {0, 8, 16}) {
    const int32_t c = InterpolateInt(MT_NORMAL, (from >> shift) & 0xFF, i, (to >> shift) & 0xFF);
    color |= (c & 0xFF) << shift;
  }
  return color;
}

TZirkObject* TBoxFrameList::createTarget(TZirkBaseList& scene, const std::string& name) {
  return scene.Create<TZirkBox>(Film().Host, name);
}

void TBoxFrameList::updateTarget(int32_t i) {
  auto* t = dynamic_cast<TZirkControl*>(GetTarget());
  if (!t) return;
  const TRectFrame r = RectAt(i);
  const int32_t widthFrom = GetBorderWidthFrom();
  passRect(*t, r);
  t->SetPropInt(PR_ALPHA, alphaAt(i, GetAlphaFrom(), AlphaTo));
  t->SetPropInt(PR_COLOR, ColorAt(i, GetColorFrom(), ColorTo));
  t->SetPropInt(PR_BORDERWIDTH, widthFrom == BorderWidthTo
                                    ? widthFrom
                                    : InterpolateInt(MT_NORMAL, widthFrom, i, BorderWidthTo));
  t->SetPropInt(PR_BORDERCOLOR, ColorAt(i, GetBorderColorFrom(), BorderColorTo));
  SetClipProps(*t, r.Clip);
}

void TBoxFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomFrameList::SaveToStream(out);
  out.Point(GetPositionFrom());
  out.Point(PositionTo);
  out.Byte(PositionXEasing);
  out.Byte(PositionYEasing);
  out.Int(GetAlphaFrom());
  out.Int(AlphaTo);
  out.Int(GetWidthFrom());
  out.Int(GetHeightFrom());
  out.Int(WidthTo);
  out.Int(HeightTo);
  out.Int(GetColorFrom());
  out.Int(ColorTo);
  out.Int(GetBorderWidthFrom());
  out.Int(BorderWidthTo);
  out.Int(GetBorderColorFrom());
  out.Int(BorderColorTo);
  WriteClipKeys(out, *this);
}

void TBoxFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomFrameList::LoadFromStream(in);
  // The parent is not resolved yet: the start values are stored as read.
  SetPositionFrom(in.Point());
  PositionTo = in.Point();
  PositionXEasing = in.Byte();
  PositionYEasing = in.Byte();
  SetAlphaFrom(in.Int());
  AlphaTo = in.Int();
  SetWidthFrom(in.Int());
  SetHeightFrom(in.Int());
  WidthTo = in.Int();
  HeightTo = in.Int();
  SetColorFrom(in.Int());
  ColorTo = in.Int();
  SetBorderWidthFrom(in.Int());
  BorderWidthTo = in.Int();
  SetBorderColorFrom(in.Int());
  BorderColorTo = in.Int();
  if (in.Has(101)) ReadClipKeys(in, *this);
}

void RegisterBoxTracks() {
  RegisterTrackKind(ttBox, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TBoxFrameList>(film);
  });
}

}  // namespace zirk
