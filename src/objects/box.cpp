#include "objects/box.h"

#include "base/records.h"
#include "base/utils.h"
#include "objects/images.h"
#include "scene/clipmgr.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "surfaces/dibx.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

// One rectangle in the box's alpha: blended, opaque or additive with the
// colour scaled to the level.
template <class Blend, class Opaque, class Additive>
void byAlpha(int32_t alpha, int32_t color, const TCustomDIBX& target, Blend blend, Opaque opaque,
             Additive additive) {
  if (alpha < 255)
    blend(static_cast<uint32_t>(target.ColorToPixel(color)), alpha);
  else if (alpha == 255)
    opaque(static_cast<uint32_t>(target.ColorToPixel(color)));
  else
    additive(static_cast<uint32_t>(target.ColorToPixel(ScaleColor(color, alpha - 256))));
}

}  // namespace

TZirkBox::TZirkBox(TZirkBaseList& scene) : TZirkControl(scene) {}

// The scene invalidates an object before it frees it.
TZirkBox::~TZirkBox() = default;

const TPropTable& TZirkBox::Properties() const {
  using P = TPropField<TZirkBox>;
  static const TPropTable table(TZirkControl::Properties(),
                                {
                                    P(PR_AUTOSCRAP, &TZirkBox::autoScrap_),
                                    P(PR_ONIDLE, &TZirkBox::onIdle_),
                                    P(PR_BORDERWIDTH, &TZirkBox::borderWidth_, TPropChange::Redraw),
                                    P(PR_BORDERCOLOR, &TZirkBox::borderColor_, TPropChange::Redraw),
                                    P(PR_SOURCE, &TZirkBox::source_).Set(&TZirkBox::setSource),
                                    P(PR_ALPHA, &TZirkBox::alpha_, TPropChange::Redraw),
                                    P(PR_REPEAT, &TZirkBox::repeat_).Then(&TZirkBox::repeatChanged),
                                    P(PR_PAUSED, &TZirkBox::paused_),
                                    P(PR_ONPLAYEND, &TZirkBox::onPlayEnd_),
                                });
  return table;
}

void TZirkBox::setSource(const std::string& source) {
  if (source == source_) return;
  source_ = source;
  FreeMotion();
  if (HasExtension(source, ".zmt")) StartMotion(source);
}

void TZirkBox::repeatChanged() {
  TZirkMotionBase* motion = GetMotion();
  if (repeat_ && motion && motion->Finished()) motion->Rewind();
}

void TZirkBox::Draw() {
  TCustomDIBX* target = GetDrawSurface();
  if (target && IsShown() && drawsAtAll()) {
    const TRect bounds = GetBoundsRect();
    auto fill = [&](const TRect& r) {
      byAlpha(
          alpha_, Color(), *target, [&](uint32_t p, int32_t a) { target->FillRectAlpha(r, p, a); },
          [&](uint32_t p) { target->FillRect(r, p); },
          [&](uint32_t p) { target->FillRectAdd(r, p); });
    };
    if (borderWidth_ <= 0) {
      if (Color() >= 0) fill(bounds);
    } else {
      const int32_t w = borderWidth_;
      if (borderColor_ >= 0) {
        byAlpha(
            alpha_, borderColor_, *target,
            [&](uint32_t p, int32_t a) { target->FrameRectAlpha(bounds, w, p, a); },
            [&](uint32_t p) { target->FrameRect(bounds, w, p); },
            [&](uint32_t p) { target->FrameRectAdd(bounds, w, p); });
      }
      if (Color() >= 0) {
        const int64_t inner = 2 * int64_t{w};
        fill(Bounds(Saturate32(int64_t{GetDrawLeft()} + w), Saturate32(int64_t{GetDrawTop()} + w),
                    Saturate32(Width() - inner), Saturate32(Height() - inner)));
      }
    }
  }
  TZirkControl::Draw();
}

void TZirkBox::CollectClipRects(TClipManager& clips) {
  if (!GetVisible() || !drawsAtAll()) return;
  if (Color() < 0 && !framed()) return;
  const TRect b = GetBoundsRect();
  TRect shown = b;
  if (!coverOnScreen(shown)) return;
  const int32_t w = borderWidth_;
  std::vector<TRect> rects;
  if (borderColor_ < 0 && w >= 1) {
    // Only the fill inside the unpainted frame is drawn.
    rects.push_back(Rect(Saturate32(int64_t{b.Left} + w), Saturate32(int64_t{b.Top} + w),
                         Saturate32(int64_t{b.Right} - w), Saturate32(int64_t{b.Bottom} - w)));
  } else if (Color() >= 0) {
    rects.push_back(b);
  } else {
    // Only the frame: its four bars.
    rects.push_back(Rect(b.Left, b.Top, b.Right, Saturate32(int64_t{b.Top} + w)));
    rects.push_back(Rect(b.Left, Saturate32(int64_t{b.Bottom} - w), b.Right, b.Bottom));
    if (Height() > 2 * int64_t{w}) {
      rects.push_back(Rect(b.Left, b.Top, Saturate32(int64_t{b.Left} + w), b.Bottom));
      rects.push_back(Rect(Saturate32(int64_t{b.Right} - w), b.Top, b.Right, b.Bottom));
    }
  }
  TClipData& data = clips.NewClipData();
  for (const TRect& r : rects) {
    // Only what is painted: a frame wider than the box stops at its edges,
    // and a clip hides the rest.
    TRect piece;
    if (!IntersectRect(piece, r, shown)) continue;
    if (alpha_ == 255) data.AddOpaqueRect(piece);
    data.AddDrawRect(piece);
  }
}

void TZirkBox::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(borderWidth_);
  out.Int(borderColor_);
  out.Int(alpha_);
  out.Str(onIdle_);
  out.Str(source_);
  out.Bool(repeat_);
  out.Bool(autoScrap_);
  out.Str(onPlayEnd_);
  out.Bool(paused_);
  out.Bool(GetPropInt(PR_ANIPAUSED) != 0);
}

void TZirkBox::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved box record");
  Invalidate();
  borderWidth_ = in.Int();
  borderColor_ = in.Int();
  alpha_ = in.Int();
  if (in.Has(104)) {
    onIdle_ = in.Str();
    setSource(in.Str());
    repeat_ = in.Bool();
    autoScrap_ = in.Bool();
    onPlayEnd_ = in.Str();
    paused_ = in.Bool();
    SetPropInt(PR_ANIPAUSED, in.Bool());
  }
  Invalidate();
}

void RegisterZirkBox() {
  RegisterKind(LT_BOX, [](TZirkBaseList& scene) { return std::make_unique<TZirkBox>(scene); });
}

}  // namespace zirk
