#include "gif_support.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "imaging/GIFImageLZW.h"
#include "support/testdata.h"

namespace zirk::test {

// --- builder ---

namespace {

void put16(GifBytes& out, int v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}

}  // namespace

void GifBuilder::colors(const std::vector<uint32_t>& table) {
  size_t n = 2;
  while (n < table.size()) n *= 2;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t c = i < table.size() ? table[i] : 0;
    Raw({uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
  }
}

GifBuilder& GifBuilder::Header(int width, int height, const std::vector<uint32_t>& globalColors,
                               const std::string& signature, uint8_t background) {
  bytes_.insert(bytes_.end(), signature.begin(), signature.end());
  put16(bytes_, width);
  put16(bytes_, height);
  int bits = 1;
  while ((size_t(1) << bits) < globalColors.size()) ++bits;
  Raw({uint8_t(globalColors.empty() ? 0x70 : 0xF0 | (bits - 1)), background, 0});
  if (!globalColors.empty()) colors(globalColors);
  return *this;
}

GifBuilder& GifBuilder::Gce(int disposal, int delay, int transparentIndex) {
  Raw({'!', 0xF9, 4, uint8_t((disposal & 7) << 2 | (transparentIndex >= 0 ? 1 : 0))});
  put16(bytes_, delay);
  return Raw({uint8_t(transparentIndex >= 0 ? transparentIndex : 0), 0});
}

GifBuilder& GifBuilder::Comment(const std::vector<std::string>& lines) {
  Raw({'!', 0xFE});
  for (const std::string& line : lines) {
    bytes_.push_back(uint8_t(line.size()));
    bytes_.insert(bytes_.end(), line.begin(), line.end());
  }
  return Byte(0);
}

GifBuilder& GifBuilder::AppExt(uint8_t blockSize, const std::string& ident,
                               const std::vector<GifBytes>& blocks) {
  Raw({'!', 0xFF, blockSize});
  bytes_.insert(bytes_.end(), ident.begin(), ident.end());
  for (const GifBytes& block : blocks) Byte(uint8_t(block.size())).Raw(block);
  return Byte(0);
}

GifBuilder& GifBuilder::Loop(uint16_t count) {
  return AppExt(11, "NETSCAPE2.0", {{1, uint8_t(count), uint8_t(count >> 8)}});
}

GifBuilder& GifBuilder::Image(int left, int top, int width, int height, uint8_t packed,
                              const std::vector<uint32_t>& localColors, const GifBytes& imageData) {
  Byte(',');
  for (int v : {left, top, width, height}) put16(bytes_, v);
  Byte(packed);
  if ((packed & 0x80) && !localColors.empty()) colors(localColors);
  return Raw(imageData);
}

GifBuilder& GifBuilder::Pixels(int left, int top, int width, int height,
                               const std::vector<uint8_t>& pixels, int bits, bool interlaced) {
  TKwMemoryStream data;
  EncodeGIFPixels(data, pixels.data(), width, height, interlaced, bits);
  return Image(left, top, width, height, interlaced ? 0x40 : 0, {}, data.Bytes());
}

GifBuilder& GifBuilder::Raw(const GifBytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

GifBytes GifTinyFramesOnAHugeScreen(int size, int frames) {
  GifBuilder b;
  b.Header(size, size, {0x000000, 0x0000FF, 0x00FF00, 0xFF0000});
  for (int i = 0; i < frames; ++i) b.Gce(i % 3 + 1, 1).Pixels(i, i, 1, 1, {uint8_t(1 + i % 3)}, 2);
  return b.Trailer().Bytes();
}

GifBytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codesAndWidths,
                   bool terminator) {
  GifBytes packed;
  uint32_t acc = 0;
  int bits = 0;
  for (auto [code, width] : codesAndWidths) {
    acc |= uint32_t(code) << bits;
    bits += width;
    while (bits >= 8) {
      packed.push_back(uint8_t(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) packed.push_back(uint8_t(acc));
  GifBytes out{uint8_t(minCodeSize)};
  for (size_t at = 0; at < packed.size(); at += 255) {
    const size_t n = std::min<size_t>(255, packed.size() - at);
    out.push_back(uint8_t(n));
    out.insert(out.end(), packed.begin() + long(at), packed.begin() + long(at + n));
  }
  if (terminator) out.push_back(0);
  return out;
}

// --- giflib ---

namespace {

struct MemoryInput {
  const GifBytes* bytes;
  size_t pos = 0;
};

int readMemory(GifFileType* gif, GifByteType* buffer, int count) {
  auto* in = static_cast<MemoryInput*>(gif->UserData);
  const size_t n = std::min<size_t>(size_t(count), in->bytes->size() - in->pos);
  std::memcpy(buffer, in->bytes->data() + in->pos, n);
  in->pos += n;
  return int(n);
}

std::vector<uint32_t> mapColors(const ColorMapObject* map) {
  std::vector<uint32_t> colors;
  if (!map) return colors;
  for (int i = 0; i < map->ColorCount; ++i) {
    const GifColorType& c = map->Colors[i];
    colors.push_back(uint32_t(c.Red) | uint32_t(c.Green) << 8 | uint32_t(c.Blue) << 16);
  }
  return colors;
}

}  // namespace

GiflibFile GiflibDecode(const GifBytes& file) {
  GiflibFile result;
  MemoryInput input{&file};
  int error = 0;
  GifFileType* gif = DGifOpen(&input, readMemory, &error);
  if (!gif) return result;
  if (DGifSlurp(gif) == GIF_OK) {
    result.Ok = true;
    result.Width = gif->SWidth;
    result.Height = gif->SHeight;
    result.GlobalColors = mapColors(gif->SColorMap);
    for (int i = 0; i < gif->ImageCount; ++i) {
      const SavedImage& s = gif->SavedImages[i];
      GiflibFrame f;
      f.Left = s.ImageDesc.Left;
      f.Top = s.ImageDesc.Top;
      f.Width = s.ImageDesc.Width;
      f.Height = s.ImageDesc.Height;
      f.Interlaced = s.ImageDesc.Interlace;
      f.Pixels.assign(s.RasterBits, s.RasterBits + size_t(f.Width) * size_t(f.Height));
      f.LocalColors = mapColors(s.ImageDesc.ColorMap);
      result.Frames.push_back(std::move(f));
    }
  }
  DGifCloseFile(gif, &error);
  return result;
}

// --- picture helpers ---

void LoadGif(TGIFImage& image, const GifBytes& bytes, std::vector<std::string>* warnings) {
  if (warnings) {
    image.OnWarning = [warnings](TGIFImage&, int, const std::string& message) {
      warnings->push_back(message);
    };
  }
  TKwMemoryStream stream(bytes);
  image.LoadFromStream(stream);
}

GifBytes SaveGif(TGIFImage& image) {
  TKwMemoryStream stream;
  image.SaveToStream(stream);
  return stream.Bytes();
}

// --- reference files ---

bool ReadPgm(const std::string& path, int& width, int& height, std::vector<uint8_t>& pixels) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> width >> height >> maxval) || magic != "P5") return false;
  in.get();
  pixels.resize(size_t(width) * size_t(height));
  in.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size()));
  return bool(in);
}

Rgba SuiteFrame(const std::string& name, int frame) {
  const std::string suffix = frame < 0 ? "" : "-" + std::to_string(frame);
  return LibpngDecode(
      readFile(dataPath("gif/expected/gif-test-suite/coalesced/" + name + suffix + ".png")));
}

int WrongPixels(const Rgba& expected, const Rgba& got) {
  if (expected.width != got.width || expected.height != got.height ||
      expected.pixels.size() != got.pixels.size()) {
    return -1;
  }
  int wrong = 0;
  for (size_t i = 0; i + 3 < expected.pixels.size(); i += 4) {
    const uint8_t* e = &expected.pixels[i];
    const uint8_t* g = &got.pixels[i];
    wrong += e[3] == 0 ? g[3] != 0 : g[3] != 255 || !std::equal(e, e + 3, g);
  }
  return wrong;
}

}  // namespace zirk::test
