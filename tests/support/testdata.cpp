#include "support/testdata.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace zirk::test {

std::filesystem::path dataPath(const std::string& relative) {
  return std::filesystem::path(ZIRK_TEST_DATA_DIR) / relative;
}

std::vector<unsigned char> readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const void* data, size_t size) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

}  // namespace zirk::test
