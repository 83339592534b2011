#pragma once
// The MIDI file model: a Standard MIDI File (format 0, 1, and 2 read the same
// way) as one list of timed events ordered by tick, with a millisecond time
// for every event, a bar/beat table and per-track note lists. The player
// (MidiPlayV.h) plays the event list; the note lists and the beat table serve
// displays and bar/beat seeks.
//
// Malformed input never hangs or crashes the reader: whatever cannot be read
// ends the track being read (or, for the header, loads nothing), and every
// length and count is checked against the data before it is used.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/streams.h"

namespace zirk {

// Event types.
constexpr int32_t kMidiTypeShort = 0;  // channel message
constexpr int32_t kMidiTypeSysEx = 1;
constexpr int32_t kMidiTypeMeta = 2;

// Event kinds.
constexpr int32_t kMidiKindOther = 0;
constexpr int32_t kMidiKindNoteOn = 1;
constexpr int32_t kMidiKindNoteOff = 2;
constexpr int32_t kMidiKindKeyPressure = 3;
constexpr int32_t kMidiKindControlChange = 4;
constexpr int32_t kMidiKindProgramChange = 5;
constexpr int32_t kMidiKindChannelPressure = 6;
constexpr int32_t kMidiKindPitchBend = 7;
constexpr int32_t kMidiKindGSReset = 8;
constexpr int32_t kMidiKindTempo = 9;
constexpr int32_t kMidiKindSequenceNumber = 10;  // meta 0x00; 0x01..0x05 follow as 11..15
constexpr int32_t kMidiKindTrackName = 13;
constexpr int32_t kMidiKindMarker = 16;
constexpr int32_t kMidiKindCuePoint = 17;
constexpr int32_t kMidiKindEndOfTrack = 18;
constexpr int32_t kMidiKindMeta52 = 19;
constexpr int32_t kMidiKindTimeSignature = 20;
constexpr int32_t kMidiKindKeySignature = 21;

struct TNote {
  int32_t key = 0;
  int32_t velocity = 0;
  int64_t start = 0;  // in 1/48 quarter notes
  int64_t end = 0;
};
using TNotes = std::vector<TNote>;

struct TChannel {
  TNotes notes;
};

struct TTrack {
  std::string name;
  std::array<TChannel, 16> channels;
};
using TTracks = std::vector<TTrack>;

class TMidiMsgEvent {
 public:
  int64_t tick = 0;      // absolute
  int64_t time = 0;      // milliseconds
  int64_t delta = 0;     // ticks since the previous event of its track
  int32_t sequence = 0;  // reading order over all tracks
  int32_t track = 0;
  int32_t type = kMidiTypeShort;
  int32_t kind = kMidiKindOther;
  // Channel messages: the status and its data bytes (the status is stored
  // also for events read under running status). System exclusive: 0xF0 or
  // 0xF7 and the bytes as stored in the file. Meta: 0xFF, the meta type, the
  // data. Lengths are never stored.
  std::vector<uint8_t> data;

  int32_t Length() const { return static_cast<int32_t>(data.size()); }
  // "[90][3c][7f]": each byte as "[%2.2x]".
  std::string Text() const;
  // midiOutShortMsg packing: first byte lowest.
  uint32_t Packed() const;
  void Assign(const TMidiMsgEvent& source) { *this = source; }
};
using TMidiMsgEvents = std::vector<TMidiMsgEvent>;

// One beat of the beat table.
struct TVibrant {
  int64_t tick48 = 0;  // in 1/48 quarter notes
  int64_t tick = 0;
  int64_t time = 0;
  int32_t beat = 0;  // within its bar, from 0
  int32_t bar = 0;   // from 0
};
using TVibrants = std::vector<TVibrant>;

// A time signature.
struct TRhythm {
  int64_t tick = 0;
  int64_t time = 0;
  int64_t beatLength = 48;  // ticks
  int32_t numerator = 4;
  int32_t denominator = 4;
};
using TRhythms = std::vector<TRhythm>;

class TMidiV {
 public:
  static constexpr int32_t kDisplayUnit = 48;  // the display's ticks per quarter note
  // The beat table serves only displays and bar/beat seeks; a file whose
  // signatures would make it endless stops at BeatLimit beats.
  static constexpr size_t kMaxBeats = 1000000;
  size_t BeatLimit = kMaxBeats;
  // A game's MIDI file is a few hundred kilobytes and a few ten thousand
  // events. No more of a file is read, and no more events are kept: the
  // piece ends where the cap cuts it.
  static constexpr int64_t kMaxFileBytes = 16 * 1024 * 1024;
  static constexpr size_t kMaxEvents = 1000000;

  TMidiV() = default;
  virtual ~TMidiV() = default;
  TMidiV(const TMidiV&) = delete;
  TMidiV& operator=(const TMidiV&) = delete;

  // Reads the file from the stream's position. Always false, as its callers
  // expect; an unreadable file leaves the event list empty. Times too far
  // for 64 bits stay at the largest one.
  virtual bool LoadFromStream(TKwStream& stream);

  const TMidiMsgEvents& Events() const { return events_; }
  const TTracks& Tracks() const { return tracks_; }
  const TVibrants& Vibrants() const { return vibrants_; }
  const TRhythms& Rhythms() const { return rhythms_; }
  // The data began with a whole standard MIDI file header.
  bool HeaderRead() const { return headerRead_; }
  int32_t Format() const { return format_; }
  int32_t TrackCount() const { return trackCount_; }  // as the header says
  int32_t Division() const { return division_; }
  int32_t Division48() const { return division48_; }
  int64_t LongestTick() const { return longestTick_; }
  int64_t TotalLength() const { return totalLength_; }  // ms

  // The 24-bit tempo of a set-tempo event, else -1.
  static int32_t TempoValue(const TMidiMsgEvent& event);
  // Milliseconds per tick for a tempo, at the single precision the times are
  // computed with.
  static float MsPerTick(int32_t tempo, int32_t division);

 private:
  class Reader;
  void clear();
  void buildBeats();
  void computeTimes();

  TTracks tracks_;
  TMidiMsgEvents events_;
  TVibrants vibrants_;
  TRhythms rhythms_;
  int32_t format_ = 0;
  int32_t trackCount_ = 0;
  int32_t division_ = 0;
  int32_t division48_ = 0;
  int64_t longestTick_ = 0;
  int64_t totalLength_ = 0;
  bool headerRead_ = false;
};

// Reads a whole MIDI file, from its start, into `memory` (left at position
// 0), as a capped game file is read: a source larger than
// TMidiV::kMaxFileBytes raises EVrFileTooLarge naming the file before any of
// it is read, and no more than its checked size is read.
void ReadMidiFile(TKwStream& source, const std::string& name, TKwMemoryStream& memory);

}  // namespace zirk
