#pragma once
// The frames of one cached picture as an object shows them: each frame can
// carry a brightness-adjusted private copy, and the list keeps the current
// frame and the milliseconds left on it. Multi-frame images, tiles,
// buttons, list boxes and particles hold their pictures this way.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "objects/dorvcache.h"

namespace zirk {

class TCustomDIBX;
class TZirkObject;

class TZirkImageData {
 public:
  explicit TZirkImageData(TDorvItemFrame& frame) : frame_(&frame) {}
  ~TZirkImageData();
  TZirkImageData(const TZirkImageData&) = delete;
  TZirkImageData& operator=(const TZirkImageData&) = delete;

  // The private copy while the offset is not 0, else the cached frame.
  TCustomDIBX* GetSurface() const;
  TCustomDIBX* GetMaskSurface() const;
  int32_t GetDelay() const;
  int32_t GetTransparentColor() const;
  int32_t Brightness() const { return offset_; }
  // -255..255: negative darkens, positive brightens, 0 shows the frame as
  // cached (a private copy made earlier stays for later use).
  void SetBrightness(int32_t offset);
  // One blit of the whole frame at (x, y) with the owner's opacity and
  // flips onto the owner's drawing surface.
  void Draw(TZirkObject& owner, int32_t x, int32_t y) const;
  // Fills the rectangle with copies of the frame from its top-left corner.
  void DrawTiled(TCustomDIBX& target, const TRect& dest, int32_t alpha, bool flipV,
                 bool flipH) const;
  void ReleaseSurface() { private_.reset(); }
  void RebuildSurface();

 private:
  TDorvItemFrame* frame_;
  std::unique_ptr<TCustomDIBX> private_;
  int32_t offset_ = 0;
};

class TZirkImageList {
 public:
  TZirkImageList() = default;
  ~TZirkImageList();
  TZirkImageList(const TZirkImageList&) = delete;
  TZirkImageList& operator=(const TZirkImageList&) = delete;

  // Acquires the picture (no trim) and makes one entry per frame; frame 0
  // becomes current with its full delay. A picture that cannot be acquired
  // leaves the list empty and passes the error on.
  void LoadImageFrames(const std::string& fileName, bool mask);
  // Frees the entries and hands the picture back.
  void Clear();
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // nullptr outside 0..Count-1.
  TZirkImageData* GetImageData(int32_t index) const;
  TDorvItem* Item() const { return item_.Get(); }

  int32_t Index() const { return index_; }
  int32_t Delay() const { return delay_; }
  // Selects a frame (lowered to the last one) with its full delay.
  void SetFrameIndex(int32_t index);
  // Counts the tick's milliseconds off the current frame; true when the
  // frame changed. Frames may be skipped after a long tick, but never past
  // the wrap: frame 0 always starts with its full delay.
  bool AdvanceImageFrame(uint32_t elapsedMs);

  // Around a display-mode change.
  void ReleaseImageSurfaces();
  void RebuildImageSurfaces();

 private:
  // Declared first: the entries point into the item and go before it.
  TDorvLease item_;
  std::vector<std::unique_ptr<TZirkImageData>> entries_;
  int32_t index_ = 0;
  int32_t delay_ = 0;
};

}  // namespace zirk
