#include "scene/zcontrol.h"

#include <algorithm>
#include <climits>

#include "base/records.h"
#include "base/vocab.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

// Script values are arbitrary: positions are summed in 64 bits and
// saturated to the int32 range.
using pixelmath::Saturate32;

int32_t scaled(int32_t v, int32_t zoom) {
  return Saturate32(static_cast<int64_t>(v) * zoom / 256);
}

}  // namespace

TZirkControl::TZirkControl(TZirkBaseList& scene) : TZirkObject(scene) {}

TZirkControl::~TZirkControl() = default;

TRect TZirkControl::ClipRect() const {
  if (clipWidth_ <= 0 || clipHeight_ <= 0) return {};
  return Bounds(clipLeft_, clipTop_, clipWidth_, clipHeight_);
}

TPoint TZirkControl::parentOrigin() {
  TZirkObject* parent = GetParent();
  if (!parent) return {0, 0};
  const TPoint p = parent->GetDrawPos();
  return {Saturate32(int64_t{p.X} - parent->GetPropInt(PR_SCROLLX)),
          Saturate32(int64_t{p.Y} - parent->GetPropInt(PR_SCROLLY))};
}

TRect TZirkControl::ScreenClipRect() {
  TRect r = ClipRect();
  if (r.IsEmpty()) return r;
  TPoint o = parentOrigin();
  return OffsetRect(r, o.X, o.Y);
}

TPoint TZirkControl::ownPosition() {
  if (GetMotion()) return GetMotionPosition();
  if (posZoomed_) {
    int32_t zx = PositionZoomX(), zy = PositionZoomY();
    return {scaled(left_, zx > 0 ? zx : 256), scaled(top_, zy > 0 ? zy : 256)};
  }
  return {left_, top_};
}

TPoint TZirkControl::GetRotationCentre() {
  TPoint p = ownPosition();
  TPoint o = parentOrigin();
  return {Saturate32(int64_t{p.X} + o.X + plusX_), Saturate32(int64_t{p.Y} + o.Y + plusY_)};
}

TPoint TZirkControl::GetDrawPos() {
  const TPoint c = GetRotationCentre();
  return {Saturate32(int64_t{c.X} - offsetX_), Saturate32(int64_t{c.Y} - offsetY_)};
}

TRect TZirkControl::GetScreenRect() {
  const TPoint p = GetDrawPos();
  return Bounds(p.X, p.Y, width_, height_);
}

bool TZirkControl::GetContainerClip(TRect& r) {
  TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !IntersectRect(r, r, own)) return false;
  return TZirkObject::GetContainerClip(r);
}

void TZirkControl::Invalidate() {
  invalidateScreenRect(GetScreenRect());
}

void TZirkControl::invalidateScreenRect(TRect r) {
  if (IsScrapped() || !IsShown()) return;
  TZirkBase* screen = GetScreen();
  if (!screen) return;
  if (r.IsEmpty()) return;
  if (GetParent() && !GetParent()->GetContainerClip(r)) return;
  TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !IntersectRect(r, r, own)) return;
  InvalidateRect(r);
  for (TZirkObject* p = GetParent(); p; p = p->GetParent()) p->ChildInvalidated(r);
  screen->InvalidateRect(r);
}

bool TZirkControl::coverOnScreen(TRect& r) {
  TZirkBase* screen = GetScreen();
  if (!screen || GetDrawSurface() != screen->BackSurface()) return false;
  const TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !IntersectRect(r, r, own)) return false;
  return !GetParent() || GetParent()->GetContainerClip(r);
}

void TZirkControl::moveField(int32_t& field, int32_t value) {
  if (field == value) return;
  InvalidateTree();
  field = value;
  InvalidateTree();
}

void TZirkControl::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  InvalidateTree();
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  InvalidateTree();
}

void TZirkControl::SetMotionX(int32_t x) {
  moveField(motionX_, x);
}
void TZirkControl::SetMotionY(int32_t y) {
  moveField(motionY_, y);
}

void TZirkControl::Draw() {
  for (int32_t i = 0; i < GetChildCount(); ++i) GetChild(i)->Paint();
}

TZirkObject* TZirkControl::HitTest(TPoint point, TMouseMask mask) {
  if (!visible_ || IsScrapped()) return nullptr;
  if (!GetScreenRect().Contains(point)) return nullptr;
  for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
    if (TZirkObject* hit = GetChild(i)->HitTest(point, mask)) return hit;
  }
  if (ignoreMouse_ < 0 || ignoreMouse_ > 31 || !(mask & (1u << ignoreMouse_))) return nullptr;
  return this;
}

// --- motion ---------------------------------------------------------------------

void TZirkControl::StartMotion(const std::string& fileName) {
  Invalidate();
  motion_.reset();
  if (const TMotionFactory& factory = MotionFactory()) motion_ = factory(*this, fileName);
  Invalidate();
}

void TZirkControl::FreeMotion() {
  if (!motion_) return;
  Invalidate();
  motion_.reset();
  Invalidate();
}

bool TZirkControl::Tick() {
  if (!motion_) return false;
  if (!motion_->Step()) return false;
  QueueEvent(PR_ONPLAYEND);
  return GetPropInt(PR_AUTOSCRAP) != 0;
}

void TZirkControl::RestoreSurfaces() {
  TZirkObject::RestoreSurfaces();
  if (motion_) motion_->Reapply();
}

void TZirkControl::KeyRepeat(int32_t) {
  QueueEvent(PR_ONKEYREPEAT);
}

int32_t TZirkControl::firstKey(int32_t vk, std::initializer_list<TControlKey> keys) {
  const TZirkBaseList& scene = Scene();
  if (keyStep_ != scene.KeyStep()) {
    keyStep_ = scene.KeyStep();
    tickKeys_.clear();
  }
  uint64_t set = 0;
  for (const TControlKey& k : keys) set = set * 257 + static_cast<uint8_t>(k.Vk) + 1;
  auto chosen = std::find_if(tickKeys_.begin(), tickKeys_.end(),
                             [set](const auto& c) { return c.first == set; });
  if (chosen == tickKeys_.end()) {
    int32_t key = 0;
    for (const TControlKey& k : keys) {
      if (k.Applies && (k.PressOnly ? scene.KeyPressed(k.Vk) : scene.KeyRepeated(k.Vk))) {
        key = k.Vk;
        break;
      }
    }
    chosen = tickKeys_.insert(tickKeys_.end(), {set, key});
  }
  return chosen->second != 0 && chosen->second == vk ? vk : 0;
}

// --- properties --------------------------------------------------------------------

const TPropTable& TZirkControl::Properties() const {
  using P = TPropField<TZirkControl>;
  constexpr TPropChange kMove = TPropChange::Move;
  // The inherited events' labels, by their place in the save order.
  auto label = [](size_t slot) {
    return [slot](TZirkControl& c) -> std::string& { return c.labels_[slot]; };
  };
  static const TPropTable table(
      TZirkObject::Properties(),
      {
          P(PR_LEFT, &TZirkControl::left_, kMove),
          P(PR_TOP, &TZirkControl::top_, kMove),
          P(PR_WIDTH, &TZirkControl::width_, kMove),
          P(PR_HEIGHT, &TZirkControl::height_, kMove),
          P(PR_OFFSETX, &TZirkControl::offsetX_, kMove),
          P(PR_OFFSETY, &TZirkControl::offsetY_, kMove),
          P(PR_PLUSX, &TZirkControl::plusX_, kMove),
          P(PR_PLUSY, &TZirkControl::plusY_, kMove),
          P(PR_SCROLLX, &TZirkControl::scrollX_, kMove),
          P(PR_SCROLLY, &TZirkControl::scrollY_, kMove),
          P(PR_CLIPLEFT, &TZirkControl::clipLeft_, kMove),
          P(PR_CLIPTOP, &TZirkControl::clipTop_, kMove),
          P(PR_CLIPWIDTH, &TZirkControl::clipWidth_, kMove),
          P(PR_CLIPHEIGHT, &TZirkControl::clipHeight_, kMove),
          P(PR_COLOR, &TZirkControl::color_, TPropChange::Redraw),
          // Hidden objects report no dirt: invalidate while shown.
          P(PR_VISIBLE, &TZirkControl::visible_).Set([](TZirkControl& c, bool visible) {
            if (visible == c.visible_) return;
            if (!visible) c.InvalidateTree();
            c.visible_ = visible;
            if (visible) c.InvalidateTree();
          }),
          P(PR_IGNOREMOUSE, &TZirkControl::ignoreMouse_),
          P(PR_HANDLEKEY, &TZirkControl::handleKey_),
          P(PR_CURSOR, &TZirkControl::cursor_),
          P(PR_POSZOOMED, &TZirkControl::posZoomed_, kMove),
          P(PR_ANIPAUSED, &TZirkControl::aniPaused_).Get([](TZirkControl& c) {
            return c.aniPaused_ || (c.GetParent() && c.GetParent()->GetPropInt(PR_ANIPAUSED) != 0);
          }),
          P(PR_ONLBTNDOWN, label(0)),
          P(PR_ONLBTNUP, label(1)),
          P(PR_ONMOUSEMOVE, label(2)),
          P(PR_ONMOUSEOUT, label(3)),
          P(PR_ONKEYREPEAT, label(4)),
          P(PR_ONPLAYEND, label(5)),
      });
  return table;
}

// --- save record ------------------------------------------------------------------

void TZirkControl::SaveToStream(TKwStream& stream) {
  TZirkObject::SaveToStream(stream);
  TRecordWriter out(stream);
  for (int32_t v :
       {left_, top_, width_, height_, offsetX_, offsetY_, plusX_, plusY_, scrollX_, scrollY_,
        clipLeft_, clipTop_, clipWidth_, clipHeight_, color_, ignoreMouse_, cursor_}) {
    out.Int(v);
  }
  for (bool flag : {visible_, handleKey_, aniPaused_, posZoomed_}) out.Bool(flag);
  for (const std::string& label : labels_) out.Str(label);
  SaveChildren(*this, stream);
}

void TZirkControl::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkObject::LoadFromStream(stream, version);
  InvalidateTree();
  TRecordReader in(stream, version);
  for (int32_t* v : {&left_, &top_, &width_, &height_, &offsetX_, &offsetY_, &plusX_, &plusY_,
                     &scrollX_, &scrollY_, &clipLeft_, &clipTop_, &clipWidth_, &clipHeight_,
                     &color_, &ignoreMouse_, &cursor_}) {
    *v = in.Int();
  }
  for (bool* flag : {&visible_, &handleKey_, &aniPaused_, &posZoomed_}) *flag = in.Bool();
  for (std::string& label : labels_) label = in.Str();
  LoadChildren(*this, stream, version);
  InvalidateTree();
}

}  // namespace zirk
