// Output devices 1 and up: the writable ports of the ALSA sequencer (hardware
// MIDI outputs, external synthesizers). A machine without a sequencer simply
// has none of them.

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cstdarg>
#include <mutex>

#include "platform/midiout.h"

namespace zirk::platform::midi_backends {

namespace {

void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// ALSA prints every failure to open the sequencer on stderr; a machine
// without one is normal here.
void quietAlsaLog() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(silentAlsaError); });
}

struct SeqPort {
  int client = 0;
  int port = 0;
  std::string name;
};

struct SeqCloser {
  void operator()(snd_seq_t* seq) const { snd_seq_close(seq); }
};
using SeqHandle = std::unique_ptr<snd_seq_t, SeqCloser>;

SeqHandle openSequencer() {
  quietAlsaLog();
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0) return nullptr;
  return SeqHandle(seq);
}

std::vector<SeqPort> listPorts(snd_seq_t* seq) {
  std::vector<SeqPort> ports;
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  const int self = snd_seq_client_id(seq);
  constexpr unsigned kWanted = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    const int id = snd_seq_client_info_get_client(client);
    if (id == SND_SEQ_CLIENT_SYSTEM || id == self) continue;
    snd_seq_port_info_set_client(port, id);
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      const unsigned caps = snd_seq_port_info_get_capability(port);
      if ((caps & kWanted) != kWanted || (caps & SND_SEQ_PORT_CAP_NO_EXPORT) != 0) continue;
      ports.push_back(
          SeqPort{id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_name(port)});
    }
  }
  std::sort(ports.begin(), ports.end(), [](const SeqPort& a, const SeqPort& b) {
    return a.client != b.client ? a.client < b.client : a.port < b.port;
  });
  return ports;
}

class SequencerPort final : public MidiOutPort {
 public:
  ~SequencerPort() override {
    if (parser_ != nullptr) snd_midi_event_free(parser_);
  }

  uint32_t Start(const SeqPort& target, SeqHandle seq) {
    seq_ = std::move(seq);
    snd_seq_set_client_name(seq_.get(), "ZirkPlayer");
    own_ = snd_seq_create_simple_port(
        seq_.get(), "ZirkPlayer MIDI out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (own_ < 0) return MMSYSERR_NOTENABLED;
    if (snd_seq_connect_to(seq_.get(), own_, target.client, target.port) < 0) {
      return MMSYSERR_NOTENABLED;
    }
    if (snd_midi_event_new(256, &parser_) < 0) return MMSYSERR_NOTENABLED;
    snd_midi_event_no_status(parser_, 1);
    return MMSYSERR_NOERROR;
  }

  uint32_t ShortMsg(uint32_t packed) override {
    uint8_t bytes[3];
    const size_t length = ShortMessageLength(static_cast<uint8_t>(packed));
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(packed >> (8 * i));
    return send(bytes, length);
  }

  uint32_t LongMsg(const uint8_t* data, size_t size) override {
    if (data == nullptr || size == 0) return MMSYSERR_INVALPARAM;
    return send(data, size);
  }

  uint32_t Reset() override {
    for (uint8_t channel = 0; channel < 16; ++channel) {
      const uint8_t allNotesOff[3] = {static_cast<uint8_t>(0xB0 | channel), 123, 0};
      send(allNotesOff, 3);
    }
    return MMSYSERR_NOERROR;
  }

 private:
  uint32_t send(const uint8_t* data, size_t size) {
    std::lock_guard lock(lock_);
    if (size > 256) snd_midi_event_resize_buffer(parser_, size);
    snd_midi_event_reset_encode(parser_);
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    if (snd_midi_event_encode(parser_, data, static_cast<long>(size), &event) <= 0 ||
        event.type == SND_SEQ_EVENT_NONE) {
      return MMSYSERR_INVALPARAM;
    }
    snd_seq_ev_set_source(&event, own_);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    return snd_seq_event_output_direct(seq_.get(), &event) < 0 ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
  }

  SeqHandle seq_;
  int own_ = -1;
  snd_midi_event_t* parser_ = nullptr;
  std::mutex lock_;
};

}  // namespace

std::vector<std::string> SequencerPortNames() {
  std::vector<std::string> names;
  const SeqHandle seq = openSequencer();
  if (seq == nullptr) return names;
  for (const SeqPort& port : listPorts(seq.get())) names.push_back(port.name);
  return names;
}

std::unique_ptr<MidiOutPort> OpenSequencerPort(size_t index, uint32_t& error) {
  SeqHandle seq = openSequencer();
  if (seq == nullptr) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  const std::vector<SeqPort> ports = listPorts(seq.get());
  if (index >= ports.size()) {
    error = MMSYSERR_BADDEVICEID;
    return nullptr;
  }
  auto port = std::make_unique<SequencerPort>();
  error = port->Start(ports[index], std::move(seq));
  if (error != MMSYSERR_NOERROR) return nullptr;
  return port;
}

}  // namespace zirk::platform::midi_backends
