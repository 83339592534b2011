#include "platform/dynlib.h"

#include <dlfcn.h>

#include <cctype>
#include <system_error>
#include <utility>

namespace zirk::platform {

namespace {

std::string lastDlError(const char* fallback) {
  const char* text = dlerror();
  return text ? text : fallback;
}

}  // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool DynamicLibrary::open(const std::filesystem::path& path) {
  close();
  error_.clear();
  if (path.empty()) {
    error_ = "no library name";
    return false;
  }
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    error_ = lastDlError("cannot load library");
    return false;
  }
  return true;
}

void* DynamicLibrary::symbol(const std::string& name) {
  if (!handle_) {
    error_ = "library not loaded";
    return nullptr;
  }
  // A symbol may legitimately be null, so only dlerror tells a failure apart.
  dlerror();
  void* address = dlsym(handle_, name.c_str());
  if (const char* text = dlerror()) {
    error_ = text;
    return nullptr;
  }
  if (!address) error_ = "symbol " + name + " is null";
  return address;
}

void DynamicLibrary::close() {
  if (handle_) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

std::string hostLibraryName(std::string_view dllName) {
  std::string base(dllName);
  auto slash = base.find_last_of("\\/");
  if (slash != std::string::npos) base.erase(0, slash + 1);
  if (base.size() > 4) {
    std::string ext = base.substr(base.size() - 4);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".dll") base.resize(base.size() - 4);
  }
  for (auto& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "lib" + base + ".so";
}

std::filesystem::path programFolder() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::filesystem::current_path(ec);
  return exe.parent_path();
}

}  // namespace zirk::platform
