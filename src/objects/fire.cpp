#include "objects/fire.h"

#include <algorithm>
#include <cmath>

#include "base/records.h"
#include "scene/factory.h"
#include "scene/proptable.h"
#include "scene/runtime.h"
#include "surfaces/pixelmath.h"

namespace zirk {

namespace {

// Rows of the flame's colours, (heat, red, green, blue); between them the
// channels run in straight lines.
struct TColorRow {
  int32_t Heat;
  int32_t R, G, B;
};
constexpr TColorRow kFireRows[] = {
    {0, 0, 0, 0},        {16, 51, 19, 1},      {32, 102, 39, 3},     {64, 146, 62, 4},
    {96, 190, 85, 6},    {112, 213, 97, 7},    {128, 223, 117, 9},   {160, 243, 157, 13},
    {192, 255, 192, 55}, {224, 255, 211, 115}, {255, 255, 230, 175},
};

int32_t between(int32_t a, int32_t b, int32_t k, int32_t n) {
  return static_cast<int32_t>(std::nearbyint(a + double(b - a) * k / n));
}

std::array<uint32_t, 256> makeTable32() {
  std::array<uint32_t, 256> t{};
  for (size_t r = 0; r + 1 < std::size(kFireRows); ++r) {
    const TColorRow& a = kFireRows[r];
    const TColorRow& b = kFireRows[r + 1];
    const int32_t n = b.Heat - a.Heat;
    for (int32_t k = 0; k <= n; ++k) {
      const uint32_t red = uint32_t(between(a.R, b.R, k, n));
      const uint32_t green = uint32_t(between(a.G, b.G, k, n));
      const uint32_t blue = uint32_t(between(a.B, b.B, k, n));
      t[size_t(a.Heat + k)] = red << 16 | green << 8 | blue;
    }
  }
  return t;
}

// The 16-bit table is the 32-bit one packed 5-6-5 by dropping low bits.
std::array<uint32_t, 256> makeTable16(const std::array<uint32_t, 256>& t32) {
  std::array<uint32_t, 256> t{};
  for (size_t i = 0; i < 256; ++i) {
    const uint32_t c = t32[i];
    t[i] = ((c >> 19) & 0x1F) << 11 | ((c >> 10) & 0x3F) << 5 | ((c >> 3) & 0x1F);
  }
  return t;
}

// A 5-6-5 table for a 5-5-5 surface: green loses its lowest bit.
std::array<uint32_t, 256> makeTable15(const std::array<uint32_t, 256>& t16) {
  std::array<uint32_t, 256> t{};
  for (size_t i = 0; i < 256; ++i) {
    const uint32_t c = t16[i];
    t[i] = (c >> 11) << 10 | ((c >> 6) & 0x1F) << 5 | (c & 0x1F);
  }
  return t;
}

const std::array<uint32_t, 256>& colorTable15() {
  static const std::array<uint32_t, 256> t = makeTable15(TZirkFire::ColorTable16());
  return t;
}

int32_t shownSize(int32_t base, int32_t zoom) {
  return pixelmath::Saturate32(int64_t(base) * zoom / 256);
}

}  // namespace

const std::array<uint32_t, 256>& TZirkFire::ColorTable32() {
  static const std::array<uint32_t, 256> t = makeTable32();
  return t;
}

const std::array<uint32_t, 256>& TZirkFire::ColorTable16() {
  static const std::array<uint32_t, 256> t = makeTable16(ColorTable32());
  return t;
}

TZirkFire::TZirkFire(TZirkBaseList& scene)
    : TZirkControl(scene), heat_(std::make_unique<TDIBX>(8, 8, 8)), random_(uint32_t(Serial())) {
  heat_->SetColorKey(kColdHeat);
  // The table starts from 4.5 while the power reads 1; it follows the
  // power once the power changes.
  buildDecayTable(4.5);
}

TZirkFire::~TZirkFire() = default;

void TZirkFire::buildDecayTable(double p) {
  for (int32_t i = 0; i < 1024; ++i) {
    const double x = (1023 - i) / 1023.0;
    const double v = std::nearbyint(i / (p - 0.05 * x * x * x));
    decay_[size_t(i)] = static_cast<uint8_t>(std::min(254.0, v));
  }
}

void TZirkFire::SetPower(int32_t power) {
  if (power == power_) return;
  power_ = std::clamp(power, 0, 255);
  buildDecayTable((128 - power_) / 128.0 * 1.2825 + 4.2175);
}

void TZirkFire::updateShownSize() {
  StoreSize(shownSize(baseWidth_, zoomX_), shownSize(baseHeight_, zoomY_));
}

void TZirkFire::resize(int32_t& field, int32_t value, int32_t stored) {
  if (value == field) return;
  Invalidate();
  field = stored;
  updateShownSize();
  Invalidate();
}

void TZirkFire::SetZoomX(int32_t zoom) {
  resize(zoomX_, zoom, std::max(zoom, 1));
}

void TZirkFire::SetZoomY(int32_t zoom) {
  resize(zoomY_, zoom, std::max(zoom, 1));
}

void TZirkFire::SetBaseWidth(int32_t width) {
  if (width == baseWidth_) return;
  resize(baseWidth_, width, width);
  phase_ = 0;
}

void TZirkFire::SetBaseHeight(int32_t height) {
  if (height == baseHeight_) return;
  resize(baseHeight_, height, height);
  phase_ = 0;
}

int64_t TZirkFire::SimulationBytes(int32_t width, int32_t height, int32_t side) {
  side = std::clamp(side, 0, kMaxCells);
  return int64_t(std::clamp(width, 0, side)) * std::clamp(height, 0, side) * kCellBytes;
}

int64_t TZirkFire::FitSimulation(int64_t bytes) {
  // The bytes grow with the side: the largest side that fits, by halves.
  int32_t low = 0, high = kMaxCells;
  while (low < high) {
    const int32_t side = low + (high - low + 1) / 2;
    if (SimulationBytes(baseWidth_, baseHeight_, side) <= bytes)
      low = side;
    else
      high = side - 1;
  }
  if (low != MaxSide) {
    MaxSide = low;
    phase_ = 0;
  }
  return SimulationBytes(baseWidth_, baseHeight_, low);
}

void TZirkFire::Build() {
  if (phase_ != 0) return;
  // A base size no surface can have is simulated at the nearest one that can.
  const int32_t side = std::clamp(MaxSide, 0, kMaxCells);
  const int32_t w = std::clamp(baseWidth_, 0, side);
  const int32_t h = std::clamp(baseHeight_, 0, side);
  if (heat_->Width() != w || heat_->Height() != h || heat_->StorageBitCount() != 8)
    heat_->SetSize(w, h, 8);
  colOffset_ = 0;
  rowOffset_ = 0;
  noise_.resize(size_t(w) * size_t(h));
  for (uint8_t& n : noise_) n = static_cast<uint8_t>(random_.Int(9));
  colWrap_.resize(size_t(2 * w));
  rowWrap_.resize(size_t(2 * h));
  for (int32_t i = 0; i < 2 * w; ++i) colWrap_[size_t(i)] = i % w;
  for (int32_t i = 0; i < 2 * h; ++i) rowWrap_[size_t(i)] = i % h;
  for (int32_t i = 0; i < 256; ++i) floor_[size_t(i)] = uint8_t(i < kColdHeat ? kColdHeat : i);
  heat_->FillRect(heat_->GetBoundsRect(), kColdHeat);
  phase_ = 1;
}

void TZirkFire::Step() {
  if (colWrap_.empty() || rowWrap_.empty()) return;
  const platform::PixelBuffer px = heat_->Pixels();
  const int32_t w = px.width, h = px.height;
  if (px.empty() || size_t(w) * 2 != colWrap_.size() || size_t(h) * 2 != rowWrap_.size()) return;
  rowOffset_ = rowWrap_[size_t(rowOffset_ + 1)];
  colOffset_ = colWrap_[size_t(rowOffset_ % 8 == 0 ? colOffset_ + 1 : colOffset_)];
  for (int32_t y = std::max(0, h - 4); y < h; ++y) std::fill_n(px.row(y), w, uint8_t(254));
  if (w < 3 || h < 3) return;
  const int32_t* cols = colWrap_.data() + colOffset_;
  for (int32_t y = 0; y <= h - 3; ++y) {
    uint8_t* row = px.row(y);
    const uint8_t* below = px.row(y + 1);
    const uint8_t* below2 = px.row(y + 2);
    const uint8_t* noise = noise_.data() + size_t(rowWrap_[size_t(rowOffset_ + y + 1)]) * size_t(w);
    for (int32_t x = 1; x <= w - 2; ++x) {
      const int32_t s = below[x - 1] + below[x + 1] + row[x] + below2[x];
      const int32_t v = int32_t(decay_[size_t(s)]) - noise[cols[x]];
      row[x] = v < kColdHeat ? kColdHeat : floor_[size_t(v)];
    }
  }
}

bool TZirkFire::Tick() {
  const bool done = TZirkControl::Tick();
  if (phase_ == 0) {
    Build();
  } else if (GetPropInt(PR_ANIPAUSED) == 0) {
    timeStore_ = pixelmath::Saturate32(int64_t(timeStore_) + ElapsedTime());
    if (timeStore_ >= kStepMs) {
      timeStore_ %= kStepMs;
      Step();
      Invalidate();
    }
  }
  return done;
}

void TZirkFire::Draw() {
  if (TCustomDIBX* target = GetDrawSurface()) {
    const std::array<uint32_t, 256>* table = nullptr;
    switch (target->StorageBitCount()) {
      case 16:
        table = target->BitCount() == 15 ? &colorTable15() : &ColorTable16();
        break;
      case 32:
        table = &ColorTable32();
        break;
      default:
        break;
    }
    // The mode value 17 asks the surfaces for their additive table draw.
    constexpr int32_t kTableMode = 17;
    if (table && !heat_->IsEmpty()) {
      if (zoomX_ == 256 && zoomY_ == 256)
        target->DrawAddTable(GetDrawLeft(), GetDrawTop(), *heat_, heat_->GetBoundsRect(), false,
                             false, table->data(), 255, kTableMode);
      else
        target->StretchDrawAddTable(GetScreenRect(), *heat_, heat_->GetBoundsRect(), false, false,
                                    table->data(), 255, kTableMode);
    }
  }
  TZirkControl::Draw();
}

const TPropTable& TZirkFire::Properties() const {
  using P = TPropField<TZirkFire>;
  static const TPropTable table(
      TZirkControl::Properties(),
      {
          P(PR_ZOOMX, &TZirkFire::zoomX_).Set(&TZirkFire::SetZoomX),
          P(PR_ZOOMY, &TZirkFire::zoomY_).Set(&TZirkFire::SetZoomY),
          P(PR_PAUSED, &TZirkFire::paused_),
          P(PR_WIDTH).ReadOnly(),
          P(PR_HEIGHT).ReadOnly(),
          P(PR_POWER, &TZirkFire::power_).Set(&TZirkFire::SetPower),
          P(PR_ORIGWIDTH, &TZirkFire::baseWidth_).Set(&TZirkFire::SetBaseWidth),
          P(PR_ORIGHEIGHT, &TZirkFire::baseHeight_).Set(&TZirkFire::SetBaseHeight),
          P(PR_ONIDLE, &TZirkFire::onIdle_),
          P(PR_PLAYING).Get([](TZirkFire& f) {
            return !f.paused_ && f.GetPropInt(PR_ANIPAUSED) == 0;
          }),
      });
  return table;
}

void TZirkFire::SaveToStream(TKwStream& stream) {
  TZirkControl::SaveToStream(stream);
  TRecordWriter out(stream);
  out.Int(power_);
  out.Int(baseWidth_);
  out.Int(baseHeight_);
  out.Int(zoomX_);
  out.Str(onIdle_);
  out.Bool(paused_);
  out.Int(zoomY_);
}

void TZirkFire::LoadFromStream(TKwStream& stream, int32_t version) {
  TZirkControl::LoadFromStream(stream, version);
  TRecordReader in(stream, version, "saved fire record");
  SetPower(in.Int());
  baseWidth_ = in.Int();
  baseHeight_ = in.Int();
  SetZoomX(in.Int());
  if (in.Has(104)) {
    onIdle_ = in.Str();
    paused_ = in.Bool();
    SetZoomY(in.Int());
  }
  phase_ = 0;
}

void RegisterZirkFire() {
  RegisterKind(LT_FIRE, [](TZirkBaseList& scene) { return std::make_unique<TZirkFire>(scene); });
}

}  // namespace zirk
