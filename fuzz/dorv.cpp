// Reads arbitrary bytes as a layered image. Any input must end in a frame
// list or a zirk::Exception; a list that loads must survive being written
// uncompressed and read again with every pixel and alpha value unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"
#include "imaging/dorvs.h"

namespace {

bool samePlanes(const zirk::TDIBSurface& a, const zirk::TDIBSurface& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || !a.SameLayout(b)) return false;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      if (a.GetRawPixel(x, y) != b.GetRawPixel(x, y)) return false;
    }
  }
  // An empty picture's alpha plane has no bytes to write and reads back as none.
  if (a.GetEmpty()) return true;
  if (a.HasAlphaPlane() != b.HasAlphaPlane()) return false;
  return !a.HasAlphaPlane() || samePlanes(*a.AlphaPlane(), *b.AlphaPlane());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks the identification code and the first-frame flag,
  // so scrambled files and partial reads are reached too.
  if (size == 0) return 0;
  const int32_t code = data[0] & 0x7F;
  const bool firstOnly = (data[0] & 0x80) != 0;
  zirk::TDorvFrameList list(code);
  list.MaxLoadBytes = 64 << 20;
  try {
    zirk::TKwMemoryStream stream(std::vector<uint8_t>(data + 1, data + size));
    zirk::LoadDorvStream(list, stream, firstOnly);
  } catch (const zirk::Exception&) {
    if (list.Count() != 0) __builtin_trap();
    return 0;
  }
  int64_t pixels = 0;
  for (const auto& frame : list) pixels += int64_t{frame->Image.Width()} * frame->Image.Height();
  if (pixels > (1 << 20)) return 0;
  zirk::TKwMemoryStream saved;
  list.SaveToStream(saved, zirk::dcNone, 70);
  saved.SetPosition(0);
  zirk::TDorvFrameList back(code);
  zirk::LoadDorvStream(back, saved, false);
  if (back.Count() != list.Count()) __builtin_trap();
  for (int32_t i = 0; i < list.Count(); ++i) {
    const zirk::TDorvFrame& a = *list.GetFrame(i);
    const zirk::TDorvFrame& b = *back.GetFrame(i);
    if (!samePlanes(a.Image, b.Image) || a.Delay != b.Delay) __builtin_trap();
    if (a.TransparentColor != b.TransparentColor) __builtin_trap();
  }
  return 0;
}
