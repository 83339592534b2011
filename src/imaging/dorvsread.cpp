// The layered image reader. Every count, size and index in a file is
// checked against what the stream still holds and against the list's
// allocation bound before anything is allocated: pictures arrive from game
// archives and from anywhere a user points the tools.

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include <zlib.h>

#include "base/compress.h"
#include "imaging/dorvs.h"
#include "imaging/jpeg.h"

namespace zirk {

namespace {

// Smallest frame record: empty name, transparent, delay, 5 skipped bytes,
// layer count, width, height, bit count.
constexpr int64_t kMinFrameRecord = 4 + 4 + 4 + 5 + 4 + 4 + 4 + 4;
// Smallest layer record: 8 skipped bytes, visible, transparent, opacity,
// empty name, pixel size.
constexpr int64_t kMinLayerRecord = 8 + 1 + 4 + 4 + 4 + 4;
// What a frame or layer record costs the list whatever its picture holds:
// the object and its place in the list. A record of an empty picture is a
// few dozen bytes of file, so records count against the bound as pixels do.
// A frame shown on screen also gets display surfaces and their headers, a
// few kilobytes however small it is; counted here, the bound holds for the
// picture as the player holds it, not only as it is read.
constexpr int64_t kShownFrameCost = 4096;
constexpr int64_t kFrameRecordCost =
    static_cast<int64_t>(sizeof(TDorvFrame)) + 32 + kShownFrameCost;
constexpr int64_t kLayerRecordCost = static_cast<int64_t>(sizeof(TDorvLayer)) + 32;

[[noreturn]] void fail(const std::string& why) {
  throw EDorvError(why);
}

bool validBitCount(int32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 15 || bits == 16 || bits == 24 ||
         bits == 32;
}

int storageBits(int32_t bits) {
  return bits == 15 ? 16 : bits;
}

int32_t readInt32(const uint8_t* b) {
  return static_cast<int32_t>(uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
                              (uint32_t{b[3]} << 24));
}

// Plane data as the decoders see it: in place inside a memory stream, or
// in the work stream.
struct PlaneData {
  const uint8_t* Bytes = nullptr;
  int64_t Size = 0;
};

enum class PlaneKind { Pixels, Alpha };

class DorvReader {
 public:
  DorvReader(TDorvFrameList& list, TKwStream& stream) : list_(list), stream_(stream) {}

  void Read(bool firstFrameOnly) {
    try {
      readAll(firstFrameOnly);
    } catch (const Exception&) {
      // Data without the tag is read as the oldest layered files are, so a
      // picture of another kind fails as a damaged one would; its signature
      // says what it is. A file that reads is taken whatever its first bytes.
      if (const char* kind = tagged_ ? nullptr : otherPictureKind()) {
        fail(std::string("Not a layered image but a ") + kind + " picture");
      }
      throw;
    }
  }

 private:
  void readAll(bool firstFrameOnly) {
    const bool tagged = readTagAndHeader();
    int64_t count = header_.FrameCount;
    if (count < 0) fail("Negative frame count in layered image");
    if (count > stream_.Remaining() / kMinFrameRecord) {
      fail("Frame count " + std::to_string(count) + " does not fit the layered image data");
    }
    // Any data whose first four bytes are zero reads as an untagged file of
    // no frames; such a file shows nothing, so it is taken for what it is.
    if (!tagged && count == 0) fail("Not a layered image: no tag and no frames");
    if (firstFrameOnly && count >= 2) count = 1;
    charge(count * kFrameRecordCost);
    for (int32_t i = 0; i < count; ++i) {
      TDorvFrame* frame = list_.AddFrame();
      ReadDorvFrame(*frame, i);
      frame->Image.ToMemoryImage();
    }
    // Layers were kept only for tile references; the composed frames stay.
    for (const auto& frame : list_) frame->Clear();
  }

  // The kind of picture whose signature the first bytes hold, or nullptr.
  const char* otherPictureKind() const {
    static const struct {
      std::string_view Signature;
      const char* Kind;
    } kKinds[] = {{"\x89PNG", "PNG"},
                  {"GIF87a", "GIF"},
                  {"GIF89a", "GIF"},
                  {"\xFF\xD8\xFF", "JPEG"},
                  {"BM", "BMP"}};
    for (const auto& k : kKinds)
      if (head_.starts_with(k.Signature)) return k.Kind;
    return nullptr;
  }

  void need(int64_t bytes, const char* what) {
    if (bytes < 0 || bytes > stream_.Remaining()) {
      fail(std::string("Layered image data ends inside ") + what);
    }
  }
  void skip(int64_t bytes, const char* what) {
    need(bytes, what);
    stream_.Seek(bytes, SeekOrigin::Current);
  }
  uint8_t readByte() {
    uint8_t b = 0;
    stream_.ReadBuffer(&b, 1);
    return b;
  }
  void charge(int64_t bytes) {
    used_ += bytes;
    if (used_ > list_.MaxLoadBytes) fail("Layered image larger than allowed");
  }
  void sizeImage(TDIB& image, int32_t width, int32_t height, int32_t bitCount) {
    if (width < 0 || height < 0) fail("Negative picture size in layered image");
    charge(int64_t{DIBRowBytes(width, storageBits(bitCount))} * height);
    image.SetSize(width, height, bitCount);
  }

  // Returns whether the data begins with the tag.
  bool readTagAndHeader() {
    char tag[7] = {};
    const int64_t got = stream_.Read(tag, sizeof tag);
    head_.assign(tag, static_cast<size_t>(got));
    int32_t version = 0;
    const bool tagged = got >= 4 && std::memcmp(tag, kDorvMagic, 4) == 0;
    tagged_ = tagged;
    if (tagged) {
      const std::string digits(tag + 4, static_cast<size_t>(got - 4));
      auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), version);
      if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
        throw EConvertError("'" + digits + "' is not a valid integer value");
      }
    } else {
      stream_.Seek(-got, SeekOrigin::Current);
    }
    list_.Version = version;
    header_ = TDorvHeader{};
    if (version < 103) {
      header_.Version = version;
      header_.FrameCount = ReadStreamInt(stream_);
      skip(1, "the header");
      if (version == 102) list_.Background = ReadStreamInt(stream_);
    } else {
      const int32_t length = ReadStreamInt(stream_);
      if (length < 0) fail("Negative header length in layered image");
      need(length, "the header");
      uint8_t record[kDorvHeaderSize] = {};
      const int kept = std::min(length, kDorvHeaderSize);
      stream_.ReadBuffer(record, kept);
      // Later writers may add fields; the record holds 40 bytes.
      stream_.Seek(length - kept, SeekOrigin::Current);
      header_ = DecodeDorvHeader(record, kept);
      list_.Background = header_.Background;
    }
    list_.PlainFirstLayer = version >= 105 && header_.PlainFirstLayer != 0;
    return tagged;
  }

  void readRects(std::vector<TRect>& rects) {
    const int32_t n = ReadStreamInt(stream_);
    if (n < 0) return;
    need(int64_t{n} * 16, "a rectangle list");
    rects.resize(static_cast<size_t>(n));
    for (TRect& r : rects) {
      r.Left = ReadStreamInt(stream_);
      r.Top = ReadStreamInt(stream_);
      r.Right = ReadStreamInt(stream_);
      r.Bottom = ReadStreamInt(stream_);
    }
  }

  void ReadDorvFrame(TDorvFrame& frame, int32_t frameIndex) {
    frame.Name = ReadStreamString(stream_);
    frame.TransparentValue = ReadStreamInt(stream_);
    frame.Delay = ReadStreamInt(stream_);
    skip(5, "a frame record");
    const int32_t layerCount = ReadStreamInt(stream_);
    const int32_t width = ReadStreamInt(stream_);
    const int32_t height = ReadStreamInt(stream_);
    const int32_t bitCount = ReadStreamInt(stream_);
    if (!validBitCount(bitCount)) fail("Unsupported bit count " + std::to_string(bitCount));
    if (layerCount < 0 || layerCount > stream_.Remaining() / kMinLayerRecord) {
      fail("Layer count " + std::to_string(layerCount) + " does not fit the layered image data");
    }
    charge(int64_t{layerCount} * kLayerRecordCost);
    TDIBSurface& image = frame.Image;
    if (bitCount <= 8) {
      const int entries = 1 << bitCount;
      need(int64_t{entries} * 4, "a colour table");
      stream_.ReadBuffer(image.ColorTable().data(), int64_t{entries} * 4);
    }
    sizeImage(image, width, height, bitCount);
    if (bitCount <= 8) image.UpdatePalette();
    if (frame.TransparentValue >= 0) {
      // The colour a pixel of that value shows, as the platform reads it
      // back; values wider than the pixel keep only the bits it holds.
      auto value = static_cast<uint32_t>(frame.TransparentValue);
      if (image.BitCount() < 32) value &= (1u << image.BitCount()) - 1;
      frame.TransparentColor = static_cast<int32_t>(image.PixelToColor(value));
    } else {
      frame.TransparentColor = -1;
    }
    bool firstVisible = true;
    for (int32_t i = 0; i < layerCount; ++i) {
      TDorvLayer* layer = frame.AddLayer();
      if (ReadDorvLayer(frame, frameIndex, *layer, i, firstVisible)) {
        firstVisible = false;
      } else {
        frame.ComposeLayer(i, firstVisible);
      }
    }
    if (firstVisible) frame.FillBackground();
    if (header_.Version >= 104) {
      readRects(frame.Rects1);
      readRects(frame.Rects2);
    }
  }

  // Reads a layer. Returns true when its pixels went straight into the
  // frame's picture, which composing would only have copied them to: the
  // layer then keeps an empty picture and is not composed.
  bool ReadDorvLayer(TDorvFrame& frame, int32_t frameIndex, TDorvLayer& layer, int32_t layerIndex,
                     bool firstVisible) {
    TDIBSurface& image = layer.Image;
    image.ColorTable() = frame.Image.ColorTable();
    const int bitCount = SurfaceBitCount(frame.Image);
    charge(int64_t{DIBRowBytes(frame.Image.Width(), storageBits(bitCount))} * frame.Image.Height());
    skip(8, "a layer record");
    layer.Visible = readByte() != 0;
    layer.TransparentValue = ReadStreamInt(stream_);
    layer.Opacity = ReadStreamInt(stream_);
    if (header_.Version >= 101) layer.UseAlpha = readByte() != 0;
    const int32_t nameLength = ReadStreamInt(stream_);
    skip(nameLength, "a layer name");

    const int kind = header_.Compression;
    const int32_t pixelSize = ReadStreamInt(stream_);
    need(pixelSize, "a pixel plane");
    if (decodesIntoFrame(frame, layer, firstVisible, pixelSize)) {
      readPlane(frame.Image, pixelSize, false, PlaneKind::Pixels, frameIndex, layerIndex);
      stream_.Seek(4, SeekOrigin::Current);  // the alpha size, 0
      return true;
    }
    image.SetSize(frame.Image.Width(), frame.Image.Height(), bitCount);
    if (image.BitCount() <= 8) image.UpdatePalette();
    readPlane(image, pixelSize, kind == dcDefault, PlaneKind::Pixels, frameIndex, layerIndex);

    if (header_.Version < 100) return false;
    const int32_t alphaSize = ReadStreamInt(stream_);
    need(alphaSize, "an alpha plane");
    if (alphaSize <= 0) return false;
    layer.TransparentValue = -1;
    charge(int64_t{DIBRowBytes(image.Width(), 8)} * image.Height());
    EnsureAlphaPlane(image);
    const bool inflate = kind == dcDefault || kind == dcNonreversible;
    readPlane(*image.AlphaPlane(), alphaSize, inflate, PlaneKind::Alpha, frameIndex, layerIndex);
    return false;
  }

  // A JPEG plane of the first visible layer that composing would copy whole
  // (opaque, no key or a plain first layer, no alpha plane after it) decodes
  // into the frame's picture itself. The stream is left where it was.
  bool decodesIntoFrame(const TDorvFrame& frame, const TDorvLayer& layer, bool firstVisible,
                        int32_t pixelSize) {
    if (header_.Version < 103 || header_.Compression != dcNonreversible || !layer.Visible ||
        !firstVisible || layer.Opacity < 255 || frame.Image.BitCount() != 24 ||
        frame.Image.GetEmpty() || pixelSize <= 0 ||
        !(layer.TransparentValue < 0 || list_.PlainFirstLayer)) {
      return false;
    }
    const int64_t at = stream_.Position();
    if (stream_.Remaining() < int64_t{pixelSize} + 4) return false;
    stream_.Seek(pixelSize, SeekOrigin::Current);
    const int32_t alphaSize = ReadStreamInt(stream_);
    stream_.Seek(at, SeekOrigin::Begin);
    return alphaSize <= 0;
  }

  // Reads `size` bytes of plane data and decodes them. Data of a memory
  // stream is used where it lies; zlib data of plain rows inflates straight
  // into the picture, other layouts through the work buffer.
  void readPlane(TDIB& plane, int32_t size, bool inflate, PlaneKind kind, int32_t frameIndex,
                 int32_t layerIndex) {
    const uint8_t* data = nullptr;
    if (TKwMemoryStream* memory = stream_.AsMemoryStream()) {
      data = memory->Memory() + memory->Position();
      memory->Seek(size, SeekOrigin::Current);
    } else {
      input_.resize(size_t(size));
      stream_.ReadBuffer(input_.data(), size);
      data = input_.data();
    }
    if (!inflate) {
      decodePlane(plane, {data, size}, kind, frameIndex, layerIndex);
      return;
    }
    if (plainRows(kind) && !plane.GetEmpty()) {
      const int64_t needed = int64_t{plane.RowBytes()} * plane.Height();
      if (inflatePlane(data, size, plane.GetBits(), needed, false) != needed) {
        fail("Layer data shorter than its picture");
      }
      return;
    }
    const int64_t produced = inflatePlane(data, size, nullptr, bodyLimit(plane), true);
    decodePlane(plane, {work_.data(), produced}, kind, frameIndex, layerIndex);
  }

  // Makes the work buffer hold at least `bytes`, charging what it grows by.
  void growWork(int64_t bytes) {
    if (bytes > workCharged_) {
      charge(bytes - workCharged_);
      workCharged_ = bytes;
    }
    work_.resize(size_t(bytes));
  }

  // Inflates one zlib stream into out[0, capacity), or with toWork into
  // the work buffer, which grows with the output up to capacity (a tiled
  // plane's bound can be far above what a small stream produces). Nothing
  // past capacity is ever decoded, so inflating stops there: a stream that
  // holds more gives what its picture needs, and the rest costs neither
  // memory nor time.
  int64_t inflatePlane(const uint8_t* data, int64_t size, uint8_t* out, int64_t capacity,
                       bool toWork) {
    int64_t room = capacity;
    if (toWork) {
      room = std::min(capacity, std::max<int64_t>(size * 4, 1 << 16));
      growWork(room);
      out = work_.data();
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw EZlibError("inflate: cannot start");
    uint8_t spare = 0;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = room > 0 ? out : &spare;
    z.avail_out = static_cast<uInt>(room);
    int rc = Z_OK;
    bool full = false;
    for (;;) {
      rc = inflate(&z, Z_FINISH);
      if (rc != Z_BUF_ERROR || z.avail_out != 0) break;
      // The output is full before the stream ended.
      if (toWork && room < capacity) {
        room = std::min(capacity, room * 2);
        try {
          growWork(room);
        } catch (...) {
          inflateEnd(&z);
          throw;
        }
        z.next_out = work_.data() + z.total_out;
        z.avail_out = static_cast<uInt>(room - static_cast<int64_t>(z.total_out));
        continue;
      }
      full = true;
      break;
    }
    const int64_t produced = static_cast<int64_t>(z.total_out);
    std::string why;
    if (full) {
      // Everything the picture can use is here; the rest is not looked at.
    } else if (rc == Z_BUF_ERROR) {
      why = "inflate: data ends early";
    } else if (rc != Z_STREAM_END) {
      why = std::string("inflate: ") + (z.msg ? z.msg : "damaged data");
    }
    inflateEnd(&z);
    if (!why.empty()) throw EZlibError(why);
    return produced;
  }

  // Whether a plane is stored as plain rows in picture order.
  bool plainRows(PlaneKind kind) const {
    if (header_.Version < 103) return true;
    if (kind == PlaneKind::Pixels && header_.Compression == dcNonreversible) return false;
    return !tiled() && !(header_.Scramble != 0 && header_.Compression != dcNonreversible);
  }

  bool tiled() const {
    return header_.Version >= 103 && header_.TileWidth > 0 && header_.TileHeight > 0 &&
           header_.Compression != dcNonreversible;
  }

  // The most body a plane of this picture can need in the file's layout;
  // inflating never produces more.
  int64_t bodyLimit(const TDIB& plane) const {
    if (!tiled()) return int64_t{plane.RowBytes()} * plane.Height();
    const int64_t tw = header_.TileWidth, th = header_.TileHeight;
    const int64_t across = (plane.Width() + tw - 1) / tw, down = (plane.Height() + th - 1) / th;
    const int64_t lastWidth = plane.Width() - (across - 1) * tw;
    const int64_t bits = plane.BitCount();
    const int64_t rowSum =
        across == 0 ? 0 : (across - 1) * ((tw * bits + 7) / 8) + (lastWidth * bits + 7) / 8;
    return across * down * 8 + rowSum * plane.Height();
  }

  void decodePlane(TDIB& plane, PlaneData data, PlaneKind kind, int32_t frameIndex,
                   int32_t layerIndex) {
    if (header_.Version < 103) {
      ReadLegacyLayerPixels(plane, data);
    } else {
      ReadLayerPixels(plane, data, kind, frameIndex, layerIndex);
    }
  }

  void ReadLegacyLayerPixels(TDIB& plane, PlaneData data) { readRows(plane, data, 0); }

  void ReadLayerPixels(TDIB& plane, PlaneData data, PlaneKind kind, int32_t frameIndex,
                       int32_t layerIndex) {
    if (kind == PlaneKind::Pixels && header_.Compression == dcNonreversible) {
      readJpeg(plane, data);
    } else if (tiled()) {
      readTiles(plane, data, kind, frameIndex, layerIndex);
    } else {
      const bool scrambled = header_.Scramble != 0 && header_.Compression != dcNonreversible;
      readRows(plane, data, scrambled ? static_cast<uint32_t>(list_.IdentCode) : 0);
    }
  }

  void readRows(TDIB& plane, PlaneData data, uint32_t increment) {
    const int64_t rowBytes = plane.RowBytes();
    const int32_t height = plane.Height();
    if (rowBytes * height > data.Size) fail("Layer data shorter than its picture");
    if (rowBytes == 0 || height == 0) return;
    if (increment == 0) {
      for (int32_t i = 0; i < height; ++i) {
        std::memcpy(plane.ScanLine(i), data.Bytes + i * rowBytes, size_t(rowBytes));
      }
      return;
    }
    const std::vector<int32_t> order = DorvPermutation(height, increment);
    for (int32_t i = 0; i < height; ++i) {
      std::memcpy(plane.ScanLine(order[size_t(i)]), data.Bytes + i * rowBytes, size_t(rowBytes));
    }
  }

  void readJpeg(TDIB& plane, PlaneData data) {
    TDIB decoded;
    JpegDecodeWith(data.Bytes, size_t(data.Size), [&](const TJpegInfo& info) -> TDIB& {
      if (info.Width != plane.Width() || info.Height != plane.Height()) {
        fail("JPEG plane of " + std::to_string(info.Width) + " x " + std::to_string(info.Height) +
             " in a layer of " + std::to_string(plane.Width()) + " x " +
             std::to_string(plane.Height()));
      }
      if (plane.BitCount() == 24) return plane;
      charge(int64_t{DIBRowBytes(info.Width, 24)} * info.Height);
      decoded.SetSize(info.Width, info.Height, 24);
      return decoded;
    });
    if (plane.BitCount() != 24) SurfaceDrawWhole(plane, 0, 0, decoded);
  }

  // The plane a tile reference of a file points at: that layer's pixels or
  // its alpha plane, of the same size and bit count as the plane being read.
  const TDIB& referencedPlane(const TDIB& plane, PlaneKind kind, DorvTileRef ref,
                              int32_t frameIndex, int32_t layerIndex) const {
    const TDorvFrame* frame = list_.GetFrame(ref.Kind);
    if (!frame) fail("Tile reference to frame " + std::to_string(ref.Kind) + ", not yet read");
    // The layer being read is in its frame already but not complete.
    const int32_t readLayers = ref.Kind == frameIndex ? layerIndex : frame->Count();
    const TDorvLayer* layer =
        ref.Value >= 0 && ref.Value < readLayers ? frame->GetLayer(ref.Value) : nullptr;
    if (!layer) {
      fail("Tile reference to layer " + std::to_string(ref.Value) + " of frame " +
           std::to_string(ref.Kind) + ", which does not exist");
    }
    const TDIB* source = &layer->Image;
    if (kind == PlaneKind::Alpha) {
      source = layer->Image.AlphaPlane();
      if (!source) fail("Tile reference to a layer without alpha plane");
    }
    if (source->Width() != plane.Width() || source->Height() != plane.Height() ||
        SurfaceBitCount(*source) != SurfaceBitCount(plane)) {
      fail("Tile reference to a layer of another size or bit count");
    }
    return *source;
  }

  // Copies a rectangle of bytes between two planes of one row length,
  // clipped to the rows and picture of both.
  static void CopyDorvTileRect(TDIB& dest, int64_t destX, int32_t destY, const TDIB& source,
                               int64_t sourceX, int32_t sourceY, int64_t bytes, int32_t rows) {
    const int64_t rowBytes = dest.RowBytes();
    bytes = std::min({bytes, rowBytes - destX, rowBytes - sourceX});
    rows = std::min({rows, dest.Height() - destY, source.Height() - sourceY});
    if (bytes <= 0 || rows <= 0) return;
    for (int32_t r = 0; r < rows; ++r) {
      std::memmove(dest.ScanLine(destY + r) + destX, source.ScanLine(sourceY + r) + sourceX,
                   size_t(bytes));
    }
  }

  void readTiles(TDIB& plane, PlaneData data, PlaneKind kind, int32_t frameIndex,
                 int32_t layerIndex) {
    const int64_t tileWidth = header_.TileWidth, tileHeight = header_.TileHeight;
    const int64_t bits = plane.BitCount();
    const int64_t across = (plane.Width() + tileWidth - 1) / tileWidth;
    const int64_t down = (plane.Height() + tileHeight - 1) / tileHeight;
    const int64_t tiles = across * down;
    if (tiles * 8 > data.Size) fail("Tile table beyond the layer data");
    std::vector<DorvTileRef> table(static_cast<size_t>(tiles));
    const std::vector<int32_t> order =
        header_.Scramble ? DorvPermutation(int32_t(tiles), static_cast<uint32_t>(list_.IdentCode))
                         : std::vector<int32_t>();
    for (int64_t i = 0; i < tiles; ++i) {
      const DorvTileRef ref{readInt32(data.Bytes + i * 8), readInt32(data.Bytes + i * 8 + 4)};
      table[order.empty() ? size_t(i) : size_t(order[size_t(i)])] = ref;
    }
    int64_t at = tiles * 8;
    const int64_t columnBytes = (tileWidth * bits + 7) / 8;
    const int64_t rowBytes = plane.RowBytes();
    for (int64_t t = 0; t < tiles; ++t) {
      const int64_t column = t % across, row = t / across;
      const int32_t y = int32_t(row * tileHeight);
      const int32_t height = int32_t(std::min<int64_t>(tileHeight, plane.Height() - y));
      const int64_t width = std::min<int64_t>(tileWidth, plane.Width() - column * tileWidth);
      const int64_t bytes = (width * bits + 7) / 8;
      const int64_t x = column * columnBytes;
      const DorvTileRef ref = table[size_t(t)];
      if (ref.Kind == kTileStored) {
        if (bytes * height > data.Size - at) fail("Tile data beyond the layer data");
        const int64_t fits = std::clamp<int64_t>(rowBytes - x, 0, bytes);
        for (int32_t r = 0; r < height; ++r) {
          if (fits > 0) std::memcpy(plane.ScanLine(y + r) + x, data.Bytes + at, size_t(fits));
          at += bytes;
        }
      } else if (ref.Kind == kTileRepeat) {
        if (ref.Value < 0 || ref.Value >= t) {
          fail("Tile " + std::to_string(t) + " repeats tile " + std::to_string(ref.Value) +
               ", which is not before it");
        }
        const int64_t sourceX = (ref.Value % across) * columnBytes;
        const int32_t sourceY = int32_t((ref.Value / across) * tileHeight);
        CopyDorvTileRect(plane, x, y, plane, sourceX, sourceY, bytes, height);
      } else if (ref.Kind >= 0) {
        const TDIB& source = referencedPlane(plane, kind, ref, frameIndex, layerIndex);
        CopyDorvTileRect(plane, x, y, source, x, y, bytes, height);
      } else {
        fail("Unknown tile kind " + std::to_string(ref.Kind));
      }
    }
  }

  TDorvFrameList& list_;
  TKwStream& stream_;
  TDorvHeader header_;
  std::string head_;  // the first bytes of the data, up to the tag's length
  bool tagged_ = false;
  std::vector<uint8_t> input_;  // plane data of streams that are not in memory
  std::vector<uint8_t> work_;   // inflated plane data of tiled and scrambled layouts
  int64_t workCharged_ = 0;
  int64_t used_ = 0;
};

}  // namespace

void LoadDorvStream(TDorvFrameList& list, TKwStream& stream, bool firstFrameOnly) {
  list.Clear();
  try {
    DorvReader(list, stream).Read(firstFrameOnly);
  } catch (...) {
    list.Clear();
    throw;
  }
}

bool IsDorvStream(TKwStream& stream) {
  char tag[7] = {};
  if (stream.Read(tag, sizeof tag) != sizeof tag || std::memcmp(tag, kDorvMagic, 4) != 0) {
    return false;
  }
  int32_t version = 0;
  auto [end, ec] = std::from_chars(tag + 4, tag + 7, version);
  if (ec != std::errc() || end != tag + 7 || version < 103) return false;
  uint8_t lengthBytes[4] = {};
  if (stream.Read(lengthBytes, 4) != 4) return false;
  const int32_t length = readInt32(lengthBytes);
  if (length <= 0) return false;
  uint8_t record[kDorvHeaderSize] = {};
  const int64_t got = stream.Read(record, std::min(length, kDorvHeaderSize));
  return DecodeDorvHeader(record, int(got)).Compression == dcNone;
}

}  // namespace zirk
