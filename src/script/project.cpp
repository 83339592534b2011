#include "script/project.h"

#include <cstdio>

#include "base/vrfiles.h"
#include "script/imagecache.h"
#include "script/saveversion.h"

namespace zirk {

namespace {
TProject* gProject = nullptr;
}

TProject* CurrentProject() {
  return gProject;
}
void SetCurrentProject(TProject* project) {
  gProject = project;
}

bool TProject::FileAvailable(const std::string& name) const {
  if (name.empty()) return false;
  if (lookup_) return lookup_(name);
  TVrFileManager* files = TVrFileManager::Global();
  return files && files->FileExists(name);
}

void WriteVersionTag(TKwStream& stream, const std::string& magic, int version) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", version % 1000);
  stream.WriteBuffer(magic.data(), static_cast<int64_t>(magic.size()));
  stream.WriteBuffer(digits, 3);
}

int ReadVersionTag(TKwStream& stream, const std::string& magic) {
  std::string tag(magic.size() + 3, '\0');
  if (stream.Read(tag.data(), static_cast<int64_t>(tag.size())) !=
      static_cast<int64_t>(tag.size())) {
    return -1;
  }
  if (tag.compare(0, magic.size(), magic) != 0) return -1;
  int version = 0;
  for (size_t i = magic.size(); i < tag.size(); ++i) {
    if (tag[i] < '0' || tag[i] > '9') return -1;
    version = version * 10 + (tag[i] - '0');
  }
  return version;
}

void TProject::SaveStatusData(TKwStream& stream) const {
  WriteVersionTag(stream, "Status", SaveVersion);
  if (TImageCacheServices* cache = ImageCache()) {
    cache->SaveState(stream);
  } else {
    uint8_t none = 0;
    stream.WriteBuffer(&none, 1);
  }
}

void TProject::LoadStatusData(TKwStream& stream) {
  int version = ReadVersionTag(stream, "Status");
  if (version < 0) throw EProjectError("不正なステータスデータです");
  if (TImageCacheServices* cache = ImageCache()) {
    cache->LoadState(stream, version);
  } else if (version > 100) {
    uint8_t skipped;
    stream.ReadBuffer(&skipped, 1);
  }
}

}  // namespace zirk
