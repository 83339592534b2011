// Reads arbitrary bytes as a GIF file. Any input must end in a picture or
// a zirk::Exception; a picture that loads must compose every frame, and
// what it saves must load again with the same pixels in its frames.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/streams.h"
#include "imaging/GIFImage.h"
#include "imaging/GIFImagePainter.h"

namespace {

constexpr int64_t kMaxWork = int64_t(1) << 16;  // pixels

std::vector<const zirk::TGIFSubImage*> framesOf(const zirk::TGIFImage& image) {
  std::vector<const zirk::TGIFSubImage*> frames;
  for (int i = 0; i < image.Count(); ++i) {
    if (!image.Images(i).Empty()) frames.push_back(&image.Images(i));
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zirk::TGIFImage image;
  // A frame's pixels are allocated before they are decoded, so a few bytes
  // can ask for the whole default budget.
  image.PixelBudget = kMaxWork * 8;
  try {
    zirk::TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
    image.LoadFromStream(stream);
  } catch (const zirk::Exception&) {
    return 0;
  }
  // Keep the work per input small: composing is per screen pixel and frame,
  // writing per frame pixel. Screens beyond the picture's budget refuse with
  // EOutOfResources.
  if (int64_t(image.GetWidth()) * image.GetHeight() * image.Count() <= kMaxWork) {
    try {
      zirk::GIFComposeFrames(image, -1, nullptr);
    } catch (const zirk::Exception&) {
    }
  }
  int64_t pixels = 0;
  for (const auto* frame : framesOf(image)) pixels += int64_t(frame->Width) * frame->Height;
  if (pixels > kMaxWork) return 0;
  zirk::TKwMemoryStream saved;
  if (image.Count() == 0) return 0;  // a picture without frames has no version to write
  image.SaveToStream(saved);
  saved.SetPosition(0);
  zirk::TGIFImage back;
  back.LoadFromStream(saved);
  const auto before = framesOf(image);
  const auto after = framesOf(back);
  if (before.size() != after.size()) __builtin_trap();
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i]->Data() != after[i]->Data()) __builtin_trap();
  }
  return 0;
}
