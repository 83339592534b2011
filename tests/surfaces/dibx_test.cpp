// Pixel-exact checks of the drawing surfaces: every family of operations
// goes through the shared kernels, so each case pins one rule of geometry
// (clipping, flips, stretch, tiles, rotation) or of arithmetic.

#include "surfaces/dibx.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "surfaces/rotatezoom.h"

namespace zirk {
namespace {

constexpr uint32_t kBg = 0x0A0B0C;

// A distinct value per pixel of a small picture.
uint32_t pat(int x, int y) {
  return (uint32_t(x + 1) << 16) | (uint32_t(y + 1) << 8) | 0x77;
}

std::unique_ptr<TDIBX> solid(int w, int h, uint32_t value, int bits = 32) {
  auto s = std::make_unique<TDIBX>(w, h, bits);
  s->FillRect(s->GetBoundsRect(), value);
  return s;
}

std::unique_ptr<TDIBX> pattern(int w, int h) {
  auto s = std::make_unique<TDIBX>(w, h, 32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) s->SetPixel(x, y, pat(x, y));
  return s;
}

std::unique_ptr<TDIBX> mask8(const std::vector<std::vector<uint8_t>>& rows) {
  auto m = std::make_unique<TDIBX>(int(rows[0].size()), int(rows.size()), 8);
  for (size_t y = 0; y < rows.size(); ++y)
    for (size_t x = 0; x < rows[y].size(); ++x) m->SetPixel(int(x), int(y), rows[y][x]);
  return m;
}

std::vector<uint32_t> row(const TCustomDIBX& s, int y) {
  std::vector<uint32_t> out;
  for (int x = 0; x < s.Width(); ++x) out.push_back(s.GetPixel(x, y));
  return out;
}

// ---- one-to-one draws ---------------------------------------------------

TEST(DIBXDraw, ClipsAtEveryEdgeAndKeepsEverythingElse) {
  // A 4x4 picture drawn at positions hanging over each edge of an 8x8
  // surface whose clip rectangle is (1,1)-(7,7); the source rectangle also
  // sticks out of the picture on the left.
  struct Case {
    const char* what;
    int x, y;
    TRect src;
  } cases[] = {
      {"left edge", -2, 3, Rect(0, 0, 4, 4)}, {"right edge", 5, 3, Rect(0, 0, 4, 4)},
      {"top edge", 3, -2, Rect(0, 0, 4, 4)},  {"bottom edge", 3, 5, Rect(0, 0, 4, 4)},
      {"all out", 9, 9, Rect(0, 0, 4, 4)},    {"source past its picture", 2, 2, Rect(-1, -1, 3, 3)},
      {"inner part", 2, 2, Rect(1, 1, 3, 4)},
  };
  auto src = pattern(4, 4);
  for (const Case& c : cases) {
    auto dst = solid(8, 8, kBg);
    dst->SetClipRect(Rect(1, 1, 7, 7));
    dst->Draw(c.x, c.y, *src, c.src, false, false, false);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        const int sx = c.src.Left + (x - c.x), sy = c.src.Top + (y - c.y);
        const bool inSrc = sx >= c.src.Left && sx < c.src.Right && sy >= c.src.Top &&
                           sy < c.src.Bottom && sx >= 0 && sy >= 0 && sx < 4 && sy < 4;
        const bool inClip = x >= 1 && x < 7 && y >= 1 && y < 7;
        const uint32_t want = inSrc && inClip ? pat(sx, sy) : kBg;
        ASSERT_EQ(dst->GetPixel(x, y), want) << c.what << " at " << x << "," << y;
      }
    }
  }
}

TEST(DIBXDraw, FlipsMirrorInsideTheSourceRectangle) {
  auto src = pattern(3, 2);
  struct Case {
    bool h, v;
    std::vector<std::vector<uint32_t>> want;
  } cases[] = {
      {false, false, {{pat(0, 0), pat(1, 0), pat(2, 0)}, {pat(0, 1), pat(1, 1), pat(2, 1)}}},
      {true, false, {{pat(2, 0), pat(1, 0), pat(0, 0)}, {pat(2, 1), pat(1, 1), pat(0, 1)}}},
      {false, true, {{pat(0, 1), pat(1, 1), pat(2, 1)}, {pat(0, 0), pat(1, 0), pat(2, 0)}}},
      {true, true, {{pat(2, 1), pat(1, 1), pat(0, 1)}, {pat(2, 0), pat(1, 0), pat(0, 0)}}},
  };
  for (const Case& c : cases) {
    auto dst = solid(3, 2, kBg);
    dst->Draw(0, 0, *src, src->GetBoundsRect(), c.h, c.v, false);
    EXPECT_EQ(row(*dst, 0), c.want[0]) << c.h << c.v;
    EXPECT_EQ(row(*dst, 1), c.want[1]) << c.h << c.v;
  }
  // A flipped draw clipped on the left shows the right part of the mirror.
  auto dst = solid(3, 1, kBg);
  dst->Draw(-1, 0, *src, Rect(0, 0, 3, 1), true, false, false);
  EXPECT_EQ(row(*dst, 0), (std::vector<uint32_t>{pat(1, 0), pat(0, 0), kBg}));
}

TEST(DIBXDraw, ColourKeySkipsOnlyKeyPixelsAndOnlyWhenAsked) {
  auto src = pattern(3, 1);
  src->SetPixel(1, 0, 0x00FF00FF);
  src->SetColorKey(0x00FF00FF);
  auto keyed = solid(3, 1, kBg), plain = solid(3, 1, kBg);
  keyed->Draw(0, 0, *src, src->GetBoundsRect(), false, false, true);
  plain->Draw(0, 0, *src, src->GetBoundsRect(), false, false, false);
  EXPECT_EQ(row(*keyed, 0), (std::vector<uint32_t>{pat(0, 0), kBg, pat(2, 0)}));
  EXPECT_EQ(row(*plain, 0), (std::vector<uint32_t>{pat(0, 0), 0x00FF00FFu, pat(2, 0)}));
  // The key also holds for blended and additive draws.
  auto blend = solid(3, 1, kBg), add = solid(3, 1, kBg);
  blend->DrawAlpha(0, 0, *src, src->GetBoundsRect(), false, false, true, 100);
  add->DrawAdd(0, 0, *src, src->GetBoundsRect(), false, false, true, 100);
  EXPECT_EQ(blend->GetPixel(1, 0), kBg);
  EXPECT_EQ(add->GetPixel(1, 0), kBg);
}

TEST(DIBXDraw, OpacityLevels) {
  // Source 0xFF8000 over 0x0000FF, per channel round((s*a + d*(255-a))/255).
  struct Case {
    int opacity;
    uint32_t want;
  } cases[] = {
      {0, 0x0000FF}, {1, 0x0101FE}, {128, 0x80407F}, {254, 0xFE7F01}, {255, 0xFF8000},
  };
  auto src = solid(1, 1, 0xFF8000);
  for (const Case& c : cases) {
    auto dst = solid(1, 1, 0x0000FF);
    dst->DrawAlpha(0, 0, *src, src->GetBoundsRect(), false, false, false, c.opacity);
    EXPECT_EQ(dst->GetPixel(0, 0), c.want) << c.opacity;
  }
}

TEST(DIBXDraw, MasksWeighEachPixelAndCombineWithOpacity) {
  auto src = solid(4, 1, 0xFFFFFF);
  auto m = mask8({{0, 128, 255, 64}});
  struct Case {
    const char* what;
    int opacity;
    std::vector<uint32_t> want;
  } cases[] = {
      {"masked copy", 255, {0x000000, 0x808080, 0xFFFFFF, 0x404040}},
      {"masked at 128", 128, {0x000000, 0x404040, 0x808080, 0x202020}},
  };
  for (const Case& c : cases) {
    auto dst = solid(4, 1, 0x000000);
    dst->DrawAlphaMasked(0, 0, *src, src->GetBoundsRect(), false, false, *m, c.opacity);
    EXPECT_EQ(row(*dst, 0), c.want) << c.what;
  }
  // The mask flips with the picture: it is read at source coordinates.
  auto dst = solid(4, 1, 0x000000);
  dst->DrawMasked(0, 0, *src, src->GetBoundsRect(), true, false, *m);
  EXPECT_EQ(row(*dst, 0), (std::vector<uint32_t>{0x404040, 0xFFFFFF, 0x808080, 0x000000}));
  // A mask that does not cover the source draws nothing rather than read past it.
  auto small = mask8({{255}});
  auto dst2 = solid(4, 1, kBg);
  EXPECT_FALSE(dst2->DrawMasked(0, 0, *src, src->GetBoundsRect(), false, false, *small));
  EXPECT_EQ(row(*dst2, 0), std::vector<uint32_t>(4, kBg));
}

TEST(DIBXDraw, AdditiveDrawsSaturate) {
  struct Case {
    uint32_t dst, src;
    int level;
    uint32_t want;
  } cases[] = {
      {0x000000, 0xFFFFFF, 255, 0xFEFEFE},  // level 255 adds 255*255/256
      {0x808080, 0xFFFFFF, 255, 0xFFFFFF},  // saturates
      {0x102030, 0x808080, 128, 0x506070},
      {0x102030, 0xFFFFFF, 0, 0x102030},
  };
  for (const Case& c : cases) {
    auto src = solid(1, 1, c.src), dst = solid(1, 1, c.dst);
    dst->DrawAdd(0, 0, *src, src->GetBoundsRect(), false, false, false, c.level);
    EXPECT_EQ(dst->GetPixel(0, 0), c.want) << std::hex << c.dst << " + " << c.src;
  }
  auto src = solid(2, 1, 0xFFFFFF), dst = solid(2, 1, 0x000000);
  auto m = mask8({{255, 128}});
  dst->DrawAddMasked(0, 0, *src, src->GetBoundsRect(), false, false, *m, 255);
  EXPECT_EQ(row(*dst, 0), (std::vector<uint32_t>{0xFEFEFE, 0x7F7F7F}));
}

TEST(DIBXDraw, AddTableAddsEntriesAboveTheKey) {
  auto heat = std::make_unique<TDIBX>(4, 1, 8);
  heat->SetColorKey(16);
  for (int x = 0; x < 4; ++x)
    heat->SetPixel(x, 0, uint32_t(std::vector<int>{0, 16, 17, 200}[size_t(x)]));
  std::vector<uint32_t> table(256);
  for (int i = 0; i < 256; ++i) table[size_t(i)] = uint32_t(i) << 16 | 0x000100;
  auto dst = solid(4, 1, 0x101010);
  dst->DrawAddTable(0, 0, *heat, heat->GetBoundsRect(), false, false, table.data(), 255, 17);
  // Value 17 adds (17, 1, 0) * 255 / 256 -> (16, 0, 0); 200 adds (199, 0, 0).
  EXPECT_EQ(row(*dst, 0), (std::vector<uint32_t>{0x101010, 0x101010, 0x201010, 0xD71010}));
  // The stretching twin onto a doubled rectangle.
  auto big = solid(8, 2, 0x000000);
  big->StretchDrawAddTable(Rect(0, 0, 8, 2), *heat, heat->GetBoundsRect(), false, false,
                           table.data(), 255, 17);
  EXPECT_EQ(big->GetPixel(7, 1), 0xC70000u);
  EXPECT_EQ(big->GetPixel(1, 0), 0u);
}

// ---- stretch, tile, rotate ---------------------------------------------

TEST(DIBXStretch, DoublesHalvesAndFlips) {
  auto src2 = pattern(2, 2);
  auto dst = solid(4, 4, kBg);
  dst->StretchDraw(Rect(0, 0, 4, 4), *src2, src2->GetBoundsRect(), false, false, false, 255);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) ASSERT_EQ(dst->GetPixel(x, y), pat(x / 2, y / 2)) << x << "," << y;

  auto src4 = pattern(4, 4);
  auto half = solid(2, 2, kBg);
  half->StretchDraw(Rect(0, 0, 2, 2), *src4, src4->GetBoundsRect(), false, false, false, 255);
  EXPECT_EQ(row(*half, 0), (std::vector<uint32_t>{pat(1, 1), pat(3, 1)}));
  EXPECT_EQ(row(*half, 1), (std::vector<uint32_t>{pat(1, 3), pat(3, 3)}));

  auto flipped = solid(4, 1, kBg);
  flipped->StretchDraw(Rect(0, 0, 4, 1), *src2, Rect(0, 0, 2, 1), true, false, false, 255);
  EXPECT_EQ(row(*flipped, 0), (std::vector<uint32_t>{pat(1, 0), pat(1, 0), pat(0, 0), pat(0, 0)}));

  // Clipped stretches sample as the unclipped one would.
  auto clipped = solid(4, 4, kBg);
  clipped->SetClipRect(Rect(1, 1, 3, 3));
  clipped->StretchDraw(Rect(-4, -4, 4, 4), *src2, src2->GetBoundsRect(), false, false, false, 255);
  EXPECT_EQ(clipped->GetPixel(1, 1), pat(1, 1));
  EXPECT_EQ(clipped->GetPixel(0, 0), kBg);
}

TEST(DIBXStretch, AdditiveAndMaskedVariants) {
  auto src = solid(1, 1, 0x808080);
  auto m = mask8({{128}});
  auto add = solid(2, 2, 0x101010), masked = solid(2, 2, 0x000000);
  add->StretchDrawAlpha(Rect(0, 0, 2, 2), *src, src->GetBoundsRect(), false, false, false, 128);
  masked->StretchDrawMasked(Rect(0, 0, 2, 2), *src, src->GetBoundsRect(), false, false, *m, 255);
  EXPECT_EQ(add->GetPixel(1, 1), 0x505050u);
  EXPECT_EQ(masked->GetPixel(1, 1), 0x404040u);
  auto addMasked = solid(2, 2, 0x000000);
  addMasked->StretchDrawAddMasked(Rect(0, 0, 2, 2), *src, src->GetBoundsRect(), false, false, *m,
                                  255);
  EXPECT_EQ(addMasked->GetPixel(0, 0), 0x404040u);  // 128 * round(128*255/255)/256
}

std::string tileRow(TCustomDIBX& dst, const char* names) {
  std::string out;
  for (int x = 0; x < dst.Width(); ++x) {
    const uint32_t v = dst.GetPixel(x, 0);
    out += v == kBg ? '.' : names[(v >> 16) - 1];
  }
  return out;
}

TEST(DIBXTile, OffsetsAndScrollsAreTakenModuloTheTile) {
  auto src = pattern(3, 1);  // A B C
  struct Case {
    const char* what;
    int offset;
    bool flip;
    const char* want;
  } cases[] = {
      {"no offset", 0, false, "ABCABCA"},  {"offset 1", 1, false, "CABCABC"},
      {"offset -1", -1, false, "BCABCAB"}, {"offset -4", -4, false, "BCABCAB"},
      {"offset 3", 3, false, "ABCABCA"},   {"flipped", 0, true, "ACBACBA"},
  };
  for (const Case& c : cases) {
    auto dst = solid(9, 1, kBg);
    dst->TileDraw(Rect(1, 0, 8, 1), *src, src->GetBoundsRect(), c.offset, 0, c.flip, false, false);
    EXPECT_EQ(tileRow(*dst, "ABC"), std::string(".") + c.want + ".") << c.what;
  }
  // Scrolling by +1 moves the pattern left; the fast and zoomed tiles agree.
  for (int scroll : {1, -2, 7}) {
    auto fast = solid(7, 1, kBg), zoom = solid(7, 1, kBg);
    fast->TileDrawFast(Rect(0, 0, 7, 1), *src, false, false, scroll, 0);
    zoom->TileDrawZoom(Rect(0, 0, 7, 1), *src, src->GetBoundsRect(), 256, 256, false, false, false,
                       255, scroll, 0);
    const std::string abc = "ABCABCABCABC";
    const int start = int(((scroll % 3) + 3) % 3);
    EXPECT_EQ(tileRow(*fast, "ABC"), abc.substr(size_t(start), 7)) << scroll;
    EXPECT_EQ(tileRow(*zoom, "ABC"), tileRow(*fast, "ABC")) << scroll;
  }
  // Zoom 512 doubles every pixel of the pattern.
  auto zoom = solid(8, 1, kBg);
  zoom->TileDrawZoom(Rect(0, 0, 8, 1), *src, src->GetBoundsRect(), 512, 256, false, false, false,
                     255, 1, 0);
  EXPECT_EQ(tileRow(*zoom, "ABC"), "ABBCCAAB");
}

TEST(DIBXTile, SpacedCopiesLeaveGapsAndOverlapInOrder) {
  auto src = pattern(2, 1);  // A B
  struct Case {
    const char* what;
    int step, scroll;
    bool flip;
    const char* want;
  } cases[] = {
      {"step 3", 3, 0, false, "AB.AB.AB."},
      {"scrolled by 1", 3, 1, false, "B.AB.AB.A"},
      {"scrolled by -1", 3, -1, false, ".AB.AB.AB"},
      {"overlapping step 1", 1, 0, false, "AAAAAAAAA"},
      {"flipped", 3, 0, true, ".BA.BA.BA"},
  };
  for (const Case& c : cases) {
    auto dst = solid(9, 1, kBg);
    dst->TileDrawOffset(Rect(0, 0, 9, 1), *src, src->GetBoundsRect(), c.step, 1, 256, 256, c.flip,
                        false, false, 255, c.scroll, 0);
    EXPECT_EQ(tileRow(*dst, "AB"), c.want) << c.what;
  }
  // A mask tile through the same spacing.
  auto m = mask8({{255, 0}});
  auto dst = solid(6, 1, kBg);
  dst->TileDrawOffsetMasked(Rect(0, 0, 6, 1), *src, src->GetBoundsRect(), 3, 1, 256, 256, false,
                            false, *m, 255, 0, 0);
  EXPECT_EQ(tileRow(*dst, "AB"), "A..A..");
}

// FNV-1a over every pixel: pins a whole picture in one number.
uint64_t pictureHash(const TCustomDIBX& s) {
  uint64_t h = 1469598103934665603ull;
  for (int y = 0; y < s.Height(); ++y)
    for (int x = 0; x < s.Width(); ++x) h = (h ^ s.GetPixel(x, y)) * 1099511628211ull;
  return h;
}

struct SpacedTile {
  const char* what;
  TRect dest;
  int stepX, stepY, zoomX, zoomY;
  bool flipH, flipV;
  int alpha, scrollX, scrollY;
  uint64_t hash;  // of the 24x20 surface drawn on without a clip
};

// Overlapping, gapped, zoomed, mirrored, scrolled and blended copies, with
// tiles hanging over every edge of the surface.
const SpacedTile kSpacedTiles[] = {
    {"plain", Rect(2, 3, 21, 17), 5, 4, 256, 256, false, false, 255, 0, 0, 0x90d255863bb57623ull},
    {"overlap blended", Rect(-7, -5, 30, 25), 2, 3, 256, 256, false, false, 128, 3, -2,
     0x480b9c1d74d958b3ull},
    {"zoomed up, flipped", Rect(1, 0, 23, 19), 6, 5, 700, 333, true, true, 255, -11, 7,
     0x4864959de6a4d600ull},
    {"zoomed down, gaps", Rect(-3, 2, 40, 18), 9, 7, 90, 120, true, false, 200, 5, 5,
     0x883ea1f46fbbcc4bull},
    {"tiny zoom, additive", Rect(0, -9, 24, 30), 1, 1, 3, 5, false, true, 300, -1, 13,
     0x943dd8194f97ff83ull},
};

TEST(DIBXTile, SpacedCopiesArePinnedAndClipExactly) {
  auto src = pattern(4, 3);
  src->SetColorKey(int32_t(pat(1, 1)));
  for (const SpacedTile& c : kSpacedTiles) {
    auto draw = [&](TCustomDIBX& dst) {
      return dst.TileDrawOffset(c.dest, *src, src->GetBoundsRect(), c.stepX, c.stepY, c.zoomX,
                                c.zoomY, c.flipH, c.flipV, true, c.alpha, c.scrollX, c.scrollY);
    };
    auto full = solid(24, 20, kBg);
    EXPECT_TRUE(draw(*full)) << c.what;
    EXPECT_EQ(pictureHash(*full), c.hash) << c.what;
    // Through a clip rectangle: the same pixels inside, nothing outside.
    const TRect clips[] = {Rect(5, 4, 13, 11), Rect(0, 0, 1, 20), Rect(23, 19, 24, 20),
                           Rect(9, 0, 17, 20)};
    for (const TRect& clip : clips) {
      auto clipped = solid(24, 20, kBg);
      clipped->SetClipRect(clip);
      draw(*clipped);
      for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 24; ++x) {
          const bool inside = x >= clip.Left && x < clip.Right && y >= clip.Top && y < clip.Bottom;
          ASSERT_EQ(clipped->GetPixel(x, y), inside ? full->GetPixel(x, y) : kBg)
              << c.what << " clip " << clip.Left << "," << clip.Top << " at " << x << "," << y;
        }
    }
  }
}

TEST(DIBXTile, HugeSpacedTilesVisitOnlyWhatIsSeen) {
  // Tiles some 2^31 pixels across, at zooms that make billions of copies or
  // copies far apart; each must come back after drawing what the surface
  // shows (the test's time limit is the check).
  auto src = pattern(1, 1);
  struct Case {
    const char* what;
    TRect dest;
    int stepX, stepY, zoomX, zoomY, scrollX, scrollY;
    bool flip;
  } cases[] = {
      {"tiny zoom", Rect(INT32_MIN + 1, 0, INT32_MAX, 8), 1, 1, 1, 1, 0, 0, false},
      {"tiny zoom, mirrored", Rect(INT32_MIN + 1, -4, INT32_MAX - 1, 8), 1, 1, 1, 2, 77, -5, true},
      {"huge step, huge zoom", Rect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), INT32_MAX,
       INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX, false},
      {"huge step, tiny zoom", Rect(INT32_MIN, 0, INT32_MAX, 8), INT32_MAX, 1, 1, 1, INT32_MAX, 0,
       true},
  };
  for (const Case& c : cases) {
    auto dst = solid(16, 8, kBg);
    dst->TileDrawOffset(c.dest, *src, src->GetBoundsRect(), c.stepX, c.stepY, c.zoomX, c.zoomY,
                        c.flip, c.flip, false, 255, c.scrollX, c.scrollY);
    SUCCEED() << c.what;
  }
  // A picture a billion pixels wide under a huge zoom, one source pixel
  // apart: a billion blended copies over every pixel of the surface.
  auto wide = pattern(14, 15);
  auto blended = solid(22, 6, kBg);
  EXPECT_TRUE(blended->TileDrawOffset(Rect(0, -50331648, 63, 63), *wide,
                                      Rect(-989855744, -2303, 63, 0), 1, 63, 1392508928, 2037660020,
                                      true, true, true, 63, 0, -1536));
  // One pixel per 256 copies at zoom 1, step 1: every pixel is covered.
  auto dst = solid(16, 8, kBg);
  EXPECT_TRUE(dst->TileDrawOffset(Rect(INT32_MIN, 0, INT32_MAX, 8), *src, src->GetBoundsRect(), 1,
                                  1, 1, 256, false, false, false, 255, 0, 0));
  for (int x = 0; x < 16; ++x) EXPECT_EQ(dst->GetPixel(x, 3), pat(0, 0)) << x;
  // Two billion rows of tall copies at a tiny zoom, every one of them right
  // of the surface: the rows cost their visits even though nothing shows.
  EXPECT_FALSE(dst->TileDrawOffset(Rect(0, INT32_MIN, 16, INT32_MAX), *src,
                                   Rect(0, -1000000000, 1, 1000000000), INT32_MAX, 1, 256, 1, false,
                                   false, false, 255, -20, 0));
  // The surface's budget ends a tiling: one-pixel copies cost 1 + 16 each,
  // and the copy that passes three copies' worth is the last drawn.
  auto budgeted = solid(8, 1, kBg);
  budgeted->SpacedTileBudget = 3 * 17;
  EXPECT_TRUE(budgeted->TileDrawOffset(Rect(0, 0, 8, 1), *src, src->GetBoundsRect(), 1, 1, 256, 256,
                                       false, false, false, 255, 0, 0));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(budgeted->GetPixel(x, 0), x < 4 ? pat(0, 0) : kBg) << x;
}

TEST(DIBXRotate, QuarterTurnsAreExact) {
  // A 3x2 picture with its anchor at (1, 0) placed at (5, 5). Angle 64 is a
  // quarter turn clockwise on screen: offset (x, y) lands at (-y, x).
  auto src = pattern(3, 2);
  struct Case {
    int angle;
    int m[4];  // dest offset = (m0*x + m1*y, m2*x + m3*y)
  } cases[] = {{0, {1, 0, 0, 1}}, {64, {0, -1, 1, 0}}, {128, {-1, 0, 0, -1}}, {192, {0, 1, -1, 0}}};
  for (const Case& c : cases) {
    auto dst = solid(11, 11, kBg);
    dst->DrawRotateZoom(5, 5, *src, src->GetBoundsRect(), 1, 0, 256, 256, c.angle, false, false,
                        false, 255);
    int drawn = 0;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) {
        const int ox = x - 1, oy = y;
        const int dx = 5 + c.m[0] * ox + c.m[1] * oy, dy = 5 + c.m[2] * ox + c.m[3] * oy;
        EXPECT_EQ(dst->GetPixel(dx, dy), pat(x, y))
            << "angle " << c.angle << " pixel " << x << "," << y;
      }
    }
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 11; ++x) drawn += dst->GetPixel(x, y) != kBg;
    EXPECT_EQ(drawn, 6) << c.angle;
    // The bounds hold exactly the drawn pixels.
    const TRect b = RotateZoomBounds({5, 5}, {1, 0}, false, false, 3, 2, 256, 256, c.angle);
    EXPECT_EQ(b.Width() * b.Height(), 6) << c.angle;
    for (int y = b.Top; y < b.Bottom; ++y)
      for (int x = b.Left; x < b.Right; ++x) EXPECT_NE(dst->GetPixel(x, y), kBg) << c.angle;
  }
}

TEST(DIBXRotate, ZoomFlipsAndBoundsOfArbitraryAngles) {
  auto src = pattern(4, 3);
  // Zoom 2x without rotation: each pixel becomes a 2x2 block; the anchor
  // pixel's centre sits on (2, 2)'s centre, so its block reaches up-left.
  auto dst = solid(12, 12, kBg);
  dst->DrawRotateZoom(2, 2, *src, src->GetBoundsRect(), 0, 0, 512, 512, 256, false, false, false,
                      255);
  EXPECT_EQ(dst->GetPixel(1, 1), pat(0, 0));
  EXPECT_EQ(dst->GetPixel(2, 2), pat(0, 0));
  EXPECT_EQ(dst->GetPixel(3, 2), pat(1, 0));
  EXPECT_EQ(dst->GetPixel(4, 3), pat(1, 1));
  EXPECT_EQ(dst->GetPixel(0, 0), kBg);
  // A horizontal flip mirrors the picture around its (already mirrored) anchor.
  auto flipped = solid(12, 12, kBg);
  flipped->DrawRotateZoom(5, 5, *src, src->GetBoundsRect(), 0, 0, 256, 256, 0, true, false, false,
                          255);
  EXPECT_EQ(flipped->GetPixel(5, 5), pat(3, 0));
  EXPECT_EQ(flipped->GetPixel(8, 5), pat(0, 0));
  // Every pixel a rotated draw touches lies inside RotateZoomBounds.
  for (int angle : {13, 30, 100, 200}) {
    for (int zoom : {100, 256, 700}) {
      auto big = solid(64, 64, kBg);
      big->DrawRotateZoom(30, 30, *src, src->GetBoundsRect(), 1, 2, zoom, zoom + 50, angle, false,
                          true, false, 255);
      const TRect b =
          RotateZoomBounds({30, 30}, {1, 2}, false, false, 4, 3, zoom, zoom + 50, angle);
      int outside = 0, drawn = 0;
      for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
          if (big->GetPixel(x, y) == kBg) continue;
          ++drawn;
          outside += !b.Contains({x, y});
        }
      }
      EXPECT_GT(drawn, 0) << angle;
      EXPECT_EQ(outside, 0) << "angle " << angle << " zoom " << zoom;
    }
  }
  // A zero zoom draws nothing and does not divide by zero.
  EXPECT_FALSE(dst->DrawRotateZoom(2, 2, *src, src->GetBoundsRect(), 0, 0, 0, 256, 30, false, false,
                                   false, 255));
}

TEST(DIBXRotate, AnglesOfAnySizeWrapToOneTurn) {
  // Script angles are arbitrary integers: only the low byte counts.
  struct Case {
    int32_t angle, same;
  } cases[] = {{INT32_MAX, 255}, {INT32_MIN, 0}, {-1, 255}, {INT32_MAX - 63, 192}, {256 + 64, 64}};
  for (const Case& c : cases) {
    EXPECT_EQ(FixedSin(c.angle), FixedSin(c.same)) << c.angle;
    EXPECT_EQ(FixedCos(c.angle), FixedCos(c.same)) << c.angle;
  }
  EXPECT_EQ(FixedCos(INT32_MIN), 65536);
  EXPECT_EQ(FixedSin(INT32_MAX - 191), 65536);  // low byte 64: a quarter turn
}

TEST(DIBXRotate, ImageAlphaRangeAndMask) {
  auto src = solid(1, 1, 0x808080);
  struct Case {
    int alpha;
    uint32_t want;
  } cases[] = {
      {0, 0x101010}, {128, 0x484848}, {255, 0x808080}, {256 + 128, 0x505050}, {511, 0x8F8F8F}};
  for (const Case& c : cases) {
    auto dst = solid(3, 3, 0x101010);
    dst->DrawRotateZoom(1, 1, *src, src->GetBoundsRect(), 0, 0, 256, 256, 64, false, false, false,
                        c.alpha);
    EXPECT_EQ(dst->GetPixel(1, 1), c.want) << c.alpha;
  }
  auto m = mask8({{0}});
  auto dst = solid(3, 3, 0x101010);
  dst->DrawRotateZoomAlpha(1, 1, *src, src->GetBoundsRect(), 0, 0, 256, 256, 64, false, false, *m,
                           255);
  EXPECT_EQ(dst->GetPixel(1, 1), 0x101010u);
}

// ---- fills, frames, surface services -------------------------------------

TEST(DIBXFill, PlainFillsCoverExactlyTheRectangleAtEveryDepth) {
  for (const int32_t bits : {8, 16, 24, 32}) {
    for (int32_t width = 1; width <= 9; ++width) {
      TDIBX s(12, 4, bits);
      s.FillRect(s.GetBoundsRect(), 0);
      const uint32_t value = bits == 8 ? 0xA5 : bits == 16 ? 0x7BCD : 0xABCDEF;
      s.FillRect(Rect(2, 1, 2 + width, 3), value);
      for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
          const bool inside = x >= 2 && x < 2 + width && y >= 1 && y < 3;
          ASSERT_EQ(s.GetPixel(x, y), inside ? value : 0u)
              << bits << " bits, width " << width << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(DIBXFill, FillsAndFramesStayInsideAndNeverBlendTwice) {
  auto s = solid(6, 6, 0x404040);
  s->FillRectAdd(Rect(0, 0, 2, 1), 0xD0D0D0);
  s->FillRectSub(Rect(2, 0, 4, 1), 0x505050);
  s->FillRectAlpha(Rect(4, 0, 6, 1), 0xFFFFFF, 128);
  EXPECT_EQ(row(*s, 0), (std::vector<uint32_t>{0xFFFFFF, 0xFFFFFF, 0, 0, 0xA0A0A0, 0xA0A0A0}));
  // A frame of thickness 2 on 6x5: the ring is 2 wide, corners drawn once.
  auto f = solid(6, 5, 0x000000);
  f->FrameRectAlpha(Rect(0, 0, 6, 5), 2, 0xFFFFFF, 128);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const bool ring = x < 2 || x >= 4 || y < 2 || y >= 3;
      ASSERT_EQ(f->GetPixel(x, y), ring ? 0x808080u : 0u) << x << "," << y;
    }
  }
  // A frame thicker than half the rectangle fills it, still once per pixel.
  auto thick = solid(3, 3, 0x101010);
  thick->FrameRectAdd(Rect(0, 0, 3, 3), 5, 0x101010);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(row(*thick, y), std::vector<uint32_t>(3, 0x202020));
  // Fills respect the clip rectangle, which SetClipRect clamps to the bounds.
  auto c = solid(4, 1, 0);
  c->SetClipRect(Rect(-5, -5, 2, 9));
  EXPECT_EQ(c->GetClipRect(), Rect(0, 0, 2, 1));
  c->FillRect(c->GetBoundsRect(), 0x123456);
  EXPECT_EQ(row(*c, 0), (std::vector<uint32_t>{0x123456, 0x123456, 0, 0}));
  c->ResetClipRect();
  EXPECT_EQ(c->GetClipRect(), c->GetBoundsRect());
  // Without a clip of its own a surface resized by a frame writer draws everywhere.
  c->DIB().SetSize(8, 1, 32);
  c->FillRect(c->GetBoundsRect(), 0x654321);
  EXPECT_EQ(c->GetPixel(7, 0), 0x654321u);
}

TEST(DIBXFill, CoverageMasksWeighAFillAndEndWhereTheMaskEnds) {
  // Levels 0, 128, 255 of a 3 x 1 mask placed at (1, 0) of a 5 x 2 surface.
  auto m = mask8({{0, 128, 255}});
  struct Case {
    int32_t x, y, opacity, bits;
    std::vector<uint32_t> row0;
  } cases[] = {
      {1, 0, 255, 32, {0, 0, 0x808080, 0xFFFFFF, 0}},
      {1, 0, 128, 32, {0, 0, 0x404040, 0x808080, 0}},
      {-1, 0, 255, 32, {0x808080, 0xFFFFFF, 0, 0, 0}},  // cut at the left edge
      {5, 0, 255, 32, {0, 0, 0, 0, 0}},                 // wholly outside
      {1, 0, 255, 8, {0, 0, 0x80, 0xFF, 0}},            // an 8-bit coverage union
      {1, 1, 255, 32, {0, 0, 0, 0, 0}},                 // the second row only
  };
  for (const Case& c : cases) {
    auto s = solid(5, 2, 0, c.bits);
    EXPECT_EQ(s->FillMasked(c.x, c.y, m->Pixels(), c.bits == 8 ? 0xFF : 0xFFFFFF, c.opacity),
              c.x < 5);
    EXPECT_EQ(row(*s, 0), c.row0) << c.x << "," << c.y << " " << c.opacity;
  }
  // The clip holds a masked fill as it holds any other.
  auto s = solid(5, 1, 0);
  s->SetClipRect(Rect(0, 0, 3, 1));
  s->FillMasked(1, 0, m->Pixels(), 0xFFFFFF);
  EXPECT_EQ(row(*s, 0), (std::vector<uint32_t>{0, 0, 0x808080, 0, 0}));
  EXPECT_FALSE(s->FillMasked(0, 0, m->Pixels(), 0xFFFFFF, 0));
}

TEST(DIBXSurface, SizeKeyPixelsLockAndCopy) {
  TDIBX one;
  EXPECT_EQ(one.Width(), 1);
  EXPECT_EQ(one.Height(), 1);
  EXPECT_EQ(one.BitCount(), 32);
  EXPECT_EQ(one.ColorKey(), -1);
  one.Clear();
  EXPECT_TRUE(one.IsEmpty());
  EXPECT_EQ(one.Lock(0, 0), nullptr);

  TDIBX s15(3, 2, 15);
  EXPECT_EQ(s15.BitCount(), 15);
  EXPECT_EQ(s15.StorageBitCount(), 16);
  EXPECT_EQ(s15.Pitch(), 8);
  TDIBX s32(3, 2, 32);
  EXPECT_EQ(s32.Lock(2, 1), s32.Lock(0, 0) + s32.Pitch() + 8);

  struct Case {
    int bits;
    int32_t color, want;
  } cases[] = {
      {32, 0x00332211, 0x112233}, {32, -1, -1},          {16, 0x00FFFFFF, 0xFFFF},
      {15, 0x000000FF, 0x7C00},   {8, 0x00808080, 0x80},
  };
  for (const Case& c : cases) {
    TDIBX s(1, 1, c.bits);
    EXPECT_EQ(s.ColorToPixel(c.color), c.want) << c.bits;
  }

  // CopyFrom: a raw copy between twins, a draw otherwise, never a resize.
  auto a = pattern(3, 3), b = solid(3, 3, kBg), small = solid(2, 2, kBg);
  b->CopyFrom(*a);
  small->CopyFrom(*a);
  EXPECT_EQ(row(*b, 2), row(*a, 2));
  EXPECT_EQ(small->Width(), 2);
  EXPECT_EQ(row(*small, 1), (std::vector<uint32_t>{pat(0, 1), pat(1, 1)}));
  TDxDIBX dx(3, 3, 32);
  dx.CopyFrom(*a);
  EXPECT_EQ(dx.GetPixel(2, 2), pat(2, 2));
  // Pixels outside read 0 and ignore writes.
  EXPECT_EQ(a->GetPixel(-1, 0), 0u);
  a->SetPixel(3, 0, 1);
}

TEST(DIBXSurface, KeyedLowDepthPicturesKeepTheirKeyOnADisplaySurface) {
  // A 15/16-bit or palette picture with a key pixel, copied through a device
  // context onto a 32-bit surface whose key is the key colour converted:
  // every key pixel must equal the surface's key.
  for (int bits : {8, 15, 16}) {
    TDIBX pic(4, 1, bits);
    if (bits == 8) {
      pic.DIB().ColorTable()[7] = {0x13, 0x57, 0x9B, 0};
      pic.DIB().UpdatePalette();
    }
    const uint32_t keyValue = bits == 8 ? 7 : bits == 15 ? 0x1234 : 0xA5C3;
    for (int x = 0; x < 4; ++x) pic.SetPixel(x, 0, x % 2 ? keyValue : 0);
    const uint32_t keyColor = pic.DIB().GetCanvas().GetPixel(1, 0);
    TDIBX display(4, 1, 32);
    platform::HDC dc = display.GetDC();
    platform::StretchDIBits(dc, 0, 0, 4, 1, 0, 0, 4, 1, pic.Pixels(), platform::SRCCOPY);
    display.ReleaseDC();
    display.SetColorKey(display.ColorToPixel(int32_t(keyColor)));
    EXPECT_EQ(display.GetPixel(1, 0), uint32_t(display.ColorKey())) << bits;
    EXPECT_EQ(display.GetPixel(3, 0), uint32_t(display.ColorKey())) << bits;
    EXPECT_NE(display.GetPixel(0, 0), uint32_t(display.ColorKey())) << bits;
  }
}

TEST(DIBXSurface, MasksAndLowDepthSurfacesDrawThroughTheSameKernels) {
  // 8-bit masks copy and blend as levels.
  auto m = mask8({{0, 100, 200}});
  auto out = std::make_unique<TDIBX>(3, 1, 8);
  out->FillRect(out->GetBoundsRect(), 50);
  out->DrawAlpha(0, 0, *m, m->GetBoundsRect(), false, false, false, 128);
  EXPECT_EQ(out->GetPixel(0, 0), 25u);
  EXPECT_EQ(out->GetPixel(2, 0), 125u);
  // 16-bit surfaces blend in 8-bit channels and pack back.
  TDIBX s16(1, 1, 16), w16(1, 1, 16);
  s16.FillRect(s16.GetBoundsRect(), 0xFFFF);
  w16.FillRect(w16.GetBoundsRect(), 0x0000);
  w16.DrawAlpha(0, 0, s16, s16.GetBoundsRect(), false, false, false, 128);
  EXPECT_EQ(w16.GetPixel(0, 0), 0x8410u);  // (128, 128, 128) packed 5-6-5
  // A 32-bit picture onto a 24-bit surface converts.
  TDIBX s24(2, 1, 24);
  auto p = pattern(2, 1);
  s24.Draw(0, 0, *p, p->GetBoundsRect(), false, false, false);
  EXPECT_EQ(s24.GetPixel(1, 0), pat(1, 0));
}

TEST(DIBXDraw, DrawingASurfaceOntoItselfReadsTheOriginalPixels) {
  // Scrolling a picture inside itself, forwards and mirrored.
  auto s = pattern(5, 1);
  s->Draw(1, 0, *s, Rect(0, 0, 4, 1), false, false, false);
  EXPECT_EQ(row(*s, 0),
            (std::vector<uint32_t>{pat(0, 0), pat(0, 0), pat(1, 0), pat(2, 0), pat(3, 0)}));
  auto m = pattern(4, 1);
  m->Draw(0, 0, *m, m->GetBoundsRect(), true, false, false);
  EXPECT_EQ(row(*m, 0), (std::vector<uint32_t>{pat(3, 0), pat(2, 0), pat(1, 0), pat(0, 0)}));
}

TEST(DIBXTile, EveryTileFrontEndAppliesItsOperation) {
  // A 1x1 grey picture tiled over 0x202020 with a half mask.
  auto src = solid(1, 1, 0x808080);
  auto m = mask8({{128}});
  const TRect area = Rect(0, 0, 3, 2), b = src->GetBoundsRect();
  struct Case {
    const char* what;
    std::function<bool(TCustomDIBX&)> draw;
    uint32_t want;
  } cases[] = {
      {"TileDraw",
       [&](TCustomDIBX& d) { return d.TileDraw(area, *src, b, 0, 0, false, false, false); },
       0x808080},
      {"TileDrawAlpha 128",
       [&](TCustomDIBX& d) {
         return d.TileDrawAlpha(area, *src, b, 0, 0, false, false, false, 128);
       },
       0x505050},
      {"TileDrawAdd 128",
       [&](TCustomDIBX& d) { return d.TileDrawAdd(area, *src, b, 0, 0, false, false, false, 128); },
       0x606060},
      {"TileDrawMasked",
       [&](TCustomDIBX& d) { return d.TileDrawMasked(area, *src, b, 0, 0, false, false, *m); },
       0x505050},
      {"TileDrawAlphaMasked 128",
       [&](TCustomDIBX& d) {
         return d.TileDrawAlphaMasked(area, *src, b, 0, 0, false, false, *m, 128);
       },
       0x383838},
      {"TileDrawAddMasked 255",
       [&](TCustomDIBX& d) {
         return d.TileDrawAddMasked(area, *src, b, 0, 0, false, false, *m, 255);
       },
       0x606060},
      {"TileDrawZoom alpha 384",
       [&](TCustomDIBX& d) {
         return d.TileDrawZoom(area, *src, b, 256, 256, false, false, false, 384, 0, 0);
       },
       0x606060},
      {"TileDrawZoomMasked alpha 255",
       [&](TCustomDIBX& d) {
         return d.TileDrawZoomMasked(area, *src, b, 256, 256, false, false, *m, 255, 0, 0);
       },
       0x505050},
      {"TileDrawOffset alpha 128",
       [&](TCustomDIBX& d) {
         return d.TileDrawOffset(area, *src, b, 1, 1, 256, 256, false, false, false, 128, 0, 0);
       },
       0x505050},
      {"TileDrawFast",
       [&](TCustomDIBX& d) { return d.TileDrawFast(area, *src, false, false, 5, 5); }, 0x808080},
      {"FrameRect", [&](TCustomDIBX& d) { return d.FrameRect(area, 1, 0x808080); }, 0x808080},
      {"FrameRectAdd", [&](TCustomDIBX& d) { return d.FrameRectAdd(area, 1, 0x101010); }, 0x303030},
  };
  for (const Case& c : cases) {
    auto dst = solid(3, 2, 0x202020);
    EXPECT_TRUE(c.draw(*dst)) << c.what;
    for (int y = 0; y < 2; ++y) EXPECT_EQ(row(*dst, y), std::vector<uint32_t>(3, c.want)) << c.what;
  }
  // Opacity 0 and a zero zoom draw nothing.
  auto dst = solid(3, 2, 0x202020);
  EXPECT_FALSE(dst->TileDrawAlpha(area, *src, b, 0, 0, false, false, false, 0));
  EXPECT_FALSE(dst->TileDrawZoom(area, *src, b, 0, 256, false, false, false, 255, 0, 0));
  EXPECT_EQ(row(*dst, 0), std::vector<uint32_t>(3, 0x202020));
}

TEST(DIBXSurface, DeviceContextWritesIntoTheSurface) {
  TDIBX a(4, 2, 32), b(4, 2, 32);
  a.FillRect(a.GetBoundsRect(), 0x00F0F0F0);
  b.FillRect(b.GetBoundsRect(), 0x000F0FFF);
  ASSERT_TRUE(platform::BitBlt(b.GetDC(), 1, 0, 2, 2, a.GetDC(), 0, 0, platform::SRCAND));
  a.ReleaseDC();
  b.ReleaseDC();
  EXPECT_EQ(row(b, 1), (std::vector<uint32_t>{0x0F0FFF, 0x0000F0, 0x0000F0, 0x0F0FFF}));
  // After a resize the next GetDC sees the new rows.
  b.SetSize(8, 1, 32);
  ASSERT_TRUE(platform::PatBlt(b.GetDC(), 0, 0, 8, 1, platform::WHITENESS));
  EXPECT_EQ(b.GetPixel(7, 0), 0xFFFFFFu);
}

}  // namespace
}  // namespace zirk
