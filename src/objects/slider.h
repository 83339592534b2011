#pragma once
// The slider (LT_SLIDER): a value control built from three image strips, a
// track of two cells (the part beyond the thumb, the part up to it), a
// thumb of three looks (normal, hover, pressed) and a pair of step buttons
// of three looks each. The user drags the thumb, clicks the track, holds a
// step button or uses the arrow keys; every change the user makes queues
// PR_ONNOTIFY with the new value. The slider sizes itself from its strips.
// On a vertical slider the value grows upward. The scroll bar reshapes it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "objects/dorvcache.h"
#include "scene/zcontrol.h"

namespace zirk {

class TZirkSlider : public TZirkControl {
 public:
  // What the pressed left button is doing.
  enum TDragMode : int32_t {
    kIdle = 0,
    kThumbDrag = 1,
    kFirstButton = 2,
    kSecondButton = 3,
    kPageToStart = 4,
    kPageToEnd = 5,
  };

  explicit TZirkSlider(TZirkBaseList& scene);
  ~TZirkSlider() override;

  int32_t GetKind() const override { return LT_SLIDER; }
  const TPropTable& Properties() const override;

  // PR_VALUE as read: the stored value bounded by PR_MIN and PR_MAX.
  int32_t Value() const;
  int32_t ThumbPosition() const { return thumbPos_; }
  int32_t ThumbState() const { return thumbState_; }
  int32_t ButtonState(int32_t index) const { return buttonState_.at(static_cast<size_t>(index)); }
  int32_t DragMode() const { return dragMode_; }
  bool TrackHeld() const { return trackHeld_; }
  bool Vertical() const { return orientation_ != 0; }

  void Draw() override;
  void LButtonDown(int32_t x, int32_t y) override;
  void LButtonUp(int32_t x, int32_t y) override;
  void MouseMove(int32_t x, int32_t y) override;
  void MouseOut() override;
  void CaptureTick() override;
  void KeyRepeat(int32_t vk) override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

  // --- geometry (screen coordinates) ----------------------------------------
  TRect GetTrackRect();
  virtual TRect GetThumbRect();
  TRect GetButtonRect(int32_t index);

 protected:
  // The cell sizes of the three strips.
  struct TCells {
    int32_t TrackW = 0, TrackH = 0;
    int32_t ThumbW = 0, ThumbH = 0;
    int32_t ButtonW = 0, ButtonH = 0;
  };
  const TCells& cells() const { return cells_; }
  int32_t minimum() const { return min_; }
  int32_t maximum() const { return max_; }
  int32_t smallChange() const { return smallChange_; }
  int32_t thumbPos() const { return thumbPos_; }
  int32_t grab() const { return grab_; }
  void setThumbPos(int32_t position);
  void setDragMode(int32_t mode) { dragMode_ = mode; }
  // Invalidates on a change: the scroll bar draws the paged part.
  void setTrackHeld(bool held);
  void setHoldCountdown(int32_t ms) { holdCountdown_ = ms; }
  // Counts a tick off the hold countdown; true when a repeat is due (the
  // countdown then starts the key-repeat interval).
  bool holdElapsed();
  const TDorvLease& trackImage() const { return track_; }

  // Sets PR_WIDTH and PR_HEIGHT from the strips, then the thumb.
  void Resize();
  // The thumb's place for PR_VALUE.
  void UpdateThumb();
  // The pixels the thumb travels over the range.
  virtual int64_t travel() const { return Vertical() ? cells_.TrackH : cells_.TrackW; }
  // How far the thumb reaches past the track's ends along it, both ends
  // together: the slider's thumb centre travels the whole track.
  virtual int32_t thumbOverhang() const { return Vertical() ? cells_.ThumbH : cells_.ThumbW; }
  virtual void DrawSlider();
  // Whether the first button adds (a value growing upward).
  virtual bool IsValueUpward() { return Vertical(); }
  // The keys that raise and lower the value.
  virtual int32_t increaseKey() { return Vertical() ? 38 : 39; }
  virtual int32_t decreaseKey() { return Vertical() ? 40 : 37; }
  // The grab offset of a press on the thumb.
  virtual int32_t thumbGrab(int32_t x, int32_t y);
  // The value under the mouse while dragging, less the grab offset; none
  // while the thumb has no room to travel.
  virtual std::optional<int32_t> dragValue(int32_t x, int32_t y);
  // A press on the track that missed the thumb and the buttons.
  virtual void trackPressed(int32_t x, int32_t y);
  // Paging while the track is held (drag modes 4 and 5).
  virtual void pageTick() {}

  // PR_VALUE := v bounded by the range; PR_ONNOTIFY when it changed.
  void setValueNotify(int64_t v);
  // What step button `index` adds to the value.
  int64_t buttonStep(int32_t index);
  // min + (max - min) / span x pixel, to the nearest; none for span <= 0.
  std::optional<int32_t> valueAt(int64_t pixel, int64_t span) const;
  // A rectangle of 64-bit sums, saturated.
  static TRect box(int64_t x, int64_t y, int64_t w, int64_t h);
  // Hit tests at a screen point through the strips' masks.
  bool thumbHit(int32_t x, int32_t y);
  bool trackHit(int32_t x, int32_t y);
  bool buttonHit(int32_t index, int32_t x, int32_t y);
  // Takes the press on the screen and captures the left button.
  void takePress();
  // Cell `cell` of the track strip tiled into dest.
  void tileTrack(const TRect& dest, int32_t cell, int32_t offsetX, int32_t offsetY);
  void drawThumbAndButtons();
  void setState(int32_t& state, int32_t value);

 private:
  // The three strips, by the setters' names.
  enum TStrip { kTrack, kThumb, kButtons };
  void setStrip(TStrip strip, const std::string& name);
  void recomputeTrack();
  void updateLitStates(int32_t x, int32_t y);
  bool maskAt(const TDorvLease& image, int32_t x, int32_t y);

  std::string source_, thumbSource_, buttonSource_;
  int32_t min_ = 0, max_ = 0, value_ = 0;
  int32_t alpha_ = 0;
  bool paused_ = false;
  uint8_t orientation_ = 0;
  std::string onNotify_;
  TCells cells_;
  TDorvLease track_, thumb_, buttons_;
  int32_t thumbPos_ = 0;
  int32_t thumbState_ = 0;
  std::array<int32_t, 2> buttonState_{};
  int32_t holdCountdown_ = 0;
  int32_t grab_ = 0;
  bool trackHeld_ = false;
  std::string onHold_, onRelease_;
  int32_t smallChange_ = 0;
  std::string onIdle_;
  bool captureMask_ = false;
  int32_t barSize_ = 0;
  int32_t dragMode_ = kIdle;
};

// Registers LT_SLIDER with the scene's kind factory.
void RegisterZirkSlider();

}  // namespace zirk
