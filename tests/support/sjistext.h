#pragma once
// Shift-JIS text for tests and benchmarks that need many characters.

#include <string>

namespace zirk::test {

// `count` different double-byte characters of Shift-JIS, in code order from
// the first kanji of JIS level 1 (level 2 follows past about 3,000).
std::string KanjiText(int count);

}  // namespace zirk::test
