// Reads arbitrary bytes as a PNG. Any input must end in a picture or an
// EKwPNG; a picture that loads completely must survive being written and
// read again with the same pixels, mask and transparency.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"
#include "imaging/KwPNG.h"

namespace {

// Big headers are legal, but fuzzing them only measures allocation.
bool tooLarge(const uint8_t* data, size_t size) {
  if (size < 24) return false;
  auto be32 = [&](size_t at) {
    return uint32_t{data[at]} << 24 | uint32_t{data[at + 1]} << 16 | uint32_t{data[at + 2]} << 8 |
           data[at + 3];
  };
  return uint64_t{be32(16)} * be32(20) > (uint64_t{1} << 22);
}

bool samePixels(zirk::TKwPNG& a, zirk::TKwPNG& b) {
  const zirk::TDIB& x = a.Image();
  const zirk::TDIB& y = b.Image();
  // Palette pictures are written without their mask.
  const bool alphaKept = a.HasAlpha && (x.BitCount() > 8 || a.GrayScale);
  if (x.Width() != y.Width() || x.Height() != y.Height() || alphaKept != b.HasAlpha) return false;
  for (int row = 0; row < x.Height(); ++row) {
    for (int col = 0; col < x.Width(); ++col) {
      if (x.GetCanvas().GetPixel(col, row) != y.GetCanvas().GetPixel(col, row)) return false;
      if (alphaKept && a.Mask().GetRawPixel(col, row) != b.Mask().GetRawPixel(col, row)) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (tooLarge(data, size)) return 0;
  zirk::TKwPNG png;
  try {
    zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
    png.LoadFromStream(stream);
  } catch (const zirk::EKwPNG&) {
    return 0;
  }
  if (png.Truncated() || png.GetEmpty()) return 0;
  zirk::TKwMemoryStream saved;
  png.SaveToStream(saved);
  saved.SetPosition(0);
  zirk::TKwPNG back;
  back.LoadFromStream(saved);
  if (back.Truncated() || !samePixels(png, back) || back.GetTransparent() != png.GetTransparent()) {
    __builtin_trap();
  }
  return 0;
}
