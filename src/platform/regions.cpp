#include "platform/regions.h"

#include <algorithm>
#include <cmath>

namespace zirk::platform {

namespace {

// Region coordinates come from game files; clamping keeps a hostile
// rectangle from asking for billions of rows.
constexpr int32_t kCoordLimit = 32767;

int32_t clampCoord(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, -kCoordLimit, kCoordLimit));
}

// First pixel whose centre (x + 0.5) is at or right of the edge position.
int32_t firstPixelAtOrAfter(double edge) {
  return int32_t(std::ceil(edge - 0.5));
}

}  // namespace

std::unique_ptr<Region> Region::FromRows(int32_t top, std::vector<std::vector<Span>> rows) {
  auto r = std::make_unique<Region>();
  for (auto& row : rows) {
    std::erase_if(row, [](const Span& s) { return s.right <= s.left; });
    std::sort(row.begin(), row.end(), [](const Span& a, const Span& b) { return a.left < b.left; });
    std::vector<Span> merged;
    for (const Span& s : row) {
      if (!merged.empty() && s.left <= merged.back().right) {
        merged.back().right = std::max(merged.back().right, s.right);
      } else {
        merged.push_back(s);
      }
    }
    row = std::move(merged);
  }
  // Trim empty rows at both ends so the box is tight.
  size_t first = 0, last = rows.size();
  while (first < last && rows[first].empty()) ++first;
  while (last > first && rows[last - 1].empty()) --last;
  r->top_ = top + int32_t(first);
  r->rows_.assign(std::make_move_iterator(rows.begin() + first),
                  std::make_move_iterator(rows.begin() + last));
  return r;
}

bool Region::Contains(int32_t x, int32_t y) const {
  const int64_t i = int64_t(y) - top_;
  if (i < 0 || i >= int64_t(rows_.size())) return false;
  for (const Span& s : rows_[size_t(i)]) {
    if (x < s.left) return false;
    if (x < s.right) return true;
  }
  return false;
}

bool Region::IsEmpty() const {
  return rows_.empty();
}

RECT Region::Box() const {
  RECT box;
  if (rows_.empty()) return box;
  box.left = INT32_MAX;
  box.right = INT32_MIN;
  for (const auto& row : rows_) {
    if (row.empty()) continue;
    box.left = std::min(box.left, row.front().left);
    box.right = std::max(box.right, row.back().right);
  }
  box.top = top_;
  box.bottom = top_ + int32_t(rows_.size());
  return box;
}

bool Region::IsRectangle() const {
  if (rows_.empty()) return false;
  const auto& first = rows_.front();
  if (first.size() != 1) return false;
  return std::all_of(rows_.begin(), rows_.end(), [&](const std::vector<Span>& row) {
    return row.size() == 1 && row[0].left == first[0].left && row[0].right == first[0].right;
  });
}

HRGN CreateRectRgn(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  int32_t l = clampCoord(std::min(left, right)), r = clampCoord(std::max(left, right));
  int32_t t = clampCoord(std::min(top, bottom)), b = clampCoord(std::max(top, bottom));
  std::vector<std::vector<Region::Span>> rows(size_t(b - t), std::vector<Region::Span>{{l, r}});
  return Region::FromRows(t, std::move(rows));
}

HRGN CreateEllipticRgn(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  const int32_t l = clampCoord(std::min(left, right)), r = clampCoord(std::max(left, right));
  const int32_t t = clampCoord(std::min(top, bottom)), b = clampCoord(std::max(top, bottom));
  std::vector<std::vector<Region::Span>> rows(size_t(b - t));
  const double cx = (double(l) + r) / 2, cy = (double(t) + b) / 2;
  const double rx = (double(r) - l) / 2, ry = (double(b) - t) / 2;
  if (rx <= 0 || ry <= 0) return Region::FromRows(t, {});
  for (int32_t y = t; y < b; ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    const double q = 1.0 - dy * dy;
    if (q < 0) continue;
    const double half = rx * std::sqrt(q);
    const int32_t x0 = firstPixelAtOrAfter(cx - half);
    // Centres strictly inside or on the right edge: include x while x + 0.5 <= cx + half.
    const int32_t x1 = int32_t(std::floor(cx + half - 0.5)) + 1;
    rows[size_t(y - t)].push_back({std::max(x0, l), std::min(x1, r)});
  }
  return Region::FromRows(t, std::move(rows));
}

HRGN CreatePolygonRgn(const POINT* points, int32_t count, int32_t fillMode) {
  if (points == nullptr || count < 3) return Region::FromRows(0, {});
  std::vector<POINT> pts(points, points + count);
  int32_t minY = INT32_MAX, maxY = INT32_MIN;
  for (POINT& p : pts) {
    p.x = clampCoord(p.x);
    p.y = clampCoord(p.y);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  // An edge covers the rows whose centre line y + 0.5 lies in [top, bottom).
  struct Edge {
    POINT a, b;
    int32_t top, bottom;
    int dir;
  };
  std::vector<std::vector<Edge>> starting(size_t(maxY - minY) + 1);
  for (int32_t i = 0; i < count; ++i) {
    const POINT& a = pts[size_t(i)];
    const POINT& b = pts[size_t((i + 1) % count)];
    if (a.y == b.y) continue;
    const bool down = b.y > a.y;
    const int32_t top = down ? a.y : b.y, bottom = down ? b.y : a.y;
    starting[size_t(top - minY)].push_back({a, b, top, bottom, down ? 1 : -1});
  }
  struct Crossing {
    double x;
    int dir;
  };
  std::vector<std::vector<Region::Span>> rows(size_t(maxY - minY));
  std::vector<Edge> active;
  std::vector<Crossing> xs;
  for (int32_t y = minY; y < maxY; ++y) {
    std::erase_if(active, [y](const Edge& e) { return e.bottom <= y; });
    const auto& fresh = starting[size_t(y - minY)];
    active.insert(active.end(), fresh.begin(), fresh.end());
    const double yc = y + 0.5;
    xs.clear();
    for (const Edge& e : active) {
      const double x = e.a.x + (yc - e.a.y) * double(e.b.x - e.a.x) / double(e.b.y - e.a.y);
      xs.push_back({x, e.dir});
    }
    std::sort(xs.begin(), xs.end(), [](const Crossing& p, const Crossing& q) { return p.x < q.x; });
    int winding = 0;
    for (size_t k = 0; k + 1 < xs.size(); ++k) {
      winding += xs[k].dir;
      const bool inside = fillMode == WINDING ? winding != 0 : ((k & 1) == 0);
      if (!inside) continue;
      rows[size_t(y - minY)].push_back(
          {firstPixelAtOrAfter(xs[k].x), firstPixelAtOrAfter(xs[k + 1].x)});
    }
  }
  return Region::FromRows(minY, std::move(rows));
}

bool PtInRegion(const HRGN& rgn, int32_t x, int32_t y) {
  return rgn && rgn->Contains(x, y);
}

bool PaintRgn(HDC dc, const HRGN& rgn) {
  if (dc == nullptr || !rgn) return false;
  const PixelBuffer& b = dc->Target();
  if (b.empty()) return false;
  const uint32_t value = ColorToPixelValue(b, dc->BrushColor());
  const auto& rows = rgn->Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    const int64_t y = int64_t(rgn->Top()) + int64_t(i);
    if (y < 0 || y >= b.height) continue;
    for (const Region::Span& s : rows[i]) {
      const int32_t x0 = std::max(s.left, 0), x1 = std::min(s.right, b.width);
      for (int32_t x = x0; x < x1; ++x) WritePixelValue(b, x, int32_t(y), value);
    }
  }
  return true;
}

int32_t GetRgnBox(const HRGN& rgn, RECT* box) {
  if (!rgn || box == nullptr) return RGN_ERROR;
  *box = rgn->Box();
  if (rgn->IsEmpty()) return NULLREGION;
  return rgn->IsRectangle() ? SIMPLEREGION : COMPLEXREGION;
}

bool DeleteObject(HRGN& rgn) {
  if (!rgn) return false;
  rgn.reset();
  return true;
}

}  // namespace zirk::platform
