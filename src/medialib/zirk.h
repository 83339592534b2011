/* The media library's C interface, shared by libzirk.so and the player.
 *
 * The player loads the library at run time (dlopen) and resolves every entry
 * by its name; the library reads all sound and movie data through the four
 * stream callbacks handed to zirkInit, and mixes its players into the sound
 * device the player puts into the SharedDirectSound slot.
 *
 * Conventions of every entry:
 *  - Booleans are 32-bit (ZirkBool): the player passes -1 or 0, the library
 *    answers nonzero or 0.
 *  - Handles are 32-bit ids from the library's own table, never pointers;
 *    0 means failure. An entry given 0 or an unknown handle does nothing and
 *    answers the neutral value: not playing, not paused, ended, length,
 *    position, level and pan 0.
 *  - Lengths and positions of items are milliseconds; positions and sizes of
 *    the PCM decoder are bytes of the format it reports.
 *  - Levels (volume) are hundredths of a decibel: 0 is full, -10000 or less
 *    silent, gain = 10^(level/2000). A pan p above 0 lowers the left channel
 *    by p/100 dB, below 0 the right one; the range is -10000..10000.
 */
#ifndef ZIRK_MEDIALIB_ZIRK_H
#define ZIRK_MEDIALIB_ZIRK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(ZIRK_BUILDING_LIBRARY)
#define ZIRK_API __attribute__((visibility("default")))
#else
#define ZIRK_API
#endif

#define ZIRK_VERSION 108

typedef int32_t ZirkBool;
typedef uint32_t ZirkHandle;

/* The four stream callbacks. `stream` is the object the player passed to an
 * "Add" entry; each callback answers 0 for a null stream. Sizes and positions
 * are 64-bit so that movies above 2 GiB can be read. */
typedef int64_t (*ZirkStreamGetSizeProc)(void* stream);
typedef int32_t (*ZirkStreamReadProc)(void* stream, void* buffer, int32_t count);
typedef int64_t (*ZirkStreamGetPositionProc)(void* stream);
/* Moves to `position` and answers the position the stream actually took. */
typedef int64_t (*ZirkStreamSeekProc)(void* stream, int64_t position);

/* Floating-point environment guards: the library calls the first before and
 * the second after work that may change the floating-point state. */
typedef uint16_t (*ZirkSaveFpuProc)(void);
typedef void (*ZirkRestoreFpuProc)(void);

/* Window-message record of the ProcessEvent entries. */
typedef struct ZirkMsgRecord {
  uintptr_t window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
} ZirkMsgRecord;

typedef struct ZirkRect {
  int32_t left, top, right, bottom;
} ZirkRect;

/* A movie frame as zirkVideoGetDC hands it out: rows of 32-bit pixels, bytes
 * B, G, R, A (A = 255), `pitch` bytes apart. Valid until the next
 * zirkVideoGetDC or zirkVidmanDel of the same handle. */
#define ZIRK_FRAME_BGRA32 1u
typedef struct ZirkVideoFrame {
  int32_t width;
  int32_t height;
  int32_t pitch;
  uint32_t format;
  const uint8_t* pixels;
} ZirkVideoFrame;

/* The 16-byte PCM format record of zirkOggStrGetFormat (WAVEFORMAT layout
 * plus bits per sample). */
#pragma pack(push, 1)
typedef struct ZirkPcmFormat {
  uint16_t formatTag; /* 1 = PCM */
  uint16_t channels;
  uint32_t samplesPerSec;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
} ZirkPcmFormat;
#pragma pack(pop)

/* ---- library ---- */
ZIRK_API int32_t zirkVersion(void);
/* `mainWindow` and `mainPanel` are the addresses of the player's handle
 * variables (read, never written); `sharedDirectSound` is the address of the
 * player's slot holding its zirk::platform::AudioOutput* (platform/audio.h) or
 * null; it is read each time an item starts playing, and while it is null the
 * library plays into a silent output that runs in real time. `option` is
 * reserved and passed as 0. Answers nonzero on success. */
ZIRK_API ZirkBool zirkInit(const void* mainWindow, const void* mainPanel, void* instance,
                           void* const* sharedDirectSound, ZirkStreamGetSizeProc getSize,
                           ZirkStreamReadProc read, ZirkStreamGetPositionProc getPosition,
                           ZirkStreamSeekProc seek, ZirkSaveFpuProc saveFpu,
                           ZirkRestoreFpuProc restoreFpu, ZirkBool option);
ZIRK_API void zirkFinal(void);

/* ---- Ogg manager: Ogg Vorbis (isOgg nonzero) or WAVE sounds ---- */
/* The stream must live until zirkOggmanDel returned. */
ZIRK_API ZirkHandle zirkOggmanAdd(void* stream, ZirkBool isOgg);
/* Synchronous: when it returns, no thread of the library touches the item or
 * its stream any more. */
ZIRK_API void zirkOggmanDel(ZirkHandle handle);
ZIRK_API void zirkOggmanRestore(void);
/* With 0 the library runs no decoding thread for any kind of item; the
 * player then calls zirkOggmanUpdate regularly. Call right after zirkInit. */
ZIRK_API void zirkOggmanSetUseThread(ZirkBool useThread);
ZIRK_API void zirkOggmanUpdate(void);

/* ---- Windows Media manager: audio files read through FFmpeg ---- */
/* The library copies the memory; the caller may free it at once. */
ZIRK_API ZirkHandle zirkWmpmanAdd(const void* memory, int32_t size);
ZIRK_API void zirkWmpmanDel(ZirkHandle handle);
ZIRK_API void zirkWmpmanRestore(void);
ZIRK_API void zirkWmpmanProcessEvent(const ZirkMsgRecord* message);

/* ---- Video manager: movies read through FFmpeg ---- */
/* `path` names the file (for messages only: the data is read through
 * `stream`, which must live until zirkVidmanDel returned). `option` nonzero
 * asks for frames through zirkVideoGetDC; this library always provides them. */
ZIRK_API ZirkHandle zirkVidmanAdd(const char* path, void* stream, ZirkBool option);
ZIRK_API void zirkVidmanDel(ZirkHandle handle);
ZIRK_API void zirkVidmanProcessEvent(const ZirkMsgRecord* message);
ZIRK_API void zirkVidmanSuspend(void);
ZIRK_API void zirkVidmanResume(void);

/* ---- item entries, the same for the three families ---- */
#define ZIRK_DECLARE_ITEM_ENTRIES(family)                                 \
  ZIRK_API void zirk##family##Play(ZirkHandle handle);                    \
  ZIRK_API void zirk##family##Pause(ZirkHandle handle);                   \
  ZIRK_API ZirkBool zirk##family##IsPlaying(ZirkHandle handle);           \
  ZIRK_API ZirkBool zirk##family##IsPaused(ZirkHandle handle);            \
  ZIRK_API ZirkBool zirk##family##IsEnd(ZirkHandle handle);               \
  ZIRK_API int32_t zirk##family##GetLen(ZirkHandle handle);               \
  ZIRK_API int32_t zirk##family##GetPosition(ZirkHandle handle);          \
  ZIRK_API void zirk##family##SetPosition(ZirkHandle handle, int32_t ms); \
  ZIRK_API int32_t zirk##family##GetVol(ZirkHandle handle);               \
  ZIRK_API void zirk##family##SetVol(ZirkHandle handle, int32_t level);   \
  ZIRK_API int32_t zirk##family##GetPan(ZirkHandle handle);               \
  ZIRK_API void zirk##family##SetPan(ZirkHandle handle, int32_t pan);     \
  ZIRK_API ZirkBool zirk##family##GetAutoRepeat(ZirkHandle handle);       \
  ZIRK_API void zirk##family##SetAutoRepeat(ZirkHandle handle, ZirkBool on);

ZIRK_DECLARE_ITEM_ENTRIES(Ogg)
ZIRK_DECLARE_ITEM_ENTRIES(Wmp)
ZIRK_DECLARE_ITEM_ENTRIES(Video)

/* ---- video extras ---- */
/* Source rectangle in movie pixels, destination in window pixels. Stored;
 * this library never paints into a window. */
ZIRK_API void zirkVideoSetRect(ZirkHandle handle, const ZirkRect* source, const ZirkRect* dest);
ZIRK_API ZirkBool zirkVideoGetVisible(ZirkHandle handle);
ZIRK_API void zirkVideoSetVisible(ZirkHandle handle, ZirkBool visible);
ZIRK_API int32_t zirkVideoGetSourceWidth(ZirkHandle handle);
ZIRK_API int32_t zirkVideoGetSourceHeight(ZirkHandle handle);
/* The current frame, or null before the first one. */
ZIRK_API const ZirkVideoFrame* zirkVideoGetDC(ZirkHandle handle);
/* Nonzero when a newer frame became current since the last zirkVideoGetDC. */
ZIRK_API ZirkBool zirkVideoNeedPaint(ZirkHandle handle);

/* ---- PCM decoder (for the software wave mixer) ----
 * Reports the source format when the mixer takes it (44100 or 22050 Hz, 1 or
 * 2 channels, 8 or 16 bits), else converts to 44100 Hz 16-bit with 1 or 2
 * channels. */
ZIRK_API ZirkHandle zirkOggStrmanAdd(void* stream, ZirkBool isOgg);
ZIRK_API void zirkOggStrmanDel(ZirkHandle decoder);
ZIRK_API ZirkBool zirkOggStrGetFormat(ZirkHandle decoder, ZirkPcmFormat* format);
ZIRK_API int32_t zirkOggStrRead(ZirkHandle decoder, void* buffer, int32_t count);
ZIRK_API int32_t zirkOggStrGetPos(ZirkHandle decoder);
ZIRK_API int32_t zirkOggStrSetPos(ZirkHandle decoder, int32_t position);
ZIRK_API int32_t zirkOggStrGetSize(ZirkHandle decoder);
ZIRK_API int32_t zirkOggStrGetLen(ZirkHandle decoder);

/* Every entry the player calls, for resolving them by name:
 * ZIRK_ENTRIES(X) expands X(name) once per entry. */
/* clang-format off */
#define ZIRK_ITEM_ENTRIES_OF(X, family)                                          \
  X(zirk##family##Play) X(zirk##family##Pause) X(zirk##family##IsPlaying)        \
  X(zirk##family##IsPaused) X(zirk##family##IsEnd) X(zirk##family##GetLen)       \
  X(zirk##family##GetPosition) X(zirk##family##SetPosition)                      \
  X(zirk##family##GetVol) X(zirk##family##SetVol)                                \
  X(zirk##family##GetPan) X(zirk##family##SetPan)                                \
  X(zirk##family##GetAutoRepeat) X(zirk##family##SetAutoRepeat)
#define ZIRK_ENTRIES(X)                                                           \
  X(zirkVersion) X(zirkInit) X(zirkFinal)                                         \
  X(zirkOggmanAdd) X(zirkOggmanDel) X(zirkOggmanRestore)                          \
  X(zirkOggmanSetUseThread) X(zirkOggmanUpdate)                                   \
  X(zirkWmpmanAdd) X(zirkWmpmanDel) X(zirkWmpmanRestore) X(zirkWmpmanProcessEvent) \
  X(zirkVidmanAdd) X(zirkVidmanDel) X(zirkVidmanProcessEvent)                     \
  X(zirkVidmanSuspend) X(zirkVidmanResume)                                        \
  ZIRK_ITEM_ENTRIES_OF(X, Ogg)                                                    \
  ZIRK_ITEM_ENTRIES_OF(X, Wmp)                                                    \
  ZIRK_ITEM_ENTRIES_OF(X, Video)                                                  \
  X(zirkVideoSetRect) X(zirkVideoGetVisible) X(zirkVideoSetVisible)               \
  X(zirkVideoGetSourceWidth) X(zirkVideoGetSourceHeight)                          \
  X(zirkVideoGetDC) X(zirkVideoNeedPaint)                                         \
  X(zirkOggStrmanAdd) X(zirkOggStrmanDel) X(zirkOggStrGetFormat)                  \
  X(zirkOggStrRead) X(zirkOggStrGetPos) X(zirkOggStrSetPos)                       \
  X(zirkOggStrGetSize) X(zirkOggStrGetLen)
/* clang-format on */
#define ZIRK_ENTRY_COUNT 74

#ifdef __cplusplus
}
#endif

#endif
