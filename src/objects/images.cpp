#include "objects/images.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "base/records.h"
#include "objects/dorvcache.h"
#include "objects/frms.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zscene.h"
#include "surfaces/pixelmath.h"

namespace zirk {

bool HasExtension(const std::string& fileName, const char* extension) {
  size_t n = std::strlen(extension);
  if (fileName.size() < n) return false;
  for (size_t k = 0; k < n; ++k) {
    unsigned char a = static_cast<unsigned char>(fileName[fileName.size() - n + k]);
    unsigned char b = static_cast<unsigned char>(extension[k]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

// --- TZirkCustomImages ----------------------------------------------------------------

TZirkCustomImages::TZirkCustomImages(TZirkBaseList& scene) : TZirkCustomImage(scene) {}

TZirkCustomImages::~TZirkCustomImages() = default;

bool TZirkCustomImages::listIndexValid() {
  TZirkImageList* list = GetImageList();
  return list && index_ >= 0 && index_ < list->Count();
}

void TZirkCustomImages::lendCurrent() {
  TZirkImageList* list = GetImageList();
  TZirkImageData* e = list ? list->GetImageData(index_) : nullptr;
  SetBackSurface(e ? e->GetSurface() : nullptr);
  SetMaskSurface(e ? e->GetMaskSurface() : nullptr);
}

void TZirkCustomImages::SetIndex(int32_t index) {
  if (index == index_) return;
  if (TZirkMotionBase* motion = GetMotion()) {
    motion->SetTime(static_cast<int32_t>(std::nearbyint(index * kFilmTickMs)));
    return;
  }
  if (!listIndexValid()) delay_ = 0;
  stepIndex(index);
  showFrame();
}

void TZirkCustomImages::stepIndex(int32_t index) {
  if (index == index_) return;
  index_ = index;
  TZirkImageList* list = GetImageList();
  TZirkImageData* e = list ? list->GetImageData(index) : nullptr;
  if (!e) return;
  int64_t delay = int64_t(delay_) + e->GetDelay();
  if (index == list->Count() - 1 && list->Count() > 1)
    if (std::optional<int32_t> extra = endDelay_.ExecuteExpression()) delay += *extra;
  delay_ = pixelmath::Saturate32(delay);
}

void TZirkCustomImages::showStepped(int32_t from) {
  if (index_ != from) showFrame();
}

void TZirkCustomImages::showFrame() {
  // What was shown is invalidated, and what is shown now only when it lies
  // elsewhere: a frame of the same size costs one invalidation.
  const TCustomDIBX* shown = GetBackSurface();
  const bool wasShown = shown && !shown->IsEmpty();
  const TRect before = GetScreenRect();
  Invalidate();
  TZirkImageList* list = GetImageList();
  TZirkImageData* e = list ? list->GetImageData(index_) : nullptr;
  if (e) {
    e->SetBrightness(brightness_);
    KeepTransparentColor(e->GetTransparentColor());
  }
  // Nothing selected shows nothing.
  lendSurfaces(e ? e->GetSurface() : nullptr, e ? e->GetMaskSurface() : nullptr);
  if (CanAutoSize()) {
    UpdateDisplayWidth();
    UpdateDisplayHeight();
  }
  if (!wasShown || GetScreenRect() != before) Invalidate();
}

void TZirkCustomImages::applyBrightness() {
  if (!listIndexValid()) return;
  TZirkImageData* e = GetImageList()->GetImageData(index_);
  e->SetBrightness(brightness_);
  SetBackSurface(e->GetSurface());
  Invalidate();
}

bool TZirkCustomImages::playing() {
  bool paused = paused_ || GetPropInt(PR_ANIPAUSED) != 0;
  if (TZirkMotionBase* motion = GetMotion()) return motion->GetState() == 0 && !paused;
  TZirkImageList* list = GetImageList();
  int32_t count = list ? list->Count() : 0;
  if (!repeats() && index_ >= count - 1 && delay_ < 1) return false;
  return !paused;
}

const TPropTable& TZirkCustomImages::Properties() const {
  using P = TPropField<TZirkCustomImages>;
  static const TPropTable table(
      TZirkCustomImage::Properties(),
      {
          P(PR_INDEX)
              .Get([](TZirkCustomImages& o) {
                return o.GetMotion() ? o.GetMotion()->GetFrameCounter() : o.index_;
              })
              .Set(&TZirkCustomImages::SetIndex),
          P(PR_COUNT).Get([](TZirkCustomImages& o) {
            TZirkImageList* list = o.GetImageList();
            return o.GetMotion() ? o.GetMotion()->GetLength() : list ? list->Count() : 0;
          }),
          P(PR_BRIGHTNESS, &TZirkCustomImages::brightness_)
              .Then(&TZirkCustomImages::applyBrightness),
          P(PR_PAUSED, &TZirkCustomImages::paused_),
          P(PR_PLAYING).Get(&TZirkCustomImages::playing),
      });
  return table;
}

bool TZirkCustomImages::Tick() {
  bool done = TZirkCustomImage::Tick();
  if (done || GetMotion() || !listIndexValid() || !GetVisible() || paused_ ||
      GetPropInt(PR_ANIPAUSED) != 0)
    return done;
  if (delay_ > 0)
    delay_ = static_cast<int32_t>(std::max<int64_t>(int64_t(delay_) - ElapsedTime(), INT32_MIN));
  // The frames a tick runs through are shown once, as the last of them.
  const int32_t count = GetImageList()->Count(), from = index_;
  bool ended = false;
  while (delay_ <= 0) {
    if (index_ < count - 1) {
      // Two frames never carry an overshoot: a long tick moves one frame.
      if (count <= 2) delay_ = 0;
      stepIndex(index_ + 1);
      continue;
    }
    if (repeats()) {
      delay_ = 0;
      stepIndex(0);
    } else {
      ended = true;
    }
    break;
  }
  showStepped(from);
  return ended && playEnded();
}

void TZirkCustomImages::ReleaseSurfaces() {
  SetBackSurface(nullptr);
  TZirkCustomImage::ReleaseSurfaces();
}

void TZirkCustomImages::RestoreSurfaces() {
  lendCurrent();
  TZirkCustomImage::RestoreSurfaces();
}

void TZirkCustomImages::SaveToStream(TKwStream& stream) {
  TZirkCustomImage::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(delay_);
  out.Int(GetPropInt(PR_INDEX));
  out.Int(brightness_);
  out.Bool(paused_);
  endDelay_.SaveToStream(out.Stream());
}

void TZirkCustomImages::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomImage::LoadFromStream(stream, version);
  TRecordReader in(stream, version);
  delay_ = in.Int();
  index_ = in.Int();
  brightness_ = in.Int();
  paused_ = in.Bool();
  endDelay_.LoadFromStream(in.Stream());
}

// --- TZirkImages ----------------------------------------------------------------------------

TZirkImages::TZirkImages(TZirkBaseList& scene) : TZirkCustomImages(scene) {}

TZirkImages::~TZirkImages() {
  // The lists hand their pictures back before the surfaces they lent go.
  SetBackSurface(nullptr);
  SetMaskSurface(nullptr);
  lists_.clear();
}

void TZirkImages::ensureLists() {
  if (!lists_.empty()) return;
  int32_t count = std::max(1, GetImageListCount());
  for (int32_t k = 0; k < count; ++k) lists_.push_back(std::make_unique<TZirkImageList>());
}

void TZirkImages::AfterCreate() {
  ensureLists();
}

TZirkImageList* TZirkImages::ImageList(int32_t index) {
  ensureLists();
  if (index < 0 || index >= static_cast<int32_t>(lists_.size())) return nullptr;
  return lists_[static_cast<size_t>(index)].get();
}

TZirkImageList* TZirkImages::GetImageList() {
  return ImageList(GetImageListIndex());
}

void TZirkImages::SetSource(const std::string& source) {
  if (source == source_) return;
  source_ = source;
  if (GetImageListIndex() == 0) {
    SetIndex(-1);
    SetBackSurface(nullptr);
    SetMaskSurface(nullptr);
  }
  TZirkImageList* list = ImageList(0);
  list->Clear();
  FreeMotion();
  if (HasExtension(source, ".dor")) {
    list->LoadImageFrames(source, false);
  } else if (HasExtension(source, ".zmt")) {
    StartMotion(source);
    if (TZirkMotionBase* motion = GetMotion()) {
      motion->Step();
      motion->Rewind();
    }
  } else {
    SetPropInt(PR_WIDTH, 0);
    SetPropInt(PR_HEIGHT, 0);
  }
  if (GetImageListIndex() == 0 && list->Count() > 0) SetIndex(0);
}

bool TZirkImages::playEnded() {
  if (autoScrap_) return true;
  // Posted again on every tick while the end lasts.
  if (!onPlayEnd_.empty()) Scene().Events().PostEvent(this, onPlayEnd_, PR_ONPLAYEND);
  return false;
}

void TZirkImages::repeatChanged() {
  if (!repeat_) return;
  TZirkMotionBase* motion = GetMotion();
  if (!motion && !listIndexValid())
    SetIndex(0);
  else if (motion && motion->GetState() != 0)
    motion->Rewind();
}

const TPropTable& TZirkImages::Properties() const {
  using P = TPropField<TZirkImages>;
  static const TPropTable table(
      TZirkCustomImages::Properties(),
      {
          P(PR_SOURCE, &TZirkImages::source_).Set(&TZirkImages::SetSource),
          P(PR_REPEAT, &TZirkImages::repeat_).Then(&TZirkImages::repeatChanged),
          P(PR_AUTOSCRAP, &TZirkImages::autoScrap_),
          P(PR_ONPLAYEND, &TZirkImages::onPlayEnd_),
          P(PR_ONIDLE, &TZirkImages::onIdle_),
      });
  return table;
}

void TZirkImages::ReleaseSurfaces() {
  TZirkCustomImages::ReleaseSurfaces();
  for (auto& list : lists_) list->ReleaseImageSurfaces();
}

void TZirkImages::RestoreSurfaces() {
  for (auto& list : lists_) list->RebuildImageSurfaces();
  TZirkCustomImages::RestoreSurfaces();
}

void TZirkImages::SaveToStream(TKwStream& stream) {
  TZirkCustomImages::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Bool(repeat_);
  out.Bool(autoScrap_);
  out.Str(source_);
  out.Str(onPlayEnd_);
  out.Str(onIdle_);
}

void TZirkImages::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomImages::LoadFromStream(stream, version);
  int32_t kept = Index();
  TRecordReader in(stream, version);
  repeat_ = in.Bool();
  autoScrap_ = in.Bool();
  // The index read above stands for a list that is not loaded yet.
  setIndexField(-1);
  SetSource(in.Str());
  onPlayEnd_ = in.Str();
  onIdle_ = in.From(104, onIdle_);
  SetIndex(kept);
}

void RegisterZirkImages() {
  RegisterKind(LT_IMAGES,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkImages>(scene); });
}

}  // namespace zirk
