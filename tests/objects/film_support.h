#pragma once
// Films written by the test writer and read back into a film manager.

#include <string>
#include <vector>

#include "base/streams.h"
#include "objects/frms.h"
#include "objects/tracks.h"
#include "scene/zscene.h"
#include "support/filmwriter.h"

namespace zirk::test {

// Films in these tests are read with every track kind the player builds.
inline const bool kFilmTracksRegistered = (RegisterFilmTracks(), true);

inline void readFilmBytes(TFilmManager& film, const std::string& bytes,
                          const std::string& name = "c:\\game\\film\\a.zcn") {
  TKwMemoryStream stream;
  stream.Assign(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  film.ReadFilm(stream, name);
}

inline void readFilm(TFilmManager& film, const FilmFile& file,
                     const std::string& name = "c:\\game\\film\\a.zcn") {
  readFilmBytes(film, WriteFilmFile(file), name);
}

// The live objects of a class in the scene, in tick order.
template <class Object>
std::vector<Object*> objectsOf(TZirkBaseList& scene) {
  std::vector<Object*> out;
  for (TZirkObject* o : scene.Objects())
    if (auto* x = dynamic_cast<Object*>(o); x && !x->IsScrapped()) out.push_back(x);
  return out;
}

inline FilmTrack wipeTrack(int32_t start, int32_t length, uint8_t kind = 1) {
  FilmTrack t;
  t.type = 3;
  t.start = start;
  t.length = length;
  t.wipeKind = kind;
  return t;
}

}  // namespace zirk::test
