#pragma once
// The save-format version: written into every save and passed to every
// LoadFromStream, which reads a field only from the version that introduced
// it. Raise it here, and only here, when a record gains a field.

#include <cstdint>

namespace zirk {

inline constexpr int32_t SaveVersion = 134;

}  // namespace zirk
