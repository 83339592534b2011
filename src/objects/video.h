#pragma once
// The video object: a movie of the media library shown as a picture. Each
// new movie frame is copied into a frame surface of the object's own, which
// is drawn like any picture; in overlay mode the object also tells the
// library where on the screen the movie shows. Play states, fades and save
// rules are the sound object's.

#include <cstdint>
#include <memory>
#include <string>

#include "medialib/zirk.h"
#include "objects/customimage.h"
#include "objects/mediaplay.h"
#include "scene/capabilities.h"

namespace zirk {

class TVideoItem;

class TZirkVideo : public TZirkCustomImage,
                   public TMediaPlayback,
                   public IActivatable,
                   public IPlayable {
 public:
  // Repaint checks against the library run at most this often.
  static constexpr uint32_t kPaintCheckInterval = 33;  // ms of timeGetTime

  explicit TZirkVideo(TZirkBaseList& scene);
  ~TZirkVideo() override;

  int32_t GetKind() const override { return LT_VIDEO; }
  const TPropTable& Properties() const override;

  int32_t GetActive() override { return state_; }
  void SetActive(int32_t state) override;
  void StartPlay() override;

  void Draw() override;
  bool Tick() override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void CabinetPause() override;
  void CabinetResume() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

  void SetSource(const std::string& source) override;
  const std::string& Source() const { return source_; }
  TVideoItem* Item() const { return item_; }
  TZirkMixer* Fade() const { return fade_.get(); }
  TCustomDIBX* FrameSurface() const { return frame_.get(); }
  int32_t GetLength();
  // Places the movie on the screen (overlay mode).
  void UpdateVideoRect();
  // What UpdateVideoRect hands the library: the part of the movie that
  // shows (movie pixels) and where (window pixels, at the display scale);
  // false when nothing of it shows.
  bool VideoRects(ZirkRect& source, ZirkRect& dest);

 protected:
  TDMediaItem* playedItem() const override;

 private:
  bool running();
  void pauseChange(bool wasRunning);
  void makeFrameSurface();
  void dropFrameSurface();
  void dropFadingItem();
  void updateShownSize();
  void setPaused(bool paused);
  void setHeld(const TCustomParam& value);
  void setVolume(int32_t volume);
  void setIndex(int32_t index);
  bool getPlaying();
  void setOverlay(bool overlay);

  TVideoItem* item_ = nullptr;
  // The item a fade-out still drives after the object let go of it.
  TVideoItem* fadingItem_ = nullptr;
  std::unique_ptr<TCustomDIBX> frame_;
  std::string idleLabel_;
  bool overlay_ = true;
  uint32_t lastPaintCheck_ = 0;
};

void RegisterZirkVideo();

}  // namespace zirk
