// The GIF picture: reference renderings, the animation suite's frames
// after each disposal step, frames added and assigned, drawing, the
// painter inside Draw and on its own thread, clipboard and registry.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "gif_support.h"
#include "imaging/GIFImagePainter.h"
#include "imaging_support.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "support/testdata.h"
#include "surfaces/dibsfc.h"

namespace zirk::test {
namespace {

const std::vector<uint32_t> kColors = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000};

uint32_t pixelColor(const TDIB& dib, int x, int y) {
  return dib.PixelToColor(dib.GetRawPixel(x, y));
}

TEST(GifPicture, RenderingsMatchGiflibsRgbReferences) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dataPath("gif/expected/giflib"))) {
    if (entry.path().extension() != ".rgb") continue;
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    TGIFImage image;
    LoadGif(image, readFile(dataPath("gif/giflib/" + name + ".gif")));
    const int w = image.GetWidth(), h = image.GetHeight();
    std::vector<uint8_t> screen(size_t(w) * size_t(h), image.Header().BackgroundColorIndex);
    const TGIFColorMap* map = &image.Header().ColorMap();
    for (int i = 0; i < image.Count(); ++i) {
      TGIFSubImage& f = image.Images(i);
      if (f.Empty()) continue;
      for (int y = 0; y < f.Height && f.Top + y < h; ++y)
        for (int x = 0; x < f.Width && f.Left + x < w; ++x)
          screen[size_t(f.Top + y) * size_t(w) + size_t(f.Left + x)] =
              f.Data()[size_t(y) * f.Width + size_t(x)];
      map = &f.ActiveColorMap();
    }
    std::vector<uint8_t> rgb;
    for (uint8_t index : screen) rgb.insert(rgb.end(), map->Entry(index), map->Entry(index) + 3);
    EXPECT_TRUE(rgb == readFile(entry.path()));
    ++files;
  }
  EXPECT_EQ(files, 7);
}

TEST(GifPicture, AnimationSuiteFramesAfterEachDisposalStep) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dataPath("gif/gif-test-suite"))) {
    const std::string name = entry.path().stem().string();
    SCOPED_TRACE(name);
    TGIFImage image;
    LoadGif(image, readFile(entry.path()));
    const bool still = name.rfind("static", 0) == 0;
    int n = 0;
    const int composed = GIFComposeFrames(image, -1, [&](int, const TDIBSurface& shown) {
      SCOPED_TRACE("frame " + std::to_string(n));
      ASSERT_NE(shown.AlphaPlane(), nullptr);
      Rgba got{shown.Width(), shown.Height(), {}};
      for (int y = 0; y < shown.Height(); ++y) {
        for (int x = 0; x < shown.Width(); ++x) {
          const uint32_t c = pixelColor(shown, x, y);
          got.pixels.insert(got.pixels.end(),
                            {uint8_t(ColorR(c)), uint8_t(ColorG(c)), uint8_t(ColorB(c)),
                             shown.AlphaPlane()->ScanLine(y)[x]});
        }
      }
      EXPECT_EQ(WrongPixels(SuiteFrame(name, still ? -1 : n++), got), 0);
    });
    EXPECT_EQ(composed, still ? 1 : 4);
    // Composing stops at the frame asked for.
    EXPECT_EQ(GIFComposeFrames(image, 0, nullptr), 1);
    ++files;
  }
  EXPECT_EQ(files, 13);
}

// Composing draws on one canvas charged to the picture's pixel budget: a
// screen the budget cannot hold is refused before it is allocated, and the
// charge ends with the composing.
TEST(GifPicture, ComposingIsChargedToThePictureBudget) {
  TGIFImage huge;
  LoadGif(huge, GifTinyFramesOnAHugeScreen(8000, 8));
  EXPECT_THROW(GIFComposeFrames(huge, -1, nullptr), EOutOfResources);

  TGIFImage large;
  LoadGif(large, GifTinyFramesOnAHugeScreen(3000, 8));
  // All the budget but a 32-bit screen without its alpha plane.
  const int64_t rest = kMaxDIBBytes - int64_t(3000) * 3000 * 4;
  int frames = 0;
  GIFComposeFrames(large, -1, [&](int, const TDIBSurface& shown) {
    ++frames;
    EXPECT_THROW(large.ReservePixels(rest), EOutOfResources);
    EXPECT_EQ(shown.AlphaPlane()->ScanLine(7)[7], frames > 7 ? 255 : 0);
  });
  EXPECT_EQ(frames, 8);
  large.ReservePixels(rest);
  large.ReleasePixels(rest);
}

GifBytes animation(int loops, int delay, int frames = 3) {
  GifBuilder b;
  b.Header(4, 4, kColors);
  if (loops >= 0) b.Loop(uint16_t(loops));
  for (int i = 0; i < frames; ++i) {
    b.Gce(1, delay).Pixels(0, 0, 4, 4, std::vector<uint8_t>(16, uint8_t(1 + i % 3)), 2);
  }
  return b.Trailer().Bytes();
}

// An animation of frames in colours 1, 2, 3, 1... with its paint options,
// counting the painter's events.
struct Animation {
  TGIFImage image;
  int start = 0, frame = 0, restart = 0, end = 0;
  Animation(int loops, TGIFPaintOptions options, int frames = 3) {
    LoadGif(image, animation(loops, 1, frames));
    image.PaintOptions = options;
    image.OnPaintStart = [this](TGIFPainter&) { ++start; };
    image.OnFramePaint = [this](TGIFPainter&) { ++frame; };
    image.OnLoopRestart = [this](TGIFPainter&) { ++restart; };
    image.OnPaintEnd = [this](TGIFPainter&) { ++end; };
  }
};

TEST(GifPicture, DisposalRestoresTheBackgroundOrThePreviousPicture) {
  struct Case {
    const char* name;
    int disposal;
    TGIFPaintOptions options;
    uint32_t afterwards;  // at (0, 0) once the next, smaller frame is drawn
  } cases[] = {
      {"leave in place", 1, poTransparent, kColors[1]},
      {"restore the background under the picture", 2, poTransparent, 0x00563412},
      {"restore with the background colour", 2, 0, kColors[3]},
      {"restore the previous picture", 3, poTransparent, 0x00563412},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGIFImage image;
    LoadGif(image, GifBuilder()
                       .Header(4, 4, kColors, "GIF89a", 3)
                       .Gce(c.disposal, 1)
                       .Pixels(0, 0, 4, 4, std::vector<uint8_t>(16, 1), 2)
                       .Gce(1, 1)
                       .Pixels(2, 2, 2, 2, {2, 2, 2, 2}, 2)
                       .Trailer()
                       .Bytes());
    TDIBSurface under;
    under.SetSize(4, 4, 32);
    SurfaceFillRect(under, SurfaceBoundsRect(under), 0x123456);
    TGIFComposer composer(image, under, c.options);
    composer.Draw(image.Images(0), c.disposal);
    EXPECT_EQ(pixelColor(composer.Shown(), 0, 0), kColors[1]);
    composer.Draw(image.Images(1), 1);
    EXPECT_EQ(pixelColor(composer.Shown(), 0, 0), c.afterwards);
    EXPECT_EQ(pixelColor(composer.Shown(), 3, 3), kColors[2]);
  }
}

TEST(GifPicture, CheckedCanvasThatGoesAwayStopsThePainter) {
  Animation a(0, poAnimate | poDirectPaint | poCheckCanvas);
  TDIB canvas(4, 4, 32);
  a.image.OnFramePaint = [&](TGIFPainter&) {
    ++a.frame;
    canvas.SetSize(1, 1, 32);
  };
  a.image.Draw(canvas, Rect(0, 0, 4, 4));
  EXPECT_EQ(a.frame, 1);
  EXPECT_EQ(a.end, 0);
}

// Without a thread of its own the painter runs inside Draw: a single frame
// or the default options draw the first frame only and never get one.
TEST(GifPicture, PainterInsideDrawPlaysTheLoopCountOnce) {
  struct Case {
    const char* name;
    int loops, frameCount;
    TGIFPaintOptions options;
    int starts, frames, restarts;
    uint32_t shown;
    bool stillBitmapFirst = false;  // Bitmap() was asked for before Draw
  } cases[] = {
      {"default options", 0, 3, kGIFDefaultPaintOptions, 0, 0, 0, kColors[1]},
      {"single frame", 0, 1, poAsync | poAnimate | poLoop, 0, 0, 0, kColors[1]},
      {"no loop option", 2, 3, poAnimate | poDirectPaint, 1, 3, 0, kColors[3]},
      {"loop count 2", 2, 3, poAnimate | poLoop | poDirectPaint, 1, 6, 1, kColors[3]},
      {"loop count 0 plays once inside Draw", 0, 3, poAnimate | poLoop | poDirectPaint, 1, 3, 0,
       kColors[3]},
      {"no loop extension", -1, 3, poAnimate | poLoop, 1, 3, 0, kColors[3]},
      {"a cached still bitmap is shown", 2, 3, poAnimate | poLoop, 0, 0, 0, kColors[1], true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Animation a(c.loops, c.options, c.frameCount);
    TDIB canvas(6, 6, 32);
    if (c.stillBitmapFirst) a.image.Bitmap();
    a.image.Draw(canvas, Rect(1, 1, 5, 5));
    EXPECT_EQ(a.start, c.starts);
    EXPECT_EQ(a.frame, c.frames);
    EXPECT_EQ(a.restart, c.restarts);
    EXPECT_EQ(a.end, c.starts);
    EXPECT_EQ(pixelColor(canvas, 1, 1), c.shown);
    EXPECT_EQ(pixelColor(canvas, 4, 4), c.shown);
    EXPECT_EQ(pixelColor(canvas, 0, 0), 0u);
    EXPECT_EQ(pixelColor(canvas, 5, 5), 0u);
    EXPECT_EQ(a.image.Painter(), nullptr);
  }
}

// Dispatches the calling thread's messages until done() or a generous bound.
template <class Pred>
bool pumpUntil(Pred done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    platform::WaitMessage(std::chrono::milliseconds(50));
    platform::ProcessMessages();
  }
  return true;
}

TEST(GifPicture, AsyncPainterPostsNotificationsAndStopsCleanly) {
  Animation a(0, poAsync | poAnimate | poLoop);
  TDIB canvas(8, 8, 32);
  a.image.Draw(canvas, Rect(0, 0, 8, 8));
  ASSERT_NE(a.image.Painter(), nullptr);
  // Draw waited for the first frame, without any message being dispatched;
  // the painter may have moved on before this thread ran again.
  EXPECT_EQ(a.frame, 0);
  const uint32_t shown = pixelColor(canvas, 7, 7);
  EXPECT_TRUE(shown == kColors[1] || shown == kColors[2] || shown == kColors[3]) << shown;
  // Loop count 0 on a thread of its own plays forever.
  ASSERT_TRUE(pumpUntil([&] { return a.frame >= 7 && a.restart >= 2; }));
  EXPECT_EQ(a.start, 1);
  a.image.Draw(canvas, Rect(0, 0, 8, 8));
  a.image.StopPainting();
  EXPECT_EQ(a.image.Painter(), nullptr);
  const int frames = a.frame;
  platform::Sleep(60);
  platform::ProcessMessages();
  EXPECT_EQ(a.frame, frames);
  EXPECT_EQ(a.end, 0);
}

TEST(GifPicture, AsyncPainterEndsACountedLoopAndDirectPaintReachesTheCanvas) {
  Animation a(2, poAsync | poAnimate | poLoop | poDirectPaint);
  TDIB canvas(4, 4, 32);
  a.image.Draw(canvas, Rect(0, 0, 4, 4));
  ASSERT_TRUE(pumpUntil([&] { return a.end == 1; }));
  EXPECT_EQ(a.frame, 6);
  EXPECT_EQ(a.restart, 1);
  EXPECT_EQ(pixelColor(canvas, 0, 0), kColors[3]);
  // A second Draw of the same canvas and rectangle while idle starts again.
  a.image.Draw(canvas, Rect(0, 0, 4, 4));
  ASSERT_TRUE(pumpUntil([&] { return a.end == 2; }));
}

TEST(GifPicture, DestroyingAPictureStopsItsPainter) {
  TDIB canvas(4, 4, 32);
  int frames = 0;
  {
    TGIFImage image;
    LoadGif(image, animation(0, 1));
    image.PaintOptions = poAsync | poAnimate | poLoop | poDirectPaint;
    image.OnFramePaint = [&](TGIFPainter&) { ++frames; };
    image.Draw(canvas, Rect(0, 0, 4, 4));
    ASSERT_TRUE(pumpUntil([&] { return frames >= 2; }));
  }
  const int seen = frames;
  platform::Sleep(60);
  platform::ProcessMessages();
  EXPECT_EQ(frames, seen);
}

TEST(GifPicture, FrameDelaysInTwelveMillisecondUnits) {
  struct Case {
    int delay;  // -1: no graphic control
    bool insideDraw;
    int units;
  } cases[] = {{-1, false, 10}, {0, false, 10},     {2, false, 4},      {4, true, 4},
               {50, true, 50},  {5000, true, 1000}, {5000, false, 5000}};
  for (const Case& c : cases) {
    GifBuilder b;
    b.Header(1, 1, kColors);
    if (c.delay >= 0) b.Gce(1, c.delay);
    TGIFImage image;
    LoadGif(image, b.Pixels(0, 0, 1, 1, {1}, 2).Trailer().Bytes());
    EXPECT_EQ(GIFFrameDelay(image.Images(0), c.insideDraw), c.units) << c.delay;
  }
}

TEST(GifPicture, AddGrowsTheScreenWithWarningsAndSizesRefuseToCutFrames) {
  struct Case {
    const char* name;
    int left, top;
    std::vector<std::string> warnings;
    int width, height;
  } cases[] = {
      {"fits", 0, 0, {}, 8, 8},
      {"past the right edge", 7, 0, {sGIFWidthTooSmall, sGIFImageExceedsScreen}, 9, 8},
      {"past both edges",
       7,
       7,
       {sGIFWidthTooSmall, sGIFHeightTooSmall, sGIFImageExceedsScreen},
       9,
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TGIFImage source;
    LoadGif(
        source,
        GifBuilder().Header(2, 2, kColors).Pixels(0, 0, 2, 2, {0, 1, 2, 3}, 2).Trailer().Bytes());
    source.Images(0).Left = uint16_t(c.left);
    source.Images(0).Top = uint16_t(c.top);
    TGIFImage image;
    image.SetWidth(8);
    image.SetHeight(8);
    std::vector<std::string> warnings;
    image.OnWarning = [&](TGIFImage&, int, const std::string& m) { warnings.push_back(m); };
    TGIFSubImage& frame = image.Add(source.Images(0));
    EXPECT_EQ(warnings, c.warnings);
    EXPECT_EQ(image.GetWidth(), c.width);
    EXPECT_EQ(image.GetHeight(), c.height);
    // The copy keeps its colours although its picture has no global table.
    EXPECT_EQ(frame.ActiveColorMap().Colors(2), kColors[2]);
    EXPECT_EQ(ErrorOf<GIFException>([&] { image.SetWidth(c.left + 1); }), sGIFWidthTooSmall);
    EXPECT_THROW(image.SetHeight(c.top + 1), GIFException);
    image.SetWidth(c.left + 2);
    EXPECT_EQ(image.GetWidth(), c.left + 2);
  }
  TGIFImage image, other;
  EXPECT_EQ(ErrorOf<GIFException>([&] { image.Add(other); }),
            "Object type not supported for operation");
}

TEST(GifPicture, DeepBitmapsGetAnExactPaletteOrTheColourCube) {
  struct Case {
    const char* name;
    int colors;
    int tableSize;
  } cases[] = {{"40 colours", 40, 40}, {"256 colours", 256, 256}, {"300 colours", 300, 216}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TDIB source(20, 15, 24);
    for (int i = 0; i < 300; ++i) {
      const int k = i % c.colors;
      const uint32_t color = RGBColor(k & 255, (255 - k / 2) & 255, (7 * k) & 255);
      source.SetRawPixel(i % 20, i / 20, source.ColorToPixel(color));
    }
    TGIFImage image;
    TGIFSubImage& frame = image.Add(source);
    EXPECT_EQ(frame.ColorMap().Count(), c.tableSize);
    const TDIB& shown = frame.MakeBitmap();
    int exact = 0;
    for (int i = 0; i < 300; ++i) {
      const uint32_t want = pixelColor(source, i % 20, i / 20);
      const uint32_t got = pixelColor(shown, i % 20, i / 20);
      exact += want == got;
      for (int shift : {0, 8, 16}) {
        EXPECT_LE(std::abs(int((want >> shift) & 255) - int((got >> shift) & 255)), 25);
      }
    }
    if (c.tableSize == c.colors) {
      EXPECT_EQ(exact, 300);
    }
  }
}

TEST(GifPicture, WebPaletteOptionMeansDitheringInForce) {
  struct Case {
    TGIFPaintOptions options;
    bool paletteDevice;
    bool dither;
  } cases[] = {{kGIFDefaultPaintOptions, false, false},
               {kGIFDefaultPaintOptions, true, true},
               {poDither, false, true},
               {poTransparent, true, false}};
  for (const Case& c : cases) {
    TGIFImage image;
    image.PaintOptions = c.options;
    SetGIFPaletteDevice(c.paletteDevice);
    EXPECT_EQ(image.DitherInForce(), c.dither) << c.options << " " << c.paletteDevice;
  }
  SetGIFPaletteDevice(false);

  // A flat mid grey comes out as a mix of the two nearest cube levels.
  TGIFImage image;
  image.PaintOptions = poDither;
  LoadGif(image, GifBuilder()
                     .Header(32, 32, {0x808080, 0})
                     .Pixels(0, 0, 32, 32, std::vector<uint8_t>(1024, 0), 1)
                     .Trailer()
                     .Bytes());
  const TDIB& shown = image.Images(0).MakeBitmap();
  EXPECT_TRUE(image.Images(0).Palette() == GIFWebPalette());
  int64_t sum = 0;
  std::map<uint32_t, int> levels;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint32_t c = pixelColor(shown, x, y);
      sum += ColorG(c);
      ++levels[c];
    }
  EXPECT_EQ(levels.size(), 2u);
  EXPECT_NEAR(double(sum) / 1024, 128.0, 2.0);
}

TEST(GifPicture, DrawingScalesMasksAndCopesWithAnEmptyScreen) {
  TGIFImage image;
  LoadGif(image, GifBuilder()
                     .Header(4, 2, kColors)
                     .Gce(1, 0, 0)
                     .Pixels(2, 0, 2, 2, {1, 0, 0, 2}, 2)
                     .Trailer()
                     .Bytes());
  TGIFSubImage& frame = image.Images(0);
  ASSERT_NE(&frame.MakeBitmap(), nullptr);
  ASSERT_NE(frame.Mask(), nullptr);
  EXPECT_EQ(frame.Mask()->GetRawPixel(1, 0), 1u);
  EXPECT_EQ(frame.Mask()->GetRawPixel(0, 0), 0u);

  TDIB canvas(8, 4, 32);
  SurfaceFillRect(canvas, SurfaceBoundsRect(canvas), 0x123456);
  DrawFrame(frame, canvas, Rect(0, 0, 8, 4), true);
  // Scaled twice: the frame covers x 4..7; transparent pixels keep the canvas.
  EXPECT_EQ(pixelColor(canvas, 3, 0), RGBColor(0x12, 0x34, 0x56));
  EXPECT_EQ(pixelColor(canvas, 4, 1), kColors[1]);
  EXPECT_EQ(pixelColor(canvas, 6, 0), RGBColor(0x12, 0x34, 0x56));
  EXPECT_EQ(pixelColor(canvas, 7, 3), kColors[2]);
  DrawFrame(frame, canvas, Rect(0, 0, 8, 4), false);
  EXPECT_EQ(pixelColor(canvas, 6, 0), kColors[0]);

  image.Header().Width = 0;
  image.Header().Height = 0;
  TDIB small(2, 2, 32);
  DrawFrame(frame, small, Rect(0, 0, 2, 2), false);
  EXPECT_EQ(pixelColor(small, 0, 0), kColors[1]);
  EXPECT_EQ(pixelColor(small, 1, 1), kColors[2]);
}

TEST(GifPicture, BitmapShowsTheFirstFrameOnTheScreen) {
  TGIFImage image;
  EXPECT_EQ(image.Bitmap(), nullptr);
  LoadGif(image, GifBuilder()
                     .Header(4, 4, kColors, "GIF89a", 3)
                     .Pixels(1, 1, 2, 2, {1, 1, 1, 1}, 2)
                     .Trailer()
                     .Bytes());
  const TDIB* shown = image.Bitmap();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(shown->Width(), 4);
  EXPECT_EQ(pixelColor(*shown, 1, 1), kColors[1]);
  TDIB copy;
  copy.Assign(image);
  EXPECT_EQ(copy.Width(), 4);
  EXPECT_EQ(pixelColor(copy, 2, 2), kColors[1]);
  EXPECT_EQ(image.DisposalColor(), kColors[3]);
  image.BackgroundColor = 0x010203;
  EXPECT_EQ(image.DisposalColor(), 0x010203u);
}

TEST(GifPicture, ClipboardRegistryAndCopies) {
  RegisterGIFImage();
  EXPECT_EQ(GetClipboardFormatName(CF_GIF()), "GIF Image");
  auto format = TPictureFormats::Instance().FindExtension(".GIF");
  ASSERT_TRUE(format.has_value());
  EXPECT_EQ(format->Create()->ClassName(), "TGIFImage");

  TGIFImage image;
  LoadGif(image, animation(5, 3));
  TClipboard clipboard;
  clipboard.Assign(image);
  EXPECT_TRUE(clipboard.HasFormat(CF_DIB));
  EXPECT_TRUE(clipboard.HasFormat(CF_GIF()));
  TGIFImage pasted;
  pasted.LoadFromClipboardFormat(clipboard, CF_GIF());
  ASSERT_EQ(pasted.Count(), image.Count());
  for (int i = 0; i < image.Count(); ++i) {
    EXPECT_EQ(pasted.Images(i).Data(), image.Images(i).Data());
  }
  clipboard.Clear();
  TDIB bitmap(3, 3, 24);
  bitmap.SaveToClipboardFormat(clipboard);
  pasted.LoadFromClipboardFormat(clipboard, CF_DIB);
  EXPECT_EQ(pasted.Count(), 1);
  EXPECT_EQ(pasted.GetWidth(), 3);

  TGIFImage copy;
  copy.Assign(image);
  EXPECT_EQ(SaveGif(copy), SaveGif(image));

  TempDir dir;
  image.SaveToFile((dir / "anim.gif").string());
  TPicture picture;
  picture.LoadFromFile((dir / "anim.gif").string());
  ASSERT_NE(dynamic_cast<TGIFImage*>(picture.Graphic()), nullptr);
  EXPECT_EQ(static_cast<TGIFImage*>(picture.Graphic())->Count(), image.Count());
}

}  // namespace
}  // namespace zirk::test
