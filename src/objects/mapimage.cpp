#include "objects/mapimage.h"

#include <algorithm>

#include "base/records.h"
#include "base/vrfiles.h"
#include "objects/dorvcache.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "script/sysvars.h"

namespace zirk {

namespace {

constexpr int32_t VK_RETURN = 13, VK_ESCAPE = 27, VK_SPACE = 32;
constexpr int32_t VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40;
// A working mask that has not been made from the frame's mask yet (after a
// load, a new region map or a rebuild of the cached frames).
constexpr int32_t kUnbuilt = INT32_MIN;

// Applies f(x0, x1, y) to each span of the region inside the surface.
template <class F>
void forSpans(const platform::Region& region, const TCustomDIBX& surface, F f) {
  const auto& rows = region.Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const int64_t y = int64_t{region.Top()} + static_cast<int64_t>(i);
    if (y < 0 || y >= surface.Height()) continue;
    for (const auto& span : rows[i]) {
      const int32_t x0 = std::max(span.left, 0), x1 = std::min(span.right, surface.Width());
      if (x0 < x1) f(x0, x1, static_cast<int32_t>(y));
    }
  }
}

// The cached mask's levels into the working copy, inside [x0, x1) of row y.
void copyMaskRow(const TCustomDIBX& from, TCustomDIBX& to, int32_t x0, int32_t x1, int32_t y) {
  for (int32_t x = x0; x < x1; ++x) to.SetPixel(x, y, from.GetPixel(x, y));
}

}  // namespace

TZirkMapImage::TZirkMapImage(TZirkBaseList& scene) : TZirkControl(scene) {
  Scene().Menus().Add(this);
}

TZirkMapImage::~TZirkMapImage() {
  Scene().Menus().Remove(this);
  Invalidate();
}

const TPropTable& TZirkMapImage::Properties() const {
  using P = TPropField<TZirkMapImage>;
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_SOURCE, &TZirkMapImage::source_).Set(&TZirkMapImage::SetSource),
          P(PR_HOVERSOURCE, &TZirkMapImage::hoverSource_).Set(&TZirkMapImage::SetHoverSource),
          P(PR_MAPSOURCE, &TZirkMapImage::mapSource_).Set(&TZirkMapImage::SetMapSource),
          P(PR_ALPHA, &TZirkMapImage::alpha_, TPropChange::Redraw),
          P(PR_BRIGHTNESS, &TZirkMapImage::brightness_, TPropChange::Redraw),
          P(PR_REPEAT).Get([](TZirkMapImage&) { return true; }).ReadOnly(),
          P(PR_AUTOSCRAP, &TZirkMapImage::autoScrap_),
          P(PR_RCLICKSCRAP, &TZirkMapImage::rClickScrap_),
          P(PR_PAUSED, &TZirkMapImage::paused_),
          P(PR_ONMAPIN, &TZirkMapImage::onMapIn_),
          P(PR_ONMAPOUT, &TZirkMapImage::onMapOut_),
          P(PR_ONSELECT, &TZirkMapImage::onSelect_),
          P(PR_ONIDLE, &TZirkMapImage::onIdle_),
      });
  return table;
}

const std::string& TZirkMapImage::RegionName(int32_t index) const {
  return regions_.at(static_cast<size_t>(index)).Name;
}

// --- pictures ---------------------------------------------------------------------------

bool TZirkMapImage::loadLayer(TLayer& layer, const std::string& name) {
  layer.Masks.clear();
  layer.Applied.clear();
  layer.List.LoadImageFrames(name, true);
  const int32_t count = layer.List.Count();
  if (count == 0) return false;
  layer.List.SetFrameIndex(0);
  layer.Applied.assign(static_cast<size_t>(count), kUnbuilt);
  for (int32_t k = 0; k < count; ++k) {
    const TCustomDIBX* mask = layer.List.GetImageData(k)->GetMaskSurface();
    layer.Masks.push_back(mask ? std::make_unique<TDIBX>(mask->Width(), mask->Height(), 8)
                               : nullptr);
  }
  return true;
}

void TZirkMapImage::SetSource(const std::string& name) {
  if (name == source_) return;
  Invalidate();
  source_ = name;
  if (loadLayer(normal_, name)) {
    const TCustomDIBX* first = normal_.List.GetImageData(0)->GetSurface();
    SetBounds(Left(), Top(), first ? first->Width() : 0, first ? first->Height() : 0);
    Invalidate();
  } else {
    SetBounds(Left(), Top(), 0, 0);
  }
}

void TZirkMapImage::SetHoverSource(const std::string& name) {
  if (name == hoverSource_) return;
  hoverSource_ = name;
  loadLayer(hover_, name);
}

void TZirkMapImage::SetMapSource(const std::string& name) {
  if (name == mapSource_) return;
  mapSource_ = name;
  hovered_ = -1;
  regions_.clear();
  for (TLayer* layer : {&normal_, &hover_})
    std::fill(layer->Applied.begin(), layer->Applied.end(), kUnbuilt);
  Invalidate();
  if (!GameFileAvailable(name)) return;
  try {
    TKwMemoryStream stream;
    LoadFileToStream(stream, name, kRegionMapFileCap);
    ReadRegionMap(stream, regions_);
  } catch (const std::exception&) {
    // A damaged map keeps the regions read before the damage; one past the
    // cap, like a missing one, leaves none.
  }
}

TDIBX* TZirkMapImage::workingMask(TLayer& layer, bool inside) {
  const int32_t index = layer.List.Index();
  TZirkImageData* entry = layer.List.GetImageData(index);
  if (!entry || index >= static_cast<int32_t>(layer.Masks.size())) return nullptr;
  TDIBX* work = layer.Masks[static_cast<size_t>(index)].get();
  const TCustomDIBX* cached = entry->GetMaskSurface();
  if (!work || !cached) return nullptr;
  int32_t& applied = layer.Applied[static_cast<size_t>(index)];
  if (applied == hovered_) return work;
  applied = hovered_;
  const platform::Region* region =
      hovered_ >= 0 ? regions_[static_cast<size_t>(hovered_)].Region.get() : nullptr;
  if (!inside) {
    // The frame's mask everywhere but inside the region.
    for (int32_t y = 0; y < work->Height(); ++y) copyMaskRow(*cached, *work, 0, work->Width(), y);
    if (region)
      forSpans(*region, *work, [&](int32_t x0, int32_t x1, int32_t y) {
        for (int32_t x = x0; x < x1; ++x) work->SetPixel(x, y, 0);
      });
  } else {
    // The frame's mask only inside the region.
    work->FillRect(work->GetBoundsRect(), 0);
    if (region)
      forSpans(*region, *work,
               [&](int32_t x0, int32_t x1, int32_t y) { copyMaskRow(*cached, *work, x0, x1, y); });
  }
  return work;
}

void TZirkMapImage::drawEntry(TZirkImageData& entry, const TCustomDIBX* mask) {
  if (alpha_ <= 0 || alpha_ >= 512) return;
  TCustomDIBX* target = GetDrawSurface();
  const TCustomDIBX* picture = entry.GetSurface();
  if (!target || !picture) return;
  const TRect source = Rect(0, 0, picture->Width(), picture->Height());
  if (picture->Width() == Width() && picture->Height() == Height())
    target->DrawImage(GetDrawLeft(), GetDrawTop(), *picture, source, false, false, mask, alpha_);
  else
    target->StretchDrawImage(GetScreenRect(), *picture, source, false, false, mask, alpha_);
}

void TZirkMapImage::Draw() {
  if (TZirkImageData* entry = normal_.List.GetImageData(normal_.List.Index())) {
    TDIBX* mask = workingMask(normal_, false);
    if (entry->Brightness() != brightness_) entry->SetBrightness(brightness_);
    drawEntry(*entry, mask);
  }
  if (hovered_ >= 0) {
    if (TZirkImageData* entry = hover_.List.GetImageData(hover_.List.Index()))
      drawEntry(*entry, workingMask(hover_, true));
  }
  TZirkControl::Draw();
}

// --- regions and events -------------------------------------------------------------------

TArrayString TZirkMapImage::eventArgs(int32_t index) const {
  TArrayString args;
  args.Add(RegionName(index));
  args.Add(std::to_string(index));
  return args;
}

void TZirkMapImage::invalidateRegion(int32_t index) {
  if (index < 0 || index >= RegionCount()) return;
  const platform::Region& region = *regions_[static_cast<size_t>(index)].Region;
  if (region.IsEmpty()) return;
  const platform::RECT b = region.Box();
  const TPoint at = GetDrawPos();
  // Through the clips to the object's own hook, its parents' and the screen.
  invalidateScreenRect(OffsetRect(Rect(b.left, b.top, b.right, b.bottom), at.X, at.Y));
}

void TZirkMapImage::SetHovered(int32_t index) {
  if (index == hovered_) return;
  // Every change is told, each leaving before the entering: a script that
  // follows the hovered region must see every step, not only the first.
  if (hovered_ >= 0) QueueEvent(PR_ONMAPOUT, eventArgs(hovered_));
  invalidateRegion(hovered_);
  hovered_ = index;
  hover_.List.SetFrameIndex(0);
  invalidateRegion(hovered_);
  if (hovered_ >= 0) QueueEvent(PR_ONMAPIN, eventArgs(hovered_));
}

void TZirkMapImage::SelectRegion() {
  if (hovered_ < 0) return;
  TSystemVariables& vars = SystemVariables();
  vars.SelStr = RegionName(hovered_);
  vars.SelIndex = hovered_;
  if (!selected_) QueueEventOnce(PR_ONSELECT, eventArgs(hovered_));
  if (autoScrap_) {
    closing_ = kCloseRequested;
    selected_ = true;
  }
}

void TZirkMapImage::cancel() {
  TSystemVariables& vars = SystemVariables();
  vars.SelStr.clear();
  vars.SelIndex = -1;
  closing_ = kCloseRequested;
}

bool TZirkMapImage::RightClickClose() {
  const int32_t im = IgnoreMouse();
  if (selected_ || (im != IM_NONE && im != IM_LCLICK)) return false;
  selected_ = true;
  cancel();
  return true;
}

// --- input ------------------------------------------------------------------------------

void TZirkMapImage::MouseMove(int32_t x, int32_t y) {
  if (!selected_) {
    const int32_t lx = x - GetDrawLeft(), ly = y - GetDrawTop();
    int32_t hit = -1;
    for (int32_t i = 0; i < RegionCount() && hit < 0; ++i)
      if (regions_[static_cast<size_t>(i)].Region->Contains(lx, ly)) hit = i;
    SetHovered(hit);
  }
  TZirkControl::MouseMove(x, y);
}

void TZirkMapImage::MouseOut() {
  SetHovered(-1);
  TZirkControl::MouseOut();
}

void TZirkMapImage::LButtonDown(int32_t x, int32_t y) {
  if (selected_) return;
  const int32_t im = IgnoreMouse();
  if ((im == IM_NONE || im == IM_RCLICK) && hovered_ >= 0 && !paused_) SelectRegion();
  TZirkControl::LButtonDown(x, y);
}

void TZirkMapImage::KeyRepeat(int32_t vk) {
  const int32_t count = RegionCount();
  const bool hovered = hovered_ >= 0;
  const int32_t key = selected_ ? 0
                                : firstKey(vk, {{VK_UP},
                                                {VK_LEFT},
                                                {VK_DOWN},
                                                {VK_RIGHT},
                                                {VK_RETURN, true, hovered},
                                                {VK_SPACE, true, hovered},
                                                {VK_ESCAPE, true, rClickScrap_}});
  // Without regions the arrows have nothing to move to.
  if ((key == VK_UP || key == VK_LEFT) && count > 0)
    SetHovered(hovered_ <= 0 ? count - 1 : hovered_ - 1);
  else if ((key == VK_DOWN || key == VK_RIGHT) && count > 0)
    SetHovered(hovered_ < 0 || hovered_ >= count - 1 ? 0 : hovered_ + 1);
  else if (key == VK_RETURN || key == VK_SPACE)
    SelectRegion();
  else if (key == VK_ESCAPE)
    cancel();
  TZirkControl::KeyRepeat(vk);
}

// --- life ---------------------------------------------------------------------------------

bool TZirkMapImage::Tick() {
  const bool done = TZirkControl::Tick();
  if (closing_ == kCloseRequested) {
    selected_ = true;
    closing_ = kClosing;
    return done;
  }
  if (closing_ == kClosing) return true;
  if (GetPropInt(PR_ANIPAUSED) != 0) return done;
  if (normal_.List.AdvanceImageFrame(ElapsedTime())) Invalidate();
  if (hovered_ >= 0 && hover_.List.AdvanceImageFrame(ElapsedTime())) invalidateRegion(hovered_);
  return done;
}

void TZirkMapImage::ReleaseSurfaces() {
  normal_.List.ReleaseImageSurfaces();
  hover_.List.ReleaseImageSurfaces();
  TZirkControl::ReleaseSurfaces();
}

void TZirkMapImage::RestoreSurfaces() {
  for (TLayer* layer : {&normal_, &hover_}) {
    layer->List.RebuildImageSurfaces();
    std::fill(layer->Applied.begin(), layer->Applied.end(), kUnbuilt);
  }
  TZirkControl::RestoreSurfaces();
}

void TZirkMapImage::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  out.Str(hoverSource_);
  out.Str(mapSource_);
  out.Int(alpha_);
  out.Int(brightness_);
  out.Str(onMapIn_);
  out.Str(onMapOut_);
  out.Bool(autoScrap_);
  out.Bool(rClickScrap_);
  out.Str(onIdle_);
  out.Bool(paused_);
  out.Str(onSelect_);
  out.Int(closing_);
}

void TZirkMapImage::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved map image record");
  SetSource(in.Str());
  SetHoverSource(in.Str());
  SetMapSource(in.Str());
  alpha_ = in.Int();
  brightness_ = in.Int();
  onMapIn_ = in.Str();
  onMapOut_ = in.Str();
  autoScrap_ = in.Bool();
  rClickScrap_ = in.Bool();
  if (in.Has(104)) {
    onIdle_ = in.Str();
    paused_ = in.Bool();
    onSelect_ = in.Str();
  }
  closing_ = in.From(115, closing_);
  Invalidate();
}

void RegisterZirkMapImage() {
  RegisterKind(LT_MAPIMG,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkMapImage>(scene); });
}

}  // namespace zirk
