// Drawing operations with parameters as scripts and films may give them:
// any position, rectangle, zoom, angle, step, scroll and flip, between
// small surfaces of every bit count. Nothing may be read or written outside
// the surfaces.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_reader.h"
#include "surfaces/dibx.h"
#include "surfaces/rotatezoom.h"
#include "surfaces/wave.h"

namespace {

struct Reader : zirk::fuzz::Reader {
  // Mostly small values, sometimes extreme ones.
  int32_t coord() {
    const int32_t v = i32();
    return (v & 0x40000000) ? v : v % 64;
  }
};

int bits(uint8_t b) {
  static const int kBits[] = {8, 15, 16, 24, 32, 32};
  return kBits[b % 6];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  Reader r{data, size};
  TDIBX dst(1 + r.u8() % 24, 1 + r.u8() % 24, bits(r.u8()));
  TDIBX src(r.u8() % 24, r.u8() % 24, bits(r.u8()));
  TDIBX mask(r.u8() % 24, r.u8() % 24, 8);
  src.SetColorKey(int32_t(r.u8()) - 1);
  for (int i = 0; i < 16; ++i) src.SetPixel(r.u8() % 24, r.u8() % 24, uint32_t(r.i32()));
  std::vector<uint32_t> table(256, 0x00102030);
  TDIBXWave wave;
  wave.Target = &dst;
  wave.SetSize(8, r.u8() % 32, 0);
  for (int32_t& o : wave.Offsets) o = r.coord();
  wave.TopOrigin = r.coord();
  wave.SetClipRect(dst.GetBoundsRect());
  // A spaced tiling gets the work of a few of these small screens, not of a
  // hundred full ones: the budget still ends the endless tilings.
  dst.SpacedTileBudget = wave.SpacedTileBudget = int64_t(1) << 14;

  while (r.n > 0) {
    TCustomDIBX& target = (r.u8() & 1) ? static_cast<TCustomDIBX&>(wave) : dst;
    target.SetClipRect(Rect(r.coord(), r.coord(), r.coord(), r.coord()));
    if (&target == &dst && (r.u8() & 1)) dst.ResetClipRect();
    const uint8_t op = r.u8();
    const bool fh = op & 0x40, fv = op & 0x80, key = r.u8() & 1;
    const TRect sr = Rect(r.coord(), r.coord(), r.coord(), r.coord());
    const TRect dr = Rect(r.coord(), r.coord(), r.coord(), r.coord());
    const int32_t x = r.coord(), y = r.coord(), a = r.coord(), z1 = r.coord(), z2 = r.coord();
    switch (op % 16) {
      case 0:
        target.Draw(x, y, src, sr, fh, fv, key);
        break;
      case 1:
        target.DrawAlphaMasked(x, y, src, sr, fh, fv, mask, a);
        break;
      case 2:
        target.DrawAdd(x, y, src, sr, fh, fv, key, a);
        break;
      case 3:
        target.DrawAddTable(x, y, mask, sr, fh, fv, table.data(), a, 17);
        break;
      case 4:
        target.StretchDraw(dr, src, sr, fh, fv, key, a);
        break;
      case 5:
        target.StretchDrawAddMasked(dr, src, sr, fh, fv, mask, a);
        break;
      case 6:
        target.DrawRotateZoom(x, y, src, sr, z1, z2, r.coord(), r.coord(), a, fh, fv, key, a);
        break;
      case 7:
        target.DrawRotateZoomAlpha(x, y, src, sr, z1, z2, r.coord(), r.coord(), a, fh, fv, mask, a);
        break;
      case 8:
        target.TileDrawAlpha(dr, src, sr, x, y, fh, fv, key, a);
        break;
      case 9:
        target.TileDrawZoomMasked(dr, src, sr, z1, z2, fh, fv, mask, a, x, y);
        break;
      case 10:
        target.TileDrawOffset(dr, src, sr, z1, z2, r.coord(), r.coord(), fh, fv, key, a, x, y);
        break;
      case 11:
        target.TileDrawFast(dr, src, fh, fv, x, y);
        break;
      case 12:
        target.FrameRectAlpha(dr, a, uint32_t(x), z1);
        break;
      case 13:
        target.FillRectSub(dr, uint32_t(x));
        break;
      case 14:
        dst.Draw(x, y, dst, sr, fh, fv, key);
        break;
      case 15:
        src.CopyFrom(dst);
        break;
    }
    RotateZoomBounds({x, y}, {z1, z2}, fh, fv, sr.Width(), sr.Height(), a, x, y);
  }
  return 0;
}
