#pragma once
// The tile (LT_TILE): fills its rectangle with copies of a picture that can
// scroll, be zoomed, flipped, blended, animated and spaced apart. Film tile
// tracks drive it; scripts create it by kind. It keeps the size it is
// given and always loops its animation.

#include <cstdint>
#include <string>

#include "objects/images.h"

namespace zirk {

class TZirkTile : public TZirkCustomImages {
 public:
  explicit TZirkTile(TZirkBaseList& scene);
  ~TZirkTile() override;

  int32_t GetKind() const override { return LT_TILE; }
  const TPropTable& Properties() const override;

  const std::string& Source() const { return source_; }
  void SetSource(const std::string& source);
  int32_t DistanceX() const { return distanceX_; }
  int32_t DistanceY() const { return distanceY_; }

  // The parent's origin less its scroll plus PR_LEFT / PR_TOP, unzoomed; a
  // motion places the tile by its motion position.
  TPoint GetDrawPos() override;
  TZirkImageList* GetImageList() override { return &list_; }
  bool CanAutoSize() override { return false; }
  void DrawImage() override;
  // The copies lie where the tiling puts them, spaced or scrolled: the
  // single picture's cover does not describe them.
  void CollectClipRects(TClipManager&) override {}

  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  bool repeats() override { return true; }

 private:
  // Copies of the picture's draw rectangles, each blitted on its own.
  void drawPieces(TCustomDIBX& target, TCustomDIBX& s, TCustomDIBX* mask, const TRect& r,
                  int32_t stepX, int32_t stepY);

  TZirkImageList list_;
  std::string source_;
  std::string onIdle_;
  int32_t distanceX_ = 0, distanceY_ = 0;
};

// Registers LT_TILE with the scene's kind factory.
void RegisterZirkTile();

}  // namespace zirk
