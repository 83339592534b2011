#include "base/vocab.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace zirk {
namespace {

TEST(Vocab, NumbersFixedByGameData) {
  // Scripts, saves and films carry these numbers.
  const std::pair<int32_t, int32_t> fixed[] = {
      {PR_NAME, 0},
      {PR_SOURCE, 2},
      {PR_LEFT, 3},
      {PR_TOP, 4},
      {PR_WIDTH, 5},
      {PR_HEIGHT, 6},
      {PR_ZOOMX, 7},
      {PR_ALPHA, 11},
      {PR_OFFSETX, 13},
      {PR_OFFSETY, 14},
      {PR_DELAY, 26},
      {PR_PAUSED, 27},
      {PR_VOLUME, 28},
      {PR_REPEAT, 29},
      {PR_BALANCE, 30},
      {PR_ONNOTIFY, 33},
      {PR_ONPLAYEND, 43},
      {PR_INDEX, 44},
      {PR_COUNT, 45},
      {PR_VISIBLE, 47},
      {PR_TEXT, 50},
      {PR_AUTOSCRAP, 71},
      {PR_ONSELECT, 72},
      {PR_RCLICKSCRAP, 73},
      {PR_ONOPENING, 74},
      {PR_ONOPENED, 75},
      {PR_ONCLOSING, 76},
      {PR_ONCLOSED, 77},
      {PR_POWER, 89},
      {PR_ORIGWIDTH, 90},
      {PR_ORIGHEIGHT, 91},
      {PR_PARTMOTION, 94},
      {PR_PARAM1, 95},
      {PR_PARAM2, 96},
      {PR_PARAM3, 102},
      {PR_ONMAPIN, 104},
      {PR_ONMAPOUT, 105},
      {PR_AMP, 107},
      {PR_WAVELEN, 108},
      {PR_ONIDLE, 113},
      {PR_DURATION, 120},
      {PR_ZOOMY, 132},
      {PR_ANIPAUSED, 134},
      {PR_ONHOLD, 135},
      {PR_ONRELEASE, 136},
      {PR_PLAYING, 138},
      {PR_REWINDONLOAD, 139},
      {PR_COMPOTYPE, 140},
      {PR_OVERLAY, 150},
      {PR_MUTEONLOAD, 158},
      {PR_PLUSX, 159},
      {PR_PLUSY, 160},
      {PR_CARETHEIGHT, 161},
      {LT_NONE, 0},
      {LT_BOX, 2},
      {LT_BUTTON, 3},
      {LT_CINEMA, 4},
      {LT_FIRE, 6},
      {LT_HTTP, 7},
      {LT_IMAGES, 8},
      {LT_MENU, 12},
      {LT_PARTICLE, 14},
      {LT_TIMER, 15},
      {LT_VIDEO, 16},
      {LT_SOUND, 17},
      {LT_MAPIMG, 18},
      {LT_WAVE, 19},
      {LT_TILE, 20},
      {LT_SLIDER, 21},
      {LT_SCROLLBAR, 22},
      {LT_GAUGE, 23},
      {LT_PREVMENU, 25},
      {LT_PROPMOTION, 26},
      {LT_CABINET, 27},
      {WP_NONE, 0},
      {WP_BLOCKRANDOM, 38},
      {IM_NONE, 0},
      {IM_ALL, 1},
      {IM_CLICK, 2},
      {IM_LCLICK, 3},
      {IM_RCLICK, 4},
      {MT_NORMAL, 0},
      {MT_INC, 1},
      {MT_DEC, 2},
      {PM_NONE, 0},
      {PM_SNOW, 1},
      {PM_STAR, 2},
      {PM_FLUFF, 3},
      {PM_TWISTER, 4},
  };
  for (const auto& [value, expect] : fixed) EXPECT_EQ(value, expect);
}

TEST(Vocab, PropertyNamesAreUniqueAndRoundTrip) {
  std::set<std::string> names;
  int named = 0;
  for (int32_t id = 0; id < kPropertyCount; ++id) {
    std::string name = PropertyName(id);
    if (name.empty()) continue;
    ++named;
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(PropertyIdOf(name.c_str()), id) << name;
  }
  EXPECT_GE(named, 139);
  EXPECT_STREQ(PropertyName(PR_LEFT), "PR_LEFT");
  EXPECT_STREQ(PropertyName(162), "");
  EXPECT_EQ(PropertyIdOf("PR_NOSUCH"), -1);
  EXPECT_STREQ(ObjectKindName(LT_MENU), "LT_MENU");
  // The nine border cells are one run of ids, addressed as the first + cell.
  EXPECT_EQ(PR_BORDERSOURCEBR - PR_BORDERSOURCETL, 8);
}

}  // namespace
}  // namespace zirk
