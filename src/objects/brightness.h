#pragma once
// Brightness adjustment of a picture that may carry a colour key. Used by
// the image object (its own copy of a picture) and by the image lists (a
// private copy per frame).
//
// The key has to follow the adjustment: the key pixel is adjusted like any
// other pixel, and the result becomes the copy's key, so transparent areas
// stay transparent. An ordinary pixel that the adjustment lands on that new
// key is moved off it by one unit of its lowest channel; otherwise darkening
// a keyed picture would punch holes into it (and full darkening would make
// it vanish instead of leaving black where it was).

#include <cstdint>

#include "surfaces/dibx.h"

namespace zirk {

// Makes target a copy of source (sized to it, at the source's bit count,
// with the source's rectangle lists) and moves every channel by offset:
// negative values subtract the grey (|offset|, |offset|, |offset|) clamped
// at 0, positive values add it saturated; 0 leaves the copy unchanged.
// The offset is limited to -255..255. The target's colour key becomes the
// adjusted source key (-1 when the source has none).
void CopyWithBrightness(TCustomDIBX& target, const TCustomDIBX& source, int32_t offset);

}  // namespace zirk
