#include "platform/gdi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace zirk::platform {

namespace {

bool validBitCount(int32_t bc) {
  return bc == 1 || bc == 4 || bc == 8 || bc == 15 || bc == 16 || bc == 24 || bc == 32;
}

bool usable(const PixelBuffer& b) {
  return !b.empty() && validBitCount(b.bitCount);
}

uint32_t valueMask(int32_t bc) {
  switch (bc) {
    case 1:
      return 0x1;
    case 4:
      return 0xF;
    case 8:
      return 0xFF;
    case 15:
      return 0x7FFF;
    case 16:
      return 0xFFFF;
    default:
      return 0xFFFFFF;
  }
}

// A ternary raster operation evaluated bit-wise: bit i of the code is the
// result for pattern bit (i & 4), source bit (i & 2), destination bit (i & 1).
uint32_t applyRop3(uint8_t code, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (code & (1u << i)) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  }
  return r;
}

uint8_t ropCode(DWORD rop) {
  return uint8_t(rop >> 16);
}
bool ropUsesSource(uint8_t code) {
  return (((code >> 2) ^ code) & 0x33) != 0;
}

bool samePalette(const PixelBuffer& a, const PixelBuffer& b) {
  if (a.bitCount > 8) return true;
  if (a.palette == b.palette) return a.paletteSize == b.paletteSize;
  if (a.palette == nullptr || b.palette == nullptr || a.paletteSize != b.paletteSize) return false;
  return std::memcmp(a.palette, b.palette, sizeof(uint32_t) * size_t(a.paletteSize)) == 0;
}

// Source column (or row) for destination index i of n when n destination
// pixels sample m source pixels: the source pixel under the centre of the
// destination pixel.
int32_t sampleIndex(int64_t i, int64_t n, int64_t m) {
  return int32_t(((2 * i + 1) * m) / (2 * n));
}

struct RasterJob {
  const PixelBuffer* dst = nullptr;
  int32_t x = 0, y = 0, w = 0, h = 0;  // destination, may be negative (mirror)
  const PixelBuffer* src = nullptr;
  int32_t xs = 0, ys = 0, ws = 0, hs = 0;
  const PixelBuffer* mask = nullptr;
  int32_t xm = 0, ym = 0;
  DWORD fore = SRCCOPY, back = SRCCOPY;
  COLORREF brush = 0;
};

void normalize(int32_t& pos, int32_t& len, bool& mirror) {
  if (len < 0) {
    pos += len;
    len = -len;
    mirror = !mirror;
  }
}

bool rasterize(RasterJob job) {
  const PixelBuffer& dst = *job.dst;
  if (!usable(dst) || job.w == 0 || job.h == 0) return false;
  bool mirrorX = false, mirrorY = false;
  normalize(job.x, job.w, mirrorX);
  normalize(job.y, job.h, mirrorY);
  const uint8_t foreCode = ropCode(job.fore), backCode = ropCode(job.back);
  const bool needSrc = ropUsesSource(foreCode) || (job.mask && ropUsesSource(backCode));
  if (needSrc) {
    if (job.src == nullptr || !usable(*job.src) || job.ws == 0 || job.hs == 0) return false;
    normalize(job.xs, job.ws, mirrorX);
    normalize(job.ys, job.hs, mirrorY);
  }
  if (job.mask && !usable(*job.mask)) return false;
  const uint32_t vmask = valueMask(dst.bitCount);
  const uint32_t pattern = ColorToPixelValue(dst, job.brush);
  const bool raw = needSrc && job.src->bitCount == dst.bitCount && samePalette(*job.src, dst);
  // Palette sources convert through a table made once per call (a nearest
  // palette search per pixel would be slow for paletted destinations).
  std::vector<uint32_t> lut;
  if (needSrc && !raw && job.src->bitCount <= 8) {
    lut.resize(size_t(valueMask(job.src->bitCount)) + 1);
    for (size_t v = 0; v < lut.size(); ++v) {
      lut[v] = ColorToPixelValue(dst, PixelValueToColor(*job.src, uint32_t(v)));
    }
  }
  const int32_t x0 = std::max(job.x, 0), x1 = std::min<int64_t>(int64_t(job.x) + job.w, dst.width);
  const int32_t y0 = std::max(job.y, 0), y1 = std::min<int64_t>(int64_t(job.y) + job.h, dst.height);
  for (int32_t dy = y0; dy < y1; ++dy) {
    int32_t sy = 0;
    if (needSrc) {
      int32_t i = dy - job.y;
      if (mirrorY) i = job.h - 1 - i;
      sy = job.ys + sampleIndex(i, job.h, job.hs);
      if (sy < 0 || sy >= job.src->height) continue;
    }
    const int32_t my = job.ym + (dy - job.y);
    for (int32_t dx = x0; dx < x1; ++dx) {
      uint8_t code = foreCode;
      if (job.mask) {
        const int32_t mx = job.xm + (dx - job.x);
        const bool inside = mx >= 0 && my >= 0 && mx < job.mask->width && my < job.mask->height;
        if (!inside || ReadPixelValue(*job.mask, mx, my) == 0) code = backCode;
      }
      uint32_t s = 0;
      if (ropUsesSource(code)) {
        int32_t i = dx - job.x;
        if (mirrorX) i = job.w - 1 - i;
        const int32_t sx = job.xs + sampleIndex(i, job.w, job.ws);
        if (sx < 0 || sx >= job.src->width) continue;
        s = ReadPixelValue(*job.src, sx, sy);
        if (!lut.empty()) {
          s = lut[s];
        } else if (!raw) {
          s = ColorToPixelValue(dst, PixelValueToColor(*job.src, s));
        }
      }
      const uint32_t d = ReadPixelValue(dst, dx, dy);
      WritePixelValue(dst, dx, dy, applyRop3(code, pattern, s, d) & vmask);
    }
  }
  return true;
}

}  // namespace

uint32_t ReadPixelValue(const PixelBuffer& b, int32_t x, int32_t y) {
  const uint8_t* row = b.row(y);
  switch (b.bitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (x & 1) ? (row[x >> 1] & 0xFu) : (row[x >> 1] >> 4);
    case 8:
      return row[x];
    case 15:
    case 16: {
      uint16_t v;
      std::memcpy(&v, row + 2 * x, 2);
      return v;
    }
    case 24: {
      const uint8_t* p = row + 3 * x;
      return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    }
    default: {
      uint32_t v;
      std::memcpy(&v, row + 4 * x, 4);
      return v;
    }
  }
}

void WritePixelValue(const PixelBuffer& b, int32_t x, int32_t y, uint32_t value) {
  uint8_t* row = b.row(y);
  switch (b.bitCount) {
    case 1: {
      const uint8_t bit = uint8_t(0x80u >> (x & 7));
      row[x >> 3] = (value & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
      break;
    }
    case 4: {
      uint8_t& p = row[x >> 1];
      p = (x & 1) ? uint8_t((p & 0xF0) | (value & 0xF))
                  : uint8_t((p & 0x0F) | ((value & 0xF) << 4));
      break;
    }
    case 8:
      row[x] = uint8_t(value);
      break;
    case 15:
    case 16: {
      const uint16_t v = uint16_t(value);
      std::memcpy(row + 2 * x, &v, 2);
      break;
    }
    case 24: {
      uint8_t* p = row + 3 * x;
      p[0] = uint8_t(value);
      p[1] = uint8_t(value >> 8);
      p[2] = uint8_t(value >> 16);
      break;
    }
    default:
      std::memcpy(row + 4 * x, &value, 4);
      break;
  }
}

COLORREF PixelValueToColor(const PixelBuffer& b, uint32_t v) {
  switch (b.bitCount) {
    case 15:
      return RGB(Expand5((v >> 10) & 31), Expand5((v >> 5) & 31), Expand5(v & 31));
    case 16:
      return RGB(Expand5((v >> 11) & 31), Expand6((v >> 5) & 63), Expand5(v & 31));
    case 24:
    case 32:
      return RGB(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
    default: {
      if (b.palette != nullptr && int64_t(v) < b.paletteSize) {
        const uint32_t e = b.palette[v];
        return RGB(uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e));
      }
      const uint32_t top = valueMask(b.bitCount);
      const uint8_t level = uint8_t(std::min(v, top) * 255 / top);
      return RGB(level, level, level);
    }
  }
}

uint32_t ColorToPixelValue(const PixelBuffer& b, COLORREF c) {
  const uint32_t r = GetRValue(c), g = GetGValue(c), bl = GetBValue(c);
  switch (b.bitCount) {
    case 15:
      return ((r >> 3) << 10) | ((g >> 3) << 5) | (bl >> 3);
    case 16:
      return ((r >> 3) << 11) | ((g >> 2) << 5) | (bl >> 3);
    case 24:
    case 32:
      return (r << 16) | (g << 8) | bl;
    default: {
      const uint32_t top = valueMask(b.bitCount);
      if (b.palette == nullptr || b.paletteSize <= 0) return (g * top + 127) / 255;
      uint32_t best = 0;
      int64_t bestDist = INT64_MAX;
      const int32_t n = std::min<int32_t>(b.paletteSize, int32_t(top) + 1);
      for (int32_t i = 0; i < n; ++i) {
        const uint32_t e = b.palette[i];
        const int64_t dr = int64_t((e >> 16) & 0xFF) - r, dg = int64_t((e >> 8) & 0xFF) - g,
                      db = int64_t(e & 0xFF) - bl;
        const int64_t dist = dr * dr + dg * dg + db * db;
        if (dist < bestDist) {
          bestDist = dist;
          best = uint32_t(i);
        }
      }
      return best;
    }
  }
}

COLORREF SetDCBrushColor(HDC dc, COLORREF color) {
  return dc ? dc->SetBrushColor(color) : CLR_INVALID;
}

COLORREF GetPixel(HDC dc, int32_t x, int32_t y) {
  if (dc == nullptr) return CLR_INVALID;
  const PixelBuffer& b = dc->Target();
  if (!usable(b) || x < 0 || y < 0 || x >= b.width || y >= b.height) return CLR_INVALID;
  return PixelValueToColor(b, ReadPixelValue(b, x, y));
}

int32_t StretchDIBits(HDC dc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                      int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                      const PixelBuffer& src, DWORD rop) {
  if (dc == nullptr) return 0;
  RasterJob job;
  job.dst = &dc->Target();
  job.x = xDest, job.y = yDest, job.w = destWidth, job.h = destHeight;
  job.src = &src;
  job.xs = xSrc, job.ys = ySrc, job.ws = srcWidth, job.hs = srcHeight;
  job.fore = job.back = rop;
  job.brush = dc->BrushColor();
  return rasterize(job) ? std::abs(srcHeight) : 0;
}

bool BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src, int32_t xSrc,
            int32_t ySrc, DWORD rop) {
  return StretchBlt(dest, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

bool StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src,
                int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, DWORD rop) {
  if (dest == nullptr) return false;
  RasterJob job;
  job.dst = &dest->Target();
  job.x = x, job.y = y, job.w = width, job.h = height;
  job.src = src ? &src->Target() : nullptr;
  job.xs = xSrc, job.ys = ySrc, job.ws = srcWidth, job.hs = srcHeight;
  job.fore = job.back = rop;
  job.brush = dest->BrushColor();
  return rasterize(job);
}

bool MaskBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src, int32_t xSrc,
             int32_t ySrc, const PixelBuffer& mask, int32_t xMask, int32_t yMask, DWORD rop4) {
  if (dest == nullptr || width < 0 || height < 0) return false;
  RasterJob job;
  job.dst = &dest->Target();
  job.x = x, job.y = y, job.w = width, job.h = height;
  job.src = src ? &src->Target() : nullptr;
  job.xs = xSrc, job.ys = ySrc, job.ws = width, job.hs = height;
  job.mask = &mask;
  job.xm = xMask, job.ym = yMask;
  job.fore = rop4 & 0x00FFFFFFu;
  job.back = (rop4 >> 8) & 0x00FF0000u;
  job.brush = dest->BrushColor();
  return rasterize(job);
}

bool PatBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, DWORD rop) {
  if (dest == nullptr || ropUsesSource(ropCode(rop))) return false;
  RasterJob job;
  job.dst = &dest->Target();
  job.x = x, job.y = y, job.w = width, job.h = height;
  job.fore = job.back = rop;
  job.brush = dest->BrushColor();
  return rasterize(job);
}

}  // namespace zirk::platform
