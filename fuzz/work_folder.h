#pragma once
// A temporary folder for the whole run of a fuzz target, removed at exit.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zirk::fuzz {

struct WorkFolder {
  // `prefix` names the folder ("zirk-cdfuzz" makes zirk-cdfuzz-XXXXXX).
  explicit WorkFolder(const char* prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
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
