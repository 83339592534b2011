#pragma once
// TGIFImage: the GIF picture of the picture layer. It owns the file's object
// tree (header, frames), loads and saves it with progress reports, draws
// the first frame or animates all of them through a painter, and exchanges
// GIF data with the clipboard under the format "GIF Image".

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "imaging/GIFImageFrame.h"
#include "imaging/GIFImageItems.h"
#include "surfaces/dib.h"
#include "surfaces/graphics.h"

namespace zirk {

class TGIFPainter;

using TGIFPaintOptions = uint16_t;
enum TGIFPaintOption : TGIFPaintOptions {
  poAsync = 1,         // the painter runs on its own thread
  poTransparent = 2,   // frames keep their transparent colour
  poAnimate = 4,       // play all frames, not only the first
  poLoop = 8,          // start over after the last frame while loops remain
  poLoopForever = 16,  // ignore the file's loop count
  poCheckCanvas = 32,  // stop when the target canvas goes away
  poDirectPaint = 64,  // paint onto the target instead of the cached bitmap
  poDither = 128,      // show frames through the fixed 216-colour palette
  poAutoDither = 256,  // ... only on a palette device
};
inline constexpr TGIFPaintOptions kGIFDefaultPaintOptions = poTransparent | poDither | poAutoDither;

// "No colour": the disposal colour is the logical screen's background.
inline constexpr uint32_t clNone = 0x1FFFFFFF;
// The window colour used when there is no global colour table.
inline constexpr uint32_t kGIFWindowColor = 0x00FFFFFF;

using TGIFWarningEvent =
    std::function<void(TGIFImage& sender, int severity, const std::string& message)>;
using TGIFPainterEvent = std::function<void(TGIFPainter& sender)>;

// The screen is 32 bits deep, so this starts false; tests set it to see the
// palette-device behaviour.
bool GIFPaletteDevice();
void SetGIFPaletteDevice(bool value);

// The clipboard format number of "GIF Image" (registered on first use).
uint32_t CF_GIF();
// Registers the picture class for ".gif" and the clipboard format.
void RegisterGIFImage();
void UnregisterGIFImage();

class TGIFImage : public TGraphic {
 public:
  TGIFImage();
  ~TGIFImage() override;

  std::string ClassName() const override { return "TGIFImage"; }

  int GetWidth() const override { return header_.Width; }
  int GetHeight() const override { return header_.Height; }
  bool GetEmpty() const override { return frames_.empty(); }
  // Raise "Image width/height too small for contained frames" when a frame
  // reaches past the new size.
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  bool Equals(const TGIFImage& other) const { return this == &other; }

  std::vector<TRGBQuad> GetPalette() const override;
  void SetPalette(const std::vector<TRGBQuad>& entries) override;

  void LoadFromStream(TKwStream& stream) override;
  void SaveToStream(TKwStream& stream) override;
  void Assign(const TGraphic& source) override;
  bool AssignTo(TGraphic& dest) const override;
  void Draw(TDIB& canvas, const TRect& rect) override;
  void SaveToClipboardFormat(TClipboard& clipboard) override;
  void LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format) override;

  TGIFHeader& Header() { return header_; }
  const TGIFHeader& Header() const { return header_; }
  int Count() const { return int(frames_.size()); }
  TGIFSubImage& Images(int index) const { return *frames_.at(size_t(index)); }

  // Copies a bitmap, a frame or another picture's first frame into a new
  // frame; the logical screen grows to hold it.
  TGIFSubImage& Add(const TGraphic& source);
  TGIFSubImage& Add(const TGIFSubImage& source);
  void Clear();

  // The logical screen with the first frame (nullptr for an empty picture),
  // or the surface an animation paints on.
  const TDIB* Bitmap();
  void StopPainting();
  // The painter started by the last Draw, while it exists.
  TGIFPainter* Painter() const { return painter_.get(); }

  TGIFPaintOptions PaintOptions = kGIFDefaultPaintOptions;
  int PainterPriority = 3;
  uint32_t BackgroundColor = clNone;
  TGIFWarningEvent OnWarning;
  TGIFPainterEvent OnPaintStart;
  TGIFPainterEvent OnFramePaint;
  TGIFPainterEvent OnLoopRestart;
  TGIFPainterEvent OnPaintEnd;

  // Fires OnWarning when assigned; a load stops only when the handler raises.
  virtual void Warning(int severity, const std::string& message);

  // Values the header and the encoder derive from all colour tables.
  TGIFVersion RequiredVersion() const;
  int ColorResolution() const;
  int BitsPerPixel() const;
  uint8_t BackgroundColorIndex() const { return header_.BackgroundColorIndex; }
  // BackgroundColor, or for clNone the screen's background colour.
  uint32_t DisposalColor() const;
  // Whether frames are shown through the fixed 216-colour palette:
  // poDither, and with poAutoDither only on a palette device.
  bool DitherInForce() const;

  // Reserves pixel memory for a frame or a composition: the whole picture
  // may hold at most PixelBudget bytes of pixels; raises EOutOfResources
  // beyond that.
  void ReservePixels(int64_t bytes);
  void ReleasePixels(int64_t bytes);
  int64_t PixelBudget = kMaxDIBBytes;

 private:
  void clearFrames();
  void growScreenFor(const TGIFSubImage& frame);
  void dropBitmap();
  void refreshFromPainter();

  TGIFHeader header_;
  std::vector<std::unique_ptr<TGIFSubImage>> frames_;
  std::unique_ptr<TGIFPainter> painter_;
  std::vector<TRGBQuad> palette_;
  std::unique_ptr<TDIB> bitmap_;
  int64_t pixelBytes_ = 0;
  bool painting_ = false;
  mutable bool paletteQuery_ = false;
};

}  // namespace zirk
