// The mask transition: the grey levels of a layered picture decide which
// pixels of the new screen show first.

#include "imaging/maskwipe.h"

#include <gtest/gtest.h>

#include "base/vrfiles.h"
#include "imaging/dorvs.h"
#include "imaging_support.h"
#include "support/testdata.h"

namespace zirk {
namespace {

// A 4 x 1 mask with grey levels 0, 64, 128, 255, as a saved layered image.
std::vector<uint8_t> maskFile(int32_t code) {
  TDorvFrameList list(code);
  TDorvFrame* f = list.AddFrame();
  f->Image.SetSize(4, 1, 24);
  const uint8_t levels[] = {0, 64, 128, 255};
  for (int x = 0; x < 4; ++x) f->Image.SetRawPixel(x, 0, levels[x] * 0x010101u);
  TKwMemoryStream out;
  list.SaveToStream(out, 0, 70);
  return out.Bytes();
}

TEST(MaskWipe, DarkPixelsTurnFirst) {
  const int32_t code = 31;
  std::string asked;
  TWipeFactory factory =
      MakeMaskWipeFactory([] { return code; },
                          [&](TKwStream& target, const std::string& name) {
                            asked = name;
                            const auto bytes = maskFile(code);
                            target.WriteBuffer(bytes.data(), int64_t(bytes.size()));
                            target.SetPosition(0);
                          });
  std::unique_ptr<TCustomWipe> wipe = CreateWipe(5, 255, 0, factory);
  ASSERT_NE(dynamic_cast<TMaskWipe*>(wipe.get()), nullptr);
  wipe->SetName("rule\\mask.dor");
  wipe->Prepare();
  EXPECT_EQ(asked, "rule\\mask.dor");
  ASSERT_TRUE(static_cast<TMaskWipe*>(wipe.get())->HasMask());

  // An 8 x 2 screen stretches the 4 x 1 mask.
  TDIBX oldScreen(8, 2, 32), newScreen(8, 2, 32), dest(8, 2, 32);
  oldScreen.FillRect(oldScreen.GetBoundsRect(), 0x111111);
  newScreen.FillRect(newScreen.GetBoundsRect(), 0x999999);
  struct Step {
    int32_t elapsed;
    int newPixels;  // of each row, from the left
  };
  for (const Step& s :
       {Step{0, 0}, Step{1, 2}, Step{65, 4}, Step{200, 6}, Step{254, 6}, Step{255, 8}}) {
    wipe->SetElapsed(s.elapsed);
    wipe->Compose(dest, oldScreen, newScreen);
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 8; ++x) {
        EXPECT_EQ(dest.GetPixel(x, y), x < s.newPixels ? 0x999999u : 0x111111u)
            << "elapsed " << s.elapsed << " at " << x;
      }
    }
  }
  // In place over the old screen.
  wipe->SetElapsed(100);
  wipe->Compose(oldScreen, oldScreen, newScreen);
  EXPECT_EQ(oldScreen.GetPixel(3, 1), 0x999999u);
  EXPECT_EQ(oldScreen.GetPixel(4, 1), 0x111111u);
}

TEST(MaskWipe, WithoutMaskItCrossFadesAndAMissingMaskRaises) {
  TMaskWipe plain(3, 0, [](TKwStream&, const std::string&) { FAIL() << "nothing to load"; });
  plain.Prepare();
  EXPECT_FALSE(plain.HasMask());
  plain.SetLength(2);
  plain.SetElapsed(1);
  TDIBX a(2, 1, 32), b(2, 1, 32), out(2, 1, 32);
  b.FillRect(b.GetBoundsRect(), 0xFEFEFE);
  plain.Compose(out, a, b);
  EXPECT_GT(out.GetPixel(0, 0), 0u);
  EXPECT_LT(out.GetPixel(0, 0), 0xFEFEFEu);

  TMaskWipe missing(3, 0, [](TKwStream&, const std::string& name) {
    throw Exception(name + ":ファイルがありません");
  });
  missing.SetName("none.dor");
  EXPECT_THROW(missing.Prepare(), Exception);

  // Read from the game's files, a damaged mask names itself once.
  test::TempDir dir;
  TVrFileManager files(dir.path().string());
  TVrFileManager::SetGlobal(&files);
  const auto whatOf = [](const std::string& bytes) {
    test::writeFile(TVrFileManager::Global()->BaseFolder() + "mask.dor", bytes);
    TMaskWipe damaged(3, 0);
    damaged.SetName("mask.dor");
    return test::ErrorOf<Exception>([&] { damaged.Prepare(); });
  };
  EXPECT_EQ(whatOf("Dorv1x"), "mask.dor: '1x' is not a valid integer value");
  EXPECT_EQ(whatOf("Dorv106"), "mask.dor: the file ended early");
  TVrFileManager::SetGlobal(nullptr);
}

}  // namespace
}  // namespace zirk
