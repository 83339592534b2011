#pragma once
// The loaded project: identification code, registry key, the data-file
// lookup and the status save. One exists while a game runs; the objects
// that test their sources ask it whether a file can be read.

#include <cstdint>
#include <functional>
#include <string>

#include "base/streams.h"

namespace zirk {

class EProjectError : public Exception {
 public:
  using Exception::Exception;
};

class TProject {
 public:
  // Answers whether a game file can be read; without one the program's
  // virtual file system is asked.
  using FileLookup = std::function<bool(const std::string& name)>;

  TProject() = default;
  TProject(int32_t identCode, std::string registryKey, FileLookup lookup = {})
      : identCode_(identCode), registryKey_(std::move(registryKey)), lookup_(std::move(lookup)) {}

  // 0 without a project file.
  int32_t IdentCode() const { return identCode_; }
  const std::string& RegistryKey() const { return registryKey_; }
  void SetFileLookup(FileLookup lookup) { lookup_ = std::move(lookup); }
  bool FileAvailable(const std::string& name) const;

  // Status record: the tag "Status" with the 3-digit save version, then the
  // image cache's byte. Loading passes the record's own version on.
  void SaveStatusData(TKwStream& stream) const;
  void LoadStatusData(TKwStream& stream);

 private:
  int32_t identCode_ = 0;
  std::string registryKey_;
  FileLookup lookup_;
};

// Writes magic followed by the version as 3 decimal digits, no length prefix.
void WriteVersionTag(TKwStream& stream, const std::string& magic, int version);
// Reads a tag written that way; returns its version or -1 when the magic or
// the digits do not match (the stream position is then unspecified).
int ReadVersionTag(TKwStream& stream, const std::string& magic);

// The project while one is loaded (owned by start-up code), else nullptr.
TProject* CurrentProject();
void SetCurrentProject(TProject* project);

}  // namespace zirk
