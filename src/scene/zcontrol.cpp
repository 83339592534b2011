#include "scene/zcontrol.h"

#include <algorithm>
#include <climits>

#include "base/records.h"
#include "base/vocab.h"
#include "scene/factory.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

// The inherited events' labels, in save order.
constexpr std::array<int, 6> kLabelIds = {PR_ONLBTNDOWN, PR_ONLBTNUP,    PR_ONMOUSEMOVE,
                                          PR_ONMOUSEOUT, PR_ONKEYREPEAT, PR_ONPLAYEND};

int labelSlot(int id) {
  for (size_t i = 0; i < kLabelIds.size(); ++i) {
    if (kLabelIds[i] == id) return static_cast<int>(i);
  }
  return -1;
}

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
  return {Saturate32(int64_t{parent->GetDrawLeft()} - parent->GetPropInt(PR_SCROLLX)),
          Saturate32(int64_t{parent->GetDrawTop()} - parent->GetPropInt(PR_SCROLLY))};
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

int32_t TZirkControl::GetDrawLeft() {
  return Saturate32(int64_t{GetRotationCentre().X} - offsetX_);
}
int32_t TZirkControl::GetDrawTop() {
  return Saturate32(int64_t{GetRotationCentre().Y} - offsetY_);
}

TRect TZirkControl::GetScreenRect() {
  return Bounds(GetDrawLeft(), GetDrawTop(), width_, height_);
}

bool TZirkControl::GetContainerClip(TRect& r) {
  TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !IntersectRect(r, r, own)) return false;
  return TZirkObject::GetContainerClip(r);
}

void TZirkControl::Invalidate() {
  if (IsScrapped() || !IsShown()) return;
  TZirkBase* screen = GetScreen();
  if (!screen) return;
  TRect r = GetScreenRect();
  if (r.IsEmpty()) return;
  if (GetParent() && !GetParent()->GetContainerClip(r)) return;
  TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !IntersectRect(r, r, own)) return;
  InvalidateRect(r);
  screen->InvalidateRect(r);
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
  TRect own = ScreenClipRect();
  if (!own.IsEmpty() && !own.Contains(point)) return nullptr;
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

void TZirkControl::KeyRepeat() {
  QueueEvent(PR_ONKEYREPEAT);
}

// --- properties --------------------------------------------------------------------

void TZirkControl::GetProp(int id, TCustomParam& value) {
  switch (id) {
    case PR_LEFT:
      value.SetInteger(left_);
      return;
    case PR_TOP:
      value.SetInteger(top_);
      return;
    case PR_WIDTH:
      value.SetInteger(width_);
      return;
    case PR_HEIGHT:
      value.SetInteger(height_);
      return;
    case PR_OFFSETX:
      value.SetInteger(offsetX_);
      return;
    case PR_OFFSETY:
      value.SetInteger(offsetY_);
      return;
    case PR_PLUSX:
      value.SetInteger(plusX_);
      return;
    case PR_PLUSY:
      value.SetInteger(plusY_);
      return;
    case PR_SCROLLX:
      value.SetInteger(scrollX_);
      return;
    case PR_SCROLLY:
      value.SetInteger(scrollY_);
      return;
    case PR_CLIPLEFT:
      value.SetInteger(clipLeft_);
      return;
    case PR_CLIPTOP:
      value.SetInteger(clipTop_);
      return;
    case PR_CLIPWIDTH:
      value.SetInteger(clipWidth_);
      return;
    case PR_CLIPHEIGHT:
      value.SetInteger(clipHeight_);
      return;
    case PR_COLOR:
      value.SetInteger(color_);
      return;
    case PR_VISIBLE:
      value.SetBoolean(visible_);
      return;
    case PR_IGNOREMOUSE:
      value.SetInteger(ignoreMouse_);
      return;
    case PR_HANDLEKEY:
      value.SetBoolean(handleKey_);
      return;
    case PR_CURSOR:
      value.SetInteger(cursor_);
      return;
    case PR_POSZOOMED:
      value.SetBoolean(posZoomed_);
      return;
    case PR_ANIPAUSED: {
      bool paused = aniPaused_;
      if (!paused && GetParent()) paused = GetParent()->GetPropInt(PR_ANIPAUSED) != 0;
      value.SetBoolean(paused);
      return;
    }
    default: {
      int slot = labelSlot(id);
      if (slot >= 0) {
        value.SetString(labels_[static_cast<size_t>(slot)]);
        return;
      }
      TZirkObject::GetProp(id, value);
    }
  }
}

void TZirkControl::SetProp(int id, const TCustomParam& value) {
  switch (id) {
    case PR_LEFT:
      moveField(left_, value.AsInteger());
      return;
    case PR_TOP:
      moveField(top_, value.AsInteger());
      return;
    case PR_WIDTH:
      moveField(width_, value.AsInteger());
      return;
    case PR_HEIGHT:
      moveField(height_, value.AsInteger());
      return;
    case PR_OFFSETX:
      moveField(offsetX_, value.AsInteger());
      return;
    case PR_OFFSETY:
      moveField(offsetY_, value.AsInteger());
      return;
    case PR_PLUSX:
      moveField(plusX_, value.AsInteger());
      return;
    case PR_PLUSY:
      moveField(plusY_, value.AsInteger());
      return;
    case PR_SCROLLX:
      moveField(scrollX_, value.AsInteger());
      return;
    case PR_SCROLLY:
      moveField(scrollY_, value.AsInteger());
      return;
    case PR_CLIPLEFT:
      moveField(clipLeft_, value.AsInteger());
      return;
    case PR_CLIPTOP:
      moveField(clipTop_, value.AsInteger());
      return;
    case PR_CLIPWIDTH:
      moveField(clipWidth_, value.AsInteger());
      return;
    case PR_CLIPHEIGHT:
      moveField(clipHeight_, value.AsInteger());
      return;
    case PR_COLOR:
      if (color_ != value.AsInteger()) {
        color_ = value.AsInteger();
        Invalidate();
      }
      return;
    case PR_VISIBLE: {
      bool v = value.AsBoolean();
      if (v == visible_) return;
      if (!v) InvalidateTree();
      visible_ = v;
      if (v) InvalidateTree();
      return;
    }
    case PR_IGNOREMOUSE:
      ignoreMouse_ = value.AsInteger();
      return;
    case PR_HANDLEKEY:
      handleKey_ = value.AsBoolean();
      return;
    case PR_CURSOR:
      cursor_ = value.AsInteger();
      return;
    case PR_ANIPAUSED:
      aniPaused_ = value.AsBoolean();
      return;
    case PR_POSZOOMED: {
      bool v = value.AsBoolean();
      if (v == posZoomed_) return;
      InvalidateTree();
      posZoomed_ = v;
      InvalidateTree();
      return;
    }
    default: {
      int slot = labelSlot(id);
      if (slot >= 0) {
        labels_[static_cast<size_t>(slot)] = value.AsString();
        return;
      }
      TZirkObject::SetProp(id, value);
    }
  }
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
