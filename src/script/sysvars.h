#pragma once
// The script system variables that scene objects write, and the command log
// hook. The script engine reads the variables; list boxes, menus and preview
// menus write the selection.

#include <cstdint>
#include <functional>
#include <string>

namespace zirk {

struct TSystemVariables {
  std::string SelStr;     // @SelStr: text of the last selection
  int32_t SelIndex = -1;  // @SelIndex: its index, -1 after a dismissal
  bool CGDither = false;  // @CGDither, mirrored into the image cache
};

// The program-wide variables of the script engine.
TSystemVariables& SystemVariables();

// The debug-log line writer; empty unless a log library is bound.
using TZirkLogWrite = std::function<void(const std::string& line)>;
void SetZirkLogWrite(TZirkLogWrite writer);
bool ZirkLogBound();
// "%.8x : %s(%d)" for an executed command, "%.8x : <Event>%s(%d)" for a
// queued event; nothing is formatted when no writer is bound.
void ZirkLogCommand(uint32_t address, const std::string& name, int32_t line);
void ZirkLogEvent(uint32_t address, const std::string& label, int32_t id);

}  // namespace zirk
