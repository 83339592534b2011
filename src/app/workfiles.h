#pragma once
// Temporary work files: files extracted for a player that needs a host file.
// A released file is kept a while in case it is wanted again, ageing by each
// tick's elapsed time, and deleted when its time runs out; files queued for
// deletion go on the next tick, and every one of them at exit.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zirk {

class TWorkFiles {
 public:
  // How long a released file is kept, in ms.
  static constexpr uint32_t kKeepTime = 60000;

  TWorkFiles() = default;
  ~TWorkFiles();  // deletes every file it still knows
  TWorkFiles(const TWorkFiles&) = delete;
  TWorkFiles& operator=(const TWorkFiles&) = delete;

  // A file no player uses any more: deleted after keepTime ms of ticks
  // unless Reuse takes it back first.
  void Release(const std::filesystem::path& file, uint32_t keepTime = kKeepTime);
  // Takes a released file back; false when it is not waiting.
  bool Reuse(const std::filesystem::path& file);
  // Deleted on the next tick.
  void QueueDelete(const std::filesystem::path& file);

  // Ages the released files and deletes those whose time ran out.
  void Age(uint32_t elapsed);
  void DeleteQueued();

  size_t ReleasedCount() const { return released_.size(); }
  size_t QueuedCount() const { return queued_.size(); }

 private:
  struct Released {
    std::filesystem::path file;
    uint32_t left;
  };
  std::vector<Released> released_;
  std::vector<std::filesystem::path> queued_;
};

}  // namespace zirk
