#pragma once
// GIF's variable-length-code LZW: the image data after a frame's descriptor
// (minimum code size byte, data sub-blocks, zero terminator) to and from
// one colour index per pixel, in plain or interlaced row order.

#include <cstdint>
#include <functional>
#include <string>

#include "base/streams.h"

namespace zirk {

class TGIFSubImage;

using TGIFWarningSink = std::function<void(const std::string& message)>;

// Rows of an interlaced frame in file order: 0, 8, 16, ...; 4, 12, ...;
// 2, 6, ...; 1, 3, 5, ...
int GIFInterlacedRow(int fileRow, int height);

// Reads the image data at the stream position into pixels (width x height
// bytes, already zeroed), rows top to bottom. Corrupt data (a minimum code
// size of 0 or above 11, a code past the next free one) stops decoding with
// "Premature end of data"; pixels not reached stay 0. The stream is left
// after the data's zero terminator (or at its end).
void DecodeGIFPixels(TKwStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
                     const TGIFWarningSink& warn);
// Writes the image data of the pixels with the given bits per pixel (1..8);
// the code size is raised to fit the largest pixel value.
void EncodeGIFPixels(TKwStream& stream, const uint8_t* pixels, int width, int height,
                     bool interlaced, int bitsPerPixel);

// The frame's own pixel data, interlace flag, colour table size and warnings.
void DecodeImageData(TGIFSubImage& frame, TKwStream& stream);
void EncodeImageData(TGIFSubImage& frame, TKwStream& stream);

}  // namespace zirk
