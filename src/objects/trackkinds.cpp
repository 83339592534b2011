// The track kinds of the player's films: one line per kind's file.
#include "objects/tracks.h"
#include "objects/tracksbox.h"
#include "objects/trackseffects.h"
#include "objects/tracksimage.h"
#include "objects/trackslabel.h"
#include "objects/trackssound.h"
#include "objects/trackswipe.h"

namespace zirk {

void RegisterFilmTracks() {
  RegisterImageTracks();
  RegisterBoxTracks();
  RegisterLabelTracks();
  RegisterWipeTracks();
  RegisterSoundTracks();
  RegisterEffectTracks();
}

}  // namespace zirk
