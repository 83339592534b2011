#pragma once
// The single-picture image object. Film image tracks create and drive it:
// either the track lends it a cached frame every frame (ApplyTrackFrame),
// or its own PR_SOURCE names a picture whose first frame is copied into
// the object's own surface, darkened by PR_BRIGHTNESS. Scripts reach it by
// name through the property operations; it has no kind of its own.
//
// The copy takes the picture's colour key and mask along, so transparent
// areas stay transparent; the cache item is released right after the copy.

#include <string>

#include "objects/customimage.h"

namespace zirk {

// What an image track hands over for one applied film frame.
struct TImageTrackFrame {
  TZirkObject* Parent = nullptr;  // nullptr: keep the parent
  TCustomDIBX* Surface = nullptr;
  TCustomDIBX* Mask = nullptr;
  int32_t TransparentColor = -1;
  int32_t Priority = 0;
  bool FlipH = false, FlipV = false;
  int32_t ZoomX = 256, ZoomY = 256;
  int32_t OffsetX = 0, OffsetY = 0;
  int32_t Left = 0, Top = 0;
  int32_t Angle = 0;
  int32_t Alpha = 255;
  TRect Clip;
};

class TZirkImage : public TZirkCustomImage {
 public:
  explicit TZirkImage(TZirkBaseList& scene);
  ~TZirkImage() override;

  const TPropTable& Properties() const override;

  const std::string& Source() const { return source_; }
  int32_t Brightness() const { return brightness_; }

  // Shows a frame lent by a track; each property changes (and redraws)
  // only when its value differs, so a still frame costs no redraw.
  void ApplyTrackFrame(const TImageTrackFrame& frame);

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
