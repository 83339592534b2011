#include "imaging/maskwipe.h"

#include <cstring>

#include "base/vrfiles.h"
#include "imaging/dorvs.h"
#include "surfaces/pixelformat.h"

namespace zirk {

namespace {

// Perceived brightness of a 0x00BBGGRR colour, 0..255.
uint8_t greyLevel(uint32_t color) {
  return static_cast<uint8_t>((ColorR(color) * 77 + ColorG(color) * 150 + ColorB(color) * 29) >> 8);
}

int32_t scaled(int32_t v, int32_t from, int32_t to) {
  return static_cast<int32_t>(int64_t{v} * to / from);
}

}  // namespace

TMaskWipe::TMaskWipe(int32_t kind, int32_t identCode, TMaskLoader loader)
    : TCrossFadeWipe(kind), identCode_(identCode), loader_(std::move(loader)) {}

void TMaskWipe::Prepare() {
  TCrossFadeWipe::Prepare();
  levels_.clear();
  maskWidth_ = maskHeight_ = 0;
  if (GetName().empty()) return;
  TDorvFrameList list(identCode_);
  const auto decode = [&](TKwMemoryStream& data) { LoadDorvStream(list, data, true); };
  if (loader_) {
    TKwMemoryStream data;
    loader_(data, GetName());
    data.SetPosition(0);
    decode(data);
  } else {
    ReadGameFile(GetName(), kDorvMaxLoadBytes, decode);  // no picture within the bound is larger
  }
  const TDorvFrame* frame = list.GetFrame(0);
  if (!frame || frame->Image.GetEmpty()) return;
  const TDIBSurface& image = frame->Image;
  levels_.resize(size_t(image.Width()) * size_t(image.Height()));
  for (int32_t y = 0; y < image.Height(); ++y) {
    for (int32_t x = 0; x < image.Width(); ++x) {
      levels_[size_t(y) * size_t(image.Width()) + size_t(x)] =
          greyLevel(image.PixelToColor(image.GetRawPixel(x, y)));
    }
  }
  maskWidth_ = image.Width();
  maskHeight_ = image.Height();
}

void TMaskWipe::Compose(TCustomDIBX& dest, const TCustomDIBX& oldScreen,
                        const TCustomDIBX& newScreen) {
  const platform::PixelBuffer d = dest.Pixels(), o = oldScreen.Pixels(), n = newScreen.Pixels();
  const bool sameShape = !d.empty() && !o.empty() && !n.empty() && d.bitCount == o.bitCount &&
                         d.bitCount == n.bitCount && d.bitCount >= 8 && o.width == d.width &&
                         n.width == d.width && o.height == d.height && n.height == d.height;
  if (!HasMask() || !sameShape || Finished()) {
    TCrossFadeWipe::Compose(dest, oldScreen, newScreen);
    return;
  }
  const int32_t level = Level();
  const size_t bytes = size_t((d.bitCount + 7) / 8);
  std::vector<int32_t> maskColumn(size_t(d.width));
  for (int32_t x = 0; x < d.width; ++x) maskColumn[size_t(x)] = scaled(x, d.width, maskWidth_);
  for (int32_t y = 0; y < d.height; ++y) {
    const uint8_t* mask = &levels_[size_t(scaled(y, d.height, maskHeight_)) * size_t(maskWidth_)];
    uint8_t* out = d.row(y);
    const uint8_t* from = o.row(y);
    const uint8_t* to = n.row(y);
    for (int32_t x = 0; x < d.width; ++x) {
      const uint8_t* src = mask[maskColumn[size_t(x)]] < level ? to : from;
      if (src + size_t(x) * bytes != out + size_t(x) * bytes) {
        std::memcpy(out + size_t(x) * bytes, src + size_t(x) * bytes, bytes);
      }
    }
  }
}

TWipeFactory MakeMaskWipeFactory(TIdentCodeSource identCode, TMaskLoader loader) {
  return [identCode, loader](int32_t kind) -> std::unique_ptr<TCustomWipe> {
    return std::make_unique<TMaskWipe>(kind, identCode ? identCode() : 0, loader);
  };
}

}  // namespace zirk
