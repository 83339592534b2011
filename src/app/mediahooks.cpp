#include "app/mediahooks.h"

#include "app/application.h"
#include "media/cddaman.h"
#include "media/mediaitems.h"
#include "media/midiman.h"
#include "media/zirkdll.h"
#include "scene/runtime.h"
#include "scene/zscene.h"

namespace zirk {

namespace {

// The managers with the sound switch, each when it exists and is enabled.
template <class F>
void eachSwitchable(F f) {
  TDMediaManager* managers[] = {WmpMan, OggMan, CddaMan, MidiMan};
  for (TDMediaManager* m : managers)
    if (m && m->Enabled()) f(*m);
}

void mediaInit(TFormView& form) {
  TMediaInitParams params;
  params.MainWindowHandle = form.MainWindowHandleVar();
  params.MainPanelHandle = form.MainPanelHandleVar();
  if (TZirkBaseList* scene = ScreenList()) {
    params.ScreenWidth = scene->Width();
    params.ScreenHeight = scene->Height();
  }
  TMediaConfig& config = params.Config;
  config.UseDirectSound = form.Settings().UseDirectSound;
  config.SoundDelayTime = form.Settings().SoundDelayTime;
  config.Terminated = &form.Application().TerminatedFlag();
  config.SoundComponent = [&form] { return &form.DXSound(); };
  // The managers go before the form does; a closing form plays no MIDI.
  config.MainFormAlive = [&form] { return !form.Closed(); };
  MediaInit(params);
}

void suspendAll(bool deactivation) {
  if (VideoMan) VideoMan->SuspendAll();
  eachSwitchable([](TDMediaManager& m) { m.SuspendAll(); });
  if (deactivation && CddaMan) CddaMan->RestoreMixerVolume();
}

void resumeAll(bool activation) {
  if (VideoMan) VideoMan->ResumeAll();
  if (activation && CddaMan) CddaMan->SaveMixerVolume();
  eachSwitchable([](TDMediaManager& m) { m.ResumeAll(); });
}

void setMediaEnabled(bool enabled) {
  TDMediaManager* managers[] = {WmpMan, OggMan, CddaMan, MidiMan};
  for (TDMediaManager* m : managers)
    if (m) m->SetEnabled(enabled);
}

}  // namespace

ZirkMsgRecord MediaMessageRecord(const platform::Message& message) {
  return ZirkMsgRecord{static_cast<uintptr_t>(message.wnd), message.msg,
                       static_cast<uintptr_t>(message.wParam),
                       static_cast<intptr_t>(message.lParam)};
}

TMediaHooks PlayerMediaHooks() {
  TMediaHooks hooks;
  hooks.MediaInit = mediaInit;
  hooks.MediaFinal = [] { MediaFinal(); };
  hooks.SuspendAll = suspendAll;
  hooks.ResumeAll = resumeAll;
  hooks.WmpmanProcessEvent = [](const platform::Message& m) {
    const ZirkMsgRecord record = MediaMessageRecord(m);
    zirkWmpmanProcessEvent(&record);
  };
  const auto videoEvent = [](const platform::Message& m) {
    const ZirkMsgRecord record = MediaMessageRecord(m);
    zirkVidmanProcessEvent(&record);
  };
  hooks.VidmanProcessEvent = videoEvent;
  hooks.PanelPaint = videoEvent;
  hooks.SoundRestore = [] {
    if (WmpMan) WmpMan->Restore();
    if (OggMan) OggMan->Restore();
  };
  hooks.SuspendVideoPlayback = SuspendVideoPlayback;
  hooks.ResumeVideoPlayback = ResumeVideoPlayback;
  hooks.CloseMidiDevice = [] {
    if (MidiMan) MidiMan->CloseDevice();
  };
  hooks.ReopenMidiDevice = [] {
    if (MidiMan) MidiMan->ReopenDevice();
  };
  return hooks;
}

void InstallMediaHooks() {
  SetMediaHooks(PlayerMediaHooks());
  SetMediaEnabledHook(setMediaEnabled);
}

void RemoveMediaHooks() {
  SetMediaHooks({});
  SetMediaEnabledHook({});
}

}  // namespace zirk
