#pragma once
// Particle (6) and fire (7) tracks: a rectangle of the film in which a
// particle emitter or a fire runs, their settings moving over the track's
// span. A chain of such tracks keeps one object running: the track at the
// chain's root owns it, and it goes when the chain's last track ends.

#include <cstdint>
#include <string>
#include <vector>

#include "objects/tracksbox.h"

namespace zirk {

class TZirkControl;

// The rectangle tracks whose object lives across a chain.
class TEffectFrameList : public TRectFrameList {
 public:
  using TRectFrameList::TRectFrameList;
  ~TEffectFrameList() override;

  // The chain root's object (or the motion's target).
  TZirkObject* GetTarget() const override;
  void ReleaseTarget() override;
  bool Apply(int32_t time) override;
  // The first track up the parents, while they are of this kind.
  TEffectFrameList* RootTrack();
  const TEffectFrameList* RootTrack() const;

  // The common part, then the kind's own fields.
  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 protected:
  virtual void saveOwnFields(TFilmRecordWriter& out) = 0;
  virtual void loadOwnFields(TFilmRecordReader& in) = 0;
  // Lets go of the object made here (the particle track first takes its
  // parameter record back).
  virtual void releaseOwn(TZirkObject&) {}
  // Hangs the object under the host or the screen by the film's wipes.
  void place(TZirkObject& object) const;
  // A start value: the parent's end value when the parent is of the same
  // kind, the neutral value when of another, else the own one.
  template <class Track, class T>
  T from(T Track::*to, const T& own, const T& neutral) const {
    if (!Parent) return own;
    const auto* p = dynamic_cast<const Track*>(Parent);
    return p ? p->*to : neutral;
  }

  // The share of the film's budget the chain's object holds.
  TFilmCharge& rootCharge() { return RootTrack()->charge_; }

 private:
  TTrackTarget own_;
  TFilmCharge charge_;
};

class TParticleFrameList : public TEffectFrameList {
 public:
  explicit TParticleFrameList(TFilmManager& film);
  ~TParticleFrameList() override;
  TTrackType GetType() const override { return ttParticle; }

  int32_t AlphaTo = 0;
  int32_t Index = 0;
  uint8_t PartMotion = 0;
  int32_t IntervalTo = 100, SpreadTo = 1;
  int32_t Value1To = 0, Value2To = 0, Range1To = 1, Range2To = 1;
  uint8_t Value1Easing = 0, Value2Easing = 0;
  double Param1To = 0, Param2To = 0, Param3To = 0;
  // Start values, as a chain reads them.
  int32_t AlphaFrom = 0;
  int32_t IntervalFrom = 100, SpreadFrom = 1;
  int32_t Value1From = 0, Value2From = 0, Range1From = 1, Range2From = 1;
  double Param1From = 0, Param2From = 0, Param3From = 0;

  int32_t GetAlphaTo() const override { return AlphaTo; }
  int32_t GetAlphaFrom() const;
  int32_t GetIntervalFrom() const;
  int32_t GetSpreadFrom() const;
  int32_t GetValue1From() const;
  int32_t GetValue2From() const;
  int32_t GetRange1From() const;
  int32_t GetRange2From() const;
  double GetParam1From() const;
  double GetParam2From() const;
  double GetParam3From() const;

  std::string GetSource() const override { return source_; }
  // A new picture releases the emitter, which is made again with it.
  void SetSource(const std::string& source) override;
  // The picture and, for a motion file, every file its own tracks use.
  void CollectFiles(std::vector<std::string>& files) const override;

 protected:
  void saveOwnFields(TFilmRecordWriter& out) override;
  void loadOwnFields(TFilmRecordReader& in) override;
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;
  void updateTarget(int32_t i) override;
  void releaseOwn(TZirkObject& object) override;

 private:
  std::string source_;
};

class TFireFrameList : public TEffectFrameList {
 public:
  explicit TFireFrameList(TFilmManager& film);
  TTrackType GetType() const override { return ttFire; }

  double ZoomXTo = 4.0, ZoomYTo = 4.0;
  double ZoomXFrom = 4.0, ZoomYFrom = 4.0;
  uint8_t ZoomXEasing = 0, ZoomYEasing = 0;
  int32_t Power = 100;

  // The zoom is what chains read as the scale.
  double GetScaleXTo() const override { return ZoomXTo; }
  double GetScaleYTo() const override { return ZoomYTo; }
  double GetZoomXFrom() const { return Parent ? Parent->GetScaleXTo() : ZoomXFrom; }
  double GetZoomYFrom() const { return Parent ? Parent->GetScaleYTo() : ZoomYFrom; }

 protected:
  void saveOwnFields(TFilmRecordWriter& out) override;
  void loadOwnFields(TFilmRecordReader& in) override;
  TZirkObject* createTarget(TZirkBaseList& scene, const std::string& name) override;
  void updateTarget(int32_t i) override;
};

// Registers the particle (6) and fire (7) track kinds.
void RegisterEffectTracks();

}  // namespace zirk
