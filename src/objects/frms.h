#pragma once
// Films: key-framed timelines whose tracks create and drive scene objects.
// A film comes from a film file ("ZirkCinema", played by a cinema) or a
// motion file ("ZirkMotion", played on one control). Time is counted in
// ticks of 1/60 s; at a given time every track applies itself and the
// film's wipe tracks flip the owner scene's two screens with a transition.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/exceptions.h"
#include "base/geometry.h"
#include "base/records.h"
#include "base/streams.h"

namespace zirk {

class TCustomFrameList;
class TWipeFrameList;
class TZirkObject;
class TZirkControl;
class TZirkBaseList;

// A film or motion file that cannot be read: truncated, a count or length
// beyond its bytes, or a track kind this player does not know.
class EFilmFormatError : public EFormatError {
 public:
  using EFormatError::EFormatError;
};

// Track kinds: the low seven bits of a track's type byte.
enum TTrackType : uint8_t {
  ttImage = 0,
  ttLabel = 1,
  ttBox = 2,
  ttWipe = 3,
  ttSound = 4,
  ttTile = 5,
  ttParticle = 6,
  ttFire = 7,
};

// The largest film a screen can show: the largest screens made (7680 x
// 4320), either way up. A header asking for more would take gigabytes of
// screen surfaces from a few bytes.
inline constexpr int32_t kMaxFilmSide = 7680;
inline constexpr int64_t kMaxFilmPixels = int64_t{7680} * 4320;

// The largest film file read: over twice a chain of 200,000 tracks, the
// longest a game has use for, where a file of gigabytes would be read whole.
inline constexpr int64_t kMaxFilmFileBytes = int64_t{64} << 20;

// Bytes that the objects of one film's tracks may hold together beyond
// the pictures they load: the cells of its fires and the rendered
// pictures of its captions. Each object's own cap holds, but a film of a
// few kilobytes could name hundreds of them.
inline constexpr int64_t kFilmObjectBudget = int64_t{128} << 20;

// What is left of a film's budget; shares are taken through TFilmCharge.
class TFilmBudget {
 public:
  explicit TFilmBudget(int64_t bytes) : left_(bytes) {}
  int64_t Left() const { return left_; }

 private:
  friend class TFilmCharge;
  int64_t left_;
};

// One object's share of a film's budget; given back when the object goes
// (Release) or when the charge itself goes.
class TFilmCharge {
 public:
  TFilmCharge() = default;
  ~TFilmCharge() { Release(); }
  TFilmCharge(const TFilmCharge&) = delete;
  TFilmCharge& operator=(const TFilmCharge&) = delete;

  // Gives back the share held and takes up to `bytes`; returns what it got.
  int64_t Take(TFilmBudget& budget, int64_t bytes);
  void Release();
  int64_t Bytes() const { return bytes_; }

 private:
  TFilmBudget* budget_ = nullptr;
  int64_t bytes_ = 0;
};

// One film tick in ms, as the double the file times were made with.
inline constexpr double kFilmTickMs = 1000.0 / 60.0;
// Milliseconds to ticks, to nearest with ties to even; saturated to int32.
int32_t MsToFilmTicks(double ms);

// A path split into components, each ending with "\".
class TPathParser {
 public:
  void Split(const std::string& path);
  std::string Join() const;
  int32_t Count() const { return static_cast<int32_t>(parts_.size()); }
  const std::string& Part(int32_t index) const { return parts_.at(static_cast<size_t>(index)); }
  void DeleteFirst() { parts_.erase(parts_.begin()); }
  void DeleteLast() { parts_.pop_back(); }

 private:
  std::vector<std::string> parts_;
};

// A name stored in a film record made absolute against the film's folder.
std::string ResolveRelativePath(const std::string& name, const std::string& baseFolder);
// A name made relative to the film's folder for writing.
std::string MakeRelativePath(const std::string& name, const std::string& baseFolder);

class TFilmManager {
 public:
  TFilmManager();
  ~TFilmManager();
  TFilmManager(const TFilmManager&) = delete;
  TFilmManager& operator=(const TFilmManager&) = delete;

  // --- what the file gives ------------------------------------------------
  int32_t Width = 0, Height = 0;
  int32_t Color = -1;  // negative: none
  bool Relative = false;
  TPoint Origin;
  int32_t LoopStart = 0;  // ticks
  uint8_t Kind = 0;       // 0 film, 1 motion, 2 unrecognised
  int32_t Length = 0;     // ticks: the largest track end

  // --- play state ---------------------------------------------------------
  int32_t Time = 0;
  TWipeFrameList* LastWipe = nullptr;
  bool Playing = true;
  bool Paused = false;
  int32_t VolumeScale = 1000;
  // What the objects the tracks make may hold (fire cells, captions).
  TFilmBudget Budget{kFilmObjectBudget};

  // --- set by the film's user ---------------------------------------------
  // A cinema playing the film straight into the global scene: no screen
  // flips, no owner size or colour; object names carry the host's name.
  TZirkObject* Host = nullptr;
  // The scene that receives the tracks' objects, size, colour and flips.
  TZirkBaseList* Owner = nullptr;
  // A motion: tracks drive MotionTarget instead of objects of their own.
  bool MotionMode = false;
  TZirkControl* MotionTarget = nullptr;
  TPoint BasePoint;
  int32_t BasePriority = 0;
  // Tests read records without loading the media they name.
  bool SkipAfterLoad = false;

  // Frees the tracks and forgets everything the last file gave, the play
  // state included (a motion reloaded from a shorter file must not keep
  // the old length, and the last wipe is gone with its track).
  void Clear();
  // Reads the named game file through the virtual file system; whatever
  // cannot be read raises EVrFileError naming the file (a picture of the
  // film that cannot, naming the picture), a file past kMaxFilmFileBytes
  // EVrFileTooLarge.
  void LoadFilm(const std::string& fileName);
  // Reads a film from the stream's position; fileName gives the folder that
  // relative names in the records are resolved against. A damaged file
  // raises EFilmFormatError, which does not name it, and leaves the film
  // cleared.
  void ReadFilm(TKwStream& stream, const std::string& fileName);

  int32_t Count() const { return static_cast<int32_t>(tracks_.size()); }
  TCustomFrameList* TrackAt(int32_t index) const;
  // -1 for nullptr and for a track of another film.
  int32_t IndexOf(const TCustomFrameList* track) const;
  // Appends a track built in code (the reader uses the same path).
  TCustomFrameList* AddTrack(std::unique_ptr<TCustomFrameList> track);
  int32_t GetLength() const { return Length; }
  // The first track whose parent is the given one, nullptr when none.
  TCustomFrameList* ChainedTrack(const TCustomFrameList* track) const;
  // The track the given one's chain starts from: up the parents while
  // they are of the track's own kind.
  TCustomFrameList* KindRoot(const TCustomFrameList* track) const;
  // Where the chain of its own kind that starts at the given track ends:
  // the latest end of the tracks whose kind root it is. Tracks of other
  // kinds chained to it, and what hangs off them, do not count.
  int64_t KindChainEnd(const TCustomFrameList* root) const;

  void SetSize(TPoint size);
  void SetColor(int32_t color);
  void SetOwnerObject(TZirkBaseList* owner) { Owner = owner; }
  void RefreshOwner();

  void SetFilmTime(int32_t time);
  // The wipe track covering the time (the last one in list order) and the
  // screen parity of the wipes before it.
  std::pair<TWipeFrameList*, int32_t> ActiveWipe(int32_t time) const;
  // The parity of the wipes finished at the time, where a wipe whose last
  // tick is the time counts as finished.
  int32_t WipeParity(int32_t time) const;

  TCustomFrameList* FirstStartTrack() const;
  bool HasWipeOrFlag() const;
  // Adds the media files the tracks use, each name once.
  void CollectFiles(std::vector<std::string>& files) const;
  void SetPaused(bool paused);
  void SetTracksEnabled(bool enabled);

 private:
  friend class TCustomFrameList;
  // What every track of a pass over the film (a SetFilmTime, the reader's
  // length) asks about the others: the chained track, the start, the
  // chain's root and end, and the wipes' ends. Made once at the start of
  // the pass, so the pass stays linear in the tracks, and dropped after it,
  // so links changed between passes are always seen; tracks change none in
  // a pass.
  struct TPassIndex {
    bool Active = false;
    std::vector<TCustomFrameList*> Chained;   // by track index
    std::vector<int64_t> Start;               // by track index, unsaturated
    std::vector<TCustomFrameList*> KindRoot;  // by track index
    std::vector<int64_t> KindEnd;             // by the index of a chain's root
    std::vector<int64_t> WipeEnds;            // each wipe's last tick, sorted
  };
  class TPass;
  void indexTracks();
  // The track's index while a pass is indexed, else -1.
  int32_t passIndexOf(const TCustomFrameList* track) const;
  // The start a pass has indexed for the track; false outside a pass.
  bool indexedStart(const TCustomFrameList& track, int64_t& start) const;
  void readTracks(TKwStream& stream, const std::string& folder, int32_t version);
  void resolveParents(const std::vector<int32_t>& parentIndices);

  std::vector<std::unique_ptr<TCustomFrameList>> tracks_;
  TPassIndex pass_;
};

}  // namespace zirk
