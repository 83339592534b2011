/* Stand-ins for the media library with deliberate faults, to check how the
 * player binds it: FAKE_VERSION sets the reported version, FAKE_NO_VERSION
 * leaves the version entry out. Every variant lacks zirkOggGetLen. */
#include <stddef.h>
#include <stdint.h>

#define ZIRK_BUILDING_LIBRARY
#include "medialib/zirk.h"

static ZirkStreamGetSizeProc g_getSize;
static void* const* g_slot;

#ifndef FAKE_NO_VERSION
int32_t zirkVersion(void) { return FAKE_VERSION; }
#endif

ZirkBool zirkInit(const void* mainWindow, const void* mainPanel, void* instance,
                  void* const* sharedDirectSound, ZirkStreamGetSizeProc getSize,
                  ZirkStreamReadProc read, ZirkStreamGetPositionProc getPosition,
                  ZirkStreamSeekProc seek, ZirkSaveFpuProc saveFpu, ZirkRestoreFpuProc restoreFpu,
                  ZirkBool option) {
  (void)mainWindow;
  (void)mainPanel;
  (void)instance;
  (void)option;
  g_getSize = getSize;
  g_slot = sharedDirectSound;
  return getSize && read && getPosition && seek && saveFpu && restoreFpu;
}

/* Answers the stream's size through the player's callback, so a test sees
 * the callbacks wired through. */
ZirkHandle zirkOggmanAdd(void* stream, ZirkBool isOgg) {
  (void)isOgg;
  return g_getSize ? (ZirkHandle)g_getSize(stream) : 0;
}

/* Nonzero when the player's slot holds an output. */
ZirkBool zirkOggIsPlaying(ZirkHandle handle) {
  (void)handle;
  return g_slot && *g_slot;
}
