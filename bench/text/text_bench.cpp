// A caption of 32 characters (Latin and Japanese) at 24 pixels with a
// 2-pixel border and a shadow, drawn onto a 640 x 480 screen:
// `Caption/kept` draws the picture rendered once, one masked blit a frame;
// `Caption/rendered` renders the glyphs, border and shadow again every
// frame, what a caption would cost without its kept picture. `Glyphs/cached`
// is the glyph lookup alone for the same characters.
// `Kanji/700` measures and renders a caption of 700 different kanji on one
// line at the largest height (1024), as a label track and its caption do,
// each run at a height of its own so that no glyph of it is cached yet:
// `peak_MB` is the process's peak resident size (run the case alone to
// read it for the case), `glyph_cache_MB` what the glyph cache holds after.

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <string>

#include "platform/fonts.h"
#include "scene/labels.h"
#include "support/sjistext.h"
#include "surfaces/dibx.h"

namespace zirk {
namespace {

// "ZirkPlayer" and Japanese text in Shift-JIS.
const std::string kCaption =
    "ZirkPlayer \x83\x66\x83\x82 \x83\x65\x83\x4C\x83\x58\x83\x67\x82\xCC\x95\x5C\x8E\xA6 "
    "0123456789";

struct Scene {
  TDIBX screen{640, 480, 32};
  TKwLabelList list;
  TKwLabelDIB* label;
  Scene() {
    screen.FillRect(screen.GetBoundsRect(), 0x203040);
    list.SetFontName("IPAGothic");
    list.SetFontSize(24);
    list.SetSmoothing(3);
    list.SetBorderWidth(2);
    list.SetBorderColor(0x000000);
    list.SetShadowWidth(2);
    list.SetShadowColor(0x404040);
    list.Target = &screen;
    label = list.AddLabel(kCaption);
  }
};

void CaptionKept(benchmark::State& state) {
  Scene s;
  for (auto _ : state) {
    s.list.DrawLabelClipped(*s.label, 40, 400);
    benchmark::DoNotOptimize(s.screen.GetPixel(41, 401));
  }
}

void CaptionRendered(benchmark::State& state) {
  Scene s;
  for (auto _ : state) {
    s.list.InvalidateAll();
    s.list.DrawLabelClipped(*s.label, 40, 400);
    benchmark::DoNotOptimize(s.screen.GetPixel(41, 401));
  }
}

void GlyphsCached(benchmark::State& state) {
  const platform::TFontSpec spec{"IPAGothic", 24, 0, 3};
  const std::u32string text = platform::DecodeCP932(kCaption);
  for (auto _ : state) {
    int32_t advance = 0;
    for (char32_t c : text) advance += platform::Fonts().Glyph(spec, c)->Advance;
    benchmark::DoNotOptimize(advance);
  }
}

void Kanji(benchmark::State& state) {
  const std::string text = test::KanjiText(int(state.range(0)));
  int32_t height = 1024;
  for (auto _ : state) {
    TKwLabelList list;
    list.SetFontName("IPAGothic");
    list.SetFontSize(height--);
    TKwLabelDIB* label = list.AddLabel(text);
    benchmark::DoNotOptimize(list.MeasureText(text).Width);
    list.DrawLabelText(*label);
    benchmark::DoNotOptimize(label->Picture().Width());
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
  state.counters["glyph_cache_MB"] = double(platform::Fonts().CachedBytes()) / double(1 << 20);
}

BENCHMARK(CaptionKept)->Name("Caption/kept");
BENCHMARK(CaptionRendered)->Name("Caption/rendered");
BENCHMARK(GlyphsCached)->Name("Glyphs/cached");
BENCHMARK(Kanji)->Arg(700)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace zirk
