#pragma once
// Wipe tracks drive no object: the film reads them to flip its owner
// scene's screens with a transition while they run.

#include <cstdint>
#include <string>

#include "objects/tracks.h"

namespace zirk {

// A span in which the film's owner scene flips between its screens with a
// transition.
class TWipeFrameList : public TCustomFrameList {
 public:
  explicit TWipeFrameList(TFilmManager& film);
  ~TWipeFrameList() override;
  TTrackType GetType() const override { return ttWipe; }
  int32_t FrameIndexAt(int32_t) const override { return 0; }

  uint8_t GetWipeKind() const { return wipeKind_; }
  uint8_t GetWipeFlag() const { return flag_; }
  int32_t GetWipeParam0() const { return p0_; }
  int32_t GetWipeParam1() const { return p1_; }
  const std::string& GetWipeMask() const { return mask_; }
  // A change makes the film restart the transition at its next time.
  void SetWipeKind(uint8_t kind);
  void SetWipeFlag(uint8_t flag);
  void SetWipeParam0(int32_t value);
  void SetWipeParam1(int32_t value);
  void SetWipeMask(const std::string& name);

  void SaveToStream(TFilmRecordWriter& out) override;
  void LoadFromStream(TFilmRecordReader& in) override;

 private:
  template <typename T>
  void change(T& field, const T& value);

  uint8_t wipeKind_ = 1;
  uint8_t flag_ = 0;
  int32_t p0_ = 0, p1_ = 0;
  std::string mask_;
};

// Registers the wipe (3) track kind.
void RegisterWipeTracks();

}  // namespace zirk
