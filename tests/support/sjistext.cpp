#include "support/sjistext.h"

namespace zirk::test {

std::string KanjiText(int count) {
  std::string text;
  // Lead bytes 0xA0 to 0xDF are single-byte kana, not leads.
  for (int lead = 0x88; count > 0 && lead <= 0xEF; lead = lead == 0x9F ? 0xE0 : lead + 1)
    for (int trail = lead == 0x88 ? 0x9F : 0x40; trail <= 0xFC && count > 0; ++trail) {
      if (trail == 0x7F) continue;
      text += char(lead);
      text += char(trail);
      --count;
    }
  return text;
}

}  // namespace zirk::test
