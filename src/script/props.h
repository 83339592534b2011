#pragma once
// Property access by numbered id. Every script-visible object answers a
// getter and a setter per PR_ id; the script engine reaches them only through
// GetObjectProp / SetObjectProp, which refuse ids outside the vocabulary.

#include <cstdint>
#include <string>

#include "base/exceptions.h"
#include "base/vocab.h"
#include "script/params.h"

namespace zirk {

class EPropError : public Exception {
 public:
  using Exception::Exception;
};

// What the property dispatcher talks to. The getter writes into the caller's
// holder (converted to the holder's type); the setter reads the holder in the
// type it needs.
class TPropObject {
 public:
  virtual ~TPropObject() = default;
  virtual void GetProp(int id, TCustomParam& value) = 0;
  virtual void SetProp(int id, const TCustomParam& value) = 0;
};

// "GetPropエラー" for an id outside 0..161.
void GetObjectProp(TCustomParam& param, TPropObject& object, int id);
// "SetPropエラー" for an id outside 0..161 and for the read-only
// PR_APPEARX / PR_APPEARY.
void SetObjectProp(TPropObject& object, int id, const TCustomParam& param);

}  // namespace zirk
