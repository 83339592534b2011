#pragma once
// The media layer's part in the main window: the hooks of TFormView filled
// with the media managers and the media library's event entries, and the
// scene's sound switch wired to the managers.

#include "app/view.h"
#include "medialib/zirk.h"

namespace zirk {

// The hooks as the player installs them.
TMediaHooks PlayerMediaHooks();
// Installs them and the sound switch (before the main window is made).
void InstallMediaHooks();
// Takes both away again.
void RemoveMediaHooks();

// The message record the library's event entries take.
ZirkMsgRecord MediaMessageRecord(const platform::Message& message);

}  // namespace zirk
