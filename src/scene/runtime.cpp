#include "scene/runtime.h"

#include <memory>

#include "base/utils.h"
#include "scene/cabinet.h"
#include "scene/factory.h"
#include "script/imagecache.h"

namespace zirk {

namespace {
struct TRuntime {
  std::unique_ptr<TZirkBaseList> screenList;
  std::unique_ptr<TImageCacheServices> imageCache;
  std::unique_ptr<TClipManager> clipManager;
};
TRuntime gRuntime;
bool gInitialized = false;
std::function<void()> gCreateText, gFreeText;
}  // namespace

void SetTextRuntimeHooks(std::function<void()> create, std::function<void()> free) {
  gCreateText = std::move(create);
  gFreeText = std::move(free);
}

void ZirkInitialize(int32_t width, int32_t height) {
  if (gInitialized) throw EZirkObjectError("the scene runtime is already initialised");
  RegisterKind(LT_CABINET,
               [](TZirkBaseList& scene) { return std::make_unique<TZirkCabinet>(scene); });
  TraceHook("TZirkBaseList.Create", true);
  gRuntime.screenList = std::make_unique<TZirkBaseList>(width, height);
  if (gCreateText) gCreateText();
  TraceHook("TDorvCollection.Create", true);
  if (const TImageCacheFactory& factory = ImageCacheFactory()) {
    gRuntime.imageCache = factory();
    SetImageCache(gRuntime.imageCache.get());
  }
  TraceHook("TClipManager.Create", true);
  gRuntime.clipManager = std::make_unique<TClipManager>();
  SetClipManager(gRuntime.clipManager.get());
  gInitialized = true;
}

void ZirkFinalize() {
  if (!gInitialized) return;
  TraceHook("TZirkBaseList.Free", true);
  gRuntime.screenList.reset();
  if (gFreeText) gFreeText();
  TraceHook("TDorvCollection.Free", true);
  SetImageCache(nullptr);
  gRuntime.imageCache.reset();
  TraceHook("TClipManager.Free", true);
  SetClipManager(nullptr);
  gRuntime.clipManager.reset();
  gInitialized = false;
}

bool ZirkInitialized() {
  return gInitialized;
}

TZirkBaseList* ScreenList() {
  return gRuntime.screenList.get();
}

TGameTime& GameTime() {
  static TGameTime time;
  return time;
}

TPrevMenuSelection& LastPrevMenuSelection() {
  static TPrevMenuSelection selection;
  return selection;
}

}  // namespace zirk
