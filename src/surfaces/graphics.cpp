#include "surfaces/graphics.h"

#include <algorithm>
#include <cctype>

#include "surfaces/dib.h"

namespace zirk {

namespace {

std::string lowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string normalExtension(const std::string& extension) {
  std::string e = extension;
  if (!e.empty() && e[0] == '.') e.erase(0, 1);
  return lowerAscii(e);
}

std::string extensionOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot + 1);
}

}  // namespace

// --- TGraphic ---

void TGraphic::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  Changed();
}

void TGraphic::LoadFromFile(const std::string& hostPath) {
  TKwFileStream stream(hostPath, TKwFileStream::Mode::OpenRead);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& hostPath) {
  TKwFileStream stream(hostPath, TKwFileStream::Mode::Create);
  SaveToStream(stream);
}

void TGraphic::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (!source.AssignTo(*this)) {
    throw EConvertError("Cannot assign a " + source.ClassName() + " to a " + ClassName());
  }
}

bool TGraphic::AssignTo(TGraphic&) const {
  return false;
}

void TGraphic::SaveToClipboardFormat(TClipboard&) {}

void TGraphic::LoadFromClipboardFormat(const TClipboard&, uint32_t) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::Changed() {
  modified_ = true;
  if (OnChange) OnChange(*this);
}

bool TGraphic::Progress(TProgressStage stage, int percentDone, bool redrawNow,
                        const std::string& msg) {
  if (!OnProgress) return false;
  TProgressInfo info{stage, percentDone, redrawNow, msg};
  return OnProgress(*this, info);
}

// --- TPictureFormats ---

TPictureFormats& TPictureFormats::Instance() {
  static TPictureFormats formats;
  return formats;
}

TPictureFormats::TPictureFormats() {
  auto makeBitmap = [] { return std::make_unique<TDIB>(); };
  files_.push_back({"bmp", "Bitmaps", typeid(TDIB), makeBitmap});
  clips_.push_back({CF_DIB, typeid(TDIB), makeBitmap});
}

void TPictureFormats::RegisterFileFormat(const std::string& extension,
                                         const std::string& description, std::type_index classId,
                                         TGraphicFactory create) {
  std::lock_guard guard(lock_);
  files_.push_back({extension, description, classId, std::move(create)});
}

void TPictureFormats::RegisterClipboardFormat(uint32_t format, std::type_index classId,
                                              TGraphicFactory create) {
  std::lock_guard guard(lock_);
  clips_.push_back({format, classId, std::move(create)});
}

void TPictureFormats::UnregisterGraphicClass(std::type_index classId) {
  std::lock_guard guard(lock_);
  std::erase_if(files_, [&](const TFileFormat& f) { return f.ClassId == classId; });
  std::erase_if(clips_, [&](const ClipFormat& f) { return f.ClassId == classId; });
}

std::optional<TFileFormat> TPictureFormats::FindExtension(const std::string& extension) const {
  std::lock_guard guard(lock_);
  std::string wanted = normalExtension(extension);
  if (wanted.empty()) return std::nullopt;
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    if (normalExtension(it->Extension) == wanted) return *it;
  }
  return std::nullopt;
}

std::optional<TFileFormat> TPictureFormats::FindClass(std::type_index classId) const {
  std::lock_guard guard(lock_);
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    if (it->ClassId == classId) return *it;
  }
  return std::nullopt;
}

std::vector<TFileFormat> TPictureFormats::FileFormats() const {
  std::lock_guard guard(lock_);
  return files_;
}

std::unique_ptr<TGraphic> TPictureFormats::CreateForClipboard(const TClipboard& clipboard,
                                                              uint32_t* formatOut) const {
  std::lock_guard guard(lock_);
  for (const ClipFormat& f : clips_) {
    if (clipboard.HasFormat(f.Format)) {
      if (formatOut) *formatOut = f.Format;
      return f.Create();
    }
  }
  return nullptr;
}

// --- TPicture ---

TPicture::~TPicture() = default;

void TPicture::attach() {
  if (!graphic_) return;
  graphic_->OnChange = [this](TGraphic&) {
    if (OnChange) OnChange(*graphic_);
  };
  graphic_->OnProgress = [this](TGraphic& sender, const TProgressInfo& info) {
    return OnProgress ? OnProgress(sender, info) : false;
  };
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) {
  graphic_ = std::move(graphic);
  attach();
  if (OnChange && graphic_) OnChange(*graphic_);
}

void TPicture::Assign(const TGraphic* source) {
  if (!source) {
    graphic_.reset();
    return;
  }
  std::unique_ptr<TGraphic> copy;
  std::optional<TFileFormat> format = TPictureFormats::Instance().FindClass(typeid(*source));
  copy = format ? format->Create() : std::make_unique<TDIB>();
  copy->Assign(*source);
  SetGraphic(std::move(copy));
}

TDIB& TPicture::Bitmap() {
  auto* dib = dynamic_cast<TDIB*>(graphic_.get());
  if (!dib) {
    SetGraphic(std::make_unique<TDIB>());
    dib = static_cast<TDIB*>(graphic_.get());
  }
  return *dib;
}

int TPicture::Width() const {
  return graphic_ ? graphic_->GetWidth() : 0;
}
int TPicture::Height() const {
  return graphic_ ? graphic_->GetHeight() : 0;
}

void TPicture::LoadFromFile(const std::string& hostPath) {
  std::string ext = extensionOf(hostPath);
  std::optional<TFileFormat> format = TPictureFormats::Instance().FindExtension(ext);
  if (!format) throw EInvalidGraphic("Unknown picture file extension (." + ext + ")");
  std::unique_ptr<TGraphic> graphic = format->Create();
  graphic->OnProgress = [this](TGraphic& sender, const TProgressInfo& info) {
    return OnProgress ? OnProgress(sender, info) : false;
  };
  graphic->LoadFromFile(hostPath);
  SetGraphic(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& hostPath) {
  if (graphic_) graphic_->SaveToFile(hostPath);
}

void TPicture::LoadFromClipboard(const TClipboard& clipboard) {
  uint32_t format = 0;
  std::unique_ptr<TGraphic> graphic =
      TPictureFormats::Instance().CreateForClipboard(clipboard, &format);
  if (!graphic) throw EInvalidGraphic("Unsupported clipboard format");
  graphic->LoadFromClipboardFormat(clipboard, format);
  SetGraphic(std::move(graphic));
}

// --- clipboard ---

namespace {

struct ClipboardNames {
  std::mutex lock;
  std::vector<std::string> names;  // format 0xC000 + index
};

ClipboardNames& clipboardNames() {
  static ClipboardNames names;
  return names;
}

constexpr uint32_t kFirstNamedFormat = 0xC000;

}  // namespace

uint32_t RegisterClipboardFormat(const std::string& name) {
  if (name.empty()) return 0;
  ClipboardNames& n = clipboardNames();
  std::lock_guard guard(n.lock);
  std::string key = lowerAscii(name);
  for (size_t i = 0; i < n.names.size(); ++i) {
    if (lowerAscii(n.names[i]) == key) return kFirstNamedFormat + static_cast<uint32_t>(i);
  }
  n.names.push_back(name);
  return kFirstNamedFormat + static_cast<uint32_t>(n.names.size() - 1);
}

std::string GetClipboardFormatName(uint32_t format) {
  ClipboardNames& n = clipboardNames();
  std::lock_guard guard(n.lock);
  if (format < kFirstNamedFormat || format - kFirstNamedFormat >= n.names.size()) return {};
  return n.names[format - kFirstNamedFormat];
}

void TClipboard::Clear() {
  formats_.clear();
}

void TClipboard::SetData(uint32_t format, std::vector<uint8_t> data) {
  for (auto& entry : formats_) {
    if (entry.first == format) {
      entry.second = std::move(data);
      return;
    }
  }
  formats_.emplace_back(format, std::move(data));
}

bool TClipboard::HasFormat(uint32_t format) const {
  return GetData(format) != nullptr;
}

const std::vector<uint8_t>* TClipboard::GetData(uint32_t format) const {
  for (const auto& entry : formats_) {
    if (entry.first == format) return &entry.second;
  }
  return nullptr;
}

std::vector<uint32_t> TClipboard::Formats() const {
  std::vector<uint32_t> result;
  for (const auto& entry : formats_) result.push_back(entry.first);
  return result;
}

void TClipboard::Assign(TGraphic& graphic) {
  Clear();
  graphic.SaveToClipboardFormat(*this);
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

}  // namespace zirk
