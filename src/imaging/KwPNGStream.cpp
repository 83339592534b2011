// The PNG reader.

#include "imaging/KwPNGStream.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "imaging/KwPNGCommon.h"
#include "imaging/SFunc.h"

namespace zirk {

namespace {

// A 2-bit sample as its 8-bit grey (and 1/4-bit likewise).
uint8_t scaleSample(uint32_t v, int depth) {
  // The depth is not checked before the image starts.
  const uint32_t max = (1u << std::clamp(depth, 1, 8)) - 1;
  return static_cast<uint8_t>((v & max) * 255 / max);
}

// --- Row converters: PNG row bytes -> bitmap row (and mask row) ---

template <int Bits>
void copyPacked(const uint8_t* src, uint8_t* dest, uint8_t*, int count) {
  std::memcpy(dest, src, (static_cast<size_t>(count) * Bits + 7) / 8);
}

// Each 2-bit value becomes a 4-bit index: a 4-bit bitmap is the smallest
// that holds it.
void twoBitToFour(const uint8_t* src, uint8_t* dest, uint8_t*, int count) {
  for (int k = 0; k < count; ++k) {
    const uint8_t v = (src[k >> 2] >> (6 - 2 * (k & 3))) & 3;
    if (k & 1) {
      dest[k >> 1] = static_cast<uint8_t>(dest[k >> 1] | v);
    } else {
      dest[k >> 1] = static_cast<uint8_t>(v << 4);
    }
  }
}

// S bytes per sample (1 or 2; of 2 the high byte counts).
template <int S, bool Alpha>
void greyToEight(const uint8_t* src, uint8_t* dest, uint8_t* mask, int count) {
  constexpr int step = Alpha ? 2 * S : S;
  for (int k = 0; k < count; ++k, src += step) {
    dest[k] = src[0];
    if constexpr (Alpha) mask[k] = static_cast<uint8_t>(255 - src[S]);
  }
}

template <int S, bool Alpha>
void rgbToBGR(const uint8_t* src, uint8_t* dest, uint8_t* mask, int count) {
  constexpr int step = (Alpha ? 4 : 3) * S;
  for (int k = 0; k < count; ++k, src += step, dest += 3) {
    dest[0] = src[2 * S];
    dest[1] = src[S];
    dest[2] = src[0];
    if constexpr (Alpha) mask[k] = static_cast<uint8_t>(255 - src[3 * S]);
  }
}

#if defined(__x86_64__) || defined(__i386__)
// 8-bit RGBA rows, the commonest picture with alpha, four pixels per byte
// shuffle where the processor has one; the plain loops otherwise.
__attribute__((target("ssse3"))) void rgbaToBGRShuffled(const uint8_t* src, uint8_t* dest,
                                                        uint8_t* mask, int count) {
  const __m128i toBGR = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m128i toAlpha =
      _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i ones = _mm_set1_epi8(-1);
  int k = 0;
  for (; k + 4 <= count; k += 4, src += 16, dest += 12) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i bgr = _mm_shuffle_epi8(v, toBGR);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), bgr);
    const auto high = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(bgr, 8)));
    std::memcpy(dest + 8, &high, 4);
    const auto inverted =
        static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_xor_si128(_mm_shuffle_epi8(v, toAlpha), ones)));
    std::memcpy(mask + k, &inverted, 4);
  }
  rgbToBGR<1, true>(src, dest, mask + k, count - k);
}

// 8-bit RGB rows, five pixels per shuffle; each step stores one byte past
// its five pixels, which the next step writes again.
__attribute__((target("ssse3"))) void rgbToBGRShuffled(const uint8_t* src, uint8_t* dest,
                                                       uint8_t* mask, int count) {
  const __m128i toBGR = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  int k = 0;
  for (; k + 6 <= count; k += 5, src += 15, dest += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest), _mm_shuffle_epi8(v, toBGR));
  }
  rgbToBGR<1, false>(src, dest, mask, count - k);
}
#endif

// Bits is 15 (5-5-5) or 16 (5-6-5).
template <int Bits, int S, bool Alpha>
void rgbToWord(const uint8_t* src, uint8_t* dest, uint8_t* mask, int count) {
  constexpr int step = (Alpha ? 4 : 3) * S;
  const TDIBPixelFormat& format = Bits == 15 ? kPixelFormat555 : kPixelFormat565;
  for (int k = 0; k < count; ++k, src += step, dest += 2) {
    const uint32_t v = PackDIBPixel(format, src[0], src[S], src[2 * S]);
    dest[0] = static_cast<uint8_t>(v);
    dest[1] = static_cast<uint8_t>(v >> 8);
    if constexpr (Alpha) mask[k] = static_cast<uint8_t>(255 - src[3 * S]);
  }
}

// --- Placing a pass row into every step-th pixel of a bitmap row ---

void placePixels(int bits, const uint8_t* src, uint8_t* row, int startX, int step, int count) {
  switch (bits) {
    case 1:
      for (int k = 0, x = startX; k < count; ++k, x += step) {
        const int bit = (src[k >> 3] >> (7 - (k & 7))) & 1;
        const auto m = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(bit ? row[x >> 3] | m : row[x >> 3] & ~m);
      }
      break;
    case 4:
      for (int k = 0, x = startX; k < count; ++k, x += step) {
        const int v = (src[k >> 1] >> ((k & 1) ? 0 : 4)) & 15;
        uint8_t& b = row[x >> 1];
        b = static_cast<uint8_t>((x & 1) ? (b & 0xF0) | v : (b & 0x0F) | (v << 4));
      }
      break;
    default: {
      const int bytes = (bits + 7) / 8;
      for (int k = 0, x = startX; k < count; ++k, x += step) {
        std::memcpy(row + static_cast<size_t>(x) * bytes, src + static_cast<size_t>(k) * bytes,
                    static_cast<size_t>(bytes));
      }
      break;
    }
  }
}

// Holds the target's change handler off for the read and gives it back,
// and always releases the source.
struct ReadScope {
  TDIB* target;
  TNotifyEvent saved;
  std::function<void()> release;
  ReadScope(TDIB* t, std::function<void()> r) : target(t), release(std::move(r)) {
    if (target) {
      saved = std::move(target->OnChange);
      target->OnChange = nullptr;
    }
  }
  ~ReadScope() {
    release();
    if (target) target->OnChange = std::move(saved);
  }
};

}  // namespace

// --- TKwCustomGraphicReadStream ---

int TKwCustomGraphicReadStream::Progress(int percent) {
  if (target_) {
    const TProgressStage stage = percent <= 0     ? TProgressStage::psStarting
                                 : percent >= 100 ? TProgressStage::psEnding
                                                  : TProgressStage::psRunning;
    target_->Progress(stage, std::min(percent, 100), false, std::string());
  }
  return 0;
}

void TKwCustomGraphicReadStream::SetupTarget() {
  if (!target_) return;
  target_->Clear();
  target_->SetTransparent(false);
  target_->SetTransparentColor(-1);
  if (bitmapBits_ <= 8) {
    std::copy(palette_.begin(), palette_.end(), target_->ColorTable().begin());
  }
  target_->SetSize(width_, height_, bitmapBits_);
  if (bitmapBits_ <= 8) target_->UpdatePalette();
}

// --- TKwPNGReadStream ---

TKwPNGReadStream::TKwPNGReadStream() = default;
TKwPNGReadStream::~TKwPNGReadStream() = default;

void TKwPNGReadStream::reset() {
  seenIHDR_ = seenIDAT_ = seenIEND_ = seenPLTE_ = seenKWNG_ = false;
  imageDone_ = false;
  chunkLeft_ = 0;
  chunkType_ = 0;
  depth_ = colorType_ = interlace_ = 0;
  hasAlphaChannel_ = isGray_ = paletteAlpha_ = paletteWithAlphaFile_ = false;
  rowsEncoded_ = alphaFromTable_ = false;
  bitDepth_ = pngBitsPerPixel_ = 0;
  alphaTable_.fill(255);
  transparentColor_ = backgroundColor_ = -1;
  gamma_ = 0;
  sBit_ = 0;
  comment_.clear();
  truncated_ = false;
  key_.clear();
  width_ = height_ = bitmapBits_ = colorBits_ = 0;
  palette_.fill(TRGBQuad{});
  paletteCount_ = 0;
  ppuX_ = ppuY_ = 0;
  unit_ = 0;
  convert_ = nullptr;
}

void TKwPNGReadStream::Read(TDIB* target, TKwStream& source, int64_t length) {
  target_ = target;
  // A mask that is the image itself would be written over by both.
  maskTarget_ = MaskTarget != target ? MaskTarget : nullptr;
  reset();
  ReadScope scope(target, [this] {
    inflater_.Close();
    EndSource();
    rowStorage_.clear();
    rowStorage_.shrink_to_fit();
  });
  BeginSource(source, length);
  BeginProgressPhase(30, DataLength());
  StepProgress(0);
  if (CheckSignature) {
    uint8_t signature[8];
    ReadBlock(signature, 8);
    if (std::memcmp(signature, kPNGSignature, 8) != 0) {
      throw EKwPNG("PNG LoadStream: Not PNG Format");
    }
  }
  readChunks();
  truncated_ = stopped_ || (atEnd_ && !seenIEND_) || (target_ && !imageDone_);
  if (target_ && !seenIDAT_) {
    // Nothing of the old picture may pass for this file's.
    target_->Clear();
    if (maskTarget_) maskTarget_->Clear();
  }
  if (target_ && !truncated_ && !hasAlphaChannel_ && transparentColor_ != -1) {
    target_->SetTransparent(true);
    int32_t color = transparentColor_;
    if (IsPaletteIndexColor(color))
      color = static_cast<int32_t>(QuadToColor(palette_[color & 0xFF]));
    target_->SetTransparentColor(color);
  }
  if (paletteAlpha_ && maskTarget_ && target_ && seenIDAT_) buildPaletteMask();
  CompleteProgress();
}

uint8_t TKwPNGReadStream::chunkByte() {
  chunkLeft_ -= 1;
  return ReadByte();
}
uint16_t TKwPNGReadStream::chunkWord() {
  chunkLeft_ -= 2;
  return ReadWord();
}
uint32_t TKwPNGReadStream::chunkLong() {
  chunkLeft_ -= 4;
  return ReadLong();
}
void TKwPNGReadStream::chunkBlock(void* dest, int64_t count) {
  chunkLeft_ -= count;
  ReadBlock(dest, count);
}

void TKwPNGReadStream::readChunks() {
  while (!stopped_ && !atEnd_ && !seenIEND_) {
    const uint32_t length = ReadLong();
    chunkType_ = ReadLong();
    if (stopped_ || atEnd_) break;
    chunkLeft_ = length;
    const bool header = seenIHDR_ && !seenIDAT_;
    switch (chunkType_) {
      case kChunkIHDR:
        readIHDR(length);
        break;
      case kChunkPLTE:
        if (header && !seenPLTE_ &&
            (!isGray_ || (paletteWithAlphaFile_ && hasAlphaChannel_ && depth_ == 8))) {
          readPLTE(length);
        }
        break;
      case kChunkIDAT:
        if (!seenIHDR_) throw EKwPNG("Read Header(PNG): not found IHDR");
        if (!seenIDAT_) {
          seenIDAT_ = true;
          startImage();
        }
        break;
      case kChunkIEND:
        seenIEND_ = true;
        break;
      case kChunkTRNS:
        if (header && !hasAlphaChannel_) readTRNS(length);
        break;
      case kChunkBKGD:
        if (seenIHDR_) readBKGD(length);
        break;
      case kChunkSBIT:
        if (header && !seenPLTE_) readSBIT(length);
        break;
      case kChunkGAMA:
        if (header && !seenPLTE_ && length == 4) gamma_ = chunkLong() / 100000.0;
        break;
      case kChunkCHRM:
        if (header && !seenPLTE_ && length == 32 && Chromaticity) {
          for (int32_t& v : *Chromaticity) v = static_cast<int32_t>(chunkLong());
        }
        break;
      case kChunkGIFG:
        if (header && !seenPLTE_ && length == 4 && GifControl) chunkBlock(GifControl->data(), 4);
        break;
      case kChunkTIME:
        if (length == 7 && ChunkTime) {
          ChunkTime->Year = chunkWord();
          ChunkTime->Month = chunkByte();
          ChunkTime->Day = chunkByte();
          ChunkTime->Hour = chunkByte();
          ChunkTime->Minute = chunkByte();
          ChunkTime->Second = chunkByte();
        }
        break;
      case kChunkPHYS:
        if (header && length == 9) {
          ppuX_ = static_cast<int32_t>(chunkLong());
          ppuY_ = static_cast<int32_t>(chunkLong());
          unit_ = chunkByte();
        }
        break;
      case kChunkTEXT:
        readTEXT(length);
        break;
      case kChunkKWNG:
        if (header && !seenKWNG_ && length == 8) readKWNG(length);
        break;
      default:
        break;
    }
    if (chunkLeft_ > 0) Skip(chunkLeft_);
    chunkLeft_ = 0;
    ReadLong();  // the CRC, not checked
    StepProgress(Consumed());
  }
}

void TKwPNGReadStream::readIHDR(uint32_t length) {
  if (seenIHDR_) throw EKwPNG("Read Header(PNG): appear two IHDR");
  if (length != 13) return;
  const uint32_t width = chunkLong();
  const uint32_t height = chunkLong();
  const int depth = chunkByte();
  int colorType = chunkByte() & 7;
  const int compression = chunkByte();
  const int filter = chunkByte();
  const int interlace = chunkByte();
  if (atEnd_ || stopped_) return;
  if (colorType == 1 || colorType == 5 || colorType == 7) {
    throw EKwPNG("Read Header(PNG): Error ColorType");
  }
  if (colorType == 4 || colorType == 6) {
    hasAlphaChannel_ = true;
    colorType -= 4;
  }
  isGray_ = colorType == 0;
  if (compression >= 2) throw EKwPNG("Read Header(PNG): not support Compression");
  if (filter >= 2) throw EKwPNG("Read Header(PNG): not supprt Filter");
  if (interlace >= 2) throw EKwPNG("Read Header(PNG): not interlace type");
  if (width == 0 || height == 0 || width > uint32_t{kMaxDIBDimension} ||
      height > uint32_t{kMaxDIBDimension} || int64_t{width} * height > kKwPNGMaxPixels) {
    throw EKwPNG("Read Header(PNG): Error Size");
  }
  seenIHDR_ = true;
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  depth_ = depth;
  colorType_ = colorType;
  interlace_ = interlace;
  bitDepth_ = depth;
}

void TKwPNGReadStream::readPLTE(uint32_t length) {
  const int count = static_cast<int>(std::min<uint32_t>(length / 3, 256));
  for (int i = 0; i < count; ++i) {
    uint8_t rgb[3];
    chunkBlock(rgb, 3);
    palette_[i] = {rgb[2], rgb[1], rgb[0], 0};
  }
  if (atEnd_ || stopped_) return;
  paletteCount_ = count;
  seenPLTE_ = true;
}

int32_t TKwPNGReadStream::readSampleColor(uint32_t length, bool paletteIndex) {
  if (colorType_ == 0) {
    if (length != 2) return -1;
    const uint16_t v = chunkWord();
    if (paletteIndex) return static_cast<int32_t>(0x01000000u + (v & 0xFF));
    // Low depths are scaled as their grey palette is, so the colour matches
    // the entry of that grey level.
    const uint8_t grey = depth_ > 8    ? static_cast<uint8_t>(v >> 8)
                         : depth_ == 8 ? static_cast<uint8_t>(v)
                                       : scaleSample(v, depth_);
    return static_cast<int32_t>(RGBColor(grey, grey, grey));
  }
  if (length != 6) return -1;
  uint8_t c[3];
  for (uint8_t& s : c) {
    const uint16_t v = chunkWord();
    s = static_cast<uint8_t>(depth_ > 8 ? v >> 8 : v);
  }
  return static_cast<int32_t>(RGBColor(c[0], c[1], c[2]));
}

void TKwPNGReadStream::readTRNS(uint32_t length) {
  if (colorType_ == 3) {
    const int count = static_cast<int>(std::min<uint32_t>(length, paletteCount_));
    if (count == 0) return;
    chunkBlock(alphaTable_.data(), count);
    alphaFromTable_ = true;
    return;
  }
  const int32_t color = readSampleColor(length, false);
  if (color != -1 && !atEnd_) transparentColor_ = color;
}

void TKwPNGReadStream::readBKGD(uint32_t length) {
  int32_t color = -1;
  if (colorType_ == 3) {
    if (length == 1) color = static_cast<int32_t>(0x01000000u + chunkByte());
  } else {
    color = readSampleColor(length, paletteWithAlphaFile_);
  }
  if (color != -1 && !atEnd_) backgroundColor_ = color;
}

void TKwPNGReadStream::readSBIT(uint32_t length) {
  if (colorType_ == 0) return;
  const uint32_t expected = hasAlphaChannel_ ? 4 : 3;
  if (length != expected) return;
  uint8_t b[4] = {};
  chunkBlock(b, expected);
  if (atEnd_) return;
  sBit_ = static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24);
}

void TKwPNGReadStream::readTEXT(uint32_t) {
  // A keyword has at most 79 bytes; the scan never passes the chunk.
  std::string keyword;
  bool terminated = false;
  while (chunkLeft_ > 0 && keyword.size() < 80 && !atEnd_ && !stopped_) {
    const char c = static_cast<char>(chunkByte());
    if (c == 0) {
      terminated = true;
      break;
    }
    keyword.push_back(c);
  }
  if (!terminated || keyword != "Comment") return;
  if (chunkLeft_ > DataLeft()) return;  // cut short: the skip ends the read
  std::string text(static_cast<size_t>(chunkLeft_), '\0');
  chunkBlock(text.data(), static_cast<int64_t>(text.size()));
  if (atEnd_) return;
  if (!comment_.empty()) comment_ += "\r\n";
  comment_ += text;
  comment_ += "\r\n";
}

void TKwPNGReadStream::readKWNG(uint32_t) {
  uint8_t b[8];
  chunkBlock(b, 8);
  if (atEnd_ || std::memcmp(b, kPrivateTag, 4) != 0) return;
  seenKWNG_ = true;
  if (b[4] != 0) {
    rowsEncoded_ = true;
    key_ = RowKey;
    if (OnRowKey) OnRowKey(key_);
  }
  if (b[5] == 1 && PaletteAlphaFlagHonoured) paletteWithAlphaFile_ = true;
}

void TKwPNGReadStream::startImage() {
  auto oneOf = [](int v, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), v) != set.end();
  };
  int channels = 1;
  switch (colorType_) {
    case 0:
      if (!oneOf(depth_, {1, 2, 4, 8, 16})) throw EKwPNG("Read Header(PNG): Error Bitdepth");
      if (hasAlphaChannel_ && depth_ < 8) throw EKwPNG("Read Header(PNG): not Use AlphaChannel");
      bitmapBits_ = depth_ == 2 ? 4 : depth_ == 16 ? 8 : depth_;
      channels = hasAlphaChannel_ ? 2 : 1;
      break;
    case 2: {
      if (!oneOf(depth_, {8, 16})) throw EKwPNG("Read Header(PNG): Error BitDepth");
      const int32_t rgbBits = sBit_ & 0xFFFFFF;
      if (Allow16BitTarget && (rgbBits == 0x050505 || rgbBits == 0x050605)) {
        // 5,5,5 takes the 5-5-5 layout: widened 5-bit green would not
        // survive a 6-bit field.
        bitmapBits_ = rgbBits == 0x050505 ? 15 : 16;
        bitDepth_ = bitmapBits_;
      } else {
        bitmapBits_ = 24;
        bitDepth_ = 3 * depth_;
      }
      channels = hasAlphaChannel_ ? 4 : 3;
      break;
    }
    default:
      if (!oneOf(depth_, {1, 2, 4, 8})) throw EKwPNG("Read Header(PNG): Error BitDepth");
      bitmapBits_ = depth_ == 2 ? 4 : depth_;
      break;
  }
  pngBitsPerPixel_ = depth_ * channels;
  colorBits_ = pngBitsPerPixel_;
  if (!target_) return;
  if (!inflater_.Open([this](uint8_t* dest, size_t max) { return refill(dest, max); })) {
    throw EKwPNG("PNG LoadStream: Error ZLIB");
  }
  SetupTarget();
  chooseConverter();
  readImage();
}

void TKwPNGReadStream::SetupTarget() {
  if (isGray_ && !paletteWithAlphaFile_ && bitmapBits_ <= 8) {
    paletteCount_ = MakeGreyPalette(depth_, palette_.data());
  }
  if (alphaFromTable_) {
    int zeros = 0, zeroIndex = 0;
    bool binary = true;
    for (int i = 0; i < 256; ++i) {
      if (alphaTable_[i] == 0) {
        if (zeros++ == 0) zeroIndex = i;
      } else if (alphaTable_[i] != 255) {
        binary = false;
      }
    }
    if (binary && zeros == 1) {
      transparentColor_ = static_cast<int32_t>(0x01000000 + zeroIndex);
    } else {
      transparentColor_ = -1;
      paletteAlpha_ = true;
    }
  }
  TKwCustomGraphicReadStream::SetupTarget();
  if ((hasAlphaChannel_ || paletteAlpha_) && maskTarget_) {
    maskTarget_->Clear();
    MakeGreyPalette(8, maskTarget_->ColorTable().data());
    maskTarget_->SetSize(width_, height_, 8);
    maskTarget_->UpdatePalette();
  }
}

void TKwPNGReadStream::chooseConverter() {
  const bool alpha = hasAlphaChannel_;
  if (colorType_ == 2) {
    const bool wide = depth_ == 16;
    if (bitmapBits_ == 15) {
      convert_ = wide ? (alpha ? rgbToWord<15, 2, true> : rgbToWord<15, 2, false>)
                      : (alpha ? rgbToWord<15, 1, true> : rgbToWord<15, 1, false>);
    } else if (bitmapBits_ == 16) {
      convert_ = wide ? (alpha ? rgbToWord<16, 2, true> : rgbToWord<16, 2, false>)
                      : (alpha ? rgbToWord<16, 1, true> : rgbToWord<16, 1, false>);
    } else {
      convert_ = wide ? (alpha ? rgbToBGR<2, true> : rgbToBGR<2, false>)
                      : (alpha ? rgbToBGR<1, true> : rgbToBGR<1, false>);
#if defined(__x86_64__) || defined(__i386__)
      if (!wide && __builtin_cpu_supports("ssse3")) {
        convert_ = alpha ? rgbaToBGRShuffled : rgbToBGRShuffled;
      }
#endif
    }
    return;
  }
  switch (depth_) {
    case 1:
      convert_ = copyPacked<1>;
      break;
    case 2:
      convert_ = twoBitToFour;
      break;
    case 4:
      convert_ = copyPacked<4>;
      break;
    case 8:
      convert_ = alpha ? greyToEight<1, true> : copyPacked<8>;
      break;
    default:
      convert_ = alpha ? greyToEight<2, true> : greyToEight<2, false>;
      break;
  }
}

size_t TKwPNGReadStream::refill(uint8_t* dest, size_t max) {
  while (chunkLeft_ == 0) {
    ReadLong();  // CRC of the chunk just used up
    const uint32_t length = ReadLong();
    const uint32_t type = ReadLong();
    if (stopped_ || atEnd_) return 0;
    if (type != kChunkIDAT) throw EKwPNG("Read Image (PNG): Read Error");
    chunkLeft_ = length;
  }
  if (stopped_ || atEnd_) return 0;
  // A chunk that claims more than the file holds gives what is there.
  const int64_t count = std::min({static_cast<int64_t>(max), chunkLeft_, DataLeft()});
  if (count <= 0) {
    atEnd_ = true;
    return 0;
  }
  chunkBlock(dest, count);
  return atEnd_ ? 0 : static_cast<size_t>(count);
}

void TKwPNGReadStream::readImage() {
  const size_t maxRowBytes = (static_cast<size_t>(width_) * pngBitsPerPixel_ + 7) / 8;
  const int storageBits = bitmapBits_ == 15 ? 16 : bitmapBits_;
  const size_t bitmapRowBytes = static_cast<size_t>(DIBRowStride(width_, storageBits));
  rowStorage_.assign(2 * (maxRowBytes + 1) + bitmapRowBytes + static_cast<size_t>(width_), 0);
  uint8_t* current = rowStorage_.data();
  uint8_t* previous = current + maxRowBytes + 1;
  uint8_t* converted = previous + maxRowBytes + 1;
  uint8_t* maskRow = converted + bitmapRowBytes;
  TDIB* mask = hasAlphaChannel_ && maskTarget_ ? maskTarget_ : nullptr;
  const int bytesPerPixel = (pngBitsPerPixel_ + 7) / 8;
  const bool hook = rowsEncoded_ && !key_.empty() && OnDecodeRow;

  const auto passes = AdamPasses(interlace_ != 0);
  int64_t totalRows = 0;
  for (const TKwPNGPass& p : passes) {
    if (PassSize(width_, p.X0, p.DX) > 0) totalRows += PassSize(height_, p.Y0, p.DY);
  }
  BeginProgressPhase(98, totalRows);
  int64_t rowsDone = 0;
  for (const TKwPNGPass& p : passes) {
    const int passWidth = PassSize(width_, p.X0, p.DX);
    const int passHeight = PassSize(height_, p.Y0, p.DY);
    if (passWidth == 0 || passHeight == 0) continue;
    const size_t rowBytes = (static_cast<size_t>(passWidth) * pngBitsPerPixel_ + 7) / 8;
    std::memset(previous + 1, 0, rowBytes);
    for (int r = 0; r < passHeight; ++r) {
      switch (inflater_.Read(current, rowBytes + 1)) {
        case TKwInflater::Result::Ok:
          break;
        case TKwInflater::Result::NoInput:
          return;
        case TKwInflater::Result::Error:
          throw EKwPNG("Read Image (PNG): Read Error");
      }
      if (!UnfilterRow(current[0], current + 1, previous + 1, rowBytes, bytesPerPixel)) {
        throw EKwPNG("Read Image (PNG): Read Error");
      }
      if (hook) {
        std::memcpy(previous + 1, current + 1, rowBytes);
        OnDecodeRow(current + 1, static_cast<int>(rowBytes), r, key_);
      }
      const int y = p.Y0 + r * p.DY;
      if (p.DX == 1) {
        // Whole rows go straight into the bitmap and the mask.
        convert_(current + 1, target_->ScanLine(y), mask ? mask->ScanLine(y) : maskRow, passWidth);
      } else {
        convert_(current + 1, converted, maskRow, passWidth);
        placePixels(storageBits, converted, target_->ScanLine(y), p.X0, p.DX, passWidth);
        if (mask) placePixels(8, maskRow, mask->ScanLine(y), p.X0, p.DX, passWidth);
      }
      if (!hook) std::swap(current, previous);
      ++rowsDone;
      if (height_ < 4 || rowsDone % 4 == 0) StepProgress(rowsDone);
      if (stopped_) return;
    }
  }
  imageDone_ = true;
  inflater_.Close();
  BeginProgressPhase(100, 1);
}

void TKwPNGReadStream::buildPaletteMask() {
  for (int y = 0; y < height_ && y < target_->Height(); ++y) {
    uint8_t* m = maskTarget_->ScanLine(y);
    for (int x = 0; x < width_; ++x) {
      m[x] = static_cast<uint8_t>(255 - alphaTable_[target_->GetRawPixel(x, y) & 0xFF]);
    }
  }
}

}  // namespace zirk
