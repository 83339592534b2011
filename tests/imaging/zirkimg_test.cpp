// zirkimg run as a user runs it: info, convert and dump of layered images,
// PNG and GIF files, with its exit codes.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "gif_support.h"
#include "imaging/dorvs.h"
#include "imaging_support.h"
#include "png_support.h"
#include "support/testdata.h"

namespace zirk {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

ToolRun run(const std::string& args, const test::TempDir& temp) {
  const fs::path errFile = temp / "stderr.txt";
  const std::string command =
      std::string("'") + ZIRKIMG_EXE + "' " + args + " 2>'" + errFile.string() + "'";
  ToolRun result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[256];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(errFile, std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(in), {});
  return result;
}

std::string q(const fs::path& p) {
  return "'" + p.string() + "'";
}

// Two frames: a keyed 8-bit one and a 24-bit one with an alpha plane.
void writeSample(const fs::path& path, int32_t code) {
  TDorvFrameList list(code);
  TDorvFrame* a = list.AddFrame();
  a->Image.SetSize(4, 6, 8);
  test::FillRandom(a->Image, 1);
  a->Image.ColorTable()[a->Image.GetRawPixel(1, 1)] = {0x30, 0x20, 0x10, 0};
  a->TransparentValue = int32_t(a->Image.GetRawPixel(1, 1));
  a->TransparentColor = int32_t(a->Image.PixelToColor(uint32_t(a->TransparentValue)));
  a->Delay = 70;
  TDorvFrame* b = list.AddFrame();
  b->Image.SetSize(5, 2, 24);
  test::FillRandom(b->Image, 2);
  EnsureAlphaPlane(b->Image);
  test::FillRandom(*b->Image.AlphaPlane(), 3);
  list.SaveToFile(path.string());
}

TEST(Zirkimg, Usage) {
  test::TempDir temp;
  for (const char* args :
       {"", "frobnicate x", "info", "info a b", "convert a", "info a --frame 1",
        "--ident-code x info a", "dump a b --frame -1", "info a --bogus", "dump a.png b.png"}) {
    ToolRun r = run(args, temp);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << args;
  }
  for (const char* help : {"-h", "--help"}) {
    ToolRun r = run(help, temp);
    EXPECT_EQ(r.exitCode, 0) << help;
    EXPECT_EQ(r.out.rfind("usage: zirkimg", 0), 0u) << help;
  }
}

TEST(Zirkimg, InfoConvertAndDump) {
  test::TempDir temp;
  const fs::path dor = temp / "sample.dor";
  writeSample(dor, 0);

  ToolRun info = run("info " + q(dor), temp);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.out,
            "format: dor, version 106\nframes: 2\n"
            "frame 0: 4x6, 8 bits, delay 70 ms, transparent 0x302010, alpha no\n"
            "frame 1: 5x2, 24 bits, delay 100 ms, transparent none, alpha yes\n");

  // .dor -> .bmp -> .dor keeps the first frame's pixels.
  const fs::path bmp = temp / "sample.bmp", back = temp / "back.dor";
  const ToolRun toBmp = run("convert " + q(dor) + " " + q(bmp), temp);
  ASSERT_EQ(toBmp.exitCode, 0);
  EXPECT_NE(toBmp.err.find("has 2 frames; " + bmp.string() + " holds the first only"),
            std::string::npos)
      << toBmp.err;
  ASSERT_EQ(run("convert " + q(bmp) + " " + q(back), temp).exitCode, 0);
  TDorvFrameList original, converted;
  TKwMemoryStream s1, s2;
  s1.LoadFromFile(dor.string());
  s2.LoadFromFile(back.string());
  LoadDorvStream(original, s1, false);
  LoadDorvStream(converted, s2, false);
  ASSERT_EQ(converted.Count(), 1);
  EXPECT_EQ(test::RowsOf(converted.GetFrame(0)->Image), test::RowsOf(original.GetFrame(0)->Image));

  // Frame 0: alpha from the transparent colour; frame 1: from its plane.
  for (int frame : {0, 1}) {
    const fs::path pam = temp / ("f" + std::to_string(frame) + ".pam");
    ToolRun dump = run("dump " + q(dor) + " " + q(pam) + (frame ? " --frame 1" : ""), temp);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    const auto bytes = test::readFile(pam);
    const TDorvFrame& f = *original.GetFrame(frame);
    const std::string header = "P7\nWIDTH " + std::to_string(f.Image.Width()) + "\nHEIGHT " +
                               std::to_string(f.Image.Height()) +
                               "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    ASSERT_EQ(bytes.size(), header.size() + size_t(f.Image.Width() * f.Image.Height() * 4));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + std::ptrdiff_t(header.size())), header);
    for (int y = 0; y < f.Image.Height(); ++y) {
      for (int x = 0; x < f.Image.Width(); ++x) {
        const uint8_t* p = &bytes[header.size() + size_t((y * f.Image.Width() + x) * 4)];
        const uint32_t raw = f.Image.GetRawPixel(x, y);
        const uint32_t color = f.Image.PixelToColor(raw);
        EXPECT_EQ(p[0], ColorR(color));
        EXPECT_EQ(p[2], ColorB(color));
        const uint8_t alpha = frame ? uint8_t(f.Image.AlphaPlane()->GetRawPixel(x, y))
                                    : (raw == uint32_t(f.TransparentValue) ? 0 : 255);
        EXPECT_EQ(p[3], alpha) << frame << " " << x << "," << y;
      }
    }
  }
}

TEST(Zirkimg, FailuresAndIdentificationCode) {
  test::TempDir temp;
  const fs::path dor = temp / "keyed.dor";
  writeSample(dor, 9);
  const fs::path a = temp / "a.bmp", b = temp / "b.bmp";
  ASSERT_EQ(run("--ident-code 9 convert " + q(dor) + " " + q(a), temp).exitCode, 0);
  ASSERT_EQ(run("convert " + q(dor) + " " + q(b) + " --ident-code 9", temp).exitCode, 0);
  EXPECT_EQ(test::readFile(a), test::readFile(b));
  ASSERT_EQ(run("convert " + q(dor) + " " + q(b), temp).exitCode, 0);
  EXPECT_NE(test::readFile(a), test::readFile(b)) << "rows stay scrambled without the code";

  const fs::path junk = temp / "junk.dor";
  test::writeFile(junk, std::string("\x89PNG\r\n\x1a\n0000000000000"));
  const std::pair<std::string, std::string> cases[] = {
      {"info " + q(temp / "missing.dor"), ""},
      {"info " + q(junk), ""},
      {"info " + q(temp / "x.xyz"), ""},
      {"info " + q(temp.path()), " is a folder, not a picture file"},
      {"dump " + q(dor) + " " + q(temp / "o.pam") + " --frame 2",
       "frame 2 does not exist; the picture has frames 0 to 1"},
      {"convert " + q(dor) + " " + q(temp / "no" / "such" / "folder.dor"), ""}};
  for (const auto& [args, says] : cases) {
    ToolRun r = run(args, temp);
    EXPECT_EQ(r.exitCode, 1) << args;
    EXPECT_EQ(r.err.rfind("zirkimg: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
}

TEST(Zirkimg, PngConvertsThroughLayeredImagesKeepingAlpha) {
  test::TempDir temp;
  TKwPNG png;
  png.Bitmap().SetSize(6, 4, 24);
  test::FillRandom(png.Bitmap(), 31);
  png.AlphaBitmap().SetSize(6, 4, 8);
  test::FillRandom(png.AlphaBitmap(), 32);
  png.HasAlpha = true;
  png.SaveToFile((temp / "a.png").string());

  ToolRun info = run("info " + q(temp / "a.png"), temp);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("format: png"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("6x4, 24 bits"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("alpha yes"), std::string::npos) << info.out;
  for (const std::string& args : {"convert " + q(temp / "a.png") + " " + q(temp / "b.dor"),
                                  "convert " + q(temp / "b.dor") + " " + q(temp / "c.png"),
                                  "dump " + q(temp / "c.png") + " " + q(temp / "c.pam")}) {
    ToolRun r = run(args, temp);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  const test::Rgba original = test::RgbaOfBitmap(png.Bitmap(), &png.AlphaBitmap());
  EXPECT_EQ(test::ReadPam((temp / "c.pam").string()), original);
  EXPECT_EQ(test::LibpngDecode(test::readFile(temp / "c.png")), original);
}

TEST(Zirkimg, PngTransparentColourSurvivesADump) {
  test::TempDir temp;
  const test::Bytes file =
      test::SimplePng(4, {{0, 1, 2, 1}}, 8, 3,
                      {{"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90}}, {"tRNS", {255, 0}}});
  test::writeFile(temp / "k.png", file.data(), file.size());
  ToolRun r = run("convert " + q(temp / "k.png") + " " + q(temp / "k2.png"), temp);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = run("dump " + q(temp / "k2.png") + " " + q(temp / "k.pam"), temp);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test::ReadPam((temp / "k.pam").string()), test::LibpngDecode(file));
}

// A PNG of which no pixel could be read is an error; one cut short inside its
// image data is shown as far as it goes, with a warning.
TEST(Zirkimg, PngWithoutImageDataIsRefusedAndACutOneWarns) {
  test::TempDir temp;
  std::vector<test::Bytes> rows(16, test::Bytes(16));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) rows[size_t(y)][size_t(x)] = uint8_t(x * 37 + y * 101);
  const test::Bytes whole =
      test::PngBuilder().Ihdr(16, 16, 8, 0).Idat(test::Unfiltered(rows)).End().bytes();
  const test::Bytes headerOnly = test::PngBuilder().Ihdr(16, 16, 8, 0).bytes();
  // Two stray bytes after the header break the chunk framing.
  test::Bytes damaged = headerOnly;
  damaged.insert(damaged.end(), {0, 0});
  damaged.insert(damaged.end(), whole.begin() + std::ptrdiff_t(headerOnly.size()), whole.end());
  for (const test::Bytes& bytes : {headerOnly, damaged}) {
    test::writeFile(temp / "none.png", bytes.data(), bytes.size());
    for (const std::string& args : {"info " + q(temp / "none.png"),
                                    "dump " + q(temp / "none.png") + " " + q(temp / "n.pam")}) {
      ToolRun r = run(args, temp);
      EXPECT_EQ(r.exitCode, 1) << args;
      EXPECT_NE(r.err.find("no pixel of the picture could be read"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(temp / "n.pam"));
  }

  const test::Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size()) * 2 / 3);
  test::writeFile(temp / "cut.png", cut.data(), cut.size());
  ToolRun r = run("dump " + q(temp / "cut.png") + " " + q(temp / "c.pam"), temp);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
  const test::Rgba shown = test::ReadPam((temp / "c.pam").string());
  ASSERT_EQ(shown.width, 16);
  EXPECT_EQ(shown.pixels[0], rows[0][0]);
}

// Entries 1 and 3 are both white and only entry 3 is transparent: exactly
// its pixels lose their alpha, read directly, through a PNG written again
// and through a layered image.
TEST(Zirkimg, PaletteKeySharingItsColourStaysWithItsEntry) {
  test::TempDir temp;
  struct Case {
    int depth;
    test::Bytes rows;  // one row of pixels 0, 1, 3, 1, 2, 3, 0, 1
  };
  for (const Case& c : {Case{8, {0, 1, 3, 1, 2, 3, 0, 1}}, Case{4, {0x01, 0x31, 0x23, 0x01}},
                        Case{2, {0x1D, 0xB1}}}) {
    SCOPED_TRACE(c.depth);
    const test::Bytes file =
        test::SimplePng(8, {c.rows}, c.depth, 3,
                        {{"PLTE", {200, 0, 0, 255, 255, 255, 0, 0, 200, 255, 255, 255}},
                         {"tRNS", {255, 255, 255, 0}}});
    test::writeFile(temp / "k.png", file.data(), file.size());
    const test::Rgba expected = test::LibpngDecode(file);
    for (const std::string via : {"", "k2.png", "k.dor"}) {
      SCOPED_TRACE(via);
      std::string source = "k.png";
      if (!via.empty()) {
        ToolRun r = run("convert " + q(temp / "k.png") + " " + q(temp / via), temp);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        source = via;
      }
      ToolRun r = run("dump " + q(temp / source) + " " + q(temp / "k.pam"), temp);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(test::ReadPam((temp / "k.pam").string()), expected);
    }
  }
}

// Each GIF frame dumped is the screen after the frames before it, disposal
// included, with alpha 0 where no frame has drawn.
TEST(Zirkimg, GifDumpedFramesAreTheComposedScreens) {
  test::TempDir temp;
  const std::string name = "animated_transparent_frame_restorebackground_loop";
  const fs::path gif = test::dataPath("gif/gif-test-suite/" + name + ".gif");
  ToolRun info = run("info " + q(gif), temp);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("frames: 4"), std::string::npos) << info.out;
  for (int n = 0; n < 4; ++n) {
    SCOPED_TRACE(n);
    const fs::path pam = temp / ("f" + std::to_string(n) + ".pam");
    ToolRun dump = run("dump " + q(gif) + " " + q(pam) + " --frame " + std::to_string(n), temp);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_EQ(test::WrongPixels(test::SuiteFrame(name, n), test::ReadPam(pam.string())), 0);
  }
  EXPECT_EQ(run("dump " + q(gif) + " " + q(temp / "x.pam") + " --frame 4", temp).exitCode, 1);
}

// A screen of 8000 x 8000 with eight 1 x 1 frames: info composes nothing,
// dump composes only up to its frame on one canvas within the picture's
// budget, and refuses with a message a screen the budget cannot hold.
TEST(Zirkimg, GifFramesAreComposedOnlyAsFarAsAsked) {
  test::TempDir temp;
  const fs::path huge = temp / "huge.gif", large = temp / "large.gif";
  const test::GifBytes hugeBytes = test::GifTinyFramesOnAHugeScreen(8000, 8);
  ASSERT_LT(hugeBytes.size(), 300u);
  test::writeFile(huge, hugeBytes.data(), hugeBytes.size());
  const test::GifBytes largeBytes = test::GifTinyFramesOnAHugeScreen(1500, 8);
  test::writeFile(large, largeBytes.data(), largeBytes.size());

  ToolRun info = run("info " + q(huge), temp);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("frames: 8\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("frame 7: 8000x8000, 32 bits, delay 48 ms, transparent none, alpha yes"),
            std::string::npos)
      << info.out;
  ToolRun refused = run("dump " + q(huge) + " " + q(temp / "h.pam"), temp);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_FALSE(refused.err.empty());

  for (int n : {0, 7}) {
    const fs::path pam = temp / "l.pam";
    ToolRun dump = run("dump " + q(large) + " " + q(pam) + " --frame " + std::to_string(n), temp);
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    const test::Rgba shown = test::ReadPam(pam.string());
    ASSERT_EQ(shown.width, 1500);
    auto alphaAt = [&](int x, int y) { return shown.pixels[size_t(y * 1500 + x) * 4 + 3]; };
    EXPECT_EQ(alphaAt(0, 0), 255);
    EXPECT_EQ(alphaAt(7, 7), n == 7 ? 255 : 0);
  }
  EXPECT_EQ(run("dump " + q(large) + " " + q(temp / "x.pam") + " --frame 8", temp).exitCode, 1);
}

}  // namespace
}  // namespace zirk
