#include "objects/trackswipe.h"

namespace zirk {

TWipeFrameList::TWipeFrameList(TFilmManager& film) : TCustomFrameList(film) {
  Length = 1;
  Frames.push_back(std::make_unique<TBoxFrame>(*this));
}

TWipeFrameList::~TWipeFrameList() {
  if (Film().LastWipe == this) Film().LastWipe = nullptr;
}

template <typename T>
void TWipeFrameList::change(T& field, const T& value) {
  if (field == value) return;
  field = value;
  Film().LastWipe = nullptr;
}

void TWipeFrameList::SetWipeKind(uint8_t kind) {
  change(wipeKind_, kind);
}
void TWipeFrameList::SetWipeFlag(uint8_t flag) {
  change(flag_, flag);
}
void TWipeFrameList::SetWipeParam0(int32_t value) {
  change(p0_, value);
}
void TWipeFrameList::SetWipeParam1(int32_t value) {
  change(p1_, value);
}
void TWipeFrameList::SetWipeMask(const std::string& name) {
  change(mask_, name);
}

void TWipeFrameList::SaveToStream(TFilmRecordWriter& out) {
  TCustomFrameList::SaveToStream(out);
  out.Byte(wipeKind_);
  // The reader puts the film's folder back in front of a relative name.
  const std::string& folder = out.Folder();
  bool inFolder = !folder.empty() && mask_.size() > folder.size() &&
                  mask_.compare(0, folder.size(), folder) == 0;
  out.Str(inFolder ? mask_.substr(folder.size()) : mask_);
  out.Int(p0_);
  out.Int(p1_);
  out.Byte(flag_);
}

void TWipeFrameList::LoadFromStream(TFilmRecordReader& in) {
  TCustomFrameList::LoadFromStream(in);
  SetWipeKind(in.Byte());
  if (!in.Has(101)) return;
  std::string mask = in.Str();
  // Only a plain concatenation: mask names never climb out with "..\".
  bool absolute = !mask.empty() && (mask[0] == '\\' || (mask.size() > 1 && mask[1] == ':'));
  if (!mask.empty() && !absolute) mask = in.Folder() + mask;
  SetWipeMask(mask);
  SetWipeParam0(in.Int());
  SetWipeParam1(in.Int());
  SetWipeFlag(in.Byte());
}

void RegisterWipeTracks() {
  RegisterTrackKind(ttWipe, [](TFilmManager& film) -> std::unique_ptr<TCustomFrameList> {
    return std::make_unique<TWipeFrameList>(film);
  });
}

}  // namespace zirk
