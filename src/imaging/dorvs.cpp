#include "imaging/dorvs.h"

#include <algorithm>
#include <cstring>

#include "imaging/SFunc.h"
#include "imaging/jpeg.h"
#include "surfaces/pixelformat.h"

namespace zirk {

namespace {

void putInt(uint8_t* p, int32_t v) {
  auto u = static_cast<uint32_t>(v);
  p[0] = uint8_t(u);
  p[1] = uint8_t(u >> 8);
  p[2] = uint8_t(u >> 16);
  p[3] = uint8_t(u >> 24);
}

int32_t getInt(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
                              (uint32_t{p[3]} << 24));
}

bool sameSize(const TDIB& a, const TDIB& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.BitCount() == b.BitCount();
}

// Clips each rectangle to r and moves it to r's origin; empty ones go.
void clipRects(std::vector<TRect>& rects, const TRect& r) {
  std::vector<TRect> kept;
  for (const TRect& item : rects) {
    TRect clipped;
    if (!IntersectRect(clipped, item, r)) continue;
    kept.push_back(OffsetRect(clipped, -r.Left, -r.Top));
  }
  rects = std::move(kept);
}

// Fills every pixel with a raw value: one pixel is written, then doubled
// along the first row, and the row copied down, since every frame of a
// load starts this way.
void fillPicture(TDIB& image, uint32_t pixel) {
  if (image.GetEmpty()) return;
  if (image.BitCount() < 8) {
    SurfaceFillRect(image, SurfaceBoundsRect(image), pixel);
    return;
  }
  const size_t bytes = size_t(image.BitCount() / 8);
  const size_t rowLength = size_t(image.Width()) * bytes;
  uint8_t* first = image.ScanLine(0);
  image.SetRawPixel(0, 0, pixel);
  for (size_t done = bytes; done < rowLength; done *= 2) {
    std::memcpy(first + done, first, std::min(done, rowLength - done));
  }
  for (int y = 1; y < image.Height(); ++y) std::memcpy(image.ScanLine(y), first, rowLength);
}

void copyAlphaRows(const TDIBSurface& alpha, TDIB& target) {
  for (int y = 0; y < alpha.Height(); ++y) {
    std::memcpy(target.ScanLine(y), alpha.ScanLine(y), static_cast<size_t>(alpha.Width()));
  }
}

}  // namespace

const char* DorvCompressionName(int kind) {
  switch (kind) {
    case dcDefault:
      return "Default compression";
    case dcNone:
      return "No compression";
    case dcNonreversible:
      return "Nonreversible compression";
    default:
      return "";
  }
}

std::array<uint8_t, kDorvHeaderSize> EncodeDorvHeader(const TDorvHeader& h) {
  std::array<uint8_t, kDorvHeaderSize> b{};
  putInt(&b[0], h.Version);
  putInt(&b[4], h.Width);
  putInt(&b[8], h.Height);
  putInt(&b[12], h.BitCount);
  putInt(&b[16], h.FrameCount);
  b[20] = h.Flag;
  b[21] = h.Scramble;
  b[22] = h.Compression;
  b[23] = h.Reserved1;
  putInt(&b[24], h.Background);
  putInt(&b[28], h.TileWidth);
  putInt(&b[32], h.TileHeight);
  b[36] = h.PlainFirstLayer;
  b[37] = h.Quality;
  b[38] = h.Reserved2[0];
  b[39] = h.Reserved2[1];
  return b;
}

TDorvHeader DecodeDorvHeader(const uint8_t* bytes, int length) {
  std::array<uint8_t, kDorvHeaderSize> b{};
  std::memcpy(b.data(), bytes, static_cast<size_t>(std::clamp(length, 0, kDorvHeaderSize)));
  TDorvHeader h;
  h.Version = getInt(&b[0]);
  h.Width = getInt(&b[4]);
  h.Height = getInt(&b[8]);
  h.BitCount = getInt(&b[12]);
  h.FrameCount = getInt(&b[16]);
  h.Flag = b[20];
  h.Scramble = b[21];
  h.Compression = b[22];
  h.Reserved1 = b[23];
  h.Background = getInt(&b[24]);
  h.TileWidth = getInt(&b[28]);
  h.TileHeight = getInt(&b[32]);
  h.PlainFirstLayer = b[36];
  h.Quality = b[37];
  h.Reserved2[0] = b[38];
  h.Reserved2[1] = b[39];
  return h;
}

std::vector<int32_t> DorvPermutation(int32_t n, uint32_t increment) {
  std::vector<int32_t> order;
  if (n <= 0) return order;
  order.reserve(static_cast<size_t>(n));
  // A Fenwick tree over "still in the deck" finds the k-th remaining card
  // in log n steps, where removing from the deck would cost n.
  std::vector<int32_t> tree(static_cast<size_t>(n) + 1, 0);
  for (int32_t i = 1; i <= n; ++i) {
    tree[size_t(i)] += 1;
    int32_t parent = i + (i & -i);
    if (parent <= n) tree[size_t(parent)] += tree[size_t(i)];
  }
  int32_t top = 1;
  while (top * 2 <= n) top *= 2;
  uint32_t x = 0;
  for (int32_t left = n; left > 0; --left) {
    x = 5 * x + increment;
    int32_t k = static_cast<int32_t>(x % static_cast<uint32_t>(left));  // 0-based rank
    int32_t pos = 0;
    for (int32_t step = top; step > 0; step /= 2) {
      int32_t next = pos + step;
      if (next <= n && tree[size_t(next)] <= k) {
        pos = next;
        k -= tree[size_t(next)];
      }
    }
    order.push_back(pos);  // card pos (0-based) is at tree index pos + 1
    for (int32_t i = pos + 1; i <= n; i += i & -i) tree[size_t(i)] -= 1;
  }
  return order;
}

// --- TDorvFrame ---

TDorvLayer* TDorvFrame::AddLayer() {
  return Add(std::make_unique<TDorvLayer>(this));
}

void TDorvFrame::ComposeLayer(int32_t index, bool& firstVisible) {
  TDorvLayer* layer = GetLayer(index);
  if (!layer || !layer->Visible) return;
  const TDIBSurface& src = layer->Image;
  const bool alphaDraw = src.HasAlphaPlane() && layer->UseAlpha;
  if (alphaDraw && index == 0) {
    // An empty picture has no rows to copy; it only takes the (empty) plane.
    if (Image.GetEmpty()) {
      EnsureAlphaPlane(Image);
    } else {
      SurfaceSetAlpha(Image, *src.AlphaPlane());
    }
  }
  const bool plainFirst = firstVisible && Owner && Owner->PlainFirstLayer;
  const bool whole = !(alphaDraw && index >= 1) && (layer->TransparentValue < 0 || plainFirst) &&
                     layer->Opacity >= 255;
  // A layer copied whole over the picture leaves nothing of the background.
  if (firstVisible && !(whole && sameSize(Image, src))) FillBackground();
  if (alphaDraw && index >= 1) {
    SurfaceAlphaDraw(Image, 0, 0, src, SurfaceBoundsRect(src), 255);
  } else if (whole) {
    SurfaceDrawWhole(Image, 0, 0, src);
  } else {
    SurfaceBlendDraw(Image, 0, 0, src, SurfaceBoundsRect(src), layer->TransparentValue,
                     layer->Opacity);
  }
  firstVisible = false;
}

void TDorvFrame::FillBackground() {
  const uint32_t bg = static_cast<uint32_t>(Owner ? Owner->Background : 0);
  fillPicture(Image, SurfaceColorToPixel(Image, ColorR(bg), ColorG(bg), ColorB(bg)));
}

void TDorvFrame::ComposeLayers() {
  bool firstVisible = true;
  for (int32_t i = 0; i < Count(); ++i) ComposeLayer(i, firstVisible);
  if (firstVisible) FillBackground();
}

void TDorvFrame::SetTransparentColor(int32_t color) {
  if (color < 0) {
    TransparentValue = TransparentColor = -1;
  } else if (IsPaletteIndexColor(color) && Image.BitCount() <= 8) {
    TransparentValue = color & 0xFF;
    TransparentColor = static_cast<int32_t>(Image.PixelToColor(uint32_t(TransparentValue)));
  } else {
    TransparentColor = IsPaletteIndexColor(color)
                           ? static_cast<int32_t>(QuadToColor(Image.ColorTable()[color & 0xFF]))
                           : color;
    TransparentValue = static_cast<int32_t>(Image.ColorToPixel(uint32_t(TransparentColor)));
  }
}

void TDorvFrame::BuildAlpha() {
  if (Image.HasAlphaPlane()) return;
  EnsureAlphaPlane(Image);
  SurfaceOpaqueAlpha(Image);
  if (TransparentValue < 0) return;
  const auto key = static_cast<uint32_t>(TransparentValue);
  TDIBSurface& alpha = *Image.AlphaPlane();
  for (int y = 0; y < Image.Height(); ++y) {
    uint8_t* row = alpha.ScanLine(y);
    for (int x = 0; x < Image.Width(); ++x) {
      if (Image.GetRawPixel(x, y) == key) row[x] = 0;
    }
  }
}

TRect TDorvFrame::Trim() {
  const TRect whole = SurfaceBoundsRect(Image);
  TDIBSurface work;
  uint32_t key = 0;
  if (const TDIBSurface* alpha = Image.AlphaPlane()) {
    work.Assign(*alpha);
  } else if (TransparentColor < 0) {
    return whole;
  } else {
    work.Assign(static_cast<const TDIB&>(Image));
    key = static_cast<uint32_t>(TransparentValue);
  }
  const TRect kept = SurfaceTrim(work, key);
  if (kept == whole) return whole;
  SurfaceCrop(Image, kept);
  clipRects(Rects1, kept);
  clipRects(Rects2, kept);
  return kept;
}

bool TDorvFrame::keySharedIn(const TCustomDIBX& target) const {
  if (TransparentValue < 0 || TransparentColor < 0 || Image.BitCount() > 8) return false;
  std::array<bool, 256> used{};
  for (int y = 0; y < Image.Height(); ++y) {
    if (Image.BitCount() == 8) {
      const uint8_t* row = Image.ScanLine(y);
      for (int x = 0; x < Image.Width(); ++x) used[row[x]] = true;
    } else {
      for (int x = 0; x < Image.Width(); ++x) used[Image.GetRawPixel(x, y) & 0xFF] = true;
    }
  }
  const int32_t key = target.ColorToPixel(TransparentColor);
  for (uint32_t i = 0; i < used.size(); ++i) {
    if (used[i] && i != uint32_t(TransparentValue) &&
        target.ColorToPixel(int32_t(Image.PixelToColor(i))) == key) {
      return true;
    }
  }
  return false;
}

void TDorvFrame::CopyToDIBX(TCustomDIBX& target) {
  const int w = Image.Width(), h = Image.Height();
  target.SetSize(w, h, target.BitCount());
  if (keySharedIn(target)) {
    BuildAlpha();
    TransparentValue = TransparentColor = -1;
  }
  if (w > 0 && h > 0 && target.StorageBitCount() == 32 &&
      (Image.BitCount() == 24 || Image.BitCount() == 32)) {
    const bool from24 = Image.BitCount() == 24;
    uint8_t* base = target.Lock(0, 0);
    const int pitch = target.Pitch();
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = Image.ScanLine(y);
      auto* d = reinterpret_cast<uint32_t*>(base + static_cast<ptrdiff_t>(y) * pitch);
      if (from24) {
        for (int x = 0; x < w; ++x, s += 3) {
          d[x] = uint32_t{s[0]} | (uint32_t{s[1]} << 8) | (uint32_t{s[2]} << 16);
        }
      } else {
        const auto* s32 = reinterpret_cast<const uint32_t*>(s);
        for (int x = 0; x < w; ++x) d[x] = s32[x] & 0x00FFFFFFu;
      }
    }
    target.Unlock();
  } else if (w > 0 && h > 0) {
    platform::HDC dc = target.GetDC();
    SurfaceDrawToDC(Image, dc, SurfaceBoundsRect(Image), SurfaceBoundsRect(Image));
    target.ReleaseDC();
  }
  if (dynamic_cast<TDIBX*>(&target)) target.ToMemoryImage();
  target.Rects1 = Rects1;
  target.Rects2 = Rects2;
}

void TDorvFrame::CopyAlphaToDIBX(TDIBX& target) const {
  const TDIBSurface* alpha = Image.AlphaPlane();
  if (!alpha) return;
  target.SetSize(alpha->Width(), alpha->Height(), 8);
  if (!alpha->GetEmpty()) copyAlphaRows(*alpha, target.DIB());
  target.ResetClipRect();
}

void TDorvFrame::CopyAlphaToSurface(TDIBSurface& target) const {
  const TDIBSurface* alpha = Image.AlphaPlane();
  if (!alpha) return;
  target.SetPixelFormat(MakeDIBPixelFormat(8, 8, 8));
  target.ColorTable() = alpha->ColorTable();
  target.SetSize(alpha->Width(), alpha->Height(), 8);
  target.UpdatePalette();
  if (!alpha->GetEmpty()) copyAlphaRows(*alpha, target);
}

// --- TDorvFrameList ---

TDorvFrame* TDorvFrameList::AddFrame() {
  return Add(std::make_unique<TDorvFrame>(this));
}

void TDorvFrameList::BuildAllAlpha() {
  for (const auto& frame : *this) frame->BuildAlpha();
}

// --- Registration ---

void RegisterDorvFormats(TIdentCodeSource identCode) {
  RegisterFileFormat<TJPEGImage>("jpg", "JPEG Image File");
  RegisterFileFormat<TJPEGImage>("jpeg", "JPEG Image File");
  RegisterSurfaceLoader(kDorvMagic, [identCode](TDIBSurface& surface, TKwStream& stream) {
    TDorvFrameList list(identCode ? identCode() : 0);
    LoadDorvStream(list, stream, true);
    if (TDorvFrame* frame = list.GetFrame(0)) {
      surface.Assign(frame->Image);
    } else {
      surface.Assign(TDIBSurface());
    }
  });
}

}  // namespace zirk
