#include "script/props.h"

#include "base/vocab.h"

namespace zirk {

void GetObjectProp(TCustomParam& param, TPropObject& object, int id) {
  if (id < 0 || id >= kPropertyCount) throw EPropError("GetPropエラー");
  object.GetProp(id, param);
}

void SetObjectProp(TPropObject& object, int id, const TCustomParam& param) {
  if (id < 0 || id >= kPropertyCount || id == PR_APPEARX || id == PR_APPEARY) {
    throw EPropError("SetPropエラー");
  }
  object.SetProp(id, param);
}

}  // namespace zirk
