#pragma once
// The JPEG picture: a graphic of the picture layer backed by libjpeg-turbo.
// It holds the compressed data and the decoded 24-bit bitmap side by side;
// whichever was set last is the truth and the other is made on demand.
// Layered images use the free functions directly on plane data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "surfaces/dib.h"
#include "surfaces/graphics.h"

namespace zirk {

// libjpeg's own message for data it cannot decode or encode.
class EJPEG : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

struct TJpegInfo {
  int Width = 0;
  int Height = 0;
  int Components = 0;
};

// Reads the header only. Raises EJPEG for data that is not a usable JPEG
// (CMYK and YCCK included) or a picture beyond the bitmap limits.
TJpegInfo JpegReadInfo(const uint8_t* data, size_t size);
// Decodes into a 24-bit bitmap that already has the picture's size (grey
// pictures are expanded to B, G, R); raises EJPEG otherwise.
void JpegDecodeInto(const uint8_t* data, size_t size, TDIB& target24);
// Reads the header once and decodes into the bitmap that `target` gives for
// it, which must be 24-bit and of the picture's size; `target` may raise to
// refuse the picture.
using TJpegTarget = std::function<TDIB&(const TJpegInfo& info)>;
void JpegDecodeWith(const uint8_t* data, size_t size, const TJpegTarget& target);
// Sizes the bitmap to 24 bits and decodes into it.
void JpegDecode(const uint8_t* data, size_t size, TDIB& target);
// Encodes a picture of any bit count (converted through 24 bits) at quality
// 0..100 (clamped).
std::vector<uint8_t> JpegEncode(const TDIB& image, int quality);

class TJPEGImage : public TGraphic {
 public:
  TJPEGImage();
  ~TJPEGImage() override;

  std::string ClassName() const override { return "TJPEGImage"; }

  int GetWidth() const override { return bitmap_.Width(); }
  int GetHeight() const override { return bitmap_.Height(); }
  bool GetEmpty() const override { return bitmap_.GetEmpty(); }
  // A JPEG picture cannot be resized in place.
  void SetWidth(int value) override;
  void SetHeight(int value) override;

  // 1..100, used when the picture is compressed from a bitmap.
  int CompressionQuality = 90;

  // Takes the rest of the stream as the JPEG data and decodes it; the
  // picture is unchanged when decoding fails.
  void LoadFromStream(TKwStream& stream) override;
  void LoadFromMemory(const uint8_t* data, size_t size);
  // Writes the JPEG data, compressing the bitmap first when it changed.
  void SaveToStream(TKwStream& stream) override;
  const std::vector<uint8_t>& Data();
  // Compresses the bitmap again at CompressionQuality.
  void Compress();

  // From another JPEG picture, or from anything that gives a bitmap.
  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;
  void Draw(TDIB& canvas, const TRect& rect) override;

  const TDIB& Bitmap() const { return bitmap_; }

 private:
  TDIB bitmap_;
  std::vector<uint8_t> data_;
  bool dataValid_ = false;
};

}  // namespace zirk
