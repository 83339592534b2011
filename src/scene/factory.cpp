#include "scene/factory.h"

#include <map>

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
  WriteStreamInt(stream, static_cast<int32_t>(saved.size()));
  for (TZirkObject* child : saved) {
    TKwMemoryStream record;
    child->SaveToStream(record);
    WriteStreamInt(stream, child->GetKind());
    WriteStreamInt(stream, static_cast<int32_t>(record.Size()));
    stream.WriteBuffer(record.Memory(), record.Size());
  }
}

void LoadChildren(TZirkObject& parent, TKwStream& stream, int32_t version) {
  int32_t count = ReadStreamInt(stream);
  if (count < 0 || int64_t{count} * 8 > stream.Remaining()) {
    throw EZirkObjectError("invalid object count in saved scene");
  }
  for (int32_t i = 0; i < count; ++i) {
    int32_t kind = ReadStreamInt(stream);
    int32_t length = ReadStreamInt(stream);
    if (length < 0 || length > stream.Remaining()) {
      throw EZirkObjectError("invalid object record length in saved scene");
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    stream.ReadBuffer(bytes.data(), length);
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
