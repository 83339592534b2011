#pragma once
// The pop-up menu (LT_MENU): a list box that opens and closes by growing
// and shrinking its height over PR_DELAY ms, tells scripts when it starts
// and ends opening and closing, highlights the hovered row in a hover
// colour, selects with a click, Enter or Space, and with right-click scrap
// goes away on a right click or Escape. A menu whose closing has run to its
// end is freed once its close events have been handled.

#include <cstdint>
#include <string>

#include "objects/listbox.h"

namespace zirk {

class TZirkMenu : public TZirkCustomListBox, public IActivatable {
 public:
  // The menu phase: idle, close requested, opening, closing, closing after
  // a selection, waiting for the close events to be handled.
  enum TPhase : int32_t {
    kIdle = 0,
    kCloseRequested = 10,
    kOpenStart = 100,
    kOpenClock = 101,
    kOpening = 102,
    kCloseStart = 200,
    kClosing = 201,
    kSelectClose = 300,
    kSelectClosed = 301,
    kCloseWait = 302,
  };
  // Active states: shown, opening or opened with animation, hidden,
  // closing with animation.
  enum TActive : uint8_t { kShown = 0, kOpened = 1, kHidden = 2, kClosed = 3 };

  explicit TZirkMenu(TZirkBaseList& scene);
  ~TZirkMenu() override;

  int32_t GetKind() const override { return LT_MENU; }
  const TPropTable& Properties() const override;

  bool IsBusy() override { return closing_; }
  int32_t GetActive() override { return active_; }
  void SetActive(int32_t active) override;

  bool Tick() override;
  void RButtonDown(int32_t x, int32_t y) override;
  bool RightClickClose() override;
  void KeyRepeat(int32_t vk) override;
  void SelectHovered() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  void applyLayoutHeight(int32_t height) override;

 private:
  void takeFocus();
  void dropFocus();
  // The animation's height at e ms of the phase, from 0 or down to 0.
  int32_t animated(uint32_t elapsed, bool growing) const;

  int32_t fullHeight_ = 0;
  uint32_t phaseStart_ = 0;
  int32_t duration_ = 0;
  int32_t hoverColor_ = 0;
  bool autoScrap_ = false;
  bool rclickScrap_ = false;
  uint8_t active_ = kHidden;
  std::string onOpening_, onOpened_, onClosing_, onClosed_;
  bool closing_ = false;
};

// Registers LT_MENU with the scene's kind factory.
void RegisterZirkMenu();

}  // namespace zirk
