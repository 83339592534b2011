// The PNG writer.

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>

#include "imaging/KwPNGCommon.h"
#include "imaging/KwPNGStream.h"
#include "imaging/SFunc.h"

namespace zirk {

namespace {

constexpr char kSoftware[] = "KwPNG ver 3.4";

template <int Bits>
inline uint32_t indexAt(const uint8_t* row, int x) {
  if constexpr (Bits == 8) {
    return row[x];
  } else if constexpr (Bits == 4) {
    return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
  } else {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

// `out` is zeroed first for the packed depths.
template <int Bits>
inline void putIndex(uint8_t* out, int k, uint32_t v) {
  if constexpr (Bits == 8) {
    out[k] = static_cast<uint8_t>(v);
  } else if constexpr (Bits == 4) {
    out[k >> 1] = static_cast<uint8_t>(out[k >> 1] | (v & 15) << ((k & 1) ? 0 : 4));
  } else {
    out[k >> 3] = static_cast<uint8_t>(out[k >> 3] | (v & 1) << (7 - (k & 7)));
  }
}

struct Channels {
  int r, g, b;
};

// 15 and 16 are the 5-5-5 and 5-6-5 layouts; 24 and 32 B, G, R(, X).
template <int Kind>
inline Channels channelsAt(const uint8_t* row, int x) {
  if constexpr (Kind == 15 || Kind == 16) {
    const uint32_t v = row[2 * x] | row[2 * x + 1] << 8;
    const auto& f = Kind == 15 ? kPixelFormat555 : kPixelFormat565;
    const TRGBChannels c = UnpackDIBPixel(f, v);
    return {c.r, c.g, c.b};
  } else {
    const uint8_t* p = row + static_cast<size_t>(x) * (Kind / 8);
    return {p[2], p[1], p[0]};
  }
}

template <int Kind, bool Grey, bool Alpha>
void convertTrueColor(const uint8_t* src, const uint8_t* mask, int x0, int step, int count,
                      uint8_t* out) {
  for (int k = 0, x = x0; k < count; ++k, x += step) {
    const Channels c = channelsAt<Kind>(src, x);
    if constexpr (Grey) {
      *out++ = static_cast<uint8_t>(GreyLevel256(c.r, c.g, c.b) >> 8);
    } else {
      *out++ = static_cast<uint8_t>(c.r);
      *out++ = static_cast<uint8_t>(c.g);
      *out++ = static_cast<uint8_t>(c.b);
    }
    if constexpr (Alpha) *out++ = static_cast<uint8_t>(255 - mask[x]);
  }
}

template <int Kind>
void convertTrueColorKind(bool grey, bool alpha, const uint8_t* src, const uint8_t* mask, int x0,
                          int step, int count, uint8_t* out) {
  if (grey) {
    alpha ? convertTrueColor<Kind, true, true>(src, mask, x0, step, count, out)
          : convertTrueColor<Kind, true, false>(src, mask, x0, step, count, out);
  } else {
    alpha ? convertTrueColor<Kind, false, true>(src, mask, x0, step, count, out)
          : convertTrueColor<Kind, false, false>(src, mask, x0, step, count, out);
  }
}

// Indexed sources: the index, or its grey level, packed at the source depth
// or followed by an alpha byte.
template <int Bits>
void convertIndexed(const uint8_t* src, const uint8_t* mask, int x0, int step, int count,
                    const uint8_t* map, bool alpha, uint8_t* out) {
  if (alpha) {
    for (int k = 0, x = x0; k < count; ++k, x += step) {
      const uint32_t i = indexAt<Bits>(src, x);
      *out++ = map ? map[i] : static_cast<uint8_t>(i);
      *out++ = static_cast<uint8_t>(255 - mask[x]);
    }
    return;
  }
  if (!map && step == 1 && x0 == 0) {
    std::memcpy(out, src, (static_cast<size_t>(count) * Bits + 7) / 8);
    return;
  }
  std::memset(out, 0, (static_cast<size_t>(count) * Bits + 7) / 8);
  for (int k = 0, x = x0; k < count; ++k, x += step) {
    const uint32_t i = indexAt<Bits>(src, x);
    putIndex<Bits>(out, k, map ? map[i] : i);
  }
}

void putBE16(std::vector<uint8_t>& out, int v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void putBE32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

}  // namespace

// --- TKwCustomGraphicWriteStream ---

int TKwCustomGraphicWriteStream::Progress(int percent) {
  if (source_) {
    const TProgressStage stage = percent <= 0     ? TProgressStage::psStarting
                                 : percent >= 100 ? TProgressStage::psEnding
                                                  : TProgressStage::psRunning;
    source_->Progress(stage, std::min(percent, 100), false, std::string());
  }
  return 0;
}

// --- TKwPNGWriteStream ---

TKwPNGWriteStream::TKwPNGWriteStream() = default;
TKwPNGWriteStream::~TKwPNGWriteStream() = default;

void TKwPNGWriteStream::writeChunk(const char* type, const uint8_t* data, size_t size) {
  WriteLong(static_cast<uint32_t>(size));
  WriteBlock(type, 4);
  WriteBlock(data, static_cast<int64_t>(size));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  WriteLong(static_cast<uint32_t>(crc));
}

void TKwPNGWriteStream::Write(TDIB& source, TKwStream& dest) {
  if (IdatSize < 256 || IdatSize > 100000) {
    throw EKwPNG("Write PNG Param: Err IDAT Size(min:256  max:100000)");
  }
  if (source.GetEmpty()) throw EKwPNG("Write PNG Param: Empty Image");
  source_ = &source;
  BeginDest(dest);

  switch (source.BitCount()) {
    case 1:
    case 4:
    case 8:
    case 32:
      sourceBits_ = source.BitCount();
      break;
    case 16:
      sourceBits_ = source.Is555() ? 15 : 16;
      break;
    default:
      sourceBits_ = 24;
      break;
  }
  outputBits_ = sourceBits_ == 15 || sourceBits_ == 16 ? 24 : sourceBits_;
  maskUsed_ = Mask && Mask != &source && !Mask->GetEmpty() && Mask->Width() == source.Width() &&
              Mask->Height() == source.Height() && Mask->BitCount() == 8;
  paletteWithAlpha_ = PaletteAlphaMode && sourceBits_ == 8 && maskUsed_ && !GrayScale;
  paletteEntries_ = source.ColorTable().data();
  paletteCount_ = 0;
  if (sourceBits_ <= 8) {
    paletteCount_ = source.ColorTableSize();
    if (PaletteCount >= 0) paletteCount_ = std::min(PaletteCount, paletteCount_);
  }
  greyWritten_ = GrayScale;
  if (GrayScale || paletteWithAlpha_) {
    pngDepth_ = outputBits_ <= 8 ? outputBits_ : 8;
    if (maskUsed_ && pngDepth_ == 8) {
      pngColorType_ = 4;
      pngBitsPerPixel_ = 16;
    } else {
      pngColorType_ = 0;
      pngBitsPerPixel_ = pngDepth_;
    }
  } else if (outputBits_ <= 8) {
    pngDepth_ = outputBits_;
    pngColorType_ = 3;
    pngBitsPerPixel_ = pngDepth_;
  } else {
    pngDepth_ = 8;
    pngColorType_ = maskUsed_ ? 6 : 2;
    pngBitsPerPixel_ = maskUsed_ ? 32 : 24;
  }
  alphaWritten_ = pngColorType_ == 4 || pngColorType_ == 6;

  BeginProgressPhase(30, 10);
  StepProgress(0);
  if (WriteSignature) WriteBlock(kPNGSignature, 8);
  writeHeader();
  StepProgress(1);
  writeTime();
  StepProgress(2);
  writeText("Comment", Comment);
  writeText("Software", kSoftware);
  StepProgress(3);
  writePrivate();
  StepProgress(4);
  writeSmallChunks();
  StepProgress(7);
  writePalette();
  StepProgress(8);
  writeBackgroundAndTransparency();
  StepProgress(9);
  if (PixelsPerUnitX >= 1 && PixelsPerUnitY >= 1 && PhysUnit >= 0 && PhysUnit <= 2) {
    uint32_t x = static_cast<uint32_t>(PixelsPerUnitX), y = static_cast<uint32_t>(PixelsPerUnitY);
    uint8_t unit = static_cast<uint8_t>(PhysUnit);
    if (PhysUnit == 2) {
      // PNG integers stop at 2^31 - 1; larger densities are held there.
      auto perMetre = [](int32_t dpi) {
        return static_cast<uint32_t>(std::min(std::trunc(dpi * 100.0 / 254 * 100), 2147483647.0));
      };
      x = perMetre(PixelsPerUnitX);
      y = perMetre(PixelsPerUnitY);
      unit = 1;
    }
    uint8_t data[9];
    putBE32(data, x);
    putBE32(data + 4, y);
    data[8] = unit;
    writeChunk("pHYs", data, 9);
  }
  StepProgress(10);
  if (!stopped_) writeImage();
  if (!stopped_) writeChunk("IEND", nullptr, 0);
  Flush();
  if (stopped_) throw EKwPNG("Write Image (PNG): Stopped");
  CompleteProgress();
}

void TKwPNGWriteStream::writeHeader() {
  uint8_t data[13];
  putBE32(data, static_cast<uint32_t>(source_->Width()));
  putBE32(data + 4, static_cast<uint32_t>(source_->Height()));
  data[8] = static_cast<uint8_t>(pngDepth_);
  data[9] = static_cast<uint8_t>(pngColorType_);
  data[10] = 0;
  data[11] = 0;
  data[12] = Interlaced ? 1 : 0;
  writeChunk("IHDR", data, 13);
}

void TKwPNGWriteStream::writeTime() {
  TKwPNGTime t;
  if (WriteCurrentTime) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    t = {static_cast<uint16_t>(utc.tm_year + 1900), static_cast<uint8_t>(utc.tm_mon + 1),
         static_cast<uint8_t>(utc.tm_mday),         static_cast<uint8_t>(utc.tm_hour),
         static_cast<uint8_t>(utc.tm_min),          static_cast<uint8_t>(utc.tm_sec)};
  } else if (ChunkTime) {
    t = *ChunkTime;
  } else {
    return;
  }
  if (t.Year == 0 || t.Month < 1 || t.Month > 12 || t.Day < 1 || t.Day > 31 || t.Hour >= 24 ||
      t.Minute >= 60 || t.Second >= 61) {
    return;
  }
  const uint8_t data[7] = {static_cast<uint8_t>(t.Year >> 8),
                           static_cast<uint8_t>(t.Year),
                           t.Month,
                           t.Day,
                           t.Hour,
                           t.Minute,
                           t.Second};
  writeChunk("tIME", data, 7);
}

void TKwPNGWriteStream::writeText(const std::string& keyword, const std::string& text) {
  if (text.empty() || keyword.size() >= 80) return;
  std::vector<uint8_t> data(keyword.begin(), keyword.end());
  data.push_back(0);
  data.insert(data.end(), text.begin(), text.end());
  writeChunk("tEXt", data.data(), data.size());
}

void TKwPNGWriteStream::writePrivate() {
  uint8_t data[8] = {};
  std::memcpy(data, kPrivateTag, 4);
  data[4] = !RowKey.empty() && OnEncodeRow ? 1 : 0;
  data[5] = paletteWithAlpha_ ? 1 : 0;
  writeChunk("kwNG", data, 8);
}

void TKwPNGWriteStream::writeSmallChunks() {
  if (GifControl && ((*GifControl)[0] || (*GifControl)[1] || (*GifControl)[2])) {
    writeChunk("gIFg", GifControl->data(), 4);
  }
  const double gamma = std::nearbyint(Gamma * 100000);
  if (gamma >= 1 && gamma <= 0xFFFFFFFF) {
    uint8_t data[4];
    putBE32(data, static_cast<uint32_t>(gamma));
    writeChunk("gAMA", data, 4);
  }
  if (Chromaticity && (*Chromaticity)[0] != 0 && (*Chromaticity)[1] > 0) {
    uint8_t data[32];
    for (int i = 0; i < 8; ++i) putBE32(data + 4 * i, static_cast<uint32_t>((*Chromaticity)[i]));
    writeChunk("cHRM", data, 32);
  }
  if (!greyWritten_) {
    uint8_t bits[4] = {};
    if (sourceBits_ == 15 || sourceBits_ == 16) {
      bits[0] = 5;
      bits[1] = sourceBits_ == 15 ? 5 : 6;
      bits[2] = 5;
      bits[3] = 8;
    } else if (SignificantBits >= 1) {
      for (int i = 0; i < 4; ++i) bits[i] = static_cast<uint8_t>(SignificantBits >> (8 * i));
    } else {
      return;
    }
    writeChunk("sBIT", bits, alphaWritten_ ? 4 : 3);
  }
}

void TKwPNGWriteStream::writePalette() {
  if (!((outputBits_ <= 8 && !greyWritten_) || paletteWithAlpha_) || paletteCount_ <= 0) return;
  std::vector<uint8_t> data;
  for (int i = 0; i < paletteCount_; ++i) {
    data.push_back(paletteEntries_[i].rgbRed);
    data.push_back(paletteEntries_[i].rgbGreen);
    data.push_back(paletteEntries_[i].rgbBlue);
  }
  writeChunk("PLTE", data.data(), data.size());
}

std::vector<uint8_t> TKwPNGWriteStream::colorSample(int32_t color, bool forTransparency) {
  std::vector<uint8_t> out;
  uint32_t c = static_cast<uint32_t>(color);
  if (greyWritten_) {
    if (IsPaletteIndexColor(color) && sourceBits_ <= 8) {
      c = QuadToColor(paletteEntries_[c & 0xFF]);
    }
    int level = GreyLevel256(ColorR(c), ColorG(c), ColorB(c)) >> 8;
    if (sourceBits_ == 1) level = level > 127 ? 1 : 0;
    if (sourceBits_ == 4) level >>= 4;
    putBE16(out, level);
  } else if (sourceBits_ > 8) {
    putBE16(out, ColorR(c));
    putBE16(out, ColorG(c));
    putBE16(out, ColorB(c));
  } else if (paletteCount_ > 0) {
    const int index = IsPaletteIndexColor(color)
                          ? static_cast<int>(c & 0xFF)
                          : NearestPaletteEntry(paletteEntries_, paletteCount_, c & 0xFFFFFF);
    if (forTransparency) {
      out.assign(static_cast<size_t>(index) + 1, 255);
      out.back() = 0;
    } else {
      out.push_back(static_cast<uint8_t>(index));
    }
  }
  return out;
}

void TKwPNGWriteStream::writeBackgroundAndTransparency() {
  if (BackgroundColor != -1) {
    const std::vector<uint8_t> data = colorSample(BackgroundColor, false);
    if (!data.empty()) writeChunk("bKGD", data.data(), data.size());
  }
  if (!alphaWritten_ && TransparentColor != -1) {
    const std::vector<uint8_t> data = colorSample(TransparentColor, true);
    if (!data.empty()) writeChunk("tRNS", data.data(), data.size());
  }
}

void TKwPNGWriteStream::buildGreyMap() {
  greyInvert_ = false;
  for (int i = 0; i < 256; ++i) greyMap_[i] = static_cast<uint8_t>(i);
  if (!greyWritten_ || sourceBits_ > 8 || paletteCount_ == 0) return;
  auto lum = [this](int i) {
    const TRGBQuad& q = paletteEntries_[i];
    return GreyLevel256(q.rgbRed, q.rgbGreen, q.rgbBlue);
  };
  if (sourceBits_ == 1) {
    greyInvert_ = paletteCount_ >= 2 && lum(0) > lum(1);
    return;
  }
  const int shift = sourceBits_ == 4 ? 12 : 8;
  for (int i = 0; i < paletteCount_; ++i) greyMap_[i] = static_cast<uint8_t>(lum(i) >> shift);
}

void TKwPNGWriteStream::convertRow(int y, int startX, int step, int count, uint8_t* out) {
  const uint8_t* src = source_->ScanLine(y);
  const uint8_t* mask = maskUsed_ ? Mask->ScanLine(y) : nullptr;
  const bool greyMapped = greyWritten_ && sourceBits_ <= 8 && paletteCount_ > 0;
  switch (sourceBits_) {
    case 1: {
      convertIndexed<1>(src, nullptr, startX, step, count, nullptr, false, out);
      if (greyWritten_ && greyInvert_) {
        for (size_t i = 0; i < (static_cast<size_t>(count) + 7) / 8; ++i) out[i] ^= 0xFF;
      }
      break;
    }
    case 4:
      convertIndexed<4>(src, nullptr, startX, step, count, greyMapped ? greyMap_.data() : nullptr,
                        false, out);
      break;
    case 8:
      convertIndexed<8>(src, mask, startX, step, count, greyMapped ? greyMap_.data() : nullptr,
                        alphaWritten_, out);
      break;
    case 15:
      convertTrueColorKind<15>(greyWritten_, alphaWritten_, src, mask, startX, step, count, out);
      break;
    case 16:
      convertTrueColorKind<16>(greyWritten_, alphaWritten_, src, mask, startX, step, count, out);
      break;
    case 32:
      convertTrueColorKind<32>(greyWritten_, alphaWritten_, src, mask, startX, step, count, out);
      break;
    default:
      convertTrueColorKind<24>(greyWritten_, alphaWritten_, src, mask, startX, step, count, out);
      break;
  }
}

void TKwPNGWriteStream::writeImage() {
  buildGreyMap();
  TKwDeflater deflater;
  if (!deflater.Open(
          CompressionLevel, static_cast<size_t>(IdatSize),
          [this](const uint8_t* data, size_t size) { writeChunk("IDAT", data, size); })) {
    throw EKwPNG("Write Image (PNG): Write Error");
  }
  const int width = source_->Width(), height = source_->Height();
  const size_t maxRowBytes = (static_cast<size_t>(width) * pngBitsPerPixel_ + 7) / 8;
  filter_.Setup(FilterMode, pngBitsPerPixel_, sourceBits_, maxRowBytes);
  const bool hook = !RowKey.empty() && OnEncodeRow;

  const auto passes = AdamPasses(Interlaced);
  int64_t totalRows = 0;
  for (const TKwPNGPass& p : passes) {
    if (PassSize(width, p.X0, p.DX) > 0) totalRows += PassSize(height, p.Y0, p.DY);
  }
  BeginProgressPhase(98, totalRows);
  int64_t rowsDone = 0;
  for (const TKwPNGPass& p : passes) {
    const int passWidth = PassSize(width, p.X0, p.DX);
    const int passHeight = PassSize(height, p.Y0, p.DY);
    if (passWidth == 0 || passHeight == 0) continue;
    const size_t rowBytes = (static_cast<size_t>(passWidth) * pngBitsPerPixel_ + 7) / 8;
    filter_.ClearPrevious();
    for (int r = 0; r < passHeight && !stopped_; ++r) {
      convertRow(p.Y0 + r * p.DY, p.X0, p.DX, passWidth, filter_.Current());
      if (hook) OnEncodeRow(filter_.Current(), static_cast<int>(rowBytes), r, RowKey);
      if (!deflater.Write(filter_.Filter(rowBytes), rowBytes + 1)) {
        throw EKwPNG("Write Image (PNG): Write Error");
      }
      filter_.NextRow();
      ++rowsDone;
      if (height < 4 || rowsDone % 4 == 0) StepProgress(rowsDone);
    }
    if (stopped_) return;
  }
  if (!deflater.Finish()) throw EKwPNG("Write Image (PNG): Write Error");
  BeginProgressPhase(100, 1);
}

}  // namespace zirk
