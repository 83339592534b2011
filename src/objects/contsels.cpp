#include "objects/contsels.h"

#include <cstdio>

#include "base/records.h"
#include "base/vrfiles.h"

namespace zirk {

namespace {

const char kTag[] = "ZirkPrevMenu";
constexpr int64_t kTagSize = 12;
// x, y, five strings, the capture mask, the companion's x and y: the least
// an entry of any version takes.
constexpr int32_t kSmallestEntry = 8 + 5 * 4 + 1 + 8;

int32_t versionOf(const std::string& digits) {
  int32_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

class TPrevMenuReader : public TRecordReader {
 public:
  TPrevMenuReader(TKwStream& stream, int32_t version, std::string folder)
      : TRecordReader(stream, version, "preview menu"), folder_(std::move(folder)) {}

  void Entry(TContSelButton& b) {
    b.X = Int();
    b.Y = Int();
    b.Pictures[psNormal] = picture();
    b.CaptureMask = Byte();
    b.Name = Str();
    for (TPrevMenuSlot s : {psHover, psLeave, psClick}) b.Pictures[s] = picture();
    if (Has(101)) b.Pictures[psDisabled] = picture();
    if (Has(103)) {
      b.Pictures[psDisabledHover] = picture();
      b.Pictures[psDisabledLeave] = picture();
    }
    for (TPrevMenuSlot s : {psHoverCompanion, psLeaveCompanion, psClickCompanion})
      b.Pictures[s] = picture();
    if (Has(102)) {
      b.Pictures[psDisabledHoverCompanion] = picture();
      b.Pictures[psDisabledLeaveCompanion] = picture();
    }
    b.CompanionX = Int();
    b.CompanionY = Int();
    b.Cursor = Str();
  }

 private:
  std::string picture() {
    std::string name = Str();
    return name.empty() ? name : ResolveDotDotPath(name, folder_);
  }
  std::string folder_;
};

}  // namespace

TContSelButton& TContSelList::Add() {
  char name[24];
  std::snprintf(name, sizeof name, "Button%.2d", Count());
  buttons_.push_back(std::make_unique<TContSelButton>(*this, name));
  return *buttons_.back();
}

void TContSelList::Clear() {
  buttons_.clear();
  Width = Height = 0;
}

void ReadPrevMenu(TContSelList& list, TKwStream& stream, const std::string& folder) {
  list.Clear();
  std::string tag(kTagSize, '\0');
  if (stream.Read(tag.data(), kTagSize) != kTagSize || tag != kTag)
    throw EPrevMenuError("ZirkPreviewMenu:このファイル形式には対応していません");
  std::string digits(3, '\0');
  const int32_t version = stream.Read(digits.data(), 3) == 3 ? versionOf(digits) : 0;
  if (version < kPrevMenuFirstVersion || version > kPrevMenuVersion)
    throw EPrevMenuError("ZirkPreviewMenu:このバージョンのファイル形式には対応していません");
  TPrevMenuReader in(stream, version, folder);
  list.Width = in.Int();
  list.Height = in.Int();
  const int32_t count = in.Count(kSmallestEntry);
  for (int32_t i = 0; i < count; ++i) {
    TContSelButton button(list, std::string());
    in.Entry(button);
    TContSelButton& added = list.Add();
    const std::string name = added.ButtonName;
    added = button;
    added.ButtonName = name;
  }
}

}  // namespace zirk
