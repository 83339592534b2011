#include "app/screenshot.h"

#include "base/streams.h"
#include "imaging/KwPNG.h"
#include "platform/gdi.h"
#include "surfaces/dibx.h"

namespace zirk {

void SaveScreenshot(const TCustomDIBX& picture, TKwStream& stream) {
  TKwPNG png;
  png.WriteCurrentTime = false;
  png.ChunkTime = {};  // a year of 0 writes no time chunk
  TDIB& image = png.Bitmap();
  const int32_t width = picture.Width(), height = picture.Height();
  image.SetSize(width, height, 24);
  const platform::PixelBuffer pixels = picture.Pixels();
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t color = platform::PixelValueToColor(pixels, picture.GetPixel(x, y)) & 0xFFFFFF;
      image.SetRawPixel(x, y, image.ColorToPixel(color));
    }
  }
  png.SaveToStream(stream);
}

void SaveScreenshot(const TCustomDIBX& picture, const std::string& hostPath) {
  TKwMemoryStream memory;
  SaveScreenshot(picture, memory);
  memory.SaveToFileReplacing(hostPath);
}

}  // namespace zirk
