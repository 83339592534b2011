#pragma once
// Stand-ins for the device contexts and raster operations the picture code
// calls. A device context is a handle onto a pixel buffer that the caller
// owns (a drawing surface hands its rows over); nothing here knows about
// surfaces. Pixel values follow the buffer's bit count: 32 is 0x00RRGGBB,
// 24 is B, G, R bytes, 16 is 5-6-5, 15 is 5-5-5 in 16 bits, 8 and below are
// palette indices (or plain levels when the buffer has no palette).

#include <cstdint>

namespace zirk::platform {

using COLORREF = uint32_t;  // 0x00BBGGRR
using DWORD = uint32_t;

struct RECT {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct POINT {
  int32_t x = 0, y = 0;
};

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
  return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}
constexpr uint8_t GetRValue(COLORREF c) {
  return uint8_t(c);
}
constexpr uint8_t GetGValue(COLORREF c) {
  return uint8_t(c >> 8);
}
constexpr uint8_t GetBValue(COLORREF c) {
  return uint8_t(c >> 16);
}

// Raster operations, with the numbers of the platform they stand in for.
constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCPAINT = 0x00EE0086;
constexpr DWORD SRCAND = 0x008800C6;
constexpr DWORD SRCINVERT = 0x00660046;
constexpr DWORD NOTSRCCOPY = 0x00330008;
constexpr DWORD DSTINVERT = 0x00550009;
constexpr DWORD PATCOPY = 0x00F00021;
constexpr DWORD PATINVERT = 0x005A0049;
constexpr DWORD BLACKNESS = 0x00000042;
constexpr DWORD WHITENESS = 0x00FF0062;
// The "leave the destination" operation, used as MaskBlt's background.
constexpr DWORD DSTCOPY = 0x00AA0029;
constexpr DWORD MAKEROP4(DWORD fore, DWORD back) {
  return ((back << 8) & 0xFF000000u) | fore;
}

// 5- and 6-bit channels widen to 8 bits by repeating their top bits, so the
// brightest level becomes 255. The drawing surfaces use the same expansion
// for colour keys, so a key read as a colour converts back to the same
// 32-bit pixel that StretchDIBits produces.
constexpr uint8_t Expand5(uint32_t v) {
  return uint8_t((v << 3) | (v >> 2));
}
constexpr uint8_t Expand6(uint32_t v) {
  return uint8_t((v << 2) | (v >> 4));
}

// A view of rows the caller owns. Row y starts at bits + y * pitch (the
// pitch may be negative for bottom-up storage).
struct PixelBuffer {
  uint8_t* bits = nullptr;
  int32_t pitch = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitCount = 32;              // 1, 4, 8, 15, 16, 24 or 32
  const uint32_t* palette = nullptr;  // 0x00RRGGBB entries for 8 bits and below
  int32_t paletteSize = 0;

  bool empty() const { return bits == nullptr || width <= 0 || height <= 0; }
  uint8_t* row(int32_t y) const { return bits + int64_t(y) * pitch; }
};

// Raw pixel value at (x, y) of any bit count; no range check.
uint32_t ReadPixelValue(const PixelBuffer& b, int32_t x, int32_t y);
void WritePixelValue(const PixelBuffer& b, int32_t x, int32_t y, uint32_t value);
// Colour of a pixel value (palette looked up, channels widened).
COLORREF PixelValueToColor(const PixelBuffer& b, uint32_t value);
// Pixel value for a colour: nearest palette entry at 8 bits and below (the
// level itself, from the green channel, when there is no palette).
uint32_t ColorToPixelValue(const PixelBuffer& b, COLORREF color);

class DeviceContext {
 public:
  explicit DeviceContext(const PixelBuffer& target) : target_(target) {}
  const PixelBuffer& Target() const { return target_; }
  void Retarget(const PixelBuffer& target) { target_ = target; }
  COLORREF BrushColor() const { return brush_; }
  COLORREF SetBrushColor(COLORREF c) {
    COLORREF old = brush_;
    brush_ = c;
    return old;
  }

 private:
  PixelBuffer target_;
  COLORREF brush_ = 0xFFFFFF;
};
using HDC = DeviceContext*;

COLORREF SetDCBrushColor(HDC dc, COLORREF color);
COLORREF GetPixel(HDC dc, int32_t x, int32_t y);  // CLR_INVALID outside
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// Copies the source rows, converting pixel formats; a negative source or
// destination width or height mirrors. Returns the number of lines copied
// (0 on bad arguments). Only SRCCOPY and the bitwise source operations are
// supported; others copy nothing.
int32_t StretchDIBits(HDC dc, int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                      int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                      const PixelBuffer& src, DWORD rop);
bool BitBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src, int32_t xSrc,
            int32_t ySrc, DWORD rop);
bool StretchBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src,
                int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight, DWORD rop);
// Where the mask pixel is non-zero the foreground operation (low three bytes
// of rop4) applies, elsewhere the background one (MAKEROP4).
bool MaskBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, HDC src, int32_t xSrc,
             int32_t ySrc, const PixelBuffer& mask, int32_t xMask, int32_t yMask, DWORD rop4);
// Pattern operations with the context's brush colour.
bool PatBlt(HDC dest, int32_t x, int32_t y, int32_t width, int32_t height, DWORD rop);

}  // namespace zirk::platform
