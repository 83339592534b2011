#include "support/picturewriter.h"

#include "imaging/dorvs.h"

namespace zirk::test {

void WritePicture(const std::filesystem::path& file, const std::vector<TestFrame>& frames) {
  TDorvFrameList list;
  for (const TestFrame& spec : frames) {
    TDorvFrame* frame = list.AddFrame();
    TDIBSurface& image = frame->Image;
    image.SetSize(spec.Width, spec.Height, 24);
    for (int32_t y = 0; y < spec.Height; ++y) {
      for (int32_t x = 0; x < spec.Width; ++x) {
        const uint32_t c =
            spec.Colors.empty() ? spec.Fill : spec.Colors[static_cast<size_t>(y * spec.Width + x)];
        image.SetRawPixel(x, y, image.ColorToPixel(c));
      }
    }
    if (spec.Transparent >= 0) {
      frame->TransparentColor = spec.Transparent;
      frame->TransparentValue =
          static_cast<int32_t>(image.ColorToPixel(static_cast<uint32_t>(spec.Transparent)));
    }
    if (!spec.Alpha.empty()) {
      EnsureAlphaPlane(image);
      for (int32_t y = 0; y < spec.Height; ++y) {
        for (int32_t x = 0; x < spec.Width; ++x) {
          image.AlphaPlane()->SetRawPixel(x, y,
                                          spec.Alpha[static_cast<size_t>(y * spec.Width + x)]);
        }
      }
    }
    frame->Delay = spec.Delay;
  }
  list.SaveToFile(file.string());
}

}  // namespace zirk::test
