// The video object against the real media managers.

#include "objects/video.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <tuple>

#include "media/mediaitems.h"
#include "media_fixture.h"
#include "objects/fades.h"
#include "picture_fixture.h"
#include "scene/events.h"

namespace zirk {
namespace {

constexpr const char* kMovie = "audio\\testsrc-64x48-10fps.wmv";  // 1000 ms, 64 x 48

class VideoTest : public test::MediaSceneTest {
 protected:
  void SetUp() override {
    MediaSceneTest::SetUp();
    scene.SetColor(0x404040);
    scene.Paint();
  }
  TZirkVideo* video(const std::string& name = "") {
    auto* v = scene.Create<TZirkVideo>(nullptr, name);
    v->SetPropStr(PR_SOURCE, kMovie);
    v->SetPropInt(PR_VOLUME, 1000);
    v->SetPropInt(PR_LEFT, 10);
    v->SetPropInt(PR_TOP, 20);
    return v;
  }
  // Plays on until the named movie ends or its object is gone (a movie's
  // last moments run on real time).
  void playOut(const std::string& name) {
    run(1100);
    for (int i = 0; i < 100; ++i) {
      auto* v = dynamic_cast<TZirkVideo*>(scene.FindComponentByName(name));
      if (!v || !v->Item() || v->Item()->CheckEnd()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      run(10);
    }
    run(20);
  }
  uint32_t screenColor(int32_t x, int32_t y) {
    return test::colorAt(*scene.GetBase(0)->BackSurface(), x, y);
  }
};

TEST_F(VideoTest, MovieFramesReachTheScreenAndZoomScalesThem) {
  TZirkVideo* v = video();
  v->SetActive(0);
  ASSERT_NE(v->Item(), nullptr);
  EXPECT_EQ(v->GetPropInt(PR_WIDTH), 64);
  EXPECT_EQ(v->GetPropInt(PR_HEIGHT), 48);
  EXPECT_NEAR(v->GetPropInt(PR_COUNT), 1000, 60);
  run(100);
  scene.Paint();
  const TCustomDIBX* frame = v->FrameSurface();
  ASSERT_NE(frame, nullptr);
  int32_t differ = 0;
  for (int32_t y = 0; y < 48; y += 4)
    for (int32_t x = 0; x < 64; x += 4) {
      const uint32_t c = test::colorAt(*frame, x, y);
      EXPECT_EQ(screenColor(10 + x, 20 + y), c) << x << "," << y;
      differ += c != 0x404040;
    }
  EXPECT_GT(differ, 100) << "the frame holds the movie's picture";
  EXPECT_EQ(screenColor(5, 5), 0x404040u);

  // Repainting between movie frames keeps the last one on screen.
  scene.RedrawAll();
  scene.Paint();
  EXPECT_EQ(screenColor(10 + 32, 20 + 24), test::colorAt(*frame, 32, 24));

  v->SetPropInt(PR_ZOOMX, 512);
  EXPECT_EQ(v->GetPropInt(PR_WIDTH), 128);
  v->SetPropInt(PR_ZOOMY, 0);
  EXPECT_EQ(v->GetPropInt(PR_ZOOMY), 1) << "a zoom below 1 is taken as 1";
}

TEST_F(VideoTest, AnEndIsReportedOnceAndAutoScrapRemovesTheObject) {
  TZirkVideo* v = video("movie");
  v->SetPropStr(PR_ONPLAYEND, "*end");
  v->SetActive(0);
  playOut("movie");
  run(200);
  EXPECT_EQ(events(PR_ONPLAYEND), 1) << "the library's every-time end is told once";
  v->SetPropInt(PR_REPEAT, 1);
  EXPECT_TRUE(v->Item()->IsPlaying()) << "repeat on after the end starts it over";
  v->SetPropInt(PR_REPEAT, 0);
  v->SetPropInt(PR_INDEX, 0);
  v->Item()->Play();
  playOut("movie");
  EXPECT_EQ(events(PR_ONPLAYEND), 2) << "a rewound movie reports its next end";

  TZirkVideo* scrapped = video("scrapped");
  scrapped->SetPropInt(PR_AUTOSCRAP, 1);
  scrapped->SetActive(0);
  playOut("scrapped");
  EXPECT_EQ(scene.FindComponentByName("scrapped"), nullptr);
}

TEST_F(VideoTest, StartPlayPlaysAtOnceOrFadesIn) {
  for (const int32_t fadeTime : {0, 200}) {
    TZirkVideo* v = video();
    v->SetPropInt(PR_DELAY, fadeTime);
    v->StartPlay();
    run(300);
    EXPECT_GT(v->GetPropInt(PR_INDEX), 200) << fadeTime;
  }
}

TEST_F(VideoTest, TheOverlayShowsTheClippedPartOfTheMovieAtTheDisplayScale) {
  TZirkVideo* v = video();  // at (10, 20)
  v->SetActive(0);
  for (const auto& [prop, value] :
       {std::pair{PR_ZOOMX, 512}, {PR_CLIPWIDTH, 74}, {PR_CLIPHEIGHT, 58}})
    v->SetPropInt(prop, value);
  scene.DisplayScale = 200;
  ZirkRect s{}, d{};
  ASSERT_TRUE(v->VideoRects(s, d));
  EXPECT_EQ(std::tuple(s.left, s.top, s.right, s.bottom, d.left, d.top, d.right, d.bottom),
            std::tuple(0, 0, 32, 38, 20, 40, 148, 116));
}

TEST_F(VideoTest, AFadedOutMovieLeavesTheVideoManager) {
  TZirkVideo* v = video("movie");
  v->SetPropInt(PR_DELAY, 200);
  v->SetActive(0);
  ASSERT_EQ(VideoMan->Count(), 1);
  v->SetActive(3);
  EXPECT_EQ(VideoMan->Count(), 1) << "the fade still drives it";
  run(300);
  EXPECT_EQ(scene.FindComponentByName("movie"), nullptr);
  EXPECT_EQ(VideoMan->Count(), 0);
}

TEST_F(VideoTest, PausesAndOverlaySwitchKeepThePosition) {
  TZirkVideo* v = video();
  v->SetActive(0);
  run(300);
  const int32_t at = v->GetPropInt(PR_INDEX);
  EXPECT_GT(at, 200);
  v->SetPropInt(PR_PAUSED, 1);
  run(100);
  EXPECT_NEAR(v->GetPropInt(PR_INDEX), at, 20);
  v->SetPropInt(PR_PAUSED, 0);
  v->SetPropInt(PR_ANIPAUSED, 1);
  EXPECT_TRUE(v->Item()->IsPaused()) << "the second pause flag holds it too";
  v->SetPropInt(PR_ANIPAUSED, 0);
  EXPECT_FALSE(v->Item()->IsPaused());
  v->SetPropInt(PR_OVERLAY, 0);
  EXPECT_NEAR(v->GetPropInt(PR_INDEX), at, 20) << "the movie goes on where it was";
  EXPECT_EQ(VideoMan->Count(), 1);
}

TEST_F(VideoTest, WithoutAnItemPlayingFollowsRepeatAndSurfacesStayAway) {
  TZirkVideo* v = video();
  v->SetPropStr(PR_SOURCE, "audio\\none.wmv");
  EXPECT_FALSE(v->GetPropInt(PR_PLAYING));
  v->SetPropInt(PR_REPEAT, 1);
  EXPECT_TRUE(v->GetPropInt(PR_PLAYING));
  v->SetPropStr(PR_SOURCE, kMovie);
  v->ReleaseSurfaces();
  v->RestoreSurfaces();
  EXPECT_EQ(v->FrameSurface(), nullptr);
  EXPECT_NEAR(v->GetPropInt(PR_COUNT), 1000, 60) << "the length comes from a temporary item";
  EXPECT_EQ(VideoMan->Count(), 0);
}

// A record of version 104..119: the object part unnamed and without the tag
// of 120, and without the last `dropped` flags, which later versions added.
TEST_F(VideoTest, OlderRecordsLackRewindOverlayAndMuteFlags) {
  TZirkVideo* v = video();
  for (const int prop : {PR_REWINDONLOAD, PR_MUTEONLOAD}) v->SetPropInt(prop, 1);
  v->SetPropInt(PR_OVERLAY, 0);
  TKwMemoryStream now;
  v->SaveToStream(now);
  const int64_t rest = 16 + static_cast<int64_t>(v->GetName().size());
  const struct {
    int32_t version, dropped, rewind, overlay;
  } cases[] = {{107, 3, 0, 1}, {111, 2, 1, 1}, {119, 1, 1, 0}};
  for (const auto& c : cases) {
    TKwMemoryStream old;
    old.WriteBuffer(std::array<uint8_t, 4>{}.data(), 4);
    old.WriteBuffer(now.Bytes().data() + rest - 12, 8);
    old.WriteBuffer(now.Bytes().data() + rest, now.Size() - rest - c.dropped);
    old.SetPosition(0);
    TZirkVideo loaded(scene);
    loaded.LoadFromStream(old, c.version);
    EXPECT_EQ(std::tuple(loaded.GetPropInt(PR_REWINDONLOAD), loaded.GetPropInt(PR_OVERLAY),
                         loaded.GetPropInt(PR_MUTEONLOAD)),
              std::tuple(c.rewind, c.overlay, 0))
        << c.version;
  }
}

TEST_F(VideoTest, SaveAndLoadRestartTheMovieWhereItWas) {
  // Mute and rewind on load hold for movies as for sounds.
  struct Case {
    bool mute, rewind;
  } cases[] = {{false, false}, {true, false}, {false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mute << c.rewind);
    TZirkVideo* v = video("movie");
    v->SetPropInt(PR_OVERLAY, 0);
    v->SetPropInt(PR_BALANCE, 500);
    v->SetPropInt(PR_MUTEONLOAD, c.mute);
    v->SetPropInt(PR_REWINDONLOAD, c.rewind);
    v->SetActive(0);
    run(300);
    const int32_t at = v->GetPropInt(PR_INDEX);
    TKwMemoryStream stream;
    v->SaveToStream(stream);
    scene.FreeObject(v);
    EXPECT_EQ(VideoMan->Count(), 0);

    stream.SetPosition(0);
    auto* loaded = scene.Create<TZirkVideo>(nullptr, "");
    loaded->LoadFromStream(stream, 129);
    EXPECT_EQ(loaded->GetActive(), 0);
    ASSERT_NE(loaded->Item(), nullptr);
    EXPECT_NEAR(loaded->GetPropInt(PR_INDEX), c.rewind ? 0 : at, 20);
    EXPECT_FALSE(loaded->GetPropInt(PR_OVERLAY));
    EXPECT_EQ(loaded->GetPropInt(PR_BALANCE), 500);
    EXPECT_EQ(loaded->GetPropInt(PR_VOLUME), c.mute ? 0 : 1000);
    scene.FreeObject(loaded);
  }
}

}  // namespace
}  // namespace zirk
