#include "imaging/GIFImageItems.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <numeric>

#include "imaging/GIFImage.h"
#include "imaging/GIFImageFrame.h"

namespace zirk {

// --- stream helpers ---

void GIFReadBuffer(TKwStream& stream, void* buffer, int64_t count) {
  if (count > 0 && stream.Read(buffer, count) != count) throw GIFException(sGIFPrematureEnd);
}

uint8_t GIFReadByte(TKwStream& stream) {
  uint8_t b = 0;
  GIFReadBuffer(stream, &b, 1);
  return b;
}

uint16_t GIFReadWord(TKwStream& stream) {
  uint8_t b[2];
  GIFReadBuffer(stream, b, 2);
  return uint16_t(b[0] | (b[1] << 8));
}

void GIFWriteByte(TKwStream& stream, uint8_t value) {
  stream.WriteBuffer(&value, 1);
}

void GIFWriteWord(TKwStream& stream, uint16_t value) {
  const uint8_t b[2] = {uint8_t(value), uint8_t(value >> 8)};
  stream.WriteBuffer(b, 2);
}

void WriteGIFStrings(TKwStream& stream, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    for (size_t at = 0; at < line.size(); at += 255) {
      const size_t n = std::min<size_t>(255, line.size() - at);
      GIFWriteByte(stream, uint8_t(n));
      stream.WriteBuffer(line.data() + at, int64_t(n));
    }
  }
  GIFWriteByte(stream, 0);
}

std::vector<std::string> ReadGIFStrings(TKwStream& stream) {
  std::vector<std::string> lines;
  for (uint8_t size = GIFReadByte(stream); size != 0; size = GIFReadByte(stream)) {
    std::string line(size, '\0');
    GIFReadBuffer(stream, line.data(), size);
    lines.push_back(std::move(line));
  }
  return lines;
}

// --- TGIFItem ---

void TGIFItem::Warning(int severity, const std::string& message) const {
  if (image_) image_->Warning(severity, message);
}

// --- TGIFColorMap ---

int TGIFColorMap::BitsPerPixel() const {
  if (count_ == 0) return 0;
  int bits = 1;
  while ((1 << bits) < count_) ++bits;
  return bits;
}

void TGIFColorMap::Clear() {
  data_.fill(0);
  count_ = 0;
  optimized_ = false;
}

void TGIFColorMap::LoadFromStream(TKwStream& stream, int count) {
  Clear();
  count = std::clamp(count, 0, 256);
  GIFReadBuffer(stream, data_.data(), int64_t(count) * 3);
  count_ = count;
}

void TGIFColorMap::SaveToStream(TKwStream& stream) const {
  if (count_ == 0) return;
  // The storage past the count is zero, so one write pads to 2^bits.
  stream.WriteBuffer(data_.data(), int64_t(3) << BitsPerPixel());
}

int TGIFColorMap::IndexOf(uint32_t color) const {
  const uint8_t r = ColorR(color), g = ColorG(color), b = ColorB(color);
  auto match = [&](int i) {
    const uint8_t* e = &data_[size_t(i) * 3];
    return e[0] == r && e[1] == g && e[2] == b;
  };
  if (optimized_) {
    for (int i = 0; i < count_; ++i)
      if (match(i)) return i;
  } else {
    for (int i = count_ - 1; i >= 0; --i)
      if (match(i)) return i;
  }
  return -1;
}

int TGIFColorMap::Add(uint32_t color) {
  const int found = IndexOf(color);
  if (found >= 0) return found;
  if (count_ >= 256) throw GIFException("Color table overflow");
  SetColor(count_, color);
  ++count_;
  optimized_ = false;
  Changed();
  return count_ - 1;
}

uint32_t TGIFColorMap::Colors(int index) const {
  if (index < 0 || index >= count_) {
    Warning(kGIFWarning, sGIFInvalidColorIndex);
    if (index < 0 || index > 255) return 0;
  }
  const uint8_t* e = &data_[size_t(index) * 3];
  return RGBColor(e[0], e[1], e[2]);
}

void TGIFColorMap::SetColor(int index, uint32_t color) {
  if (index < 0 || index > 255) return;
  uint8_t* e = &data_[size_t(index) * 3];
  e[0] = ColorR(color);
  e[1] = ColorG(color);
  e[2] = ColorB(color);
}

void TGIFColorMap::ImportPalette(const std::vector<TRGBQuad>& entries) {
  Clear();
  count_ = int(std::min<size_t>(entries.size(), 256));
  for (int i = 0; i < count_; ++i) SetColor(i, QuadToColor(entries[size_t(i)]));
  Changed();
}

std::vector<TRGBQuad> TGIFColorMap::Palette() const {
  std::vector<TRGBQuad> result(static_cast<size_t>(count_));
  for (int i = 0; i < count_; ++i) {
    const uint8_t* e = &data_[size_t(i) * 3];
    result[size_t(i)] = {e[2], e[1], e[0], 0};
  }
  return result;
}

void TGIFColorMap::Assign(const TGIFColorMap& source) {
  data_ = source.data_;
  count_ = source.count_;
  optimized_ = source.optimized_;
  Changed();
}

void TGIFColorMap::Optimize() {
  if (count_ <= 1) return;
  optimized_ = true;
  const std::vector<TGIFSubImage*> frames = OptimizeFrames();
  std::array<int64_t, 256> uses{};
  for (const TGIFSubImage* frame : frames) {
    for (uint8_t p : frame->Data()) ++uses[p];
  }
  if (ReservedIndex() >= 0) ++uses[size_t(ReservedIndex() & 255)];
  std::array<int, 256> order;  // new position -> old index
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.begin() + count_,
                   [&](int a, int b) { return uses[size_t(a)] > uses[size_t(b)]; });
  bool moved = false;
  for (int i = 0; i < count_; ++i) moved |= order[size_t(i)] != i;
  if (moved) {
    std::array<uint8_t, 256> remap;
    std::iota(remap.begin(), remap.end(), 0);
    for (int i = 0; i < count_; ++i) remap[size_t(order[size_t(i)])] = uint8_t(i);
    for (TGIFSubImage* frame : frames) {
      for (uint8_t& p : frame->Data()) p = remap[p];
      if (TGIFGraphicControlExtension* gce = frame->GraphicControlExtension()) {
        gce->SetTransparentColorIndex(remap[gce->TransparentColorIndex()]);
      }
      frame->Changed();
    }
    Remapped(remap);
    std::array<uint8_t, 256 * 3> old = data_;
    for (int i = 0; i < count_; ++i) {
      std::memcpy(&data_[size_t(i) * 3], &old[size_t(order[size_t(i)]) * 3], 3);
    }
    if (TruncateOnOptimize()) {
      for (int i = 0; i < count_; ++i) {
        if (uses[size_t(order[size_t(i)])] == 0) {
          std::fill(data_.begin() + i * 3, data_.end(), 0);
          count_ = i;
          break;
        }
      }
    }
  }
  Changed();
}

void TGIFGlobalColorMap::Changed() {
  if (TGIFImage* image = owner_.Image()) image->Changed();
}

void TGIFGlobalColorMap::Warning(int severity, const std::string& message) const {
  owner_.Warning(severity, message);
}

// Every frame without a table of its own indexes the global table, so all
// of them move with it, and so does the background colour index.
std::vector<TGIFSubImage*> TGIFGlobalColorMap::OptimizeFrames() const {
  std::vector<TGIFSubImage*> frames;
  TGIFImage* image = owner_.Image();
  for (int i = 0; image && i < image->Count(); ++i) {
    if (image->Images(i).ColorMap().Count() == 0) frames.push_back(&image->Images(i));
  }
  return frames;
}

bool TGIFGlobalColorMap::TruncateOnOptimize() const {
  TGIFImage* image = owner_.Image();
  return image && image->Count() == 1;
}

int TGIFGlobalColorMap::ReservedIndex() const {
  return owner_.BackgroundColorIndex;
}

void TGIFGlobalColorMap::Remapped(const std::array<uint8_t, 256>& remap) {
  owner_.BackgroundColorIndex = remap[owner_.BackgroundColorIndex];
}

void TGIFLocalColorMap::Changed() {
  owner_.Changed();
}

void TGIFLocalColorMap::Warning(int severity, const std::string& message) const {
  owner_.Warning(severity, message);
}

// --- TGIFHeader ---

TGIFHeader::TGIFHeader(TGIFImage* image) : TGIFItem(image), colorMap_(*this) {}

void TGIFHeader::Clear() {
  Width = Height = 0;
  Packed = BackgroundColorIndex = AspectRatio = 0;
  colorMap_.Clear();
}

TGIFVersion TGIFHeader::RequiredVersion() const {
  return colorMap_.Optimized() || AspectRatio != 0 ? gv89a : gv87a;
}

void TGIFHeader::SaveToStream(TKwStream& stream) {
  const TGIFVersion version = Image() ? Image()->RequiredVersion() : RequiredVersion();
  if (version == gvUnknown) throw GIFException("Unsupported GIF version");
  stream.WriteBuffer(version == gv87a ? "GIF87a" : "GIF89a", 6);
  const int resolution = Image() ? Image()->ColorResolution() : 0;
  uint8_t packed = uint8_t((std::clamp(resolution, 0, 7) & 7) << 4);
  if (colorMap_.Count() > 0) {
    packed |= 0x80;
    if (colorMap_.Optimized()) packed |= 0x08;
    // The size field describes the global table itself; a bigger local
    // table elsewhere must not make the reader expect more entries here.
    packed |= uint8_t(colorMap_.BitsPerPixel() - 1);
  }
  Packed = packed;
  GIFWriteWord(stream, Width);
  GIFWriteWord(stream, Height);
  GIFWriteByte(stream, Packed);
  GIFWriteByte(stream, BackgroundColorIndex);
  GIFWriteByte(stream, AspectRatio);
  colorMap_.SaveToStream(stream);
}

void TGIFHeader::LoadFromStream(TKwStream& stream) {
  char sig[6];
  GIFReadBuffer(stream, sig, 6);
  for (int i = 0; i < 3; ++i) sig[i] = char(std::toupper(static_cast<unsigned char>(sig[i])));
  if (std::memcmp(sig, "GIF", 3) != 0) throw GIFException("Invalid GIF signature");
  Width = GIFReadWord(stream);
  Height = GIFReadWord(stream);
  Packed = GIFReadByte(stream);
  BackgroundColorIndex = GIFReadByte(stream);
  AspectRatio = GIFReadByte(stream);
  if (Packed & 0x80) {
    const int n = 2 << (Packed & 7);
    if (n < 2 || n > 256) {
      throw GIFException("Invalid number of colors specified in Screen Descriptor");
    }
    colorMap_.LoadFromStream(stream, n);
  } else {
    colorMap_.Clear();
  }
}

// --- extension class registries ---

namespace {

struct ExtensionRegistry {
  std::mutex lock;
  std::vector<const TGIFExtensionClass*> byLabel;
  std::vector<std::pair<std::string, const TGIFExtensionClass*>> byIdent;
};

ExtensionRegistry& registry() {
  static ExtensionRegistry* r = [] {
    static ExtensionRegistry instance;
    instance.byLabel = {&GIFExtensionClassOf<TGIFTextExtension>(),
                        &GIFExtensionClassOf<TGIFGraphicControlExtension>(),
                        &GIFExtensionClassOf<TGIFCommentExtension>(),
                        &GIFExtensionClassOf<TGIFApplicationExtension>()};
    instance.byIdent = {{"NETSCAPE2.0", &GIFExtensionClassOf<TGIFAppExtNSLoop>()},
                        {"ANIMEXTS1.0", &GIFExtensionClassOf<TGIFAppExtNSLoop>()}};
    return &instance;
  }();
  return *r;
}

}  // namespace

void RegisterExtensionClass(const TGIFExtensionClass& cls) {
  ExtensionRegistry& r = registry();
  std::lock_guard guard(r.lock);
  r.byLabel.push_back(&cls);
}

const TGIFExtensionClass* FindExtensionClass(uint8_t label) {
  ExtensionRegistry& r = registry();
  std::lock_guard guard(r.lock);
  for (auto it = r.byLabel.rbegin(); it != r.byLabel.rend(); ++it) {
    if ((*it)->Label == label) return *it;
  }
  return nullptr;
}

void RegisterAppExtensionClass(const std::string& identAndCode, const TGIFExtensionClass& cls) {
  ExtensionRegistry& r = registry();
  std::lock_guard guard(r.lock);
  r.byIdent.emplace_back(identAndCode, &cls);
}

void UnregisterAppExtensionClass(const std::string& identAndCode, const TGIFExtensionClass& cls) {
  ExtensionRegistry& r = registry();
  std::lock_guard guard(r.lock);
  const auto it = std::find(r.byIdent.rbegin(), r.byIdent.rend(), std::pair(identAndCode, &cls));
  if (it != r.byIdent.rend()) r.byIdent.erase(std::next(it).base());
}

const TGIFExtensionClass* FindAppExtensionClass(const std::string& identAndCode) {
  ExtensionRegistry& r = registry();
  std::lock_guard guard(r.lock);
  for (auto it = r.byIdent.rbegin(); it != r.byIdent.rend(); ++it) {
    if (it->first == identAndCode) return it->second;
  }
  return nullptr;
}

const TGIFExtensionClass* LookupExtensionClass(TKwStream& stream) {
  const int64_t start = stream.Position();
  uint8_t label = 0;
  if (stream.Read(&label, 1) != 1) return nullptr;
  const TGIFExtensionClass* cls = FindExtensionClass(label);
  const int64_t body = stream.Position();
  // Every refinement reads from just after the label; registered classes
  // cannot make this loop forever, but a bound keeps it certain.
  for (int round = 0; cls && round < 16; ++round) {
    stream.SetPosition(body);
    const TGIFExtensionClass* next = cls->FindSubExtension(*cls, stream);
    if (!next || next == cls) break;
    cls = next;
  }
  stream.SetPosition(start);
  return cls;
}

// --- TGIFExtension ---

TGIFExtension::TGIFExtension(TGIFSubImage& subImage)
    : TGIFItem(subImage.Image()), subImage_(subImage) {}

void TGIFExtension::SaveToStream(TKwStream& stream) {
  GIFWriteByte(stream, '!');
  GIFWriteByte(stream, ExtensionType());
  SaveBody(stream);
}

void TGIFExtension::LoadFromStream(TKwStream& stream) {
  if (GIFReadByte(stream) != '!') throw GIFException("Invalid extension introducer");
  if (GIFReadByte(stream) != ExtensionType()) {
    throw GIFException("Internal error: Extension Instance does not match Extension Label");
  }
  LoadBody(stream);
}

// --- graphic control ---

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage& subImage)
    : TGIFExtension(subImage) {
  subImage.AttachGraphicControl(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  SubImage().DetachGraphicControl(this);
}

void TGIFGraphicControlExtension::SetTransparent(bool value) {
  Packed = uint8_t(value ? Packed | 1 : Packed & ~1);
  if (SubImage().GraphicControlExtension() == this) SubImage().SetTransparentFlag(value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
  const TGIFColorMap& map = SubImage().ActiveColorMap();
  if (map.Count() > 0 && index >= map.Count()) {
    Warning(kGIFWarning, sGIFInvalidColorIndex);
    index = 0;
  }
  transparentIndex_ = uint8_t(index);
}

void TGIFGraphicControlExtension::SaveBody(TKwStream& stream) {
  const uint8_t body[6] = {BlockSize,         Packed, uint8_t(Delay), uint8_t(Delay >> 8),
                           transparentIndex_, 0};
  stream.WriteBuffer(body, 6);
}

void TGIFGraphicControlExtension::LoadBody(TKwStream& stream) {
  uint8_t body[6];
  GIFReadBuffer(stream, body, 6);
  BlockSize = body[0];
  Packed = body[1];
  Delay = uint16_t(body[2] | (body[3] << 8));
  transparentIndex_ = body[4];
  if (Transparent() && SubImage().GraphicControlExtension() == this) {
    SubImage().SetTransparentFlag(true);
  }
}

// --- plain text and comment ---

void TGIFTextExtension::SaveBody(TKwStream& stream) {
  GIFWriteByte(stream, BlockSize);
  GIFWriteWord(stream, GridLeft);
  GIFWriteWord(stream, GridTop);
  GIFWriteWord(stream, GridWidth);
  GIFWriteWord(stream, GridHeight);
  const uint8_t tail[4] = {CellWidth, CellHeight, ForegroundColorIndex, BackgroundColorIndex};
  stream.WriteBuffer(tail, 4);
  WriteGIFStrings(stream, Text);
}

void TGIFTextExtension::LoadBody(TKwStream& stream) {
  BlockSize = GIFReadByte(stream);
  GridLeft = GIFReadWord(stream);
  GridTop = GIFReadWord(stream);
  GridWidth = GIFReadWord(stream);
  GridHeight = GIFReadWord(stream);
  uint8_t tail[4];
  GIFReadBuffer(stream, tail, 4);
  CellWidth = tail[0];
  CellHeight = tail[1];
  ForegroundColorIndex = tail[2];
  BackgroundColorIndex = tail[3];
  Text = ReadGIFStrings(stream);
}

void TGIFCommentExtension::SaveBody(TKwStream& stream) {
  WriteGIFStrings(stream, Comment);
}

void TGIFCommentExtension::LoadBody(TKwStream& stream) {
  Comment = ReadGIFStrings(stream);
}

// --- application extensions ---

void TGIFApplicationExtension::SetIdent(const std::string& identAndCode) {
  Ident.fill(0);
  std::memcpy(Ident.data(), identAndCode.data(), std::min<size_t>(11, identAndCode.size()));
}

const TGIFExtensionClass* TGIFApplicationExtension::FindSubExtension(const TGIFExtensionClass& self,
                                                                     TKwStream& stream) {
  uint8_t size = 0;
  char ident[11];
  if (stream.Read(&size, 1) != 1 || size < 10 || stream.Read(ident, 11) != 11) return &self;
  // The block is written back with size 11 and the 11 bytes it is read
  // with, so a block of another size is looked up by those bytes too:
  // otherwise a reload would take what was written for another class.
  if (const TGIFExtensionClass* found = FindAppExtensionClass(std::string(ident, 11))) {
    return found;
  }
  return size <= 11 ? &GIFExtensionClassOf<TGIFUnknownAppExtension>() : &self;
}

void TGIFApplicationExtension::SaveBody(TKwStream& stream) {
  GIFWriteByte(stream, 11);
  stream.WriteBuffer(Ident.data(), 11);
  SaveData(stream);
}

void TGIFApplicationExtension::LoadBody(TKwStream& stream) {
  const uint8_t size = GIFReadByte(stream);
  if (size == 10) {
    // Old writers stored a 10-byte identifier; the byte after it (the
    // first data size) is read along and then read again as data.
    Ident.fill(0);
    GIFReadBuffer(stream, Ident.data(), 11);
    stream.Seek(-1, SeekOrigin::Current);
  } else if (size < 11) {
    throw GIFException("Unsupported Application Extension block size");
  } else {
    GIFReadBuffer(stream, Ident.data(), 11);
    if (size > 11) {
      std::vector<uint8_t> skip(size - 11u);
      GIFReadBuffer(stream, skip.data(), int64_t(skip.size()));
    }
  }
  LoadData(stream);
}

void TGIFApplicationExtension::SaveData(TKwStream& stream) {
  for (const TGIFBlock& block : Blocks) {
    const size_t n = std::min<size_t>(block.Data.size(), 255);
    if (n == 0) continue;
    GIFWriteByte(stream, uint8_t(n));
    stream.WriteBuffer(block.Data.data(), int64_t(n));
  }
  GIFWriteByte(stream, 0);
}

void TGIFApplicationExtension::LoadData(TKwStream& stream) {
  Blocks.clear();
  for (uint8_t size = GIFReadByte(stream); size != 0; size = GIFReadByte(stream)) {
    TGIFBlock block;
    block.Data.resize(size);
    GIFReadBuffer(stream, block.Data.data(), size);
    Blocks.push_back(std::move(block));
  }
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage& subImage) : TGIFApplicationExtension(subImage) {
  SetIdent("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::SaveData(TKwStream& stream) {
  const uint8_t data[5] = {3, 1, uint8_t(Loops), uint8_t(Loops >> 8), 0};
  stream.WriteBuffer(data, 5);
}

void TGIFAppExtNSLoop::LoadData(TKwStream& stream) {
  uint8_t data[5];
  GIFReadBuffer(stream, data, 5);
  if (data[0] != 3 || data[1] != 1 || data[4] != 0) throw GIFException(sGIFInvalidData);
  Loops = uint16_t(data[2] | (data[3] << 8));
}

// --- extension list ---

TGIFExtension* TGIFExtensionList::Add(std::unique_ptr<TGIFExtension> extension) {
  items_.push_back(std::move(extension));
  return items_.back().get();
}

void TGIFExtensionList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

void TGIFExtensionList::Clear() {
  items_.clear();
}

void TGIFExtensionList::LoadFromStream(TKwStream& stream) {
  uint8_t b = 0;
  while (stream.Read(&b, 1) == 1) {
    if (b == ',' || b == ';') {
      stream.Seek(-1, SeekOrigin::Current);
      return;
    }
    if (b != '!') {
      Warning(kGIFWarning, "Invalid extension introducer");
      stream.Seek(-1, SeekOrigin::Current);
      return;
    }
    const TGIFExtensionClass* cls = LookupExtensionClass(stream);
    if (!cls) throw GIFException("Unknown extension type");
    stream.Seek(-1, SeekOrigin::Current);
    std::unique_ptr<TGIFExtension> extension = cls->Create(owner_);
    TGIFExtension* added = Add(std::move(extension));
    added->LoadFromStream(stream);
  }
}

void TGIFExtensionList::Warning(int severity, const std::string& message) const {
  owner_.Warning(severity, message);
}

void TGIFExtensionList::SaveToStream(TKwStream& stream) {
  for (auto& extension : items_) extension->SaveToStream(stream);
}

// --- trailer ---

void TGIFTrailer::SaveToStream(TKwStream& stream) {
  GIFWriteByte(stream, ';');
}

void TGIFTrailer::LoadFromStream(TKwStream& stream) {
  if (GIFReadByte(stream) != ';') throw GIFException("Invalid Image trailer");
}

}  // namespace zirk
