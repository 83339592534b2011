#pragma once
// Screen transitions. A screen flip with a WP_ id other than WP_NONE makes
// one; the film that asked for it then sets its two parameters, the mask
// picture's name and lets it prepare; the flip hands over its flag byte.
// Each painted frame the scene sets the transition's time and lets it
// compose the old screen and the new one into the presented picture.
//
// Every effect id is served by a cross-fade. A transition that needs more
// (the mask transition driven by a layered picture's grey levels) is a
// subclass made by a factory that the layer owning the pictures passes to
// CreateWipe; its Prepare loads what SetName named.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "surfaces/dibx.h"

namespace zirk {

class TCustomWipe {
 public:
  explicit TCustomWipe(int32_t kind) : kind_(kind) {}
  virtual ~TCustomWipe() = default;
  TCustomWipe(const TCustomWipe&) = delete;
  TCustomWipe& operator=(const TCustomWipe&) = delete;

  int32_t Kind() const { return kind_; }

  // Parameters 0 and 1 of the effect; other indices are ignored.
  void SetParam(int32_t index, int32_t value);
  int32_t GetParam(int32_t index) const;
  // Name of the mask picture (a game file name); empty for none.
  void SetName(const std::string& name) { name_ = name; }
  const std::string& GetName() const { return name_; }
  void SetFlag(uint8_t flag) { flag_ = flag; }
  uint8_t GetFlag() const { return flag_; }
  // Called once after the settings above; loads what the effect needs.
  virtual void Prepare() { prepared_ = true; }
  bool Prepared() const { return prepared_; }

  // Length and current time in film ticks. A length below 1 counts as 1.
  void SetLength(int32_t ticks) { length_ = std::max<int32_t>(ticks, 1); }
  int32_t Length() const { return length_; }
  void SetElapsed(int32_t ticks) { elapsed_ = std::clamp<int32_t>(ticks, 0, length_); }
  void Advance(int32_t ticks) {
    SetElapsed(int32_t(std::min<int64_t>(int64_t(elapsed_) + ticks, length_)));
  }
  int32_t Elapsed() const { return elapsed_; }
  bool Finished() const { return elapsed_ >= length_; }
  // How much of the new screen shows, 0..255 (255 once finished).
  int32_t Level() const { return int32_t(int64_t(elapsed_) * 255 / length_); }

  // Writes the frame at the current time into dest: the old screen turning
  // into the new one. dest may be either screen's surface or a third one
  // of the same size.
  virtual void Compose(TCustomDIBX& dest, const TCustomDIBX& oldScreen,
                       const TCustomDIBX& newScreen) = 0;

 private:
  int32_t kind_;
  int32_t params_[2] = {0, 0};
  std::string name_;
  uint8_t flag_ = 0;
  bool prepared_ = false;
  int32_t length_ = 1;
  int32_t elapsed_ = 0;
};

// The new screen fades in over the old one.
class TCrossFadeWipe : public TCustomWipe {
 public:
  using TCustomWipe::TCustomWipe;
  void Compose(TCustomDIBX& dest, const TCustomDIBX& oldScreen,
               const TCustomDIBX& newScreen) override;
};

// Makes a transition for an effect id; nullptr when none applies.
using TWipeFactory = std::function<std::unique_ptr<TCustomWipe>(int32_t kind)>;

// nullptr for WP_NONE and ids outside WP_NONE..WP_BLOCKRANDOM. Otherwise
// the special factory's transition when it makes one, else a cross-fade.
std::unique_ptr<TCustomWipe> CreateWipe(int32_t kind, int32_t lengthTicks, int32_t elapsedTicks,
                                        const TWipeFactory& special = nullptr);

}  // namespace zirk
