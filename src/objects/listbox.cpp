#include "objects/listbox.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/records.h"
#include "base/vrfiles.h"
#include "scene/runtime.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "script/sysvars.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

using pixelmath::Saturate32;

constexpr int32_t kVkPageUp = 33, kVkPageDown = 34, kVkUp = 38, kVkDown = 40;
constexpr int32_t kScrollCells = 7, kCheckCells = 2;
// Label smoothing of PR_ANTIALIAS on.
constexpr int32_t kSmoothLevel = 3;

bool isLineBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

TZirkCustomListBox::TZirkCustomListBox(TZirkBaseList& scene) : TZirkControl(scene) {
  SetPropInt(PR_COLOR, -1);
}

TZirkCustomListBox::~TZirkCustomListBox() {
  Invalidate();
}

// --- rows -------------------------------------------------------------------------------

std::string TZirkCustomListBox::RowText(int32_t row) const {
  const TKwLabelDIB* label = normal_.GetItem(row);
  return label ? label->Text() : std::string();
}

bool TZirkCustomListBox::GetRowChecked(int32_t row) {
  return row >= 0 && row < static_cast<int32_t>(checks_.size()) &&
         checks_[static_cast<size_t>(row)] != 0;
}

void TZirkCustomListBox::SetRowChecked(int32_t row, bool checked) {
  if (row < 0 || row >= static_cast<int32_t>(checks_.size())) return;
  uint8_t& flag = checks_[static_cast<size_t>(row)];
  if ((flag != 0) == checked) return;
  flag = checked ? 1 : 0;
  Invalidate();
}

void TZirkCustomListBox::setText(const std::string& value) {
  Invalidate();
  normal_.Clear();
  hover_.Clear();
  // Control characters around the text make no rows and are not kept; a
  // trail byte of a double-byte character is never below 32, so bytes can
  // be judged alone.
  const auto first = std::find_if(value.begin(), value.end(),
                                  [](char c) { return static_cast<unsigned char>(c) >= 32; });
  std::string trimmed(first, value.end());
  while (!trimmed.empty() && static_cast<unsigned char>(trimmed.back()) < 32) trimmed.pop_back();
  std::vector<std::string> lines;
  if (!trimmed.empty()) {
    size_t start = 0;
    for (size_t i = 0; i <= trimmed.size(); ++i) {
      if (i < trimmed.size() && !isLineBreak(trimmed[i])) continue;
      lines.push_back(trimmed.substr(start, i - start));
      if (i + 1 < trimmed.size() && trimmed[i] == '\r' && trimmed[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  checks_.assign(lines.size(), 0);
  for (const std::string& line : lines) {
    normal_.AddLabel(line);
    hover_.AddLabel(line);
  }
  text_ = std::move(trimmed);
  // Enter must not select a row that is gone.
  if (hovered_ >= Count()) hovered_ = -1;
  topIndex_ = 0;
  layoutDirty_ = true;
}

// --- layout -------------------------------------------------------------------------------

TZirkCustomListBox::TColumns TZirkCustomListBox::columns() const {
  auto w = [this](int32_t i) { return cellSizes_[static_cast<size_t>(i)].X; };
  auto h = [this](int32_t i) { return cellSizes_[static_cast<size_t>(i)].Y; };
  return {std::max({w(0), w(3), w(6)}), std::max({w(2), w(5), w(8)}), std::max({h(0), h(1), h(2)}),
          std::max({h(6), h(7), h(8)})};
}

int32_t TZirkCustomListBox::rowHeight() const {
  const TKwLabelDIB* a = normal_.GetItem(0);
  const TKwLabelDIB* b = hover_.GetItem(0);
  return std::max(a ? a->Height : 0, b ? b->Height : 0);
}

void TZirkCustomListBox::Relayout() {
  normal_.Render();
  hover_.Render();
  normal_.InvalidateAll();
  hover_.InvalidateAll();
  const TColumns c = columns();
  const int64_t width = int64_t{std::max(normal_.MaxWidth(), hover_.MaxWidth())} +
                        2 * int64_t{borderWidth_} + c.Left + c.Right + 2 * int64_t{marginX_} +
                        (ScrollShown() ? scrollCell_.X : 0) + checkCell_.X;
  SetPropInt(PR_WIDTH, Saturate32(width));
  const int64_t visible = std::max(0, std::min(rows_, Count()));
  auto lineOf = [](const TKwLabelList& l) {
    return int64_t{l.FontSize()} + 2 * int64_t{l.BorderWidth()} + l.ShadowWidth();
  };
  const int64_t line = std::max(lineOf(normal_), lineOf(hover_));
  // No visible row leaves no gap below it either.
  const int64_t height = line * visible + std::max<int64_t>(visible - 1, 0) * lineSpace_ +
                         2 * int64_t{borderWidth_} + c.Top + c.Bottom + 2 * int64_t{marginY_};
  applyLayoutHeight(Saturate32(height));
  layoutDirty_ = false;
}

void TZirkCustomListBox::applyLayoutHeight(int32_t height) {
  SetPropInt(PR_HEIGHT, height);
}

void TZirkCustomListBox::setTopIndex(int32_t index) {
  int32_t v = std::max(index, 0);
  v = Count() > rows_ ? static_cast<int32_t>(std::min<int64_t>(v, int64_t{Count()} - rows_)) : 0;
  if (v == topIndex_) return;
  topIndex_ = v;
  Invalidate();
}

// --- images -------------------------------------------------------------------------------

void TZirkCustomListBox::setBorderSource(int32_t cell, const std::string& name) {
  const auto i = static_cast<size_t>(cell);
  if (name == borderSources_[i]) return;
  Invalidate();
  borderSources_[i] = name;
  TZirkImageList& list = borderImages_[i];
  TVrFileManager* files = TVrFileManager::Global();
  try {
    if (!name.empty() && files && files->FileExists(name))
      list.LoadImageFrames(name, false);
    else
      list.Clear();
  } catch (...) {
    cellSizes_[i] = {};
    layoutDirty_ = true;
    throw;
  }
  const TZirkImageData* first = list.GetImageData(0);
  const TCustomDIBX* s = first ? first->GetSurface() : nullptr;
  cellSizes_[i] = s ? TPoint{s->Width(), s->Height()} : TPoint{};
  layoutDirty_ = true;
}

void TZirkCustomListBox::setStrip(bool scroll, const std::string& name) {
  std::string& field = scroll ? scrollSource_ : checkSource_;
  if (name == field) return;
  Invalidate();
  field = name;
  layoutDirty_ = true;
  TVrFileManager* files = TVrFileManager::Global();
  // A name that is not there keeps the strip held before.
  if (name.empty() || !files || !files->FileExists(name)) return;
  TDorvLease& image = scroll ? scrollImage_ : checkImage_;
  TPoint& cell = scroll ? scrollCell_ : checkCell_;
  image.Reset();
  cell = {};
  image = TDorvLease(name, false, false);
  const TDorvItemFrame* frame = image->Frame(0);
  if (frame && frame->Surface)
    cell = {frame->Surface->Width() / (scroll ? kScrollCells : kCheckCells),
            frame->Surface->Height()};
}

void TZirkCustomListBox::animateBorders() {
  if (GetPropInt(PR_ANIPAUSED) != 0) return;
  for (int32_t i = 0; i < kCells; ++i) {
    if (!borderImages_[static_cast<size_t>(i)].AdvanceImageFrame(ElapsedTime())) continue;
    if (TZirkBase* screen = GetScreen()) screen->InvalidateRect(CellRect(i));
  }
}

bool TZirkCustomListBox::Tick() {
  if (layoutDirty_) Relayout();
  animateBorders();
  return false;
}

void TZirkCustomListBox::ReleaseSurfaces() {
  TZirkControl::ReleaseSurfaces();
  for (TZirkImageList& list : borderImages_) list.ReleaseImageSurfaces();
}

void TZirkCustomListBox::RestoreSurfaces() {
  TZirkControl::RestoreSurfaces();
  for (TZirkImageList& list : borderImages_) list.RebuildImageSurfaces();
  normal_.InvalidateAll();
  hover_.InvalidateAll();
}

// --- geometry -------------------------------------------------------------------------------

TRect TZirkCustomListBox::InnerRect() {
  const TRect b = GetBoundsRect();
  const int64_t w = borderWidth_;
  return Rect(Saturate32(b.Left + w), Saturate32(b.Top + w), Saturate32(b.Right - w),
              Saturate32(b.Bottom - w));
}

TRect TZirkCustomListBox::CellRect(int32_t cell) {
  const TRect r = InnerRect();
  const TColumns c = columns();
  const TPoint size = cellSizes_.at(static_cast<size_t>(cell));
  const int32_t col = cell % 3, row = cell / 3;
  int64_t left = 0, right = 0, top = 0, bottom = 0;
  if (col == 0) {
    left = int64_t{r.Left} + c.Left - size.X;
    right = left + size.X;
  } else if (col == 1) {
    left = int64_t{r.Left} + c.Left;
    right = int64_t{r.Right} - c.Right;
  } else {
    left = int64_t{r.Right} - c.Right;
    right = left + size.X;
  }
  if (row == 0) {
    top = int64_t{r.Top} + c.Top - size.Y;
    bottom = top + size.Y;
  } else if (row == 1) {
    top = int64_t{r.Top} + c.Top;
    bottom = int64_t{r.Bottom} - c.Bottom;
  } else if (c.Top <= int64_t{r.Bottom} - r.Top) {
    top = int64_t{r.Bottom} - c.Bottom;
    bottom = top + size.Y;
  }
  top = std::max<int64_t>(top, r.Top);
  bottom = std::min<int64_t>(bottom, r.Bottom);
  return Rect(Saturate32(left), Saturate32(top), Saturate32(right), Saturate32(bottom));
}

int32_t TZirkCustomListBox::ThumbTop() {
  const int64_t range = int64_t{Count()} - rows_;
  if (range < 1) return 0;
  const TColumns c = columns();
  const int64_t sh = scrollCell_.Y;
  const int64_t track = int64_t{Height()} - 2 * int64_t{borderWidth_} - c.Top - c.Bottom;
  return Saturate32(int64_t{GetDrawTop()} + borderWidth_ + c.Top + sh +
                    (track - 3 * sh) * topIndex_ / range);
}

// The scroll bar's parts answer only inside its column.
bool TZirkCustomListBox::inScrollColumn(int32_t x) {
  if (!ScrollShown()) return false;
  const int64_t right = int64_t{InnerRect().Right} - columns().Right;
  return x >= right - scrollCell_.X && x < right;
}

int32_t TZirkCustomListBox::ButtonHit(int32_t x, int32_t y) {
  if (!inScrollColumn(x)) return 0;
  const TRect r = InnerRect();
  const TColumns c = columns();
  const int64_t up = int64_t{r.Top} + c.Top, down = int64_t{r.Bottom} - c.Bottom - scrollCell_.Y;
  if (y >= up && y < up + scrollCell_.Y) return -1;
  if (y >= down && y < down + scrollCell_.Y) return 1;
  return 0;
}

int32_t TZirkCustomListBox::TrackHit(int32_t x, int32_t y) {
  if (!inScrollColumn(x)) return 0;
  const TRect r = InnerRect();
  const TColumns c = columns();
  const int64_t top = int64_t{r.Top} + c.Top + scrollCell_.Y;
  const int64_t bottom = int64_t{r.Bottom} - c.Bottom - scrollCell_.Y;
  const int64_t thumb = ThumbTop();
  if (y >= top && y < thumb) return -1;
  if (y >= thumb + scrollCell_.Y && y < bottom) return 1;
  return 0;
}

bool TZirkCustomListBox::ThumbHit(int32_t x, int32_t y) {
  const int64_t thumb = ThumbTop();
  return inScrollColumn(x) && y >= thumb && y < thumb + scrollCell_.Y;
}

int32_t TZirkCustomListBox::RowAt(int32_t x, int32_t y) {
  const TRect r = InnerRect();
  const TColumns c = columns();
  const int64_t g = std::min(lineSpace_ / 2, marginY_);
  const int64_t textTop = int64_t{r.Top} + c.Top + marginY_;
  const int64_t left = int64_t{r.Left} + c.Left;
  const int64_t right = int64_t{r.Right} - c.Right - (ScrollShown() ? scrollCell_.X : 0);
  const int64_t top = textTop - g;
  const int64_t bottom = int64_t{r.Bottom} - c.Bottom - marginY_ + g;
  if (x < left || x >= right || y < top || y >= bottom) return -1;
  int64_t row = int64_t{topIndex_} - 1;
  int64_t boundary = textTop - lineSpace_ / 2;
  // Past the last row nothing more can be hit, however many lines show.
  for (int64_t i = 0; i <= int64_t{rows_} && row < Count(); ++i) {
    if (boundary > y) break;
    ++row;
    boundary += int64_t{rowHeight()} + lineSpace_;
  }
  return row < 0 || row >= Count() ? -1 : static_cast<int32_t>(row);
}

// --- hover and selection ----------------------------------------------------------------------

void TZirkCustomListBox::hoverChange(int32_t row) {
  if (row == hovered_) return;
  if (row < 0) QueueEventOnce(PR_ONMAPOUT, {RowText(hovered_), std::to_string(selectedIndex_)});
  hovered_ = row;
  selectedIndex_ = -1;
  Invalidate();
  if (row >= 0) QueueEventOnce(PR_ONMAPIN, {RowText(row), std::to_string(selectedIndex_)});
}

void TZirkCustomListBox::SelectHovered() {
  selectedIndex_ = hovered_;
  TSystemVariables& vars = SystemVariables();
  vars.SelStr = RowText(hovered_);
  vars.SelIndex = selectedIndex_;
  QueueEventOnce(PR_ONSELECT, {vars.SelStr, std::to_string(selectedIndex_)});
}

// --- mouse ------------------------------------------------------------------------------------

void TZirkCustomListBox::LButtonDown(int32_t x, int32_t y) {
  if (paused_) {
    TZirkObject::LButtonDown(x, y);
    return;
  }
  if (TZirkBase* screen = GetScreen()) {
    screen->LeftClickPending = false;
    screen->CaptureMouse(this);
  }
  if (ThumbHit(x, y)) {
    mousePart_ = kThumb;
    grab_ = Saturate32(int64_t{y} - (int64_t{ThumbTop()} + scrollCell_.Y / 2));
    return;
  }
  if (const int32_t button = ButtonHit(x, y)) {
    mousePart_ = button < 0 ? kUpButton : kDownButton;
  } else if (const int32_t track = TrackHit(x, y)) {
    mousePart_ = track < 0 ? kTrackAbove : kTrackBelow;
  } else {
    mousePart_ = kRows;
    return;
  }
  lastTime_ = Scene().SceneClock();
  holdCountdown_ = 0;
  CaptureTick();
  holdCountdown_ = static_cast<int32_t>(TZirkBaseList::KeyRepeatDelay);
}

std::optional<int32_t> TZirkCustomListBox::dragTop(int32_t y) {
  const TColumns c = columns();
  const int64_t sh = scrollCell_.Y;
  const int64_t travel = int64_t{Height()} - 2 * int64_t{borderWidth_} - c.Top - c.Bottom - 3 * sh;
  // A track too short for the thumb to move has no index under the mouse.
  if (travel <= 0) return std::nullopt;
  const int64_t range = std::max<int64_t>(int64_t{Count()} - rows_, 0);
  const int64_t offset = int64_t{y} - grab_ - GetDrawTop() - borderWidth_ - c.Top - sh - sh / 2;
  const double v = std::nearbyint(double(offset) / double(travel) * double(range));
  return static_cast<int32_t>(std::clamp(v, 0.0, double(range)));
}

void TZirkCustomListBox::MouseMove(int32_t x, int32_t y) {
  if (mousePart_ == kThumb) {
    if (std::optional<int32_t> top = dragTop(y)) setTopIndex(*top);
    return;
  }
  if (mousePart_ != kRows && mousePart_ != kNoPart) return;
  if (!paused_) hoverChange(RowAt(x, y));
  TZirkControl::MouseMove(x, y);
}

void TZirkCustomListBox::MouseOut() {
  if (!paused_ && IgnoreMouse() != IM_ALL) hoverChange(-1);
  TZirkControl::MouseOut();
}

void TZirkCustomListBox::LButtonUp(int32_t, int32_t) {
  if (!IsBusy() && mousePart_ == kRows && hovered_ >= 0) SelectHovered();
  mousePart_ = kNoPart;
  buttonHeld_ = trackHeld_ = false;
  Invalidate();
}

void TZirkCustomListBox::setHeld(bool& flag, bool held) {
  if (flag == held) return;
  flag = held;
  Invalidate();
}

void TZirkCustomListBox::CaptureTick() {
  TZirkBase* screen = GetScreen();
  const TPoint p = screen ? screen->MousePos() : TPoint{-1, -1};
  if (mousePart_ == kUpButton || mousePart_ == kDownButton)
    setHeld(buttonHeld_, ButtonHit(p.X, p.Y) == (mousePart_ == kUpButton ? -1 : 1));
  else if (mousePart_ == kTrackAbove || mousePart_ == kTrackBelow)
    setHeld(trackHeld_, TrackHit(p.X, p.Y) == (mousePart_ == kTrackAbove ? -1 : 1));
  else
    return;
  const uint32_t now = Scene().SceneClock();
  holdCountdown_ = Saturate32(int64_t{holdCountdown_} - int32_t(now - lastTime_));
  lastTime_ = now;
  if (holdCountdown_ >= 1) return;
  holdCountdown_ += static_cast<int32_t>(TZirkBaseList::KeyRepeatInterval);
  scrollStep();
}

void TZirkCustomListBox::scrollStep() {
  const int64_t n = Count(), top = topIndex_, rows = rows_;
  switch (mousePart_) {
    case kUpButton:
      if (buttonHeld_ && top >= 1) setTopIndex(topIndex_ - 1);
      break;
    case kDownButton:
      if (buttonHeld_ && n > top + rows) setTopIndex(topIndex_ + 1);
      break;
    case kTrackAbove:
      if (trackHeld_ && top >= 1) setTopIndex(Saturate32(std::max<int64_t>(0, top - rows)));
      break;
    case kTrackBelow:
      if (trackHeld_ && n > top + rows) setTopIndex(Saturate32(std::min(n - rows, top + rows)));
      break;
    default:
      break;
  }
}

// --- keys ---------------------------------------------------------------------------------------

void TZirkCustomListBox::KeyRepeat(int32_t vk) {
  if (firstKey(vk, {{kVkUp}, {kVkDown}, {kVkPageUp}, {kVkPageDown}}) != 0) {
    const int32_t n = Count(), h = hovered_;
    int32_t next = h;
    // A page stays on the list whatever row count a damaged record holds.
    const auto pageTo = [&](int64_t step) {
      return static_cast<int32_t>(std::clamp<int64_t>(int64_t{h} + step, 0, n - 1));
    };
    // An empty list has no row to move to.
    if (n > 0) {
      if (vk == kVkUp)
        next = h >= 1 ? h - 1 : h < 0 ? n - 1 : h;
      else if (vk == kVkDown)
        next = h < 0 ? 0 : h < n - 1 ? h + 1 : h;
      else if (vk == kVkPageUp)
        next = h > 0 ? pageTo(-int64_t{rows_}) : h < 0 ? n - 1 : h;
      else
        next = h < 0 ? 0 : h < n - 1 ? pageTo(rows_) : h;
    }
    if (next != h) {
      hoverChange(next);
      if (next < topIndex_)
        setTopIndex(next);
      else if (int64_t{next} >= int64_t{topIndex_} + rows_)
        setTopIndex(Saturate32(int64_t{next} - rows_ + 1));
    }
  }
  TZirkControl::KeyRepeat(vk);
}

void TZirkCustomListBox::setPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  TZirkObject* focused = Scene().Focused();
  const bool ownFocus = focused && (focused == this || IsAncestorOf(focused));
  if ((paused && ownFocus) || (!paused && !focused)) Scene().SetFocusPending();
}

// --- properties ---------------------------------------------------------------------------------

const TPropTable& TZirkCustomListBox::Properties() const {
  using P = TPropField<TZirkCustomListBox>;
  using L = TKwLabelList;
  using B = TZirkCustomListBox;
  constexpr TPropChange kRelayout = TPropChange::Relayout;
  constexpr TPropChange kRedraw = TPropChange::Redraw;
  auto border = [](int32_t cell) {
    return P(PR_BORDERSOURCETL + cell,
             [cell](B& b) -> std::string& { return b.borderSources_[static_cast<size_t>(cell)]; })
        .Set([cell](B& b, const std::string& name) { b.setBorderSource(cell, name); });
  };
  auto hAlign = [](int id, size_t cell) {
    return P(
        id, [cell](B& b) -> uint8_t& { return b.cellHAlign_[cell]; }, kRedraw);
  };
  auto vAlign = [](int id, size_t cell) {
    return P(
        id, [cell](B& b) -> uint8_t& { return b.cellVAlign_[cell]; }, kRedraw);
  };
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_TEXT, &B::text_).Set(&B::setText),
          look(PR_FONTNAME, &L::FontName, &L::SetFontName, kBoth, true),
          look(PR_FONTHEIGHT, &L::FontSize, &L::SetFontSize, kBoth, true),
          look(PR_FONTSTYLE, &L::FontStyle, &L::SetFontStyle, kNormal, true),
          P(PR_ANTIALIAS)
              .Get([](B& b) { return b.normal_.Smoothing() != 0; })
              .Set([](B& b, bool on) {
                const int32_t level = on ? kSmoothLevel : 0;
                if (b.normal_.Smoothing() == level) return;
                b.Invalidate();
                b.normal_.SetSmoothing(level);
                b.hover_.SetSmoothing(level);
                b.LayoutChanged();
              }),
          look(PR_FONTCOLOR, &L::FontColor, &L::SetFontColor, kNormal, false),
          look(PR_FONTBORDER, &L::BorderWidth, &L::SetBorderWidth, kNormal, true),
          look(PR_FONTSHADOW, &L::ShadowWidth, &L::SetShadowWidth, kNormal, true),
          look(PR_FONTBORDERCOLOR, &L::BorderColor, &L::SetBorderColor, kNormal, false),
          look(PR_FONTSHADOWCOLOR, &L::ShadowColor, &L::SetShadowColor, kNormal, false),
          look(PR_FONTHOVERBORDER, &L::BorderWidth, &L::SetBorderWidth, kHover, true),
          look(PR_FONTHOVERSHADOW, &L::ShadowWidth, &L::SetShadowWidth, kHover, true),
          look(PR_FONTHOVERBORDERCOLOR, &L::BorderColor, &L::SetBorderColor, kHover, false),
          look(PR_FONTHOVERSHADOWCOLOR, &L::ShadowColor, &L::SetShadowColor, kHover, false),
          P(PR_ALPHA, &B::alpha_, kRedraw),
          P(PR_LINESPACE, &B::lineSpace_, kRelayout),
          P(PR_MARGINX, &B::marginX_, kRelayout),
          P(PR_MARGINY, &B::marginY_, kRelayout),
          P(PR_BORDERWIDTH, &B::borderWidth_, kRelayout),
          P(PR_ROWCOUNT, &B::rows_, kRelayout),
          P(PR_BORDERCOLOR, &B::borderColor_, kRedraw),
          P(PR_HALIGN, &B::hAlign_, kRedraw),
          border(0),
          border(1),
          border(2),
          border(3),
          border(4),
          border(5),
          border(6),
          border(7),
          border(8),
          hAlign(PR_BORDERHALIGNT, 1),
          hAlign(PR_BORDERHALIGNC, 4),
          hAlign(PR_BORDERHALIGNB, 7),
          vAlign(PR_BORDERVALIGNL, 3),
          vAlign(PR_BORDERVALIGNC, 4),
          vAlign(PR_BORDERVALIGNR, 5),
          P(PR_SCROLLSOURCE, &B::scrollSource_).Set([](B& b, const std::string& name) {
            b.setStrip(true, name);
          }),
          P(PR_CHECKSOURCE, &B::checkSource_).Set([](B& b, const std::string& name) {
            b.setStrip(false, name);
          }),
          P(PR_COUNT).Get(&B::Count).ReadOnly(),
          P(PR_INDEX, &B::selectedIndex_),
          P(PR_TOPINDEX, &B::topIndex_).Set(&B::setTopIndex),
          P(PR_PAUSED, &B::paused_).Set(&B::setPaused),
          P(PR_ONSELECT, &B::onSelect_),
          P(PR_ONMAPIN, &B::onMapIn_),
          P(PR_ONMAPOUT, &B::onMapOut_),
          P(PR_ONIDLE, &B::onIdle_),
      });
  return table;
}

// --- save record
// ----------------------------------------------------------------------------------

void TZirkCustomListBox::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  normal_.SaveToStream(stream);
  hover_.SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(text_);
  for (int32_t v : {lineSpace_, alpha_, marginX_, marginY_, borderWidth_, borderColor_, rows_})
    out.Int(v);
  for (size_t i = 0; i < kCells; ++i) {
    out.Str(borderSources_[i]);
    out.Byte(cellHAlign_[i]);
    out.Byte(cellVAlign_[i]);
  }
  out.Str(scrollSource_);
  out.Str(checkSource_);
  out.Int(topIndex_);
  out.Byte(hAlign_);
  out.Bytes(checks_.data(), static_cast<int64_t>(checks_.size()));
  out.Str(onSelect_);
  out.Bool(paused_);
  out.Int(selectedIndex_);
  out.Int(menuPhase_);
  for (const std::string* s : {&onIdle_, &onMapIn_, &onMapOut_}) out.Str(*s);
}

void TZirkCustomListBox::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  normal_.LoadFromStream(stream, version);
  hover_.LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved list box record");
  setText(in.Str());
  for (int32_t* v :
       {&lineSpace_, &alpha_, &marginX_, &marginY_, &borderWidth_, &borderColor_, &rows_})
    *v = in.Int();
  for (int32_t i = 0; i < kCells; ++i) {
    setBorderSource(i, in.Str());
    cellHAlign_[static_cast<size_t>(i)] = in.Byte();
    cellVAlign_[static_cast<size_t>(i)] = in.Byte();
  }
  setStrip(true, in.Str());
  setStrip(false, in.Str());
  const int32_t top = in.Int();
  topIndex_ = 0;
  setTopIndex(top);
  if (!in.Has(104)) in.Byte();
  hAlign_ = in.Byte();
  const std::vector<uint8_t> checks = in.Bytes(static_cast<int32_t>(checks_.size()));
  for (size_t i = 0; i < checks.size(); ++i) checks_[i] = checks[i] != 0 ? 1 : 0;
  onSelect_ = in.Str();
  paused_ = in.Bool();
  selectedIndex_ = in.Int();
  menuPhase_ = in.Int();
  onIdle_ = in.From<std::string>(131, "");
  onMapIn_ = in.From<std::string>(134, "");
  onMapOut_ = in.From<std::string>(134, "");
  hovered_ = -1;
  mousePart_ = kNoPart;
  layoutDirty_ = true;
  Invalidate();
}

}  // namespace zirk
