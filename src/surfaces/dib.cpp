#include "surfaces/dib.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kMaxInfoHeaderSize = 1024;  // V5 is 124; more is not a bitmap
constexpr int64_t kFileHeaderSize = 14;

const char kInvalidBitmap[] = "Bitmap image is not valid";

[[noreturn]] void invalidBitmap(const std::string& why) {
  throw EInvalidGraphic(std::string(kInvalidBitmap) + ": " + why);
}

void checkDimensions(int width, int height, int storageBits) {
  if (width < 0 || height < 0 || width > kMaxDIBDimension || height > kMaxDIBDimension) {
    throw EOutOfResources("Bitmap dimensions out of range: " + std::to_string(width) + " x " +
                          std::to_string(height));
  }
  int64_t rowBytes = (int64_t{width} * storageBits + 31) / 32 * 4;
  if (rowBytes * height > kMaxDIBBytes) {
    throw EOutOfResources("Bitmap too large: " + std::to_string(width) + " x " +
                          std::to_string(height) + " at " + std::to_string(storageBits) + " bits");
  }
}

TDIBPixelFormat layoutForBitCount(int bitCount) {
  if (bitCount == 15) return kPixelFormat555;
  if (bitCount == 16) return kPixelFormat565;
  return kPixelFormat888;
}

// Every 8-bit channel difference |a - b| for a - b in -255..255, indexed by
// the difference taken as a 9-bit two's-complement value.
struct AbsTable {
  std::array<uint16_t, 512> v{};
  AbsTable() {
    for (int i = 0; i < 512; ++i) {
      int d = i < 256 ? i : i - 512;
      v[i] = static_cast<uint16_t>(d < 0 ? -d : d);
    }
  }
};

// Fixed colour sets used when a picture going down to 8 bits or less has
// more colours than fit.
std::vector<uint32_t> spreadPalette(int bits) {
  std::vector<uint32_t> colors;
  if (bits == 1) return {RGBColor(0, 0, 0), RGBColor(255, 255, 255)};
  if (bits == 4) {
    static const uint8_t vga[16][3] = {
        {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
        {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
        {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
    for (const auto& c : vga) colors.push_back(RGBColor(c[0], c[1], c[2]));
    return colors;
  }
  // 6 x 6 x 6 cube plus 40 greys between its grey steps.
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) colors.push_back(RGBColor(r * 51, g * 51, b * 51));
  for (int i = 0; colors.size() < 256; ++i) {
    int level = 6 + i * 6;
    if (level % 51 == 0) level += 3;
    colors.push_back(RGBColor(level, level, level));
  }
  return colors;
}

// Reads a contiguous channel mask as (shift, bit count); false when the mask
// is empty or has holes.
bool maskChannel(uint32_t mask, int& shift, int& bits) {
  if (mask == 0) return false;
  shift = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++shift;
  }
  bits = 0;
  while (mask & 1u) {
    mask >>= 1;
    ++bits;
  }
  return mask == 0;
}

uint8_t maskedChannel(uint32_t pixel, int shift, int bits) {
  uint32_t v = (pixel >> shift) & (bits >= 32 ? 0xFFFFFFFFu : ((1u << bits) - 1));
  if (bits >= 8) return static_cast<uint8_t>(v >> (bits - 8));
  return ExpandChannel(v, bits);
}

uint32_t readU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t readU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void putU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

int DIBStorageBitCount(int bitCount) {
  switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      return bitCount;
    case 15:
      return 16;
    default:
      throw EInvalidGraphicOperation("Unsupported bit count: " + std::to_string(bitCount));
  }
}

int DIBRowBytes(int width, int bitCount) {
  int bits = DIBStorageBitCount(bitCount);
  checkDimensions(width, 0, bits);
  return static_cast<int>((int64_t{width} * bits + 31) / 32 * 4);
}

int NearestPaletteIndex(const TRGBQuad* entries, int count, uint32_t color) {
  static const AbsTable table;
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (int i = 0; i < count; ++i) {
    const TRGBQuad& e = entries[i];
    int d = table.v[(e.rgbRed - ColorR(color)) & 511] +
            table.v[(e.rgbGreen - ColorG(color)) & 511] +
            table.v[(e.rgbBlue - ColorB(color)) & 511];
    if (d == 0) return i;
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

uint32_t TDIBCanvas::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= dib_->Width() || y >= dib_->Height()) return CLR_INVALID;
  return dib_->PixelToColor(dib_->GetRawPixel(x, y));
}

uint32_t DIBGetPixel(const TDIB& dib, int x, int y) {
  if (x < 0 || y < 0 || x >= dib.Width() || y >= dib.Height()) return 0;
  return dib.GetRawPixel(x, y);
}

void DIBSetPixel(TDIB& dib, int x, int y, uint32_t value) {
  if (x < 0 || y < 0 || x >= dib.Width() || y >= dib.Height()) return;
  dib.SetRawPixel(x, y, value);
}

// --- TDIB ---

TDIB::TDIB() = default;

TDIB::TDIB(int width, int height, int bitCount) {
  SetSize(width, height, bitCount);
}

TDIB::~TDIB() = default;

void TDIB::reallocate(int width, int height, int storageBits, const TDIBPixelFormat& format) {
  checkDimensions(width, height, storageBits);
  int rowBytes = static_cast<int>((int64_t{width} * storageBits + 31) / 32 * 4);
  std::vector<uint8_t> pixels(static_cast<size_t>(rowBytes) * height);
  pixels_ = std::move(pixels);
  width_ = width;
  height_ = height;
  bitCount_ = storageBits;
  rowBytes_ = rowBytes;
  format_ = format;
}

void TDIB::SetSize(int width, int height, int bitCount) {
  int bits = DIBStorageBitCount(bitCount);
  reallocate(width, height, bits, layoutForBitCount(bitCount));
  Changed();
}

void TDIB::Clear() {
  pixels_.clear();
  pixels_.shrink_to_fit();
  width_ = height_ = rowBytes_ = 0;
  Changed();
}

void TDIB::SetPixelFormat(const TDIBPixelFormat& format) {
  if (bitCount_ == 16 && (format == kPixelFormat555 || format == kPixelFormat565)) {
    format_ = format;
  }
}

void TDIB::SetWidth(int value) {
  if (value == width_) return;
  TDIB old;
  old.copyPixelsFrom(*this);
  reallocate(value, height_, bitCount_, format_);
  copyOverlapFrom(old);
  Changed();
}

void TDIB::SetHeight(int value) {
  if (value == height_) return;
  TDIB old;
  old.copyPixelsFrom(*this);
  reallocate(width_, value, bitCount_, format_);
  copyOverlapFrom(old);
  Changed();
}

int TDIB::ColorTableSize() const {
  return bitCount_ <= 8 ? 1 << bitCount_ : 0;
}

void TDIB::UpdatePalette() {
  Changed();
}

std::vector<TRGBQuad> TDIB::GetPalette() const {
  return {colorTable_.begin(), colorTable_.begin() + ColorTableSize()};
}

void TDIB::SetPalette(const std::vector<TRGBQuad>& entries) {
  std::copy_n(entries.begin(), std::min<size_t>(entries.size(), colorTable_.size()),
              colorTable_.begin());
  Changed();
}

uint8_t* TDIB::ScanLine(int y) {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  return pixels_.data() + static_cast<size_t>(y) * rowBytes_;
}

const uint8_t* TDIB::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
  return pixels_.data() + static_cast<size_t>(y) * rowBytes_;
}

uint32_t TDIB::GetRawPixel(int x, int y) const {
  assert(x >= 0 && y >= 0 && x < width_ && y < height_);
  const uint8_t* row = pixels_.data() + static_cast<size_t>(y) * rowBytes_;
  switch (bitCount_) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15u;
    case 8:
      return row[x];
    case 16:
      return readU16(row + 2 * x);
    case 24: {
      const uint8_t* p = row + 3 * x;
      return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    }
    default:
      return readU32(row + 4 * x);
  }
}

void TDIB::SetRawPixel(int x, int y, uint32_t value) {
  assert(x >= 0 && y >= 0 && x < width_ && y < height_);
  uint8_t* row = pixels_.data() + static_cast<size_t>(y) * rowBytes_;
  switch (bitCount_) {
    case 1: {
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      row[x >> 3] = static_cast<uint8_t>((value & 1) ? row[x >> 3] | bit : row[x >> 3] & ~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | (value & 15))
                  : static_cast<uint8_t>((b & 0x0F) | ((value & 15) << 4));
      break;
    }
    case 8:
      row[x] = static_cast<uint8_t>(value);
      break;
    case 16:
      row[2 * x] = static_cast<uint8_t>(value);
      row[2 * x + 1] = static_cast<uint8_t>(value >> 8);
      break;
    case 24:
      row[3 * x] = static_cast<uint8_t>(value);
      row[3 * x + 1] = static_cast<uint8_t>(value >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(value >> 16);
      break;
    default:
      for (int i = 0; i < 4; ++i) row[4 * x + i] = static_cast<uint8_t>(value >> (8 * i));
      break;
  }
}

uint32_t TDIB::PixelToColor(uint32_t pixel) const {
  if (bitCount_ <= 8) return QuadToColor(colorTable_[pixel & 255]);
  return LayoutPixelToColor(format_, pixel);
}

uint32_t TDIB::ColorToPixel(uint32_t color) const {
  if (bitCount_ <= 8) {
    return static_cast<uint32_t>(NearestPaletteIndex(colorTable_.data(), ColorTableSize(), color));
  }
  return ColorToLayoutPixel(format_, color);
}

bool TDIB::SameLayout(const TDIB& other) const {
  if (bitCount_ != other.bitCount_) return false;
  if (bitCount_ <= 8) {
    return std::equal(colorTable_.begin(), colorTable_.begin() + ColorTableSize(),
                      other.colorTable_.begin());
  }
  return format_ == other.format_;
}

void TDIB::copyPixelsFrom(const TDIB& other) {
  if (&other == this) return;
  width_ = other.width_;
  height_ = other.height_;
  bitCount_ = other.bitCount_;
  rowBytes_ = other.rowBytes_;
  format_ = other.format_;
  pixels_ = other.pixels_;
  colorTable_ = other.colorTable_;
}

void TDIB::copyOverlapFrom(const TDIB& old) {
  int w = std::min(width_, old.width_);
  int h = std::min(height_, old.height_);
  colorTable_ = old.colorTable_;
  for (int y = 0; y < h; ++y) {
    if (bitCount_ >= 8) {
      std::memcpy(ScanLine(y), old.ScanLine(y), static_cast<size_t>(w) * (bitCount_ / 8));
    } else {
      for (int x = 0; x < w; ++x) SetRawPixel(x, y, old.GetRawPixel(x, y));
    }
  }
}

void TDIB::SetBitCount(int bitCount) {
  int bits = DIBStorageBitCount(bitCount);
  TDIBPixelFormat format = layoutForBitCount(bitCount);
  if (bits == bitCount_ && (bits <= 8 || format == format_)) return;

  TDIB target;
  target.reallocate(width_, height_, bits, format);
  target.colorTable_ = colorTable_;

  if (bits <= 8) {
    int slots = 1 << bits;
    bool indicesFit = bitCount_ <= 8;
    std::unordered_set<uint32_t> used;
    bool tableHoldsAll = true;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        uint32_t raw = GetRawPixel(x, y);
        if (indicesFit && raw >= static_cast<uint32_t>(slots)) indicesFit = false;
        uint32_t c = PixelToColor(raw);
        if (used.size() <= 256 && used.insert(c).second && tableHoldsAll) {
          int i = NearestPaletteIndex(colorTable_.data(), slots, c);
          tableHoldsAll = QuadToColor(colorTable_[i]) == c;
        }
      }
    }
    if (indicesFit) {
      for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) target.SetRawPixel(x, y, GetRawPixel(x, y));
      copyPixelsFrom(target);
      Changed();
      return;
    }
    if (!tableHoldsAll) {
      std::vector<uint32_t> colors;
      if (used.size() <= static_cast<size_t>(slots)) {
        // First appearance order keeps conversions repeatable.
        std::unordered_set<uint32_t> seen;
        for (int y = 0; y < height_ && colors.size() < used.size(); ++y)
          for (int x = 0; x < width_; ++x) {
            uint32_t c = PixelToColor(GetRawPixel(x, y));
            if (seen.insert(c).second) colors.push_back(c);
          }
      } else {
        colors = spreadPalette(bits);
      }
      target.colorTable_.fill(TRGBQuad{});
      for (size_t i = 0; i < colors.size(); ++i) target.colorTable_[i] = ColorToQuad(colors[i]);
    }
  }

  TDIBPixelConverter convert(*this, target);
  for (int y = 0; y < height_; ++y) convert.Span(0, y, 0, y, width_);
  copyPixelsFrom(target);
  Changed();
}

// --- conversion between layouts ---

TDIBPixelConverter::TDIBPixelConverter(const TDIB& source, TDIB& target)
    : source_(source), target_(target), identity_(target.SameLayout(source)) {
  if (!identity_ && source.BitCount() <= 8) {
    table_.resize(static_cast<size_t>(source.ColorTableSize()));
    for (size_t i = 0; i < table_.size(); ++i) {
      table_[i] = target.ColorToPixel(source.PixelToColor(static_cast<uint32_t>(i)));
    }
  }
}

uint32_t TDIBPixelConverter::operator()(uint32_t raw) {
  if (identity_) return raw;
  if (!table_.empty()) return table_[raw & (table_.size() - 1)];
  if (target_.BitCount() > 8) return target_.ColorToPixel(source_.PixelToColor(raw));
  auto it = searched_.find(raw);
  if (it == searched_.end()) {
    if (searched_.size() >= 65536) searched_.clear();
    it = searched_.emplace(raw, target_.ColorToPixel(source_.PixelToColor(raw))).first;
  }
  return it->second;
}

void TDIBPixelConverter::Span(int sx, int sy, int dx, int dy, int count) {
  if (count <= 0) return;
  const int sbits = source_.BitCount(), dbits = target_.BitCount();
  const uint8_t* s = source_.ScanLine(sy);
  uint8_t* d = target_.ScanLine(dy);
  if (identity_ && sbits >= 8) {
    const int bpp = sbits / 8;
    std::memmove(d + static_cast<size_t>(dx) * bpp, s + static_cast<size_t>(sx) * bpp,
                 static_cast<size_t>(count) * bpp);
    return;
  }
  if (sbits == 24 && dbits == 32) {
    s += static_cast<size_t>(sx) * 3;
    d += static_cast<size_t>(dx) * 4;
    for (int i = 0; i < count; ++i, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
    return;
  }
  if (sbits == 32 && dbits == 24) {
    s += static_cast<size_t>(sx) * 4;
    d += static_cast<size_t>(dx) * 3;
    for (int i = 0; i < count; ++i, s += 4, d += 3) std::memcpy(d, s, 3);
    return;
  }
  for (int i = 0; i < count; ++i) {
    target_.SetRawPixel(dx + i, dy, (*this)(source_.GetRawPixel(sx + i, sy)));
  }
}

// --- BMP input and output ---

void TDIB::readBitmap(TKwStream& stream, bool withFileHeader) {
  const int64_t start = stream.Position();
  const int64_t streamSize = stream.Size();
  auto readExact = [&](void* buffer, int64_t count) {
    if (count < 0 || count > streamSize - stream.Position() ||
        stream.Read(buffer, count) != count) {
      invalidBitmap("data cut short");
    }
  };

  int64_t offBits = 0;
  if (withFileHeader) {
    uint8_t fh[kFileHeaderSize];
    readExact(fh, kFileHeaderSize);
    if (fh[0] != 'B' || fh[1] != 'M') invalidBitmap("no bitmap signature");
    offBits = readU32(fh + 10);
  }

  uint8_t sizeField[4];
  readExact(sizeField, 4);
  const uint32_t headerSize = readU32(sizeField);
  if (headerSize != kCoreHeaderSize &&
      (headerSize < kInfoHeaderSize || headerSize > kMaxInfoHeaderSize)) {
    invalidBitmap("unknown header size " + std::to_string(headerSize));
  }
  std::vector<uint8_t> header(headerSize);
  std::memcpy(header.data(), sizeField, 4);
  readExact(header.data() + 4, headerSize - 4);
  const uint8_t* h = header.data();

  int64_t width = 0, height = 0;
  int planes = 1, bitCount = 0, entrySize = 4;
  uint32_t compression = BI_RGB, clrUsed = 0;
  uint32_t masks[3] = {0, 0, 0};
  bool haveMasks = false;
  if (headerSize == kCoreHeaderSize) {
    width = readU16(h + 4);
    height = readU16(h + 6);
    planes = readU16(h + 8);
    bitCount = readU16(h + 10);
    entrySize = 3;
  } else {
    width = static_cast<int32_t>(readU32(h + 4));
    height = static_cast<int32_t>(readU32(h + 8));
    planes = readU16(h + 12);
    bitCount = readU16(h + 14);
    compression = readU32(h + 16);
    clrUsed = readU32(h + 32);
    if (headerSize >= 52) {
      for (int i = 0; i < 3; ++i) masks[i] = readU32(h + 40 + 4 * i);
      haveMasks = true;
    }
  }
  if (planes != 1) invalidBitmap("plane count " + std::to_string(planes));
  bool topDown = height < 0;
  if (topDown) height = -height;
  if (width < 0) invalidBitmap("negative width");
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    invalidBitmap("bit count " + std::to_string(bitCount));
  }
  if (compression == BI_BITFIELDS) {
    if (bitCount != 16 && bitCount != 32)
      invalidBitmap("bit fields at " + std::to_string(bitCount) + " bits");
    if (!haveMasks) {
      uint8_t m[12];
      readExact(m, 12);
      for (int i = 0; i < 3; ++i) masks[i] = readU32(m + 4 * i);
    }
  } else if (compression != BI_RGB) {
    invalidBitmap("unsupported compression " + std::to_string(compression));
  }
  if (width > kMaxDIBDimension || height > kMaxDIBDimension) {
    checkDimensions(static_cast<int>(std::min<int64_t>(width, INT32_MAX)),
                    static_cast<int>(std::min<int64_t>(height, INT32_MAX)), bitCount);
  }
  checkDimensions(static_cast<int>(width), static_cast<int>(height), bitCount);

  // The colour table (palette pictures) or an optional table to skip.
  TDIBColorTable table{};
  int64_t entries = clrUsed;
  if (bitCount <= 8) {
    if (entries == 0) entries = int64_t{1} << bitCount;
    if (entries > 256) invalidBitmap("colour table of " + std::to_string(entries) + " entries");
    std::vector<uint8_t> raw(static_cast<size_t>(entries * entrySize));
    readExact(raw.data(), static_cast<int64_t>(raw.size()));
    for (int64_t i = 0; i < entries; ++i) {
      const uint8_t* e = raw.data() + i * entrySize;
      table[i] = TRGBQuad{e[0], e[1], e[2], 0};
    }
  } else if (!withFileHeader && entries > 0) {
    if (entries * 4 > streamSize - stream.Position()) invalidBitmap("data cut short");
    stream.Seek(entries * 4, SeekOrigin::Current);
  }

  if (withFileHeader) {
    int64_t headersEnd = kFileHeaderSize + headerSize;
    if (offBits >= headersEnd) {
      if (offBits > streamSize - start) invalidBitmap("pixel offset beyond the data");
      stream.SetPosition(start + offBits);
    }
  }

  const int w = static_cast<int>(width);
  const int rows = static_cast<int>(height);
  const int fileRowBytes = static_cast<int>((int64_t{w} * bitCount + 31) / 32 * 4);
  const int64_t dataBytes = int64_t{fileRowBytes} * rows;
  // Checked before allocating, so a header alone cannot claim memory.
  if (dataBytes > streamSize - stream.Position()) invalidBitmap("pixel data cut short");
  std::vector<uint8_t> data(static_cast<size_t>(dataBytes));
  readExact(data.data(), dataBytes);
  auto fileRow = [&](int y) {
    int r = topDown ? y : rows - 1 - y;
    return data.data() + static_cast<size_t>(r) * fileRowBytes;
  };

  TDIB result;
  bool general = false;
  int shifts[3] = {0, 0, 0}, widths[3] = {0, 0, 0};
  if (bitCount == 16) {
    TDIBPixelFormat format = kPixelFormat555;
    if (compression == BI_BITFIELDS) {
      if (masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F) {
        format = kPixelFormat555;
      } else if (masks[0] == 0xF800 && masks[1] == 0x07E0 && masks[2] == 0x001F) {
        format = kPixelFormat565;
      } else {
        general = true;
      }
    }
    if (!general) result.reallocate(w, rows, 16, format);
  } else if (bitCount == 32 && compression == BI_BITFIELDS &&
             !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF)) {
    general = true;
  } else {
    result.reallocate(w, rows, bitCount, kPixelFormat888);
    result.colorTable_ = table;
  }

  if (general) {
    for (int i = 0; i < 3; ++i) {
      if (!maskChannel(masks[i], shifts[i], widths[i])) invalidBitmap("bad channel mask");
    }
    // Unusual masks are kept as plain 32-bit pixels.
    result.reallocate(w, rows, 32, kPixelFormat888);
    for (int y = 0; y < rows; ++y) {
      const uint8_t* src = fileRow(y);
      for (int x = 0; x < w; ++x) {
        uint32_t p = bitCount == 16 ? readU16(src + 2 * x) : readU32(src + 4 * x);
        result.SetRawPixel(x, y,
                           PackDIBPixel(kPixelFormat888, maskedChannel(p, shifts[0], widths[0]),
                                        maskedChannel(p, shifts[1], widths[1]),
                                        maskedChannel(p, shifts[2], widths[2])));
      }
    }
  } else {
    // A width of 0 leaves rows of no bytes and no storage to copy into.
    if (fileRowBytes > 0) {
      for (int y = 0; y < rows; ++y) std::memcpy(result.ScanLine(y), fileRow(y), fileRowBytes);
    }
  }

  width_ = result.width_;
  height_ = result.height_;
  bitCount_ = result.bitCount_;
  rowBytes_ = result.rowBytes_;
  format_ = result.format_;
  pixels_ = std::move(result.pixels_);
  colorTable_ = result.colorTable_;
}

void TDIB::writeBitmap(TKwStream& stream, bool withFileHeader) const {
  const bool bitfields = bitCount_ == 16 && format_ == kPixelFormat565;
  const uint32_t tableBytes = static_cast<uint32_t>(ColorTableSize()) * 4 + (bitfields ? 12 : 0);
  const uint32_t offBits = kFileHeaderSize + kInfoHeaderSize + tableBytes;
  const uint32_t imageBytes = static_cast<uint32_t>(SizeImage());

  std::vector<uint8_t> out;
  out.reserve(offBits);
  if (withFileHeader) {
    out.push_back('B');
    out.push_back('M');
    putU32(out, offBits + imageBytes);
    putU32(out, 0);
    putU32(out, offBits);
  }
  putU32(out, kInfoHeaderSize);
  putU32(out, static_cast<uint32_t>(width_));
  putU32(out, static_cast<uint32_t>(height_));
  putU16(out, 1);
  putU16(out, static_cast<uint16_t>(bitCount_));
  putU32(out, bitfields ? BI_BITFIELDS : BI_RGB);
  putU32(out, imageBytes);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  putU32(out, 0);
  if (bitfields) {
    putU32(out, 0xF800);
    putU32(out, 0x07E0);
    putU32(out, 0x001F);
  }
  for (int i = 0; i < ColorTableSize(); ++i) {
    const TRGBQuad& q = colorTable_[i];
    out.insert(out.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed, 0});
  }
  stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
  for (int y = height_ - 1; y >= 0; --y) stream.WriteBuffer(ScanLine(y), rowBytes_);
}

void TDIB::LoadFromStream(TKwStream& stream) {
  int64_t start = stream.Position();
  uint8_t magic[2] = {0, 0};
  int64_t got = stream.Read(magic, 2);
  stream.SetPosition(start);
  readBitmap(stream, got == 2 && magic[0] == 'B' && magic[1] == 'M');
  Changed();
}

void TDIB::SaveToStream(TKwStream& stream) {
  writeBitmap(stream, true);
}

void TDIB::LoadFromDIBStream(TKwStream& stream) {
  readBitmap(stream, false);
  Changed();
}

void TDIB::SaveToDIBStream(TKwStream& stream) const {
  writeBitmap(stream, false);
}

// --- picture layer ---

void TDIB::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* dib = dynamic_cast<const TDIB*>(&source)) {
    copyPixelsFrom(*dib);
    transparent_ = dib->transparent_;
    transparentColor_ = dib->transparentColor_;
    Changed();
    return;
  }
  TGraphic::Assign(source);
}

bool TDIB::AssignTo(TGraphic& dest) const {
  if (auto* dib = dynamic_cast<TDIB*>(&dest)) {
    dib->Assign(*this);
    return true;
  }
  return false;
}

void TDIB::Draw(TDIB& canvas, const TRect& rect) {
  if (GetEmpty() || rect.IsEmpty()) return;
  const int64_t dw = int64_t{rect.Right} - rect.Left, dh = int64_t{rect.Bottom} - rect.Top;
  const int x0 = std::max(rect.Left, 0), x1 = std::min(rect.Right, canvas.Width());
  const int y0 = std::max(rect.Top, 0), y1 = std::min(rect.Bottom, canvas.Height());
  if (x0 >= x1 || y0 >= y1) return;
  const bool unstretched = dw == width_ && dh == height_;
  TDIBPixelConverter convert(*this, canvas);
  for (int y = y0; y < y1; ++y) {
    int sy = pixelmath::NearestSample(y - int64_t{rect.Top}, dh, height_);
    if (unstretched) {
      convert.Span(x0 - rect.Left, sy, x0, y, x1 - x0);
      continue;
    }
    for (int x = x0; x < x1; ++x) {
      int sx = pixelmath::NearestSample(x - int64_t{rect.Left}, dw, width_);
      canvas.SetRawPixel(x, y, convert(GetRawPixel(sx, sy)));
    }
  }
  canvas.Changed();
}

void TDIB::SaveToClipboardFormat(TClipboard& clipboard) {
  if (GetEmpty()) return;
  TKwMemoryStream stream;
  SaveToDIBStream(stream);
  clipboard.SetData(CF_DIB, stream.Release());
}

void TDIB::LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) {
  const std::vector<uint8_t>* data = format == CF_DIB ? clipboard.GetData(CF_DIB) : nullptr;
  if (!data) throw EInvalidGraphic("Unsupported clipboard format");
  TKwMemoryStream stream(*data);
  LoadFromDIBStream(stream);
}

}  // namespace zirk
