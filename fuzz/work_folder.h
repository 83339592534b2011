#pragma once
// A temporary folder for the whole run of a fuzz target, removed at exit; in
// memory where the system has a memory file system, as targets write their
// files anew for every input.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zirk::fuzz {

struct WorkFolder {
  // `prefix` names the folder ("zirk-cdfuzz" makes zirk-cdfuzz-XXXXXX).
  explicit WorkFolder(const char* prefix) {
    std::error_code ec;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  std::filesystem::path path;
};

}  // namespace zirk::fuzz
