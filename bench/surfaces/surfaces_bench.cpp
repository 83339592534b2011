// Each drawing case of the surfaces (`<Case>/zirk`) next to pixman doing
// the closest work on the same 800x600 32-bit pixels (`<Case>/pixman`):
// SRC for copies, OVER with a solid mask for opacity, ADD for additive
// draws, OVER with an a8 mask for masked draws, SRC through a nearest
// transform for stretch and rotation.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "surfaces/dibx.h"

namespace zirk {
namespace {

constexpr int kW = 800, kH = 600;
constexpr uint32_t kKey = 0x00FF00FF;
constexpr int kAngle = 21;  // 1/256 turns: 29.5 degrees, the nearest to 30

struct Scene {
  TDIBX src{kW, kH, 32};
  TDIBX dst{kW, kH, 32};
  TDIBX mask{kW, kH, 8};
  pixman_image_t* psrc = nullptr;
  pixman_image_t* pdst = nullptr;
  pixman_image_t* pmask = nullptr;

  Scene() {
    uint32_t seed = 12345;
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        seed = seed * 1103515245u + 12345u;
        // About one pixel in eight is the colour key.
        src.SetPixel(x, y, (seed >> 29) == 0 ? kKey : (seed >> 8) & 0xFFFFFF);
        dst.SetPixel(x, y, (seed >> 4) & 0xFFFFFF);
        mask.SetPixel(x, y, (x * 7 + y * 3) & 0xFF);
      }
    }
    src.SetColorKey(int32_t(kKey));
    psrc = wrap(src, PIXMAN_x8r8g8b8);
    pdst = wrap(dst, PIXMAN_x8r8g8b8);
    pmask = wrap(mask, PIXMAN_a8);
  }
  ~Scene() {
    pixman_image_unref(psrc);
    pixman_image_unref(pdst);
    pixman_image_unref(pmask);
  }
  static pixman_image_t* wrap(TDIBX& s, pixman_format_code_t format) {
    platform::PixelBuffer b = s.Pixels();
    return pixman_image_create_bits(format, b.width, b.height, reinterpret_cast<uint32_t*>(b.bits),
                                    b.pitch);
  }
  void transform(double m[3][3]) {
    pixman_f_transform ft;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) ft.m[r][c] = m[r][c];
    pixman_transform_t t;
    pixman_transform_from_pixman_f_transform(&t, &ft);
    pixman_image_set_transform(psrc, &t);
    pixman_image_set_filter(psrc, PIXMAN_FILTER_NEAREST, nullptr, 0);
  }
  void untransform() { pixman_image_set_transform(psrc, nullptr); }
};

Scene& scene() {
  static Scene s;
  return s;
}

void count(benchmark::State& state) {
  state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

// ---- Draw with colour key / SRC ----
void DrawKeyZirk(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) s.dst.Draw(0, 0, s.src, s.src.GetBoundsRect(), false, false, true);
  count(state);
}
void DrawKeyPixman(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_SRC, s.psrc, nullptr, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  count(state);
}

// ---- DrawAlpha at 128 / OVER with a solid mask ----
void DrawAlphaZirk(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    s.dst.DrawAlpha(0, 0, s.src, s.src.GetBoundsRect(), false, false, false, 128);
  count(state);
}
void DrawAlphaPixman(benchmark::State& state) {
  Scene& s = scene();
  pixman_color_t half = {0, 0, 0, 0x8080};
  pixman_image_t* solid = pixman_image_create_solid_fill(&half);
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_OVER, s.psrc, solid, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  pixman_image_unref(solid);
  count(state);
}

// ---- DrawAdd / ADD ----
void DrawAddZirk(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) s.dst.DrawAdd(0, 0, s.src, s.src.GetBoundsRect(), false, false, false, 255);
  count(state);
}
void DrawAddPixman(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_ADD, s.psrc, nullptr, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  count(state);
}

// ---- DrawMasked / OVER with an a8 mask ----
void DrawMaskedZirk(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) s.dst.DrawMasked(0, 0, s.src, s.src.GetBoundsRect(), false, false, s.mask);
  count(state);
}
void DrawMaskedPixman(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_OVER, s.psrc, s.pmask, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  count(state);
}

// ---- StretchDraw by 1.5 / SRC through a nearest scale ----
void StretchZirk(benchmark::State& state) {
  Scene& s = scene();
  const TRect part = Rect(0, 0, kW * 2 / 3, kH * 2 / 3);
  for (auto _ : state)
    s.dst.StretchDraw(s.dst.GetBoundsRect(), s.src, part, false, false, false, 255);
  count(state);
}
void StretchPixman(benchmark::State& state) {
  Scene& s = scene();
  double m[3][3] = {{2.0 / 3, 0, 0}, {0, 2.0 / 3, 0}, {0, 0, 1}};
  s.transform(m);
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_SRC, s.psrc, nullptr, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  s.untransform();
  count(state);
}

// ---- DrawRotateZoom by 30 degrees about the centre / SRC through a nearest rotation ----
void RotateZoomZirk(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state)
    s.dst.DrawRotateZoom(kW / 2, kH / 2, s.src, s.src.GetBoundsRect(), kW / 2, kH / 2, 256, 256,
                         kAngle, false, false, false, 255);
  count(state);
}
void RotateZoomPixman(benchmark::State& state) {
  Scene& s = scene();
  const double t = kAngle * 2 * M_PI / 256, c = std::cos(t), sn = std::sin(t);
  const double cx = kW / 2 + 0.5, cy = kH / 2 + 0.5;
  // Destination to source: rotate back by t about the centre.
  double m[3][3] = {{c, sn, cx - c * cx - sn * cy}, {-sn, c, cy + sn * cx - c * cy}, {0, 0, 1}};
  s.transform(m);
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_SRC, s.psrc, nullptr, s.pdst, 0, 0, 0, 0, 0, 0, kW, kH);
  s.untransform();
  count(state);
}

BENCHMARK(DrawKeyZirk)->Name("DrawKey/zirk");
BENCHMARK(DrawKeyPixman)->Name("DrawKey/pixman");
BENCHMARK(DrawAlphaZirk)->Name("DrawAlpha128/zirk");
BENCHMARK(DrawAlphaPixman)->Name("DrawAlpha128/pixman");
BENCHMARK(DrawAddZirk)->Name("DrawAdd/zirk");
BENCHMARK(DrawAddPixman)->Name("DrawAdd/pixman");
BENCHMARK(DrawMaskedZirk)->Name("DrawMasked/zirk");
BENCHMARK(DrawMaskedPixman)->Name("DrawMasked/pixman");
BENCHMARK(StretchZirk)->Name("StretchDraw1.5/zirk");
BENCHMARK(StretchPixman)->Name("StretchDraw1.5/pixman");
BENCHMARK(RotateZoomZirk)->Name("DrawRotateZoom30/zirk");
BENCHMARK(RotateZoomPixman)->Name("DrawRotateZoom30/pixman");

}  // namespace
}  // namespace zirk
