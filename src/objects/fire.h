#pragma once
// The fire (LT_FIRE): a flame grown by a cellular heat simulation on an
// 8-bit surface, stepped 25 times a second of game time and added onto
// the screen through a colour table indexed by heat. The simulation has
// PR_ORIGWIDTH x PR_ORIGHEIGHT cells and is shown zoomed by PR_ZOOMX /
// PR_ZOOMY (1/256); PR_POWER (0..255) sets how far the heat rises. Film
// fire tracks drive it as scripts do.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "objects/effectrandom.h"
#include "scene/zcontrol.h"
#include "surfaces/dibx.h"

namespace zirk {

class TZirkFire : public TZirkControl {
 public:
  // The heat every cell falls back to; the surface's colour key, so cells
  // this cold add nothing.
  static constexpr uint8_t kColdHeat = 16;
  // Milliseconds of game time per simulation step.
  static constexpr int32_t kStepMs = 40;
  // Largest simulation side; larger base sizes are simulated at this size.
  static constexpr int32_t kMaxCells = 4096;
  // This fire's largest simulation side (at most kMaxCells): a smaller one
  // bounds the work of each step where time matters more than size.
  int32_t MaxSide = kMaxCells;
  // Bytes one simulated cell takes: its heat and its noise.
  static constexpr int64_t kCellBytes = 2;
  // Bytes the simulation of a base size takes with a largest side.
  static int64_t SimulationBytes(int32_t width, int32_t height, int32_t side);
  // Lowers (or raises, up to kMaxCells) MaxSide to the largest side whose
  // simulation fits in `bytes`; a change builds the simulation again.
  // Returns the bytes the simulation takes then.
  int64_t FitSimulation(int64_t bytes);

  explicit TZirkFire(TZirkBaseList& scene);
  ~TZirkFire() override;

  int32_t GetKind() const override { return LT_FIRE; }
  const TPropTable& Properties() const override;

  int32_t Power() const { return power_; }
  void SetPower(int32_t power);
  int32_t ZoomX() const { return zoomX_; }
  int32_t ZoomY() const { return zoomY_; }
  void SetZoomX(int32_t zoom);
  void SetZoomY(int32_t zoom);
  void SetBaseWidth(int32_t width);
  void SetBaseHeight(int32_t height);

  // The simulation, for tests and the benchmark.
  TEffectRandom& Random() { return random_; }
  const TDIBX& HeatSurface() const { return *heat_; }
  const std::array<uint8_t, 1024>& DecayTable() const { return decay_; }
  int32_t TimeStore() const { return timeStore_; }
  // Builds the simulation now when it is due (as the next tick would).
  void Build();
  void Step();

  // Fire colours by heat: 32-bit 0x00RRGGBB and 16-bit 5-6-5.
  static const std::array<uint32_t, 256>& ColorTable32();
  static const std::array<uint32_t, 256>& ColorTable16();

  bool Tick() override;
  void Draw() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  void buildDecayTable(double p);
  // The shown size from the base size and the zoom.
  void updateShownSize();
  // A changed value stored (as `stored`) with the shown size redrawn.
  void resize(int32_t& field, int32_t value, int32_t stored);

  int32_t power_ = 1;
  int32_t baseWidth_ = 0, baseHeight_ = 0;
  int32_t zoomX_ = 0, zoomY_ = 0;
  std::unique_ptr<TDIBX> heat_;
  std::vector<uint8_t> noise_;
  // Indexes wrapped around the width and height, twice over, so offsets
  // added to positions need no modulo.
  std::vector<int32_t> colWrap_, rowWrap_;
  std::array<uint8_t, 256> floor_{};
  std::array<uint8_t, 1024> decay_{};
  int32_t colOffset_ = 0, rowOffset_ = 0;
  int32_t phase_ = 0;
  std::string onIdle_;
  bool paused_ = false;
  int32_t timeStore_ = 0;
  TEffectRandom random_;
};

// Registers LT_FIRE with the scene's kind factory.
void RegisterZirkFire();

}  // namespace zirk
