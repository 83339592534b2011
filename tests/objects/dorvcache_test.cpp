// The image cache: keys and owners, the idle list and its byte budget,
// purges, the placeholder of a missing file, failed loads, reloads, the
// status byte, frame blits and tiling, the runtime's cache and the
// wallpaper built-in.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "imaging/KwPNG.h"
#include "objects/dorvcache.h"
#include "picture_fixture.h"
#include "scene/builtins.h"
#include "scene/runtime.h"
#include "script/imagecache.h"

namespace zirk::test {
namespace {

constexpr uint32_t kRed = 0x0000FF, kGreen = 0x00FF00, kBlue = 0xFF0000, kWhite = 0xFFFFFF;

class DorvCacheTest : public PictureTest {
 protected:
  TDorvOwner owner1 = cache.NewOwner(), owner2 = cache.NewOwner();
};

TEST_F(DorvCacheTest, KeysOwnersAndParking) {
  writeSolid("a.dor", 4, 4, kRed);
  TDorvItem* masked = cache.Acquire(owner1, "a.dor", true, false);
  TDorvItem* plain = cache.Acquire(owner1, "a.dor", false, false);
  ASSERT_NE(masked, plain);
  EXPECT_EQ(masked->Name(), files.GetRealFileName("a.dor") + "?m");
  EXPECT_EQ(plain->Name(), files.GetRealFileName("a.dor"));
  EXPECT_EQ(cache.Count(), 2);
  ASSERT_NE(masked->Frame(0)->MaskSurface, nullptr) << "a mask request builds one";
  EXPECT_EQ(plain->Frame(0)->MaskSurface, nullptr) << "no alpha, no request: no mask";
  EXPECT_EQ(masked->Frame(0)->MaskSurface->GetPixel(3, 3), 255u);

  // The same owner twice is listed once; a second owner keeps it in use.
  EXPECT_EQ(cache.Acquire(owner1, "a.dor", false, false), plain);
  EXPECT_EQ(plain->OwnerCount(), 1);
  cache.Acquire(owner2, "./A.DOR", false, false);
  EXPECT_EQ(plain->OwnerCount(), 2) << "every spelling of the file is one key";
  cache.Release(plain, owner1);
  EXPECT_FALSE(cache.IsIdle(plain));
  cache.Release(plain, owner1);  // no longer an owner: nothing
  EXPECT_EQ(plain->OwnerCount(), 1);
  cache.Release(plain, owner2);
  cache.Release(masked, owner1);
  EXPECT_TRUE(cache.IsIdle(plain));
  EXPECT_TRUE(cache.IsIdle(masked));
  EXPECT_EQ(cache.IdleMemory(), 4 * 4 * 4 + (4 * 4 * 4 + 4 * 4));

  // A later acquire revives the parked item without loading it again.
  TDorvItem* again = cache.Acquire(owner2, "a.dor", false, false);
  EXPECT_EQ(again, plain);
  EXPECT_FALSE(cache.IsIdle(plain));
  EXPECT_EQ(cache.IdleCount(), 1);

  // Two files whose names differ only in case are two items.
  writeSolid("Case.dor", 1, 1, kRed);
  writeSolid("case.dor", 1, 1, kBlue);
  TDorvItem* upper = cache.Acquire(owner1, "Case.dor", false, false);
  TDorvItem* lower = cache.Acquire(owner1, "case.dor", false, false);
  ASSERT_NE(upper, lower);
  EXPECT_EQ(colorAt(*lower->Frame(0)->Surface, 0, 0), kBlue);
}

// Each lease is an owner of its own: it hands its item back once, when it
// goes, is reset or is overwritten, and a moved-from lease hands back nothing.
TEST_F(DorvCacheTest, LeasesHoldTheirItemUntilTheyGo) {
  writeSolid("a.dor", 2, 2, kRed);
  writeSolid("b.dor", 2, 2, kBlue);
  TDorvLease first("a.dor", false, false);
  TDorvItem* a = first.Get();
  {
    TDorvLease second("a.dor", false, false);
    EXPECT_EQ(second.Get(), a);
    EXPECT_EQ(a->OwnerCount(), 2);
  }
  EXPECT_EQ(a->OwnerCount(), 1);
  TDorvLease moved = std::move(first);
  EXPECT_FALSE(first);
  first.Reset();
  EXPECT_EQ(a->OwnerCount(), 1) << "a moved-from lease holds nothing";
  moved = TDorvLease("b.dor", false, false);
  EXPECT_TRUE(cache.IsIdle(a)) << "overwriting a lease hands its item back";
  EXPECT_EQ(moved->Name(), files.GetRealFileName("b.dor"));
  TDorvItem* b = moved.Get();

  // A lease whose cache is gone lets go without touching it.
  SetImageCache(nullptr);
  moved.Reset();
  SetImageCache(&cache);
  EXPECT_EQ(b->OwnerCount(), 1);
}

TEST_F(DorvCacheTest, IdleBudgetFreesTheOldestButNeverTheItemJustParked) {
  writeSolid("big1.dor", 1000, 1000, kRed);  // 4,000,000 bytes at 32 bits
  writeSolid("big2.dor", 1000, 1000, kGreen);
  writeSolid("huge.dor", 2000, 1000, kBlue);  // 8,000,000 bytes
  writeSolid("small.dor", 10, 10, kBlue);

  TDorvItem* huge = cache.Acquire(owner1, "huge.dor", false, false);
  EXPECT_EQ(huge->MemorySize(), 8'000'000);
  cache.Release(huge, owner1);
  EXPECT_TRUE(cache.IsIdle(huge)) << "a single item over the budget stays parked";

  TDorvItem* small = cache.Acquire(owner1, "small.dor", false, false);
  cache.Release(small, owner1);
  EXPECT_EQ(cache.Find("huge.dor"), nullptr) << "two parked and over budget: the oldest goes";
  EXPECT_EQ(cache.IdleCount(), 1);

  TDorvItem* first = cache.Acquire(owner1, "big1.dor", false, false);
  TDorvItem* second = cache.Acquire(owner1, "big2.dor", false, false);
  cache.Release(first, owner1);
  EXPECT_EQ(cache.IdleMemory(), 4'000'400) << "in-use items do not count";
  cache.Release(second, owner1);
  EXPECT_EQ(cache.Find("small.dor"), nullptr);
  EXPECT_EQ(cache.Find("big1.dor"), nullptr) << "8,000,000 bytes exceed the budget";
  EXPECT_EQ(cache.Find("big2.dor"), second);
  EXPECT_EQ(IdleDorvMemory(), 4'000'000);
}

TEST_F(DorvCacheTest, PurgeFreesOnlyParkedItemsOfEverySuffixOrder) {
  writeSolid("p.dor", 2, 2, kRed);
  TDorvItem* inUse = cache.Acquire(owner1, "p.dor", false, false);
  PurgeDorvItem("p.dor");
  EXPECT_EQ(cache.Find("p.dor"), inUse) << "an item in use is never purged";
  cache.Release(inUse, owner1);
  for (auto [name, mask, trim] : {std::tuple{"p.dor", true, false},
                                  {"p.dor", false, true},
                                  {"p.dor", true, true},
                                  {"p.dor?t", true, false}}) {
    cache.Release(cache.Acquire(owner1, name, mask, trim), owner1);
  }
  EXPECT_NE(cache.Find("p.dor?t?m"), nullptr);
  EXPECT_EQ(cache.Count(), 5);
  PurgeDorvItem("p.dor");
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(cache.IdleCount(), 0);
}

TEST_F(DorvCacheTest, SuffixesInTheNameCountLikeFlags) {
  // A 6 x 5 picture whose visible part is the 2 x 2 square at (3, 1).
  std::vector<uint32_t> colors(30, kWhite);
  for (int y : {1, 2}) {
    for (int x : {3, 4}) colors[static_cast<size_t>(y * 6 + x)] = kRed;
  }
  writePicture("t.dor", {TestFrame{6, 5, colors, 0, static_cast<int32_t>(kWhite)}});
  TDorvItem* item = cache.Acquire(owner1, "t.dor?t", true, false);
  EXPECT_EQ(item->Name(), files.GetRealFileName("t.dor") + "?t?m");
  ASSERT_EQ(item->FrameCount(), 1);
  const TDorvItemFrame& frame = *item->Frame(0);
  EXPECT_EQ(item->Width, 6) << "the size before the trim";
  EXPECT_EQ(item->Height, 5);
  EXPECT_EQ(frame.Surface->Width(), 2);
  EXPECT_EQ(frame.Surface->Height(), 2);
  EXPECT_EQ(frame.OffsetX, 3);
  EXPECT_EQ(frame.OffsetY, 1);
  ASSERT_NE(frame.MaskSurface, nullptr);
  EXPECT_EQ(colorAt(*frame.Surface, 0, 0), kRed);
}

TEST_F(DorvCacheTest, FramesKeepTheirKeysDelaysAndAlpha) {
  std::vector<uint32_t> colors = {kRed, kGreen, kBlue, kWhite};
  writePicture("m.dor", {TestFrame{2, 2, colors, 0, static_cast<int32_t>(kGreen), 0},
                         TestFrame{2, 2, {}, kBlue, -1, 40, {0, 100, 200, 255}}});
  TDorvItem* item = cache.Acquire(owner1, "m.dor", false, false);
  ASSERT_EQ(item->FrameCount(), 2);
  const TDorvItemFrame& keyed = *item->Frame(0);
  const TDorvItemFrame& alpha = *item->Frame(1);
  EXPECT_EQ(keyed.Delay, 1) << "a delay of 0 counts as 1";
  EXPECT_EQ(alpha.Delay, 40);
  EXPECT_EQ(item->TotalDelay, 41);
  EXPECT_EQ(keyed.TransparentColor, static_cast<int32_t>(kGreen));
  EXPECT_EQ(keyed.Surface->ColorKey(), keyed.Surface->ColorToPixel(kGreen));
  EXPECT_EQ(keyed.MaskSurface, nullptr);
  EXPECT_EQ(alpha.Surface->ColorKey(), -1);
  ASSERT_NE(alpha.MaskSurface, nullptr) << "an alpha plane always gives a mask";
  EXPECT_EQ(alpha.MaskSurface->GetPixel(1, 0), 100u);
  EXPECT_EQ(item->Frame(2), nullptr);
  EXPECT_EQ(item->Frame(-1), nullptr);
}

TEST_F(DorvCacheTest, MissingFileGivesATransparentPlaceholder) {
  for (bool mask : {false, true}) {
    TDorvItem* item = cache.Acquire(owner1, "missing.dor", mask, false);
    ASSERT_EQ(item->FrameCount(), 1);
    const TDorvItemFrame& frame = *item->Frame(0);
    EXPECT_EQ(frame.Surface->Width(), kDorvPlaceholderSize);
    EXPECT_EQ(frame.Surface->Height(), kDorvPlaceholderSize);
    EXPECT_EQ(frame.Surface->ColorKey(), 0);
    EXPECT_EQ(frame.TransparentColor, 0) << "the key its users take from the frame";
    EXPECT_EQ(item->Width, 0);
    EXPECT_EQ(frame.MaskSurface != nullptr, mask);

    TDIBX target(16, 16, 32);
    target.FillRect(target.GetBoundsRect(), 0x123456);
    for (int32_t alpha : {255, 128, 400}) {
      DrawDorvFrame(frame, target, 0, 0, frame.Surface->GetBoundsRect(), false, false, alpha);
    }
    EXPECT_EQ(target.GetPixel(3, 3), 0x123456u) << "mask " << mask;
  }
}

TEST_F(DorvCacheTest, FailedLoadLeavesNothingBehind) {
  // A damaged picture's error names it once: a player shows no stream's words.
  writeSolid("bad.dor", 3, 3, kRed);
  const std::vector<unsigned char> bytes = readFile(dir / "bad.dor");
  const std::vector<unsigned char> png = readFile(dataPath("png/pngsuite/basn2c08.png"));
  // One frame of 8193 x 8193 pixels at 8 bits and no layers: a file of 1 kB
  // that parses, and a frame too large for a surface of the display.
  std::string huge = "Dorv106";
  auto put = [&huge](std::initializer_list<int32_t> values) {
    for (int32_t v : values)
      for (int shift = 0; shift < 32; shift += 8) huge += char(v >> shift);
  };
  put({40, 106, 8193, 8193, 8, 1, 0x00010001, 0, 0, 0, 0});  // one frame, planes as stored
  put({0, -1, 100});
  huge.append(5, '\0');
  put({0, 8193, 8193, 8});         // no layers
  huge.append(256 * 4 + 8, '\0');  // the colours, no rectangles
  const std::pair<std::string, const char*> cases[] = {
      {"Dorv106 this is not a layered image at all", ""},
      {std::string(bytes.begin(), bytes.begin() + 10), ""},
      {huge, "Bitmap too large: 8193 x 8193 at 32 bits"},
      {std::string(png.begin(), png.end()), "Not a layered image but a PNG picture"},
  };
  for (const auto& [junk, says] : cases) {
    writeFile(dir / "bad.dor", junk);
    files.InvalidateCache();
    try {
      cache.Acquire(owner1, "bad.dor", false, false);
      ADD_FAILURE() << "a damaged picture loaded";
    } catch (const Exception& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(std::string("bad.dor: ") + says, 0), 0u) << what;
      EXPECT_EQ(what.find("bad.dor", 1), std::string::npos) << what;
    }
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.IdleCount(), 0);
  }

  writeSolid("bad.dor", 3, 3, kRed);
  TDorvItem* item = cache.Acquire(owner1, "bad.dor", false, false);
  EXPECT_EQ(item->FrameCount(), 1) << "the next acquire reads the file again";

  // A file without frames gives an item without frames.
  writePicture("empty.dor", {});
  EXPECT_EQ(cache.Acquire(owner1, "empty.dor", false, false)->FrameCount(), 0);
}

TEST_F(DorvCacheTest, DitherChangeReloadsAndRebuildRecreatesSurfaces) {
  writeSolid("r.dor", 2, 2, kRed);
  writeSolid("k.dor", 2, 2, kRed, static_cast<int32_t>(kGreen));
  TDorvItem* plain = cache.Acquire(owner1, "r.dor", false, false);
  TDorvItem* keyed = cache.Acquire(owner1, "k.dor", false, false);
  writeSolid("r.dor", 2, 2, kBlue);
  writeSolid("k.dor", 2, 2, kBlue, static_cast<int32_t>(kGreen));

  cache.SetCGDither(false);
  EXPECT_EQ(colorAt(*plain->Frame(0)->Surface, 0, 0), kRed) << "no change, no reload";
  SetImageCacheMode(true);
  EXPECT_TRUE(cache.CGDither());
  EXPECT_EQ(colorAt(*plain->Frame(0)->Surface, 0, 0), kBlue);
  EXPECT_EQ(colorAt(*keyed->Frame(0)->Surface, 0, 0), kRed) << "keyed frames are skipped";

  const TCustomDIBX* before = keyed->Frame(0)->Surface.get();
  ReleaseDorvSurfaces();
  RebuildDorvSurfaces(true);
  EXPECT_NE(keyed->Frame(0)->Surface.get(), before);
  EXPECT_EQ(colorAt(*keyed->Frame(0)->Surface, 0, 0), kBlue);
  EXPECT_EQ(keyed->Frame(0)->Surface->ColorKey(), keyed->Frame(0)->Surface->ColorToPixel(kGreen));

  // A vanished file leaves the frames as they were.
  std::filesystem::remove(dir / "r.dor");
  files.InvalidateCache();
  RebuildDorvSurfaces(true);
  EXPECT_EQ(colorAt(*plain->Frame(0)->Surface, 1, 1), kBlue);

  // A file emptied or garbled during play is reported, and its frames show
  // what they showed on new surfaces.
  for (const char* junk : {"", "Dorv106 not a layered image"}) {
    writeFile(dir / "k.dor", junk);
    const TCustomDIBX* held = keyed->Frame(0)->Surface.get();
    testing::internal::CaptureStderr();
    RebuildDorvSurfaces(true);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("zirkplayer: k.dor: ", 0), 0u) << said;
    const TCustomDIBX& surface = *keyed->Frame(0)->Surface;
    EXPECT_NE(&surface, held);
    EXPECT_EQ(colorAt(surface, 1, 1), kBlue) << said;
    EXPECT_EQ(surface.ColorKey(), surface.ColorToPixel(kGreen));
  }
}

TEST_F(DorvCacheTest, StatusByteIsReadOnlyFromVersion101) {
  TKwMemoryStream saved;
  cache.SetCGDither(true);
  SaveDorvCacheState(saved);
  ASSERT_EQ(saved.Size(), 1);
  EXPECT_EQ(saved.Memory()[0], 1);

  TDorvCollection other;
  SetImageCache(&other);
  saved.SetPosition(0);
  LoadDorvCacheState(saved, 100);
  EXPECT_FALSE(other.CGDither());
  EXPECT_EQ(saved.Position(), 0);
  LoadDorvCacheState(saved, 101);
  EXPECT_TRUE(other.CGDither());
  SetImageCache(&cache);
}

TEST_F(DorvCacheTest, FrameBlitFollowsTheAlphaRule) {
  TDorvItemFrame frame;
  frame.Surface = makeSurface(2, 1, {kRed, kGreen});
  frame.Surface->SetColorKey(frame.Surface->ColorToPixel(kGreen));
  struct Case {
    int32_t alpha;
    uint32_t keyedPixel, drawnPixel;
  } cases[] = {
      {255, 0x808080, 0x0000FF},  // copy, key skipped
      {128, 0x808080, 0x4040C0},  // blend: round((s * 128 + d * 127) / 255)
      {256, 0x808080, 0x808080},  // additive at level 0
      {511, 0x808080, 0x8080FF},  // additive at full level
      {0, 0x808080, 0x808080},
  };
  for (const Case& c : cases) {
    TDIBX target(2, 1, 32);
    target.FillRect(target.GetBoundsRect(), 0x808080);
    DrawDorvFrame(frame, target, 0, 0, frame.Surface->GetBoundsRect(), false, false, c.alpha);
    EXPECT_EQ(colorAt(target, 0, 0), c.drawnPixel) << "alpha " << c.alpha;
    EXPECT_EQ(colorAt(target, 1, 0), c.keyedPixel) << "alpha " << c.alpha;
  }

  // With a mask the key no longer counts and the mask weighs each pixel.
  frame.MaskSurface = makeMask(2, 1, {0, 255});
  TDIBX target(2, 1, 32);
  target.FillRect(target.GetBoundsRect(), 0);
  DrawDorvFrame(frame, target, 0, 0, frame.Surface->GetBoundsRect(), false, false, 255);
  EXPECT_EQ(colorAt(target, 0, 0), 0u);
  EXPECT_EQ(colorAt(target, 1, 0), kGreen);
}

TEST_F(DorvCacheTest, TilingWrapsOffsetsIntoTheTileAndMirrorsWhenFlipped) {
  TDorvItemFrame frame;
  frame.Surface = makeSurface(3, 1, {kRed, kGreen, kBlue});
  auto row = [&](int32_t offset, bool flip) {
    TDIBX target(7, 1, 32);
    target.FillRect(target.GetBoundsRect(), 0);
    DrawDorvFrameTiled(frame, target, Rect(0, 0, 7, 1), Rect(0, 0, 3, 1), offset, 0, flip, false,
                       255);
    std::string s;
    for (int x = 0; x < 7; ++x) {
      const uint32_t c = colorAt(target, x, 0);
      s += c == kRed ? 'r' : c == kGreen ? 'g' : c == kBlue ? 'b' : '.';
    }
    return s;
  };
  EXPECT_EQ(row(0, false), "rgbrgbr");
  EXPECT_EQ(row(1, false), "gbrgbrg");
  EXPECT_EQ(row(4, false), "gbrgbrg");
  EXPECT_EQ(row(-1, false), "brgbrgb") << "a negative offset shifts the other way";
  EXPECT_EQ(row(-5, false), "gbrgbrg");
  EXPECT_EQ(row(0, true), "rbgrbgr") << "the whole area mirrored";

  TDIBX target(7, 1, 32);
  target.FillRect(target.GetBoundsRect(), 0);
  DrawDorvFrameTiled(frame, target, Rect(0, 0, 7, 1), Rect(1, 0, 1, 1), 5, 0, false, false, 255);
  EXPECT_EQ(colorAt(target, 0, 0), 0u) << "an empty tile draws nothing";
}

TEST_F(DorvCacheTest, RuntimeMakesAndFreesTheCache) {
  SetImageCache(nullptr);
  RegisterDorvCache();
  ZirkInitialize();
  TDorvCollection* runtimeCache = DorvCache();
  ASSERT_NE(runtimeCache, nullptr);
  writeSolid("w.dor", 2, 2, kRed);
  {
    TDorvLease lease("w.dor", false, false);
    EXPECT_EQ(runtimeCache->Find("w.dor"), lease.Get()) << "a lease holds the runtime's item";
  }
  PurgeWrittenImage("w.dor");
  EXPECT_EQ(runtimeCache->Count(), 0) << "the purge built-in reaches the cache";
  ZirkFinalize();
  SetImageCacheFactory({});
  EXPECT_EQ(DorvCache(), nullptr);
  EXPECT_THROW(TDorvLease("w.dor", false, false), EDorvCacheError);
  SetImageCache(&cache);
}

TEST_F(DorvCacheTest, WallpaperIsTheFirstFrameAsPng) {
  TempDir data;
  const char* old = std::getenv("XDG_DATA_HOME");
  const std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", data.path().c_str(), 1);
  writePicture("wall.dor", {TestFrame{2, 1, {kRed, kBlue}}, TestFrame{2, 1, {}, kGreen}});

  const std::string path = SetWallPaper("wall.dor");
  EXPECT_EQ(path, (data / "zirkplayer" / "wallpaper.png").string());
  TKwPNG png;
  TKwFileStream file(path, TKwFileStream::Mode::OpenRead);
  png.LoadFromStream(file);
  ASSERT_EQ(png.GetWidth(), 2);
  EXPECT_EQ(png.Image().PixelToColor(png.Image().GetRawPixel(0, 0)), kRed);
  EXPECT_EQ(png.Image().PixelToColor(png.Image().GetRawPixel(1, 0)), kBlue);
  EXPECT_TRUE(cache.IsIdle(cache.Find("wall.dor"))) << "released after use";

  writePicture("none.dor", {});
  EXPECT_EQ(SetWallPaper("none.dor"), "");

  if (old) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

}  // namespace
}  // namespace zirk::test
