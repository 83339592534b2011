#pragma once
// Where a line ends in received bytes: shared by the socket's line mode and
// the HTTP reply, so both cut lines the same way.

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace zirk {

// Length of the first line of `data`, its `lineEnd` included, searching for
// the end from `from` on (bytes before it were searched already, so a line
// end split across two reads is still found when `from` starts that many
// bytes early). 0 when no complete line is there yet.
inline size_t LineLength(std::string_view data, std::string_view lineEnd, size_t from = 0) {
  if (lineEnd.empty() || from >= data.size()) return 0;
  const size_t pos = data.find(lineEnd, from);
  return pos == std::string_view::npos ? 0 : pos + lineEnd.size();
}

}  // namespace zirk
