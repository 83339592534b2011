// The real media library bound as the player binds it, playing into a sound
// device handed over through the SharedDirectSound slot.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/streams.h"
#include "media/dxsounds.h"
#include "media/zirkdll.h"
#include "platform/audio.h"
#include "support/testdata.h"

namespace zirk {
namespace {

class MediaLibraryOnDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device.Open(platform::AudioBackend::Manual) == platform::AudioBackend::Manual);
    ASSERT_EQ(LoadMediaDll(ZIRK_MEDIALIB_DIR), TMediaDllStatus::mdsOk);
    ASSERT_NE(
        zirkInit(&window, &panel, nullptr, &sharedDirectSound, DllStreamGetSize, DllStreamRead,
                 DllStreamGetPosition, DllStreamSeek, SaveFpuControlWord, RestoreFpuControlWord, 0),
        0);
    // No library thread: each service step is ours, so the test is exact.
    zirkOggmanSetUseThread(0);
  }
  void TearDown() override {
    zirkFinal();
    FinalDll();
  }

  // Renders in 100 ms steps until the item ends; answers the frames rendered
  // and the peak sample.
  std::pair<size_t, int> playOut(ZirkHandle h, size_t limitFrames) {
    std::vector<int16_t> buffer(4410 * 2);
    size_t frames = 0;
    int peak = 0;
    while (frames < limitFrames && !zirkOggIsEnd(h)) {
      zirkOggmanUpdate();
      device.Render(buffer.data(), 4410);
      frames += 4410;
      for (int16_t s : buffer) peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return {frames, peak};
  }

  platform::AudioDevice device;
  uintptr_t window = 0, panel = 0;
  void* sharedDirectSound = nullptr;
};

TEST_F(MediaLibraryOnDevice, ItemPlaysIntoTheSlotsDeviceAndEnds) {
  // The component fills the slot the way the first sound item does.
  TDXForm form;
  TDXSound sound(&form);
  sound.Driver = [this] { return MakeDeviceDirectSound(device, platform::AudioBackend::Manual); };
  sound.Initialize();
  sharedDirectSound = sound.Output();
  ASSERT_EQ(sharedDirectSound, static_cast<platform::AudioOutput*>(&device));

  TKwMemoryStream stream;
  stream.LoadFromFile(test::dataPath("audio/pcm16-stereo-44100.wav").string());
  const ZirkHandle h = zirkOggmanAdd(&stream, 0);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(zirkOggGetLen(h), 2000);
  zirkOggPlay(h);
  const auto [frames, peak] = playOut(h, 44100 * 10);
  EXPECT_TRUE(zirkOggIsEnd(h));
  EXPECT_FALSE(zirkOggIsPlaying(h));
  // 2.0 s of tone at half of full scale, ended within the step after it.
  EXPECT_GE(frames, 88200u);
  EXPECT_LE(frames, 88200u + 2 * 4410u);
  EXPECT_NEAR(peak, 16384, 400);
  zirkOggmanDel(h);
  EXPECT_EQ(device.SourceCount(), 0u) << "Del leaves nothing attached to the device";
}

TEST_F(MediaLibraryOnDevice, DelWhilePlayingDetachesAtOnce) {
  sharedDirectSound = static_cast<platform::AudioOutput*>(&device);
  auto stream = std::make_unique<TKwMemoryStream>();
  stream->LoadFromFile(test::dataPath("audio/vorbis-stereo-44100.ogg").string());
  const ZirkHandle h = zirkOggmanAdd(stream.get(), -1);
  ASSERT_NE(h, 0u);
  zirkOggPlay(h);
  std::vector<int16_t> buffer(4410 * 2);
  zirkOggmanUpdate();
  device.Render(buffer.data(), 4410);
  EXPECT_TRUE(zirkOggIsPlaying(h));
  zirkOggmanDel(h);
  stream.reset();  // the player frees the stream right after Del
  device.Render(buffer.data(), 4410);
  EXPECT_EQ(*std::max_element(buffer.begin(), buffer.end()), 0);
  EXPECT_FALSE(zirkOggIsPlaying(h)) << "an unknown handle answers not playing";
}

}  // namespace
}  // namespace zirk
