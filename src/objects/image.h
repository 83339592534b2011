#pragma once
// The single-picture image object. Film image tracks create and drive it:
// either the track lends it a cached frame every frame (ApplyPictureState),
// or its own PR_SOURCE names a picture whose first frame is copied into
// the object's own surface, darkened by PR_BRIGHTNESS. Scripts reach it by
// name through the property operations; it has no kind of its own.
//
// The copy takes the picture's colour key and mask along, so transparent
// areas stay transparent; the cache item is released right after the copy.

#include <string>

#include "objects/customimage.h"

namespace zirk {

class TZirkImage : public TZirkCustomImage {
 public:
  explicit TZirkImage(TZirkBaseList& scene);
  ~TZirkImage() override;

  const TPropTable& Properties() const override;

  const std::string& Source() const { return source_; }
  int32_t Brightness() const { return brightness_; }

  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  // Copies the source's first frame into the own surface and mask.
  void loadSource();

  std::string source_;
  int32_t brightness_ = 255;
};

}  // namespace zirk
