// A 1280 x 720 scene ticked and painted as the main loop does it, next to
// pixman compositing the same pictures with the same placements into a
// buffer of the same size: `Scene50/zirk` against `Scene50/pixman`, the
// floor that drawing alone costs. `OneMover/zirk` moves one small picture
// over a still background; its counters tell how many pixels (and dirty
// rectangles) each frame repainted, which the two rectangles the picture
// left and entered bound.
//
// The pictures are layered image files in a temporary game folder, shown
// through the image cache by the image tracks of one film per scene.

#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/vrfiles.h"
#include "objects/customimage.h"
#include "objects/dorvcache.h"
#include "objects/frms.h"
#include "objects/tracks.h"
#include "scene/zbase.h"
#include "scene/zscene.h"
#include "support/filmwriter.h"
#include "support/picturewriter.h"
#include "support/tempdir.h"

namespace zirk {
namespace {

constexpr int32_t kW = 1280, kH = 720;
constexpr int32_t kFilmTicks = 120;
constexpr uint32_t kKey = 0xFF00FF;
constexpr uint32_t kSceneColor = 0x202020;

// ---- pictures -------------------------------------------------------------------------------

enum class Look { Opaque, Keyed, Soft };

struct PictureSpec {
  const char* name;
  int32_t width, height;
  Look look;
  uint32_t tint;
};

// The sprites of the busy scene: opaque panels, colour-keyed discs and soft
// discs with an alpha plane, in a few sizes.
constexpr PictureSpec kSprites[] = {
    {"panel.dor", 160, 96, Look::Opaque, 0x3060C0},
    {"ball.dor", 96, 96, Look::Keyed, 0x20A0F0},
    {"glow.dor", 128, 128, Look::Soft, 0xF0C040},
    {"star.dor", 200, 150, Look::Keyed, 0x40F040},
    {"spark.dor", 64, 64, Look::Soft, 0xFFFFFF},
    {"window.dor", 256, 160, Look::Opaque, 0x804020},
};
constexpr PictureSpec kMover = {"mover.dor", 64, 64, Look::Soft, 0x40C0FF};

uint32_t shade(uint32_t tint, double level) {
  auto ch = [&](int shift) {
    return static_cast<uint32_t>(std::clamp(((tint >> shift) & 0xFF) * level, 0.0, 254.0)) << shift;
  };
  return ch(0) | ch(8) | ch(16);
}

test::TestFrame spritePicture(const PictureSpec& spec) {
  test::TestFrame f{spec.width, spec.height};
  f.Colors.resize(static_cast<size_t>(spec.width * spec.height));
  if (spec.look == Look::Soft) f.Alpha.resize(f.Colors.size());
  if (spec.look == Look::Keyed) f.Transparent = kKey;
  for (int32_t y = 0; y < spec.height; ++y) {
    for (int32_t x = 0; x < spec.width; ++x) {
      const size_t i = static_cast<size_t>(y * spec.width + x);
      // Distance from the centre, 1 at the inscribed ellipse.
      const double dx = (x + 0.5) / spec.width * 2 - 1, dy = (y + 0.5) / spec.height * 2 - 1;
      const double d = std::sqrt(dx * dx + dy * dy);
      f.Colors[i] = shade(spec.tint, 1.1 - 0.6 * d);
      if (spec.look == Look::Keyed && d > 1) f.Colors[i] = kKey;
      if (spec.look == Look::Soft) {
        f.Alpha[i] = static_cast<uint8_t>(std::clamp((1 - d) * 3 * 255, 0.0, 255.0));
      }
    }
  }
  return f;
}

test::TestFrame backgroundPicture() {
  test::TestFrame f{kW, kH};
  f.Colors.resize(static_cast<size_t>(kW * kH));
  for (int32_t y = 0; y < kH; ++y) {
    for (int32_t x = 0; x < kW; ++x) {
      const bool odd = ((x / 40) + (y / 40)) % 2 != 0;
      f.Colors[static_cast<size_t>(y * kW + x)] =
          shade(odd ? 0x806050 : 0x504060, 0.6 + 0.4 * y / kH);
    }
  }
  return f;
}

// ---- films ----------------------------------------------------------------------------------

test::FilmTrack imageTrack(const std::string& source, int32_t priority) {
  test::FilmTrack t;
  t.type = 0;
  t.source = source;
  t.length = kFilmTicks;
  t.priority = priority;
  return t;
}

// A film of the screen's size whose first track shows the still background.
test::FilmFile filmOverBackground() {
  test::FilmFile film;
  film.width = kW;
  film.height = kH;
  film.tracks.push_back(imageTrack("background.dor", 0));
  return film;
}

test::FilmFile sceneFilm() {
  test::FilmFile film = filmOverBackground();
  std::mt19937 rng(2024);
  auto at = [&](int32_t range) { return static_cast<int32_t>(rng() % uint32_t(range)); };
  for (int32_t i = 1; i < 50; ++i) {
    const PictureSpec& p = kSprites[i % std::size(kSprites)];
    test::FilmTrack t = imageTrack(p.name, i);
    // The anchor is the centre, so turns and zooms keep the picture in place.
    t.anchor = {p.width / 2, p.height / 2};
    t.positionFrom = {at(kW), at(kH)};
    t.positionTo = {at(kW), at(kH)};
    t.flipH = i % 5 == 0;
    switch (i % 7) {
      case 1:  // fades
        t.alphaFrom = 250;
        t.alphaTo = 60;
        break;
      case 2:  // zooms
        t.scaleXFrom = t.scaleYFrom = 0.5;
        t.scaleXTo = t.scaleYTo = 1.6;
        break;
      case 3:  // turns
        t.rotationTo = 360;
        break;
      case 4:  // turns while zooming and fading
        t.rotationFrom = -45;
        t.rotationTo = 180;
        t.scaleXFrom = 1.4;
        t.scaleXTo = t.scaleYTo = 0.7;
        t.alphaFrom = t.alphaTo = 200;
        break;
      case 5:  // shown through a clip that opens
        t.clipPositionFrom = t.positionFrom;
        t.clipPositionTo = {t.positionTo.x - 60, t.positionTo.y - 40};
        t.clipSizeFrom = {20, 20};
        t.clipSizeTo = {120, 80};
        break;
      case 6:  // additive
        t.alphaFrom = t.alphaTo = -120;
        break;
      default:
        break;
    }
    film.tracks.push_back(t);
  }
  return film;
}

test::FilmFile moverFilm() {
  test::FilmFile film = filmOverBackground();
  test::FilmTrack t = imageTrack(kMover.name, 1);
  // Four pixels right and two down a tick.
  t.positionFrom = {100, 200};
  t.positionTo = {100 + 4 * (kFilmTicks - 1), 200 + 2 * (kFilmTicks - 1)};
  film.tracks.push_back(t);
  return film;
}

// ---- the game: folder, files, cache and the scenes -------------------------------------------

// One scene playing one film; each frame is a film tick, a scene tick and a
// paint, as the main loop runs them.
struct Stage {
  TZirkBaseList scene{kW, kH};
  TFilmManager film;  // after the scene: it goes first and takes its objects along
  int32_t time = 0;
  int64_t paintedPixels = 0, paintedRects = 0;

  explicit Stage(const std::string& filmName) {
    scene.SetColor(static_cast<int32_t>(kSceneColor));
    scene.SetPresenter([this](TCustomDIBX&, const std::vector<TRect>& changed) {
      for (const TRect& r : changed) paintedPixels += int64_t{r.Width()} * r.Height();
      paintedRects += static_cast<int64_t>(changed.size());
    });
    film.Owner = &scene;
    film.LoadFilm(filmName);
    if (film.Length != kFilmTicks) throw std::runtime_error("film length");
    frame();  // the first frame paints the whole screen
  }
  void frame() {
    film.SetFilmTime(time);
    time = (time + 1) % kFilmTicks;
    scene.TickObjects();
    scene.Paint();
  }
  TZirkBase& screen() { return *scene.GetBase(scene.ActiveIndex); }
};

class Game {
 public:
  Game() : files_(folder_.path().string()) {
    RegisterFilmTracks();
    TVrFileManager::SetGlobal(&files_);
    SetImageCache(&cache_);
    test::WritePicture(folder_ / "background.dor", {backgroundPicture()});
    for (const PictureSpec& p : kSprites) {
      test::WritePicture(folder_ / p.name, {spritePicture(p)});
    }
    test::WritePicture(folder_ / kMover.name, {spritePicture(kMover)});
    if (!test::SaveFilmFile(sceneFilm(), (folder_ / "scene.zcn").string()) ||
        !test::SaveFilmFile(moverFilm(), (folder_ / "mover.zcn").string())) {
      throw std::runtime_error("cannot write the films");
    }
    files_.InvalidateCache();
    busy = std::make_unique<Stage>("scene.zcn");
    mover = std::make_unique<Stage>("mover.zcn");
  }
  ~Game() {
    // The films hand their pictures back while the cache is installed.
    busy.reset();
    mover.reset();
    SetImageCache(nullptr);
    TVrFileManager::SetGlobal(nullptr);
  }

  std::unique_ptr<Stage> busy, mover;

 private:
  test::TempDir folder_;
  TVrFileManager files_;
  TDorvCollection cache_;
};

Game& game() {
  static Game g;
  return g;
}

// ---- the pixman peer -------------------------------------------------------------------------

// One picture of one frame as pixman composites it.
struct Placement {
  pixman_image_t* source = nullptr;
  pixman_op_t op = PIXMAN_OP_OVER;
  int32_t level = 255;  // of the solid mask; 255: none
  bool transformed = false;
  pixman_transform_t transform;
  TRect area;       // destination pixels, already clipped
  TPoint sourceAt;  // source position of the area's top-left, untransformed
};

class PixmanPeer {
 public:
  // Records every frame of the stage's film as placements.
  explicit PixmanPeer(Stage& stage) {
    dst_ = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, nullptr, kW * 4);
    const uint32_t c = kSceneColor;
    pixman_color_t fill = {uint16_t((c & 0xFF) * 257), uint16_t(((c >> 8) & 0xFF) * 257),
                           uint16_t(((c >> 16) & 0xFF) * 257), 0xFFFF};
    background_ = pixman_image_create_solid_fill(&fill);
    for (int32_t level = 0; level < 256; ++level) {
      pixman_color_t grey = {0, 0, 0, uint16_t(level * 257)};
      levels_[static_cast<size_t>(level)] = pixman_image_create_solid_fill(&grey);
    }
    for (int32_t t = 0; t < kFilmTicks; ++t) {
      stage.frame();
      frames_.push_back(capture(stage.screen()));
      paint(frames_.size() - 1);
      compare(*stage.screen().BackSurface());
    }
  }
  ~PixmanPeer() {
    for (auto& [surface, image] : sources_) {
      pixman_image_unref(image);
    }
    for (pixman_image_t* image : levels_) pixman_image_unref(image);
    pixman_image_unref(background_);
    pixman_image_unref(dst_);
  }
  PixmanPeer(const PixmanPeer&) = delete;
  PixmanPeer& operator=(const PixmanPeer&) = delete;

  void paint(size_t frame) {
    pixman_image_composite32(PIXMAN_OP_SRC, background_, nullptr, dst_, 0, 0, 0, 0, 0, 0, kW, kH);
    for (const Placement& p : frames_[frame % frames_.size()]) {
      pixman_image_set_transform(p.source, p.transformed ? &p.transform : nullptr);
      pixman_image_t* mask = p.level == 255 ? nullptr : levels_[static_cast<size_t>(p.level)];
      const int32_t sx = p.transformed ? p.area.Left : p.sourceAt.X;
      const int32_t sy = p.transformed ? p.area.Top : p.sourceAt.Y;
      pixman_image_composite32(p.op, p.source, mask, dst_, sx, sy, 0, 0, p.area.Left, p.area.Top,
                               p.area.Width(), p.area.Height());
    }
  }
  // The share of the pixels of all frames where pixman's picture is the
  // scene's within a few levels per channel: both drew the same.
  double SameShare() const { return static_cast<double>(same_) / static_cast<double>(compared_); }

 private:
  void compare(const TCustomDIBX& screen) {
    const platform::PixelBuffer px = screen.Pixels();
    const uint32_t* ours = pixman_image_get_data(dst_);
    for (int32_t y = 0; y < kH; ++y) {
      const auto* theirs = reinterpret_cast<const uint32_t*>(px.row(y));
      for (int32_t x = 0; x < kW; ++x) {
        const uint32_t a = theirs[x], b = ours[y * kW + x];
        bool close = true;
        for (int shift = 0; shift < 24; shift += 8) {
          close = close && std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) <= 6;
        }
        same_ += close ? 1 : 0;
      }
    }
    compared_ += int64_t{kW} * kH;
  }

  // The picture with the mask or colour key as premultiplied alpha.
  pixman_image_t* sourceOf(TCustomDIBX& surface, TCustomDIBX* mask) {
    auto found = sources_.find(&surface);
    if (found != sources_.end()) return found->second;
    const platform::PixelBuffer px = surface.Pixels();
    pixman_image_t* image =
        pixman_image_create_bits(PIXMAN_a8r8g8b8, px.width, px.height, nullptr, px.width * 4);
    auto* out = pixman_image_get_data(image);
    const bool masked = mask && mask->Width() == px.width && mask->Height() == px.height;
    for (int32_t y = 0; y < px.height; ++y) {
      const auto* row = reinterpret_cast<const uint32_t*>(px.row(y));
      for (int32_t x = 0; x < px.width; ++x) {
        const uint32_t v = row[x] & 0xFFFFFF;
        uint32_t a = 255;
        if (masked) {
          a = mask->GetPixel(x, y) & 0xFF;
        } else if (surface.ColorKey() != -1 && v == uint32_t(surface.ColorKey())) {
          a = 0;
        }
        auto pre = [&](int shift) { return ((v >> shift) & 0xFF) * a / 255 << shift; };
        out[y * px.width + x] = (a << 24) | pre(16) | pre(8) | pre(0);
      }
    }
    pixman_image_set_filter(image, PIXMAN_FILTER_NEAREST, nullptr, 0);
    sources_[&surface] = image;
    return image;
  }

  std::vector<Placement> capture(TZirkBase& screen) {
    std::vector<Placement> placements;
    const TRect whole = Rect(0, 0, kW, kH);
    for (int32_t i = 0; i < screen.GetChildCount(); ++i) {
      auto* image = dynamic_cast<TZirkCustomImage*>(screen.GetChild(i));
      if (!image || !image->GetVisible()) continue;
      TCustomDIBX* s = image->GetBackSurface();
      if (!s || s->IsEmpty() || image->Alpha() <= 0 || image->Width() <= 0 ||
          image->Height() <= 0) {
        continue;
      }
      Placement p;
      if (!IntersectRect(p.area, image->GetScreenRect(), whole)) continue;
      const TRect clip = image->ScreenClipRect();
      if (!clip.IsEmpty() && !IntersectRect(p.area, p.area, clip)) continue;
      TCustomDIBX* mask = image->GetMaskSurface();
      p.source = sourceOf(*s, mask);
      const int32_t alpha = image->Alpha();
      const bool opaque = !mask && s->ColorKey() == -1;
      if (alpha > 255) {
        p.op = PIXMAN_OP_ADD;
        p.level = alpha - 256;
      } else {
        p.level = alpha;
        p.op = opaque && alpha == 255 ? PIXMAN_OP_SRC : PIXMAN_OP_OVER;
      }
      placeOn(p, *image, *s);
      if (p.transformed && p.op == PIXMAN_OP_SRC) p.op = PIXMAN_OP_OVER;
      placements.push_back(p);
    }
    return placements;
  }

  // Destination to source: a plain offset, or an affine map of the pixel
  // centres for zoomed, turned or mirrored pictures.
  static void placeOn(Placement& p, TZirkCustomImage& image, TCustomDIBX& s) {
    const int32_t angle = image.Angle() & 255;
    const double w = s.Width(), h = s.Height();
    double a[2][2], b[2];
    if (angle != 0) {
      TPoint position, anchor;
      image.GetDrawOrigin(position, anchor);
      const double t = -angle * 2 * std::numbers::pi / 256;
      const double kx = 256.0 / image.ZoomX(), ky = 256.0 / image.ZoomY();
      a[0][0] = kx * std::cos(t);
      a[0][1] = -kx * std::sin(t);
      a[1][0] = ky * std::sin(t);
      a[1][1] = ky * std::cos(t);
      const double cx = position.X + 0.5, cy = position.Y + 0.5;
      b[0] = anchor.X + 0.5 - a[0][0] * cx - a[0][1] * cy;
      b[1] = anchor.Y + 0.5 - a[1][0] * cx - a[1][1] * cy;
    } else {
      const TRect r = image.GetScreenRect();
      if (!image.FlipH() && !image.FlipV() && r.Width() == s.Width() && r.Height() == s.Height()) {
        p.sourceAt = {p.area.Left - r.Left, p.area.Top - r.Top};
        return;
      }
      a[0][0] = w / r.Width();
      a[1][1] = h / r.Height();
      a[0][1] = a[1][0] = 0;
      b[0] = -a[0][0] * r.Left;
      b[1] = -a[1][1] * r.Top;
    }
    // The anchor was mirrored already; the picture is read mirrored.
    if (image.FlipH()) {
      a[0][0] = -a[0][0];
      a[0][1] = -a[0][1];
      b[0] = w - b[0];
    }
    if (image.FlipV()) {
      a[1][0] = -a[1][0];
      a[1][1] = -a[1][1];
      b[1] = h - b[1];
    }
    pixman_f_transform f = {{{a[0][0], a[0][1], b[0]}, {a[1][0], a[1][1], b[1]}, {0, 0, 1}}};
    pixman_transform_from_pixman_f_transform(&p.transform, &f);
    p.transformed = true;
  }

  pixman_image_t* dst_ = nullptr;
  pixman_image_t* background_ = nullptr;
  std::array<pixman_image_t*, 256> levels_{};
  std::map<const TCustomDIBX*, pixman_image_t*> sources_;
  std::vector<std::vector<Placement>> frames_;
  int64_t same_ = 0, compared_ = 0;
};

PixmanPeer& peer() {
  static PixmanPeer p(*game().busy);
  return p;
}

// ---- benchmarks ------------------------------------------------------------------------------

// Plays one frame an iteration; the counters say how much each repainted.
void playFrames(benchmark::State& state, Stage& stage) {
  const int64_t pixels = stage.paintedPixels, rects = stage.paintedRects;
  for (auto _ : state) stage.frame();
  const auto frames = static_cast<double>(state.iterations());
  state.counters["px/frame"] = static_cast<double>(stage.paintedPixels - pixels) / frames;
  state.counters["rects/frame"] = static_cast<double>(stage.paintedRects - rects) / frames;
  state.SetItemsProcessed(state.iterations());
}

void Scene50Zirk(benchmark::State& state) {
  playFrames(state, *game().busy);
}

void Scene50Pixman(benchmark::State& state) {
  PixmanPeer& p = peer();
  size_t frame = 0;
  for (auto _ : state) p.paint(frame++);
  state.counters["px/frame"] = double(kW) * kH;
  state.counters["same px %"] = 100 * p.SameShare();
  state.SetItemsProcessed(state.iterations());
}

void OneMoverZirk(benchmark::State& state) {
  playFrames(state, *game().mover);
  // What the picture left and what it entered.
  state.counters["aim px"] = 2.0 * kMover.width * kMover.height;
}

BENCHMARK(Scene50Zirk)->Name("Scene50/zirk");
BENCHMARK(Scene50Pixman)->Name("Scene50/pixman");
BENCHMARK(OneMoverZirk)->Name("OneMover/zirk");

}  // namespace
}  // namespace zirk
