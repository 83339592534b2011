// The system mixer component over the virtual mixer, and the CD-audio line's
// volume and mute reaching the CD voice's samples.
#include <gtest/gtest.h>

#include "cd_images.h"
#include "media/AMixer.h"
#include "media/Cdp.h"
#include "support/testdata.h"

namespace zirk {
namespace {

using namespace platform;

struct Volume {
  int32_t left = -2, right = -2, mute = -2;
  bool stereo = true, volumeDisabled = false, muteDisabled = false, extra = true;
  bool ok = false;
};

Volume read(TAudioMixer& mixer, int32_t destination, int32_t connection) {
  Volume v;
  v.ok = mixer.GetVolume(destination, connection, v.left, v.right, v.mute, v.stereo,
                         v.volumeDisabled, v.muteDisabled, v.extra);
  return v;
}

void expectVolume(const Volume& v, const Volume& want, const std::string& what = "") {
  EXPECT_EQ(v.ok, want.ok) << what;
  EXPECT_EQ(v.left, want.left) << what;
  EXPECT_EQ(v.right, want.right) << what;
  EXPECT_EQ(v.mute, want.mute) << what;
  EXPECT_EQ(v.stereo, want.stereo) << what;
  EXPECT_EQ(v.volumeDisabled, want.volumeDisabled) << what;
  EXPECT_EQ(v.muteDisabled, want.muteDisabled) << what;
  EXPECT_EQ(v.extra, want.extra) << what;
}

// What a failed read leaves: every answer reset to "nothing there".
void expectUntouched(const Volume& v) {
  expectVolume(v, {-1, -1, -1, false, true, true, false, false});
}

TEST(AudioMixer, TheStandardMixerHasOneCdLineAtFullVolume) {
  MixerDevices devices(MixerDevices::Standard());
  TAudioMixer mixer(&devices);
  EXPECT_EQ(mixer.NumDevs(), 1);
  EXPECT_EQ(mixer.MixerId(), 0);
  EXPECT_EQ(mixer.Manufacturer(), "65535 = Unknown");
  ASSERT_EQ(mixer.Destinations().size(), 1u);
  const TMixerDestination& speakers = mixer.Destinations()[0];
  ASSERT_EQ(speakers.Connections.size(), 1u);
  EXPECT_EQ(speakers.Connections[0].Data.dwComponentType, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC);
  EXPECT_EQ(speakers.Connections[0].Controls.Count(), 2);

  expectVolume(read(mixer, 0, 0), {65535, 65535, 0, true, false, false, false, true});

  expectUntouched(read(mixer, 0, -1));  // the destination has no controls
  expectUntouched(read(mixer, 0, 1));
  expectUntouched(read(mixer, 1, 0));
  EXPECT_FALSE(mixer.SetVolume(0, -1, 1, 1, 1));
  EXPECT_FALSE(mixer.SetVolume(-1, 0, 1, 1, 1));
}

TEST(AudioMixer, SetVolumeChangesOnlyWhatItIsGiven) {
  struct Row {
    int32_t left, right, mute;
    int32_t wantLeft, wantRight, wantMute;
  };
  const Row rows[] = {
      {1000, 2000, -1, 1000, 2000, 0},  // Mute -1: the volume only
      {-1, 5, 1, 65535, 65535, 1},      // Left -1: the mute only
      {3000, -1, -1, 3000, 3000, 0},    // Right -1 takes Left
      {70000, -5, 0, 65535, 0, 0},      // clamped to the control's range
  };
  for (const Row& row : rows) {
    MixerDevices devices(MixerDevices::Standard());
    TAudioMixer mixer(&devices);
    EXPECT_TRUE(mixer.SetVolume(0, 0, row.left, row.right, row.mute));
    const Volume v = read(mixer, 0, 0);
    EXPECT_EQ(v.left, row.wantLeft) << row.left;
    EXPECT_EQ(v.right, row.wantRight) << row.left;
    EXPECT_EQ(v.mute, row.wantMute) << row.left;
  }
}

TEST(AudioMixer, ControlKinds) {
  const MixerControlDesc disabledVolume{
      MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_DISABLED, "Off", {1, 2}};
  struct Row {
    const char* name;
    uint32_t channels;
    std::vector<MixerControlDesc> controls;
    Volume want;
  };
  const Row rows[] = {
      {"mono volume reads Right = Left",
       1,
       {{MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "V", {4000}}},
       {4000, 4000, -1, false, false, true, false, true}},
      {"a uniform control is one channel",
       2,
       {{MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_UNIFORM, "V", {500}}},
       {500, 500, -1, false, false, true, false, true}},
      {"a disabled volume control is passed over",
       2,
       {disabledVolume, {MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "V", {7, 8}}},
       {7, 8, -1, true, false, true, false, true}},
      {"a disabled mute still reads, marked",
       2,
       {{MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_DISABLED, "M", {1, 1}}},
       {-1, -1, 1, false, true, true, false, true}},
  };
  for (const Row& row : rows) {
    MixerDeviceDesc device;
    MixerLineDesc dest;
    dest.channels = row.channels;
    dest.controls = row.controls;
    device.destinations.push_back(dest);
    MixerDevices devices({device});
    TAudioMixer mixer(&devices);
    expectVolume(read(mixer, 0, -1), row.want, row.name);
  }
}

TEST(AudioMixer, NoDeviceOrNoOpenLeavesNothingSelected) {
  struct Row {
    size_t devices;
    int failingOpens;
    int32_t wantId;
  };
  // The open is tried with the callback twice, then once without.
  const Row rows[] = {{0, 0, -1}, {1, 2, 0}, {1, 3, -1}};
  for (const Row& row : rows) {
    std::vector<MixerDeviceDesc> descs = MixerDevices::Standard();
    descs.resize(row.devices);
    if (!descs.empty()) descs[0].failingOpens = row.failingOpens;
    MixerDevices devices(descs);
    TAudioMixer mixer(&devices);
    EXPECT_EQ(mixer.MixerId(), row.wantId) << row.failingOpens;
    EXPECT_EQ(mixer.Destinations().empty(), row.wantId < 0);
    if (row.wantId < 0) {
      expectUntouched(read(mixer, 0, 0));
      EXPECT_FALSE(mixer.SetVolume(0, 0, 1, 1, 1));
    }
    mixer.SetMixerId(5);  // outside the list: nothing changes
    EXPECT_EQ(mixer.MixerId(), row.wantId);
  }
}

TEST(AudioMixer, ControlChangesReachTheEvent) {
  MixerDevices devices(MixerDevices::Standard());
  TAudioMixer watcher(&devices);
  TAudioMixer setter(&devices);
  std::vector<uint32_t> seen;
  watcher.OnControlChange = [&seen](TAudioMixer&, HMIXER, uint32_t id) { seen.push_back(id); };
  setter.SetVolume(0, 0, 10, 10, 1);
  ProcessMessages();
  const auto& controls = watcher.Destinations()[0].Connections[0].Controls;
  EXPECT_EQ(seen,
            (std::vector<uint32_t>{controls.Items(0).dwControlID, controls.Items(1).dwControlID}));
}

TEST(MixerDevices, RefusesWhatItDoesNotHave) {
  MixerDevices devices(MixerDevices::Standard());
  HMIXER mixer = 0;
  ASSERT_EQ(devices.Open(mixer, 0, 0), kMixerNoError);
  MIXERLINE line;
  std::vector<MIXERCONTROL> controls;
  std::vector<uint32_t> values;
  ASSERT_EQ(devices.GetSourceLine(mixer, 0, 0, line), kMixerNoError);
  ASSERT_EQ(devices.GetLineControls(mixer, line.dwLineID, controls), kMixerNoError);
  const uint32_t volume = controls[0].dwControlID;
  HMIXER other = 0;
  struct Row {
    const char* name;
    MMRESULT got, want;
  };
  const Row rows[] = {
      {"open of a missing device", devices.Open(other, 1, 0), kMixerBadDeviceId},
      {"closed handle", devices.GetDestinationLine(mixer + 100, 0, line), kMixerInvalidHandle},
      {"missing destination", devices.GetDestinationLine(mixer, 1, line), MIXERR_INVALLINE},
      {"missing source", devices.GetSourceLine(mixer, 0, 1, line), MIXERR_INVALLINE},
      {"missing line", devices.GetLineControls(mixer, 0x1234, controls), MIXERR_INVALLINE},
      {"missing control", devices.GetControlDetails(mixer, 999, 2, values), MIXERR_INVALCONTROL},
      {"no channels", devices.GetControlDetails(mixer, volume, 0, values), kMixerInvalidParam},
      {"three channels of two", devices.GetControlDetails(mixer, volume, 3, values),
       kMixerInvalidParam},
      {"no values", devices.SetControlDetails(mixer, volume, {}), kMixerInvalidParam},
      {"three values for two", devices.SetControlDetails(mixer, volume, {1, 2, 3}),
       kMixerInvalidParam},
  };
  for (const Row& row : rows) EXPECT_EQ(row.got, row.want) << row.name;
  EXPECT_EQ(devices.Gain(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC).left, kMixerVolumeMax);
  EXPECT_EQ(devices.SetControlDetails(mixer, volume, {100}), kMixerNoError);  // both channels
  const StereoGain cd = devices.Gain(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC);
  EXPECT_EQ(cd.left, 100u);
  EXPECT_EQ(cd.right, 100u);
  // Sources of a kind the mixer has no line for play at full volume.
  EXPECT_EQ(devices.Gain(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT).right, kMixerVolumeMax);
  EXPECT_EQ(devices.Close(mixer), kMixerNoError);
  EXPECT_EQ(devices.Close(mixer), kMixerInvalidHandle);
}

TEST(AudioMixer, TheCdLineScalesTheCdVoice) {
  if (!CdBackendAvailable()) GTEST_SKIP() << "built without a CD backend";
  test::TempDir dir;
  const auto cue = test::writeCdImage(dir.path(), "disc", {{150, 20000}});
  AudioDevice audio;
  audio.Open(AudioBackend::Manual);
  MixerDevices devices(MixerDevices::Standard());
  TAudioMixer mixer(&devices);
  TCDP cdp({cue.string()}, {&audio, &devices}, false);
  cdp.OpenDrive(0);
  cdp.PlayTrackAt(1, 0);
  ASSERT_EQ(cdp.Mode(), 0);

  struct Row {
    int32_t left, right, mute;
    int wantLeft, wantRight;
  };
  const Row rows[] = {
      {65535, 65535, 0, 20000, 20000},
      {32768, 16384, 0, 10000, 5000},  // value / 65535 per channel
      {65535, 0, 0, 20000, 0},
      {65535, 65535, 1, 0, 0},  // muted
  };
  uint32_t before = cdp.Position();
  for (const Row& row : rows) {
    ASSERT_TRUE(mixer.SetVolume(0, 0, row.left, row.right, row.mute));
    const auto samples = test::pullCd(audio, *cdp.Device(), kCdFramesPerSector);
    EXPECT_EQ(std::abs(samples[0]), row.wantLeft) << row.left << "/" << row.mute;
    EXPECT_EQ(std::abs(samples[1]), row.wantRight) << row.right << "/" << row.mute;
    // Muted or not, the disc goes on playing.
    EXPECT_NE(cdp.Position(), before);
    before = cdp.Position();
  }
}

}  // namespace
}  // namespace zirk
