#include "tools/mkdemo/demopicture.h"

#include <algorithm>
#include <cmath>

#include "imaging/dorvs.h"
#include "surfaces/dibsfc.h"

namespace zirk::demo {

uint32_t rgb(double r, double g, double b) {
  auto c = [](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L)); };
  return c(r) | (c(g) << 8) | (c(b) << 16);
}

uint32_t mix(uint32_t a, uint32_t b, double t) {
  auto ch = [&](int s) { return ((a >> s) & 0xFF) * (1 - t) + ((b >> s) & 0xFF) * t; };
  return rgb(ch(0), ch(8), ch(16));
}

void writePicture(const std::filesystem::path& file, const PictureSpec& spec,
                  const Painter& paint) {
  TDorvFrameList list;
  for (int32_t f = 0; f < spec.frames; ++f) {
    TDorvFrame* frame = list.AddFrame();
    TDIBSurface& image = frame->Image;
    image.SetSize(spec.width, spec.height, 24);
    if (spec.alpha) EnsureAlphaPlane(image);
    for (int32_t y = 0; y < spec.height; ++y) {
      for (int32_t x = 0; x < spec.width; ++x) {
        const Pixel p = paint(x, y, f);
        image.SetRawPixel(x, y, image.ColorToPixel(p.color));
        if (spec.alpha) image.AlphaPlane()->SetRawPixel(x, y, p.alpha);
      }
    }
    if (spec.transparent >= 0) {
      frame->TransparentColor = spec.transparent;
      frame->TransparentValue =
          static_cast<int32_t>(image.ColorToPixel(static_cast<uint32_t>(spec.transparent)));
    }
    frame->Delay = spec.delay;
  }
  list.SaveToFile(file.string());
}

}  // namespace zirk::demo
