#include "imaging/KwPNG.h"

#include <algorithm>
#include <ctime>

#include "imaging/KwPNGCommon.h"
#include "imaging/SFunc.h"
#include "surfaces/dibsfc.h"

namespace zirk {

namespace {

// A palette-index colour means the image's entry of that index.
uint32_t imageColor(const TDIB& image, int32_t color) {
  if (IsPaletteIndexColor(color)) return QuadToColor(image.ColorTable()[color & 0xFF]);
  return static_cast<uint32_t>(color);
}

void checkIdatSize(int size) {
  if (size < 256 || size > 100000) {
    throw EKwPNG("Write PNG Param: Err IDAT Size(min:256  max:100000)");
  }
}

}  // namespace

TKwPNG::TKwPNG() : bitmap_(std::make_unique<TDIB>()), alphaBitmap_(std::make_unique<TDIB>()) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  ChunkTime = {static_cast<uint16_t>(utc.tm_year + 1900), static_cast<uint8_t>(utc.tm_mon + 1),
               static_cast<uint8_t>(utc.tm_mday),         static_cast<uint8_t>(utc.tm_hour),
               static_cast<uint8_t>(utc.tm_min),          static_cast<uint8_t>(utc.tm_sec)};
}

TKwPNG::~TKwPNG() = default;

void TKwPNG::SetExternalBitmap(TDIB* bitmap) {
  external_ = bitmap;
  paletteCount_ = -1;
  if (externalAlpha_ && externalAlpha_ == external_) externalAlpha_ = nullptr;
}

void TKwPNG::SetExternalAlphaBitmap(TDIB* bitmap) {
  externalAlpha_ = bitmap == external_ ? nullptr : bitmap;
}

void TKwPNG::SetTransparentColor(int32_t color) {
  transparentColor_ = color;
  if (Image().GetEmpty()) return;
  if (color != -1) {
    Image().SetTransparentColor(static_cast<int32_t>(imageColor(Image(), color)));
  } else {
    SetTransparent(false);
  }
}

void TKwPNG::SetWidth(int value) {
  if (!Image().GetEmpty()) Image().SetWidth(value);
  if (!Mask().GetEmpty()) Mask().SetWidth(value);
  Changed();
}

void TKwPNG::SetHeight(int value) {
  if (!Image().GetEmpty()) Image().SetHeight(value);
  if (!Mask().GetEmpty()) Mask().SetHeight(value);
  Changed();
}

void TKwPNG::SetTransparent(bool value) {
  if (!synchronizing_ && Image().GetTransparent() != value) Image().SetTransparent(value);
  TGraphic::SetTransparent(value);
}

void TKwPNG::synchronize() {
  if (synchronizing_) return;
  if (transparent_ != Image().GetTransparent()) {
    synchronizing_ = true;
    SetTransparent(Image().GetTransparent());
    synchronizing_ = false;
  } else {
    Changed();
  }
}

std::vector<TRGBQuad> TKwPNG::GetPalette() const {
  const TDIB& image = Image();
  if (image.BitCount() <= 8 && paletteCount_ >= 0) {
    const auto& table = image.ColorTable();
    return {table.begin(), table.begin() + std::min(paletteCount_, 256)};
  }
  return image.GetPalette();
}

void TKwPNG::SetPalette(const std::vector<TRGBQuad>& entries) {
  Image().SetPalette(entries);
  paletteCount_ = -1;
  Changed();
}

void TKwPNG::LoadFromStream(TKwStream& stream) {
  TDIB& image = Image();
  TDIB& mask = Mask();
  mask.Clear();
  // The picture's progress handler stands in for the image's during the read.
  struct ProgressSwap {
    TDIB& image;
    TProgressEvent saved;
    ProgressSwap(TDIB& i, const TProgressEvent& handler) : image(i), saved(i.OnProgress) {
      if (handler) image.OnProgress = handler;
    }
    ~ProgressSwap() { image.OnProgress = std::move(saved); }
  } swap(image, OnProgress);

  TKwPNGReadStream reader;
  reader.SkipMacBinary = SkipMacBinary;
  reader.Allow16BitTarget = Allow16BitTarget;
  reader.MaskTarget = &mask;
  reader.ChunkTime = &ChunkTime;
  reader.Chromaticity = &Chromaticity;
  reader.GifControl = &GifControl;
  reader.RowKey = RowKey;
  reader.OnRowKey = OnRowKey;
  reader.OnDecodeRow = OnDecodeRow;
  reader.Read(&image, stream, 0);

  HasAlpha = reader.HasAlpha();
  Comment = reader.Comment();
  BackgroundColor = reader.BackgroundColor();
  transparentColor_ = reader.TransparentColor();
  Interlaced = reader.Interlaced();
  Gamma = reader.Gamma();
  PhysUnit = reader.PhysUnit();
  PixelsPerUnitX = reader.PixelsPerUnitX();
  PixelsPerUnitY = reader.PixelsPerUnitY();
  SignificantBits = reader.SignificantBits();
  BitDepth = reader.BitDepth();
  GrayScale = reader.IsGray();
  truncated_ = reader.Truncated();
  paletteCount_ = image.BitCount() <= 8 && !image.GetEmpty() ? reader.PaletteCount() : -1;
  synchronize();
}

void TKwPNG::setupWriter(TKwPNGWriteStream& writer, bool formData) {
  if (!formData) {
    writer.CompressionLevel = CompressionLevel;
    writer.FilterMode = FilterMode;
    writer.IdatSize = IdatSize;
    writer.Interlaced = Interlaced;
    writer.WriteCurrentTime = WriteCurrentTime;
    writer.OnEncodeRow = OnEncodeRow;
    writer.RowKey = RowKey;
  }
  writer.GrayScale = GrayScale;
  writer.Comment = Comment;
  writer.BackgroundColor = BackgroundColor;
  writer.TransparentColor = transparentColor_;
  writer.Gamma = Gamma;
  writer.SignificantBits = SignificantBits;
  writer.PhysUnit = PhysUnit;
  writer.PixelsPerUnitX = PixelsPerUnitX;
  writer.PixelsPerUnitY = PixelsPerUnitY;
  writer.ChunkTime = &ChunkTime;
  writer.Chromaticity = &Chromaticity;
  writer.GifControl = &GifControl;
  writer.PaletteCount = paletteCount_;
}

void TKwPNG::SaveToStream(TKwStream& stream) {
  checkIdatSize(IdatSize);
  TKwPNGWriteStream writer;
  setupWriter(writer, false);
  if (HasAlpha) writer.Mask = &Mask();
  writer.Write(Image(), stream);
}

void TKwPNG::ReadData(TKwStream& stream) {
  external_ = nullptr;
  externalAlpha_ = nullptr;
  LoadFromStream(stream);
}

void TKwPNG::WriteData(TKwStream& stream) {
  if (bitmap_->GetEmpty()) return;
  TKwPNGWriteStream writer;
  setupWriter(writer, true);
  if (external_) writer.PaletteCount = -1;
  if (HasAlpha) writer.Mask = alphaBitmap_.get();
  writer.Write(*bitmap_, stream);
}

void TKwPNG::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (const auto* png = dynamic_cast<const TKwPNG*>(&source)) {
    bitmap_->Assign(*png->bitmap_);
    alphaBitmap_->Assign(*png->alphaBitmap_);
    external_ = png->external_;
    externalAlpha_ = png->externalAlpha_;
    HasAlpha = png->HasAlpha;
    BitDepth = png->BitDepth;
    GrayScale = png->GrayScale;
    Interlaced = png->Interlaced;
    BackgroundColor = png->BackgroundColor;
    transparentColor_ = png->transparentColor_;
    Comment = png->Comment;
    Gamma = png->Gamma;
    SignificantBits = png->SignificantBits;
    PhysUnit = png->PhysUnit;
    PixelsPerUnitX = png->PixelsPerUnitX;
    PixelsPerUnitY = png->PixelsPerUnitY;
    ChunkTime = png->ChunkTime;
    Chromaticity = png->Chromaticity;
    GifControl = png->GifControl;
    IdatSize = png->IdatSize;
    CompressionLevel = png->CompressionLevel;
    FilterMode = png->FilterMode;
    WriteCurrentTime = png->WriteCurrentTime;
    SkipMacBinary = png->SkipMacBinary;
    Allow16BitTarget = png->Allow16BitTarget;
    RowKey = png->RowKey;
    OnRowKey = png->OnRowKey;
    OnDecodeRow = png->OnDecodeRow;
    OnEncodeRow = png->OnEncodeRow;
    truncated_ = png->truncated_;
    paletteCount_ = png->paletteCount_;
  } else {
    Image().Assign(source);
    paletteCount_ = -1;
  }
  synchronize();
}

bool TKwPNG::AssignTo(TGraphic& dest) const {
  dest.Assign(Image());
  return true;
}

void TKwPNG::Draw(TDIB& canvas, const TRect& rect) {
  Image().Draw(canvas, rect);
}

void TKwPNG::SaveToClipboardFormat(TClipboard& clipboard) {
  Image().SaveToClipboardFormat(clipboard);
}

void TKwPNG::LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) {
  external_ = nullptr;
  bitmap_->LoadFromClipboardFormat(clipboard, format);
  paletteCount_ = -1;
  synchronize();
}

// --- Surfaces ---

namespace {

// Mask and alpha plane hold complementary values.
void invertInto(TDIB& target, const TDIB& source) {
  target.Assign(source);
  for (int y = 0; y < target.Height(); ++y) {
    uint8_t* row = target.ScanLine(y);
    for (int x = 0; x < target.Width(); ++x) row[x] = static_cast<uint8_t>(255 - row[x]);
  }
}

}  // namespace

void LoadPNGSurface(TDIBSurface& surface, TKwStream& stream) {
  ReadPNGSurface(surface, stream);
}

int32_t ReadPNGSurface(TDIBSurface& surface, TKwStream& stream, bool* truncated) {
  TKwPNG png;
  png.Allow16BitTarget = true;
  png.LoadFromStream(stream);
  if (truncated) *truncated = png.Truncated();
  surface.Assign(png.Bitmap());
  if (png.HasAlpha && !png.AlphaBitmap().GetEmpty()) {
    TDIB alpha;
    invertInto(alpha, png.AlphaBitmap());
    SurfaceSetAlpha(surface, alpha);
  }
  return png.Bitmap().GetTransparent() ? png.TransparentColor() : -1;
}

void SavePNGSurface(const TDIBSurface& surface, TKwStream& stream, int32_t transparentColor) {
  TKwPNG png;
  png.Bitmap().Assign(static_cast<const TDIB&>(surface));
  if (const TDIBSurface* alpha = surface.AlphaPlane()) {
    invertInto(png.AlphaBitmap(), *alpha);
    png.HasAlpha = true;
  }
  if (transparentColor == -1 && surface.GetTransparent())
    transparentColor = surface.TransparentColor();
  if (transparentColor != -1) png.SetTransparentColor(transparentColor);
  png.SaveToStream(stream);
}

// --- Registration ---

void RegisterKwPNG() {
  RegisterFileFormat<TKwPNG>("PNG", "PNG Format");
  const std::string signature(reinterpret_cast<const char*>(kPNGSignature), 8);
  RegisterSurfaceLoader(signature, LoadPNGSurface);
}

void UnregisterKwPNG() {
  UnregisterGraphicClass<TKwPNG>();
}

}  // namespace zirk
