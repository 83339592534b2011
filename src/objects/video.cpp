#include "objects/video.h"

#include <algorithm>
#include <cstring>

#include "base/records.h"
#include "base/vrfiles.h"
#include "media/mediaitems.h"
#include "objects/fades.h"
#include "objects/sound.h"
#include "platform/clock.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

// Copies a movie frame (B, G, R, A rows) into a 32-bit surface.
void copyFrame(const ZirkVideoFrame& frame, TCustomDIBX& surface) {
  const platform::PixelBuffer target = surface.Pixels();
  if (!frame.pixels || !target.bits || target.bitCount != 32 || frame.pitch < 0) return;
  const int32_t width = std::min(frame.width, target.width);
  const int32_t height = std::min(frame.height, target.height);
  if (width <= 0 || height <= 0 || int64_t{frame.pitch} < int64_t{width} * 4) return;
  for (int32_t y = 0; y < height; ++y) {
    std::memcpy(target.bits + static_cast<ptrdiff_t>(y) * target.pitch,
                frame.pixels + static_cast<ptrdiff_t>(y) * frame.pitch,
                static_cast<size_t>(width) * 4);
  }
}

}  // namespace

TZirkVideo::TZirkVideo(TZirkBaseList& scene) : TZirkCustomImage(scene) {}

TZirkVideo::~TZirkVideo() {
  SetBackSurface(nullptr);
  fade_.reset();
  dropFadingItem();
  if (item_ && VideoMan) VideoMan->Remove(item_);
  item_ = nullptr;
  frame_.reset();
  Invalidate();
}

const TPropTable& TZirkVideo::Properties() const {
  using P = TPropField<TZirkVideo>;
  // Position and visibility: the inherited setter, then the movie follows.
  auto placed = [](int id) {
    return P(id).Set([id](TZirkVideo& o, const TCustomParam& v) {
      if (o.GetPropInt(id) == v.AsInteger()) return;
      o.TZirkCustomImage::Properties().Set(o, id, v);
      if (o.overlay_) o.UpdateVideoRect();
    });
  };
  auto zoom = [](int id) {
    return P(id).Set([id](TZirkVideo& o, int32_t value) {
      value = std::max(value, 1);
      if (o.GetPropInt(id) == value) return;
      o.Invalidate();
      TParamInteger param(value);
      o.TZirkCustomImage::Properties().Set(o, id, param);
      o.updateShownSize();
      if (o.overlay_)
        o.UpdateVideoRect();
      else
        o.Invalidate();
    });
  };
  static const TPropTable table(
      TZirkCustomImage::Properties(),
      {
          P(PR_SOURCE, &TZirkVideo::source_).Set(&TZirkVideo::SetSource),
          placed(PR_LEFT),
          placed(PR_TOP),
          placed(PR_OFFSETX),
          placed(PR_OFFSETY),
          placed(PR_VISIBLE),
          placed(PR_PLUSX),
          placed(PR_PLUSY),
          zoom(PR_ZOOMX),
          zoom(PR_ZOOMY),
          P(PR_DELAY, &TZirkVideo::fadeTime_),
          P(PR_PAUSED, &TZirkVideo::paused_).Set(&TZirkVideo::setPaused),
          P(PR_ANIPAUSED).Set(&TZirkVideo::setHeld),
          P(PR_VOLUME, &TZirkVideo::volume_).Set(&TZirkVideo::setVolume),
          P(PR_REPEAT, &TZirkVideo::repeat_).Set(&TZirkVideo::setRepeat),
          P(PR_BALANCE, &TZirkVideo::balance_).Set(&TZirkVideo::setBalance),
          P(PR_INDEX).Get(&TZirkVideo::getIndex).Set(&TZirkVideo::setIndex),
          P(PR_COUNT).Get(&TZirkVideo::GetLength).ReadOnly(),
          P(PR_AUTOSCRAP, &TZirkVideo::autoScrap_),
          P(PR_ONIDLE, &TZirkVideo::idleLabel_),
          P(PR_PLAYING).Get(&TZirkVideo::getPlaying).ReadOnly(),
          P(PR_REWINDONLOAD, &TZirkVideo::rewindOnLoad_),
          P(PR_MUTEONLOAD, &TZirkVideo::muteOnLoad_),
          P(PR_OVERLAY, &TZirkVideo::overlay_).Set(&TZirkVideo::setOverlay),
      });
  return table;
}

TDMediaItem* TZirkVideo::playedItem() const {
  return item_;
}

bool TZirkVideo::running() {
  return !paused_ && GetPropInt(PR_ANIPAUSED) == 0;
}

void TZirkVideo::SetSource(const std::string& source) {
  if (source == source_) return;
  source_ = source;
  SetBackSurface(nullptr);
  if (item_) {
    if (fade_ && &fade_->Item() == item_) fade_.reset();
    VideoMan->Remove(item_);
    item_ = nullptr;
  }
  frame_.reset();
  state_ = kStopped;
  ended_ = false;
}

void TZirkVideo::updateShownSize() {
  if (!item_) {
    StoreSize(0, 0);
    return;
  }
  StoreSize(static_cast<int32_t>(int64_t{ZoomX()} * item_->GetSourceWidth() / 256),
            static_cast<int32_t>(int64_t{ZoomY()} * item_->GetSourceHeight() / 256));
}

void TZirkVideo::makeFrameSurface() {
  // Display surfaces are 32-bit memory surfaces here, the layout of the
  // library's frames.
  frame_ = std::make_unique<TDIBX>(std::max(1, item_->GetSourceWidth()),
                                   std::max(1, item_->GetSourceHeight()), 32);
  SetBackSurface(frame_.get());
}

void TZirkVideo::dropFrameSurface() {
  SetBackSurface(nullptr);
  frame_.reset();
}

void TZirkVideo::dropFadingItem() {
  // A faded-out movie would otherwise run on, unheard, until shut-down.
  if (fadingItem_ && VideoMan) VideoMan->Remove(fadingItem_);
  fadingItem_ = nullptr;
}

void TZirkVideo::SetActive(int32_t state) {
  fade_.reset();
  dropFadingItem();
  state_ = state;
  ended_ = false;
  if (state == kPlaying || state == kFadingIn) {
    if (item_ || !MediaSourceAvailable(source_) || !VideoMan) return;
    try {
      item_ = VideoMan->Add(source_, !overlay_);
    } catch (const std::exception&) {
      return;  // a movie that cannot be opened leaves the object silent
    }
    item_->SetAutoRepeat(repeat_);
    if (overlay_ && GetVisible()) UpdateVideoRect();
    makeFrameSurface();
    item_->SetAutoRepeat(repeat_);
    updateShownSize();
    Invalidate();
    item_->SetPan(balance_);
  } else if (state == kStopped) {
    if (!item_) return;
    Invalidate();
    VideoMan->Remove(item_);
    item_ = nullptr;
    dropFrameSurface();
    startPosition_ = 0;
  }
  switch (state) {
    case kPlaying:
      if (!item_) return;
      item_->SetVol(level());
      item_->Play();
      if (!running()) item_->Pause();
      if (startPosition_ > 0) item_->SetPosition(startPosition_);
      break;
    case kFadingIn:
      if (item_ && running()) startFadeIn();
      break;
    case kFadingOut:
      if (!item_) {
        Scrap();
        return;
      }
      fade_ = std::make_unique<TZirkMixerFadeout>(*item_, fadeTime_);
      fadingItem_ = item_;
      item_ = nullptr;
      startPosition_ = 0;
      break;
    default:
      break;
  }
}

void TZirkVideo::StartPlay() {
  startPosition_ = 0;
  paused_ = false;
  SetActive(kFadingIn);
  if (item_) restartItem();
}

void TZirkVideo::pauseChange(bool wasRunning) {
  const bool now = running();
  if (!item_ || now == wasRunning) return;
  if (!now) {
    item_->Pause();
  } else if (state_ != kFadingIn) {
    item_->Play();
  } else {
    fade_.reset();
    startFadeIn();
  }
}

void TZirkVideo::setPaused(bool paused) {
  if (paused == paused_) return;
  const bool was = running();
  paused_ = paused;
  pauseChange(was);
}

void TZirkVideo::setHeld(const TCustomParam& value) {
  const bool was = running();
  TZirkCustomImage::Properties().Set(*this, PR_ANIPAUSED, value);
  pauseChange(was);
}

void TZirkVideo::setVolume(int32_t volume) {
  if (volume == volume_) return;
  volume_ = volume;
  if (!item_) return;
  item_->SetVol(level());
  if (fade_ && !fade_->FadesOut()) fade_->SetTargetLevel(level());
}

void TZirkVideo::setIndex(int32_t index) {
  startPosition_ = index;
  ended_ = false;
  if (item_) item_->SetPosition(index);
}

bool TZirkVideo::getPlaying() {
  if (!running()) return false;
  if (repeat_) return true;
  return getIndex() < GetLength() - 1;
}

void TZirkVideo::setOverlay(bool overlay) {
  if (overlay == overlay_) return;
  overlay_ = overlay;
  if (!item_) return;
  // The movie starts again in the other mode where it was.
  const int32_t position = item_->GetPosition();
  SetActive(kStopped);
  startPosition_ = position;
  SetActive(kPlaying);
}

int32_t TZirkVideo::GetLength() {
  if (item_) return item_->GetLen();
  if (!MediaSourceAvailable(source_) || !VideoMan) return 0;
  TVrFileManager* files = TVrFileManager::Global();
  if (!files) return 0;
  try {
    TVideoItem* temporary = VideoMan->Add(files->GetRealFileName(source_), !overlay_);
    const int32_t length = temporary->GetLen();
    VideoMan->Remove(temporary);
    return length;
  } catch (const std::exception&) {
    return 0;
  }
}

bool TZirkVideo::VideoRects(ZirkRect& source, ZirkRect& dest) {
  if (!item_) return false;
  const TPoint drawPos = GetDrawPos();
  const TRect r = Bounds(drawPos.X, drawPos.Y, Width(), Height());
  TRect d = r;
  if (GetParent() && !GetParent()->GetContainerClip(d)) d = {};
  const TRect own = OwnScreenClip();
  if (!own.IsEmpty() && !IntersectRect(d, d, own)) d = {};
  const int32_t zx = std::max(ZoomX(), 1), zy = std::max(ZoomY(), 1);
  source = {
      static_cast<int32_t>((int64_t{d.Left} - r.Left) * 256 / zx),
      static_cast<int32_t>((int64_t{d.Top} - r.Top) * 256 / zy),
      static_cast<int32_t>(item_->GetSourceWidth() - (int64_t{r.Right} - d.Right) * 256 / zx),
      static_cast<int32_t>(item_->GetSourceHeight() - (int64_t{r.Bottom} - d.Bottom) * 256 / zy)};
  if (source.right <= source.left || source.bottom <= source.top || d.IsEmpty() || !IsShown())
    return false;
  const int32_t scale = Scene().DisplayScale;
  auto scaled = [scale](int32_t v) { return static_cast<int32_t>(int64_t{v} * scale / 100); };
  dest = {scaled(d.Left), scaled(d.Top), scaled(d.Right), scaled(d.Bottom)};
  return true;
}

void TZirkVideo::UpdateVideoRect() {
  if (!item_) return;
  ZirkRect source{}, dest{};
  const bool shows = VideoRects(source, dest);
  if (shows) item_->SetRect(source, dest);
  item_->SetVisible(shows);
}

void TZirkVideo::Draw() {
  if (item_ && frame_ && item_->NeedPaint()) {
    if (const ZirkVideoFrame* frame = item_->GetDC()) copyFrame(*frame, *frame_);
  }
  // The last frame stays on screen between movie frames.
  if (frame_) TZirkCustomImage::Draw();
}

bool TZirkVideo::Tick() {
  bool result = TZirkCustomImage::Tick();
  if (item_) {
    if (overlay_ && IsShown() != item_->GetVisible()) UpdateVideoRect();
    const uint32_t now = platform::timeGetTime();
    if (now - lastPaintCheck_ >= kPaintCheckInterval) {
      lastPaintCheck_ = now;
      if (item_->NeedPaint()) Invalidate();
    }
    // The library tells a movie's end every time it is asked: it is acted
    // on once.
    if (!repeat_ && !ended_ && item_->CheckEnd()) {
      ended_ = true;
      if (autoScrap_)
        Scrap();
      else
        QueueEvent(PR_ONPLAYEND);
    }
  }
  if (fade_ && fade_->Step()) {
    if (fade_->FadesOut()) {
      result = true;
      Invalidate();
      dropFadingItem();
    }
    fade_.reset();
  }
  return result;
}

void TZirkVideo::ReleaseSurfaces() {
  TZirkCustomImage::ReleaseSurfaces();
  dropFrameSurface();
}

void TZirkVideo::RestoreSurfaces() {
  TZirkCustomImage::RestoreSurfaces();
  if (item_) makeFrameSurface();
}

void TZirkVideo::CabinetPause() {
  if (!running() || state_ == kStopped || state_ == kFadingOut || !item_) return;
  item_->Pause();
}

void TZirkVideo::CabinetResume() {
  if (!running() || state_ == kStopped || state_ == kFadingOut || !item_) return;
  item_->Play();
}

void TZirkVideo::SaveToStream(TKwStream& stream) {
  TZirkCustomImage::SaveToStream(stream);
  TRecordWriter out(stream);
  saveSourceRun(out);
  saveLevelRun(out);
  out.Byte(static_cast<uint8_t>(state_));
  out.Str(GetPropStr(PR_ONPLAYEND));
  out.Str(idleLabel_);
  out.Bool(rewindOnLoad_);
  out.Bool(overlay_);
  out.Bool(muteOnLoad_);
}

void TZirkVideo::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomImage::LoadFromStream(stream, version);
  TRecordReader in(stream, version);
  TLoadedSettings loaded;
  loadSourceRun(in, loaded);
  loadLevelRun(in, loaded);
  const int32_t state = in.Byte();
  SetPropStr(PR_ONPLAYEND, in.Str());
  idleLabel_ = in.Str();
  rewindOnLoad_ = in.From(108, false);
  overlay_ = in.From(112, overlay_);
  muteOnLoad_ = in.From(129, false);

  takeLoaded(loaded);
  if (state == kFadingOut) SetActive(kPlaying);
  fadeTime_ = loaded.FadeTime;
  SetActive(state);
}

void RegisterZirkVideo() {
  RegisterKind(LT_VIDEO, [](TZirkBaseList& scene) { return std::make_unique<TZirkVideo>(scene); });
}

}  // namespace zirk
