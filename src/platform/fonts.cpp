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
#include <map>
#include <mutex>
#include <tuple>

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

// Glyphs kept before the cache starts again; a long game shows far fewer
// distinct (face, size, style, character) combinations.
constexpr size_t kMaxGlyphs = 16384;
// Heights beyond this draw nothing useful and cost a lot of memory.
constexpr int32_t kMaxHeight = 1024;
// The slant of a synthesized italic: tan 12 degrees in 16.16.
constexpr FT_Fixed kObliqueShear = 0x0366A;

struct FaceEntry {
  std::string file;
  int index = 0;
};

struct LoadedFace {
  FT_Face face = nullptr;
  // Ascent and descent of the cell in font units.
  int32_t ascent = 0, descent = 0;
};

using GlyphKey = std::tuple<std::string, int32_t, uint8_t, int32_t, char32_t>;

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
  std::mutex lock;
  FT_Library library = nullptr;
  std::map<std::string, FaceEntry> faceNames;
  std::map<std::string, LoadedFace> faces;  // by file + index
  std::map<GlyphKey, std::shared_ptr<const TGlyph>> glyphs;

  ~Impl() {
    for (auto& [key, f] : faces)
      if (f.face) FT_Done_Face(f.face);
    if (library) FT_Done_FreeType(library);
    FcFini();
  }

  // fontconfig's best match for a family, and whether it really has that
  // family (fontconfig always answers with something).
  static bool match(const std::string& family, FaceEntry& out) {
    FcPattern* pattern = FcPatternCreate();
    if (!pattern) return false;
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(nullptr, pattern, &result);
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

  FaceEntry resolve(const std::string& face) {
    if (auto it = faceNames.find(face); it != faceNames.end()) return it->second;
    FaceEntry entry;
    if (face.empty() || !match(face, entry)) {
      const bool proportional =
          std::any_of(std::begin(kProportionalNames), std::end(kProportionalNames),
                      [&](const char* n) { return face == n; });
      if (!match(proportional ? kProportionalJapanese : kFixedJapanese, entry) &&
          !match(kFixedJapanese, entry))
        entry = {};
    }
    faceNames[face] = entry;
    return entry;
  }

  LoadedFace* load(const FaceEntry& entry) {
    if (entry.file.empty()) return nullptr;
    const std::string key = entry.file + '\n' + std::to_string(entry.index);
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

  std::shared_ptr<const TGlyph> render(const TFontSpec& spec, char32_t code) {
    const FaceEntry entry = resolve(spec.Face);
    const int32_t height = clampHeight(spec.Height);
    const uint8_t style = spec.Style & (kFontBold | kFontItalic);
    const int32_t smoothing = std::clamp(spec.Smoothing, 0, 3);
    GlyphKey key{entry.file + '\n' + std::to_string(entry.index), height, style, smoothing, code};
    if (auto it = glyphs.find(key); it != glyphs.end()) return it->second;
    if (glyphs.size() >= kMaxGlyphs) glyphs.clear();

    auto glyph = std::make_shared<TGlyph>();
    LoadedFace* f = load(entry);
    if (!f) {
      glyph->Advance = height / 2;
      glyphs.emplace(key, glyph);
      return glyph;
    }
    const int32_t baseline = setCell(*f, height);
    FT_Face face = f->face;
    const bool mono = smoothing == 0;
    const FT_Int32 flags = FT_LOAD_NO_BITMAP | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    if (FT_Load_Glyph(face, FT_Get_Char_Index(face, code), flags) != 0 ||
        face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) {
      glyph->Advance = height / 2;
      glyphs.emplace(key, glyph);
      return glyph;
    }
    FT_GlyphSlot slot = face->glyph;
    // The unhinted advance: hinting may shave a pixel off full-width cells,
    // and text columns must line up as the face's widths say.
    FT_Pos advance = (slot->linearHoriAdvance + 512) >> 10;
    if (style & kFontBold) {
      // A synthesized bold grows by about a pixel and moves the pen as far.
      const FT_Pos strength = std::max<FT_Pos>(64, FT_Pos(height) * 64 / 24);
      FT_Outline_EmboldenXY(&slot->outline, strength, 0);
      advance += strength;
    }
    if ((style & kFontItalic) && !(face->style_flags & FT_STYLE_FLAG_ITALIC)) {
      FT_Matrix shear{0x10000, kObliqueShear, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
    glyph->Advance = int32_t((advance + 32) >> 6);
    if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) == 0) {
      const FT_Bitmap& bm = slot->bitmap;
      glyph->Left = slot->bitmap_left;
      glyph->Top = baseline - slot->bitmap_top;
      glyph->Width = int32_t(bm.width);
      glyph->Height = int32_t(bm.rows);
      glyph->Levels.assign(size_t(glyph->Width) * size_t(glyph->Height), 0);
      const int32_t levels = levelsOf(smoothing);
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
    glyphs.emplace(key, glyph);
    return glyph;
  }
};

TFontService::TFontService() : impl_(std::make_unique<Impl>()) {}
TFontService::~TFontService() = default;

TFontMetrics TFontService::Metrics(const TFontSpec& spec) {
  std::lock_guard guard(impl_->lock);
  return impl_->metrics(spec);
}

std::shared_ptr<const TGlyph> TFontService::Glyph(const TFontSpec& spec, char32_t code) {
  std::lock_guard guard(impl_->lock);
  return impl_->render(spec, code);
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
