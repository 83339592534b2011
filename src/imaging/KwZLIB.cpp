#include "imaging/KwZLIB.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zirk {

// --- TKwInflater ---

struct TKwInflater::State {
  z_stream zs{};
  bool open = false;
  bool ended = false;
  Refill refill;
  uint8_t input[kInputSize];
};

TKwInflater::TKwInflater() = default;
TKwInflater::~TKwInflater() {
  Close();
}

bool TKwInflater::Open(Refill refill) {
  Close();
  state_ = std::make_unique<State>();
  if (inflateInit(&state_->zs) != Z_OK) {
    state_.reset();
    return false;
  }
  state_->open = true;
  state_->refill = std::move(refill);
  return true;
}

TKwInflater::Result TKwInflater::Read(uint8_t* dest, size_t count) {
  if (!state_ || state_->ended) return Result::Error;
  z_stream& zs = state_->zs;
  zs.next_out = dest;
  zs.avail_out = static_cast<uInt>(count);
  while (zs.avail_out > 0) {
    if (zs.avail_in == 0) {
      const size_t got = state_->refill(state_->input, kInputSize);
      if (got == 0) return Result::NoInput;
      zs.next_in = state_->input;
      zs.avail_in = static_cast<uInt>(got);
    }
    const int ret = inflate(&zs, Z_NO_FLUSH);
    if (ret == Z_STREAM_END) {
      state_->ended = true;
      return zs.avail_out == 0 ? Result::Ok : Result::Error;
    }
    if (ret != Z_OK && ret != Z_BUF_ERROR) return Result::Error;
  }
  return Result::Ok;
}

void TKwInflater::Close() {
  if (state_ && state_->open) inflateEnd(&state_->zs);
  state_.reset();
}

// --- TKwDeflater ---

struct TKwDeflater::State {
  z_stream zs{};
  bool open = false;
  std::vector<uint8_t> block;
  Emit emit;
};

TKwDeflater::TKwDeflater() = default;
TKwDeflater::~TKwDeflater() {
  Close();
}

bool TKwDeflater::Open(int level, size_t blockSize, Emit emit) {
  Close();
  if (level < 0 || level > 9) level = Z_DEFAULT_COMPRESSION;
  state_ = std::make_unique<State>();
  if (deflateInit(&state_->zs, level) != Z_OK) {
    state_.reset();
    return false;
  }
  state_->open = true;
  state_->block.resize(std::max<size_t>(blockSize, 1));
  state_->emit = std::move(emit);
  state_->zs.next_out = state_->block.data();
  state_->zs.avail_out = static_cast<uInt>(state_->block.size());
  return true;
}

bool TKwDeflater::run(int flush) {
  z_stream& zs = state_->zs;
  for (;;) {
    const int ret = deflate(&zs, flush);
    if (ret != Z_OK && ret != Z_BUF_ERROR && ret != Z_STREAM_END) return false;
    if (zs.avail_out == 0) {
      state_->emit(state_->block.data(), state_->block.size());
      zs.next_out = state_->block.data();
      zs.avail_out = static_cast<uInt>(state_->block.size());
      if (ret == Z_STREAM_END) return true;
      continue;
    }
    if (flush == Z_FINISH) {
      if (ret == Z_STREAM_END) return true;
      if (ret == Z_BUF_ERROR) return false;
    } else if (zs.avail_in == 0) {
      return true;
    }
  }
}

bool TKwDeflater::Write(const uint8_t* data, size_t size) {
  if (!state_) return false;
  if (size == 0) return true;
  state_->zs.next_in = const_cast<Bytef*>(data);
  state_->zs.avail_in = static_cast<uInt>(size);
  return run(Z_NO_FLUSH);
}

bool TKwDeflater::Finish() {
  if (!state_) return false;
  state_->zs.avail_in = 0;
  if (!run(Z_FINISH)) return false;
  const size_t rest = state_->block.size() - state_->zs.avail_out;
  if (rest > 0) state_->emit(state_->block.data(), rest);
  state_->zs.next_out = state_->block.data();
  state_->zs.avail_out = static_cast<uInt>(state_->block.size());
  return true;
}

void TKwDeflater::Close() {
  if (state_ && state_->open) deflateEnd(&state_->zs);
  state_.reset();
}

// --- Filters ---

namespace {

// Ties go to the left neighbour, then to the one above; written without
// branches because the choice is unpredictable on real pictures.
inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int nearer = pb < pa ? b : a;
  const int nearest = std::min(pa, pb);
  return static_cast<uint8_t>(pc < nearest ? c : nearer);
}

// A constant pixel size lets the compiler keep the left neighbours in
// registers; this is the inner loop of every decode.
template <int B>
void unfilterFixed(int type, uint8_t* row, const uint8_t* prev, size_t n) {
  switch (type) {
    case 1:
      for (size_t i = B; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - B]);
      break;
    case 2:
      for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < std::min<size_t>(B, n); ++i)
        row[i] = static_cast<uint8_t>(row[i] + (prev[i] >> 1));
      for (size_t i = B; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + ((row[i - B] + prev[i]) >> 1));
      break;
    case 4:
      for (size_t i = 0; i < std::min<size_t>(B, n); ++i)
        row[i] = static_cast<uint8_t>(row[i] + prev[i]);
      for (size_t i = B; i < n; ++i)
        row[i] = static_cast<uint8_t>(row[i] + paeth(row[i - B], prev[i], prev[i - B]));
      break;
    default:
      break;
  }
}

// The first pixel has no left neighbours; after it the loops run without
// a test per byte, so that the compiler can take many bytes per step.
template <int B>
void filterFixed(int type, const uint8_t* row, const uint8_t* prev, size_t n, uint8_t* out) {
  const size_t first = std::min<size_t>(B, n);
  switch (type) {
    case 1:
      std::memcpy(out, row, first);
      for (size_t i = first; i < n; ++i) out[i] = static_cast<uint8_t>(row[i] - row[i - B]);
      break;
    case 2:
      for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(row[i] - prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(row[i] - (prev[i] >> 1));
      for (size_t i = first; i < n; ++i)
        out[i] = static_cast<uint8_t>(row[i] - ((row[i - B] + prev[i]) >> 1));
      break;
    case 4:
      for (size_t i = 0; i < first; ++i) out[i] = static_cast<uint8_t>(row[i] - prev[i]);
      for (size_t i = first; i < n; ++i)
        out[i] = static_cast<uint8_t>(row[i] - paeth(row[i - B], prev[i], prev[i - B]));
      break;
    default:
      std::memcpy(out, row, n);
      break;
  }
}

template <template <int> class Op, class... Args>
void dispatchBytesPerPixel(int bpp, Args&&... args) {
  switch (bpp) {
    case 1:
      Op<1>::run(args...);
      break;
    case 2:
      Op<2>::run(args...);
      break;
    case 3:
      Op<3>::run(args...);
      break;
    case 4:
      Op<4>::run(args...);
      break;
    case 6:
      Op<6>::run(args...);
      break;
    default:
      Op<8>::run(args...);
      break;
  }
}

#if defined(__SSE2__)
// Four-byte pixels (8-bit RGBA) carry a dependency from pixel to pixel
// that keeps the byte loops above scalar; these work on a whole pixel per
// step, Paeth in 16-bit lanes. Up has no such dependency and is left to
// the compiler.
inline __m128i loadPixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(static_cast<int>(v));
}

inline void storePixel(uint8_t* p, __m128i v) {
  const auto bits = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
  std::memcpy(p, &bits, 4);
}

inline __m128i select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

inline __m128i abs16(__m128i v) {
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

bool unfilterRGBA(int type, uint8_t* row, const uint8_t* prev, size_t n) {
  const __m128i zero = _mm_setzero_si128();
  const size_t end = n - n % 4;
  switch (type) {
    case 1: {
      __m128i a = zero;
      for (size_t i = 0; i < end; i += 4) {
        a = _mm_add_epi8(a, loadPixel(row + i));
        storePixel(row + i, a);
      }
      return true;
    }
    case 3: {
      const __m128i one = _mm_set1_epi8(1);
      __m128i a = zero;
      for (size_t i = 0; i < end; i += 4) {
        const __m128i b = loadPixel(prev + i);
        // avg_epu8 rounds up; the filter takes the floor.
        const __m128i floor =
            _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), one));
        a = _mm_add_epi8(loadPixel(row + i), floor);
        storePixel(row + i, a);
      }
      return true;
    }
    case 4: {
      __m128i a = zero, c = zero;
      for (size_t i = 0; i < end; i += 4) {
        const __m128i b = _mm_unpacklo_epi8(loadPixel(prev + i), zero);
        const __m128i toA = _mm_sub_epi16(b, c);
        const __m128i toB = _mm_sub_epi16(a, c);
        const __m128i pa = abs16(toA), pb = abs16(toB), pc = abs16(_mm_add_epi16(toA, toB));
        const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
        // Ties go to the left neighbour, then to the one above.
        const __m128i nearest =
            select(_mm_cmpeq_epi16(smallest, pa), a, select(_mm_cmpeq_epi16(smallest, pb), b, c));
        const __m128i d = _mm_add_epi8(_mm_unpacklo_epi8(loadPixel(row + i), zero), nearest);
        storePixel(row + i, _mm_packus_epi16(d, d));
        a = d;
        c = b;
      }
      return true;
    }
    default:
      return false;
  }
}
#endif

template <int B>
struct UnfilterOp {
  static void run(int type, uint8_t* row, const uint8_t* prev, size_t n) {
#if defined(__SSE2__)
    if constexpr (B == 4) {
      if (n % 4 == 0 && unfilterRGBA(type, row, prev, n)) return;
    }
#endif
    unfilterFixed<B>(type, row, prev, n);
  }
};
template <int B>
struct FilterOp {
  static void run(int type, const uint8_t* row, const uint8_t* prev, size_t n, uint8_t* out) {
    filterFixed<B>(type, row, prev, n, out);
  }
};

}  // namespace

bool UnfilterRow(int type, uint8_t* row, const uint8_t* prev, size_t length, int bytesPerPixel) {
  if (type < 0 || type > 4) return false;
  if (type == 0) return true;
  dispatchBytesPerPixel<UnfilterOp>(bytesPerPixel, type, row, prev, length);
  return true;
}

void FilterRow(int type, const uint8_t* row, const uint8_t* prev, size_t length, int bytesPerPixel,
               uint8_t* out) {
  out[0] = static_cast<uint8_t>(type);
  dispatchBytesPerPixel<FilterOp>(bytesPerPixel, type, row, prev, length, out + 1);
}

int RowScore(const uint8_t* row, size_t length, int bitsPerPixel) {
  if (length == 0) return -1;
  // Four tables, so that runs of one value do not wait on one counter.
  uint32_t lanes[4][256] = {};
  size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    ++lanes[0][row[i]];
    ++lanes[1][row[i + 1]];
    ++lanes[2][row[i + 2]];
    ++lanes[3][row[i + 3]];
  }
  for (; i < length; ++i) ++lanes[0][row[i]];
  uint32_t counts[256];
  for (int v = 0; v < 256; ++v) counts[v] = lanes[0][v] + lanes[1][v] + lanes[2][v] + lanes[3][v];
  int distinct = 0;
  uint64_t c1 = 0, c2 = 0, c3 = 0;
  for (uint32_t c : counts) {
    if (c == 0) continue;
    ++distinct;
    if (c > c1) {
      c3 = c2;
      c2 = c1;
      c1 = c;
    } else if (c > c2) {
      c3 = c2;
      c2 = c;
    } else if (c > c3) {
      c3 = c;
    }
  }
  const uint64_t n = length;
  if (distinct <= 8 || c1 * 100 / n >= 90) return -1;
  const double dn = static_cast<double>(n);
  double score;
  if (bitsPerPixel >= 8) {
    score = dn / 1.5 / distinct * 1000 + static_cast<double>(c1 + c2 + c3) / dn * 1000;
  } else {
    score = dn / 1.5 / distinct * 1500 + static_cast<double>(c1 + c2) / dn * 1000;
  }
  return static_cast<int>(std::nearbyint(score));
}

// --- TKwRowFilter ---

void TKwRowFilter::Setup(int filterMode, int bitsPerPixel, int sourceBitCount, size_t rowBytes) {
  mode_ = filterMode;
  bitsPerPixel_ = bitsPerPixel;
  bytesPerPixel_ = (bitsPerPixel + 7) / 8;
  sourceBitCount_ = sourceBitCount;
  rowBytes_ = rowBytes;
  storage_.assign(4 * (rowBytes + 1), 0);
  current_ = storage_.data();
  previous_ = current_ + rowBytes + 1;
  best_ = previous_ + rowBytes + 1;
  candidate_ = best_ + rowBytes + 1;
}

void TKwRowFilter::ClearPrevious() {
  std::memset(previous_, 0, rowBytes_);
}

const uint8_t* TKwRowFilter::Filter(size_t length) {
  if (mode_ >= 2 && mode_ <= 5) {
    FilterRow(mode_ - 1, current_, previous_, length, bytesPerPixel_, best_);
    return best_;
  }
  FilterRow(0, current_, previous_, length, bytesPerPixel_, best_);
  if (mode_ != 0) return best_;
  int bestScore = RowScore(best_, length + 1, bitsPerPixel_);
  if (bestScore == -1 || sourceBitCount_ == 4) return best_;
  if (sourceBitCount_ == 1 || sourceBitCount_ == 8) bestScore *= 2;
  for (int type = 1; type <= 4; ++type) {
    FilterRow(type, current_, previous_, length, bytesPerPixel_, candidate_);
    const int score = RowScore(candidate_, length + 1, bitsPerPixel_);
    if (score == -1) return candidate_;
    if (score > bestScore) {
      std::swap(best_, candidate_);
      bestScore = score;
    }
  }
  return best_;
}

void TKwRowFilter::NextRow() {
  std::swap(current_, previous_);
}

}  // namespace zirk
