#pragma once
// Shared test helpers: where the checked-in test files are, and a private
// temporary folder per test that is removed afterwards.

#include <filesystem>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace zirk::test {

// Absolute path of a file under tests/data.
std::filesystem::path dataPath(const std::string& relative);

// Reads a whole file; fails the current test when it cannot.
std::vector<unsigned char> readFile(const std::filesystem::path& path);

void writeFile(const std::filesystem::path& path, const void* data, size_t size);
inline void writeFile(const std::filesystem::path& path, const std::string& text) {
  writeFile(path, text.data(), text.size());
}

}  // namespace zirk::test
