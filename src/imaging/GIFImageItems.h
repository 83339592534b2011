#pragma once
// The GIF file as a tree of objects that mirror its blocks: the header with
// the logical screen and the global colour table, the frames with the
// extensions standing before them and their local colour tables, and the
// trailer. Each object reads and writes its own block, so a file is loaded
// by walking the blocks in file order and saved by writing the objects back
// in the same order. The pixels of a frame and the LZW codec live in
// GIFImageFrame / GIFImageLZW; the picture that owns the tree in GIFImage.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/streams.h"
#include "surfaces/dib.h"
#include "surfaces/graphics.h"

namespace zirk {

class TGIFImage;
class TGIFSubImage;
class TGIFHeader;

class GIFException : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

enum TGIFVersion { gvUnknown = 0, gv87a = 1, gv89a = 2 };

// Severity of every warning the file model reports.
inline constexpr int kGIFWarning = 1;

// The system's texts, shared by the units that raise or report them.
inline constexpr const char* sGIFPrematureEnd = "Premature end of data";
inline constexpr const char* sGIFInvalidColorIndex = "Invalid color index";
inline constexpr const char* sGIFInvalidData = "Invalid GIF data";
inline constexpr const char* sGIFImageExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* sGIFWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* sGIFHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* sGIFOutOfResources = "システム リソースが足りません";

// Exactly count bytes or GIFException("Premature end of data").
void GIFReadBuffer(TKwStream& stream, void* buffer, int64_t count);
uint8_t GIFReadByte(TKwStream& stream);
uint16_t GIFReadWord(TKwStream& stream);
void GIFWriteByte(TKwStream& stream, uint8_t value);
void GIFWriteWord(TKwStream& stream, uint16_t value);

// Data sub-blocks of text: each string is written as sub-blocks of at most
// 255 bytes followed by one zero terminator for the list; reading makes one
// string of every sub-block up to the zero size.
void WriteGIFStrings(TKwStream& stream, const std::vector<std::string>& lines);
std::vector<std::string> ReadGIFStrings(TKwStream& stream);

class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* image) : image_(image) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;

  TGIFImage* Image() const { return image_; }
  virtual TGIFVersion RequiredVersion() const { return gv87a; }
  // Passes the warning to the owning picture.
  virtual void Warning(int severity, const std::string& message) const;
  virtual void SaveToStream(TKwStream& stream) = 0;
  virtual void LoadFromStream(TKwStream& stream) = 0;

 private:
  TGIFImage* image_;
};

// A colour table of up to 256 R, G, B entries. The storage always holds 256
// zero-filled entries, so an index past the count reads a defined colour.
class TGIFColorMap {
 public:
  virtual ~TGIFColorMap() = default;

  int Count() const { return count_; }
  // Set by Optimize only: a sort bit read from a file is not this codec's
  // order, and keeping it would turn a saved GIF87a file into GIF89a.
  bool Optimized() const { return optimized_; }
  void SetOptimized(bool value) { optimized_ = value; }
  // Smallest b >= 1 with Count <= 2^b; 0 for an empty map.
  int BitsPerPixel() const;

  void Clear();
  void LoadFromStream(TKwStream& stream, int count);
  // The entries, then zero triples up to 2^BitsPerPixel entries.
  void SaveToStream(TKwStream& stream) const;

  // Index of an exact 0x00BBGGRR colour, or -1. An unsorted map is searched
  // from its last entry, a sorted one from its first.
  int IndexOf(uint32_t color) const;
  // The index of the colour, appending it when absent; raises "Color table
  // overflow" when a new colour meets a full map.
  int Add(uint32_t color);
  // The 0x00BBGGRR colour of an entry; an index past the count is reported
  // as "Invalid color index" and reads the (zero-filled) storage.
  uint32_t Colors(int index) const;
  void SetColor(int index, uint32_t color);
  const uint8_t* Entry(int index) const { return &data_[size_t(index & 255) * 3]; }

  void ImportPalette(const std::vector<TRGBQuad>& entries);
  std::vector<TRGBQuad> Palette() const;
  void Assign(const TGIFColorMap& source);
  bool SameColors(const TGIFColorMap& other) const {
    return count_ == other.count_ && data_ == other.data_;
  }

  // Sorts the entries by how often the pixel data uses them (most used
  // first), remaps that pixel data and the transparent indices to the new
  // order and, where the map belongs to one frame alone, cuts the entries
  // nobody uses.
  void Optimize();
  virtual void Changed() = 0;
  virtual void Warning(int severity, const std::string& message) const = 0;

 protected:
  // The frames whose pixels index this map, and whether unused entries
  // may be cut.
  virtual std::vector<TGIFSubImage*> OptimizeFrames() const = 0;
  virtual bool TruncateOnOptimize() const = 0;
  // An index used outside the pixels (-1: none); it counts as used.
  virtual int ReservedIndex() const { return -1; }
  // Moves that index along with the entries.
  virtual void Remapped(const std::array<uint8_t, 256>&) {}

 private:
  std::array<uint8_t, 256 * 3> data_{};
  int count_ = 0;
  bool optimized_ = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGIFHeader& owner) : owner_(owner) {}
  void Changed() override;
  void Warning(int severity, const std::string& message) const override;

 protected:
  std::vector<TGIFSubImage*> OptimizeFrames() const override;
  bool TruncateOnOptimize() const override;
  int ReservedIndex() const override;
  void Remapped(const std::array<uint8_t, 256>& remap) override;

 private:
  TGIFHeader& owner_;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  explicit TGIFLocalColorMap(TGIFSubImage& owner) : owner_(owner) {}
  void Changed() override;
  void Warning(int severity, const std::string& message) const override;

 protected:
  std::vector<TGIFSubImage*> OptimizeFrames() const override { return {&owner_}; }
  bool TruncateOnOptimize() const override { return true; }

 private:
  TGIFSubImage& owner_;
};

class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* image);

  // The logical screen descriptor as stored.
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t Packed = 0;
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;
  TGIFGlobalColorMap& ColorMap() { return colorMap_; }
  const TGIFGlobalColorMap& ColorMap() const { return colorMap_; }

  void Clear();
  TGIFVersion RequiredVersion() const override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream) override;

 private:
  TGIFGlobalColorMap colorMap_;
};

class TGIFExtension;

// A registered extension class: its label, how to make one for a frame,
// and how it narrows itself down to a more specific class from the bytes
// after the label (returning itself when nothing more specific fits).
struct TGIFExtensionClass {
  std::string Name;
  uint8_t Label = 0;
  std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage&)> Create;
  std::function<const TGIFExtensionClass*(const TGIFExtensionClass& self, TKwStream& stream)>
      FindSubExtension;
};

// The class registered for a label, searched from the last registration,
// so a later registration overrides an earlier one. The built-in classes
// are registered on first use.
void RegisterExtensionClass(const TGIFExtensionClass& cls);
const TGIFExtensionClass* FindExtensionClass(uint8_t label);
// The same for application extensions, keyed by identifier + code (11 bytes).
void RegisterAppExtensionClass(const std::string& identAndCode, const TGIFExtensionClass& cls);
// Takes back the latest registration of the class for the identifier, so
// that an earlier one serves again.
void UnregisterAppExtensionClass(const std::string& identAndCode, const TGIFExtensionClass& cls);
const TGIFExtensionClass* FindAppExtensionClass(const std::string& identAndCode);
// Reads the label at the stream position and refines its class until the
// answer stops changing; the stream position is restored. nullptr when no
// class serves the label.
const TGIFExtensionClass* LookupExtensionClass(TKwStream& stream);

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage& subImage);
  TGIFSubImage& SubImage() const { return subImage_; }
  TGIFVersion RequiredVersion() const override { return gv89a; }
  virtual uint8_t ExtensionType() const = 0;
  // "!" and the label, then the body.
  void SaveToStream(TKwStream& stream) override;
  // Checks the introducer and the label, then reads the body.
  void LoadFromStream(TKwStream& stream) override;

  static const TGIFExtensionClass* FindSubExtension(const TGIFExtensionClass& self, TKwStream&) {
    return &self;
  }

 protected:
  virtual void SaveBody(TKwStream& stream) = 0;
  virtual void LoadBody(TKwStream& stream) = 0;

 private:
  TGIFSubImage& subImage_;
};

// The class descriptor of an extension type T (one per type for the process).
template <class T>
const TGIFExtensionClass& GIFExtensionClassOf() {
  static const TGIFExtensionClass cls{
      T::kClassName, T::kLabel,
      [](TGIFSubImage& s) -> std::unique_ptr<TGIFExtension> { return std::make_unique<T>(s); },
      &T::FindSubExtension};
  return cls;
}

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xF9;
  static constexpr const char* kClassName = "TGIFGraphicControlExtension";
  explicit TGIFGraphicControlExtension(TGIFSubImage& subImage);
  ~TGIFGraphicControlExtension() override;
  uint8_t ExtensionType() const override { return kLabel; }

  uint8_t BlockSize = 4;
  uint8_t Packed = 0;
  uint16_t Delay = 0;  // hundredths of a second

  int Disposal() const { return (Packed >> 2) & 7; }
  void SetDisposal(int value) { Packed = uint8_t((Packed & ~0x1C) | ((value & 7) << 2)); }
  bool Transparent() const { return Packed & 1; }
  void SetTransparent(bool value);
  bool UserInput() const { return Packed & 2; }
  void SetUserInput(bool value) { Packed = uint8_t(value ? Packed | 2 : Packed & ~2); }
  uint8_t TransparentColorIndex() const { return transparentIndex_; }
  // An index not below the count of the frame's active map (when it has
  // entries) is reported as "Invalid color index" and becomes 0.
  void SetTransparentColorIndex(int index);

 protected:
  void SaveBody(TKwStream& stream) override;
  void LoadBody(TKwStream& stream) override;

 private:
  uint8_t transparentIndex_ = 0;
};

class TGIFTextExtension : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0x01;
  static constexpr const char* kClassName = "TGIFTextExtension";
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionType() const override { return kLabel; }

  uint8_t BlockSize = 12;
  uint16_t GridLeft = 0, GridTop = 0, GridWidth = 0, GridHeight = 0;
  uint8_t CellWidth = 0, CellHeight = 0;
  uint8_t ForegroundColorIndex = 0, BackgroundColorIndex = 0;
  std::vector<std::string> Text;

 protected:
  void SaveBody(TKwStream& stream) override;
  void LoadBody(TKwStream& stream) override;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xFE;
  static constexpr const char* kClassName = "TGIFCommentExtension";
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionType() const override { return kLabel; }

  std::vector<std::string> Comment;

 protected:
  void SaveBody(TKwStream& stream) override;
  void LoadBody(TKwStream& stream) override;
};

// One data sub-block kept as read.
struct TGIFBlock {
  std::vector<uint8_t> Data;  // 1..255 bytes
};

// An application extension: an 11-byte identifier and code, then data
// sub-blocks. A class without its own reading of the data keeps the
// sub-blocks as they are and writes them back unchanged.
class TGIFApplicationExtension : public TGIFExtension {
 public:
  static constexpr uint8_t kLabel = 0xFF;
  static constexpr const char* kClassName = "TGIFApplicationExtension";
  using TGIFExtension::TGIFExtension;
  uint8_t ExtensionType() const override { return kLabel; }

  std::array<uint8_t, 11> Ident{};  // identifier (8) and authentication code (3)
  std::string IdentText() const { return std::string(Ident.begin(), Ident.end()); }
  void SetIdent(const std::string& identAndCode);
  std::vector<TGIFBlock> Blocks;

  static const TGIFExtensionClass* FindSubExtension(const TGIFExtensionClass& self,
                                                    TKwStream& stream);

 protected:
  void SaveBody(TKwStream& stream) override;
  void LoadBody(TKwStream& stream) override;
  virtual void SaveData(TKwStream& stream);
  virtual void LoadData(TKwStream& stream);
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  static constexpr const char* kClassName = "TGIFUnknownAppExtension";
  using TGIFApplicationExtension::TGIFApplicationExtension;
};

// The loop count of an animation ("NETSCAPE2.0" and "ANIMEXTS1.0").
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  static constexpr const char* kClassName = "TGIFAppExtNSLoop";
  explicit TGIFAppExtNSLoop(TGIFSubImage& subImage);
  uint16_t Loops = 0;  // 0 = forever

 protected:
  void SaveData(TKwStream& stream) override;
  void LoadData(TKwStream& stream) override;
};

class TGIFExtensionList {
 public:
  explicit TGIFExtensionList(TGIFSubImage& owner) : owner_(owner) {}
  int Count() const { return int(items_.size()); }
  TGIFExtension* operator[](int index) const { return items_[size_t(index)].get(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  TGIFExtension* Add(std::unique_ptr<TGIFExtension> extension);
  template <class T>
  T* Add() {
    return static_cast<T*>(Add(std::make_unique<T>(owner_)));
  }
  void Delete(int index);
  void Clear();
  // Extensions up to the next "," or ";" (end of stream ends the list too);
  // a byte other than "!" is reported as "Invalid extension introducer" and
  // ends the list. The stream is left at the separator.
  void LoadFromStream(TKwStream& stream);
  void SaveToStream(TKwStream& stream);

 private:
  void Warning(int severity, const std::string& message) const;

  TGIFSubImage& owner_;
  std::vector<std::unique_ptr<TGIFExtension>> items_;
};

class TGIFTrailer : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream) override;
};

}  // namespace zirk
