#include "script/sysvars.h"

#include <cstdio>

namespace zirk {

namespace {
TZirkLogWrite& logSlot() {
  static TZirkLogWrite writer;
  return writer;
}

void writeLine(const char* format, uint32_t address, const std::string& text, int32_t n) {
  if (!logSlot()) return;
  int size = std::snprintf(nullptr, 0, format, address, text.c_str(), n);
  std::string line(static_cast<size_t>(size), '\0');
  std::snprintf(line.data(), line.size() + 1, format, address, text.c_str(), n);
  logSlot()(line);
}
}  // namespace

TSystemVariables& SystemVariables() {
  static TSystemVariables vars;
  return vars;
}

void SetZirkLogWrite(TZirkLogWrite writer) {
  logSlot() = std::move(writer);
}
bool ZirkLogBound() {
  return static_cast<bool>(logSlot());
}

void ZirkLogCommand(uint32_t address, const std::string& name, int32_t line) {
  writeLine("%.8x : %s(%d)", address, name, line);
}

void ZirkLogEvent(uint32_t address, const std::string& label, int32_t id) {
  writeLine("%.8x : <Event>%s(%d)", address, label, id);
}

}  // namespace zirk
