#pragma once
// The tracks of a film: a time span on the film's timeline, key frames, an
// optional parent track that this one continues, and the values it moves
// between a start and an end by one of three easings. This file holds the
// common part of every track, the interpolation, the film's record reader
// and writer, and the registry of track kinds.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/records.h"
#include "base/streams.h"
#include "base/vocab.h"
#include "objects/frms.h"

namespace zirk {

class TZirkObject;
class TCustomFrameList;

// Easings are the MT_ values (TMotionType); every value above MT_DEC
// decelerates too. From `from` at i = 0 to `to` at i = count - 1, where count is the track's
// length (plus one when a chained track follows it). Computed in 64 bits
// and saturated, so extreme values cannot wrap.
int32_t InterpolateInt(uint8_t mode, int32_t from, int32_t count, int32_t i, int32_t to);
double InterpolateFloat(uint8_t mode, int32_t i, double from, double to, int32_t count);

// A track record of a film file: the checked record reader with the
// film's folder, which relative names in the record resolve against, and
// the film's format error.
class TFilmRecordReader : public TRecordReader {
 public:
  TFilmRecordReader(TKwStream& stream, const std::string& folder, int32_t version)
      : TRecordReader(stream, version, "film record"), folder_(folder) {}
  const std::string& Folder() const { return folder_; }

 protected:
  [[noreturn]] void Fail(const std::string& message) const override;

 private:
  std::string folder_;
};

// Track records in the current layout, names relative to the film's folder.
class TFilmRecordWriter : public TRecordWriter {
 public:
  TFilmRecordWriter(TKwStream& stream, const std::string& folder)
      : TRecordWriter(stream), folder_(folder) {}
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
};

// Track kinds are registered by their own files; the film reader builds
// each track through this registry.
using TTrackFactory = std::unique_ptr<TCustomFrameList> (*)(TFilmManager& film);
// Registers (or with nullptr removes) the kind of a type byte's low 7 bits.
void RegisterTrackKind(uint8_t type, TTrackFactory factory);
// A new track of the type byte's kind; nullptr for a kind nobody registered.
std::unique_ptr<TCustomFrameList> CreateTrack(TFilmManager& film, uint8_t type);
// Registers every track kind the player builds.
void RegisterFilmTracks();

// The object a track made in its film's owner scene. It is looked up again
// by its serial each time, since a script may have scrapped it meanwhile.
class TTrackTarget {
 public:
  using TCreator = std::function<TZirkObject*(TZirkBaseList& scene, const std::string& name)>;
  TZirkObject* Get(const TFilmManager& film) const;
  // Makes the object with `create` when there is none, named for the film
  // (chr(1), or chr(1) + the host's name + chr(1), and a number).
  TZirkObject* GetOrCreate(TFilmManager& film, const TCreator& create);
  // The live object, forgotten; nullptr when there is none.
  TZirkObject* Take(const TFilmManager& film);
  bool Made() const { return object_ != nullptr; }

 private:
  TZirkObject* object_ = nullptr;
  uint64_t serial_ = 0;
};

// The clip block of a track record (image-based and rectangle kinds):
// start and end position and size, and the two easings. Start values are
// written through the getters, so a chained track writes its parent's.
template <class Track>
void WriteClipKeys(TRecordWriter& out, const Track& t) {
  out.Point(t.GetClipPositionFrom());
  out.Point(t.GetClipSizeFrom());
  out.Point(t.ClipPositionTo);
  out.Point(t.ClipSizeTo);
  out.Byte(t.ClipXEasing);
  out.Byte(t.ClipYEasing);
}
template <class Track>
void ReadClipKeys(TRecordReader& in, Track& t) {
  t.ClipPositionFrom = in.Point();
  t.ClipSizeFrom = in.Point();
  t.ClipPositionTo = in.Point();
  t.ClipSizeTo = in.Point();
  t.ClipXEasing = in.Byte();
  t.ClipYEasing = in.Byte();
}

// Hands a clip rectangle to a driven object (PR_CLIPLEFT, PR_CLIPTOP,
// PR_CLIPWIDTH, PR_CLIPHEIGHT, in that order).
void SetClipProps(TZirkObject& object, const TRect& clip);

// A key frame.
class TCustomFrame {
 public:
  explicit TCustomFrame(TCustomFrameList& track) : track_(&track) {}
  virtual ~TCustomFrame() = default;
  TCustomFrameList& Track() const { return *track_; }
  virtual int32_t Width() const { return 0; }
  virtual int32_t Height() const { return 0; }
  virtual TPoint Offset() const { return {}; }
  // Ticks.
  virtual int32_t Duration() const { return 1; }

 private:
  TCustomFrameList* track_;
};

// The single key frame of tracks that have no pictures; its size is its
// track's.
class TBoxFrame : public TCustomFrame {
 public:
  using TCustomFrame::TCustomFrame;
  int32_t Width() const override;
  int32_t Height() const override;
};

class TCustomFrameList {
 public:
  explicit TCustomFrameList(TFilmManager& film) : film_(&film) {}
  virtual ~TCustomFrameList();
  TCustomFrameList(const TCustomFrameList&) = delete;
  TCustomFrameList& operator=(const TCustomFrameList&) = delete;

  TFilmManager& Film() const { return *film_; }

  // --- common fields --------------------------------------------------------
  int32_t Length = 0;  // ticks
  int32_t Reserved = 0;
  int32_t Start = 0;  // ignored while a parent is set
  int32_t LoopLength = 0;
  TCustomFrameList* Parent = nullptr;
  int32_t Priority = 0;
  bool FlipH = false, FlipV = false;
  bool OtherScreen = false;
  std::vector<std::unique_ptr<TCustomFrame>> Frames;

  // Where the track starts: at its parent's end when it has one. Computed
  // in 64 bits and saturated.
  int32_t TrackStart() const;
  int32_t TrackEnd() const;
  bool Active(int32_t time) const;
  TCustomFrameList* ChainedTrack() const { return film_->ChainedTrack(this); }
  // Interpolation over this track's span at i ticks after its start.
  int32_t InterpolateInt(uint8_t mode, int32_t from, int32_t i, int32_t to) const;
  double InterpolateFloat(uint8_t mode, int32_t i, double from, double to) const;
  int32_t InterpolationCount() const;

  // --- values other tracks read ---------------------------------------------
  // A chained track starts from its parent's end values, whatever kind the
  // parent is; kinds override the ones they store.
  virtual TTrackType GetType() const = 0;
  virtual TZirkObject* GetTarget() const { return nullptr; }
  virtual std::string GetSource() const { return {}; }
  virtual void SetSource(const std::string&) {}
  virtual bool GetPaused() const { return false; }
  virtual void SetPaused(bool) {}
  virtual int32_t GetContentWidth() const;
  virtual int32_t GetContentHeight() const;
  virtual TPoint GetPositionTo() const { return {}; }
  virtual double GetScaleXTo() const { return 1.0; }
  virtual double GetScaleYTo() const { return 1.0; }
  virtual int32_t GetAlphaTo() const { return 0; }
  virtual int32_t GetRotationTo() const { return 0; }
  virtual TPoint GetClipPositionTo() const { return {}; }
  virtual TPoint GetClipSizeTo() const { return {}; }
  virtual int32_t GetWidthTo() const { return GetContentWidth(); }
  virtual int32_t GetHeightTo() const { return GetContentHeight(); }
  virtual int32_t GetScrollXTo() const { return 0; }
  virtual int32_t GetScrollYTo() const { return 0; }
  virtual int32_t GetColorTo() const { return 0; }
  virtual int32_t GetBorderWidthTo() const { return 0; }
  virtual int32_t GetBorderColorTo() const { return 0; }
  // The size of a key frame without a picture of its own: a wipe covers
  // the film; rectangle kinds give their rectangle.
  virtual int32_t GetFrameWidth() const;
  virtual int32_t GetFrameHeight() const;

  // --- operations -----------------------------------------------------------
  // Frees the key frames; Length := 0.
  virtual void ClearFrames();
  // The key frame shown t ticks after the start; -1 without frames.
  virtual int32_t FrameIndexAt(int32_t t) const;
  virtual void ReleaseTarget() {}
  // Brings the driven object to its state at the film time; true while the
  // track is active.
  virtual bool Apply(int32_t) { return false; }
  void ReloadIfActive(int32_t time) {
    if (Active(time)) Reload();
  }
  // The record after the type byte, in the current layout.
  virtual void SaveToStream(TFilmRecordWriter& out);
  // Reads the record; the parent comes back as an index for the film to
  // resolve.
  virtual void LoadFromStream(TFilmRecordReader& in);
  int32_t LoadedParentIndex() const { return loadedParent_; }
  // The film's after-load step: re-reads the track's media.
  virtual void Reload() {}
  virtual void CollectFiles(std::vector<std::string>&) const {}
  // The film gave its owner its size and colour again (sound tracks make
  // their sound here).
  virtual void OwnerRefreshed() {}
  // The film stopped playing its tracks (sound tracks pause their sound).
  virtual void PlayingStopped() {}

 protected:
  static void addUnique(std::vector<std::string>& files, const std::string& name);
  // The parts of applying a frame that the kinds share.
  // A point of a relative motion, moved from the film's origin to the
  // motion's base point; other points as they are.
  TPoint filmPosition(TPoint p) const;
  // The clip rectangle i ticks in; empty (no clip) while either size is
  // below 1.
  TRect clipAt(int32_t i, TPoint positionFrom, TPoint sizeFrom, TPoint positionTo, TPoint sizeTo,
               uint8_t xEasing, uint8_t yEasing) const;
  // The size of an area i ticks in whose first pixel, now at `first`,
  // moves from `from` to `to` and whose last pixel moves from
  // from + sizeFrom - 1 to to + sizeTo - 1, both by the easing.
  int32_t sizeAt(uint8_t easing, int32_t i, int32_t first, int32_t from, int32_t sizeFrom,
                 int32_t to, int32_t sizeTo) const;
  // The opacity i ticks in, where 0 stands for 255 and both 0 leave it
  // opaque; a negative result counts as additive (256 - a).
  int32_t alphaAt(int32_t i, int32_t from, int32_t to) const;
  // Where the driven object hangs: the film's host, else the owner's
  // screen by the wipes finished at the track's start (the other one with
  // OtherScreen); nullptr in a motion.
  TZirkObject* placementParent() const;

 private:
  friend class TFilmManager;
  TFilmManager* film_;
  int32_t loadedParent_ = -1;
  // The track's index in its film; -1 until the film takes it.
  int32_t index_ = -1;
};

}  // namespace zirk
