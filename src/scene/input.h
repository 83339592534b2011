#pragma once
// The input router of one scene: the key tables with their repeat, the key
// focus, the mouse input the window hands over between ticks, and the
// per-tick input step that passes all of it to the objects: key-down and
// key-repeat calls to the focused control, moves, presses and releases to
// the control under the mouse or the one holding the capture, capture ticks,
// and the right-click walk over the scene's menus.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/geometry.h"

namespace zirk {

class TZirkBaseList;
class TZirkBase;
class TZirkObject;

enum class TMouseButton { Left, Right, Middle };

// The menus a right click nobody took may close (add unique, remove).
class TZirkList {
 public:
  void Add(TZirkObject* object);
  void Remove(const TZirkObject* object);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TZirkObject* Items(int32_t index) const { return items_.at(static_cast<size_t>(index)); }

 private:
  std::vector<TZirkObject*> items_;
};

class TSceneInput {
 public:
  // Typed constants of the key repeat (ms of the scene clock).
  static constexpr uint32_t KeyRepeatDelay = 300;
  static constexpr uint32_t KeyRepeatInterval = 50;

  explicit TSceneInput(TZirkBaseList& scene) : scene_(scene) {}
  TSceneInput(const TSceneInput&) = delete;
  TSceneInput& operator=(const TSceneInput&) = delete;

  // --- what the window hands over (kept until the next step) ----------------
  void MouseMove(int32_t x, int32_t y);
  void MouseDown(TMouseButton button, int32_t x, int32_t y);
  void MouseUp(TMouseButton button, int32_t x, int32_t y);
  void Wheel(int32_t delta) { wheel_ += delta; }
  void KeyDown(int32_t vk);
  void KeyUp(int32_t vk);

  // --- per-tick tables ------------------------------------------------------
  bool KeyPressed(int32_t vk) const { return inRange(vk) && keyPressed_[vk]; }
  // Pressed or auto-repeated in this tick.
  bool KeyRepeated(int32_t vk) const { return inRange(vk) && keyRepeated_[vk]; }
  // Held down now.
  bool KeyHeld(int32_t vk) const { return inRange(vk) && keyState_[vk]; }
  int32_t WheelDelta() const { return wheelThisTick_; }
  // Which input step the tables belong to: a new number every step.
  uint64_t KeyStep() const { return keyStep_; }

  // --- focus ------------------------------------------------------------------
  TZirkObject* Focused() const { return focused_; }
  void SetFocus(TZirkObject* object);
  // Clears the focus; the next step focuses the first focusable control.
  void SetFocusPending();
  bool FocusPending() const { return focusPending_; }
  // The focus stays only on a control of the screen shown (after a flip).
  void CheckFocusScreen();
  // The object leaves the scene: it loses the focus.
  void ForgetObject(const TZirkObject* object);
  void Reset();

  // The cursor the window shows: the captured or hovered control's, else 0.
  int32_t HoverCursor();

  // The input step of a tick: key tables, focus, the focused control's key
  // calls, and the mouse step of the active screen.
  void Step();

 private:
  static bool inRange(int32_t vk) { return vk >= 0 && vk < 256; }
  void updateKeyTables();
  void deliverKeys();
  bool focusable(TZirkObject* object);
  void focusFirstFocusable();
  void mouseStep(TZirkBase& screen);
  void rightClickWalk(TZirkBase& screen);

  TZirkBaseList& scene_;
  TZirkObject* focused_ = nullptr;
  bool focusPending_ = false;
  std::array<bool, 256> keyState_{};
  std::array<bool, 256> keyPressed_{};
  std::array<bool, 256> keyRepeated_{};
  std::array<uint32_t, 256> keyNextRepeat_{};
  // Presses seen since the last step, so a tap inside one tick counts.
  std::array<bool, 256> keyTapped_{};
  uint64_t keyStep_ = 0;

  TPoint mouse_{-1, -1};
  bool mouseMoved_ = false;
  bool leftDown_ = false, leftUp_ = false, rightDown_ = false;
  TPoint leftDownAt_, leftUpAt_, rightDownAt_;
  int32_t wheel_ = 0, wheelThisTick_ = 0;
};

}  // namespace zirk
