#pragma once
// Save records of older versions: the base record a scene object of that
// version starts with, so a test can append a kind's own fields as that
// version wrote them.

#include <cstdint>
#include <string>
#include <vector>

#include "base/records.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"

namespace zirk::test {

// The record of a fresh, unnamed object: name, priority, and order and tag
// from the versions that added them.
inline void WriteObjectBase(TKwStream& stream, int32_t version) {
  TRecordWriter out(stream);
  out.Str("");
  out.Int(0);
  if (version >= 104) out.Int(0);
  if (version >= 120) out.Int(0);
}

// The same for a fresh control: the object's part, then the control's own
// fields and an empty children record, as a fresh control saves them.
inline void WriteControlBase(TKwStream& stream, int32_t version) {
  TZirkBaseList scene(8, 8);
  TKwMemoryStream current;
  scene.Create<TZirkControl>(nullptr, "")->SaveToStream(current);
  current.SetPosition(0);
  WriteObjectBase(stream, version);
  const auto& bytes = current.Bytes();
  // The control saved under the scene's own name; its object part is
  // rewritten without it.
  TRecordReader in(current, 134);
  in.Str();
  in.Int();
  in.Int();
  in.Int();
  stream.WriteBuffer(bytes.data() + current.Position(),
                     static_cast<int64_t>(bytes.size()) - current.Position());
}

// A control's record as the version wrote it: the control's part, then the
// kind's own fields as `fields(writer)` writes them.
template <class Fields>
std::vector<uint8_t> OldControlRecord(int32_t version, Fields fields) {
  TKwMemoryStream s;
  WriteControlBase(s, version);
  TRecordWriter w(s);
  fields(w);
  return s.Bytes();
}

}  // namespace zirk::test
