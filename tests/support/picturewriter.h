#pragma once
// Writes layered image files of given pixels with the player's own writer,
// for tests and benchmarks that show pictures through the image cache.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace zirk::test {

// One frame of a test picture; colours are 0x00BBGGRR.
struct TestFrame {
  int32_t Width = 1, Height = 1;
  std::vector<uint32_t> Colors;  // row-major; empty: every pixel Fill
  uint32_t Fill = 0;
  int32_t Transparent = -1;  // colour
  int32_t Delay = 100;
  std::vector<uint8_t> Alpha;  // row-major alpha plane; empty: none
};

// Saves the frames as one 24-bit layered image file.
void WritePicture(const std::filesystem::path& file, const std::vector<TestFrame>& frames);

}  // namespace zirk::test
