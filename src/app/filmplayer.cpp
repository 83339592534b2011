#include "app/filmplayer.h"

#include <string_view>

#include "base/sjis.h"
#include "base/vrfiles.h"
#include "objects/cinema.h"
#include "scene/zscene.h"

namespace zirk {

std::string NoRegularFileReason(TVrFileManager& files, const std::string& name,
                                const std::string& kind, const std::string& shown) {
  return shown + (files.GetHostPath(name).empty() ? ": the " + kind + " file is missing"
                                                  : ": not a regular file");
}

TFilmPlayer::TFilmPlayer(TZirkBaseList& scene) : scene_(scene) {}

TFilmPlayer::~TFilmPlayer() {
  if (TZirkCinema* cinema = Cinema()) scene_.FreeObject(cinema);
}

TZirkCinema* TFilmPlayer::Cinema() const {
  return serial_ ? dynamic_cast<TZirkCinema*>(scene_.FindBySerial(serial_)) : nullptr;
}

void TFilmPlayer::Load(const std::string& fileName, const std::string& shown) {
  if (TZirkCinema* old = Cinema()) scene_.FreeObject(old);
  serial_ = 0;
  TZirkCinema* cinema = scene_.Create<TZirkCinema>(nullptr, "");
  cinema->SetSource(fileName);
  const TFilmManager* film = cinema->Film();
  const std::string asGameText = SjisForMessage(fileName);
  const std::string& named = shown.empty() ? asGameText : shown;
  std::string why;
  if (!film && !cinema->LoadError().empty()) {
    why = cinema->LoadError();
    // The file system names the film first, as game text.
    if (std::string_view(why).starts_with(asGameText + ":"))
      why.replace(0, asGameText.size(), named);
  } else if (!film) {
    // The cinema takes only regular files.
    TVrFileManager* files = TVrFileManager::Global();
    why = files ? NoRegularFileReason(*files, fileName, "film", named)
                : named + ": the film file is missing";
  }
  // The reader takes a file of another kind for an empty film; nothing
  // would ever show, so the player says so instead.
  else if (film->Kind == 2)
    why = named + " is not a film file";
  if (!why.empty()) {
    scene_.FreeObject(cinema);
    throw EFilmFormatError(why);
  }
  scene_.SetWidth(film->Width);
  scene_.SetHeight(film->Height);
  if (film->Color >= 0) scene_.SetColor(film->Color);
  serial_ = cinema->Serial();
}

int32_t TFilmPlayer::Frame() const {
  TZirkCinema* cinema = Cinema();
  return cinema ? cinema->GetPropInt(PR_INDEX) : 0;
}

bool TFilmPlayer::Ended() const {
  TZirkCinema* cinema = Cinema();
  return cinema && cinema->Ended();
}

}  // namespace zirk
