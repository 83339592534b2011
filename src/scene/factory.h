#pragma once
// The kind factory: scene objects by LT_ kind, for loading saved scenes and
// a control's children. Each object family registers its kinds at start-up.

#include <cstdint>
#include <functional>
#include <memory>

#include "base/streams.h"

namespace zirk {

class TZirkObject;
class TZirkBaseList;

using TKindCreator = std::function<std::unique_ptr<TZirkObject>(TZirkBaseList& scene)>;

// Registers (or replaces, or with an empty creator removes) a kind.
void RegisterKind(int32_t kind, TKindCreator creator);
bool KindRegistered(int32_t kind);
// A new, unattached object of the kind; nullptr for an unknown kind.
std::unique_ptr<TZirkObject> CreateObjectOfKind(int32_t kind, TZirkBaseList& scene);

// The children record of a control or screen: int32 count, then per child
// int32 kind, int32 byte length and the child's own record. Children whose
// names begin with chr(1) and objects without a kind are left out.
void SaveChildren(TZirkObject& parent, TKwStream& stream);
// Creates and loads the children under parent; a kind nobody registered is
// skipped by its length. Counts and lengths are checked against the stream.
void LoadChildren(TZirkObject& parent, TKwStream& stream, int32_t version);

}  // namespace zirk
