// The exported C entries: each looks its handle up and hands the call to the
// item; an unknown handle gets the neutral answer.

#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "medialib/library.h"
#include "medialib/zirk.h"

namespace zirk::medialib {
namespace {

enum class Kind { Ogg, Wmp, Video };

template <Kind K>
struct KindTraits {
  using Item = Voice;
};
template <>
struct KindTraits<Kind::Video> {
  using Item = VideoItem;
};

template <Kind K>
HandleTable<typename KindTraits<K>::Item>* TableOf(Library& lib) {
  if constexpr (K == Kind::Ogg) return &lib.oggItems;
  if constexpr (K == Kind::Wmp) return &lib.wmpItems;
  if constexpr (K == Kind::Video) return &lib.videos;
}

template <Kind K>
std::shared_ptr<typename KindTraits<K>::Item> Find(ZirkHandle handle) {
  Library* lib = TheLibrary();
  if (!lib || handle == 0) return nullptr;
  return TableOf<K>(*lib)->Get(handle);
}

ZirkBool Bool(bool value) {
  return value ? -1 : 0;
}

platform::AudioOutput* CurrentOutput() {
  return TheLibrary()->Output();
}

std::shared_ptr<DecoderItem> FindDecoder(ZirkHandle handle) {
  Library* lib = TheLibrary();
  if (!lib || handle == 0) return nullptr;
  return lib->decoders.Get(handle);
}

template <class Item>
ZirkHandle AddTo(HandleTable<Item>& table, std::shared_ptr<Item> item) {
  return item ? table.Add(std::move(item)) : 0;
}

template <class Item>
void Delete(HandleTable<Item>* table, ZirkHandle handle) {
  if (!table || handle == 0) return;
  if (auto item = table->Remove(handle)) item->Detach();
}

}  // namespace
}  // namespace zirk::medialib

using namespace zirk::medialib;

extern "C" {

ZIRK_API int32_t zirkVersion(void) {
  return ZIRK_VERSION;
}

ZIRK_API ZirkBool zirkInit(const void*, const void*, void*, void* const* sharedDirectSound,
                           ZirkStreamGetSizeProc getSize, ZirkStreamReadProc read,
                           ZirkStreamGetPositionProc getPosition, ZirkStreamSeekProc seek,
                           ZirkSaveFpuProc, ZirkRestoreFpuProc, ZirkBool) {
  // The decoders change no floating-point state the player relies on, so the
  // two guards are never needed.
  SetStreamCallbacks({getSize, read, getPosition, seek});
  // A damaged movie is the player's business to report, not FFmpeg's on stderr.
  av_log_set_level(AV_LOG_QUIET);
  CreateLibrary(sharedDirectSound);
  return Bool(true);
}

ZIRK_API void zirkFinal(void) {
  DestroyLibrary();
  SetStreamCallbacks({});
}

ZIRK_API ZirkHandle zirkOggmanAdd(void* stream, ZirkBool isOgg) {
  Library* lib = TheLibrary();
  if (!lib || !stream) return 0;
  auto source = OpenSound(std::make_unique<CallbackSource>(std::make_shared<SharedStream>(stream)),
                          isOgg != 0);
  if (!source) return 0;
  return AddTo(lib->oggItems, std::make_shared<Voice>(ToOutputRate(std::move(source))));
}

ZIRK_API void zirkOggmanDel(ZirkHandle handle) {
  Library* lib = TheLibrary();
  Delete(lib ? &lib->oggItems : nullptr, handle);
}

ZIRK_API void zirkOggmanRestore(void) {
  if (Library* lib = TheLibrary())
    for (auto& voice : lib->oggItems.All()) voice->Reattach(lib->Output());
}

ZIRK_API void zirkOggmanSetUseThread(ZirkBool useThread) {
  if (Library* lib = TheLibrary()) lib->SetUseThread(useThread != 0);
}

ZIRK_API void zirkOggmanUpdate(void) {
  if (Library* lib = TheLibrary()) lib->Update();
}

ZIRK_API ZirkHandle zirkWmpmanAdd(const void* memory, int32_t size) {
  Library* lib = TheLibrary();
  if (!lib || !memory || size <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(memory);
  auto copy = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + size);
  auto source = FfmpegAudioSource::Open(std::make_unique<MemorySource>(std::move(copy)));
  if (!source) return 0;
  return AddTo(lib->wmpItems, std::make_shared<Voice>(ToOutputRate(std::move(source))));
}

ZIRK_API void zirkWmpmanDel(ZirkHandle handle) {
  Library* lib = TheLibrary();
  Delete(lib ? &lib->wmpItems : nullptr, handle);
}

ZIRK_API void zirkWmpmanRestore(void) {
  if (Library* lib = TheLibrary()) {
    for (auto& voice : lib->wmpItems.All()) voice->Reattach(lib->Output());
    for (auto& video : lib->videos.All()) video->Reattach(lib->Output());
  }
}

// Window messages mean nothing here: the library owns no window.
ZIRK_API void zirkWmpmanProcessEvent(const ZirkMsgRecord*) {}

ZIRK_API ZirkHandle zirkVidmanAdd(const char*, void* stream, ZirkBool) {
  Library* lib = TheLibrary();
  if (!lib || !stream) return 0;
  std::shared_ptr<VideoItem> item = VideoItem::Open(std::make_shared<SharedStream>(stream));
  return AddTo(lib->videos, std::move(item));
}

ZIRK_API void zirkVidmanDel(ZirkHandle handle) {
  Library* lib = TheLibrary();
  Delete(lib ? &lib->videos : nullptr, handle);
}

ZIRK_API void zirkVidmanProcessEvent(const ZirkMsgRecord*) {}

ZIRK_API void zirkVidmanSuspend(void) {
  if (Library* lib = TheLibrary()) lib->Suspend();
}

ZIRK_API void zirkVidmanResume(void) {
  if (Library* lib = TheLibrary()) lib->Resume();
}

#define ZIRK_DEFINE_ITEM_ENTRIES(family, kind)                           \
  ZIRK_API void zirk##family##Play(ZirkHandle h) {                       \
    if (auto item = Find<kind>(h)) item->Play(CurrentOutput());          \
  }                                                                      \
  ZIRK_API void zirk##family##Pause(ZirkHandle h) {                      \
    if (auto item = Find<kind>(h)) item->Pause();                        \
  }                                                                      \
  ZIRK_API ZirkBool zirk##family##IsPlaying(ZirkHandle h) {              \
    auto item = Find<kind>(h);                                           \
    return Bool(item && item->IsPlaying());                              \
  }                                                                      \
  ZIRK_API ZirkBool zirk##family##IsPaused(ZirkHandle h) {               \
    auto item = Find<kind>(h);                                           \
    return Bool(item && item->IsPaused());                               \
  }                                                                      \
  ZIRK_API ZirkBool zirk##family##IsEnd(ZirkHandle h) {                  \
    auto item = Find<kind>(h);                                           \
    return Bool(!item || item->IsEnd());                                 \
  }                                                                      \
  ZIRK_API int32_t zirk##family##GetLen(ZirkHandle h) {                  \
    auto item = Find<kind>(h);                                           \
    return item ? item->LengthMs() : 0;                                  \
  }                                                                      \
  ZIRK_API int32_t zirk##family##GetPosition(ZirkHandle h) {             \
    auto item = Find<kind>(h);                                           \
    return item ? item->PositionMs() : 0;                                \
  }                                                                      \
  ZIRK_API void zirk##family##SetPosition(ZirkHandle h, int32_t ms) {    \
    if (auto item = Find<kind>(h)) item->SetPositionMs(ms < 0 ? 0 : ms); \
  }                                                                      \
  ZIRK_API int32_t zirk##family##GetVol(ZirkHandle h) {                  \
    auto item = Find<kind>(h);                                           \
    return item ? item->Level() : 0;                                     \
  }                                                                      \
  ZIRK_API void zirk##family##SetVol(ZirkHandle h, int32_t level) {      \
    if (auto item = Find<kind>(h)) item->SetLevel(level);                \
  }                                                                      \
  ZIRK_API int32_t zirk##family##GetPan(ZirkHandle h) {                  \
    auto item = Find<kind>(h);                                           \
    return item ? item->Pan() : 0;                                       \
  }                                                                      \
  ZIRK_API void zirk##family##SetPan(ZirkHandle h, int32_t pan) {        \
    if (auto item = Find<kind>(h)) item->SetPan(pan);                    \
  }                                                                      \
  ZIRK_API ZirkBool zirk##family##GetAutoRepeat(ZirkHandle h) {          \
    auto item = Find<kind>(h);                                           \
    return Bool(item && item->Loop());                                   \
  }                                                                      \
  ZIRK_API void zirk##family##SetAutoRepeat(ZirkHandle h, ZirkBool on) { \
    if (auto item = Find<kind>(h)) item->SetLoop(on != 0);               \
  }

ZIRK_DEFINE_ITEM_ENTRIES(Ogg, Kind::Ogg)
ZIRK_DEFINE_ITEM_ENTRIES(Wmp, Kind::Wmp)
ZIRK_DEFINE_ITEM_ENTRIES(Video, Kind::Video)

ZIRK_API void zirkVideoSetRect(ZirkHandle h, const ZirkRect* source, const ZirkRect* dest) {
  if (!source || !dest) return;
  if (auto item = Find<Kind::Video>(h)) item->SetRect(*source, *dest);
}

ZIRK_API ZirkBool zirkVideoGetVisible(ZirkHandle h) {
  auto item = Find<Kind::Video>(h);
  return Bool(item && item->Visible());
}

ZIRK_API void zirkVideoSetVisible(ZirkHandle h, ZirkBool visible) {
  if (auto item = Find<Kind::Video>(h)) item->SetVisible(visible != 0);
}

ZIRK_API int32_t zirkVideoGetSourceWidth(ZirkHandle h) {
  auto item = Find<Kind::Video>(h);
  return item ? item->Width() : 0;
}

ZIRK_API int32_t zirkVideoGetSourceHeight(ZirkHandle h) {
  auto item = Find<Kind::Video>(h);
  return item ? item->Height() : 0;
}

ZIRK_API const ZirkVideoFrame* zirkVideoGetDC(ZirkHandle h) {
  auto item = Find<Kind::Video>(h);
  return item ? item->GetFrame() : nullptr;
}

ZIRK_API ZirkBool zirkVideoNeedPaint(ZirkHandle h) {
  auto item = Find<Kind::Video>(h);
  return Bool(item && item->NeedPaint());
}

ZIRK_API ZirkHandle zirkOggStrmanAdd(void* stream, ZirkBool isOgg) {
  Library* lib = TheLibrary();
  if (!lib || !stream) return 0;
  auto source = OpenSound(std::make_unique<CallbackSource>(std::make_shared<SharedStream>(stream)),
                          isOgg != 0);
  if (!source) return 0;
  auto item = std::make_shared<DecoderItem>();
  item->decoder = std::make_unique<PcmDecoder>(std::move(source));
  return lib->decoders.Add(std::move(item));
}

ZIRK_API void zirkOggStrmanDel(ZirkHandle decoder) {
  Library* lib = TheLibrary();
  if (!lib || decoder == 0) return;
  if (auto item = lib->decoders.Remove(decoder)) {
    std::lock_guard lock(item->mutex);  // a read in progress on another thread ends first
    item->decoder.reset();
  }
}

ZIRK_API ZirkBool zirkOggStrGetFormat(ZirkHandle decoder, ZirkPcmFormat* format) {
  auto item = FindDecoder(decoder);
  if (!item || !format) return 0;
  std::lock_guard lock(item->mutex);
  if (!item->decoder) return 0;
  *format = item->decoder->Format();
  return Bool(true);
}

ZIRK_API int32_t zirkOggStrRead(ZirkHandle decoder, void* buffer, int32_t count) {
  auto item = FindDecoder(decoder);
  if (!item || !buffer || count <= 0) return 0;
  std::lock_guard lock(item->mutex);
  return item->decoder ? item->decoder->Read(buffer, count) : 0;
}

#define ZIRK_DECODER_GETTER(name, call)               \
  ZIRK_API int32_t name(ZirkHandle decoder) {         \
    auto item = FindDecoder(decoder);                 \
    if (!item) return 0;                              \
    std::lock_guard lock(item->mutex);                \
    return item->decoder ? item->decoder->call() : 0; \
  }
ZIRK_DECODER_GETTER(zirkOggStrGetPos, Position)
ZIRK_DECODER_GETTER(zirkOggStrGetSize, Size)
ZIRK_DECODER_GETTER(zirkOggStrGetLen, LengthMs)

ZIRK_API int32_t zirkOggStrSetPos(ZirkHandle decoder, int32_t position) {
  auto item = FindDecoder(decoder);
  if (!item) return 0;
  std::lock_guard lock(item->mutex);
  return item->decoder ? item->decoder->SetPosition(position) : 0;
}

}  // extern "C"
