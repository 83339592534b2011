// The MIDI file model against the midicsv listings of real files, the tempo
// map, malformed files, and small files built here for the edge cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "media/MidiV.h"
#include "midi_support.h"
#include "support/testdata.h"

namespace zirk {
namespace {

using test::CsvEvent;
using test::CsvListing;
using test::SmfBuilder;

void loadBytes(TMidiV& model, const std::vector<uint8_t>& bytes) {
  TKwMemoryStream stream(bytes);
  EXPECT_FALSE(model.LoadFromStream(stream));
}

void loadFile(TMidiV& model, const std::string& name) {
  TKwMemoryStream stream;
  stream.LoadFromFile(test::dataPath("midi/" + name + ".mid").string());
  EXPECT_FALSE(model.LoadFromStream(stream));
}

CsvListing listingOf(const std::string& name) {
  return test::ReadCsvListing(test::dataPath("midi/expected/" + name + ".csv"));
}

// The model's events of one track in reading order.
std::vector<const TMidiMsgEvent*> trackEvents(const TMidiV& model, int track) {
  std::vector<const TMidiMsgEvent*> out;
  for (const auto& e : model.Events()) {
    if (e.track == track) out.push_back(&e);
  }
  std::sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->sequence < b->sequence; });
  return out;
}

// What the reader should make of a listing: every line, except that a
// status byte with no place in a file ends its track there.
std::map<int, std::vector<CsvEvent>> expectedTracks(const CsvListing& listing) {
  std::map<int, std::vector<CsvEvent>> tracks;
  std::set<int> cut;
  for (const CsvEvent& e : listing.events) {
    if (cut.count(e.track)) continue;
    if (e.type == "Unknown_event") {
      cut.insert(e.track);
      continue;
    }
    tracks[e.track].push_back(e);
  }
  return tracks;
}

void expectMatchesListing(const TMidiV& model, const std::map<int, std::vector<CsvEvent>>& tracks,
                          const std::string& name) {
  size_t total = 0;
  for (const auto& [number, expected] : tracks) {
    const auto actual = trackEvents(model, number - 1);
    ASSERT_EQ(actual.size(), expected.size()) << name << " track " << number;
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(actual[i]->tick, expected[i].tick) << name << " track " << number << " #" << i;
      EXPECT_EQ(actual[i]->data, expected[i].bytes)
          << name << " track " << number << " #" << i << " " << expected[i].type;
    }
    total += expected.size();
  }
  EXPECT_EQ(model.Events().size(), total) << name;
}

// The files the listing tool read: the sound Standard MIDI Files, or those
// that break the format in a way the listing shows.
std::vector<std::string> listedFiles(bool sound) {
  static const std::set<std::string> kMalformed = {"jazz-soft/test-corrupt-file-missing-byte",
                                                   "midifile/MIDIBadHeaderLength",
                                                   "midifile/MIDIBadHeaderFormat",
                                                   "midifile/MIDIBadHeaderSMTPE",
                                                   "midifile/MIDIBadTrackLength",
                                                   "jazz-soft/test-corrupt-file-extra-byte"};
  std::vector<std::string> names;
  std::ifstream index(test::dataPath("midi/index.tsv"));
  std::string line;
  std::getline(index, line);  // column names
  while (std::getline(index, line)) {
    if (line.find("\tok\t") == std::string::npos) continue;
    const std::string name = line.substr(0, line.find('\t') - 4);  // without ".mid"
    const bool malformed =
        kMalformed.count(name) || name.find("illegal-message") != std::string::npos;
    if (malformed != sound) names.push_back(name);
  }
  return names;
}

// The exact time of a tick: the sum over the tempo segments before it, with
// every tempo acting from its own tick on, whichever track holds it.
double exactMs(const std::vector<std::pair<int64_t, long>>& tempos, int division, int64_t tick) {
  double us = 0;
  int64_t from = 0;
  long tempo = 500000;
  for (const auto& [at, value] : tempos) {
    if (at >= tick) break;
    us += static_cast<double>(at - from) * tempo / division;
    from = at;
    tempo = value;
  }
  us += static_cast<double>(tick - from) * tempo / division;
  return us / 1000;
}

TEST(MidiFile, EveryValidFileMatchesItsListingAndItsTempoMap) {
  const auto names = listedFiles(true);
  ASSERT_GE(names.size(), 60u);
  for (const auto& name : names) {
    TMidiV model;
    loadFile(model, name);
    const CsvListing listing = listingOf(name);
    EXPECT_EQ(model.Format(), listing.format) << name;
    EXPECT_EQ(model.Division(), listing.division) << name;
    EXPECT_EQ(static_cast<int>(model.Tracks().size()), listing.tracks) << name;
    expectMatchesListing(model, expectedTracks(listing), name);
    std::vector<std::pair<int64_t, long>> tempos;
    for (const auto& e : listing.events) {
      if (e.type == "Tempo") {
        tempos.emplace_back(e.tick, (e.bytes[2] << 16) | (e.bytes[3] << 8) | e.bytes[4]);
      }
    }
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // Merged order: by tick, equal ticks in reading order.
    const auto& events = model.Events();
    for (size_t i = 0; i < events.size(); ++i) {
      ASSERT_TRUE(
          i == 0 || events[i - 1].tick < events[i].tick ||
          (events[i - 1].tick == events[i].tick && events[i - 1].sequence < events[i].sequence))
          << name << " #" << i;
      // Rounded once, from a single-precision step: within half a
      // millisecond and the float's error.
      ASSERT_NEAR(static_cast<double>(events[i].time),
                  exactMs(tempos, model.Division(), events[i].tick), 0.6)
          << name << " tick " << events[i].tick;
    }
    EXPECT_EQ(model.TotalLength(), events.empty() ? 0 : events.back().time) << name;
  }
}

// Files that break the format, each with what the reader makes of it.
TEST(MidiFile, MalformedFilesLoadToTheirOutcome) {
  // A listing that stays valid as it is, or up to the first status byte
  // that has no place in a file.
  const auto listed = listedFiles(false);
  ASSERT_GE(listed.size(), 19u);
  for (const std::string& name : listed) {
    TMidiV model;
    loadFile(model, name);
    auto tracks = expectedTracks(listingOf(name));
    if (name == "jazz-soft/test-corrupt-file-missing-byte") {
      // The last track's final byte is missing: its end-of-track cannot be read.
      ASSERT_EQ(tracks.rbegin()->second.back().type, "End_track");
      tracks.rbegin()->second.pop_back();
    }
    expectMatchesListing(model, tracks, name);
    if (name == "midifile/MIDIBadHeaderSMTPE") {
      // The SMPTE division is taken as a tick rate: times stay tiny, nothing fails.
      EXPECT_EQ(model.Division(), 0xF060);
      EXPECT_LT(model.TotalLength(), 100);
    }
  }
  TMidiV reference;
  loadFile(reference, "midifile/MIDIOkFormat0");
  ASSERT_FALSE(reference.Events().empty());
  const struct {
    std::string name;
    size_t events;
    size_t tracks;
  } cases[] = {
      {"jazz-soft/test-empty-file", 0, 0},
      {"jazz-soft/test-not-a-midi-file", 0, 0},
      {"midifile/MIDIBadHeaderChunk", 0, 0},
      // "mTrk" is no track chunk, and nothing follows it.
      {"midifile/MIDIBadTrackHdr", 0, 0},
      // Two tracks announced, one present: that one is read whole.
      {"midifile/MIDIBadHeaderTracksNum", reference.Events().size(), 1},
  };
  for (const auto& c : cases) {
    TMidiV model;
    loadFile(model, c.name);
    EXPECT_EQ(model.Events().size(), c.events) << c.name;
    EXPECT_EQ(model.Tracks().size(), c.tracks) << c.name;
  }
  {
    // A chunk of another kind before the one track is skipped; the track
    // behind it plays.
    TMidiV model;
    loadFile(model, "jazz-soft/test-non-midi-track");
    EXPECT_EQ(model.TrackCount(), 1);
    ASSERT_EQ(model.Tracks().size(), 1u);
    EXPECT_EQ(model.Tracks()[0].name, "Non-MIDI Track Test");
    EXPECT_FALSE(model.Tracks()[0].channels[0].notes.empty());
  }
  {
    // Such a chunk takes no track's place: both announced tracks are read.
    std::vector<uint8_t> file = SmfBuilder(1, 96)
                                    .Track()
                                    .Event(0, {0xC0, 1})
                                    .EndOfTrack()
                                    .Track()
                                    .Event(0, {0xC1, 2})
                                    .EndOfTrack()
                                    .Bytes();
    const std::vector<uint8_t> junk = {'J', 'u', 'n', 'k', 0, 0, 0, 2, 0xAA, 0xBB};
    file.insert(file.begin() + 14, junk.begin(), junk.end());
    TMidiV model;
    loadBytes(model, file);
    ASSERT_EQ(model.Tracks().size(), 2u);
    EXPECT_EQ(trackEvents(model, 0).size(), 2u);
    ASSERT_EQ(trackEvents(model, 1).size(), 2u);
    EXPECT_EQ(trackEvents(model, 1)[0]->data, (std::vector<uint8_t>{0xC1, 2}));
  }
}

TEST(MidiFile, BadFieldsNeverHangAndEndOnlyWhatTheyBreak) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    size_t events;
  };
  const std::vector<Case> cases = {
      {"division 0", SmfBuilder(0, 0).Track().Event(0, {0x90, 60, 100}).EndOfTrack().Bytes(), 0},
      {"VLQ of five bytes",
       SmfBuilder(0, 96)
           .Track()
           .Event(0, {0x90, 60, 100})
           .Raw({0x81, 0x80, 0x80, 0x80, 0x00})
           .Raw({0x80, 60, 0})
           .Bytes(),
       1},
      {"four-byte VLQ is fine",
       SmfBuilder(0, 96).Track().Raw({0x80, 0x80, 0x80, 0x00, 0x90, 60, 1}).EndOfTrack().Bytes(),
       2},
      {"data byte with no running status",
       SmfBuilder(0, 96).Track().Event(0, {0x3C, 0x40}).EndOfTrack().Bytes(), 0},
      {"running status does not survive into a new track",
       SmfBuilder(1, 96)
           .Track()
           .Event(0, {0x90, 60, 1})
           .EndOfTrack()
           .Track()
           .Event(0, {60, 0})
           .EndOfTrack()
           .Bytes(),
       2},
      {"system exclusive longer than its chunk",
       SmfBuilder(0, 96).Track().Event(0, {0xC0, 5}).Event(0, {0xF0, 0x7F, 0x01}).Bytes(), 1},
      {"meta longer than its chunk",
       SmfBuilder(0, 96).Track().Event(0, {0xFF, 0x01, 0x40, 'a'}).Bytes(), 0},
      {"status byte F4 inside a track",
       SmfBuilder(0, 96)
           .Track()
           .Event(0, {0xC0, 5})
           .Event(0, {0xF4})
           .Event(0, {0xC0, 6})
           .EndOfTrack()
           .Bytes(),
       1},
      {"real-time byte FE inside a track",
       SmfBuilder(0, 96).Track().Event(0, {0xFE}).EndOfTrack().Bytes(), 0},
      {"channel message cut short", SmfBuilder(0, 96).Track().Event(0, {0x90, 60}).Bytes(), 0},
      {"track length past the data",
       SmfBuilder(0, 96).Track().Event(0, {0xC0, 5}).EndOfTrack().ForceLength(0x7FFFFFFF).Bytes(),
       2},
      {"track count beyond the chunks",
       SmfBuilder(0, 96).Track().Event(0, {0xC0, 5}).EndOfTrack().Bytes(65535), 2},
      {"header cut short", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    TMidiV model;
    loadBytes(model, c.file);
    EXPECT_EQ(model.Events().size(), c.events) << c.what;
  }
}

TEST(MidiFile, TempoActsFromItsOwnTickAndTimesDoNotDrift) {
  {
    // A tempo in a later track governs every track.
    TMidiV model;
    loadBytes(model, SmfBuilder(1, 96)
                         .Track()
                         .Event(0, {0x90, 60, 100})
                         .Event(192, {0x80, 60, 0})
                         .EndOfTrack()
                         .Track()
                         .Tempo(96, 1000000)
                         .EndOfTrack()
                         .Bytes());
    ASSERT_EQ(model.Events().size(), 5u);
    EXPECT_EQ(model.Events()[1].kind, kMidiKindTempo);
    EXPECT_EQ(model.Events()[1].time, 500);
    EXPECT_EQ(model.Events()[3].time, 1500);  // the note-off of the first track
    EXPECT_EQ(model.Events()[3].track, 0);
    EXPECT_EQ(model.TotalLength(), 1500);
  }
  {
    // A rest before a tempo change keeps the old tempo.
    TMidiV model;
    loadBytes(model, SmfBuilder(0, 96)
                         .Track()
                         .Event(0, {0x90, 60, 100})
                         .Tempo(96, 1000000)
                         .Event(96, {0x80, 60, 0})
                         .EndOfTrack()
                         .Bytes());
    ASSERT_EQ(model.Events().size(), 4u);
    EXPECT_EQ(model.Events()[1].time, 500);
    EXPECT_EQ(model.Events()[2].time, 1500);
  }
  {
    // Division 480 at the default tempo: a quarter is 500 ms, an event every
    // 10 ticks adds 10.41666 ms without loss.
    SmfBuilder file(0, 480);
    file.Track();
    for (int i = 0; i < 1000; ++i) file.Event(10, {0x90, 60, static_cast<uint8_t>(i & 1 ? 0 : 64)});
    file.EndOfTrack();
    TMidiV model;
    loadBytes(model, file.Bytes());
    EXPECT_FLOAT_EQ(TMidiV::MsPerTick(500000, 480), 1.0416666f);
    EXPECT_EQ(model.Events()[47].time, 500);  // tick 480
    EXPECT_EQ(model.Events()[999].time, 10417);
    EXPECT_EQ(model.TotalLength(), 10417);
  }
  {
    // A tempo of 0 is ignored; the last valid one stays in force.
    TMidiV model;
    loadBytes(model,
              SmfBuilder(0, 96).Track().Tempo(0, 0).Event(96, {0xC0, 1}).EndOfTrack().Bytes());
    EXPECT_EQ(model.Events()[1].time, 500);
  }
}

// 2.1 million of the largest delta at the slowest tempo: times past 64 bits.
TEST(MidiFile, AHugeFileIsCutAtTheEventCapAndItsTimesStayInOrder) {
  std::vector<uint8_t> body = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0x01};
  for (int i = 0; i < 2100000; ++i) body.insert(body.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0x01});
  TMidiV model;
  loadBytes(model, SmfBuilder(0, 1).Track().Raw(body).Bytes());
  const auto& e = model.Events();
  EXPECT_EQ(e.size(), TMidiV::kMaxEvents);
  EXPECT_TRUE(e[0].time == 0 &&
              std::is_sorted(e.begin(), e.end(), [](auto& a, auto& b) { return a.time < b.time; }));
}

TEST(MidiFile, KindsAndStoredBytes) {
  const struct {
    std::vector<uint8_t> message;
    int32_t kind;
  } rows[] = {
      {{0x90, 60, 100}, kMidiKindNoteOn},
      {{62, 0}, kMidiKindNoteOff},  // running status: a note-off
      {{0x81, 60, 64}, kMidiKindNoteOff},
      {{0xA2, 60, 10}, kMidiKindKeyPressure},
      {{0xB3, 7, 100}, kMidiKindControlChange},
      {{0xC4, 5}, kMidiKindProgramChange},
      {{0xD5, 9}, kMidiKindChannelPressure},
      {{0xE6, 0x00, 0x40}, kMidiKindPitchBend},
      {{0xF0, 10, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, kMidiKindGSReset},
      {{0xF0, 9, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0xF7}, kMidiKindOther},
      {{0xF0, 11, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0x00, 0xF7},
       kMidiKindOther},
      {{0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80}, kMidiKindTempo},  // 400000 us
      {{0xFF, 0x00, 0x02, 0x00, 0x01}, kMidiKindSequenceNumber},
      {{0xFF, 0x03, 0x04, 'L', 'e', 'a', 'd'}, kMidiKindTrackName},
      {{0xFF, 0x06, 0x01, 'm'}, kMidiKindMarker},
      {{0xFF, 0x07, 0x01, 'c'}, kMidiKindCuePoint},
      {{0xFF, 0x58, 0x04, 3, 2, 24, 8}, kMidiKindTimeSignature},
      {{0xFF, 0x59, 0x02, 0, 0}, kMidiKindKeySignature},
      {{0xFF, 0x52, 0x00}, kMidiKindMeta52},
      {{0xFF, 0x7F, 0x01, 0x00}, kMidiKindOther},
      {{0xFF, 0x2F, 0x00}, kMidiKindEndOfTrack},
  };
  SmfBuilder file(0, 96);
  file.Track();
  for (const auto& row : rows) file.Event(0, row.message);
  TMidiV model;
  loadBytes(model, file.Bytes());
  // Eight channel messages, three system exclusive, the rest meta events.
  const auto& events = model.Events();
  ASSERT_EQ(events.size(), std::size(rows));
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].type, i < 8    ? kMidiTypeShort
                              : i < 11 ? kMidiTypeSysEx
                                       : kMidiTypeMeta)
        << i;
    EXPECT_EQ(events[i].kind, rows[i].kind) << i;
  }
  EXPECT_EQ(events[1].data, (std::vector<uint8_t>{0x90, 62, 0}));
  EXPECT_EQ(events[1].Text(), "[90][3e][00]");
  EXPECT_EQ(events[5].Packed(), 0x05C4u);
  EXPECT_EQ(events[4].Packed(), 0x6407B3u);
  EXPECT_EQ(TMidiV::TempoValue(events[11]), 400000);
  EXPECT_EQ(TMidiV::TempoValue(events[12]), -1);
  EXPECT_EQ(events[8].Length(), 11);
  EXPECT_EQ(model.Tracks()[0].name, "Lead");
}

TEST(MidiFile, BeatTableAndSignatures) {
  {
    // No signature: beats of 48 ticks in 4/4.
    TMidiV model;
    loadBytes(model, SmfBuilder(0, 96).Track().EndOfTrack(480).Bytes());
    ASSERT_EQ(model.Vibrants().size(), 10u);
    const TVibrant& b = model.Vibrants()[5];
    EXPECT_EQ(std::tie(b.tick, b.tick48, b.bar, b.beat), std::make_tuple(240, 120, 1, 1));
  }
  {
    // 3/4 from tick 0, then 6/8 from bar 2; the times follow the events.
    TMidiV model;
    loadBytes(model, SmfBuilder(0, 96)
                         .Track()
                         .Event(0, {0xFF, 0x58, 0x04, 3, 2, 24, 8})
                         .Event(576, {0xFF, 0x58, 0x04, 6, 3, 24, 8})
                         .EndOfTrack(288)
                         .Bytes());
    ASSERT_EQ(model.Rhythms().size(), 3u);
    EXPECT_EQ(model.Rhythms()[1].beatLength, 96);
    const TRhythm& r = model.Rhythms()[2];
    EXPECT_EQ(std::tie(r.beatLength, r.denominator, r.time), std::make_tuple(48, 8, 3000));
    const auto& beats = model.Vibrants();
    ASSERT_EQ(beats.size(), 6u + 6u);
    EXPECT_EQ(std::tie(beats[3].bar, beats[3].beat), std::make_tuple(1, 0));
    EXPECT_EQ(std::tie(beats[6].tick, beats[6].bar, beats[6].time), std::make_tuple(576, 2, 3000));
    EXPECT_EQ(beats[11].beat, 5);
  }
  {
    // An exponent beyond 30 is no note value: that signature is dropped. A
    // beat shorter than a tick is one tick, and the table stops at its cap.
    TMidiV model;
    loadBytes(model, SmfBuilder(0, 1)
                         .Track()
                         .Event(0, {0xFF, 0x58, 0x04, 4, 31, 24, 8})
                         .Event(0, {0xFF, 0x58, 0x04, 4, 30, 24, 8})
                         .EndOfTrack(0x0FFFFFFF)
                         .Bytes());
    ASSERT_EQ(model.Rhythms().size(), 2u);
    EXPECT_EQ(model.Rhythms()[1].beatLength, 1);
    EXPECT_EQ(model.Vibrants().size(), TMidiV::kMaxBeats);
  }
  {
    // Division below 48: the 1/48 values are 0.
    TMidiV model;
    loadBytes(model, SmfBuilder(0, 24).Track().Event(24, {0x90, 60, 1}).EndOfTrack(24).Bytes());
    EXPECT_EQ(model.Division48(), 0);
    EXPECT_EQ(model.Tracks()[0].channels[0].notes[0].start, 0);
  }
}

TEST(MidiFile, NotesAndTheMergeOfSeveralTracks) {
  TMidiV model;
  loadBytes(model, SmfBuilder(2, 96)
                       .Track()
                       .Event(96, {0x91, 60, 100})
                       .Event(48, {0x91, 60, 0})
                       .EndOfTrack()
                       .Track()
                       .Event(96, {0x92, 64, 90})
                       .Event(96, {0x82, 64, 0})
                       .EndOfTrack()
                       .Bytes());
  // Both tracks start at tick 0 (format 2 is merged as format 1).
  const auto& events = model.Events();
  ASSERT_EQ(events.size(), 6u);
  EXPECT_EQ(std::tie(events[0].track, events[0].tick), std::make_tuple(0, 96));
  EXPECT_EQ(std::tie(events[1].track, events[1].tick), std::make_tuple(1, 96));
  EXPECT_EQ(model.LongestTick(), 192);
  const TNote& a = model.Tracks()[0].channels[1].notes.at(0);
  EXPECT_EQ(std::tie(a.key, a.velocity, a.start, a.end), std::make_tuple(60, 100, 48, 72));
  const TNote& b = model.Tracks()[1].channels[2].notes.at(0);
  EXPECT_EQ(std::tie(b.key, b.velocity, b.start, b.end), std::make_tuple(64, 90, 48, 96));
  // A second load replaces everything.
  loadBytes(model, {'x'});
  EXPECT_TRUE(model.Events().empty());
  EXPECT_TRUE(model.Tracks().empty());
  EXPECT_EQ(model.TotalLength(), 0);
}

}  // namespace
}  // namespace zirk
