#pragma once
// The box (LT_BOX): a plain rectangle of the scene, filled in PR_COLOR and
// framed in PR_BORDERCOLOR, drawn opaque, blended or additive by PR_ALPHA
// (1..254 blended, 255 opaque, 256..511 additive at level alpha - 256; 0
// and 512 or more draw nothing). A motion file (PR_SOURCE) can drive it,
// and it tells the redraw clip manager what it covers, so what lies
// wholly under an opaque box is not drawn. Film box tracks drive it.

#include <cstdint>
#include <string>

#include "scene/zcontrol.h"

namespace zirk {

class TZirkBox : public TZirkControl {
 public:
  explicit TZirkBox(TZirkBaseList& scene);
  ~TZirkBox() override;

  int32_t GetKind() const override { return LT_BOX; }
  const TPropTable& Properties() const override;

  int32_t BorderWidth() const { return borderWidth_; }
  int32_t BorderColor() const { return borderColor_; }
  int32_t Alpha() const { return alpha_; }

  void Draw() override;
  void CollectClipRects(TClipManager& clips) override;

  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  // The frame is drawn: a positive width in a colour.
  bool framed() const { return borderWidth_ > 0 && borderColor_ >= 0; }
  bool drawsAtAll() const { return alpha_ > 0 && alpha_ < 512; }
  void setSource(const std::string& source);
  void repeatChanged();

  int32_t borderWidth_ = 0;
  int32_t borderColor_ = 0;
  int32_t alpha_ = 255;
  std::string onIdle_;
  std::string source_;
  bool repeat_ = false;
  bool autoScrap_ = false;
  std::string onPlayEnd_;
  bool paused_ = false;
};

// Registers LT_BOX with the scene's kind factory.
void RegisterZirkBox();

}  // namespace zirk
