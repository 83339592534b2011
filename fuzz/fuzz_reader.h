#pragma once
// Takes typed values off the front of a fuzz input; past its end every value
// reads as 0, so a target never has to check how much input is left.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zirk::fuzz {

struct Reader {
  const uint8_t* p;
  size_t n;
  int32_t i32() {
    int32_t v = 0;
    if (n >= 4) {
      std::memcpy(&v, p, 4);
      p += 4;
      n -= 4;
    } else {
      n = 0;
    }
    return v;
  }
  uint8_t u8() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
};

}  // namespace zirk::fuzz
