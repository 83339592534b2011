// The GIF codec (`<Case>/zirk`) next to giflib (`<Case>/giflib`) on the
// same bytes: decoding a large 256-colour picture and a 256-colour
// animation (giflib: DGifSlurp; ours: TGIFImage::LoadFromStream), and
// encoding the large picture (giflib: EGifPutLine; ours:
// EncodeImageData through TGIFImage::SaveToStream). Both files are made by
// giflib's encoder, so neither side reads its own output.

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "imaging/GIFImage.h"

namespace zirk {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kLargeW = 1600, kLargeH = 1200;
constexpr int kAnimW = 400, kAnimH = 300, kAnimFrames = 24;

// A picture with smooth areas, edges and some noise, as a quantised photo
// or a game screen shows.
std::vector<uint8_t> picture(int w, int h, int phase) {
  std::vector<uint8_t> px(size_t(w) * size_t(h));
  uint32_t seed = 99 + uint32_t(phase);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      seed = seed * 1103515245u + 12345u;
      const double v = 96 + 80 * std::sin((x + phase * 7) / 37.0) * std::cos(y / 23.0);
      int index = int(v) + int((seed >> 28) & 3);
      if (((x + phase) / 64 + y / 48) % 5 == 0) index = (x * 3 + y) & 255;
      px[size_t(y) * size_t(w) + size_t(x)] = uint8_t(index & 255);
    }
  }
  return px;
}

int writeBytes(GifFileType* gif, const GifByteType* data, int count) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

ColorMapObject* makePalette() {
  GifColorType colors[256];
  for (int i = 0; i < 256; ++i) {
    colors[i] = {GifByteType(i), GifByteType((i * 7) & 255), GifByteType(255 - i)};
  }
  return GifMakeMapObject(256, colors);
}

Bytes giflibEncode(int w, int h, const std::vector<std::vector<uint8_t>>& frames) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, writeBytes, &error);
  if (!gif) throw std::runtime_error("EGifOpen failed");
  ColorMapObject* palette = makePalette();
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, w, h, 8, 0, palette);
  for (const auto& px : frames) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSE_DO_NOT;
    gcb.DelayTime = 5;
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    if (frames.size() > 1) EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext);
    EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr);
    for (int y = 0; y < h; ++y) {
      EGifPutLine(gif, const_cast<GifPixelType*>(px.data() + size_t(y) * size_t(w)), w);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(palette);
  return out;
}

const Bytes& largeFile() {
  static const Bytes bytes = giflibEncode(kLargeW, kLargeH, {picture(kLargeW, kLargeH, 0)});
  return bytes;
}

const Bytes& animationFile() {
  static const Bytes bytes = [] {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < kAnimFrames; ++i) frames.push_back(picture(kAnimW, kAnimH, i));
    return giflibEncode(kAnimW, kAnimH, frames);
  }();
  return bytes;
}

struct MemoryInput {
  const Bytes* bytes;
  size_t pos = 0;
};

int readBytes(GifFileType* gif, GifByteType* buffer, int count) {
  auto* in = static_cast<MemoryInput*>(gif->UserData);
  const size_t n = std::min<size_t>(size_t(count), in->bytes->size() - in->pos);
  std::memcpy(buffer, in->bytes->data() + in->pos, n);
  in->pos += n;
  return int(n);
}

void giflibDecode(benchmark::State& state, const Bytes& file, int64_t pixels) {
  for (auto _ : state) {
    MemoryInput input{&file};
    int error = 0;
    GifFileType* gif = DGifOpen(&input, readBytes, &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) state.SkipWithError("giflib failed");
    benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits[0]);
    DGifCloseFile(gif, &error);
  }
  state.SetBytesProcessed(state.iterations() * pixels);
}

void zirkDecode(benchmark::State& state, const Bytes& file, int64_t pixels) {
  TKwMemoryStream stream(file);
  for (auto _ : state) {
    stream.SetPosition(0);
    TGIFImage image;
    image.LoadFromStream(stream);
    benchmark::DoNotOptimize(image.Images(0).Data()[0]);
  }
  state.SetBytesProcessed(state.iterations() * pixels);
}

void BM_DecodeLarge256_giflib(benchmark::State& state) {
  giflibDecode(state, largeFile(), int64_t(kLargeW) * kLargeH);
}
void BM_DecodeLarge256_zirk(benchmark::State& state) {
  zirkDecode(state, largeFile(), int64_t(kLargeW) * kLargeH);
}
void BM_DecodeAnimation_giflib(benchmark::State& state) {
  giflibDecode(state, animationFile(), int64_t(kAnimW) * kAnimH * kAnimFrames);
}
void BM_DecodeAnimation_zirk(benchmark::State& state) {
  zirkDecode(state, animationFile(), int64_t(kAnimW) * kAnimH * kAnimFrames);
}

void BM_EncodeLarge256_giflib(benchmark::State& state) {
  const std::vector<uint8_t> px = picture(kLargeW, kLargeH, 0);
  for (auto _ : state) benchmark::DoNotOptimize(giflibEncode(kLargeW, kLargeH, {px}).size());
  state.SetBytesProcessed(state.iterations() * int64_t(px.size()));
}

void BM_EncodeLarge256_zirk(benchmark::State& state) {
  TGIFImage image;
  TKwMemoryStream in(largeFile());
  image.LoadFromStream(in);
  for (auto _ : state) {
    TKwMemoryStream out;
    image.SaveToStream(out);
    benchmark::DoNotOptimize(out.Size());
  }
  state.SetBytesProcessed(state.iterations() * int64_t(kLargeW) * kLargeH);
}

BENCHMARK(BM_DecodeLarge256_giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLarge256_zirk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimation_giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAnimation_zirk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLarge256_giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLarge256_zirk)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zirk
