#pragma once
// One description of a drawing operation and the kernels that carry it out.
// Every drawing operation of the surfaces fills a TBlitDesc and hands it to
// RunBlit: the shape says how destination pixels find their source pixel
// (one to one with flips, stretched, tiled, rotated, or a plain fill) and
// the operation what is done with it (copy, opacity blend, additive draw,
// additive table draw, fills). The arithmetic is pixelmath.h's.

#include <cstdint>

#include "base/geometry.h"
#include "platform/gdi.h"

namespace zirk {

enum class TBlitShape : uint8_t { Direct, Stretch, Tile, RotateZoom, Fill };
enum class TBlitOp : uint8_t {
  Copy,      // source pixel replaces the destination
  Blend,     // opacity blend with level 0..255
  Add,       // additive with level 0..255
  AddTable,  // 8-bit source indexes a table of destination pixels, added at level
  FillAdd,   // Fill only: saturating add of value
  FillSub,   // Fill only: clamped subtract of value
};

struct TBlitDesc {
  TBlitShape Shape = TBlitShape::Direct;
  TBlitOp Op = TBlitOp::Copy;
  platform::PixelBuffer Source;  // unused by fills
  // 8-bit, in source coordinates; empty = none. A Fill reads it as the
  // coverage of the area from Dest's corner on (Copy and Blend only): each
  // level scales the opacity, and the area ends where the mask does.
  platform::PixelBuffer Mask;
  // Source pixels equal to the key are skipped (table draws: values at or
  // below it); -1 = none. A mask replaces the key.
  int64_t Key = -1;
  int32_t Level = 255;
  bool FlipH = false, FlipV = false;
  TRect SourceRect;
  // Direct: the top-left corner of the copy; Stretch: the target rectangle;
  // Tile and Fill: the area covered; RotateZoom: the top-left is where the
  // anchor pixel lands.
  TRect Dest;
  // Tile: where the pattern starts (destination coordinates) and the
  // spacing of the copies in source pixels (at least the source size).
  int64_t OriginX = 0, OriginY = 0;
  int32_t StepX = 0, StepY = 0;
  int32_t ZoomX = 256, ZoomY = 256;  // Tile and RotateZoom
  // RotateZoom: anchor pixel inside the source rectangle as drawn (after
  // the flips), and the angle in 1/256 turns.
  int32_t AnchorX = 0, AnchorY = 0, Angle = 0;
  const uint32_t* Table = nullptr;  // AddTable: 256 destination pixel values
  uint32_t Value = 0;               // Fill: the pixel value

  // Destination pixels the operation may touch.
  TRect Bounds() const;
  // Moves everything the operation draws by (dx, dy).
  void Translate(int32_t dx, int32_t dy);
};

// Runs the operation on dst, touching only pixels inside clip (which the
// caller has already limited to dst). Returns false when the description
// cannot draw (bad sizes, formats or zooms) or nothing falls inside clip.
bool RunBlit(const platform::PixelBuffer& dst, const TRect& clip, const TBlitDesc& desc);

}  // namespace zirk
