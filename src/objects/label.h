#pragma once
// The caption object: text in a font, colour, style and border, laid out
// in lines (PR_LINESPACE apart, aligned by PR_HALIGN) and shown like a
// picture, so it moves, zooms, turns and fades as an image does. Film label
// tracks create and drive it; it has no kind of its own.
//
// The text is rendered once into a picture and its coverage mask when a
// property that shapes it changes; a still caption costs one blit a frame.
// Its displayed size follows the rendered text and the zoom. PR_BORDERWIDTH
// and PR_BORDERCOLOR are the text's border; PR_ANTIALIAS smooths the glyph
// edges.

#include <cstdint>
#include <string>

#include "objects/customimage.h"
#include "scene/labels.h"

namespace zirk {

class TZirkLabel : public TZirkCustomImage {
 public:
  explicit TZirkLabel(TZirkBaseList& scene);
  ~TZirkLabel() override;

  const TPropTable& Properties() const override;

  // Bytes the rendered text of a measured size takes, its picture (32
  // bits) and its coverage (8 bits), as far as a label's caps let it grow.
  static int64_t PictureBytes(int32_t width, int32_t height);

  // The rendered text's picture and mask (shown as the back and mask surface).
  const TKwLabelDIB& Label() const { return *label_; }

  void RestoreSurfaces() override;

 private:
  // Hands the properties to the label list, renders and shows the result.
  void render();

  TKwLabelList list_;
  TKwLabelDIB* label_;
  std::string text_;
  std::string fontName_;
  int32_t fontHeight_ = 12;
  int32_t lineSpace_ = 0;
  int32_t fontColor_ = 0xFFFFFF;
  uint8_t fontStyle_ = 0;
  bool antialias_ = false;
  uint8_t hAlign_ = 0;
  int32_t borderWidth_ = 0;
  int32_t borderColor_ = 0;
};

}  // namespace zirk
