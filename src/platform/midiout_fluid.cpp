// Output device 0: FluidSynth rendering into the sound device. Events and
// rendering share one lock, so a message lands between two rendered
// stretches, never inside one.

#include <fcntl.h>
#include <fluidsynth.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/midiout.h"

namespace zirk::platform::midi_backends {

namespace {

// Voices sounding at once. Rendering and every note-on cost more with each
// voice; past this many a new note takes the place of an old one.
constexpr int kPolyphony = 256;

// FluidSynth reports every soundfont detail on stderr; only its errors are
// worth showing.
void quietFluidLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

// Why a file is no soundfont, as far as its first bytes tell (a RIFF file
// of SoundFont or DLS form); empty when it may be one. FluidSynth's own
// loaders would fill stderr with lines of their own for each of them.
std::string soundFontProblem(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  char head[12] = {};
  const ssize_t got = ::read(fd, head, sizeof head);
  ::close(fd);
  const bool riff = got == ssize_t(sizeof head) && std::memcmp(head, "RIFF", 4) == 0;
  if (!riff || (std::memcmp(head + 8, "sfbk", 4) != 0 && std::memcmp(head + 8, "DLS ", 4) != 0))
    return "not a SoundFont file";
  return {};
}

// Once for each soundfont: every MIDI piece tries the synthesizer again.
void sayNoMidiSound(const std::string& file, const std::string& why) {
  static std::mutex lock;
  static std::set<std::string> said;
  std::lock_guard guard(lock);
  if (said.insert(file).second)
    std::fprintf(stderr, "zirkplayer: no MIDI sound: %s: %s\n", file.c_str(), why.c_str());
}

class FluidSynthPort final : public MidiOutPort, public AudioSource {
 public:
  explicit FluidSynthPort(AudioOutput& output) : output_(output) {}

  ~FluidSynthPort() override {
    // Detach first: after it, Fill is not running and never runs again.
    if (attached_) output_.Detach(this);
    if (synth_ != nullptr) delete_fluid_synth(synth_);
    if (settings_ != nullptr) delete_fluid_settings(settings_);
  }

  uint32_t Start(const std::string& soundFont) {
    quietFluidLog();
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) return MMSYSERR_NOTENABLED;
    fluid_settings_setnum(settings_, "synth.sample-rate", output_.Rate());
    fluid_settings_setint(settings_, "synth.audio-channels", 1);
    fluid_settings_setint(settings_, "synth.polyphony", kPolyphony);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) return MMSYSERR_NOTENABLED;
    std::string problem = soundFontProblem(soundFont);
    if (problem.empty() && fluid_synth_sfload(synth_, soundFont.c_str(), 1) == FLUID_FAILED)
      problem = "FluidSynth cannot load it";
    if (!problem.empty()) {
      sayNoMidiSound(soundFont, problem);
      return MMSYSERR_NODRIVER;
    }
    output_.Attach(this);
    attached_ = true;
    return MMSYSERR_NOERROR;
  }

  uint32_t ShortMsg(uint32_t packed) override {
    const int status = packed & 0xFF;
    const int channel = status & 0x0F;
    const int data1 = (packed >> 8) & 0x7F;
    const int data2 = (packed >> 16) & 0x7F;
    std::lock_guard lock(lock_);
    switch (status & 0xF0) {
      case 0x80:
        fluid_synth_noteoff(synth_, channel, data1);
        break;
      case 0x90:
        fluid_synth_noteon(synth_, channel, data1, data2);
        break;
      case 0xA0:
        fluid_synth_key_pressure(synth_, channel, data1, data2);
        break;
      case 0xB0:
        fluid_synth_cc(synth_, channel, data1, data2);
        break;
      case 0xC0:
        fluid_synth_program_change(synth_, channel, data1);
        break;
      case 0xD0:
        fluid_synth_channel_pressure(synth_, channel, data1);
        break;
      case 0xE0:
        fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7));
        break;
      default:
        if (status == 0xFF) fluid_synth_system_reset(synth_);
        break;
    }
    return MMSYSERR_NOERROR;
  }

  uint32_t LongMsg(const uint8_t* data, size_t size) override {
    if (data == nullptr || size < 2 || data[0] != 0xF0) return MMSYSERR_INVALPARAM;
    // FluidSynth takes the body without the framing bytes.
    const size_t body = data[size - 1] == 0xF7 ? size - 2 : size - 1;
    std::lock_guard lock(lock_);
    fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + 1), static_cast<int>(body),
                      nullptr, nullptr, nullptr, 0);
    return MMSYSERR_NOERROR;
  }

  uint32_t Reset() override {
    std::lock_guard lock(lock_);
    fluid_synth_all_notes_off(synth_, -1);
    return MMSYSERR_NOERROR;
  }

  size_t Fill(int16_t* out, size_t frames) override {
    std::lock_guard lock(lock_);
    fluid_synth_write_s16(synth_, static_cast<int>(frames), out, 0, 2, out, 1, 2);
    return frames;
  }

 private:
  AudioOutput& output_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  bool attached_ = false;
  std::mutex lock_;
};

}  // namespace

std::unique_ptr<MidiOutPort> OpenSynth(AudioOutput& output, uint32_t& error) {
  auto port = std::make_unique<FluidSynthPort>(output);
  error = port->Start(SoundFontFile());
  if (error != MMSYSERR_NOERROR) return nullptr;
  return port;
}

bool SynthCaps(MidiOutCaps& caps) {
  caps = MidiOutCaps{};
  caps.szPname = "FluidSynth GM Synth";
  caps.vDriverVersion = (FLUIDSYNTH_VERSION_MAJOR << 8) | FLUIDSYNTH_VERSION_MINOR;
  caps.wTechnology = MOD_SWSYNTH;
  caps.wVoices = kPolyphony;
  caps.wNotes = kPolyphony;
  caps.wChannelMask = 0xFFFF;
  caps.dwSupport = MIDICAPS_VOLUME;
  return true;
}

}  // namespace zirk::platform::midi_backends
