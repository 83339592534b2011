// Region shapes at any place (extreme coordinates included) and of any
// vertex count, then hit tests, boxes and painting into a small buffer; and
// raster operations between small buffers with arbitrary rectangles.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_reader.h"
#include "platform/gdi.h"
#include "platform/regions.h"

using zirk::fuzz::Reader;

namespace {

// A shape is placed anywhere, clamped coordinates included, but spans at most
// kMaxRows rows: a region's work grows with its rows, and a tall one would
// keep each input busy for a long time without reaching new code.
constexpr int32_t kMaxRows = 256;

int32_t saturated(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int16_t i16(Reader& r) {
  return int16_t(r.u8() | (r.u8() << 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk::platform;
  Reader r{data, size};
  const uint8_t kind = r.u8();
  const int32_t left = r.i32(), top = r.i32();
  HRGN rgn;
  if (kind % 3 != 2) {
    const int32_t right = saturated(int64_t(left) + i16(r));
    const int32_t bottom = saturated(int64_t(top) + i16(r) % kMaxRows);
    rgn = kind % 3 == 0 ? CreateRectRgn(left, top, right, bottom)
                        : CreateEllipticRgn(left, top, right, bottom);
  } else {
    // Vertices around (left, top): any width, at most kMaxRows tall.
    std::vector<POINT> pts;
    while (r.n >= 3 && pts.size() < 64) {
      const int16_t dx = i16(r);
      const int8_t dy = int8_t(r.u8());
      pts.push_back({saturated(int64_t(left) + dx), saturated(int64_t(top) + dy)});
    }
    rgn = CreatePolygonRgn(pts.data(), int32_t(pts.size()), (kind & 4) ? WINDING : ALTERNATE);
  }
  RECT box;
  GetRgnBox(rgn, &box);
  for (int i = 0; i < 8; ++i) PtInRegion(rgn, box.left + i, box.top + i);

  std::vector<uint8_t> a(16 * 16, 0), b(16 * 64, 7);
  PixelBuffer pa{a.data(), 16, 16, 16, 8};
  PixelBuffer pb{b.data(), 64, 16, 16, 32};
  DeviceContext da(pa), db(pb);
  PaintRgn(&da, rgn);
  PaintRgn(&db, rgn);
  const int32_t x = r.i32() % 40, y = r.i32() % 40, w = r.i32() % 40, h = r.i32() % 40;
  const int32_t sx = r.i32() % 40, sy = r.i32() % 40, sw = r.i32() % 40, sh = r.i32() % 40;
  StretchBlt(&db, x, y, w, h, &da, sx, sy, sw, sh, SRCCOPY);
  BitBlt(&da, x, y, w, h, &db, sx, sy, SRCAND);
  MaskBlt(&db, x, y, w, h, &db, sx, sy, pa, sy, sx, MAKEROP4(SRCCOPY, DSTCOPY));
  PatBlt(&da, x, y, w, h, PATINVERT);
  DeleteObject(rgn);
  return 0;
}
