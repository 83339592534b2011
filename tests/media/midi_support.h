#pragma once
// Test helpers for MIDI: a Standard MIDI File builder and a reader of the
// midicsv listings that come with the test files.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zirk::test {

// Builds a file chunk by chunk; track bodies are written raw, so tests can
// place any byte where they want it.
class SmfBuilder {
 public:
  SmfBuilder(int format, int division) : format_(format), division_(division) {}

  // Starts a new track chunk.
  SmfBuilder& Track();
  // A delta time as a variable-length quantity, then the bytes.
  SmfBuilder& Event(uint32_t delta, const std::vector<uint8_t>& bytes);
  SmfBuilder& Raw(const std::vector<uint8_t>& bytes);
  SmfBuilder& Tempo(uint32_t delta, uint32_t microseconds);
  SmfBuilder& EndOfTrack(uint32_t delta = 0);
  // A chunk length other than the true one.
  SmfBuilder& ForceLength(uint32_t length);

  // The file; the header says `tracks` tracks (-1: as many as were built).
  std::vector<uint8_t> Bytes(int tracks = -1) const;

 private:
  struct Chunk {
    std::vector<uint8_t> body;
    int64_t forcedLength = -1;
  };
  int format_;
  int division_;
  std::vector<Chunk> tracks_;
};

void AppendVlq(std::vector<uint8_t>& out, uint32_t value);

// One line of a listing, as the bytes the model should hold for it.
struct CsvEvent {
  int track = 0;  // 1-based, as in the listing
  int64_t tick = 0;
  std::string type;
  std::vector<uint8_t> bytes;
};

struct CsvListing {
  int format = 0;
  int tracks = 0;
  int division = 0;
  std::vector<CsvEvent> events;  // file order, track by track
};

CsvListing ReadCsvListing(const std::filesystem::path& path);

}  // namespace zirk::test
