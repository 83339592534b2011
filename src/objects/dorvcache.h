#pragma once
// The image cache: every picture a scene object shows is loaded once from
// its layered image file, converted frame by frame to display surfaces and
// lent to any number of users. An item nobody uses is parked on an idle
// list; the oldest parked items are freed once the parked pictures exceed a
// memory budget.
//
// Keys are the file followed by "?m" when a mask is wanted and then "?t"
// when trimmed frames are wanted; suffixes a caller put into the name count
// the same way. The file is the host path the file system resolves the name
// to, so every spelling of one file ("A.DOR", "./a.dor") shares one item; a
// name it cannot resolve keys its placeholder as given. Host paths compare
// exactly, as a folder may hold two files whose names differ only in case;
// names as given compare as game names do, whatever their case.
//
// The one cache is made by the scene runtime through the factory that
// RegisterDorvCache installs; everything reaches it through DorvCache().

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/hashcoll.h"
#include "base/streams.h"
#include "script/imagecache.h"
#include "surfaces/dibx.h"

namespace zirk {

class TDorvFrame;
class TDorvFrameList;

// Idle items are freed, oldest first, while more than this many bytes are
// parked (and more than one item is).
inline constexpr int64_t kIdleDorvBudget = 5'760'000;
// The picture a missing file stands in with: fully transparent.
inline constexpr int32_t kDorvPlaceholderSize = 8;

class EDorvCacheError : public Exception {
 public:
  using Exception::Exception;
};

class TDorvItemFrame {
 public:
  // A display surface of 1 x 1 at the display depth, no mask.
  TDorvItemFrame();

  std::unique_ptr<TCustomDIBX> Surface;
  // 8-bit per-pixel opacity; nullptr when the frame has neither an alpha
  // plane nor a mask request.
  std::unique_ptr<TDIBX> MaskSurface;
  int32_t TransparentColor = -1;     // 0x00BBGGRR, -1 none
  int32_t Delay = 1;                 // ms, at least 1
  int32_t OffsetX = 0, OffsetY = 0;  // where a trimmed frame lies in the image

  // An 8-bit mask of 1 x 1 when there is none.
  void EnsureMaskSurface();
  // A fresh display surface, as a new frame gets, showing what the old one
  // showed.
  void RecreateSurface();
};

// Bytes held by the frame's surfaces (width x height x bytes per pixel).
int64_t DorvFrameMemorySize(const TDorvItemFrame& frame);

class TDorvCollection;

// Who holds an item: every lease is an owner of its own. The cache hands
// out the values.
enum class TDorvOwner : uint64_t {};

class TDorvItem : public THashCollectionItem {
 public:
  // The name is the key; setting it loads the picture, read by the file
  // name the item was first asked for (by the key's own file without one).
  void SetName(const std::string& name) override;

  int32_t FrameCount() const { return static_cast<int32_t>(frames_.size()); }
  // nullptr outside 0..FrameCount-1.
  TDorvItemFrame* Frame(int32_t index) const;
  int64_t MemorySize() const;
  bool InUse() const { return !owners_.empty(); }
  bool HasOwner(TDorvOwner owner) const;
  int32_t OwnerCount() const { return static_cast<int32_t>(owners_.size()); }

  // Size of the file's first frame as loaded (before any trim).
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t TotalDelay = 0;

 private:
  friend class TDorvCollection;
  // The file name and flags a key stands for.
  struct TKeyParts {
    std::string FileName;
    bool Mask = false;
    bool Trim = false;
  };
  static TKeyParts splitKey(const std::string& key);
  void load();
  // A file that can no longer be read leaves the frames showing what they
  // showed and is reported on stderr; the game plays on.
  void reload(bool recreate);
  void releaseSurfaces();

  std::vector<TDorvOwner> owners_;
  std::vector<std::unique_ptr<TDorvItemFrame>> frames_;
  std::string fileName_;
};

class TDorvCollection : public THashCollectionOf<TDorvItem>, public TImageCacheServices {
 public:
  TDorvCollection() = default;
  ~TDorvCollection() override;

  // The item of the key, loaded on first use; the owner is listed once and
  // the item leaves the idle list. A load that fails leaves no item behind
  // and passes the error on.
  TDorvItem* Acquire(TDorvOwner owner, const std::string& fileName, bool mask, bool trim);
  // Takes the owner off the item (an owner not listed: nothing); the last
  // one parks it.
  void Release(TDorvItem* item, TDorvOwner owner);
  // An owner value no one has used yet.
  TDorvOwner NewOwner() { return TDorvOwner{++lastOwner_}; }
  // Parks the item and frees the oldest parked items over the budget; the
  // item just parked is never the one freed.
  void QueueIdle(TDorvItem* item);
  int64_t IdleMemory() const;
  int32_t IdleCount() const { return static_cast<int32_t>(idle_.size()); }
  bool IsIdle(const TDorvItem* item) const;
  TDorvItem* ItemAt(int32_t index) const { return Items(index); }
  // The item of a file name with its suffixes, whatever spelling of the
  // file it uses; nullptr when none is cached.
  TDorvItem* Find(const std::string& name) const;
  // The key of a file name with its suffixes.
  static std::string KeyOf(const std::string& name);

  bool CGDither() const { return cgDither_ != 0; }

  // TImageCacheServices: surface release and rebuild, the status byte,
  // @CGDither (a change reloads every item) and the purge of a file's
  // parked items (every suffix order included).
  void ReleaseSurfaces() override;
  void RebuildSurfaces(bool recreate) override;
  void SaveState(TKwStream& stream) override;
  void LoadState(TKwStream& stream, int version) override;
  void SetCGDither(bool flag) override;
  void Purge(const std::string& fileName) override;

 private:
  friend class TDorvLease;
  // A key, and whether its file is a host path (which names one file in
  // exactly that spelling).
  struct TKey {
    std::string Text;
    bool Host = false;
  };
  static TKey keyOf(const std::string& name);
  TDorvItem* findKey(const TKey& key) const;
  // Release by key: the item may be gone by the time its holder lets go.
  void releaseKey(const std::string& key, TDorvOwner owner);
  void freeItem(TDorvItem* item);

  uint8_t cgDither_ = 0;
  uint64_t lastOwner_ = 0;
  std::vector<TDorvItem*> idle_;  // oldest first
};

// The current project's identification code, 0 without a project.
int32_t ProjectIdentCode();
// Whether a game file can be read: the current project's answer, else the
// program's virtual file system's.
bool GameFileAvailable(const std::string& name);

// Installs the factory the scene runtime makes the cache with.
void RegisterDorvCache();
// The program-wide cache, or nullptr outside ZirkInitialize / ZirkFinalize.
TDorvCollection* DorvCache();

// The operations on the program-wide cache; without a cache they do
// nothing.
void QueueIdleDorvItem(TDorvItem* item);
int64_t IdleDorvMemory();
void PurgeDorvItem(const std::string& fileName);
void SaveDorvCacheState(TKwStream& stream);
void LoadDorvCacheState(TKwStream& stream, int version);
void ReleaseDorvSurfaces();
void RebuildDorvSurfaces(bool recreate);

// A hold on one item of the program-wide cache: acquired when made, handed
// back when it goes, is reset or is assigned another; the holder is the
// lease itself, so nobody passes owner tokens. An item the cache has freed
// meanwhile (or a cache that is gone) is not touched.
class TDorvLease {
 public:
  TDorvLease() = default;
  // Raises EDorvCacheError without a cache; a failed load passes its error
  // on and holds nothing.
  TDorvLease(const std::string& fileName, bool mask, bool trim);
  TDorvLease(TDorvLease&& other) noexcept;
  TDorvLease& operator=(TDorvLease&& other) noexcept;
  TDorvLease(const TDorvLease&) = delete;
  TDorvLease& operator=(const TDorvLease&) = delete;
  ~TDorvLease() { Reset(); }

  void Reset();
  TDorvItem* Get() const { return item_; }
  TDorvItem* operator->() const { return item_; }
  TDorvItem& operator*() const { return *item_; }
  explicit operator bool() const { return item_ != nullptr; }

 private:
  TDorvCollection* cache_ = nullptr;
  TDorvItem* item_ = nullptr;
  std::string key_;
  TDorvOwner owner_{};
};

// One blit of a cached frame by the image objects' alpha rule, through the
// frame's mask.
bool DrawDorvFrame(const TDorvItemFrame& frame, TCustomDIBX& target, int32_t x, int32_t y,
                   const TRect& source, bool flipH, bool flipV, int32_t alpha);
// Fills dest with copies of the source rectangle, the pattern shifted by
// the offsets (taken modulo the tile, negative ones included). Flipping
// mirrors the whole tiled area. An empty tile draws nothing.
void DrawDorvFrameTiled(const TDorvItemFrame& frame, TCustomDIBX& target, const TRect& dest,
                        const TRect& source, int32_t offsetX, int32_t offsetY, bool flipH,
                        bool flipV, int32_t alpha);

// The wallpaper built-in: the first frame of the named picture becomes the
// desktop picture. Returns where the picture was written, or an empty
// string when the picture has no frames or could not be written.
std::string SetWallPaper(const std::string& fileName);

}  // namespace zirk
