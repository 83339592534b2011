#pragma once
// The root of every script-visible scene object. Each object lives in one
// scene, hangs under a parent (a screen or another object) that owns it, and
// answers the numbered property getters and setters; ids without a slot
// read as zero or the empty string and ignore writes. Everything an object
// reports to scripts goes through the scene's event queue.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/lists.h"
#include "base/streams.h"
#include "base/vocab.h"
#include "script/props.h"

namespace zirk {

class TZirkBaseList;
class TZirkBase;
class TCustomDIBX;
class TClipManager;
class TZirkMotionBase;
class TPropTable;

// The sets of mouse transparency values (PR_IGNOREMOUSE, IM_) a hit test
// accepts: bit v of a mask accepts objects whose value is v.
using TMouseMask = uint32_t;
inline constexpr TMouseMask kLeftClickMask = (1u << IM_NONE) | (1u << IM_RCLICK);   // 17
inline constexpr TMouseMask kRightClickMask = (1u << IM_NONE) | (1u << IM_LCLICK);  // 9
inline constexpr TMouseMask kMouseMoveMask = 0x1Fu & ~(1u << IM_ALL);               // 29
inline constexpr TMouseMask kAllMouseMask = 0x1Fu;                                  // 31

// Names beginning with this character belong to helper objects of other
// objects (film tracks, particles, preview entries) and are never saved.
inline constexpr char kHiddenNameChar = '\x01';

class TZirkObject : public TPropObject {
 public:
  explicit TZirkObject(TZirkBaseList& scene);
  ~TZirkObject() override;
  TZirkObject(const TZirkObject&) = delete;
  TZirkObject& operator=(const TZirkObject&) = delete;

  TZirkBaseList& Scene() const { return *scene_; }
  // LT_ kind; 0 for objects scripts cannot create.
  virtual int32_t GetKind() const { return 0; }
  // A number unique in the process, for references that must survive the
  // object being freed (look it up again instead of keeping a pointer).
  uint64_t Serial() const { return serial_; }

  // --- properties -------------------------------------------------------
  // Answered by the kind's property table (scene/proptable.h): a kind
  // declares its table here, starting from its base class's. The typed
  // helpers below go through the same slots (so an override is reached).
  virtual const TPropTable& Properties() const;
  void GetProp(int id, TCustomParam& value) override;
  void SetProp(int id, const TCustomParam& value) override;
  int32_t GetPropInt(int id);
  std::string GetPropStr(int id);
  long double GetPropFloat(int id);
  void SetPropInt(int id, int32_t value);
  void SetPropStr(int id, const std::string& value);
  void SetPropFloat(int id, long double value);

  // --- naming -----------------------------------------------------------
  const std::string& GetName() const { return name_; }
  // Registers the name in the scene (an empty name unregisters). A name held
  // by another object of the scene raises EZirkObjectError.
  void SetName(const std::string& name);

  // --- tree -------------------------------------------------------------
  TZirkObject* GetParent() const { return parent_; }
  // Moves the object under another object of the same scene (nullptr: the
  // active screen). Refused, leaving everything as it was, when the new
  // parent is the object itself or one of its descendants.
  bool SetParent(TZirkObject* parent);
  int32_t GetChildCount() const { return static_cast<int32_t>(children_.size()); }
  TZirkObject* GetChild(int32_t index) const;
  int32_t IndexOfChild(const TZirkObject* child) const;
  bool IsAncestorOf(const TZirkObject* other) const;
  // Children in drawing order: by priority, then order.
  void SortChildren();
  // Adds a child at its place in drawing order, after the children it ties
  // with, as appending and sorting would: an emitter adding thousands of
  // children does not sort them all again for each.
  void InsertChild(std::unique_ptr<TZirkObject> child);
  // After one child's priority or order changed, or it was appended: moves
  // it alone to where a stable sort would put it (particles change theirs as
  // they are born).
  void PlaceChild(const TZirkObject* child);
  // Told, while this object is whole, that a child is leaving it (moved,
  // scrapped or about to be freed), so pointers to it can be dropped.
  // Children are always freed before their parent.
  virtual void ChildRemoved(TZirkObject*) {}

  int32_t GetPriority() const { return priority_; }
  int32_t GetOrder() const { return order_; }
  // Stores the priority, gives a fresh order value (on top of its priority),
  // re-sorts the parent's children and invalidates.
  void SetPriority(int32_t priority);
  void SetOrder(int32_t order);
  int32_t GetTag() const { return tag_; }
  void SetTag(int32_t tag) { tag_ = tag; }

  // The screen the object is on (walking up the parents), or nullptr.
  virtual TZirkBase* GetScreen();
  // The surface the object draws into: its parent's, which is in the end
  // its screen's back surface unless a container between hands its
  // children another.
  virtual TCustomDIBX* GetDrawSurface();

  // --- life cycle -------------------------------------------------------
  // Runs once the object is attached, named and ticking: the place for set-up
  // that needs the derived class whole (a constructor cannot dispatch to it).
  virtual void AfterCreate() {}
  // Lazy delete: the object leaves ticking, drawing, hit tests and the name
  // registry now and is freed at the scene's fixed point of the tick.
  void Scrap();
  bool IsScrapped() const { return scrapped_; }
  // One frame; true asks the scene to take the object out and free it now.
  virtual bool Tick() { return false; }
  // True while held by a cabinet (not ticked).
  bool InCabinet() const;
  virtual void CabinetPause() {}
  virtual void CabinetResume() {}
  virtual bool IsBusy() { return false; }
  virtual void ReleaseSurfaces();
  virtual void RestoreSurfaces();

  // --- geometry and drawing (neutral for non-visual objects) --------------
  virtual bool GetVisible() { return false; }
  // Visible with every ancestor visible.
  bool IsShown();
  // The draw left and top as one point: a child's position is its parent's
  // plus its own, so one call per level keeps a deep tree linear.
  virtual TPoint GetDrawPos() { return {0, 0}; }
  int32_t GetDrawLeft() { return GetDrawPos().X; }
  int32_t GetDrawTop() { return GetDrawPos().Y; }
  virtual TRect GetScreenRect() { return {}; }
  virtual TRect GetBoundsRect() { return GetScreenRect(); }
  // Narrows r to what the object lets its children show; false when nothing
  // is left.
  virtual bool GetContainerClip(TRect& r);
  virtual void Invalidate() {}
  // The object and every descendant (children may lie outside the parent).
  void InvalidateTree();
  // Hears of changes inside the object (a host of private screens).
  virtual void InvalidateRect(const TRect&) {}
  // A descendant's invalidation on its way to the screen: an object that
  // moves what its children draw widens the rectangle to where they land.
  virtual void ChildInvalidated(TRect&) {}
  // Draws into the clip the caller set on the draw surface.
  virtual void Draw() {}
  // Narrows the surface clip to the object's own clip, then Draw.
  void Paint();
  // The object's own clip on the screen; empty = none.
  virtual TRect OwnScreenClip() { return {}; }
  virtual TZirkObject* HitTest(TPoint, TMouseMask) { return nullptr; }
  virtual void CollectClipRects(TClipManager&) {}

  // --- surfaces of picture objects -----------------------------------------
  virtual TCustomDIBX* GetBackSurface() { return nullptr; }
  virtual void SetBackSurface(TCustomDIBX*) {}
  virtual TCustomDIBX* GetMaskSurface() { return nullptr; }
  virtual void SetMaskSurface(TCustomDIBX*) {}
  virtual bool GetSizeDirty() { return false; }
  virtual void SetSizeDirty(bool) {}
  // A property that shapes the object's layout changed (TPropChange::Relayout).
  virtual void LayoutChanged() {}

  // --- motion -----------------------------------------------------------
  virtual TZirkMotionBase* GetMotion() { return nullptr; }

  // --- input (points in screen coordinates) -------------------------------
  virtual void LButtonDown(int32_t x, int32_t y);
  virtual void LButtonUp(int32_t x, int32_t y);
  virtual void RButtonDown(int32_t x, int32_t y);
  virtual void MouseMove(int32_t x, int32_t y);
  virtual void MouseOut();
  virtual void CaptureTick() {}
  // Keys reach the focused control: KeyDown for a key pressed in this tick,
  // then KeyRepeat for every key pressed or auto-repeated in it (virtual-key
  // codes); the scene's key tables hold the same for the whole tick.
  virtual void KeyDown(int32_t) {}
  virtual void KeyRepeat(int32_t) {}
  // A right click nobody took, offered to the menus of the scene; true when
  // the object took it to close (which ends the offer).
  virtual bool RightClickClose() { return false; }
  virtual int32_t GetHoverCursor() { return 0; }

  // --- button groups (called on the buttons' parent) ------------------------
  // Keeps one selected button per group index among the children: when
  // `button` is selected, the other selected group buttons (IGroupButton)
  // of its group are set up through SetDown(false). `setUp` tells that
  // the button was just set up: a group whose buttons do not allow all up
  // (PR_ALLOWALLUP) keeps it down when no other button of the group is.
  void UpdateButtonGroup(TZirkObject* button, bool setUp = false);
  // Hands allow-all-up to every group button of the group.
  void SetGroupAllowAllUp(int32_t groupIndex, bool allowAllUp);

  // --- events -----------------------------------------------------------
  // Queues the event when the object's label for it is not empty.
  void QueueEvent(int32_t propId, const TArrayString& args = {});
  // The same, unless an event of that id is already pending for the object.
  void QueueEventOnce(int32_t propId, const TArrayString& args = {});

  // --- save record --------------------------------------------------------
  // Name, priority, order (from 104), tag (from 120); subclasses append.
  virtual void SaveToStream(TKwStream& stream);
  virtual void LoadFromStream(TKwStream& stream, int32_t version);

 protected:
  // A screen point as event arguments relative to the draw position.
  TArrayString localPoint(int32_t x, int32_t y);
  // Children are owned here; the scene moves them between parents.
  std::vector<std::unique_ptr<TZirkObject>> children_;

 private:
  friend class TZirkBaseList;

  TZirkBaseList* scene_;
  TZirkObject* parent_ = nullptr;
  std::string name_;
  int32_t priority_ = 0;
  int32_t order_ = 0;
  int32_t tag_ = 0;
  uint64_t serial_;
  bool scrapped_ = false;
};

// Non-visual objects (sounds, timers, downloads, property motions).
class TZirkComponent : public TZirkObject {
 public:
  using TZirkObject::TZirkObject;
};

class EZirkObjectError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace zirk
