// Registry file reader: whatever the file holds, reading never fails and a
// file written from what was read reads back to the same contents.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto file = zirk::platform::RegistryFile::parse(text);
  auto written = file.serialize();
  auto again = zirk::platform::RegistryFile::parse(written);
  if (again.serialize() != written || again.keyCount() != file.keyCount()) std::abort();
  file.find("Software\\Game", "CDDrive");
  file.set("Software\\Game", "CDDrive", std::string("D:"));
  file.eraseKey("Software");
  return 0;
}
