#pragma once
// Region stand-ins: a region is a set of pixels held as spans per row, made
// from a rectangle, an ellipse or a polygon, hit-tested, painted onto a
// device context and measured. Handles own their region; DeleteObject frees
// it early.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gdi.h"

namespace zirk::platform {

class Region {
 public:
  struct Span {
    int32_t left, right;  // [left, right)
  };

  // Rows from Top(); each row's spans are sorted and disjoint.
  int32_t Top() const { return top_; }
  const std::vector<std::vector<Span>>& Rows() const { return rows_; }
  bool Contains(int32_t x, int32_t y) const;
  RECT Box() const;
  bool IsEmpty() const;
  bool IsRectangle() const;

  // Builds a region from spans per row, merging overlaps.
  static std::unique_ptr<Region> FromRows(int32_t top, std::vector<std::vector<Span>> rows);

 private:
  int32_t top_ = 0;
  std::vector<std::vector<Span>> rows_;
};

using HRGN = std::unique_ptr<Region>;

// Polygon fill modes.
constexpr int32_t ALTERNATE = 1;
constexpr int32_t WINDING = 2;

// GetRgnBox results.
constexpr int32_t RGN_ERROR = 0;
constexpr int32_t NULLREGION = 1;
constexpr int32_t SIMPLEREGION = 2;
constexpr int32_t COMPLEXREGION = 3;

// The rectangle excludes its right and bottom edges; reversed corners are swapped.
HRGN CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom);
// The ellipse inscribed in the rectangle: pixels whose centre lies inside.
HRGN CreateEllipticRgn(int32_t left, int32_t top, int32_t right, int32_t bottom);
// Pixels whose centre lies inside the closed polygon under the fill mode.
// A count below 3 or a null array gives an empty region.
HRGN CreatePolygonRgn(const POINT* points, int32_t count, int32_t fillMode);

bool PtInRegion(const HRGN& rgn, int32_t x, int32_t y);
// Fills the region's pixels inside the context's buffer with its brush colour.
bool PaintRgn(HDC dc, const HRGN& rgn);
int32_t GetRgnBox(const HRGN& rgn, RECT* box);
bool DeleteObject(HRGN& rgn);

}  // namespace zirk::platform
