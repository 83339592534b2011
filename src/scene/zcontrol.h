#pragma once
// The visual scene object: position and size, anchor offset, clip
// rectangle, colour, visibility, mouse transparency, key handling, scroll
// of its children, the motion that can drive it, and its inherited mouse
// and key events. Widgets, pictures and effects derive from it.

#include <array>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "scene/motion.h"
#include "scene/zobject.h"

namespace zirk {

// A key a control answers to, listed in the order the control tests its
// keys.
struct TControlKey {
  int32_t Vk = 0;
  // Only a press in this tick counts, not an auto-repeat.
  bool PressOnly = false;
  // Whether the control's rule for the key holds now; a key whose rule does
  // not hold leaves the turn to the next one.
  bool Applies = true;
};

class TZirkControl : public TZirkObject {
 public:
  explicit TZirkControl(TZirkBaseList& scene);
  ~TZirkControl() override;

  const TPropTable& Properties() const override;

  // --- fields (read directly by subclasses; written through the setters) --
  int32_t Left() const { return left_; }
  int32_t Top() const { return top_; }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t OffsetX() const { return offsetX_; }
  int32_t OffsetY() const { return offsetY_; }
  int32_t PlusX() const { return plusX_; }
  int32_t PlusY() const { return plusY_; }
  int32_t ScrollX() const { return scrollX_; }
  int32_t ScrollY() const { return scrollY_; }
  int32_t Color() const { return color_; }
  int32_t IgnoreMouse() const { return ignoreMouse_; }
  bool HandleKey() const { return handleKey_; }
  bool PosZoomed() const { return posZoomed_; }
  int32_t MotionX() const { return motionX_; }
  int32_t MotionY() const { return motionY_; }
  // The clip rectangle in the coordinates of PR_LEFT / PR_TOP; empty = none.
  TRect ClipRect() const;
  // The clip rectangle on the screen, or an empty one when none is set.
  TRect ScreenClipRect();

  // Width and height stored without redraw (subclasses sizing themselves).
  void StoreSize(int32_t width, int32_t height) {
    width_ = width;
    height_ = height;
  }

  // Position and size at once: invalidate, store, invalidate; nothing when
  // unchanged.
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  // The motion offset: on a change invalidate, store, invalidate.
  void SetMotionX(int32_t x);
  void SetMotionY(int32_t y);

  // --- drawing position ---------------------------------------------------
  bool GetVisible() override { return visible_; }
  // The position a running motion gives the control (its motion offset).
  TPoint GetMotionPosition() const { return {motionX_, motionY_}; }
  // The screen point a rotated picture turns around.
  TPoint GetRotationCentre();
  TPoint GetDrawPos() override;
  TRect GetScreenRect() override;
  TRect OwnScreenClip() override { return ScreenClipRect(); }
  bool GetContainerClip(TRect& r) override;
  void Invalidate() override;
  // Children, in order, each through its own clip.
  void Draw() override;
  // Deepest visible control under the point whose mouse transparency is in
  // the mask; children are tried from the top (last) down. Clip rectangles
  // limit drawing only: a point a clip hides still reaches the object and
  // its children.
  TZirkObject* HitTest(TPoint point, TMouseMask mask) override;
  // The zoom that scales PR_LEFT / PR_TOP when PR_POSZOOMED is on.
  virtual int32_t PositionZoomX() { return 256; }
  virtual int32_t PositionZoomY() { return 256; }

  // --- motion -------------------------------------------------------------
  TZirkMotionBase* GetMotion() override { return motion_.get(); }
  // Starts a motion file on the control through the installed factory.
  void StartMotion(const std::string& fileName);
  void FreeMotion();
  // Steps the motion; queues PR_ONPLAYEND at its end and asks to be scrapped
  // then when PR_AUTOSCRAP reads true.
  bool Tick() override;
  void RestoreSurfaces() override;

  // --- input --------------------------------------------------------------
  int32_t GetHoverCursor() override { return cursor_; }
  // Queues PR_ONKEYREPEAT.
  void KeyRepeat(int32_t vk) override;

  // Geometry, labels and children follow the base record.
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  // Position before the parent's offset: PR_LEFT/PR_TOP (zoomed when asked)
  // or the motion position.
  TPoint ownPosition();
  // The parent's origin for PR_LEFT / PR_TOP: its draw position less its scroll.
  TPoint parentOrigin();
  // The keys a control tells apart are alternatives within a tick: of those
  // that fired in it (pressed, or for the repeating ones auto-repeated) and
  // whose rule holds, only the first in the control's order acts, once, in
  // the key-repeat call for that key. Returns the key when this call, for
  // vk, is that one; else 0. The key is chosen at the tick's first call
  // with these keys, from the state before any key acted: later calls of
  // the tick keep that choice, so a key that changed the state cannot let
  // another act. A class and its base may each keep a set of keys.
  int32_t firstKey(int32_t vk, std::initializer_list<TControlKey> keys);
  // Invalidate, store, invalidate (the control and its descendants).
  void moveField(int32_t& field, int32_t value);
  // Reports r (screen coordinates), narrowed by the parent's container clip
  // and the own clip and widened by the ancestors, to the screen.
  void invalidateScreenRect(TRect r);
  // Narrows r (screen coordinates), a part the control paints, to what of
  // it lands on the screen's own surface through the own clip and the
  // parent's; false when nothing does, or when the control draws on another
  // surface (a wave moves each line sideways). Opaque cover reported to the
  // redraw's clip manager goes through here.
  bool coverOnScreen(TRect& r);

 private:
  int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  int32_t offsetX_ = 0, offsetY_ = 0, plusX_ = 0, plusY_ = 0;
  int32_t scrollX_ = 0, scrollY_ = 0;
  int32_t motionX_ = 0, motionY_ = 0;
  int32_t clipLeft_ = 0, clipTop_ = 0, clipWidth_ = 0, clipHeight_ = 0;
  int32_t color_ = -1;
  // The keys firstKey chose in the scene's input step keyStep_, by the
  // codes of the set each was chosen from.
  uint64_t keyStep_ = 0;
  std::vector<std::pair<uint64_t, int32_t>> tickKeys_;
  int32_t ignoreMouse_ = IM_NONE;
  int32_t cursor_ = 0;
  bool visible_ = true;
  bool handleKey_ = false;
  bool aniPaused_ = false;
  bool posZoomed_ = false;
  // Script labels of the inherited events.
  std::array<std::string, 6> labels_;
  std::unique_ptr<TZirkMotionBase> motion_;
};

}  // namespace zirk
