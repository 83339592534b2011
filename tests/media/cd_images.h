#pragma once
// Generated CUE/BIN disc images for the CD tests, and pulling their sound
// through a manual sound device.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio.h"
#include "platform/cdaudio.h"

namespace zirk::test {

struct ToneTrack {
  int sectors = 75;       // the track's own sound (INDEX 01 on)
  int16_t level = 1000;   // square wave of this height, right channel inverted
  bool data = false;      // a MODE1/2352 track
  int index00 = 0;        // sectors of pregap stored before INDEX 01 (level 7)
  int pregapCommand = 0;  // sectors named by a PREGAP line (not in the file)
};

constexpr int16_t kPregapLevel = 7;

inline std::string msf(int sectors) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 4500, sectors / 75 % 60,
                sectors % 75);
  return text;
}

// Writes <name>.bin and <name>.cue into `dir`; returns the CUE path.
inline std::filesystem::path writeCdImage(const std::filesystem::path& dir, const std::string& name,
                                          const std::vector<ToneTrack>& tracks) {
  std::ofstream bin(dir / (name + ".bin"), std::ios::binary);
  std::string cue = "FILE \"" + name + ".bin\" BINARY\n";
  int at = 0;
  auto put = [&bin](int sectors, int16_t level) {
    for (int i = 0; i < sectors * platform::kCdFramesPerSector; ++i) {
      const int16_t left = (i / 50) % 2 ? static_cast<int16_t>(-level) : level;
      const int16_t right = static_cast<int16_t>(-left);
      const uint8_t bytes[4] = {static_cast<uint8_t>(left), static_cast<uint8_t>(left >> 8),
                                static_cast<uint8_t>(right), static_cast<uint8_t>(right >> 8)};
      bin.write(reinterpret_cast<const char*>(bytes), 4);
    }
  };
  for (size_t t = 0; t < tracks.size(); ++t) {
    const ToneTrack& track = tracks[t];
    char header[64];
    std::snprintf(header, sizeof header, "  TRACK %02zu %s\n", t + 1,
                  track.data ? "MODE1/2352" : "AUDIO");
    cue += header;
    if (track.pregapCommand) cue += "    PREGAP " + msf(track.pregapCommand) + "\n";
    if (track.index00) {
      cue += "    INDEX 00 " + msf(at) + "\n";
      put(track.index00, kPregapLevel);
      at += track.index00;
    }
    cue += "    INDEX 01 " + msf(at) + "\n";
    put(track.sectors, track.level);
    at += track.sectors;
  }
  std::ofstream(dir / (name + ".cue")) << cue;
  return dir / (name + ".cue");
}

// Renders `frames` frames, never faster than the CD reader fills its ring,
// so every frame the player has is heard.
inline std::vector<int16_t> pullCd(platform::AudioDevice& audio, platform::CdAudioDevice& cd,
                                   size_t frames) {
  std::vector<int16_t> out(frames * 2);
  size_t done = 0;
  while (done < frames) {
    const size_t chunk = std::min<size_t>(frames - done, platform::kCdFramesPerSector);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (cd.Buffered() < chunk && !cd.ReadDone()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the CD reader fell behind";
        return out;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    audio.Render(out.data() + done * 2, chunk);
    done += chunk;
  }
  return out;
}

// Height of each 588-frame block (its largest left sample), to tell tracks
// apart in what was heard.
inline std::vector<int> levels(const std::vector<int16_t>& samples) {
  std::vector<int> result;
  for (size_t i = 0; i < samples.size(); i += 2 * platform::kCdFramesPerSector) {
    int peak = 0;
    for (size_t j = i; j < std::min(samples.size(), i + 2 * platform::kCdFramesPerSector); j += 2)
      peak = std::max(peak, std::abs(int{samples[j]}));
    result.push_back(peak);
  }
  return result;
}

}  // namespace zirk::test
