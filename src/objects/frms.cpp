#include "objects/frms.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/vrfiles.h"
#include "objects/tracks.h"
#include "objects/trackswipe.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"
#include "surfaces/wipes.h"

namespace zirk {

int32_t MsToFilmTicks(double ms) {
  double t = std::nearbyint(ms / kFilmTickMs);
  if (std::isnan(t)) return 0;
  if (t <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (t >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(t);
}

// --- paths ---------------------------------------------------------------------

namespace {

bool isDelimiter(char c) {
  return c == '\\';
}

// Game names separate folders with either slash.
constexpr const char* kFolderDelimiters = "\\/";

bool isAbsolute(const std::string& name) {
  return name.size() < 2 || name[0] == '\\' || name[1] == ':';
}

std::string folderOf(const std::string& name) {
  size_t p = name.find_last_of(kFolderDelimiters);
  return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

}  // namespace

void TPathParser::Split(const std::string& path) {
  parts_.clear();
  if (path.empty()) return;
  std::string p = path;
  if (!isDelimiter(p.back())) p += '\\';
  size_t pos = 0;
  if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
    // A server name stays one component with its leading "\\".
    size_t d = p.find('\\', 2);
    parts_.push_back(p.substr(0, d + 1));
    pos = d + 1;
  } else if (p.size() >= 3 && p[1] == ':') {
    parts_.push_back(p.substr(0, 3));
    pos = 3;
  }
  while (pos < p.size()) {
    size_t d = p.find('\\', pos);
    parts_.push_back(p.substr(pos, d - pos + 1));
    pos = d + 1;
  }
}

std::string TPathParser::Join() const {
  std::string s;
  for (const std::string& part : parts_) s += part;
  return s;
}

std::string ResolveRelativePath(const std::string& name, const std::string& baseFolder) {
  if (isAbsolute(name)) return name;
  if (name.compare(0, 3, "..\\") != 0) return baseFolder + name;
  TPathParser base;
  base.Split(baseFolder);
  std::string rest = name;
  while (base.Count() > 0 && rest.compare(0, 3, "..\\") == 0) {
    base.DeleteLast();
    rest.erase(0, 3);
  }
  return base.Join() + rest;
}

std::string MakeRelativePath(const std::string& name, const std::string& baseFolder) {
  std::string folder = folderOf(name);
  std::string file = name.substr(folder.size());
  TPathParser own, base;
  own.Split(folder);
  base.Split(baseFolder);
  if (base.Count() == 0 || own.Count() == 0 || own.Part(0) != base.Part(0)) return name;
  while (own.Count() > 0 && base.Count() > 0 && own.Part(0) == base.Part(0)) {
    own.DeleteFirst();
    base.DeleteFirst();
  }
  std::string result;
  for (int32_t k = 0; k < base.Count(); ++k) result += "..\\";
  return result + own.Join() + file;
}

// --- budget -------------------------------------------------------------------------

int64_t TFilmCharge::Take(TFilmBudget& budget, int64_t bytes) {
  Release();
  budget_ = &budget;
  bytes_ = std::clamp<int64_t>(bytes, 0, budget.left_);
  budget.left_ -= bytes_;
  return bytes_;
}

void TFilmCharge::Release() {
  if (budget_) budget_->left_ += bytes_;
  budget_ = nullptr;
  bytes_ = 0;
}

// --- film ---------------------------------------------------------------------------

// Indexes the tracks for one pass; a pass begun inside another uses the
// outer one's index.
class TFilmManager::TPass {
 public:
  explicit TPass(TFilmManager& film) : film_(film), outer_(!film.pass_.Active) {
    if (outer_) film_.indexTracks();
  }
  ~TPass() {
    if (outer_) film_.pass_.Active = false;
  }
  TPass(const TPass&) = delete;
  TPass& operator=(const TPass&) = delete;

 private:
  TFilmManager& film_;
  bool outer_;
};

TFilmManager::TFilmManager() {
  SetTracksEnabled(true);
}

TFilmManager::~TFilmManager() {
  Clear();
}

void TFilmManager::Clear() {
  LastWipe = nullptr;
  pass_.Active = false;
  // Tracks look at their film while they go (chains, the last wipe).
  while (!tracks_.empty()) tracks_.pop_back();
  Relative = false;
  Origin = {};
  LoopStart = 0;
  Length = 0;
  Time = 0;
}

void TFilmManager::LoadFilm(const std::string& fileName) {
  ReadGameFile(fileName, kMaxFilmFileBytes,
               [&](TKwMemoryStream& stream) { ReadFilm(stream, fileName); });
}

void TFilmManager::ReadFilm(TKwStream& stream, const std::string& fileName) {
  Clear();
  std::string folder = folderOf(fileName);
  constexpr int64_t kTagSize = 13;
  // A file too short for a kind word is no film of ours: an empty one, as
  // any other file without a kind word, and not an error.
  std::string tag(static_cast<size_t>(std::clamp<int64_t>(stream.Remaining(), 0, kTagSize)), '\0');
  stream.ReadBuffer(tag.data(), static_cast<int64_t>(tag.size()));
  if (tag.compare(0, 10, "ZirkCinema") == 0) {
    Kind = 0;
  } else if (tag.compare(0, 10, "ZirkMotion") == 0) {
    Kind = 1;
  } else {
    Kind = 2;
    return;
  }
  if (tag.size() < kTagSize) throw EFilmFormatError("film file is shorter than its header");
  int32_t version = 0;
  for (size_t k = 10; k < 13; ++k) {
    if (tag[k] < '0' || tag[k] > '9')
      throw EFilmFormatError("'" + tag.substr(10) + "' is not a valid integer value");
    version = version * 10 + (tag[k] - '0');
  }
  try {
    TFilmRecordReader in(stream, folder, version);
    Width = in.Int();
    Height = in.Int();
    const std::string size =
        "a film of " + std::to_string(Width) + " x " + std::to_string(Height) + " pixels ";
    if (std::min(Width, Height) < 0) throw EFilmFormatError(size + "has a negative side");
    if (std::max(Width, Height) > kMaxFilmSide || int64_t(Width) * Height > kMaxFilmPixels)
      throw EFilmFormatError(size + "is larger than any screen (" + std::to_string(kMaxFilmSide) +
                             " x " + std::to_string(kMaxFilmPixels / kMaxFilmSide) + " at most)");
    Color = in.Int();
    Relative = in.From(102, false);
    Origin = in.From(104, TPoint{});
    int64_t loop = in.From(106, 0);
    // Before 107 loop starts counted in 1/30 s.
    if (!in.Has(107)) loop *= 2;
    LoopStart = pixelmath::Saturate32(loop);
    readTracks(stream, folder, version);
  } catch (...) {
    Clear();
    throw;
  }
}

void TFilmManager::readTracks(TKwStream& stream, const std::string& folder, int32_t version) {
  TFilmRecordReader in(stream, folder, version);
  // A track is at least its type byte and the 27 bytes of the common part.
  int32_t count = in.Count(28);
  std::vector<int32_t> parents;
  parents.reserve(static_cast<size_t>(count));
  for (int32_t k = 0; k < count; ++k) {
    uint8_t type = in.Byte();
    std::unique_ptr<TCustomFrameList> track = CreateTrack(*this, type);
    if (!track)
      throw EFilmFormatError("film track " + std::to_string(k) + " has the unknown kind " +
                             std::to_string(type & 0x7F));
    TCustomFrameList* t = AddTrack(std::move(track));
    t->LoadFromStream(in);
    parents.push_back(t->LoadedParentIndex());
  }
  resolveParents(parents);
  if (!SkipAfterLoad)
    for (auto& t : tracks_) t->Reload();
  const TPass pass(*this);
  int64_t length = Length;
  for (auto& t : tracks_) length = std::max<int64_t>(length, int64_t(t->TrackStart()) + t->Length);
  Length = static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX));
}

void TFilmManager::resolveParents(const std::vector<int32_t>& parentIndices) {
  const size_t n = tracks_.size();
  for (size_t k = 0; k < n; ++k) tracks_[k]->Parent = TrackAt(parentIndices[k]);
  // Walks up the parents must end: in each ring of parents the link of the
  // track listed last is cut, the one that closed the ring when the links
  // are made in list order. Each track is walked once: a walk stops at a
  // track an earlier walk has done.
  enum : uint8_t { kNew, kOnWalk, kDone };
  std::vector<uint8_t> state(n, kNew);
  std::vector<size_t> walk;
  for (size_t k = 0; k < n; ++k) {
    walk.clear();
    size_t t = k;
    while (state[t] == kNew) {
      state[t] = kOnWalk;
      walk.push_back(t);
      const TCustomFrameList* parent = tracks_[t]->Parent;
      if (!parent) break;
      t = size_t(parent->index_);
    }
    if (state[t] == kOnWalk && tracks_[t]->Parent) {
      // The walk came round to t: the ring is t and the tracks after it.
      size_t last = t;
      for (auto it = std::find(walk.begin(), walk.end(), t); it != walk.end(); ++it)
        last = std::max(last, *it);
      tracks_[last]->Parent = nullptr;
    }
    for (size_t w : walk) state[w] = kDone;
  }
}

TCustomFrameList* TFilmManager::TrackAt(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return tracks_[static_cast<size_t>(index)].get();
}

int32_t TFilmManager::IndexOf(const TCustomFrameList* track) const {
  if (!track || track->index_ < 0 || track->index_ >= Count()) return -1;
  return tracks_[static_cast<size_t>(track->index_)].get() == track ? track->index_ : -1;
}

TCustomFrameList* TFilmManager::AddTrack(std::unique_ptr<TCustomFrameList> track) {
  // The rest of a pass that adds tracks walks as outside one.
  pass_.Active = false;
  track->index_ = Count();
  tracks_.push_back(std::move(track));
  return tracks_.back().get();
}

int32_t TFilmManager::passIndexOf(const TCustomFrameList* track) const {
  return pass_.Active ? IndexOf(track) : -1;
}

TCustomFrameList* TFilmManager::ChainedTrack(const TCustomFrameList* track) const {
  if (const int32_t k = passIndexOf(track); k >= 0) return pass_.Chained[static_cast<size_t>(k)];
  for (auto& t : tracks_)
    if (t->Parent == track) return t.get();
  return nullptr;
}

TCustomFrameList* TFilmManager::KindRoot(const TCustomFrameList* track) const {
  if (const int32_t k = passIndexOf(track); k >= 0) return pass_.KindRoot[static_cast<size_t>(k)];
  const TCustomFrameList* t = track;
  // Bounded like the start's walk, for tracks linked by hand.
  for (int guard = 0; t && t->Parent && t->Parent->GetType() == t->GetType() && guard < 1 << 20;
       ++guard)
    t = t->Parent;
  return const_cast<TCustomFrameList*>(t);
}

int64_t TFilmManager::KindChainEnd(const TCustomFrameList* root) const {
  if (const int32_t k = passIndexOf(root); k >= 0) return pass_.KindEnd[static_cast<size_t>(k)];
  int64_t end = int64_t{root->TrackStart()} + root->Length;
  for (auto& t : tracks_)
    if (t.get() != root && KindRoot(t.get()) == root)
      end = std::max(end, int64_t{t->TrackStart()} + t->Length);
  return end;
}

bool TFilmManager::indexedStart(const TCustomFrameList& track, int64_t& start) const {
  const int32_t k = passIndexOf(&track);
  if (k < 0) return false;
  start = pass_.Start[static_cast<size_t>(k)];
  return true;
}

void TFilmManager::indexTracks() {
  pass_.Active = false;
  const size_t n = tracks_.size();
  pass_.Chained.assign(n, nullptr);
  pass_.Start.assign(n, 0);
  pass_.KindRoot.assign(n, nullptr);
  pass_.KindEnd.assign(n, std::numeric_limits<int64_t>::min());
  pass_.WipeEnds.clear();
  // A parent of this film, by index; -1 for none or one linked from
  // another film by hand.
  auto parentOf = [&](size_t k) { return IndexOf(tracks_[k]->Parent); };
  for (size_t k = 0; k < n; ++k)
    if (const int32_t p = parentOf(k); p >= 0 && !pass_.Chained[size_t(p)])
      pass_.Chained[size_t(p)] = tracks_[k].get();
  // Starts and roots down each chain from its first track, each track
  // once; a chain out of the film or (linked by hand) round in a ring is
  // walked as outside a pass.
  std::vector<uint8_t> done(n, 0);
  std::vector<size_t> chain;
  for (size_t k = 0; k < n; ++k) {
    chain.clear();
    size_t top = k;
    while (!done[top] && chain.size() <= n) {
      chain.push_back(top);
      const int32_t p = parentOf(top);
      if (p < 0) break;
      top = size_t(p);
    }
    const bool ring = chain.size() > n;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const TCustomFrameList& t = *tracks_[*it];
      const int32_t p = parentOf(*it);
      if (ring || p < 0 || !done[size_t(p)]) {
        pass_.Start[*it] = t.TrackStart();
        pass_.KindRoot[*it] = KindRoot(&t);
      } else {
        const TCustomFrameList& parent = *tracks_[size_t(p)];
        pass_.Start[*it] = pass_.Start[size_t(p)] + parent.Length;
        pass_.KindRoot[*it] =
            parent.GetType() == t.GetType() ? pass_.KindRoot[size_t(p)] : tracks_[*it].get();
      }
      done[*it] = 1;
      // Each track's end raises the end of the chain its kind root starts.
      const int64_t end = int64_t(pixelmath::Saturate32(pass_.Start[*it])) + t.Length;
      pass_.KindEnd[*it] = std::max(pass_.KindEnd[*it], end);
      if (const int32_t r = IndexOf(pass_.KindRoot[*it]); r >= 0)
        pass_.KindEnd[size_t(r)] = std::max(pass_.KindEnd[size_t(r)], end);
    }
  }
  for (size_t k = 0; k < n; ++k)
    if (tracks_[k]->GetType() == ttWipe)
      pass_.WipeEnds.push_back(int64_t(pixelmath::Saturate32(pass_.Start[k])) + tracks_[k]->Length -
                               1);
  std::sort(pass_.WipeEnds.begin(), pass_.WipeEnds.end());
  pass_.Active = true;
}

void TFilmManager::SetSize(TPoint size) {
  Width = size.X;
  Height = size.Y;
  if (Owner) {
    Owner->SetWidth(Width);
    Owner->SetHeight(Height);
  }
}

void TFilmManager::SetColor(int32_t color) {
  Color = color;
  if (Owner) Owner->SetColor(color);
}

void TFilmManager::RefreshOwner() {
  if (!MotionMode && !Host) {
    SetSize({Width, Height});
    SetColor(Color);
  }
  for (auto& t : tracks_) t->OwnerRefreshed();
}

std::pair<TWipeFrameList*, int32_t> TFilmManager::ActiveWipe(int32_t time) const {
  TWipeFrameList* active = nullptr;
  int32_t parity = 0;
  for (auto& t : tracks_) {
    if (t->GetType() != ttWipe) continue;
    int64_t s = t->TrackStart();
    int64_t e = s + t->Length;
    if (s <= time && time < e)
      active = static_cast<TWipeFrameList*>(t.get());
    else if (e - 1 <= time)
      parity ^= 1;
  }
  return {active, parity};
}

int32_t TFilmManager::WipeParity(int32_t time) const {
  if (pass_.Active) {
    const auto ended =
        std::upper_bound(pass_.WipeEnds.begin(), pass_.WipeEnds.end(), int64_t(time));
    return static_cast<int32_t>((ended - pass_.WipeEnds.begin()) & 1);
  }
  int32_t parity = 0;
  for (auto& t : tracks_)
    if (t->GetType() == ttWipe && int64_t(t->TrackStart()) + t->Length - 1 <= time) parity ^= 1;
  return parity;
}

void TFilmManager::SetFilmTime(int32_t time) {
  const TPass pass(*this);
  for (size_t k = 0; k < tracks_.size(); ++k) tracks_[k]->Apply(time);
  if (!MotionMode && !Host && Owner) {
    auto [wipe, parity] = ActiveWipe(time);
    if (wipe) {
      int32_t start = wipe->TrackStart();
      TCustomWipe* effect = Owner->FlipScreensWithWipe(
          parity, wipe->GetWipeKind(), wipe->GetWipeFlag(), wipe != LastWipe,
          static_cast<int32_t>(int64_t(time) - start), wipe->Length);
      if (effect) {
        effect->SetParam(0, wipe->GetWipeParam0());
        effect->SetParam(1, wipe->GetWipeParam1());
        effect->SetName(wipe->GetWipeMask());
        effect->Prepare();
      }
    } else {
      Owner->FlipScreensWithWipe(parity, 0, 0, LastWipe != nullptr, 0, 0);
    }
    if (TZirkBase* screen = Owner->GetBase(Owner->ActiveIndex)) screen->SortChildren();
    LastWipe = wipe;
  }
  Time = time;
}

TCustomFrameList* TFilmManager::FirstStartTrack() const {
  for (auto& t : tracks_)
    if (t->TrackStart() == 0) return t.get();
  return nullptr;
}

bool TFilmManager::HasWipeOrFlag() const {
  return std::any_of(tracks_.begin(), tracks_.end(),
                     [](auto& t) { return t->GetType() == ttWipe || t->OtherScreen; });
}

void TFilmManager::CollectFiles(std::vector<std::string>& files) const {
  for (auto& t : tracks_) t->CollectFiles(files);
}

void TFilmManager::SetPaused(bool paused) {
  if (Paused == paused) return;
  Paused = paused;
  for (auto& t : tracks_) t->SetPaused(paused);
}

void TFilmManager::SetTracksEnabled(bool enabled) {
  Playing = enabled;
  if (!enabled)
    for (auto& t : tracks_) t->PlayingStopped();
}

}  // namespace zirk
