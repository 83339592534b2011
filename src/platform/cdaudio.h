#pragma once
// Stand-in for the MCI CD audio device. Modern drives have no analogue
// output, so play is digital: a reader thread reads audio sectors into a ring
// and a source of the sound device plays the ring, scaled by the CD-audio
// line of the mixer. A drive is a device path (libcdio); an element ending in
// ".cue" opens that CUE/BIN disc image through the same layer, and counts as
// inserted while its CUE file exists.
//
// As with MCI, positions are TMSF (track in the lowest byte, then minutes,
// seconds and frames of 1/75 s within the track), lengths MSF, and calls
// return MCI error codes (0 = success). The end of a play is posted to the
// opening thread's message queue; the mode reads "playing" until that
// message is handled there, then the notify window gets MM_MCINOTIFY.
//
// Built with ZIRK_CDIO off, the drive list is empty and nothing opens.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/messages.h"
#include "platform/mixerdev.h"

namespace zirk::platform {

constexpr uint32_t MM_MCINOTIFY = 0x3B9;
constexpr WPARAM MCI_NOTIFY_SUCCESSFUL = 1;
constexpr WPARAM MCI_NOTIFY_SUPERSEDED = 2;
constexpr WPARAM MCI_NOTIFY_ABORTED = 4;
constexpr WPARAM MCI_NOTIFY_FAILURE = 8;

constexpr uint32_t MCI_MODE_NOT_READY = 524;
constexpr uint32_t MCI_MODE_STOP = 525;
constexpr uint32_t MCI_MODE_PLAY = 526;
constexpr uint32_t MCI_MODE_SEEK = 528;
constexpr uint32_t MCI_MODE_PAUSE = 529;
constexpr uint32_t MCI_MODE_OPEN = 530;

constexpr uint32_t MCIERR_INVALID_DEVICE_ID = 257;
constexpr uint32_t MCIERR_HARDWARE = 262;
constexpr uint32_t MCIERR_INVALID_DEVICE_NAME = 263;
constexpr uint32_t MCIERR_UNSUPPORTED_FUNCTION = 274;
constexpr uint32_t MCIERR_DEVICE_NOT_READY = 276;
constexpr uint32_t MCIERR_OUTOFRANGE = 282;

constexpr uint32_t MCI_MAKE_TMSF(uint32_t t, uint32_t m, uint32_t s, uint32_t f) {
  return (t & 0xFF) | (m & 0xFF) << 8 | (s & 0xFF) << 16 | (f & 0xFF) << 24;
}
constexpr uint32_t MCI_TMSF_TRACK(uint32_t tmsf) {
  return tmsf & 0xFF;
}
constexpr uint32_t MCI_TMSF_MINUTE(uint32_t tmsf) {
  return (tmsf >> 8) & 0xFF;
}
constexpr uint32_t MCI_TMSF_SECOND(uint32_t tmsf) {
  return (tmsf >> 16) & 0xFF;
}
constexpr uint32_t MCI_TMSF_FRAME(uint32_t tmsf) {
  return (tmsf >> 24) & 0xFF;
}
constexpr uint32_t MCI_MAKE_MSF(uint32_t m, uint32_t s, uint32_t f) {
  return (m & 0xFF) | (s & 0xFF) << 8 | (f & 0xFF) << 16;
}
constexpr uint32_t MCI_MSF_MINUTE(uint32_t msf) {
  return msf & 0xFF;
}
constexpr uint32_t MCI_MSF_SECOND(uint32_t msf) {
  return (msf >> 8) & 0xFF;
}
constexpr uint32_t MCI_MSF_FRAME(uint32_t msf) {
  return (msf >> 16) & 0xFF;
}

constexpr int kCdSectorsPerSecond = 75;
constexpr int kCdFramesPerSector = 588;  // 44100 Hz stereo 16-bit
constexpr int kCdSectorBytes = 2352;

struct CdTrack {
  int number = 0;
  int32_t start = 0;  // first sector (index 01)
  int32_t last = 0;   // last sector of its own sound
  bool audio = true;
  int32_t Length() const { return last - start + 1; }
};

// A disc in a drive or an image. Tracks and Refresh run on the device's
// thread; ReadAudio on the reader thread, never at the same time as Refresh.
class CdMedium {
 public:
  virtual ~CdMedium() = default;
  // Checks the disc and re-reads its table of contents after a change;
  // true when a disc with tracks is there.
  virtual bool Refresh() = 0;
  // A cheap check that may run while the reader reads: true when the disc is
  // known to be gone. Drives answer through read errors instead.
  virtual bool Gone() const { return false; }
  virtual const std::vector<CdTrack>& Tracks() const = 0;
  // Reads `count` 2352-byte audio sectors; false on any read error.
  virtual bool ReadAudio(int32_t lsn, uint32_t count, uint8_t* buffer) = 0;
};

// Whether this build reads discs at all (ZIRK_CDIO).
bool CdBackendAvailable();
// Device paths of the machine's CD drives; empty without the backend.
std::vector<std::string> CdDriveList();
// Opens a drive path or a ".cue" image; null with an MCI error on failure.
std::unique_ptr<CdMedium> OpenCdMedium(const std::string& element, uint32_t& error);

// Where a CD device plays: null members take the process-wide objects.
struct CdAudioOutput {
  AudioDevice* audio = nullptr;
  MixerDevices* mixer = nullptr;
};

class CdAudioDevice {
 public:
  // Opens `element` (see above). Call on the thread whose queue gets the
  // notifications.
  static std::unique_ptr<CdAudioDevice> Open(const std::string& element, CdAudioOutput output,
                                             uint32_t& error);
  static std::unique_ptr<CdAudioDevice> Open(std::unique_ptr<CdMedium> medium,
                                             CdAudioOutput output);
  ~CdAudioDevice();  // stops play; a pending notification is dropped
  CdAudioDevice(const CdAudioDevice&) = delete;
  CdAudioDevice& operator=(const CdAudioDevice&) = delete;

  uint16_t Id() const { return id_; }

  uint32_t Mode();
  // Asks the drive again; a disc that went away stops play (notification
  // aborted).
  bool MediaPresent();
  uint32_t TrackCount(uint32_t& count);
  // MSF length of a track, to its true last sector.
  uint32_t TrackLength(uint32_t track, uint32_t& msf);
  uint32_t TrackIsAudio(uint32_t track, bool& audio);
  // TMSF of the sector being heard (counted by the frames the sound device
  // consumed), or of the stop position.
  uint32_t Position(uint32_t& tmsf);

  // Plays from `from` up to, not including, `to` (TMSF); `to` 0 plays to
  // the end of the disc's audio. Play stops early at the first sector that
  // cannot be read or is not audio, and ends then as it would at `to`.
  // Playing from a data track does nothing. A notify window of 0 asks for
  // no notification; a pending one is superseded.
  uint32_t Play(uint32_t from, uint32_t to, HWND notify);
  uint32_t Stop();  // a pending notification is aborted
  uint32_t Seek(uint32_t to);

  // Frames waiting in the ring, and whether the reader is done with the
  // play (diagnostics and tests).
  size_t Buffered() const;
  bool ReadDone() const;

  struct Playback;

 private:
  CdAudioDevice(std::unique_ptr<CdMedium> medium, CdAudioOutput output);
  const CdTrack* FindTrack(uint32_t number) const;
  bool ToSector(uint32_t tmsf, int32_t& lsn) const;
  uint32_t ToTmsf(int32_t lsn) const;
  void Halt(WPARAM notifyResult);
  void OnEnd(uint64_t serial);

  uint16_t id_;
  std::unique_ptr<CdMedium> medium_;
  AudioDevice* audio_;
  MixerDevices* mixer_;
  std::unique_ptr<Playback> playback_;
  HWND window_ = 0;  // receives the end of play on the opening thread
  bool present_ = false;
  bool playing_ = false;
  int32_t stopLsn_ = 0;   // position while not playing
  int32_t startLsn_ = 0;  // the play: first sector and exclusive end
  int32_t endLsn_ = 0;
  HWND notify_ = 0;  // window owed a notification
  uint64_t serial_ = 0;
};

}  // namespace zirk::platform
