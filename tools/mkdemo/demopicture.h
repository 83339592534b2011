#pragma once
// The demo's pictures are drawn pixel by pixel by a painter and saved with
// the player's own layered-image writer.

#include <cstdint>
#include <filesystem>
#include <functional>

namespace zirk::demo {

// The colour that the pictures with a key leave out.
constexpr uint32_t kKey = 0xFF00FF;

// What a picture has at one pixel: a 0x00BBGGRR colour and its alpha.
struct Pixel {
  uint32_t color = 0;
  uint8_t alpha = 255;
};
using Painter = std::function<Pixel(int32_t x, int32_t y, int32_t frame)>;

uint32_t rgb(double r, double g, double b);
// a and b mixed, t = 0 giving a and t = 1 giving b.
uint32_t mix(uint32_t a, uint32_t b, double t);

struct PictureSpec {
  int32_t width, height, frames = 1;
  int32_t delay = 100;       // ms per frame
  bool alpha = false;        // an alpha plane from the painter
  int32_t transparent = -1;  // a colour key
};

// Raises an error of the file layer when the file cannot be written.
void writePicture(const std::filesystem::path& file, const PictureSpec& spec, const Painter& paint);

}  // namespace zirk::demo
