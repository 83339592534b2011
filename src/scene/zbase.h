#pragma once
// A screen: the root control of one of the scene's two pictures (BASE0,
// BASE1). It owns a back surface the size of the scene, collects the dirty
// rectangles its objects report, paints them, and keeps the mouse state of
// the widgets on it (position, pending clicks, the captured control).

#include <memory>
#include <unordered_map>
#include <vector>

#include "scene/clipmgr.h"

#include "scene/zcontrol.h"

namespace zirk {

class TZirkBase : public TZirkControl {
 public:
  TZirkBase(TZirkBaseList& scene, int32_t index);
  ~TZirkBase() override;

  int32_t Index() const { return index_; }
  TZirkBase* GetScreen() override { return this; }
  TCustomDIBX* GetDrawSurface() override { return back_.get(); }
  TCustomDIBX* BackSurface() { return back_.get(); }
  // Resizes the back surface (scene size) and marks it all dirty.
  void Resize(int32_t width, int32_t height);

  TRect GetScreenRect() override { return Rect(0, 0, Width(), Height()); }
  TPoint GetDrawPos() override { return {0, 0}; }
  bool GetContainerClip(TRect& r) override;
  void Invalidate() override { InvalidateRect(GetScreenRect()); }
  // Adds a rectangle (screen coordinates) to the dirty list, clipped to the
  // screen; it is joined with each listed one it overlaps or whose common
  // bounds hold no more pixels than the two apart, so listed rectangles
  // never overlap.
  void InvalidateRect(const TRect& r) override;
  const std::vector<TRect>& DirtyRects() const { return dirty_; }
  void ClearDirtyRects() { dirty_.clear(); }
  // Fills each dirty rectangle with the screen colour (black when none) and
  // draws the objects into it; returns the painted rectangles and empties
  // the list. First the shown objects report what they cover opaquely
  // (CollectClipRects); a rectangle wholly under one such cover is not
  // filled, and in each rectangle an object whose whole picture, with its
  // children, lies outside it or under an opaque rectangle drawn after it
  // is skipped.
  std::vector<TRect> PaintDirty();
  // Whether the paint in progress may skip the object inside clip.
  bool SkipsPaint(const TZirkObject* object, const TRect& clip) const;
  // Hit test of the objects on the screen (the screen itself is never hit).
  TZirkObject* HitTest(TPoint point, TMouseMask mask) override;

  // --- mouse state ----------------------------------------------------------
  TPoint MousePos() const { return mouse_; }
  bool LeftClickPending = false;
  bool RightClickPending = false;
  TZirkObject* Captured() const { return captured_; }
  bool CaptureLeft() const { return captureLeft_; }
  // A widget takes the left press: clears the pending flag and captures.
  void CaptureMouse(TZirkObject* control, bool leftButton = true);
  void ReleaseCapture();
  TZirkObject* Hovered() const { return hovered_; }

  // Forgets an object that leaves the screen (captured, hovered).
  void ForgetObject(const TZirkObject* object);

 private:
  friend class TZirkBaseList;
  friend class TSceneInput;

  void releaseSurface();
  void restoreSurface();
  // Collects the opaque rectangles of the object's shown subtree; returns
  // the subtree's screen bounds.
  TRect collectCovers(TZirkObject* object);

  struct TCover {
    int32_t laterRecords;  // first record made after the object's subtree
    TRect bounds;          // screen bounds of the shown subtree
  };

  int32_t index_;
  std::unique_ptr<TCustomDIBX> back_;
  std::vector<TRect> dirty_;
  TPoint mouse_{-1, -1};
  TZirkObject* captured_ = nullptr;
  bool captureLeft_ = false;
  TZirkObject* hovered_ = nullptr;
  TClipManager clips_;
  std::unordered_map<const TZirkObject*, TCover> covers_;
};

}  // namespace zirk
