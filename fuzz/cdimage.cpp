// CD images: whatever a CUE sheet says, opening it, reading its table of
// contents and playing from each track never fails badly, and every track's
// sound lies inside the disc in order. Input: the sheet's track lines, a zero
// byte, then the BIN file's bytes. The sheet always names that one BIN file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/audio.h"
#include "platform/cdaudio.h"
#include "platform/messages.h"
#include "work_folder.h"

namespace {

bool namesAFile(std::string_view line) {
  std::string upper(line);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper.find("FILE") != std::string::npos;
}

}  // namespace

// libcdio loses the BIN file's name on some sheets it refuses; that is its
// leak, not the player's.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libcdio.so\n";
}

// As libcdio leaks on most sheets, a leak check after each input would scan
// the whole heap nearly every time and take most of the run. Leaks are
// looked for when the corpus runs as a test instead. A -detect_leaks given
// on the command line still wins.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static char noLeakChecks[] = "-detect_leaks=0";
  static std::vector<char*> args;
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + (args.empty() ? 0 : 1), noLeakChecks);
  args.push_back(nullptr);
  *argc = int(args.size()) - 1;
  *argv = args.data();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk::platform;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  const std::string_view sheet = input.substr(0, split);
  const std::string_view bin =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1, 64 * 2352);

  std::string cue = "FILE \"disc.bin\" BINARY\n";
  size_t start = 0;
  while (start < sheet.size()) {
    size_t end = sheet.find('\n', start);
    if (end == std::string_view::npos) end = sheet.size();
    const std::string_view line = sheet.substr(start, end - start);
    if (!namesAFile(line)) (cue += line) += '\n';
    start = end + 1;
  }
  static const zirk::fuzz::WorkFolder work("zirk-cdfuzz");
  const auto& folder = work.path;
  std::ofstream(folder / "disc.bin", std::ios::binary)
      .write(bin.data(), std::streamsize(bin.size()));
  std::ofstream(folder / "disc.cue") << cue;

  static AudioDevice audio;
  static MixerDevices mixer(MixerDevices::Standard());
  audio.Open(AudioBackend::Manual);
  uint32_t error = 0;
  auto cd = CdAudioDevice::Open((folder / "disc.cue").string(), {&audio, &mixer}, error);
  if (!cd) return 0;
  uint32_t count = 0;
  cd->TrackCount(count);
  // A few frames of sound show where play went. The first tracks and the
  // last take every path; a sheet may hold 99 and each costs a device round.
  constexpr size_t kFrames = 64;
  std::vector<int16_t> out(2 * kFrames);
  for (uint32_t t = 0; t <= count + 1; ++t) {
    if (t > 8 && t + 1 < count) continue;
    uint32_t msf = 0;
    bool isAudio = false;
    cd->TrackLength(t, msf);
    cd->TrackIsAudio(t, isAudio);
    if (cd->Play(MCI_MAKE_TMSF(t, 0, 0, 0),
                 MCI_MAKE_TMSF(t, MCI_MSF_MINUTE(msf), MCI_MSF_SECOND(msf), MCI_MSF_FRAME(msf)),
                 0) == 0) {
      audio.Render(out.data(), kFrames);
      uint32_t position = 0;
      cd->Position(position);
      if (MCI_TMSF_TRACK(position) == 0) std::abort();
    }
    cd->Seek(MCI_MAKE_TMSF(t, 0, 0, 0));
  }
  cd->Stop();
  cd.reset();
  ProcessMessages();
  return 0;
}
