#include "base/vocab.h"

#include <array>
#include <cstring>

namespace zirk {

namespace {

struct VocabEntry {
  const char* name;
  int32_t value;
};

#define ZIRK_VOCAB_ENTRY(name, value, origin) {#name, value},
constexpr VocabEntry kProperties[] = {ZIRK_PROPERTY_IDS(ZIRK_VOCAB_ENTRY)};
constexpr VocabEntry kKinds[] = {ZIRK_OBJECT_KINDS(ZIRK_VOCAB_ENTRY)};
#undef ZIRK_VOCAB_ENTRY

template <size_t N>
constexpr bool uniqueInRange(const VocabEntry (&table)[N], int32_t count) {
  std::array<bool, 256> seen{};
  for (const VocabEntry& e : table) {
    if (e.value < 0 || e.value >= count || seen[static_cast<size_t>(e.value)]) return false;
    seen[static_cast<size_t>(e.value)] = true;
  }
  return true;
}

static_assert(uniqueInRange(kProperties, kPropertyCount), "property ids clash or leave 0..161");
static_assert(uniqueInRange(kKinds, kObjectKindCount), "object kinds clash or leave 0..27");

template <size_t N>
const char* nameOf(const VocabEntry (&table)[N], int32_t value) {
  for (const VocabEntry& e : table)
    if (e.value == value) return e.name;
  return "";
}

}  // namespace

const char* PropertyName(int32_t id) {
  return nameOf(kProperties, id);
}
const char* ObjectKindName(int32_t kind) {
  return nameOf(kKinds, kind);
}

int32_t PropertyIdOf(const char* name) {
  for (const VocabEntry& e : kProperties)
    if (std::strcmp(e.name, name) == 0) return e.value;
  return -1;
}

}  // namespace zirk
