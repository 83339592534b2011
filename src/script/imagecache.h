#pragma once
// The services of the shared image cache that lower layers call. The cache
// itself lives with the scene objects; start-up installs a factory, and the
// scene runtime creates the one cache with it and frees it at finalisation.

#include <functional>
#include <memory>
#include <string>

#include "base/streams.h"

namespace zirk {

class TImageCacheServices {
 public:
  virtual ~TImageCacheServices() = default;
  // Around a display-mode change.
  virtual void ReleaseSurfaces() = 0;
  virtual void RebuildSurfaces(bool recreate) = 0;
  // The @CGDither byte of the status save; Load gets the status version.
  virtual void SaveState(TKwStream& stream) = 0;
  virtual void LoadState(TKwStream& stream, int version) = 0;
  virtual void SetCGDither(bool flag) = 0;
  // Frees the parked items of a file name (after the file was rewritten).
  virtual void Purge(const std::string& fileName) = 0;
};

using TImageCacheFactory = std::function<std::unique_ptr<TImageCacheServices>()>;

// The factory the scene runtime uses at initialisation (none: no cache).
void SetImageCacheFactory(TImageCacheFactory factory);
const TImageCacheFactory& ImageCacheFactory();

// The program-wide cache, or nullptr outside ZirkInitialize / ZirkFinalize.
TImageCacheServices* ImageCache();
void SetImageCache(TImageCacheServices* cache);

}  // namespace zirk
