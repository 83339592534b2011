#include "scene/proptable.h"

namespace zirk {

TPropTable::TPropTable(std::initializer_list<TEntry> entries) {
  declare(entries);
}

TPropTable::TPropTable(const TPropTable& base, std::initializer_list<TEntry> entries)
    : get_(base.get_), set_(base.set_) {
  declare(entries);
}

void TPropTable::declare(std::initializer_list<TEntry> entries) {
  std::array<bool, kPropertyCount> seen{};
  for (const TEntry& e : entries) {
    if (!inRange(e.Id)) throw std::logic_error("property id outside the vocabulary");
    const auto i = static_cast<size_t>(e.Id);
    if (seen[i]) throw std::logic_error("property " + std::to_string(e.Id) + " declared twice");
    seen[i] = true;
    if (e.Get) get_[i] = e.Get;
    if (e.Set) set_[i] = e.Set;
  }
}

void TPropTable::Get(TPropObject& object, int id, TCustomParam& value) const {
  if (Readable(id))
    get_[static_cast<size_t>(id)](object, value);
  else
    value.Clear();
}

void TPropTable::Set(TPropObject& object, int id, const TCustomParam& value) const {
  if (Writable(id)) set_[static_cast<size_t>(id)](object, value);
}

void PropChangeBefore(TZirkObject& object, TPropChange change) {
  switch (change) {
    case TPropChange::RedrawAround:
    case TPropChange::Relayout:
      object.Invalidate();
      return;
    case TPropChange::Move:
      object.InvalidateTree();
      return;
    case TPropChange::Store:
    case TPropChange::Redraw:
      return;
  }
}

void PropChangeAfter(TZirkObject& object, TPropChange change) {
  switch (change) {
    case TPropChange::Redraw:
    case TPropChange::RedrawAround:
      object.Invalidate();
      return;
    case TPropChange::Move:
      object.InvalidateTree();
      return;
    case TPropChange::Relayout:
      object.LayoutChanged();
      return;
    case TPropChange::Store:
      return;
  }
}

}  // namespace zirk
