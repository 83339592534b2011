#pragma once
// The mask transition: a layered picture's grey levels decide which pixels
// of the new screen show first. Dark pixels of the mask turn first, white
// ones last; a mask of another size is stretched over the screen. Without a
// mask name the transition cross-fades like any other.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/streams.h"
#include "imaging/dorvs.h"
#include "surfaces/wipes.h"

namespace zirk {

// Reads a game file by name into the stream (position 0 afterwards); raises
// when the file is missing.
using TMaskLoader = std::function<void(TKwStream& target, const std::string& name)>;

class TMaskWipe : public TCrossFadeWipe {
 public:
  // identCode keys the mask file's row scrambling; without a loader the
  // program-wide virtual file system is read.
  TMaskWipe(int32_t kind, int32_t identCode, TMaskLoader loader = nullptr);

  // Loads the first frame of the picture named by SetName as grey levels.
  // A missing or unreadable mask raises; an empty name means no mask.
  void Prepare() override;
  void Compose(TCustomDIBX& dest, const TCustomDIBX& oldScreen,
               const TCustomDIBX& newScreen) override;

  bool HasMask() const { return maskWidth_ > 0 && maskHeight_ > 0; }
  // Grey level 0..255 of the mask at a mask pixel.
  uint8_t MaskLevel(int32_t x, int32_t y) const {
    return levels_[size_t(y) * size_t(maskWidth_) + size_t(x)];
  }

 private:
  int32_t identCode_;
  TMaskLoader loader_;
  std::vector<uint8_t> levels_;
  int32_t maskWidth_ = 0;
  int32_t maskHeight_ = 0;
};

// The factory the scene's screen flip is given: every effect is a mask
// transition, which cross-fades until a film names a mask. Each transition
// takes the code the source gives when it is made.
TWipeFactory MakeMaskWipeFactory(TIdentCodeSource identCode, TMaskLoader loader = nullptr);

}  // namespace zirk
