#pragma once
// Stand-in for the midiOut services. Output device 0 is an embedded software
// synthesizer (FluidSynth with the system's General MIDI soundfont) rendering
// into the sound device; after it come the ALSA sequencer's writable ports,
// when the machine has any. Long messages complete before LongMsg returns, so
// a caller never waits for a "done" notification.
//
// Tests and tools hand a player a RecordingMidiPort instead of an opened
// device; it is never listed among the devices.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio.h"
#include "platform/waveout.h"

namespace zirk::platform {

constexpr int32_t MIDI_MAPPER = -1;

// Device technologies.
constexpr uint16_t MOD_MIDIPORT = 1;
constexpr uint16_t MOD_SWSYNTH = 7;

constexpr uint32_t MIDICAPS_VOLUME = 0x1;
constexpr uint32_t MIDICAPS_CACHE = 0x4;

struct MidiOutCaps {
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vDriverVersion = 0;  // major in the high byte, minor in the low byte
  std::string szPname;          // at most 31 characters
  uint16_t wTechnology = 0;
  uint16_t wVoices = 0;
  uint16_t wNotes = 0;
  uint16_t wChannelMask = 0;
  uint32_t dwSupport = 0;
};

// An open output device.
class MidiOutPort {
 public:
  virtual ~MidiOutPort() = default;
  // A channel or system message packed first byte lowest.
  virtual uint32_t ShortMsg(uint32_t packed) = 0;
  // A system-exclusive message from its 0xF0 to its 0xF7; done on return.
  virtual uint32_t LongMsg(const uint8_t* data, size_t size) = 0;
  // Silences every note on every channel.
  virtual uint32_t Reset() = 0;
};

// Number of output devices (the synthesizer and the sequencer ports).
uint32_t midiOutGetNumDevs();
// False for an index that names no device.
bool midiOutGetDevCaps(uint32_t index, MidiOutCaps& caps);
// Opens a device; MIDI_MAPPER, or any negative index, opens device 0. The
// synthesizer renders into `output`, or into the process-wide sound device
// (opened when it is not) when `output` is null.
uint32_t midiOutOpen(std::unique_ptr<MidiOutPort>& port, int32_t index,
                     AudioOutput* output = nullptr);
std::string midiOutGetErrorText(uint32_t error);

// The soundfont the synthesizer is to load, whether it is there or not:
// $ZIRK_SOUNDFONT, else the Debian default General MIDI soundfont (sf2,
// then sf3, the sf2 one when neither exists).
std::string SoundFontFile();
// The soundfont file when it exists as a regular file; empty otherwise.
std::string DefaultSoundFont();

// Length of a channel or system message from its status byte (1 to 3).
size_t ShortMessageLength(uint8_t status);

// What a recording port saw, with the clock's time of each message.
struct MidiRecord {
  enum class Kind { Short, Long, Reset };
  uint32_t time = 0;  // timeGetTime when it arrived
  Kind kind = Kind::Short;
  std::vector<uint8_t> bytes;  // a short message unpacked to its length
};

// The log a recording port writes; the test keeps it after the port is gone.
class MidiRecording {
 public:
  void Add(MidiRecord record);
  std::vector<MidiRecord> Records() const;
  void Clear();

 private:
  mutable std::mutex lock_;
  std::vector<MidiRecord> records_;
};

class RecordingMidiPort final : public MidiOutPort {
 public:
  explicit RecordingMidiPort(std::shared_ptr<MidiRecording> log) : log_(std::move(log)) {}
  uint32_t ShortMsg(uint32_t packed) override;
  uint32_t LongMsg(const uint8_t* data, size_t size) override;
  uint32_t Reset() override;

 private:
  std::shared_ptr<MidiRecording> log_;
};

// Device back-ends (midiout_fluid.cpp, midiout_alsa.cpp).
namespace midi_backends {
// The synthesizer; error code in `error` when it cannot be made.
std::unique_ptr<MidiOutPort> OpenSynth(AudioOutput& output, uint32_t& error);
bool SynthCaps(MidiOutCaps& caps);
// Writable sequencer ports, in a stable order.
std::vector<std::string> SequencerPortNames();
std::unique_ptr<MidiOutPort> OpenSequencerPort(size_t index, uint32_t& error);
}  // namespace midi_backends

}  // namespace zirk::platform
