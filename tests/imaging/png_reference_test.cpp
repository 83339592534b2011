// Every file of the conformance sets: decodable files give the pixels of an
// independent decoder (the reference PAM, else libpng) under the reader's
// documented conversions; broken files raise EKwPNG or decode what they
// hold, and nothing crashes.

#include <gtest/gtest.h>

#include <map>

#include "imaging_support.h"
#include "png_support.h"
#include "support/testdata.h"

namespace zirk::test {
namespace {

struct IndexEntry {
  std::string file;
  bool ok = false;
  std::string pam;
};

std::vector<IndexEntry> readIndex() {
  std::vector<IndexEntry> entries;
  for (const auto& fields : ReadTsv(dataPath("png/index.tsv"))) {
    if (fields.size() >= 9) entries.push_back({fields[0], fields[6] == "ok", fields[8]});
  }
  return entries;
}

struct Decoded {
  bool raised = false;
  std::string message;
  bool truncated = false;
  Rgba rgba;
};

Decoded decode(const Bytes& data, bool plainStream) {
  Decoded out;
  TKwPNG png;
  try {
    if (plainStream) {
      PlainStream stream(data);
      png.LoadFromStream(stream);
    } else {
      TKwMemoryStream stream(data);
      png.LoadFromStream(stream);
    }
  } catch (const EKwPNG& e) {
    out.raised = true;
    out.message = e.what();
    return out;
  }
  out.truncated = png.Truncated();
  out.rgba = RgbaOfPicture(png);
  return out;
}

std::string firstDifference(const Rgba& actual, const Rgba& expected) {
  if (actual.width != expected.width || actual.height != expected.height) {
    return "size " + std::to_string(actual.width) + "x" + std::to_string(actual.height) + " vs " +
           std::to_string(expected.width) + "x" + std::to_string(expected.height);
  }
  for (size_t i = 0; i < actual.pixels.size(); ++i) {
    if (actual.pixels[i] != expected.pixels[i]) {
      const size_t pixel = i / 4;
      return "pixel (" + std::to_string(pixel % actual.width) + "," +
             std::to_string(pixel / actual.width) + ") channel " + std::to_string(i % 4) + ": " +
             std::to_string(actual.pixels[i]) + " vs " + std::to_string(expected.pixels[i]);
    }
  }
  return {};
}

TEST(PngReference, DecodableFilesGiveTheReferencePixels) {
  int checked = 0;
  for (const IndexEntry& entry : readIndex()) {
    if (!entry.ok) continue;
    SCOPED_TRACE(entry.file);
    const Bytes data = readFile(dataPath("png/" + entry.file));
    Rgba expected =
        entry.pam != "-" ? ReadPam(dataPath("png/" + entry.pam).string()) : LibpngDecode(data);
    uint8_t key[3];
    if (TrnsKey(data, key)) ApplyKey(expected, key);
    const Decoded fromMemory = decode(data, false);
    ASSERT_FALSE(fromMemory.raised) << fromMemory.message;
    EXPECT_FALSE(fromMemory.truncated);
    EXPECT_EQ(firstDifference(fromMemory.rgba, expected), "");
    // The buffered path of other streams gives the same picture.
    const Decoded fromPlain = decode(data, true);
    ASSERT_FALSE(fromPlain.raised) << fromPlain.message;
    EXPECT_EQ(fromPlain.rgba, fromMemory.rgba);
    ++checked;
  }
  EXPECT_EQ(checked, 338);
}

// What the reader makes of the files libpng rejects: a header it cannot
// use raises; damage it does not check (CRCs, Adler-32, chunks running past
// the end) leaves a picture, flagged when cut short.
TEST(PngReference, RejectedFilesRaiseOrDecodeWhatTheyHold) {
  enum Outcome { kRaises, kDecodes, kTruncated };
  const std::map<std::string, std::pair<Outcome, std::string>> expected = {
      {"pngsuite/xs1n0g01.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xs2n0g01.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xs4n0g01.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xs7n0g01.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xcrn0g04.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xlfn0g04.png", {kRaises, "PNG LoadStream: Not PNG Format"}},
      {"pngsuite/xc1n0g08.png", {kRaises, "Read Header(PNG): Error ColorType"}},
      {"pngsuite/xc9n2c08.png", {kRaises, "Read Header(PNG): Error ColorType"}},
      {"pngsuite/xd0n2c08.png", {kRaises, "Read Header(PNG): Error BitDepth"}},
      {"pngsuite/xd3n2c08.png", {kRaises, "Read Header(PNG): Error BitDepth"}},
      {"pngsuite/xd9n2c08.png", {kRaises, "Read Header(PNG): Error BitDepth"}},
      {"pngsuite/xcsn0g01.png", {kDecodes, ""}},
      {"pngsuite/xhdn0g08.png", {kDecodes, ""}},
      {"pngsuite/xdtn0g01.png", {kTruncated, ""}},
      {"libpng/testpngs/crashers/bad_iCCP.png", {kTruncated, ""}},
      {"libpng/testpngs/crashers/badadler.png", {kRaises, "Read Image (PNG): Read Error"}},
      {"libpng/testpngs/crashers/badcrc.png", {kDecodes, ""}},
  };
  const std::string hugeChunk = "libpng/testpngs/crashers/huge_";
  for (const IndexEntry& entry : readIndex()) {
    if (entry.ok) continue;
    SCOPED_TRACE(entry.file);
    const Bytes data = readFile(dataPath("png/" + entry.file));
    const Decoded got = decode(data, false);
    const Decoded plain = decode(data, true);
    EXPECT_EQ(plain.raised, got.raised);
    EXPECT_EQ(plain.message, got.message);
    EXPECT_EQ(plain.rgba, got.rgba);
    auto it = expected.find(entry.file);
    // A chunk claiming more than the file holds runs into its end.
    const bool huge = entry.file.rfind(hugeChunk, 0) == 0;
    ASSERT_TRUE(huge || it != expected.end());
    const auto& [outcome, message] =
        huge ? std::pair<Outcome, std::string>{kTruncated, ""} : it->second;
    EXPECT_EQ(got.raised, outcome == kRaises) << got.message;
    EXPECT_EQ(got.message, message);
    if (outcome != kRaises) {
      EXPECT_EQ(got.truncated, outcome == kTruncated);
    }
  }
}

}  // namespace
}  // namespace zirk::test
