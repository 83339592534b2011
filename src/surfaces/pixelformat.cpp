#include "surfaces/pixelformat.h"

#include <string>

#include "base/exceptions.h"

namespace zirk {

TDIBPixelFormat MakeDIBPixelFormat(int rbits, int gbits, int bbits) {
  for (int bits : {rbits, gbits, bbits}) {
    if (bits < 1 || bits > 8) {
      throw Exception("Invalid pixel layout: channel of " + std::to_string(bits) + " bits");
    }
  }
  TDIBPixelFormat f;
  f.RBitCount = rbits;
  f.GBitCount = gbits;
  f.BBitCount = bbits;
  f.BShift = 0;
  f.GShift = bbits;
  f.RShift = bbits + gbits;
  return f;
}

}  // namespace zirk
