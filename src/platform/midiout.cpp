#include "platform/midiout.h"

#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "platform/waveout.h"

namespace zirk::platform {

std::string SoundFontFile() {
  if (const char* env = std::getenv("ZIRK_SOUNDFONT"); env != nullptr && *env != '\0') return env;
  constexpr const char* kDefaults[] = {"/usr/share/sounds/sf2/default-GM.sf2",
                                       "/usr/share/sounds/sf3/default-GM.sf3"};
  std::error_code ec;
  for (const char* path : kDefaults) {
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return kDefaults[0];
}

std::string DefaultSoundFont() {
  std::error_code ec;
  std::string file = SoundFontFile();
  return std::filesystem::is_regular_file(file, ec) ? file : std::string();
}

size_t ShortMessageLength(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 2;
    case 0xF0:
      // System common messages with their data bytes; real-time ones alone.
      if (status == 0xF2) return 3;
      if (status == 0xF1 || status == 0xF3) return 2;
      return 1;
    default:
      return 3;
  }
}

uint32_t midiOutGetNumDevs() {
  return 1 + static_cast<uint32_t>(midi_backends::SequencerPortNames().size());
}

bool midiOutGetDevCaps(uint32_t index, MidiOutCaps& caps) {
  if (index == 0) return midi_backends::SynthCaps(caps);
  const auto ports = midi_backends::SequencerPortNames();
  if (index - 1 >= ports.size()) return false;
  caps = MidiOutCaps{};
  caps.szPname = ports[index - 1].substr(0, 31);
  caps.wTechnology = MOD_MIDIPORT;
  caps.wChannelMask = 0xFFFF;
  return true;
}

uint32_t midiOutOpen(std::unique_ptr<MidiOutPort>& port, int32_t index, AudioOutput* output) {
  port.reset();
  uint32_t error = MMSYSERR_NOERROR;
  if (index < 0) index = 0;
  if (index == 0) {
    port = midi_backends::OpenSynth(output != nullptr ? *output : DefaultSoundOutput(), error);
  } else {
    port = midi_backends::OpenSequencerPort(static_cast<size_t>(index - 1), error);
  }
  if (port == nullptr && error == MMSYSERR_NOERROR) error = MMSYSERR_ERROR;
  return port != nullptr ? MMSYSERR_NOERROR : error;
}

std::string midiOutGetErrorText(uint32_t error) {
  switch (error) {
    case MMSYSERR_NOERROR:
      return "The specified command was carried out.";
    case MMSYSERR_BADDEVICEID:
      return "The specified device identifier is out of range.";
    case MMSYSERR_NOTENABLED:
      return "The driver failed to enable.";
    case MMSYSERR_INVALHANDLE:
      return "The specified device handle is invalid.";
    case MMSYSERR_NODRIVER:
      return "No soundfont or MIDI output driver is available.";
    case MMSYSERR_INVALPARAM:
      return "An invalid parameter was passed.";
    default:
      return "Undefined external error.";
  }
}

void MidiRecording::Add(MidiRecord record) {
  std::lock_guard lock(lock_);
  records_.push_back(std::move(record));
}

std::vector<MidiRecord> MidiRecording::Records() const {
  std::lock_guard lock(lock_);
  return records_;
}

void MidiRecording::Clear() {
  std::lock_guard lock(lock_);
  records_.clear();
}

uint32_t RecordingMidiPort::ShortMsg(uint32_t packed) {
  MidiRecord record{timeGetTime(), MidiRecord::Kind::Short, {}};
  const size_t length = ShortMessageLength(static_cast<uint8_t>(packed));
  for (size_t i = 0; i < length; ++i)
    record.bytes.push_back(static_cast<uint8_t>(packed >> (8 * i)));
  log_->Add(std::move(record));
  return MMSYSERR_NOERROR;
}

uint32_t RecordingMidiPort::LongMsg(const uint8_t* data, size_t size) {
  if (data == nullptr && size > 0) return MMSYSERR_INVALPARAM;
  log_->Add(
      MidiRecord{timeGetTime(), MidiRecord::Kind::Long, std::vector<uint8_t>(data, data + size)});
  return MMSYSERR_NOERROR;
}

uint32_t RecordingMidiPort::Reset() {
  log_->Add(MidiRecord{timeGetTime(), MidiRecord::Kind::Reset, {}});
  return MMSYSERR_NOERROR;
}

}  // namespace zirk::platform
