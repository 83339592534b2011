// Region shapes as a region-map file gives them (any coordinates, any
// vertex count), then hit tests, boxes and painting into a small buffer;
// and raster operations between small buffers with arbitrary rectangles.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_reader.h"
#include "platform/gdi.h"
#include "platform/regions.h"

using zirk::fuzz::Reader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk::platform;
  Reader r{data, size};
  const uint8_t kind = r.u8();
  HRGN rgn;
  if (kind % 3 == 0) {
    const int32_t l = r.i32(), t = r.i32(), rr = r.i32(), b = r.i32();
    rgn = CreateRectRgn(l, t, rr, b);
  } else if (kind % 3 == 1) {
    const int32_t l = r.i32(), t = r.i32(), rr = r.i32(), b = r.i32();
    rgn = CreateEllipticRgn(l, t, rr, b);
  } else {
    // Vertices are pairs of 16-bit values so small inputs make real shapes.
    std::vector<POINT> pts;
    while (r.n >= 4 && pts.size() < 64) {
      int16_t x, y;
      std::memcpy(&x, r.p, 2);
      std::memcpy(&y, r.p + 2, 2);
      r.p += 4;
      r.n -= 4;
      pts.push_back({x, y});
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
