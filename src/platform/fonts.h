#pragma once
// Glyph masks by face name, cell height, style and smoothing level: the
// stand-in for the platform's glyph outlines. Faces are found by name with
// fontconfig and drawn with FreeType; a face name that is not installed
// (the usual Windows Japanese faces among them) is served by the Japanese
// face every player machine has (IPA Gothic), so game text always shows;
// a machine without it draws text in fontconfig's best scalable face for
// Japanese, and one with no scalable face at all says so once on stderr.
//
// Heights are cell heights, as the game data gives them: ascent plus
// descent is the height asked for, so a line of text is exactly that many
// pixels high whatever the face. Masks are 8-bit coverage levels (0..255).
// A face that is installed but has no outlines to draw (bitmap fonts,
// colour emoji) is served as one that is not installed.
// The service caches faces, glyph masks (up to a budget of bytes) and,
// apart from them, glyph metrics, so text is measured without drawing it;
// it is the program's one glyph-mask cache and may be called from any
// thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi.h"

namespace zirk::platform {

// Style bits, in the order of the platform's font style set.
inline constexpr uint8_t kFontBold = 1;
inline constexpr uint8_t kFontItalic = 2;
inline constexpr uint8_t kFontUnderline = 4;
inline constexpr uint8_t kFontStrikeOut = 8;

struct TFontSpec {
  std::string Face;     // UTF-8; empty = the Japanese face
  int32_t Height = 12;  // cell height in pixels, at least 1
  uint8_t Style = 0;    // kFont... bits
  // 0: two levels (0 and 255); 1, 2, 3: 5, 17 and 65 levels.
  int32_t Smoothing = 0;
};

// Where the lines of a cell lie, in pixels from the cell's top.
struct TFontMetrics {
  int32_t Height = 0;  // the cell height
  int32_t Ascent = 0;  // baseline
  int32_t UnderlineTop = 0, UnderlineHeight = 1;
  int32_t StrikeOutTop = 0, StrikeOutHeight = 1;
};

struct TGlyph {
  // The mask's top-left corner relative to the pen position on the cell's
  // top; the pen moves on by Advance.
  int32_t Left = 0, Top = 0;
  int32_t Advance = 0;
  int32_t Width = 0, Height = 0;
  std::vector<uint8_t> Levels;  // Width levels per row
  // The levels as an 8-bit buffer (empty for a glyph without ink).
  PixelBuffer Mask() const;
};

// A glyph as layout measures it, without its mask.
struct TGlyphMetrics {
  int32_t Advance = 0;  // as the glyph's
  // No column of the glyph's mask lies further right of the pen than this
  // (the mask may end short of it).
  int32_t InkRight = 0;
};

class TFontService {
 public:
  // Faces as fontconfig offers them to the program, or, given a fontconfig
  // configuration file, only those that file names (a machine of a test's
  // own).
  explicit TFontService(const std::string& configFile = {});
  ~TFontService();
  TFontService(const TFontService&) = delete;
  TFontService& operator=(const TFontService&) = delete;

  TFontMetrics Metrics(const TFontSpec& spec);
  // The glyph of a character; never null (a character the face lacks gives
  // the face's missing-glyph shape).
  std::shared_ptr<const TGlyph> Glyph(const TFontSpec& spec, char32_t code);
  // The metrics of each character of a text, from the glyphs' outlines.
  std::vector<TGlyphMetrics> Measure(const TFontSpec& spec, std::u32string_view text);
  // Bytes the cached masks and metrics hold.
  size_t CachedBytes();
  // Glyph outlines loaded so far, to draw or to measure: the work the
  // caches spare.
  uint64_t OutlinesLoaded();
  // The font file a face name is served from ("" when no font is installed).
  std::string FaceFile(const std::string& face);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The program-wide glyph-mask cache.
TFontService& Fonts();

// Shift-JIS (code page 932) text as characters; a byte sequence the code
// page does not hold becomes '?' for its first byte and decoding goes on.
std::u32string DecodeCP932(std::string_view text);

}  // namespace zirk::platform
