#pragma once
// Preview-menu files: a menu's size and its entries, each with a position,
// the pictures (or motions) of its states, a companion picture shown beside
// it, a name and a cursor. Little-endian; strings are an int32 length and
// that many bytes; picture names are made relative to the menu file's
// folder as they are read. The game has no writer for them.
//
//   "ZirkPrevMenu" + 3 version digits (100..103); int32 width, height;
//   int32 entry count; per entry: int32 x, y; normal picture; byte capture
//   mask; name (not resolved); hover, leave, click pictures; disabled
//   picture (from 101); disabled hover and leave pictures (from 103); hover,
//   leave and click companions; disabled hover and leave companions (from
//   102); int32 companion x, y; cursor.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/streams.h"

namespace zirk {

// A file of another format or version; its message is the one the player
// shows.
class EPrevMenuError : public Exception {
 public:
  using Exception::Exception;
};

// The picture slots of an entry, in the order the menu keeps them.
enum TPrevMenuSlot : int32_t {
  psNormal,
  psHover,
  psLeave,
  psClick,
  psDisabled,
  psDisabledHover,
  psDisabledLeave,
  psHoverCompanion,
  psLeaveCompanion,
  psClickCompanion,
  psDisabledHoverCompanion,
  psDisabledLeaveCompanion,
  kPrevMenuSlots
};

class TContSelList;

class TContSelButton {
 public:
  TContSelButton(TContSelList& list, std::string buttonName)
      : ButtonName(std::move(buttonName)), list_(&list) {}
  TContSelList& List() const { return *list_; }

  std::string ButtonName;  // "Button%.2d" by the number of buttons before it
  int32_t X = 0, Y = 0;
  std::array<std::string, kPrevMenuSlots> Pictures;
  uint8_t CaptureMask = 0;
  std::string Name;
  int32_t CompanionX = 0, CompanionY = 0;
  std::string Cursor;

 private:
  TContSelList* list_;
};

class TContSelList {
 public:
  int32_t Width = 0, Height = 0;
  int32_t Count() const { return static_cast<int32_t>(buttons_.size()); }
  TContSelButton& Button(int32_t index) { return *buttons_.at(static_cast<size_t>(index)); }
  TContSelButton& Add();
  void Clear();

 private:
  std::vector<std::unique_ptr<TContSelButton>> buttons_;
};

// The oldest and newest versions read.
inline constexpr int32_t kPrevMenuFirstVersion = 100;
inline constexpr int32_t kPrevMenuVersion = 103;

// Reads a menu file; picture names are resolved against `folder`. A wrong
// tag or version raises EPrevMenuError, a truncated file or a count or
// length beyond its bytes EFormatError; the list then holds the entries
// read whole before the fault.
void ReadPrevMenu(TContSelList& list, TKwStream& stream, const std::string& folder);

}  // namespace zirk
