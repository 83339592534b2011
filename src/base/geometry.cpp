#include "base/geometry.h"

#include <algorithm>
#include <limits>

namespace zirk {

namespace {

int32_t saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

int32_t TRect::Width() const {
  return saturate(int64_t{Right} - Left);
}
int32_t TRect::Height() const {
  return saturate(int64_t{Bottom} - Top);
}

void TRect::Offset(int32_t dx, int32_t dy) {
  Left = saturate(int64_t{Left} + dx);
  Right = saturate(int64_t{Right} + dx);
  Top = saturate(int64_t{Top} + dy);
  Bottom = saturate(int64_t{Bottom} + dy);
}

TRect Bounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  return {left, top, saturate(int64_t{left} + width), saturate(int64_t{top} + height)};
}

bool RectsOverlap(const TRect& a, const TRect& b) {
  return a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom &&
         !a.IsEmpty() && !b.IsEmpty();
}

bool IntersectRect(TRect& result, const TRect& a, const TRect& b) {
  if (!RectsOverlap(a, b)) {
    result = {};
    return false;
  }
  result = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
  return true;
}

TRect UnionRect(const TRect& a, const TRect& b) {
  if (a.IsEmpty()) return b.IsEmpty() ? TRect{} : b;
  if (b.IsEmpty()) return a;
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

TRect OffsetRect(const TRect& r, int32_t dx, int32_t dy) {
  TRect out = r;
  out.Offset(dx, dy);
  return out;
}

}  // namespace zirk
