#pragma once
// Label tracks: a caption (TZirkLabel) that moves, scales, turns, fades and
// clips like an image track's picture, with its text, font, colour, style,
// smoothing and alignment set every applied frame.

#include <cstdint>
#include <string>

#include "objects/tracksimage.h"

namespace zirk {

// The single key frame of a label track; its size is the measured text's.
class TLabelFrame : public TBoxFrame {
 public:
  using TBoxFrame::TBoxFrame;
};

class TLabelFrameList : public TCustomImageFrameList {
 public:
  explicit TLabelFrameList(TFilmManager& film);
  ~TLabelFrameList() override;
  TTrackType GetType() const override { return ttLabel; }
  int32_t FrameIndexAt(int32_t) const override { return 0; }

  int32_t FontColor = 0xFFFFFF;
  uint8_t HAlign = 0;  // 0 left, 1 centre, other right

  // Changing the text or what shapes it measures the text again.
  const std::string& GetText() const { return text_; }
  void SetText(const std::string& text);
  uint8_t GetAntialias() const { return antialias_; }
  void SetAntialias(uint8_t antialias);
  const std::string& GetFontName() const { return fontName_; }
  void SetFontName(const std::string& name);
  int32_t GetFontHeight() const { return fontHeight_; }
  void SetFontHeight(int32_t height);
  uint8_t GetFontStyle() const { return fontStyle_; }
  void SetFontStyle(uint8_t style);
  int32_t GetLineSpace() const { return lineSpace_; }
  void SetLineSpace(int32_t space);

  // The widest line in the label's font; lines x font height plus the
  // spaces between them.
  int32_t GetContentWidth() const override { return contentWidth_; }
  int32_t GetContentHeight() const override { return contentHeight_; }
  int32_t GetFrameWidth() const override { return contentWidth_; }
  int32_t GetFrameHeight() const override { return contentHeight_; }

  // Sets the text again (measuring it).
  void Reload() override;
  // Lets the caption go and gives its share of the film's budget back; a
  // caption the budget refused asks again when its span comes round again.
  void ReleaseTarget() override;
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 protected:
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;
  // The text and its look first, then the frame as an image takes it.
  void applyState(TZirkControl& target, const TPictureState& state) override;

 private:
  void measure();

  std::string text_;
  uint8_t antialias_ = 0;
  std::string fontName_;
  int32_t fontHeight_ = 12;
  uint8_t fontStyle_ = 0;
  int32_t lineSpace_ = 0;
  int32_t contentWidth_ = 0, contentHeight_ = 0;
  TFilmCharge charge_;
  // The budget refused the caption as it is now.
  bool refused_ = false;
};

// Registers the label (1) track kind.
void RegisterLabelTracks();

}  // namespace zirk
