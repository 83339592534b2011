#pragma once
// The map image: a selection picture of named regions. Inside the region
// under the mouse (or chosen with the arrow keys) the hover picture replaces
// the normal one; entering and leaving a region queue PR_ONMAPIN and
// PR_ONMAPOUT, choosing one (left button, Enter or Space) sets @SelStr and
// @SelIndex and queues PR_ONSELECT, and a cancel (right click or Escape)
// closes it. The regions come from a region-map file.
//
// The pictures' frames belong to the image cache and may be shown by other
// objects at the same time, so the map image cuts the hovered region into
// working copies of the frames' masks of its own and leaves the cached
// masks as they are.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "objects/imagelist.h"
#include "objects/regionmap.h"
#include "scene/zcontrol.h"
#include "surfaces/dibx.h"

namespace zirk {

class TZirkMapImage : public TZirkControl {
 public:
  // Closing countdown values: requested, then closing on the next tick.
  static constexpr int32_t kCloseRequested = 100;
  static constexpr int32_t kClosing = 101;

  explicit TZirkMapImage(TZirkBaseList& scene);
  ~TZirkMapImage() override;

  int32_t GetKind() const override { return LT_MAPIMG; }
  const TPropTable& Properties() const override;

  void SetSource(const std::string& name);
  void SetHoverSource(const std::string& name);
  // Reads the region map; a file the project lacks leaves no regions, a
  // damaged one the regions before the damage.
  void SetMapSource(const std::string& name);

  int32_t RegionCount() const { return static_cast<int32_t>(regions_.size()); }
  const std::string& RegionName(int32_t index) const;
  int32_t Hovered() const { return hovered_; }
  void SetHovered(int32_t index);
  void SelectRegion();

  bool IsBusy() override { return selected_; }
  bool Tick() override;
  void Draw() override;
  void LButtonDown(int32_t x, int32_t y) override;
  void MouseMove(int32_t x, int32_t y) override;
  void MouseOut() override;
  void KeyRepeat(int32_t vk) override;
  bool RightClickClose() override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  // A picture with the working masks of its frames.
  struct TLayer {
    TZirkImageList List;
    std::vector<std::unique_ptr<TDIBX>> Masks;  // per frame; nullptr without a mask
    std::vector<int32_t> Applied;               // region cut into each, -1 none
  };
  // Loads a picture with a mask per frame; false when it has no frames.
  bool loadLayer(TLayer& layer, const std::string& name);
  // The current frame's working mask with the hovered region cut in: the
  // frame's own mask outside the region (`inside` false) or inside it.
  TDIBX* workingMask(TLayer& layer, bool inside);
  void drawEntry(TZirkImageData& entry, const TCustomDIBX* mask);
  void invalidateRegion(int32_t index);
  void cancel();
  TArrayString eventArgs(int32_t index) const;

  TLayer normal_, hover_;
  std::string source_, hoverSource_, mapSource_;
  int32_t alpha_ = 0;
  int32_t brightness_ = 0;
  bool autoScrap_ = false, rClickScrap_ = false, paused_ = false;
  std::string onMapIn_, onMapOut_, onSelect_, onIdle_;
  std::vector<TMapRegion> regions_;
  int32_t hovered_ = -1;
  int32_t closing_ = 0;
  bool selected_ = false;
};

void RegisterZirkMapImage();

}  // namespace zirk
