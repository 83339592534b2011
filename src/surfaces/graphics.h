#pragma once
// The picture layer: a graphic base class that every picture format derives
// from (the bitmap TDIB, and the PNG, GIF and JPEG pictures of the imaging
// layer), a holder that loads a picture by file extension, the registry of
// picture formats, and an in-process clipboard with named formats.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <vector>

#include "base/exceptions.h"
#include "base/geometry.h"
#include "base/streams.h"

namespace zirk {

class TDIB;
class TClipboard;

// One colour table entry, in the order bitmaps store it.
struct TRGBQuad {
  uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};

// Raised by picture readers for data they cannot use; the format readers'
// own exception classes derive from it.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};
// Raised for an operation a picture cannot perform (bad index, size change).
class EInvalidGraphicOperation : public Exception {
 public:
  using Exception::Exception;
};
// Raised when a picture would need more memory than a picture may have.
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};
// Raised by Assign between picture classes that cannot take each other.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

enum class TProgressStage { psStarting, psRunning, psEnding };

struct TProgressInfo {
  TProgressStage Stage = TProgressStage::psRunning;
  int PercentDone = 0;
  bool RedrawNow = false;
  std::string Msg;
};

class TGraphic;
using TNotifyEvent = std::function<void(TGraphic& sender)>;
// Returns true when the handler wants the running load or save to stop.
using TProgressEvent = std::function<bool(TGraphic& sender, const TProgressInfo& info)>;

class TGraphic {
 public:
  TGraphic() = default;
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  virtual std::string ClassName() const { return "TGraphic"; }

  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  virtual bool GetEmpty() const = 0;
  virtual void SetWidth(int value) = 0;
  virtual void SetHeight(int value) = 0;
  virtual bool GetTransparent() const { return transparent_; }
  virtual void SetTransparent(bool value);

  // The colour table of palette pictures; empty for the others.
  virtual std::vector<TRGBQuad> GetPalette() const { return {}; }
  virtual void SetPalette(const std::vector<TRGBQuad>&) {}

  virtual void LoadFromStream(TKwStream& stream) = 0;
  virtual void SaveToStream(TKwStream& stream) = 0;
  void LoadFromFile(const std::string& hostPath);
  void SaveToFile(const std::string& hostPath);

  // Copies source into this picture: a class that knows the source's class
  // overrides this; the base asks the source (AssignTo) and raises
  // EConvertError when neither side knows the other.
  virtual void Assign(const TGraphic& source);
  // Copies this picture into dest when this class knows how; returns false
  // otherwise. Every picture can at least give its pixels to a bitmap.
  virtual bool AssignTo(TGraphic& dest) const;

  // Draws the picture stretched into the rectangle of the canvas bitmap,
  // clipped to the bitmap.
  virtual void Draw(TDIB& canvas, const TRect& rect) = 0;

  // The clipboard formats this class puts and takes. The base puts nothing
  // and raises EInvalidGraphic on a load.
  virtual void SaveToClipboardFormat(TClipboard& clipboard);
  virtual void LoadFromClipboardFormat(const TClipboard& clipboard, uint32_t format);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

  // Fires OnChange and marks the picture modified.
  virtual void Changed();
  // Fires OnProgress; returns true when the handler asks to stop.
  bool Progress(TProgressStage stage, int percentDone, bool redrawNow, const std::string& msg);

 protected:
  bool transparent_ = false;

 private:
  bool modified_ = false;
};

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

struct TFileFormat {
  std::string Extension;  // without the dot, as registered
  std::string Description;
  std::type_index ClassId;
  TGraphicFactory Create;
};

// Picture classes by file extension (case-insensitive; a later
// registration of an extension wins) and by clipboard format. The bitmap
// class is registered for "bmp" from the start.
class TPictureFormats {
 public:
  static TPictureFormats& Instance();

  void RegisterFileFormat(const std::string& extension, const std::string& description,
                          std::type_index classId, TGraphicFactory create);
  void RegisterClipboardFormat(uint32_t format, std::type_index classId, TGraphicFactory create);
  void UnregisterGraphicClass(std::type_index classId);

  // Empty when no class serves the extension (given with or without dot).
  std::optional<TFileFormat> FindExtension(const std::string& extension) const;
  std::optional<TFileFormat> FindClass(std::type_index classId) const;
  // The formats in registration order (copies, safe against later changes).
  std::vector<TFileFormat> FileFormats() const;
  // The first registered class whose clipboard format the clipboard holds.
  std::unique_ptr<TGraphic> CreateForClipboard(const TClipboard& clipboard,
                                               uint32_t* formatOut) const;

 private:
  TPictureFormats();
  struct ClipFormat {
    uint32_t Format;
    std::type_index ClassId;
    TGraphicFactory Create;
  };
  mutable std::mutex lock_;
  std::vector<TFileFormat> files_;
  std::vector<ClipFormat> clips_;
};

template <class T>
void RegisterFileFormat(const std::string& extension, const std::string& description) {
  TPictureFormats::Instance().RegisterFileFormat(extension, description, typeid(T),
                                                 [] { return std::make_unique<T>(); });
}
template <class T>
void RegisterClipboardFormatClass(uint32_t format) {
  TPictureFormats::Instance().RegisterClipboardFormat(format, typeid(T),
                                                      [] { return std::make_unique<T>(); });
}
template <class T>
void UnregisterGraphicClass() {
  TPictureFormats::Instance().UnregisterGraphicClass(typeid(T));
}

// Holds one graphic of any registered class; loading a file picks the class
// by the file's extension.
class TPicture {
 public:
  TPicture() = default;
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(std::unique_ptr<TGraphic> graphic);
  // A copy of source in a new object of the same registered class; nullptr
  // clears the picture.
  void Assign(const TGraphic* source);
  // The held bitmap; a picture that holds anything else is replaced by an
  // empty bitmap first.
  TDIB& Bitmap();

  int Width() const;
  int Height() const;

  // Raises EInvalidGraphic for an extension no class serves; the held graphic
  // is replaced only after a successful load.
  void LoadFromFile(const std::string& hostPath);
  void SaveToFile(const std::string& hostPath);
  void LoadFromClipboard(const TClipboard& clipboard);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

 private:
  void attach();
  std::unique_ptr<TGraphic> graphic_;
};

// Clipboard formats: the predefined numbers of the bitmap formats, and
// named formats registered at run time (the same name gives the same
// number for the life of the process).
inline constexpr uint32_t CF_BITMAP = 2;
inline constexpr uint32_t CF_DIB = 8;
inline constexpr uint32_t CF_PALETTE = 9;
uint32_t RegisterClipboardFormat(const std::string& name);
// The name of a registered format; empty for unknown or predefined numbers.
std::string GetClipboardFormatName(uint32_t format);

// The process's clipboard: a set of formats, each a block of bytes. It
// holds what one picture put there.
class TClipboard {
 public:
  void Clear();
  void SetData(uint32_t format, std::vector<uint8_t> data);
  bool HasFormat(uint32_t format) const;
  // nullptr when the format is not held.
  const std::vector<uint8_t>* GetData(uint32_t format) const;
  std::vector<uint32_t> Formats() const;

  // Replaces the content with what the graphic puts.
  void Assign(TGraphic& graphic);

 private:
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> formats_;
};

TClipboard& Clipboard();

}  // namespace zirk
