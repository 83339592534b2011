#pragma once
// Points and rectangles of the scene and the drawing surfaces. A rectangle
// holds its right and bottom edges exclusively, as the platform's did, so an
// empty rectangle has Right <= Left or Bottom <= Top. Sizes are computed in
// 64 bits and saturated, so extreme coordinates from a script or a file never
// overflow.

#include <cstdint>

namespace zirk {

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  int32_t Width() const;
  int32_t Height() const;
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  // True when the point lies inside (right and bottom edges excluded).
  bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
  TPoint TopLeft() const { return {Left, Top}; }
  TPoint BottomRight() const { return {Right, Bottom}; }
  // Moves the rectangle; coordinates saturate at the int32 range.
  void Offset(int32_t dx, int32_t dy);
  friend bool operator==(const TRect&, const TRect&) = default;
};

inline TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {left, top, right, bottom};
}
// A rectangle from its top-left corner and size (saturating).
TRect Bounds(int32_t left, int32_t top, int32_t width, int32_t height);

// True when the two rectangles share an interior point; empty rectangles
// overlap nothing.
bool RectsOverlap(const TRect& a, const TRect& b);
// The common part; an empty (all-zero) rectangle when they do not overlap.
// Returns whether they overlap.
bool IntersectRect(TRect& result, const TRect& a, const TRect& b);
// The smallest rectangle holding both; an empty operand is ignored.
TRect UnionRect(const TRect& a, const TRect& b);
TRect OffsetRect(const TRect& r, int32_t dx, int32_t dy);
inline bool PtInRect(const TRect& r, TPoint p) {
  return r.Contains(p);
}

}  // namespace zirk
