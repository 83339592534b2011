#include "script/imagecache.h"

namespace zirk {

namespace {
TImageCacheFactory& factorySlot() {
  static TImageCacheFactory factory;
  return factory;
}
TImageCacheServices* gImageCache = nullptr;
}  // namespace

void SetImageCacheFactory(TImageCacheFactory factory) {
  factorySlot() = std::move(factory);
}
const TImageCacheFactory& ImageCacheFactory() {
  return factorySlot();
}
TImageCacheServices* ImageCache() {
  return gImageCache;
}
void SetImageCache(TImageCacheServices* cache) {
  gImageCache = cache;
}

}  // namespace zirk
