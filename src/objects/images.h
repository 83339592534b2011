#pragma once
// Multi-frame images: an image surface that shows one frame of a frame list
// at a time and moves through the list by the frames' delays. TZirkImages
// is the script object (LT_IMAGES) whose source is a layered picture
// (".dor") or a motion file (".zmt"); buttons, preview entries, particle
// image sets and the tile build on these classes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "objects/customimage.h"
#include "objects/imagelist.h"
#include "script/parser.h"

namespace zirk {

class TZirkCustomImages : public TZirkCustomImage {
 public:
  explicit TZirkCustomImages(TZirkBaseList& scene);
  ~TZirkCustomImages() override;

  const TPropTable& Properties() const override;

  // The frame list shown; nullptr in this class.
  virtual TZirkImageList* GetImageList() { return nullptr; }

  int32_t Index() const { return index_; }
  int32_t DelayCounter() const { return delay_; }
  // Selects a frame (PR_INDEX): lends its surface, mask and key and adds its
  // delay to the counter; -1 or any index outside the list shows nothing.
  void SetIndex(int32_t index);
  // Run when the last frame of a list of two or more is selected; its
  // integer result (ms) lengthens that frame.
  TZirkParser& EndDelay() { return endDelay_; }

  bool Tick() override;
  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  // Whether the animation loops at its end (PR_REPEAT).
  virtual bool repeats() { return GetPropInt(PR_REPEAT) != 0; }
  // The end of a non-repeating animation: true asks the scene to free the
  // object; the default posts nothing.
  virtual bool playEnded() { return false; }
  bool listIndexValid();
  // Steps to a frame while a tick runs through frames: its delay (and, for
  // the last, the end delay) counts, but nothing is shown until
  // showStepped, which shows the frame the steps ended on when it is not
  // `from`, the frame shown before them.
  void stepIndex(int32_t index);
  void showStepped(int32_t from);
  // The current entry lent to the surface again (after a rebuild).
  void lendCurrent();
  void setIndexField(int32_t index) { index_ = index; }
  // Selects a saved frame with the time it had left.
  void restoreFrame(int32_t index, int32_t delay) {
    SetIndex(index);
    delay_ = delay;
  }

 private:
  bool playing();
  // Lends the current entry's surface, mask and key (none for an index
  // outside the list) and fits the display size.
  void showFrame();
  // The brightness applied to the entry shown.
  void applyBrightness();

  int32_t delay_ = 0;
  int32_t index_ = -1;
  int32_t brightness_ = 0;
  bool paused_ = false;
  TZirkParser endDelay_;
};

class TZirkImages : public TZirkCustomImages {
 public:
  explicit TZirkImages(TZirkBaseList& scene);
  ~TZirkImages() override;

  int32_t GetKind() const override { return LT_IMAGES; }
  const TPropTable& Properties() const override;

  // The lists are made here, once the derived class can say how many.
  void AfterCreate() override;
  TZirkImageList* GetImageList() override;
  virtual int32_t GetImageListIndex() { return 0; }
  virtual void ImageListChanged() {}
  virtual int32_t GetImageListCount() { return 1; }
  TZirkImageList* ImageList(int32_t index);

  const std::string& Source() const { return source_; }
  void SetSource(const std::string& source);

  void ReleaseSurfaces() override;
  void RestoreSurfaces() override;
  void SaveToStream(TKwStream& stream) override;
  void LoadFromStream(TKwStream& stream, int32_t version) override;

 protected:
  bool playEnded() override;

 private:
  void ensureLists();
  // PR_REPEAT turned on restarts an ended animation.
  void repeatChanged();

  std::vector<std::unique_ptr<TZirkImageList>> lists_;
  bool repeat_ = false;
  bool autoScrap_ = false;
  std::string source_;
  std::string onPlayEnd_;
  std::string onIdle_;
};

// Whether a file name ends with the extension (".dor"), in any case.
bool HasExtension(const std::string& fileName, const char* extension);

// Registers LT_IMAGES with the scene's kind factory.
void RegisterZirkImages();

}  // namespace zirk
