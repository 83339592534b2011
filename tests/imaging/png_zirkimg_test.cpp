// zirkimg on PNG files: info, conversion to and from layered images, and
// dumps that keep alpha and the transparent colour.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "imaging/KwPNG.h"
#include "imaging_support.h"
#include "png_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

int runTool(const std::string& args, std::string& out) {
  FILE* pipe = popen((std::string("'") + ZIRKIMG_EXE + "' " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string q(const std::filesystem::path& p) {
  return "'" + p.string() + "'";
}

TEST(PngZirkimg, ConvertsThroughLayeredImagesKeepingAlpha) {
  TempDir dir;
  TKwPNG png;
  png.Bitmap().SetSize(6, 4, 24);
  FillRandom(png.Bitmap(), 31);
  png.AlphaBitmap().SetSize(6, 4, 8);
  FillRandom(png.AlphaBitmap(), 32);
  png.HasAlpha = true;
  png.SaveToFile((dir / "a.png").string());

  std::string out;
  ASSERT_EQ(runTool("info " + q(dir / "a.png"), out), 0) << out;
  EXPECT_NE(out.find("format: png"), std::string::npos) << out;
  EXPECT_NE(out.find("6x4, 24 bits"), std::string::npos) << out;
  EXPECT_NE(out.find("alpha yes"), std::string::npos) << out;
  ASSERT_EQ(runTool("convert " + q(dir / "a.png") + " " + q(dir / "b.dor"), out), 0) << out;
  ASSERT_EQ(runTool("convert " + q(dir / "b.dor") + " " + q(dir / "c.png"), out), 0) << out;
  ASSERT_EQ(runTool("dump " + q(dir / "c.png") + " " + q(dir / "c.pam"), out), 0) << out;
  EXPECT_EQ(ReadPam((dir / "c.pam").string()), RgbaOfBitmap(png.Bitmap(), &png.AlphaBitmap()));
  EXPECT_EQ(LibpngDecode(readFile(dir / "c.png")), RgbaOfBitmap(png.Bitmap(), &png.AlphaBitmap()));
}

TEST(PngZirkimg, TransparentColourSurvivesADump) {
  TempDir dir;
  const Bytes file =
      SimplePng(4, {{0, 1, 2, 1}}, 8, 3,
                {{"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90}}, {"tRNS", {255, 0}}});
  writeFile(dir / "k.png", file.data(), file.size());
  std::string out;
  ASSERT_EQ(runTool("convert " + q(dir / "k.png") + " " + q(dir / "k2.png"), out), 0) << out;
  ASSERT_EQ(runTool("dump " + q(dir / "k2.png") + " " + q(dir / "k.pam"), out), 0) << out;
  EXPECT_EQ(ReadPam((dir / "k.pam").string()), LibpngDecode(file));
}

}  // namespace
}  // namespace zirk::test
