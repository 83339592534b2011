#pragma once
// The image button (LT_BUTTON): a multi-frame image with a picture per
// state, normal (PR_SOURCE), hover, pressed and clicked, each a layered
// picture or a motion file. A click queues PR_ONNOTIFY; buttons with a
// group index act as toggle or radio buttons through their parent; the
// clicked picture plays once and the button then returns to the look asked
// for meanwhile, or is scrapped when PR_AUTOSCRAP is set.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "objects/images.h"
#include "scene/capabilities.h"

namespace zirk {

class TZirkButton : public TZirkImages, public IGroupButton {
 public:
  // The shown picture.
  enum TState : int32_t { kNormal = 0, kHover = 1, kPressed = 2, kClicked = 3 };

  explicit TZirkButton(TZirkBaseList& scene);
  ~TZirkButton() override;

  int32_t GetKind() const override { return LT_BUTTON; }
  const TPropTable& Properties() const override;

  int32_t State() const { return state_; }
  // 0 none, 1 the left button went down here, -1 clicked to be scrapped.
  int32_t PressState() const { return press_; }
  bool Selected() const { return selected_; }

  int32_t GetImageListIndex() override { return state_; }
  int32_t GetImageListCount() override { return 4; }
  // The state's motion in states 1..3, the control's own in state 0.
  TZirkMotionBase* GetMotion() override;

  bool Tick() override;
  void LButtonDown(int32_t x, int32_t y) override;
  void LButtonUp(int32_t x, int32_t y) override;
  void MouseMove(int32_t x, int32_t y) override;
  void MouseOut() override;
  void KeyRepeat(int32_t vk) override;

  // IGroupButton: the parent's group keeping.
  void SetDown(bool down) override;
  void SetAllowAllUp(bool allowAllUp) override { allowAllUp_ = allowAllUp; }

  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  // Shows state v; a state without a picture is never shown. While the
  // clicked picture plays the request waits, unless forced.
  void switchState(int32_t v, bool force = false);
  void setStateSource(int32_t state, const std::string& name);
  void setSelected(bool selected);
  void setAllowAllUp(bool allowAllUp);
  void click();
  // Whether the screen's left-click hit test at (x, y) finds this button.
  bool hitsSelf(int32_t x, int32_t y);
  bool paused() { return GetPropInt(PR_PAUSED) != 0; }
  // One step of the shown picture's frames; true when the clicked picture
  // has played to its end.
  bool stepFrames();

  int32_t press_ = 0;
  int32_t state_ = kNormal;
  int32_t pending_ = kNormal;
  // Hover, pressed and clicked pictures and motions, by state - 1.
  std::array<std::string, 3> sources_;
  int32_t group_ = 0;
  bool selected_ = false;
  bool allowAllUp_ = false;
  std::string onNotify_;
  std::string onIdle_;
  std::array<std::unique_ptr<TZirkMotionBase>, 3> motions_;
};

// Registers LT_BUTTON with the scene's kind factory.
void RegisterZirkButton();

}  // namespace zirk
