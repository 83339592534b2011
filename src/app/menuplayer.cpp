#include "app/menuplayer.h"

#include "base/sjis.h"
#include "base/vocab.h"
#include "objects/menu.h"
#include "objects/timer.h"
#include "scene/events.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

// The script labels of the events the menu and the timer queue.
const char* const kOpenLabel = "menu_open";
const char* const kOpeningLabel = "menu_opening";
const char* const kSelectLabel = "menu_select";

// Above the film and the movie.
constexpr int32_t kPriority = 200;
constexpr int32_t kOpenMs = 200;

const char* const kBorderPictures[TZirkCustomListBox::kCells] = {
    "menutl.dor", "menut.dor",  "menutr.dor", "menul.dor", "menuc.dor",
    "menur.dor",  "menubl.dor", "menub.dor",  "menubr.dor"};

std::string rowsOf(const std::vector<std::string>& choices) {
  std::string text;
  for (const std::string& choice : choices) text += (text.empty() ? "" : "\r\n") + choice;
  return text;
}

}  // namespace

TMenuPlayer::TMenuPlayer(TZirkBaseList& scene, const std::vector<std::string>& choices,
                         uint32_t delayMs, TChosen chosen)
    : scene_(scene), chosen_(std::move(chosen)) {
  auto* menu = scene.Create<TZirkMenu>(nullptr, "menu");
  menu->SetPriority(kPriority);
  const std::pair<int, int32_t> numbers[] = {{PR_ALPHA, 255},
                                             {PR_FONTHEIGHT, 24},
                                             {PR_ANTIALIAS, 1},
                                             {PR_FONTCOLOR, 0xF0F0F0},
                                             {PR_FONTHOVERCOLOR, 0x40E0FF},
                                             {PR_HOVERCOLOR, 0x804018},
                                             {PR_MARGINX, 12},
                                             {PR_MARGINY, 4},
                                             {PR_LINESPACE, 8},
                                             {PR_HALIGN, 1},
                                             {PR_DELAY, kOpenMs},
                                             {PR_AUTOSCRAP, 1},
                                             {PR_RCLICKSCRAP, 1},
                                             {PR_HANDLEKEY, 1},
                                             {PR_ROWCOUNT, static_cast<int32_t>(choices.size())}};
  for (auto [id, value] : numbers) menu->SetPropInt(id, value);
  // "ＭＳ ゴシック", the usual Windows face; the player's Japanese face serves it.
  menu->SetPropStr(PR_FONTNAME, "\x82\x6C\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4E");
  // A picture that cannot be read raises naming itself.
  for (int32_t cell = 0; cell < TZirkCustomListBox::kCells; ++cell)
    menu->SetPropStr(PR_BORDERSOURCETL + cell, kBorderPictures[cell]);
  menu->SetPropStr(PR_TEXT, rowsOf(choices));
  menu->SetPropStr(PR_ONOPENING, kOpeningLabel);
  menu->SetPropStr(PR_ONSELECT, kSelectLabel);
  menuSerial_ = menu->Serial();
  if (delayMs == 0) {
    menu->SetActive(TZirkMenu::kOpened);
    return;
  }
  auto* timer = scene.Create<TZirkTimer>(nullptr, "menutimer");
  timer->SetPropInt(PR_AUTOSCRAP, 1);
  timer->SetPropStr(PR_ONNOTIFY, kOpenLabel);
  timer->SetPropInt(PR_DELAY, static_cast<int32_t>(delayMs));
  timerSerial_ = timer->Serial();
}

TMenuPlayer::~TMenuPlayer() {
  for (uint64_t serial : {menuSerial_, timerSerial_})
    if (TZirkObject* object = serial ? scene_.FindBySerial(serial) : nullptr)
      scene_.FreeObject(object);
}

TZirkMenu* TMenuPlayer::Menu() const {
  return dynamic_cast<TZirkMenu*>(scene_.FindBySerial(menuSerial_));
}

bool TMenuPlayer::HandleEvent(const TTimerData& event) {
  TZirkMenu* menu = Menu();
  if (!menu) return false;
  if (event.Object && event.Object == scene_.FindBySerial(timerSerial_)) {
    menu->SetActive(TZirkMenu::kOpened);
    return true;
  }
  if (event.Object != menu) return false;
  if (event.PropId == PR_ONOPENING) {
    // The open menu's size is known once its opening has started; it
    // grows from there, its height still 0.
    menu->SetPropInt(PR_LEFT, (scene_.Width() - menu->GetPropInt(PR_WIDTH)) / 2);
    menu->SetPropInt(PR_TOP, (scene_.Height() - menu->GetPropInt(PR_ORIGHEIGHT)) / 2);
  } else if (event.PropId == PR_ONSELECT && chosen_) {
    chosen_(SjisForMessage(event.Args[0]));
  }
  return true;
}

}  // namespace zirk
