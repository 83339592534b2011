#pragma once
// The program's one sound output: 44100 Hz, signed 16-bit, stereo, fed by
// pull sources. Everything that makes sound (the media library's players,
// the software wave mixer, the MIDI synthesizer, the CD voice) is a source
// the device asks for frames; nothing is pushed.
//
// Two layers:
//  - AudioSource / AudioOutput: abstract and header-only, so that the media
//    library (libzirk.so) can use them without linking this folder. The
//    player hands the library an AudioOutput* through the opaque `void*`
//    "SharedDirectSound" slot of zirkInit; the library casts it back with
//    static_cast<zirk::platform::AudioOutput*>(slot). This is safe because
//    both sides are built by this project with the same compiler and flags,
//    so the vtable layout is the same on both sides; the classes below only
//    ever gain entries at the end of the vtable.
//  - AudioDevice: the concrete device with its backends (SDL2, manual, null).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zirk::platform {

constexpr int kAudioRate = 44100;
constexpr int kAudioChannels = 2;
constexpr int kAudioBytesPerFrame = 4;  // two 16-bit samples

// A pull source. Fill runs on the device thread (or, with the manual backend,
// on whichever thread calls Render). It must not block for long: no file or
// stream I/O, no waiting on locks that are held around I/O.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Writes `frames` interleaved stereo frames to `out`, which the device has
  // cleared to silence, and returns how many frames it wrote (the rest stays
  // silent). The device adds the sources together and saturates once.
  virtual size_t Fill(int16_t* out, size_t frames) = 0;
};

// What a source's owner sees of the device.
class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Starts calling the source. Attaching a source twice keeps one entry.
  virtual void Attach(AudioSource* source) = 0;
  // Stops calling the source. Synchronous: when Detach returns, Fill of this
  // source is not running and will not be called again, so the caller may
  // destroy it. The caller must not hold a lock that its own Fill takes.
  // Detach from inside Fill (on the device thread) is allowed.
  virtual void Detach(AudioSource* source) = 0;
  // Always kAudioRate and kAudioChannels; asked so that a source never
  // assumes a format the device does not have.
  virtual int Rate() const = 0;
  virtual int Channels() const = 0;
  // Frames the device has consumed since it was made: the clock of the
  // audible position.
  virtual uint64_t FramesPlayed() const = 0;
};

enum class AudioBackend {
  None,    // not open
  Sdl,     // SDL2 audio (SDL_AUDIODRIVER selects the driver; "dummy" in tests)
  Manual,  // no thread: a test calls Render
  Null,    // no device could be opened: a thread consumes audio at real-time pace
};

const char* AudioBackendName(AudioBackend backend);

class AudioDevice final : public AudioOutput {
 public:
  AudioDevice();
  ~AudioDevice() override;  // closes the device
  AudioDevice(const AudioDevice&) = delete;
  AudioDevice& operator=(const AudioDevice&) = delete;

  // Opens the device once. Sdl falls back to Null when no device can be
  // opened (the reason is kept in LastError). Opening an open device changes
  // nothing and keeps every attached source; returns the backend in use.
  AudioBackend Open(AudioBackend wanted = AudioBackend::Sdl);
  void Close();  // sources stay attached; they are simply no longer called
  bool IsOpen() const { return backend_.load() != AudioBackend::None; }
  AudioBackend Backend() const { return backend_.load(); }
  std::string LastError() const;

  // The "buffer lost" case: reopens the backend and fires the restore
  // handlers once. A loss reported while the restore handlers run starts no
  // second restore. Call on the thread that opened the device. With SDL,
  // SDL_AUDIODEVICEREMOVED for the open device is routed here by posting a
  // message to the opening thread's queue (see messages.h).
  void Lost();

  // Called once, on the thread that opens or restores the device, when no
  // device can be had and time runs on without sound; with the reason.
  void SetNoDeviceNotice(std::function<void(const std::string& reason)> notice);

  // Restore handlers run on the thread that calls Lost, after the reopen.
  int AddRestoreHandler(std::function<void()> handler);
  void RemoveRestoreHandler(int id);

  // AudioOutput
  void Attach(AudioSource* source) override;
  void Detach(AudioSource* source) override;
  int Rate() const override { return kAudioRate; }
  int Channels() const override { return kAudioChannels; }
  uint64_t FramesPlayed() const override { return played_.load(); }

  size_t SourceCount() const;

  // Mixes `frames` frames of every attached source into `out` (saturated).
  // The backends' threads call it; with the manual backend tests do.
  void Render(int16_t* out, size_t frames);

  struct Impl;  // backends and source list (audio.cpp)

 private:
  std::unique_ptr<Impl> impl_;
  std::atomic<AudioBackend> backend_{AudioBackend::None};
  std::atomic<uint64_t> played_{0};
};

// The process-wide device: made on first use, closed at exit. The sound
// component opens it; every player attaches to it.
AudioDevice& ProcessAudioDevice();

}  // namespace zirk::platform
