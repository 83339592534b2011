#pragma once
// Rectangle tracks: a rectangle that moves, grows and clips over the
// track's span, driving an object of its own (or a motion's target). Box
// tracks show it as a box whose opacity, fill, frame width and frame
// colour change too; particle and fire tracks build on the same base.

#include <cstdint>

#include "objects/tracks.h"

namespace zirk {

class TZirkControl;

// The rectangle and its clip at one film time.
struct TRectFrame {
  int32_t X = 0, Y = 0;
  int32_t Width = 0, Height = 0;
  TRect Clip;
};

class TRectFrameList : public TCustomFrameList {
 public:
  explicit TRectFrameList(TFilmManager& film);
  ~TRectFrameList() override;
  int32_t FrameIndexAt(int32_t) const override { return 0; }

  TPoint PositionTo;
  uint8_t PositionXEasing = 0, PositionYEasing = 0;
  int32_t WidthTo = 100, HeightTo = 100;
  TPoint ClipPositionFrom, ClipPositionTo, ClipSizeFrom, ClipSizeTo;
  uint8_t ClipXEasing = 0, ClipYEasing = 0;

  // Start values: a chained track's are its parent's end values, and
  // setting them is ignored then.
  TPoint GetPositionFrom() const { return Parent ? Parent->GetPositionTo() : positionFrom_; }
  int32_t GetWidthFrom() const { return Parent ? Parent->GetWidthTo() : widthFrom_; }
  int32_t GetHeightFrom() const { return Parent ? Parent->GetHeightTo() : heightFrom_; }
  void SetPositionFrom(TPoint p) {
    if (!Parent) positionFrom_ = p;
  }
  void SetWidthFrom(int32_t v) {
    if (!Parent) widthFrom_ = v;
  }
  void SetHeightFrom(int32_t v) {
    if (!Parent) heightFrom_ = v;
  }
  TPoint GetClipPositionFrom() const {
    return Parent ? Parent->GetClipPositionTo() : ClipPositionFrom;
  }
  TPoint GetClipSizeFrom() const { return Parent ? Parent->GetClipSizeTo() : ClipSizeFrom; }
  TPoint GetPositionTo() const override { return PositionTo; }
  int32_t GetWidthTo() const override { return WidthTo; }
  int32_t GetHeightTo() const override { return HeightTo; }
  TPoint GetClipPositionTo() const override { return ClipPositionTo; }
  TPoint GetClipSizeTo() const override { return ClipSizeTo; }
  int32_t GetFrameWidth() const override { return GetWidthFrom(); }
  int32_t GetFrameHeight() const override { return GetHeightFrom(); }

  // The object driven: the one made for the track, or the motion's target.
  TZirkObject* GetTarget() const override;
  void ReleaseTarget() override;
  // Outside its span the track lets its object go; inside, it makes the
  // object when needed and hands it the frame i ticks in.
  bool Apply(int32_t time) override;
  // The rectangle i ticks after the start: the corners move by the
  // position easings, so the size follows the two corners.
  TRectFrame RectAt(int32_t i) const;

 protected:
  virtual TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) = 0;
  virtual void updateTarget(int32_t i) = 0;
  // Places the target: in a motion by its motion offset, size and the
  // film's base priority; otherwise under the host or screen, by its
  // bounds and the track's priority.
  void passRect(TZirkControl& target, const TRectFrame& r) const;

 private:
  TPoint positionFrom_;
  int32_t widthFrom_ = 100, heightFrom_ = 100;
  TTrackTarget target_;
};

class TBoxFrameList : public TRectFrameList {
 public:
  explicit TBoxFrameList(TFilmManager& film) : TRectFrameList(film) {}
  TTrackType GetType() const override { return ttBox; }

  int32_t AlphaTo = 0, ColorTo = 0, BorderWidthTo = 0, BorderColorTo = 0;

  int32_t GetAlphaFrom() const { return Parent ? Parent->GetAlphaTo() : alphaFrom_; }
  int32_t GetColorFrom() const { return Parent ? Parent->GetColorTo() : colorFrom_; }
  int32_t GetBorderWidthFrom() const {
    return Parent ? Parent->GetBorderWidthTo() : borderWidthFrom_;
  }
  int32_t GetBorderColorFrom() const {
    return Parent ? Parent->GetBorderColorTo() : borderColorFrom_;
  }
  void SetAlphaFrom(int32_t v) { setFrom(alphaFrom_, v); }
  void SetColorFrom(int32_t v) { setFrom(colorFrom_, v); }
  void SetBorderWidthFrom(int32_t v) { setFrom(borderWidthFrom_, v); }
  void SetBorderColorFrom(int32_t v) { setFrom(borderColorFrom_, v); }
  int32_t GetAlphaTo() const override { return AlphaTo; }
  int32_t GetColorTo() const override { return ColorTo; }
  int32_t GetBorderWidthTo() const override { return BorderWidthTo; }
  int32_t GetBorderColorTo() const override { return BorderColorTo; }

  // A colour i ticks in: each of its three bytes moves on its own; equal
  // ends pass unchanged (top byte and all).
  int32_t ColorAt(int32_t i, int32_t from, int32_t to) const;

  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 protected:
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;
  void updateTarget(int32_t i) override;

 private:
  void setFrom(int32_t& field, int32_t v) {
    if (!Parent) field = v;
  }
  int32_t alphaFrom_ = 0, colorFrom_ = 0, borderWidthFrom_ = 0, borderColorFrom_ = 0;
};

// Registers the box (2) track kind.
void RegisterBoxTracks();

}  // namespace zirk
