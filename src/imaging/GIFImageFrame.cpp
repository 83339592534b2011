#include "imaging/GIFImageFrame.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "imaging/GIFImage.h"
#include "imaging/GIFImageLZW.h"
#include "surfaces/dibsfc.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

constexpr int kProgressRows = 32;

int64_t mulDivRound(int64_t a, int64_t b, int64_t c) {
  const int64_t n = a * b;
  return n >= 0 ? (n + c / 2) / c : -((-n + c / 2) / c);
}

uint8_t cubeLevel(int value) {
  return uint8_t(std::clamp((value + 25) / 51, 0, 5));
}

}  // namespace

// --- descriptor, load and save ---

TGIFSubImage::TGIFSubImage(TGIFImage& image)
    : TGIFItem(&image), colorMap_(*this), extensions_(*this) {}

TGIFSubImage::~TGIFSubImage() {
  // The graphic control detaches itself from this frame as it goes.
  extensions_.Clear();
  if (Image()) Image()->ReleasePixels(int64_t(data_.size()));
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const {
  if (colorMap_.Count() > 0 || !Image()) return colorMap_;
  return Image()->Header().ColorMap();
}

uint8_t* TGIFSubImage::ScanLine(int row) {
  if (data_.empty()) throw GIFException("Image has no DIB");
  if (row < 0 || row >= Height) {
    throw EInvalidGraphicOperation("スキャンライン のインデックスが範囲を越えました");
  }
  return data_.data() + size_t(row) * Width;
}

void TGIFSubImage::AllocateData() {
  const int64_t bytes = int64_t(Width) * Height;
  Image()->ReleasePixels(int64_t(data_.size()));
  data_.clear();
  data_.shrink_to_fit();
  Image()->ReservePixels(bytes);
  data_.assign(size_t(bytes), 0);
  Changed();
}

void TGIFSubImage::Clear() {
  extensions_.Clear();
  colorMap_.Clear();
  Left = Top = Width = Height = 0;
  Packed = 0;
  Image()->ReleasePixels(int64_t(data_.size()));
  data_.clear();
  data_.shrink_to_fit();
  transparent_ = false;
  Changed();
}

TGIFVersion TGIFSubImage::RequiredVersion() const {
  return colorMap_.Optimized() || extensions_.Count() > 0 ? gv89a : gv87a;
}

void TGIFSubImage::LoadFromStream(TKwStream& stream) {
  Clear();
  extensions_.LoadFromStream(stream);
  uint8_t separator = 0;
  if (stream.Read(&separator, 1) != 1) return;
  if (separator != ',') {
    // ";" and 0 belong to the frame list; anything else is a block the
    // frame list reports and stops at.
    stream.Seek(-1, SeekOrigin::Current);
    return;
  }
  Left = GIFReadWord(stream);
  Top = GIFReadWord(stream);
  Width = GIFReadWord(stream);
  Height = GIFReadWord(stream);
  Packed = GIFReadByte(stream);
  if (Width == 0 || Height == 0) {
    Width = Image()->Header().Width;
    Height = Image()->Header().Height;
    Warning(kGIFWarning, sGIFImageExceedsScreen);
  }
  if (Packed & 0x80) {
    const int n = 2 << (Packed & 7);
    if (n < 2 || n > 256) {
      throw GIFException("Invalid number of colors specified in Image Descriptor");
    }
    colorMap_.LoadFromStream(stream, n);
  }
  DecodeImageData(*this, stream);
}

void TGIFSubImage::SaveToStream(TKwStream& stream) {
  extensions_.SaveToStream(stream);
  if (Empty()) return;
  if (colorMap_.Count() > 0) {
    Packed = uint8_t(0x80 | (colorMap_.Optimized() ? 0x20 : 0) | (colorMap_.BitsPerPixel() - 1));
  } else {
    Packed &= 0x40 | 0x18;
  }
  GIFWriteByte(stream, ',');
  GIFWriteWord(stream, Left);
  GIFWriteWord(stream, Top);
  GIFWriteWord(stream, Width);
  GIFWriteWord(stream, Height);
  GIFWriteByte(stream, Packed);
  colorMap_.SaveToStream(stream);
  EncodeImageData(*this, stream);
}

void TGIFSubImage::SaveToFile(const std::string& hostPath) {
  TKwFileStream stream(hostPath, TKwFileStream::Mode::Create);
  SaveToStream(stream);
}

void TGIFSubImage::AttachGraphicControl(TGIFGraphicControlExtension* gce) {
  if (!gce_) gce_ = gce;
}

void TGIFSubImage::DetachGraphicControl(TGIFGraphicControlExtension* gce) {
  if (gce_ != gce) return;
  gce_ = nullptr;
  transparent_ = false;
  Changed();
}

// --- assignment ---

void TGIFSubImage::Assign(const TGIFSubImage& source) {
  if (&source == this) return;
  Clear();
  if (source.Empty()) return;
  TKwMemoryStream bytes;
  // Saving only normalises the source's stored packed byte to what it writes.
  const_cast<TGIFSubImage&>(source).SaveToStream(bytes);
  bytes.SetPosition(0);
  LoadFromStream(bytes);
  // Without a table of its own the source's indices refer to its picture's
  // global table; a copy into another picture keeps them meaning the same
  // colours by taking that table along.
  const TGIFImage* from = source.Image();
  if (colorMap_.Count() == 0 && from && from != Image() && from->Header().ColorMap().Count() > 0 &&
      !from->Header().ColorMap().SameColors(Image()->Header().ColorMap())) {
    colorMap_.Assign(from->Header().ColorMap());
  }
  Changed();
}

void TGIFSubImage::Assign(const TDIB& source) {
  Clear();
  if (source.GetEmpty()) return;
  if (source.Width() > 0xFFFF || source.Height() > 0xFFFF) {
    throw EOutOfResources(sGIFOutOfResources);
  }
  Width = uint16_t(source.Width());
  Height = uint16_t(source.Height());
  AllocateData();
  const int bits = source.BitCount();
  Image()->Progress(TProgressStage::psStarting, 0, false, "Converting...");
  if (bits <= 8) {
    const TDIBColorTable& table = source.ColorTable();
    std::vector<TRGBQuad> entries(table.begin(), table.begin() + source.ColorTableSize());
    colorMap_.ImportPalette(entries);
    for (int y = 0; y < Height; ++y) {
      uint8_t* row = data_.data() + size_t(y) * Width;
      for (int x = 0; x < Width; ++x) row[x] = uint8_t(source.GetRawPixel(x, y));
      if (y % kProgressRows == 0) {
        Image()->Progress(TProgressStage::psRunning, y * 100 / Height, false, "Converting...");
      }
    }
  } else {
    // Up to 256 colours keep their exact values in order of appearance;
    // more fall onto the fixed colour cube.
    std::unordered_map<uint32_t, uint8_t> exact;
    std::vector<TRGBQuad> entries;
    bool fits = true;
    for (int y = 0; y < Height && fits; ++y) {
      for (int x = 0; x < Width; ++x) {
        const uint32_t color = source.PixelToColor(source.GetRawPixel(x, y));
        auto [it, added] = exact.emplace(color, uint8_t(entries.size()));
        if (!added) {
          data_[size_t(y) * Width + x] = it->second;
          continue;
        }
        if (entries.size() == 256) {
          fits = false;
          break;
        }
        it->second = uint8_t(entries.size());
        entries.push_back(ColorToQuad(color));
        data_[size_t(y) * Width + x] = it->second;
      }
    }
    if (!fits) {
      entries = GIFWebPalette();
      for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
          const uint32_t c = source.PixelToColor(source.GetRawPixel(x, y));
          data_[size_t(y) * Width + x] =
              uint8_t(cubeLevel(ColorR(c)) * 36 + cubeLevel(ColorG(c)) * 6 + cubeLevel(ColorB(c)));
        }
      }
    }
    colorMap_.ImportPalette(entries);
  }
  Image()->Progress(TProgressStage::psEnding, 100, false, "Converting...");
  Changed();
}

void TGIFSubImage::AssignTo(TDIB& dest) {
  dest.Assign(MakeBitmap());
}

// --- display bitmap ---

std::vector<TRGBQuad> TGIFSubImage::Palette() const {
  if (Image() && Image()->DitherInForce()) return GIFWebPalette();
  if (colorMap_.Count() > 0) return colorMap_.Palette();
  if (!Image()) return {};
  if (Image()->Header().ColorMap().Count() > 0) return Image()->Header().ColorMap().Palette();
  try {
    return Image()->GetPalette();
  } catch (const GIFException&) {
    return {};
  }
}

void TGIFSubImage::Changed() {
  bitmap_.reset();
  mask_.reset();
}

const TDIB& TGIFSubImage::MakeBitmap() {
  if (!bitmap_) buildBitmap();
  return *bitmap_;
}

void TGIFSubImage::buildBitmap() {
  auto bitmap = std::make_unique<TDIB>();
  if (Empty()) {
    bitmap_ = std::move(bitmap);
    return;
  }
  TGIFImage* image = Image();
  bitmap->SetSize(Width, Height, 8);
  try {
    const std::vector<TRGBQuad> palette = Palette();
    TDIBColorTable& table = bitmap->ColorTable();
    table.fill(TRGBQuad{});
    std::copy_n(palette.begin(), std::min<size_t>(palette.size(), 256), table.begin());
    bitmap->UpdatePalette();
    if (image->DitherInForce()) {
      const std::vector<TRGBQuad> source =
          colorMap_.Count() > 0 ? colorMap_.Palette() : image->Header().ColorMap().Palette();
      const int skip = transparent_ && gce_ ? gce_->TransparentColorIndex() : -1;
      GIFDitherToWebPalette(data_.data(), Width, Height, source, skip, *bitmap);
    } else {
      for (int y = 0; y < Height; ++y) {
        std::memcpy(bitmap->ScanLine(y), data_.data() + size_t(y) * Width, Width);
        if (y % kProgressRows == 0) {
          image->Progress(TProgressStage::psRunning, y * 100 / Height, false, "Rendering...");
        }
      }
    }
    bitmap_ = std::move(bitmap);
    if (transparent_ && !mask_) buildMask();
  } catch (...) {
    image->Progress(TProgressStage::psEnding, 0, false, "Rendering...");
    throw;
  }
  image->Progress(TProgressStage::psEnding, 100, false, "Rendering...");
}

void TGIFSubImage::buildMask() {
  const uint8_t key = gce_ ? gce_->TransparentColorIndex() : 0;
  auto mask = std::make_unique<TDIB>(Width, Height, 1);
  TDIBColorTable& table = mask->ColorTable();
  table[0] = {0, 0, 0, 0};
  table[1] = {255, 255, 255, 0};
  mask->UpdatePalette();
  for (int y = 0; y < Height; ++y) {
    const uint8_t* src = data_.data() + size_t(y) * Width;
    uint8_t* row = mask->ScanLine(y);
    for (int x = 0; x < Width; ++x) {
      if (src[x] == key) row[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
  }
  mask_ = std::move(mask);
}

std::vector<TRGBQuad> GIFWebPalette() {
  std::vector<TRGBQuad> palette(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) {
        palette[size_t(r * 36 + g * 6 + b)] = {uint8_t(b * 51), uint8_t(g * 51), uint8_t(r * 51),
                                               0};
      }
  return palette;
}

void GIFDitherToWebPalette(const uint8_t* indices, int width, int height,
                           const std::vector<TRGBQuad>& palette, int skipIndex, TDIB& target8) {
  constexpr int kFraction = 10;
  constexpr int kOne = 1 << kFraction;
  // Errors of the current and the next row per channel, one guard column
  // each side, in units of 1/1024.
  std::vector<int> errors(size_t(width + 2) * 6, 0);
  int* cur = errors.data();
  int* nxt = errors.data() + size_t(width + 2) * 3;
  auto color = [&](uint8_t index, int channel) {
    if (index >= palette.size()) return 0;
    const TRGBQuad& q = palette[index];
    return int(channel == 0 ? q.rgbRed : channel == 1 ? q.rgbGreen : q.rgbBlue);
  };
  for (int y = 0; y < height; ++y) {
    const bool leftToRight = (y & 1) == 0;
    const int dir = leftToRight ? 1 : -1;
    const uint8_t* src = indices + size_t(y) * width;
    uint8_t* dst = target8.ScanLine(y);
    std::fill(nxt, nxt + size_t(width + 2) * 3, 0);
    for (int i = 0; i < width; ++i) {
      const int x = leftToRight ? i : width - 1 - i;
      const uint8_t index = src[x];
      int level[3];
      if (index == skipIndex) {
        for (int c = 0; c < 3; ++c) level[c] = cubeLevel(color(index, c));
        dst[x] = uint8_t(level[0] * 36 + level[1] * 6 + level[2]);
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        const int want = color(index, c) * kOne + cur[size_t(x + 1) * 3 + size_t(c)];
        const int lv = std::clamp((want + 51 * kOne / 2) / (51 * kOne), 0, 5);
        level[c] = lv;
        const int err = want - lv * 51 * kOne;
        const int ahead = x + 1 + dir;
        const int behind = x + 1 - dir;
        cur[size_t(ahead) * 3 + size_t(c)] += err * 7 / 16;
        nxt[size_t(behind) * 3 + size_t(c)] += err * 3 / 16;
        nxt[size_t(x + 1) * 3 + size_t(c)] += err * 5 / 16;
        nxt[size_t(ahead) * 3 + size_t(c)] += err * 1 / 16;
      }
      dst[x] = uint8_t(level[0] * 36 + level[1] * 6 + level[2]);
    }
    std::swap(cur, nxt);
  }
}

// --- drawing ---

TRect GIFFrameRect(const TGIFSubImage& frame, const TRect& rect) {
  const TGIFImage* image = frame.Image();
  const int64_t screenW = image ? image->Header().Width : 0;
  const int64_t screenH = image ? image->Header().Height : 0;
  const int64_t rw = int64_t(rect.Right) - rect.Left, rh = int64_t(rect.Bottom) - rect.Top;
  int64_t left = rect.Left, top = rect.Top, dw = rw, dh = rh;
  if (screenW > 0 && screenH > 0) {
    left = rect.Left + mulDivRound(frame.Left, rw, screenW);
    top = rect.Top + mulDivRound(frame.Top, rh, screenH);
    dw = mulDivRound(frame.Width, rw, screenW);
    dh = mulDivRound(frame.Height, rh, screenH);
  }
  return Bounds(pixelmath::Saturate32(left), pixelmath::Saturate32(top), pixelmath::Saturate32(dw),
                pixelmath::Saturate32(dh));
}

void DrawFrame(TGIFSubImage& frame, TDIB& canvas, const TRect& rect, bool transparent) {
  if (frame.Empty() || rect.IsEmpty() || canvas.GetEmpty()) return;
  const TRect place = GIFFrameRect(frame, rect);
  const int64_t left = place.Left, top = place.Top;
  const int64_t dw = int64_t(place.Right) - place.Left, dh = int64_t(place.Bottom) - place.Top;
  if (dw <= 0 || dh <= 0) return;
  const int x0 = int(std::max<int64_t>({left, 0, rect.Left}));
  const int y0 = int(std::max<int64_t>({top, 0, rect.Top}));
  const int x1 = int(std::min<int64_t>({left + dw, canvas.Width(), rect.Right}));
  const int y1 = int(std::min<int64_t>({top + dh, canvas.Height(), rect.Bottom}));
  if (x0 >= x1 || y0 >= y1) return;

  const TDIB& bitmap = frame.MakeBitmap();
  const bool masked = transparent && frame.Transparent() && frame.Mask() != nullptr;
  const int key = masked && frame.GraphicControlExtension()
                      ? frame.GraphicControlExtension()->TransparentColorIndex()
                      : -1;
  auto* surface = dynamic_cast<TDIBSurface*>(&canvas);
  TDIBSurface* alpha = surface ? surface->AlphaPlane() : nullptr;
  if (alpha && (alpha->Width() != canvas.Width() || alpha->Height() != canvas.Height())) {
    alpha = nullptr;
  }
  TDIBPixelConverter convert(bitmap, canvas);
  const std::vector<uint8_t>& data = frame.Data();
  const bool unstretched = dw == frame.Width && dh == frame.Height;
  for (int y = y0; y < y1; ++y) {
    const int sy = unstretched ? int(y - top) : pixelmath::NearestSample(y - top, dh, frame.Height);
    const uint8_t* indices = data.data() + size_t(sy) * frame.Width;
    const uint8_t* shown = bitmap.ScanLine(sy);
    uint8_t* alphaRow = alpha ? alpha->ScanLine(y) : nullptr;
    if (unstretched && key < 0) {
      convert.Span(int(x0 - left), sy, x0, y, x1 - x0);
      if (alphaRow) std::memset(alphaRow + x0, 255, size_t(x1 - x0));
      continue;
    }
    for (int x = x0; x < x1; ++x) {
      const int sx =
          unstretched ? int(x - left) : pixelmath::NearestSample(x - left, dw, frame.Width);
      if (indices[sx] == key) continue;
      canvas.SetRawPixel(x, y, convert(shown[sx]));
      if (alphaRow) alphaRow[x] = 255;
    }
  }
  canvas.Changed();
}

}  // namespace zirk
