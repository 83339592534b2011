#pragma once
// What starts a game while no script engine exists: one film played by a
// cinema that covers the scene, the film's size and colour setting the
// screen's. The cinema is an object of the scene and ticks with it; at the
// end the film stays on its last frame.

#include <cstdint>
#include <string>

namespace zirk {

class TVrFileManager;
class TZirkBaseList;
class TZirkCinema;

// Why the game file `name` of that kind ("film", "movie") cannot be opened
// when the file system finds no regular file by that name: a folder, a FIFO
// or a device of that name is there but is no regular file (opening it would
// fail or wait forever); else the file is missing. The message names the
// file as `shown`.
std::string NoRegularFileReason(TVrFileManager& files, const std::string& name,
                                const std::string& kind, const std::string& shown);

class TFilmPlayer {
 public:
  explicit TFilmPlayer(TZirkBaseList& scene);
  // Frees the cinema while the scene still holds it.
  ~TFilmPlayer();
  TFilmPlayer(const TFilmPlayer&) = delete;
  TFilmPlayer& operator=(const TFilmPlayer&) = delete;

  // Makes the cinema and gives the scene the film's size and colour.
  // Raises EFilmFormatError, leaving no cinema, for a film that is missing,
  // cannot be read, or is no film or motion file; its message names the file
  // as `shown`, else as game text.
  void Load(const std::string& fileName, const std::string& shown = {});

  // nullptr before a load or once the scene has freed it.
  TZirkCinema* Cinema() const;
  // The film tick shown (PR_INDEX), 0 without a cinema.
  int32_t Frame() const;
  bool Ended() const;

 private:
  TZirkBaseList& scene_;
  uint64_t serial_ = 0;
};

}  // namespace zirk
