#pragma once
// Image and tile tracks: a cached picture shown as an image (or tile)
// object that moves, scales, turns, fades and clips over the track's span.
// In a motion the tracks drive the motion's target control instead of an
// object of their own. The film's owner scene must outlive the film: the
// tracks scrap the objects they made when they go.

#include <cstdint>
#include <string>

#include "objects/dorvcache.h"
#include "objects/picturestate.h"
#include "objects/tracks.h"

namespace zirk {

class TCustomDIBX;
class TZirkControl;
class TZirkObject;

// One cell of a cached picture.
class TImageFrame : public TCustomFrame {
 public:
  TImageFrame(TCustomFrameList& track, TDorvItemFrame& cell) : TCustomFrame(track), cell_(&cell) {}
  int32_t Width() const override;
  int32_t Height() const override;
  TPoint Offset() const override;
  // The cached delay in ticks, at least 1.
  int32_t Duration() const override;
  TDorvItemFrame& Cell() const { return *cell_; }

 private:
  TDorvItemFrame* cell_;
};

class TCustomImageFrameList : public TCustomFrameList {
 public:
  explicit TCustomImageFrameList(TFilmManager& film) : TCustomFrameList(film) {}
  ~TCustomImageFrameList() override;

  TPoint Anchor;
  TPoint PositionFrom, PositionTo;
  uint8_t PositionXEasing = 0, PositionYEasing = 0;
  int32_t RotationFrom = 0, RotationTo = 0;  // degrees
  double ScaleXFrom = 1.0, ScaleXTo = 1.0, ScaleYFrom = 1.0, ScaleYTo = 1.0;
  uint8_t ScaleXEasing = 0, ScaleYEasing = 0;
  int32_t AlphaFrom = 0, AlphaTo = 0;  // 0 stands for 255
  uint8_t RotationEasing = 0;
  TPoint ClipPositionFrom, ClipPositionTo, ClipSizeFrom, ClipSizeTo;
  uint8_t ClipXEasing = 0, ClipYEasing = 0;

  // Start values: a chained track's are its parent's end values.
  TPoint GetPositionFrom() const { return Parent ? Parent->GetPositionTo() : PositionFrom; }
  double GetScaleXFrom() const { return Parent ? Parent->GetScaleXTo() : ScaleXFrom; }
  double GetScaleYFrom() const { return Parent ? Parent->GetScaleYTo() : ScaleYFrom; }
  int32_t GetAlphaFrom() const { return Parent ? Parent->GetAlphaTo() : AlphaFrom; }
  int32_t GetRotationFrom() const { return Parent ? Parent->GetRotationTo() : RotationFrom; }
  TPoint GetClipPositionFrom() const {
    return Parent ? Parent->GetClipPositionTo() : ClipPositionFrom;
  }
  TPoint GetClipSizeFrom() const { return Parent ? Parent->GetClipSizeTo() : ClipSizeFrom; }
  TPoint GetPositionTo() const override { return PositionTo; }
  double GetScaleXTo() const override { return ScaleXTo; }
  double GetScaleYTo() const override { return ScaleYTo; }
  int32_t GetAlphaTo() const override { return AlphaTo; }
  int32_t GetRotationTo() const override { return RotationTo; }
  TPoint GetClipPositionTo() const override { return ClipPositionTo; }
  TPoint GetClipSizeTo() const override { return ClipSizeTo; }

  // The object driven: the one made for the track, or the motion's target.
  TZirkObject* GetTarget() const override;
  void ReleaseTarget() override;
  bool Apply(int32_t time) override;
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

  // What the track shows i ticks into its span with key frame `cell`, in a
  // film or in a motion alike (exposed for the tests of the arithmetic).
  virtual TPictureState ComputeState(int32_t i, int32_t cell) const;
  static int32_t AngleFromDegrees(double degrees);

 protected:
  // Makes the object the track drives; nullptr when it cannot.
  virtual TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) = 0;
  TZirkObject* getOrCreateTarget();
  // Hands the applied frame to the driven control (label tracks set text
  // and font on it as well).
  virtual void applyState(TZirkControl& target, const TPictureState& state);

 private:
  TTrackTarget target_;
};

class TImageFrameList : public TCustomImageFrameList {
 public:
  explicit TImageFrameList(TFilmManager& film) : TCustomImageFrameList(film) {}
  ~TImageFrameList() override;
  TTrackType GetType() const override { return ttImage; }

  std::string GetSource() const override { return source_; }
  // Loads the picture's cells; a stored length of at least 1 stays,
  // otherwise the cells' total becomes the length.
  void SetSource(const std::string& name) override;
  void Reload() override;
  void CollectFiles(std::vector<std::string>& files) const override;
  int32_t GetContentWidth() const override { return pictureWidth_; }
  int32_t GetContentHeight() const override { return pictureHeight_; }
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 protected:
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;

 private:
  std::string source_;
  int32_t pictureWidth_ = 0, pictureHeight_ = 0;
  TDorvLease picture_;
};

class TTileFrameList : public TImageFrameList {
 public:
  explicit TTileFrameList(TFilmManager& film) : TImageFrameList(film) {}
  TTrackType GetType() const override { return ttTile; }

  int32_t WidthTo = 0, HeightTo = 0;
  int32_t ScrollXTo = 0, ScrollYTo = 0;
  uint8_t ScrollXEasing = 0, ScrollYEasing = 0;
  int32_t DistanceX = 0, DistanceY = 0;

  // Start values follow the parent while there is one; setting them is
  // ignored then.
  int32_t GetWidthFrom() const { return Parent ? Parent->GetWidthTo() : widthFrom_; }
  int32_t GetHeightFrom() const { return Parent ? Parent->GetHeightTo() : heightFrom_; }
  int32_t GetScrollXFrom() const { return Parent ? Parent->GetScrollXTo() : scrollXFrom_; }
  int32_t GetScrollYFrom() const { return Parent ? Parent->GetScrollYTo() : scrollYFrom_; }
  void SetWidthFrom(int32_t v) {
    if (!Parent) widthFrom_ = v;
  }
  void SetHeightFrom(int32_t v) {
    if (!Parent) heightFrom_ = v;
  }
  void SetScrollXFrom(int32_t v) {
    if (!Parent) scrollXFrom_ = v;
  }
  void SetScrollYFrom(int32_t v) {
    if (!Parent) scrollYFrom_ = v;
  }
  int32_t GetWidthTo() const override { return WidthTo; }
  int32_t GetHeightTo() const override { return HeightTo; }
  int32_t GetScrollXTo() const override { return ScrollXTo; }
  int32_t GetScrollYTo() const override { return ScrollYTo; }

  // A first picture fills the area sizes still 0 with the cell's size.
  void SetSource(const std::string& name) override;
  TPictureState ComputeState(int32_t i, int32_t cell) const override;
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 protected:
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;

 private:
  int32_t widthFrom_ = 0, heightFrom_ = 0;
  int32_t scrollXFrom_ = 0, scrollYFrom_ = 0;
};

// Registers the image (0) and tile (5) track kinds.
void RegisterImageTracks();

}  // namespace zirk
