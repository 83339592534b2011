#include "scene/builtins.h"

#include "scene/capabilities.h"
#include "scene/runtime.h"
#include "script/imagecache.h"
#include "script/sysvars.h"

namespace zirk {

namespace {
TZirkObject* findObject(const std::string& name) {
  TZirkBaseList* scene = ScreenList();
  return scene ? scene->FindComponentByName(name) : nullptr;
}
}  // namespace

bool GetRowChecked(const std::string& objectName, int32_t row) {
  IRowChecks* list = As<IRowChecks>(findObject(objectName));
  return list && list->GetRowChecked(row);
}

void SetRowChecked(const std::string& objectName, int32_t row, bool checked) {
  if (IRowChecks* list = As<IRowChecks>(findObject(objectName))) list->SetRowChecked(row, checked);
}

void SetImageCacheMode(bool dither) {
  SystemVariables().CGDither = dither;
  if (TImageCacheServices* cache = ImageCache()) cache->SetCGDither(dither);
  if (TZirkBaseList* scene = ScreenList()) scene->RedrawAll();
}

void PurgeWrittenImage(const std::string& fileName) {
  if (TImageCacheServices* cache = ImageCache()) cache->Purge(fileName);
}

}  // namespace zirk
