#pragma once
// The demo's sound and movie, made here like its pictures: a short piece of
// music encoded as Ogg Vorbis, a MIDI tune, and a small movie; and the
// film's sound tracks that play the two pieces.

#include <filesystem>

#include "support/filmwriter.h"

namespace zirk::demo {

// Writes "music.ogg", "tune.mid" and "movie.wmv" into the folder; raises
// std::runtime_error when one cannot be written.
void WriteDemoMedia(const std::filesystem::path& folder);
// The music under the film's first scene, the tune under its second.
void AddDemoSoundTracks(test::FilmFile& film, int32_t sceneChange, int32_t end);

}  // namespace zirk::demo
