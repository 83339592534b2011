#pragma once
// The scene: two screens and every object on them, the name registry, the
// event queue, the per-frame tick and painting, and the screen flip with a
// transition; keys, focus and the mouse go through its input router
// (scene/input.h). The program has one global scene and a cinema makes
// private ones (screen pairs that live on their host's clocks and queue),
// so several instances live side by side.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "scene/events.h"
#include "scene/input.h"
#include "scene/zbase.h"

namespace zirk {

class TCustomWipe;
class TSceneTransition;

class TZirkBaseList : public TPropObject {
 public:
  static constexpr int32_t kDefaultWidth = 640;
  static constexpr int32_t kDefaultHeight = 480;
  // Typed constants of the key repeat.
  static constexpr uint32_t KeyRepeatDelay = TSceneInput::KeyRepeatDelay;
  static constexpr uint32_t KeyRepeatInterval = TSceneInput::KeyRepeatInterval;

  TZirkBaseList(int32_t width = kDefaultWidth, int32_t height = kDefaultHeight);
  // A private screen pair (a cinema's): it reads the host's scene clock and
  // frame interval, and the events its objects post go to the host's queue,
  // the one the call manager drains. The host outlives the pair.
  TZirkBaseList(TZirkBaseList& host, int32_t width, int32_t height);
  ~TZirkBaseList() override;
  TZirkBaseList(const TZirkBaseList&) = delete;
  TZirkBaseList& operator=(const TZirkBaseList&) = delete;

  // --- objects ------------------------------------------------------------
  // Constructs an object of class T on the scene under parent (nullptr: the
  // active screen) and registers it under name, or "object" + counter when
  // the name is empty.
  template <typename T, typename... Args>
  T* Create(TZirkObject* parent, const std::string& name, Args&&... args) {
    static_assert(std::is_base_of_v<TZirkObject, T>);
    auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = object.get();
    adopt(std::move(object), parent, name);
    return raw;
  }
  // Creates an object by LT_ kind through the kind factory; nullptr for a
  // kind nobody registered.
  TZirkObject* CreateKind(int32_t kind, TZirkObject* parent, const std::string& name);
  // Takes over an object built elsewhere (the kind factory, loaders).
  TZirkObject* Adopt(std::unique_ptr<TZirkObject> object, TZirkObject* parent,
                     const std::string& name);

  TZirkObject* FindComponentByName(const std::string& name) const;
  // The first prefix + n ("%s%d", n from 0) no object of the scene uses.
  std::string MakeUniqueName(const std::string& prefix) const;
  // Whether the object is alive in this scene (not freed, not scrapped).
  bool Contains(const TZirkObject* object) const;
  TZirkObject* FindBySerial(uint64_t serial) const;
  // Every live object in creation order (the tick order); screens excluded.
  const std::vector<TZirkObject*>& Objects() const { return objects_; }
  int32_t ObjectCount() const { return static_cast<int32_t>(objects_.size()); }
  // Objects scrapped and not yet freed.
  int32_t DeletedCount() const { return static_cast<int32_t>(deleted_.size()); }
  // Takes the object (with its children) out and frees it now; the tick
  // loop stays on the object that follows. Never for an object whose own
  // code is running, nor one of its ancestors: use Scrap there.
  void FreeObject(TZirkObject* object);
  // The object's index in the tick order, -1 when it is not there.
  int32_t IndexOfObject(const TZirkObject* object) const;
  // Frees every object (screens stay).
  void ClearObjects();

  // --- screens --------------------------------------------------------------
  TZirkBase* GetBase(int32_t index) const;
  int32_t ActiveIndex = 0;
  TZirkBase* ActiveBase() const { return GetBase(ActiveIndex); }
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t Color() const { return color_; }
  // PR_WIDTH, PR_HEIGHT and PR_COLOR of the scene: a film's owner learns
  // the picture's size and colour through these setters.
  void GetProp(int id, TCustomParam& value) override;
  void SetProp(int id, const TCustomParam& value) override;
  void SetWidth(int32_t width);
  void SetHeight(int32_t height);
  void SetColor(int32_t color);
  int32_t DisplayScale = 100;
  // The flag byte of the most recent screen flip (a cinema redraws all of
  // itself while it is set).
  uint8_t FlipFlag = 0;

  // The scene owning this private pair, nullptr for a scene of its own.
  TZirkBaseList* Host() const { return host_; }

  // --- time: inputs the main loop (or a test) sets; a private pair reads its
  // host's ----------------------------------------------------------------------
  uint32_t SceneClock() const { return host_ ? host_->SceneClock() : sceneClock_; }  // ms
  // The nominal ms per tick (the measured time of a tick is ElapsedTime).
  uint32_t FrameInterval() const { return host_ ? host_->FrameInterval() : frameInterval_; }
  void SetSceneClock(uint32_t ms) { sceneClock_ = ms; }
  void SetFrameInterval(uint32_t ms) { frameInterval_ = ms; }

  // --- events ---------------------------------------------------------------
  TTimerList& Events() { return host_ ? host_->Events() : events_; }

  // --- ticking --------------------------------------------------------------
  // Ticks every object that is not paused and not in a cabinet, then queues
  // its PR_ONIDLE event when it has an idle label and none is pending; an
  // object whose Tick returns true is freed at once; scrapped objects are
  // freed afterwards, before painting.
  void TickObjects();
  // The index of the object being ticked; a ticking object may move it.
  int32_t TickIndex = 0;
  void FreeDeleted();

  // --- painting -----------------------------------------------------------
  using Presenter = std::function<void(TCustomDIBX& picture, const std::vector<TRect>& changed)>;
  void SetPresenter(Presenter presenter) { presenter_ = std::move(presenter); }
  // Paints the dirty rectangles of both screens and presents the active
  // screen's changes (or, during a transition, its whole blended picture).
  void Paint();
  // What the last Paint changed in the presented picture (scene
  // coordinates), kept until the next Paint or ClearPaintedRects: the
  // active screen's painted rectangles, or the whole picture while a
  // transition runs. A host composing a private pair copies these from
  // PresentedSurface.
  const std::vector<TRect>& PaintedRects() const { return painted_; }
  void ClearPaintedRects() { painted_.clear(); }
  // The picture shown: the active back surface, or the transition's blend.
  TCustomDIBX* PresentedSurface();
  // Marks both screens wholly dirty.
  void RedrawAll();

  // --- screen flip ------------------------------------------------------------
  // Makes screen `index` active and redraws both screens; for a WP_ id
  // other than 0 it also starts a transition from that screen to the other
  // one over `length` film ticks, begun `elapsed` ticks ago, and returns it
  // for its parameters. When the transition ends by itself the other
  // screen becomes active. Called again with the same screen and transition
  // (films do so every tick) it only sets the transition's time, which
  // from then on moves only by such calls, and returns nullptr.
  TCustomWipe* FlipScreensWithWipe(int32_t index, int32_t wipeId, uint8_t flag, bool restart,
                                   int32_t elapsed, int32_t length);
  TCustomWipe* CurrentWipe() const;
  bool WipeRunning() const { return transition_ != nullptr; }

  // --- surfaces around a display-mode change -----------------------------
  void ReleaseSurfaces();
  void RestoreSurfaces();
  // The sound switch: calls the installed media hook on a change.
  void SetMediaEnabled(bool enabled);
  bool MediaEnabled() const { return mediaEnabled_; }

  // --- keys and focus (the input router's) -----------------------------------
  TSceneInput& Input() { return input_; }
  bool KeyPressed(int32_t vk) const { return input_.KeyPressed(vk); }
  bool KeyRepeated(int32_t vk) const { return input_.KeyRepeated(vk); }
  bool KeyDown(int32_t vk) const { return input_.KeyHeld(vk); }
  uint64_t KeyStep() const { return input_.KeyStep(); }
  TZirkObject* Focused() const { return input_.Focused(); }
  void SetFocus(TZirkObject* object) { input_.SetFocus(object); }
  // The next input step focuses the first focusable control.
  void SetFocusPending() { input_.SetFocusPending(); }
  bool FocusPending() const { return input_.FocusPending(); }
  TZirkList& Menus() { return menus_; }

  // --- input as the main window feeds it ------------------------------------
  void InputMouseMove(int32_t x, int32_t y) { input_.MouseMove(x, y); }
  void InputMouseDown(TMouseButton button, int32_t x, int32_t y) { input_.MouseDown(button, x, y); }
  void InputMouseUp(TMouseButton button, int32_t x, int32_t y) { input_.MouseUp(button, x, y); }
  void InputWheel(int32_t delta) { input_.Wheel(delta); }
  int32_t WheelDelta() const { return input_.WheelDelta(); }
  void InputKeyDown(int32_t vk) { input_.KeyDown(vk); }
  void InputKeyUp(int32_t vk) { input_.KeyUp(vk); }
  int32_t HoverCursor() { return input_.HoverCursor(); }
  void InputStep() { input_.Step(); }

  // --- save record ---------------------------------------------------------
  // Both screens' objects (names starting with chr(1) are left out).
  // Loading replaces every object; a damaged record raises and leaves the
  // scene empty.
  void SaveToStream(TKwStream& stream);
  void LoadFromStream(TKwStream& stream, int32_t version);

  // --- used by TZirkObject ---------------------------------------------------
  void registerName(TZirkObject* object, const std::string& name);
  void unregisterName(TZirkObject* object);
  // Drops a name's key from the registry; a generated name that goes makes
  // its number the first one free again.
  void forgetName(const std::string& key);
  void scrap(TZirkObject* object);
  void reparent(TZirkObject* object, TZirkObject* parent);
  int32_t nextOrder() { return ++orderCounter_; }
  void objectDestroyed(TZirkObject* object);

 private:
  static std::string nameKey(const std::string& name);
  void adopt(std::unique_ptr<TZirkObject> object, TZirkObject* parent, const std::string& name);
  void addToTickList(TZirkObject* object);
  void removeFromTickList(TZirkObject* object);
  void destroyTree(std::unique_ptr<TZirkObject> object);
  std::unique_ptr<TZirkObject> detach(TZirkObject* object);
  // Takes the object and its children out of ticking, drawing, the name
  // registry, focus, menus and the screens' pointers, and off its parent.
  std::unique_ptr<TZirkObject> takeOut(TZirkObject* object);
  // Moves a running transition by one frame unless a flip set its time in
  // this tick, and renders it.
  void advanceWipe();
  void renderWipe();

  int32_t width_, height_;
  int32_t color_ = 0;
  std::array<std::unique_ptr<TZirkBase>, 2> bases_;
  std::unordered_map<std::string, TZirkObject*> names_;
  // Per generated-name prefix (as a key): every prefix + n below this is
  // taken, so an emitter naming thousands of particles does not test each
  // lower number again for each one.
  mutable std::unordered_map<std::string, int64_t> firstFree_;
  std::vector<TZirkObject*> objects_;
  // The objects of the tick list by serial: film tracks find theirs again
  // every tick.
  std::unordered_map<uint64_t, TZirkObject*> bySerial_;
  std::vector<std::unique_ptr<TZirkObject>> deleted_;
  TTimerList events_;
  TZirkList menus_;
  int32_t orderCounter_ = 0;

  TZirkBaseList* host_ = nullptr;
  uint32_t sceneClock_ = 0;
  uint32_t frameInterval_ = 16;
  TSceneInput input_{*this};
  std::vector<TRect> painted_;

  Presenter presenter_;
  bool mediaEnabled_ = true;

  std::unique_ptr<TSceneTransition> transition_;
  bool presentAll_ = false;
};

// The hook through which the sound switch reaches the media managers.
void SetMediaEnabledHook(std::function<void(bool)> hook);

}  // namespace zirk
