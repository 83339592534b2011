#include "media/MidiV.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/vrfiles.h"

namespace zirk {

namespace {

constexpr uint8_t kGSReset[] = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

std::vector<uint8_t> readAll(TKwStream& stream) {
  std::vector<uint8_t> bytes;
  try {
    uint8_t chunk[64 * 1024];
    for (;;) {
      const int64_t n = stream.Read(chunk, sizeof chunk);
      if (n <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + n);
      if (static_cast<int64_t>(bytes.size()) >= TMidiV::kMaxFileBytes) break;
    }
  } catch (const Exception&) {
    // A failing stream gives what was read before the failure.
  }
  return bytes;
}

int32_t metaKind(uint8_t metaType) {
  switch (metaType) {
    case 0x51:
      return kMidiKindTempo;
    case 0x06:
      return kMidiKindMarker;
    case 0x07:
      return kMidiKindCuePoint;
    case 0x2F:
      return kMidiKindEndOfTrack;
    case 0x52:
      return kMidiKindMeta52;
    case 0x58:
      return kMidiKindTimeSignature;
    case 0x59:
      return kMidiKindKeySignature;
    default:
      return metaType <= 0x05 ? kMidiKindSequenceNumber + metaType : kMidiKindOther;
  }
}

int32_t channelKind(uint8_t status, uint8_t data2) {
  switch (status & 0xF0) {
    case 0x80:
      return kMidiKindNoteOff;
    case 0x90:
      return data2 > 0 ? kMidiKindNoteOn : kMidiKindNoteOff;
    case 0xA0:
      return kMidiKindKeyPressure;
    case 0xB0:
      return kMidiKindControlChange;
    case 0xC0:
      return kMidiKindProgramChange;
    case 0xD0:
      return kMidiKindChannelPressure;
    default:
      return kMidiKindPitchBend;
  }
}

}  // namespace

std::string TMidiMsgEvent::Text() const {
  std::string text;
  text.reserve(data.size() * 4);
  char item[8];
  for (uint8_t b : data) {
    std::snprintf(item, sizeof item, "[%2.2x]", b);
    text += item;
  }
  return text;
}

uint32_t TMidiMsgEvent::Packed() const {
  uint32_t packed = 0;
  for (size_t i = 0; i < data.size() && i < 3; ++i) packed |= uint32_t{data[i]} << (8 * i);
  return packed;
}

// Reads the chunks of one file into the model. Positions are checked against
// the end of the data (and of the chunk) before every byte is taken.
class TMidiV::Reader {
 public:
  Reader(TMidiV& model, const std::vector<uint8_t>& bytes) : m_(model), b_(bytes) {}

  void run() {
    const size_t size = b_.size();
    if (size < 14 || std::memcmp(b_.data(), "MThd", 4) != 0) return;
    m_.headerRead_ = true;
    // The header's length is not used: format, track count and division
    // always follow it directly, and the first chunk comes after them.
    m_.format_ = be16(8);
    m_.trackCount_ = be16(10);
    m_.division_ = be16(12);
    if (m_.division_ == 0) return;  // no tick has a length: nothing to play
    m_.division48_ = m_.division_ / kDisplayUnit;
    size_t pos = 14;
    for (int32_t t = 0; t < m_.trackCount_ && size - pos >= 8 && !full();) {
      const uint32_t length = be32(pos + 4);
      const size_t body = pos + 8;
      const size_t end = body + std::min<size_t>(length, size - body);
      const bool isTrack = std::memcmp(b_.data() + pos, "MTrk", 4) == 0;
      pos = end;
      // Files may hold chunks of other kinds; they are skipped by their
      // length and take no track's place, or the last track would be lost.
      if (!isTrack) continue;
      m_.tracks_.emplace_back();
      readTrack(t++, body, end);
    }
  }

 private:
  bool full() const { return m_.events_.size() >= kMaxEvents; }

  int32_t be16(size_t p) const { return (b_[p] << 8) | b_[p + 1]; }
  uint32_t be32(size_t p) const {
    return (uint32_t{b_[p]} << 24) | (uint32_t{b_[p + 1]} << 16) | (uint32_t{b_[p + 2]} << 8) |
           b_[p + 3];
  }

  // Variable-length quantity of at most 4 bytes; false when it is longer or
  // runs past the end.
  bool readVlq(size_t& p, size_t end, uint32_t& value) const {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      if (p >= end) return false;
      const uint8_t byte = b_[p++];
      value = (value << 7) | (byte & 0x7F);
      if ((byte & 0x80) == 0) return true;
    }
    return false;
  }

  // A length-prefixed body (system exclusive, meta data) inside the chunk.
  bool readBody(size_t& p, size_t end, std::vector<uint8_t>& data) const {
    uint32_t length = 0;
    if (!readVlq(p, end, length) || length > end - p) return false;
    data.insert(data.end(), b_.begin() + static_cast<std::ptrdiff_t>(p),
                b_.begin() + static_cast<std::ptrdiff_t>(p + length));
    p += length;
    return true;
  }

  void readTrack(int32_t index, size_t p, size_t end) {
    TTrack& track = m_.tracks_.back();
    std::array<std::array<int32_t, 128>, 16> sounding;  // note index per channel and key
    for (auto& keys : sounding) keys.fill(-1);
    int64_t tick = 0;
    uint8_t running = 0;
    while (!full()) {
      uint32_t delta = 0;
      if (!readVlq(p, end, delta) || p >= end) return;
      tick += delta;
      uint8_t status = b_[p];
      if (status < 0x80) {
        // A data byte: running status, which only a channel message sets.
        // Without one the rest of the track cannot be read.
        if (running == 0) return;
        status = running;
      } else {
        ++p;
      }
      TMidiMsgEvent event;
      event.track = index;
      event.data.push_back(status);
      bool endOfTrack = false;
      if (status < 0xF0) {
        const size_t count = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 1 : 2;
        if (end - p < count) return;
        event.data.insert(event.data.end(), b_.begin() + static_cast<std::ptrdiff_t>(p),
                          b_.begin() + static_cast<std::ptrdiff_t>(p + count));
        p += count;
        running = status;
        event.type = kMidiTypeShort;
        event.kind = channelKind(status, count == 2 ? event.data[2] : 0);
        trackNote(track, sounding, event, tick);
      } else if (status == 0xF0 || status == 0xF7) {
        if (!readBody(p, end, event.data)) return;
        event.type = kMidiTypeSysEx;
        event.kind = event.data.size() == sizeof kGSReset &&
                             std::equal(event.data.begin(), event.data.end(), kGSReset)
                         ? kMidiKindGSReset
                         : kMidiKindOther;
      } else if (status == 0xFF) {
        if (p >= end) return;
        const uint8_t metaType = b_[p++];
        event.data.push_back(metaType);
        if (!readBody(p, end, event.data)) return;
        event.type = kMidiTypeMeta;
        event.kind = metaKind(metaType);
        if (event.kind == kMidiKindEndOfTrack) endOfTrack = true;
        if (event.kind == kMidiKindTrackName)
          track.name.assign(event.data.begin() + 2, event.data.end());
        if (event.kind == kMidiKindTimeSignature) addRhythm(event, tick);
      } else {
        // System common and real-time messages have no place in a file.
        return;
      }
      event.tick = tick;
      event.delta = delta;
      event.sequence = sequence_++;
      m_.events_.push_back(std::move(event));
      m_.longestTick_ = std::max(m_.longestTick_, tick);
      if (endOfTrack) return;
    }
  }

  void trackNote(TTrack& track, std::array<std::array<int32_t, 128>, 16>& sounding,
                 const TMidiMsgEvent& event, int64_t tick) {
    if (event.kind != kMidiKindNoteOn && event.kind != kMidiKindNoteOff) return;
    const int32_t channel = event.data[0] & 0x0F;
    const int32_t key = event.data[1] & 0x7F;
    const int64_t at = m_.division48_ > 0 ? tick / m_.division48_ : 0;
    TNotes& notes = track.channels[static_cast<size_t>(channel)].notes;
    int32_t& current = sounding[static_cast<size_t>(channel)][static_cast<size_t>(key)];
    if (event.kind == kMidiKindNoteOn) {
      notes.push_back(TNote{key, event.data[2], at, at});
      current = static_cast<int32_t>(notes.size() - 1);
    } else if (current >= 0) {
      notes[static_cast<size_t>(current)].end = at;
      current = -1;
    }
  }

  void addRhythm(const TMidiMsgEvent& event, int64_t tick) {
    if (event.data.size() < 4) return;
    const int32_t exponent = event.data[3];
    if (exponent > 30) return;  // no such note value
    TRhythm rhythm;
    rhythm.tick = tick;
    rhythm.numerator = event.data[2];
    rhythm.denominator = 1 << exponent;
    rhythm.beatLength = std::max<int64_t>(1, int64_t{m_.division_} * 4 / rhythm.denominator);
    m_.rhythms_.push_back(rhythm);
  }

  TMidiV& m_;
  const std::vector<uint8_t>& b_;
  int32_t sequence_ = 0;
};

void TMidiV::clear() {
  tracks_.clear();
  events_.clear();
  vibrants_.clear();
  rhythms_.clear();
  format_ = 0;
  trackCount_ = 0;
  division_ = 0;
  division48_ = 0;
  longestTick_ = 0;
  totalLength_ = 0;
  headerRead_ = false;
  rhythms_.push_back(TRhythm{});  // 4/4 from tick 0 until a signature says otherwise
}

bool TMidiV::LoadFromStream(TKwStream& stream) {
  clear();
  const std::vector<uint8_t> bytes = readAll(stream);
  Reader(*this, bytes).run();
  std::sort(events_.begin(), events_.end(), [](const TMidiMsgEvent& a, const TMidiMsgEvent& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.sequence < b.sequence;
  });
  // Signatures of several tracks arrive in track order; the default stays
  // first among those at tick 0.
  std::stable_sort(rhythms_.begin(), rhythms_.end(),
                   [](const TRhythm& a, const TRhythm& b) { return a.tick < b.tick; });
  computeTimes();
  buildBeats();
  return false;
}

int32_t TMidiV::TempoValue(const TMidiMsgEvent& event) {
  const auto& d = event.data;
  if (d.size() < 5 || d[0] != 0xFF || d[1] != 0x51) return -1;
  return (d[2] << 16) | (d[3] << 8) | d[4];
}

float TMidiV::MsPerTick(int32_t tempo, int32_t division) {
  return static_cast<float>(static_cast<long double>(tempo) / division / 1000);
}

void TMidiV::computeTimes() {
  if (division_ <= 0) return;
  // A tempo acts from its own tick on. Times accumulate unrounded so that
  // many short intervals do not drift; only the stored time is rounded.
  float msPerTick = MsPerTick(500000, division_);
  int64_t previousTick = 0;
  double previousTime = 0;
  // The largest time a double holds below 2^63; the times of a file that
  // would go past it stay there, never wrapping to before their start.
  constexpr double kMaxTime = 9223372036854774784.0;
  for (TMidiMsgEvent& event : events_) {
    const double time = std::min(
        kMaxTime, previousTime + static_cast<double>(event.tick - previousTick) * msPerTick);
    event.time = static_cast<int64_t>(std::nearbyint(time));
    previousTime = time;
    previousTick = event.tick;
    const int32_t tempo = TempoValue(event);
    if (tempo > 0) msPerTick = MsPerTick(tempo, division_);
  }
  totalLength_ = events_.empty() ? 0 : events_.back().time;
}

void TMidiV::buildBeats() {
  auto timeAt = [this](int64_t tick) -> int64_t {
    auto it = std::lower_bound(events_.begin(), events_.end(), tick,
                               [](const TMidiMsgEvent& e, int64_t t) { return e.tick < t; });
    return it == events_.end() ? 0 : it->time;
  };
  for (size_t i = 1; i < rhythms_.size(); ++i) rhythms_[i].time = timeAt(rhythms_[i].tick);
  size_t current = 0;
  int32_t beat = 0;
  int32_t bar = 0;
  for (int64_t t = 0; t < longestTick_ && vibrants_.size() < BeatLimit;) {
    while (current + 1 < rhythms_.size() && rhythms_[current + 1].tick <= t) ++current;
    const TRhythm& rhythm = rhythms_[current];
    vibrants_.push_back(TVibrant{division48_ > 0 ? t / division48_ : 0, t, timeAt(t), beat, bar});
    if (++beat >= rhythm.numerator) {
      beat = 0;
      ++bar;
    }
    t += rhythm.beatLength;
  }
}

void ReadMidiFile(TKwStream& source, const std::string& name, TKwMemoryStream& memory) {
  LoadWholeStream(source, memory, name, TMidiV::kMaxFileBytes);
}

}  // namespace zirk
