#pragma once
// The list box: rows of text from one multi-line text, each row a label
// line drawn in a normal and in a hover look, framed by nine border images
// (corners, edges and centre), with a scroll bar from a seven-cell strip
// when there are more rows than visible lines and check signs from a
// two-cell strip. The row under the mouse or the keyboard cursor is
// hovered; a click or the kind's own keys select it. It has no kind of its
// own: the pop-up menu builds on it and drives its menu phase, during
// which only the frame, background and border images are drawn.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "objects/dorvcache.h"
#include "objects/imagelist.h"
#include "scene/capabilities.h"
#include "scene/labels.h"
#include "scene/proptable.h"
#include "scene/zcontrol.h"

namespace zirk {

class TZirkCustomListBox : public TZirkControl, public IRowChecks {
 public:
  // What the left button went down on.
  enum TMousePart : int32_t {
    kNoPart = -1,
    kThumb = 0,
    kUpButton = 1,
    kDownButton = 2,
    kTrackAbove = 3,
    kTrackBelow = 4,
    kRows = 5,
  };
  static constexpr int32_t kCells = 9;

  explicit TZirkCustomListBox(TZirkBaseList& scene);
  ~TZirkCustomListBox() override;

  const TPropTable& Properties() const override;

  // --- rows ---------------------------------------------------------------
  int32_t Count() const { return normal_.Count(); }
  // The row's text, empty outside the rows.
  std::string RowText(int32_t row) const;
  int32_t TopIndex() const { return topIndex_; }
  int32_t HoveredRow() const { return hovered_; }
  int32_t MousePart() const { return mousePart_; }
  bool ButtonHeld() const { return buttonHeld_; }
  bool TrackHeld() const { return trackHeld_; }
  int32_t MenuPhase() const { return menuPhase_; }
  bool ScrollShown() const { return Count() > rows_; }
  // An index outside the rows reads false and sets nothing.
  bool GetRowChecked(int32_t row) override;
  void SetRowChecked(int32_t row, bool checked) override;

  // Measures the rows and sizes the widget from them.
  void Relayout();
  // PR_INDEX := hovered row, the selection variables, PR_ONSELECT.
  virtual void SelectHovered();

  // --- geometry (screen coordinates) ------------------------------------------
  // The bounds shrunk by the border width.
  TRect InnerRect();
  // Border cell i (0..8, row-major from the top left) inside the inner rectangle.
  TRect CellRect(int32_t cell);
  // The thumb's top edge; 0 while nothing can scroll.
  int32_t ThumbTop();
  // -1 up button, +1 down button, else 0.
  int32_t ButtonHit(int32_t x, int32_t y);
  // -1 the track above the thumb, +1 below it, else 0.
  int32_t TrackHit(int32_t x, int32_t y);
  bool ThumbHit(int32_t x, int32_t y);
  // The row under the point, -1 for none.
  int32_t RowAt(int32_t x, int32_t y);

  // --- scene calls -------------------------------------------------------------
  void Draw() override;
  bool Tick() override;
  void LayoutChanged() override { layoutDirty_ = true; }
  void LButtonDown(int32_t x, int32_t y) override;
  void LButtonUp(int32_t x, int32_t y) override;
  void MouseMove(int32_t x, int32_t y) override;
  void MouseOut() override;
  void CaptureTick() override;
  void KeyRepeat(int32_t vk) override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  // Which label lists a look property reaches.
  enum TLists { kNormal, kHover, kBoth };
  // A look property of the label lists: read from the normal list (the
  // hover list for kHover), written to the lists named; a change
  // invalidates, and with relayout marks the layout dirty.
  template <class Get, class Set>
  static TPropTable::TEntry look(int id, Get get, Set set, TLists lists, bool relayout);

  // The height relayout gives the widget (a hidden menu keeps 0).
  virtual void applyLayoutHeight(int32_t height);
  // Advances the border images and invalidates the cells that changed.
  void animateBorders();
  // The hovered row becomes `row`, with its events.
  void hoverChange(int32_t row);
  void setTopIndex(int32_t index);
  void setMenuPhase(int32_t phase) { menuPhase_ = phase; }
  bool layoutDirty() const { return layoutDirty_; }

 private:
  struct TColumns {
    int32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
  };
  TColumns columns() const;
  int32_t rowHeight() const;
  bool inScrollColumn(int32_t x);
  void setText(const std::string& text);
  void setBorderSource(int32_t cell, const std::string& name);
  void setStrip(bool scroll, const std::string& name);
  void setPaused(bool paused);
  std::optional<int32_t> dragTop(int32_t y);
  void setHeld(bool& flag, bool held);
  void scrollStep();
  // --- drawing -------------------------------------------------------------
  void drawBorders(TCustomDIBX& target);
  void drawScrollBar(TCustomDIBX& target, const TRect& inner);
  void drawRows(TCustomDIBX& target, const TRect& inner);

  std::string text_;
  int32_t lineSpace_ = 0;
  int32_t alpha_ = 0;
  bool layoutDirty_ = false;
  int32_t marginX_ = 0, marginY_ = 0;
  int32_t borderWidth_ = 0;
  int32_t borderColor_ = 0;
  int32_t rows_ = 0;
  std::array<std::string, kCells> borderSources_;
  std::array<TZirkImageList, kCells> borderImages_;
  std::array<TPoint, kCells> cellSizes_{};
  std::array<uint8_t, kCells> cellHAlign_{};
  std::array<uint8_t, kCells> cellVAlign_{};
  std::string scrollSource_, checkSource_;
  TDorvLease scrollImage_, checkImage_;
  TPoint scrollCell_{}, checkCell_{};
  int32_t topIndex_ = 0;
  uint8_t hAlign_ = 0;
  int32_t hovered_ = -1;
  int32_t grab_ = 0;
  int32_t mousePart_ = kNoPart;
  uint32_t lastTime_ = 0;
  int32_t holdCountdown_ = 0;
  bool buttonHeld_ = false, trackHeld_ = false;
  std::vector<uint8_t> checks_;
  std::string onMapIn_, onMapOut_, onSelect_, onIdle_;
  bool paused_ = false;
  int32_t selectedIndex_ = 0;
  TKwLabelList normal_, hover_;
  int32_t menuPhase_ = 0;
};

template <class Get, class Set>
TPropTable::TEntry TZirkCustomListBox::look(int id, Get get, Set set, TLists lists, bool relayout) {
  using T = std::remove_cvref_t<std::invoke_result_t<Get, const TKwLabelList&>>;
  auto source = [lists](TZirkCustomListBox& b) -> TKwLabelList& {
    return lists == kHover ? b.hover_ : b.normal_;
  };
  return TPropField<TZirkCustomListBox>(id)
      .Get([=](TZirkCustomListBox& b) -> T { return std::invoke(get, source(b)); })
      .Set([=](TZirkCustomListBox& b, T value) {
        if (std::invoke(get, source(b)) == value) return;
        b.Invalidate();
        if (lists != kHover) std::invoke(set, b.normal_, value);
        if (lists != kNormal) std::invoke(set, b.hover_, value);
        if (relayout) b.LayoutChanged();
      });
}

}  // namespace zirk
