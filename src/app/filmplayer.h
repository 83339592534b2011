#pragma once
// What starts a game while no script engine exists: one film played straight
// into a scene, its size and colour setting the screen's. The time is kept
// in ms of played ticks and turned into film ticks as a cinema does (ms over
// 1000/60, to nearest); at the end the film stays on its last frame.

#include <cstdint>
#include <string>

#include "objects/frms.h"

namespace zirk {

class TZirkBaseList;

class TFilmPlayer {
 public:
  explicit TFilmPlayer(TZirkBaseList& owner);
  ~TFilmPlayer();
  TFilmPlayer(const TFilmPlayer&) = delete;
  TFilmPlayer& operator=(const TFilmPlayer&) = delete;

  // Reads the named game file and gives the scene the film's size and
  // colour. Raises what the film reader raises, and EFilmFormatError for a
  // file that is no film or motion file.
  void Load(const std::string& fileName);
  // Advances the film by a tick of `elapsed` ms. The first tick after a
  // load shows frame 0 without advancing.
  void Tick(uint32_t elapsed);

  TFilmManager& Film() { return film_; }
  int32_t Frame() const { return frame_; }
  int64_t TimeMs() const { return timeMs_; }
  bool Ended() const { return ended_; }

 private:
  TFilmManager film_;
  int64_t timeMs_ = 0;
  int32_t frame_ = -1;
  bool fresh_ = true;
  bool ended_ = false;
};

}  // namespace zirk
