#include "app/filmplayer.h"

#include <algorithm>

#include "scene/zscene.h"

namespace zirk {

TFilmPlayer::TFilmPlayer(TZirkBaseList& owner) {
  film_.Owner = &owner;
}

TFilmPlayer::~TFilmPlayer() = default;

void TFilmPlayer::Load(const std::string& fileName) {
  film_.LoadFilm(fileName);
  // The reader takes a file of another kind for an empty film; nothing
  // would ever show, so the player says so instead.
  if (film_.Kind == 2) throw EFilmFormatError(fileName + " is not a film file");
  film_.RefreshOwner();
  timeMs_ = 0;
  frame_ = -1;
  fresh_ = true;
  ended_ = false;
}

void TFilmPlayer::Tick(uint32_t elapsed) {
  const int32_t length = film_.GetLength();
  if (length <= 0) return;
  if (!fresh_ && !ended_) timeMs_ += elapsed;
  fresh_ = false;
  int32_t frame = MsToFilmTicks(static_cast<double>(timeMs_));
  if (frame >= length - 1) {
    frame = length - 1;
    ended_ = true;
  }
  if (frame != frame_) {
    frame_ = frame;
    film_.SetFilmTime(frame);
  }
}

}  // namespace zirk
