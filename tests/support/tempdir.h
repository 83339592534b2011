#pragma once
// A private temporary folder, removed with everything in it by the
// destructor; plain code, so benchmarks use it as well as tests.

#include <filesystem>
#include <string>

namespace zirk::test {

// A fresh folder under the system temporary folder, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace zirk::test
