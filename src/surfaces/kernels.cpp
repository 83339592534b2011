#include "surfaces/kernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "surfaces/pixelmath.h"
#include "surfaces/rotatezoom.h"

namespace zirk {

using platform::PixelBuffer;
using namespace pixelmath;

namespace {

// ---- Pixel formats ------------------------------------------------------
// Every format moves pixels to and from 0x00RRGGBB, where the arithmetic
// works; 8-bit pixels are levels (masks) that become three equal channels.

struct Format32 {
  static constexpr bool kRaw32 = true;
  int bytes() const { return 4; }
  uint32_t load(const uint8_t* p) const {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
  }
  void store(uint8_t* p, uint32_t v) const { std::memcpy(p, &v, 4); }
  uint32_t toRGB(uint32_t v) const { return v; }
  uint32_t fromRGB(uint32_t c) const { return c; }
  int bitCount() const { return 32; }
};

struct Format8 {
  static constexpr bool kRaw32 = false;
  int bytes() const { return 1; }
  uint32_t load(const uint8_t* p) const { return *p; }
  void store(uint8_t* p, uint32_t v) const { *p = uint8_t(v); }
  uint32_t toRGB(uint32_t v) const { return v * 0x010101u; }
  uint32_t fromRGB(uint32_t c) const { return c & 0xFF; }
  int bitCount() const { return 8; }
};

// 15, 16 and 24 bits (and the mixed pairs): chosen at run time.
struct FormatAny {
  static constexpr bool kRaw32 = false;
  int bits;
  int bytes() const { return bits == 15 ? 2 : bits / 8; }
  uint32_t load(const uint8_t* p) const {
    switch (bits) {
      case 8:
        return *p;
      case 15:
      case 16:
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8);
      case 24:
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
      default:
        return Format32().load(p);
    }
  }
  void store(uint8_t* p, uint32_t v) const {
    switch (bits) {
      case 8:
        *p = uint8_t(v);
        break;
      case 15:
      case 16:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        break;
      case 24:
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        break;
      default:
        Format32().store(p, v);
        break;
    }
  }
  uint32_t toRGB(uint32_t v) const {
    switch (bits) {
      case 8:
        return v * 0x010101u;
      case 15:
        return (uint32_t(platform::Expand5((v >> 10) & 31)) << 16) |
               (uint32_t(platform::Expand5((v >> 5) & 31)) << 8) | platform::Expand5(v & 31);
      case 16:
        return (uint32_t(platform::Expand5((v >> 11) & 31)) << 16) |
               (uint32_t(platform::Expand6((v >> 5) & 63)) << 8) | platform::Expand5(v & 31);
      default:
        return v;
    }
  }
  uint32_t fromRGB(uint32_t c) const {
    switch (bits) {
      case 8:
        return c & 0xFF;
      case 15:
        return (((c >> 19) & 31) << 10) | (((c >> 11) & 31) << 5) | ((c >> 3) & 31);
      case 16:
        return (((c >> 19) & 31) << 11) | (((c >> 10) & 63) << 5) | ((c >> 3) & 31);
      default:
        return c & 0xFFFFFF;
    }
  }
  int bitCount() const { return bits; }
};

bool kernelBitCount(int32_t bc) {
  return bc == 8 || bc == 15 || bc == 16 || bc == 24 || bc == 32;
}

// ---- Per-pixel operations ---------------------------------------------

struct OpParams {
  uint32_t level;
  int64_t key;
  const uint32_t* table;
};

template <TBlitOp Op, bool Masked, bool Keyed, class D, class S>
inline void applyPixel(uint8_t* dp, const uint8_t* sp, const uint8_t* mp, const D& df, const S& sf,
                       const OpParams& p) {
  const uint32_t s = sf.load(sp);
  if constexpr (Keyed) {
    if constexpr (Op == TBlitOp::AddTable) {
      if (int64_t(s) <= p.key) return;
    } else {
      if (int64_t(s) == p.key) return;
    }
  }
  uint32_t level = p.level;
  if constexpr (Masked) {
    level = MaskedOpacity(*mp, level);
    if (level == 0) return;
  }
  if constexpr (Op == TBlitOp::Copy && Masked) {
    if (level < 255) {
      df.store(dp, df.fromRGB(Blend32(sf.toRGB(s), df.toRGB(df.load(dp)), level)));
      return;
    }
  }
  if constexpr (Op == TBlitOp::Copy) {
    if constexpr (D::kRaw32 && S::kRaw32) {
      df.store(dp, s);
    } else {
      df.store(dp, df.bitCount() == sf.bitCount() ? s : df.fromRGB(sf.toRGB(s)));
    }
  } else if constexpr (Op == TBlitOp::Blend) {
    df.store(dp, df.fromRGB(Blend32(sf.toRGB(s), df.toRGB(df.load(dp)), level)));
  } else if constexpr (Op == TBlitOp::Add) {
    df.store(dp, df.fromRGB(Add32(df.toRGB(df.load(dp)), sf.toRGB(s), level)));
  } else if constexpr (Op == TBlitOp::AddTable) {
    df.store(dp, df.fromRGB(Add32(df.toRGB(df.load(dp)), df.toRGB(p.table[s & 0xFF]), level)));
  }
}

// ---- Contiguous 32-bit rows --------------------------------------------
// The common unflipped 32-bit cases as plain loops over bytes and words that
// the compiler vectorises; they compute exactly what applyPixel computes.
// On x86-64 each also gets an AVX2 build, picked at load time; not under
// the thread sanitizer, whose runtime is not up yet when the picking runs.

#if defined(__SANITIZE_THREAD__)
#define ZIRK_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZIRK_THREAD_SANITIZER 1
#endif
#endif

#if defined(ZIRK_THREAD_SANITIZER)
#define ZIRK_ROW_CLONES
#elif defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZIRK_ROW_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZIRK_ROW_CLONES
#endif

ZIRK_ROW_CLONES void rowCopyKey(uint8_t* d, const uint8_t* s, int32_t n, uint32_t key) {
  for (int32_t i = 0; i < n; ++i) {
    uint32_t sv, dv;
    std::memcpy(&sv, s + 4 * i, 4);
    std::memcpy(&dv, d + 4 * i, 4);
    dv = sv == key ? dv : sv;
    std::memcpy(d + 4 * i, &dv, 4);
  }
}

ZIRK_ROW_CLONES void rowBlend(uint8_t* d, const uint8_t* s, int32_t bytes, uint32_t a) {
  const uint16_t sa = uint16_t(a), da = uint16_t(255 - a);
  for (int32_t i = 0; i < bytes; ++i) {
    const uint16_t x = uint16_t(s[i] * sa + d[i] * da + 128);
    d[i] = uint8_t((x + (x >> 8)) >> 8);
  }
}

ZIRK_ROW_CLONES void rowAdd(uint8_t* d, const uint8_t* s, int32_t bytes, uint32_t level) {
  const uint16_t l = uint16_t(level);
  for (int32_t i = 0; i < bytes; ++i) {
    // Written as a wrapping add plus a carry test, the form that becomes a
    // saturating byte add.
    const uint8_t a = uint8_t(uint16_t(uint16_t(s[i]) * l) >> 8);
    const uint8_t r = uint8_t(d[i] + a);
    d[i] = r < a ? 255 : r;
  }
}

// Per-pixel opacity from a mask row, already combined with the level.
ZIRK_ROW_CLONES void rowBlendMasked(uint8_t* d, const uint8_t* s, const uint8_t* m, int32_t n,
                                    uint32_t level) {
  for (int32_t i = 0; i < n; ++i) {
    const uint16_t a = uint16_t(level == 255 ? m[i] : MaskedOpacity(m[i], level));
    const uint16_t na = uint16_t(255 - a);
    for (int c = 0; c < 4; ++c) {
      const uint16_t x = uint16_t(s[4 * i + c] * a + d[4 * i + c] * na + 128);
      d[4 * i + c] = uint8_t((x + (x >> 8)) >> 8);
    }
  }
}

// A stretched or tiled opaque row: every column has a source pixel.
ZIRK_ROW_CLONES void rowGather(uint8_t* d, const uint8_t* srow, const int32_t* cols, int32_t n) {
  for (int32_t i = 0; i < n; ++i) std::memcpy(d + 4 * i, srow + 4 * int64_t(cols[i]), 4);
}

// True when the row was handled by one of the loops above.
template <TBlitOp Op, bool Masked, bool Keyed>
bool fastRow32(uint8_t* dp, const uint8_t* sp, const uint8_t* mp, int32_t n, const OpParams& p) {
  if constexpr (Op == TBlitOp::Copy && !Masked && Keyed) {
    rowCopyKey(dp, sp, n, uint32_t(p.key));
    return true;
  } else if constexpr (Op == TBlitOp::Blend && !Masked && !Keyed) {
    rowBlend(dp, sp, 4 * n, p.level);
    return true;
  } else if constexpr (Op == TBlitOp::Add && !Masked && !Keyed) {
    rowAdd(dp, sp, 4 * n, p.level);
    return true;
  } else if constexpr ((Op == TBlitOp::Blend || Op == TBlitOp::Copy) && Masked) {
    rowBlendMasked(dp, sp, mp, n, Op == TBlitOp::Copy ? 255 : p.level);
    return true;
  } else {
    return false;
  }
}

// ---- Geometry ------------------------------------------------------------

// The picture indices [lo, hi) of a source rectangle [left, right) that lie
// inside a source of the given size; index i reads column left + i, or
// right - 1 - i when mirrored.
struct IndexRange {
  int64_t lo, hi;
};
IndexRange validIndices(int32_t left, int32_t right, int32_t size, bool mirror) {
  const int64_t n = int64_t(right) - left;
  if (!mirror)
    return {std::max<int64_t>(0, -int64_t(left)), std::min<int64_t>(n, int64_t(size) - left)};
  return {std::max<int64_t>(0, int64_t(right) - size), std::min<int64_t>(n, right)};
}
int32_t pictureToSource(int64_t i, int32_t left, int32_t right, bool mirror) {
  return int32_t(mirror ? right - 1 - i : left + i);
}

struct Job {
  const PixelBuffer* dst;
  const TBlitDesc* d;
  TRect area;  // destination pixels to visit, inside the clip
  OpParams params;
};

template <TBlitOp Op, bool Masked, bool Keyed, class D, class S>
struct Kernel {
  static void direct(const Job& job, const D& df, const S& sf) {
    const TBlitDesc& d = *job.d;
    const int db = df.bytes(), sb = sf.bytes();
    for (int32_t y = job.area.Top; y < job.area.Bottom; ++y) {
      const int32_t sy =
          pictureToSource(y - d.Dest.Top, d.SourceRect.Top, d.SourceRect.Bottom, d.FlipV);
      const int32_t sx0 = pictureToSource(job.area.Left - d.Dest.Left, d.SourceRect.Left,
                                          d.SourceRect.Right, d.FlipH);
      uint8_t* dp = job.dst->row(y) + int64_t(job.area.Left) * db;
      const uint8_t* sp = d.Source.row(sy) + int64_t(sx0) * sb;
      const uint8_t* mp = Masked ? d.Mask.row(sy) + sx0 : nullptr;
      const int32_t n = job.area.Width();
      if (d.FlipH) {
        for (int32_t i = 0; i < n; ++i) {
          applyPixel<Op, Masked, Keyed>(dp + int64_t(i) * db, sp - int64_t(i) * sb,
                                        Masked ? mp - i : nullptr, df, sf, job.params);
        }
      } else {
        if constexpr (Op == TBlitOp::Copy && !Masked && !Keyed && D::kRaw32 && S::kRaw32) {
          std::memcpy(dp, sp, size_t(n) * 4);
        } else if (D::kRaw32 && S::kRaw32 &&
                   fastRow32<Op, Masked, Keyed>(dp, sp, mp, n, job.params)) {
        } else {
          for (int32_t i = 0; i < n; ++i) {
            applyPixel<Op, Masked, Keyed>(dp + int64_t(i) * db, sp + int64_t(i) * sb,
                                          Masked ? mp + i : nullptr, df, sf, job.params);
          }
        }
      }
    }
  }

  // Stretch and tile: a source column per destination column, a source row
  // per destination row (-1 where nothing is drawn).
  static void mapped(const Job& job, const D& df, const S& sf, const std::vector<int32_t>& cols,
                     const std::vector<int32_t>& rows) {
    const TBlitDesc& d = *job.d;
    const int db = df.bytes(), sb = sf.bytes();
    const int32_t n = job.area.Width();
    bool gather = false;
    if constexpr (Op == TBlitOp::Copy && !Masked && !Keyed && D::kRaw32 && S::kRaw32) {
      gather = std::all_of(cols.begin(), cols.end(), [](int32_t c) { return c >= 0; });
    }
    // A row gathered from the same source row as the one before it is the
    // same row: an enlarged picture copies it instead of gathering again.
    int32_t gatheredSy = -1;
    const uint8_t* gatheredRow = nullptr;
    for (int32_t y = job.area.Top; y < job.area.Bottom; ++y) {
      const int32_t sy = rows[size_t(y - job.area.Top)];
      if (sy < 0) continue;
      uint8_t* dp = job.dst->row(y) + int64_t(job.area.Left) * db;
      const uint8_t* srow = d.Source.row(sy);
      if (gather) {
        if (sy == gatheredSy) {
          std::memcpy(dp, gatheredRow, size_t(n) * 4);
        } else {
          rowGather(dp, srow, cols.data(), n);
          gatheredSy = sy;
          gatheredRow = dp;
        }
        continue;
      }
      const uint8_t* mrow = Masked ? d.Mask.row(sy) : nullptr;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t sx = cols[size_t(i)];
        if (sx < 0) continue;
        applyPixel<Op, Masked, Keyed>(dp + int64_t(i) * db, srow + int64_t(sx) * sb,
                                      Masked ? mrow + sx : nullptr, df, sf, job.params);
      }
    }
  }

  static void rotated(const Job& job, const D& df, const S& sf, const TRotateZoomStep& st) {
    const TBlitDesc& d = *job.d;
    const int db = df.bytes(), sb = sf.bytes();
    const IndexRange ur =
        validIndices(d.SourceRect.Left, d.SourceRect.Right, d.Source.width, d.FlipH);
    const IndexRange vr =
        validIndices(d.SourceRect.Top, d.SourceRect.Bottom, d.Source.height, d.FlipV);
    if (ur.lo >= ur.hi || vr.lo >= vr.hi) return;
    const int64_t x0 = job.area.Left;
    for (int32_t y = job.area.Top; y < job.area.Bottom; ++y) {
      const int64_t dx = x0 - d.Dest.Left, dy = int64_t(y) - d.Dest.Top;
      // Source position of the first pixel of the row; +0.5 turns the
      // floor of the shift into rounding to the nearest pixel.
      const int64_t u0 = (int64_t(d.AnchorX) << 16) + 0x8000 + dx * st.ux + dy * st.uy;
      const int64_t v0 = (int64_t(d.AnchorY) << 16) + 0x8000 + dx * st.vx + dy * st.vy;
      int64_t i0 = 0, i1 = job.area.Width();
      narrow(u0, st.ux, ur.lo << 16, ur.hi << 16, i0, i1);
      narrow(v0, st.vx, vr.lo << 16, vr.hi << 16, i0, i1);
      uint8_t* dp = job.dst->row(y) + x0 * db;
      // Source column = colBase + colSign * picture column (mirrored under a flip).
      const int64_t colBase = d.FlipH ? d.SourceRect.Right - 1 : d.SourceRect.Left;
      const int64_t rowBase = d.FlipV ? d.SourceRect.Bottom - 1 : d.SourceRect.Top;
      const int64_t colSign = d.FlipH ? -1 : 1, rowSign = d.FlipV ? -1 : 1;
      int64_t u = u0 + i0 * st.ux, v = v0 + i0 * st.vx;
      for (int64_t i = i0; i < i1; ++i, u += st.ux, v += st.vx) {
        const int64_t sx = colBase + colSign * (u >> 16), sy = rowBase + rowSign * (v >> 16);
        const uint8_t* sp = d.Source.bits + sy * d.Source.pitch + sx * sb;
        if constexpr (Op == TBlitOp::Copy && !Masked && !Keyed && D::kRaw32 && S::kRaw32) {
          std::memcpy(dp + i * 4, sp, 4);
        } else {
          applyPixel<Op, Masked, Keyed>(dp + i * db, sp,
                                        Masked ? d.Mask.bits + sy * d.Mask.pitch + sx : nullptr, df,
                                        sf, job.params);
        }
      }
    }
  }

  // Narrows [i0, i1) to the i with lo <= p0 + i * dp < hi.
  static void narrow(int64_t p0, int64_t dp, int64_t lo, int64_t hi, int64_t& i0, int64_t& i1) {
    if (dp == 0) {
      if (p0 < lo || p0 >= hi) i1 = i0;
      return;
    }
    int64_t a, b;
    if (dp > 0) {
      a = -FloorDiv(p0 - lo, dp);  // ceil((lo - p0) / dp)
      b = -FloorDiv(p0 - hi, dp);  // ceil((hi - p0) / dp)
    } else {
      a = FloorDiv(p0 - hi, -dp) + 1;
      b = FloorDiv(p0 - lo, -dp) + 1;
    }
    i0 = std::max(i0, a);
    i1 = std::min(i1, b);
    if (i1 < i0) i1 = i0;
  }
};

// ---- Tables for stretch and tile ---------------------------------------

// Column (or row) of the source for each destination index of [from, to).
void stretchTable(std::vector<int32_t>& out, int32_t from, int32_t to, int32_t destStart,
                  int32_t destLen, int32_t srcStart, int32_t srcLen, int32_t srcSize, bool mirror) {
  out.resize(size_t(to - from));
  for (int32_t p = from; p < to; ++p) {
    int64_t i = int64_t(p) - destStart;
    if (mirror) i = destLen - 1 - i;
    const int64_t s = int64_t(srcStart) + NearestSample(i, destLen, srcLen);
    out[size_t(p - from)] = (s >= 0 && s < srcSize) ? int32_t(s) : -1;
  }
}

void tileTable(std::vector<int32_t>& out, int32_t from, int32_t to, int32_t areaStart,
               int32_t areaEnd, int64_t origin, int32_t zoom, int32_t step, int32_t srcStart,
               int32_t srcLen, int32_t srcSize, bool mirror) {
  out.resize(size_t(to - from));
  for (int32_t p = from; p < to; ++p) {
    // A mirrored tiling is the mirror image of the whole area.
    const int64_t q = mirror ? int64_t(areaStart) + areaEnd - 1 - p : p;
    const int64_t pos = FloorDiv((2 * (q - origin) + 1) * 256, 2 * int64_t(zoom));
    const int64_t c = PosMod(pos, step);
    const int64_t s = int64_t(srcStart) + c;
    out[size_t(p - from)] = (c < srcLen && s >= 0 && s < srcSize) ? int32_t(s) : -1;
  }
}

// ---- Dispatch ----------------------------------------------------------

template <TBlitOp Op, bool Masked, bool Keyed, class D, class S>
void runShape(const Job& job, const D& df, const S& sf) {
  using K = Kernel<Op, Masked, Keyed, D, S>;
  const TBlitDesc& d = *job.d;
  switch (d.Shape) {
    case TBlitShape::Direct:
      K::direct(job, df, sf);
      break;
    case TBlitShape::Stretch:
    case TBlitShape::Tile: {
      std::vector<int32_t> cols, rows;
      const TRect& s = d.SourceRect;
      if (d.Shape == TBlitShape::Stretch) {
        stretchTable(cols, job.area.Left, job.area.Right, d.Dest.Left, d.Dest.Width(), s.Left,
                     s.Width(), d.Source.width, d.FlipH);
        stretchTable(rows, job.area.Top, job.area.Bottom, d.Dest.Top, d.Dest.Height(), s.Top,
                     s.Height(), d.Source.height, d.FlipV);
      } else {
        tileTable(cols, job.area.Left, job.area.Right, d.Dest.Left, d.Dest.Right, d.OriginX,
                  d.ZoomX, d.StepX, s.Left, s.Width(), d.Source.width, d.FlipH);
        tileTable(rows, job.area.Top, job.area.Bottom, d.Dest.Top, d.Dest.Bottom, d.OriginY,
                  d.ZoomY, d.StepY, s.Top, s.Height(), d.Source.height, d.FlipV);
      }
      K::mapped(job, df, sf, cols, rows);
      break;
    }
    case TBlitShape::RotateZoom: {
      TRotateZoomStep st;
      if (MakeRotateZoomStep(d.Angle, d.ZoomX, d.ZoomY, st)) K::rotated(job, df, sf, st);
      break;
    }
    case TBlitShape::Fill:
      break;
  }
}

template <TBlitOp Op, class D, class S>
void runFlags(const Job& job, const D& df, const S& sf) {
  const bool masked = !job.d->Mask.empty();
  const bool keyed = !masked && job.params.key >= 0;
  if (masked) {
    runShape<Op, true, false>(job, df, sf);
  } else if (keyed) {
    runShape<Op, false, true>(job, df, sf);
  } else {
    runShape<Op, false, false>(job, df, sf);
  }
}

template <class D, class S>
void runOp(const Job& job, const D& df, const S& sf) {
  switch (job.d->Op) {
    case TBlitOp::Copy:
      runFlags<TBlitOp::Copy>(job, df, sf);
      break;
    case TBlitOp::Blend:
      runFlags<TBlitOp::Blend>(job, df, sf);
      break;
    case TBlitOp::Add:
      runFlags<TBlitOp::Add>(job, df, sf);
      break;
    case TBlitOp::AddTable:
      runFlags<TBlitOp::AddTable>(job, df, sf);
      break;
    default:
      break;
  }
}

template <class D>
void runFill(const Job& job, const D& df) {
  const TBlitDesc& d = *job.d;
  const uint32_t value = d.Value, rgb = df.toRGB(value);
  const int db = df.bytes();
  const TBlitOp op = d.Op;  // read once: the pixel stores may alias the description
  if (op == TBlitOp::Copy) {
    if (job.area.IsEmpty()) return;
    // The first row grows from its first pixel by doubling copies; every
    // other row is one copy of the first.
    const size_t rowBytes = size_t(job.area.Width()) * size_t(db);
    uint8_t* first = job.dst->row(job.area.Top) + int64_t(job.area.Left) * db;
    df.store(first, value);
    for (size_t done = size_t(db); done < rowBytes;) {
      const size_t k = std::min(done, rowBytes - done);
      std::memcpy(first + done, first, k);
      done += k;
    }
    for (int32_t y = job.area.Top + 1; y < job.area.Bottom; ++y)
      std::memcpy(job.dst->row(y) + int64_t(job.area.Left) * db, first, rowBytes);
    return;
  }
  for (int32_t y = job.area.Top; y < job.area.Bottom; ++y) {
    uint8_t* p = job.dst->row(y) + int64_t(job.area.Left) * db;
    const int32_t n = job.area.Width();
    for (int32_t i = 0; i < n; ++i, p += db) {
      switch (op) {
        case TBlitOp::Blend:
          df.store(p, df.fromRGB(Blend32(rgb, df.toRGB(df.load(p)), d.Level)));
          break;
        case TBlitOp::FillAdd:
          df.store(p, df.fromRGB(SatAdd32(df.toRGB(df.load(p)), rgb)));
          break;
        case TBlitOp::FillSub:
          df.store(p, df.fromRGB(Sub32(df.toRGB(df.load(p)), rgb)));
          break;
        default:
          return;
      }
    }
  }
}

// A fill through a coverage mask (glyphs): the mask's level at the pixel
// scales the opacity.
template <class D>
void runMaskedFill(const Job& job, const D& df) {
  const TBlitDesc& d = *job.d;
  const uint32_t value = d.Value, rgb = df.toRGB(value);
  const int db = df.bytes();
  const int32_t width = job.area.Width();
  for (int32_t y = job.area.Top; y < job.area.Bottom; ++y) {
    uint8_t* p = job.dst->row(y) + int64_t(job.area.Left) * db;
    const uint8_t* m = d.Mask.row(y - d.Dest.Top) + (job.area.Left - d.Dest.Left);
    for (int32_t i = 0; i < width; ++i, p += db) {
      const uint32_t a = MaskedOpacity(m[i], job.params.level);
      if (a == 255)
        df.store(p, value);
      else if (a != 0)
        df.store(p, df.fromRGB(Blend32(rgb, df.toRGB(df.load(p)), a)));
    }
  }
}

bool validDesc(const PixelBuffer& dst, const TBlitDesc& d) {
  if (dst.empty() || !kernelBitCount(dst.bitCount)) return false;
  if (d.Shape == TBlitShape::Fill && !d.Mask.empty())
    return d.Mask.bitCount == 8 && (d.Op == TBlitOp::Copy || d.Op == TBlitOp::Blend);
  if (d.Shape == TBlitShape::Fill) return d.Op != TBlitOp::Add && d.Op != TBlitOp::AddTable;
  if (d.Op == TBlitOp::FillAdd || d.Op == TBlitOp::FillSub) return false;
  if (d.Source.empty() || !kernelBitCount(d.Source.bitCount)) return false;
  if (d.SourceRect.IsEmpty()) return false;
  if (!d.Mask.empty()) {
    // The mask is read at source coordinates, so it must cover the source.
    if (d.Mask.bitCount != 8 || d.Mask.width < d.Source.width || d.Mask.height < d.Source.height)
      return false;
  }
  if (d.Op == TBlitOp::AddTable && (d.Table == nullptr || d.Source.bitCount != 8)) return false;
  if (d.Shape == TBlitShape::Tile &&
      (d.ZoomX <= 0 || d.ZoomY <= 0 || d.StepX < d.SourceRect.Width() ||
       d.StepY < d.SourceRect.Height()))
    return false;
  if (d.Shape == TBlitShape::Stretch && d.Dest.IsEmpty()) return false;
  return true;
}

// The destination pixels a one-to-one copy can reach: the source rectangle
// limited to the source, placed at Dest's corner.
TRect directArea(const TBlitDesc& d) {
  const IndexRange xr =
      validIndices(d.SourceRect.Left, d.SourceRect.Right, d.Source.width, d.FlipH);
  const IndexRange yr =
      validIndices(d.SourceRect.Top, d.SourceRect.Bottom, d.Source.height, d.FlipV);
  if (xr.lo >= xr.hi || yr.lo >= yr.hi) return {};
  auto sat = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  return {sat(d.Dest.Left + xr.lo), sat(d.Dest.Top + yr.lo), sat(d.Dest.Left + xr.hi),
          sat(d.Dest.Top + yr.hi)};
}

// The first byte and the byte count of a buffer's rows, whichever way
// its rows run.
std::pair<const uint8_t*, size_t> rowSpan(const PixelBuffer& b) {
  const uint8_t* first = b.row(0);
  const uint8_t* last = b.row(b.height - 1);
  const size_t rowBytes = size_t(std::abs(b.pitch));
  return {std::min(first, last), size_t(std::abs(last - first)) + rowBytes};
}

bool sameMemory(const PixelBuffer& a, const PixelBuffer& b) {
  const auto [pa, na] = rowSpan(a);
  const auto [pb, nb] = rowSpan(b);
  return pa < pb + nb && pb < pa + na;
}

PixelBuffer snapshotOf(const PixelBuffer& b, std::vector<uint8_t>& storage) {
  const auto [p, n] = rowSpan(b);
  storage.assign(p, p + n);
  PixelBuffer copy = b;
  copy.bits = storage.data() + (b.bits - p);
  return copy;
}

}  // namespace

TRect TBlitDesc::Bounds() const {
  switch (Shape) {
    case TBlitShape::Direct:
      return directArea(*this);
    case TBlitShape::RotateZoom:
      return RotateZoomBounds({Dest.Left, Dest.Top}, {AnchorX, AnchorY}, false, false,
                              SourceRect.Width(), SourceRect.Height(), ZoomX, ZoomY, Angle);
    default:
      return Dest;
  }
}

void TBlitDesc::Translate(int32_t dx, int32_t dy) {
  Dest.Offset(dx, dy);
  OriginX += dx;
  OriginY += dy;
}

bool RunBlit(const PixelBuffer& dst, const TRect& clip, const TBlitDesc& desc) {
  if (!validDesc(dst, desc)) return false;
  Job job{&dst, &desc, {}, {uint32_t(std::clamp(desc.Level, 0, 255)), desc.Key, desc.Table}};
  TRect limit;
  if (!IntersectRect(limit, clip, Rect(0, 0, dst.width, dst.height))) return false;
  TRect reach = desc.Shape == TBlitShape::Direct ? directArea(desc) : desc.Bounds();
  const bool maskedFill = desc.Shape == TBlitShape::Fill && !desc.Mask.empty();
  if (maskedFill &&
      !IntersectRect(reach, reach,
                     Bounds(desc.Dest.Left, desc.Dest.Top, desc.Mask.width, desc.Mask.height)))
    return false;
  if (!IntersectRect(job.area, limit, reach)) return false;
  if (desc.Op == TBlitOp::Blend && job.params.level == 0) return true;
  if (maskedFill) {
    if (desc.Op == TBlitOp::Copy) job.params.level = 255;
    if (dst.bitCount == 32)
      runMaskedFill(job, Format32());
    else if (dst.bitCount == 8)
      runMaskedFill(job, Format8());
    else
      runMaskedFill(job, FormatAny{dst.bitCount});
    return true;
  }
  if (desc.Shape == TBlitShape::Fill) {
    if (dst.bitCount == 32) {
      runFill(job, Format32());
    } else if (dst.bitCount == 8) {
      runFill(job, Format8());
    } else {
      runFill(job, FormatAny{dst.bitCount});
    }
    return true;
  }
  // A surface drawn onto itself would read pixels it has already written
  // (and the row copies must not overlap): draw from a snapshot instead.
  TBlitDesc snapshotDesc;
  std::vector<uint8_t> snapshot;
  if (sameMemory(dst, desc.Source)) {
    snapshotDesc = desc;
    snapshotDesc.Source = snapshotOf(desc.Source, snapshot);
    job.d = &snapshotDesc;
  }
  if (dst.bitCount == 32 && desc.Source.bitCount == 32) {
    runOp(job, Format32(), Format32());
  } else if (dst.bitCount == 8 && desc.Source.bitCount == 8) {
    runOp(job, Format8(), Format8());
  } else if (dst.bitCount == 32 && desc.Source.bitCount == 8) {
    runOp(job, Format32(), Format8());
  } else {
    runOp(job, FormatAny{dst.bitCount}, FormatAny{desc.Source.bitCount});
  }
  return true;
}

}  // namespace zirk
