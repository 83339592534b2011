#include "app/workfiles.h"

#include <algorithm>

namespace zirk {

namespace {

void removeQuietly(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

}  // namespace

TWorkFiles::~TWorkFiles() {
  for (const Released& r : released_) removeQuietly(r.file);
  DeleteQueued();
}

void TWorkFiles::Release(const std::filesystem::path& file, uint32_t keepTime) {
  for (Released& r : released_) {
    if (r.file == file) {
      r.left = keepTime;
      return;
    }
  }
  released_.push_back({file, keepTime});
}

bool TWorkFiles::Reuse(const std::filesystem::path& file) {
  const auto it = std::find_if(released_.begin(), released_.end(),
                               [&](const Released& r) { return r.file == file; });
  if (it == released_.end()) return false;
  released_.erase(it);
  return true;
}

void TWorkFiles::QueueDelete(const std::filesystem::path& file) {
  if (std::find(queued_.begin(), queued_.end(), file) == queued_.end()) queued_.push_back(file);
}

void TWorkFiles::Age(uint32_t elapsed) {
  std::erase_if(released_, [elapsed](Released& r) {
    if (r.left > elapsed) {
      r.left -= elapsed;
      return false;
    }
    removeQuietly(r.file);
    return true;
  });
}

void TWorkFiles::DeleteQueued() {
  for (const auto& file : queued_) removeQuietly(file);
  queued_.clear();
}

}  // namespace zirk
