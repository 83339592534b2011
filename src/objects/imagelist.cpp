#include "objects/imagelist.h"

#include <algorithm>

#include "base/vocab.h"
#include "objects/brightness.h"
#include "objects/dorvcache.h"
#include "scene/zobject.h"
#include "surfaces/dibx.h"

namespace zirk {

// --- entries ------------------------------------------------------------------------

TZirkImageData::~TZirkImageData() = default;

TCustomDIBX* TZirkImageData::GetSurface() const {
  return offset_ != 0 && private_ ? private_.get() : frame_->Surface.get();
}

TCustomDIBX* TZirkImageData::GetMaskSurface() const {
  return frame_->MaskSurface.get();
}

int32_t TZirkImageData::GetDelay() const {
  return frame_->Delay;
}

int32_t TZirkImageData::GetTransparentColor() const {
  return frame_->TransparentColor;
}

void TZirkImageData::SetBrightness(int32_t offset) {
  offset = std::clamp(offset, -255, 255);
  if (offset == offset_) return;
  offset_ = offset;
  if (offset == 0 || !frame_->Surface) return;
  if (!private_) private_ = MakeDisplayDIBX();
  CopyWithBrightness(*private_, *frame_->Surface, offset);
}

void TZirkImageData::RebuildSurface() {
  int32_t offset = offset_;
  offset_ = 0;
  private_.reset();
  SetBrightness(offset);
}

void TZirkImageData::Draw(TZirkObject& owner, int32_t x, int32_t y) const {
  int32_t a = owner.GetPropInt(PR_ALPHA);
  if (a <= 0 || a >= 512) return;
  TCustomDIBX* target = owner.GetDrawSurface();
  TCustomDIBX* s = GetSurface();
  if (!target || !s) return;
  target->DrawImage(x, y, *s, s->GetBoundsRect(), owner.GetPropInt(PR_FLIPH) != 0,
                    owner.GetPropInt(PR_FLIPV) != 0, GetMaskSurface(), a);
}

void TZirkImageData::DrawTiled(TCustomDIBX& target, const TRect& dest, int32_t alpha, bool flipV,
                               bool flipH) const {
  TCustomDIBX* s = GetSurface();
  if (!s) return;
  target.TileDrawImage(dest, *s, s->GetBoundsRect(), 256, 256, flipH, flipV, GetMaskSurface(),
                       alpha, 0, 0);
}

// --- list ------------------------------------------------------------------------------

TZirkImageList::~TZirkImageList() {
  Clear();
}

void TZirkImageList::LoadImageFrames(const std::string& fileName, bool mask) {
  Clear();
  item_ = TDorvLease(fileName, mask, false);
  for (int32_t k = 0; k < item_->FrameCount(); ++k)
    entries_.push_back(std::make_unique<TZirkImageData>(*item_->Frame(k)));
  index_ = 0;
  if (!entries_.empty()) delay_ = entries_[0]->GetDelay() + 1;
}

void TZirkImageList::Clear() {
  entries_.clear();
  item_.Reset();
}

TZirkImageData* TZirkImageList::GetImageData(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return entries_[static_cast<size_t>(index)].get();
}

void TZirkImageList::SetFrameIndex(int32_t index) {
  index_ = std::min(index, Count() - 1);
  if (index_ >= 0) delay_ = entries_[static_cast<size_t>(index_)]->GetDelay() + 1;
}

bool TZirkImageList::AdvanceImageFrame(uint32_t elapsedMs) {
  if (Count() < 2) return false;
  int64_t counter = int64_t(delay_) - elapsedMs;
  if (counter >= 1) {
    delay_ = static_cast<int32_t>(counter);
    return false;
  }
  while (counter < 1) {
    index_ = (std::max(index_, -1) + 1) % Count();
    if (index_ == 0) {
      delay_ = entries_[0]->GetDelay();
      return true;
    }
    counter += entries_[static_cast<size_t>(index_)]->GetDelay();
  }
  delay_ = static_cast<int32_t>(counter);
  return true;
}

void TZirkImageList::ReleaseImageSurfaces() {
  for (auto& e : entries_) e->ReleaseSurface();
}

void TZirkImageList::RebuildImageSurfaces() {
  for (auto& e : entries_) e->RebuildSurface();
}

}  // namespace zirk
