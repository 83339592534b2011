// The PNG reader and writer next to libpng doing the same work on the same
// pictures: decoding large RGB, RGBA, palette, grey and interlaced files
// (made by libpng at start-up from deterministic synthetic scenes, since the
// test data holds no large pictures), and encoding at the same zlib level
// with adaptive filtering. Compare <Case>/zirk with <Case>/libpng.

#include <benchmark/benchmark.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/KwPNG.h"

namespace {

using zirk::TDIB;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
constexpr int kLevel = 6;

// A scene with gradients, soft shapes and a little noise, so that filters
// and deflate see something like a photograph or game art.
void sceneColor(int x, int y, uint32_t& noise, uint8_t& r, uint8_t& g, uint8_t& b) {
  noise = noise * 1664525u + 1013904223u;
  const int n = static_cast<int>(noise >> 29) - 4;
  const double dx = x - kWidth * 0.6, dy = y - kHeight * 0.4;
  const double disc = std::max(0.0, 1.0 - std::sqrt(dx * dx + dy * dy) / 400.0);
  const double wave = 0.5 + 0.5 * std::sin(x / 37.0) * std::cos(y / 53.0);
  auto clamp = [](double v) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, v))); };
  r = clamp(x * 200.0 / kWidth + disc * 55 + n);
  g = clamp(wave * 120 + disc * 100 + n);
  b = clamp(y * 220.0 / kHeight + (1 - disc) * 30 + n);
}

struct Scene {
  TDIB rgb{kWidth, kHeight, 24};
  TDIB palette{kWidth, kHeight, 8};
  TDIB grey{kWidth, kHeight, 8};
  TDIB alpha{kWidth, kHeight, 8};  // mask: 255 - alpha
  Scene() {
    for (int i = 0; i < 216; ++i) {
      palette.ColorTable()[i] = {uint8_t(i % 6 * 51), uint8_t(i / 6 % 6 * 51), uint8_t(i / 36 * 51),
                                 0};
    }
    for (int i = 0; i < 256; ++i) grey.ColorTable()[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
    uint32_t noise = 12345;
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = rgb.ScanLine(y);
      uint8_t* pal = palette.ScanLine(y);
      uint8_t* gr = grey.ScanLine(y);
      uint8_t* al = alpha.ScanLine(y);
      for (int x = 0; x < kWidth; ++x) {
        uint8_t r, g, b;
        sceneColor(x, y, noise, r, g, b);
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
        pal[x] = static_cast<uint8_t>((r + 25) / 51 + (g + 25) / 51 * 6 + (b + 25) / 51 * 36);
        gr[x] = static_cast<uint8_t>((r * 77 + g * 150 + b * 29) >> 8);
        al[x] = static_cast<uint8_t>(std::abs(x - kWidth / 2) * 255 / (kWidth / 2));
      }
    }
  }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

// --- libpng ---

void ignoreWarning(png_structp, png_const_charp) {}

struct Input {
  const Bytes* data;
  size_t pos;
};
void readFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* in = static_cast<Input*>(png_get_io_ptr(png));
  if (in->pos + length > in->data->size()) png_error(png, "read past the end");
  std::memcpy(out, in->data->data() + in->pos, length);
  in->pos += length;
}
void writeToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}

enum class Kind { RGB, RGBA, Palette, Grey };

// The scene's rows as libpng takes them (B, G, R(, A) with png_set_bgr).
std::vector<Bytes> libpngRows(Kind kind) {
  const Scene& s = scene();
  std::vector<Bytes> rows(kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* src = kind == Kind::Palette ? s.palette.ScanLine(y)
                         : kind == Kind::Grey  ? s.grey.ScanLine(y)
                                               : s.rgb.ScanLine(y);
    if (kind == Kind::RGBA) {
      rows[y].resize(kWidth * 4);
      for (int x = 0; x < kWidth; ++x) {
        std::memcpy(&rows[y][4 * x], src + 3 * x, 3);
        rows[y][4 * x + 3] = static_cast<uint8_t>(255 - s.alpha.ScanLine(y)[x]);
      }
    } else {
      rows[y].assign(src, src + (kind == Kind::RGB ? 3 : 1) * kWidth);
    }
  }
  return rows;
}

Bytes libpngEncode(Kind kind, bool interlaced, std::vector<Bytes>& rows) {
  const Scene& s = scene();
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng write failed");
  }
  png_set_write_fn(png, &out, writeToMemory, flushNothing);
  png_set_compression_level(png, kLevel);
  const int type = kind == Kind::RGB       ? PNG_COLOR_TYPE_RGB
                   : kind == Kind::RGBA    ? PNG_COLOR_TYPE_RGBA
                   : kind == Kind::Palette ? PNG_COLOR_TYPE_PALETTE
                                           : PNG_COLOR_TYPE_GRAY;
  png_set_IHDR(png, info, kWidth, kHeight, 8, type,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (kind == Kind::Palette) {
    png_color entries[216];
    for (int i = 0; i < 216; ++i) {
      const auto& q = s.palette.ColorTable()[i];
      entries[i] = {q.rgbRed, q.rgbGreen, q.rgbBlue};
    }
    png_set_PLTE(png, info, entries, 216);
  }
  png_write_info(png, info);
  if (kind == Kind::RGB || kind == Kind::RGBA) png_set_bgr(png);
  std::vector<png_bytep> pointers(kHeight);
  for (int y = 0; y < kHeight; ++y) pointers[y] = rows[y].data();
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// libpng's decode into rows of the picture's own layout (B, G, R for
// colour, as the bitmap holds it).
void libpngDecode(const Bytes& data, std::vector<uint8_t>& pixels) {
  Input input{&data, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, ignoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("libpng read failed");
  }
  png_set_read_fn(png, &input, readFromMemory);
  png_read_info(png, info);
  png_set_bgr(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  const int height = static_cast<int>(png_get_image_height(png, info));
  pixels.resize(rowBytes * height);
  std::vector<png_bytep> rows(height);
  for (int y = 0; y < height; ++y) rows[y] = pixels.data() + rowBytes * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

// --- cases ---

struct Case {
  const char* name;
  Kind kind;
  bool interlaced;
};
constexpr Case kCases[] = {
    {"RGB", Kind::RGB, false},          {"RGBA", Kind::RGBA, false},
    {"Palette", Kind::Palette, false},  {"Grey", Kind::Grey, false},
    {"InterlacedRGB", Kind::RGB, true},
};

Bytes sampleFile(const Case& c) {
  std::vector<Bytes> rows = libpngRows(c.kind);
  return libpngEncode(c.kind, c.interlaced, rows);
}

void decodeZirk(benchmark::State& state, const Case& c) {
  const Bytes file = sampleFile(c);
  for (auto _ : state) {
    zirk::TKwMemoryStream stream(file);
    zirk::TKwPNG png;
    png.LoadFromStream(stream);
    benchmark::DoNotOptimize(png.Image().GetBits());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
  state.counters["file_kB"] = double(file.size()) / 1024;
}

void decodeLibpng(benchmark::State& state, const Case& c) {
  const Bytes file = sampleFile(c);
  std::vector<uint8_t> pixels;
  for (auto _ : state) {
    libpngDecode(file, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
  state.counters["file_kB"] = double(file.size()) / 1024;
}

void encodeZirk(benchmark::State& state, const Case& c) {
  const Scene& s = scene();
  TDIB source;
  source.Assign(c.kind == Kind::Palette ? s.palette : c.kind == Kind::Grey ? s.grey : s.rgb);
  size_t size = 0;
  for (auto _ : state) {
    zirk::TKwPNGWriteStream writer;
    writer.CompressionLevel = kLevel;
    writer.FilterMode = 0;
    writer.Interlaced = c.interlaced;
    writer.GrayScale = c.kind == Kind::Grey;
    if (c.kind == Kind::RGBA) writer.Mask = &s.alpha;
    zirk::TKwMemoryStream out;
    writer.Write(source, out);
    size = out.Bytes().size();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
  state.counters["file_kB"] = double(size) / 1024;
}

void encodeLibpng(benchmark::State& state, const Case& c) {
  std::vector<Bytes> rows = libpngRows(c.kind);
  size_t size = 0;
  for (auto _ : state) size = libpngEncode(c.kind, c.interlaced, rows).size();
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight);
  state.counters["file_kB"] = double(size) / 1024;
}

int registerAll() {
  for (const Case& c : kCases) {
    const std::string name = c.name;
    benchmark::RegisterBenchmark(("Decode" + name + "/zirk").c_str(), decodeZirk, c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Decode" + name + "/libpng").c_str(), decodeLibpng, c)
        ->Unit(benchmark::kMillisecond);
  }
  for (const Case& c : kCases) {
    const std::string name = c.name;
    benchmark::RegisterBenchmark(("Encode" + name + "/zirk").c_str(), encodeZirk, c)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Encode" + name + "/libpng").c_str(), encodeLibpng, c)
        ->Unit(benchmark::kMillisecond);
  }
  return 0;
}

const int registered = registerAll();

}  // namespace
