// Reads arbitrary bytes as a BMP file or packed DIB. Any input must end in a
// picture or a zirk::Exception; a picture that loads must survive being
// written and read again unchanged, and every pixel must read as a colour.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"
#include "surfaces/dibsfc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::TDIBSurface surface;
  try {
    zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
    surface.LoadFromStream(stream);
  } catch (const zirk::Exception&) {
    return 0;
  }
  zirk::TKwMemoryStream saved;
  surface.SaveToStream(saved);
  saved.SetPosition(0);
  zirk::TDIB back;
  back.LoadFromStream(saved);
  if (back.Width() != surface.Width() || back.Height() != surface.Height() ||
      !back.SameLayout(surface)) {
    __builtin_trap();
  }
  for (int y = 0; y < surface.Height(); ++y) {
    for (int x = 0; x < surface.Width(); ++x) {
      if (back.GetRawPixel(x, y) != surface.GetRawPixel(x, y)) __builtin_trap();
      if (surface.GetCanvas().GetPixel(x, y) == zirk::CLR_INVALID) __builtin_trap();
    }
  }
  return 0;
}
