#include "objects/menu.h"

#include "base/records.h"
#include "scene/factory.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "script/sysvars.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {
constexpr int32_t kVkEnter = 13, kVkEscape = 27, kVkSpace = 32;
}  // namespace

TZirkMenu::TZirkMenu(TZirkBaseList& scene) : TZirkCustomListBox(scene) {
  // The scene drops the menu from its list when the menu is freed.
  scene.Menus().Add(this);
}

TZirkMenu::~TZirkMenu() = default;

// --- activity -----------------------------------------------------------------------------

void TZirkMenu::takeFocus() {
  if (GetVisible() && GetPropInt(PR_PAUSED) == 0 && HandleKey()) Scene().SetFocus(this);
}

void TZirkMenu::dropFocus() {
  if (Scene().Focused() == this) Scene().SetFocusPending();
}

void TZirkMenu::SetActive(int32_t active) {
  // Shown and opened are one state to compare with, as are hidden and
  // closed; the state stored is the one asked for.
  const int32_t compared = active == kOpened ? kShown : active == kClosed ? kHidden : active;
  if (compared == active_) return;
  active_ = static_cast<uint8_t>(active);
  switch (active) {
    case kShown:
      Relayout();
      setMenuPhase(kIdle);
      takeFocus();
      QueueEvent(PR_ONOPENING);
      QueueEvent(PR_ONOPENED);
      break;
    case kOpened:
      setMenuPhase(kOpenStart);
      takeFocus();
      break;
    case kHidden:
      SetPropInt(PR_HEIGHT, 0);
      setMenuPhase(kIdle);
      dropFocus();
      QueueEvent(PR_ONCLOSING);
      QueueEvent(PR_ONCLOSED);
      break;
    case kClosed:
      setMenuPhase(kCloseStart);
      dropFocus();
      break;
    default:
      break;
  }
}

void TZirkMenu::applyLayoutHeight(int32_t height) {
  // A hidden menu stays without height until it is shown.
  TZirkCustomListBox::applyLayoutHeight(active_ == kHidden ? 0 : height);
}

int32_t TZirkMenu::animated(uint32_t elapsed, bool growing) const {
  const int64_t part = int64_t{fullHeight_} * elapsed / duration_;
  return pixelmath::Saturate32(growing ? part : fullHeight_ - part);
}

bool TZirkMenu::Tick() {
  animateBorders();
  const uint32_t now = Scene().SceneClock();
  const uint32_t elapsed = now - phaseStart_;
  const bool running = duration_ > 0 && int64_t{duration_} > int64_t{elapsed};
  switch (MenuPhase()) {
    case kIdle:
      if (layoutDirty()) Relayout();
      break;
    case kCloseRequested:
      if (layoutDirty()) Relayout();
      SetActive(kClosed);
      break;
    case kOpenStart:
      Relayout();
      QueueEvent(PR_ONOPENING);
      fullHeight_ = Height();
      SetPropInt(PR_HEIGHT, 0);
      setMenuPhase(kOpenClock);
      break;
    case kOpenClock:
      phaseStart_ = now;
      setMenuPhase(kOpening);
      break;
    case kOpening:
      if (running) {
        SetPropInt(PR_HEIGHT, animated(elapsed, true));
      } else {
        SetPropInt(PR_HEIGHT, fullHeight_);
        setMenuPhase(kIdle);
        QueueEvent(PR_ONOPENED);
      }
      break;
    case kCloseStart:
      closing_ = true;
      // The close shrinks from the height shown now: a menu shown without
      // animation, or caught while opening, has no other to start from.
      fullHeight_ = Height();
      phaseStart_ = now;
      setMenuPhase(kClosing);
      QueueEvent(PR_ONCLOSING);
      break;
    case kClosing:
      closing_ = true;
      if (running) {
        SetPropInt(PR_HEIGHT, animated(elapsed, false));
      } else {
        QueueEvent(PR_ONCLOSED);
        setMenuPhase(kCloseWait);
      }
      break;
    case kSelectClose:
      closing_ = true;
      QueueEvent(PR_ONCLOSING);
      QueueEvent(PR_ONCLOSED);
      setMenuPhase(kSelectClosed);
      break;
    case kSelectClosed:
      setMenuPhase(kCloseWait);
      break;
    case kCloseWait: {
      const TTimerList& events = Scene().Events();
      return events.FindEvent(this, PR_ONCLOSING) < 0 && events.FindEvent(this, PR_ONCLOSED) < 0;
    }
    default:
      break;
  }
  return false;
}

// --- input -----------------------------------------------------------------------------------

void TZirkMenu::SelectHovered() {
  TZirkCustomListBox::SelectHovered();
  if (!autoScrap_) return;
  closing_ = true;
  setMenuPhase(kSelectClose);
}

void TZirkMenu::RButtonDown(int32_t x, int32_t y) {
  if (GetPropInt(PR_PAUSED) != 0 || !rclickScrap_) {
    TZirkObject::RButtonDown(x, y);
    return;
  }
  TSystemVariables& vars = SystemVariables();
  vars.SelStr.clear();
  vars.SelIndex = -1;
  SetActive(kClosed);
  if (TZirkBase* screen = GetScreen()) screen->RightClickPending = false;
}

bool TZirkMenu::RightClickClose() {
  // A hidden menu has nothing to close: marking it would leave it closing,
  // deaf to selections, in a close request its state refuses.
  const int32_t im = IgnoreMouse();
  if (closing_ || active_ == kHidden || (im != IM_NONE && im != IM_LCLICK)) return false;
  closing_ = true;
  setMenuPhase(kCloseRequested);
  return true;
}

void TZirkMenu::KeyRepeat(int32_t vk) {
  if (active_ == kHidden || active_ == kClosed) return;
  // A selection in a tick leaves Escape unheard.
  const bool selects = HoveredRow() >= 0 && !closing_;
  const int32_t key = firstKey(vk, {{kVkEnter, true, selects},
                                    {kVkSpace, true, selects},
                                    {kVkEscape, true, rclickScrap_ && !closing_}});
  if (key == kVkEscape)
    setMenuPhase(kCloseRequested);
  else if (key != 0)
    SelectHovered();
  TZirkCustomListBox::KeyRepeat(vk);
}

// --- properties -------------------------------------------------------------------------------

const TPropTable& TZirkMenu::Properties() const {
  using P = TPropField<TZirkMenu>;
  using L = TKwLabelList;
  static const TPropTable table(
      TZirkCustomListBox::Properties(),
      {
          look(PR_FONTHOVERCOLOR, &L::FontColor, &L::SetFontColor, kHover, false),
          look(PR_FONTHOVERSTYLE, &L::FontStyle, &L::SetFontStyle, kHover, true),
          P(PR_HOVERCOLOR, &TZirkMenu::hoverColor_, TPropChange::Redraw),
          P(PR_DELAY, &TZirkMenu::duration_),
          P(PR_AUTOSCRAP, &TZirkMenu::autoScrap_),
          P(PR_RCLICKSCRAP, &TZirkMenu::rclickScrap_),
          P(PR_ORIGHEIGHT).Get([](TZirkMenu& m) {
            return m.active_ == kOpened || m.active_ == kClosed ? m.fullHeight_ : m.Height();
          }),
          P(PR_ONOPENING, &TZirkMenu::onOpening_),
          P(PR_ONOPENED, &TZirkMenu::onOpened_),
          P(PR_ONCLOSING, &TZirkMenu::onClosing_),
          P(PR_ONCLOSED, &TZirkMenu::onClosed_),
      });
  return table;
}

// --- save record -------------------------------------------------------------------------------

void TZirkMenu::SaveToStream(TKwStream& stream) {
  TZirkCustomListBox::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(duration_);
  out.Int(hoverColor_);
  out.Bool(autoScrap_);
  out.Bool(rclickScrap_);
  out.Byte(active_);
  for (const std::string* s : {&onOpening_, &onOpened_, &onClosing_, &onClosed_}) out.Str(*s);
}

void TZirkMenu::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomListBox::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved menu record");
  duration_ = in.Int();
  hoverColor_ = in.Int();
  autoScrap_ = in.Bool();
  rclickScrap_ = in.Bool();
  active_ = in.Byte();
  for (std::string* s : {&onOpening_, &onOpened_, &onClosing_, &onClosed_}) *s = in.Str();
  // An animation under way starts again from its beginning.
  Relayout();
  fullHeight_ = Height();
  phaseStart_ = Scene().SceneClock();
}

void RegisterZirkMenu() {
  RegisterKind(LT_MENU, [](TZirkBaseList& scene) { return std::make_unique<TZirkMenu>(scene); });
}

}  // namespace zirk
