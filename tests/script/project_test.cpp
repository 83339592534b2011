#include "script/project.h"

#include <gtest/gtest.h>

#include "base/vrfiles.h"
#include "script/imagecache.h"
#include "script/saveversion.h"
#include "script/sysvars.h"
#include "support/testdata.h"

namespace zirk {
namespace {

class FakeCache : public TImageCacheServices {
 public:
  void ReleaseSurfaces() override {}
  void RebuildSurfaces(bool) override {}
  void SaveState(TKwStream& s) override {
    uint8_t b = flag;
    s.WriteBuffer(&b, 1);
  }
  void LoadState(TKwStream& s, int version) override {
    loadedVersion = version;
    if (version > 100) {
      uint8_t b;
      s.ReadBuffer(&b, 1);
      flag = b;
    }
  }
  void SetCGDither(bool) override {}
  void Purge(const std::string&) override {}
  uint8_t flag = 0;
  int loadedVersion = -1;
};

TEST(Project, IdentityAndFileLookup) {
  TProject none;
  EXPECT_EQ(none.IdentCode(), 0);
  EXPECT_EQ(none.RegistryKey(), "");
  EXPECT_FALSE(none.FileAvailable("bg.dor"));

  TProject p(0x1234, "Maker\\Game", [](const std::string& n) { return n == "bg.dor"; });
  EXPECT_EQ(p.IdentCode(), 0x1234);
  EXPECT_EQ(p.RegistryKey(), "Maker\\Game");
  EXPECT_TRUE(p.FileAvailable("bg.dor"));
  EXPECT_FALSE(p.FileAvailable("missing.ogg"));
  EXPECT_FALSE(p.FileAvailable(""));

  // Without a lookup of its own the project asks the virtual file system.
  test::TempDir dir;
  test::writeFile(dir / "se.ogg", "x");
  TVrFileManager files(dir.path().string());
  TVrFileManager::SetGlobal(&files);
  EXPECT_TRUE(none.FileAvailable("SE.OGG"));
  EXPECT_FALSE(none.FileAvailable("bgm.ogg"));
  TVrFileManager::SetGlobal(nullptr);
  EXPECT_FALSE(none.FileAvailable("se.ogg"));
}

TEST(Project, StatusRecordCarriesTheCacheByteAndItsVersion) {
  FakeCache cache;
  SetImageCache(&cache);
  TProject p;
  cache.flag = 1;
  TKwMemoryStream s;
  p.SaveStatusData(s);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 9),
            "Status" + std::to_string(SaveVersion));
  EXPECT_EQ(s.Size(), 10);

  cache.flag = 0;
  s.SetPosition(0);
  p.LoadStatusData(s);
  EXPECT_EQ(cache.loadedVersion, SaveVersion);
  EXPECT_EQ(cache.flag, 1);

  // A version-100 record has no byte: the flag stays.
  TKwMemoryStream old;
  WriteVersionTag(old, "Status", 100);
  old.SetPosition(0);
  p.LoadStatusData(old);
  EXPECT_EQ(cache.loadedVersion, 100);
  EXPECT_EQ(cache.flag, 1);

  TKwMemoryStream bad(std::vector<uint8_t>{'S', 't', 'a', 't', 'u', 'z', '1', '3', '4', 0});
  EXPECT_THROW(p.LoadStatusData(bad), EProjectError);
  SetImageCache(nullptr);
}

TEST(Project, VersionTags) {
  TKwMemoryStream s;
  WriteVersionTag(s, "zirk", 7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), 7), "zirk007");
  const std::vector<std::pair<std::string, int>> cases = {
      {"zirk134", 134}, {"zirk1x4", -1}, {"Zirk134", -1}, {"zirk13", -1}};
  for (const auto& [text, version] : cases) {
    TKwMemoryStream m(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(ReadVersionTag(m, "zirk"), version) << text;
  }
}

TEST(SystemVariables, LogLinesAreFormattedOnlyWhenBound) {
  std::vector<std::string> lines;
  ZirkLogCommand(1, "ImgNew", 3);  // unbound: nothing happens
  SetZirkLogWrite([&](const std::string& l) { lines.push_back(l); });
  ZirkLogCommand(0xABC, "ImgNew", 12);
  ZirkLogEvent(0x10, "*click", 34);
  SetZirkLogWrite({});
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "00000abc : ImgNew(12)");
  EXPECT_EQ(lines[1], "00000010 : <Event>*click(34)");
  EXPECT_EQ(SystemVariables().SelIndex, -1);
}

}  // namespace
}  // namespace zirk
