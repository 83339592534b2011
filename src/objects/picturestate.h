#pragma once
// What one applied film frame shows of a picture: the single value image
// and tile tracks produce, in a film and in a motion alike, and that the
// driven control takes in one call. Every value is compared with the
// control's own before it is set, so a still frame costs no redraw; the
// cached frame lent to the control is never written to (it carries its
// colour key from the cache; the control keeps the transparent colour).

#include <cstdint>

#include "base/geometry.h"

namespace zirk {

class TCustomDIBX;
class TZirkControl;
class TZirkObject;

// How the frame reaches the control: a film's own object is placed by
// PR_LEFT / PR_TOP on the screen or host the track chose; a motion's target
// by its motion offset, under the parent it has.
enum class TPictureDrive : uint8_t { Film, Motion };

// Which stacking value the track's priority sets: the priority, or the
// order within the control's priority (an image track in a motion).
enum class TPictureStacking : uint8_t { Priority, Order };

struct TPictureState {
  TPictureDrive Drive = TPictureDrive::Film;
  TZirkObject* Parent = nullptr;  // Film: the screen or host; nullptr keeps the parent
  TCustomDIBX* Surface = nullptr;
  TCustomDIBX* Mask = nullptr;
  int32_t TransparentColor = -1;  // 0x00BBGGRR, -1 none
  // The displayed size, set through PR_WIDTH / PR_HEIGHT; a film's image
  // instead shows its cell at the cell's size while unzoomed (stored with
  // no redraw of its own) and keeps the size it has when zoomed.
  int32_t Width = 0, Height = 0;
  bool SizeWhileUnzoomed = false;
  TPictureStacking Stacking = TPictureStacking::Priority;
  int32_t Priority = 0;
  bool FlipH = false, FlipV = false;
  int32_t X = 0, Y = 0;  // the position (see TPictureDrive)
  int32_t OffsetX = 0, OffsetY = 0;
  int32_t ZoomX = 256, ZoomY = 256;
  int32_t Angle = 0;
  int32_t Alpha = 255;
  // Tiles: no angle; spacing and scroll instead.
  bool Tiled = false;
  int32_t DistanceX = 0, DistanceY = 0;
  int32_t ScrollX = 0, ScrollY = 0;
  TRect Clip;  // empty: no clipping
  // Hit tests follow the picture's mask; a preview menu's entry keeps the
  // capture mask its menu file gave it.
  bool CaptureMask = true;
};

// Sets the frame on the control, in the order the values depend on each
// other (the size before the zoom, the zoom before the flips), and turns
// the mask hit test on when the state asks for it.
void ApplyPictureState(TZirkControl& target, const TPictureState& state);

}  // namespace zirk
