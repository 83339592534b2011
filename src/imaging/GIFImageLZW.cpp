#include "imaging/GIFImageLZW.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/GIFImage.h"
#include "imaging/GIFImageFrame.h"

namespace zirk {

namespace {

constexpr int kMaxCodes = 4096;
constexpr int kMaxCodeBits = 12;
// Conformant files use 2..8; 1 still works, 0 and 12+ would put the clear
// code at or past the end of the 4096-entry table.
constexpr int kMaxMinCodeSize = 11;
constexpr uint32_t kHashEmpty = 0xFFFFFFFF;
constexpr int kMaxSubBlock = 254;

// Reads the data sub-blocks up to the zero terminator into one buffer.
// Returns whether the terminator was seen; a block cut by the end of the
// stream is kept as far as it goes and reported.
bool gatherSubBlocks(TKwStream& stream, std::vector<uint8_t>& data, int64_t pixels,
                     const TGIFWarningSink& warn) {
  // Codes of at most 12 bits per pixel bound what a sensible frame needs.
  const int64_t expected = std::min(stream.Remaining(), pixels * 3 / 2 + 1024);
  if (expected > 0) data.reserve(size_t(expected));
  for (;;) {
    uint8_t size = 0;
    if (stream.Read(&size, 1) != 1) {
      warn(sGIFPrematureEnd);
      return false;
    }
    if (size == 0) return true;
    const size_t at = data.size();
    data.resize(at + size);
    const int64_t got = stream.Read(data.data() + at, size);
    if (got < size) {
      data.resize(at + size_t(std::max<int64_t>(got, 0)));
      warn(sGIFPrematureEnd);
      return false;
    }
  }
}

// Codes are packed least significant bit first.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  bool Read(int width, int& code) {
    if (bits_ < width) {
      while (bits_ <= 56 && p_ < end_) {
        acc_ |= uint64_t(*p_++) << bits_;
        bits_ += 8;
      }
      if (bits_ < width) return false;
    }
    code = int(acc_ & ((1u << width) - 1));
    acc_ >>= width;
    bits_ -= width;
    return true;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t acc_ = 0;
  int bits_ = 0;
};

struct DecoderTable {
  std::array<uint16_t, kMaxCodes> prefix;
  std::array<uint8_t, kMaxCodes> suffix;
  std::array<uint8_t, kMaxCodes> first;
  std::array<uint16_t, kMaxCodes> length;
};

// Decodes codes into out[0..total); returns the count of pixels written.
int64_t decodeCodes(const std::vector<uint8_t>& data, bool terminated, int minCodeSize,
                    uint8_t* out, int64_t total, const TGIFWarningSink& warn) {
  const int clear = 1 << minCodeSize;
  const int end = clear + 1;
  auto table = std::make_unique<DecoderTable>();
  for (int i = 0; i < kMaxCodes; ++i) {
    table->prefix[size_t(i)] = 0;
    table->suffix[size_t(i)] = i < clear ? uint8_t(i) : 0;
    table->first[size_t(i)] = i < clear ? uint8_t(i) : 0;
    table->length[size_t(i)] = 1;
  }
  uint16_t* prefix = table->prefix.data();
  uint8_t* suffix = table->suffix.data();
  uint8_t* first = table->first.data();
  uint16_t* length = table->length.data();

  BitReader bits(data.data(), data.size());
  int width = minCodeSize + 1;
  int next = clear + 2;
  int limit = std::min(clear * 2, kMaxCodes);
  int prev = -1;
  int64_t pos = 0;
  int code = 0;
  auto readFailed = [&] {
    if (terminated) warn("Decoder bit buffer under-run");
  };

  while (pos < total) {
    if (!bits.Read(width, code)) {
      readFailed();
      return pos;
    }
    if (code == clear) {
      width = minCodeSize + 1;
      next = clear + 2;
      limit = std::min(clear * 2, kMaxCodes);
      prev = -1;
      continue;
    }
    if (code == end) return pos;
    if (prev < 0) {
      if (code >= clear) {
        warn(sGIFPrematureEnd);
        return pos;
      }
      out[pos++] = uint8_t(code);
      prev = code;
      continue;
    }
    if (code > next || (code == next && next >= kMaxCodes)) {
      warn(sGIFPrematureEnd);
      return pos;
    }
    if (next < kMaxCodes) {
      // For a code not yet in the table (code == next) the new entry is
      // the previous string plus its own first character, which is what
      // first[prev] gives in both cases.
      const uint8_t c = code < next ? first[code] : first[prev];
      prefix[next] = uint16_t(prev);
      suffix[next] = c;
      first[next] = first[prev];
      length[next] = uint16_t(length[prev] + 1);
      ++next;
      if (next == limit && limit < kMaxCodes) {
        limit *= 2;
        ++width;
      }
    }
    const int len = length[code];
    if (len == 1) {
      out[pos++] = suffix[code];
    } else {
      int c = code;
      int64_t stop = pos + len;
      if (stop > total) {
        // Only the head of the string fits; its tail is dropped.
        for (int64_t skip = stop - total; skip > 0; --skip) c = prefix[c];
        stop = total;
      }
      for (int64_t at = stop - 1; at >= pos; --at) {
        out[at] = suffix[c];
        c = prefix[c];
      }
      pos = stop;
    }
    prev = code;
  }
  // The code after the last pixel is normally the end code.
  if (!bits.Read(width, code)) readFailed();
  return pos;
}

// The string table is a hash of (prefix code, pixel) keys to codes; which
// hashing finds an entry does not change the codes written. A power-of-two
// table kept at most half full and probed linearly keeps each lookup to one
// cache line most of the time.
class Encoder {
 public:
  Encoder(int minCodeSize, size_t pixels)
      : minCodeSize_(minCodeSize),
        initWidth_(minCodeSize + 1),
        clear_(1 << minCodeSize),
        end_(clear_ + 1),
        // Every pixel can cost a code of at most 12 bits, plus clear and
        // end codes and the last partial byte.
        capacity_(pixels * 3 / 2 + pixels / 2048 * 2 + 16),
        codes_(std::make_unique_for_overwrite<uint8_t[]>(capacity_)) {
    width_ = initWidth_;
    limit_ = (1 << width_) - 1;
    reset();
  }

  void Run(const uint8_t* pixels, int width, int height, bool interlaced) {
    uint32_t prefix = kNoPrefix;
    for (int fileRow = 0; fileRow < height; ++fileRow) {
      const int row = interlaced ? GIFInterlacedRow(fileRow, height) : fileRow;
      const uint8_t* p = pixels + size_t(row) * size_t(width);
      int x = 0;
      if (prefix == kNoPrefix && width > 0) prefix = p[x++];
      for (; x < width; ++x) {
        const uint32_t c = p[x];
        const uint32_t key = (prefix << 8) | c;
        uint32_t index = hashOf(key);
        uint32_t entry;
        while ((entry = table_[index]) != kHashEmpty) {
          if ((entry >> 12) == key) break;
          index = (index + 1) & kTableMask;
        }
        if (entry != kHashEmpty) {
          prefix = entry & 0xFFF;
          continue;
        }
        emit(int(prefix));
        if (next_ >= kMaxCodes - 1) {
          reset();
        } else {
          table_[index] = (key << 12) | uint32_t(next_);
          ++next_;
        }
        prefix = c;
      }
    }
    if (prefix != kNoPrefix) emit(int(prefix));
    emit(end_);
    if (bits_ > 0) codes_[used_++] = uint8_t(acc_);
  }

  // The minimum code size, the codes as sub-blocks of at most 254 bytes,
  // and the zero terminator.
  void WriteTo(TKwStream& stream) const {
    const size_t blocks = (used_ + kMaxSubBlock - 1) / kMaxSubBlock;
    std::vector<uint8_t> out(used_ + blocks + 2);
    uint8_t* o = out.data();
    *o++ = uint8_t(minCodeSize_);
    for (size_t at = 0; at < used_; at += kMaxSubBlock) {
      const size_t n = std::min<size_t>(kMaxSubBlock, used_ - at);
      *o++ = uint8_t(n);
      std::memcpy(o, codes_.get() + at, n);
      o += n;
    }
    *o = 0;
    stream.WriteBuffer(out.data(), int64_t(out.size()));
  }

 private:
  static constexpr int kTableBits = 13;
  static constexpr uint32_t kTableMask = (1u << kTableBits) - 1;
  static constexpr uint32_t kNoPrefix = 0xFFFFFFFF;

  static uint32_t hashOf(uint32_t key) { return (key * 0x9E3779B1u) >> (32 - kTableBits); }

  void reset() {
    table_.fill(kHashEmpty);
    next_ = clear_ + 2;
    justCleared_ = true;
    emit(clear_);
  }

  void emit(int code) {
    acc_ |= uint32_t(code) << bits_;
    bits_ += width_;
    while (bits_ >= 8) {
      codes_[used_++] = uint8_t(acc_);
      acc_ >>= 8;
      bits_ -= 8;
    }
    if (justCleared_) {
      width_ = initWidth_;
      limit_ = (1 << width_) - 1;
      justCleared_ = false;
    } else if (next_ > limit_) {
      ++width_;
      limit_ = width_ >= kMaxCodeBits ? kMaxCodes : (1 << width_) - 1;
    }
  }

  const int minCodeSize_;
  const int initWidth_;
  const int clear_;
  const int end_;
  int width_ = 0;
  int limit_ = 0;
  int next_ = 0;
  bool justCleared_ = false;
  uint32_t acc_ = 0;
  int bits_ = 0;
  const size_t capacity_;
  std::unique_ptr<uint8_t[]> codes_;
  size_t used_ = 0;
  std::array<uint32_t, size_t{1} << kTableBits> table_;
};

}  // namespace

int GIFInterlacedRow(int fileRow, int height) {
  const int pass1 = (height + 7) / 8;
  const int pass2 = (height + 3) / 8;
  const int pass3 = (height + 1) / 4;
  if (fileRow < pass1) return fileRow * 8;
  fileRow -= pass1;
  if (fileRow < pass2) return 4 + fileRow * 8;
  fileRow -= pass2;
  if (fileRow < pass3) return 2 + fileRow * 4;
  fileRow -= pass3;
  return 1 + fileRow * 2;
}

void DecodeGIFPixels(TKwStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
                     const TGIFWarningSink& warn) {
  const int minCodeSize = GIFReadByte(stream);
  const int64_t total = int64_t(std::max(width, 0)) * std::max(height, 0);
  std::vector<uint8_t> data;
  const bool terminated = gatherSubBlocks(stream, data, total, warn);
  if (minCodeSize < 1 || minCodeSize > kMaxMinCodeSize) {
    warn(sGIFPrematureEnd);
    return;
  }
  if (total <= 0) return;
  if (!interlaced || height < 2) {
    decodeCodes(data, terminated, minCodeSize, pixels, total, warn);
    return;
  }
  std::vector<uint8_t> fileOrder(size_t(total), 0);
  decodeCodes(data, terminated, minCodeSize, fileOrder.data(), total, warn);
  for (int r = 0; r < height; ++r) {
    std::memcpy(pixels + size_t(GIFInterlacedRow(r, height)) * size_t(width),
                fileOrder.data() + size_t(r) * size_t(width), size_t(width));
  }
}

void EncodeGIFPixels(TKwStream& stream, const uint8_t* pixels, int width, int height,
                     bool interlaced, int bitsPerPixel) {
  const size_t total = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
  uint8_t largest = 0;
  for (size_t i = 0; i < total; ++i) largest = std::max(largest, pixels[i]);
  int bits = std::clamp(bitsPerPixel, 1, 8);
  // Values past the table would come out as clear or end codes.
  while (bits < 8 && (largest >> bits) != 0) ++bits;
  auto encoder = std::make_unique<Encoder>(std::max(bits, 2), total);
  encoder->Run(pixels, width, height, interlaced);
  encoder->WriteTo(stream);
}

void DecodeImageData(TGIFSubImage& frame, TKwStream& stream) {
  frame.AllocateData();
  DecodeGIFPixels(stream, frame.Data().data(), frame.Width, frame.Height, frame.Interlaced(),
                  [&frame](const std::string& message) { frame.Warning(kGIFWarning, message); });
  frame.Changed();
}

void EncodeImageData(TGIFSubImage& frame, TKwStream& stream) {
  const int bits = frame.ColorMap().Count() > 0
                       ? frame.ColorMap().BitsPerPixel()
                       : (frame.Image() ? frame.Image()->BitsPerPixel() : 8);
  EncodeGIFPixels(stream, frame.Data().data(), frame.Width, frame.Height, frame.Interlaced(), bits);
}

}  // namespace zirk
