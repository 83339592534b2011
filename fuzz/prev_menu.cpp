// Preview-menu files read from untrusted bytes: the tag, the version digits,
// the entry count and every string length see whatever a damaged file
// holds; every entry read is looked at.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "objects/contsels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TContSelList list;
  try {
    ReadPrevMenu(list, stream, "menu\\");
  } catch (const std::exception&) {
    // Wrong tags, versions and truncated files raise; the list stays whole.
  }
  size_t total = 0;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TContSelButton& b = list.Button(i);
    for (const std::string& p : b.Pictures) total += p.size();
    total += b.Name.size() + b.Cursor.size() + b.ButtonName.size();
  }
  return total == SIZE_MAX ? 1 : 0;
}
