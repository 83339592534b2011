// Film and motion files read from untrusted bytes into a film on a small
// scene, then played at a few times (the start, the middle, the end and
// beyond), so parents, chains, wipes and the interpolation of every value
// see whatever a damaged file holds. Pictures are not loaded.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "objects/frms.h"
#include "objects/tracks.h"
#include "scene/zscene.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zirk;
  static const bool registered = (RegisterFilmTracks(), true);
  (void)registered;
  TKwMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TZirkBaseList scene(64, 48);
  {
    TFilmManager film;
    film.SkipAfterLoad = true;
    film.Owner = &scene;
    try {
      film.ReadFilm(stream, "c:\\game\\film.zcn");
      std::vector<std::string> files;
      film.CollectFiles(files);
      const int32_t length = film.GetLength();
      for (int32_t t : {0, 1, length / 2, length - 1, length, INT32_MAX, -1}) film.SetFilmTime(t);
      film.MotionMode = true;
      film.Relative = true;
      film.SetFilmTime(length / 3);
    } catch (const zirk::Exception&) {
    }
  }
  scene.ClearObjects();
  return 0;
}
