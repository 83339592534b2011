#pragma once
// Layered animated images (".dor"), the system's own picture format: a list
// of frames, each composed from a stack of layers while the file is read.
// This unit holds the in-memory classes, the reader and the writer, and the
// operations that the image cache, films and transition masks apply to
// loaded frames. After a load only the composed frame pictures remain.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/lists.h"
#include "base/streams.h"
#include "surfaces/dibsfc.h"
#include "surfaces/dibx.h"
#include "surfaces/graphics.h"

namespace zirk {

// A layered image that cannot be read or written: damaged, truncated, or
// asking for more than a picture may have. A failed load leaves the list
// empty.
class EDorvError : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

// The compression kind byte of the header. A reader takes every other
// value for planes stored as they are, as with dcNone.
enum DorvCompression : uint8_t {
  dcDefault = 0,        // pixel and alpha planes as zlib streams
  dcNone = 1,           // planes stored as they are
  dcNonreversible = 2,  // pixel plane as a JPEG file, alpha plane as zlib
};
// "Default compression", "No compression", "Nonreversible compression";
// an empty string for other values.
const char* DorvCompressionName(int kind);

inline constexpr char kDorvMagic[] = "Dorv";
inline constexpr int32_t kDorvWriteVersion = 106;
inline constexpr int32_t kDorvHeaderSize = 40;

// The 40-byte header record of files from version 103 on. Files of older
// versions get a zero record whose version is the tag's.
struct TDorvHeader {
  int32_t Version = 0;  // gates the fields of frames and layers
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitCount = 0;
  int32_t FrameCount = 0;
  uint8_t Flag = 0;
  uint8_t Scramble = 0;
  uint8_t Compression = 0;
  uint8_t Reserved1 = 0;
  int32_t Background = 0;  // 0x00BBGGRR
  int32_t TileWidth = 0;
  int32_t TileHeight = 0;
  uint8_t PlainFirstLayer = 0;
  uint8_t Quality = 0;
  uint8_t Reserved2[2] = {0, 0};

  bool operator==(const TDorvHeader&) const = default;
};
std::array<uint8_t, kDorvHeaderSize> EncodeDorvHeader(const TDorvHeader& header);
// Reads the first `length` bytes (at most 40) of a record; the rest stays 0.
TDorvHeader DecodeDorvHeader(const uint8_t* bytes, int length);

// One entry of a tiled plane's tile table.
struct DorvTileRef {
  int32_t Kind = -1;  // -1 stored here, -2 copy of an earlier tile, >= 0 a frame
  int32_t Value = 0;  // the earlier tile, or the layer of that frame
};
inline constexpr int32_t kTileStored = -1;
inline constexpr int32_t kTileRepeat = -2;

// The order in which rows (or tile-table entries) are stored when a file is
// scrambled: stored item i is item result[i]. Equal to dealing 0..n-1 with
// a fresh TKwRandom of the given increment and drawing n times, computed in
// n log n so that large tile tables stay cheap.
std::vector<int32_t> DorvPermutation(int32_t n, uint32_t increment);

// The most a load may allocate for frame and layer pictures together
// unless a list is told otherwise.
inline constexpr int64_t kDorvMaxLoadBytes = int64_t{1} << 30;

class TDorvFrame;
class TDorvFrameList;

class TDorvLayer {
 public:
  explicit TDorvLayer(TDorvFrame* owner) : Owner(owner) {}
  TDorvLayer(const TDorvLayer&) = delete;
  TDorvLayer& operator=(const TDorvLayer&) = delete;

  TDorvFrame* Owner;
  // Same size and bit count as the frame; may carry an 8-bit alpha plane.
  TDIBSurface Image;
  bool Visible = true;
  int32_t TransparentValue = -1;  // pixel value of Image; -1 none
  int32_t Opacity = 255;
  bool UseAlpha = false;
};

class TDorvFrame : public TObjList<TDorvLayer> {
 public:
  explicit TDorvFrame(TDorvFrameList* owner) : Owner(owner) {}

  TDorvFrameList* Owner;
  int32_t Delay = 100;  // milliseconds
  // The composed picture; may carry an 8-bit alpha plane.
  TDIBSurface Image;
  // The transparent colour as a pixel value of Image, and as a 0x00BBGGRR
  // colour; -1 = none. A new frame has neither (a value of 0 would key out
  // black the moment alpha is built from it).
  int32_t TransparentValue = -1;
  int32_t TransparentColor = -1;
  std::string Name;
  // Draw rectangles and a second list carried along, in Image coordinates.
  std::vector<TRect> Rects1;
  std::vector<TRect> Rects2;

  // nullptr outside the list.
  TDorvLayer* GetLayer(int32_t index) const { return Items(index); }
  // A new layer owned by the frame, appended and returned.
  TDorvLayer* AddLayer();

  // Fills Image with the list's background colour.
  void FillBackground();
  // Draws layer `index` onto Image by the composition rules; firstVisible
  // is the running flag of the frame (true before the first layer). Image
  // gets the background from the first visible layer, unless that layer
  // replaces every pixel anyway; a frame none of whose layers is visible is
  // filled by its reader.
  void ComposeLayer(int32_t index, bool& firstVisible);
  // Fills Image with the list's background and composes every layer.
  void ComposeLayers();

  // Sets both transparency fields from a colour: 0x00BBGGRR, or 0x01000000
  // + index for an entry of Image's colour table, which keeps that index as
  // the pixel value even where another entry shows the same colour; -1 none.
  void SetTransparentColor(int32_t color);

  bool HasAlpha() const { return Image.HasAlphaPlane(); }
  // Gives Image an alpha plane from TransparentValue (0 there, 255
  // elsewhere); nothing when it has one.
  void BuildAlpha();
  // Crops Image (and its alpha plane and rectangle lists) to its visible
  // pixels; returns the kept rectangle, the whole picture when nothing
  // changed.
  TRect Trim();
  // Copies Image into the surface at the surface's own bit count, with the
  // rectangle lists. A palette key that the surface could not tell from an
  // opaque entry of the same colour becomes the alpha plane first, and the
  // frame loses its key, so that a mask does what the key cannot.
  void CopyToDIBX(TCustomDIBX& target);
  // Copies the alpha plane into an 8-bit target; without one the target is
  // left as it is.
  void CopyAlphaToDIBX(TDIBX& target) const;
  void CopyAlphaToSurface(TDIBSurface& target) const;

 private:
  // Whether a pixel of another entry than the key's, once in the target's
  // pixel layout, equals the key there.
  bool keySharedIn(const TCustomDIBX& target) const;
};

class TDorvFrameList : public TObjList<TDorvFrame> {
 public:
  // The identification code keys the row scrambling; 0 = none.
  explicit TDorvFrameList(int32_t identCode = 0) : IdentCode(identCode) {}

  int32_t Background = 0;  // 0x00BBGGRR
  int32_t Version = 0;     // of the last file read; 0 without a tag
  int32_t IdentCode;
  bool PlainFirstLayer = false;
  // Bound on what one load may allocate for pictures; loads beyond it fail.
  int64_t MaxLoadBytes = kDorvMaxLoadBytes;

  // nullptr outside the list.
  TDorvFrame* GetFrame(int32_t index) const { return Items(index); }
  TDorvFrame* AddFrame();
  void BuildAllAlpha();

  // kind is a DorvCompression value, quality the JPEG quality of kind 2.
  void SaveToStream(TKwStream& stream, int kind, int quality) const;
  // Kind 0, quality 70. The file is written beside the target under another
  // name and renamed over it only when complete, so a failed save keeps
  // the old file.
  void SaveToFile(const std::string& hostPath) const;
};

// Clears the list and reads a layered image from the stream's position.
// With firstFrameOnly only the first frame is read and the stream is left
// right after it. Raises EDorvError (or a stream, zlib or JPEG error) and
// leaves the list empty when the data cannot be used.
void LoadDorvStream(TDorvFrameList& list, TKwStream& stream, bool firstFrameOnly);

// True for a tagged file of version 103 or more whose planes are stored
// uncompressed (kind 1). The stream is left after what was read.
bool IsDorvStream(TKwStream& stream);

// The header the writer puts before the frames.
TDorvHeader FillDorvHeader(const TDorvFrameList& list, const TDorvFrame* firstFrame, int kind,
                           int quality);
// One frame record holding the composed picture as its single layer;
// position is the frame's 1-based place in the list.
void WriteDorvFrames(TKwStream& stream, const TDorvFrameList& list, const TDorvHeader& header,
                     const TDorvFrame& frame, int32_t position);
// One plane: the int32 byte count and the encoded data.
void WriteDorvLayer(TKwStream& stream, const TDIB& plane, const TDorvHeader& header,
                    int32_t identCode, bool alphaPlane);

// The identification code a load keys its row scrambling with, asked for
// at each load (start-up registers loaders before any project is read).
using TIdentCodeSource = std::function<int32_t()>;

// Makes drawing surfaces load ".dor" data by its magic (first frame, with
// the code the source gives at that load) and the JPEG picture serve "jpg"
// and "jpeg". Start-up calls it once.
void RegisterDorvFormats(TIdentCodeSource identCode);

}  // namespace zirk
