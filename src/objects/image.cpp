#include "objects/image.h"

#include <algorithm>

#include "base/records.h"
#include "objects/brightness.h"
#include "objects/dorvcache.h"
#include "scene/proptable.h"

namespace zirk {

TZirkImage::TZirkImage(TZirkBaseList& scene) : TZirkCustomImage(scene) {}

TZirkImage::~TZirkImage() = default;

const TPropTable& TZirkImage::Properties() const {
  using P = TPropField<TZirkImage>;
  static const TPropTable table(
      TZirkCustomImage::Properties(),
      {
          P(PR_SOURCE, &TZirkImage::source_).Then(&TZirkImage::loadSource),
          P(PR_BRIGHTNESS, &TZirkImage::brightness_).Clamp(0, 255).Then(&TZirkImage::loadSource),
      });
  return table;
}

void TZirkImage::loadSource() {
  Invalidate();
  TCustomDIBX* own = OwnSurface();
  auto showNothing = [&] {
    if (own) own->Clear();
    setOwnMask(nullptr);
    KeepTransparentColor(-1);
  };
  // An explicit size (zoom 0) is kept; otherwise the picture's size counts.
  auto displayed = [](int32_t zoom, int32_t size, int32_t current) {
    return zoom == 0 ? current : static_cast<int32_t>(int64_t{zoom} * size / 256);
  };
  if (source_.empty()) {
    showNothing();
    StoreSize(displayed(ZoomX(), 0, Width()), displayed(ZoomY(), 0, Height()));
    return;
  }

  TDorvLease item(source_, false, false);
  StoreSize(displayed(ZoomX(), item->Width, Width()), displayed(ZoomY(), item->Height, Height()));
  const TDorvItemFrame* frame = item->Frame(0);
  if (!frame) {
    showNothing();
  } else if (own) {
    CopyWithBrightness(*own, *frame->Surface, brightness_ - 255);
    std::unique_ptr<TDIBX> mask;
    if (const TDIBX* source = frame->MaskSurface.get()) {
      mask = std::make_unique<TDIBX>(source->Width(), source->Height(), 8);
      mask->CopyFrom(*source);
    }
    setOwnMask(std::move(mask));
    KeepTransparentColor(frame->TransparentColor);
  }
  Invalidate();
}

void TZirkImage::RestoreSurfaces() {
  TZirkCustomImage::RestoreSurfaces();
  // A lent frame comes back from its lender; only an own copy is rebuilt.
  if (GetBackSurface() == OwnSurface() && !source_.empty()) loadSource();
}

void TZirkImage::SaveToStream(TKwStream& stream) {
  TZirkCustomImage::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Str(source_);
  out.Int(brightness_);
}

void TZirkImage::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkCustomImage::LoadFromStream(stream, version);
  TRecordReader in(stream, version);
  SetPropStr(PR_SOURCE, in.Str());
  SetPropInt(PR_BRIGHTNESS, in.Int());
}

}  // namespace zirk
