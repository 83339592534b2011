// Drives and CUE/BIN images through libcdio.
#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>

#include "platform/cdaudio.h"

namespace zirk::platform {

namespace {

struct CdioCloser {
  void operator()(CdIo_t* cdio) const { cdio_destroy(cdio); }
};
using CdioHandle = std::unique_ptr<CdIo_t, CdioCloser>;

// libcdio's own log handler ends the process on an error message (a CUE
// sheet it cannot parse is one); the player only needs the result codes.
void quietLibcdio() {
  static std::once_flag once;
  std::call_once(once, [] { cdio_log_set_handler([](cdio_log_level_t, const char*) {}); });
}

bool isImage(const std::string& element) {
  const std::filesystem::path path(element);
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".cue";
}

// libcdio's CUE reader takes a sheet a piece at a time, each piece a line or
// the next this many bytes of a longer one, and reads every piece as a line.
constexpr int kCueReaderPiece = 4095;

// libcdio's CUE reader writes past its table on a sheet of more tracks than
// a disc holds, so such a sheet never reaches it: a word ends where the
// reader's piece ends as well as at white space or a zero byte (the end of
// the reader's line), so a TRACK glued to a long line is counted. Only a
// regular file is a sheet; the reader would wait on a FIFO for a writer.
bool sheetFitsLibcdio(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::ifstream sheet(path, std::ios::binary);
  int tracks = 0;
  std::string word;
  const auto tooMany = [&tracks, &word] {
    const bool track = word == "TRACK";
    word.clear();
    return track && ++tracks > CDIO_CD_MAX_TRACKS;
  };
  int piece = 0;
  for (auto it = std::istreambuf_iterator<char>(sheet); it != std::istreambuf_iterator<char>();
       ++it) {
    const auto c = static_cast<unsigned char>(*it);
    if (std::isspace(c) == 0 && c != 0)
      word += static_cast<char>(std::toupper(c));
    else if (tooMany())
      return false;
    if (c == '\n' || ++piece == kCueReaderPiece) {
      if (tooMany()) return false;
      piece = 0;
    }
  }
  return !tooMany();
}

class CdioMedium final : public CdMedium {
 public:
  CdioMedium(std::string element, bool image) : element_(std::move(element)), image_(image) {}

  bool Refresh() override {
    if (image_) {
      std::error_code ec;
      if (!std::filesystem::exists(element_, ec)) {
        handle_.reset();
        tracks_.clear();
        return false;
      }
      if (!handle_) Load();
      return !tracks_.empty();
    }
    // A drive reports a change (or an error without a disc); either way the
    // table of contents is read again.
    if (!handle_ || cdio_get_media_changed(handle_.get()) != 0) Load();
    return !tracks_.empty();
  }

  bool Gone() const override {
    if (!image_) return false;
    std::error_code ec;
    return !std::filesystem::exists(element_, ec);
  }

  const std::vector<CdTrack>& Tracks() const override { return tracks_; }

  bool ReadAudio(int32_t lsn, uint32_t count, uint8_t* buffer) override {
    if (!handle_ || count == 0) return false;
    if (!image_)
      return cdio_read_audio_sectors(handle_.get(), buffer, lsn, count) == DRIVER_OP_SUCCESS;
    // An image read that runs past the end of its file still reports
    // success; one sector at a time, only whole sectors are read.
    for (uint32_t i = 0; i < count; ++i)
      if (cdio_read_audio_sectors(handle_.get(), buffer + size_t{i} * kCdSectorBytes,
                                  lsn + static_cast<lsn_t>(i), 1) != DRIVER_OP_SUCCESS)
        return false;
    return true;
  }

  bool Load() {
    tracks_.clear();
    handle_.reset();
    if (image_ && !sheetFitsLibcdio(element_)) return false;
    handle_.reset(image_ ? cdio_open_cue(element_.c_str())
                         : cdio_open(element_.c_str(), DRIVER_DEVICE));
    if (!handle_) return false;
    CdIo_t* cdio = handle_.get();
    const track_t first = cdio_get_first_track_num(cdio);
    const track_t count = cdio_get_num_tracks(cdio);
    if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) return false;
    const lsn_t leadout = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    for (unsigned t = first; t < unsigned{first} + count && t <= CDIO_CD_MAX_TRACKS; ++t) {
      const track_t track = static_cast<track_t>(t);
      CdTrack info;
      info.number = track;
      info.start = cdio_get_track_lsn(cdio, track);
      info.audio = cdio_get_track_format(cdio, track) == TRACK_FORMAT_AUDIO;
      // A track's sound ends before the next track's pregap (index 00) when
      // the disc says where it is, else before the next track.
      lsn_t boundary = leadout;
      if (t + 1 < unsigned{first} + count) {
        boundary = cdio_get_track_lsn(cdio, static_cast<track_t>(t + 1));
        const lsn_t pregap = cdio_get_track_pregap_lsn(cdio, static_cast<track_t>(t + 1));
        if (pregap != CDIO_INVALID_LSN && pregap > info.start && pregap < boundary)
          boundary = pregap;
      }
      if (info.start == CDIO_INVALID_LSN || boundary == CDIO_INVALID_LSN ||
          boundary <= info.start) {
        // Nothing sensible to play: an empty, silent track.
        info.start = std::max<int32_t>(info.start, 0);
        info.last = info.start - 1;
        info.audio = false;
      } else {
        info.last = boundary - 1;
      }
      tracks_.push_back(info);
    }
    return !tracks_.empty();
  }

 private:
  std::string element_;
  bool image_;
  CdioHandle handle_;
  std::vector<CdTrack> tracks_;
};

}  // namespace

bool CdBackendAvailable() {
  return true;
}

std::vector<std::string> CdDriveList() {
  quietLibcdio();
  std::vector<std::string> drives;
  char** devices = cdio_get_devices(DRIVER_DEVICE);
  if (!devices) return drives;
  for (char** d = devices; *d; ++d) drives.emplace_back(*d);
  cdio_free_device_list(devices);
  return drives;
}

std::unique_ptr<CdMedium> OpenCdMedium(const std::string& element, uint32_t& error) {
  error = 0;
  quietLibcdio();
  const bool image = isImage(element);
  auto medium = std::make_unique<CdioMedium>(element, image);
  if (image) {
    if (!medium->Load()) {
      error = MCIERR_INVALID_DEVICE_NAME;
      return nullptr;
    }
    return medium;
  }
  // A drive opens without a disc; the disc is looked at by MediaPresent.
  medium->Load();
  std::error_code ec;
  if (!std::filesystem::exists(element, ec)) {
    error = MCIERR_INVALID_DEVICE_NAME;
    return nullptr;
  }
  return medium;
}

}  // namespace zirk::platform
