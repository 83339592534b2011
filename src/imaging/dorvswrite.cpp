// The layered image writer: one frame record per frame, holding the
// composed picture as its only layer, in plain rows (never tiles).

#include <algorithm>
#include <cstring>

#include "base/compress.h"
#include "imaging/dorvs.h"
#include "imaging/jpeg.h"

namespace zirk {

namespace {

void writeByte(TKwStream& stream, uint8_t value) {
  stream.WriteBuffer(&value, 1);
}

// The value the reader takes for the frame's transparent pixel: a pixel
// value of the picture, never the display colour (which would swap red and
// blue at 24 bits and be read as an index at 8).
int32_t transparentPixel(const TDorvFrame& frame) {
  if (frame.TransparentColor < 0) return -1;
  if (frame.TransparentValue >= 0) return frame.TransparentValue;
  return static_cast<int32_t>(
      frame.Image.ColorToPixel(static_cast<uint32_t>(frame.TransparentColor)));
}

}  // namespace

TDorvHeader FillDorvHeader(const TDorvFrameList& list, const TDorvFrame* firstFrame, int kind,
                           int quality) {
  TDorvHeader h;
  h.Version = kDorvWriteVersion;
  if (firstFrame) {
    h.Width = firstFrame->Image.Width();
    h.Height = firstFrame->Image.Height();
    h.BitCount = SurfaceBitCount(firstFrame->Image);
  }
  h.FrameCount = list.Count();
  h.Flag = 1;
  h.Scramble = list.IdentCode != 0 ? 1 : 0;
  // Scrambled rows exist only in uncompressed planes.
  h.Compression = static_cast<uint8_t>(h.Scramble ? dcNone : kind);
  h.Background = list.Background;
  h.PlainFirstLayer = list.PlainFirstLayer ? 1 : 0;
  h.Quality = static_cast<uint8_t>(std::clamp(quality, 0, 100));
  return h;
}

void WriteDorvLayer(TKwStream& stream, const TDIB& plane, const TDorvHeader& header,
                    int32_t identCode, bool alphaPlane) {
  const int kind = header.Compression;
  TKwMemoryStream body;
  if (kind == dcNonreversible && !alphaPlane) {
    TJPEGImage jpeg;
    jpeg.CompressionQuality = header.Quality;
    jpeg.Assign(plane);
    jpeg.SaveToStream(body);
  } else {
    const int64_t rowBytes = plane.RowBytes();
    const int32_t height = plane.Height();
    body.SetSize(rowBytes * height);
    const std::vector<int32_t> order =
        header.Scramble && kind != dcNonreversible
            ? DorvPermutation(height, static_cast<uint32_t>(identCode))
            : std::vector<int32_t>();
    for (int32_t i = 0; rowBytes > 0 && i < height; ++i) {
      const int32_t row = order.empty() ? i : order[size_t(i)];
      std::memcpy(body.Memory() + i * rowBytes, plane.ScanLine(row), size_t(rowBytes));
    }
    if (kind == dcDefault || kind == dcNonreversible) CompressStreamInPlace(body);
  }
  WriteStreamInt(stream, static_cast<int32_t>(body.Size()));
  stream.WriteBuffer(body.Memory(), body.Size());
}

void WriteDorvFrames(TKwStream& stream, const TDorvFrameList& list, const TDorvHeader& header,
                     const TDorvFrame& frame, int32_t position) {
  const TDIBSurface& image = frame.Image;
  const int bitCount = SurfaceBitCount(image);
  WriteStreamString(stream, "Frame" + std::to_string(position));
  WriteStreamInt(stream, transparentPixel(frame));
  WriteStreamInt(stream, frame.Delay);
  writeByte(stream, 2);
  WriteStreamInt(stream, 0);
  WriteStreamInt(stream, 1);
  WriteStreamInt(stream, image.Width());
  WriteStreamInt(stream, image.Height());
  WriteStreamInt(stream, bitCount);
  if (bitCount <= 8) stream.WriteBuffer(image.ColorTable().data(), int64_t{4} << bitCount);
  // The single layer: the composed picture, opaque, through its alpha plane
  // when it has one.
  WriteStreamInt(stream, 0);
  WriteStreamInt(stream, 0);
  writeByte(stream, 1);
  WriteStreamInt(stream, -1);
  WriteStreamInt(stream, 255);
  writeByte(stream, image.HasAlphaPlane() ? 1 : 0);
  WriteStreamString(stream, "Layer");
  WriteDorvLayer(stream, image, header, list.IdentCode, false);
  if (const TDIBSurface* alpha = image.AlphaPlane()) {
    WriteDorvLayer(stream, *alpha, header, list.IdentCode, true);
  } else {
    WriteStreamInt(stream, 0);
  }
  WriteStreamInt(stream, 0);
  WriteStreamInt(stream, 0);
}

void TDorvFrameList::SaveToStream(TKwStream& stream, int kind, int quality) const {
  if (kind < dcDefault || kind > dcNonreversible) {
    throw EDorvError("Unknown compression kind " + std::to_string(kind));
  }
  const TDorvHeader header = FillDorvHeader(*this, GetFrame(0), kind, quality);
  stream.WriteBuffer("Dorv106", 7);
  WriteStreamInt(stream, kDorvHeaderSize);
  const auto record = EncodeDorvHeader(header);
  stream.WriteBuffer(record.data(), kDorvHeaderSize);
  for (int32_t i = 0; i < Count(); ++i) WriteDorvFrames(stream, *this, header, *GetFrame(i), i + 1);
}

void TDorvFrameList::SaveToFile(const std::string& hostPath) const {
  TKwMemoryStream data;
  SaveToStream(data, dcDefault, 70);
  data.SaveToFileReplacing(hostPath);
}

}  // namespace zirk
