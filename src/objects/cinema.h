#pragma once
// The cinema: a film file played as a scene object. A film with transitions
// or a background colour plays inside the cinema's own pair of screens,
// which the cinema copies into its rectangle where the pair changed; a film
// without either places its objects straight into the cinema's scene, as
// children of the cinema. The cinema keeps the film time in ms of the
// game's ticks, loops from the film's loop start, pauses, reports the end
// once per end and saves its position.

#include <cstdint>
#include <memory>
#include <string>

#include "objects/frms.h"
#include "scene/capabilities.h"
#include "scene/zcontrol.h"
#include "scene/zscene.h"

namespace zirk {

class TZirkCinema : public TZirkControl {
 public:
  static constexpr int32_t kFrameRate = 60;

  explicit TZirkCinema(TZirkBaseList& scene);
  ~TZirkCinema() override;

  int32_t GetKind() const override { return LT_CINEMA; }
  const TPropTable& Properties() const override;

  // Loads the film. A file the project lacks, or one that cannot be read,
  // leaves the cinema without a film; LoadError then says why (empty for a
  // missing file).
  void SetSource(const std::string& name);
  // nullptr without a film.
  TFilmManager* Film() const { return film_.get(); }
  const std::string& LoadError() const { return loadError_; }
  TZirkBaseList& ScreenPair() { return pair_; }
  // Whether the film plays in the screen pair (else into the scene).
  bool PlaysInPair() const { return film_ && !film_->Host; }
  int32_t TimeMs() const { return time_; }
  bool Ended() const { return ended_; }

  bool Tick() override;
  void Draw() override;
  TZirkObject* HitTest(TPoint point, TMouseMask mask) override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 private:
  int32_t getIndex();
  void setIndex(int32_t index);
  int32_t getCount() { return film_ ? film_->GetLength() : 0; }
  bool getPlaying();
  void setVolume(int32_t volume);
  void setPairSize(int32_t width, int32_t height);
  // The film's pause follows the cinema's and the animation pause.
  void pauseChanged();
  // The end of a film that does not repeat: true asks to be removed.
  bool reachEnd();
  // The pair's changes after its tick, moved onto this cinema's screen.
  void takePairChanges();

  // Declared before the film: the film's objects live in the pair.
  TZirkBaseList pair_;
  std::unique_ptr<TFilmManager> film_;
  std::string source_;
  std::string loadError_;
  int32_t time_ = 0;  // ms
  bool repeat_ = false;
  bool paused_ = false;
  bool autoScrap_ = false;
  std::string onPlayEnd_;
  std::string onIdle_;
  bool ended_ = false;
  int32_t refreshCount_ = 0;
  int32_t volume_ = 1000;
  bool rewindOnLoad_ = false;
  bool muteOnLoad_ = false;
};

void RegisterZirkCinema();

}  // namespace zirk
