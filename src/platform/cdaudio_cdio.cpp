// Drives and CUE/BIN images through libcdio.
#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string_view>

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
constexpr size_t kCueReaderPiece = 4095;

// Hands `f` each piece of the sheet as the reader takes it; stops at the
// first piece `f` refuses.
template <class F>
bool everyCuePiece(std::istream& sheet, F f) {
  std::string piece;
  for (auto it = std::istreambuf_iterator<char>(sheet); it != std::istreambuf_iterator<char>();
       ++it) {
    piece += *it;
    if (*it == '\n' || piece.size() == kCueReaderPiece) {
      if (!f(std::string_view(piece))) return false;
      piece.clear();
    }
  }
  return piece.empty() || f(std::string_view(piece));
}

// The TRACK words of a piece: a word ends at white space or a zero byte
// (the end of the reader's line), and where the piece ends.
int tracksIn(std::string_view piece) {
  int tracks = 0;
  std::string word;
  for (size_t i = 0; i <= piece.size(); ++i) {
    const auto c = static_cast<unsigned char>(i < piece.size() ? piece[i] : 0);
    if (std::isspace(c) == 0 && c != 0) {
      word += static_cast<char>(std::toupper(c));
    } else {
      tracks += word == "TRACK";
      word.clear();
    }
  }
  return tracks;
}

// The file a FILE or CDTEXTFILE piece names, as the reader takes it: the
// piece ends at a zero byte, the keyword at white space, and the name is
// the first run after it that holds no quote, tab or line end (blanks
// included). Empty for any other piece.
std::string namedFile(std::string_view piece) {
  piece = piece.substr(0, piece.find('\0'));
  constexpr std::string_view kBlank = " \t\r\n";
  const size_t from = std::min(piece.find_first_not_of(kBlank), piece.size());
  const size_t to = std::min(piece.find_first_of(kBlank, from), piece.size());
  const std::string_view keyword = piece.substr(from, to - from);
  if ((keyword != "FILE" && keyword != "CDTEXTFILE") || to == piece.size()) return {};
  constexpr std::string_view kNameEnd = "\"\t\r\n";
  const std::string_view rest = piece.substr(to + 1);
  const size_t begin = std::min(rest.find_first_not_of(kNameEnd), rest.size());
  return std::string(rest.substr(begin, rest.find_first_of(kNameEnd, begin) - begin));
}

// Something there that is no regular file: a FIFO nobody writes would hold
// the reader's open for ever. What is missing the reader reports itself.
bool irregular(const std::filesystem::path& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

// Only a regular file is a sheet, and every file it leads libcdio's reader
// to open must be one too: the image named beside it (".cue" becomes
// ".bin", ".CUE" ".BIN") and each file a FILE or CDTEXTFILE line names,
// taken from the sheet's folder. libcdio's reader also writes past its table
// on a sheet of more tracks than a disc holds, so such a sheet never reaches
// it: tracks are counted as the reader finds them, so a TRACK glued to a
// long line is counted too.
bool sheetFitsLibcdio(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  std::string image = path;
  image.replace(image.size() - 3, 3, image.ends_with("CUE") ? "BIN" : "bin");
  if (irregular(image)) return false;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::ifstream sheet(path, std::ios::binary);
  int tracks = 0;
  return everyCuePiece(sheet, [&](std::string_view piece) {
    tracks += tracksIn(piece);
    const std::string named = namedFile(piece);
    return tracks <= CDIO_CD_MAX_TRACKS && (named.empty() || !irregular(folder / named));
  });
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
