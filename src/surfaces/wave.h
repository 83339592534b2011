#pragma once
// TDIBXWave: a drawing surface without pixels of its own that forwards
// every drawing operation to a target surface, shifting each destination
// line sideways by its entry in the offset array. Line y of the target uses
// entry y - TopOrigin; lines outside the array are not shifted. Blending
// reads the real target pixels, because the forwarded operation runs on the
// target one line at a time.

#include <cstdint>
#include <vector>

#include "surfaces/dibx.h"

namespace zirk {

class TDIBXWave : public TCustomDIBX {
 public:
  TDIBXWave();

  TCustomDIBX* Target = nullptr;  // not owned
  std::vector<int32_t> Offsets;   // one per line, sized by SetSize
  int32_t LeftOrigin = 0;
  int32_t TopOrigin = 0;  // the target line drawn with entry 0

  // Sizes the offset array (one entry per line, all 0); the bit count is
  // ignored.
  void SetSize(int32_t width, int32_t height, int32_t bitCount) override;
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  int32_t BitCount() const override { return Target ? Target->BitCount() : 32; }
  int32_t StorageBitCount() const override { return Target ? Target->StorageBitCount() : 32; }
  int32_t ColorToPixel(int32_t color) const override;
  // The clip is in the target's coordinates and is not clamped to this
  // surface's size (the wave object sets it to the screen's bounds).
  void SetClipRect(const TRect& r) override {
    clip_ = r;
    clipSet_ = true;
  }

  int32_t OffsetAt(int32_t targetY) const;
  bool ExecuteClipped(const TBlitDesc& desc, const TRect& clip) override;
  // The lines the target can draw, widened by the largest shifts either way.
  TRect ReachingRect(const TRect& clip) const override;

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
};

}  // namespace zirk
