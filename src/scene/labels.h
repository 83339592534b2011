#pragma once
// Label lists: lines of game text (Shift-JIS) drawn in one look (face,
// height, style, colour, border and shadow, smoothing) into a picture and
// its coverage mask. A rendered label is kept until something about it
// changes, so showing a still label costs one masked blit per frame. List
// boxes keep a row per label; captions keep one label of several lines.
//
// A label's picture holds the text, its border (the text grown by the
// border width on every side) and its shadow (the bordered shape moved
// right and down by the shadow width): Width and Height count all three.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "platform/fonts.h"
#include "surfaces/dibx.h"

namespace zirk {

class TKwLabelList;

// The largest picture a label renders: its side, and its pixels (a
// million: more than a whole 1280 x 720 screen; a label track may render
// its caption anew every tick, so the cap is also a frame's work). A
// larger label keeps its top lines.
inline constexpr int32_t kMaxLabelSide = 8192;
inline constexpr int64_t kMaxLabelPixels = int64_t{1} << 20;
// The picture a label of the given size renders within those caps.
TPoint LabelPictureSize(int64_t width, int64_t height);

class TKwLabelDIB {
 public:
  const std::string& Text() const { return text_; }
  // A different text marks the label dirty.
  void SetText(const std::string& text);
  // The size last measured (Render) or rendered (DrawLabelText).
  int32_t Width = 0, Height = 0;
  // The picture must be rendered again before it is drawn.
  bool Dirty = true;
  // The rendered picture and its coverage (empty before the first render).
  const TDIBX& Picture() const { return picture_; }
  const TDIBX& Mask() const { return mask_; }
  // For objects that show the rendered label as their own picture.
  TDIBX& Picture() { return picture_; }
  TDIBX& Mask() { return mask_; }

 private:
  friend class TKwLabelList;
  std::string text_;
  TDIBX picture_{0, 0, 32};
  TDIBX mask_{0, 0, 8};
};

// What a label's text measures: the widest line and the line count.
struct TTextExtent {
  int32_t Width = 0;
  int32_t Lines = 1;
};

class TKwLabelList {
 public:
  TKwLabelList();
  ~TKwLabelList();
  TKwLabelList(const TKwLabelList&) = delete;
  TKwLabelList& operator=(const TKwLabelList&) = delete;

  // --- labels ---------------------------------------------------------------
  TKwLabelDIB* AddLabel(const std::string& text);
  // nullptr outside 0..Count() - 1.
  TKwLabelDIB* GetItem(int32_t index) const;
  int32_t Count() const { return static_cast<int32_t>(labels_.size()); }
  void Clear() { labels_.clear(); }
  // Measures every label with the list's look (Width, Height).
  void Render();
  // Every label is rendered again before it is drawn next.
  void InvalidateAll();
  // The widest label as last measured.
  int32_t MaxWidth() const;

  // --- the look: a change marks every label dirty -----------------------------
  // Face names are game text (Shift-JIS).
  const std::string& FontName() const { return fontName_; }
  void SetFontName(const std::string& name);
  int32_t FontSize() const { return fontSize_; }
  void SetFontSize(int32_t height);
  uint8_t FontStyle() const { return fontStyle_; }  // FS_ bits
  void SetFontStyle(uint8_t style);
  int32_t FontColor() const { return fontColor_; }  // 0x00BBGGRR
  void SetFontColor(int32_t color);
  int32_t BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int32_t width);
  int32_t BorderColor() const { return borderColor_; }
  void SetBorderColor(int32_t color);
  int32_t ShadowWidth() const { return shadowWidth_; }
  void SetShadowWidth(int32_t width);
  int32_t ShadowColor() const { return shadowColor_; }
  void SetShadowColor(int32_t color);
  // 0 two levels; 1..3 finer grey steps at the edges.
  int32_t Smoothing() const { return smoothing_; }
  void SetSmoothing(int32_t level);
  // Between the lines of a label of several lines, and the lines'
  // alignment in it (0 left, 1 centre, other right).
  int32_t LineSpace() const { return lineSpace_; }
  void SetLineSpace(int32_t space);
  uint8_t HAlign() const { return hAlign_; }
  void SetHAlign(uint8_t align);
  // How labels reach the target: the image alpha rule (0 nothing, 1..254
  // blended, 255 opaque, 256..511 additive).
  int32_t Alpha = 255;
  TCustomDIBX* Target = nullptr;

  // --- drawing ----------------------------------------------------------------
  // Renders the label's picture and mask when it is dirty.
  void DrawLabelText(TKwLabelDIB& label);
  // Draws the label with its top-left corner at (x, y) on the target,
  // inside the target's clip, rendering it first when dirty.
  void DrawLabelClipped(TKwLabelDIB& label, int32_t x, int32_t y);
  // The text measured in the list's font, without border or shadow: the
  // widest line's advance and the number of lines.
  TTextExtent MeasureText(const std::string& text) const;
  // The cell height of the list's font.
  int32_t LineHeight() const;

  // --- save record ------------------------------------------------------------
  void SaveToStream(TKwStream& stream);
  void LoadFromStream(TKwStream& stream, int32_t version);

 private:
  struct TLayout;
  platform::TFontSpec spec() const;
  TLayout layout(const std::string& text) const;
  // The widest line with the ink of its glyphs, at most the largest side.
  static int32_t inkWidth(const TLayout& l);
  void measure(TKwLabelDIB& label) const;
  void setSize(TKwLabelDIB& label, const TLayout& l) const;
  template <class T>
  void change(T& field, T value);

  std::vector<std::unique_ptr<TKwLabelDIB>> labels_;
  std::string fontName_;
  int32_t fontSize_ = 16;
  uint8_t fontStyle_ = 0;
  int32_t fontColor_ = 0xFFFFFF;
  int32_t borderWidth_ = 0, borderColor_ = 0;
  int32_t shadowWidth_ = 0, shadowColor_ = 0;
  int32_t smoothing_ = 0;
  int32_t lineSpace_ = 0;
  uint8_t hAlign_ = 0;
};

}  // namespace zirk
