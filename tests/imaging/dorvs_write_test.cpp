// Writing layered images: round trips of random pictures through every
// kind, the header the writer fills, and saves that fail without losing
// the old file.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "imaging/dorvs.h"
#include "imaging_support.h"
#include "support/testdata.h"

namespace zirk {
namespace {

void makeFrame(TDorvFrameList& list, int bits, bool alpha, bool keyed, uint32_t seed) {
  TDorvFrame* frame = list.AddFrame();
  frame->Image.SetSize(23, 11, bits);
  test::FillRandom(frame->Image, seed);
  frame->Delay = int32_t(seed);
  if (keyed) {
    frame->TransparentValue = int32_t(frame->Image.GetRawPixel(3, 4));
    frame->TransparentColor = int32_t(frame->Image.PixelToColor(uint32_t(frame->TransparentValue)));
  }
  if (alpha) {
    EnsureAlphaPlane(frame->Image);
    test::FillRandom(*frame->Image.AlphaPlane(), seed + 1);
  }
}

TEST(DorvWrite, RoundTripsKeepPixelsAlphaAndTransparency) {
  for (int kind : {0, 1, 2}) {
    for (int bits : {1, 4, 8, 15, 16, 24, 32}) {
      for (int32_t code : {0, 77}) {
        for (int variant = 0; variant < 4; ++variant) {
          const bool alpha = variant & 1, keyed = variant & 2;
          SCOPED_TRACE(testing::Message() << "kind " << kind << " bits " << bits << " code " << code
                                          << " alpha " << alpha << " keyed " << keyed);
          TDorvFrameList list(code);
          list.Background = 0x123456;
          makeFrame(list, bits, alpha, keyed, 100 + bits);
          makeFrame(list, bits, !alpha, keyed, 200 + bits);
          TKwMemoryStream stream;
          list.SaveToStream(stream, kind, 95);
          stream.SetPosition(0);
          TDorvFrameList read(code);
          LoadDorvStream(read, stream, false);
          ASSERT_EQ(read.Count(), 2);
          EXPECT_EQ(read.Background, 0x123456);
          for (int i = 0; i < 2; ++i) {
            const TDorvFrame& a = *list.GetFrame(i);
            const TDorvFrame& b = *read.GetFrame(i);
            EXPECT_EQ(b.Name, "Frame" + std::to_string(i + 1));
            EXPECT_EQ(b.Delay, a.Delay);
            ASSERT_EQ(SurfaceBitCount(b.Image), bits);
            EXPECT_EQ(b.TransparentValue, a.TransparentValue);
            EXPECT_EQ(b.TransparentColor, a.TransparentColor);
            ASSERT_EQ(b.HasAlpha(), a.HasAlpha());
            if (a.HasAlpha()) {
              EXPECT_EQ(test::RowsOf(*b.Image.AlphaPlane()), test::RowsOf(*a.Image.AlphaPlane()));
            }
            // JPEG planes are lossy; the other kinds keep every pixel.
            const bool exact = kind != 2 || code != 0;
            if (exact) {
              for (int y = 0; y < a.Image.Height(); ++y) {
                for (int x = 0; x < a.Image.Width(); ++x) {
                  ASSERT_EQ(b.Image.GetRawPixel(x, y), a.Image.GetRawPixel(x, y));
                }
              }
            } else {
              EXPECT_EQ(b.Image.Width(), a.Image.Width());
              EXPECT_EQ(b.Image.Height(), a.Image.Height());
            }
          }
        }
      }
    }
  }
}

TEST(DorvWrite, JpegPlanesStayCloseToThePicture) {
  TDorvFrameList list;
  TDorvFrame* frame = list.AddFrame();
  frame->Image.SetSize(64, 48, 24);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) frame->Image.SetRawPixel(x, y, RGBColor(x * 4, y * 5, 128));
  }
  TKwMemoryStream stream;
  list.SaveToStream(stream, 2, 95);
  stream.SetPosition(0);
  TDorvFrameList read;
  LoadDorvStream(read, stream, false);
  int64_t error = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint32_t a = frame->Image.GetRawPixel(x, y),
                     b = read.GetFrame(0)->Image.GetRawPixel(x, y);
      for (int s = 0; s < 24; s += 8) error += std::abs(int((a >> s) & 255) - int((b >> s) & 255));
    }
  }
  EXPECT_LT(error / (64 * 48 * 3), 3);
}

TEST(DorvWrite, HeaderAndMagic) {
  struct Case {
    int32_t code;
    int kind;
    uint8_t scramble, written;
    bool isDorv;
  };
  const Case cases[] = {
      {0, 0, 0, 0, false}, {0, 1, 0, 1, true}, {0, 2, 0, 2, false},
      {5, 0, 1, 1, true},  {5, 2, 1, 1, true}, {-1, 1, 1, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " " << c.kind);
    TDorvFrameList list(c.code);
    list.PlainFirstLayer = true;
    makeFrame(list, 15, false, false, 1);
    const TDorvHeader h = FillDorvHeader(list, list.GetFrame(0), c.kind, 70);
    EXPECT_EQ(h, (TDorvHeader{.Version = 106,
                              .Width = 23,
                              .Height = 11,
                              .BitCount = 15,
                              .FrameCount = 1,
                              .Flag = 1,
                              .Scramble = c.scramble,
                              .Compression = c.written,
                              .PlainFirstLayer = 1,
                              .Quality = 70}));
    TKwMemoryStream stream;
    list.SaveToStream(stream, c.kind, 70);
    const auto& bytes = stream.Bytes();
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 7), "Dorv106");
    EXPECT_EQ(DecodeDorvHeader(bytes.data() + 11, 40), h);
    stream.SetPosition(0);
    EXPECT_EQ(IsDorvStream(stream), c.isDorv);
    EXPECT_EQ(stream.Position(), 51);
  }
  // Older tags and other data are never "uncompressed layered images".
  for (const char* text : {"Dorv102xxxxxxxxxxxxxxxxxxxxx", "Dorv", "PNG", "Dorv1x3"}) {
    TKwMemoryStream stream(std::vector<uint8_t>(text, text + std::strlen(text)));
    EXPECT_FALSE(IsDorvStream(stream)) << text;
  }
}

TEST(DorvWrite, FramesWithoutAlphaWriteNoAlphaPlane) {
  TDorvFrameList list;
  makeFrame(list, 24, false, false, 3);
  TKwMemoryStream stream;
  list.SaveToStream(stream, 1, 70);
  const auto& b = stream.Bytes();
  // Frame record after tag, length and header: name "Frame1", transparent,
  // delay, 5 bytes, layer count, width, height, bit count; then the layer.
  size_t at = 51;
  auto i32 = [&](size_t p) {
    return int32_t(b[p] | b[p + 1] << 8 | b[p + 2] << 16 | b[p + 3] << 24);
  };
  EXPECT_EQ(i32(at), 6);
  at += 4 + 6;
  EXPECT_EQ(i32(at), -1);
  at += 4 + 4 + 5;
  EXPECT_EQ(i32(at), 1);
  at += 16 + 8;
  EXPECT_EQ(b[at], 1);         // visible
  EXPECT_EQ(i32(at + 1), -1);  // transparent
  EXPECT_EQ(i32(at + 5), 255);
  EXPECT_EQ(b[at + 9], 0);  // use alpha
  at += 10;
  EXPECT_EQ(i32(at), 5);
  EXPECT_EQ(std::string(b.begin() + std::ptrdiff_t(at + 4), b.begin() + std::ptrdiff_t(at + 9)),
            "Layer");
  at += 9;
  const int32_t pixelSize = i32(at);
  EXPECT_EQ(pixelSize, 11 * 72);
  at += 4 + size_t(pixelSize);
  EXPECT_EQ(i32(at), 0);      // alpha size
  EXPECT_EQ(i32(at + 4), 0);  // Rects1
  EXPECT_EQ(i32(at + 8), 0);  // Rects2
  EXPECT_EQ(at + 12, b.size());
}

TEST(DorvWrite, SaveToFileReplacesOnlyWhenComplete) {
  test::TempDir dir;
  const std::string target = (dir / "pic.dor").string();
  TDorvFrameList small;
  makeFrame(small, 24, false, false, 5);
  small.SaveToFile(target);
  TDorvFrameList back;
  TKwMemoryStream data;
  data.LoadFromFile(target);
  LoadDorvStream(back, data, false);
  EXPECT_EQ(back.Count(), 1);
  const auto saved = test::readFile(target);

  // A save that runs out of file space fails and keeps the old file.
  TDorvFrameList big;
  for (int i = 0; i < 8; ++i) makeFrame(big, 32, true, false, 10 + uint32_t(i));
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit oldLimit{};
  getrlimit(RLIMIT_FSIZE, &oldLimit);
  rlimit limit = oldLimit;
  limit.rlim_cur = saved.size() + 100;
  setrlimit(RLIMIT_FSIZE, &limit);
  EXPECT_THROW(big.SaveToFile(target), Exception);
  setrlimit(RLIMIT_FSIZE, &oldLimit);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(test::readFile(target), saved);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file is left behind";

  // A target that cannot be replaced (a folder) fails too.
  std::filesystem::create_directory(dir / "folder.dor");
  std::filesystem::create_directory(dir / "folder.dor" / "inside");
  EXPECT_THROW(small.SaveToFile((dir / "folder.dor").string()), EFCreateError);
}

}  // namespace
}  // namespace zirk
