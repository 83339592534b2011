#include "objects/cinema.h"

#include <algorithm>
#include <cmath>

#include "base/records.h"
#include "objects/dorvcache.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "surfaces/dibx.h"

namespace zirk {

namespace {

constexpr double kFrameMs = 1000.0 / TZirkCinema::kFrameRate;

int32_t saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

TZirkCinema::TZirkCinema(TZirkBaseList& scene) : TZirkControl(scene), pair_(scene, 0, 0) {}

TZirkCinema::~TZirkCinema() {
  Invalidate();
  // The film's tracks hand their objects back while the pair still exists.
  film_.reset();
}

const TPropTable& TZirkCinema::Properties() const {
  using P = TPropField<TZirkCinema>;
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkCinema::source_).Set(&TZirkCinema::SetSource),
          P(PR_WIDTH)
              .Get([](TZirkCinema& o) { return o.pair_.Width(); })
              .Set([](TZirkCinema& o, int32_t w) { o.setPairSize(w, o.pair_.Height()); }),
          P(PR_HEIGHT)
              .Get([](TZirkCinema& o) { return o.pair_.Height(); })
              .Set([](TZirkCinema& o, int32_t h) { o.setPairSize(o.pair_.Width(), h); }),
          P(PR_PAUSED, &TZirkCinema::paused_).Then(&TZirkCinema::pauseChanged),
          P(PR_ANIPAUSED).Set([](TZirkCinema& o, const TCustomParam& v) {
            const int32_t before = o.GetPropInt(PR_ANIPAUSED);
            o.TZirkControl::Properties().Set(o, PR_ANIPAUSED, v);
            if (o.GetPropInt(PR_ANIPAUSED) != before) o.pauseChanged();
          }),
          P(PR_VOLUME, &TZirkCinema::volume_).Set(&TZirkCinema::setVolume),
          P(PR_REPEAT, &TZirkCinema::repeat_).Then([](TZirkCinema& o) {
            if (o.repeat_) o.ended_ = false;
          }),
          P(PR_ONPLAYEND, &TZirkCinema::onPlayEnd_),
          P(PR_INDEX).Get(&TZirkCinema::getIndex).Set(&TZirkCinema::setIndex),
          P(PR_COUNT).Get(&TZirkCinema::getCount).ReadOnly(),
          P(PR_AUTOSCRAP, &TZirkCinema::autoScrap_),
          P(PR_ONIDLE, &TZirkCinema::onIdle_),
          P(PR_PLAYING).Get(&TZirkCinema::getPlaying).ReadOnly(),
          P(PR_REWINDONLOAD, &TZirkCinema::rewindOnLoad_),
          P(PR_MUTEONLOAD, &TZirkCinema::muteOnLoad_),
      });
  return table;
}

void TZirkCinema::setPairSize(int32_t width, int32_t height) {
  Invalidate();
  pair_.SetWidth(width);
  pair_.SetHeight(height);
  StoreSize(pair_.Width(), pair_.Height());
  Invalidate();
}

void TZirkCinema::SetSource(const std::string& name) {
  Invalidate();
  if (name == source_) return;
  source_ = name;
  film_.reset();
  loadError_.clear();
  if (GameFileAvailable(name)) {
    auto film = std::make_unique<TFilmManager>();
    film->VolumeScale = volume_;
    try {
      // A film that cannot be read leaves the cinema empty; the script goes on.
      film->LoadFilm(name);
      if (film->HasWipeOrFlag() || film->Color >= 0) {
        film->SetOwnerObject(&pair_);
        film->Host = nullptr;
      } else {
        film->SetOwnerObject(&Scene());
        film->Host = this;
      }
      film_ = std::move(film);
      if (film_->Host) setPairSize(film_->Width, film_->Height);
      film_->RefreshOwner();
    } catch (const std::exception& e) {
      film_.reset();
      loadError_ = e.what();
    }
  }
  // The pair takes the film's size through its owner setters.
  StoreSize(pair_.Width(), pair_.Height());
  pair_.TickObjects();
  Invalidate();
  time_ = 0;
  ended_ = false;
  refreshCount_ = 2;
}

int32_t TZirkCinema::getIndex() {
  return film_ ? film_->Time : 0;
}

void TZirkCinema::setIndex(int32_t index) {
  time_ = saturate(int64_t{index} * 1000 / kFrameRate);
  ended_ = false;
  refreshCount_ = 2;
}

bool TZirkCinema::getPlaying() {
  return film_ && getIndex() < getCount() - 1 && !paused_ && GetPropInt(PR_ANIPAUSED) == 0;
}

void TZirkCinema::setVolume(int32_t volume) {
  volume_ = std::max(volume, 0);
  if (film_) film_->VolumeScale = volume_;
}

void TZirkCinema::pauseChanged() {
  if (film_) film_->SetPaused(paused_ || GetPropInt(PR_ANIPAUSED) != 0);
}

bool TZirkCinema::reachEnd() {
  if (autoScrap_) return true;
  if (!ended_) QueueEvent(PR_ONPLAYEND);
  ended_ = true;
  return false;
}

bool TZirkCinema::Tick() {
  bool done = TZirkControl::Tick();
  if (!film_) return done;
  const bool aniPaused = GetPropInt(PR_ANIPAUSED) != 0;
  film_->SetTracksEnabled(!aniPaused && !paused_);
  if (paused_) return done;
  if (!ended_ && !aniPaused && refreshCount_ < 1) time_ = saturate(int64_t{time_} + ElapsedTime());
  const int32_t length = film_->GetLength();
  // An empty film has no frame to show; it ends unless it repeats.
  if (length < 1) return repeat_ ? done : (reachEnd() || done);
  int32_t frame = saturate(static_cast<int64_t>(std::nearbyint(time_ / kFrameMs)));
  if (frame >= length) {
    if (!repeat_) {
      if (reachEnd()) return true;
      frame = length - 1;
    } else {
      frame = std::min(frame % length + film_->LoopStart, length - 1);
      time_ = saturate(static_cast<int64_t>(std::nearbyint(frame * kFrameMs)));
    }
  }
  if (refreshCount_ == 2 || frame != film_->Time) film_->SetFilmTime(frame);
  if (refreshCount_ > 0) --refreshCount_;
  pair_.TickObjects();
  takePairChanges();
  return done;
}

void TZirkCinema::takePairChanges() {
  if (!PlaysInPair()) {
    pair_.ClearPaintedRects();
    return;
  }
  pair_.Paint();
  TZirkBase* screen = GetScreen();
  if (screen && IsShown()) {
    if (pair_.FlipFlag != 0) {
      Invalidate();
    } else {
      const TPoint drawPos = GetDrawPos();
      const int32_t x = drawPos.X, y = drawPos.Y;
      for (const TRect& r : pair_.PaintedRects()) {
        TRect moved = Rect(r.Left + x, r.Top + y, r.Right + x, r.Bottom + y);
        screen->InvalidateRect(moved);
      }
    }
  }
  pair_.ClearPaintedRects();
}

void TZirkCinema::Draw() {
  if (PlaysInPair()) {
    // A cinema that is not ticked (paused) paints here what changed in its
    // pair since, a new size among it.
    if (!pair_.GetBase(0)->DirtyRects().empty() || !pair_.GetBase(1)->DirtyRects().empty())
      takePairChanges();
    TCustomDIBX* target = GetDrawSurface();
    TCustomDIBX* picture = pair_.PresentedSurface();
    if (target && picture)
      target->Draw(GetDrawLeft(), GetDrawTop(), *picture, Rect(0, 0, pair_.Width(), pair_.Height()),
                   false, false, false);
  }
  TZirkControl::Draw();
}

TZirkObject* TZirkCinema::HitTest(TPoint point, TMouseMask mask) {
  if (!GetVisible() || IsScrapped() || !GetScreenRect().Contains(point)) return nullptr;
  const int32_t im = IgnoreMouse();
  TZirkObject* candidate = (im >= 0 && im < 32 && (mask & (1u << im))) ? this : nullptr;
  for (int32_t i = GetChildCount() - 1; i >= 0; --i) {
    TZirkObject* child = GetChild(i);
    if (!child->GetName().empty() && child->GetName()[0] == kHiddenNameChar) continue;
    if (TZirkObject* hit = child->HitTest(point, mask)) return hit;
  }
  return candidate;
}

void TZirkCinema::ReleaseSurfaces() {
  pair_.ReleaseSurfaces();
  TZirkControl::ReleaseSurfaces();
}

void TZirkCinema::RestoreSurfaces() {
  pair_.RestoreSurfaces();
  TZirkControl::RestoreSurfaces();
  if (film_ && !paused_) film_->SetFilmTime(film_->Time);
}

void TZirkCinema::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  out.Bool(repeat_);
  out.Bool(paused_);
  out.Bool(autoScrap_);
  out.Str(onPlayEnd_);
  out.Str(onIdle_);
  out.Int(getIndex());
  out.Bool(rewindOnLoad_);
  out.Int(volume_);
  out.Bool(muteOnLoad_);
  out.Bool(ended_);
}

void TZirkCinema::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved cinema record");
  SetSource(in.Str());
  repeat_ = in.Bool();
  // Stored as it was; the tick tells the film's tracks.
  paused_ = in.Bool();
  autoScrap_ = in.Bool();
  onPlayEnd_ = in.Str();
  onIdle_ = in.From(104, onIdle_);
  if (in.Has(117)) {
    const int32_t index = in.Int();
    rewindOnLoad_ = in.Bool();
    if (index >= 1 && !rewindOnLoad_) setIndex(index);
  }
  int32_t volume = volume_;
  if (in.Has(129)) {
    volume = in.Int();
    muteOnLoad_ = in.Bool();
  } else {
    muteOnLoad_ = false;
  }
  if (muteOnLoad_) volume = 0;
  setVolume(volume);
  ended_ = in.From(133, ended_);
}

void RegisterZirkCinema() {
  RegisterKind(LT_CINEMA,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkCinema>(scene); });
}

}  // namespace zirk
