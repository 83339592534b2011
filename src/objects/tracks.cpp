#include "objects/tracks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

#include "scene/zscene.h"

namespace zirk {

namespace {

int32_t saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t roundToInt(double v) {
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(v);
}

constexpr double kQuarterTurn = std::numbers::pi / 2;

}  // namespace

// --- interpolation -----------------------------------------------------------

int32_t InterpolateInt(uint8_t mode, int32_t from, int32_t count, int32_t i, int32_t to) {
  if (i == 0) return from;
  if (i == count - 1) return to;
  if (count < 2) return i < 0 ? from : to;
  int64_t span = int64_t(to) - from;
  switch (mode) {
    case MT_NORMAL:
      return saturate(from + span * i / (count - 1));
    case MT_INC:
      return saturate(int64_t(to) -
                      roundToInt(std::sin((count - i - 1) * kQuarterTurn / count) * double(span)));
    default:
      return saturate(from +
                      int64_t(roundToInt(std::sin(i * kQuarterTurn / count) * double(span))));
  }
}

double InterpolateFloat(uint8_t mode, int32_t i, double from, double to, int32_t count) {
  if (i == 0) return from;
  if (i == count - 1) return to;
  if (count < 1) return to;
  switch (mode) {
    case MT_NORMAL:
      return from + (to - from) * i / count;
    case MT_INC:
      return to - std::sin((count - i - 1) * kQuarterTurn / count) * (to - from);
    default:
      return from + std::sin(i * kQuarterTurn / count) * (to - from);
  }
}

// --- film records and track kinds -------------------------------------------------

void TFilmRecordReader::Fail(const std::string& message) const {
  throw EFilmFormatError(message);
}

namespace {

std::map<uint8_t, TTrackFactory>& trackKinds() {
  static std::map<uint8_t, TTrackFactory> kinds;
  return kinds;
}

}  // namespace

void RegisterTrackKind(uint8_t type, TTrackFactory factory) {
  type &= 0x7F;
  if (factory)
    trackKinds()[type] = factory;
  else
    trackKinds().erase(type);
}

std::unique_ptr<TCustomFrameList> CreateTrack(TFilmManager& film, uint8_t type) {
  auto it = trackKinds().find(type & 0x7F);
  return it == trackKinds().end() ? nullptr : it->second(film);
}

// --- key frames --------------------------------------------------------------------

int32_t TBoxFrame::Width() const {
  return Track().GetFrameWidth();
}
int32_t TBoxFrame::Height() const {
  return Track().GetFrameHeight();
}

// --- track base ------------------------------------------------------------------------

TCustomFrameList::~TCustomFrameList() = default;

int32_t TCustomFrameList::TrackStart() const {
  int64_t start = 0;
  if (film_->indexedStart(*this, start)) return saturate(start);
  // Parent cycles are cut when a film resolves its parents; the walk is
  // still bounded so a track wired by hand cannot recurse forever.
  const TCustomFrameList* t = this;
  for (int guard = 0; t->Parent && guard < 1 << 20; ++guard) {
    t = t->Parent;
    start += t->Length;
  }
  return saturate(start + t->Start);
}

int32_t TCustomFrameList::TrackEnd() const {
  return saturate(int64_t(TrackStart()) + Length);
}

bool TCustomFrameList::Active(int32_t time) const {
  int64_t s = TrackStart();
  return time >= s && time < s + Length;
}

int32_t TCustomFrameList::InterpolationCount() const {
  return ChainedTrack() ? saturate(int64_t(Length) + 1) : Length;
}

int32_t TCustomFrameList::InterpolateInt(uint8_t mode, int32_t from, int32_t i, int32_t to) const {
  return zirk::InterpolateInt(mode, from, InterpolationCount(), i, to);
}

double TCustomFrameList::InterpolateFloat(uint8_t mode, int32_t i, double from, double to) const {
  return zirk::InterpolateFloat(mode, i, from, to, InterpolationCount());
}

int32_t TCustomFrameList::GetContentWidth() const {
  return Frames.empty() ? 0 : Frames.front()->Width();
}
int32_t TCustomFrameList::GetContentHeight() const {
  return Frames.empty() ? 0 : Frames.front()->Height();
}

int32_t TCustomFrameList::GetFrameWidth() const {
  return Film().Width;
}
int32_t TCustomFrameList::GetFrameHeight() const {
  return Film().Height;
}

void TCustomFrameList::ClearFrames() {
  Frames.clear();
  Length = 0;
}

int32_t TCustomFrameList::FrameIndexAt(int32_t t) const {
  t %= std::max<int32_t>(1, LoopLength);
  int64_t left = t;
  for (size_t k = 0; k < Frames.size(); ++k) {
    left -= Frames[k]->Duration();
    if (left < 0) return static_cast<int32_t>(k);
  }
  return static_cast<int32_t>(Frames.size()) - 1;
}

void TCustomFrameList::SaveToStream(TFilmRecordWriter& out) {
  out.Int(Film().IndexOf(Parent));
  out.Int(Length);
  out.Int(Reserved);
  out.Int(Start);
  out.Int(LoopLength);
  out.Int(Priority);
  out.Byte(FlipH);
  out.Byte(FlipV);
  out.Byte(OtherScreen);
}

void TCustomFrameList::LoadFromStream(TFilmRecordReader& in) {
  loadedParent_ = in.Int();
  int64_t length = in.Int();
  Reserved = in.Int();
  int64_t start = in.Int();
  int64_t loop = in.Int();
  Priority = in.Int();
  FlipH = in.Byte() != 0;
  FlipV = in.Byte() != 0;
  OtherScreen = in.Byte() != 0;
  if (!in.Has(107)) {
    // Older files counted in 1/30 s.
    length *= 2;
    start *= 2;
    loop *= 2;
  }
  Length = saturate(length);
  Start = saturate(start);
  LoopLength = saturate(loop);
}

TPoint TCustomFrameList::filmPosition(TPoint p) const {
  const TFilmManager& film = Film();
  if (!film.MotionMode || !film.Relative) return p;
  return {saturate(int64_t(p.X) - film.Origin.X + film.BasePoint.X),
          saturate(int64_t(p.Y) - film.Origin.Y + film.BasePoint.Y)};
}

TRect TCustomFrameList::clipAt(int32_t i, TPoint positionFrom, TPoint sizeFrom, TPoint positionTo,
                               TPoint sizeTo, uint8_t xEasing, uint8_t yEasing) const {
  const int32_t w = InterpolateInt(xEasing, sizeFrom.X, i, sizeTo.X);
  const int32_t h = InterpolateInt(yEasing, sizeFrom.Y, i, sizeTo.Y);
  if (w < 1 || h < 1) return {};
  const int32_t left = InterpolateInt(xEasing, positionFrom.X, i, positionTo.X);
  const int32_t top = InterpolateInt(yEasing, positionFrom.Y, i, positionTo.Y);
  return Rect(left, top, saturate(int64_t(left) + w), saturate(int64_t(top) + h));
}

int32_t TCustomFrameList::sizeAt(uint8_t easing, int32_t i, int32_t first, int32_t from,
                                 int32_t sizeFrom, int32_t to, int32_t sizeTo) const {
  const int32_t last = InterpolateInt(easing, saturate(int64_t(sizeFrom) + from - 1), i,
                                      saturate(int64_t(sizeTo) + to - 1));
  return saturate(int64_t(last) - first + 1);
}

int32_t TCustomFrameList::alphaAt(int32_t i, int32_t from, int32_t to) const {
  if (from == 0 && to == 0) return 255;
  const int32_t a = InterpolateInt(MT_NORMAL, from == 0 ? 255 : from, i, to == 0 ? 255 : to);
  return a < 0 ? saturate(256 - int64_t(a)) : a;
}

TZirkObject* TCustomFrameList::placementParent() const {
  const TFilmManager& film = Film();
  if (film.MotionMode) return nullptr;
  if (film.Host) return film.Host;
  if (!film.Owner) return nullptr;
  const int32_t p = film.WipeParity(TrackStart());
  return film.Owner->GetBase(OtherScreen ? p ^ 1 : p);
}

// --- driven objects ---------------------------------------------------------------

void SetClipProps(TZirkObject& object, const TRect& clip) {
  object.SetPropInt(PR_CLIPLEFT, clip.Left);
  object.SetPropInt(PR_CLIPTOP, clip.Top);
  object.SetPropInt(PR_CLIPWIDTH, clip.Width());
  object.SetPropInt(PR_CLIPHEIGHT, clip.Height());
}

TZirkObject* TTrackTarget::Get(const TFilmManager& film) const {
  if (!object_ || !film.Owner) return nullptr;
  return film.Owner->FindBySerial(serial_);
}

TZirkObject* TTrackTarget::GetOrCreate(TFilmManager& film, const TCreator& create) {
  if (TZirkObject* t = Get(film)) return t;
  object_ = nullptr;
  TZirkBaseList* scene = film.Owner;
  if (!scene) return nullptr;
  std::string prefix(1, kHiddenNameChar);
  if (film.Host) prefix += film.Host->GetName() + kHiddenNameChar;
  object_ = create(*scene, scene->MakeUniqueName(prefix));
  serial_ = object_ ? object_->Serial() : 0;
  return object_;
}

TZirkObject* TTrackTarget::Take(const TFilmManager& film) {
  TZirkObject* t = Get(film);
  object_ = nullptr;
  return t;
}

void TCustomFrameList::addUnique(std::vector<std::string>& files, const std::string& name) {
  if (name.empty()) return;
  if (std::find(files.begin(), files.end(), name) == files.end()) files.push_back(name);
}

}  // namespace zirk
