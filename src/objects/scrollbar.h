#pragma once
// The scroll bar (LT_SCROLLBAR): the slider reshaped as a classic scroll
// bar. The thumb moves inside the track, the value grows rightward or
// downward, and a press on the track pages by PR_LARGECHANGE, repeating
// while held until the thumb reaches the mouse; the paged part of the track
// is drawn in the second cell while paging goes on.

#include "objects/slider.h"

namespace zirk {

class TZirkScrollbar : public TZirkSlider {
 public:
  using TZirkSlider::TZirkSlider;

  int32_t GetKind() const override { return LT_SCROLLBAR; }
  const TPropTable& Properties() const override;

  TRect GetThumbRect() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  int64_t travel() const override;
  int32_t thumbOverhang() const override { return 0; }
  void DrawSlider() override;
  bool IsValueUpward() override { return false; }
  int32_t increaseKey() override { return Vertical() ? 40 : 39; }
  int32_t decreaseKey() override { return Vertical() ? 38 : 37; }
  int32_t thumbGrab(int32_t x, int32_t y) override;
  std::optional<int32_t> dragValue(int32_t x, int32_t y) override;
  void trackPressed(int32_t x, int32_t y) override;
  void pageTick() override;

 private:
  // Whether the thumb has reached the mouse point in the paging direction.
  bool thumbReached(int32_t x, int32_t y);

  int32_t largeChange_ = 0;
};

// Registers LT_SCROLLBAR with the scene's kind factory.
void RegisterZirkScrollbar();

}  // namespace zirk
