#include "media/mediaman.h"

#include <algorithm>
#include <cctype>

#include "base/utils.h"
#include "media/cddaman.h"
#include "media/dxsounds.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media/zirkdll.h"
#include "platform/clock.h"
#include "surfaces/screenman.h"

namespace zirk {

bool TLearntLength::mayTryNow() {
  constexpr uint32_t kRetryMs = 1000;
  // Unsigned difference: the clock wraps after 49.7 days.
  const uint32_t now = platform::timeGetTime();
  if (triedAt_ && now - *triedAt_ < kRetryMs) return false;
  triedAt_ = now;
  return true;
}

bool TDMediaItem::playDeferred() {
  if (manager_.Enabled()) return false;
  ResumeFlag = true;
  return true;
}

TDMediaManager::~TDMediaManager() {
  Clear();
}

void TDMediaManager::Remove(TDMediaItem* item) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [item](const std::unique_ptr<TDMediaItem>& p) { return p.get() == item; });
  if (it == items_.end()) return;
  // The item leaves the list only once it is gone, so what its destructor
  // asks of the manager still sees it.
  it->reset();
  items_.erase(it);
}

void TDMediaManager::Clear() {
  for (auto& item : items_) item.reset();
  items_.clear();
}

TDMediaItem* TDMediaManager::Items(int32_t index) const {
  return items_.at(static_cast<size_t>(index)).get();
}

bool TDMediaManager::Contains(const TDMediaItem* item) const {
  return std::any_of(items_.begin(), items_.end(),
                     [item](const std::unique_ptr<TDMediaItem>& p) { return p.get() == item; });
}

void TDMediaManager::SuspendAll() {
  if ((switchable_ && !enabled_) || suspended_) return;
  suspended_ = true;
  for (auto& item : items_) {
    if (item->IsPlaying() && !item->IsPaused() && !item->CheckEnd()) {
      item->Pause();
      item->ResumeFlag = true;
    } else {
      item->ResumeFlag = false;
    }
  }
}

void TDMediaManager::ResumeAll() {
  if ((switchable_ && !enabled_) || !suspended_) return;
  suspended_ = false;
  for (auto& item : items_) {
    if (!item->ResumeFlag) continue;
    item->Play();
    item->ResumeFlag = false;
  }
}

void TDMediaManager::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  if (!enabled) {
    SuspendAll();
    enabled_ = false;
  } else {
    enabled_ = true;
    ResumeAll();
  }
}

bool IsAbsoluteMediaName(const std::string& name) {
  if (name.empty()) return false;
  return name[0] == '\\' || name[0] == '/' || (name.size() >= 2 && name[1] == ':');
}

std::string MediaExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  const size_t cut = name.find_last_of("\\/:");
  if (dot == std::string::npos || (cut != std::string::npos && dot < cut)) return {};
  std::string ext = name.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

namespace {

// The screen manager MediaInit made (none when one existed already).
std::unique_ptr<TScreenManager>& ownScreenManager() {
  static std::unique_ptr<TScreenManager> manager;
  return manager;
}

// The managers as MediaInit made them; the globals point into these.
struct TManagers {
  std::unique_ptr<TVideoManager> video;
  std::unique_ptr<TWmpManager> wmp;
  std::unique_ptr<TOggManager> ogg;
  std::unique_ptr<TCddaManager> cdda;
  std::unique_ptr<TMidiManager> midi;
};

TManagers& managers() {
  static TManagers m;
  return m;
}

template <class T, class... Args>
void makeManager(const char* step, std::unique_ptr<T>& owner, T*& global, const Args&... args) {
  TraceHook(step, true);
  owner = std::make_unique<T>(args...);
  global = owner.get();
}

template <class T>
void freeManager(const char* step, std::unique_ptr<T>& owner, T*& global) {
  TraceHook(step, true);
  global = nullptr;
  owner.reset();
}

}  // namespace

void MediaInit(const TMediaInitParams& params) {
  ResetSharedDirectSound();
  // A sound component that start-up initialised serves movies too, which
  // may play before any sound item fills the slot.
  if (params.Config.SoundComponent) {
    TCustomDXSound* sound = params.Config.SoundComponent();
    if (sound && sound->Initialized() && sound->Output()) SharedDirectSound = sound->Output();
  }
  TraceHook("MediaInit.zirkInit", true);
  zirkInit(params.MainWindowHandle, params.MainPanelHandle, nullptr, &SharedDirectSound,
           DllStreamGetSize, DllStreamRead, DllStreamGetPosition, DllStreamSeek, SaveFpuControlWord,
           RestoreFpuControlWord, 0);
  TraceHook("MediaInit.zirkOggmanSetUseThread", true);
  // The Ogg manager always runs on the library's own thread.
  zirkOggmanSetUseThread(-1);
  if (params.ScreenWidth >= 1 && params.ScreenHeight >= 1) {
    TraceHook("MediaInit.TScreenManager.Create", true);
    if (ScreenMan == nullptr) {
      ownScreenManager() = std::make_unique<TScreenManager>();
      ScreenMan = ownScreenManager().get();
    }
  }
  TManagers& m = managers();
  makeManager("MediaInit.TVideoManager.Create", m.video, VideoMan);
  makeManager("MediaInit.TWmpManager.Create", m.wmp, WmpMan, params.Config);
  makeManager("MediaInit.TOggManager.Create", m.ogg, OggMan, params.Config);
  makeManager("MediaInit.TCddaManager.Create", m.cdda, CddaMan, params.Config);
  makeManager("MediaInit.TMidiManager.Create", m.midi, MidiMan, params.Config);
  TraceHook("MediaInit.end", true);
}

void MediaFinal() {
  // A screen manager the window made, the window has freed just before.
  if (ownScreenManager()) {
    TraceHook("ScreenMan.Free", true);
    if (ScreenMan == ownScreenManager().get()) ScreenMan = nullptr;
    ownScreenManager().reset();
  }
  TManagers& m = managers();
  freeManager("VideoMan.Free", m.video, VideoMan);
  TraceHook("WaveMan.Free", true);
  freeManager("WmpMan.Free", m.wmp, WmpMan);
  freeManager("OggMan.Free", m.ogg, OggMan);
  freeManager("CddaMan.Free", m.cdda, CddaMan);
  freeManager("MidiMan.Free", m.midi, MidiMan);
  TraceHook("zirkFinal", true);
  zirkFinal();
  SharedDirectSound = nullptr;
}

void SuspendVideoPlayback() {
  if (VideoMan) zirkVidmanSuspend();
}

void ResumeVideoPlayback() {
  if (VideoMan) zirkVidmanResume();
}

}  // namespace zirk
