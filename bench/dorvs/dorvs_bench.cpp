// Decoding an 800 x 600, 24-bit layered image next to the bare libraries
// doing the same work: kind 0 against zlib inflating the plane, kind 2
// against libjpeg-turbo decoding the JPEG plane. Read the ratio of each
// <Case>/zirk to its peer in the same run.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/dorvs.h"
#include "imaging/jpeg.h"

namespace {

using namespace zirk;

constexpr int kWidth = 800, kHeight = 600;

// A picture with smooth areas and some grain, like a game background.
void paint(TDIB& image) {
  image.SetSize(kWidth, kHeight, 24);
  std::mt19937 rng(7);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const int grain = int(rng() % 9);
      image.SetRawPixel(
          x, y, RGBColor((x / 3 + grain) & 255, (y / 2 + grain) & 255, ((x + y) / 5) & 255));
    }
  }
}

struct Sample {
  std::vector<uint8_t> file;   // the layered image
  std::vector<uint8_t> plane;  // the stored pixel plane inside it
};

Sample makeSample(int kind) {
  TDorvFrameList list;
  paint(list.AddFrame()->Image);
  TKwMemoryStream out;
  list.SaveToStream(out, kind, 85);
  Sample s;
  s.file = out.Bytes();
  // Tag, header, the frame record up to its first layer, and the layer's
  // fields up to its name "Layer": then the plane's size and data.
  const size_t at = 7 + 4 + 40 + 4 + 6 + 4 + 4 + 5 + 4 + 12 + 8 + 1 + 4 + 4 + 1 + 4 + 5;
  uint32_t size = 0;
  std::memcpy(&size, &s.file[at], 4);
  s.plane.assign(s.file.begin() + std::ptrdiff_t(at + 4),
                 s.file.begin() + std::ptrdiff_t(at + 4 + size));
  return s;
}

const Sample& sample(int kind) {
  static const Sample kinds[3] = {makeSample(0), makeSample(1), makeSample(2)};
  return kinds[kind];
}

void decodeLayered(benchmark::State& state, int kind) {
  const Sample& s = sample(kind);
  for (auto _ : state) {
    TKwMemoryStream stream(s.file);
    TDorvFrameList list;
    LoadDorvStream(list, stream, false);
    benchmark::DoNotOptimize(list.GetFrame(0)->Image.GetBits());
  }
}

void Kind0Zirk(benchmark::State& state) {
  decodeLayered(state, 0);
}

void Kind0Zlib(benchmark::State& state) {
  const Sample& s = sample(0);
  const size_t rowBytes = (kWidth * 3 + 3) & ~size_t(3);
  std::vector<uint8_t> out(rowBytes * kHeight);
  for (auto _ : state) {
    uLongf size = uLongf(out.size());
    uncompress(out.data(), &size, s.plane.data(), uLong(s.plane.size()));
    benchmark::DoNotOptimize(out.data());
  }
}

void Kind2Zirk(benchmark::State& state) {
  decodeLayered(state, 2);
}

void Kind2Jpeg(benchmark::State& state) {
  const Sample& s = sample(2);
  std::vector<uint8_t> out(size_t(kWidth) * 3 * kHeight);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, s.plane.data(), static_cast<unsigned long>(s.plane.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = &out[size_t(cinfo.output_scanline) * kWidth * 3];
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(out.data());
  }
}

// Kind 1 has no peer: it shows what is left when no codec runs.
void Kind1Zirk(benchmark::State& state) {
  decodeLayered(state, 1);
}

}  // namespace

BENCHMARK(Kind0Zirk)->Name("Kind0/zirk")->Unit(benchmark::kMillisecond);
BENCHMARK(Kind0Zlib)->Name("Kind0/zlib")->Unit(benchmark::kMillisecond);
BENCHMARK(Kind2Zirk)->Name("Kind2/zirk")->Unit(benchmark::kMillisecond);
BENCHMARK(Kind2Jpeg)->Name("Kind2/jpeg")->Unit(benchmark::kMillisecond);
BENCHMARK(Kind1Zirk)->Name("Kind1/zirk")->Unit(benchmark::kMillisecond);
