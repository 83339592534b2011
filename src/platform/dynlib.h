#pragma once
// Run-time loaded libraries, in the shape of LoadLibrary/GetProcAddress/
// FreeLibrary: the media library and optional helper libraries are bound by
// name when the program starts, and a missing one is an ordinary outcome.

#include <filesystem>
#include <string>
#include <string_view>

namespace zirk::platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary() { close(); }
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the library (a previous one is closed first); false with error()
  // set when it cannot be loaded. A name without a slash is searched on the
  // system library path, as dlopen does.
  bool open(const std::filesystem::path& path);
  // nullptr with error() set when the library is not open or lacks the name.
  void* symbol(const std::string& name);
  template <typename F>
  F function(const std::string& name) {
    return reinterpret_cast<F>(symbol(name));
  }
  void close();

  bool isOpen() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// The host file of a Windows library name: "zirk.dll" is "libzirk.so".
std::string hostLibraryName(std::string_view dllName);
// Folder of the running program, where libraries that ship with it lie.
std::filesystem::path programFolder();

}  // namespace zirk::platform
