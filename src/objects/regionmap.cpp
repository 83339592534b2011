#include "objects/regionmap.h"

#include <algorithm>

#include "base/records.h"

namespace zirk {

namespace {

// Rows a shape from top to bottom (inclusive) asks for, as the region
// functions clamp them.
int64_t rowsOf(int64_t top, int64_t bottom) {
  constexpr int64_t kLimit = 32767;
  top = std::clamp<int64_t>(top, -kLimit, kLimit);
  bottom = std::clamp<int64_t>(bottom, -kLimit, kLimit);
  return std::max<int64_t>(top, bottom) - std::min<int64_t>(top, bottom) + 1;
}

class TRegionMapReader : public TRecordReader {
 public:
  TRegionMapReader(TKwStream& stream, int64_t budget)
      : TRecordReader(stream, 0, "region map"), budget_(budget) {}

  TMapRegion Region() {
    TMapRegion r;
    r.Name = Str();
    const uint8_t shape = Byte();
    if (shape == 0 || shape == 1) {
      const int32_t left = Int(), top = Int(), right = Int(), bottom = Int();
      charge(rowsOf(top, bottom));
      // Inclusive corners: the region functions exclude the far edges.
      const int32_t r1 = right == INT32_MAX ? right : right + 1;
      const int32_t b1 = bottom == INT32_MAX ? bottom : bottom + 1;
      r.Region = shape == 0 ? platform::CreateRectRgn(left, top, r1, b1)
                            : platform::CreateEllipticRgn(left, top, r1, b1);
      return r;
    }
    const int32_t n = Count(8);
    std::vector<platform::POINT> points(static_cast<size_t>(n));
    int64_t top = INT32_MAX, bottom = INT32_MIN;
    for (auto& p : points) {
      p.x = Int();
      p.y = Int();
      top = std::min<int64_t>(top, p.y);
      bottom = std::max<int64_t>(bottom, p.y);
    }
    if (n > 0) charge(rowsOf(top, bottom));
    // Each edge is crossed on every row it spans.
    for (int32_t i = 0; i < n; ++i)
      charge(rowsOf(points[size_t(i)].y, points[size_t((i + 1) % n)].y) - 1);
    r.Region = platform::CreatePolygonRgn(points.data(), n, platform::WINDING);
    return r;
  }

 private:
  void charge(int64_t rows) {
    rows_ += rows;
    if (rows_ > budget_) Fail("region map: the shapes are too large");
  }
  int64_t budget_, rows_ = 0;
};

}  // namespace

void ReadRegionMap(TKwStream& stream, std::vector<TMapRegion>& regions, int64_t rowBudget) {
  TRegionMapReader in(stream, rowBudget);
  // A region takes at least its name's length and its shape byte.
  const int32_t count = in.Count(5);
  for (int32_t i = 0; i < count; ++i) regions.push_back(in.Region());
}

}  // namespace zirk
