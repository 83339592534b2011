#include "png_support.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zirk::test {

namespace {

void putBE32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t getBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

}  // namespace

PngBuilder::PngBuilder() : bytes_{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A} {}

PngBuilder& PngBuilder::Chunk(const std::string& type, const Bytes& data, bool badCrc) {
  putBE32(bytes_, static_cast<uint32_t>(data.size()));
  const size_t start = bytes_.size();
  bytes_.insert(bytes_.end(), type.begin(), type.end());
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  uLong crc = crc32(0, bytes_.data() + start, static_cast<uInt>(bytes_.size() - start));
  if (badCrc) crc ^= 0xDEADBEEF;
  putBE32(bytes_, static_cast<uint32_t>(crc));
  return *this;
}

PngBuilder& PngBuilder::Ihdr(uint32_t width, uint32_t height, int depth, int colorType,
                             int interlace) {
  Bytes data;
  putBE32(data, width);
  putBE32(data, height);
  data.push_back(static_cast<uint8_t>(depth));
  data.push_back(static_cast<uint8_t>(colorType));
  data.push_back(0);
  data.push_back(0);
  data.push_back(static_cast<uint8_t>(interlace));
  return Chunk("IHDR", data);
}

PngBuilder& PngBuilder::Idat(const Bytes& filteredRows) {
  return Chunk("IDAT", Deflate(filteredRows));
}

PngBuilder& PngBuilder::End() {
  return Chunk("IEND", {});
}

Bytes Unfiltered(const std::vector<Bytes>& rows) {
  Bytes out;
  for (const Bytes& row : rows) {
    out.push_back(0);
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

Bytes SimplePng(int width, const std::vector<Bytes>& rows, int depth, int colorType,
                const std::vector<std::pair<std::string, Bytes>>& extra) {
  PngBuilder b;
  b.Ihdr(static_cast<uint32_t>(width), static_cast<uint32_t>(rows.size()), depth, colorType);
  for (const auto& [type, data] : extra) b.Chunk(type, data);
  b.Idat(Unfiltered(rows)).End();
  return b.bytes();
}

std::vector<PngChunk> ChunksOf(const Bytes& file) {
  std::vector<PngChunk> chunks;
  for (size_t pos = 8; pos + 12 <= file.size();) {
    const uint32_t length = getBE32(&file[pos]);
    if (length > file.size() - pos - 12) break;
    chunks.push_back({std::string(file.begin() + long(pos) + 4, file.begin() + long(pos) + 8),
                      Bytes(file.begin() + long(pos) + 8, file.begin() + long(pos) + 8 + length)});
    pos += 12 + length;
  }
  return chunks;
}

Bytes ImageDataOf(const Bytes& file) {
  Bytes z;
  for (const PngChunk& c : ChunksOf(file)) {
    if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
  }
  Bytes out;
  z_stream zs{};
  inflateInit(&zs);
  zs.next_in = z.data();
  zs.avail_in = static_cast<uInt>(z.size());
  uint8_t buffer[65536];
  int ret = Z_OK;
  while (ret == Z_OK) {
    zs.next_out = buffer;
    zs.avail_out = sizeof buffer;
    ret = inflate(&zs, Z_NO_FLUSH);
    out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
  }
  inflateEnd(&zs);
  return out;
}

Rgba RgbaOfBitmap(const TDIB& image, const TDIB* mask) {
  Rgba out;
  out.width = image.Width();
  out.height = image.Height();
  const TDIBCanvas canvas = image.GetCanvas();
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const uint32_t c = canvas.GetPixel(x, y);
      out.pixels.push_back(ColorR(c));
      out.pixels.push_back(ColorG(c));
      out.pixels.push_back(ColorB(c));
      out.pixels.push_back(mask ? static_cast<uint8_t>(255 - mask->ScanLine(y)[x]) : 255);
    }
  }
  return out;
}

Rgba RgbaOfPicture(const TKwPNG& png) {
  const TDIB& image = png.Image();
  Rgba out = RgbaOfBitmap(image, png.HasAlpha ? &png.Mask() : nullptr);
  const int32_t key = png.TransparentColor();
  if (png.HasAlpha || key == -1 || png.Truncated()) return out;
  const bool byIndex = (static_cast<uint32_t>(key) >> 24) == 1;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const bool hit = byIndex ? image.GetRawPixel(x, y) == static_cast<uint32_t>(key & 0xFF)
                               : image.GetCanvas().GetPixel(x, y) == static_cast<uint32_t>(key);
      if (hit) out.pixels[(static_cast<size_t>(y) * out.width + x) * 4 + 3] = 0;
    }
  }
  return out;
}

Rgba ReadPam(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  Rgba out;
  int maxval = 255, depth = 0;
  std::string line;
  while (std::getline(in, line) && line != "ENDHDR") {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "WIDTH") words >> out.width;
    if (key == "HEIGHT") words >> out.height;
    if (key == "MAXVAL") words >> maxval;
    if (key == "DEPTH") words >> depth;
  }
  if (depth != 4) throw std::runtime_error("not RGBA: " + path);
  const size_t sampleBytes = maxval > 255 ? 2 : 1;
  const size_t samples = static_cast<size_t>(out.width) * out.height * 4;
  std::vector<uint8_t> body(samples * sampleBytes);
  in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size()));
  for (size_t i = 0; i < samples; ++i) out.pixels.push_back(body[i * sampleBytes]);
  return out;
}

namespace {

struct MemoryInput {
  const Bytes* data;
  size_t pos;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* in = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (in->pos + length > in->data->size()) png_error(png, "read past the end");
  std::memcpy(out, in->data->data() + in->pos, length);
  in->pos += length;
}

void raiseError(png_structp png, png_const_charp message) {
  auto* text = static_cast<std::string*>(png_get_error_ptr(png));
  *text = message;
  longjmp(png_jmpbuf(png), 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

}  // namespace

Rgba LibpngDecode(const Bytes& data) {
  std::string error;
  Rgba out;
  std::vector<png_bytep> rows;
  MemoryInput input{&data, 0};
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, raiseError, ignoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("libpng: " + error);
  }
  png_set_read_fn(png, &input, readFromMemory);
  png_read_info(png, info);
  png_set_strip_16(png);
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * 4);
  rows.resize(static_cast<size_t>(out.height));
  for (int y = 0; y < out.height; ++y)
    rows[y] = out.pixels.data() + static_cast<size_t>(y) * out.width * 4;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

bool TrnsKey(const Bytes& data, uint8_t rgb[3]) {
  if (data.size() < 33) return false;
  const int depth = data[24], colorType = data[25];
  if (colorType != 0 && colorType != 2) return false;
  for (const PngChunk& c : ChunksOf(data)) {
    if (c.type == "IDAT") return false;
    if (c.type != "tRNS") continue;
    auto sample = [&](int i) {
      const int v = c.data[2 * i] << 8 | c.data[2 * i + 1];
      if (depth == 16) return static_cast<uint8_t>(v >> 8);
      if (depth == 8) return static_cast<uint8_t>(v);
      const int max = (1 << depth) - 1;
      return static_cast<uint8_t>((v & max) * 255 / max);
    };
    const size_t samples = colorType == 0 ? 1 : 3;
    if (c.data.size() != 2 * samples) return false;
    for (size_t i = 0; i < 3; ++i) rgb[i] = sample(samples == 1 ? 0 : int(i));
    return true;
  }
  return false;
}

void ApplyKey(Rgba& image, const uint8_t rgb[3]) {
  for (size_t i = 0; i + 3 < image.pixels.size(); i += 4) {
    const bool hit = std::memcmp(&image.pixels[i], rgb, 3) == 0;
    image.pixels[i + 3] = hit ? 0 : 255;
  }
}

}  // namespace zirk::test
