#pragma once
// The pop-up menu a script would open, while no script engine exists: a
// menu of the given choices, framed by the game's border pictures
// ("menutl.dor", "menut.dor", "menutr.dor", "menul.dor", "menuc.dor",
// "menur.dor", "menubl.dor", "menub.dor", "menubr.dor"; a missing one
// leaves its cell empty), opened in the middle of the screen by a one-shot
// timer after a delay, or at once without one. A choice is handed on as
// UTF-8 and closes the menu; a right click or Escape closes it unchosen.
// The menu and the timer are objects of the scene and tick with it; the
// player's script step hands their events to HandleEvent.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zirk {

class TZirkBaseList;
class TZirkMenu;
struct TTimerData;

class TMenuPlayer {
 public:
  using TChosen = std::function<void(const std::string& utf8)>;

  // The choices are Shift-JIS rows; a delay of 0 opens the menu at once.
  TMenuPlayer(TZirkBaseList& scene, const std::vector<std::string>& choices, uint32_t delayMs,
              TChosen chosen);
  // Frees the menu and the timer while the scene still holds them.
  ~TMenuPlayer();
  TMenuPlayer(const TMenuPlayer&) = delete;
  TMenuPlayer& operator=(const TMenuPlayer&) = delete;

  // One event the script step runs: false when it is none of this menu's.
  bool HandleEvent(const TTimerData& event);
  // nullptr once the menu has closed and the scene has freed it.
  TZirkMenu* Menu() const;

 private:
  TZirkBaseList& scene_;
  TChosen chosen_;
  uint64_t menuSerial_ = 0;
  uint64_t timerSerial_ = 0;
};

}  // namespace zirk
