#include "scene/factory.h"

#include <map>

#include "base/records.h"
#include "scene/zobject.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

std::map<int32_t, TKindCreator>& registry() {
  static std::map<int32_t, TKindCreator> kinds;
  return kinds;
}

bool saveable(TZirkObject& object) {
  const std::string& name = object.GetName();
  return object.GetKind() != 0 && (name.empty() || name[0] != kHiddenNameChar);
}

}  // namespace

void RegisterKind(int32_t kind, TKindCreator creator) {
  if (creator) {
    registry()[kind] = std::move(creator);
  } else {
    registry().erase(kind);
  }
}

bool KindRegistered(int32_t kind) {
  return registry().count(kind) != 0;
}

std::unique_ptr<TZirkObject> CreateObjectOfKind(int32_t kind, TZirkBaseList& scene) {
  auto it = registry().find(kind);
  if (it == registry().end()) return nullptr;
  return it->second(scene);
}

void SaveChildren(TZirkObject& parent, TKwStream& stream) {
  std::vector<TZirkObject*> saved;
  for (int32_t i = 0; i < parent.GetChildCount(); ++i) {
    TZirkObject* child = parent.GetChild(i);
    if (saveable(*child)) saved.push_back(child);
  }
  TRecordWriter out(stream);
  out.Int(static_cast<int32_t>(saved.size()));
  for (TZirkObject* child : saved) {
    TKwMemoryStream record;
    child->SaveToStream(record);
    out.Int(child->GetKind());
    out.Int(static_cast<int32_t>(record.Size()));
    out.Bytes(record.Memory(), record.Size());
  }
}

void LoadChildren(TZirkObject& parent, TKwStream& stream, int32_t version) {
  TRecordReader in(stream, version, "saved scene");
  // Each child is at least its kind and its record length.
  int32_t count = in.Count(8);
  for (int32_t i = 0; i < count; ++i) {
    int32_t kind = in.Int();
    std::vector<uint8_t> bytes = in.Bytes(in.Int());
    TZirkObject* child = parent.Scene().CreateKind(kind, &parent, {});
    if (!child) continue;
    TKwMemoryStream record(std::move(bytes));
    try {
      child->LoadFromStream(record, version);
    } catch (...) {
      child->Scrap();
      throw;
    }
  }
}

}  // namespace zirk
