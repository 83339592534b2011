#include "midi_support.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <stdexcept>

namespace zirk::test {

void AppendVlq(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = value & 0x7F;
    value >>= 7;
  } while (value != 0);
  while (n-- > 0) out.push_back(static_cast<uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
}

SmfBuilder& SmfBuilder::Track() {
  tracks_.emplace_back();
  return *this;
}

SmfBuilder& SmfBuilder::Event(uint32_t delta, const std::vector<uint8_t>& bytes) {
  AppendVlq(tracks_.back().body, delta);
  return Raw(bytes);
}

SmfBuilder& SmfBuilder::Raw(const std::vector<uint8_t>& bytes) {
  tracks_.back().body.insert(tracks_.back().body.end(), bytes.begin(), bytes.end());
  return *this;
}

SmfBuilder& SmfBuilder::Tempo(uint32_t delta, uint32_t us) {
  return Event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(us >> 16),
                       static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
}

SmfBuilder& SmfBuilder::EndOfTrack(uint32_t delta) {
  return Event(delta, {0xFF, 0x2F, 0x00});
}

SmfBuilder& SmfBuilder::ForceLength(uint32_t length) {
  tracks_.back().forcedLength = length;
  return *this;
}

std::vector<uint8_t> SmfBuilder::Bytes(int tracks) const {
  auto be = [](std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  std::vector<uint8_t> out = {'M', 'T', 'h', 'd'};
  be(out, 6, 4);
  be(out, static_cast<uint32_t>(format_), 2);
  be(out, static_cast<uint32_t>(tracks < 0 ? static_cast<int>(tracks_.size()) : tracks), 2);
  be(out, static_cast<uint32_t>(division_), 2);
  for (const Chunk& chunk : tracks_) {
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    be(out,
       chunk.forcedLength >= 0 ? static_cast<uint32_t>(chunk.forcedLength)
                               : static_cast<uint32_t>(chunk.body.size()),
       4);
    out.insert(out.end(), chunk.body.begin(), chunk.body.end());
  }
  return out;
}

namespace {

// Splits a listing line on commas outside quotes; quoted fields keep their
// quotes so that text can be told from numbers.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
        field += "\"\"";
        ++i;
        continue;
      }
      quoted = !quoted;
      field += c;
    } else if (c == ',' && !quoted) {
      fields.push_back(field);
      field.clear();
    } else if (!(c == ' ' && field.empty() && !quoted) && c != '\r') {
      field += c;
    }
  }
  fields.push_back(field);
  return fields;
}

std::vector<uint8_t> unquote(const std::string& field) {
  std::vector<uint8_t> out;
  if (field.size() < 2 || field.front() != '"') throw std::runtime_error("not a string: " + field);
  const std::string s = field.substr(1, field.size() - 2);
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
      out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
      out.push_back('\\');
      ++i;
    } else if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') {
      out.push_back('"');
      ++i;
    } else {
      out.push_back(static_cast<uint8_t>(s[i]));
    }
  }
  return out;
}

}  // namespace

CsvListing ReadCsvListing(const std::filesystem::path& path) {
  static const std::map<std::string, uint8_t> kChannel = {
      {"Note_off_c", 0x80},  {"Note_on_c", 0x90}, {"Poly_aftertouch_c", 0xA0},
      {"Control_c", 0xB0},   {"Program_c", 0xC0}, {"Channel_aftertouch_c", 0xD0},
      {"Pitch_bend_c", 0xE0}};
  static const std::map<std::string, uint8_t> kText = {
      {"Text_t", 0x01},  {"Copyright_t", 0x02}, {"Title_t", 0x03},    {"Instrument_name_t", 0x04},
      {"Lyric_t", 0x05}, {"Marker_t", 0x06},    {"Cue_point_t", 0x07}};
  // Meta events listed as their data bytes, from the given field on.
  static const std::map<std::string, std::pair<uint8_t, size_t>> kMetaBytes = {
      {"Time_signature", {0x58, 3}},
      {"SMPTE_offset", {0x54, 3}},
      {"MIDI_port", {0x21, 3}},
      {"Channel_prefix", {0x20, 3}},
      {"Sequencer_specific", {0x7F, 4}}};
  CsvListing listing;
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto f = splitFields(line);
    if (f.size() < 3) throw std::runtime_error("short line: " + line);
    auto num = [&](size_t i) { return std::stol(f.at(i)); };
    auto u8 = [&](size_t i) { return static_cast<uint8_t>(num(i)); };
    CsvEvent e;
    e.track = static_cast<int>(num(0));
    e.tick = num(1);
    e.type = f[2];
    if (e.type == "Header") {
      listing.format = static_cast<int>(num(3));
      listing.tracks = static_cast<int>(num(4));
      listing.division = static_cast<int>(num(5));
      continue;
    }
    if (e.type == "Start_track" || e.type == "End_of_file") continue;
    if (auto c = kChannel.find(e.type); c != kChannel.end()) {
      const uint8_t status = static_cast<uint8_t>(c->second | num(3));
      e.bytes.push_back(status);
      if (e.type == "Pitch_bend_c") {
        e.bytes.push_back(static_cast<uint8_t>(num(4) & 0x7F));
        e.bytes.push_back(static_cast<uint8_t>(num(4) >> 7));
      } else {
        for (size_t i = 4; i < f.size(); ++i) e.bytes.push_back(u8(i));
      }
    } else if (auto t = kText.find(e.type); t != kText.end()) {
      e.bytes = {0xFF, t->second};
      const auto text = unquote(f.at(3));
      e.bytes.insert(e.bytes.end(), text.begin(), text.end());
    } else if (e.type == "System_exclusive" || e.type == "System_exclusive_packet") {
      e.bytes.push_back(e.type == "System_exclusive" ? 0xF0 : 0xF7);
      for (size_t i = 4; i < f.size(); ++i) e.bytes.push_back(u8(i));
    } else if (e.type == "End_track") {
      e.bytes = {0xFF, 0x2F};
    } else if (e.type == "Tempo") {
      const long us = num(3);
      e.bytes = {0xFF, 0x51, static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                 static_cast<uint8_t>(us)};
    } else if (auto m = kMetaBytes.find(e.type); m != kMetaBytes.end()) {
      e.bytes = {0xFF, m->second.first};
      for (size_t i = m->second.second; i < f.size(); ++i) e.bytes.push_back(u8(i));
    } else if (e.type == "Key_signature") {
      e.bytes = {0xFF, 0x59, u8(3), static_cast<uint8_t>(f.at(4) == "\"minor\"" ? 1 : 0)};
    } else if (e.type == "Sequence_number") {
      e.bytes = {0xFF, 0x00, static_cast<uint8_t>(num(3) >> 8), u8(3)};
    } else if (e.type == "Unknown_meta_event") {
      e.bytes = {0xFF, u8(3)};
      for (size_t i = 5; i < f.size(); ++i) e.bytes.push_back(u8(i));
    } else if (e.type == "Unknown_event") {
      // A status byte that has no place in a file; no bytes to compare.
    } else {
      throw std::runtime_error("unknown listing line: " + line);
    }
    listing.events.push_back(std::move(e));
  }
  return listing;
}

}  // namespace zirk::test
