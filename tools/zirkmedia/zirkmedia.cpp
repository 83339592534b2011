// zirkmedia: the media library from the command line, loaded and bound the
// way the player does it.
//   zirkmedia decode FILE OUT.raw   PCM of an Ogg or WAVE file; prints "RATE CHANNELS BITS"
//   zirkmedia info FILE             length in milliseconds of a sound or movie
//   zirkmedia midi-events FILE      one line per MIDI event: tick, ms, type, kind, bytes in hex
//   zirkmedia midi-play FILE        plays a MIDI file on a recording port under a clock
//                                   stepped by 10 ms; one line "MS HEXBYTES" per message
// Exit 0 on success, 1 on failure (message on stderr), 2 on wrong usage.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "base/exceptions.h"
#include "base/rangestreams.h"
#include "base/streams.h"
#include "base/vrfiles.h"
#include "media/MidiPlayV.h"
#include "media/mediaitems.h"
#include "media/zirkdll.h"
#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/midiout.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Failure {
  std::string message;
};

std::string lowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

// Binds the library and runs zirkInit with the player's callbacks; the sound
// slot stays empty, so any playing would go to the library's silent output.
class Library {
 public:
  Library() {
    const auto status = zirk::LoadMediaDll(zirk::platform::programFolder());
    if (status != zirk::TMediaDllStatus::mdsOk) throw Failure{zirk::MediaDllMessage(status)};
    if (!zirk::zirkInit(&window_, &panel_, nullptr, &sharedDirectSound_, zirk::DllStreamGetSize,
                        zirk::DllStreamRead, zirk::DllStreamGetPosition, zirk::DllStreamSeek,
                        zirk::SaveFpuControlWord, zirk::RestoreFpuControlWord, 0)) {
      zirk::FinalDll();
      throw Failure{"the media library did not start"};
    }
  }
  ~Library() {
    zirk::zirkFinal();
    zirk::FinalDll();
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

 private:
  uintptr_t window_ = 0;
  uintptr_t panel_ = 0;
  void* sharedDirectSound_ = nullptr;
};

// A file named by its host path is read as the player reads a media file
// given with an absolute name: a range stream over the whole file. As the
// player takes none but regular files, a pipe, a folder or a device is
// refused by name, and before it is opened: a pipe has no size to read it
// by, and opening a FIFO nobody writes would wait for ever.
std::unique_ptr<zirk::TKwStream> openInput(const std::string& path) {
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    throw Failure{path + ": not a regular file"};
  try {
    return std::make_unique<zirk::TFileRangeStream>(path, 0, 0);
  } catch (const zirk::Exception& e) {
    throw Failure{e.what()};
  }
}

// What the file's first bytes say it is; the extension decides only for
// files without such a mark.
enum class Content { Ogg, Wave, Midi, Other };

Content contentOf(const std::string& path) {
  char head[12] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(head, sizeof head);
  const std::string bytes(head, static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  const std::string ext = lowerExtension(path);
  // An Ogg movie is a movie.
  if (bytes.rfind("OggS", 0) == 0) return ext == ".ogv" ? Content::Other : Content::Ogg;
  if (bytes.rfind("RIFF", 0) == 0 && bytes.size() == 12 && bytes.compare(8, 4, "WAVE") == 0)
    return Content::Wave;
  if (bytes.rfind("MThd", 0) == 0) return Content::Midi;
  if (ext == ".ogg" || ext == ".oga") return Content::Ogg;
  if (ext == ".wav") return Content::Wave;
  if (ext == ".mid" || ext == ".midi") return Content::Midi;
  return Content::Other;
}

Failure midiFailure(const std::string& input) {
  return Failure{input + ": a MIDI file; \"zirkmedia midi-events FILE\" lists its events"};
}

int decode(const std::string& input, const std::string& output) {
  auto stream = openInput(input);
  const Content content = contentOf(input);
  if (content == Content::Midi) throw midiFailure(input);
  Library library;
  const ZirkBool isOgg = content == Content::Ogg ? -1 : 0;
  const ZirkHandle decoder = zirk::zirkOggStrmanAdd(stream.get(), isOgg);
  if (decoder == 0) throw Failure{input + ": not an Ogg or WAVE file"};
  struct Release {
    ZirkHandle h;
    ~Release() { zirk::zirkOggStrmanDel(h); }
  } release{decoder};

  ZirkPcmFormat format{};
  if (!zirk::zirkOggStrGetFormat(decoder, &format)) throw Failure{input + ": no PCM format"};
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) throw Failure{output + ": cannot be created"};
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const int32_t n =
        zirk::zirkOggStrRead(decoder, buffer.data(), static_cast<int32_t>(buffer.size()));
    if (n <= 0) break;
    out.write(buffer.data(), std::min<int32_t>(n, static_cast<int32_t>(buffer.size())));
  }
  out.close();
  if (!out) throw Failure{output + ": write failed"};
  std::cout << format.samplesPerSec << ' ' << format.channels << ' ' << format.bitsPerSample
            << '\n';
  return kExitOk;
}

bool windowsMediaSound(const std::string& path) {
  const std::string ext = lowerExtension(path);
  return ext == ".wma" || ext == ".mp3";
}

int info(const std::string& input) {
  auto stream = openInput(input);
  const Content content = contentOf(input);
  if (content == Content::Midi) throw midiFailure(input);
  Library library;
  int32_t length = 0;
  if (content == Content::Ogg || content == Content::Wave) {
    const ZirkHandle h = zirk::zirkOggmanAdd(stream.get(), content == Content::Ogg ? -1 : 0);
    if (h == 0) throw Failure{input + ": not an Ogg or WAVE file that plays"};
    length = zirk::zirkOggGetLen(h);
    zirk::zirkOggmanDel(h);
  } else if (windowsMediaSound(input)) {
    zirk::TKwMemoryStream memory;
    try {
      zirk::LoadWholeStream(*stream, memory, input, zirk::TWmpItem::kMaxFileBytes);
    } catch (const zirk::Exception& e) {
      throw Failure{e.what()};
    }
    const ZirkHandle h = zirk::zirkWmpmanAdd(memory.Memory(), static_cast<int32_t>(memory.Size()));
    if (h == 0) throw Failure{input + ": not a WMA or MP3 sound that plays"};
    length = zirk::zirkWmpGetLen(h);
    zirk::zirkWmpmanDel(h);
  } else {
    const ZirkHandle h = zirk::zirkVidmanAdd(input.c_str(), stream.get(), -1);
    if (h == 0) throw Failure{input + ": not an Ogg, WAVE or movie file"};
    length = zirk::zirkVideoGetLen(h);
    zirk::zirkVidmanDel(h);
  }
  std::cout << length << '\n';
  return kExitOk;
}

std::string hexBytes(const std::vector<uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

void loadMidi(zirk::TMidiV& model, const std::string& input) {
  auto stream = openInput(input);
  zirk::TKwMemoryStream memory;
  try {
    zirk::ReadMidiFile(*stream, input, memory);
  } catch (const zirk::Exception& e) {
    throw Failure{e.what()};
  }
  memory.SetPosition(0);
  model.LoadFromStream(memory);
  if (!model.HeaderRead()) throw Failure{input + ": not a standard MIDI file"};
}

// The clock runs until the last message that goes out has gone, not to the
// end of the tracks: a file may end them long after its last note.
constexpr int64_t kMaxPlayMs = int64_t{24} * 60 * 60 * 1000;

// The index of the last event that goes out as a message (-1: none).
int32_t lastMessage(const zirk::TMidiV& model, const std::string& input) {
  const auto& events = model.Events();
  int32_t last = static_cast<int32_t>(events.size()) - 1;
  while (last >= 0 && events[static_cast<size_t>(last)].type == zirk::kMidiTypeMeta) --last;
  const int64_t time = last >= 0 ? events[static_cast<size_t>(last)].time : 0;
  if (time > kMaxPlayMs) {
    throw Failure{input + ": plays for longer than a day (" + std::to_string(time) + " ms)"};
  }
  return last;
}

int midiEvents(const std::string& input) {
  zirk::TMidiV model;
  loadMidi(model, input);
  for (const zirk::TMidiMsgEvent& e : model.Events()) {
    std::cout << e.tick << ' ' << e.time << ' ' << e.type << ' ' << e.kind << ' '
              << hexBytes(e.data) << '\n';
  }
  return kExitOk;
}

// Plays the whole sequence with the clock stepped by hand, so the output is
// the same on every run.
int midiPlay(const std::string& input) {
  zirk::platform::ManualClock clock(0);
  zirk::platform::SetClock(&clock);
  struct RestoreClock {
    ~RestoreClock() { zirk::platform::SetClock(nullptr); }
  } restore;
  auto log = std::make_shared<zirk::platform::MidiRecording>();
  {
    zirk::TMidiPlayV player(false);
    player.SetPortOpener([log](std::unique_ptr<zirk::platform::MidiOutPort>& port, int32_t) {
      port = std::make_unique<zirk::platform::RecordingMidiPort>(log);
      return zirk::platform::MMSYSERR_NOERROR;
    });
    loadMidi(player, input);
    const int32_t last = lastMessage(player, input);
    player.OpenDevice(zirk::platform::MIDI_MAPPER);
    player.Seek(0, 0, -1);
    // However many steps the player takes: a dense file goes out over several.
    while (player.CurrentIndex() <= last) {
      clock.Advance(10);
      player.Timer().Tick();
    }
    player.Stop();
    for (const auto& record : log->Records()) {
      if (record.kind == zirk::platform::MidiRecord::Kind::Reset) continue;
      std::cout << record.time << ' ' << hexBytes(record.bytes) << '\n';
    }
  }
  return kExitOk;
}

const char kUsage[] =
    "usage: zirkmedia decode FILE OUT.raw   PCM of an Ogg or WAVE file; prints RATE CHANNELS BITS\n"
    "       zirkmedia info FILE             length in ms of an Ogg, WAVE, WMA, MP3 or movie file\n"
    "       zirkmedia midi-events FILE      the events of a MIDI file, one a line\n"
    "       zirkmedia midi-play FILE        the messages a MIDI file sends, with their times\n";

int usage() {
  std::cerr << kUsage;
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::cout << kUsage;
    return kExitOk;
  }
  try {
    if (args.size() == 3 && args[0] == "decode") return decode(args[1], args[2]);
    if (args.size() == 2 && args[0] == "info") return info(args[1]);
    if (args.size() == 2 && args[0] == "midi-events") return midiEvents(args[1]);
    if (args.size() == 2 && args[0] == "midi-play") return midiPlay(args[1]);
    return usage();
  } catch (const Failure& f) {
    std::cerr << "zirkmedia: " << f.message << '\n';
  } catch (const std::exception& e) {
    std::cerr << "zirkmedia: " << e.what() << '\n';
  }
  return kExitFailure;
}
