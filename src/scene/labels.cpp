#include "scene/labels.h"

#include <algorithm>

#include "base/records.h"
#include "base/sjis.h"
#include "base/vocab.h"
#include "surfaces/dilate.h"

namespace zirk {

namespace {

// Script values are arbitrary; pictures and border passes stay bounded
// (a border of width w takes about 3 w steps per pixel).
constexpr int32_t kMaxEffectWidth = 16;
constexpr uint32_t kFullCoverage = 255;

int32_t effectWidth(int32_t w) {
  return std::clamp(w, 0, kMaxEffectWidth);
}

// Lines end at CR LF, CR or LF; those bytes are never part of a Shift-JIS
// double-byte character.
std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(c);
    }
  }
  return lines;
}

}  // namespace

// A text measured from its glyphs' metrics; masks are drawn only for the
// glyphs that reach the picture.
struct TKwLabelList::TLayout {
  struct Line {
    std::u32string text;
    std::vector<platform::TGlyphMetrics> glyphs;  // one per character
    int32_t advance = 0;                          // the pen's travel
  };
  std::vector<Line> lines;
  platform::TFontSpec spec;  // the list's font
  platform::TFontMetrics metrics;
  int32_t textWidth = 0;  // the widest advance
};

void TKwLabelDIB::SetText(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  Dirty = true;
}

TKwLabelList::TKwLabelList() = default;
TKwLabelList::~TKwLabelList() = default;

TKwLabelDIB* TKwLabelList::AddLabel(const std::string& text) {
  labels_.push_back(std::make_unique<TKwLabelDIB>());
  labels_.back()->text_ = text;
  return labels_.back().get();
}

TKwLabelDIB* TKwLabelList::GetItem(int32_t index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return labels_[static_cast<size_t>(index)].get();
}

void TKwLabelList::InvalidateAll() {
  for (auto& label : labels_) label->Dirty = true;
}

int32_t TKwLabelList::MaxWidth() const {
  int32_t widest = 0;
  for (const auto& label : labels_) widest = std::max(widest, label->Width);
  return widest;
}

template <class T>
void TKwLabelList::change(T& field, T value) {
  if (field == value) return;
  field = value;
  InvalidateAll();
}

void TKwLabelList::SetFontName(const std::string& name) {
  change(fontName_, name);
}
void TKwLabelList::SetFontSize(int32_t height) {
  change(fontSize_, height);
}
void TKwLabelList::SetFontStyle(uint8_t style) {
  change(fontStyle_, style);
}
void TKwLabelList::SetFontColor(int32_t color) {
  change(fontColor_, color);
}
void TKwLabelList::SetBorderWidth(int32_t width) {
  change(borderWidth_, width);
}
void TKwLabelList::SetBorderColor(int32_t color) {
  change(borderColor_, color);
}
void TKwLabelList::SetShadowWidth(int32_t width) {
  change(shadowWidth_, width);
}
void TKwLabelList::SetShadowColor(int32_t color) {
  change(shadowColor_, color);
}
void TKwLabelList::SetSmoothing(int32_t level) {
  change(smoothing_, level);
}
void TKwLabelList::SetLineSpace(int32_t space) {
  change(lineSpace_, space);
}
void TKwLabelList::SetHAlign(uint8_t align) {
  change(hAlign_, align);
}

platform::TFontSpec TKwLabelList::spec() const {
  platform::TFontSpec s;
  // A face name that is not valid Shift-JIS names no installed face.
  if (!SjisToUtf8(fontName_, s.Face)) s.Face.clear();
  s.Height = std::max(1, fontSize_);
  // The FS_ bits are the platform's style bits.
  s.Style = fontStyle_;
  s.Smoothing = smoothing_;
  return s;
}

int32_t TKwLabelList::LineHeight() const {
  return platform::Fonts().Metrics(spec()).Height;
}

TKwLabelList::TLayout TKwLabelList::layout(const std::string& text) const {
  TLayout out;
  out.spec = spec();
  out.metrics = platform::Fonts().Metrics(out.spec);
  for (const std::string& line : splitLines(text)) {
    TLayout::Line l;
    l.text = platform::DecodeCP932(line);
    l.glyphs = platform::Fonts().Measure(out.spec, l.text);
    int64_t pen = 0;
    for (const platform::TGlyphMetrics& glyph : l.glyphs) pen += glyph.Advance;
    l.advance = static_cast<int32_t>(std::min<int64_t>(pen, kMaxLabelSide));
    out.textWidth = std::max(out.textWidth, l.advance);
    out.lines.push_back(std::move(l));
  }
  return out;
}

int32_t TKwLabelList::inkWidth(const TLayout& l) {
  // Only a glyph whose ink may reach past the widest found so far is drawn
  // to see where its ink ends; past the largest side nothing counts.
  int64_t widest = l.textWidth;
  for (const TLayout::Line& line : l.lines) {
    int64_t pen = 0;
    for (size_t k = 0; k < line.glyphs.size() && pen < kMaxLabelSide; ++k) {
      if (widest >= kMaxLabelSide) return kMaxLabelSide;
      if (pen + line.glyphs[k].InkRight > widest) {
        const auto glyph = platform::Fonts().Glyph(l.spec, line.text[k]);
        if (glyph->Width > 0) widest = std::max(widest, pen + glyph->Left + glyph->Width);
      }
      pen += line.glyphs[k].Advance;
    }
  }
  return static_cast<int32_t>(std::min<int64_t>(widest, kMaxLabelSide));
}

TTextExtent TKwLabelList::MeasureText(const std::string& text) const {
  const TLayout l = layout(text);
  return {l.textWidth, static_cast<int32_t>(l.lines.size())};
}

void TKwLabelList::measure(TKwLabelDIB& label) const {
  setSize(label, layout(label.text_));
}

void TKwLabelList::setSize(TKwLabelDIB& label, const TLayout& l) const {
  const int32_t edges = 2 * effectWidth(borderWidth_) + effectWidth(shadowWidth_);
  const int64_t lines = static_cast<int64_t>(l.lines.size());
  const int64_t height = lines * l.metrics.Height + (lines - 1) * std::max(0, lineSpace_) + edges;
  label.Width = l.textWidth + edges;
  label.Height = static_cast<int32_t>(std::min<int64_t>(height, kMaxLabelSide));
}

void TKwLabelList::Render() {
  for (auto& label : labels_) measure(*label);
}

TPoint LabelPictureSize(int64_t width, int64_t height) {
  const int64_t w = std::clamp<int64_t>(width, 0, kMaxLabelSide);
  // A huge label keeps its top lines.
  const int64_t h = std::clamp<int64_t>(
      height, 0, std::min<int64_t>(kMaxLabelSide, kMaxLabelPixels / std::max<int64_t>(w, 1)));
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

void TKwLabelList::DrawLabelText(TKwLabelDIB& label) {
  if (!label.Dirty) return;
  label.Dirty = false;
  const TLayout l = layout(label.text_);
  const int32_t border = effectWidth(borderWidth_), shadow = effectWidth(shadowWidth_);
  setSize(label, l);
  const TPoint size = LabelPictureSize(int64_t{inkWidth(l)} + 2 * border + shadow, label.Height);
  const int32_t width = size.X, height = size.Y;

  // The coverage of the text itself, lines placed by the alignment.
  TDIBX text(width, height, 8);
  text.FillRect(text.GetBoundsRect(), 0);
  const platform::TFontMetrics& m = l.metrics;
  int64_t top = border;
  for (const TLayout::Line& line : l.lines) {
    if (top >= height) break;
    int64_t x = border;
    if (hAlign_ == 1)
      x += (l.textWidth - line.advance) / 2;
    else if (hAlign_ != 0)
      x += l.textWidth - line.advance;
    const int32_t y = static_cast<int32_t>(std::min<int64_t>(top, kMaxLabelSide));
    // Glyphs past the picture's edge are not drawn at all.
    int64_t pen = x;
    for (size_t k = 0; k < line.glyphs.size() && pen <= width; ++k) {
      const auto glyph = platform::Fonts().Glyph(l.spec, line.text[k]);
      text.FillMasked(static_cast<int32_t>(pen) + glyph->Left, y + glyph->Top, glyph->Mask(),
                      kFullCoverage);
      pen += line.glyphs[k].Advance;
    }
    const auto lineBar = [&](int32_t barTop, int32_t barHeight) {
      text.FillRect(Bounds(static_cast<int32_t>(x), y + barTop, line.advance, barHeight),
                    kFullCoverage);
    };
    if (fontStyle_ & FS_UNDERLINE) lineBar(m.UnderlineTop, m.UnderlineHeight);
    if (fontStyle_ & FS_STRIKEOUT) lineBar(m.StrikeOutTop, m.StrikeOutHeight);
    top += int64_t{m.Height} + std::max(0, lineSpace_);
  }

  // The bordered shape: the text grown by a round pen of the border width.
  TDIBX bordered(border > 0 ? width : 0, border > 0 ? height : 0, 8);
  const TDIBX& outer = border > 0 ? bordered : text;
  if (border > 0) DilateCoverage(text.Pixels(), bordered.Pixels(), border);

  // Coverage of everything drawn; colours start from the lowest layer so
  // soft edges keep their own colour.
  label.mask_.SetSize(width, height, 8);
  label.mask_.FillRect(label.mask_.GetBoundsRect(), 0);
  label.picture_.SetSize(width, height, 32);
  TDIBX& pic = label.picture_;
  auto pixel = [&](int32_t color) {
    return static_cast<uint32_t>(pic.ColorToPixel(color & 0xFFFFFF));
  };
  const int32_t bottom = shadow > 0 ? shadowColor_ : border > 0 ? borderColor_ : fontColor_;
  pic.FillRect(pic.GetBoundsRect(), pixel(bottom));
  if (shadow > 0) label.mask_.FillMasked(shadow, shadow, outer.Pixels(), kFullCoverage);
  label.mask_.FillMasked(0, 0, outer.Pixels(), kFullCoverage);
  if (shadow > 0 && border > 0) pic.FillMasked(0, 0, outer.Pixels(), pixel(borderColor_));
  if (shadow > 0 || border > 0) pic.FillMasked(0, 0, text.Pixels(), pixel(fontColor_));
}

void TKwLabelList::DrawLabelClipped(TKwLabelDIB& label, int32_t x, int32_t y) {
  if (!Target || Alpha <= 0) return;
  DrawLabelText(label);
  if (label.picture_.IsEmpty()) return;
  Target->DrawImage(x, y, label.picture_, label.picture_.GetBoundsRect(), false, false,
                    &label.mask_, Alpha);
}

void TKwLabelList::SaveToStream(TKwStream& stream) {
  TRecordWriter out(stream);
  out.Str(fontName_);
  out.Int(fontSize_);
  out.Byte(fontStyle_);
  for (int32_t v : {fontColor_, borderWidth_, borderColor_, shadowWidth_, shadowColor_, smoothing_,
                    Alpha, lineSpace_})
    out.Int(v);
  out.Byte(hAlign_);
  out.Int(Count());
  for (const auto& label : labels_) out.Str(label->text_);
}

void TKwLabelList::LoadFromStream(TKwStream& stream, int32_t version) {
  TRecordReader in(stream, version, "label list record");
  fontName_ = in.Str();
  fontSize_ = in.Int();
  fontStyle_ = in.Byte();
  for (int32_t* v : {&fontColor_, &borderWidth_, &borderColor_, &shadowWidth_, &shadowColor_,
                     &smoothing_, &Alpha, &lineSpace_})
    *v = in.Int();
  hAlign_ = in.Byte();
  Clear();
  // Each label's text takes at least its length field.
  const int32_t count = in.Count(4);
  for (int32_t i = 0; i < count; ++i) AddLabel(in.Str());
}

}  // namespace zirk
