#include "objects/dorvcache.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string_view>
#include <utility>

#include "base/records.h"
#include "base/sjis.h"
#include "base/vrfiles.h"
#include "imaging/KwPNG.h"
#include "imaging/dorvs.h"
#include "platform/wallpaper.h"
#include "script/project.h"
#include "surfaces/screenman.h"

namespace zirk {

// --- frames -----------------------------------------------------------------------

TDorvItemFrame::TDorvItemFrame() : Surface(MakeDisplayDIBX()) {}

void TDorvItemFrame::EnsureMaskSurface() {
  if (!MaskSurface) MaskSurface = std::make_unique<TDIBX>(1, 1, 8);
}

void TDorvItemFrame::RecreateSurface() {
  const std::unique_ptr<TCustomDIBX> old = std::exchange(Surface, MakeDisplayDIBX());
  Surface->SetSize(old->Width(), old->Height(), Surface->BitCount());
  Surface->CopyFrom(*old);
  Surface->SetColorKey(old->ColorKey() < 0 ? -1 : Surface->ColorToPixel(TransparentColor));
}

int64_t DorvFrameMemorySize(const TDorvItemFrame& frame) {
  int64_t size = 0;
  for (const TCustomDIBX* s :
       {frame.Surface.get(), static_cast<TCustomDIBX*>(frame.MaskSurface.get())}) {
    if (!s) continue;
    size += int64_t{std::max(s->Width(), 0)} * std::max(s->Height(), 0) * ((s->BitCount() + 7) / 8);
  }
  return size;
}

// --- items ------------------------------------------------------------------------------

bool GameFileAvailable(const std::string& name) {
  if (const TProject* project = CurrentProject()) return project->FileAvailable(name);
  TVrFileManager* files = TVrFileManager::Global();
  return files && files->FileExists(name);
}

namespace {

// A picture the reader takes stores its planes in fewer bytes than its
// pixel bound charges for them (the composed frame is charged besides its
// layers and their alpha planes), so a larger file cannot be one.
constexpr int64_t kPictureFileCap = kDorvMaxLoadBytes;

// Reads and parses the file and hands its frames, none when it has none, to
// `take`, which makes the item's surfaces of them: a frame too large for a
// surface names the file as a damaged one does.
void readFrames(const std::string& fileName, bool mask,
                const std::function<void(TDorvFrameList&)>& take) {
  TDorvFrameList list(ProjectIdentCode());
  ReadGameFile(fileName, kPictureFileCap, [&](TKwMemoryStream& stream) {
    LoadDorvStream(list, stream, false);
    if (mask) list.BuildAllAlpha();
    take(list);
  });
}

// Copies a parsed frame's picture into a display surface, keyed by its
// transparent colour.
void copyImage(TDorvFrame& source, TCustomDIBX& surface) {
  source.CopyToDIBX(surface);
  surface.SetColorKey(surface.ColorToPixel(source.TransparentColor));
}

// Copies a parsed frame's alpha into the item frame's mask, when it has an
// alpha plane or a mask is asked for.
void copyAlpha(const TDorvFrame& source, TDorvItemFrame& target, bool mask) {
  if (source.HasAlpha() || mask) {
    target.EnsureMaskSurface();
    source.CopyAlphaToDIBX(*target.MaskSurface);
  }
}

// One line on stderr for a picture that could not be read again. The error
// begins with the game name, which the line puts first in the terminal's
// encoding.
void reportUnreadable(const std::string& fileName, std::string_view error) {
  const std::string shown = SjisForMessage(fileName);
  if (error.starts_with(shown + ":")) {
    error.remove_prefix(shown.size() + 1);
    if (error.starts_with(' ')) error.remove_prefix(1);
  }
  std::fprintf(stderr, "zirkplayer: %s: %.*s\n", shown.c_str(), static_cast<int>(error.size()),
               error.data());
  std::fflush(stderr);
}

}  // namespace

TDorvItem::TKeyParts TDorvItem::splitKey(const std::string& key) {
  TKeyParts parts{key, key.find("?m") != std::string::npos, key.find("?t") != std::string::npos};
  // One suffix cut from the end per flag, whatever the order they came in.
  for (bool flag : {parts.Mask, parts.Trim}) {
    if (flag) parts.FileName.erase(parts.FileName.size() >= 2 ? parts.FileName.size() - 2 : 0);
  }
  return parts;
}

void TDorvItem::SetName(const std::string& name) {
  THashCollectionItem::SetName(name);
  if (fileName_.empty()) fileName_ = splitKey(name).FileName;
  load();
}

TDorvItemFrame* TDorvItem::Frame(int32_t index) const {
  return index >= 0 && index < FrameCount() ? frames_[static_cast<size_t>(index)].get() : nullptr;
}

int64_t TDorvItem::MemorySize() const {
  int64_t size = 0;
  for (const auto& frame : frames_) size += DorvFrameMemorySize(*frame);
  return size;
}

bool TDorvItem::HasOwner(TDorvOwner owner) const {
  return std::find(owners_.begin(), owners_.end(), owner) != owners_.end();
}

void TDorvItem::load() {
  frames_.clear();
  TKeyParts key = splitKey(Name());
  key.FileName = fileName_;
  const int32_t depth = ScreenSurfaceDepth();

  if (!GameFileAvailable(key.FileName)) {
    auto frame = std::make_unique<TDorvItemFrame>();
    frame->Surface->SetSize(kDorvPlaceholderSize, kDorvPlaceholderSize, depth);
    frame->Surface->FillRect(frame->Surface->GetBoundsRect(), 0);
    // Black is pixel 0 in every layout: users that take the key from the
    // frame's colour keep the whole placeholder transparent.
    frame->TransparentColor = 0;
    frame->Surface->SetColorKey(frame->Surface->ColorToPixel(frame->TransparentColor));
    if (key.Mask) {
      // A mask as large as the picture and all 0, so the placeholder stays
      // transparent when drawn through it.
      frame->EnsureMaskSurface();
      frame->MaskSurface->SetSize(kDorvPlaceholderSize, kDorvPlaceholderSize, 8);
    }
    frames_.push_back(std::move(frame));
    return;
  }

  readFrames(key.FileName, key.Mask, [&](TDorvFrameList& list) {
    if (list.Count() == 0) return;
    Width = list.GetFrame(0)->Image.Width();
    Height = list.GetFrame(0)->Image.Height();
    TotalDelay = 0;
    for (int32_t i = 0; i < list.Count(); ++i) {
      TDorvFrame& source = *list.GetFrame(i);
      auto frame = std::make_unique<TDorvItemFrame>();
      if (key.Trim) {
        const TRect kept = source.Trim();
        frame->OffsetX = kept.Left;
        frame->OffsetY = kept.Top;
      }
      copyImage(source, *frame->Surface);
      copyAlpha(source, *frame, key.Mask);
      frame->TransparentColor = source.TransparentColor;
      frame->Delay = source.Delay != 0 ? source.Delay : 1;
      TotalDelay += frame->Delay;
      frames_.push_back(std::move(frame));
    }
  });
}

void TDorvItem::reload(bool recreate) {
  TKeyParts key = splitKey(Name());
  key.FileName = fileName_;
  TVrFileManager* files = TVrFileManager::Global();
  if (!files || !files->FileExists(key.FileName)) return;
  size_t recreated = 0;  // frames whose new surface already holds the file's picture
  try {
    readFrames(key.FileName, key.Mask, [&](TDorvFrameList& list) {
      const int32_t count = std::min(list.Count(), FrameCount());
      for (int32_t i = 0; i < count; ++i) {
        TDorvFrame& source = *list.GetFrame(i);
        TDorvItemFrame& frame = *frames_[static_cast<size_t>(i)];
        const bool keyed = source.TransparentColor >= 0;
        if (keyed && !source.HasAlpha() && !recreate) continue;
        TRect kept = Rect(0, 0, 0, 0);
        if (key.Trim && (keyed || source.HasAlpha())) kept = source.Trim();
        if (recreate) {
          // The old surface stays until the new one holds the picture.
          std::unique_ptr<TCustomDIBX> surface = MakeDisplayDIBX();
          copyImage(source, *surface);
          frame.Surface = std::move(surface);
          recreated = static_cast<size_t>(i) + 1;
        } else {
          copyImage(source, *frame.Surface);
        }
        copyAlpha(source, frame, key.Mask);
        frame.OffsetX = kept.Left;
        frame.OffsetY = kept.Top;
      }
    });
  } catch (const Exception& e) {
    // A file changed under a running game is no reason to end it.
    reportUnreadable(fileName_, e.what());
    if (recreate) {
      for (size_t i = recreated; i < frames_.size(); ++i) frames_[i]->RecreateSurface();
    }
  }
}

void TDorvItem::releaseSurfaces() {
  for (const auto& frame : frames_) frame->Surface->ReleaseSurface();
}

// --- collection ---------------------------------------------------------------------------

TDorvCollection::~TDorvCollection() {
  idle_.clear();
  Clear();
}

TDorvItem* TDorvCollection::Acquire(TDorvOwner owner, const std::string& fileName, bool mask,
                                    bool trim) {
  std::string name = fileName;
  if (mask) name += "?m";
  if (trim) name += "?t";
  const TKey key = keyOf(name);
  TDorvItem* item = findKey(key);
  if (!item) {
    item = Add();
    item->fileName_ = TDorvItem::splitKey(name).FileName;
    try {
      item->SetName(key.Text);
    } catch (...) {
      // Nothing half-loaded stays behind: the next acquire reads again.
      Remove(item);
      throw;
    }
  }
  if (!item->HasOwner(owner)) item->owners_.push_back(owner);
  std::erase(idle_, item);
  return item;
}

TDorvItem* TDorvCollection::Find(const std::string& name) const {
  return findKey(keyOf(name));
}

std::string TDorvCollection::KeyOf(const std::string& name) {
  return keyOf(name).Text;
}

TDorvCollection::TKey TDorvCollection::keyOf(const std::string& name) {
  const std::string file = TDorvItem::splitKey(name).FileName;
  TVrFileManager* files = TVrFileManager::Global();
  const std::string host = files ? files->GetRealFileName(file) : std::string();
  return {(host.empty() ? file : host) + name.substr(file.size()), !host.empty()};
}

TDorvItem* TDorvCollection::findKey(const TKey& key) const {
  TDorvItem* item = THashCollectionOf<TDorvItem>::Find(key.Text);
  if (!item || !key.Host || item->Name() == key.Text) return item;
  // The hash ignores case; a later item may hold the exact spelling.
  for (int32_t i = item->Index() + 1; i < Count(); ++i) {
    if (Items(i)->Name() == key.Text) return Items(i);
  }
  return nullptr;
}

void TDorvCollection::releaseKey(const std::string& key, TDorvOwner owner) {
  if (TDorvItem* item = findKey({key, true})) Release(item, owner);
}

void TDorvCollection::Release(TDorvItem* item, TDorvOwner owner) {
  if (!item || item->Collection() != this) return;
  auto it = std::find(item->owners_.begin(), item->owners_.end(), owner);
  if (it == item->owners_.end()) return;
  item->owners_.erase(it);
  if (item->owners_.empty()) QueueIdle(item);
}

void TDorvCollection::QueueIdle(TDorvItem* item) {
  idle_.push_back(item);
  while (idle_.size() >= 2 && IdleMemory() > kIdleDorvBudget) {
    TDorvItem* oldest = idle_.front();
    idle_.erase(idle_.begin());
    Remove(oldest);
  }
}

int64_t TDorvCollection::IdleMemory() const {
  int64_t size = 0;
  for (const TDorvItem* item : idle_) size += item->MemorySize();
  return size;
}

bool TDorvCollection::IsIdle(const TDorvItem* item) const {
  return std::find(idle_.begin(), idle_.end(), item) != idle_.end();
}

void TDorvCollection::freeItem(TDorvItem* item) {
  std::erase(idle_, item);
  Remove(item);
}

void TDorvCollection::ReleaseSurfaces() {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->releaseSurfaces();
}

void TDorvCollection::RebuildSurfaces(bool recreate) {
  for (int32_t i = 0; i < Count(); ++i) Items(i)->reload(recreate);
}

void TDorvCollection::SaveState(TKwStream& stream) {
  TRecordWriter(stream).Byte(cgDither_);
}

void TDorvCollection::LoadState(TKwStream& stream, int version) {
  cgDither_ = TRecordReader(stream, version).From(101, cgDither_);
}

void TDorvCollection::SetCGDither(bool flag) {
  if (CGDither() == flag) return;
  cgDither_ = flag ? 1 : 0;
  RebuildSurfaces(false);
}

void TDorvCollection::Purge(const std::string& fileName) {
  for (const char* suffix : {"", "?m", "?t", "?m?t", "?t?m"}) {
    TDorvItem* item = Find(fileName + suffix);
    if (item && IsIdle(item)) freeItem(item);
  }
}

int32_t ProjectIdentCode() {
  const TProject* project = CurrentProject();
  return project ? project->IdentCode() : 0;
}

// --- the program-wide cache ------------------------------------------------------------------

void RegisterDorvCache() {
  SetImageCacheFactory([] { return std::make_unique<TDorvCollection>(); });
}

TDorvCollection* DorvCache() {
  return dynamic_cast<TDorvCollection*>(ImageCache());
}

void QueueIdleDorvItem(TDorvItem* item) {
  if (TDorvCollection* cache = DorvCache()) cache->QueueIdle(item);
}

int64_t IdleDorvMemory() {
  TDorvCollection* cache = DorvCache();
  return cache ? cache->IdleMemory() : 0;
}

void PurgeDorvItem(const std::string& fileName) {
  if (TDorvCollection* cache = DorvCache()) cache->Purge(fileName);
}

void SaveDorvCacheState(TKwStream& stream) {
  if (TDorvCollection* cache = DorvCache()) cache->SaveState(stream);
}

void LoadDorvCacheState(TKwStream& stream, int version) {
  if (TDorvCollection* cache = DorvCache()) cache->LoadState(stream, version);
}

void ReleaseDorvSurfaces() {
  if (TDorvCollection* cache = DorvCache()) cache->ReleaseSurfaces();
}

void RebuildDorvSurfaces(bool recreate) {
  if (TDorvCollection* cache = DorvCache()) cache->RebuildSurfaces(recreate);
}

// --- leases ---------------------------------------------------------------------------------

TDorvLease::TDorvLease(const std::string& fileName, bool mask, bool trim) : cache_(DorvCache()) {
  if (!cache_) throw EDorvCacheError("no image cache");
  owner_ = cache_->NewOwner();
  item_ = cache_->Acquire(owner_, fileName, mask, trim);
  key_ = item_->Name();
}

TDorvLease::TDorvLease(TDorvLease&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)),
      item_(std::exchange(other.item_, nullptr)),
      key_(std::move(other.key_)),
      owner_(other.owner_) {}

TDorvLease& TDorvLease::operator=(TDorvLease&& other) noexcept {
  if (this != &other) {
    Reset();
    cache_ = std::exchange(other.cache_, nullptr);
    item_ = std::exchange(other.item_, nullptr);
    key_ = std::move(other.key_);
    owner_ = other.owner_;
  }
  return *this;
}

void TDorvLease::Reset() {
  TDorvCollection* cache = std::exchange(cache_, nullptr);
  item_ = nullptr;
  if (cache && cache == DorvCache()) cache->releaseKey(key_, owner_);
  key_.clear();
}

// --- drawing ---------------------------------------------------------------------------------

bool DrawDorvFrame(const TDorvItemFrame& frame, TCustomDIBX& target, int32_t x, int32_t y,
                   const TRect& source, bool flipH, bool flipV, int32_t alpha) {
  return target.DrawImage(x, y, *frame.Surface, source, flipH, flipV, frame.MaskSurface.get(),
                          alpha);
}

void DrawDorvFrameTiled(const TDorvItemFrame& frame, TCustomDIBX& target, const TRect& dest,
                        const TRect& source, int32_t offsetX, int32_t offsetY, bool flipH,
                        bool flipV, int32_t alpha) {
  target.TileDrawImage(dest, *frame.Surface, source, 256, 256, flipH, flipV,
                       frame.MaskSurface.get(), alpha, offsetX, offsetY);
}

// --- wallpaper ---------------------------------------------------------------------------------

std::string SetWallPaper(const std::string& fileName) {
  TDorvLease item(fileName, false, false);
  const TDorvItemFrame* frame = item->Frame(0);
  if (!frame) return {};
  TDIB picture;
  picture.SetSize(frame->Surface->Width(), frame->Surface->Height(), 24);
  if (picture.GetEmpty()) return {};
  const platform::PixelBuffer pixels = frame->Surface->Pixels();
  for (int32_t y = 0; y < picture.Height(); ++y) {
    for (int32_t x = 0; x < picture.Width(); ++x) {
      const uint32_t colour =
          platform::PixelValueToColor(pixels, platform::ReadPixelValue(pixels, x, y));
      picture.SetRawPixel(x, y, picture.ColorToPixel(colour));
    }
  }
  TKwPNG png;
  png.WriteCurrentTime = false;
  png.SetExternalBitmap(&picture);
  TKwMemoryStream data;
  png.SaveToStream(data);
  const auto* bytes = static_cast<const uint8_t*>(data.Memory());
  return platform::SetDesktopWallpaper(std::vector<uint8_t>(bytes, bytes + data.Size())).string();
}

}  // namespace zirk
