// zirkimg on GIF files: each frame dumped is the screen after the frames
// before it, disposal included, with alpha 0 where no frame has drawn.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "gif_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

int runTool(const std::string& args, std::string& out) {
  FILE* pipe = popen((std::string("'") + ZIRKIMG_EXE + "' " + args + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The RGBA bytes after a PAM header.
std::vector<uint8_t> pamPixels(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), {});
  const size_t at = all.find("ENDHDR\n");
  if (at == std::string::npos) return {};
  return std::vector<uint8_t>(all.begin() + long(at + 7), all.end());
}

TEST(GifZirkimg, DumpedFramesAreTheComposedScreens) {
  TempDir temp;
  const std::string name = "animated_transparent_frame_restorebackground_loop";
  const std::string gif = dataPath("gif/gif-test-suite/" + name + ".gif").string();
  std::string out;
  ASSERT_EQ(runTool("info '" + gif + "'", out), 0) << out;
  EXPECT_NE(out.find("frames: 4"), std::string::npos) << out;
  for (int n = 0; n < 4; ++n) {
    SCOPED_TRACE(n);
    const std::string pam = (temp / ("f" + std::to_string(n) + ".pam")).string();
    std::string log;
    ASSERT_EQ(runTool("dump '" + gif + "' '" + pam + "' --frame " + std::to_string(n), log), 0)
        << log;
    int w = 0, h = 0;
    std::vector<uint8_t> ref;
    ASSERT_TRUE(ReadPngRgba(
        dataPath("gif/expected/gif-test-suite/coalesced/" + name + "-" + std::to_string(n) + ".png")
            .string(),
        w, h, ref));
    const std::vector<uint8_t> got = pamPixels(pam);
    ASSERT_EQ(got.size(), ref.size());
    int wrong = 0;
    for (size_t i = 0; i < ref.size(); i += 4) {
      if (ref[i + 3] == 0) {
        wrong += got[i + 3] != 0;
      } else {
        wrong += got[i + 3] != 255 || got[i] != ref[i] || got[i + 1] != ref[i + 1] ||
                 got[i + 2] != ref[i + 2];
      }
    }
    EXPECT_EQ(wrong, 0);
  }
  std::string log;
  EXPECT_EQ(runTool("dump '" + gif + "' '" + (temp / "x.pam").string() + "' --frame 4", log), 1);
}

}  // namespace
}  // namespace zirk::test
