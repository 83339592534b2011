#include "support/dorvbuilder.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace zirk::test {

namespace {

void putI32(Bytes& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void putU8(Bytes& out, uint8_t v) {
  out.push_back(v);
}

void putBytes(Bytes& out, const Bytes& b) {
  out.insert(out.end(), b.begin(), b.end());
}

void putString(Bytes& out, const std::string& s) {
  putI32(out, static_cast<int32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}

int32_t storage(int32_t bitCount) {
  return bitCount == 15 ? 16 : bitCount;
}

}  // namespace

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())) != Z_OK) {
    throw std::runtime_error("compress failed");
  }
  out.resize(size);
  return out;
}

std::vector<int32_t> DealOrder(int32_t n, uint32_t increment) {
  std::vector<int32_t> deck;
  for (int32_t i = 0; i < n; ++i) deck.push_back(i);
  std::vector<int32_t> out;
  uint32_t x = 0;
  while (!deck.empty()) {
    x = 5 * x + increment;
    const size_t at = x % static_cast<uint32_t>(deck.size());
    out.push_back(deck[at]);
    deck.erase(deck.begin() + static_cast<std::ptrdiff_t>(at));
  }
  return out;
}

int32_t PackedRowBytes(int32_t width, int32_t bitCount) {
  return static_cast<int32_t>((int64_t{width} * storage(bitCount) + 7) / 8);
}

int32_t StoredRowBytes(int32_t width, int32_t bitCount) {
  return static_cast<int32_t>((int64_t{width} * storage(bitCount) + 31) / 32 * 4);
}

Bytes PlainRowsBody(const std::vector<Bytes>& rows, int32_t width, int32_t bitCount,
                    uint32_t scrambleIncrement) {
  const int32_t stored = StoredRowBytes(width, bitCount);
  const auto height = static_cast<int32_t>(rows.size());
  std::vector<int32_t> order = DealOrder(height, scrambleIncrement);
  Bytes out;
  for (int32_t i = 0; i < height; ++i) {
    Bytes row = rows[size_t(order[size_t(i)])];
    row.resize(size_t(stored), 0);
    putBytes(out, row);
  }
  return out;
}

Bytes TiledBody(const std::vector<Bytes>& rows, int32_t width, int32_t height, int32_t bitCount,
                int32_t tileWidth, int32_t tileHeight, const std::vector<TileEntry>& table,
                uint32_t scrambleIncrement) {
  const int32_t bits = storage(bitCount);
  const int32_t across = (width + tileWidth - 1) / tileWidth;
  const int32_t down = (height + tileHeight - 1) / tileHeight;
  if (static_cast<int32_t>(table.size()) != across * down) {
    throw std::runtime_error("tile table of the wrong length");
  }
  Bytes out;
  if (scrambleIncrement != 0) {
    std::vector<int32_t> order = DealOrder(across * down, scrambleIncrement);
    for (int32_t i = 0; i < across * down; ++i) {
      putI32(out, table[size_t(order[size_t(i)])].Kind);
      putI32(out, table[size_t(order[size_t(i)])].Value);
    }
  } else {
    for (const TileEntry& e : table) {
      putI32(out, e.Kind);
      putI32(out, e.Value);
    }
  }
  const int32_t columnBytes = (tileWidth * bits + 7) / 8;
  for (int32_t t = 0; t < across * down; ++t) {
    if (table[size_t(t)].Kind != -1) continue;
    const int32_t column = t % across, row = t / across;
    const int32_t w = std::min(tileWidth, width - column * tileWidth);
    const int32_t h = std::min(tileHeight, height - row * tileHeight);
    const int32_t bytes = (w * bits + 7) / 8;
    for (int32_t r = 0; r < h; ++r) {
      const Bytes& src = rows[size_t(row * tileHeight + r)];
      for (int32_t b = 0; b < bytes; ++b) {
        const size_t at = size_t(column * columnBytes + b);
        out.push_back(at < src.size() ? src[at] : 0);
      }
    }
  }
  return out;
}

Bytes BuildDorv(const DorvFile& file) {
  Bytes out;
  if (file.RawTag) {
    out.insert(out.end(), file.RawTag->begin(), file.RawTag->end());
  } else if (file.TagVersion != 0) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "Dorv%03d", file.TagVersion);
    out.insert(out.end(), tag, tag + 7);
  }
  const auto frameCount = static_cast<int32_t>(file.Frames.size());
  if (file.TagVersion < 103) {
    putI32(out, file.LegacyFrameCount.value_or(frameCount));
    putU8(out, 0);
    if (file.TagVersion == 102) putI32(out, file.LegacyBackground);
  } else {
    const DorvHeaderRecord& h = file.Header;
    Bytes record;
    putI32(record, h.Version);
    putI32(record, h.Width);
    putI32(record, h.Height);
    putI32(record, h.BitCount);
    putI32(record, h.FrameCount.value_or(frameCount));
    putU8(record, h.Flag);
    putU8(record, h.Scramble);
    putU8(record, h.Compression);
    putU8(record, h.Reserved1);
    putI32(record, h.Background);
    putI32(record, h.TileWidth);
    putI32(record, h.TileHeight);
    putU8(record, h.PlainFirstLayer);
    putU8(record, h.Quality);
    putU8(record, 0);
    putU8(record, 0);
    const int32_t length = file.HeaderLength.value_or(40);
    putI32(out, length);
    record.resize(size_t(std::max(length, 0)), 0xEE);
    putBytes(out, record);
  }
  const int32_t version = file.RecordVersion();
  for (const DorvFrameRecord& f : file.Frames) {
    putString(out, f.Name);
    putI32(out, f.Transparent);
    putI32(out, f.Delay);
    putU8(out, 2);
    putI32(out, 0);
    putI32(out, f.LayerCountField.value_or(static_cast<int32_t>(f.Layers.size())));
    putI32(out, f.Width);
    putI32(out, f.Height);
    putI32(out, f.BitCount);
    if (f.BitCount <= 8 && f.BitCount > 0) {
      for (int32_t i = 0; i < (1 << f.BitCount); ++i) {
        const uint32_t c = i < static_cast<int32_t>(f.Palette.size()) ? f.Palette[size_t(i)] : 0;
        putU8(out, uint8_t(c));
        putU8(out, uint8_t(c >> 8));
        putU8(out, uint8_t(c >> 16));
        putU8(out, 0);
      }
    }
    for (const DorvLayerRecord& l : f.Layers) {
      putI32(out, 0);
      putI32(out, 0);
      putU8(out, l.Visible ? 1 : 0);
      putI32(out, l.Transparent);
      putI32(out, l.Opacity);
      if (version >= 101) putU8(out, l.UseAlpha);
      putString(out, l.Name);
      putI32(out, l.PixelSizeField.value_or(static_cast<int32_t>(l.Pixels.size())));
      putBytes(out, l.Pixels);
      if (version >= 100) {
        const int32_t alphaSize = l.Alpha ? static_cast<int32_t>(l.Alpha->size()) : 0;
        putI32(out, l.AlphaSizeField.value_or(alphaSize));
        if (l.Alpha) putBytes(out, *l.Alpha);
      }
    }
    if (version >= 104) {
      for (int list = 0; list < 2; ++list) {
        const auto& rects = list == 0 ? f.Rects1 : f.Rects2;
        const auto& field = list == 0 ? f.Rects1CountField : f.Rects2CountField;
        putI32(out, field.value_or(static_cast<int32_t>(rects.size())));
        for (const DorvRect& r : rects) {
          putI32(out, r.Left);
          putI32(out, r.Top);
          putI32(out, r.Right);
          putI32(out, r.Bottom);
        }
      }
    }
  }
  return out;
}

}  // namespace zirk::test
