#include "platform/fonts.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <iconv.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace zirk::platform {

namespace {

// Windows Japanese faces games name; the proportional ones get the
// proportional Japanese face.
constexpr const char* kFixedJapanese = "IPAGothic";
constexpr const char* kProportionalJapanese = "IPAPGothic";
constexpr const char* kProportionalNames[] = {
    "ＭＳ Ｐゴシック", "MS PGothic", "ＭＳ Ｐ明朝", "MS PMincho",
    "MS UI Gothic",    "メイリオ",   "Meiryo",
};

// Bytes of glyph masks kept before the cache starts again: a game's text,
// a few thousand glyphs at 24 to 48 pixels, stays cached whole, while a
// caption at the largest height keeps a few dozen of its glyphs, each of a
// megabyte or more.
constexpr size_t kGlyphCacheBytes = size_t{64} << 20;
// What a cached mask costs besides its levels: its entry, record and key.
constexpr size_t kGlyphEntryBytes = 256;
// Glyph metrics kept; past them the least used make room. What one costs:
// its list node and its index entry.
constexpr size_t kMaxMetrics = size_t{1} << 16;
constexpr size_t kMetricsEntryBytes = 96;
// Columns the renderers may round a glyph's ink out by past its outline.
constexpr int32_t kInkSlack = 1;
// Heights beyond this draw nothing useful and cost a lot of memory.
constexpr int32_t kMaxHeight = 1024;
// The slant of a synthesized italic: tan 12 degrees in 16.16.
constexpr FT_Fixed kObliqueShear = 0x0366A;

struct FaceEntry {
  std::string file;
  int index = 0;
  uint64_t id = 0;  // the face's number in the glyph keys
};

struct LoadedFace {
  FT_Face face = nullptr;
  // Ascent and descent of the cell in font units.
  int32_t ascent = 0, descent = 0;
};

// A glyph's key: the face, cell height, style, smoothing and character,
// packed (code points past Unicode's last one are all missing alike).
using GlyphKey = uint64_t;
constexpr char32_t kPastUnicode = 0x110000;

int32_t clampHeight(int32_t h) {
  return std::clamp(h, 1, kMaxHeight);
}

int32_t levelsOf(int32_t smoothing) {
  switch (smoothing) {
    case 1:
      return 5;
    case 2:
      return 17;
    default:
      return 65;
  }
}

}  // namespace

PixelBuffer TGlyph::Mask() const {
  PixelBuffer b;
  if (Width <= 0 || Height <= 0 || Levels.empty()) return b;
  b.bits = const_cast<uint8_t*>(Levels.data());
  b.pitch = Width;
  b.width = Width;
  b.height = Height;
  b.bitCount = 8;
  return b;
}

struct TFontService::Impl {
  // A spec as the caches see it: the face that serves it, its cell height,
  // the styles drawn by hand and the smoothing, each within its range.
  struct Cell {
    FaceEntry entry;
    int32_t height = 1;
    uint8_t style = 0;
    int32_t smoothing = 0;
    GlyphKey key(char32_t code) const {
      return entry.id << 36 | uint64_t(height) << 25 | uint64_t(style) << 23 |
             uint64_t(smoothing) << 21 | std::min(code, kPastUnicode);
    }
  };

  std::mutex lock;
  FcConfig* config = nullptr;  // null: fontconfig's own, the program's
  FT_Library library = nullptr;
  std::map<std::string, FaceEntry> faceNames;
  std::map<std::string, LoadedFace> faces;  // by file + index
  std::map<std::string, uint64_t> faceIds;  // by file + index
  std::unordered_map<GlyphKey, std::shared_ptr<const TGlyph>> glyphs;
  size_t glyphBytes = 0;  // what the masks kept hold
  // Most recently used first.
  using MetricsList = std::list<std::pair<GlyphKey, TGlyphMetrics>>;
  MetricsList metricsOrder;
  std::unordered_map<GlyphKey, MetricsList::iterator> glyphMetrics;
  uint64_t outlinesLoaded = 0;
  // The face text falls back to when no Japanese stand-in is installed.
  std::optional<FaceEntry> textFace;

  explicit Impl(const std::string& configFile) {
    if (configFile.empty()) return;
    config = FcConfigCreate();
    // A configuration that does not read offers no faces.
    if (config && FcConfigParseAndLoad(config, toFc(configFile), FcTrue))
      FcConfigBuildFonts(config);
  }

  ~Impl() {
    for (auto& [key, f] : faces)
      if (f.face) FT_Done_Face(f.face);
    if (library) FT_Done_FreeType(library);
    if (config) {
      FcConfigDestroy(config);
    } else {
      FcFini();
    }
  }

  static const FcChar8* toFc(const std::string& s) {
    return reinterpret_cast<const FcChar8*>(s.c_str());
  }

  static std::string faceKey(const FaceEntry& entry) {
    return entry.file + '\n' + std::to_string(entry.index);
  }

  // fontconfig's best match for a family, and whether it really has that
  // family (fontconfig always answers with something).
  bool match(const std::string& family, FaceEntry& out) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, toFc(family));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    if (!found) return false;
    bool same = false;
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(found, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
      if (strcasecmp(reinterpret_cast<const char*>(name), family.c_str()) == 0) same = true;
    }
    FcChar8* file = nullptr;
    int index = 0;
    if (same && FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch) {
      out.file = reinterpret_cast<const char*>(file);
      if (FcPatternGetInteger(found, FC_INDEX, 0, &index) == FcResultMatch) out.index = index;
    } else {
      same = false;
    }
    FcPatternDestroy(found);
    return same;
  }

  // An installed family with outlines to draw.
  bool usable(const std::string& family, FaceEntry& out) {
    out = {};
    if (match(family, out) && load(out)) return true;
    out = {};
    return false;
  }

  FaceEntry resolve(const std::string& face) {
    if (auto it = faceNames.find(face); it != faceNames.end()) return it->second;
    FaceEntry entry;
    // A face installed but drawn only from bitmaps (a bitmap font, colour
    // emoji) would show nothing: it stands for a face not installed.
    if (face.empty() || !usable(face, entry)) {
      const bool proportional =
          std::any_of(std::begin(kProportionalNames), std::end(kProportionalNames),
                      [&](const char* n) { return face == n; });
      if (!(proportional && usable(kProportionalJapanese, entry)) && !usable(kFixedJapanese, entry))
        entry = fallbackFace();
    }
    entry.id = faceIds.emplace(faceKey(entry), faceIds.size()).first->second;
    faceNames[face] = entry;
    return entry;
  }

  // Without the Japanese stand-in, text is drawn in fontconfig's best
  // scalable face for Japanese text, one that covers Japanese before any
  // other, so that at least what the face has shows. Without any, text
  // cannot show: that is said once.
  FaceEntry fallbackFace() {
    if (textFace) return *textFace;
    textFace = FaceEntry{};
    FcPattern* pattern = FcPatternCreate();
    FcFontSet* sorted = nullptr;
    if (pattern) {
      // Gothic, as the faces games name mostly are.
      FcPatternAddString(pattern, FC_FAMILY, toFc("sans-serif"));
      FcPatternAddString(pattern, FC_LANG, toFc("ja"));
      FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
      FcConfigSubstitute(config, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result = FcResultNoMatch;
      sorted = FcFontSort(config, pattern, FcFalse, nullptr, &result);
      FcPatternDestroy(pattern);
    }
    for (const bool japanese : {true, false}) {
      for (int k = 0; sorted && k < sorted->nfont && textFace->file.empty(); ++k) {
        FcPattern* font = sorted->fonts[k];
        FcLangSet* langs = nullptr;
        if (japanese && (FcPatternGetLangSet(font, FC_LANG, 0, &langs) != FcResultMatch ||
                         FcLangSetHasLang(langs, toFc("ja")) == FcLangDifferentLang))
          continue;
        FcChar8* file = nullptr;
        FaceEntry entry;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
        entry.file = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(font, FC_INDEX, 0, &entry.index);
        if (load(entry)) textFace = entry;
      }
    }
    if (sorted) FcFontSetDestroy(sorted);
    if (textFace->file.empty()) std::fputs("zirkplayer: no font to draw text with\n", stderr);
    return *textFace;
  }

  LoadedFace* load(const FaceEntry& entry) {
    if (entry.file.empty()) return nullptr;
    const std::string key = faceKey(entry);
    auto it = faces.find(key);
    if (it == faces.end()) {
      LoadedFace f;
      if (!library && FT_Init_FreeType(&library) != 0) library = nullptr;
      if (library && FT_New_Face(library, entry.file.c_str(), entry.index, &f.face) != 0)
        f.face = nullptr;
      if (f.face && !FT_IS_SCALABLE(f.face)) {
        FT_Done_Face(f.face);
        f.face = nullptr;
      }
      if (f.face) {
        // The face's own line metrics: the faces games were made with have
        // a cell of exactly one em there, and so do the faces standing in.
        f.ascent = f.face->ascender;
        f.descent = -f.face->descender;
        if (f.ascent + f.descent <= 0) {
          f.ascent = f.face->units_per_EM;
          f.descent = 0;
        }
      }
      it = faces.emplace(key, f).first;
    }
    return it->second.face ? &it->second : nullptr;
  }

  // Sets the face to a cell height; the baseline in pixels.
  static int32_t setCell(LoadedFace& f, int32_t height) {
    const double em = double(height) * f.face->units_per_EM / (f.ascent + f.descent);
    FT_Size_RequestRec req{};
    req.type = FT_SIZE_REQUEST_TYPE_NOMINAL;
    req.height = std::max<FT_Long>(1, std::lround(em * 64));
    FT_Request_Size(f.face, &req);
    return static_cast<int32_t>(std::lround(double(height) * f.ascent / (f.ascent + f.descent)));
  }

  TFontMetrics metrics(const TFontSpec& spec) {
    TFontMetrics m;
    m.Height = clampHeight(spec.Height);
    LoadedFace* f = load(resolve(spec.Face));
    if (!f) {
      m.Ascent = m.Height * 7 / 8;
    } else {
      m.Ascent = setCell(*f, m.Height);
    }
    const double unit = f ? double(m.Height) / (f->ascent + f->descent) : 0;
    const int32_t thickness =
        std::max(1, f ? int32_t(std::lround(f->face->underline_thickness * unit)) : m.Height / 16);
    m.UnderlineHeight = m.StrikeOutHeight = thickness;
    int32_t under = f ? int32_t(std::lround(-f->face->underline_position * unit)) : 1;
    m.UnderlineTop = std::clamp(m.Ascent + std::max(1, under) - thickness / 2, 0,
                                std::max(0, m.Height - thickness));
    int32_t strike = m.Height * 3 / 10;
    if (f) {
      const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(f->face, FT_SFNT_OS2));
      if (os2 && os2->yStrikeoutPosition > 0)
        strike = int32_t(std::lround(os2->yStrikeoutPosition * unit));
    }
    m.StrikeOutTop = std::clamp(m.Ascent - strike, 0, std::max(0, m.Height - thickness));
    return m;
  }

  Cell cellOf(const TFontSpec& spec) {
    return Cell{resolve(spec.Face), clampHeight(spec.Height),
                uint8_t(spec.Style & (kFontBold | kFontItalic)), std::clamp(spec.Smoothing, 0, 3)};
  }

  // Loads a character's outline at the cell, emboldened and slanted as the
  // style asks, into its face's slot; nullptr when there is no outline to
  // draw. Either way `advance` is where the pen goes next.
  FT_GlyphSlot loadStyled(const Cell& cell, char32_t code, int32_t& advance, int32_t& baseline) {
    advance = cell.height / 2;
    LoadedFace* f = load(cell.entry);
    if (!f) return nullptr;
    baseline = setCell(*f, cell.height);
    ++outlinesLoaded;
    FT_Face face = f->face;
    const FT_Int32 flags =
        FT_LOAD_NO_BITMAP | (cell.smoothing == 0 ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    if (FT_Load_Glyph(face, FT_Get_Char_Index(face, code), flags) != 0 ||
        face->glyph->format != FT_GLYPH_FORMAT_OUTLINE)
      return nullptr;
    FT_GlyphSlot slot = face->glyph;
    // The unhinted advance: hinting may shave a pixel off full-width cells,
    // and text columns must line up as the face's widths say.
    FT_Pos pen = (slot->linearHoriAdvance + 512) >> 10;
    if (cell.style & kFontBold) {
      // A synthesized bold grows by about a pixel and moves the pen as far.
      const FT_Pos strength = std::max<FT_Pos>(64, FT_Pos(cell.height) * 64 / 24);
      FT_Outline_EmboldenXY(&slot->outline, strength, 0);
      pen += strength;
    }
    if ((cell.style & kFontItalic) && !(face->style_flags & FT_STYLE_FLAG_ITALIC)) {
      FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
    advance = int32_t((pen + 32) >> 6);
    return slot;
  }

  std::shared_ptr<const TGlyph> render(const TFontSpec& spec, char32_t code) {
    const Cell cell = cellOf(spec);
    const GlyphKey key = cell.key(code);
    if (auto it = glyphs.find(key); it != glyphs.end()) return it->second;
    auto glyph = std::make_shared<TGlyph>();
    int32_t baseline = 0;
    FT_GlyphSlot slot = loadStyled(cell, code, glyph->Advance, baseline);
    const bool mono = cell.smoothing == 0;
    if (slot && FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) == 0) {
      const FT_Bitmap& bm = slot->bitmap;
      glyph->Left = slot->bitmap_left;
      glyph->Top = baseline - slot->bitmap_top;
      glyph->Width = int32_t(bm.width);
      glyph->Height = int32_t(bm.rows);
      glyph->Levels.assign(size_t(glyph->Width) * size_t(glyph->Height), 0);
      const int32_t levels = levelsOf(cell.smoothing);
      for (int32_t y = 0; y < glyph->Height; ++y) {
        const unsigned char* row = bm.buffer + int64_t(y) * bm.pitch;
        uint8_t* out = glyph->Levels.data() + size_t(y) * size_t(glyph->Width);
        for (int32_t x = 0; x < glyph->Width; ++x) {
          if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            out[x] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
          } else {
            // The smoothing level's number of grey steps.
            const int32_t step = (row[x] * (levels - 1) + 127) / 255;
            out[x] = uint8_t(step * 255 / (levels - 1));
          }
        }
      }
    }
    const size_t bytes = kGlyphEntryBytes + glyph->Levels.size();
    if (glyphBytes + bytes > kGlyphCacheBytes) {
      glyphs.clear();
      glyphBytes = 0;
    }
    glyphs.emplace(key, glyph);
    glyphBytes += bytes;
    return glyph;
  }

  // The advance and ink bound of a glyph from its outline, without drawing it.
  TGlyphMetrics measure(const Cell& cell, char32_t code) {
    const GlyphKey key = cell.key(code);
    if (auto it = glyphMetrics.find(key); it != glyphMetrics.end()) {
      metricsOrder.splice(metricsOrder.begin(), metricsOrder, it->second);
      return it->second->second;
    }
    TGlyphMetrics m;
    int32_t baseline = 0;
    FT_GlyphSlot slot = loadStyled(cell, code, m.Advance, baseline);
    if (slot) {
      FT_BBox box;
      FT_Outline_Get_CBox(&slot->outline, &box);
      m.InkRight = int32_t((box.xMax + 63) >> 6) + kInkSlack;
    }
    // Dropping the least used rather than all keeps text measured over and
    // over (captions, every tick) from loading every outline again.
    if (glyphMetrics.size() >= kMaxMetrics) {
      glyphMetrics.erase(metricsOrder.back().first);
      metricsOrder.pop_back();
    }
    metricsOrder.emplace_front(key, m);
    glyphMetrics.emplace(key, metricsOrder.begin());
    return m;
  }
};

TFontService::TFontService(const std::string& configFile)
    : impl_(std::make_unique<Impl>(configFile)) {}
TFontService::~TFontService() = default;

TFontMetrics TFontService::Metrics(const TFontSpec& spec) {
  std::lock_guard guard(impl_->lock);
  return impl_->metrics(spec);
}

std::shared_ptr<const TGlyph> TFontService::Glyph(const TFontSpec& spec, char32_t code) {
  std::lock_guard guard(impl_->lock);
  return impl_->render(spec, code);
}

std::vector<TGlyphMetrics> TFontService::Measure(const TFontSpec& spec, std::u32string_view text) {
  std::lock_guard guard(impl_->lock);
  const Impl::Cell cell = impl_->cellOf(spec);
  std::vector<TGlyphMetrics> out;
  out.reserve(text.size());
  for (char32_t c : text) out.push_back(impl_->measure(cell, c));
  return out;
}

size_t TFontService::CachedBytes() {
  std::lock_guard guard(impl_->lock);
  return impl_->glyphBytes + impl_->glyphMetrics.size() * kMetricsEntryBytes;
}

uint64_t TFontService::OutlinesLoaded() {
  std::lock_guard guard(impl_->lock);
  return impl_->outlinesLoaded;
}

std::string TFontService::FaceFile(const std::string& face) {
  std::lock_guard guard(impl_->lock);
  return impl_->resolve(face).file;
}

TFontService& Fonts() {
  static TFontService service;
  return service;
}

std::u32string DecodeCP932(std::string_view text) {
  std::u32string out;
  iconv_t cd = iconv_open("UTF-32LE", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (unsigned char c : text) out.push_back(c < 0x80 ? char32_t(c) : U'?');
    return out;
  }
  const char* in = text.data();
  size_t left = text.size();
  while (left > 0) {
    char buffer[4 * 64];
    char* o = buffer;
    size_t room = sizeof buffer;
    const size_t r = iconv(cd, const_cast<char**>(&in), &left, &o, &room);
    for (const char* p = buffer; p + 4 <= o; p += 4) {
      const auto* b = reinterpret_cast<const unsigned char*>(p);
      out.push_back(char32_t(b[0]) | (char32_t(b[1]) << 8) | (char32_t(b[2]) << 16) |
                    (char32_t(b[3]) << 24));
    }
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // A byte the code page does not hold, or a character cut off.
      out.push_back(U'?');
      ++in;
      --left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace zirk::platform
