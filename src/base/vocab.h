#pragma once
// The script vocabulary ids shared by the scene objects, the script engine
// and the films: property ids (PR_), object kinds (LT_), transitions (WP_),
// mouse transparency (IM_), easing (MT_), particle motions (PM_) and font
// style bits (FS_).
//
// Each list entry is (name, number, origin): origin G means the number is
// the game format's own (scripts, saves and film files carry it), A means
// the number was assigned here to a name whose number no game data fixes;
// an A number is free to change as long as it stays unique and in range.

#include <cstdint>

namespace zirk {

// Property ids 0..161; an id above 161 is an error of the property access.
#define ZIRK_PROPERTY_IDS(X)        \
  X(PR_NAME, 0, G)                  \
  X(PR_PARENT, 1, A)                \
  X(PR_SOURCE, 2, G)                \
  X(PR_LEFT, 3, G)                  \
  X(PR_TOP, 4, G)                   \
  X(PR_WIDTH, 5, G)                 \
  X(PR_HEIGHT, 6, G)                \
  X(PR_ZOOMX, 7, G)                 \
  X(PR_ANGLE, 8, A)                 \
  X(PR_FLIPH, 9, A)                 \
  X(PR_FLIPV, 10, A)                \
  X(PR_ALPHA, 11, G)                \
  X(PR_COLOR, 12, A)                \
  X(PR_OFFSETX, 13, G)              \
  X(PR_OFFSETY, 14, G)              \
  X(PR_PRIORITY, 15, A)             \
  X(PR_CLIPLEFT, 16, A)             \
  X(PR_CLIPTOP, 17, A)              \
  X(PR_CLIPWIDTH, 18, A)            \
  X(PR_CLIPHEIGHT, 19, A)           \
  X(PR_CAPTUREMASK, 20, A)          \
  X(PR_IGNOREMOUSE, 21, A)          \
  X(PR_POSZOOMED, 22, A)            \
  X(PR_BRIGHTNESS, 23, A)           \
  X(PR_SCROLLX, 24, A)              \
  X(PR_SCROLLY, 25, A)              \
  X(PR_DELAY, 26, G)                \
  X(PR_PAUSED, 27, G)               \
  X(PR_VOLUME, 28, G)               \
  X(PR_REPEAT, 29, G)               \
  X(PR_BALANCE, 30, G)              \
  X(PR_DISTANCEX, 31, A)            \
  X(PR_DISTANCEY, 32, A)            \
  X(PR_ONNOTIFY, 33, G)             \
  X(PR_ONLBTNDOWN, 34, A)           \
  X(PR_ONLBTNUP, 35, A)             \
  X(PR_ONMOUSEMOVE, 36, A)          \
  X(PR_ONMOUSEOUT, 37, A)           \
  X(PR_ONKEYREPEAT, 38, A)          \
  X(PR_HOVERSOURCE, 39, A)          \
  X(PR_PRESSEDSOURCE, 40, A)        \
  X(PR_CLICKEDSOURCE, 41, A)        \
  X(PR_MAPSOURCE, 42, A)            \
  X(PR_ONPLAYEND, 43, G)            \
  X(PR_INDEX, 44, G)                \
  X(PR_COUNT, 45, G)                \
  X(PR_CURSOR, 46, A)               \
  X(PR_VISIBLE, 47, G)              \
  X(PR_APPEARX, 48, A)              \
  X(PR_APPEARY, 49, A)              \
  X(PR_TEXT, 50, G)                 \
  X(PR_FONTNAME, 51, A)             \
  X(PR_FONTHEIGHT, 52, A)           \
  X(PR_FONTCOLOR, 53, A)            \
  X(PR_FONTSTYLE, 54, A)            \
  X(PR_LINESPACE, 55, A)            \
  X(PR_ANTIALIAS, 56, A)            \
  X(PR_HALIGN, 57, A)               \
  X(PR_FONTSHADOW, 58, A)           \
  X(PR_FONTSHADOWCOLOR, 59, A)      \
  X(PR_FONTBORDER, 60, A)           \
  X(PR_FONTBORDERCOLOR, 61, A)      \
  X(PR_HOVERCOLOR, 62, A)           \
  X(PR_FONTHOVERCOLOR, 63, A)       \
  X(PR_FONTHOVERSTYLE, 64, A)       \
  X(PR_FONTHOVERSHADOW, 65, A)      \
  X(PR_FONTHOVERSHADOWCOLOR, 66, A) \
  X(PR_FONTHOVERBORDER, 67, A)      \
  X(PR_FONTHOVERBORDERCOLOR, 68, A) \
  X(PR_BORDERWIDTH, 69, A)          \
  X(PR_BORDERCOLOR, 70, A)          \
  X(PR_AUTOSCRAP, 71, G)            \
  X(PR_ONSELECT, 72, G)             \
  X(PR_RCLICKSCRAP, 73, G)          \
  X(PR_ONOPENING, 74, G)            \
  X(PR_ONOPENED, 75, G)             \
  X(PR_ONCLOSING, 76, G)            \
  X(PR_ONCLOSED, 77, G)             \
  X(PR_ROWCOUNT, 78, A)             \
  X(PR_TOPINDEX, 79, A)             \
  X(PR_MARGINX, 80, A)              \
  X(PR_MARGINY, 81, A)              \
  X(PR_HANDLEKEY, 82, A)            \
  X(PR_SELECTED, 83, A)             \
  X(PR_GROUPINDEX, 84, A)           \
  X(PR_ALLOWALLUP, 85, A)           \
  X(PR_CHECKSOURCE, 86, A)          \
  X(PR_SCROLLSOURCE, 87, A)         \
  X(PR_BUTTONSOURCE, 88, A)         \
  X(PR_POWER, 89, G)                \
  X(PR_ORIGWIDTH, 90, G)            \
  X(PR_ORIGHEIGHT, 91, G)           \
  X(PR_PARAM, 92, A)                \
  X(PR_PARTMOTION, 94, G)           \
  X(PR_PARAM1, 95, G)               \
  X(PR_PARAM2, 96, G)               \
  X(PR_MIN, 97, A)                  \
  X(PR_MAX, 98, A)                  \
  X(PR_VALUE, 99, A)                \
  X(PR_SMALLCHANGE, 100, A)         \
  X(PR_LARGECHANGE, 101, A)         \
  X(PR_PARAM3, 102, G)              \
  X(PR_ORIENTATION, 103, A)         \
  X(PR_ONMAPIN, 104, G)             \
  X(PR_ONMAPOUT, 105, G)            \
  X(PR_THUMBSOURCE, 106, A)         \
  X(PR_AMP, 107, G)                 \
  X(PR_WAVELEN, 108, G)             \
  X(PR_BARSIZE, 109, A)             \
  X(PR_REVERSE, 110, A)             \
  X(PR_ONIDLE, 113, G)              \
  X(PR_DURATION, 120, G)            \
  X(PR_BORDERSOURCETL, 121, A)      \
  X(PR_BORDERSOURCET, 122, A)       \
  X(PR_BORDERSOURCETR, 123, A)      \
  X(PR_BORDERSOURCEL, 124, A)       \
  X(PR_BORDERSOURCEC, 125, A)       \
  X(PR_BORDERSOURCER, 126, A)       \
  X(PR_BORDERSOURCEBL, 127, A)      \
  X(PR_BORDERSOURCEB, 128, A)       \
  X(PR_BORDERSOURCEBR, 129, A)      \
  X(PR_BORDERHALIGNT, 130, A)       \
  X(PR_BORDERHALIGNC, 131, A)       \
  X(PR_ZOOMY, 132, G)               \
  X(PR_BORDERHALIGNB, 133, A)       \
  X(PR_ANIPAUSED, 134, G)           \
  X(PR_ONHOLD, 135, G)              \
  X(PR_ONRELEASE, 136, G)           \
  X(PR_PLAYING, 138, G)             \
  X(PR_REWINDONLOAD, 139, G)        \
  X(PR_COMPOTYPE, 140, G)           \
  X(PR_BORDERVALIGNL, 141, A)       \
  X(PR_BORDERVALIGNC, 142, A)       \
  X(PR_BORDERVALIGNR, 143, A)       \
  X(PR_OVERLAY, 150, G)             \
  X(PR_MUTEONLOAD, 158, G)          \
  X(PR_PLUSX, 159, G)               \
  X(PR_PLUSY, 160, G)               \
  X(PR_CARETHEIGHT, 161, G)

// Scene-object kinds 0..27. The kinds 1, 5, 9, 10, 11, 13 and 24 have no
// name in this program.
#define ZIRK_OBJECT_KINDS(X) \
  X(LT_NONE, 0, G)           \
  X(LT_BOX, 2, G)            \
  X(LT_BUTTON, 3, G)         \
  X(LT_CINEMA, 4, G)         \
  X(LT_FIRE, 6, G)           \
  X(LT_HTTP, 7, G)           \
  X(LT_IMAGES, 8, G)         \
  X(LT_MENU, 12, G)          \
  X(LT_PARTICLE, 14, G)      \
  X(LT_TIMER, 15, G)         \
  X(LT_VIDEO, 16, G)         \
  X(LT_SOUND, 17, G)         \
  X(LT_MAPIMG, 18, G)        \
  X(LT_WAVE, 19, G)          \
  X(LT_TILE, 20, G)          \
  X(LT_SLIDER, 21, G)        \
  X(LT_SCROLLBAR, 22, G)     \
  X(LT_GAUGE, 23, G)         \
  X(LT_PREVMENU, 25, G)      \
  X(LT_PROPMOTION, 26, G)    \
  X(LT_CABINET, 27, G)

// Transition ids 0..38: none and 38 effects; the effects are known to this
// program by number only.
#define ZIRK_TRANSITION_IDS(X) \
  X(WP_NONE, 0, G)             \
  X(WP_BLOCKRANDOM, 38, G)

// Mouse transparency of a control (PR_IGNOREMOUSE).
#define ZIRK_MOUSE_MODES(X) \
  X(IM_NONE, 0, G)          \
  X(IM_ALL, 1, G)           \
  X(IM_CLICK, 2, G)         \
  X(IM_LCLICK, 3, G)        \
  X(IM_RCLICK, 4, G)

// Easing of film and motion tracks (TMotionType).
#define ZIRK_MOTION_TYPES(X) \
  X(MT_NORMAL, 0, G)         \
  X(MT_INC, 1, G)            \
  X(MT_DEC, 2, G)

// Particle motions (TParticleMode, PR_PARTMOTION).
#define ZIRK_PARTICLE_MODES(X) \
  X(PM_NONE, 0, G)             \
  X(PM_SNOW, 1, G)             \
  X(PM_STAR, 2, G)             \
  X(PM_FLUFF, 3, G)            \
  X(PM_TWISTER, 4, G)

// Font style bits of a PR_FONTSTYLE byte (the platform's font style set,
// one bit per style in the set's order: bold, italic, underline, strike-out).
#define ZIRK_FONT_STYLES(X) \
  X(FS_BOLD, 1, A)          \
  X(FS_ITALIC, 2, A)        \
  X(FS_UNDERLINE, 4, A)     \
  X(FS_STRIKEOUT, 8, A)

#define ZIRK_VOCAB_CONSTANT(name, value, origin) inline constexpr int32_t name = value;
ZIRK_PROPERTY_IDS(ZIRK_VOCAB_CONSTANT)
ZIRK_OBJECT_KINDS(ZIRK_VOCAB_CONSTANT)
ZIRK_TRANSITION_IDS(ZIRK_VOCAB_CONSTANT)
ZIRK_MOUSE_MODES(ZIRK_VOCAB_CONSTANT)
ZIRK_MOTION_TYPES(ZIRK_VOCAB_CONSTANT)
ZIRK_PARTICLE_MODES(ZIRK_VOCAB_CONSTANT)
ZIRK_FONT_STYLES(ZIRK_VOCAB_CONSTANT)
#undef ZIRK_VOCAB_CONSTANT

inline constexpr int32_t kPropertyCount = 162;   // PR_NAME .. PR_CARETHEIGHT
inline constexpr int32_t kObjectKindCount = 28;  // LT_NONE .. LT_CABINET
inline constexpr int32_t kTransitionCount = 39;  // WP_NONE .. WP_BLOCKRANDOM

// Names for diagnostics: "PR_LEFT" for 3; an empty string for a number
// without a name.
const char* PropertyName(int32_t id);
const char* ObjectKindName(int32_t kind);
// The property id of a name (exact, upper case), -1 when there is none.
int32_t PropertyIdOf(const char* name);

}  // namespace zirk
