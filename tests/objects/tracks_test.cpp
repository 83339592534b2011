#include <gtest/gtest.h>

#include <vector>

#include "film_support.h"
#include "objects/tracks.h"
#include "objects/trackswipe.h"

namespace zirk::test {
namespace {

TEST(Interpolation, IntegerEasings) {
  struct Case {
    uint8_t mode;
    int32_t from, to, count;
    std::vector<int32_t> values;  // at i = 0, 1, ...
  };
  const Case cases[] = {
      {MT_NORMAL, 0, 100, 5, {0, 25, 50, 75, 100}},
      {MT_NORMAL, 0, 100, 6, {0, 20, 40, 60, 80, 100}},  // a chained track follows
      {MT_NORMAL, 100, 0, 3, {100, 50, 0}},
      {MT_NORMAL, 0, -7, 4, {0, -2, -4, -7}},  // truncation toward zero
      {MT_DEC, 0, 100, 3, {0, 50, 100}},
      {5, 0, 100, 3, {0, 50, 100}},  // every mode above 2 decelerates
      {MT_INC, 0, 100, 3, {0, 50, 100}},
      {MT_DEC, 0, 100, 5, {0, 31, 59, 81, 100}},
      {MT_INC, 0, 100, 5, {0, 19, 41, 69, 100}},
      {MT_NORMAL, 7, 9, 1, {7}},
      // Spans beyond 32 bits stay exact.
      {MT_NORMAL,
       -2000000000,
       2000000000,
       5,
       {-2000000000, -1000000000, 0, 1000000000, 2000000000}},
      // sin(pi / 6) is a hair below 0.5 as a double.
      {MT_DEC, INT32_MIN, INT32_MAX, 3, {INT32_MIN, -1, INT32_MAX}},
  };
  for (const Case& c : cases) {
    for (size_t i = 0; i < c.values.size(); ++i)
      EXPECT_EQ(InterpolateInt(c.mode, c.from, c.count, int32_t(i), c.to), c.values[i])
          << "mode " << int(c.mode) << " count " << c.count << " i " << i;
  }
}

TEST(Interpolation, FloatEasings) {
  struct Case {
    uint8_t mode;
    double from, to;
    int32_t count;
    std::vector<double> values;
  };
  const Case cases[] = {
      {MT_NORMAL, 0, 1, 5, {0, 0.2, 0.4, 0.6, 1}},  // divides by the count
      {MT_DEC, 0, 90, 3, {0, 45, 90}},
      {MT_INC, -90, -90, 4, {-90, -90, -90, -90}},
  };
  for (const Case& c : cases)
    for (size_t i = 0; i < c.values.size(); ++i)
      EXPECT_NEAR(InterpolateFloat(c.mode, int32_t(i), c.from, c.to, c.count), c.values[i], 1e-9)
          << int(c.mode) << " " << i;
}

class CellFrame : public TCustomFrame {
 public:
  CellFrame(TCustomFrameList& track, int32_t duration) : TCustomFrame(track), duration_(duration) {}
  int32_t Duration() const override { return duration_; }

 private:
  int32_t duration_;
};

class CellTrack : public TCustomFrameList {
 public:
  CellTrack(TFilmManager& film, std::vector<int32_t> durations, int32_t loop)
      : TCustomFrameList(film) {
    for (int32_t d : durations) Frames.push_back(std::make_unique<CellFrame>(*this, d));
    LoopLength = loop;
  }
  TTrackType GetType() const override { return ttImage; }
};

TEST(TrackFrames, FrameIndexWalksTheDurations) {
  TFilmManager film;
  struct Case {
    std::vector<int32_t> durations;
    int32_t loop;
    std::vector<int32_t> indices;  // at t = 0, 1, ...
  };
  const Case cases[] = {
      {{2, 3}, 5, {0, 0, 1, 1, 1, 0, 0, 1}},
      {{2, 3}, 0, {0, 0, 0}},                       // no loop length: always the first tick
      {{2, 3}, 9, {0, 0, 1, 1, 1, 1, 1, 1, 1, 0}},  // past the frames: the last
      {{}, 5, {-1, -1}},
  };
  for (const Case& c : cases) {
    CellTrack track(film, c.durations, c.loop);
    for (size_t t = 0; t < c.indices.size(); ++t)
      EXPECT_EQ(track.FrameIndexAt(int32_t(t)), c.indices[t]) << "loop " << c.loop << " t " << t;
  }
}

TEST(TrackFrames, ChainingAddsOneToTheCountAndStartsAtTheParentsEnd) {
  TFilmManager film;
  auto* a = static_cast<CellTrack*>(
      film.AddTrack(std::make_unique<CellTrack>(film, std::vector<int32_t>{1}, 1)));
  a->Start = 10;
  a->Length = 5;
  EXPECT_EQ(a->InterpolateInt(MT_NORMAL, 0, 4, 100), 100);
  auto* b = film.AddTrack(std::make_unique<CellTrack>(film, std::vector<int32_t>{1}, 1));
  b->Parent = a;
  b->Start = 500;
  b->Length = 3;
  EXPECT_EQ(a->InterpolateInt(MT_NORMAL, 0, 4, 100), 80);
  EXPECT_EQ(a->InterpolateFloat(MT_NORMAL, 4, 0, 1), 1.0 * 4 / 6);
  EXPECT_EQ(b->TrackStart(), 15);
  EXPECT_TRUE(b->Active(17));
  EXPECT_FALSE(b->Active(18));
  EXPECT_FALSE(b->Active(14));
}

TEST(TrackFrames, CommonRecordRoundTrips) {
  TFilmManager film;
  auto* w = static_cast<TWipeFrameList*>(film.AddTrack(std::make_unique<TWipeFrameList>(film)));
  auto* chained =
      static_cast<TWipeFrameList*>(film.AddTrack(std::make_unique<TWipeFrameList>(film)));
  chained->Parent = w;
  chained->Length = 44;
  chained->Reserved = -5;
  chained->LoopLength = 12;
  chained->Priority = 3;
  chained->FlipV = true;
  chained->SetWipeKind(9);
  chained->SetWipeMask("c:\\game\\film\\m\\mask.dor");
  chained->SetWipeParam1(8);
  TKwMemoryStream out;
  TFilmRecordWriter writer(out, "c:\\game\\film\\");
  chained->SaveToStream(writer);

  out.SetPosition(0);
  TFilmManager other;
  TWipeFrameList read(other);
  TFilmRecordReader reader(out, "c:\\game\\film\\", 108);
  read.LoadFromStream(reader);
  EXPECT_EQ(read.LoadedParentIndex(), 0);
  EXPECT_EQ(read.Length, 44);
  EXPECT_EQ(read.Reserved, -5);
  EXPECT_EQ(read.LoopLength, 12);
  EXPECT_EQ(read.Priority, 3);
  EXPECT_TRUE(read.FlipV);
  EXPECT_EQ(read.GetWipeKind(), 9);
  EXPECT_EQ(read.GetWipeMask(), "c:\\game\\film\\m\\mask.dor");
  EXPECT_EQ(read.GetWipeParam1(), 8);
  EXPECT_EQ(out.Remaining(), 0);
}

TEST(TrackFrames, RecordReaderRefusesWhatTheBytesCannotHold) {
  TKwMemoryStream s;
  WriteStreamInt(s, 1000);
  WriteStreamInt(s, 0);
  double nan = std::numeric_limits<double>::quiet_NaN();
  s.WriteBuffer(&nan, 8);
  double huge = 1e300;
  s.WriteBuffer(&huge, 8);
  s.SetPosition(0);
  TFilmRecordReader in(s, "", 108);
  EXPECT_THROW(in.Str(), EFilmFormatError);
  s.SetPosition(4);
  EXPECT_EQ(in.Int(), 0);
  EXPECT_EQ(in.Double(1.0), 1.0);
  EXPECT_EQ(in.Double(1.0), TRecordReader::kDoubleLimit);
  EXPECT_THROW(in.Byte(), EFilmFormatError);
}

}  // namespace
}  // namespace zirk::test
